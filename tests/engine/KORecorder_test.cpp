#include "engine/KOAD.h"
#include "engine/KORecorder.h"

#include "engine/EngineTestSupport.h"
#include "platform/audio/DeviceRegistry.h"
#include "platform/audiofile/AudioFileReader.h"
#include "platform/audiofile/AudioFormatServices.h"
#include "platform/fourcc/FourCC.h"
#include "support/TestSupport.h"
#include "zotools/CAException.h"
#include "zotools/ZOInputClientException.h"

#include <gtest/gtest.h>

#include <QDir>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

using koru::platform::DeviceRegistry;
using koru::platform::fourCC;
using koru::platform::VirtualInputConfig;
using koru::platform::VirtualSignal;
using koru::test::BufferListStorage;

namespace {

QString tempPath(const char* name) {
    QDir().mkpath(koru::test::testRoot() + "/recorder");
    return koru::test::testRoot() + "/recorder/" + name;
}

ZOAudioStreamDescription deviceFormat(double rate, std::uint32_t channels) {
    AudioStreamBasicDescription d;
    d.mSampleRate = rate;
    d.mFormatID = kAudioFormatLinearPCM;
    d.mFormatFlags = kAudioFormatFlagsFloatNonInterleaved;
    d.mBytesPerPacket = d.mBytesPerFrame = 4;
    d.mFramesPerPacket = 1;
    d.mChannelsPerFrame = channels;
    d.mBitsPerChannel = 32;
    return ZOAudioStreamDescription(d);
}

// A file format at the wrong rate: PCM files must still be written at the device's rate.
ZOAudioStreamDescription pcmFormat(std::uint32_t bits, bool isFloat) {
    AudioStreamBasicDescription d;
    d.mSampleRate = 22050.0;
    d.mFormatID = kAudioFormatLinearPCM;
    d.mFormatFlags = (isFloat ? kAudioFormatFlagIsFloat : 0x4u) | kAudioFormatFlagIsPacked;
    d.mBitsPerChannel = bits;
    d.mChannelsPerFrame = 2;
    return ZOAudioStreamDescription(d);
}

std::vector<float> readAll(const QString& path, int* channels, double* rate) {
    auto reader = koru::platform::AudioFileReader::open(path.toStdString());
    *channels = reader->channels();
    *rate = reader->sampleRate();
    std::vector<float> all;
    std::vector<float> chunk(4096 * std::size_t(reader->channels()));
    for (std::int64_t got; (got = reader->read(chunk.data(), 4096)) > 0;)
        all.insert(all.end(), chunk.begin(), chunk.begin() + got * reader->channels());
    return all;
}

class KORecorderEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        VirtualInputConfig config;
        config.name = QStringLiteral("Recorder Test");
        config.channels = 8;
        config.sampleRate = 48000.0;
        config.manual = true;
        config.channelSignals.assign(8, VirtualSignal::ramp());
        mDevice = registry.addVirtualInput(config);
        engine = std::make_unique<KOAD>(mDevice, 1024);
        engine->Start();
    }
    void TearDown() override {
        engine.reset();
        registry.removeDevice(mDevice);
    }
    bool pump() { return registry.virtualInput(mDevice)->pump(1024); }

    DeviceRegistry& registry = DeviceRegistry::shared();
    std::unique_ptr<KOAD> engine;
    std::uint32_t mDevice = 0;
};

// Ten minutes of a counter on 8 channels, pumped at ten times real time: the file must hold
// every frame once, in order, unchanged.
TEST_F(KORecorderEngineTest, TenMinutesOfACounterOnEightChannelsComeBackIntact) {
    const QString path = tempPath("counter.wav");
    constexpr std::uint64_t kFrames = 48000ull * 600;
    {
        KORecorder recorder(path, fourCC("WAVE"), {0, 1, 2, 3, 4, 5, 6, 7}, 0,
                            deviceFormat(48000.0, 8), pcmFormat(24, false));
        engine->AddClient(&recorder);
        EXPECT_TRUE(engine->InSafeMode());
        const auto start = std::chrono::steady_clock::now();
        std::uint64_t pumped = 0;
        while (pumped < kFrames) {
            ASSERT_TRUE(pump());
            pumped += 1024;
            // Ten times real time, as a fast device would deliver it.
            std::this_thread::sleep_until(start + std::chrono::microseconds(pumped * 100 / 48));
            // A writer starved by a busy machine is no fault of the recorder: never run more
            // than half the ring ahead of it.
            while (pumped - recorder.FramesPassedToFile() > 48000u * 2u &&
                   !recorder.WriterCaughtUp())
                std::this_thread::yield();
        }
        EXPECT_FALSE(recorder.WriteFailed());
        EXPECT_EQ(recorder.FramesWritten(), pumped);
        EXPECT_TRUE(recorder.CloseFile());
    }
    EXPECT_FALSE(engine->InSafeMode());
    EXPECT_EQ(engine->NumberOfClients(), 0u);

    auto reader = koru::platform::AudioFileReader::open(path.toStdString());
    ASSERT_EQ(reader->channels(), 8);
    EXPECT_EQ(reader->sampleRate(), 48000.0);
    std::vector<float> chunk(8 * 65536);
    std::uint64_t frame = 0;
    for (std::int64_t got; (got = reader->read(chunk.data(), 65536)) > 0;) {
        for (std::int64_t i = 0; i < got; ++i, ++frame) {
            const float expected = float(frame % (1u << 20)) / float(1u << 20);
            for (int ch = 0; ch < 8; ++ch)
                ASSERT_EQ(chunk[std::size_t(i) * 8 + ch], expected)
                    << "frame " << frame << " channel " << ch;
        }
    }
    EXPECT_GE(frame, kFrames);
    EXPECT_EQ(frame % 1024, 0u);
}

// Unmapped, repeated and missing inputs: silence and a peak of 0 where nothing is mapped, the
// same input twice where it is repeated. Peaks are magnitudes, so an all-negative block counts.
TEST(KORecorder, ChannelMapSelectsRepeatsAndSilencesInputs) {
    const QString path = tempPath("map.caf");
    BufferListStorage input(3, 512);
    std::uint64_t frames = 0;
    {
        KORecorder recorder(path, fourCC("caff"), {2, -1, 2, 7, 0}, 0, deviceFormat(44100.0, 3),
                            pcmFormat(32, true));
        for (int block = 0; block < 4; ++block) {
            for (std::uint32_t i = 0; i < 512; ++i) {
                input.channel(0)[i] = -0.25f - 0.5f * float(i) / 512.0f;
                input.channel(1)[i] = 0.9f;
                input.channel(2)[i] = float(block * 512 + int(i)) / 4096.0f;
            }
            recorder.Process(input.list(), 512);
            frames += 512;
        }
        EXPECT_FLOAT_EQ(recorder.Peak(0), float(3 * 512 + 511) / 4096.0f);
        EXPECT_EQ(recorder.Peak(1), 0.0f);
        EXPECT_EQ(recorder.Peak(2), recorder.Peak(0));
        EXPECT_EQ(recorder.Peak(3), 0.0f) << "input 7 does not exist";
        EXPECT_FLOAT_EQ(recorder.Peak(4), 0.25f + 0.5f * 511.0f / 512.0f);
        EXPECT_EQ(recorder.Peak(5), 0.0f) << "no such file channel";
        EXPECT_EQ(recorder.FramesWritten(), frames);
    }
    int channels = 0;
    double rate = 0;
    const std::vector<float> samples = readAll(path, &channels, &rate);
    ASSERT_EQ(channels, 5);
    EXPECT_EQ(rate, 44100.0) << "PCM files take the device rate";
    ASSERT_EQ(samples.size(), frames * 5);
    for (std::uint64_t i = 0; i < frames; ++i) {
        const float counter = float(i) / 4096.0f;
        ASSERT_EQ(samples[i * 5 + 0], counter) << i;
        ASSERT_EQ(samples[i * 5 + 1], 0.0f) << i;
        ASSERT_EQ(samples[i * 5 + 2], counter) << i;
        ASSERT_EQ(samples[i * 5 + 3], 0.0f) << i;
        ASSERT_EQ(samples[i * 5 + 4], -0.25f - 0.5f * float(i % 512) / 512.0f) << i;
    }
}

// Every type and stream description the format table offers must be one the writer really
// writes, bit-exact, at the device rate and with the file type's extension.
TEST(KORecorder, EveryOfferedFormatRecordsAndReadsBackExactly) {
    namespace services = koru::platform::AudioFormatServices;
    BufferListStorage input(2, 256);
    for (std::uint32_t i = 0; i < 256; ++i) {
        input.channel(0)[i] = float(int(i) - 128) / 128.0f;
        input.channel(1)[i] = float(127 - int(i % 255)) / 128.0f;
    }
    for (std::uint32_t type : services::writableFileTypes()) {
        const auto formats = services::formatIDsForType(type);
        ASSERT_TRUE(formats.has_value());
        for (std::uint32_t format : *formats) {
            if (format == fourCC("aac "))
                continue; // lossy: checked by level and spectrum below
            const auto descriptions = services::streamDescriptionsFor(type, format);
            ASSERT_TRUE(descriptions.has_value());
            int index = 0;
            for (const AudioStreamBasicDescription& d : *descriptions) {
                const std::string trace = koru::platform::fourCCToString(type).toStdString() +
                                          " #" + std::to_string(index);
                SCOPED_TRACE(trace);
                const QString path = tempPath(("offered" + std::to_string(index++) + ".").c_str()) +
                                     services::extensionsForType(type).value(0);
                {
                    KORecorder recorder(path, type, {1, 0}, 0, deviceFormat(96000.0, 2),
                                        ZOAudioStreamDescription(d));
                    recorder.Process(input.list(), 256);
                    ASSERT_TRUE(recorder.CloseFile());
                }
                int channels = 0;
                double rate = 0;
                const std::vector<float> samples = readAll(path, &channels, &rate);
                ASSERT_EQ(channels, 2);
                EXPECT_EQ(rate, 96000.0);
                ASSERT_EQ(samples.size(), 512u);
                for (std::uint32_t i = 0; i < 256; ++i) {
                    ASSERT_EQ(samples[i * 2], input.channel(1)[i]) << i;
                    ASSERT_EQ(samples[i * 2 + 1], input.channel(0)[i]) << i;
                }
            }
        }
    }
}

// AAC cannot come back bit-exact: a 1 kHz tone must come back at its level with its energy at
// 1 kHz, and an unmapped channel silent.
TEST(KORecorder, AacKeepsLevelAndSpectrum) {
    const QString path = tempPath("tone.m4a");
    constexpr double kRate = 48000.0;
    constexpr std::uint32_t kBlock = 1024;
    constexpr int kBlocks = 94; // about two seconds
    BufferListStorage input(1, kBlock);
    std::uint64_t frame = 0;
    {
        auto d = ZOAudioStreamDescription::streamDescriptionWithFormatID(fourCC("aac "));
        KORecorder recorder(path, fourCC("m4af"), {0, -1}, 128000, deviceFormat(kRate, 1), d);
        for (int b = 0; b < kBlocks; ++b) {
            for (std::uint32_t i = 0; i < kBlock; ++i)
                input.channel(0)[i] =
                    0.5f * float(std::sin(2.0 * M_PI * 1000.0 * double(frame + i) / kRate));
            recorder.Process(input.list(), kBlock);
            frame += kBlock;
        }
        ASSERT_TRUE(recorder.CloseFile());
    }
    int channels = 0;
    double rate = 0;
    const std::vector<float> samples = readAll(path, &channels, &rate);
    ASSERT_EQ(channels, 2);
    EXPECT_EQ(rate, kRate);
    const std::size_t frames = samples.size() / 2;
    ASSERT_GT(frames, frame - 2048);
    ASSERT_LT(frames, frame + 4096);
    // The middle second, away from the encoder's start and end.
    const std::size_t first = 24000, count = 48000;
    double energy = 0, silentEnergy = 0, re = 0, im = 0;
    for (std::size_t i = first; i < first + count; ++i) {
        const double x = samples[i * 2];
        energy += x * x;
        silentEnergy += double(samples[i * 2 + 1]) * samples[i * 2 + 1];
        re += x * std::cos(2.0 * M_PI * 1000.0 * double(i) / kRate);
        im += x * std::sin(2.0 * M_PI * 1000.0 * double(i) / kRate);
    }
    const double rms = std::sqrt(energy / count);
    EXPECT_NEAR(20.0 * std::log10(rms / (0.5 / std::sqrt(2.0))), 0.0, 0.5);
    const double toneEnergy = 2.0 * (re * re + im * im) / count;
    EXPECT_GT(toneEnergy / energy, 0.99) << "energy away from 1 kHz";
    EXPECT_LT(std::sqrt(silentEnergy / count), 1e-4);
}

TEST(KORecorder, CreationFailuresThrowCodeTwoAndLeaveNoRecorder) {
    struct Case {
        const char* name;
        QString path;
        std::uint32_t type;
        ZOAudioStreamDescription format;
        std::vector<std::int32_t> map;
    };
    const Case cases[] = {
        {"folder missing",
         tempPath("no/such/folder/x.wav"),
         fourCC("WAVE"),
         pcmFormat(16, false),
         {0}},
        {"compressed format outside M4A",
         tempPath("x.caf"),
         fourCC("caff"),
         ZOAudioStreamDescription::streamDescriptionWithFormatID(fourCC("aac ")),
         {0}},
        {"AAC with nine channels",
         tempPath("x.m4a"),
         fourCC("m4af"),
         ZOAudioStreamDescription::streamDescriptionWithFormatID(fourCC("aac ")),
         {0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"ALAC folder missing",
         tempPath("no/such/folder/x.m4a"),
         fourCC("m4af"),
         ZOAudioStreamDescription::streamDescriptionWithFormatID(fourCC("alac")),
         {0}},
        {"type not written", tempPath("x.mp3"), fourCC("MPG3"), pcmFormat(16, false), {0}},
        {"no channels", tempPath("x.wav"), fourCC("WAVE"), pcmFormat(16, false), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            KORecorder recorder(c.path, c.type, c.map, 0, deviceFormat(48000.0, 2), c.format);
            ADD_FAILURE() << "created";
        } catch (const CAException& e) {
            EXPECT_EQ(e.GetError(), 2);
        }
    }
}

// Holds every write until released, as a disk that stops answering.
class StalledSink : public koru::platform::AudioFileSink {
public:
    explicit StalledSink(std::atomic<bool>* held) : mHeld(held) {}
    bool write(const float*, std::uint64_t frames) override {
        while (mHeld->load())
            std::this_thread::yield();
        written += frames;
        return true;
    }
    bool finish() override { return true; }
    std::atomic<std::uint64_t> written{0};

private:
    std::atomic<bool>* mHeld;
};

// A stalled writer fills the ring: one client error, write failed, later buffers ignored, and
// the file ends with what reached the writer.
TEST(KORecorder, StalledWriterFailsTheRecordingOnce) {
    std::atomic<bool> held{true};
    auto owned = std::make_unique<StalledSink>(&held);
    StalledSink* sink = owned.get();
    KORecorder recorder(std::move(owned), tempPath("stalled"), {0, 1}, 8000.0, 0.5);
    BufferListStorage input(2, 1024);
    int errors = 0;
    std::uint64_t accepted = 0;
    for (int block = 0; block < 20; ++block) {
        try {
            recorder.Process(input.list(), 1024);
            if (!recorder.IsClosed())
                accepted += 1024;
        } catch (const ZOInputClientException&) {
            ++errors;
        }
    }
    EXPECT_EQ(errors, 1);
    EXPECT_TRUE(recorder.WriteFailed());
    EXPECT_TRUE(recorder.IsClosed());
    EXPECT_EQ(recorder.FramesWritten(), accepted);
    EXPECT_LT(accepted, 20u * 1024u);
    held = false;
    EXPECT_FALSE(recorder.CloseFile());
    EXPECT_EQ(sink->written.load(), accepted);
}

// A full disk through the real file writer: failure reported, file readable up to the stop.
TEST(KORecorder, FullDiskFailsTheRecordingAndLeavesAReadableFile) {
    const QString path = tempPath("full.aiff");
    BufferListStorage input(1, 1024);
    std::uint64_t frame = 0;
    int errors = 0;
    {
        koru::test::ScopedFileSizeLimit limit(128 * 1024);
        if (!limit.active())
            GTEST_SKIP() << "cannot limit the file size";
        AudioStreamBasicDescription d = pcmFormat(16, false).streamDescription();
        d.mFormatFlags |= 0x2; // big-endian
        KORecorder recorder(path, fourCC("AIFF"), {0}, 0, deviceFormat(48000.0, 1),
                            ZOAudioStreamDescription(d));
        // Enough to pass the limit several times over; the ring holds all of it.
        for (int block = 0; block < 200; ++block) {
            for (std::uint32_t i = 0; i < 1024; ++i)
                input.channel(0)[i] = float(int((frame + i) % 255) - 127) / 128.0f;
            frame += 1024;
            try {
                recorder.Process(input.list(), 1024);
            } catch (const ZOInputClientException&) {
                ++errors;
            }
        }
        EXPECT_FALSE(recorder.CloseFile());
        EXPECT_TRUE(recorder.WriteFailed());
    }
    int channels = 0;
    double rate = 0;
    const std::vector<float> samples = readAll(path, &channels, &rate);
    ASSERT_EQ(channels, 1);
    EXPECT_GT(samples.size(), 30000u);
    EXPECT_LT(samples.size(), 200u * 1024u);
    EXPECT_LE(errors, 1) << "one client error at most, however many blocks follow";
    for (std::size_t i = 0; i < samples.size(); ++i)
        ASSERT_EQ(samples[i], float(int(i % 255) - 127) / 128.0f) << i;
}

TEST_F(KORecorderEngineTest, LayoutChangeEndsTheFileWithoutAnError) {
    const QString path = tempPath("layout.wav");
    KORecorder recorder(path, fourCC("WAVE"), {0, 1}, 0, deviceFormat(48000.0, 8),
                        pcmFormat(16, false));
    engine->AddClient(&recorder);
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(pump());
    recorder.ChannelsChanged(0, 1);
    EXPECT_TRUE(recorder.IsClosed());
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(pump());
    EXPECT_EQ(recorder.FramesWritten(), 10u * 1024u) << "the counter stops with the file";
    EXPECT_FALSE(recorder.WriteFailed());
    int channels = 0;
    double rate = 0;
    EXPECT_EQ(readAll(path, &channels, &rate).size(), 10u * 1024u * 2u);
    EXPECT_TRUE(engine->InSafeMode()) << "still attached until the window stops it";
}

} // namespace

namespace {

// A rate change reconfigures the engine without a layout change: the file, whose header names
// the old rate, ends there instead of taking samples at the new one.
TEST_F(KORecorderEngineTest, RateChangeEndsTheFileAtTheOldRate) {
    const QString path = tempPath("rate.wav");
    KORecorder recorder(path, fourCC("WAVE"), {0}, 0, deviceFormat(48000.0, 8),
                        pcmFormat(24, false));
    engine->AddClient(&recorder);
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(pump());
    ASSERT_EQ(registry.setNominalSampleRate(mDevice, 96000.0), noErr);
    engine->Reconfigure(0, 0, 0);
    EXPECT_TRUE(recorder.IsClosed());
    for (int i = 0; i < 5; ++i)
        pump();
    EXPECT_EQ(recorder.FramesWritten(), 5u * 1024u);
    EXPECT_FALSE(recorder.WriteFailed());
    int channels = 0;
    double rate = 0;
    EXPECT_EQ(readAll(path, &channels, &rate).size(), 5u * 1024u);
    EXPECT_EQ(rate, 48000.0);
}

// The same rate again (any other reconfiguration) keeps the file open.
TEST_F(KORecorderEngineTest, ReconfigurationAtTheSameRateKeepsRecording) {
    KORecorder recorder(tempPath("same.wav"), fourCC("WAVE"), {0}, 0, deviceFormat(48000.0, 8),
                        pcmFormat(16, false));
    engine->AddClient(&recorder);
    ASSERT_TRUE(pump());
    engine->Reconfigure(0, 0, 0);
    EXPECT_FALSE(recorder.IsClosed());
    ASSERT_TRUE(pump());
    EXPECT_EQ(recorder.FramesWritten(), 2u * 1024u);
}

} // namespace

namespace {

class CountingOwner : public KOADOwner {
public:
    void inPropertyListener() override {}
    void errorHandling(std::uint64_t) override { errors.fetch_add(1); }
    std::atomic<int> errors{0};
};

// Through the engine: a stalled writer gives one client error however many buffers follow,
// the other clients keep their buffers, and deleting the recorder leaves safe mode.
TEST_F(KORecorderEngineTest, StalledWriterReportsOneErrorToTheEngine) {
    CountingOwner owner;
    engine->SetOwner(&owner);
    std::atomic<bool> held{true};
    {
        KORecorder recorder(std::make_unique<StalledSink>(&held), tempPath("engine-stalled"),
                            {0, 1}, 48000.0, 0.1);
        engine->AddClient(&recorder);
        for (int i = 0; i < 40; ++i) {
            ASSERT_TRUE(pump());
            engine->ErrorHandled(); // the main thread dealt with it: report the next one again
        }
        EXPECT_EQ(owner.errors.load(), 1);
        EXPECT_TRUE(recorder.WriteFailed());
        EXPECT_LT(recorder.FramesWritten(), 40u * 1024u);
        held = false;
        EXPECT_TRUE(engine->InSafeMode());
    }
    EXPECT_FALSE(engine->InSafeMode());
    engine->SetOwner(nullptr);
}

} // namespace

namespace {

// Level (dB against the input's) and the share of the energy at `frequency` over the middle of
// one channel of a read-back file.
struct ToneCheck {
    double levelDb;
    double toneShare;
};

ToneCheck checkTone(const std::vector<float>& samples, int channels, double rate, double frequency,
                    double amplitude) {
    const std::size_t frames = samples.size() / std::size_t(channels);
    const std::size_t first = frames / 4, count = frames / 2;
    double energy = 0, re = 0, im = 0;
    for (std::size_t i = first; i < first + count; ++i) {
        const double x = samples[i * std::size_t(channels)];
        energy += x * x;
        re += x * std::cos(2.0 * M_PI * frequency * double(i) / rate);
        im += x * std::sin(2.0 * M_PI * frequency * double(i) / rate);
    }
    const double rms = std::sqrt(energy / double(count));
    return {20.0 * std::log10(rms / (amplitude / std::sqrt(2.0))),
            2.0 * (re * re + im * im) / double(count) / energy};
}

// A compressed file is written at the rate its format asks for, or the nearest its encoder
// takes, converted from the device rate: the tone must keep its pitch and level, and the file
// its length in seconds.
TEST(KORecorder, CompressedFilesAreConvertedToARateTheirEncoderTakes) {
    struct Case {
        const char* name;
        std::uint32_t format;
        double requested, device, expected;
    };
    const Case cases[] = {
        {"AAC at the device rate", fourCC("aac "), 0, 48000, 48000},
        {"AAC asked for 44.1 kHz on a 48 kHz device", fourCC("aac "), 44100, 48000, 44100},
        {"AAC on a 192 kHz device", fourCC("aac "), 0, 192000, 96000},
        {"AAC asked for a rate it refuses", fourCC("aac "), 50000, 48000, 64000},
        {"ALAC asked for 44.1 kHz on a 48 kHz device", fourCC("alac"), 44100, 48000, 44100},
        {"ALAC at 96 kHz", fourCC("alac"), 96000, 96000, 96000},
    };
    constexpr double kTone = 997.0, kAmplitude = 0.5;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = tempPath("converted.m4a");
        const std::uint32_t block = 1024;
        const auto blocks = std::uint32_t(c.device) / block; // about one second
        BufferListStorage input(1, block);
        {
            auto format = ZOAudioStreamDescription::streamDescriptionWithFormatID(c.format);
            format.setSampleRate(c.requested);
            KORecorder recorder(path, fourCC("m4af"), {0}, 128000, deviceFormat(c.device, 1),
                                format);
            std::uint64_t frame = 0;
            for (std::uint32_t b = 0; b < blocks; ++b) {
                for (std::uint32_t i = 0; i < block; ++i, ++frame)
                    input.channel(0)[i] =
                        float(kAmplitude * std::sin(2.0 * M_PI * kTone * double(frame) / c.device));
                recorder.Process(input.list(), block);
            }
            ASSERT_TRUE(recorder.CloseFile());
            EXPECT_FALSE(recorder.WriteFailed());
        }
        int channels = 0;
        double rate = 0;
        const std::vector<float> samples = readAll(path, &channels, &rate);
        ASSERT_EQ(channels, 1);
        EXPECT_EQ(rate, c.expected);
        const double seconds = double(blocks * block) / c.device;
        EXPECT_NEAR(double(samples.size()) / rate, seconds, 4096.0 / rate);
        const ToneCheck tone = checkTone(samples, 1, rate, kTone, kAmplitude);
        EXPECT_NEAR(tone.levelDb, 0.0, 0.5);
        EXPECT_GT(tone.toneShare, 0.99) << "a wrong rate moves the tone away from " << kTone;
    }
}

// A bit rate the encoder does not offer is no failure: the recording goes on at its default.
TEST(KORecorder, BitRateTheEncoderDoesNotOfferStillRecords) {
    for (std::uint32_t bitRate : {0u, 7u, 100000u, 50000000u}) {
        SCOPED_TRACE(bitRate);
        const QString path = tempPath("bitrate.m4a");
        BufferListStorage input(2, 1024);
        for (std::uint32_t i = 0; i < 1024; ++i)
            input.channel(0)[i] = input.channel(1)[i] = float(std::sin(double(i) * 0.1)) * 0.5f;
        {
            auto format = ZOAudioStreamDescription::streamDescriptionWithFormatID(fourCC("aac "));
            KORecorder recorder(path, fourCC("m4af"), {0, 1}, bitRate, deviceFormat(48000, 2),
                                format);
            for (int b = 0; b < 20; ++b)
                recorder.Process(input.list(), 1024);
            ASSERT_TRUE(recorder.CloseFile());
        }
        int channels = 0;
        double rate = 0;
        const std::vector<float> samples = readAll(path, &channels, &rate);
        EXPECT_EQ(channels, 2);
        EXPECT_GT(samples.size(), 2u * 18u * 1024u);
    }
}

} // namespace

namespace {

// A full disk through the engine: the recording fails once, the engine hears of it once however
// many buffers follow, and the file reads back with everything that reached the disk.
TEST_F(KORecorderEngineTest, FullDiskReportsOneErrorAndKeepsWhatWasWritten) {
    CountingOwner owner;
    engine->SetOwner(&owner);
    const QString path = tempPath("engine-full.aiff");
    std::uint64_t onDisk = 0;
    {
        koru::test::ScopedFileSizeLimit limit(256 * 1024);
        if (!limit.active())
            GTEST_SKIP() << "cannot limit the file size";
        AudioStreamBasicDescription d = pcmFormat(16, false).streamDescription();
        d.mFormatFlags |= 0x2; // big-endian
        KORecorder recorder(path, fourCC("AIFF"), {0, 3}, 0, deviceFormat(48000.0, 8),
                            ZOAudioStreamDescription(d));
        engine->AddClient(&recorder);
        // Far more than fits; each buffer waits until the writer has passed it on (or failed),
        // so the disk, not the ring, runs out first.
        for (int i = 0; i < 400; ++i) {
            ASSERT_TRUE(pump());
            engine->ErrorHandled();
            while (!recorder.WriterCaughtUp())
                std::this_thread::yield();
        }
        EXPECT_TRUE(recorder.WriteFailed());
        EXPECT_TRUE(recorder.IsClosed());
        EXPECT_EQ(owner.errors.load(), 1);
        EXPECT_LT(recorder.FramesWritten(), 400u * 1024u) << "the counter stops with the file";
        onDisk = recorder.FramesPassedToFile();
        EXPECT_FALSE(recorder.CloseFile());
    }
    EXPECT_FALSE(engine->InSafeMode());
    engine->SetOwner(nullptr);
    int channels = 0;
    double rate = 0;
    const std::vector<float> samples = readAll(path, &channels, &rate);
    ASSERT_EQ(channels, 2);
    EXPECT_EQ(rate, 48000.0);
    const std::size_t frames = samples.size() / 2;
    EXPECT_GT(frames, 50000u) << "what reached the disk before it filled";
    // Every whole chunk the writer passed on, and perhaps part of the one the disk refused.
    EXPECT_GE(frames, onDisk);
    EXPECT_LT(frames, onDisk + 4096u);
    for (std::size_t i = 0; i < frames; ++i) {
        const float ramp = float(i % (1u << 20)) / float(1u << 20);
        ASSERT_NEAR(samples[i * 2], ramp, 2.0 / 32768.0) << i;
        ASSERT_NEAR(samples[i * 2 + 1], ramp, 2.0 / 32768.0) << i;
    }
}

} // namespace
