#include "netaudio/NetAudioProtocol.h"
#include "netaudio/ReceiverSession.h"
#include "netaudio/StreamResampler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

using namespace koru::netaudio;

namespace {

// Amplitude of the best-fitting sine at `frequency` and the RMS of what the fit leaves over.
struct SineFit {
    double amplitude = 0.0;
    double residual = 0.0;
};

SineFit fitSine(const std::vector<float>& y, std::size_t from, std::size_t to, double frequency,
                double rate) {
    const double w = 2.0 * std::numbers::pi * frequency / rate;
    // Least squares on sin and cos over a whole number of samples (not of periods): solve the
    // 2 × 2 normal equations.
    double ss = 0, cc = 0, sc = 0, ys = 0, yc = 0;
    for (std::size_t n = from; n < to; ++n) {
        const double s = std::sin(w * double(n)), c = std::cos(w * double(n));
        ss += s * s;
        cc += c * c;
        sc += s * c;
        ys += y[n] * s;
        yc += y[n] * c;
    }
    const double det = ss * cc - sc * sc;
    const double a = (ys * cc - yc * sc) / det, b = (yc * ss - ys * sc) / det;
    double err = 0;
    for (std::size_t n = from; n < to; ++n) {
        const double e = y[n] - (a * std::sin(w * double(n)) + b * std::cos(w * double(n)));
        err += e * e;
    }
    return {std::hypot(a, b), std::sqrt(err / double(to - from))};
}

std::vector<float> sine(double frequency, double rate, std::size_t frames, float amplitude) {
    std::vector<float> out(frames);
    for (std::size_t n = 0; n < frames; ++n)
        out[n] = amplitude * float(std::sin(2.0 * std::numbers::pi * frequency * double(n) / rate));
    return out;
}

TEST(StreamResampler, EqualRatesPassStraightThrough) {
    StreamResampler resampler;
    ASSERT_TRUE(resampler.configure(48000.0, 48000.0));
    EXPECT_FALSE(resampler.converting());
    const std::vector<float> l = {0.1f, -0.2f, 0.3f}, r = {1.0f, 0.0f, -1.0f};
    ASSERT_EQ(resampler.process(l.data(), r.data(), 3), 3u);
    EXPECT_EQ(std::vector<float>(resampler.left(), resampler.left() + 3), l);
    EXPECT_EQ(std::vector<float>(resampler.right(), resampler.right() + 3), r);
}

// A tone keeps its pitch and level through the conversion, and the frame count follows the
// ratio, whatever size the blocks arrive in.
TEST(StreamResampler, ToneKeepsPitchLevelAndDuration) {
    struct Case {
        double from, to;
        std::uint32_t block;
    };
    const Case cases[] = {{44100.0, 48000.0, 1024},
                          {48000.0, 44100.0, 64},
                          {96000.0, 48000.0, 4096},
                          {22050.0, 48000.0, 333},
                          {48000.0, 192000.0, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.from << " -> " << c.to << " in " << c.block);
        StreamResampler resampler;
        ASSERT_TRUE(resampler.configure(c.from, c.to));
        EXPECT_TRUE(resampler.converting());
        const std::size_t frames = std::size_t(c.from); // one second
        const auto l = sine(1000.0, c.from, frames, 0.5f);
        const auto r = sine(1000.0, c.from, frames, -0.25f);
        std::vector<float> outL, outR;
        for (std::size_t at = 0; at < frames; at += c.block) {
            const auto n = std::uint32_t(std::min<std::size_t>(c.block, frames - at));
            const std::uint32_t got = resampler.process(l.data() + at, r.data() + at, n);
            outL.insert(outL.end(), resampler.left(), resampler.left() + got);
            outR.insert(outR.end(), resampler.right(), resampler.right() + got);
        }
        // The converter holds back a short history, no more.
        EXPECT_NEAR(double(outL.size()), c.to, 300.0);
        EXPECT_LE(double(outL.size()), c.to + 1.0);
        const std::size_t from = outL.size() / 4, to = outL.size() - 400;
        const SineFit left = fitSine(outL, from, to, 1000.0, c.to);
        const SineFit right = fitSine(outR, from, to, 1000.0, c.to);
        EXPECT_NEAR(left.amplitude, 0.5, 0.005);
        EXPECT_NEAR(right.amplitude, 0.25, 0.005);
        EXPECT_LT(left.residual, 2.0e-3) << "another pitch, or distortion";
        EXPECT_LT(right.residual, 2.0e-3);
    }
}

TEST(StreamResampler, RatesNoConverterTakesAreRefused) {
    struct Case {
        double from, to;
        bool ok;
    };
    const Case cases[] = {{1000.0, 192000.0, true},  {1000.0, 384000.0, false},
                          {384000.0, 1000.0, false}, {0.0, 48000.0, false},
                          {48000.0, NAN, false},     {44100.0, 44100.0, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.from << " -> " << c.to);
        EXPECT_EQ(StreamResampler::canConvert(c.from, c.to), c.ok);
        StreamResampler resampler;
        EXPECT_EQ(resampler.configure(c.from, c.to), c.ok);
    }
}

// ---- a receiving session that converts ---------------------------------------------------

Hello helloAt(double rate) {
    Hello h;
    h.authRequired = false;
    h.format.rate = rate;
    h.format.formatIndex = 0;
    h.format.codec = WireCodec::Float32;
    h.name = "KORU Net Send Rate";
    return h;
}

QByteArray audioAt(std::uint64_t t, const float* l, const float* r, std::uint16_t frames) {
    std::vector<std::uint8_t> wire(encodedBytes(WireCodec::Float32, frames));
    ImaState ima;
    encode(WireCodec::Float32, l, r, frames, wire.data(), ima);
    return makeAudio(t, frames, WireCodec::Float32, wire.data(), wire.size());
}

struct ConvertingSession {
    explicit ConvertingSession(double playRate) : rate(playRate) {}
    ReceiverSession::State feed(const QByteArray& wire) {
        return session.feed(reinterpret_cast<const std::uint8_t*>(wire.constData()),
                            std::size_t(wire.size()), reply);
    }
    std::vector<float> drain() {
        std::vector<float> l(fifo.buffered()), r(l.size());
        float* ch[2] = {l.data(), r.data()};
        fifo.read(ch, std::uint32_t(l.size()));
        return l;
    }
    std::atomic<double> rate;
    koru::SpscFrameFifo fifo{1u << 17};
    ReceiverSession session{fifo, "", &rate};
    QByteArray reply;
};

TEST(ReceiverSessionRate, StreamAtAnotherRateArrivesAtThePlayRate) {
    ConvertingSession s(48000.0);
    ASSERT_EQ(s.feed(makeHello(helloAt(44100.0))), ReceiverSession::State::AwaitResult);
    ASSERT_EQ(s.feed(makeResult(ResultCode::Ok)), ReceiverSession::State::Streaming);
    const auto tone = sine(1000.0, 44100.0, 44100, 0.5f);
    for (std::size_t at = 0; at + 1024 <= tone.size(); at += 1024)
        ASSERT_EQ(s.feed(audioAt(at, tone.data() + at, tone.data() + at, 1024)),
                  ReceiverSession::State::Streaming);
    const auto got = s.drain();
    EXPECT_NEAR(double(got.size()), 43 * 1024 * 48000.0 / 44100.0, 300.0);
    const SineFit fit = fitSine(got, got.size() / 4, got.size() - 400, 1000.0, 48000.0);
    EXPECT_NEAR(fit.amplitude, 0.5, 0.005);
    EXPECT_LT(fit.residual, 2.0e-3);

    // The sender moves to the play rate: the new stream passes unchanged.
    StreamFormat same = helloAt(48000.0).format;
    ASSERT_EQ(s.feed(makeFormat(same)), ReceiverSession::State::Streaming);
    EXPECT_EQ(s.fifo.buffered(), 0u);
    const auto direct = sine(1000.0, 48000.0, 1024, 0.5f);
    s.feed(audioAt(0, direct.data(), direct.data(), 1024));
    EXPECT_EQ(s.drain(), direct);
}

TEST(ReceiverSessionRate, UnplayableRatesEndTheSession) {
    {
        ConvertingSession s(384000.0);
        EXPECT_EQ(s.feed(makeHello(helloAt(1000.0))), ReceiverSession::State::Failed);
        EXPECT_NE(s.session.reason().find("cannot be played"), std::string::npos)
            << s.session.reason();
        EXPECT_TRUE(s.reply.isEmpty()) << "no answer to a stream we cannot play";
    }
    {
        ConvertingSession s(384000.0);
        ASSERT_EQ(s.feed(makeHello(helloAt(48000.0))), ReceiverSession::State::AwaitResult);
        ASSERT_EQ(s.feed(makeResult(ResultCode::Ok)), ReceiverSession::State::Streaming);
        EXPECT_EQ(s.feed(makeFormat(helloAt(1000.0).format)), ReceiverSession::State::Failed);
    }
    {
        // The play rate changes under a running stream to one it cannot be converted to.
        ConvertingSession s(48000.0);
        ASSERT_EQ(s.feed(makeHello(helloAt(1000.0))), ReceiverSession::State::AwaitResult);
        ASSERT_EQ(s.feed(makeResult(ResultCode::Ok)), ReceiverSession::State::Streaming);
        s.rate.store(384000.0);
        const std::vector<float> block(64, 0.1f);
        EXPECT_EQ(s.feed(audioAt(0, block.data(), block.data(), 64)),
                  ReceiverSession::State::Failed);
        EXPECT_EQ(s.fifo.buffered(), 0u);
    }
}

} // namespace
