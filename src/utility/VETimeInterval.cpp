#include "utility/VETimeInterval.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr std::int64_t kLargest = std::numeric_limits<std::int32_t>::max();

std::int32_t roundedMagnitude(double seconds) {
    return std::int32_t(std::min(std::round(std::abs(seconds)), double(kLargest)));
}

} // namespace

QString VEStringFromTimeInterval(double seconds) {
    if (std::isnan(seconds))
        return QStringLiteral("--:--:--");
    VETimeIntervalComponents c;
    VETimeIntervalGetComponents(seconds, c);
    return QString::fromStdString(
        fmt::format("{}{:02}:{:02}:{:02}", c.sign < 0 ? "-" : "", c.hours, c.minutes, c.seconds));
}

void VETimeIntervalGetComponents(double seconds, VETimeIntervalComponents& components) {
    components = {};
    if (std::isnan(seconds))
        return;
    components.sign = seconds < 0.0 ? -1 : 1;
    const std::int32_t t = roundedMagnitude(seconds);
    components.hours = t / 3600;
    components.minutes = (t / 60) % 60;
    components.seconds = t % 60;
}

double VETimeIntervalFromComponents(const VETimeIntervalComponents& c) {
    const std::int64_t sum =
        std::int64_t(c.hours) * 3600 + std::int64_t(c.minutes) * 60 + std::int64_t(c.seconds);
    const std::int64_t limited = std::clamp(sum, -kLargest - 1, kLargest);
    return double(c.sign < 1 ? -limited : limited);
}
