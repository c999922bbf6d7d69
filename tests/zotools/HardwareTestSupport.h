#pragma once

#include "platform/audio/DeviceRegistry.h"
#include "zotools/ZOAudioHardwareSystem.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace koru::test {

inline platform::DeviceRegistry::ProbedDevice card(const std::string& name, std::uint32_t in,
                                                   std::uint32_t out) {
    platform::DeviceRegistry::ProbedDevice p;
    p.name = name;
    p.inputChannels = in;
    p.outputChannels = out;
    p.sampleRates = {44100, 48000};
    p.preferredSampleRate = 48000;
    return p;
}

// A sound system the test plugs devices into, seen through the toolkit's classes.
class Hardware : public ::testing::Test {
protected:
    Hardware() {
        plugged = {card("Line", 2, 2), card("Mic", 1, 0), card("Speakers", 0, 2)};
        registry.refresh();
    }
    void replug(std::vector<platform::DeviceRegistry::ProbedDevice> devices) {
        plugged = std::move(devices);
        registry.refresh();
    }
    AudioObjectID id(const char* uid) const { return system.deviceForUID(uid); }

    std::vector<platform::DeviceRegistry::ProbedDevice> plugged;
    platform::DeviceRegistry registry{platform::AudioBackend::Pulse,
                                      [this] { return std::optional(plugged); }};
    ZOAudioHardwareSystem system{registry};
};

} // namespace koru::test
