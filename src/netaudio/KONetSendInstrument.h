#pragma once

#include "NetSendUnit.h"

#include "engine/KOTwoChannelInstrument.h"

#include <memory>
#include <string>
#include <vector>

// Streams two of the engine's channels to the network: Process hands channels A and B to a
// NetSendUnit, whose own thread does the sending. Not pauseable.
class KONetSendInstrument : public KOTwoChannelInstrument {
public:
    // Listens on `bindAddress` (every interface by default) under `serviceName`.
    explicit KONetSendInstrument(const std::string& serviceName,
                                 const std::string& bindAddress = "0.0.0.0");
    ~KONetSendInstrument() override;

    // Audio thread: no allocation, locks or system calls. A channel the buffer list lacks is
    // sent as silence, so the receiver's timeline stays whole.
    void Process(const AudioBufferList* buffers, std::uint32_t frames) override;
    // The unit learns the engine's rate; a connected receiver hears of a change.
    void SetHost(ZOAudioInput* host) override;

    koru::netaudio::NetSendUnit& Unit() { return mUnit; }
    // Blocks in which a selected channel was missing from the engine's buffers.
    std::uint64_t MissingChannelBlocks() const { return mMissing.load(std::memory_order_relaxed); }

private:
    static constexpr std::uint32_t kPiece = 1024;

    koru::netaudio::NetSendUnit mUnit;
    std::vector<float> mSilence = std::vector<float>(kPiece, 0.0f);
    std::atomic<std::uint64_t> mMissing{0};
};
