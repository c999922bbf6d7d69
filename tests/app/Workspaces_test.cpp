#include "AppWorld.h"
#include "LogCapture.h"

#include "app/Workspaces.h"
#include "support/TestSupport.h"

#include <QMainWindow>

#include <gtest/gtest.h>

#include <optional>

namespace {

using koru::Session;
using koru::Workspaces;
using koru::test::AppWorld;

constexpr std::int32_t kShadow = Session::kShadowWorkspaceTag;

class WorkspacesTest : public ::testing::Test {
protected:
    // Captures the instruments named as a workspace, then closes them again.
    void capture(const QString& name, const QStringList& instruments) {
        for (const QString& instrument : instruments)
            world.add(instrument);
        workspaces.captureWorkspace(name, QString(), 0, -1);
        closeAll();
    }
    void closeAll() {
        world.instruments.closeInstrumentsForWorkspaceRecall();
        AppWorld::deleteClosed();
    }
    QStringList names() const {
        QStringList list;
        for (const QVariant& w : world.session.workspaces())
            list << w.toMap().value(Workspaces::kNameKey).toString();
        return list;
    }
    QStringList instrumentsIn(qint64 index) const {
        QStringList list;
        const QVariantMap session =
            workspaces.workspaceDictionaryAtIndex(index).value(Workspaces::kSessionKey).toMap();
        for (const QVariant& entry : session.value(Session::kActiveInstrumentsKey).toList())
            list << entry.toMap().value("InstrumentController.Name").toString();
        return list;
    }

    AppWorld world;
    Workspaces workspaces{world.session};
};

TEST_F(WorkspacesTest, CaptureStoresTheCurrentSessionAndMakesItCurrent) {
    world.add("Meter");
    workspaces.captureWorkspace("Mix", "1", quint64(Qt::ControlModifier | Qt::ShiftModifier), 10);
    workspaces.captureWorkspace(QString(), QString(), 0, -1);
    EXPECT_EQ(workspaces.numberOfWorkspaces(), 2);
    EXPECT_EQ(world.session.currentWorkspace(), 1);

    const QVariantMap first = workspaces.workspaceDictionaryAtIndex(0);
    EXPECT_EQ(first.value(Workspaces::kNameKey), "Mix");
    EXPECT_EQ(first.value(Workspaces::kKeyKey), "1");
    EXPECT_EQ(first.value(Workspaces::kModifierKey).toULongLong(),
              quint64(Qt::ControlModifier | Qt::ShiftModifier));
    EXPECT_EQ(Workspaces::keyCodeOf(first), 10);
    const QVariantMap session = first.value(Workspaces::kSessionKey).toMap();
    EXPECT_FALSE(session.contains(Session::kWorkspacesKey));
    EXPECT_EQ(session.value(Session::kActiveInstrumentsKey).toList().size(), 1);

    const QVariantMap second = workspaces.workspaceDictionaryAtIndex(1);
    EXPECT_EQ(second.value(Workspaces::kNameKey).toString(), "");
    EXPECT_FALSE(second.value(Workspaces::kNameKey).toString().isNull());
    EXPECT_EQ(second.value(Workspaces::kKeyKey).toString(), "");
    EXPECT_EQ(second.value(Workspaces::kKeyCodeKey).toULongLong(), ~0ULL);
    EXPECT_EQ(Workspaces::keyCodeOf(second), -1);
    EXPECT_FALSE(world.session.shadowWorkspace());
    EXPECT_THROW(workspaces.workspaceDictionaryAtIndex(2), std::out_of_range);
}

TEST(WorkspaceKeyCode, ReadsTheLowThirtyTwoBitsOfWhateverIsStored) {
    const struct {
        QVariant stored;
        std::int32_t expected;
    } cases[] = {
        {QVariant::fromValue<quint64>(~0ULL), -1},
        {QVariant::fromValue<qint64>(-1), -1},
        {QVariant::fromValue<qint64>(0xFFFFFFFFLL), -1},
        {QVariant::fromValue<qint64>(49), 49},
        {QVariant(), -1},
        {QVariant("12"), -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Workspaces::keyCodeOf({{Workspaces::kKeyCodeKey, c.stored}}), c.expected)
            << c.stored.toString().toStdString();
    EXPECT_EQ(Workspaces::storedKeyCode(-1).toULongLong(), ~0ULL);
}

// Workspaces through a session file and back, under C and a decimal-comma locale.
class WorkspaceFiles : public WorkspacesTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(WorkspaceFiles, ComeBackFromTheFileWithTheirShortcuts) {
    koru::test::ScopedLocale locale(GetParam());
    if (!locale.active())
        GTEST_SKIP() << GetParam() << " is not installed";
    world.add("Meter")->offset = 0.1;
    workspaces.captureWorkspace("Keys", "1", quint64(Qt::ControlModifier), 18);
    workspaces.captureWorkspace("No key", "", 0, -1);
    const QString path = koru::test::testRoot() + "/ws-" + GetParam() + ".kosession";
    ASSERT_TRUE(world.session.saveCurrentSessionToFile(path));

    AppWorld other;
    Workspaces again(other.session);
    const auto read = Session::readSessionFile(path);
    ASSERT_TRUE(read.dictionary) << read.error.toStdString();
    other.session.loadSessionFromDictionary(read.dictionary, true);
    ASSERT_EQ(again.numberOfWorkspaces(), 2);
    EXPECT_EQ(other.session.currentWorkspace(), 1);
    EXPECT_EQ(Workspaces::keyCodeOf(again.workspaceDictionaryAtIndex(0)), 18);
    EXPECT_EQ(Workspaces::keyCodeOf(again.workspaceDictionaryAtIndex(1)), -1);
    EXPECT_EQ(again.workspaceDictionaryAtIndex(0), workspaces.workspaceDictionaryAtIndex(0));

    // Recalling the file's workspace gives the instrument back with its own number.
    other.instruments.closeInstrumentsForWorkspaceRecall();
    again.restoreWorkspace(0, false);
    ASSERT_EQ(other.openNames(), QStringList{"Meter"});
    EXPECT_EQ(static_cast<KOTestMeterController&>(*other.instruments.instrumentAtIndex(0)).offset,
              0.1);
}

INSTANTIATE_TEST_SUITE_P(Locales, WorkspaceFiles, ::testing::Values("C", "de_DE.UTF-8"),
                         [](const auto& info) {
                             return std::string(info.param[0] == 'C' ? "C" : "de_DE");
                         });

TEST_F(WorkspacesTest, RecallAndShadowGoBackAndForthWithoutTouchingTheAudioSettings) {
    capture("A", {"a1", "a2"});
    world.add("live");
    world.events.clear();

    workspaces.restoreWorkspace(0, false);
    EXPECT_EQ(world.openNames(), QStringList({"a1", "a2"}));
    EXPECT_EQ(world.session.currentWorkspace(), 0);
    EXPECT_EQ(names(), QStringList{"A"});
    ASSERT_TRUE(world.session.shadowWorkspace());
    EXPECT_FALSE(world.loadedAudioSettings);

    for (int round = 0; round < 2; ++round) {
        workspaces.restoreWorkspace(kShadow, false);
        AppWorld::deleteClosed();
        EXPECT_EQ(world.openNames(), QStringList{"live"}) << round;
        EXPECT_EQ(world.session.currentWorkspace(), kShadow);
        EXPECT_TRUE(world.session.shadowWorkspace());
        EXPECT_EQ(names(), QStringList{"A"});
    }
    EXPECT_FALSE(world.events.contains("loadAudioSettings"));
    EXPECT_EQ(world.events.count("loadAudioSettings(none)"), 3);
}

TEST_F(WorkspacesTest, AStickyInstrumentStaysAndIsNotOpenedTwice) {
    auto* sticky = world.add("sticky", true);
    world.add("plain");
    workspaces.captureWorkspace("Both", QString(), 0, -1);
    workspaces.restoreWorkspace(0, false);
    AppWorld::deleteClosed();
    EXPECT_EQ(world.openNames(), QStringList({"sticky", "plain"}));
    EXPECT_EQ(world.instruments.instrumentAtIndex(0), sticky);
}

TEST_F(WorkspacesTest, UpdateBeforeRecallKeepsTheLiveStateOtherwiseItGoesToTheShadow) {
    capture("A", {"a"});
    capture("B", {"b"});
    workspaces.restoreWorkspace(0, false);
    world.add("added to A");

    // On: recalling the current one changes nothing at all.
    workspaces.restoreWorkspace(0, true);
    EXPECT_EQ(world.openNames(), QStringList({"a", "added to A"}));
    // On: recalling another stores the live state into A first.
    workspaces.restoreWorkspace(1, true);
    AppWorld::deleteClosed();
    EXPECT_EQ(instrumentsIn(0), QStringList({"a", "added to A"}));
    EXPECT_EQ(world.openNames(), QStringList{"b"});

    // Off: the same recall reloads B and what was added goes to the shadow only.
    world.add("added to B");
    workspaces.restoreWorkspace(1, false);
    AppWorld::deleteClosed();
    EXPECT_EQ(world.openNames(), QStringList{"b"});
    EXPECT_EQ(instrumentsIn(1), QStringList{"b"});
    workspaces.restoreWorkspace(kShadow, false);
    AppWorld::deleteClosed();
    EXPECT_EQ(world.openNames(), QStringList({"b", "added to B"}));
}

TEST_F(WorkspacesTest, StaleTagsLeaveNoWorkspaceCurrentAndKeepTheList) {
    capture("A", {"a"});
    for (const std::int32_t tag : {5, -1, kShadow}) {
        world.add("live");
        workspaces.restoreWorkspace(tag, false);
        EXPECT_EQ(world.session.currentWorkspace(), -1) << tag;
        EXPECT_EQ(names(), QStringList{"A"}) << tag;
        closeAll();
    }
    world.session.setCurrentWorkspace(kShadow);
    workspaces.updateCurrentWorkspace();
    EXPECT_EQ(world.session.currentWorkspace(), -1);
}

TEST_F(WorkspacesTest, AFailureWhileLoadingKeepsEveryWorkspace) {
    capture("A", {"a"});
    capture("B", {"b"});
    world.throwWhileReloading = true;
    koru::test::LogCapture log;
    workspaces.restoreWorkspace(1, false);
    EXPECT_EQ(world.session.currentWorkspace(), -1);
    EXPECT_EQ(names(), QStringList({"A", "B"}));
    EXPECT_EQ(log.count("not recalled"), 1);
}

// Deleting a workspace keeps the current index on the same workspace, so an update never
// overwrites another one.
TEST_F(WorkspacesTest, DeletingKeepsTheCurrentIndexOnItsWorkspace) {
    const struct {
        std::int32_t current;
        qint64 deleted;
        std::int32_t expected;
    } cases[] = {
        {2, 0, 1}, {2, 1, 1}, {2, 2, -1}, {0, 2, 0}, {1, 7, 1}, {-1, 0, -1}, {kShadow, 0, kShadow},
    };
    for (const auto& c : cases) {
        AppWorld local;
        Workspaces list(local.session);
        for (const char* name : {"A", "B", "C"})
            list.captureWorkspace(name, QString(), 0, -1);
        local.session.setCurrentWorkspace(c.current);
        list.setWorkspace(std::nullopt, c.deleted);
        EXPECT_EQ(local.session.currentWorkspace(), c.expected)
            << c.current << " deleting " << c.deleted;
    }

    capture("A", {"a"});
    capture("B", {"b"});
    capture("C", {"c"});
    workspaces.restoreWorkspace(2, false);
    workspaces.setWorkspace(std::nullopt, 0);
    world.add("more");
    workspaces.updateCurrentWorkspace();
    EXPECT_EQ(instrumentsIn(0), QStringList{"b"});
    EXPECT_EQ(instrumentsIn(1), QStringList({"c", "more"}));

    // Replacing keeps the index; an index outside the list is ignored.
    QVariantMap renamed = workspaces.workspaceDictionaryAtIndex(1);
    renamed[Workspaces::kNameKey] = "C2";
    workspaces.setWorkspace(renamed, 1);
    workspaces.setWorkspace(renamed, 9);
    EXPECT_EQ(names(), QStringList({"B", "C2"}));
    EXPECT_EQ(world.session.currentWorkspace(), 1);
}

struct MenuLine {
    Workspaces::MenuAction action;
    QString title;
    bool enabled;
    bool checked;
    bool operator==(const MenuLine&) const = default;
};

std::vector<MenuLine> linesOf(const Workspaces& workspaces) {
    std::vector<MenuLine> lines;
    for (const auto& item : workspaces.menuItems())
        lines.push_back({item.action, item.title, item.enabled, item.checked});
    return lines;
}

TEST_F(WorkspacesTest, MenuOffersWhatTheListAndTheCurrentIndexAllow) {
    using A = Workspaces::MenuAction;
    const MenuLine capture{A::Capture, "Capture Workspace", true, false};
    const MenuLine separator{A::None, "", true, false};
    const MenuLine edit{A::Edit, "Edit Workspaces\u2026", true, false};

    workspaces.captureWorkspace("Mix", "1", quint64(Qt::ControlModifier), 10);
    workspaces.captureWorkspace("Rec", "", 0, -1);
    workspaces.restoreWorkspace(0, false);
    EXPECT_EQ(linesOf(workspaces),
              (std::vector<MenuLine>{capture,
                                     separator,
                                     edit,
                                     {A::Update, "Update Workspace \"Mix\"", true, false},
                                     separator,
                                     {A::Restore, "Mix", true, true},
                                     {A::Restore, "Rec", true, false},
                                     separator,
                                     {A::Restore, "Shadow Workspace", true, false}}));
    const auto items = workspaces.menuItems();
    EXPECT_EQ(items[5].key, "1");
    EXPECT_EQ(items[5].modifiers, quint64(Qt::ControlModifier));
    EXPECT_EQ(items[6].key, "");
    EXPECT_EQ(items[8].tag, kShadow);

    // A session saved while the shadow was current: nothing checked, no update, no shadow.
    AppWorld other;
    Workspaces loaded(other.session);
    QVariantMap file = world.session.dictionaryRepresentationOfSessionWithWorkspace();
    file[Session::kCurrentWorkspaceKey] = kShadow;
    other.session.loadSessionFromDictionary(file, true);
    EXPECT_EQ(linesOf(loaded),
              (std::vector<MenuLine>{capture,
                                     separator,
                                     edit,
                                     {A::Update, "Update Current Workspace", false, false},
                                     separator,
                                     {A::Restore, "Mix", true, false},
                                     {A::Restore, "Rec", true, false}}));

    // Deleting every workspace leaves capture alone, shadow or not.
    workspaces.setWorkspace(std::nullopt, 1);
    workspaces.setWorkspace(std::nullopt, 0);
    EXPECT_TRUE(world.session.shadowWorkspace());
    EXPECT_EQ(linesOf(workspaces), std::vector<MenuLine>{capture});
}

} // namespace
