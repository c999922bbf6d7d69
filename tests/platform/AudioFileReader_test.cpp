#include "platform/audiofile/AudioFileError.h"
#include "platform/audiofile/AudioFileReader.h"
#include "support/TestAudioFiles.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <unistd.h>

using koru::platform::AudioFileError;
using koru::platform::AudioFileReader;
using koru::test::TestSignal;

namespace {

// How a case's file is written: libsndfile with a format code, or FFmpeg with an encoder.
struct Writer {
    int sndfileFormat = 0;
    const char* encoder = nullptr;
    bool streamable = false;

    bool write(const std::string& path, const TestSignal& signal) const {
        return encoder ? koru::test::writeM4A(path, encoder, signal, streamable)
                       : koru::test::writeSoundFile(path, sndfileFormat, signal);
    }
};

class AudioFileTest : public ::testing::Test {
protected:
    std::string path(const std::string& name) const {
        return mFolder.filePath(QString::fromStdString(name)).toStdString();
    }

    // Everything the reader gives from where it stands, read in uneven pieces.
    static std::vector<float> readAll(AudioFileReader& reader) {
        std::vector<float> all;
        std::vector<float> piece(777 * std::size_t(reader.channels()));
        while (true) {
            const std::int64_t got = reader.read(piece.data(), 777);
            EXPECT_GE(got, 0);
            if (got <= 0) {
                return all;
            }
            all.insert(all.end(), piece.begin(), piece.begin() + got * reader.channels());
        }
    }

    QTemporaryDir mFolder;
};

// ---- lossless: every sample comes back as written, from the start and after a seek ----------

struct LosslessCase {
    const char* name;
    Writer writer;
    friend void PrintTo(const LosslessCase& c, std::ostream* out) { *out << c.name; }
};

class LosslessTest : public AudioFileTest, public ::testing::WithParamInterface<LosslessCase> {};

TEST_P(LosslessTest, ReadsEverySampleAndSeeksToTheFrame) {
    const TestSignal signal = koru::test::ramps(44100, 20000, 3);
    const std::string file = path(GetParam().name);
    ASSERT_TRUE(GetParam().writer.write(file, signal));

    const auto reader = AudioFileReader::open(file);
    ASSERT_EQ(reader->channels(), 3);
    EXPECT_EQ(reader->sampleRate(), 44100.0);
    EXPECT_EQ(reader->frames(), 20000);
    EXPECT_EQ(readAll(*reader), signal.frames);

    ASSERT_TRUE(reader->seek(12345));
    std::vector<float> piece(100 * 3);
    ASSERT_EQ(reader->read(piece.data(), 100), 100);
    for (std::int64_t i = 0; i < 100; ++i) {
        for (int c = 0; c < 3; ++c) {
            ASSERT_EQ(piece[std::size_t(i * 3 + c)], signal.at(12345 + i, c)) << i << " " << c;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, LosslessTest,
    ::testing::Values(LosslessCase{"pcm16.wav", {SF_FORMAT_WAV | SF_FORMAT_PCM_16}},
                      LosslessCase{"float.wav", {SF_FORMAT_WAV | SF_FORMAT_FLOAT}},
                      LosslessCase{"pcm24.aiff", {SF_FORMAT_AIFF | SF_FORMAT_PCM_24}},
                      LosslessCase{"pcm16.caf", {SF_FORMAT_CAF | SF_FORMAT_PCM_16}},
                      LosslessCase{"alac.caf", {SF_FORMAT_CAF | SF_FORMAT_ALAC_16}},
                      LosslessCase{"pcm16.flac", {SF_FORMAT_FLAC | SF_FORMAT_PCM_16}},
                      LosslessCase{"alac.m4a", {0, "alac"}}),
    [](const auto& info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), '.', '_');
        return name;
    });

// ---- lossy: the tones come back at their frequency and level ---------------------------------

struct LossyCase {
    const char* name;
    Writer writer;
    int rate;
    friend void PrintTo(const LossyCase& c, std::ostream* out) { *out << c.name; }
};

class LossyTest : public AudioFileTest, public ::testing::WithParamInterface<LossyCase> {};

// Frequency from the count of rising zero crossings between the first and the last.
double frequencyOf(const std::vector<float>& x, int channels, int channel, double rate) {
    std::int64_t first = -1;
    std::int64_t last = -1;
    int rises = 0;
    const auto frames = std::int64_t(x.size()) / channels;
    for (std::int64_t i = 1; i < frames; ++i) {
        if (x[std::size_t((i - 1) * channels + channel)] < 0.0f &&
            x[std::size_t(i * channels + channel)] >= 0.0f) {
            first = first < 0 ? i : first;
            last = i;
            ++rises;
        }
    }
    return rises < 2 ? 0.0 : (rises - 1) * rate / double(last - first);
}

double rmsOf(const std::vector<float>& x, int channels, int channel) {
    double sum = 0.0;
    const auto frames = std::int64_t(x.size()) / channels;
    for (std::int64_t i = 0; i < frames; ++i) {
        sum +=
            double(x[std::size_t(i * channels + channel)]) * x[std::size_t(i * channels + channel)];
    }
    return std::sqrt(sum / double(frames));
}

TEST_P(LossyTest, TonesKeepTheirFrequencyAndLevel) {
    const int rate = GetParam().rate;
    const TestSignal signal = koru::test::sines(rate, rate, {1000.0, 2500.0}, {0.5, 0.25});
    const std::string file = path(GetParam().name);
    ASSERT_TRUE(GetParam().writer.write(file, signal));

    const auto reader = AudioFileReader::open(file);
    ASSERT_EQ(reader->channels(), 2);
    EXPECT_EQ(reader->sampleRate(), double(rate));
    EXPECT_NEAR(double(reader->frames()), double(rate), rate * 0.05);
    const std::vector<float> all = readAll(*reader);
    EXPECT_NEAR(double(all.size()) / 2, double(rate), rate * 0.05);
    EXPECT_NEAR(frequencyOf(all, 2, 0, rate), 1000.0, 5.0);
    EXPECT_NEAR(frequencyOf(all, 2, 1, rate), 2500.0, 12.0);
    EXPECT_NEAR(20 * std::log10(rmsOf(all, 2, 0) / (0.5 / std::sqrt(2.0))), 0.0, 1.0);
    EXPECT_NEAR(20 * std::log10(rmsOf(all, 2, 1) / (0.25 / std::sqrt(2.0))), 0.0, 1.0);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, LossyTest,
    ::testing::Values(LossyCase{"vorbis.ogg", {SF_FORMAT_OGG | SF_FORMAT_VORBIS}, 44100},
                      LossyCase{"opus.opus", {SF_FORMAT_OGG | SF_FORMAT_OPUS}, 48000},
                      LossyCase{"layer3.mp3", {SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III}, 44100},
                      LossyCase{"aac.m4a", {0, "aac"}, 44100},
                      LossyCase{"aac-streamable.m4a", {0, "aac", true}, 48000}),
    [](const auto& info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), '.', '_');
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

// ---- files that cannot be played: refused with the cause, naming the file ------------------

struct RefusedCase {
    const char* name;
    // Puts the bad file at the path.
    std::function<void(const std::string&)> make;
    AudioFileError::Kind kind;
    const char* says;
    friend void PrintTo(const RefusedCase& c, std::ostream* out) { *out << c.name; }
};

class RefusedTest : public AudioFileTest, public ::testing::WithParamInterface<RefusedCase> {};

void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

// A whole file of a second of tone, then cut to `keep` of its bytes.
std::function<void(const std::string&)> cutShort(Writer writer, double keep) {
    return [writer, keep](const std::string& path) {
        ASSERT_TRUE(writer.write(path, koru::test::sines(48000, 48000, {440.0}, {0.5})));
        koru::test::cutFile(path, keep);
    };
}

TEST_P(RefusedTest, SaysWhyAndNamesTheFile) {
    const std::string file = path(GetParam().name);
    GetParam().make(file);
    try {
        AudioFileReader::open(file);
        FAIL() << "opened";
    } catch (const AudioFileError& error) {
        EXPECT_EQ(int(error.kind()), int(GetParam().kind)) << error.what();
        const std::string message = error.what();
        EXPECT_NE(message.find(std::string("\"") + GetParam().name + "\""), std::string::npos)
            << message;
        EXPECT_NE(message.find(GetParam().says), std::string::npos) << message;
    }
}

using Kind = AudioFileError::Kind;
const Writer kWav{SF_FORMAT_WAV | SF_FORMAT_PCM_16};

INSTANTIATE_TEST_SUITE_P(
    BadFiles, RefusedTest,
    ::testing::Values(
        RefusedCase{"missing.wav", [](const std::string&) {}, Kind::Unreadable, "No such file"},
        RefusedCase{"folder.wav",
                    [](const std::string& p) { std::filesystem::create_directory(p); },
                    Kind::Unreadable, "is a folder"},
        RefusedCase{"empty.wav", [](const std::string& p) { writeText(p, ""); }, Kind::NoAudio,
                    "is empty"},
        RefusedCase{"notes.txt",
                    [](const std::string& p) { writeText(p, "Level check at 94 dB\n"); },
                    Kind::Unsupported, "not an audio file"},
        RefusedCase{"silence.wav",
                    [](const std::string& p) {
                        ASSERT_TRUE(kWav.write(p, TestSignal{1, 48000, {}}));
                    },
                    Kind::NoAudio, "contains no audio"},
        RefusedCase{"half.wav", cutShort(kWav, 0.5), Kind::Damaged, "cut short"},
        RefusedCase{"header.wav", cutShort(kWav, 0.0003), Kind::Damaged, "cut short"},
        RefusedCase{"half.aiff", cutShort({SF_FORMAT_AIFF | SF_FORMAT_PCM_16}, 0.5), Kind::Damaged,
                    "cut short"},
        RefusedCase{"half.caf", cutShort({SF_FORMAT_CAF | SF_FORMAT_PCM_16}, 0.5), Kind::Damaged,
                    "cut short"},
        RefusedCase{"half.flac", cutShort({SF_FORMAT_FLAC | SF_FORMAT_PCM_16}, 0.5), Kind::Damaged,
                    "cut short"},
        RefusedCase{"half.ogg", cutShort({SF_FORMAT_OGG | SF_FORMAT_VORBIS}, 0.5), Kind::Damaged,
                    "cut short"},
        RefusedCase{"half.mp3", cutShort({SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III}, 0.5),
                    Kind::Damaged, "cut short"},
        RefusedCase{"half.m4a", cutShort({0, "alac"}, 0.5), Kind::Damaged, "cut short"},
        RefusedCase{"half-streamable.m4a", cutShort({0, "alac", true}, 0.5), Kind::Damaged,
                    "cut short"}),
    [](const auto& info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), '.', '_');
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

TEST_F(AudioFileTest, AFileWithoutReadPermissionIsRefusedAsUnreadable) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "permissions do not bind root";
    }
    const std::string file = path("locked.wav");
    ASSERT_TRUE(kWav.write(file, koru::test::sines(48000, 4800, {440.0}, {0.5})));
    std::filesystem::permissions(file, std::filesystem::perms::none);
    try {
        AudioFileReader::open(file);
        FAIL() << "opened";
    } catch (const AudioFileError& error) {
        EXPECT_EQ(error.kind(), Kind::Unreadable) << error.what();
        EXPECT_NE(std::string(error.what()).find("Permission denied"), std::string::npos);
    }
}

} // namespace
