#pragma once

#include "AudioFileReader.h"

#include <string>
#include <vector>

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;

namespace koru::platform {

// The FFmpeg half of the audio-file reader: the first audio stream of any container FFmpeg
// opens, decoded and converted to interleaved float at the stream's own rate.
class FFmpegReader : public AudioFileReader {
public:
    // Why FFmpeg could not give us audio.
    enum class Refusal {
        None,
        NotOpened,   // FFmpeg does not know the container
        Damaged,     // a container FFmpeg knows by its content, broken or cut short
        NoAudio,     // no audio stream in it
        NoDecoder,   // an audio stream in a coding FFmpeg here cannot decode
        BrokenStream // the stream's parameters are unusable
    };

    // Null, with `refusal` set and `detail` naming the cause, when the file gives no audio.
    static std::unique_ptr<FFmpegReader> open(const std::string& path, Refusal& refusal,
                                              std::string& detail);
    ~FFmpegReader() override;

    int channels() const override { return mChannels; }
    double sampleRate() const override { return mRate; }
    std::int64_t frames() const override { return mFrames; }
    std::int64_t read(float* interleaved, std::int64_t count) override;
    bool seek(std::int64_t frame) override;

private:
    struct Token {}; // only open() makes one

public:
    explicit FFmpegReader(Token);

private:
    Refusal openFile(const std::string& path, std::string& detail);
    // Decodes one more frame into mPending. False at the end of the stream or after an error.
    bool decodeMore();
    bool feedDecoder();
    bool convert(const AVFrame& frame);
    std::int64_t countFrames();

    AVFormatContext* mFormat = nullptr;
    AVCodecContext* mCodec = nullptr;
    SwrContext* mConverter = nullptr;
    AVPacket* mPacket = nullptr;
    AVFrame* mFrame = nullptr;
    int mStream = -1;
    int mChannels = 0;
    double mRate = 0.0;
    std::int64_t mFrames = 0;
    bool mLengthFromContainer = false; // then reading stops there: the codec's padding is not audio
    std::int64_t mPosition = 0;        // the frame read() hands out next
    std::int64_t mStartTime = 0;       // the stream's first time stamp, in its time base
    std::int64_t mSeekTarget = -1;     // frames before it are dropped after a seek
    bool mInputDone = false;
    bool mFailed = false;
    std::vector<float> mPending; // decoded, interleaved, not handed out yet
    std::size_t mPendingAt = 0;  // in floats
};

} // namespace koru::platform
