#include "UtilityTestSupport.h"

#include "utility/VEFileManager.h"

#include "platform/fourcc/FourCC.h"
#include "platform/paths/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <string>

namespace {

void touch(const QString& path) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
}

class VEFileManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = koru::test::testRoot() + "/files-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name();
        QDir(folder).removeRecursively();
        QDir().mkpath(folder);
    }
    QString folder;
};

TEST_F(VEFileManagerTest, SupportFolderLiesUnderXdgDataHomeAndIsCreatedOnFirstUse) {
    const QString expected = koru::test::testRoot() + "/data/KORU";
    QDir(expected).removeRecursively();
    EXPECT_EQ(VEFileManager::urlInApplicationSupportDirectoyByAppendingPathComponent("x"),
              expected + "/x");
    EXPECT_FALSE(QFileInfo::exists(expected)) << "asking for a path creates nothing";

    EXPECT_EQ(VEFileManager::pathToFileInSupportDirectory("spllogs.plist"),
              expected + "/spllogs.plist");
    EXPECT_TRUE(QFileInfo(expected).isDir());
    EXPECT_FALSE(QFileInfo::exists(expected + "/spllogs.plist"));
    EXPECT_EQ(VEFileManager::mySupportDirectory(), expected);
    EXPECT_EQ(koru::platform::applicationSupportDirectory(), expected)
        << "the platform layer and the utility library name the same folder";
}

TEST_F(VEFileManagerTest, SupportFolderFollowsTheEnvironmentOnEveryCall) {
    const QByteArray previous = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", folder.toUtf8());
    const QString moved = VEFileManager::mySupportDirectory();
    qputenv("XDG_DATA_HOME", previous);
    EXPECT_EQ(moved, folder + "/KORU");
    EXPECT_TRUE(QFileInfo(moved).isDir());
}

TEST_F(VEFileManagerTest, UniqueNamesSkipTakenCandidates) {
    touch(folder + "/report.txt");
    touch(folder + "/report-1.txt");
    EXPECT_EQ(VEFileManager::uniqueFilenameFromName(folder + "/report.txt"),
              folder + "/report-2.txt");
    EXPECT_EQ(VEFileManager::uniqueFilenameFromName(folder + "/free.txt"), folder + "/free.txt");
    EXPECT_EQ(VEFileManager::makeUniqueFilenameForPath(folder + "/report.txt"),
              folder + "/report-2.txt");

    touch(folder + "/report");
    EXPECT_EQ(VEFileManager::uniqueFilenameFromName(folder + "/report"), folder + "/report-1");
    EXPECT_EQ(VEFileManager::makeUniqueFilenameForPath(folder + "/report"), folder + "/report-1");

    touch(folder + "/.hidden");
    EXPECT_EQ(VEFileManager::makeUniqueFilenameForPath(folder + "/.hidden"), folder + "/.hidden-1");
}

TEST_F(VEFileManagerTest, UniqueNameSearchGivesUpRatherThanNameATakenFile) {
    touch(folder + "/take.wav");
    for (int n = 1; n <= 999; ++n)
        touch(folder + QString("/take-%1.wav").arg(n));
    EXPECT_FALSE(VEFileManager::uniqueFilenameFromName(folder + "/take.wav").has_value());
    EXPECT_EQ(VEFileManager::makeUniqueFilenameForPath(folder + "/take.wav"),
              folder + "/take-1000.wav");
}

TEST_F(VEFileManagerTest, EmptyFolderTestCountsHiddenEntries) {
    QDir().mkpath(folder + "/empty");
    QDir().mkpath(folder + "/hidden");
    touch(folder + "/hidden/.x");
    touch(folder + "/file");
    EXPECT_TRUE(VEFileManager::isEmptySubfolderAtURL(folder + "/empty"));
    EXPECT_FALSE(VEFileManager::isEmptySubfolderAtURL(folder + "/hidden"));
    EXPECT_FALSE(VEFileManager::isEmptySubfolderAtURL(folder + "/file"));
    EXPECT_FALSE(VEFileManager::isEmptySubfolderAtURL(folder + "/missing"));

    VEFileManager::removeIfEmptySubfolder(folder + "/empty");
    VEFileManager::removeIfEmptySubfolder(folder + "/hidden");
    EXPECT_FALSE(QFileInfo::exists(folder + "/empty"));
    EXPECT_TRUE(QFileInfo::exists(folder + "/hidden"));

    VEFileManager::ensureExistenceOfSubfoldersToURL(folder + "/a/b/c");
    EXPECT_TRUE(VEFileManager::isDirectotyAtURL(folder + "/a/b/c"));
    EXPECT_FALSE(VEFileManager::directoryExistsAtURL(folder + "/file"));
}

class VEFileManagerWalk : public VEFileManagerTest {
protected:
    void SetUp() override {
        VEFileManagerTest::SetUp();
        QDir().mkpath(folder + "/sub/deeper");
        QDir().mkpath(folder + "/.hiddenfolder");
        touch(folder + "/a.txt");
        touch(folder + "/b.txt");
        touch(folder + "/z.txt");
        touch(folder + "/.hidden.txt");
        touch(folder + "/sub/c.txt");
        touch(folder + "/sub/deeper/d.txt");
        touch(folder + "/.hiddenfolder/e.txt");
        QFile::link(folder + "/sub", folder + "/link-to-sub");
    }

    QStringList walk(bool recursive, const QString& stopAt = {}) {
        QStringList seen;
        VEFileManager::enumerateContentsAtURL(folder, recursive,
                                              [&](const QString& item, bool& stop) {
                                                  seen << item.mid(folder.size() + 1);
                                                  stop = item.endsWith(stopAt) && !stopAt.isEmpty();
                                              });
        return seen;
    }
};

TEST_F(VEFileManagerWalk, RecursiveWalkReportsEveryVisibleItemOnce) {
    EXPECT_EQ(walk(true),
              (QStringList{"a.txt", "b.txt", "sub/c.txt", "sub/deeper/d.txt", "z.txt"}));
}

TEST_F(VEFileManagerWalk, FlatWalkReportsDirectItemsOnly) {
    EXPECT_EQ(walk(false), (QStringList{"a.txt", "b.txt", "z.txt"}));
}

TEST_F(VEFileManagerWalk, StoppingEndsOnlyTheCurrentFolder) {
    EXPECT_EQ(walk(true, "a.txt"), QStringList{"a.txt"});
    EXPECT_EQ(walk(true, "c.txt"), (QStringList{"a.txt", "b.txt", "sub/c.txt", "z.txt"}));
}

} // namespace

namespace {

using koru::platform::fourCC;

// Points an XDG variable elsewhere for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QString& value) : m_name(name), m_previous(qgetenv(name)) {
        m_had = qEnvironmentVariableIsSet(name);
        qputenv(name, value.toUtf8());
    }
    ~ScopedEnv() {
        if (m_had)
            qputenv(m_name, m_previous);
        else
            qunsetenv(m_name);
    }

private:
    const char* m_name;
    QByteArray m_previous;
    bool m_had = false;
};

TEST_F(VEFileManagerTest, SystemFoldersAreFoundByTypeInTheUserDomainWithoutBeingCreated) {
    const ScopedEnv data("XDG_DATA_HOME", folder + "/data-missing");
    const ScopedEnv cache("XDG_CACHE_HOME", folder + "/cache-missing");
    const struct {
        const char* type;
        std::int16_t domain;
        std::optional<QString> path;
    } cases[] = {
        {"asup", VEFileManager::kUserDomain, folder + "/data-missing"},
        {"cach", VEFileManager::kUserDomain, folder + "/cache-missing"},
        {"temp", VEFileManager::kUserDomain, QDir::tempPath()},
        {"asup", -32764, std::nullopt}, // a machine-wide domain: none here
        {"zzzz", VEFileManager::kUserDomain, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " " + std::to_string(c.domain));
        char code[5] = {};
        std::copy_n(c.type, 4, code);
        EXPECT_EQ(VEFileManager::findSystemFolderType(fourCC(code), c.domain), c.path);
    }
    EXPECT_FALSE(QFileInfo::exists(folder + "/data-missing"));
    EXPECT_FALSE(QFileInfo::exists(folder + "/cache-missing"));
    EXPECT_TRUE(VEFileManager::findSystemFolderType(fourCC("docs"), VEFileManager::kUserDomain)
                    .has_value());
}

TEST_F(VEFileManagerTest, SearchPathDirectoryIsCreatedOrRefusedWhenItCannotBe) {
    {
        const ScopedEnv cache("XDG_CACHE_HOME", folder + "/a/b");
        EXPECT_EQ(
            VEFileManager::firstURLInSearchPathDirectory(QStandardPaths::GenericCacheLocation),
            folder + "/a/b");
        EXPECT_TRUE(QFileInfo(folder + "/a/b").isDir());
    }
    {
        touch(folder + "/file");
        const ScopedEnv cache("XDG_CACHE_HOME", folder + "/file/cache");
        EXPECT_FALSE(
            VEFileManager::firstURLInSearchPathDirectory(QStandardPaths::GenericCacheLocation));
    }
}

} // namespace
