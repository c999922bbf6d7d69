#pragma once

#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <array>
#include <cstdint>
#include <optional>

namespace koru::platform {
class UserDefaults;
}

namespace koru {

class SessionHost;

// A file read that either holds a session dictionary or says why it could not.
struct SessionRead {
    std::optional<QVariantMap> dictionary;
    QString error; // empty when the file was read, or (automatic files) simply is not there
};

// The automatic session as built on the main thread, ready to be written from any thread.
struct AutomaticSession {
    QVariantMap dictionary; // the file form plus "KORU.SessionID"
    QString sessionID;
    QString deviceUID;
};

// The whole working state as one dictionary, in three forms: the current session (what a
// workspace keeps), the file form (plus the workspaces) and the automatic form (plus a fresh
// session ID). Owns the workspace list, the current workspace and the shadow workspace, since
// the file form carries them; the workspace operations work on them through this object.
// Writes session files atomically, reads them back, and loads a dictionary into the program.
// Main thread only, except writeAutomaticSession.
class Session {
public:
    static constexpr const char* kActiveInstrumentsKey = "KORU.ActiveInstruments";
    static constexpr const char* kRecentInstrumentsKey = "KORU.RecentInstruments";
    static constexpr const char* kMainWindowFrameKey = "KORU.MainWindow.Frame";
    static constexpr const char* kMainWindowVisibleKey = "KORU.MainWindow.Visible";
    static constexpr const char* kAudioDeviceSettingsKey = "KORU.AudioDevice.Settings";
    static constexpr const char* kActiveInstrumentIndexKey = "KORU.ActiveInstrumentIndex";
    static constexpr const char* kWorkspacesKey = "KORU.Workspaces";
    static constexpr const char* kCurrentWorkspaceKey = "KORU.Workspace.Current";
    static constexpr const char* kSessionIDKey = "KORU.SessionID";
    // The keys in the order the writer adds them; each form extends the one before.
    static constexpr std::array<const char*, 9> kKeyOrder{
        kActiveInstrumentsKey, kRecentInstrumentsKey,   kMainWindowFrameKey,
        kMainWindowVisibleKey, kAudioDeviceSettingsKey, kActiveInstrumentIndexKey,
        kWorkspacesKey,        kCurrentWorkspaceKey,    kSessionIDKey};
    static constexpr int kCurrentFormKeyCount = 6;
    static constexpr int kFileFormKeyCount = 8;

    static constexpr const char* kLastAudioDeviceUIDDefault = "KORU.LastAudioDevice.UID";
    static constexpr const char* kLastSessionIDDefault = "LastSessionID";
    static constexpr const char* kFileExtension = "kosession";
    static constexpr const char* kLastSessionFileName = "lastsession.kosession";

    // currentWorkspace while the shadow workspace is the recalled one: 'shdw'.
    static constexpr std::int32_t kShadowWorkspaceTag = 1936221303;

    explicit Session(SessionHost& host);

    // --- The three forms ---------------------------------------------------------------------
    QVariantMap dictionaryRepresentationOfCurrentSession() const;
    QVariantMap dictionaryRepresentationOfSessionWithWorkspace() const;
    // The file form with a new session ID, and the device it belongs to.
    AutomaticSession automaticSessionSnapshot() const;

    // --- Loading -------------------------------------------------------------------------------
    // Loads the dictionary into the program; none changes nothing. An instrument entry that
    // cannot be restored, or a value of the wrong type, is logged and skipped: the rest loads.
    void loadSessionFromDictionary(const std::optional<QVariantMap>& session, bool overwrite);

    // --- Files ---------------------------------------------------------------------------------
    // "<n>.kosession", n the 32-bit FNV-1a hash of the identifier's UTF-8 bytes; 0 for none or
    // an empty identifier.
    static QString sessionNameForUID(const std::optional<QString>& uid);
    QString sessionAutosaveName() const;

    // A user file. A missing, truncated or malformed file, or one that holds no dictionary,
    // gives no dictionary and a readable error; the file is left as it is.
    static SessionRead readSessionFile(const QString& path);
    // An automatic file of the application-support folder. A missing file gives neither
    // dictionary nor error. An unreadable one is renamed "<name>.unreadable" (numbered when
    // that exists) so the next automatic write cannot destroy what it still holds.
    static SessionRead readAutomaticSession(const QString& name);

    // Writes the file form atomically and keeps it as the revert dictionary. False (logged)
    // when the file could not be written; the old file is then whole.
    bool saveCurrentSessionToFile(const QString& path);
    // Any thread: sets "KORU.LastAudioDevice.UID", writes the file into the application-support
    // folder, then sets "LastSessionID" whether or not the write succeeded.
    static bool writeAutomaticSession(const AutomaticSession& session, const QString& name,
                                      platform::UserDefaults& defaults);
    bool saveCurrentSessionToFileInApplicationSupportDirectory(const QString& name,
                                                               platform::UserDefaults& defaults);

    // --- User files ----------------------------------------------------------------------------
    // Opens a user file: without `loadAudioSettings` the file's audio settings are left out.
    // The path becomes the file name and what was loaded the revert dictionary, also when the
    // file could not be read (then nothing loads and the answer carries the error).
    QString openSessionFile(const QString& path, bool overwrite, bool loadAudioSettings);
    // A file opened from the desktop: loaded with overwrite; the revert dictionary stays.
    QString openFileFromSystem(const QString& path);
    // Loads the revert dictionary with overwrite; false when there is none.
    bool revertDocumentToSaved();
    const QString& fileName() const { return mFileName; }
    void setFileName(const QString& path) { mFileName = path; }
    const std::optional<QVariantMap>& revertDictionary() const { return mRevertDictionary; }

    // --- Workspace state -----------------------------------------------------------------------
    QVariantList& workspaces() { return mWorkspaces; }
    const QVariantList& workspaces() const { return mWorkspaces; }
    std::int32_t currentWorkspace() const { return mCurrentWorkspace; }
    void setCurrentWorkspace(std::int32_t tag) { mCurrentWorkspace = tag; }
    std::optional<QVariantMap>& shadowWorkspace() { return mShadowWorkspace; }
    const std::optional<QVariantMap>& shadowWorkspace() const { return mShadowWorkspace; }

private:
    SessionHost& mHost;
    QVariantList mWorkspaces;
    std::int32_t mCurrentWorkspace = -1;
    std::optional<QVariantMap> mShadowWorkspace;
    QString mFileName;
    std::optional<QVariantMap> mRevertDictionary;
};

} // namespace koru
