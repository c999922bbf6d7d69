#include "platform/audio/AudioUnitInstance.h"

namespace koru::platform {

OSStatus AudioUnitInstance::getPropertyInfo(AudioUnitPropertyID, AudioUnitScope, AudioUnitElement,
                                            std::uint32_t*, bool*) {
    return kAudioUnitErr_InvalidProperty;
}

OSStatus AudioUnitInstance::getProperty(AudioUnitPropertyID, AudioUnitScope, AudioUnitElement,
                                        void*, std::uint32_t*) {
    return kAudioUnitErr_InvalidProperty;
}

OSStatus AudioUnitInstance::setProperty(AudioUnitPropertyID, AudioUnitScope, AudioUnitElement,
                                        const void*, std::uint32_t) {
    return kAudioUnitErr_InvalidProperty;
}

OSStatus AudioUnitInstance::getParameter(AudioUnitParameterID, AudioUnitScope, AudioUnitElement,
                                         float*) {
    return kAudioUnitErr_InvalidParameter;
}

OSStatus AudioUnitInstance::setParameter(AudioUnitParameterID, AudioUnitScope, AudioUnitElement,
                                         float) {
    return kAudioUnitErr_InvalidParameter;
}

OSStatus AudioUnitInstance::render(AudioUnitRenderActionFlags*, const AudioTimeStamp*,
                                   std::uint32_t, std::uint32_t, AudioBufferList*) {
    return kAudioUnitErr_CannotDoInCurrentContext;
}

AudioUnitInstance::ListenerToken AudioUnitInstance::addPropertyListener(AudioUnitPropertyID id,
                                                                        PropertyListener listener) {
    std::lock_guard lock(m_listenerMutex);
    m_listeners.push_back({m_nextToken, id, std::move(listener), {}});
    return m_nextToken++;
}

AudioUnitInstance::ListenerToken
AudioUnitInstance::addParameterListener(AudioUnitParameterID id, ParameterListener listener) {
    std::lock_guard lock(m_listenerMutex);
    m_listeners.push_back({m_nextToken, id, {}, std::move(listener)});
    return m_nextToken++;
}

void AudioUnitInstance::removeListener(ListenerToken token) {
    std::lock_guard lock(m_listenerMutex);
    std::erase_if(m_listeners, [token](const Listener& l) { return l.token == token; });
}

std::vector<AudioUnitInstance::Listener> AudioUnitInstance::listenersFor(std::uint32_t id,
                                                                         bool property) {
    std::lock_guard lock(m_listenerMutex);
    std::vector<Listener> matching;
    for (const Listener& l : m_listeners) {
        if (l.id == id && (property ? bool(l.property) : bool(l.parameter)))
            matching.push_back(l);
    }
    return matching;
}

void AudioUnitInstance::notifyPropertyChanged(AudioUnitPropertyID id, AudioUnitScope scope,
                                              AudioUnitElement element) {
    for (const Listener& l : listenersFor(id, true))
        l.property(id, scope, element);
}

void AudioUnitInstance::notifyParameterChanged(AudioUnitParameterID id, AudioUnitScope scope,
                                               AudioUnitElement element, float value) {
    for (const Listener& l : listenersFor(id, false))
        l.parameter(id, scope, element, value);
}

} // namespace koru::platform
