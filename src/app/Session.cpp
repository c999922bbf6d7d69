#include "app/Session.h"

#include "app/KORUDictionaryAdditions.h"
#include "app/SessionHost.h"
#include "framework/KOInstrumentController.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/files/KeepAside.h"
#include "platform/log/Log.h"
#include "platform/plist/PropertyList.h"
#include "utility/VEFileManager.h"
#include "utility/VEString.h"
#include "utility/ZODictionary.h"

#include <QFile>
#include <QFileInfo>

#include <fmt/format.h>

#include <exception>

namespace koru {

using platform::PlistFormat;
using platform::PropertyList;

namespace {

QString key(const char* name) {
    return QString::fromLatin1(name);
}

std::string text(const QString& value) {
    return value.toStdString();
}

// The value under `name` when it has the expected type. A value of another type is logged and
// counts as absent, so one damaged entry never stops the rest of a session from loading.
std::optional<QVariant> typedValue(const QVariantMap& session, const char* name,
                                   QMetaType::Type type) {
    const auto found = session.constFind(key(name));
    if (found == session.constEnd())
        return std::nullopt;
    if (found->typeId() != type) {
        koru::log::warn("session: \"{}\" holds a {} where a {} belongs; ignored", name,
                        found->typeName() ? found->typeName() : "nothing", QMetaType(type).name());
        return std::nullopt;
    }
    return *found;
}

std::optional<QVariantMap> mapValue(const QVariantMap& session, const char* name) {
    const auto value = typedValue(session, name, QMetaType::QVariantMap);
    return value ? std::optional(value->toMap()) : std::nullopt;
}

QVariantList listValue(const QVariantMap& session, const char* name) {
    const auto value = typedValue(session, name, QMetaType::QVariantList);
    return value ? value->toList() : QVariantList();
}

// The dictionaries of an array; anything else in it is logged and left out.
QList<QVariantMap> dictionaries(const QVariantMap& session, const char* name) {
    QList<QVariantMap> entries;
    const QVariantList list = listValue(session, name);
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (list.at(i).typeId() == QMetaType::QVariantMap)
            entries.append(list.at(i).toMap());
        else
            koru::log::warn("session: entry {} of \"{}\" is not a dictionary; skipped", i, name);
    }
    return entries;
}

QString describeEntry(const QVariantMap& entry) {
    return QStringLiteral("%1 (%2)").arg(
        entry.value(key(KOInstrumentController::kTypeKey)).toString(),
        entry.value(key(KOInstrumentController::kIdentifierKey)).toString());
}

void restoreInstruments(SessionHost& host, const QVariantMap& session) {
    for (const QVariantMap& entry : dictionaries(session, Session::kActiveInstrumentsKey)) {
        const QVariant saved = entry.value(key(KOInstrumentController::kIdentifierKey));
        const QString identifier =
            saved.typeId() == QMetaType::QString ? saved.toString() : QString();
        if (host.isInstrumentOpen(identifier))
            continue;
        // One instrument that rejects its dictionary must not cost the user the others.
        try {
            host.restoreInstrumentFromDictionary(entry);
        } catch (const std::exception& error) {
            koru::log::warn("session: instrument {} not restored: {}", text(describeEntry(entry)),
                            error.what());
        } catch (...) {
            koru::log::warn("session: instrument {} not restored", text(describeEntry(entry)));
        }
    }
}

SessionRead unreadable(const QString& why) {
    koru::log::warn("{}", text(why));
    return {std::nullopt, why};
}

} // namespace

Session::Session(SessionHost& host) : mHost(host) {}

// --- The three forms ---------------------------------------------------------------------------

QVariantMap Session::dictionaryRepresentationOfCurrentSession() const {
    QVariantMap session;
    session.insert(key(kActiveInstrumentsKey), mHost.openInstrumentDictionaries());
    session.insert(key(kRecentInstrumentsKey), mHost.recentInstrumentDictionaries());
    session.insert(key(kMainWindowFrameKey), mHost.mainWindowFrame());
    session.insert(key(kMainWindowVisibleKey), mHost.mainWindowVisible());
    session.insert(key(kAudioDeviceSettingsKey), mHost.audioSettingsDictionary());
    session.insert(key(kActiveInstrumentIndexKey),
                   QVariant::fromValue<qint64>(mHost.currentInstrumentIndex()));
    return session;
}

QVariantMap Session::dictionaryRepresentationOfSessionWithWorkspace() const {
    QVariantMap session = dictionaryRepresentationOfCurrentSession();
    session.insert(key(kWorkspacesKey), mWorkspaces);
    session.insert(key(kCurrentWorkspaceKey), QVariant::fromValue<qint32>(mCurrentWorkspace));
    return session;
}

AutomaticSession Session::automaticSessionSnapshot() const {
    AutomaticSession snapshot;
    snapshot.dictionary = dictionaryRepresentationOfSessionWithWorkspace();
    snapshot.sessionID = VEString::uuidString();
    snapshot.dictionary.insert(key(kSessionIDKey), snapshot.sessionID);
    snapshot.deviceUID = mHost.audioDeviceUID();
    return snapshot;
}

// --- Loading -----------------------------------------------------------------------------------

void Session::loadSessionFromDictionary(const std::optional<QVariantMap>& loaded, bool overwrite) {
    if (!loaded)
        return;
    const QVariantMap& session = *loaded;
    koru::log::info("app controller: begin session loading");

    try {
        mHost.loadAudioSettings(mapValue(session, kAudioDeviceSettingsKey));
    } catch (const std::exception& error) {
        koru::log::warn("session: audio settings not loaded: {}", error.what());
    }

    if (overwrite) {
        mHost.closeInstrumentsForWorkspaceRecall();
        mHost.clearRecentInstruments();
    }

    restoreInstruments(mHost, session);

    for (const QVariantMap& entry : dictionaries(session, kRecentInstrumentsKey))
        mHost.appendRecentInstrument(entry);

    mWorkspaces.clear();
    for (QVariantMap workspace : dictionaries(session, kWorkspacesKey)) {
        workspace.remove(key(kWorkspacesKey));
        mWorkspaces.append(workspace);
    }

    const auto found = session.constFind(key(kCurrentWorkspaceKey));
    if (found != session.constEnd()) {
        if (ZODictionary::isNumber(*found))
            mCurrentWorkspace = ZODictionary::intForKey(session, key(kCurrentWorkspaceKey), -1);
        else
            koru::log::warn("session: \"{}\" is not a number; ignored", kCurrentWorkspaceKey);
    }

    if (const auto frame = typedValue(session, kMainWindowFrameKey, QMetaType::QString))
        mHost.setMainWindowFrame(frame->toString());
    const QVariant visible = session.value(key(kMainWindowVisibleKey));
    if (!(ZODictionary::isNumber(visible) &&
          ZODictionary::boolForKey(session, key(kMainWindowVisibleKey), false)))
        mHost.closeMainWindow();

    mHost.audioPropertiesChanged();
    mHost.reloadTables();

    const qint64 index = ZODictionary::intForKey(session, key(kActiveInstrumentIndexKey), -1);
    mHost.setCurrentInstrumentIndex(index);
    mHost.bringInstrumentToFront(index);
}

// --- Files -------------------------------------------------------------------------------------

QString Session::sessionNameForUID(const std::optional<QString>& uid) {
    std::uint32_t hash = 0;
    if (uid && !uid->isEmpty()) {
        hash = 2166136261u;
        for (const char byte : uid->toUtf8()) {
            hash ^= static_cast<std::uint8_t>(byte);
            hash *= 16777619u;
        }
    }
    return QString::fromStdString(fmt::format("{}.{}", hash, kFileExtension));
}

QString Session::sessionAutosaveName() const {
    return sessionNameForUID(mHost.audioDeviceUID());
}

SessionRead Session::readSessionFile(const QString& path) {
    if (!QFileInfo::exists(path))
        return unreadable(QStringLiteral("The session file %1 does not exist.").arg(path));
    const auto read = PropertyList::read(path);
    if (!read.ok())
        return unreadable(QStringLiteral("The session file could not be read: %1").arg(read.error));
    if (read.value.typeId() != QMetaType::QVariantMap)
        return unreadable(QStringLiteral("The file %1 holds no session.").arg(path));
    return {read.value.toMap(), {}};
}

SessionRead Session::readAutomaticSession(const QString& name) {
    const QString path = VEFileManager::pathToFileInSupportDirectory(name);
    if (!QFileInfo::exists(path))
        return {};
    SessionRead read = readSessionFile(path);
    if (!read.dictionary) {
        read.error =
            QStringLiteral("%1; %2").arg(read.error, koru::platform::keepUnreadableAsideText(path));
        koru::log::warn("{}", text(read.error));
    }
    return read;
}

bool Session::saveCurrentSessionToFile(const QString& path) {
    const QVariantMap session = dictionaryRepresentationOfSessionWithWorkspace();
    mRevertDictionary = session;
    QString error;
    if (PropertyList::write(path, session, PlistFormat::Xml, &error))
        return true;
    koru::log::warn("session not saved to {}: {}", text(path), text(error));
    return false;
}

bool Session::writeAutomaticSession(const AutomaticSession& session, const QString& name,
                                    platform::UserDefaults& defaults) {
    defaults.setString(key(kLastAudioDeviceUIDDefault), session.deviceUID);
    const bool written =
        KORUDictionaryAdditions::writeToFileInAppSupportDirectory(session.dictionary, name);
    defaults.setString(key(kLastSessionIDDefault), session.sessionID);
    return written;
}

bool Session::saveCurrentSessionToFileInApplicationSupportDirectory(
    const QString& name, platform::UserDefaults& defaults) {
    return writeAutomaticSession(automaticSessionSnapshot(), name, defaults);
}

// --- User files --------------------------------------------------------------------------------

// A file that cannot be read leaves the file name and the revert dictionary as they were: taking
// its path would let the next Save overwrite what may still be recovered from it.
QString Session::openSessionFile(const QString& path, bool overwrite, bool loadAudioSettings) {
    koru::log::info("loading {}", text(path));
    SessionRead read = readSessionFile(path);
    if (!read.dictionary)
        return read.error;
    if (!loadAudioSettings)
        read.dictionary->remove(key(kAudioDeviceSettingsKey));
    loadSessionFromDictionary(read.dictionary, overwrite);
    mFileName = path;
    mRevertDictionary = read.dictionary;
    return {};
}

QString Session::openFileFromSystem(const QString& path) {
    const SessionRead read = readSessionFile(path);
    if (!read.dictionary)
        return read.error;
    loadSessionFromDictionary(read.dictionary, true);
    mFileName = path;
    return {};
}

bool Session::revertDocumentToSaved() {
    if (!mRevertDictionary)
        return false;
    // A copy: loading must not depend on the stored dictionary staying put.
    const std::optional<QVariantMap> saved = mRevertDictionary;
    loadSessionFromDictionary(saved, true);
    return true;
}

} // namespace koru
