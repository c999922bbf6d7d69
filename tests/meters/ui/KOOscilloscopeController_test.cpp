#include "app/InstrumentRegistry.h"
#include "framework/KOInstrumentControllerDelegate.h"
#include "framework/KOMenuAdditions.h"
#include "framework/KOPopUpButtonAdditions.h"
#include "meters/ui/KOMeterViews.h"
#include "meters/ui/KOOscilloscopeController.h"
#include "meters/ui/MeterInstruments.h"
#include "support/QuietInstrumentDelegate.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QMenu>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

TEST(KOOscilloscopeController, SavedKeysRestoreAndAfterwardsDefaultsApply) {
    koru::InstrumentRegistry registry;
    koru::registerMeterInstruments(registry);
    auto made = registry.createNew(QStringLiteral("KOOscilloscopeController"), nullptr);
    auto* scope = dynamic_cast<KOOscilloscopeController*>(made.get());
    ASSERT_NE(scope, nullptr);
    EXPECT_EQ(scope->timePerDiv(), 100000u);
    EXPECT_EQ(scope->inChannelB(), 1);
    scope->setTimePerDiv(250000);
    scope->setTriggerLevel(0.25f);
    scope->setTriggerSource(1);
    const QVariantMap saved = scope->dictionaryRepresentation();
    EXPECT_EQ(saved.value(QStringLiteral("Oscilloscope.TimePerDiv.Samples")).toLongLong(), 250000);
    EXPECT_EQ(saved.value(QStringLiteral("Oscilloscope.TriggerSource")).toLongLong(), 1);

    auto restoredMade = registry.createFromDictionary(saved, nullptr);
    auto* restored = dynamic_cast<KOOscilloscopeController*>(restoredMade.get());
    ASSERT_NE(restored, nullptr);
    EXPECT_EQ(restored->timePerDiv(), 250000u);
    EXPECT_FLOAT_EQ(restored->triggerLevel(), 0.25f);
    EXPECT_EQ(restored->triggerSource(), 1u);

    // Wrongly typed values take the defaults.
    QVariantMap broken = saved;
    broken.insert(QStringLiteral("Oscilloscope.TriggerLevel"), QStringLiteral("loud"));
    broken.insert(QStringLiteral("Oscilloscope.ChannelA"), -3);
    auto fallback = registry.createFromDictionary(broken, nullptr);
    auto* defaults = dynamic_cast<KOOscilloscopeController*>(fallback.get());
    ASSERT_NE(defaults, nullptr);
    EXPECT_FLOAT_EQ(defaults->triggerLevel(), 0.0f);
    EXPECT_EQ(defaults->inChannelA(), 0);
}

TEST(KOOscilloscopeController, CaptureLengthFollowsTimePerDivAndWidth) {
    struct Case {
        std::uint32_t timePerDiv;
        double width;
        std::uint32_t length;
    };
    const Case cases[] = {
        {100000, 500.0, 1000},   // 100 samples in each of 10 divisions
        {100000, 525.0, 1050},   // a part division counts
        {100000, 1.0, 10},       // clamped up
        {2400000, 2000.0, 65536} // clamped down: wider views get fewer samples than points
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width);
        EXPECT_EQ(KOOscilloscopeController::captureLength(c.timePerDiv, c.width), c.length);
    }
}

TEST(KOOscilloscopeController, ACompleteCaptureReachesTheView) {
    koru::InstrumentRegistry registry;
    koru::registerMeterInstruments(registry);
    auto made = registry.createNew(QStringLiteral("KOOscilloscopeController"), nullptr);
    auto* scope = dynamic_cast<KOOscilloscopeController*>(made.get());
    ASSERT_NE(scope, nullptr);
    scope->view()->resize(100, 100);
    scope->instrument()->SetNumberOfChannels(2);
    scope->setInChannelA(0);
    scope->setInChannelB(1);
    std::vector<float> a(4096, -0.5f);
    for (std::size_t i = 100; i < a.size(); ++i) {
        a[i] = 0.5f;
    }
    std::vector<float> b(4096, 0.0f);
    AudioBuffer buffers[2] = {{1, 4096 * 4, a.data()}, {1, 4096 * 4, b.data()}};
    const AudioBufferList list{2, buffers};
    scope->instrument()->Process(&list, 4096);
    ASSERT_TRUE(scope->instrument()->IsComplete());
    scope->dataCollection();
    const std::vector<float> trace = scope->view()->traceA();
    ASSERT_EQ(trace.size(), 100u);
    EXPECT_EQ(trace.front(), 0.5f) << "the capture starts at the triggering sample";
    EXPECT_EQ(scope->instrument()->CaptureLength(), 200u) << "two divisions of 100 samples";
}

// A device rate the test sets.
class RateDelegate : public koru::test::QuietDelegate {
public:
    double audioDeviceSampleRate() override { return rate; }
    double rate = 48000.0;
};

koru::InstrumentRegistry& meterRegistry() {
    static auto* registry = [] {
        auto* made = new koru::InstrumentRegistry;
        koru::registerMeterInstruments(*made);
        return made;
    }();
    return *registry;
}

// A new oscilloscope told its rate as the application does: through the delegate, then an
// audio-property change.
std::unique_ptr<KOInstrumentController> scopeAt(RateDelegate& delegate) {
    auto made = meterRegistry().createNew(QStringLiteral("KOOscilloscopeController"), nullptr);
    made->setDelegate(&delegate);
    made->audioPropertiesChanged();
    return made;
}

TEST(KOOscilloscopeController, DefaultsAndTheTimeUnits) {
    auto made = meterRegistry().createNew(QStringLiteral("KOOscilloscopeController"), nullptr);
    auto* scope = dynamic_cast<KOOscilloscopeController*>(made.get());
    ASSERT_NE(scope, nullptr);
    EXPECT_EQ(scope->timeUnit(), KOOscilloscopeController::kMicrosecondsPerDiv);
    EXPECT_EQ(scope->timePerDiv(), 100000u) << "100 samples per division, without an item";
    EXPECT_TRUE(scope->drawChannelA());
    EXPECT_TRUE(scope->drawChannelB());
    EXPECT_EQ(scope->inChannelA(), 0);
    EXPECT_EQ(scope->inChannelB(), 1);
    EXPECT_EQ(scope->triggerSource(), 0u);
    EXPECT_EQ(scope->triggerLevel(), 0.0f);
    ASSERT_NE(scope->view()->redrawTimerObject(), nullptr);
    EXPECT_EQ(scope->view()->redrawTimerObject()->interval(), 1000 / 18) << "18 redraws a second";

    RateDelegate delegate;
    auto at48 = scopeAt(delegate);
    auto* fast = dynamic_cast<KOOscilloscopeController*>(at48.get());
    ASSERT_NE(fast, nullptr);
    EXPECT_EQ(fast->menuSampleRate(), 48000.0);
    EXPECT_EQ(KOOscilloscopeController::timePerDivTags(1, 48000.0),
              (std::vector<std::uint32_t>{1000, 2000, 5000, 10000, 20000, 50000, 100000, 200000,
                                          500000, 1000000}));
    EXPECT_EQ(KOOscilloscopeController::timePerDivTags(2, 48000.0),
              (std::vector<std::uint32_t>{2400, 4800, 9600, 24000, 48000, 96000, 240000, 480000,
                                          960000, 2400000}));
    struct Step {
        const char* what;
        std::function<void()> act;
        std::uint32_t unit;
        std::uint32_t timePerDiv;
    };
    const Step steps[] = {
        {"samples per division", [&] { fast->setTimeUnit(1); }, 1, 100000},
        {"to microseconds: the item nearest 100 samples is 2000 usec",
         [&] { fast->setTimeUnit(2); }, 2, 96000},
        {"a choice in the pop-up",
         [&] {
             QComboBox* popUp = fast->timePerDivPopUp();
             const int index = popUp->findData(qint64(480000));
             ASSERT_GE(index, 0);
             popUp->setCurrentIndex(index);
             emit popUp->activated(index);
         },
         2, 480000},
        {"back to samples: the nearest is 500 samples", [&] { fast->setTimeUnit(1); }, 1, 500000},
        {"the unit pop-up",
         [&] {
             QComboBox* popUp = fast->unitPopUp();
             const int index = popUp->findData(qint64(2));
             popUp->setCurrentIndex(index);
             emit popUp->activated(index);
         },
         2, 480000},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.act();
        EXPECT_EQ(fast->timeUnit(), step.unit);
        EXPECT_EQ(fast->timePerDiv(), step.timePerDiv);
        EXPECT_EQ(KOPopUpButtonAdditions::selectedTag(*fast->timePerDivPopUp()),
                  qint64(step.timePerDiv));
        EXPECT_EQ(KOPopUpButtonAdditions::selectedTag(*fast->unitPopUp()), qint64(step.unit));
    }
    // A rate change keeps the time per division: 10 ms is 480 samples at 48 kHz and 960 at
    // 96 kHz. Samples per division keep their samples.
    struct RateChange {
        std::uint32_t unit;
        std::uint32_t before;
        double rate;
        std::uint32_t after;
    };
    const RateChange changes[] = {
        {2, 480000, 96000.0, 960000},
        {2, 960000, 44100.0, 441000},
        {1, 200000, 48000.0, 200000},
    };
    for (const RateChange& change : changes) {
        SCOPED_TRACE(change.rate);
        fast->setTimeUnit(change.unit);
        fast->setTimePerDiv(change.before);
        delegate.rate = change.rate;
        fast->icPropertiesChanged();
        QCoreApplication::processEvents();
        EXPECT_EQ(fast->menuSampleRate(), change.rate);
        EXPECT_EQ(fast->timePerDiv(), change.after);
        EXPECT_EQ(KOPopUpButtonAdditions::selectedTag(*fast->timePerDivPopUp()),
                  qint64(change.after));
    }
}

TEST(KOOscilloscopeController, ReadOutsGiveTheTimeAndTheLevelUnderThePointer) {
    RateDelegate delegate;
    auto made = scopeAt(delegate);
    auto* scope = dynamic_cast<KOOscilloscopeController*>(made.get());
    ASSERT_NE(scope, nullptr);
    struct Case {
        std::uint32_t timePerDiv;
        QPointF point; // y-up, in a view 200 high
        const char* x;
        const char* y;
        const char* position;
    };
    const Case cases[] = {
        {1000000,
         {400.0, 150.0},
         "X: 8000 smp, 166.7 msec",
         "Y: 0.50, -6.0 dB(FS)",
         "X: 8000 smp - Y: 0.50"},
        {100000,
         {20.0, 200.0},
         "X: 40 smp, 833 usec",
         "Y: 1.00, 0.0 dB(FS)",
         "X: 40 smp - Y: 1.00"},
        {100000,
         {25.0, 0.0},
         "X: 50 smp, 1.0 msec",
         "Y: -1.00, 0.0 dB(FS)",
         "X: 50 smp - Y: -1.00"},
        {100000, {0.0, 100.0}, "X: 0 smp, 0 usec", "Y: 0.00, -144.0 dB(FS)", "X: 0 smp - Y: 0.00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.x);
        scope->setTimePerDiv(c.timePerDiv);
        QString x;
        QString y;
        scope->infoStringsForPoint(c.point, 200.0, &x, &y);
        EXPECT_EQ(x.toStdString(), c.x);
        EXPECT_EQ(y.toStdString(), c.y);
        EXPECT_EQ(scope->positionInfoStringForPoint(c.point, 200.0).toStdString(), c.position);
    }
}

TEST(KOOscilloscopeController, MenusColoursAndDrawnChannelsAreSavedAndFollowed) {
    RateDelegate delegate;
    auto made = scopeAt(delegate);
    auto* scope = dynamic_cast<KOOscilloscopeController*>(made.get());
    ASSERT_NE(scope, nullptr);
    QMenu* menu = scope->instrumentMenu();
    ASSERT_NE(menu, nullptr);
    struct Submenu {
        qint64 tag;
        const char* title;
        int items;
    };
    const Submenu submenus[] = {
        {KOOscilloscopeController::kTriggerSourceMenuTag, "Trigger Source", 2},
        {KOOscilloscopeController::kUnitMenuTag, "Unit", 2},
        {KOOscilloscopeController::kTimeMenuTag, "Time", 10},
    };
    for (const Submenu& sub : submenus) {
        SCOPED_TRACE(sub.title);
        QAction* item = KOMenuAdditions::itemWithTag(*menu, sub.tag);
        ASSERT_NE(item, nullptr);
        ASSERT_NE(item->menu(), nullptr);
        EXPECT_EQ(item->menu()->title().toStdString(), sub.title);
        EXPECT_EQ(item->menu()->actions().size(), sub.items);
    }
    // Choosing from the menus changes the oscilloscope.
    KOMenuAdditions::itemWithTag(
        *KOMenuAdditions::itemWithTag(*menu, KOOscilloscopeController::kTriggerSourceMenuTag)
             ->menu(),
        1)
        ->trigger();
    EXPECT_EQ(scope->triggerSource(), 1u);
    KOMenuAdditions::itemWithTag(
        *KOMenuAdditions::itemWithTag(*menu, KOOscilloscopeController::kUnitMenuTag)->menu(), 1)
        ->trigger();
    EXPECT_EQ(scope->timeUnit(), 1u);
    KOMenuAdditions::itemWithTag(
        *KOMenuAdditions::itemWithTag(*menu, KOOscilloscopeController::kTimeMenuTag)->menu(),
        500000)
        ->trigger();
    EXPECT_EQ(scope->timePerDiv(), 500000u);
    emit menu->aboutToShow();
    EXPECT_TRUE(
        KOMenuAdditions::itemWithTag(
            *KOMenuAdditions::itemWithTag(*menu, KOOscilloscopeController::kTimeMenuTag)->menu(),
            500000)
            ->isChecked());

    scope->setColorTraceA(QColor(255, 0, 0));
    scope->setColorTraceB(QColor(0, 0, 255));
    scope->setDrawChannelB(false);
    const QVariantMap saved = scope->dictionaryRepresentation();
    auto again = meterRegistry().createFromDictionary(saved, nullptr);
    auto* restored = dynamic_cast<KOOscilloscopeController*>(again.get());
    ASSERT_NE(restored, nullptr);
    EXPECT_EQ(restored->colorTraceA(), QColor(255, 0, 0));
    EXPECT_EQ(restored->colorTraceB(), QColor(0, 0, 255));
    EXPECT_EQ(restored->view()->colourA(), QColor(255, 0, 0));
    EXPECT_TRUE(restored->drawChannelA());
    EXPECT_FALSE(restored->drawChannelB());
    EXPECT_EQ(restored->timeUnit(), 1u);
    EXPECT_EQ(restored->timePerDiv(), 500000u);
    EXPECT_EQ(restored->triggerSource(), 1u);
}

TEST(KOOscilloscopeController, AWideViewShowsAClampedCaptureOnlyWhereItReaches) {
    struct Case {
        std::uint32_t length;
        std::uint32_t timePerDiv;
        std::uint32_t width;
        std::uint32_t covered;
    };
    const Case cases[] = {
        {1600, 100000, 800, 800},     // the usual: the capture spans the view
        {65536, 2400000, 2000, 1365}, // 50 ms at 48 kHz: 65536 samples reach 1365 points
        {10, 1000, 800, 500},         // 1 sample per division: the 10-sample minimum
        {1000, 0, 300, 300},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width);
        EXPECT_EQ(KOOscilloscopeController::coveredPoints(c.length, c.timePerDiv, c.width),
                  c.covered);
    }
}

TEST(KOOscilloscopeController, WithNeitherTraceShownSnapshotsStillRearm) {
    auto made = meterRegistry().createNew(QStringLiteral("KOOscilloscopeController"), nullptr);
    auto* scope = dynamic_cast<KOOscilloscopeController*>(made.get());
    ASSERT_NE(scope, nullptr);
    scope->view()->resize(100, 100);
    scope->instrument()->SetNumberOfChannels(2);
    scope->setDrawChannelA(false);
    scope->setDrawChannelB(false);
    std::vector<float> a(4096, -0.5f);
    std::fill(a.begin() + 100, a.end(), 0.5f);
    std::vector<float> b(4096, 0.0f);
    AudioBuffer buffers[2] = {{1, 4096 * 4, a.data()}, {1, 4096 * 4, b.data()}};
    const AudioBufferList list{2, buffers};
    scope->instrument()->Process(&list, 4096);
    ASSERT_TRUE(scope->instrument()->IsComplete());
    scope->dataCollection();
    EXPECT_FALSE(scope->instrument()->IsComplete()) << "re-armed";
    EXPECT_TRUE(scope->view()->traceA().empty());
    EXPECT_TRUE(scope->view()->traceB().empty());
}

} // namespace
