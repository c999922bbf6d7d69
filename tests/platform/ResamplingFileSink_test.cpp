#include "platform/audiofile/ResamplingFileSink.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <vector>

using koru::platform::AudioFileSink;
using koru::platform::makeResamplingSink;

namespace {

// Keeps what reaches it; refuses every write after `failAfter` frames.
class KeepingSink : public AudioFileSink {
public:
    KeepingSink(std::uint32_t channels, std::uint64_t failAfter, bool* finished)
        : mChannels(channels), mFailAfter(failAfter), mFinished(finished) {}
    bool write(const float* interleaved, std::uint64_t frames) override {
        if (kept.size() / mChannels + frames > mFailAfter)
            return false;
        kept.insert(kept.end(), interleaved, interleaved + frames * mChannels);
        return true;
    }
    bool finish() override {
        *mFinished = true;
        return true;
    }
    std::vector<float> kept;

private:
    std::uint32_t mChannels;
    std::uint64_t mFailAfter;
    bool* mFinished;
};

// The converted stream keeps its length in seconds and its pitch, on every channel, whatever
// the sizes of the blocks handed in.
TEST(ResamplingFileSink, ConvertsLengthAndPitchAcrossBlockSizes) {
    struct Case {
        double in, out;
        std::uint32_t block;
    };
    const Case cases[] = {{48000, 44100, 1024}, {192000, 96000, 4097}, {8000, 48000, 100}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.in) + " -> " + std::to_string(c.out));
        bool finished = false;
        auto owned = std::make_unique<KeepingSink>(2, ~0ull, &finished);
        KeepingSink* inner = owned.get();
        auto sink = makeResamplingSink(std::move(owned), 2, c.in, c.out);
        const auto frames = std::uint32_t(c.in); // one second
        std::vector<float> input(std::size_t(frames) * 2);
        for (std::uint32_t i = 0; i < frames; ++i) {
            input[i * 2] = float(0.5 * std::sin(2.0 * M_PI * 1000.0 * i / c.in));
            input[i * 2 + 1] = -input[i * 2];
        }
        for (std::uint32_t at = 0; at < frames; at += c.block)
            ASSERT_TRUE(
                sink->write(input.data() + std::size_t(at) * 2, std::min(c.block, frames - at)));
        ASSERT_TRUE(sink->finish());
        EXPECT_TRUE(finished);
        const std::size_t out = inner->kept.size() / 2;
        EXPECT_NEAR(double(out), c.out, 2.0);
        double re = 0, im = 0, energy = 0, opposite = 0;
        for (std::size_t i = out / 4; i < out * 3 / 4; ++i) {
            const double x = inner->kept[i * 2];
            energy += x * x;
            opposite += std::fabs(x + inner->kept[i * 2 + 1]);
            re += x * std::cos(2.0 * M_PI * 1000.0 * double(i) / c.out);
            im += x * std::sin(2.0 * M_PI * 1000.0 * double(i) / c.out);
        }
        const double n = double(out / 2);
        EXPECT_GT(2.0 * (re * re + im * im) / n / energy, 0.999);
        EXPECT_NEAR(std::sqrt(energy / n), 0.5 / std::sqrt(2.0), 0.005);
        EXPECT_LT(opposite, 1e-3) << "channels stay apart";
    }
}

TEST(ResamplingFileSink, InnerFailureIsStickyAndStillFinishes) {
    bool finished = false;
    auto sink =
        makeResamplingSink(std::make_unique<KeepingSink>(1, 1000, &finished), 1, 48000, 44100);
    std::vector<float> block(4096, 0.25f);
    EXPECT_FALSE(sink->write(block.data(), 4096));
    EXPECT_FALSE(sink->write(block.data(), 16)) << "stays failed";
    EXPECT_FALSE(sink->finish());
    EXPECT_TRUE(finished) << "what was written is still made a readable file";
}

TEST(ResamplingFileSink, RefusesConversionsItCannotMake) {
    bool finished = false;
    struct Case {
        std::uint32_t channels;
        double in, out;
    };
    for (const Case& c : {Case{0, 48000, 44100}, Case{2, 0, 44100}, Case{2, 48000, 0},
                          Case{2, 48000, 48000 * 300.0}}) {
        EXPECT_THROW(makeResamplingSink(std::make_unique<KeepingSink>(2, 0, &finished), c.channels,
                                        c.in, c.out),
                     std::runtime_error);
    }
    EXPECT_THROW(makeResamplingSink(nullptr, 2, 48000, 44100), std::runtime_error);
}

} // namespace
