#include "AppWorld.h"
#include "LogCapture.h"

#include <QMainWindow>
#include <QPointer>

#include <gtest/gtest.h>

namespace {

using koru::InstrumentRegistry;
using koru::test::AppWorld;
using koru::test::LogCapture;

QVariantMap savedMeter(const QString& identifier, const QString& name, const char* type,
                       bool visible = true) {
    return {{"InstrumentController.Identifier", identifier},
            {"KOType", type},
            {"InstrumentController.Name", name},
            {"InstrumentController.WindowVisible", qint64(visible ? 1 : 0)},
            {"test.offset", 2.5}};
}

TEST(InstrumentRegistry, CreatesRegisteredKindsAndSkipsUnknownOnesWithALogLine) {
    InstrumentRegistry registry;
    koru::test::registerTestInstruments(registry);
    EXPECT_EQ(registry.typeNames(), QStringList({"KOSplController", "KOTestMeterController"}));

    auto fresh = registry.createNew("KOTestMeterController", nullptr);
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->typeName(), "KOTestMeterController");
    EXPECT_EQ(fresh->identifier().size(), 36);

    auto restored =
        registry.createFromDictionary(savedMeter("ID-1", "Kept", "KOTestMeterController"), nullptr);
    ASSERT_TRUE(restored);
    EXPECT_EQ(restored->identifier(), "ID-1");
    EXPECT_EQ(restored->name(), "Kept");
    EXPECT_EQ(static_cast<KOTestMeterController&>(*restored).offset, 2.5);

    LogCapture log;
    for (const QVariant& kind : {QVariant("KOFFTController"), QVariant(7), QVariant()}) {
        QVariantMap entry = savedMeter("ID-2", "x", "");
        entry["KOType"] = kind;
        EXPECT_FALSE(registry.createFromDictionary(entry, nullptr))
            << kind.toString().toStdString();
    }
    EXPECT_FALSE(registry.createNew("KOFFTController", nullptr));
    EXPECT_EQ(log.count("unknown kind"), 3);

    QVariantMap rejecting = savedMeter("ID-3", "x", "KOTestMeterController");
    rejecting.insert("test.rejects", true);
    EXPECT_THROW(registry.createFromDictionary(rejecting, nullptr), std::runtime_error);
}

class InstrumentListTest : public ::testing::Test {
protected:
    AppWorld world;
};

TEST_F(InstrumentListTest, AddingAppendsShowsAndReloadsBothTables) {
    auto* first = world.add("One");
    auto* second = world.add("Two");
    EXPECT_EQ(world.openNames(), QStringList({"One", "Two"}));
    EXPECT_TRUE(first->instrumentWindow()->isVisible());
    EXPECT_TRUE(second->instrumentWindow()->isVisible());
    EXPECT_EQ(world.events, QStringList({"show ", "reloadTables", "show ", "reloadTables"}));
    EXPECT_EQ(first->delegate(), &world);
}

TEST_F(InstrumentListTest, ClosingTheCurrentWindowResignsItThenMakesOneHistoryEntry) {
    world.add("One");
    auto* closing = world.add("Two");
    world.add("Three");
    world.setCurrentInstrument(closing);
    QPointer<KOInstrumentController> watch(closing);
    const QString identifier = closing->identifier();
    world.events.clear();

    closing->instrumentWindow()->close();
    EXPECT_EQ(world.events, QStringList({"resign Two", "reloadTables"}));
    EXPECT_EQ(world.openNames(), QStringList({"One", "Three"}));
    ASSERT_EQ(world.instruments.recentInstruments().size(), 1);
    const QVariantMap entry = world.instruments.recentInstruments()[0].toMap();
    EXPECT_EQ(entry.value("InstrumentController.Identifier"), identifier);
    // Taken while the window still counted as visible.
    EXPECT_EQ(entry.value("InstrumentController.WindowVisible").toLongLong(), 1);
    AppWorld::deleteClosed();
    EXPECT_TRUE(watch.isNull());

    // Back from the history with the same identifier, not shown by the list, open table only.
    world.events.clear();
    auto* back = world.instruments.restoreInstrumentFromDictionary(entry);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->identifier(), identifier);
    EXPECT_EQ(world.events, QStringList({"reloadOpenTable"}));
    EXPECT_TRUE(back->instrumentWindow()->isVisible());
}

TEST_F(InstrumentListTest, RestoringAnUnknownKindCreatesNothingAndStillReloads) {
    LogCapture log;
    EXPECT_FALSE(world.instruments.restoreInstrumentFromDictionary(
        savedMeter("X", "Old", "KOGoniometerController")));
    EXPECT_TRUE(world.openNames().isEmpty());
    EXPECT_EQ(world.events, QStringList({"reloadOpenTable"}));
    EXPECT_EQ(log.count("KOGoniometerController"), 1);
}

TEST_F(InstrumentListTest, SplMetersTakeTheFirstFreeNumberComparedExactly) {
    const struct {
        QStringList open;
        const char* expected;
    } cases[] = {
        {{}, "SPL Meter 1"},
        {{"SPL Meter 1", "SPL Meter 3"}, "SPL Meter 2"},
        {{"spl meter 1", "SPL Meter 1 "}, "SPL Meter 1"},
        {{"SPL Meter 2"}, "SPL Meter 1"},
    };
    for (const auto& c : cases) {
        AppWorld local;
        for (const QString& name : c.open)
            local.add(name);
        auto* meter = local.instruments.addSPLMeter();
        ASSERT_TRUE(meter);
        EXPECT_EQ(meter->name(), c.expected) << c.open.join(",").toStdString();
        EXPECT_EQ(local.instruments.instruments().back().get(), meter);
    }

    // Every number taken: the last one is used all the same.
    for (int n = 1; n <= 99; ++n)
        world.add(QStringLiteral("SPL Meter %1").arg(n));
    EXPECT_EQ(world.instruments.nextSPLMeterName(), "SPL Meter 99");

    // A restored meter keeps its stored name.
    auto* restored = world.instruments.restoreInstrumentFromDictionary(
        savedMeter("S", "SPL Meter 1", "KOSplController"));
    ASSERT_TRUE(restored);
    EXPECT_EQ(restored->name(), "SPL Meter 1");
}

TEST_F(InstrumentListTest, NameLookUpFindsTheFirstExactMatch) {
    auto* first = world.add("Twin");
    world.add("Twin");
    world.add("other");
    EXPECT_EQ(world.instruments.instrumentControllerWithName(QString("Twin")), first);
    EXPECT_EQ(world.instruments.instrumentControllerWithName(QString("twin")), nullptr);
    EXPECT_EQ(world.instruments.instrumentControllerWithName(std::nullopt), nullptr);
}

TEST_F(InstrumentListTest, RecallClosingKeepsStickyAndRefusingInstruments) {
    world.add("Plain");
    world.add("Sticky", true);
    world.add("Refuses")->refusesClose = true;
    world.add("Hidden")->hideInstrument();
    world.instruments.closeInstrumentsForWorkspaceRecall();
    EXPECT_EQ(world.openNames(), QStringList({"Sticky", "Refuses"}));
    EXPECT_EQ(world.recentNames(), QStringList({"Plain", "Hidden"}));
}

// The loader with real instruments: one bad entry or one unknown kind costs only itself.
TEST_F(InstrumentListTest, SessionLoadSkipsEntriesThatCannotBeRestored) {
    QVariantMap rejecting = savedMeter("R", "Rejects", "KOTestMeterController");
    rejecting.insert("test.rejects", true);
    const QVariantMap file{
        {"KORU.ActiveInstruments",
         QVariantList{savedMeter("A", "A", "KOTestMeterController"), rejecting,
                      savedMeter("U", "Unknown", "KONoSuchController"),
                      savedMeter("B", "B", "KOTestMeterController", false)}},
        {"KORU.RecentInstruments", QVariantList{savedMeter("H", "H", "KOTestMeterController")}},
        {"KORU.MainWindow.Visible", true},
        {"KORU.ActiveInstrumentIndex", 1},
    };
    LogCapture log;
    world.session.loadSessionFromDictionary(file, false);
    EXPECT_EQ(world.openNames(), QStringList({"A", "B"}));
    EXPECT_EQ(world.recentNames(), QStringList({"H"}));
    EXPECT_EQ(log.count("not restored"), 1);
    EXPECT_EQ(log.count("KONoSuchController"), 1);
    // Index 1 is B, whose window was saved hidden: nothing comes to front.
    EXPECT_EQ(world.instruments.currentInstrumentIndex(), 1);
    EXPECT_FALSE(world.events.contains("front B"));

    world.session.loadSessionFromDictionary(QVariantMap{{"KORU.ActiveInstrumentIndex", 0}}, false);
    EXPECT_TRUE(world.events.contains("front A"));
}

} // namespace
