#pragma once

#include "zotools/ZOInputClient.h"

#include <atomic>
#include <cstdint>
#include <mutex>

// The base of every measuring instrument's signal processing: a client with a new-data flag and
// the instrument mutex, which a concrete Process (audio thread) and the collection of results
// (collector thread) take; the base classes never take it themselves.
class KOInstrument : public ZOInputClient {
public:
    // Throws CAException carrying `status` when it is not 0.
    virtual void CheckStatus(OSStatus status);

    // Where channel `ch` lands after `delta` channels (a signed 32-bit value) were inserted or
    // removed at `position`, clamped to the current channel count when that is known.
    std::uint32_t RemapChannel(std::uint32_t ch, std::uint32_t position, std::uint32_t delta) const;

    bool HasNewData() const { return m_newData.load(std::memory_order_acquire); }
    void SetNewData(bool value) { m_newData.store(value, std::memory_order_release); }
    std::mutex& InstrumentMutex() { return m_instrumentMutex; }

protected:
    // Stores a selected channel: clamped to the last channel while the count is known.
    std::uint32_t ClampChannel(std::uint32_t ch) const;

private:
    std::atomic<bool> m_newData{false};
    std::mutex m_instrumentMutex;
};
