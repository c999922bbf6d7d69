#pragma once

#include "platform/audiofile/AudioFileReader.h"

#include <cstdint>
#include <memory>
#include <vector>

typedef struct SRC_STATE_tag SRC_STATE;

namespace koru {

// A decoded file as two channels at the rate the player runs at: mono goes to both channels,
// stereo to left and right, of more channels the first two play. With loop on, the file runs on
// from its start without a gap. Works on the player's disk thread: it reads the file and
// allocates.
class FilePlayerStream {
public:
    static constexpr std::uint32_t kChannels = 2;

    // Throws std::runtime_error when no rate converter can be made.
    FilePlayerStream(std::unique_ptr<platform::AudioFileReader> reader, double outputRate);
    ~FilePlayerStream();
    FilePlayerStream(const FilePlayerStream&) = delete;
    FilePlayerStream& operator=(const FilePlayerStream&) = delete;

    double fileRate() const { return mReader->sampleRate(); }
    std::int64_t fileFrames() const { return mReader->frames(); }
    double outputRate() const { return mOutputRate; }
    // Output frames per file frame.
    double ratio() const { return mRatio; }

    void setLoop(bool loop) { mLoop = loop; }
    bool loop() const { return mLoop; }

    // The next output starts at file frame `frame`, with a fresh converter. False when the file
    // refuses to go there (the stream then has ended).
    bool seek(std::int64_t frame);
    // A new output rate; the stream starts again at `frame`.
    bool setOutputRate(double rate, std::int64_t frame);

    // Writes up to `frames` frames into both channels; fewer only once the file has ended (loop
    // off) or failed. Every time the file wraps to its start, the output frame where it does
    // (counted since the last seek) is queued for takeWraps().
    std::uint32_t produce(float* const* channels, std::uint32_t frames);
    bool ended() const { return mEnded; }
    // A read error ended the stream early.
    bool failed() const { return mFailed; }
    // Output frames produced since the last seek.
    std::uint64_t produced() const { return mProduced; }
    // The wraps produced since the last call, oldest first.
    std::vector<std::uint64_t> takeWraps();

private:
    bool fillInput();
    std::uint32_t produceDirect(float* const* channels, std::uint32_t frames);
    std::uint32_t produceConverted(float* const* channels, std::uint32_t frames);
    std::int64_t readFile(std::int64_t frames);
    void makeConverter();

    std::unique_ptr<platform::AudioFileReader> mReader;
    double mOutputRate;
    double mRatio = 1.0;
    SRC_STATE* mConverter = nullptr; // null when the rates agree
    bool mLoop = false;
    bool mEnded = false;
    bool mFailed = false;
    bool mInputDone = false; // the converter has been told the input ended
    std::vector<float> mRaw; // a block of the file's own frames
    std::vector<float> mIn;  // stereo interleaved, waiting for the converter
    std::size_t mInAt = 0;   // frames of mIn already used
    std::size_t mInFrames = 0;
    std::vector<float> mOut;      // stereo interleaved, out of the converter
    double mInputSinceSeek = 0.0; // file frames handed to the converter since the seek
    std::uint64_t mProduced = 0;
    std::vector<std::uint64_t> mWraps;
};

} // namespace koru
