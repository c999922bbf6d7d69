#pragma once

#include "platform/audio/AudioTypes.h"
#include "platform/audio/AudioUnitInstance.h"

#include <cstdint>
#include <memory>
#include <vector>

// Any audio unit. Every failed call prints "\n(-98) err: %d - %s\n" (status, call) and throws
// CAException with the status.
class ZOAudioUnit {
public:
    using ParameterListener = koru::platform::AudioUnitInstance::ParameterListener;

    ZOAudioUnit() = default;
    // Wraps a unit someone else owns (a graph's node, say).
    explicit ZOAudioUnit(AudioUnit instance) : m_unit(instance) {}
    // Opens the first matching component; nothing is opened when none matches.
    explicit ZOAudioUnit(const AudioComponentDescription& description);
    ZOAudioUnit(std::uint32_t type, std::uint32_t subtype, std::uint32_t manufacturer);
    virtual ~ZOAudioUnit();
    ZOAudioUnit(const ZOAudioUnit&) = delete;
    ZOAudioUnit& operator=(const ZOAudioUnit&) = delete;

    AudioUnit Instance() const { return m_unit; }

    // Called by the listeners AddPropertyListener installs, on the thread that made the change.
    virtual void PropertyChanged(AudioUnitPropertyID id, AudioUnitScope scope,
                                 AudioUnitElement element);

    void SetProperty(AudioUnitPropertyID id, const void* data, std::uint32_t size,
                     AudioUnitElement element, AudioUnitScope scope);
    void GetProperty(AudioUnitPropertyID id, void* data, std::uint32_t* size,
                     AudioUnitElement element, AudioUnitScope scope) const;
    void GetPropertyInfo(AudioUnitPropertyID id, AudioUnitElement element, AudioUnitScope scope,
                         std::uint32_t* size, bool* writable) const;
    AudioStreamBasicDescription GetStreamFormat(AudioUnitScope scope,
                                                AudioUnitElement element) const;
    void SetStreamFormat(AudioUnitScope scope, AudioUnitElement element,
                         const AudioStreamBasicDescription& format);
    void SetParameter(AudioUnitParameterID id, AudioUnitScope scope, AudioUnitElement element,
                      float value);
    float GetParameter(AudioUnitParameterID id, AudioUnitScope scope,
                       AudioUnitElement element) const;
    void Initialize();
    void Uninitialize();
    void AddPropertyListener(AudioUnitPropertyID id);
    // Calls `listener` whenever the parameter (global scope, element 0) changes.
    void AddListenerParameter(AudioUnitParameterID parameter, ParameterListener listener);
    void Reset(AudioUnitScope scope, AudioUnitElement element);
    // The caller decides what a failed render means; nothing is printed or thrown.
    OSStatus Render(AudioUnitRenderActionFlags* flags, const AudioTimeStamp* time,
                    std::uint32_t bus, std::uint32_t frames, AudioBufferList* data);

protected:
    // Prints and throws for a non-zero status; `call` may be null.
    static void Check(OSStatus status, const char* call);
    AudioUnit RequireInstance() const; // throws CAException when nothing was opened

private:
    std::unique_ptr<koru::platform::AudioUnitInstance> m_owned;
    AudioUnit m_unit = nullptr;
    std::vector<koru::platform::AudioUnitInstance::ListenerToken> m_listeners;
};
