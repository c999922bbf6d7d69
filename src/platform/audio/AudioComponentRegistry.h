#pragma once

#include "platform/audio/AudioTypes.h"
#include "platform/audio/AudioUnitInstance.h"

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace koru::platform {

// Finds audio units by their (type, subtype, manufacturer) identity. The hardware input unit
// ('auou'/'ahal'/'appl') and the default output unit ('auou'/'def '/'appl') are registered from
// the start; other layers add their own units.
class AudioComponentRegistry {
public:
    using Factory = std::function<std::unique_ptr<AudioUnitInstance>()>;

    static AudioComponentRegistry& shared();

    void add(std::uint32_t type, std::uint32_t subtype, std::uint32_t manufacturer,
             Factory factory);
    // A new instance of the first matching component (zero fields of the description match
    // anything); null when none matches.
    std::unique_ptr<AudioUnitInstance> open(const AudioComponentDescription& description) const;
    bool has(const AudioComponentDescription& description) const;

private:
    AudioComponentRegistry();
    struct Component {
        std::uint32_t type, subtype, manufacturer;
        Factory factory;
    };
    const Component* match(const AudioComponentDescription& description) const; // mutex held

    mutable std::mutex m_mutex; // guards m_components; factories run outside it
    std::vector<Component> m_components;
};

} // namespace koru::platform
