#include "zotools/ZOAudioOutputUnit.h"

#include "zotools/CAException.h"

ZOAudioOutputUnit::ZOAudioOutputUnit(bool enableInput, bool enableOutput)
    : ZOAudioUnit(kAudioUnitType_Output, kAudioUnitSubType_HALOutput,
                  kAudioUnitManufacturer_Apple) {
    const std::uint32_t input = enableInput ? 1 : 0;
    const std::uint32_t output = enableOutput ? 1 : 0;
    SetProperty(kAudioOutputUnitProperty_EnableIO, &input, sizeof input, 1, kAudioUnitScope_Input);
    SetProperty(kAudioOutputUnitProperty_EnableIO, &output, sizeof output, 0,
                kAudioUnitScope_Output);
}

void ZOAudioOutputUnit::Start() {
    Check(RequireInstance()->start(), "AudioOutputUnitStart");
}

void ZOAudioOutputUnit::Stop() {
    Check(RequireInstance()->stop(), "AudioOutputUnitStop");
}

void ZOAudioOutputUnit::SetCurrentDevice(AudioDeviceID id) {
    SetProperty(kAudioOutputUnitProperty_CurrentDevice, &id, sizeof id, 0, kAudioUnitScope_Global);
}

AudioDeviceID ZOAudioOutputUnit::GetCurrentDevice() const {
    AudioDeviceID id = 0;
    std::uint32_t size = sizeof id;
    try {
        GetProperty(kAudioOutputUnitProperty_CurrentDevice, &id, &size, 0, kAudioUnitScope_Global);
    } catch (const CAException&) {
        size = sizeof id;
        GetProperty(kAudioOutputUnitProperty_CurrentDevice, &id, &size, 0, kAudioUnitScope_Input);
    }
    return id;
}

double ZOAudioOutputUnit::GetNominalSampleRate() const {
    double rate = 0.0;
    std::uint32_t size = sizeof rate;
    GetProperty(kAudioDevicePropertyNominalSampleRate, &rate, &size, 0, kAudioUnitScope_Global);
    return rate;
}
