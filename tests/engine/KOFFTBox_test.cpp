#include "engine/KOComplexBuffer.h"
#include "engine/KOFFTBox.h"
#include "platform/fourcc/FourCC.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <stdexcept>
#include <vector>

namespace {

using koru::platform::fourCC;

KOFloatBuffer ramp(std::uint32_t n) {
    KOFloatBuffer buffer(n);
    for (std::uint32_t i = 0; i < n; ++i)
        buffer.Data()[i] = float(i % 17) - 8.0f;
    return buffer;
}

TEST(KOFFTBoxTest, SetupDerivesSizesAndScale) {
    for (std::uint32_t n : {2u, 8u, 1024u, 8192u, 16384u, 32768u, 65536u}) {
        const KOFFTBox box(n, fourCC("hann"));
        EXPECT_EQ(box.Size(), n);
        EXPECT_EQ(1u << box.Log2Size(), n);
        EXPECT_EQ(box.HalfSize(), n / 2);
        EXPECT_FLOAT_EQ(box.Scale(), 2.0f / float(n));
        EXPECT_EQ(box.Window().Length(), n);
    }
    const KOFFTBox box(8192, fourCC("hann"));
    EXPECT_EQ(box.Log2Size(), 13u);
    EXPECT_EQ(box.HalfSize(), 4096u);
}

TEST(KOFFTBoxTest, RefusesSizesThatAreNotPowersOfTwo) {
    EXPECT_THROW(KOFFTBox(1000, fourCC("hann")), std::invalid_argument);
    EXPECT_THROW(KOFFTBox(1, fourCC("hann")), std::invalid_argument);
    KOFFTBox box(64, fourCC("hamm"));
    EXPECT_THROW(box.Setup(96, fourCC("hamm")), std::invalid_argument);
    EXPECT_EQ(box.Size(), 64u);
}

TEST(KOFFTBoxTest, SetupKeepsTheWindowTypeItAlreadyHas) {
    KOFFTBox box(64, fourCC("blkm"));
    box.Setup(128, fourCC("hann"));
    EXPECT_EQ(box.WindowType(), fourCC("blkm"));
    EXPECT_EQ(box.Window().Length(), 128u);

    box.SetWindowType(fourCC("what"));
    EXPECT_EQ(box.WindowType(), fourCC("hann"));
}

TEST(KOFFTBoxTest, ForwardLeavesTheInputWindowed) {
    const std::uint32_t n = 256;
    KOFFTBox hann(n, fourCC("hann"));
    auto input = ramp(n);
    const auto original = input;
    hann.Forward(input);
    for (std::uint32_t i = 0; i < n; ++i)
        ASSERT_FLOAT_EQ(input.Data()[i], original.Data()[i] * hann.Window().Data()[i]);

    KOFFTBox rect(n, fourCC("rect"));
    auto untouched = ramp(n);
    rect.Forward(untouched);
    for (std::uint32_t i = 0; i < n; ++i)
        ASSERT_EQ(untouched.Data()[i], original.Data()[i]);
}

TEST(KOFFTBoxTest, WorkBufferUpperHalfStaysZero) {
    const std::uint32_t n = 512;
    KOFFTBox box(n, fourCC("rect"));
    auto input = ramp(n);
    const KOComplexBuffer& spectrum = box.Forward(input);
    EXPECT_EQ(spectrum.Length(), n);
    for (std::uint32_t k = n / 2; k < n; ++k) {
        ASSERT_EQ(spectrum.Real().Data()[k], 0.0f);
        ASSERT_EQ(spectrum.Imag().Data()[k], 0.0f);
    }
}

TEST(KOFFTBoxTest, HannAtABinCentreReadsTheSpectrumAnalyserAmplitude) {
    // The analyser divides magnitudes by N/2: a bin-centre sine of amplitude A then reads
    // 2·0.8165·A through the normalised Hann window.
    const std::uint32_t n = 8192;
    const std::uint32_t bin = 100;
    const float amplitude = 0.5f;
    KOFFTBox box(n, fourCC("hann"));
    KOFloatBuffer input(n);
    for (std::uint32_t i = 0; i < n; ++i)
        input.Data()[i] = amplitude * float(std::sin(2 * std::numbers::pi * bin * i / n));
    const KOComplexBuffer& spectrum = box.Forward(input);
    KOFloatBuffer magnitudes(n);
    spectrum.Magnitudes(magnitudes);
    EXPECT_NEAR(magnitudes.Data()[bin] / (n / 2), 1.633f * amplitude, 1e-4f);
}

TEST(KOFFTBoxTest, InverseReturnsCallerOwnedSamplesAndRepacksTheSpectrum) {
    const std::uint32_t n = 64;
    KOFFTBox box(n, fourCC("rect"));
    auto input = ramp(n);
    KOComplexBuffer& spectrum = box.Forward(input);
    const auto samples = box.Inverse(spectrum);
    ASSERT_EQ(samples->Length(), n);
    EXPECT_TRUE(samples->OwnsData());
    for (std::uint32_t i = 0; i < n; ++i)
        ASSERT_NEAR(samples->Data()[i], 2.0f * n * input.Data()[i], 1e-3f);
    for (std::uint32_t k = 0; k < n / 2; ++k) {
        ASSERT_EQ(spectrum.Real().Data()[k], samples->Data()[2 * k]);
        ASSERT_EQ(spectrum.Imag().Data()[k], samples->Data()[2 * k + 1]);
    }
}

TEST(KOComplexBufferTest, MagnitudesPhasesAndTheDecibelFlag) {
    KOComplexBuffer z(2);
    z.Real().Data()[0] = 3.0f;
    z.Imag().Data()[0] = 4.0f;
    z.Real().Data()[1] = -1.0f;
    z.Imag().Data()[1] = 0.0f;
    EXPECT_EQ(z.Split().realp, z.Real().Data());
    EXPECT_EQ(z.Split().imagp, z.Imag().Data());

    KOFloatBuffer out(2);
    z.SquaredMagnitudes(out);
    EXPECT_FLOAT_EQ(out.Data()[0], 25.0f);
    out.ToDecibels(0, 1.0f);
    EXPECT_TRUE(out.IsDecibel());
    z.Magnitudes(out);
    EXPECT_FALSE(out.IsDecibel());
    EXPECT_FLOAT_EQ(out.Data()[0], 5.0f);
    out.ToDecibels(1, 1.0f);
    EXPECT_NEAR(out.Data()[0], 20.0f * std::log10(5.0f), 1e-5f);

    z.Phases(out);
    EXPECT_FLOAT_EQ(out.Data()[0], std::atan2(4.0f, 3.0f));
    EXPECT_FLOAT_EQ(out.Data()[1], float(std::numbers::pi));
    EXPECT_TRUE(out.IsDecibel());

    z.Clear();
    z.SquaredMagnitudes(out);
    EXPECT_EQ(out.Data()[0], 0.0f);
}

} // namespace
