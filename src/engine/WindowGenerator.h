#pragma once

#include "platform/fourcc/FourCC.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <numbers>

namespace koru::platform {

// The five analysis windows, periodic (divided by the full length M, except 'sine', which spans
// M - 1). With half set, the first `length` values of a window twice as long are written: the
// rising half. Returns false, writing nothing, for any other code.
template <typename T>
bool generateWindow(std::uint32_t type, T* out, std::size_t length, bool half) {
    const double m = half ? 2.0 * double(length) : double(length);
    const double step = 2.0 * std::numbers::pi / m;
    switch (type) {
    case fourCC("hann"):
        for (std::size_t n = 0; n < length; ++n)
            out[n] = T(0.8165 * (1.0 - std::cos(step * double(n))));
        return true;
    case fourCC("hamm"):
        for (std::size_t n = 0; n < length; ++n)
            out[n] = T(0.54 - 0.46 * std::cos(step * double(n)));
        return true;
    case fourCC("blkm"):
        for (std::size_t n = 0; n < length; ++n)
            out[n] = T(0.42 - 0.5 * std::cos(step * double(n)) +
                       0.08 * std::cos(2.0 * step * double(n)));
        return true;
    case fourCC("sine"): {
        // A one-point window would divide by zero: its only value is sin(0).
        const double span = m > 1.0 ? std::numbers::pi / (m - 1.0) : 0.0;
        for (std::size_t n = 0; n < length; ++n)
            out[n] = T(std::sin(double(n) * span));
        return true;
    }
    case fourCC("rect"):
        for (std::size_t n = 0; n < length; ++n)
            out[n] = T(1);
        return true;
    default:
        return false;
    }
}

} // namespace koru::platform
