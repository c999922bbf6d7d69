#include "zotools/ZOInputClient.h"

#include "zotools/CAException.h"
#include "zotools/ZOAudioInput.h"

#include <fmt/format.h>

#include <stdexcept>

double ZOInputClient::HostSampleRate() const {
    const ZOAudioInput* host = Host();
    if (!host)
        return 44100.0;
    try {
        return host->GetNominalSampleRate();
    } catch (const CAException&) {
        fmt::print("\nAn exception was raised when the input client was trying to determine the "
                   "sample rate of the host.");
        return 44100.0;
    }
}

std::uint32_t ZOInputClient::HostBufferFrames() const {
    const ZOAudioInput* host = Host();
    return host ? host->RequestedFrames() : 1024;
}

void ZOInputClient::SetPaused(bool paused) {
    if (!IsPauseable())
        throw std::logic_error(kNotPauseableMessage);
    m_paused.store(paused, std::memory_order_relaxed);
}
