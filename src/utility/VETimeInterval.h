#pragma once

#include <QString>

#include <cstdint>

// A signed duration in whole seconds shown as [-]HH:MM:SS. The display rounds the magnitude to
// the nearest second (halves away from zero) and keeps the sign of the value; hours do not wrap.
// Durations beyond 2^31 - 1 seconds (68 years) are shown as that many.

struct VETimeIntervalComponents {
    std::int32_t sign = 1; // -1 or 1
    std::int32_t hours = 0;
    std::int32_t minutes = 0;
    std::int32_t seconds = 0;

    bool operator==(const VETimeIntervalComponents&) const = default;
};

// "%@%.2d:%.2d:%.2d" with the sign "-" or ""; "--:--:--" for a value that is no number.
QString VEStringFromTimeInterval(double seconds);
// sign -1 for a value below 0; a value that is no number gives zeros.
void VETimeIntervalGetComponents(double seconds, VETimeIntervalComponents& components);
// (hours x 3600 + minutes x 60 + seconds) x (sign below 1 ? -1 : 1). Components outside their
// usual range are simply summed; the sum is limited to what 32 bits hold.
double VETimeIntervalFromComponents(const VETimeIntervalComponents& components);
