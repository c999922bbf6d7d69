#include "meters/KORecordingsStore.h"

#include "platform/plist/PropertyList.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

using koru::platform::PlistFormat;
using koru::platform::PropertyList;

namespace {

class KORecordingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = koru::test::testRoot() + "/recordings-store/" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name();
        QDir(folder).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(folder));
        storePath = folder + "/recordings.plist";
    }
    QString makeFile(const QString& name) {
        const QString path = folder + "/" + name;
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("RIFF");
        return path;
    }
    void writeStore(const QVariantList& entries, PlistFormat format = PlistFormat::Xml) {
        ASSERT_TRUE(PropertyList::write(storePath, QVariantMap{{"recordings", entries}}, format));
    }
    QVariantList storedEntries() {
        const auto read = PropertyList::read(storePath);
        EXPECT_TRUE(read.ok()) << read.error.toStdString();
        return read.value.toMap().value("recordings").toList();
    }
    QString folder;
    QString storePath;
};

// Written, read back by a new store and by the property-list reader, in both number formats:
// order, extra keys and their values survive.
TEST_F(KORecordingsStoreTest, RoundTripKeepsOrderAndExtraKeys) {
    for (const char* locale : {"C", "de_DE.UTF-8"}) {
        koru::test::ScopedLocale scoped(locale);
        if (!scoped.active())
            continue;
        SCOPED_TRACE(locale);
        QFile::remove(storePath);
        const QString a = makeFile("a.wav"), b = makeFile("b.caf"), c = makeFile("c d.m4a");
        writeStore({QVariantMap{{"path", b}, {"gain", 1.5}, {"note", QStringLiteral("take 2")}}});
        {
            KORecordingsStore store(storePath);
            EXPECT_TRUE(store.lastError().isEmpty());
            EXPECT_TRUE(store.addRecording(a));
            EXPECT_TRUE(store.addRecording(c));
        }
        KORecordingsStore again(storePath);
        ASSERT_EQ(again.count(), 3);
        EXPECT_EQ(again.pathAt(0), b);
        EXPECT_EQ(again.pathAt(1), a);
        EXPECT_EQ(again.pathAt(2), c);
        EXPECT_EQ(again.entry(0).value("gain").toDouble(), 1.5);
        EXPECT_EQ(again.entry(0).value("note").toString(), "take 2");
        const QVariantList stored = storedEntries();
        ASSERT_EQ(stored.size(), 3);
        EXPECT_EQ(stored[2].toMap(), QVariantMap({{"path", c}}));
        EXPECT_EQ(stored[0].toMap().value("gain").toDouble(), 1.5);
    }
}

// A file that is gone stays listed and marked, and stays in the store: a disk that is not
// mounted must not empty the list. A path listed twice is kept once.
TEST_F(KORecordingsStoreTest, MissingFilesStayListedAndDuplicatesGo) {
    const QString kept = makeFile("kept.wav");
    const QString gone = folder + "/gone.wav";
    writeStore({QVariantMap{{"path", kept}}, QVariantMap{{"path", gone}},
                QVariantMap{{"path", kept}, {"extra", 1}}});
    KORecordingsStore store(storePath);
    ASSERT_EQ(store.count(), 2);
    EXPECT_TRUE(store.fileExistsAt(0));
    EXPECT_FALSE(store.fileExistsAt(1));
    EXPECT_EQ(store.numberOfRecordings(), 1);
    EXPECT_FALSE(store.entry(0).contains("extra")) << "the first of two equal paths stays";
    ASSERT_TRUE(store.save());
    const QVariantList stored = storedEntries();
    ASSERT_EQ(stored.size(), 2);
    EXPECT_EQ(stored[1].toMap().value("path").toString(), gone);
    // The file comes back (a disk mounted again): it counts again.
    QFile::copy(kept, gone);
    EXPECT_TRUE(store.fileExistsAt(1));
    EXPECT_EQ(store.numberOfRecordings(), 2);
}

// Adding a listed path lists nothing new but still writes the store; deleting takes exactly
// the entry asked for; an index outside the list changes nothing.
TEST_F(KORecordingsStoreTest, AddAndRemoveSaveEveryChange) {
    const QString a = makeFile("a.wav"), b = makeFile("b.wav");
    KORecordingsStore store(storePath);
    EXPECT_EQ(store.count(), 0) << "no store yet: an empty list, no error";
    EXPECT_TRUE(store.lastError().isEmpty());
    ASSERT_TRUE(store.addRecording(a));
    ASSERT_TRUE(store.addRecording(b));
    ASSERT_TRUE(QFile::remove(storePath));
    EXPECT_TRUE(store.addRecording(a));
    EXPECT_EQ(store.count(), 2);
    EXPECT_EQ(storedEntries().size(), 2) << "written again although nothing was new";
    // Relative paths are listed as absolute ones, so they match later.
    const QString previous = QDir::currentPath();
    QDir::setCurrent(folder);
    EXPECT_TRUE(store.addRecording("b.wav"));
    QDir::setCurrent(previous);
    EXPECT_EQ(store.count(), 2);
    EXPECT_FALSE(store.removeAt(2));
    EXPECT_FALSE(store.removeAt(-1));
    EXPECT_FALSE(store.addRecording(QString()));
    ASSERT_TRUE(store.removeAt(0));
    const QVariantList stored = storedEntries();
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(stored[0].toMap().value("path").toString(), b);
}

// A store that cannot be read starts an empty list with the reason, and is moved aside whole:
// the next save must not destroy what the user may want back.
TEST_F(KORecordingsStoreTest, UnreadableStoreIsKeptAsideAndReported) {
    const QString a = makeFile("a.wav");
    writeStore({QVariantMap{{"path", a}}});
    QFile valid(storePath);
    ASSERT_TRUE(valid.open(QIODevice::ReadOnly));
    const QByteArray xml = valid.readAll();
    valid.close();
    writeStore({QVariantMap{{"path", a}}}, PlistFormat::Binary);
    QFile binaryFile(storePath);
    ASSERT_TRUE(binaryFile.open(QIODevice::ReadOnly));
    const QByteArray binary = binaryFile.readAll();
    binaryFile.close();
    struct Case {
        const char* name;
        QByteArray bytes;
    };
    const Case cases[] = {
        {"truncated XML", xml.left(xml.size() / 2)},
        {"truncated binary", binary.left(binary.size() - 10)},
        {"not a property list", QByteArray("recordings: a.wav\n")},
        {"empty file", QByteArray()},
        {"root is a list",
         PropertyList::serialize(QVariantList{QVariantMap{{"path", a}}}, PlistFormat::Xml)},
        {"recordings is no list",
         PropertyList::serialize(QVariantMap{{"recordings", "a.wav"}}, PlistFormat::Xml)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const QString& old : QDir(folder).entryList({"recordings.plist*"}))
            QFile::remove(folder + "/" + old);
        QFile file(storePath);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(c.bytes);
        file.close();

        KORecordingsStore store(storePath);
        EXPECT_EQ(store.count(), 0);
        EXPECT_TRUE(store.lastError().contains(storePath)) << store.lastError().toStdString();
        QFile aside(storePath + ".unreadable");
        ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
        EXPECT_EQ(aside.readAll(), c.bytes);
        EXPECT_FALSE(QFileInfo::exists(storePath));
        // The list goes on in a new store beside the kept one.
        ASSERT_TRUE(store.addRecording(a));
        EXPECT_TRUE(store.lastError().isEmpty());
        EXPECT_EQ(storedEntries().size(), 1);
        EXPECT_TRUE(QFileInfo::exists(storePath + ".unreadable"));
    }
}

// Elements that name no file are skipped; the rest of the list is read.
TEST_F(KORecordingsStoreTest, EntriesWithoutAPathAreSkipped) {
    const QString a = makeFile("a.wav");
    writeStore({QVariantMap{{"name", "x"}}, QStringLiteral("b.wav"), QVariantMap{{"path", 5}},
                QVariantMap{{"path", QString()}}, QVariantMap{{"path", a}}});
    KORecordingsStore store(storePath);
    ASSERT_EQ(store.count(), 1);
    EXPECT_EQ(store.pathAt(0), a);
    EXPECT_TRUE(store.lastError().isEmpty());
    EXPECT_EQ(store.pathAt(1), QString()) << "outside the list";
    EXPECT_FALSE(store.fileExistsAt(1));
}

// A store that cannot be written says so; the list in memory keeps the new entry.
TEST_F(KORecordingsStoreTest, FailedWriteIsReportedAndKeepsTheList) {
    const QString blocker = makeFile("not-a-folder");
    KORecordingsStore store(blocker + "/recordings.plist");
    EXPECT_FALSE(store.addRecording(makeFile("a.wav")));
    EXPECT_FALSE(store.lastError().isEmpty());
    EXPECT_EQ(store.count(), 1);
    EXPECT_TRUE(store.fileExistsAt(0));
}

} // namespace
