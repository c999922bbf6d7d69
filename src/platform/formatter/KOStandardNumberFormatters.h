#pragma once

#include "platform/formatter/NumberFormatter.h"

// The number formatter every table and readout uses unless it brings its own: current locale,
// exactly one fraction digit, at least one integer digit, no grouping, decimal separator always
// shown. Each call returns a new formatter the caller may change.
class KOStandardNumberFormatters {
public:
    static koru::platform::NumberFormatter standardFormatter();
    static koru::platform::NumberFormatter standardFormatterForDbLevels();
    static koru::platform::NumberFormatter standardFormatterForFrequencies();
};
