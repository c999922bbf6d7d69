#include "UtilityTestSupport.h"

#include "utility/KODistanceFormatter.h"

#include "platform/defaults/UserDefaults.h"

#include <QDir>

#include <cmath>

namespace {

using koru::platform::Notification;
using koru::platform::NotificationCenter;
using koru::platform::UserDefaults;

class FakeRate : public koru::utility::SampleRateSource {
public:
    double currentSampleRate() const override {
        ++asked;
        return rate;
    }
    double rate = 48000.0;
    mutable int asked = 0;
};

class KODistanceFormatterTest : public koru::test::LocaleTest {
protected:
    void SetUp() override {
        LocaleTest::SetUp();
        const QString folder = koru::test::testRoot() + "/distance-" +
                               ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                               "-" + GetParam();
        QDir(folder).removeRecursively();
        defaults = std::make_unique<UserDefaults>(folder + "/defaults.plist");
        unitsPosted = std::make_unique<koru::platform::ObserverToken>(
            center,
            center.addObserver(KODistanceFormatter::kChangeDistanceUnitNotification, nullptr,
                               [this](const Notification& n) { posted.push_back(n.object); }));
    }

    KODistanceFormatter& make() {
        formatter = std::make_unique<KODistanceFormatter>(*defaults, center);
        formatter->setSampleRateSource(&rate);
        return *formatter;
    }

    std::unique_ptr<UserDefaults> defaults;
    NotificationCenter center;
    std::unique_ptr<koru::platform::ObserverToken> unitsPosted;
    std::vector<QVariant> posted;
    FakeRate rate;
    std::unique_ptr<KODistanceFormatter> formatter;
};

TEST_P(KODistanceFormatterTest, SamplesShowInTheChosenUnit) {
    KODistanceFormatter& f = make();
    const std::vector<std::pair<std::uint32_t, const char*>> cases = {
        {KODistanceFormatter::Meter, "34.30 m"},
        {KODistanceFormatter::Feet, "112.50 ft"},
        {KODistanceFormatter::Msec, "100.0 msec"},
        {KODistanceFormatter::Samples, "4800 smp"},
    };
    for (const auto& [unit, expected] : cases) {
        f.setUnit(unit);
        EXPECT_EQ(f.stringForObjectValue(4800), QString(expected)) << unit;
        EXPECT_EQ(f.stringForObjectValue(4800.0), QString(expected)) << unit;
    }
}

TEST_P(KODistanceFormatterTest, UnconvertedValuesUseTheGivenUnitsFormatAndSymbol) {
    KODistanceFormatter& f = make();
    f.setUnit(KODistanceFormatter::Samples);
    EXPECT_EQ(f.stringForObjectValue(1.5, KODistanceFormatter::Meter), "1.50 m");
    EXPECT_EQ(f.stringForObjectValue(1.25, KODistanceFormatter::Msec), "1.2 msec");
    EXPECT_EQ(f.stringForObjectValue(2.5, 9), "2.50");
}

TEST_P(KODistanceFormatterTest, TextsPassThroughAndOtherObjectsGiveNothing) {
    KODistanceFormatter& f = make();
    EXPECT_EQ(f.stringForObjectValue(QString("12 m")), "12 m");
    EXPECT_EQ(f.stringForObjectValue(QString("x"), KODistanceFormatter::Feet), "x");
    EXPECT_FALSE(f.stringForObjectValue(QVariantList{1}).has_value());
    EXPECT_FALSE(f.stringForObjectValue(QVariant()).has_value());
}

TEST_P(KODistanceFormatterTest, TypedDelaysBecomeSamples) {
    KODistanceFormatter& f = make();
    f.setUnit(KODistanceFormatter::Meter);
    const std::vector<std::pair<const char*, double>> cases = {
        {"2 ft", 48000.0 * 2 / 1125},
        {"10 msec", 480.0},
        {"100 smp", 100.0},
        {"10 m", 48000.0 * 10 / 343},
        {"10 meter", 48000.0 * 10 / 343}, // no symbol at the end: the current unit
        {"-10 m", 48000.0 * 10 / 343},
        {"  1.5e1 m", 48000.0 * 15 / 343},
        {"500 m", 64000.0},
        {"1e999", 64000.0},
        {"m", 0.0},
        {"", 0.0},
        {"1,5 m", 48000.0 / 343},
    };
    for (const auto& [text, samples] : cases) {
        QVariant value;
        EXPECT_TRUE(f.getObjectValue(&value, text));
        EXPECT_NEAR(value.toDouble(), samples, 0.01) << text;
    }
}

TEST_P(KODistanceFormatterTest, ConversionsUseTheRateConstants) {
    KODistanceFormatter& f = make();
    EXPECT_FLOAT_EQ(f.convertValue(1.0, KODistanceFormatter::Meter, KODistanceFormatter::Samples),
                    48000.0f / 343.0f);
    EXPECT_FLOAT_EQ(f.convertValue(1.0, KODistanceFormatter::Feet, KODistanceFormatter::Samples),
                    48000.0f / 1125.0f);
    EXPECT_FLOAT_EQ(f.convertValue(1.0, KODistanceFormatter::Msec, KODistanceFormatter::Samples),
                    48.0f);
    EXPECT_FLOAT_EQ(f.convertValue(343.0, KODistanceFormatter::Meter, KODistanceFormatter::Feet),
                    1125.0f);
    EXPECT_FLOAT_EQ(f.convertValue(7.0, 5, 5), 7.0f);
    EXPECT_FLOAT_EQ(f.convertValue(2.0, 9, KODistanceFormatter::Msec), 2000.0f);

    f.setUnit(KODistanceFormatter::Msec);
    EXPECT_FLOAT_EQ(f.convertValue(480.0, KODistanceFormatter::Samples), 10.0f);
    EXPECT_EQ(f.convertGenericToSamples(0.03), 1);   // 1.44 samples
    EXPECT_EQ(f.convertGenericToSamples(-0.03), -1); // toward zero
}

INSTANTIATE_TEST_SUITE_P(Locales, KODistanceFormatterTest, koru::test::kLocales,
                         koru::test::localeName);

class KODistanceFormatterUnit : public KODistanceFormatterTest {};

TEST_P(KODistanceFormatterUnit, CreationPostsTheStoredUnit) {
    defaults->setInteger(KODistanceFormatter::kUnitDefaultsKey, 2);
    KODistanceFormatter& f = make();
    EXPECT_EQ(f.unit(), 2u);
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].toUInt(), 2u);
}

TEST_P(KODistanceFormatterUnit, AStoredUnitOutOfRangeBecomesMeter) {
    for (const qint64 stored : {qint64(4), qint64(-1), qint64(1) << 33}) {
        defaults->setInteger(KODistanceFormatter::kUnitDefaultsKey, stored);
        EXPECT_EQ(make().unit(), 0u) << stored;
    }
}

TEST_P(KODistanceFormatterUnit, SettingAnInvalidUnitStoresAndPostsMeter) {
    KODistanceFormatter& f = make();
    f.setUnit(1);
    f.setUnit(7);
    EXPECT_EQ(f.unit(), 0u);
    EXPECT_EQ(defaults->integerForKey(KODistanceFormatter::kUnitDefaultsKey), 0);
    ASSERT_EQ(posted.size(), 3u);
    EXPECT_EQ(posted[1].toUInt(), 1u);
    EXPECT_EQ(posted[2].toUInt(), 0u);

    f.setUnit(3);
    defaults->reload();
    EXPECT_EQ(defaults->integerForKey(KODistanceFormatter::kUnitDefaultsKey), 3);
}

TEST_P(KODistanceFormatterUnit, NamesAndSymbolsFollowTheUnitOrder) {
    const auto units = KODistanceFormatter::allUnits();
    ASSERT_EQ(units.size(), 4u);
    const QStringList names = {"meter", "feet", "msec", "samples"};
    const QStringList symbols = {"m", "ft", "msec", "smp"};
    for (std::size_t i = 0; i < units.size(); ++i) {
        EXPECT_EQ(units[i], i);
        EXPECT_EQ(KODistanceFormatter::unitNameForUnit(units[i]), names[qsizetype(i)]);
        EXPECT_EQ(KODistanceFormatter::unitSymbolForUnit(units[i]), symbols[qsizetype(i)]);
    }
    EXPECT_EQ(KODistanceFormatter::unitNameForUnit(4), "");
    EXPECT_EQ(KODistanceFormatter::unitSymbolForUnit(4), "");
}

INSTANTIATE_TEST_SUITE_P(Locales, KODistanceFormatterUnit, ::testing::Values("C"),
                         koru::test::localeName);

class KODistanceFormatterRate : public KODistanceFormatterTest {};

TEST_P(KODistanceFormatterRate, WithoutADeviceNoDelayReadsInfinite) {
    KODistanceFormatter& f = make();
    f.setSampleRateSource(nullptr);
    f.setUnit(KODistanceFormatter::Meter);
    EXPECT_EQ(f.stringForObjectValue(4800), "34.30 m");

    rate.rate = 0.0;
    f.setSampleRateSource(&rate);
    EXPECT_EQ(f.stringForObjectValue(4800), "34.30 m");
    EXPECT_EQ(f.stringForObjectValue(4800), "34.30 m");
    EXPECT_EQ(rate.asked, 2) << "an unusable answer is asked for again";
}

TEST_P(KODistanceFormatterRate, TheRateIsCachedUntilAudioPropertiesReload) {
    KODistanceFormatter& f = make();
    f.setUnit(KODistanceFormatter::Samples);
    rate.rate = 44100.0;
    EXPECT_EQ(f.stringForObjectValue(4410), "4410 smp");
    EXPECT_DOUBLE_EQ(f.sampleRate(), 44100.0);
    EXPECT_EQ(f.stringForObjectValue(QVariant(441.0), KODistanceFormatter::Msec), "441.0 msec");
    EXPECT_EQ(rate.asked, 1);

    rate.rate = 96000.0;
    EXPECT_DOUBLE_EQ(f.sampleRate(), 44100.0);
    center.post(KODistanceFormatter::kReloadAudioPropNotification);
    EXPECT_DOUBLE_EQ(f.sampleRate(), 96000.0);
    EXPECT_EQ(rate.asked, 2);
}

INSTANTIATE_TEST_SUITE_P(Locales, KODistanceFormatterRate, ::testing::Values("C"),
                         koru::test::localeName);

TEST(KODistanceFormatterShared, IsOneObject) {
    EXPECT_EQ(&KODistanceFormatter::sharedDistanceFormatter(),
              &KODistanceFormatter::sharedDistanceFormatter());
}

} // namespace
