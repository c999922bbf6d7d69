#pragma once

#include "platform/audio/AudioBackend.h"
#include "platform/audio/DeviceRegistry.h"

#include <optional>
#include <vector>

namespace koru::platform {

// The back-end's devices as RtAudio lists them; nullopt when the sound system cannot be asked.
std::optional<std::vector<DeviceRegistry::ProbedDevice>>
enumerateRtAudioDevices(AudioBackend backend);

} // namespace koru::platform
