#include "platform/audiofile/AudioFormatServices.h"

#include "platform/fourcc/FourCC.h"

#include <algorithm>

namespace koru::platform::AudioFormatServices {

namespace {

constexpr std::uint32_t kFloat = 0x1;
constexpr std::uint32_t kBigEndian = 0x2;
constexpr std::uint32_t kSignedInteger = 0x4;
constexpr std::uint32_t kPacked = 0x8;

struct Pcm {
    std::uint32_t bits;
    std::uint32_t flags;
};

struct FileType {
    std::uint32_t type;
    const char* name;
    const char* extensions;
    std::vector<Pcm> pcm;
};

AudioStreamBasicDescription describe(const Pcm& p) {
    AudioStreamBasicDescription d;
    d.mFormatID = kAudioFormatLinearPCM;
    d.mFormatFlags = p.flags | kPacked;
    d.mBitsPerChannel = p.bits;
    d.mFramesPerPacket = 1;
    return d;
}

// Big-endian integers in AIFF; the libsndfile writer turns AIFF into AIFC for the rest.
const std::vector<FileType>& table() {
    static const std::vector<FileType> types = {
        {fourCC("AIFF"),
         "AIFF",
         "aiff aif",
         {{8, kBigEndian | kSignedInteger},
          {16, kBigEndian | kSignedInteger},
          {24, kBigEndian | kSignedInteger},
          {32, kBigEndian | kSignedInteger}}},
        {fourCC("AIFC"),
         "AIFC",
         "aifc",
         {{8, kBigEndian | kSignedInteger},
          {16, kBigEndian | kSignedInteger},
          {24, kBigEndian | kSignedInteger},
          {32, kBigEndian | kSignedInteger},
          {32, kBigEndian | kFloat},
          {64, kBigEndian | kFloat},
          {16, kSignedInteger}}},
        // Unsigned at 8 bits, as the type demands; float last, so a preferred depth of 32 picks
        // float over integer (the later match wins).
        {fourCC("WAVE"),
         "WAVE",
         "wav",
         {{8, 0},
          {16, kSignedInteger},
          {24, kSignedInteger},
          {32, kSignedInteger},
          {32, kFloat},
          {64, kFloat}}},
        {fourCC("caff"),
         "CAF",
         "caf",
         {{16, kBigEndian | kSignedInteger},
          {24, kBigEndian | kSignedInteger},
          {32, kBigEndian | kSignedInteger},
          {16, kSignedInteger},
          {24, kSignedInteger},
          {32, kSignedInteger},
          {32, kBigEndian | kFloat},
          {32, kFloat}}},
    };
    return types;
}

constexpr std::uint32_t kAAC = fourCC("aac ");
constexpr std::uint32_t kALAC = fourCC("alac");
constexpr std::uint32_t kM4A = fourCC("m4af");
constexpr std::uint32_t kCAF = fourCC("caff");
// Apple Lossless from a 24-bit source: the encoder here keeps 24 bits of every sample.
constexpr std::uint32_t kALACFrom24Bit = 3;

const FileType* find(std::uint32_t type) {
    for (const FileType& t : table())
        if (t.type == type)
            return &t;
    return nullptr;
}

} // namespace

std::vector<std::uint32_t> writableFileTypes() {
    std::vector<std::uint32_t> out;
    for (const FileType& t : table())
        out.push_back(t.type);
    out.push_back(kM4A);
    return out;
}

QString fileTypeName(std::uint32_t fileType) {
    if (fileType == kM4A)
        return QStringLiteral("Apple MPEG-4 Audio");
    const FileType* t = find(fileType);
    return t ? QString::fromLatin1(t->name) : QString();
}

QStringList extensionsForType(std::uint32_t fileType) {
    if (fileType == kM4A)
        return {QStringLiteral("m4a")};
    const FileType* t = find(fileType);
    return t ? QString::fromLatin1(t->extensions).split(u' ') : QStringList();
}

std::optional<std::vector<std::uint32_t>> formatIDsForType(std::uint32_t fileType) {
    if (fileType == kM4A)
        return std::vector<std::uint32_t>{kAAC, kALAC};
    if (!find(fileType))
        return std::nullopt;
    // libsndfile writes Apple Lossless into CAF files as well.
    if (fileType == kCAF)
        return std::vector<std::uint32_t>{kAudioFormatLinearPCM, kALAC};
    return std::vector<std::uint32_t>{kAudioFormatLinearPCM};
}

std::optional<std::vector<AudioStreamBasicDescription>>
streamDescriptionsFor(std::uint32_t fileType, std::uint32_t formatID) {
    if ((fileType == kM4A && (formatID == kAAC || formatID == kALAC)) ||
        (fileType == kCAF && formatID == kALAC)) {
        AudioStreamBasicDescription d;
        d.mFormatID = formatID;
        d.mFormatFlags = formatID == kALAC ? kALACFrom24Bit : 0;
        d.mFramesPerPacket = formatID == kALAC ? 4096 : 1024;
        return std::vector<AudioStreamBasicDescription>{d};
    }
    const FileType* t = find(fileType);
    if (!t || formatID != kAudioFormatLinearPCM)
        return std::nullopt;
    std::vector<AudioStreamBasicDescription> out;
    for (const Pcm& p : t->pcm)
        out.push_back(describe(p));
    return out;
}

std::vector<std::uint32_t> encodeFormatIDs() {
    return {kAudioFormatLinearPCM, kAAC, kALAC};
}

std::vector<std::uint32_t> availableEncodeNumberChannels(const AudioStreamBasicDescription& d) {
    if (d.mFormatID == kAudioFormatLinearPCM)
        return {kAnyNumberOfChannels};
    if (d.mFormatID == kAAC || d.mFormatID == kALAC)
        return {1, 2, 3, 4, 5, 6, 7, 8};
    return {};
}

std::optional<std::vector<double>> availableEncodeBitRates(std::uint32_t formatID) {
    const auto encodable = encodeFormatIDs();
    if (std::find(encodable.begin(), encodable.end(), formatID) == encodable.end())
        return std::nullopt;
    if (formatID == kAAC)
        return std::vector<double>{32000,  48000,  64000,  96000, 128000,
                                   160000, 192000, 256000, 320000};
    return std::vector<double>{}; // PCM and lossless take no bit rate
}

namespace {

// The rates of the AAC encoder here (the MPEG-4 sampling-frequency table, 7350 Hz left out).
constexpr double kAacRates[] = {8000,  11025, 12000, 16000, 22050, 24000,
                                32000, 44100, 48000, 64000, 88200, 96000};
// The lossless encoder takes any rate; these are the ones a menu lists.
constexpr double kAlacRates[] = {8000,  11025, 12000, 16000, 22050, 24000,  32000,
                                 44100, 48000, 64000, 88200, 96000, 176400, 192000};
constexpr double kAacBitRates[] = {32000,  48000,  64000,  80000,  96000,  112000,
                                   128000, 160000, 192000, 224000, 256000, 320000,
                                   384000, 448000, 512000, 640000, 768000};
// Below this per channel the encoder's output is no use; above the frame limit it clamps.
constexpr double kAacMinimumPerChannel = 16000;
constexpr double kAacMaximumPerChannel = 320000;

} // namespace

std::optional<std::vector<ValueRange>> applicableEncodeSampleRates(std::uint32_t formatID) {
    std::vector<ValueRange> out;
    if (formatID == kAAC) {
        for (double r : kAacRates)
            out.push_back({r, r});
    } else if (formatID == kALAC) {
        for (double r : kAlacRates)
            out.push_back({r, r});
    } else {
        return std::nullopt;
    }
    return out;
}

std::optional<std::vector<ValueRange>>
applicableEncodeBitRates(std::uint32_t formatID, std::uint32_t channels, double sampleRate) {
    if (formatID != kAAC || channels == 0 || channels > 8 || !(sampleRate > 0.0))
        return std::nullopt;
    // The encoder holds at most 6144 bits per channel in one 1024-sample frame.
    const double frameLimit = 6144.0 * sampleRate / 1024.0;
    const double highest = std::min(frameLimit, kAacMaximumPerChannel) * channels;
    const double lowest = kAacMinimumPerChannel * channels;
    std::vector<ValueRange> out;
    for (double b : kAacBitRates)
        if (b >= lowest && b <= highest)
            out.push_back({b, b});
    return out;
}

double encodeSampleRateFor(std::uint32_t formatID, double requested) {
    const auto rates = applicableEncodeSampleRates(formatID);
    if (!rates || rates->empty())
        return 0.0;
    for (const ValueRange& r : *rates)
        if (requested >= r.minimum && requested <= r.maximum)
            return requested;
    for (const ValueRange& r : *rates)
        if (r.minimum > requested)
            return r.minimum;
    return rates->back().maximum;
}

} // namespace koru::platform::AudioFormatServices
