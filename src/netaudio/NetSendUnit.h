#pragma once

#include "NetAudioProtocol.h"
#include "NetSocket.h"
#include "NetStatus.h"

#include "engine/SpscFrameFifo.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace koru::dnssd {
class Publication;
}

namespace koru::netaudio {

// Offers two channels on the network: a TCP server on its own thread that one receiver at a time
// connects to. The audio thread only pushes frames into a lock-free FIFO; the network thread
// encodes and sends them, so a slow or stalled peer costs dropped frames (counted, shown as
// overflow), never a blocked engine.
//
// Threads: push on the audio thread; every setter on the main thread; the status listener on the
// network thread.
class NetSendUnit {
public:
    static constexpr std::uint16_t kDefaultPort = 52800;
    static constexpr std::uint32_t kFifoFrames = 1u << 16;

    explicit NetSendUnit(std::string serviceName, std::string bindAddress = "0.0.0.0");
    ~NetSendUnit();
    NetSendUnit(const NetSendUnit&) = delete;
    NetSendUnit& operator=(const NetSendUnit&) = delete;

    // Audio thread. No allocation, locks or system calls.
    void push(const float* left, const float* right, std::uint32_t frames) noexcept;

    // Each setter below that changes the offer disconnects and starts listening again.
    void connect(bool on);
    void setServiceName(const std::string& name);
    std::string serviceName() const;
    // False, changing nothing, outside 1..65535.
    bool setPort(std::uint32_t port);
    // The port listened on (the first free one from the one asked for), 0 while not listening.
    // Known as soon as connect(true) or a setter that listens again returns.
    std::uint16_t port() const { return mBoundPort.load(); }
    void setFormatIndex(std::uint32_t index); // kept as set; indices we cannot carry log once
    std::uint32_t formatIndex() const;
    // No value leaves the password as it is; an empty one means none.
    // Main thread (it may announce the sender again).
    void setPassword(const std::optional<std::string>& password);
    std::string password() const;
    // The rate the pushed frames have; a connected receiver is told of a change.
    void setSampleRate(double rate);

    NetStatus status() const { return mStatus.get(); }
    void setStatusListener(std::function<void(NetStatus)> listener) {
        mStatus.setListener(std::move(listener));
    }
    std::uint64_t overflowFrames() const { return mOverflow.load(std::memory_order_relaxed); }
    std::uint64_t sampleTime() const { return mSampleTime.load(std::memory_order_relaxed); }

private:
    void start();
    void stop();
    void run(Socket listener);
    // Publishes the sender (again) in the process's registry and by DNS-SD; main thread.
    void announce(const std::string& name, std::uint16_t port);

    std::string mBindAddress;
    mutable std::mutex mConfigMutex; // guards the five fields below
    std::string mName;
    std::uint16_t mRequestedPort = kDefaultPort;
    // The port held before a name or format change: a receiver that knows it finds the sender
    // there again. 0 after a port change.
    std::uint16_t mKeptPort = 0;
    std::uint32_t mFormatIndex = 0;
    std::string mPassword;
    std::atomic<double> mRate{48000.0};
    std::atomic<bool> mRateChanged{false};
    bool mOn = false; // main thread

    SpscFrameFifo mFifo{kFifoFrames};
    std::atomic<bool> mStreaming{false};
    std::atomic<std::uint32_t> mSession{0};
    std::uint32_t mAudioSession = 0; // audio thread
    std::atomic<std::uint64_t> mSessionStart{0};
    std::atomic<bool> mSessionStartValid{false};
    std::atomic<std::uint64_t> mSampleTime{0};
    std::atomic<std::uint64_t> mOverflow{0};
    std::atomic<std::uint16_t> mBoundPort{0};
    std::uint64_t mPublished = 0; // main thread: the in-process registry's entry
    std::unique_ptr<dnssd::Publication> mPublication; // main thread: the network's

    StatusCell mStatus{NetStatus::NotConnected};
    std::atomic<bool> mStop{false};
    std::thread mThread;
};

} // namespace koru::netaudio
