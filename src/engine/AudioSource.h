#pragma once

#include <cstdint>

namespace koru {

// What a generator plays: two non-interleaved float channels rendered on demand.
class AudioSource {
public:
    virtual ~AudioSource() = default;
    // Main thread, while the generator's output is stopped: the rate to render at from now on.
    virtual void setSampleRate(double rate) = 0;
    // Output thread: fill `frames` frames of both channels. No allocation, locks or logging.
    virtual void render(float* const* channels, std::uint32_t frames) noexcept = 0;
};

} // namespace koru
