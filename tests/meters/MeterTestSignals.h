#pragma once

#include "platform/audio/AudioTypes.h"

#include <cstdint>
#include <vector>

// Two or more planar channels handed to an instrument as one buffer list.
struct PlanarBlock {
    explicit PlanarBlock(std::vector<std::vector<float>> channels) : samples(std::move(channels)) {
        for (auto& channel : samples) {
            buffers.push_back(
                AudioBuffer{1, std::uint32_t(channel.size() * sizeof(float)), channel.data()});
        }
        list = AudioBufferList{std::uint32_t(buffers.size()), buffers.data()};
    }
    std::uint32_t frames() const { return samples.empty() ? 0 : std::uint32_t(samples[0].size()); }

    std::vector<std::vector<float>> samples;
    std::vector<AudioBuffer> buffers;
    AudioBufferList list;
};
