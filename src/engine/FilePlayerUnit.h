#pragma once

#include "AudioSource.h"
#include "SpscFrameFifo.h"

#include <QString>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <variant>

namespace koru {

namespace platform {
class AudioFileReader;
}
class FilePlayerStream;

// Plays an audio file as a two-channel source at the rate it is told. A disk thread decodes the
// file, converts it to that rate and keeps about two seconds of it in a lock-free FIFO; render
// only copies out of the FIFO, so the audio thread never waits for the disk. Loading, seeking,
// loop and rate changes go to the disk thread as commands: a seek drops what the FIFO holds and
// restarts the converter there.
//
// Threads: render on the output's audio thread (no allocation, no locks, no waiting); every
// other function on the main thread.
class FilePlayerUnit : public AudioSource {
public:
    static constexpr double kBufferSeconds = 2.0;
    // Holds the two seconds at rates up to 262 kHz, with room for a second helping after a seek.
    static constexpr std::uint32_t kFifoFrames = 1u << 19;

    struct FileInfo {
        QString path;
        QString name; // the file name, without its folder
        int channels = 0;
        double sampleRate = 0.0;
        std::int64_t frames = 0;
        double duration() const { return sampleRate > 0.0 ? double(frames) / sampleRate : 0.0; }
    };

    FilePlayerUnit();
    ~FilePlayerUnit() override;
    FilePlayerUnit(const FilePlayerUnit&) = delete;
    FilePlayerUnit& operator=(const FilePlayerUnit&) = delete;

    // Opens `path`, ready to play from its start, paused. A file that cannot be played throws
    // platform::AudioFileError with a message for the user, and what was loaded before stays.
    void load(const QString& path);
    bool hasFile() const { return mFile.frames > 0; }
    const FileInfo& file() const { return mFile; }

    void play();
    void pause();
    // Pauses and goes back to the start.
    void stop();
    // Playing, and not yet through to the end of the file (which only happens with loop off).
    bool isPlaying() const;
    void setLoop(bool loop);
    bool loops() const { return mLoop; }
    void seek(double seconds);
    // Where playback is, in seconds into the file.
    double position() const;
    double duration() const { return mFile.duration(); }
    // Played through to the end with loop off.
    bool atEnd() const;

    // Buffers that found the FIFO short while playing: the disk did not keep up.
    std::uint64_t underruns() const { return mUnderruns.load(std::memory_order_relaxed); }
    // Waits until the disk thread has carried out every command given so far and filled the FIFO
    // as far as it can. False only if that takes longer than a generous safety deadline.
    bool waitUntilIdle();

    void setSampleRate(double rate) override;
    void render(float* const* channels, std::uint32_t frames) noexcept override;

private:
    struct Load {
        std::unique_ptr<platform::AudioFileReader> reader;
        std::string name;
    };
    struct Seek {
        std::int64_t frame;
    };
    struct Loop {
        bool on;
    };
    struct Rate {
        double rate;
    };
    using Command = std::variant<Load, Seek, Loop, Rate>;

    // From FIFO position `fifoStart` on, the output plays the file from `fileStart`, `ratio`
    // output frames per file frame.
    struct Segment {
        std::uint64_t fifoStart = 0;
        std::int64_t fileStart = 0;
        double ratio = 1.0;
    };
    static constexpr std::size_t kSegments = 64;

    void post(Command command);
    void diskLoop();
    void apply(Load& load);
    void apply(const Seek& seek);
    void apply(const Loop& loop);
    void apply(const Rate& rate);
    void restartAt(std::int64_t frame);
    void fill();
    void addSegment(std::uint64_t fifoStart, std::int64_t fileStart);
    std::int64_t fileFrameAt(std::uint64_t fifoPosition) const;
    // The first place after `fifoPosition` where the file starts again, if the FIFO has one.
    std::optional<std::uint64_t> firstWrapAfter(std::uint64_t fifoPosition) const;
    std::uint64_t targetFrames() const;

    SpscFrameFifo mFifo;
    std::atomic<bool> mPlaying{false};
    // FIFO position where the file's end was written (loop off); nothing plays from it on.
    std::atomic<std::uint64_t> mEnd{SpscFrameFifo::kNoLimit};
    std::atomic<std::uint64_t> mUnderruns{0};

    // Main thread.
    FileInfo mFile;
    bool mLoop = false;
    double mRate = 0.0;

    // Shared by the main and disk threads, under mMutex.
    std::mutex mMutex;
    std::condition_variable mWake;
    std::condition_variable mServedChanged;
    std::deque<Command> mCommands;
    std::uint64_t mRequested = 0;
    std::uint64_t mServed = 0;
    bool mQuit = false;

    // Where each stretch of the FIFO comes from in the file: written by the disk thread, read
    // by position(), under their own mutex.
    mutable std::mutex mSegmentsMutex;
    std::array<Segment, kSegments> mSegments{};
    std::size_t mSegmentCount = 0; // the newest is at (mSegmentCount − 1) % kSegments
    // Loads given and carried out: until the last one is, the position is the new file's start.
    std::uint64_t mLoadsPosted = 0; // main thread
    std::atomic<std::uint64_t> mLoadsApplied{0};

    // Disk thread only.
    std::unique_ptr<FilePlayerStream> mStream;
    std::unique_ptr<platform::AudioFileReader> mPendingReader; // waits for a rate
    double mDiskRate = 0.0;
    bool mDiskLoop = false;
    std::string mDiskName;
    bool mEndAtWrap = false; // the end stands where the file wrapped, not where it ended
    std::array<std::vector<float>, 2> mStaging;

    std::thread mDisk; // last: starts once everything above exists
};

} // namespace koru
