#include "zotools/ZOAudioStreamDescription.h"

#include "platform/audiofile/AudioFormatServices.h"

#include <fmt/format.h>

#include <algorithm>

#include <cstring>

using koru::platform::fourCC;

namespace {

constexpr std::uint32_t kFlagIsBigEndian = 1u << 1;
constexpr std::uint32_t kFlagIsSignedInteger = 1u << 2;

struct FormatName {
    std::uint32_t formatID;
    const char* name;
};

constexpr FormatName kFormatNames[] = {
    {fourCC("aac "), "AAC"},          {fourCC("alac"), "Apple Lossless"},
    {fourCC("flac"), "FLAC"},         {fourCC("opus"), "Opus"},
    {fourCC(".mp3"), "MPEG Layer 3"}, {fourCC("ulaw"), "\xC2\xB5-Law 2:1"},
    {fourCC("alaw"), "A-Law 2:1"},    {fourCC("ima4"), "IMA 4:1"},
};

std::string pcmName(const AudioStreamBasicDescription& d) {
    const char* kind = (d.mFormatFlags & kAudioFormatFlagIsFloat) ? "Float"
                       : (d.mFormatFlags & kFlagIsSignedInteger)  ? "Signed Integer"
                                                                  : "Unsigned Integer";
    if (d.mBitsPerChannel <= 8)
        return fmt::format("{}-bit {}", d.mBitsPerChannel, kind);
    const char* order = (d.mFormatFlags & kFlagIsBigEndian) ? "Big-Endian" : "Little-Endian";
    return fmt::format("{}-bit {} {}", d.mBitsPerChannel, order, kind);
}

std::string compressedName(std::uint32_t formatID) {
    for (const FormatName& entry : kFormatNames) {
        if (entry.formatID == formatID)
            return entry.name;
    }
    return fmt::format("'{}'", koru::platform::fourCCToString(formatID).toStdString());
}

} // namespace

ZOAudioStreamDescription
ZOAudioStreamDescription::streamDescriptionWithFormatID(std::uint32_t formatID) {
    AudioStreamBasicDescription description{};
    description.mFormatID = formatID;
    return ZOAudioStreamDescription(description);
}

bool ZOAudioStreamDescription::isInterleaved() const {
    return !(isPCM() && (m_description.mFormatFlags & kAudioFormatFlagIsNonInterleaved));
}

std::uint32_t ZOAudioStreamDescription::numberInterleavedChannels() const {
    return isInterleaved() ? m_description.mChannelsPerFrame : 1;
}

std::uint32_t ZOAudioStreamDescription::numberChannelStreams() const {
    return isInterleaved() ? 1 : m_description.mChannelsPerFrame;
}

std::uint32_t ZOAudioStreamDescription::sampleWordBytes() const {
    const std::uint32_t channels = numberInterleavedChannels();
    if (m_description.mBytesPerFrame == 0 || channels == 0)
        return 0;
    return m_description.mBytesPerFrame / channels;
}

bool ZOAudioStreamDescription::alignmentIsSignificant() const {
    const std::uint32_t bits = m_description.mBitsPerChannel;
    return bits % 8 != 0 || sampleWordBytes() * 8 != bits;
}

void ZOAudioStreamDescription::setNumberChannels(std::uint32_t channels, bool interleaved) {
    std::uint32_t word = sampleWordBytes();
    if (word == 0)
        word = (m_description.mBitsPerChannel + 7) / 8;
    m_description.mChannelsPerFrame = channels;
    m_description.mFramesPerPacket = 1;
    if (interleaved) {
        m_description.mBytesPerFrame = channels * word;
        m_description.mFormatFlags &= ~kAudioFormatFlagIsNonInterleaved;
    } else {
        m_description.mBytesPerFrame = word;
        m_description.mFormatFlags |= kAudioFormatFlagIsNonInterleaved;
    }
    m_description.mBytesPerPacket = m_description.mBytesPerFrame;
}

QString ZOAudioStreamDescription::name() const {
    if (m_description.mFormatID == 0)
        return {};
    std::string text = fmt::format("{} Channel ", m_description.mChannelsPerFrame);
    text += isPCM() ? pcmName(m_description) : compressedName(m_description.mFormatID);
    if (!isInterleaved())
        text += ", non-interleaved";
    if (m_description.mSampleRate > 0.0)
        text += fmt::format(", {} Hz", m_description.mSampleRate);
    return QString::fromStdString(text);
}

QString ZOAudioStreamDescription::nameOmittingChannelInfo() const {
    // Only the leading count goes: removing every "0 Channel " would turn "10 Channel 24-bit"
    // into "124-bit".
    QString text = name();
    if (m_description.mChannelsPerFrame == 0)
        text.remove(0, int(std::strlen("0 Channel ")));
    return text;
}

bool operator==(const ZOAudioStreamDescription& a, const ZOAudioStreamDescription& b) {
    return std::memcmp(&a.m_description, &b.m_description, sizeof(AudioStreamBasicDescription)) ==
           0;
}

std::vector<std::uint32_t> ZOAudioStreamDescription::availableEncodeNumberChannels() const {
    return koru::platform::AudioFormatServices::availableEncodeNumberChannels(m_description);
}

std::optional<std::vector<double>> ZOAudioStreamDescription::availableEncodeBitRates() const {
    return koru::platform::AudioFormatServices::availableEncodeBitRates(m_description.mFormatID);
}

bool ZOAudioStreamDescription::canBeEncoded() const {
    const auto formats = koru::platform::AudioFormatServices::encodeFormatIDs();
    return std::find(formats.begin(), formats.end(), m_description.mFormatID) != formats.end();
}
