#include "platform/formatter/KOStandardNumberFormatters.h"

koru::platform::NumberFormatter KOStandardNumberFormatters::standardFormatter() {
    koru::platform::NumberFormatter formatter{QLocale()};
    formatter.setAllowsFloats(true);
    formatter.setMinimumFractionDigits(1);
    formatter.setMaximumFractionDigits(1);
    formatter.setMinimumIntegerDigits(1);
    formatter.setUsesGroupingSeparator(false);
    formatter.setAlwaysShowsDecimalSeparator(true);
    return formatter;
}

koru::platform::NumberFormatter KOStandardNumberFormatters::standardFormatterForDbLevels() {
    return standardFormatter();
}

koru::platform::NumberFormatter KOStandardNumberFormatters::standardFormatterForFrequencies() {
    return standardFormatter();
}
