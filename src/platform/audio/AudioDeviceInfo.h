#pragma once

#include <QString>

#include <cstdint>
#include <string>
#include <vector>

namespace koru::platform {

// One entry of the device list as the registry last saw it.
struct AudioDeviceInfo {
    enum class Kind { Hardware, VirtualInput, ManualInput, NullOutput };

    std::uint32_t id = 0; // ours: stable for the run, never reused; 0 = none
    QString uid;          // "<api>:<name>", "#2"… for duplicates; stable across runs
    QString name;
    Kind kind = Kind::Hardware;
    std::uint32_t inputChannels = 0;
    std::uint32_t outputChannels = 0;
    std::vector<double> sampleRates; // ascending
    double nominalSampleRate = 0.0;  // the rate streams on this device open at
    bool isDefaultInput = false;
    bool isDefaultOutput = false;
    std::string backendName; // the sound system's own name, resolved again before each open

    bool hasInputs() const { return inputChannels > 0; }
    bool hasOutputs() const { return outputChannels > 0; }
    bool isVirtual() const { return kind != Kind::Hardware; }
};

} // namespace koru::platform
