#pragma once

#include "platform/audio/AudioTypes.h"

#include <atomic>
#include <cstdint>

class ZOAudioInput;

// What the input engine calls once per buffer on the audio thread. The engine guarantees the
// order: SetHost then SetNumberOfChannels when a client is added; on every reconfiguration
// SetNumberOfChannels for every client, then SetHost for every client; Process once per buffer
// for every unpaused client, in registration order.
class ZOInputClient {
public:
    ZOInputClient() = default;
    // Concrete clients remove themselves from their host before they release anything.
    virtual ~ZOInputClient() = default;
    ZOInputClient(const ZOInputClient&) = delete;
    ZOInputClient& operator=(const ZOInputClient&) = delete;

    // Audio thread; may throw ZOInputClientException only. Channel indices must be checked
    // against buffers->mNumberBuffers: the buffer list may be shorter than a stale selection.
    virtual void Process(const AudioBufferList* buffers, std::uint32_t frames) = 0;
    virtual void SetNumberOfChannels(std::uint32_t count) = 0;
    // Channels were inserted (delta > 0) or removed (delta as a signed 32-bit value < 0) at
    // `position`.
    virtual void ChannelsChanged(std::uint32_t position, std::uint32_t delta) = 0;
    virtual void SetHost(ZOAudioInput* host) { m_host.store(host); }
    virtual bool IsPauseable() const { return false; }

    double HostSampleRate() const;          // 44100 without a host
    std::uint32_t HostBufferFrames() const; // 1024 without a host; the host's requested size
    void SetPaused(bool paused);            // throws std::logic_error unless pauseable
    bool IsPaused() const { return m_paused.load(std::memory_order_relaxed); }
    std::uint32_t NumberOfChannels() const {
        return m_numberOfChannels.load(std::memory_order_relaxed);
    }
    ZOAudioInput* Host() const { return m_host.load(); }
    // Blocks the engine skipped while this client was registered, because a list edit held the
    // engine: this client never saw them. Readable from any thread.
    std::uint64_t SkippedBlocks() const { return m_skippedBlocks.load(std::memory_order_relaxed); }
    // The engine credits skips at its next pass, under its mutex.
    void AddSkippedBlocks(std::uint64_t count) noexcept {
        m_skippedBlocks.fetch_add(count, std::memory_order_relaxed);
    }

    static constexpr const char* kNotPauseableMessage = "Called setPaused on non-pauseable client.";

protected:
    std::atomic<std::uint32_t> m_numberOfChannels{0};

private:
    std::atomic<ZOAudioInput*> m_host{nullptr};
    std::atomic<bool> m_paused{false};
    std::atomic<std::uint64_t> m_skippedBlocks{0};
};
