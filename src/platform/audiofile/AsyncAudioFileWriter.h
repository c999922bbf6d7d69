#pragma once

#include "platform/audio/AudioTypes.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace koru::platform {

// Where the writer thread puts interleaved float frames: an encoder and its file. Tests inject a
// slow or failing one.
class AudioFileSink {
public:
    virtual ~AudioFileSink() = default;
    // False on any failure (short write, full disk); the writer stops calling it then.
    virtual bool write(const float* interleaved, std::uint64_t frames) = 0;
    // Makes what was written a readable file (header, trailer); false when that fails.
    virtual bool finish() = 0;
};

// PCM in WAVE, AIFF/AIFC and CAF through libsndfile. Integer formats clip at full scale.
struct PcmFileSpec {
    std::uint32_t fileType = 0; // 'WAVE', 'AIFF', 'AIFC', 'caff'
    std::uint32_t bitDepth = 24;
    bool isFloat = false;
    bool bigEndian = false;
    std::uint32_t channels = 0;
    double sampleRate = 0.0;
};

// Opens (erasing) `path`; throws std::runtime_error when the type, format or file is refused.
std::unique_ptr<AudioFileSink> openPcmFileSink(const std::string& path, const PcmFileSpec& spec);
// Apple Lossless (24-bit source) in a CAF file through libsndfile; throws like openPcmFileSink.
std::unique_ptr<AudioFileSink> openLosslessCafSink(const std::string& path, std::uint32_t channels,
                                                   double sampleRate);

// Takes blocks from the audio thread without waiting and writes them on its own thread.
//
// The audio thread copies into a preallocated ring of interleaved frames (the file's channels
// only) and never blocks; a normal-priority writer thread drains it into the sink. A full ring or
// a failing sink is sticky: every later write reports it, and the frames already queued are still
// written before the file is finished.
class AsyncAudioFileWriter {
public:
    enum class Status : int { Ok = 0, Overflow = 1, SinkFailed = 2, Closed = 3 };

    // Allocates the ring (at least `ringFrames`, rounded up to a power of two) and starts the
    // writer thread.
    AsyncAudioFileWriter(std::unique_ptr<AudioFileSink> sink, std::uint32_t channels,
                         std::uint32_t ringFrames);
    ~AsyncAudioFileWriter();
    AsyncAudioFileWriter(const AsyncAudioFileWriter&) = delete;
    AsyncAudioFileWriter& operator=(const AsyncAudioFileWriter&) = delete;

    // Audio thread: wait-free, no allocation. File channel k takes buffer `map[k]`; −1 or a
    // buffer the list does not have gives silence. A block that does not fit whole is refused.
    Status writeAsync(const AudioBufferList* buffers, const std::int32_t* map,
                      std::uint32_t frames);

    // Any non-audio thread: stops the writer, writes what is queued and finishes the file.
    // Returns false when anything failed on the way; later calls return the same answer.
    bool close();

    Status status() const { return Status(mStatus.load(std::memory_order_acquire)); }
    std::uint64_t framesWritten() const { return mWritten.load(std::memory_order_acquire); }
    std::uint32_t capacity() const { return mMask + 1; }

private:
    void run();
    // Writer thread; false when the sink failed.
    bool drain();
    void fail(Status status);

    std::unique_ptr<AudioFileSink> mSink;
    std::uint32_t mChannels;
    std::uint32_t mMask;
    std::vector<float> mRing;                        // frame i at (i & mask) × channels
    std::vector<float> mChunk;                       // the writer's contiguous copy
    alignas(64) std::atomic<std::uint64_t> mHead{0}; // frames queued (audio thread)
    alignas(64) std::atomic<std::uint64_t> mTail{0}; // frames taken (writer thread)
    std::atomic<std::uint64_t> mWritten{0};
    std::atomic<int> mStatus{0};
    std::atomic<bool> mStop{false};
    std::thread mThread;
    bool mFinished = false;     // the writer thread finished the sink after a failure; read
    bool mFinishResult = false; // by close() after the join
    bool mClosed = false;       // close() caller only
    bool mCloseResult = true;
};

} // namespace koru::platform
