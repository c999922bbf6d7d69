#include "platform/fourcc/FourCC.h"
#include "zotools/ZOAudioStreamDescription.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

using koru::platform::fourCC;

namespace {

constexpr std::uint32_t kBigEndian = 1u << 1;
constexpr std::uint32_t kSignedInteger = 1u << 2;

AudioStreamBasicDescription pcm(double rate, std::uint32_t flags, std::uint32_t bytesPerFrame,
                                std::uint32_t channels, std::uint32_t bits) {
    AudioStreamBasicDescription d{};
    d.mSampleRate = rate;
    d.mFormatID = kAudioFormatLinearPCM;
    d.mFormatFlags = flags;
    d.mBytesPerPacket = bytesPerFrame;
    d.mFramesPerPacket = 1;
    d.mBytesPerFrame = bytesPerFrame;
    d.mChannelsPerFrame = channels;
    d.mBitsPerChannel = bits;
    return d;
}

AudioStreamBasicDescription compressed(std::uint32_t formatID, std::uint32_t flags,
                                       std::uint32_t channels) {
    AudioStreamBasicDescription d{};
    d.mSampleRate = 44100.0;
    d.mFormatID = formatID;
    d.mFormatFlags = flags;
    d.mFramesPerPacket = 1024;
    d.mChannelsPerFrame = channels;
    return d;
}

TEST(ZOAudioStreamDescription, WrapsACopyOfTheDescription) {
    AudioStreamBasicDescription source =
        pcm(48000.0, kAudioFormatFlagsFloatNonInterleaved, 4, 2, 32);
    source.mReserved = 7;
    const auto wrapped = ZOAudioStreamDescription::streamDescriptionWithDescription(source);
    source.mChannelsPerFrame = 9;
    EXPECT_EQ(wrapped.numberChannels(), 2u);
    EXPECT_EQ(wrapped.streamDescription().mReserved, 7u);
    EXPECT_EQ(wrapped.sampleRate(), 48000.0);

    const auto aac = ZOAudioStreamDescription::streamDescriptionWithFormatID(fourCC("aac "));
    AudioStreamBasicDescription expected{};
    expected.mFormatID = fourCC("aac ");
    EXPECT_EQ(aac, ZOAudioStreamDescription(expected));
}

TEST(ZOAudioStreamDescription, LayoutQueries) {
    struct Case {
        const char* what;
        AudioStreamBasicDescription description;
        bool isPCM;
        std::uint32_t bitDepth;
        bool interleaved;
        std::uint32_t interleavedChannels;
        std::uint32_t channelStreams;
        bool alignmentSignificant;
    };
    const std::vector<Case> cases{
        {"engine format", pcm(48000, kAudioFormatFlagsFloatNonInterleaved, 4, 8, 32), true, 32,
         false, 1, 8, false},
        {"packed 24-bit stereo",
         pcm(44100, kBigEndian | kSignedInteger | kAudioFormatFlagIsPacked, 6, 2, 24), true, 24,
         true, 2, 1, false},
        {"24 bits in 32-bit words", pcm(44100, kSignedInteger, 8, 2, 24), true, 24, true, 2, 1,
         true},
        {"20 bits", pcm(44100, kSignedInteger, 6, 2, 20), true, 20, true, 2, 1, true},
        {"no frame size", pcm(44100, kSignedInteger, 0, 2, 16), true, 16, true, 2, 1, true},
        {"compressed ignores the non-interleaved flag",
         compressed(fourCC("aac "), kAudioFormatFlagIsNonInterleaved, 2), false, 0, true, 2, 1,
         false},
    };
    for (const Case& c : cases) {
        const ZOAudioStreamDescription d(c.description);
        EXPECT_EQ(d.isPCM(), c.isPCM) << c.what;
        EXPECT_EQ(d.bitDepth(), c.bitDepth) << c.what;
        EXPECT_EQ(d.isInterleaved(), c.interleaved) << c.what;
        EXPECT_EQ(d.numberInterleavedChannels(), c.interleavedChannels) << c.what;
        EXPECT_EQ(d.numberChannelStreams(), c.channelStreams) << c.what;
        EXPECT_EQ(d.alignmentIsSignificant(), c.alignmentSignificant) << c.what;
    }
}

TEST(ZOAudioStreamDescription, SetNumberChannelsKeepsTheSampleWord) {
    struct Case {
        const char* what;
        AudioStreamBasicDescription start;
        std::uint32_t channels;
        bool interleaved;
        std::uint32_t bytesPerFrame;
        bool nonInterleavedFlag;
    };
    const std::vector<Case> cases{
        {"packed 24-bit to 4 interleaved", pcm(44100, kSignedInteger, 6, 2, 24), 4, true, 12,
         false},
        {"packed 24-bit to 4 separate", pcm(44100, kSignedInteger, 6, 2, 24), 4, false, 3, true},
        {"separate floats to interleaved",
         pcm(48000, kAudioFormatFlagsFloatNonInterleaved, 4, 8, 32), 2, true, 8, false},
        {"24 bits in 32-bit words", pcm(44100, kSignedInteger, 8, 2, 24), 6, true, 24, false},
        {"word from the bit depth", pcm(44100, kSignedInteger, 0, 0, 20), 2, true, 6, false},
    };
    for (const Case& c : cases) {
        ZOAudioStreamDescription d(c.start);
        d.setNumberChannels(c.channels, c.interleaved);
        const AudioStreamBasicDescription& r = d.streamDescription();
        EXPECT_EQ(r.mChannelsPerFrame, c.channels) << c.what;
        EXPECT_EQ(r.mFramesPerPacket, 1u) << c.what;
        EXPECT_EQ(r.mBytesPerFrame, c.bytesPerFrame) << c.what;
        EXPECT_EQ(r.mBytesPerPacket, c.bytesPerFrame) << c.what;
        EXPECT_EQ(bool(r.mFormatFlags & kAudioFormatFlagIsNonInterleaved), c.nonInterleavedFlag)
            << c.what;
        EXPECT_EQ(r.mFormatFlags & ~kAudioFormatFlagIsNonInterleaved,
                  c.start.mFormatFlags & ~kAudioFormatFlagIsNonInterleaved)
            << c.what;
    }
    ZOAudioStreamDescription shortForm(pcm(44100, kSignedInteger, 4, 2, 16));
    shortForm.setNumberChannels(3);
    EXPECT_EQ(shortForm.streamDescription().mBytesPerFrame, 6u);
    EXPECT_TRUE(shortForm.isInterleaved());
}

struct NameCase {
    const char* what;
    AudioStreamBasicDescription description;
    const char* name;
    const char* withoutChannels;
};

std::vector<NameCase> nameCases() {
    AudioStreamBasicDescription fractional = pcm(44100.5, kSignedInteger, 4, 2, 16);
    AudioStreamBasicDescription noRate = pcm(0, kSignedInteger, 2, 0, 16);
    return {
        {"engine format", pcm(48000, kAudioFormatFlagsFloatNonInterleaved, 4, 2, 32),
         "2 Channel 32-bit Little-Endian Float, non-interleaved, 48000 Hz",
         "2 Channel 32-bit Little-Endian Float, non-interleaved, 48000 Hz"},
        {"big-endian 24-bit", pcm(96000, kBigEndian | kSignedInteger, 6, 2, 24),
         "2 Channel 24-bit Big-Endian Signed Integer, 96000 Hz",
         "2 Channel 24-bit Big-Endian Signed Integer, 96000 Hz"},
        {"8-bit has no byte order", pcm(8000, 0, 1, 1, 8),
         "1 Channel 8-bit Unsigned Integer, 8000 Hz", "1 Channel 8-bit Unsigned Integer, 8000 Hz"},
        {"any channel count", noRate, "0 Channel 16-bit Little-Endian Signed Integer",
         "16-bit Little-Endian Signed Integer"},
        {"ten channels keep their count", pcm(48000, kSignedInteger, 20, 10, 16),
         "10 Channel 16-bit Little-Endian Signed Integer, 48000 Hz",
         "10 Channel 16-bit Little-Endian Signed Integer, 48000 Hz"},
        {"fractional rate", fractional, "2 Channel 16-bit Little-Endian Signed Integer, 44100.5 Hz",
         "2 Channel 16-bit Little-Endian Signed Integer, 44100.5 Hz"},
        {"AAC", compressed(fourCC("aac "), 0, 2), "2 Channel AAC, 44100 Hz",
         "2 Channel AAC, 44100 Hz"},
        {"lossless", compressed(fourCC("alac"), 3, 0), "0 Channel Apple Lossless, 44100 Hz",
         "Apple Lossless, 44100 Hz"},
        {"unknown format", compressed(fourCC("zzzz"), 0, 1), "1 Channel 'zzzz', 44100 Hz",
         "1 Channel 'zzzz', 44100 Hz"},
        {"no format", AudioStreamBasicDescription{}, "", ""},
    };
}

void expectNames() {
    for (const NameCase& c : nameCases()) {
        const ZOAudioStreamDescription d(c.description);
        EXPECT_EQ(d.name(), QString::fromUtf8(c.name)) << c.what;
        EXPECT_EQ(d.nameOmittingChannelInfo(), QString::fromUtf8(c.withoutChannels)) << c.what;
    }
}

TEST(ZOAudioStreamDescription, Names) {
    expectNames();
}

TEST(ZOAudioStreamDescription, NamesDoNotFollowTheLocale) {
    const koru::test::ScopedLocale locale("de_DE.UTF-8");
    if (!locale.active())
        GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    expectNames();
}

} // namespace

namespace {

TEST(ZOAudioStreamDescriptionEncoding, EncoderQueriesAnswerFromTheWritersTable) {
    using koru::platform::fourCC;
    struct Case {
        std::uint32_t format;
        bool encodable;
        std::vector<std::uint32_t> channels;
        bool hasBitRates;
        bool takesBitRates;
    };
    const std::vector<std::uint32_t> upToEight = {1, 2, 3, 4, 5, 6, 7, 8};
    const Case cases[] = {
        {kAudioFormatLinearPCM, true, {0xFFFFFFFF}, true, false},
        {fourCC("aac "), true, upToEight, true, true},
        {fourCC("alac"), true, upToEight, true, false},
        // No writer here produces these: offering them would end in a failed recording.
        {fourCC("ulaw"), false, {}, false, false},
        {fourCC("flac"), false, {}, false, false},
        {0, false, {}, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(koru::platform::fourCCToString(c.format).toStdString());
        const auto d = ZOAudioStreamDescription::streamDescriptionWithFormatID(c.format);
        EXPECT_EQ(d.canBeEncoded(), c.encodable);
        EXPECT_EQ(d.availableEncodeNumberChannels(), c.channels);
        const auto rates = d.availableEncodeBitRates();
        EXPECT_EQ(rates.has_value(), c.hasBitRates);
        if (rates) {
            EXPECT_EQ(rates->empty(), !c.takesBitRates);
            if (c.takesBitRates) {
                EXPECT_NE(std::find(rates->begin(), rates->end(), 128000.0), rates->end());
            }
        }
    }
}

} // namespace
