#include "UtilityTestSupport.h"

#include "utility/VEData.h"
#include "utility/VEHash64.h"
#include "utility/VESHA1Calculator.h"

#include <QFile>

namespace {

constexpr const char* kAbc = "a9993e364706816aba3e25717850c26c9cd0d89d";
constexpr const char* kEmpty = "da39a3ee5e6b4b0d3255bfef95601890afd80709";

TEST(VEData, Sha1MatchesPublishedVectors) {
    const std::vector<std::pair<QByteArray, const char*>> cases = {
        {"abc", kAbc},
        {"", kEmpty},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {QByteArray(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
    };
    for (const auto& [data, expected] : cases) {
        EXPECT_EQ(VEData::sha1String(data), expected);
        EXPECT_EQ(VEData::sha1(data).size(), 20);
    }
}

TEST(VEData, FileDigestReadsTheWholeFileInChunks) {
    const QString empty = koru::test::testRoot() + "/empty.bin";
    const QString large = koru::test::testRoot() + "/large.bin";
    QByteArray contents;
    for (int i = 0; i < 100000; ++i)
        contents.append(char(i * 7));
    for (const auto& [path, bytes] : {std::pair{empty, QByteArray()}, std::pair{large, contents}}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    EXPECT_EQ(VEData::digestStringOfFileAtURL(empty), kEmpty);
    EXPECT_EQ(VEData::digestStringOfFileAtURL(large), VEData::sha1String(contents));
    EXPECT_FALSE(VEData::digestStringOfFileAtURL(koru::test::testRoot() + "/missing").has_value());
    EXPECT_FALSE(VEData::digestStringOfFileAtURL(koru::test::testRoot()).has_value());
}

TEST(VESHA1Calculator, PiecesDigestLikeTheWholeAndTheAnswerStaysFixed) {
    VESHA1Calculator calculator;
    calculator.pushString("a");
    calculator.pushData("b");
    calculator.pushBuffer("c", 1);
    EXPECT_EQ(calculator.digestString(), kAbc);
    calculator.pushString("more");
    EXPECT_EQ(calculator.digestString(), kAbc);

    VEDigestCalculator base;
    base.pushString("abc");
    EXPECT_FALSE(base.digestString().has_value());
}

TEST(VEHash64, IsXxh64WithTheVectorSeed) {
    EXPECT_EQ(VEHash64("", 0, 0), 0xEF46DB3751D8E999ull);
    const float samples[] = {0.5f, -1.0f, 0.25f};
    const std::uint64_t h = VEHash64(samples, sizeof samples);
    EXPECT_EQ(h, VEHash64(samples, sizeof samples, 0x6B6F6676));
    EXPECT_NE(h, VEHash64(samples, sizeof samples, 0));
    const float changed[] = {0.5f, -1.0f, 0.5f};
    EXPECT_NE(h, VEHash64(changed, sizeof changed));
}

} // namespace
