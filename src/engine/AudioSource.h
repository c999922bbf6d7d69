#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace koru {

// One of a source's parameters, as its window's generic view and the saved parameter dictionary
// list it.
struct AudioSourceParameter {
    std::uint32_t id = 0;
    std::string name;
    float minimum = 0.0f;
    float maximum = 1.0f;
};

// What a generator plays: two non-interleaved float channels rendered on demand.
class AudioSource {
public:
    virtual ~AudioSource() = default;
    // Main thread, while the generator's output is stopped: the rate to render at from now on.
    virtual void setSampleRate(double rate) = 0;
    // Output thread: fill `frames` frames of both channels. No allocation, locks or logging.
    virtual void render(float* const* channels, std::uint32_t frames) noexcept = 0;

    // Main thread. A source without parameters lists none; unknown ids read 0 and set nothing.
    virtual std::vector<AudioSourceParameter> parameterList() const { return {}; }
    virtual float parameter(std::uint32_t /*id*/) const { return 0.0f; }
    virtual void setParameter(std::uint32_t /*id*/, float /*value*/) {}
};

} // namespace koru
