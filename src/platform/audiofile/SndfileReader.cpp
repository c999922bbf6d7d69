#include "SndfileReader.h"

#include <sndfile.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string_view>

namespace koru::platform {

namespace {

// The audio chunks whose declared size libsndfile checks against the file's length.
constexpr std::string_view kAudioChunks[] = {"data", "SSND"};
// Writers that stream a file of unknown length put these in its header; libsndfile reads such a
// file to its end, and nothing is missing.
constexpr std::uint64_t kUnknownLengths[] = {0xFFFFFFFFu, 0x7FFFFFFFu};

std::uint64_t numberAt(std::string_view text, std::size_t& at) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data() + at, text.data() + text.size(), value);
    if (error != std::errc()) {
        return 0;
    }
    at = std::size_t(end - text.data());
    return value;
}

// One line of libsndfile's log reads "data : 960000 (should be 479978)" when the chunk's size
// disagrees with what is left of the file.
bool promisesMore(std::string_view line) {
    // AIFF's chunks are indented.
    line.remove_prefix(std::min(line.find_first_not_of(' '), line.size()));
    for (const std::string_view chunk : kAudioChunks) {
        if (!line.starts_with(chunk)) {
            continue;
        }
        const std::size_t colon = line.find(" : ", chunk.size());
        const std::size_t should = line.find("(should be ");
        if (colon == std::string_view::npos || should == std::string_view::npos) {
            return false;
        }
        std::size_t at = colon + 3;
        const std::uint64_t declared = numberAt(line, at);
        at = should + std::strlen("(should be ");
        const std::uint64_t present = numberAt(line, at);
        for (const std::uint64_t unknown : kUnknownLengths) {
            if (declared == unknown) {
                return false;
            }
        }
        return declared > present;
    }
    return false;
}

} // namespace

std::unique_ptr<SndfileReader> SndfileReader::open(const std::string& path, Refusal& refusal) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        refusal.code = sf_error(nullptr);
        refusal.text = sf_strerror(nullptr);
        return nullptr;
    }
    return std::make_unique<SndfileReader>(Token{}, file, info.channels, double(info.samplerate),
                                           info.frames);
}

SndfileReader::SndfileReader(Token, SNDFILE* file, int channels, double rate, std::int64_t frames)
    : mFile(file), mChannels(channels), mRate(rate), mFrames(frames) {}

SndfileReader::~SndfileReader() {
    sf_close(mFile);
}

bool SndfileReader::lengthKnown() const {
    return mFrames != SF_COUNT_MAX;
}

bool SndfileReader::headerPromisesMore() const {
    char log[16384] = {};
    sf_command(mFile, SFC_GET_LOG_INFO, log, sizeof log);
    std::string_view text(log);
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        if (promisesMore(text.substr(0, end))) {
            return true;
        }
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    return false;
}

std::int64_t SndfileReader::read(float* interleaved, std::int64_t count) {
    const sf_count_t got = sf_readf_float(mFile, interleaved, count);
    if (got < count && sf_error(mFile) != SF_ERR_NO_ERROR) {
        return got > 0 ? got : -1;
    }
    return got;
}

bool SndfileReader::seek(std::int64_t frame) {
    return sf_seek(mFile, frame, SEEK_SET) == frame;
}

} // namespace koru::platform
