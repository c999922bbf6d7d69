#pragma once

#include "platform/audio/AudioTypes.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

// One stream description held by value: the device's format, a recording file's format. The
// queries read the description's fields only; nothing here asks the audio back-ends.
class ZOAudioStreamDescription {
public:
    // All fields zero.
    ZOAudioStreamDescription() = default;
    explicit ZOAudioStreamDescription(const AudioStreamBasicDescription& description)
        : m_description(description) {}

    static ZOAudioStreamDescription
    streamDescriptionWithDescription(const AudioStreamBasicDescription& description) {
        return ZOAudioStreamDescription(description);
    }
    // All fields zero but the format.
    static ZOAudioStreamDescription streamDescriptionWithFormatID(std::uint32_t formatID);

    const AudioStreamBasicDescription& streamDescription() const { return m_description; }
    double sampleRate() const { return m_description.mSampleRate; }
    void setSampleRate(double rate) { m_description.mSampleRate = rate; }
    std::uint32_t numberChannels() const { return m_description.mChannelsPerFrame; }

    bool isPCM() const { return m_description.mFormatID == kAudioFormatLinearPCM; }
    // 0 for compressed formats.
    std::uint32_t bitDepth() const { return isPCM() ? m_description.mBitsPerChannel : 0; }
    bool isInterleaved() const;
    std::uint32_t numberInterleavedChannels() const;
    std::uint32_t numberChannelStreams() const;
    // True when samples do not fill their words exactly, so their placement in the word matters.
    bool alignmentIsSignificant() const;

    // One frame per packet; the word size of a sample is kept (or derived from the bit depth
    // when the description has none).
    void setNumberChannels(std::uint32_t channels, bool interleaved);
    void setNumberChannels(std::uint32_t channels) { setNumberChannels(channels, true); }

    // A one-line description such as "2 Channel 32-bit Little-Endian Float, non-interleaved,
    // 48000 Hz"; empty when the description names no format.
    QString name() const;
    // The name without its channel count when that count is 0 (a format offered for any number
    // of channels).
    QString nameOmittingChannelInfo() const;

    // Encoder limits of this description's format, as the file writers here have them.
    // 0xFFFFFFFF alone means any number of channels; empty when nothing encodes the format.
    std::vector<std::uint32_t> availableEncodeNumberChannels() const;
    // Bit rates in bits per second; nullopt when the format is not encoded here.
    std::optional<std::vector<double>> availableEncodeBitRates() const;
    bool canBeEncoded() const;

    friend bool operator==(const ZOAudioStreamDescription& a, const ZOAudioStreamDescription& b);

private:
    std::uint32_t sampleWordBytes() const;

    AudioStreamBasicDescription m_description{};
};
