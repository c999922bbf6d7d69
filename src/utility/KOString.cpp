#include "utility/KOString.h"

#include "utility/VEString.h"

#include "platform/fourcc/FourCC.h"

#include <fmt/format.h>

#include <array>
#include <cmath>

using koru::platform::fourCC;

QString KOString::stringWithFrequency(float hertz) {
    return VEString::stringFromFrequency(hertz);
}

QString KOString::stringWithSplnstrumentSpeed(std::uint32_t speed) {
    switch (speed) {
    case fourCC("fast"):
        return QStringLiteral("Fast");
    case fourCC("slow"):
        return QStringLiteral("Slow");
    default:
        return QStringLiteral(" -- ");
    }
}

QString KOString::stringWithWeightingType(std::uint32_t weighting) {
    switch (weighting) {
    case fourCC("a_wt"):
        return QStringLiteral("A-Weighted");
    case fourCC("b_wt"):
        return QStringLiteral("B-Weighted");
    case fourCC("c_wt"):
        return QStringLiteral("C-Weighted");
    default:
        return QStringLiteral("-");
    }
}

QString KOString::shortStringWithWeightingType(std::uint32_t weighting) {
    switch (weighting) {
    case fourCC("a_wt"):
        return QStringLiteral("A");
    case fourCC("b_wt"):
        return QStringLiteral("B");
    case fourCC("c_wt"):
        return QStringLiteral("C");
    default:
        return QStringLiteral("-");
    }
}

QString KOString::stringForSplInfo(std::uint32_t weighting, std::uint32_t speed) {
    return stringWithWeightingType(weighting) + QStringLiteral(", ") +
           stringWithSplnstrumentSpeed(speed);
}

QString KOString::stringForSplDisplay(std::uint32_t value) {
    switch (value) {
    case fourCC("LEQ "):
        return QStringLiteral("LEQ");
    case fourCC("avg "):
        return QStringLiteral("AVG");
    case fourCC("inst"):
        return QStringLiteral("SPL");
    case fourCC("peak"):
        return QStringLiteral("Peak");
    default:
        return {};
    }
}

QString KOString::stringFromSpLevel(float level) {
    if (!(level >= 30.0f && level <= 130.0f))
        return QStringLiteral("--.- dB");
    return QString::fromStdString(fmt::format("{:.1f} dB", double(level)));
}

QString KOString::stringFromSpLevel(const QString& prefix, float level) {
    return prefix + QLatin1Char(' ') + stringFromSpLevel(level);
}

std::optional<QString> KOString::stringFromNetSendStatus(std::uint32_t status) {
    static const std::array<const char*, 6> labels = {"Not Connected", "Connected",  "Overflow",
                                                      "Underflow",     "Connecting", "Listening"};
    if (status >= labels.size())
        return std::nullopt;
    return QString::fromLatin1(labels[status]);
}

QString KOString::uniqueStringWithPrefix(const QString& prefix,
                                         const std::function<bool(const QString&)>& validate) {
    QString candidate;
    for (unsigned long n = 1; n <= 99; ++n) {
        candidate = prefix + QLatin1Char(' ') + QString::number(n);
        if (validate(candidate))
            return candidate;
    }
    return candidate;
}
