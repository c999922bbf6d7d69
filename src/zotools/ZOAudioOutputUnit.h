#pragma once

#include "zotools/ZOAudioUnit.h"

#include <mutex>

// The hardware unit ('auou'/'ahal'/'appl') with input and output enabled as asked, plus the
// engine mutex that guards the input engine's client and buffer lists.
class ZOAudioOutputUnit : public ZOAudioUnit {
public:
    ZOAudioOutputUnit(bool enableInput, bool enableOutput);

    virtual void Start();
    virtual void Stop();

    void SetCurrentDevice(AudioDeviceID id);
    AudioDeviceID GetCurrentDevice() const;
    double GetNominalSampleRate() const;

    std::mutex& EngineMutex() { return m_engineMutex; }

protected:
    std::mutex m_engineMutex;
};
