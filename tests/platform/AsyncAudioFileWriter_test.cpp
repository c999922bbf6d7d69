#include "platform/audiofile/AsyncAudioFileWriter.h"
#include "platform/audiofile/AudioFileReader.h"
#include "platform/fourcc/FourCC.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>

#include <atomic>
#include <cmath>
#include <stdexcept>
#include <thread>
#include <vector>

using koru::platform::AsyncAudioFileWriter;
using koru::platform::AudioFileReader;
using koru::platform::AudioFileSink;
using koru::platform::fourCC;
using koru::platform::PcmFileSpec;

namespace {

std::string tempPath(const char* name) {
    QDir().mkpath(koru::test::testRoot() + "/writer");
    return (koru::test::testRoot() + "/writer/" + name).toStdString();
}

// Non-interleaved blocks as the engine delivers them.
struct Block {
    explicit Block(std::uint32_t channels, std::uint32_t frames)
        : data(channels, std::vector<float>(frames)), buffers(channels) {
        for (std::uint32_t c = 0; c < channels; ++c) {
            buffers[c].mNumberChannels = 1;
            buffers[c].mDataByteSize = frames * 4;
            buffers[c].mData = data[c].data();
        }
        list.mNumberBuffers = channels;
        list.mBuffers = buffers.data();
    }
    std::vector<std::vector<float>> data;
    std::vector<AudioBuffer> buffers;
    AudioBufferList list;
};

// Exact at every depth from 8 bits up: multiples of 1/128 inside (−1, 1).
float sampleFor(std::uint64_t frame, std::uint32_t channel) {
    return float(int((frame * 37 + channel * 11) % 255) - 127) / 128.0f;
}

std::vector<float> readAll(const std::string& path, int* channels, double* rate) {
    auto reader = AudioFileReader::open(path);
    *channels = reader->channels();
    *rate = reader->sampleRate();
    std::vector<float> all;
    std::vector<float> chunk(4096 * std::size_t(reader->channels()));
    for (;;) {
        const std::int64_t got = reader->read(chunk.data(), 4096);
        if (got <= 0)
            break;
        all.insert(all.end(), chunk.begin(), chunk.begin() + got * reader->channels());
    }
    return all;
}

struct FormatCase {
    const char* name;
    std::uint32_t type;
    std::uint32_t bits;
    bool isFloat;
    bool bigEndian;
};

// Every PCM form the recorder offers, written through the ring and read back. Past the exact
// samples each file gets ±1.5: integer files must clip to full scale, never wrap round.
TEST(AsyncAudioFileWriter, PcmFormatsRoundTripExactlyAndIntegersClip) {
    const FormatCase cases[] = {
        {"wav-u8", fourCC("WAVE"), 8, false, false},
        {"wav-16", fourCC("WAVE"), 16, false, false},
        {"wav-24", fourCC("WAVE"), 24, false, false},
        {"wav-32", fourCC("WAVE"), 32, false, false},
        {"wav-f32", fourCC("WAVE"), 32, true, false},
        {"wav-f64", fourCC("WAVE"), 64, true, false},
        {"aiff-16", fourCC("AIFF"), 16, false, true},
        {"aiff-24", fourCC("AIFF"), 24, false, true},
        {"aifc-le16", fourCC("AIFC"), 16, false, false},
        {"aifc-f32", fourCC("AIFC"), 32, true, true},
        {"caf-be24", fourCC("caff"), 24, false, true},
        {"caf-le32", fourCC("caff"), 32, false, false},
        {"caf-f32", fourCC("caff"), 32, true, false},
    };
    const char* locales[] = {"C", "de_DE.UTF-8"};
    constexpr std::uint32_t kChannels = 3;
    constexpr std::uint32_t kFrames = 1000;
    for (const char* localeName : locales) {
        koru::test::ScopedLocale locale(localeName);
        if (!locale.active())
            continue;
        for (const FormatCase& c : cases) {
            SCOPED_TRACE(std::string(c.name) + " under " + localeName);
            const std::string path = tempPath((std::string(c.name) + ".out").c_str());
            PcmFileSpec spec{c.type, c.bits, c.isFloat, c.bigEndian, kChannels, 48000.0};
            AsyncAudioFileWriter writer(koru::platform::openPcmFileSink(path, spec), kChannels,
                                        65536);
            Block block(kChannels, kFrames);
            std::uint64_t frame = 0;
            for (int b = 0; b < 5; ++b) {
                for (std::uint32_t ch = 0; ch < kChannels; ++ch)
                    for (std::uint32_t i = 0; i < kFrames; ++i)
                        block.data[ch][i] = sampleFor(frame + i, ch);
                ASSERT_EQ(writer.writeAsync(&block.list, nullptr, kFrames),
                          AsyncAudioFileWriter::Status::Ok);
                frame += kFrames;
            }
            Block loud(kChannels, 2);
            for (std::uint32_t ch = 0; ch < kChannels; ++ch) {
                loud.data[ch][0] = 1.5f;
                loud.data[ch][1] = -1.5f;
            }
            ASSERT_EQ(writer.writeAsync(&loud.list, nullptr, 2), AsyncAudioFileWriter::Status::Ok);
            ASSERT_TRUE(writer.close());
            EXPECT_EQ(writer.framesWritten(), frame + 2);

            int channels = 0;
            double rate = 0;
            const std::vector<float> samples = readAll(path, &channels, &rate);
            ASSERT_EQ(channels, int(kChannels));
            EXPECT_EQ(rate, 48000.0);
            ASSERT_EQ(samples.size(), (frame + 2) * kChannels);
            for (std::uint64_t i = 0; i < frame; ++i)
                for (std::uint32_t ch = 0; ch < kChannels; ++ch)
                    ASSERT_EQ(samples[i * kChannels + ch], sampleFor(i, ch))
                        << "frame " << i << " channel " << ch;
            const float top =
                c.isFloat
                    ? 1.5f
                    : float(std::ldexp(std::ldexp(1.0, int(c.bits) - 1) - 1, 1 - int(c.bits)));
            const float bottom = c.isFloat ? -1.5f : -1.0f;
            for (std::uint32_t ch = 0; ch < kChannels; ++ch) {
                EXPECT_NEAR(samples[frame * kChannels + ch], top, 1e-6);
                EXPECT_NEAR(samples[(frame + 1) * kChannels + ch], bottom, 1e-6);
            }
        }
    }
}

TEST(AsyncAudioFileWriter, RefusesTypesAndFormatsItCannotWrite) {
    const PcmFileSpec refused[] = {
        {fourCC("AIFF"), 32, true, true, 2, 48000.0},   // plain AIFF holds no floats
        {fourCC("AIFF"), 16, false, false, 2, 48000.0}, // nor little-endian samples
        {fourCC("WAVE"), 12, false, false, 2, 48000.0},
        {fourCC("m4af"), 16, false, false, 2, 48000.0},
        {fourCC("WAVE"), 16, false, false, 0, 48000.0},
    };
    for (const PcmFileSpec& spec : refused) {
        SCOPED_TRACE(koru::platform::fourCCToString(spec.fileType).toStdString() + " " +
                     std::to_string(spec.bitDepth));
        EXPECT_THROW(koru::platform::openPcmFileSink(tempPath("refused.out"), spec),
                     std::runtime_error);
    }
}

// Counts what reached it; can be held (a stalled disk) or fail after a number of frames.
class ScriptedSink : public AudioFileSink {
public:
    bool write(const float*, std::uint64_t frames) override {
        while (held.load())
            std::this_thread::yield();
        if (written.load() + frames > failAfter)
            return false;
        written += frames;
        return true;
    }
    bool finish() override {
        finished = true;
        return true;
    }
    std::atomic<bool> held{false};
    std::atomic<std::uint64_t> written{0};
    std::uint64_t failAfter = ~std::uint64_t(0);
    std::atomic<bool> finished{false};
};

TEST(AsyncAudioFileWriter, StalledWriterOverflowsOnceAndKeepsWhatWasQueued) {
    auto owned = std::make_unique<ScriptedSink>();
    ScriptedSink* sink = owned.get();
    sink->held = true;
    AsyncAudioFileWriter writer(std::move(owned), 2, 4096);
    Block block(2, 1024);
    int accepted = 0;
    AsyncAudioFileWriter::Status status = AsyncAudioFileWriter::Status::Ok;
    while ((status = writer.writeAsync(&block.list, nullptr, 1024)) ==
           AsyncAudioFileWriter::Status::Ok)
        ++accepted;
    EXPECT_EQ(status, AsyncAudioFileWriter::Status::Overflow);
    EXPECT_GE(accepted, 4);
    EXPECT_LE(accepted, 8); // the writer took at most one chunk before it stalled
    // Sticky: room after the stall does not resume a file with a hole in it.
    sink->held = false;
    ASSERT_TRUE(koru::test::spinUntil([&] { return writer.framesWritten() == accepted * 1024u; }));
    EXPECT_EQ(writer.writeAsync(&block.list, nullptr, 1024),
              AsyncAudioFileWriter::Status::Overflow);
    // The file is finished without waiting for close(): the window may be slow to react.
    ASSERT_TRUE(koru::test::spinUntil([&] { return sink->finished.load(); }));
    EXPECT_FALSE(writer.close());
    EXPECT_TRUE(sink->finished);
    EXPECT_EQ(sink->written.load(), accepted * 1024u);
    EXPECT_FALSE(writer.close()) << "close is idempotent";
}

TEST(AsyncAudioFileWriter, FailingSinkIsStickyAndStillFinishesTheFile) {
    auto owned = std::make_unique<ScriptedSink>();
    ScriptedSink* sink = owned.get();
    sink->failAfter = 3000;
    AsyncAudioFileWriter writer(std::move(owned), 1, 65536);
    Block block(1, 1024);
    for (int i = 0; i < 8; ++i)
        ASSERT_EQ(writer.writeAsync(&block.list, nullptr, 1024), AsyncAudioFileWriter::Status::Ok);
    ASSERT_TRUE(koru::test::spinUntil(
        [&] { return writer.status() == AsyncAudioFileWriter::Status::SinkFailed; }));
    EXPECT_EQ(writer.writeAsync(&block.list, nullptr, 1024),
              AsyncAudioFileWriter::Status::SinkFailed);
    EXPECT_FALSE(writer.close());
    EXPECT_TRUE(sink->finished);
    EXPECT_LE(sink->written.load(), 3000u);
}

// A full disk part-way: the error is reported, and the file still reads up to where it stopped.
TEST(AsyncAudioFileWriter, FullDiskLeavesAReadableFileOfWhatWasWritten) {
    const std::string path = tempPath("full.wav");
    constexpr std::uint32_t kChannels = 2;
    PcmFileSpec spec{fourCC("WAVE"), 16, false, false, kChannels, 48000.0};
    AsyncAudioFileWriter::Status last = AsyncAudioFileWriter::Status::Ok;
    bool closed = true;
    {
        koru::test::ScopedFileSizeLimit limit(256 * 1024);
        if (!limit.active())
            GTEST_SKIP() << "cannot limit the file size";
        AsyncAudioFileWriter writer(koru::platform::openPcmFileSink(path, spec), kChannels,
                                    1 << 20);
        Block block(kChannels, 1024);
        std::uint64_t frame = 0;
        for (int b = 0; b < 200 && last == AsyncAudioFileWriter::Status::Ok; ++b) {
            for (std::uint32_t ch = 0; ch < kChannels; ++ch)
                for (std::uint32_t i = 0; i < 1024; ++i)
                    block.data[ch][i] = sampleFor(frame + i, ch);
            last = writer.writeAsync(&block.list, nullptr, 1024);
            frame += 1024;
        }
        ASSERT_TRUE(koru::test::spinUntil(
            [&] { return writer.status() == AsyncAudioFileWriter::Status::SinkFailed; }));
        closed = writer.close();
    }
    EXPECT_FALSE(closed);
    int channels = 0;
    double rate = 0;
    const std::vector<float> samples = readAll(path, &channels, &rate);
    ASSERT_EQ(channels, int(kChannels));
    const std::size_t frames = samples.size() / kChannels;
    EXPECT_GT(frames, 50000u);
    EXPECT_LT(frames, 200u * 1024u);
    for (std::size_t i = 0; i < frames; ++i)
        for (std::uint32_t ch = 0; ch < kChannels; ++ch)
            ASSERT_EQ(samples[i * kChannels + ch], sampleFor(i, ch)) << "frame " << i;
}

} // namespace
