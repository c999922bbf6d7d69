#pragma once

#include <QStandardPaths>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

// Where the program keeps its files. Every stored file (sessions, calibration, SPL logs, the
// web pages of the level server, the recordings list) lives in the application-support folder,
// $XDG_DATA_HOME/KORU. Paths are computed on each call, never cached, so the environment decides.
class VEFileManager {
public:
    // The one domain there is here: the user's own folders.
    static constexpr std::int16_t kUserDomain = -32763;

    // A standard folder by its four-character type, without creating it: 'asup' (application
    // support), 'cach' (caches), 'temp', 'docs' (documents), 'pdoc' (pictures). nullopt for any
    // other type, for a domain other than the user's, or when the system names no such folder.
    static std::optional<QString> findSystemFolderType(std::uint32_t folderType,
                                                       std::int16_t domain);
    // The user's folder of that kind, created when missing; nullopt when the system names none
    // or it cannot be created.
    static std::optional<QString>
    firstURLInSearchPathDirectory(QStandardPaths::StandardLocation location);

    // $XDG_DATA_HOME, or ~/.local/share when it is unset or not absolute.
    static QString machineAppSupportDirectory();
    // The program's folder in it, created with its parents when missing (a failure is logged and
    // the path returned all the same).
    static QString mySupportDirectory();
    static QString pathToFileInSupportDirectory(const QString& name);
    // The program's folder plus `component`; with `create`, the program's folder is created
    // first and a failure gives nullopt.
    static std::optional<QString>
    urlInApplicationSupportDirectoyByAppendingPathComponent(const QString& component,
                                                            bool create = false);
    static std::optional<QString> myAppSupportDirectoryBundleIdentifier();

    static QString cachesDirectory();
    static QString urlForCacheFile(const QString& name);
    static QString tempDirectory();
    static QString urlForTempFile(const QString& name);
    static QString picturesURL();
    static QString documentsURL();

    // The path itself when free, else the first free "<base>-<n>.<ext>" (n = 1..999); a name
    // without extension gets none. nullopt when every candidate exists.
    static std::optional<QString> uniqueFilenameFromName(const QString& path);
    // The path itself when free, else the first free "<base>-<n>[.<ext>]", n = 1, 2, ...
    static QString makeUniqueFilenameForPath(const QString& path);

    // Names keep the spelling callers know them by.
    static bool isDirectotyAtURL(const QString& path);
    static bool directoryExistsAtURL(const QString& path) { return isDirectotyAtURL(path); }
    // A folder with no entries at all; hidden entries count.
    static bool isEmptySubfolderAtURL(const QString& path);
    static void removeIfEmptySubfolder(const QString& path);
    static void ensureExistenceOfSubfoldersToURL(const QString& path);

    // Calls `block` for every non-folder item, skipping hidden entries and never following a
    // symbolic link to a folder. With `recursive` sub-folders are walked too, else only the
    // direct entries are reported. Setting `stop` ends the walk of the current folder.
    using ItemBlock = std::function<void(const QString& itemPath, bool& stop)>;
    static void enumerateContentsAtURL(const QString& folder, bool recursive,
                                       const ItemBlock& block);

private:
    static bool createFolder(const QString& path);
};
