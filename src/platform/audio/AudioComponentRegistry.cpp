#include "platform/audio/AudioComponentRegistry.h"

#include "platform/audio/AudioInputUnit.h"
#include "platform/audio/AudioOutputUnit.h"

namespace koru::platform {

AudioComponentRegistry& AudioComponentRegistry::shared() {
    static AudioComponentRegistry* registry = new AudioComponentRegistry; // never destroyed
    return *registry;
}

AudioComponentRegistry::AudioComponentRegistry() {
    add(kAudioUnitType_Output, kAudioUnitSubType_HALOutput, kAudioUnitManufacturer_Apple,
        [] { return std::make_unique<AudioInputUnit>(); });
    add(kAudioUnitType_Output, kAudioUnitSubType_DefaultOutput, kAudioUnitManufacturer_Apple,
        [] { return std::make_unique<AudioOutputUnit>(); });
}

void AudioComponentRegistry::add(std::uint32_t type, std::uint32_t subtype,
                                 std::uint32_t manufacturer, Factory factory) {
    std::lock_guard lock(m_mutex);
    m_components.push_back({type, subtype, manufacturer, std::move(factory)});
}

const AudioComponentRegistry::Component*
AudioComponentRegistry::match(const AudioComponentDescription& d) const {
    const auto fits = [](std::uint32_t wanted, std::uint32_t have) {
        return wanted == 0 || wanted == have;
    };
    for (const Component& c : m_components) {
        if (fits(d.componentType, c.type) && fits(d.componentSubType, c.subtype) &&
            fits(d.componentManufacturer, c.manufacturer))
            return &c;
    }
    return nullptr;
}

std::unique_ptr<AudioUnitInstance>
AudioComponentRegistry::open(const AudioComponentDescription& description) const {
    Factory factory;
    {
        std::lock_guard lock(m_mutex);
        const Component* c = match(description);
        if (!c)
            return nullptr;
        factory = c->factory;
    }
    return factory();
}

bool AudioComponentRegistry::has(const AudioComponentDescription& description) const {
    std::lock_guard lock(m_mutex);
    return match(description) != nullptr;
}

} // namespace koru::platform
