#include "engine/KOInstrument.h"

#include "zotools/CAException.h"

#include <algorithm>

void KOInstrument::CheckStatus(OSStatus status) {
    if (status != noErr)
        throw CAException(status);
}

std::uint32_t KOInstrument::ClampChannel(std::uint32_t ch) const {
    const std::uint32_t n = NumberOfChannels();
    return n == 0 ? ch : std::min(ch, n - 1);
}

std::uint32_t KOInstrument::RemapChannel(std::uint32_t ch, std::uint32_t position,
                                         std::uint32_t delta) const {
    const std::uint32_t n = NumberOfChannels();
    if (ch < position)
        return ClampChannel(ch);
    // Signed 32-bit arithmetic: a removal moves the channel down, never below channel 0.
    std::int64_t t = std::int64_t(std::int32_t(ch + delta));
    if (n != 0)
        t = std::min<std::int64_t>(t, std::int64_t(n) - 1);
    return std::uint32_t(std::max<std::int64_t>(t, 0));
}
