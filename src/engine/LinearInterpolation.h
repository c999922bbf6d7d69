#pragma once

#include <cstddef>

namespace koru::platform {

// count values running linearly from `from` (first) to `to` (last).
template <typename T> void fillLinearRamp(T* out, std::size_t count, T from, T to) {
    if (count == 0)
        return;
    if (count == 1) {
        out[0] = from;
        return;
    }
    const T step = (to - from) / T(count - 1);
    for (std::size_t m = 0; m < count; ++m)
        out[m] = from + T(m) * step;
}

// Reads the piecewise-linear curve through (positions[m], values[m]) at the abscissae
// 0 ... outCount - 1. Positions increase. Before the first position the first value holds,
// after the last position the last value; between, positions[m] < n <= positions[m + 1].
template <typename T>
void interpolateAtIntegers(const T* values, const T* positions, std::size_t count, T* out,
                           std::size_t outCount) {
    if (count == 0)
        return;
    const T first = positions[0];
    const T last = positions[count - 1];
    std::size_t m = 0;
    for (std::size_t n = 0; n < outCount; ++n) {
        const T x = T(n);
        if (x <= first) {
            out[n] = values[0];
            continue;
        }
        if (x > last) {
            out[n] = values[count - 1];
            continue;
        }
        while (m + 2 < count && positions[m + 1] < x)
            ++m;
        const T span = positions[m + 1] - positions[m];
        out[n] = values[m] + (values[m + 1] - values[m]) * (x - positions[m]) / span;
    }
}

// Places count values at abscissae running linearly from 0 to `end` and reads the curve back at
// 0 ... outCount - 1: the resampling behind resizing and stretching.
template <typename T>
void resampleOntoIntegers(const T* values, std::size_t count, T end, T* out, std::size_t outCount,
                          T* positionsScratch) {
    fillLinearRamp(positionsScratch, count, T(0), end);
    interpolateAtIntegers(values, positionsScratch, count, out, outCount);
}

} // namespace koru::platform
