#include "engine/KOAuxInSignalGenerator.h"

#include "EngineTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

using koru::test::BufferListStorage;
using koru::test::frequencyOf;
using koru::test::ManualOutput;

namespace {

struct Rig {
    explicit Rig(double speakerRate, bool speakersFollow) {
        auto speakers = std::make_unique<ManualOutput>(speakerRate, speakersFollow);
        output = speakers.get();
        generator = std::make_unique<KOAuxInSignalGenerator>(std::move(speakers));
    }
    ManualOutput* output = nullptr;
    std::unique_ptr<KOAuxInSignalGenerator> generator;
};

double peakOf(const std::vector<float>& x) {
    float peak = 0.0f;
    for (const float v : x) {
        peak = std::max(peak, std::fabs(v));
    }
    return peak;
}

} // namespace

TEST(KOAuxInSignalGenerator, NamesItsTwoChannels) {
    Rig rig(48000.0, true);
    EXPECT_EQ(rig.generator->NumberOfChannels(), 2u);
    EXPECT_EQ(rig.generator->Name(0), QStringLiteral("Signal Generator 1"));
    EXPECT_EQ(rig.generator->Name(1), QStringLiteral("Signal Generator 2"));
    EXPECT_EQ(rig.generator->Name(2), QStringLiteral("Signal Generator"));
    EXPECT_EQ(rig.generator->Name(-1), QStringLiteral("Signal Generator"));
}

// Speakers at 44.1 kHz that keep their rate, engine at 48 kHz: the engine's channels carry the
// tone at its own frequency and amplitude, and a new generator is silent on the speakers.
TEST(KOAuxInSignalGenerator, TheEngineGetsTheToneAtItsRateWhileTheSpeakersStaySilent) {
    Rig rig(44100.0, false);
    rig.generator->SetEngineSampleRate(48000.0);
    ASSERT_TRUE(rig.generator->IsConverting());
    EXPECT_EQ(rig.generator->SampleRate(), 48000.0);
    EXPECT_EQ(rig.generator->Volume(), 0.0f);
    rig.generator->SetFrequency(1000.0f);
    rig.generator->SetAmplitude(0.5f);
    rig.generator->Start();

    BufferListStorage engine(4, 1024);
    std::vector<float> left;
    std::vector<float> right;
    for (int pass = 0; pass < 40; ++pass) {
        BufferListStorage& played = rig.output->pull();
        ASSERT_EQ(peakOf(played.channel(0)), 0.0);
        ASSERT_EQ(peakOf(played.channel(1)), 0.0);
        const std::uint64_t starved = rig.generator->StarvedBuffers();
        rig.generator->Render(engine.list(), 2, 1024);
        if (rig.generator->StarvedBuffers() != starved) {
            continue;
        }
        left.insert(left.end(), engine.channel(2).begin(), engine.channel(2).end());
        right.insert(right.end(), engine.channel(3).begin(), engine.channel(3).end());
    }
    ASSERT_GE(left.size(), 20u * 1024u);
    EXPECT_EQ(left, right);
    EXPECT_NEAR(frequencyOf(left, 48000.0), 1000.0, 0.5);
    EXPECT_NEAR(peakOf(left), 0.5, 1e-4);

    // Heard once the output volume is raised: at the speakers' own rate.
    rig.generator->SetVolume(1.0f);
    std::vector<float> heard;
    for (int pass = 0; pass < 20; ++pass) {
        const std::vector<float>& played = rig.output->pull().channel(0);
        heard.insert(heard.end(), played.begin(), played.end());
    }
    EXPECT_NEAR(frequencyOf(heard, 44100.0), 1000.0, 1.0);
    EXPECT_NEAR(peakOf(heard), 0.5, 0.01);
}
