#include "netaudio/NetAudioProtocol.h"
#include "netaudio/ReceiverSession.h"

#include <gtest/gtest.h>

#include <random>

using namespace koru::netaudio;

namespace {

std::vector<std::uint8_t> bytes(const QByteArray& a) {
    return {reinterpret_cast<const std::uint8_t*>(a.constData()),
            reinterpret_cast<const std::uint8_t*>(a.constData()) + a.size()};
}

Hello sampleHello() {
    Hello h;
    h.authRequired = true;
    for (std::size_t i = 0; i < h.nonce.size(); ++i)
        h.nonce[i] = std::uint8_t(i * 7);
    h.format.rate = 44100.0;
    h.format.formatIndex = 6;
    h.format.codec = WireCodec::Ima4;
    h.name = "KORU Net Send 1";
    return h;
}

QByteArray audioMessage(std::uint64_t t, std::uint16_t frames, float value) {
    std::vector<float> l(frames, value), r(frames, -value);
    std::vector<std::uint8_t> wire(encodedBytes(WireCodec::Int16, frames));
    ImaState ima;
    encode(WireCodec::Int16, l.data(), r.data(), frames, wire.data(), ima);
    return makeAudio(t, frames, WireCodec::Int16, wire.data(), wire.size());
}

TEST(NetAudioProtocol, HelloRoundTripsAndSplitsAnywhere) {
    const QByteArray wire = makeHello(sampleHello()) + makeResult(ResultCode::Busy);
    for (int cut = 0; cut <= wire.size(); ++cut) {
        SCOPED_TRACE(cut);
        MessageReader reader;
        const auto all = bytes(wire);
        reader.append(all.data(), std::size_t(cut));
        std::vector<Message> got;
        while (auto m = reader.next())
            got.push_back(*m);
        reader.append(all.data() + cut, all.size() - std::size_t(cut));
        while (auto m = reader.next())
            got.push_back(*m);
        ASSERT_FALSE(reader.failed());
        ASSERT_EQ(got.size(), 2u);
        const auto hello = parseHello(got[0].payload);
        ASSERT_TRUE(hello);
        EXPECT_EQ(hello->name, "KORU Net Send 1");
        EXPECT_EQ(hello->format.rate, 44100.0);
        EXPECT_EQ(hello->format.codec, WireCodec::Ima4);
        EXPECT_EQ(hello->nonce, sampleHello().nonce);
        EXPECT_EQ(parseResult(got[1].payload), ResultCode::Busy);
    }
}

TEST(NetAudioProtocol, ReaderRefusesBrokenHeaders) {
    struct Case {
        const char* name;
        QByteArray wire;
    };
    QByteArray badMagic = makeMessage(MessageType::Ping);
    badMagic[0] = 'X';
    QByteArray badType = makeMessage(MessageType::Ping);
    badType[4] = 7;
    QByteArray zeroType = makeMessage(MessageType::Ping);
    zeroType[4] = 0;
    QByteArray huge = makeMessage(MessageType::Audio);
    huge[8] = 1;
    huge[10] = 1; // 65537 bytes
    const Case cases[] = {
        {"magic", badMagic}, {"type 7", badType}, {"type 0", zeroType}, {"length", huge}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MessageReader reader;
        const auto b = bytes(c.wire);
        reader.append(b.data(), b.size());
        EXPECT_FALSE(reader.next());
        EXPECT_TRUE(reader.failed());
    }
}

TEST(NetAudioProtocol, PayloadParsersCheckEveryField) {
    Hello h = sampleHello();
    auto hello = [](const Hello& x) {
        MessageReader r;
        const auto b = bytes(makeHello(x));
        r.append(b.data(), b.size());
        return r.next()->payload;
    };
    auto payload = hello(h);
    EXPECT_TRUE(parseHello(payload));
    auto truncated = payload;
    truncated.pop_back();
    EXPECT_FALSE(parseHello(truncated)) << "name shorter than its length";
    auto longer = payload;
    longer.push_back(0);
    EXPECT_FALSE(parseHello(longer)) << "trailing bytes";
    for (auto mutate : std::vector<std::function<void(Hello&)>>{
             [](Hello& x) { x.format.channels = 3; }, [](Hello& x) { x.format.formatIndex = 18; },
             [](Hello& x) { x.format.codec = WireCodec(3); },
             [](Hello& x) { x.format.maxFrames = 0; }, [](Hello& x) { x.format.maxFrames = 4097; },
             [](Hello& x) { x.format.rate = std::numeric_limits<double>::quiet_NaN(); },
             [](Hello& x) { x.format.rate = 0.0; }}) {
        Hello bad = h;
        mutate(bad);
        EXPECT_FALSE(parseHello(hello(bad)));
    }
    // Audio: frame counts 0 and above 4096, unknown codec, wrong payload size.
    MessageReader r;
    const auto good = bytes(audioMessage(10, 100, 0.25f));
    r.append(good.data(), good.size());
    auto audio = r.next()->payload;
    ASSERT_TRUE(parseAudio(audio));
    auto zeroFrames = audio;
    zeroFrames[8] = zeroFrames[9] = 0;
    EXPECT_FALSE(parseAudio(zeroFrames));
    auto manyFrames = audio;
    manyFrames[8] = 0x01;
    manyFrames[9] = 0x10; // 4097
    EXPECT_FALSE(parseAudio(manyFrames));
    auto codec = audio;
    codec[10] = 9;
    EXPECT_FALSE(parseAudio(codec));
    auto shortPayload = audio;
    shortPayload.pop_back();
    EXPECT_FALSE(parseAudio(shortPayload));
}

TEST(NetAudioProtocol, PasswordCheckNeedsTheSamePasswordAndNonce) {
    const auto nonce = sampleHello().nonce;
    auto other = nonce;
    other[0] ^= 1;
    MessageReader r;
    const auto b = bytes(makeAuth(nonce, "secret"));
    r.append(b.data(), b.size());
    const auto auth = r.next()->payload;
    EXPECT_TRUE(authMatches(auth, nonce, "secret"));
    EXPECT_FALSE(authMatches(auth, nonce, "Secret"));
    EXPECT_FALSE(authMatches(auth, nonce, ""));
    EXPECT_FALSE(authMatches(auth, other, "secret")) << "a replayed answer to another nonce";
    EXPECT_FALSE(authMatches({auth.begin(), auth.end() - 1}, nonce, "secret"));
}

class ReceiverSessionTest : public ::testing::Test {
protected:
    koru::SpscFrameFifo fifo{1u << 16};
    ReceiverSession session{fifo, "pw"};
    QByteArray reply;

    ReceiverSession::State feed(const QByteArray& wire) {
        return session.feed(reinterpret_cast<const std::uint8_t*>(wire.constData()),
                            std::size_t(wire.size()), reply);
    }
    void handshake() {
        Hello h = sampleHello();
        h.format.codec = WireCodec::Int16;
        h.format.formatIndex = 2;
        ASSERT_EQ(feed(makeHello(h)), ReceiverSession::State::AwaitResult);
        ASSERT_EQ(feed(makeResult(ResultCode::Ok)), ReceiverSession::State::Streaming);
    }
};

TEST_F(ReceiverSessionTest, AnswersTheChallengeAndFillsGapsWithSilence) {
    handshake();
    MessageReader r;
    const auto b = bytes(reply);
    r.append(b.data(), b.size());
    const auto auth = r.next();
    ASSERT_TRUE(auth);
    EXPECT_TRUE(authMatches(auth->payload, sampleHello().nonce, "pw"));

    ASSERT_EQ(feed(audioMessage(1000, 64, 0.5f)), ReceiverSession::State::Streaming);
    ASSERT_EQ(feed(audioMessage(1064 + 32, 64, 0.25f)), ReceiverSession::State::Streaming);
    EXPECT_EQ(session.firstSampleTime(), 1000u);
    EXPECT_EQ(session.gapFrames(), 32u);
    ASSERT_EQ(fifo.buffered(), 160u);
    std::vector<float> l(160), rr(160);
    float* ch[2] = {l.data(), rr.data()};
    fifo.read(ch, 160);
    EXPECT_FLOAT_EQ(l[63], 0.5f);
    EXPECT_EQ(l[64], 0.0f);
    EXPECT_EQ(l[95], 0.0f);
    EXPECT_FLOAT_EQ(l[96], 0.25f);
    EXPECT_FLOAT_EQ(rr[96], -0.25f);
}

TEST_F(ReceiverSessionTest, OutOfOrderMessagesEndTheSession) {
    struct Case {
        const char* name;
        std::function<QByteArray()> wire;
    };
    const Case cases[] = {
        {"audio before hello", [] { return audioMessage(0, 64, 0.1f); }},
        {"result before hello", [] { return makeResult(ResultCode::Ok); }},
        {"auth to a receiver", [] { return makeAuth({}, "x"); }},
        {"ping with payload", [] { return makeMessage(MessageType::Ping, "x"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        koru::SpscFrameFifo f(1024);
        ReceiverSession s(f, "");
        QByteArray out;
        const QByteArray w = c.wire();
        EXPECT_EQ(s.feed(reinterpret_cast<const std::uint8_t*>(w.constData()),
                         std::size_t(w.size()), out),
                  ReceiverSession::State::Failed);
        EXPECT_FALSE(s.reason().empty());
        EXPECT_EQ(f.buffered(), 0u);
    }
}

TEST_F(ReceiverSessionTest, RefusalIsRememberedSoRetriesStop) {
    ASSERT_EQ(feed(makeHello(sampleHello())), ReceiverSession::State::AwaitResult);
    EXPECT_EQ(feed(makeResult(ResultCode::BadPassword)), ReceiverSession::State::Refused);
    EXPECT_EQ(session.refusal(), ResultCode::BadPassword);
}

TEST_F(ReceiverSessionTest, FormatChangeFlushesAndTakesTheNewRate) {
    handshake();
    feed(audioMessage(0, 64, 0.5f));
    StreamFormat f;
    f.rate = 96000.0;
    f.formatIndex = 1;
    f.codec = WireCodec::Int24;
    ASSERT_EQ(feed(makeFormat(f)), ReceiverSession::State::Streaming);
    EXPECT_EQ(session.format().rate, 96000.0);
    EXPECT_EQ(session.format().codec, WireCodec::Int24);
    EXPECT_EQ(fifo.buffered(), 0u);
    // The new stream starts anywhere in sample time without counting a gap.
    feed(audioMessage(50000, 64, 0.5f));
    EXPECT_EQ(session.gapFrames(), 0u);
}

// Random damage to a valid stream, fed in random pieces: every outcome is a clean end or a
// stream whose FIFO holds only frames that whole audio messages delivered. With `playRate` the
// session converts what it decodes, so damaged rates reach the converter too.
void feedDamagedStreams(const std::atomic<double>* playRate) {
    Hello h = sampleHello();
    h.authRequired = false;
    h.format.codec = WireCodec::Int16;
    QByteArray valid = makeHello(h) + makeResult(ResultCode::Ok);
    for (int i = 0; i < 8; ++i)
        valid += audioMessage(std::uint64_t(i) * 256, 256, 0.1f * float(i));
    std::mt19937 random(12345);
    int failed = 0;
    for (int round = 0; round < 3000; ++round) {
        QByteArray wire = valid;
        const int damage = 1 + int(random() % 8);
        for (int d = 0; d < damage; ++d) {
            const int at = int(random() % std::uint32_t(wire.size()));
            switch (random() % 4) {
            case 0:
                wire[at] = char(random());
                break;
            case 1:
                wire.remove(at, 1 + int(random() % 16));
                break;
            case 2:
                wire.insert(at, QByteArray(1 + int(random() % 16), char(random())));
                break;
            default:
                wire.truncate(at);
                break;
            }
            if (wire.isEmpty())
                wire = valid;
        }
        koru::SpscFrameFifo fifo(1u << 16);
        ReceiverSession session(fifo, "", playRate);
        QByteArray reply;
        int pos = 0;
        while (pos < wire.size()) {
            const int n = std::min(int(1 + random() % 300), int(wire.size() - pos));
            session.feed(reinterpret_cast<const std::uint8_t*>(wire.constData() + pos),
                         std::size_t(n), reply);
            pos += n;
        }
        if (session.state() == ReceiverSession::State::Failed)
            ++failed;
        // Gaps are bounded, so the damage cannot make the FIFO hold more than it could.
        EXPECT_LE(fifo.buffered(), std::uint64_t(fifo.capacity()));
    }
    EXPECT_GT(failed, 0) << "damage never detected";
}

TEST(ReceiverSessionFuzz, MalformedStreamsNeverCrash) {
    feedDamagedStreams(nullptr);
}

TEST(ReceiverSessionFuzz, MalformedStreamsNeverCrashWhileConverting) {
    const std::atomic<double> playRate{48000.0};
    feedDamagedStreams(&playRate);
}

} // namespace
