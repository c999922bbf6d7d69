#include "app/LogCapture.h"
#include "platform/plist/PropertyList.h"
#include "spl/KOSPLLog.h"
#include "spl/KOSPLLogStore.h"
#include "support/TestSupport.h"
#include "utility/VEDate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <atomic>

#include <gtest/gtest.h>

using koru::platform::PlistFormat;
using koru::platform::PropertyList;
using koru::test::LogCapture;
using koru::test::ScopedLocale;

namespace {

constexpr std::uint32_t kSlow = 1936486263;
constexpr std::uint32_t kFast = 1717662580;
constexpr std::uint32_t kA = 1633646452;
constexpr std::uint32_t kC = 1667200884;

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// A log of `count` records one second apart, levels that differ per record.
std::shared_ptr<KOSPLLog> makeLog(const QString& name, int count, std::uint32_t weight = kA,
                                  std::uint32_t speed = kSlow) {
    auto log = std::make_shared<KOSPLLog>();
    log->setName(name);
    EXPECT_TRUE(log->setWeight(weight));
    EXPECT_TRUE(log->setSpeed(speed));
    const QDateTime start(QDate(2026, 7, 1), QTime(20, 0, 0, 250), Qt::UTC);
    for (int i = 0; i < count; ++i)
        log->addSPL(80.5f + float(i % 7), 75.25f + float(i % 3), 90.125f, start.addSecs(i));
    return log;
}

void expectSameRecords(const KOSPLLog& read, const KOSPLLog& written) {
    ASSERT_EQ(read.length(), written.length());
    for (std::uint64_t i = 0; i < written.length(); ++i) {
        const KOSPLRecord a = read.recordAtIndex(i);
        const KOSPLRecord b = written.recordAtIndex(i);
        EXPECT_EQ(a.time, b.time) << i;
        EXPECT_EQ(a.spl, b.spl) << i;
        EXPECT_EQ(a.avg, b.avg) << i;
        EXPECT_EQ(a.leq, b.leq) << i;
    }
}

class SplLogStore : public ::testing::Test {
protected:
    QString folder() const { return mFolder.path(); }
    QString storePath() const {
        return QDir(folder()).filePath(QString::fromLatin1(KOSPLLogStore::kFileName));
    }
    QString asidePath() const { return storePath() + QStringLiteral(".unreadable"); }

    QTemporaryDir mFolder;
};

} // namespace

// The stored layout, byte for byte: float32 SPL, AVG, LEQ, four zero bytes, float64 seconds since
// 2001, all little-endian.
TEST(SplLogRecords, AreStoredInTheTwentyFourByteLayout) {
    KOSPLLog log;
    log.addSPL(1.0f, -2.0f, 0.5f, VEDate::dateWithTimeIntervalSinceReferenceDate(1.5));
    const QByteArray expected = QByteArray::fromHex("0000803f"           // 1.0f
                                                    "000000c0"           // -2.0f
                                                    "0000003f"           // 0.5f
                                                    "00000000"           // pad
                                                    "000000000000f83f"); // 1.5
    EXPECT_EQ(log.splData().toHex(), expected.toHex());
    const auto back = KOSPLLog::decodeRecords(expected + QByteArray("\x01\x02\x03", 3));
    ASSERT_EQ(back.size(), 1u); // the part record at the end is not a record
    EXPECT_EQ(back[0].time, 1.5);
    EXPECT_EQ(back[0].avg, -2.0f);
}

TEST(SplLogRecords, CodesOutsideTheMetersOnesAreRefusedAndChangeNothing) {
    KOSPLLog log;
    ASSERT_TRUE(log.setSpeed(kFast));
    ASSERT_TRUE(log.setWeight(kC));
    for (std::uint32_t code : {0u, 1u, 0x6578706fu /* 'expo' */, kA + 1}) {
        SCOPED_TRACE(code);
        EXPECT_FALSE(log.setSpeed(code));
        EXPECT_FALSE(log.setWeight(code));
        EXPECT_EQ(log.speed(), kFast);
        EXPECT_EQ(log.weight(), kC);
    }
    EXPECT_FALSE(log.setSpeed(kA));
    EXPECT_FALSE(log.setWeight(kSlow));
}

// Logs read back as written in every locale, with the keys and types other readers expect; an
// empty log has no start date.
TEST_F(SplLogStore, LogsReadBackAsTheyWereWrittenInEveryLocale) {
    for (const char* locale : {"C", "de_DE.UTF-8"}) {
        SCOPED_TRACE(locale);
        ScopedLocale scoped(locale);
        if (!scoped.active())
            GTEST_SKIP() << locale << " is not available";
        QFile::remove(storePath());
        const auto first = makeLog(QStringLiteral("Bühne 1, 20:00 <Probe> & \"Soundcheck\""), 125);
        const auto second = makeLog(QStringLiteral("empty"), 0, kC, kFast);
        {
            KOSPLLogStore store(folder());
            store.addLog(first);
            store.addLog(second);
            ASSERT_TRUE(store.waitUntilSaved());
        }
        KOSPLLogStore store(folder());
        const auto logs = store.logs();
        ASSERT_EQ(logs.size(), 2u);
        EXPECT_EQ(logs[0]->name(), first->name());
        EXPECT_EQ(logs[0]->weight(), kA);
        EXPECT_EQ(logs[0]->speed(), kSlow);
        expectSameRecords(*logs[0], *first);
        EXPECT_EQ(logs[1]->name(), QStringLiteral("empty"));
        EXPECT_EQ(logs[1]->weight(), kC);
        EXPECT_EQ(logs[1]->speed(), kFast);
        EXPECT_EQ(logs[1]->length(), 0u);

        const auto read = PropertyList::read(storePath());
        ASSERT_TRUE(read.ok()) << read.error.toStdString();
        const QVariantList entries = read.value.toMap().value(QStringLiteral("SplLogs")).toList();
        ASSERT_EQ(entries.size(), 2);
        const QVariantMap entry = entries[0].toMap();
        EXPECT_EQ(entry.value(QStringLiteral("SplLog.splData")).toByteArray(), first->splData());
        EXPECT_EQ(entry.value(QStringLiteral("SplLog.splData")).toByteArray().size(), 125 * 24);
        EXPECT_EQ(entry.value(QStringLiteral("SplLog.Speed")).toULongLong(), kSlow);
        EXPECT_EQ(entry.value(QStringLiteral("SplLog.Weight")).toULongLong(), kA);
        EXPECT_EQ(entry.value(QStringLiteral("SplLog.startDate")).toDateTime().toSecsSinceEpoch(),
                  first->startDate().toSecsSinceEpoch());
        EXPECT_FALSE(entries[1].toMap().contains(QStringLiteral("SplLog.startDate")));
    }
}

// Deleting rewrites the store: a deleted log stays deleted at the next start, even when no log
// was added after it.
TEST_F(SplLogStore, ADeletedLogStaysDeletedAfterARestart) {
    {
        KOSPLLogStore store(folder());
        for (const char* name : {"one", "two", "three"})
            store.addLog(makeLog(QString::fromLatin1(name), 3));
    }
    {
        KOSPLLogStore store(folder());
        ASSERT_EQ(store.countOfLogs(), 3);
        store.removeLog(store.logs()[1]);
        EXPECT_TRUE(store.waitUntilSaved());
    }
    {
        KOSPLLogStore store(folder());
        const auto logs = store.logs();
        ASSERT_EQ(logs.size(), 2u);
        EXPECT_EQ(logs[0]->name(), QStringLiteral("one"));
        EXPECT_EQ(logs[1]->name(), QStringLiteral("three"));
        store.removeLogsAtIndexes({0, 1, 7, -1});
        EXPECT_TRUE(store.waitUntilSaved());
    }
    EXPECT_EQ(KOSPLLogStore(folder()).countOfLogs(), 0);
}

// Entries with a missing or wrong code are skipped with a log line; the rest loads.
TEST_F(SplLogStore, EntriesWithBadCodesAreSkippedAndTheRestLoads) {
    const QVariantMap good = makeLog(QStringLiteral("good"), 2)->dictionaryRepresentation();
    struct Case {
        const char* what;
        const char* key;
        QVariant value;
    };
    const Case cases[] = {
        {"weight 0", "SplLog.Weight", 0},
        {"speed missing", "SplLog.Speed", QVariant()},
        {"speed 'expo'", "SplLog.Speed", qulonglong(0x6578706f)},
        {"weight as text", "SplLog.Weight", QStringLiteral("a_wt")},
        {"weight negative", "SplLog.Weight", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QVariantMap bad = good;
        if (c.value.isValid())
            bad.insert(QString::fromLatin1(c.key), c.value);
        else
            bad.remove(QString::fromLatin1(c.key));
        ASSERT_TRUE(PropertyList::write(
            storePath(), QVariantMap{{QStringLiteral("SplLogs"), QVariantList{bad, good}}},
            PlistFormat::Xml));
        LogCapture capture;
        KOSPLLogStore store(folder());
        ASSERT_EQ(store.countOfLogs(), 1);
        EXPECT_EQ(store.logs()[0]->name(), QStringLiteral("good"));
        EXPECT_EQ(capture.count("stored SPL log 0 was skipped"), 1);
        EXPECT_FALSE(QFileInfo::exists(asidePath()));
    }
}

// A store cut short keeps every whole record before the cut, says so, and is kept aside so the
// next save cannot destroy what was not read.
TEST_F(SplLogStore, ATruncatedStoreLoadsEveryWholeRecordBeforeTheDamage) {
    const auto first = makeLog(QStringLiteral("first"), 40);
    const auto second = makeLog(QStringLiteral("second"), 500, kC, kFast);
    {
        KOSPLLogStore store(folder());
        store.addLog(first);
        store.addLog(second);
    }
    const QByteArray whole = contents(storePath());
    // Cut inside the second log's records, at every offset in a few base64 quadruples so each
    // kind of partial record and partial quadruple is met.
    const qsizetype dataStart = whole.lastIndexOf("<data>") + 6;
    for (qsizetype cut = dataStart + 1000; cut < dataStart + 1040; ++cut) {
        SCOPED_TRACE(cut);
        QFile::remove(asidePath());
        writeBytes(storePath(), whole.left(cut));
        LogCapture capture;
        KOSPLLogStore store(folder());
        const auto logs = store.logs();
        ASSERT_EQ(logs.size(), 2u);
        expectSameRecords(*logs[0], *first);
        EXPECT_EQ(logs[1]->name(), QStringLiteral("second"));
        EXPECT_EQ(logs[1]->speed(), kFast);
        const std::uint64_t kept = logs[1]->length();
        EXPECT_GT(kept, 0u);
        EXPECT_LT(kept, 500u);
        for (std::uint64_t i = 0; i < kept; ++i) {
            EXPECT_EQ(logs[1]->recordAtIndex(i).spl, second->recordAtIndex(i).spl);
            EXPECT_EQ(logs[1]->recordAtIndex(i).time, second->recordAtIndex(i).time);
        }
        EXPECT_EQ(capture.count("is unreadable"), 1);
        EXPECT_EQ(contents(asidePath()), whole.left(cut));
        EXPECT_FALSE(QFileInfo::exists(storePath()));
    }
}

// Stores that cannot be read at all are kept aside; the list starts empty and the next save
// leaves the kept file alone.
TEST_F(SplLogStore, AnUnreadableStoreIsKeptAside) {
    const QByteArray goodEntry = PropertyList::serialize(
        QVariantMap{
            {QStringLiteral("SplLogs"), QVariantList{makeLog("x", 3)->dictionaryRepresentation()}}},
        PlistFormat::Binary);
    const std::pair<const char*, QByteArray> cases[] = {
        {"not a property list", QByteArray("this is not a store\n")},
        {"an array at the root", PropertyList::serialize(QVariantList{1, 2}, PlistFormat::Xml)},
        {"no log array",
         PropertyList::serialize(QVariantMap{{QStringLiteral("SplLogs"), 3}}, PlistFormat::Xml)},
        {"a binary store cut short", goodEntry.left(goodEntry.size() - 10)},
    };
    for (const auto& [what, bytes] : cases) {
        SCOPED_TRACE(what);
        QFile::remove(asidePath());
        writeBytes(storePath(), bytes);
        LogCapture capture;
        KOSPLLogStore store(folder());
        EXPECT_EQ(store.countOfLogs(), 0);
        EXPECT_EQ(capture.count("is unreadable"), 1);
        EXPECT_EQ(contents(asidePath()), bytes);
        store.addLog(makeLog(QStringLiteral("new"), 1));
        ASSERT_TRUE(store.waitUntilSaved());
        EXPECT_EQ(contents(asidePath()), bytes);
        EXPECT_EQ(KOSPLLogStore(folder()).countOfLogs(), 1);
        QFile::remove(storePath());
    }
}

// A store that cannot be written says so, in the log and to whoever waits for it; the list keeps
// the log.
TEST_F(SplLogStore, AFailedWriteIsLoggedAndAnswered) {
    writeBytes(QDir(folder()).filePath(QStringLiteral("file")), "not a folder");
    KOSPLLogStore store(QDir(folder()).filePath(QStringLiteral("file/sub")));
    LogCapture capture;
    store.addLog(makeLog(QStringLiteral("kept in memory"), 2));
    EXPECT_FALSE(store.waitUntilSaved());
    EXPECT_EQ(capture.count("could not be saved"), 1);
    EXPECT_EQ(store.countOfLogs(), 1);
    EXPECT_TRUE(store.waitUntilSaved()); // answered once
}

// The program's store loads on its writer thread: the list fills in with the stored logs,
// announced once, ahead of a log added meanwhile, and a rewrite asked for during the load never
// writes the partial list over the stored logs.
TEST_F(SplLogStore, ABackgroundLoadKeepsTheStoredLogsAheadOfLogsAddedMeanwhile) {
    {
        KOSPLLogStore store(folder());
        // Long enough that the add below comes while the load still runs.
        store.addLog(makeLog(QStringLiteral("stored long"), 20000));
        store.addLog(makeLog(QStringLiteral("stored short"), 3));
    }
    std::atomic<int> announced{0};
    {
        KOSPLLogStore store(folder(), KOSPLLogStore::Loading::InBackground);
        QObject::connect(&store, &KOSPLLogStore::logsChanged, [&announced] { ++announced; });
        store.addLog(makeLog(QStringLiteral("added"), 2));
        store.waitUntilLoaded();
        EXPECT_TRUE(store.isLoaded());
        const auto logs = store.logs();
        ASSERT_EQ(logs.size(), 3u);
        EXPECT_EQ(logs[0]->name(), QStringLiteral("stored long"));
        EXPECT_EQ(logs[0]->length(), 20000u);
        EXPECT_EQ(logs[1]->name(), QStringLiteral("stored short"));
        EXPECT_EQ(logs[2]->name(), QStringLiteral("added"));
        EXPECT_TRUE(store.waitUntilSaved());
        // One for the add, one for the load.
        EXPECT_EQ(announced.load(), 2);
    }
    const auto after = KOSPLLogStore(folder()).logs();
    ASSERT_EQ(after.size(), 3u);
    EXPECT_EQ(after[0]->length(), 20000u);
    EXPECT_EQ(after[2]->name(), QStringLiteral("added"));
}

// Removing by identity takes exactly the logs named, wherever the load put them.
TEST_F(SplLogStore, LogsAreRemovedByIdentity) {
    KOSPLLogStore store(folder());
    const auto a = makeLog(QStringLiteral("a"), 2);
    const auto b = makeLog(QStringLiteral("b"), 2);
    const auto c = makeLog(QStringLiteral("c"), 2);
    for (const auto& log : {a, b, c})
        store.addLog(log);
    store.removeLogs({c, a, makeLog(QStringLiteral("stranger"), 1)});
    ASSERT_EQ(store.logs(), std::vector<KOSPLLogStore::Log>{b});
    ASSERT_TRUE(store.waitUntilSaved());
    const auto after = KOSPLLogStore(folder()).logs();
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0]->name(), QStringLiteral("b"));
}
