#include "AllocationCounter.h"
#include "EngineTestSupport.h"
#include "engine/FilePlayerUnit.h"
#include "platform/audiofile/AudioFileError.h"
#include "support/TestAudioFiles.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <samplerate.h>

#include <cmath>

using koru::FilePlayerUnit;
using koru::test::rampValue;
using koru::test::TestSignal;

namespace {

constexpr int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;

// What the player sent to the speakers, channel by channel.
struct Played {
    std::vector<float> left;
    std::vector<float> right;
};

class FilePlayerTest : public ::testing::Test {
protected:
    void SetUp() override { mPlayer.setSampleRate(48000.0); }

    QString write(const std::string& name, const TestSignal& signal, int format = kWav16) {
        const std::string path = mFolder.filePath(QString::fromStdString(name)).toStdString();
        EXPECT_TRUE(koru::test::writeSoundFile(path, format, signal));
        return QString::fromStdString(path);
    }

    void load(const QString& path) {
        mPlayer.load(path);
        ASSERT_TRUE(mPlayer.waitUntilIdle());
    }

    // Renders as the output thread would, 1024 frames at a time, the disk catching up between
    // buffers as it does in the seconds the FIFO holds.
    Played render(std::int64_t frames) {
        Played played;
        std::vector<float> left(1024);
        std::vector<float> right(1024);
        for (std::int64_t done = 0; done < frames; done += 1024) {
            EXPECT_TRUE(mPlayer.waitUntilIdle());
            const auto count = std::uint32_t(std::min<std::int64_t>(1024, frames - done));
            float* channels[2] = {left.data(), right.data()};
            mPlayer.render(channels, count);
            played.left.insert(played.left.end(), left.begin(), left.begin() + count);
            played.right.insert(played.right.end(), right.begin(), right.begin() + count);
        }
        return played;
    }

    // The file's frames from `first` on, its first channel on the left, its second (or, for
    // mono, its first) on the right, `count` frames, wrapping round when `loops`.
    static void expectFile(const Played& played, std::size_t at, std::int64_t first,
                           std::int64_t count, std::int64_t length, int channels) {
        for (std::int64_t i = 0; i < count; ++i) {
            const std::int64_t frame = (first + i) % length;
            ASSERT_EQ(played.left[at + std::size_t(i)], rampValue(frame, 0)) << "frame " << i;
            ASSERT_EQ(played.right[at + std::size_t(i)], rampValue(frame, channels > 1 ? 1 : 0))
                << "frame " << i;
        }
    }

    static bool silent(const Played& played, std::size_t from) {
        for (std::size_t i = from; i < played.left.size(); ++i) {
            if (played.left[i] != 0.0f || played.right[i] != 0.0f) {
                return false;
            }
        }
        return true;
    }

    QTemporaryDir mFolder;
    FilePlayerUnit mPlayer;
};

// ---- channels ---------------------------------------------------------------------------------

struct ChannelCase {
    const char* name;
    int channels;
};

class ChannelMapTest : public FilePlayerTest, public ::testing::WithParamInterface<ChannelCase> {};

// Mono goes to both sides, stereo to left and right, of more channels the first two play; at
// the file's own rate every sample comes through untouched, and after the end only silence.
TEST_P(ChannelMapTest, PlaysTheFileOnTwoChannelsThenEnds) {
    const int channels = GetParam().channels;
    load(write("ramps.wav", koru::test::ramps(48000, 5000, channels)));
    EXPECT_EQ(mPlayer.file().channels, channels);
    mPlayer.play();
    const Played played = render(8192);
    expectFile(played, 0, 0, 5000, 5000, channels);
    EXPECT_TRUE(silent(played, 5000));
    EXPECT_TRUE(mPlayer.atEnd());
    EXPECT_FALSE(mPlayer.isPlaying());
    EXPECT_DOUBLE_EQ(mPlayer.position(), mPlayer.duration());
    EXPECT_EQ(mPlayer.underruns(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Files, ChannelMapTest,
                         ::testing::Values(ChannelCase{"Mono", 1}, ChannelCase{"Stereo", 2},
                                           ChannelCase{"FourChannels", 4}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- rate conversion --------------------------------------------------------------------------

// The file's two channels converted to `rate` in one go from frame `from` on: what the player
// must give out after a seek there.
Played referenceConversion(const TestSignal& signal, std::int64_t from, double rate) {
    const std::int64_t frames = signal.length() - from;
    const double ratio = rate / signal.rate;
    std::vector<float> out(std::size_t(double(frames) * ratio + 64) * 2);
    SRC_DATA data{};
    data.data_in = signal.frames.data() + from * 2;
    data.input_frames = long(frames);
    data.data_out = out.data();
    data.output_frames = long(out.size() / 2);
    data.src_ratio = ratio;
    EXPECT_EQ(src_simple(&data, SRC_SINC_MEDIUM_QUALITY, 2), 0);
    Played reference;
    for (long i = 0; i < data.output_frames_gen; ++i) {
        reference.left.push_back(out[std::size_t(2 * i)]);
        reference.right.push_back(out[std::size_t(2 * i + 1)]);
    }
    return reference;
}

// The player converts piece by piece as the FIFO empties; that agrees with the one-shot reference
// to about −90 dB, far below anything a wrong start, a dropped frame or a stale converter gives.
void expectClose(const Played& played, const Played& reference, std::size_t count) {
    ASSERT_GE(played.left.size(), count);
    ASSERT_GE(reference.left.size(), count);
    for (std::size_t i = 0; i < count; ++i) {
        ASSERT_NEAR(played.left[i], reference.left[i], 1e-4) << "frame " << i;
        ASSERT_NEAR(played.right[i], reference.right[i], 1e-4) << "frame " << i;
    }
}

double rmsDecibels(const std::vector<float>& x, std::size_t from, std::size_t to) {
    double sum = 0.0;
    for (std::size_t i = from; i < to; ++i) {
        sum += double(x[i]) * x[i];
    }
    return 10.0 * std::log10(sum / double(to - from));
}

TEST_F(FilePlayerTest, A441kHzFilePlaysAt48kHzAsAReferenceConversionDoes) {
    const TestSignal signal = koru::test::sines(44100, 44100, {1000.0, 3000.0}, {0.5, 0.25});
    load(write("tones.wav", signal));
    mPlayer.play();
    const Played played = render(50000);
    const Played reference = referenceConversion(signal, 0, 48000.0);

    expectClose(played, reference, reference.left.size());
    EXPECT_TRUE(silent(played, reference.left.size()));
    // The tones as a measurement would see them: frequency and level at the engine's rate.
    const std::vector<float> left(played.left.begin() + 1000, played.left.begin() + 47000);
    const std::vector<float> right(played.right.begin() + 1000, played.right.begin() + 47000);
    EXPECT_NEAR(koru::test::frequencyOf(left, 48000.0), 1000.0, 1.0);
    EXPECT_NEAR(koru::test::frequencyOf(right, 48000.0), 3000.0, 3.0);
    EXPECT_NEAR(rmsDecibels(played.left, 1000, 47000), 20 * std::log10(0.5 / std::sqrt(2.0)), 0.05);
    EXPECT_NEAR(rmsDecibels(played.right, 1000, 47000), 20 * std::log10(0.25 / std::sqrt(2.0)),
                0.05);
}

// A seek restarts the converter at the new place: nothing of what played before leaks into it.
TEST_F(FilePlayerTest, SeekingWhileConvertingStartsAFreshConversionThere) {
    const TestSignal signal = koru::test::sines(44100, 44100, {1000.0, 3000.0}, {0.5, 0.25});
    load(write("tones.wav", signal));
    mPlayer.play();
    render(10000);
    mPlayer.seek(0.5);
    const Played played = render(20000);
    expectClose(played, referenceConversion(signal, 22050, 48000.0), 20000);
    EXPECT_NEAR(mPlayer.position(), 0.5 + 20000.0 / 48000.0, 1.0 / 44100);
}

// The engine's rate changes while the file plays: it goes on where it was, at the new rate.
TEST_F(FilePlayerTest, ANewEngineRateKeepsThePlaceAndTheFrequency) {
    load(write("tone.wav", koru::test::sines(48000, 96000, {1000.0, 1000.0}, {0.5, 0.5})));
    mPlayer.play();
    render(24000);
    mPlayer.setSampleRate(96000.0);
    ASSERT_TRUE(mPlayer.waitUntilIdle());
    EXPECT_NEAR(mPlayer.position(), 0.5, 1.0 / 48000);
    const Played played = render(48000);
    EXPECT_NEAR(koru::test::frequencyOf(played.left, 96000.0), 1000.0, 1.0);
    EXPECT_NEAR(mPlayer.position(), 1.0, 1.0 / 48000);
}

// ---- loop -------------------------------------------------------------------------------------

TEST_F(FilePlayerTest, LoopRunsTheFileOnFromItsStartWithoutAGap) {
    load(write("short.wav", koru::test::ramps(48000, 3000, 2)));
    mPlayer.setLoop(true);
    mPlayer.play();
    const Played played = render(10000);
    expectFile(played, 0, 0, 10000, 3000, 2);
    EXPECT_TRUE(mPlayer.isPlaying());
    EXPECT_NEAR(mPlayer.position(), 1000.0 / 48000, 1e-9);
}

// The FIFO already holds the file's start again after a wrap: turning loop off ends at that
// wrap, not after the extra rounds.
TEST_F(FilePlayerTest, LoopTurnedOffEndsAtTheNextWrap) {
    load(write("short.wav", koru::test::ramps(48000, 3000, 2)));
    mPlayer.setLoop(true);
    mPlayer.play();
    render(1000);
    mPlayer.setLoop(false);
    const Played played = render(5000);
    expectFile(played, 0, 1000, 2000, 3000, 2);
    EXPECT_TRUE(silent(played, 2000));
    EXPECT_TRUE(mPlayer.atEnd());
}

// The end was already written when loop is turned on: playback runs on into the start.
TEST_F(FilePlayerTest, LoopTurnedOnBeforeTheEndIsHeardCarriesOn) {
    load(write("short.wav", koru::test::ramps(48000, 3000, 2)));
    mPlayer.play();
    render(1000);
    mPlayer.setLoop(true);
    const Played played = render(5000);
    expectFile(played, 0, 1000, 5000, 3000, 2);
    EXPECT_FALSE(mPlayer.atEnd());
}

// ---- seeking and transport --------------------------------------------------------------------

TEST_F(FilePlayerTest, SeekPlaysFromTheNewPlaceAtOnce) {
    load(write("ramps.wav", koru::test::ramps(48000, 48000, 2)));
    mPlayer.play();
    render(5000);
    mPlayer.seek(0.25);
    const Played played = render(2048);
    expectFile(played, 0, 12000, 2048, 48000, 2);
    EXPECT_NEAR(mPlayer.position(), (12000.0 + 2048.0) / 48000, 1e-9);
}

TEST_F(FilePlayerTest, SeekWhilePausedMovesThePositionAndPlayStartsThere) {
    load(write("ramps.wav", koru::test::ramps(48000, 48000, 2)));
    mPlayer.seek(0.5);
    ASSERT_TRUE(mPlayer.waitUntilIdle());
    EXPECT_DOUBLE_EQ(mPlayer.position(), 0.5);
    EXPECT_TRUE(silent(render(2048), 0));
    EXPECT_DOUBLE_EQ(mPlayer.position(), 0.5);
    mPlayer.play();
    expectFile(render(1024), 0, 24000, 1024, 48000, 2);
}

TEST_F(FilePlayerTest, StopPausesAndRewinds) {
    load(write("ramps.wav", koru::test::ramps(48000, 48000, 2)));
    mPlayer.play();
    render(5000);
    mPlayer.stop();
    ASSERT_TRUE(mPlayer.waitUntilIdle());
    EXPECT_FALSE(mPlayer.isPlaying());
    EXPECT_DOUBLE_EQ(mPlayer.position(), 0.0);
    EXPECT_TRUE(silent(render(1024), 0));
    mPlayer.play();
    expectFile(render(1024), 0, 0, 1024, 48000, 2);
}

TEST_F(FilePlayerTest, PlayAfterTheEndStartsAgainFromTheTop) {
    load(write("short.wav", koru::test::ramps(48000, 3000, 2)));
    mPlayer.play();
    render(4096);
    ASSERT_TRUE(mPlayer.atEnd());
    mPlayer.play();
    expectFile(render(3000), 0, 0, 3000, 3000, 2);
}

// ---- bad files --------------------------------------------------------------------------------

TEST_F(FilePlayerTest, AFileThatCannotBePlayedLeavesAnEmptyPlayerEmpty) {
    const std::string path = mFolder.filePath("cut.wav").toStdString();
    ASSERT_TRUE(koru::test::writeSoundFile(path, kWav16, koru::test::ramps(48000, 48000, 2)));
    koru::test::cutFile(path, 0.5);
    EXPECT_THROW(mPlayer.load(QString::fromStdString(path)), koru::platform::AudioFileError);
    EXPECT_FALSE(mPlayer.hasFile());
    mPlayer.play();
    EXPECT_FALSE(mPlayer.isPlaying());
    EXPECT_TRUE(silent(render(2048), 0));
    EXPECT_EQ(mPlayer.duration(), 0.0);
}

TEST_F(FilePlayerTest, AFileThatCannotBePlayedKeepsTheFileLoadedBefore) {
    load(write("ramps.wav", koru::test::ramps(48000, 48000, 2)));
    mPlayer.play();
    render(1000);
    EXPECT_THROW(mPlayer.load(mFolder.filePath("missing.wav")), koru::platform::AudioFileError);
    EXPECT_EQ(mPlayer.file().name, QStringLiteral("ramps.wav"));
    EXPECT_TRUE(mPlayer.isPlaying());
    expectFile(render(1024), 0, 1000, 1024, 48000, 2);
}

// ---- the audio thread -------------------------------------------------------------------------

// Playing, a flush after a seek, the end and pause: render never touches the heap.
TEST_F(FilePlayerTest, RenderNeverAllocates) {
    load(write("short.wav", koru::test::ramps(48000, 30000, 2)));
    std::vector<float> left(1024);
    std::vector<float> right(1024);
    float* channels[2] = {left.data(), right.data()};
    const auto renderCounted = [&] {
        ASSERT_TRUE(mPlayer.waitUntilIdle());
        koru::test::AllocationCounter counter;
        mPlayer.render(channels, 1024);
        EXPECT_EQ(counter.count(), 0u);
    };
    mPlayer.play();
    renderCounted();
    mPlayer.seek(0.5);
    renderCounted();
    for (int i = 0; i < 10; ++i) {
        renderCounted();
    }
    EXPECT_TRUE(mPlayer.atEnd());
    mPlayer.pause();
    mPlayer.seek(0.1);
    renderCounted();
}

} // namespace
