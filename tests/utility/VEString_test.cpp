#include "UtilityTestSupport.h"

#include "utility/VEString.h"
#include "utility/ZODictionary.h"

#include <QImage>
#include <QPainter>
#include <QRegularExpression>

#include <cmath>
#include <limits>
#include <set>

namespace {

using koru::test::LocaleTest;
using koru::utility::BundleInfo;

class VEStringFormats : public LocaleTest {};

TEST_P(VEStringFormats, DurationsLeaveOutLeadingAndTrailingZeroUnits) {
    const std::vector<std::pair<std::uint32_t, const char*>> cases = {
        {0, "0sec"},
        {45, "45sec"},
        {59, "59sec"},
        {60, "1min"},
        {120, "2min"},
        {125, "2min 05sec"},
        {3599, "59min 59sec"},
        {3600, "1h"},
        {3601, "1h 00min 01sec"},
        {3605, "1h 00min 05sec"},
        {3660, "1h 01min"},
        {7200, "2h"},
        {90061, "25h 01min 01sec"},
        {4294967295u, "1193046h 28min 15sec"},
    };
    for (const auto& [seconds, expected] : cases)
        EXPECT_EQ(VEString::stringFromSecondsWithoutLead(seconds), QString(expected)) << seconds;
}

TEST_P(VEStringFormats, FrequencyLabelsUseWholeHertzAndTensAfterTheK) {
    const std::vector<std::pair<float, const char*>> cases = {
        {0.0f, "0"},       {0.5f, "0"},       {2.5f, "2"},         {440.0f, "440"},
        {999.4f, "999"},   {999.6f, "1000"},  {1000.0f, "1k"},     {1005.0f, "1k"},
        {1009.0f, "1k"},   {1010.0f, "1k01"}, {1050.0f, "1k05"},   {1250.0f, "1k25"},
        {1999.9f, "1k99"}, {3150.0f, "3k15"}, {12500.0f, "12k50"}, {16000.0f, "16k"},
        {20000.0f, "20k"}, {-5.0f, "-5"},
    };
    for (const auto& [hertz, expected] : cases)
        EXPECT_EQ(VEString::stringFromFrequency(hertz), QString(expected)) << hertz;
}

TEST_P(VEStringFormats, FrequencyLabelsOfValuesNoIntegerHolds) {
    EXPECT_EQ(VEString::stringFromFrequency(std::numeric_limits<float>::quiet_NaN()), "nan");
    EXPECT_EQ(VEString::stringFromFrequency(std::numeric_limits<float>::infinity()), "inf");
    EXPECT_EQ(VEString::stringFromFrequency(1e12f), "2147483k64");
}

INSTANTIATE_TEST_SUITE_P(Locales, VEStringFormats, koru::test::kLocales, koru::test::localeName);

TEST(VEString, UuidsAreUpperCaseCanonicalAndFresh) {
    const QRegularExpression canonical(
        QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$"));
    std::set<QString> seen;
    for (int i = 0; i < 100; ++i) {
        const QString uuid = VEString::uuidString();
        EXPECT_TRUE(canonical.match(uuid).hasMatch()) << uuid.toStdString();
        seen.insert(uuid);
    }
    EXPECT_EQ(seen.size(), 100u);
}

TEST(VEString, BundleStringsComeFromTheBuildAndFallBackWhenMissing) {
    EXPECT_EQ(VEString::stringWithBundleName(), "KORU");
    EXPECT_EQ(VEString::stringWithBundleShortVersion(), QStringLiteral(KORU_TEST_VERSION));
    EXPECT_FALSE(VEString::stringWithBundleVersion().isEmpty());
    EXPECT_NE(VEString::stringWithBundleIdentifier(), "unknown_bundle");

    const BundleInfo empty;
    EXPECT_EQ(VEString::stringWithBundleIdentifier(empty), "unknown_bundle");
    EXPECT_EQ(VEString::stringWithBundleName(empty), "");
    EXPECT_EQ(VEString::stringWithBundleVersion(empty), "");
    EXPECT_EQ(VEString::stringWithBundleShortVersion(empty), "");
    EXPECT_EQ(VEString::stringWithBundleCopyright(empty), "");
    EXPECT_FALSE(VEString::stringWithSystemSerialNumber().has_value());
}

TEST(VEString, HexTextHasTwoLowerCaseDigitsPerByte) {
    const unsigned char bytes[] = {0x00, 0xAB, 0x10};
    EXPECT_EQ(VEString::hexStringFromBytes(bytes, 0), "");
    EXPECT_EQ(VEString::hexStringFromBytes(bytes, 3), "00ab10");
}

TEST(VEString, FileSystemFriendlyNamesReplaceEverySeparator) {
    const std::vector<std::pair<QString, QString>> cases = {
        {"  x/y z  ", "x_y_z"},
        {"   ", "untitled"},
        {"", "untitled"},
        {"a.txt", "a_txt"},
        {"a  b", "a__b"},
        {"Mix: 1/2 (L&R)!", "Mix__1_2__L_R__"},
        {"\\?%*|<>(),!#$^&:;'~\"@.", "______________________"},
        {"tab\there", "tab_here"},
        {"Überblick", "Überblick"},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(VEString::fileSystemFriendlyString(text), expected) << text.toStdString();
}

TEST(VEString, TrimRemovesBlanksAndLineEndsAtBothEnds) {
    EXPECT_EQ(VEString::trim(" \t a b \r\n"), "a b");
}

TEST(VEString, Sha1OfTextDigestsItsUtf8Bytes) {
    EXPECT_EQ(VEString::sha1String("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(VEString::sha1String(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
}

TEST(VEString, CentredTextIsKeptInsideItsInterval) {
    struct Case {
        double x, width, minX, maxX, left;
    };
    const std::vector<Case> cases = {
        {50, 20, 0, 100, 40}, // room on both sides
        {5, 20, 0, 100, 0},   // pushed right at the left end
        {95, 20, 0, 100, 80}, // pushed left at the right end
        {50, 200, 0, 100, 0}, // wider than the interval: starts at minX
    };
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(VEString::centeredLeft(c.x, c.width, c.minX, c.maxX), c.left) << c.x;
}

// Columns and rows holding any pixel that is not white.
struct InkBox {
    int left = -1, right = -1, top = -1, bottom = -1;
};

InkBox inkOf(const QImage& image) {
    InkBox box;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixelColor(x, y) == Qt::white)
                continue;
            box.left = box.left < 0 ? x : std::min(box.left, x);
            box.right = std::max(box.right, x);
            box.top = box.top < 0 ? y : std::min(box.top, y);
            box.bottom = std::max(box.bottom, y);
        }
    }
    return box;
}

QImage drawn(const std::function<void(QPainter&)>& draw) {
    QImage image(300, 60, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    draw(painter);
    return image;
}

TEST(VEString, RightAlignedTextEndsAtThePointAndSitsAboveIt) {
    const VETextAttributes attributes =
        ZODictionary::fontAttributesDictionaryForSize(14, Qt::black);
    const QImage image = drawn([&](QPainter& p) {
        VEString::drawRightAlignedAtPoint(p, "8888 Hz", QPointF(200, 40), attributes);
    });
    const InkBox ink = inkOf(image);
    ASSERT_GE(ink.left, 0) << "nothing drawn";
    EXPECT_LE(ink.right, 200);
    EXPECT_GE(ink.right, 190);
    EXPECT_LT(ink.left, 170);
    EXPECT_LT(ink.bottom, 40);
    EXPECT_GT(ink.bottom, 25);
}

TEST(VEString, CentredTextStraddlesThePoint) {
    const VETextAttributes attributes =
        ZODictionary::fontAttributesDictionaryForSize(14, Qt::black);
    const QImage image = drawn([&](QPainter& p) {
        VEString::drawCenteredAtPoint(p, "1k25", QPointF(150, 40), attributes);
    });
    const InkBox ink = inkOf(image);
    ASSERT_GE(ink.left, 0) << "nothing drawn";
    EXPECT_NEAR((ink.left + ink.right) / 2.0, 150.0, 3.0);
}

} // namespace

namespace {

TEST(VEStringLines, PiecesLieBetweenLineFeedsKeepingEmptyOnes) {
    const struct {
        const char* text;
        QStringList pieces;
    } cases[] = {
        {"one", {"one"}},         {"a\nb", {"a", "b"}}, {"a\nb\n", {"a", "b", ""}},
        {"\n\nx", {"", "", "x"}}, {"", {""}},           {"dos\r\nline", {"dos\r", "line"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(VEString::lines(QString::fromUtf8(c.text)), c.pieces);
        QStringList seen;
        VEString::eachLine(QString::fromUtf8(c.text), [&](const QString& line) { seen << line; });
        EXPECT_EQ(seen, c.pieces);
    }
}

TEST(VEStringLines, CharactersComeAsUtf16CodeUnits) {
    std::u16string seen;
    // "dB", a ±, and a character outside the BMP (two code units).
    VEString::eachCharacter(QString::fromUtf8("dB\xc2\xb1\xf0\x9d\x84\x9e"),
                            [&](char16_t unit) { seen.push_back(unit); });
    EXPECT_EQ(seen, (std::u16string{u'd', u'B', u'\u00b1', char16_t(0xD834), char16_t(0xDD1E)}));
    int calls = 0;
    VEString::eachCharacter(QString(), [&](char16_t) { ++calls; });
    EXPECT_EQ(calls, 0);
}

} // namespace
