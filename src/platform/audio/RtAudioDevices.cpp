#include "platform/audio/RtAudioDevices.h"

#include "platform/audio/RtAudioSupport.h"
#include "platform/log/Log.h"

namespace koru::platform {

std::optional<std::vector<DeviceRegistry::ProbedDevice>>
enumerateRtAudioDevices(AudioBackend backend) {
    // No JACK server: no JACK devices (and no libjack call, see makeRtAudio).
    if (backend == AudioBackend::Jack && !jackServerRunning())
        return std::vector<DeviceRegistry::ProbedDevice>{};
    std::lock_guard lock(rtAudioMutex());
    const auto rt = makeRtAudio(backend);
    if (!rt)
        return std::nullopt;
    std::vector<DeviceRegistry::ProbedDevice> list;
    try {
        const unsigned count = rt->getDeviceCount();
        for (unsigned i = 0; i < count; ++i) {
            const RtAudio::DeviceInfo info = rt->getDeviceInfo(i);
            DeviceRegistry::ProbedDevice p;
            p.name = info.name;
            p.probed = info.probed;
            p.inputChannels = info.inputChannels;
            p.outputChannels = info.outputChannels;
            p.sampleRates = info.sampleRates;
            p.preferredSampleRate = info.preferredSampleRate;
            p.isDefaultInput = info.isDefaultInput;
            p.isDefaultOutput = info.isDefaultOutput;
            list.push_back(std::move(p));
        }
    } catch (const RtAudioError& error) {
        log::warn("Listing audio devices failed: {}", error.getMessage());
        return std::nullopt;
    }
    return list;
}

} // namespace koru::platform
