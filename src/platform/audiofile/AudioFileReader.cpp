#include "AudioFileReader.h"

#include "AudioFileError.h"
#include "FFmpegReader.h"
#include "SndfileReader.h"

#include <fmt/format.h>
#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <vector>

namespace koru::platform {

namespace {

using Kind = AudioFileError::Kind;

std::string displayName(const std::string& path) {
    const std::string name = std::filesystem::path(path).filename().string();
    return name.empty() ? path : name;
}

[[noreturn]] void refuse(Kind kind, const std::string& name, const std::string& why) {
    throw AudioFileError(kind, fmt::format("\"{}\" {}", name, why));
}

// Failures of the file itself (missing, a folder, no permission, empty) before any decoder is
// asked, so the message names the real cause rather than an unknown format.
void checkReadable(const std::string& path, const std::string& name) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        refuse(Kind::Unreadable, name, "is a folder, not an audio file.");
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        refuse(Kind::Unreadable, name, fmt::format("could not be read: {}.", std::strerror(errno)));
    }
    const int first = std::fgetc(file);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        refuse(Kind::Unreadable, name, "could not be read: an input/output error occurred.");
    }
    if (first == EOF) {
        refuse(Kind::NoAudio, name, "is empty.");
    }
}

[[noreturn]] void refuseCutShort(const std::string& name) {
    refuse(Kind::Damaged, name,
           "is damaged or cut short: it ends before the audio its header announces.");
}

// A decoder that opened the file has read its header; this reads the last tenth of a second
// the header promises, which a file cut short does not have.
void checkComplete(AudioFileReader& reader, const std::string& name) {
    const std::int64_t frames = reader.frames();
    if (frames <= 0) {
        refuse(Kind::NoAudio, name, "contains no audio.");
    }
    const std::int64_t probe =
        std::clamp<std::int64_t>(std::int64_t(reader.sampleRate() / 10.0), 1, frames);
    std::vector<float> tail(std::size_t(probe) * std::size_t(reader.channels()));
    if (!reader.seek(frames - probe) || reader.read(tail.data(), probe) <= 0) {
        refuseCutShort(name);
    }
    if (!reader.seek(0)) {
        refuse(Kind::Damaged, name, "is damaged: it cannot be read from its start.");
    }
}

// Whether the file begins as the audio containers do, however little of it there is: a few
// bytes of a WAV header are a cut-off WAV file, not a foreign one.
bool startsLikeAudio(const std::string& path) {
    char head[8] = {};
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    const std::size_t got = std::fread(head, 1, sizeof head, file);
    std::fclose(file);
    const std::string_view bytes(head, got);
    constexpr std::string_view kLeading[] = {"RIFF", "RIFX", "RF64", "BW64", "FORM",
                                             "caff", "fLaC", "OggS", "ID3"};
    for (const std::string_view magic : kLeading) {
        if (bytes.starts_with(magic)) {
            return true;
        }
    }
    return bytes.size() == 8 && bytes.substr(4) == "ftyp";
}

std::unique_ptr<AudioFileReader> openWithFFmpeg(const std::string& path, const std::string& name) {
    FFmpegReader::Refusal refusal = FFmpegReader::Refusal::None;
    std::string detail;
    auto reader = FFmpegReader::open(path, refusal, detail);
    switch (refusal) {
    case FFmpegReader::Refusal::None:
        return reader;
    case FFmpegReader::Refusal::NotOpened:
        if (startsLikeAudio(path)) {
            refuseCutShort(name);
        }
        refuse(Kind::Unsupported, name, "is not an audio file KORU can play.");
    case FFmpegReader::Refusal::Damaged:
        refuse(Kind::Damaged, name, fmt::format("is damaged or cut short ({}).", detail));
    case FFmpegReader::Refusal::NoAudio:
        refuse(Kind::NoAudio, name, "contains no audio.");
    case FFmpegReader::Refusal::NoDecoder:
        refuse(Kind::Unsupported, name,
               fmt::format("holds audio coded as \"{}\", which KORU cannot decode.", detail));
    case FFmpegReader::Refusal::BrokenStream:
        refuse(Kind::Damaged, name, fmt::format("is damaged: {}.", detail));
    }
    refuse(Kind::Unsupported, name, "is not an audio file KORU can play.");
}

} // namespace

std::unique_ptr<AudioFileReader> AudioFileReader::open(const std::string& path) {
    const std::string name = displayName(path);
    checkReadable(path, name);

    SndfileReader::Refusal refusal;
    if (auto reader = SndfileReader::open(path, refusal)) {
        if (!reader->lengthKnown() || reader->headerPromisesMore()) {
            refuseCutShort(name);
        }
        checkComplete(*reader, name);
        return reader;
    }
    if (refusal.code == SF_ERR_SYSTEM) {
        refuse(Kind::Unreadable, name, fmt::format("could not be read: {}.", refusal.text));
    }
    if (refusal.code == SF_ERR_MALFORMED_FILE) {
        // libsndfile knows the format and found the file broken (a cut-off CAF, say); FFmpeg
        // would play what is left of it without a word.
        refuse(Kind::Damaged, name, fmt::format("is damaged or cut short ({}).", refusal.text));
    }
    // Unknown to libsndfile (MP4/M4A above all), or a coding it lacks: FFmpeg's turn.
    auto reader = openWithFFmpeg(path, name);
    checkComplete(*reader, name);
    return reader;
}

} // namespace koru::platform
