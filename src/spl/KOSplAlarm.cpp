#include "spl/KOSplAlarm.h"

#include <algorithm>
#include <cmath>
#include <limits>

std::uint32_t splInstrumentCycles(double sampleRate, std::uint32_t fftSize, double seconds) {
    const double rate = sampleRate > 0.0 && std::isfinite(sampleRate) ? sampleRate : 44100.0;
    const double hop = std::max<std::uint32_t>(fftSize / 8, 1);
    const double cycles = std::trunc(rate / hop * seconds);
    if (!(cycles > 0.0))
        return 0;
    return std::uint32_t(std::min(cycles, double(std::numeric_limits<std::uint32_t>::max())));
}
