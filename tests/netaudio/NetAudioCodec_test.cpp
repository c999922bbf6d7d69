#include "netaudio/NetAudioCodec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using namespace koru::netaudio;

namespace {

struct CodecCase {
    std::uint32_t format;
    WireCodec codec;
    std::size_t bytesFor1024;
    float bound; // largest error allowed on a 0.5-amplitude low tone
};

class CodecRoundTrip : public ::testing::TestWithParam<CodecCase> {};

TEST_P(CodecRoundTrip, DecodesWithinTheCodecsBound) {
    const CodecCase c = GetParam();
    ASSERT_EQ(codecForFormat(c.format), c.codec);
    constexpr std::uint32_t kFrames = 1024;
    std::vector<float> l(kFrames), r(kFrames);
    for (std::uint32_t i = 0; i < kFrames; ++i) {
        l[i] = 0.5f * std::sin(2.0f * 3.14159265f * 440.0f * float(i) / 48000.0f);
        r[i] = -0.25f * std::cos(2.0f * 3.14159265f * 200.0f * float(i) / 48000.0f);
    }
    std::vector<std::uint8_t> wire(encodedBytes(c.codec, kFrames));
    ASSERT_EQ(wire.size(), c.bytesFor1024);
    ImaState ima;
    ASSERT_EQ(encode(c.codec, l.data(), r.data(), kFrames, wire.data(), ima), wire.size());
    std::vector<float> dl(kFrames), dr(kFrames);
    ASSERT_TRUE(decode(c.codec, wire.data(), wire.size(), kFrames, dl.data(), dr.data()));
    float worst = 0.0f;
    // The adaptive codec needs a few samples to find its step size.
    const std::uint32_t from = c.codec == WireCodec::Ima4 ? 32 : 0;
    for (std::uint32_t i = from; i < kFrames; ++i)
        worst = std::max({worst, std::abs(dl[i] - l[i]), std::abs(dr[i] - r[i])});
    EXPECT_LE(worst, c.bound);
    // A size one byte off is refused.
    EXPECT_FALSE(decode(c.codec, wire.data(), wire.size() - 1, kFrames, dl.data(), dr.data()));
}

INSTANTIATE_TEST_SUITE_P(Formats, CodecRoundTrip,
                         ::testing::Values(CodecCase{0, WireCodec::Float32, 8192, 0.0f},
                                           CodecCase{1, WireCodec::Int24, 6144, 0.51f / 8388608.0f},
                                           CodecCase{2, WireCodec::Int16, 4096, 0.51f / 32768.0f},
                                           CodecCase{5, WireCodec::MuLaw, 2048, 0.5f / 32.0f},
                                           CodecCase{6, WireCodec::Ima4, 1152, 0.02f},
                                           CodecCase{3, WireCodec::Int24, 6144, 0.51f / 8388608.0f},
                                           CodecCase{4, WireCodec::Int16, 4096, 0.51f / 32768.0f},
                                           CodecCase{12, WireCodec::Int16, 4096, 0.51f / 32768.0f}),
                         [](const ::testing::TestParamInfo<CodecCase>& info) {
                             return "Format" + std::to_string(info.param.format);
                         });

TEST(NetAudioCodec, FormatNamesCoverEighteenIndices) {
    EXPECT_STREQ(formatName(0), "PCM, Float 32 bit");
    EXPECT_STREQ(formatName(6), "IMA-4");
    EXPECT_STREQ(formatName(17), "AAC Low Delay, 32kbps");
    EXPECT_EQ(formatName(18), nullptr);
}

TEST(NetAudioCodec, OutOfRangeAndNonFiniteSamplesAreTamed) {
    const float in[4] = {1.5f, -1.5f, std::numeric_limits<float>::quiet_NaN(),
                         std::numeric_limits<float>::infinity()};
    const float zero[4] = {0, 0, 0, 0};
    for (WireCodec codec : {WireCodec::Int24, WireCodec::Int16, WireCodec::MuLaw}) {
        SCOPED_TRACE(int(codec));
        std::vector<std::uint8_t> wire(encodedBytes(codec, 4));
        ImaState ima;
        encode(codec, in, zero, 4, wire.data(), ima);
        float l[4], r[4];
        ASSERT_TRUE(decode(codec, wire.data(), wire.size(), 4, l, r));
        EXPECT_GT(l[0], 0.96f); // clamped to full scale, not wrapped to a negative value
        EXPECT_LE(l[0], 1.0f);
        EXPECT_LT(l[1], -0.96f);
        EXPECT_EQ(l[2], 0.0f);
        EXPECT_EQ(l[3], 0.0f);
    }
    // A float stream carrying NaN or infinity from a foreign sender decodes to 0.
    std::vector<std::uint8_t> wire(encodedBytes(WireCodec::Float32, 4));
    ImaState ima;
    encode(WireCodec::Float32, in, zero, 4, wire.data(), ima);
    float l[4], r[4];
    ASSERT_TRUE(decode(WireCodec::Float32, wire.data(), wire.size(), 4, l, r));
    EXPECT_EQ(l[0], 1.5f);
    EXPECT_EQ(l[2], 0.0f);
    EXPECT_EQ(l[3], 0.0f);
}

TEST(NetAudioCodec, MuLawMatchesKnownCodes) {
    EXPECT_EQ(muLawEncode(0), 0xFF);
    EXPECT_EQ(muLawEncode(-1), 0x7F);
    EXPECT_EQ(muLawEncode(32767), 0x80);
    EXPECT_EQ(muLawEncode(-32768), 0x00);
    EXPECT_EQ(muLawDecode(0xFF), 0);
    EXPECT_EQ(muLawDecode(0x80), 32124);
    EXPECT_EQ(muLawDecode(0x00), -32124);
}

TEST(NetAudioCodec, ImaBlockWithHostileStepIndexDecodes) {
    std::vector<std::uint8_t> wire(kImaBlockBytes, 0x77);
    wire[2] = 250; // far past the step table
    wire[38] = 255;
    float l[64], r[64];
    ASSERT_TRUE(decode(WireCodec::Ima4, wire.data(), wire.size(), 64, l, r));
    for (float v : l)
        EXPECT_TRUE(std::abs(v) <= 1.0f);
    // Not a whole block.
    EXPECT_FALSE(decode(WireCodec::Ima4, wire.data(), wire.size(), 63, l, r));
}

} // namespace
