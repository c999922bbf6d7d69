#include "platform/audio/VirtualSignal.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace koru::platform {

namespace {

std::uint64_t splitMix64(std::uint64_t x) {
    x += 0x9e3779b97f4a7c15ull;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
    return x ^ (x >> 31);
}

} // namespace

float VirtualSignal::sampleAt(std::uint64_t frame, double sampleRate) const {
    if (frame < delay)
        return 0.0f;
    frame -= delay;
    switch (kind) {
    case Kind::Silence:
        return 0.0f;
    case Kind::Sine:
    case Kind::NegativeHalfWave: {
        // The cycle position is reduced before sin() so long runs keep full precision.
        const double cycles = frequency * double(frame) / sampleRate;
        const double phase = cycles - std::floor(cycles);
        const double value = double(amplitude) * std::sin(2.0 * std::numbers::pi * phase);
        return float(kind == Kind::Sine ? value : std::min(0.0, value));
    }
    case Kind::Noise: {
        const std::uint64_t bits = splitMix64((std::uint64_t(seed) << 40) ^ frame) >> 40;
        return amplitude * (float(bits) / float(1u << 23) - 1.0f);
    }
    case Kind::Constant:
        return amplitude;
    case Kind::Ramp:
        return float(frame & 0xFFFFFu) / float(1u << 20);
    }
    return 0.0f;
}

void VirtualSignal::fill(float* out, std::uint64_t firstFrame, std::uint32_t frames,
                         double sampleRate) const {
    if (kind == Kind::Silence || (kind == Kind::Constant && delay == 0)) {
        std::fill_n(out, frames, kind == Kind::Silence ? 0.0f : amplitude);
        return;
    }
    for (std::uint32_t i = 0; i < frames; ++i)
        out[i] = sampleAt(firstFrame + i, sampleRate);
}

} // namespace koru::platform
