#include "engine/KOAllocationException.h"
#include "engine/KOBufferException.h"
#include "engine/KOFloatBuffer.h"
#include "engine/KOMathException.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

namespace {

// The fields of a platform audio buffer, as the input unit hands them over.
struct FakeAudioBuffer {
    std::uint32_t mNumberChannels = 1;
    std::uint32_t mDataByteSize = 0;
    void* mData = nullptr;
};

KOFloatBuffer bufferOf(const std::vector<float>& values, bool decibel = false) {
    return KOFloatBuffer(values.data(), std::uint32_t(values.size()), decibel);
}

std::vector<float> valuesOf(const KOFloatBuffer& buffer) {
    return std::vector<float>(buffer.Data(), buffer.Data() + buffer.Length());
}

bool pageAligned(const void* pointer) {
    return reinterpret_cast<std::uintptr_t>(pointer) % 4096 == 0;
}

void expectValuesNear(const KOFloatBuffer& buffer, const std::vector<float>& expected) {
    ASSERT_EQ(buffer.Length(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_NEAR(buffer.Data()[i], expected[i], 1e-6f) << "index " << i;
}

std::uint32_t bufferExceptionCode(const std::function<void()>& make) {
    try {
        make();
    } catch (const KOBufferException& e) {
        return e.code();
    }
    return 0;
}

TEST(KOFloatBufferTest, ConstructorsRefuseEmptyOrMissingData) {
    EXPECT_EQ(bufferExceptionCode([] { KOFloatBuffer b(0u); }), 0x62787A6Cu);
    EXPECT_EQ(bufferExceptionCode([] { KOFloatBuffer b(nullptr, 4, false); }), 0x62786E63u);
    EXPECT_EQ(bufferExceptionCode([] {
                  KOFloatBuffer b(FakeAudioBuffer{1, 16, nullptr}, false);
              }),
              0x62786E63u);
    const float one = 1.0f;
    EXPECT_EQ(bufferExceptionCode([&] { KOFloatBuffer b(&one, 0, false); }), 0x62787A6Cu);
}

TEST(KOFloatBufferTest, LengthConstructorGivesAlignedZeros) {
    const KOFloatBuffer buffer(1000);
    EXPECT_TRUE(pageAligned(buffer.Data()));
    EXPECT_TRUE(buffer.OwnsData());
    EXPECT_FALSE(buffer.IsDecibel());
    EXPECT_EQ(valuesOf(buffer), std::vector<float>(1000, 0.0f));
}

// Runs in a child with a small address space, so the 16 GiB request fails instead of being
// overcommitted.
[[noreturn]] void allocateBeyondTheAddressSpace() {
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // The sanitizers reserve shadow memory far beyond this limit; their allocators refuse the
    // request on their own (allocator_may_return_null with a maximum allocation size).
    const rlimit limit{std::uint64_t(8) << 30, std::uint64_t(8) << 30};
    setrlimit(RLIMIT_AS, &limit);
#endif
    try {
        KOFloatBuffer huge(0xFFFFFFFFu);
    } catch (const KOAllocationException& e) {
        std::exit(std::strcmp(e.what(), "KOFloatBuffer could not allocate memory") == 0 ? 0 : 1);
    }
    std::exit(2);
}

TEST(KOFloatBufferTest, FailedAllocationThrowsTypedExceptionWithItsText) {
    EXPECT_EXIT(allocateBeyondTheAddressSpace(), ::testing::ExitedWithCode(0), "");
}

TEST(KOFloatBufferTest, AudioBufferIsWrappedOrCopied) {
    std::vector<float> samples{1.0f, 2.0f, 3.0f, 4.0f};
    const FakeAudioBuffer audio{1, std::uint32_t(samples.size() * 4), samples.data()};

    KOFloatBuffer wrapped(audio, false);
    EXPECT_EQ(wrapped.Length(), 4u);
    EXPECT_EQ(wrapped.Data(), samples.data());
    EXPECT_FALSE(wrapped.OwnsData());
    wrapped.Scale(2.0f);
    EXPECT_EQ(samples[3], 8.0f);

    KOFloatBuffer copied(audio, true);
    EXPECT_NE(copied.Data(), samples.data());
    EXPECT_TRUE(copied.OwnsData());
    EXPECT_TRUE(pageAligned(copied.Data()));
    copied.Clear();
    EXPECT_EQ(samples[3], 8.0f);
}

TEST(KOFloatBufferTest, CopiesAreDeepAndKeepTheFlag) {
    const auto source = bufferOf({1, 2, 3, 4, 5, 6, 7}, true);
    const KOFloatBuffer half(source, true);
    EXPECT_EQ(valuesOf(half), (std::vector<float>{1, 2, 3}));
    EXPECT_TRUE(half.IsDecibel());

    std::vector<float> samples{9.0f, 8.0f};
    const KOFloatBuffer wrapped(FakeAudioBuffer{1, 8, samples.data()}, false);
    KOFloatBuffer assigned(wrapped);
    EXPECT_TRUE(assigned.OwnsData());
    EXPECT_NE(assigned.Data(), samples.data());
    assigned = source;
    EXPECT_EQ(valuesOf(assigned), valuesOf(source));
    EXPECT_TRUE(assigned.IsDecibel());
    EXPECT_NE(assigned.Data(), source.Data());
    EXPECT_TRUE(pageAligned(assigned.Data()));

    const float* before = assigned.Data();
    auto& self = assigned;
    assigned = self;
    EXPECT_EQ(assigned.Data(), before);

    KOFloatBuffer wrapper(FakeAudioBuffer{1, 8, samples.data()}, false);
    wrapper = source;
    EXPECT_TRUE(wrapper.OwnsData());
    EXPECT_EQ(samples[0], 9.0f);
}

TEST(KOFloatBufferTest, NormalizeScalesToUnitPeakAndLeavesSilenceAlone) {
    auto buffer = bufferOf({1, -4, 2});
    buffer.Normalize(false);
    EXPECT_EQ(valuesOf(buffer), (std::vector<float>{1, -4, 2}));
    buffer.Normalize(true);
    EXPECT_EQ(valuesOf(buffer), (std::vector<float>{0.25f, -1, 0.5f}));

    auto silence = bufferOf({0, 0, 0});
    silence.Normalize(true);
    EXPECT_EQ(valuesOf(silence), (std::vector<float>{0, 0, 0}));
}

TEST(KOFloatBufferTest, ToDecibelsConvertsOnceUntilTheFlagIsCleared) {
    auto power = bufferOf({100, 1, 0.01f});
    power.ToDecibels(0, 1.0f);
    expectValuesNear(power, {20, 0, -20});
    EXPECT_TRUE(power.IsDecibel());
    power.ToDecibels(0, 1.0f);
    expectValuesNear(power, {20, 0, -20});

    auto amplitude = bufferOf({2, 20});
    amplitude.ToDecibels(1, 2.0f);
    expectValuesNear(amplitude, {0, 20});

    power.SetDecibel(false);
    power.ToDecibels(1, 20.0f);
    EXPECT_FLOAT_EQ(power.Data()[0], 0.0f);
}

TEST(KOFloatBufferTest, ElementwiseArithmetic) {
    auto a = bufferOf({1, -2, 3, 5});
    const auto b = bufferOf({2, 2, -1, 0.5f});
    a.Multiply(b).Add(b).Scale(0.5f).Subtract(bufferOf({1, 1, 1, 1}));
    expectValuesNear(a, {1, -2, -3, 0.5f});

    a.Clip(-1.5f, 0.75f);
    expectValuesNear(a, {0.75f, -1.5f, -1.5f, 0.5f});
    a.Fill(3);
    expectValuesNear(a, {3, 3, 3, 3});
    a.Clear();
    expectValuesNear(a, {0, 0, 0, 0});
}

TEST(KOFloatBufferTest, ThresholdZeroesOnlyWhatLiesBelow) {
    auto buffer = bufferOf({0.49f, 0.5f, 0.51f, -3});
    buffer.Threshold(0.5f);
    EXPECT_EQ(valuesOf(buffer), (std::vector<float>{0, 0.5f, 0.51f, 0}));
}

TEST(KOFloatBufferTest, MeasuresAndLookups) {
    const auto buffer = bufferOf({1, -5, 5, 2, 3, 0});
    float value = 0;
    std::uint32_t index = 99;
    buffer.MaxMagnitude(value, index);
    EXPECT_EQ(value, 5.0f);
    EXPECT_EQ(index, 1u);

    EXPECT_FLOAT_EQ(buffer.Mean(false), 1.0f);
    EXPECT_FLOAT_EQ(buffer.Mean(true), 1.0f / 3.0f);
    EXPECT_EQ(buffer.ValueAt(2), 5.0f);
    EXPECT_EQ(buffer.ValueAt(buffer.Length()), 0.0f);
    EXPECT_EQ(buffer.ValueAt(1000), 0.0f);
}

TEST(KOFloatBufferTest, CorrelationOfAlikeAndOpposedSignals) {
    const auto a = bufferOf({1, 2, -1, 0.5f});
    auto negated = a;
    negated.Scale(-3.0f);
    // dot / (rms·rms) / length: 1 for the same shape, -1 for the opposite one.
    EXPECT_NEAR(a.Correlation(a), 1.0f, 1e-6f);
    EXPECT_NEAR(a.Correlation(negated), -1.0f, 1e-6f);
    // rms(other) runs over the other buffer's own length.
    const auto longer = bufferOf({1, 2, -1, 0.5f, 0, 0, 0, 0});
    EXPECT_NEAR(a.Correlation(longer), std::sqrt(2.0f), 1e-5f);
}

TEST(KOFloatBufferTest, InterpolateFollowsTheBracketingRule) {
    const auto values = bufferOf({10, 20, 40});
    const auto positions = bufferOf({1, 2, 4});
    KOFloatBuffer out(7);
    values.Interpolate(out, positions);
    // n <= first abscissa: first value; positions[m] < n <= positions[m+1]: linear; past the end:
    // last value.
    expectValuesNear(out, {10, 10, 20, 30, 40, 40, 40});

    try {
        values.Interpolate(out, bufferOf({0, 1}));
        FAIL() << "expected KOMathException";
    } catch (const KOMathException& e) {
        EXPECT_EQ(e.code(), 20u);
    }
}

TEST(KOFloatBufferTest, InterpolateRangeResamplesOntoTheDestination) {
    auto samples = bufferOf({0, 3, 6});
    KOFloatBuffer out(7);
    samples.InterpolateRange(out, 0.0f, 6.0f);
    expectValuesNear(out, {0, 1, 2, 3, 4, 5, 6});
}

TEST(KOFloatBufferTest, InterpolateRangeStillWorksAfterAResize) {
    auto samples = bufferOf({0, 3, 6});
    KOFloatBuffer out(4);
    samples.InterpolateRange(out, 0.0f, 3.0f);
    samples.ResizeTo(5);
    ASSERT_NO_THROW(samples.InterpolateRange(out, 0.0f, 3.0f));
    // The five resampled values (0, 1.2, 2.4, 3.6, 4.8) spread over 0 ... 3.
    expectValuesNear(out, {0, 1.6f, 3.2f, 4.8f});
}

TEST(KOFloatBufferTest, ResizeToPlacesOldSamplesOverTheNewLength) {
    auto buffer = bufferOf({0, 1, 2}, true);
    buffer.ResizeTo(5);
    expectValuesNear(buffer, {0, 0.4f, 0.8f, 1.2f, 1.6f});
    EXPECT_TRUE(buffer.IsDecibel());
    EXPECT_TRUE(pageAligned(buffer.Data()));

    buffer.ResizeTo(2);
    expectValuesNear(buffer, {0, 0.8f});

    const float* before = buffer.Data();
    buffer.ResizeTo(2);
    EXPECT_EQ(buffer.Data(), before);

    auto single = bufferOf({7});
    single.ResizeTo(3);
    expectValuesNear(single, {7, 7, 7});

    EXPECT_EQ(bufferExceptionCode([&] { buffer.ResizeTo(0); }), 0x62787A6Cu);
    expectValuesNear(buffer, {0, 0.8f});
}

TEST(KOFloatBufferTest, ResizeOfAWrappedBufferTakesOwnStorage) {
    std::vector<float> samples{0, 2, 4};
    KOFloatBuffer wrapped(FakeAudioBuffer{1, 12, samples.data()}, false);
    wrapped.ResizeTo(6);
    EXPECT_TRUE(wrapped.OwnsData());
    EXPECT_EQ(samples, (std::vector<float>{0, 2, 4}));
}

TEST(KOFloatBufferTest, StretchMovesContentAlongTheIndexAxis) {
    auto wider = bufferOf({0, 1, 2, 3});
    wider.Stretch(2.0, 1.0);
    expectValuesNear(wider, {0, 0.375f, 0.75f, 1.125f});

    auto narrower = bufferOf({0, 1, 2, 3});
    narrower.Stretch(1.0, 2.0);
    expectValuesNear(narrower, {0, 1.5f, 3, 3});
}

} // namespace
