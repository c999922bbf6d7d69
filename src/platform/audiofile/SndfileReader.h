#pragma once

#include "AudioFileReader.h"

#include <string>

typedef struct sf_private_tag SNDFILE;

namespace koru::platform {

// The libsndfile half of the audio-file reader.
class SndfileReader : public AudioFileReader {
public:
    // What libsndfile said when it could not open a file.
    struct Refusal {
        int code = 0; // SF_ERR_*
        std::string text;
    };

    // Null, with `refusal` filled in, when libsndfile cannot open the file.
    static std::unique_ptr<SndfileReader> open(const std::string& path, Refusal& refusal);
    ~SndfileReader() override;

    int channels() const override { return mChannels; }
    double sampleRate() const override { return mRate; }
    std::int64_t frames() const override { return mFrames; }
    std::int64_t read(float* interleaved, std::int64_t count) override;
    bool seek(std::int64_t frame) override;

    // Whether the length is known at all: a cut-off Ogg stream has no last page to tell it.
    bool lengthKnown() const;
    // Whether the header gives the audio chunk more bytes than the file holds. libsndfile then
    // quietly plays what is there, so a cut-off WAV or AIFF would pass for a short one.
    bool headerPromisesMore() const;

private:
    struct Token {}; // only open() makes one

public:
    SndfileReader(Token, SNDFILE* file, int channels, double rate, std::int64_t frames);

private:
    SNDFILE* mFile;
    int mChannels;
    double mRate;
    std::int64_t mFrames;
};

} // namespace koru::platform
