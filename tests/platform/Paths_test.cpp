#include "platform/paths/Paths.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include <sys/stat.h>
#include <unistd.h>

using namespace koru::platform;

namespace {

// Sets (or, with nullopt, unsets) an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<QString>& value)
        : m_name(name), m_wasSet(qEnvironmentVariableIsSet(name)), m_previous(qgetenv(name)) {
        if (value)
            qputenv(name, value->toUtf8());
        else
            qunsetenv(name);
    }
    ~ScopedEnv() {
        if (m_wasSet)
            qputenv(m_name, m_previous);
        else
            qunsetenv(m_name);
    }

private:
    const char* m_name;
    bool m_wasSet;
    QByteArray m_previous;
};

struct FolderCase {
    const char* variable;
    QString (*folder)();
    const char* homeDefault;
};

const FolderCase folderCases[] = {
    {"XDG_DATA_HOME", &applicationSupportDirectory, ".local/share/KORU"},
    {"XDG_CONFIG_HOME", &configDirectory, ".config/KORU"},
    {"XDG_STATE_HOME", &stateDirectory, ".local/state/KORU"},
};

TEST(Paths, FoldersFollowXdgVariablesAndAreCreated) {
    for (const FolderCase& c : folderCases) {
        SCOPED_TRACE(c.variable);
        const QString base = koru::test::testRoot() + "/paths/" + c.variable + "/not/yet";
        const ScopedEnv env(c.variable, base);
        EXPECT_EQ(c.folder(), base + "/KORU");
        EXPECT_TRUE(QFileInfo(base + "/KORU").isDir());
    }
}

// Unset, empty and relative values all fall back to the home folder.
TEST(Paths, FoldersFallBackToHome) {
    const QString home = koru::test::testRoot() + "/home";
    const ScopedEnv homeEnv("HOME", home);
    for (const FolderCase& c : folderCases) {
        for (const std::optional<QString>& value :
             {std::optional<QString>(), std::optional<QString>(""),
              std::optional<QString>("relative/dir")}) {
            SCOPED_TRACE(std::string(c.variable) + "=" +
                         (value ? value->toStdString() : "(unset)"));
            const ScopedEnv env(c.variable, value);
            EXPECT_EQ(c.folder(), home + "/" + c.homeDefault);
            EXPECT_TRUE(QFileInfo(home + "/" + c.homeDefault).isDir());
        }
    }
}

TEST(Paths, Fnv1aKnownAnswers) {
    const std::pair<QString, quint32> cases[] = {
        {"", 0x811c9dc5u},
        {"a", 0xe40c292cu},
        {"foobar", 0xbf9cf968u},
        {QString::fromUtf8("é"), 0x1e9de8c1u}, // two UTF-8 bytes, not one Latin-1 byte
        {"pulse:Built-in Audio", 0x8aa5486au},
    };
    for (const auto& [text, hash] : cases)
        EXPECT_EQ(fnv1a32(text), hash) << text.toStdString();
}

// The private folder: in the runtime folder only when that is ours and closed to others, and
// never through a name someone else could have prepared.
TEST(Paths, ThePrivateFolderIsOnlyEverOneNobodyElseCanEnter) {
    const QString root = koru::test::testRoot() + "/private-folder";
    QDir(root).removeRecursively();
    struct Case {
        const char* name;
        std::function<QString()> prepare; // the runtime folder to use
        bool inRuntime;
    };
    const auto folder = [&](const QString& name, QFile::Permissions permissions) {
        const QString path = root + "/" + name;
        QDir().mkpath(path);
        QFile::setPermissions(path, permissions);
        return path;
    };
    const QFile::Permissions owner = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    const Case cases[] = {
        {"private runtime folder", [&] { return folder("private", owner); }, true},
        {"runtime folder others may enter",
         [&] { return folder("open", owner | QFile::ReadOther | QFile::ExeOther); }, false},
        {"KORU in it is a link to another folder",
         [&] {
             const QString runtime = folder("linked", owner);
             folder("elsewhere", owner);
             QFile::link(root + "/elsewhere", runtime + "/KORU");
             return runtime;
         },
         false},
        {"KORU in it is open to others",
         [&] {
             const QString runtime = folder("shared", owner);
             folder("shared/KORU", owner | QFile::ReadOther | QFile::ExeOther);
             return runtime;
         },
         false},
        {"relative runtime folder", [] { return QStringLiteral("relative/run"); }, false},
        {"no runtime folder", [] { return QString(); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString runtime = c.prepare();
        const ScopedEnv env("XDG_RUNTIME_DIR",
                            runtime.isEmpty() ? std::nullopt : std::optional<QString>(runtime));
        const QString path = privateTemporaryDirectory();
        ASSERT_FALSE(path.isEmpty());
        EXPECT_EQ(path == runtime + "/KORU", c.inRuntime) << path.toStdString();
        if (!c.inRuntime && !runtime.isEmpty()) {
            EXPECT_FALSE(path.startsWith(runtime + "/")) << path.toStdString();
        }
        struct stat info {};
        ASSERT_EQ(::lstat(QFile::encodeName(path).constData(), &info), 0);
        EXPECT_TRUE(S_ISDIR(info.st_mode));
        EXPECT_EQ(info.st_mode & 0777, 0700u);
        EXPECT_EQ(info.st_uid, ::getuid());
    }
    // The fallback folder stays the same for the process.
    const ScopedEnv env("XDG_RUNTIME_DIR", std::nullopt);
    EXPECT_EQ(privateTemporaryDirectory(), privateTemporaryDirectory());
}

} // namespace
