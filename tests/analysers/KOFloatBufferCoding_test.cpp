#include "analysers/KOFloatBufferCoding.h"

#include "app/LogCapture.h"
#include "engine/KOFloatBuffer.h"
#include "engine/KOTransferResults.h"
#include "platform/exceptions/InternalInconsistencyException.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <vector>

using koru::platform::KeyedArchiver;
using koru::platform::KeyedUnarchiver;

namespace {

using Writer = std::function<void(KeyedArchiver&)>;

// Whatever a test writes with the codec, stored as a real archive (a binary property list).
class CodecHolder : public koru::platform::Archivable {
public:
    static constexpr const char* kClassName = "KOFloatBufferCodingTestHolder";
    explicit CodecHolder(Writer write = {}) : mWrite(std::move(write)) {}
    QString archiveClassName() const override { return QString::fromLatin1(kClassName); }
    void encodeWithCoder(KeyedArchiver& coder) const override {
        if (mWrite)
            mWrite(coder);
    }

private:
    Writer mWrite;
};

// The decoder an object sees when the archive written by `write` is read back from its bytes.
KeyedUnarchiver roundTrip(const Writer& write) {
    static std::optional<KeyedUnarchiver> seen;
    static const bool registered = [] {
        KeyedUnarchiver::registerClass(QString::fromLatin1(CodecHolder::kClassName),
                                       [](KeyedUnarchiver& coder) {
                                           seen = coder;
                                           return std::make_unique<CodecHolder>();
                                       });
        return true;
    }();
    (void)registered;
    seen.reset();
    QString error;
    const QByteArray bytes = KeyedArchiver::archivedData(CodecHolder(write), &error);
    EXPECT_FALSE(bytes.isEmpty()) << error.toStdString();
    EXPECT_NE(KeyedUnarchiver::unarchive(bytes, &error), nullptr) << error.toStdString();
    return seen.value_or(KeyedUnarchiver(QVariantMap()));
}

std::vector<float> valuesOf(const KOFloatBuffer& buffer) {
    return {buffer.Data(), buffer.Data() + buffer.Length()};
}

const QString kKey = QStringLiteral("inst.fftsnapshot");

struct BufferCase {
    const char* name;
    std::vector<float> values;
    bool decibel;
};

class FloatBufferRoundTrip : public ::testing::TestWithParam<BufferCase> {};

// Values come back bit for bit with their flag, also under a decimal-comma locale.
TEST_P(FloatBufferRoundTrip, KeepsValuesAndDecibelFlag) {
    const BufferCase& c = GetParam();
    for (const char* locale : {"C", "de_DE.UTF-8"}) {
        koru::test::ScopedLocale scoped(locale);
        if (!scoped.active())
            GTEST_SKIP() << locale << " is not installed";
        const KOFloatBuffer original(c.values.data(), std::uint32_t(c.values.size()), c.decibel);
        KeyedUnarchiver decoder = roundTrip([&](KeyedArchiver& coder) {
            KOFloatBufferCoding::encodeFloatBuffer(coder, original, kKey);
        });
        const auto decoded =
            KOFloatBufferCoding::decodeFloatBufferForKey(decoder, kKey, original.Length());
        ASSERT_EQ(decoded->Length(), original.Length()) << locale;
        EXPECT_EQ(decoded->IsDecibel(), c.decibel) << locale;
        const std::vector<float> values = valuesOf(*decoded);
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (std::isnan(c.values[i]))
                EXPECT_TRUE(std::isnan(values[i])) << locale << " value " << i;
            else
                EXPECT_EQ(values[i], c.values[i]) << locale << " value " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Buffers, FloatBufferRoundTrip,
    ::testing::Values(
        BufferCase{"LinearSpectrum", {0.0f, 1e-11f, 0.8165f, 1.0f, 1.633f, 3.5e-39f}, false},
        BufferCase{"DecibelSpectrum", {-144.0f, -7.78f, 0.0f, 4.26f, -0.5f, -220.0f}, true},
        BufferCase{"SpecialValues",
                   {std::numeric_limits<float>::quiet_NaN(),
                    -std::numeric_limits<float>::infinity(), std::numeric_limits<float>::max(),
                    -0.0f},
                   false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(KOFloatBufferCoding, StoresLittleEndianFloatsAndTheFlagBesideThem) {
    const float values[] = {1.0f, -2.0f};
    const KOFloatBuffer buffer(values, 2, true);
    KeyedArchiver coder;
    KOFloatBufferCoding::encodeFloatBuffer(coder, buffer, QStringLiteral("K"));
    EXPECT_EQ(coder.dictionary().value(QStringLiteral("K")).toByteArray(),
              QByteArray::fromHex("0000803f000000c0"));
    EXPECT_EQ(coder.dictionary().value(QStringLiteral("Kdc")), QVariant(true));
}

struct DamageCase {
    const char* name;
    Writer write;
};

class DamagedFloatBuffer : public ::testing::TestWithParam<DamageCase> {};

// Anything but exactly N floats restores N zeros with the flag clear and says so in the log,
// however the entry was damaged; reading never runs past the stored bytes.
TEST_P(DamagedFloatBuffer, BecomesSilenceOfTheModelsSizeWithALogLine) {
    constexpr std::uint32_t kLength = 8;
    koru::test::LogCapture log;
    KeyedUnarchiver decoder = roundTrip(GetParam().write);
    const auto decoded = KOFloatBufferCoding::decodeFloatBufferForKey(decoder, kKey, kLength);
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(decoded->Length(), kLength);
    EXPECT_FALSE(decoded->IsDecibel());
    EXPECT_EQ(valuesOf(*decoded), std::vector<float>(kLength, 0.0f));
    EXPECT_EQ(log.count(kKey.toStdString()), 1);
}

QByteArray floats(int count, float value) {
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Damage, DamagedFloatBuffer,
    ::testing::Values(
        DamageCase{"Missing",
                   [](KeyedArchiver& c) { c.encodeBool(kKey + QStringLiteral("dc"), true); }},
        DamageCase{"Empty",
                   [](KeyedArchiver& c) {
                       c.encodeData(kKey, QByteArray());
                       c.encodeBool(kKey + QStringLiteral("dc"), true);
                   }},
        DamageCase{"NotData", [](KeyedArchiver& c) { c.encodeString(kKey, QStringLiteral("x")); }},
        DamageCase{"Ragged",
                   [](KeyedArchiver& c) { c.encodeData(kKey, floats(8, 1.0f).left(31)); }},
        DamageCase{"Short",
                   [](KeyedArchiver& c) {
                       c.encodeData(kKey, floats(7, 1.0f));
                       c.encodeBool(kKey + QStringLiteral("dc"), true);
                   }},
        DamageCase{"Long", [](KeyedArchiver& c) { c.encodeData(kKey, floats(9, 1.0f)); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(KOFloatBufferCoding, TransferResultsTravelAsThreeBuffersAndADamagedOneIsSilenced) {
    KOTransferResults results(4);
    for (std::uint32_t i = 0; i < 4; ++i) {
        results.magnitude()->Data()[i] = 0.5f * float(i);
        results.phase()->Data()[i] = -0.25f * float(i);
        results.coherence()->Data()[i] = 0.125f * float(i);
    }
    results.phase()->SetDecibel(true);
    results.coherence()->SetDecibel(true);
    const QString key = QStringLiteral("transRes");

    KeyedUnarchiver whole = roundTrip([&](KeyedArchiver& coder) {
        KOFloatBufferCoding::encodeTransferResult(coder, results, key);
    });
    for (const char* suffix : {"mag", "magdc", "phi", "phidc", "coh", "cohdc"})
        EXPECT_TRUE(whole.containsKey(key + QLatin1String(suffix))) << suffix;
    const auto decoded = KOFloatBufferCoding::decodeTransferResultsForKey(whole, key, 4);
    ASSERT_TRUE(decoded->HasBuffers());
    EXPECT_EQ(valuesOf(*decoded->magnitude()), valuesOf(*results.magnitude()));
    EXPECT_EQ(valuesOf(*decoded->phase()), valuesOf(*results.phase()));
    EXPECT_EQ(valuesOf(*decoded->coherence()), valuesOf(*results.coherence()));
    EXPECT_FALSE(decoded->magnitude()->IsDecibel());
    EXPECT_TRUE(decoded->phase()->IsDecibel());

    // A phase of the wrong length is silenced alone; the other two keep their values.
    koru::test::LogCapture log;
    KeyedUnarchiver damaged = roundTrip([&](KeyedArchiver& coder) {
        KOFloatBufferCoding::encodeTransferResult(coder, results, key);
        coder.encodeData(key + QStringLiteral("phi"), floats(3, 1.0f));
    });
    const auto repaired = KOFloatBufferCoding::decodeTransferResultsForKey(damaged, key, 4);
    ASSERT_TRUE(repaired->HasBuffers());
    EXPECT_EQ(valuesOf(*repaired->phase()), std::vector<float>(4, 0.0f));
    EXPECT_EQ(valuesOf(*repaired->coherence()), valuesOf(*results.coherence()));
    EXPECT_EQ(log.count("transResphi"), 1);
}

TEST(KOFloatBufferCoding, PlainArrayHoldsWhatIsStoredOrNothing) {
    KeyedUnarchiver decoder = roundTrip([](KeyedArchiver& coder) {
        coder.encodeData(QStringLiteral("ir"), QByteArray::fromHex("0000803f000000c0"));
        coder.encodeData(QStringLiteral("ragged"), QByteArray::fromHex("0000803f00"));
    });
    std::uint64_t length = 99;
    const auto values =
        KOFloatBufferCoding::decodeFloatBufferForKey(decoder, QStringLiteral("ir"), &length);
    ASSERT_EQ(length, 2u);
    EXPECT_EQ(values[0], 1.0f);
    EXPECT_EQ(values[1], -2.0f);

    for (const char* key : {"absent", "ragged"}) {
        length = 99;
        EXPECT_EQ(KOFloatBufferCoding::decodeFloatBufferForKey(decoder, QString::fromLatin1(key),
                                                               &length),
                  nullptr)
            << key;
        EXPECT_EQ(length, 0u) << key;
    }
    EXPECT_THROW(
        KOFloatBufferCoding::decodeFloatBufferForKey(decoder, QStringLiteral("ir"), nullptr),
        koru::platform::InternalInconsistencyException);
}

} // namespace
