#include "framework/KOColorAdditions.h"
#include "framework/TraceColourSequence.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <thread>
#include <vector>

namespace {

bool isTraceColour(const QColor& colour) {
    return colour.redF() >= 0.4f - 1e-4f && colour.greenF() >= 0.2f - 1e-4f &&
           colour.blueF() >= 0.5f - 1e-4f && std::fabs(colour.alphaF() - 0.8f) < 1e-4f;
}

std::vector<QColor> coloursFrom(std::uint32_t seed, int count) {
    TraceColourSequence sequence(seed);
    std::vector<QColor> colours;
    for (int i = 0; i < count; ++i)
        colours.push_back(sequence.next(0.8));
    return colours;
}

TEST(TraceColourSequence, EverySeedGivesBrightChangingColours) {
    // Components rest on their floors for a step or two now and then, so a colour may repeat
    // once in a while; the sequence as a whole keeps moving.
    for (const std::uint32_t seed : {0u, 1u, 20240601u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(seed);
        std::set<QRgb> seen;
        QColor previous;
        int repeats = 0;
        for (const QColor& colour : coloursFrom(seed, 500)) {
            EXPECT_TRUE(isTraceColour(colour)) << colour.name().toStdString();
            repeats += colour == previous ? 1 : 0;
            previous = colour;
            seen.insert(colour.rgba());
        }
        EXPECT_LT(repeats, 100);
        EXPECT_GT(seen.size(), 100u);
    }
}

TEST(TraceColourSequence, ASeedAlwaysGivesTheSameSequence) {
    const auto first = coloursFrom(7, 50);
    EXPECT_EQ(coloursFrom(7, 50), first);
    EXPECT_NE(coloursFrom(8, 50), first);

    TraceColourSequence sequence(7);
    sequence.next(0.8);
    sequence.next(0.8);
    sequence.reseed(7);
    EXPECT_EQ(sequence.next(0.8), first.front()) << "reseeding starts over";
}

TEST(KOColorAdditions, NextColourFollowsTheSeededSequence) {
    KOColorAdditions::seedTraceColours(7);
    const auto expected = coloursFrom(7, 3);
    EXPECT_EQ(KOColorAdditions::nextColor(), expected[0]);
    const QColor faint = KOColorAdditions::nextColorWithAlpha(0.3);
    EXPECT_EQ(faint.rgb(), expected[1].rgb());
    EXPECT_NEAR(faint.alphaF(), 0.3, 1e-4);
    EXPECT_EQ(KOColorAdditions::nextColor(), expected[2]);
}

TEST(KOColorAdditions, TraceColoursAreSafeFromManyThreads) {
    std::vector<std::thread> threads;
    std::atomic<int> bad{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                if (!isTraceColour(KOColorAdditions::nextColor())) {
                    ++bad;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(bad.load(), 0);
}

struct DictionaryCase {
    const char* name;
    QVariantMap dictionary;
    std::optional<QColor> expected; // nullopt: a fresh trace colour
};

class ColourFromDictionary : public testing::TestWithParam<DictionaryCase> {};

TEST_P(ColourFromDictionary, KeepsEveryRealColour) {
    const DictionaryCase& c = GetParam();
    const QColor colour = KOColorAdditions::colorFromDictionary(c.dictionary);
    if (!c.expected) {
        EXPECT_TRUE(isTraceColour(colour)) << colour.name().toStdString();
        return;
    }
    EXPECT_NEAR(colour.redF(), c.expected->redF(), 1e-4);
    EXPECT_NEAR(colour.greenF(), c.expected->greenF(), 1e-4);
    EXPECT_NEAR(colour.blueF(), c.expected->blueF(), 1e-4);
    EXPECT_NEAR(colour.alphaF(), c.expected->alphaF(), 1e-4);
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Cases, ColourFromDictionary,
    testing::Values(
        DictionaryCase{"stored",
                       {{"r", 0.2f}, {"g", 0.7f}, {"b", 0.9f}, {"a", 1.0f}},
                       QColor::fromRgbF(0.2f, 0.7f, 0.9f, 1.0f)},
        // pure blue was lost to a random colour before: it is a saved colour like any other
        DictionaryCase{"pureBlue",
                       {{"r", 0}, {"g", 0}, {"b", 1}, {"a", 1}},
                       QColor::fromRgbF(0.0f, 0.0f, 1.0f, 1.0f)},
        DictionaryCase{"missingBlueReadsZero",
                       {{"r", 0.5}, {"g", 0.25}, {"a", 0.5}},
                       QColor::fromRgbF(0.5f, 0.25f, 0.0f, 0.5f)},
        DictionaryCase{"invisible", {{"r", 0.5}, {"g", 0}, {"b", 0}, {"a", 0}}, std::nullopt},
        DictionaryCase{"black", {{"r", 0}, {"g", 0}, {"b", 0}, {"a", 1}}, std::nullopt},
        DictionaryCase{"empty", {}, std::nullopt},
        DictionaryCase{"notANumber", {{"r", kNaN}, {"g", 0.5}, {"b", 0.5}, {"a", 1}}, std::nullopt},
        DictionaryCase{"text", {{"r", "red"}, {"g", 0.5}, {"b", 0.5}, {"a", 1}}, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(KOColorAdditions, DictionaryRoundTripKeepsTheComponents) {
    const QColor colours[] = {QColor::fromRgbF(0.2f, 0.7f, 0.9f, 1.0f),
                              QColor::fromRgbF(0.0f, 0.0f, 1.0f, 0.8f),
                              QColor::fromRgbF(0.123f, 0.456f, 0.789f, 0.5f), QColor(Qt::red)};
    for (const QColor& colour : colours) {
        const QVariantMap dictionary = KOColorAdditions::dictionaryRepresentation(colour);
        EXPECT_EQ(dictionary.value("r").typeId(), QMetaType::Float);
        const QColor back = KOColorAdditions::colorFromDictionary(dictionary);
        EXPECT_NEAR(back.redF(), colour.redF(), 1e-4);
        EXPECT_NEAR(back.greenF(), colour.greenF(), 1e-4);
        EXPECT_NEAR(back.blueF(), colour.blueF(), 1e-4);
        EXPECT_NEAR(back.alphaF(), colour.alphaF(), 1e-4);
    }
}

TEST(KOColorAdditions, FixedColours) {
    const QColor backing = KOColorAdditions::darkKORUBackingColor();
    EXPECT_NEAR(backing.redF(), 0.13, 1e-4);
    EXPECT_NEAR(backing.blueF(), 0.13, 1e-4);
    EXPECT_EQ(backing.alphaF(), 1.0f);
    const QColor blue = KOColorAdditions::noBlueColor();
    EXPECT_NEAR(blue.redF(), 0.2, 1e-4);
    EXPECT_NEAR(blue.greenF(), 0.7, 1e-4);
    EXPECT_NEAR(blue.blueF(), 0.9, 1e-4);
}

} // namespace
