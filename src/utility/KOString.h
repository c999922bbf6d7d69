#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

// The labels the instruments show for their enumerations and readings. The codes are the
// four-character codes of the SPL meter ('a_wt', 'fast', 'LEQ ' ...).
class KOString {
public:
    static QString stringWithFrequency(float hertz);
    static QString stringWithSplnstrumentSpeed(std::uint32_t speed);
    static QString stringWithWeightingType(std::uint32_t weighting);
    static QString shortStringWithWeightingType(std::uint32_t weighting);
    // "A-Weighted, Slow"
    static QString stringForSplInfo(std::uint32_t weighting, std::uint32_t speed);
    static QString stringForSplDisplay(std::uint32_t value);
    // "94.0 dB" inside 30..130 dB, "--.- dB" outside and for NaN.
    static QString stringFromSpLevel(float level);
    static QString stringFromSpLevel(const QString& prefix, float level);
    // nullopt for a status the network units do not have.
    static std::optional<QString> stringFromNetSendStatus(std::uint32_t status);
    // The first of "<prefix> 1" ... "<prefix> 99" that `validate` accepts. When none is
    // accepted the answer is "<prefix> 99" all the same: the caller gets a usable name, even
    // if it repeats one.
    static QString uniqueStringWithPrefix(const QString& prefix,
                                          const std::function<bool(const QString&)>& validate);
};
