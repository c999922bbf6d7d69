#include "app/InstrumentRegistry.h"
#include "framework/KOInstrumentController.h"
#include "meters/ui/MeterInstruments.h"

#include <QMainWindow>

#include <gtest/gtest.h>

namespace {

// A window without a title has no name in the instrument table either: a new one is titled
// with its kind, a restored one keeps the name it was saved with.
TEST(MeterWindowTitles, ANewWindowIsTitledWithItsKindARestoredOneKeepsItsName) {
    struct Case {
        const char* kind;
        const char* title;
    };
    const Case cases[] = {{"KODeviceInPPMController", "Input PPM"},
                          {"KOLevelHistoryController", "Level History"},
                          {"KOOscilloscopeController", "Oscilloscope"}};
    koru::InstrumentRegistry registry;
    koru::registerMeterInstruments(registry);
    for (const Case& each : cases) {
        SCOPED_TRACE(each.kind);
        auto made = registry.createNew(QString::fromLatin1(each.kind), nullptr);
        ASSERT_NE(made, nullptr);
        EXPECT_EQ(made->name(), QString::fromLatin1(each.title));
        ASSERT_NE(made->instrumentWindow(), nullptr);
        EXPECT_EQ(made->instrumentWindow()->windowTitle(), QString::fromLatin1(each.title));

        made->setName(QStringLiteral("Stage left"));
        auto restored = registry.createFromDictionary(made->dictionaryRepresentation(), nullptr);
        ASSERT_NE(restored, nullptr);
        EXPECT_EQ(restored->name(), QStringLiteral("Stage left"));
    }
}

} // namespace
