#include "app/InstrumentRegistry.h"
#include "meters/ui/KOMeterViews.h"
#include "meters/ui/KOOscilloscopeController.h"
#include "meters/ui/MeterInstruments.h"

#include <gtest/gtest.h>

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

} // namespace
