#include "FakeSessionHost.h"
#include "LogCapture.h"

#include "app/Session.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/plist/PropertyList.h"
#include "support/TestSupport.h"
#include "utility/VEFileManager.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <optional>

namespace {

using koru::Session;
using koru::platform::PlistFormat;
using koru::platform::PropertyList;
using koru::platform::UserDefaults;
using koru::test::FakeSessionHost;
using koru::test::instrumentEntry;

QStringList keysOf(const QVariantMap& map) {
    QStringList keys = map.keys();
    keys.sort();
    return keys;
}

QStringList firstKeys(int count) {
    QStringList keys;
    for (int i = 0; i < count; ++i)
        keys << Session::kKeyOrder[std::size_t(i)];
    keys.sort();
    return keys;
}

QString supportPath(const QString& name) {
    return VEFileManager::pathToFileInSupportDirectory(name);
}

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A world with two open instruments, a history, a workspace whose key code is "no key" and
// numbers that a decimal-comma locale would write wrongly.
class SessionTest : public ::testing::Test {
protected:
    SessionTest() {
        host.uid = "virtual:KORU Virtual Input";
        host.audioSettings = {{"SampleRate", 48000.5}, {"Channels", QVariantList{0.25, -1.5}}};
        host.open = {instrumentEntry("A"), instrumentEntry("B", "Ölmeter")};
        host.recent = {instrumentEntry("H")};
        host.instrumentIndex = 1;
        host.frame = "100 50 800 600 0 0 1920 1080";
        session.workspaces() = {QVariantMap{{"Workspace.Name", "Mix"},
                                            {"Workspace.KeyCode", quint64(~0ULL)},
                                            {"Workspace.Modifier", quint64(0x04000000)},
                                            {"Workspace.Session", QVariantMap{{"x", 2.5}}}}};
        session.setCurrentWorkspace(0);
    }

    FakeSessionHost host;
    Session session{host};
};

TEST(SessionName, IsTheFnv1aOfTheIdentifiersUtf8BytesAndZeroWithoutOne) {
    const struct {
        std::optional<QString> uid;
        const char* name;
    } cases[] = {
        {std::nullopt, "0.kosession"},
        {QString(""), "0.kosession"},
        {QString("a"), "3826002220.kosession"},
        {QString("foobar"), "3214735720.kosession"},
        {QString::fromUtf8("pulse:Monitor of Zoë"), "605029132.kosession"},
        {QString("virtual:KORU Virtual Input"), "1839790986.kosession"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Session::sessionNameForUID(c.uid), c.name)
            << c.uid.value_or("(none)").toStdString();
}

TEST_F(SessionTest, EachFormAddsItsKeysToTheOneBefore) {
    const QVariantMap current = session.dictionaryRepresentationOfCurrentSession();
    EXPECT_EQ(keysOf(current), firstKeys(Session::kCurrentFormKeyCount));
    EXPECT_EQ(current.value(Session::kActiveInstrumentsKey), host.open);
    EXPECT_EQ(current.value(Session::kRecentInstrumentsKey), host.recent);
    EXPECT_EQ(current.value(Session::kMainWindowFrameKey), host.frame);
    EXPECT_EQ(current.value(Session::kMainWindowVisibleKey), QVariant(true));
    EXPECT_EQ(current.value(Session::kAudioDeviceSettingsKey), host.audioSettings);
    EXPECT_EQ(current.value(Session::kActiveInstrumentIndexKey).toLongLong(), 1);

    const QVariantMap file = session.dictionaryRepresentationOfSessionWithWorkspace();
    EXPECT_EQ(keysOf(file), firstKeys(Session::kFileFormKeyCount));
    EXPECT_EQ(file.value(Session::kWorkspacesKey), session.workspaces());
    EXPECT_EQ(file.value(Session::kCurrentWorkspaceKey).toInt(), 0);

    const auto first = session.automaticSessionSnapshot();
    const auto second = session.automaticSessionSnapshot();
    EXPECT_EQ(keysOf(first.dictionary), firstKeys(int(Session::kKeyOrder.size())));
    EXPECT_EQ(first.dictionary.value(Session::kSessionIDKey), first.sessionID);
    EXPECT_EQ(first.sessionID.size(), 36);
    EXPECT_NE(first.sessionID, second.sessionID);
    EXPECT_EQ(first.deviceUID, host.uid);
}

// Every form written by the program and read back, in the C locale and a decimal-comma one.
class SessionFilesUnderLocale : public SessionTest,
                                public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override {
        locale.emplace(GetParam());
        if (!locale->active())
            GTEST_SKIP() << GetParam() << " is not installed";
    }
    std::optional<koru::test::ScopedLocale> locale;
};

TEST_P(SessionFilesUnderLocale, UserFileReadsBackAsWrittenAndBecomesTheRevertDictionary) {
    const QString path = koru::test::testRoot() + "/user/" + GetParam() + ".kosession";
    ASSERT_TRUE(session.saveCurrentSessionToFile(path));
    EXPECT_TRUE(fileBytes(path).startsWith("<?xml"));

    const auto read = Session::readSessionFile(path);
    ASSERT_TRUE(read.dictionary) << read.error.toStdString();
    EXPECT_EQ(*read.dictionary, session.dictionaryRepresentationOfSessionWithWorkspace());
    EXPECT_EQ(session.revertDictionary(), read.dictionary);
    // The all-ones key code keeps its 64 bits through the file.
    const QVariantMap workspace =
        read.dictionary->value(Session::kWorkspacesKey).toList()[0].toMap();
    EXPECT_EQ(workspace.value("Workspace.KeyCode").toULongLong(), ~0ULL);
}

TEST_P(SessionFilesUnderLocale, AutomaticFileCarriesTheIDThatTheDefaultsRemember) {
    UserDefaults defaults(koru::test::testRoot() + "/config/session-" + GetParam() + ".plist");
    const QString name = session.sessionAutosaveName();
    EXPECT_EQ(name, "1839790986.kosession");
    ASSERT_TRUE(session.saveCurrentSessionToFileInApplicationSupportDirectory(name, defaults));

    const auto read = Session::readAutomaticSession(name);
    ASSERT_TRUE(read.dictionary) << read.error.toStdString();
    EXPECT_EQ(read.dictionary->value(Session::kSessionIDKey).toString(),
              defaults.stringForKey(Session::kLastSessionIDDefault));
    EXPECT_EQ(defaults.stringForKey(Session::kLastAudioDeviceUIDDefault), host.uid);
    QVariantMap withoutID = *read.dictionary;
    withoutID.remove(Session::kSessionIDKey);
    EXPECT_EQ(withoutID, session.dictionaryRepresentationOfSessionWithWorkspace());

    // Loaded into a fresh program, the session gives back what was saved.
    FakeSessionHost other;
    Session restored(other);
    restored.loadSessionFromDictionary(read.dictionary, false);
    EXPECT_EQ(other.open, host.open);
    EXPECT_EQ(other.recent, host.recent);
    EXPECT_EQ(other.loadedAudioSettings, host.audioSettings);
    EXPECT_EQ(other.frame, host.frame);
    EXPECT_EQ(other.instrumentIndex, 1);
    EXPECT_EQ(restored.workspaces(), session.workspaces());
    EXPECT_EQ(restored.currentWorkspace(), 0);
}

TEST_P(SessionFilesUnderLocale, AFailedAutomaticWriteStillMovesTheSessionID) {
    UserDefaults defaults(koru::test::testRoot() + "/config/failing-" + GetParam() + ".plist");
    // A folder where the file belongs: the write cannot replace it.
    const QString name = QStringLiteral("blocked-%1.kosession").arg(GetParam());
    ASSERT_TRUE(QDir().mkpath(supportPath(name)));
    auto snapshot = session.automaticSessionSnapshot();
    EXPECT_FALSE(Session::writeAutomaticSession(snapshot, name, defaults));
    EXPECT_EQ(defaults.stringForKey(Session::kLastSessionIDDefault), snapshot.sessionID);
}

INSTANTIATE_TEST_SUITE_P(Locales, SessionFilesUnderLocale, ::testing::Values("C", "de_DE.UTF-8"),
                         [](const auto& info) {
                             return std::string(info.param[0] == 'C' ? "C" : "de_DE");
                         });

TEST_F(SessionTest, LoaderRunsItsStepsInOrderAndRestoresARepeatedIdentifierOnce) {
    FakeSessionHost target;
    target.open = {instrumentEntry("A"), instrumentEntry("S", "sticky", true)};
    target.recent = {instrumentEntry("old")};
    Session loader(target);
    const QVariantMap file{
        {Session::kActiveInstrumentsKey,
         QVariantList{instrumentEntry("S"), instrumentEntry("N"), instrumentEntry("N")}},
        {Session::kRecentInstrumentsKey, QVariantList{instrumentEntry("H"), instrumentEntry("H")}},
        {Session::kMainWindowFrameKey, "1 2 300 400 0 0 1920 1080"},
        {Session::kMainWindowVisibleKey, true},
        {Session::kAudioDeviceSettingsKey, QVariantMap{{"SampleRate", 44100.0}}},
        {Session::kActiveInstrumentIndexKey, 7},
    };

    loader.loadSessionFromDictionary(file, true);
    EXPECT_EQ(target.events,
              QStringList({"loadAudioSettings", "closeInstruments", "clearRecent", "restore N",
                           "recent H", "recent H", "setFrame 1 2 300 400 0 0 1920 1080",
                           "audioPropertiesChanged", "reloadTables", "setCurrentInstrumentIndex 7",
                           "bringToFront 7"}));
    EXPECT_EQ(target.openIdentifiers(), QStringList({"S", "N"}));
    EXPECT_EQ(target.recent.size(), 2); // the history of the file, duplicates kept
    EXPECT_TRUE(target.visible);

    // Without overwrite the same session adds nothing open twice, and the history grows.
    target.events.clear();
    loader.loadSessionFromDictionary(file, false);
    EXPECT_EQ(target.openIdentifiers(), QStringList({"S", "N"}));
    EXPECT_EQ(target.recent.size(), 4);
    EXPECT_FALSE(target.events.contains("closeInstruments"));
}

TEST_F(SessionTest, NoDictionaryChangesNothing) {
    session.loadSessionFromDictionary(std::nullopt, true);
    EXPECT_TRUE(host.events.isEmpty());
    EXPECT_EQ(session.workspaces().size(), 1);
}

// One damaged key at a time: the loader logs it, treats it as absent and loads the rest.
struct DamageCase {
    const char* what;
    std::function<void(QVariantMap&)> damage;
    std::function<void(const FakeSessionHost&, const Session&)> expect;
};

class DamagedSession : public ::testing::TestWithParam<DamageCase> {};

TEST_P(DamagedSession, IsRejectedPerKeyAndTheRestLoads) {
    FakeSessionHost target;
    Session loader(target);
    loader.setCurrentWorkspace(3);
    QVariantMap file{
        {Session::kActiveInstrumentsKey, QVariantList{instrumentEntry("A"), instrumentEntry("B")}},
        {Session::kRecentInstrumentsKey, QVariantList{instrumentEntry("H")}},
        {Session::kMainWindowFrameKey, "1 2 300 400 0 0 1920 1080"},
        {Session::kMainWindowVisibleKey, true},
        {Session::kAudioDeviceSettingsKey, QVariantMap{{"SampleRate", 44100.0}}},
        {Session::kActiveInstrumentIndexKey, 1},
        {Session::kWorkspacesKey, QVariantList{QVariantMap{{"Workspace.Name", "W"}}}},
        {Session::kCurrentWorkspaceKey, 0},
    };
    GetParam().damage(file);
    koru::test::LogCapture log;
    loader.loadSessionFromDictionary(file, false);
    GetParam().expect(target, loader);
    EXPECT_EQ(target.events.count("reloadTables"), 1);
}

const DamageCase kDamageCases[] = {
    {"instrument list is text", [](QVariantMap& f) { f[Session::kActiveInstrumentsKey] = "A,B"; },
     [](const FakeSessionHost& h, const Session&) {
         EXPECT_TRUE(h.open.isEmpty());
         EXPECT_EQ(h.recent.size(), 1);
     }},
    {"one instrument entry is a number",
     [](QVariantMap& f) {
         f[Session::kActiveInstrumentsKey] = QVariantList{3, instrumentEntry("B")};
     },
     [](const FakeSessionHost& h, const Session&) {
         EXPECT_EQ(h.openIdentifiers(), QStringList{"B"});
     }},
    {"one instrument rejects its dictionary",
     [](QVariantMap& f) {
         QVariantMap bad = instrumentEntry("A");
         bad.insert("test.rejects", true);
         f[Session::kActiveInstrumentsKey] = QVariantList{bad, instrumentEntry("B")};
     },
     [](const FakeSessionHost& h, const Session& s) {
         EXPECT_EQ(h.openIdentifiers(), QStringList{"B"});
         EXPECT_EQ(s.workspaces().size(), 1);
     }},
    {"identifier is a number",
     [](QVariantMap& f) {
         QVariantMap odd = instrumentEntry("A");
         odd["InstrumentController.Identifier"] = 5;
         f[Session::kActiveInstrumentsKey] = QVariantList{odd};
     },
     [](const FakeSessionHost& h, const Session&) { EXPECT_EQ(h.open.size(), 1); }},
    {"history is a dictionary",
     [](QVariantMap& f) {
         f[Session::kRecentInstrumentsKey] = QVariantMap{{"a", 1}};
     },
     [](const FakeSessionHost& h, const Session&) {
         EXPECT_TRUE(h.recent.isEmpty());
         EXPECT_EQ(h.open.size(), 2);
     }},
    {"audio settings are a list",
     [](QVariantMap& f) { f[Session::kAudioDeviceSettingsKey] = QVariantList{1}; },
     [](const FakeSessionHost& h, const Session&) {
         EXPECT_TRUE(h.events.contains("loadAudioSettings(none)"));
         EXPECT_EQ(h.open.size(), 2);
     }},
    {"audio settings missing", [](QVariantMap& f) { f.remove(Session::kAudioDeviceSettingsKey); },
     [](const FakeSessionHost& h, const Session&) {
         EXPECT_EQ(h.events.first(), "loadAudioSettings(none)");
     }},
    {"workspaces are text", [](QVariantMap& f) { f[Session::kWorkspacesKey] = "W"; },
     [](const FakeSessionHost&, const Session& s) { EXPECT_TRUE(s.workspaces().isEmpty()); }},
    {"one workspace is text and one nests a workspace list",
     [](QVariantMap& f) {
         f[Session::kWorkspacesKey] = QVariantList{
             "W", QVariantMap{{"Workspace.Name", "V"}, {Session::kWorkspacesKey, QVariantList{}}}};
     },
     [](const FakeSessionHost&, const Session& s) {
         ASSERT_EQ(s.workspaces().size(), 1);
         EXPECT_EQ(s.workspaces()[0].toMap(), (QVariantMap{{"Workspace.Name", "V"}}));
     }},
    {"current workspace is text", [](QVariantMap& f) { f[Session::kCurrentWorkspaceKey] = "zero"; },
     [](const FakeSessionHost&, const Session& s) { EXPECT_EQ(s.currentWorkspace(), 3); }},
    {"current workspace missing", [](QVariantMap& f) { f.remove(Session::kCurrentWorkspaceKey); },
     [](const FakeSessionHost&, const Session& s) { EXPECT_EQ(s.currentWorkspace(), 3); }},
    {"current workspace is the shadow",
     [](QVariantMap& f) { f[Session::kCurrentWorkspaceKey] = Session::kShadowWorkspaceTag; },
     [](const FakeSessionHost&, const Session& s) {
         EXPECT_EQ(s.currentWorkspace(), Session::kShadowWorkspaceTag);
         EXPECT_FALSE(s.shadowWorkspace());
     }},
    {"frame is a number", [](QVariantMap& f) { f[Session::kMainWindowFrameKey] = 12; },
     [](const FakeSessionHost& h, const Session&) { EXPECT_TRUE(h.frame.isEmpty()); }},
    {"visibility missing closes the main window",
     [](QVariantMap& f) { f.remove(Session::kMainWindowVisibleKey); },
     [](const FakeSessionHost& h, const Session&) { EXPECT_FALSE(h.visible); }},
    {"visibility false closes the main window",
     [](QVariantMap& f) { f[Session::kMainWindowVisibleKey] = false; },
     [](const FakeSessionHost& h, const Session&) { EXPECT_FALSE(h.visible); }},
    {"instrument index missing reads -1",
     [](QVariantMap& f) { f.remove(Session::kActiveInstrumentIndexKey); },
     [](const FakeSessionHost& h, const Session&) { EXPECT_EQ(h.instrumentIndex, -1); }},
    {"instrument index out of range is stored",
     [](QVariantMap& f) { f[Session::kActiveInstrumentIndexKey] = 42; },
     [](const FakeSessionHost& h, const Session&) { EXPECT_EQ(h.instrumentIndex, 42); }},
};

INSTANTIATE_TEST_SUITE_P(Cases, DamagedSession, ::testing::ValuesIn(kDamageCases),
                         [](const auto& info) {
                             std::string name = info.param.what;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

// Files that cannot be read: a clear error, nothing loaded, nothing of the user's lost.
TEST_F(SessionTest, UnreadableUserFilesLoadNothingAndKeepTheCurrentFile) {
    const QString good = koru::test::testRoot() + "/user/good.kosession";
    ASSERT_TRUE(session.saveCurrentSessionToFile(good));
    session.setFileName(good);
    const QByteArray whole = fileBytes(good);

    const QString dir = koru::test::testRoot() + "/user/";
    ASSERT_TRUE(writeBytes(dir + "truncated.kosession", whole.left(whole.size() / 2)));
    ASSERT_TRUE(writeBytes(dir + "empty.kosession", {}));
    ASSERT_TRUE(PropertyList::write(dir + "array.kosession", QVariantList{1, 2}, PlistFormat::Xml));

    for (const char* name : {"truncated", "empty", "array", "missing"}) {
        const QString path = dir + name + ".kosession";
        host.events.clear();
        const QString error = session.openSessionFile(path, true, true);
        EXPECT_FALSE(error.isEmpty()) << name;
        EXPECT_TRUE(host.events.isEmpty()) << name;
        EXPECT_EQ(session.fileName(), good) << name;
        EXPECT_TRUE(session.revertDictionary()) << name;
        EXPECT_FALSE(session.openFileFromSystem(path).isEmpty()) << name;
        EXPECT_EQ(session.fileName(), good) << name;
    }
    EXPECT_EQ(fileBytes(good), whole);
    EXPECT_EQ(host.open.size(), 2);
}

TEST_F(SessionTest, OpeningWithoutAudioSettingsLeavesThemOutOfTheLoadAndTheRevert) {
    const QString path = koru::test::testRoot() + "/user/open.kosession";
    ASSERT_TRUE(session.saveCurrentSessionToFile(path));
    FakeSessionHost other;
    Session opener(other);
    EXPECT_TRUE(opener.openSessionFile(path, false, false).isEmpty());
    EXPECT_TRUE(other.events.contains("loadAudioSettings(none)"));
    EXPECT_EQ(opener.fileName(), path);
    ASSERT_TRUE(opener.revertDictionary());
    EXPECT_FALSE(opener.revertDictionary()->contains(Session::kAudioDeviceSettingsKey));

    other.events.clear();
    EXPECT_TRUE(opener.revertDocumentToSaved());
    EXPECT_TRUE(other.events.contains("closeInstruments"));
    EXPECT_EQ(other.openIdentifiers(), QStringList({"A", "B"}));

    FakeSessionHost fresh;
    EXPECT_FALSE(Session(fresh).revertDocumentToSaved());
}

TEST_F(SessionTest, UnreadableAutomaticFileIsKeptAsideBeforeTheNextWriteCanReplaceIt) {
    UserDefaults defaults(koru::test::testRoot() + "/config/aside.plist");
    const QString name = Session::sessionNameForUID(QString("aside-device"));
    const QString path = supportPath(name);
    const QByteArray damaged = "<?xml version=\"1.0\"?><plist><dict><key>KORU.Active";
    ASSERT_TRUE(writeBytes(path, damaged));

    EXPECT_FALSE(Session::readAutomaticSession("not-there.kosession").dictionary);
    EXPECT_TRUE(Session::readAutomaticSession("not-there.kosession").error.isEmpty());

    const auto read = Session::readAutomaticSession(name);
    EXPECT_FALSE(read.dictionary);
    EXPECT_TRUE(read.error.contains(".unreadable")) << read.error.toStdString();
    ASSERT_TRUE(session.saveCurrentSessionToFileInApplicationSupportDirectory(name, defaults));
    EXPECT_EQ(fileBytes(path + ".unreadable"), damaged);
    EXPECT_TRUE(Session::readAutomaticSession(name).dictionary);

    // A second damaged file does not replace the first one kept aside.
    ASSERT_TRUE(writeBytes(path, "garbage"));
    EXPECT_FALSE(Session::readAutomaticSession(name).dictionary);
    EXPECT_EQ(fileBytes(path + ".unreadable"), damaged);
    EXPECT_EQ(fileBytes(path + ".unreadable.2"), "garbage");
}

} // namespace
