#pragma once

#include "platform/audio/AudioTypes.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace koru::platform {

// An audio unit: properties addressed by (id, scope, element) as byte blobs, parameters,
// listeners, initialise/start/stop and render. Every operation answers a status; the ZO
// wrappers turn failures into exceptions. Property listeners run synchronously on the thread
// that made the change, after the unit has released its own locks, so a listener may call back
// into the unit.
class AudioUnitInstance {
public:
    using PropertyListener =
        std::function<void(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element)>;
    using ParameterListener = std::function<void(AudioUnitParameterID id, AudioUnitScope scope,
                                                 AudioUnitElement element, float value)>;
    using ListenerToken = std::uint64_t;

    virtual ~AudioUnitInstance() = default;
    AudioUnitInstance() = default;
    AudioUnitInstance(const AudioUnitInstance&) = delete;
    AudioUnitInstance& operator=(const AudioUnitInstance&) = delete;

    virtual OSStatus getPropertyInfo(AudioUnitPropertyID id, AudioUnitScope scope,
                                     AudioUnitElement element, std::uint32_t* size, bool* writable);
    // `size` holds the capacity of `data` going in and the bytes written coming out.
    virtual OSStatus getProperty(AudioUnitPropertyID id, AudioUnitScope scope,
                                 AudioUnitElement element, void* data, std::uint32_t* size);
    virtual OSStatus setProperty(AudioUnitPropertyID id, AudioUnitScope scope,
                                 AudioUnitElement element, const void* data, std::uint32_t size);
    virtual OSStatus getParameter(AudioUnitParameterID id, AudioUnitScope scope,
                                  AudioUnitElement element, float* value);
    virtual OSStatus setParameter(AudioUnitParameterID id, AudioUnitScope scope,
                                  AudioUnitElement element, float value);
    virtual OSStatus initialize() { return noErr; }
    virtual OSStatus uninitialize() { return noErr; }
    virtual OSStatus start() { return kAudioUnitErr_InvalidProperty; }
    virtual OSStatus stop() { return kAudioUnitErr_InvalidProperty; }
    virtual OSStatus reset(AudioUnitScope, AudioUnitElement) { return noErr; }
    virtual OSStatus render(AudioUnitRenderActionFlags* flags, const AudioTimeStamp* time,
                            std::uint32_t bus, std::uint32_t frames, AudioBufferList* data);
    // Why the unit's device last failed (to open, to start, while running), in words a user can
    // read; empty when the unit cannot tell. Main thread.
    virtual std::string failureReason() const { return {}; }

    ListenerToken addPropertyListener(AudioUnitPropertyID id, PropertyListener listener);
    ListenerToken addParameterListener(AudioUnitParameterID id, ParameterListener listener);
    void removeListener(ListenerToken token);

protected:
    void notifyPropertyChanged(AudioUnitPropertyID id, AudioUnitScope scope,
                               AudioUnitElement element);
    void notifyParameterChanged(AudioUnitParameterID id, AudioUnitScope scope,
                                AudioUnitElement element, float value);

    // Copies a plain value out through the (data, size) pair of getProperty.
    template <typename T> static OSStatus answer(const T& value, void* data, std::uint32_t* size) {
        if (!size)
            return kAudioUnitErr_InvalidPropertyValue;
        if (!data) {
            *size = sizeof(T);
            return noErr;
        }
        if (*size < sizeof(T))
            return kAudioUnitErr_InvalidPropertyValue;
        *static_cast<T*>(data) = value;
        *size = sizeof(T);
        return noErr;
    }
    // Reads a plain value from the (data, size) pair of setProperty.
    template <typename T> static bool read(const void* data, std::uint32_t size, T& value) {
        if (!data || size != sizeof(T))
            return false;
        value = *static_cast<const T*>(data);
        return true;
    }

private:
    struct Listener {
        ListenerToken token;
        std::uint32_t id;
        PropertyListener property;
        ParameterListener parameter;
    };
    std::vector<Listener> listenersFor(std::uint32_t id, bool property);

    std::mutex m_listenerMutex; // guards m_listeners only; never held while calling out
    std::vector<Listener> m_listeners;
    ListenerToken m_nextToken = 1;
};

} // namespace koru::platform
