#include "KONetSendInstrument.h"

#include "zotools/ZOAudioInput.h"

#include <algorithm>

KONetSendInstrument::KONetSendInstrument(const std::string& serviceName,
                                         const std::string& bindAddress)
    : mUnit(serviceName, bindAddress) {
    SetChannelB(1);
}

KONetSendInstrument::~KONetSendInstrument() {
    // Out of the engine before the unit Process pushes into goes away.
    if (ZOAudioInput* host = Host())
        host->RemoveClient(this);
}

void KONetSendInstrument::Process(const AudioBufferList* buffers, std::uint32_t frames) {
    CountReceived(frames);
    const std::uint32_t a = ChannelA(), b = ChannelB();
    const bool haveA = buffers && a < buffers->mNumberBuffers && buffers->mBuffers[a].mData;
    const bool haveB = buffers && b < buffers->mNumberBuffers && buffers->mBuffers[b].mData;
    if (!haveA || !haveB)
        mMissing.fetch_add(1, std::memory_order_relaxed);
    // In pieces the silence buffer covers, whatever the engine's buffer size.
    for (std::uint32_t at = 0; at < frames; at += kPiece) {
        const std::uint32_t n = std::min(kPiece, frames - at);
        const float* left =
            haveA ? static_cast<const float*>(buffers->mBuffers[a].mData) + at : mSilence.data();
        const float* right =
            haveB ? static_cast<const float*>(buffers->mBuffers[b].mData) + at : mSilence.data();
        mUnit.push(left, right, n);
    }
    if (haveA && haveB)
        CountAnalysed(frames);
}

void KONetSendInstrument::SetHost(ZOAudioInput* host) {
    KOInstrument::SetHost(host);
    mUnit.setSampleRate(HostSampleRate());
}
