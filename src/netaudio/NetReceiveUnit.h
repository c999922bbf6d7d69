#pragma once

#include "NetStatus.h"
#include "ReceiverSession.h"

#include "engine/AudioSource.h"
#include "engine/SpscFrameFifo.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace koru::netaudio {

// Plays a sender's stream as a two-channel source. A network thread connects, checks and decodes
// what arrives into a jitter FIFO of about a second; render only copies out of it, after a
// pre-buffer, and plays silence (counted) when it runs dry. A dropped connection is retried every
// second until the user disconnects or the sender refuses us.
//
// Threads: render on the output's audio thread; every setter on the main thread; the status
// listener on the network thread.
class NetReceiveUnit : public AudioSource {
public:
    static constexpr std::uint32_t kFifoFrames = 1u << 16;
    static constexpr std::uint32_t kPrebufferFrames = 4096;

    NetReceiveUnit();
    ~NetReceiveUnit() override;

    // "address:port"; connects at once.
    void setHost(const std::string& host);
    void connectTo(const std::string& address, std::uint16_t port);
    std::string host() const;
    void setPassword(const std::string& password);
    void connect(bool on);

    NetStatus status() const { return mStatus.get(); }
    void setStatusListener(std::function<void(NetStatus)> listener) {
        mStatus.setListener(std::move(listener));
    }
    // Why the last connection ended, for the log and the tests.
    std::string lastError() const;

    // Parameter 0 is the status, as the window's saved parameters list it.
    static constexpr std::uint32_t kStatusParameter = 0;
    std::vector<AudioSourceParameter> parameterList() const override;
    float parameter(std::uint32_t id) const override;

    // The rate render plays at: a stream at another rate is converted as it arrives.
    void setSampleRate(double rate) override { mEngineRate.store(rate); }
    double sampleRate() const { return mEngineRate.load(); }
    void render(float* const* channels, std::uint32_t frames) noexcept override;

    // Any thread.
    std::uint64_t buffered() const { return mFifo.buffered(); }
    std::uint64_t underflows() const { return mUnderflows.load(std::memory_order_relaxed); }
    std::uint64_t gapFrames() const;
    std::uint64_t droppedFrames() const;
    std::uint64_t firstSampleTime() const;
    // The stream's rate and format as the sender last announced them.
    StreamFormat streamFormat() const;
    std::uint64_t formatChanges() const { return mFormatChanges.load(); }

private:
    void start();
    void stop();
    void run(std::string address, std::uint16_t port, std::string password);
    bool waitOrStop(std::chrono::milliseconds delay);

    // Guards host, password, the last error, the session pointer and what the session learns
    // while it reads the stream (its format); taken alone.
    mutable std::mutex mMutex;
    std::string mHost;
    std::string mPassword;
    std::string mLastError;
    std::unique_ptr<ReceiverSession> mSession;
    bool mOn = false; // main thread

    SpscFrameFifo mFifo{kFifoFrames};
    std::atomic<double> mEngineRate{48000.0};
    bool mPlaying = false; // audio thread
    std::atomic<std::uint64_t> mUnderflows{0};
    std::atomic<std::uint64_t> mUnderflowAt{0};
    std::atomic<std::uint64_t> mFormatChanges{0};

    StatusCell mStatus{NetStatus::NotConnected};
    std::atomic<bool> mStop{false};
    std::mutex mWaitMutex;
    std::condition_variable mWake;
    std::thread mThread;
};

} // namespace koru::netaudio
