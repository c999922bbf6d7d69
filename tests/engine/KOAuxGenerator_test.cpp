#include "EngineTestSupport.h"
#include "engine/AudioSource.h"
#include "engine/KOAuxGenerator.h"

#include "engine/KOAuxInputException.h"
#include "platform/audio/AudioUnitInstance.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

using koru::test::BufferListStorage;
using koru::test::frequencyOf;
using koru::test::ManualOutput;

namespace {

// Left: the running frame number (exact in float up to 2^24), so every copy shows which frames
// it carries. Right: a sine of `frequency` at the rate the source was told.
class CountingSource : public koru::AudioSource {
public:
    explicit CountingSource(double frequency = 1000.0) : mFrequency(frequency) {}
    void setSampleRate(double rate) override {
        mRate = rate;
        ++mRateChanges;
    }
    void render(float* const* channels, std::uint32_t frames) noexcept override {
        for (std::uint32_t i = 0; i < frames; ++i, ++mFrame) {
            channels[0][i] = float(mFrame);
            channels[1][i] =
                float(std::sin(2.0 * std::numbers::pi * mFrequency * double(mFrame) / mRate));
        }
    }
    double rate() const { return mRate; }
    int rateChanges() const { return mRateChanges; }

private:
    double mFrequency;
    double mRate = 0.0;
    std::uint64_t mFrame = 0;
    int mRateChanges = 0;
};

class GeneratorTest : public ::testing::Test {
protected:
    void make(double outputRate = 48000.0, bool follows = true) {
        auto source = std::make_unique<CountingSource>();
        mSource = source.get();
        auto output = std::make_unique<ManualOutput>(outputRate, follows);
        mOutput = output.get();
        mGenerator =
            std::make_unique<koru::test::TestGenerator>(std::move(source), std::move(output));
    }
    // Engine-side buffers: channels 0 and 1 stand for hardware, 2 and 3 for the generator.
    // The buffers start out holding something else, as the engine's hold the last buffer.
    void render(std::uint32_t frames = 1024) {
        mEngine.fill(2, -1.0f);
        mEngine.fill(3, -1.0f);
        const std::uint64_t starved = mGenerator->StarvedBuffers();
        mGenerator->Render(mEngine.list(), 2, frames);
        mCopied = mGenerator->StarvedBuffers() == starved;
    }
    bool copied() const { return mCopied; }
    bool silent() {
        for (std::uint32_t c = 2; c < 4; ++c) {
            for (float v : mEngine.channel(c)) {
                if (v != 0.0f) {
                    return false;
                }
            }
        }
        return true;
    }
    void expectFramesFrom(std::int64_t first) {
        for (std::uint32_t i = 0; i < 1024; ++i) {
            ASSERT_EQ(mEngine.channel(2)[i], float(first + i)) << i;
        }
    }

    CountingSource* mSource = nullptr;
    ManualOutput* mOutput = nullptr;
    std::unique_ptr<koru::test::TestGenerator> mGenerator;
    BufferListStorage mEngine{4, 1024};
    bool mCopied = false;
};

} // namespace

TEST_F(GeneratorTest, CopiesNothingUntilTheTeeHasStoredTheFramesAsked) {
    make();
    EXPECT_EQ(mGenerator->WritePosition(), KOAuxGenerator::kInitialWritePosition);
    render(); // before Start: the ring knows nothing
    EXPECT_FALSE(copied());

    mGenerator->Start();
    EXPECT_EQ(mGenerator->WritePosition(), 0);
    render();
    EXPECT_FALSE(copied());
    mOutput->pull(512);
    render(); // half of what is asked
    EXPECT_FALSE(copied());
    EXPECT_EQ(mGenerator->ReadPosition(), 0);

    mOutput->pull(512);
    render();
    expectFramesFrom(0);
    mOutput->pull(1024);
    render();
    expectFramesFrom(1024);
    EXPECT_EQ(mGenerator->ReadPosition(), 2048);
}

TEST_F(GeneratorTest, AShortBufferListIsLeftAlone) {
    make();
    mGenerator->Start();
    mOutput->pull();
    BufferListStorage three(3, 1024);
    three.fill(2, -1.0f);
    mGenerator->Render(three.list(), 2, 1024);
    EXPECT_EQ(three.channel(2)[0], -1.0f);
    mGenerator->Render(three.list(), 0xFFFFFFFFu, 1024);
    EXPECT_EQ(mGenerator->ReadPosition(), 0);
}

TEST_F(GeneratorTest, AReaderThatFellOutOfTheRingResumesJustBehindTheWriter) {
    make();
    mGenerator->Start();
    for (int i = 0; i < 70; ++i) { // 71680 frames: more than the ring holds
        mOutput->pull();
    }
    render();
    EXPECT_FALSE(copied());
    EXPECT_EQ(mGenerator->ReadPosition(), 70 * 1024 - KOAuxGenerator::kResyncDistance);
    render();
    expectFramesFrom(70 * 1024 - 1024);
}

TEST_F(GeneratorTest, TheEngineGetsFullScaleWhateverTheVolume) {
    make();
    mGenerator->SetVolume(0.0f);
    EXPECT_EQ(mGenerator->Volume(), 0.0f);
    mGenerator->Start();
    for (float v : mOutput->pull().channel(0)) {
        ASSERT_EQ(v, 0.0f);
    }
    render();
    expectFramesFrom(0);
}

TEST_F(GeneratorTest, ASecondStartBeginsAgainAtZero) {
    make();
    mGenerator->Start();
    mOutput->pull();
    mOutput->pull();
    render();
    mGenerator->Start();
    EXPECT_EQ(mGenerator->ReadPosition(), 0);
    mOutput->pull();
    render();
    expectFramesFrom(2048); // the source runs on; the ring starts again at sample time 0
}

// The source renders at the engine's rate whatever the speakers do.
TEST_F(GeneratorTest, RendersAtTheEngineRate) {
    make(44100.0, true);
    EXPECT_EQ(mSource->rate(), 44100.0);
    mGenerator->SetEngineSampleRate(48000.0);
    EXPECT_EQ(mSource->rate(), 48000.0);
    EXPECT_EQ(mGenerator->OutputSampleRate(), 48000.0); // the output followed
    EXPECT_FALSE(mGenerator->IsConverting());
    const int changes = mSource->rateChanges();
    mGenerator->SetEngineSampleRate(48000.0); // told again on every reconfiguration: no effect
    EXPECT_EQ(mSource->rateChanges(), changes);
}

TEST_F(GeneratorTest, ASpeakerThatKeepsItsRateIsConvertedToWhileTheEngineGetsItsOwnRate) {
    make(44100.0, false);
    mGenerator->SetEngineSampleRate(48000.0);
    ASSERT_TRUE(mGenerator->IsConverting());
    EXPECT_EQ(mSource->rate(), 48000.0);
    mGenerator->Start();
    std::vector<float> speaker;
    for (int i = 0; i < 40; ++i) {
        const auto& right = mOutput->pull().channel(1);
        speaker.insert(speaker.end(), right.begin(), right.end());
    }
    // 40 speaker buffers at 44.1 kHz hold 40 · 1024 · 48000 / 44100 engine frames.
    const double expected = 40.0 * 1024.0 * 48000.0 / 44100.0;
    EXPECT_NEAR(double(mGenerator->WritePosition()), expected, 2.0 * 1024.0);
    const std::vector<float> settled(speaker.begin() + 4096, speaker.end());
    EXPECT_NEAR(frequencyOf(settled, 44100.0), 1000.0, 2.0);

    std::vector<float> engine;
    for (int i = 0; i < 30; ++i) {
        render();
        ASSERT_TRUE(copied());
        engine.insert(engine.end(), mEngine.channel(3).begin(), mEngine.channel(3).end());
    }
    EXPECT_NEAR(frequencyOf(engine, 48000.0), 1000.0, 1.0);
    // The engine's frames are consecutive source frames: nothing resampled on its side.
    EXPECT_EQ(mEngine.channel(2)[1023] - mEngine.channel(2)[0], 1023.0f);
}

// A buffer the ring cannot fill reaches the engine as silence, never as what the engine's buffer
// held before, and is counted.
TEST_F(GeneratorTest, ARingWithoutDataGivesSilenceNotThePreviousBuffer) {
    make();
    render(); // before Start
    EXPECT_FALSE(copied());
    EXPECT_TRUE(silent());
    mGenerator->Start();
    mOutput->pull();
    render();
    expectFramesFrom(0);
    render(); // the output has not played since: nothing new in the ring
    EXPECT_FALSE(copied());
    EXPECT_TRUE(silent());
    mOutput->stop(); // the speakers stop pulling altogether
    render();
    EXPECT_TRUE(silent());
    EXPECT_EQ(mGenerator->StarvedBuffers(), 3u);
}

TEST_F(GeneratorTest, AnOutputThatWillNotStartIsRefusedWithItsCause) {
    make();
    mOutput->refuseStart(kAudioHardwareIllegalOperationError, "\"Busy Speakers\" is in use");
    try {
        mGenerator->Start();
        FAIL() << "started on an output that refused";
    } catch (const KOAuxInputException& failure) {
        EXPECT_EQ(failure.Status(), kAudioHardwareIllegalOperationError);
        EXPECT_EQ(std::string(failure.what()),
                  "its output did not start: \"Busy Speakers\" is in use");
    }
    EXPECT_FALSE(mGenerator->OutputRunning());
    render();
    EXPECT_TRUE(silent());
}
