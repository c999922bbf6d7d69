#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace koru::platform {

// Decodes an audio file to interleaved float frames at the file's own rate and channel count.
// libsndfile reads what it knows (WAV, AIFF, CAF, FLAC, Ogg Vorbis and Opus, MP3, …); FFmpeg
// reads the rest, AAC and ALAC in MP4/M4A above all. One thread at a time.
class AudioFileReader {
public:
    // Opens `path` (UTF-8) and checks that the file holds the audio its header announces: a
    // missing, unreadable, unsupported, empty or truncated file throws AudioFileError.
    static std::unique_ptr<AudioFileReader> open(const std::string& path);

    virtual ~AudioFileReader() = default;
    AudioFileReader(const AudioFileReader&) = delete;
    AudioFileReader& operator=(const AudioFileReader&) = delete;

    virtual int channels() const = 0;
    virtual double sampleRate() const = 0;
    // The length the file declares. Compressed streams may end a few frames either side of it;
    // read() has the last word.
    virtual std::int64_t frames() const = 0;
    // Reads up to `count` frames into `interleaved` (count × channels() floats). Fewer only at
    // the end of the audio; −1 after a read error.
    virtual std::int64_t read(float* interleaved, std::int64_t count) = 0;
    // The next read() starts at `frame` (0 … frames()). False when the file refuses.
    virtual bool seek(std::int64_t frame) = 0;

protected:
    AudioFileReader() = default;
};

} // namespace koru::platform
