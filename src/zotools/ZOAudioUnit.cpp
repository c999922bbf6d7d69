#include "zotools/ZOAudioUnit.h"

#include "platform/audio/AudioComponentRegistry.h"
#include "zotools/CAException.h"

#include <fmt/format.h>

using koru::platform::AudioComponentRegistry;

ZOAudioUnit::ZOAudioUnit(const AudioComponentDescription& description)
    : m_owned(AudioComponentRegistry::shared().open(description)), m_unit(m_owned.get()) {}

ZOAudioUnit::ZOAudioUnit(std::uint32_t type, std::uint32_t subtype, std::uint32_t manufacturer)
    : ZOAudioUnit(AudioComponentDescription{type, subtype, manufacturer, 0, 0}) {}

ZOAudioUnit::~ZOAudioUnit() {
    if (!m_unit)
        return;
    for (auto token : m_listeners)
        m_unit->removeListener(token);
}

void ZOAudioUnit::PropertyChanged(AudioUnitPropertyID, AudioUnitScope, AudioUnitElement) {}

void ZOAudioUnit::Check(OSStatus status, const char* call) {
    if (status == noErr)
        return;
    if (call)
        fmt::print("\n(-98) err: {} - {}\n", status, call);
    else
        fmt::print("\n(-98) err: {}\n", status);
    std::fflush(stdout);
    throw CAException(status);
}

AudioUnit ZOAudioUnit::RequireInstance() const {
    if (!m_unit)
        Check(kAudioComponentErr_NotFound, "OpenAComponent");
    return m_unit;
}

void ZOAudioUnit::SetProperty(AudioUnitPropertyID id, const void* data, std::uint32_t size,
                              AudioUnitElement element, AudioUnitScope scope) {
    Check(RequireInstance()->setProperty(id, scope, element, data, size), "AudioUnitSetProperty");
}

void ZOAudioUnit::GetProperty(AudioUnitPropertyID id, void* data, std::uint32_t* size,
                              AudioUnitElement element, AudioUnitScope scope) const {
    Check(RequireInstance()->getProperty(id, scope, element, data, size), "AudioUnitGetProperty");
}

void ZOAudioUnit::GetPropertyInfo(AudioUnitPropertyID id, AudioUnitElement element,
                                  AudioUnitScope scope, std::uint32_t* size, bool* writable) const {
    Check(RequireInstance()->getPropertyInfo(id, scope, element, size, writable),
          "AudioUnitGetPropertyInfo");
}

AudioStreamBasicDescription ZOAudioUnit::GetStreamFormat(AudioUnitScope scope,
                                                         AudioUnitElement element) const {
    AudioStreamBasicDescription format;
    std::uint32_t size = sizeof format;
    GetProperty(kAudioUnitProperty_StreamFormat, &format, &size, element, scope);
    return format;
}

void ZOAudioUnit::SetStreamFormat(AudioUnitScope scope, AudioUnitElement element,
                                  const AudioStreamBasicDescription& format) {
    SetProperty(kAudioUnitProperty_StreamFormat, &format, sizeof format, element, scope);
}

void ZOAudioUnit::SetParameter(AudioUnitParameterID id, AudioUnitScope scope,
                               AudioUnitElement element, float value) {
    Check(RequireInstance()->setParameter(id, scope, element, value), nullptr);
}

float ZOAudioUnit::GetParameter(AudioUnitParameterID id, AudioUnitScope scope,
                                AudioUnitElement element) const {
    float value = 0.0f;
    Check(RequireInstance()->getParameter(id, scope, element, &value), nullptr);
    return value;
}

void ZOAudioUnit::Initialize() {
    Check(RequireInstance()->initialize(), nullptr);
}

void ZOAudioUnit::Uninitialize() {
    Check(RequireInstance()->uninitialize(), nullptr);
}

void ZOAudioUnit::AddPropertyListener(AudioUnitPropertyID id) {
    m_listeners.push_back(RequireInstance()->addPropertyListener(
        id, [this](AudioUnitPropertyID property, AudioUnitScope scope, AudioUnitElement element) {
            PropertyChanged(property, scope, element);
        }));
}

void ZOAudioUnit::AddListenerParameter(AudioUnitParameterID parameter, ParameterListener listener) {
    m_listeners.push_back(RequireInstance()->addParameterListener(parameter, std::move(listener)));
}

void ZOAudioUnit::Reset(AudioUnitScope scope, AudioUnitElement element) {
    Check(RequireInstance()->reset(scope, element), nullptr);
}

OSStatus ZOAudioUnit::Render(AudioUnitRenderActionFlags* flags, const AudioTimeStamp* time,
                             std::uint32_t bus, std::uint32_t frames, AudioBufferList* data) {
    if (!m_unit)
        return kAudioComponentErr_NotFound;
    return m_unit->render(flags, time, bus, frames, data);
}
