#pragma once

#include "zotools/ZOInputClient.h"

#include <atomic>
#include <cstdint>
#include <mutex>

// The base of every measuring instrument's signal processing: a client with a new-data flag, the
// instrument mutex and counts of the frames it was handed and analysed.
//
// Results reach their readers without the audio thread waiting or skipping a block: a concrete
// Process publishes them lock-free, and never takes the instrument mutex. The mutex serialises
// the readers (collector, main) and the rebuilds among themselves; the base classes never take it.
class KOInstrument : public ZOInputClient {
public:
    // Throws CAException carrying `status` when it is not 0.
    virtual void CheckStatus(OSStatus status);

    // Where channel `ch` lands after `delta` channels (a signed 32-bit value) were inserted or
    // removed at `position`, clamped to the current channel count when that is known.
    std::uint32_t RemapChannel(std::uint32_t ch, std::uint32_t position, std::uint32_t delta) const;

    bool HasNewData() const { return m_newData.load(std::memory_order_acquire); }
    // Sequentially consistent, so it orders with the publication of the result it announces.
    void SetNewData(bool value) { m_newData.store(value); }
    std::mutex& InstrumentMutex() { return m_instrumentMutex; }

    // Frames Process was handed, and those that went into the analysis: they differ only where a
    // block could not be used at all (no such channel in the buffer list).
    std::uint64_t FramesReceived() const {
        return m_framesReceived.load(std::memory_order_relaxed);
    }
    std::uint64_t FramesAnalysed() const {
        return m_framesAnalysed.load(std::memory_order_relaxed);
    }

protected:
    // Stores a selected channel: clamped to the last channel while the count is known.
    std::uint32_t ClampChannel(std::uint32_t ch) const;
    // Audio thread.
    void CountReceived(std::uint32_t frames) {
        m_framesReceived.fetch_add(frames, std::memory_order_relaxed);
    }
    void CountAnalysed(std::uint32_t frames) {
        m_framesAnalysed.fetch_add(frames, std::memory_order_relaxed);
    }

private:
    std::atomic<bool> m_newData{false};
    std::mutex m_instrumentMutex;
    std::atomic<std::uint64_t> m_framesReceived{0};
    std::atomic<std::uint64_t> m_framesAnalysed{0};
};
