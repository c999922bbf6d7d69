#include "utility/UtilityTestSupport.h"

#include "utility/ui/KODistanceFieldAdapter.h"

#include "platform/defaults/UserDefaults.h"

#include <QDir>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

using koru::platform::NotificationCenter;
using koru::platform::UserDefaults;

class FixedRate : public koru::utility::SampleRateSource {
public:
    double currentSampleRate() const override { return 48000.0; }
};

class KODistanceFieldAdapterTest : public koru::test::LocaleTest {
protected:
    void SetUp() override {
        LocaleTest::SetUp();
        const QString folder = koru::test::testRoot() + "/distance-field-" +
                               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        QDir(folder).removeRecursively();
        defaults = std::make_unique<UserDefaults>(folder + "/defaults.plist");
        formatter = std::make_unique<KODistanceFormatter>(*defaults, center);
        formatter->setSampleRateSource(&rate);
        field = std::make_unique<QLineEdit>();
        adapter = new KODistanceFieldAdapter(*field, *formatter, center);
    }
    void TearDown() override {
        field.reset(); // takes the adapter with it
        if (formatter)
            formatter->setSampleRateSource(nullptr);
        LocaleTest::TearDown();
    }

    // Types into the field as a user would and ends the edit with Return.
    void type(const QString& text) {
        field->selectAll();
        QTest::keyClicks(field.get(), text);
        QTest::keyClick(field.get(), Qt::Key_Return);
    }

    std::unique_ptr<UserDefaults> defaults;
    NotificationCenter center;
    FixedRate rate;
    std::unique_ptr<KODistanceFormatter> formatter;
    std::unique_ptr<QLineEdit> field;
    KODistanceFieldAdapter* adapter = nullptr;
};

TEST_P(KODistanceFieldAdapterTest, TypedDelaysAreReadIntoSamplesAndShownAgainInTheUnit) {
    const struct {
        const char* typed;
        double samples;
        const char* shown;
    } cases[] = {
        {"2 ft", 48000.0 * 2.0 / 1125.0, "0.61 m"},
        {"-10", 48000.0 * 10.0 / 343.0, "10.00 m"}, // the magnitude
        {"500 m", 64000.0, "457.33 m"},             // capped
        {"1.5 msec", 72.0, "0.51 m"},
        {"nothing", 0.0, "0.00 m"},
    };
    QSignalSpy edited(adapter, &KODistanceFieldAdapter::samplesEdited);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        type(QString::fromUtf8(c.typed));
        EXPECT_NEAR(adapter->samples(), c.samples, 1e-3);
        EXPECT_EQ(field->text(), QString::fromUtf8(c.shown));
        ASSERT_FALSE(edited.isEmpty());
        EXPECT_NEAR(edited.takeLast().at(0).toDouble(), c.samples, 1e-3);
    }
}

TEST_P(KODistanceFieldAdapterTest, ProgramValuesAndUnitChangesReShowWithoutAnEdit) {
    QSignalSpy edited(adapter, &KODistanceFieldAdapter::samplesEdited);
    EXPECT_EQ(field->text(), "0.00 m");
    adapter->setSamples(4800.0);
    EXPECT_EQ(field->text(), "34.30 m");
    formatter->setUnit(KODistanceFormatter::Feet);
    EXPECT_EQ(field->text(), "112.50 ft");
    formatter->setUnit(KODistanceFormatter::Samples);
    EXPECT_EQ(field->text(), "4800 smp");
    // Leaving the field untouched is no edit either.
    emit field->editingFinished();
    EXPECT_EQ(adapter->samples(), 4800.0);
    EXPECT_TRUE(edited.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Locales, KODistanceFieldAdapterTest, koru::test::kLocales,
                         koru::test::localeName);

} // namespace
