#include "app/LogCapture.h"
#include "platform/archive/KeyedArchive.h"
#include "platform/plist/PropertyList.h"
#include "spl/KOCalibrationStore.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using koru::platform::PlistFormat;
using koru::platform::PropertyList;
using koru::test::LogCapture;
using koru::test::ScopedLocale;
using Calibration = KOCalibrationStore::Calibration;

namespace {

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// Everything a calibration carries, the menu name as shown.
void expectSame(const KOCalibrationDictionary& read, const KOCalibrationDictionary& written) {
    EXPECT_EQ(read.calibrationValue(), written.calibrationValue());
    EXPECT_EQ(read.identifier(), written.identifier());
    EXPECT_EQ(read.audioDeviceName(), written.audioDeviceName());
    EXPECT_EQ(read.deviceUUID(), written.deviceUUID());
    EXPECT_EQ(read.notes(), written.notes());
    EXPECT_EQ(read.timestamp().toMSecsSinceEpoch(), written.timestamp().toMSecsSinceEpoch());
    EXPECT_EQ(read.menuName(), written.menuName());
}

QVariantMap legacyElement(const QVariant& value, const QString& device) {
    return {{KOCalibrationDictionary::kValueKey, value},
            {KOCalibrationDictionary::kDeviceNameKey, device},
            {KOCalibrationDictionary::kDeviceUUIDKey, QStringLiteral("uid-") + device},
            {KOCalibrationDictionary::kNotesKey, QStringLiteral("from the old store")},
            {KOCalibrationDictionary::kIdentifierKey, QStringLiteral("ID-") + device},
            {KOCalibrationDictionary::kTimestampKey,
             QDateTime(QDate(2021, 3, 4), QTime(5, 6, 7), Qt::UTC)}};
}

class CalibrationStore : public ::testing::Test {
protected:
    QString folder() const { return mFolder.path(); }
    QString storePath() const {
        return QDir(folder()).filePath(QString::fromLatin1(KOCalibrationStore::kFileName));
    }
    QString legacyPath() const {
        return QDir(folder()).filePath(QString::fromLatin1(KOCalibrationStore::kLegacyFileName));
    }

    QTemporaryDir mFolder;
};

// What is saved reads back the same, whatever decimal mark the locale uses; a computed menu
// name is stored and stays as it was written.
TEST_F(CalibrationStore, CalibrationsReadBackAsTheyWereSavedInEveryLocale) {
    for (const char* locale : {"C", "de_DE.UTF-8"}) {
        SCOPED_TRACE(locale);
        ScopedLocale scoped(locale);
        if (!scoped.active())
            GTEST_SKIP() << locale << " is not available";
        QFile::remove(storePath());
        std::vector<Calibration> written;
        {
            KOCalibrationStore store(folder());
            written.push_back(store.addCalibration(94.375f, QStringLiteral("Scarlett 2i2"),
                                                   QStringLiteral("alsa:usb-Focusrite-00"),
                                                   QStringLiteral("Mikrofon MM1, Gain 3,5 dB")));
            written.push_back(store.addCalibration(121.5f, QStringLiteral("Virtual"), QString(),
                                                   QStringLiteral("No information given.")));
            auto named = KOCalibrationDictionary::dictionaryWithCalibrationValue(
                100.25f, QStringLiteral("Studio"), QStringLiteral("uid-3"), QString());
            named->setMenuName(QStringLiteral("Studio, Rack 2"));
            store.insertObjectInCalibrationsAtIndex(named, 0);
            written.insert(written.begin(), named);
        }
        ASSERT_TRUE(QFile::exists(storePath()));
        KOCalibrationStore reread(folder());
        const auto read = reread.calibrations();
        ASSERT_EQ(read.size(), written.size());
        for (std::size_t i = 0; i < read.size(); ++i) {
            SCOPED_TRACE(i);
            expectSame(*read[i], *written[i]);
            EXPECT_TRUE(read[i]->hasStoredMenuName());
        }
        EXPECT_TRUE(read[1]->menuName().startsWith(QStringLiteral("Scarlett 2i2 - ")));
    }
}

TEST_F(CalibrationStore, RemovingSavesAtOnceAndIgnoresIndicesOutOfRange) {
    KOCalibrationStore store(folder());
    for (float value : {90.0f, 91.0f, 92.0f, 93.0f})
        store.addCalibration(value, QStringLiteral("Device"), QString(), QString());
    store.removeCalibrationsAtIndexes({3, 1, 7, -1, 1});
    KOCalibrationStore reread(folder());
    ASSERT_EQ(reread.countOfCalibrations(), 2);
    EXPECT_EQ(reread.objectInCalibrationsAtIndex(0)->calibrationValue(), 90.0f);
    EXPECT_EQ(reread.objectInCalibrationsAtIndex(1)->calibrationValue(), 92.0f);
    EXPECT_EQ(reread.objectInCalibrationsAtIndex(2), nullptr);
}

// The older store's usable calibrations join the list behind the current ones; the old file
// goes only after the new store holding them has been written.
TEST_F(CalibrationStore, TheOlderStoreIsMigratedIntoTheNewOneBeforeItIsRemoved) {
    {
        KOCalibrationStore store(folder());
        store.addCalibration(88.0f, QStringLiteral("Current"), QString(), QString());
    }
    const QVariantList elements{legacyElement(97.5, QStringLiteral("Old")),
                                legacyElement(QStringLiteral("97.5"), QStringLiteral("Text")),
                                legacyElement(500.0, QStringLiteral("Absurd")),
                                QStringLiteral("not a dictionary"),
                                legacyElement(104, QStringLiteral("Whole"))};
    ASSERT_TRUE(PropertyList::write(legacyPath(),
                                    QVariantMap{{KOCalibrationStore::kLegacyArrayKey, elements}},
                                    PlistFormat::Xml));
    LogCapture log;
    {
        KOCalibrationStore store(folder());
        EXPECT_EQ(store.countOfCalibrations(), 3);
    }
    EXPECT_FALSE(QFile::exists(legacyPath()));
    EXPECT_EQ(log.count("an older calibration was skipped"), 3);

    KOCalibrationStore reread(folder());
    const auto read = reread.calibrations();
    ASSERT_EQ(read.size(), 3u);
    EXPECT_EQ(read[0]->audioDeviceName(), "Current");
    EXPECT_EQ(read[1]->audioDeviceName(), "Old");
    EXPECT_EQ(read[1]->calibrationValue(), 97.5f);
    EXPECT_EQ(read[1]->identifier(), "ID-Old");
    EXPECT_EQ(read[1]->deviceUUID(), "uid-Old");
    EXPECT_EQ(read[1]->timestamp(), QDateTime(QDate(2021, 3, 4), QTime(5, 6, 7), Qt::UTC));
    EXPECT_EQ(read[2]->audioDeviceName(), "Whole");
    EXPECT_EQ(read[2]->calibrationValue(), 104.0f);
}

// A disk that refuses the new store must not cost the old one.
TEST_F(CalibrationStore, AFailedMigrationKeepsTheOlderStore) {
    ASSERT_TRUE(
        PropertyList::write(legacyPath(),
                            QVariantMap{{KOCalibrationStore::kLegacyArrayKey,
                                         QVariantList{legacyElement(97.5, QStringLiteral("Old"))}}},
                            PlistFormat::Xml));
    const QByteArray legacy = contents(legacyPath());
    LogCapture log;
    {
        koru::test::ScopedFileSizeLimit limit(16);
        if (!limit.active())
            GTEST_SKIP() << "no file size limit here";
        KOCalibrationStore store(folder());
        EXPECT_EQ(store.countOfCalibrations(), 0);
    }
    EXPECT_EQ(contents(legacyPath()), legacy);
    EXPECT_FALSE(QFile::exists(storePath()));
    EXPECT_EQ(log.count("could not be saved"), 1);
    EXPECT_EQ(log.count("was kept"), 1);

    KOCalibrationStore retried(folder());
    EXPECT_EQ(retried.countOfCalibrations(), 1);
    EXPECT_FALSE(QFile::exists(legacyPath()));
}

// An unreadable store is set aside untouched, so the next save cannot destroy it; the meters
// start from an empty list.
TEST_F(CalibrationStore, AnUnreadableStoreIsKeptAsideAndTheListStartsEmpty) {
    QByteArray valid;
    {
        KOCalibrationStore store(folder());
        store.addCalibration(94.0f, QStringLiteral("Device"), QString(), QString());
        valid = contents(storePath());
    }
    const struct {
        const char* what;
        QByteArray bytes;
    } cases[] = {
        {"garbage", QByteArray("this is no property list")},
        {"cut off", valid.left(valid.size() / 2)},
        {"dictionary root",
         PropertyList::serialize(QVariantMap{{"calibration", 1}}, PlistFormat::Binary)},
        {"empty", QByteArray()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(folder()).removeRecursively();
        QDir().mkpath(folder());
        writeBytes(storePath(), c.bytes);
        LogCapture log;
        KOCalibrationStore store(folder());
        EXPECT_EQ(store.countOfCalibrations(), 0);
        EXPECT_EQ(log.count("is unreadable"), 1);
        EXPECT_FALSE(QFile::exists(storePath()));
        EXPECT_EQ(contents(storePath() + ".unreadable"), c.bytes);
        store.addCalibration(90.0f, QStringLiteral("New"), QString(), QString());
        EXPECT_EQ(contents(storePath() + ".unreadable"), c.bytes);
        EXPECT_EQ(KOCalibrationStore(folder()).countOfCalibrations(), 1);
    }
}

// Damaged entries of a readable store are skipped one by one; the others stay.
TEST_F(CalibrationStore, DamagedEntriesAreSkippedAndTheRestLoads) {
    {
        KOCalibrationStore store(folder());
        store.addCalibration(94.0f, QStringLiteral("Good"), QString(), QString());
    }
    QVariantList root = PropertyList::read(storePath()).value.toList();
    ASSERT_EQ(root.size(), 1);
    QVariantMap badValue = root[0].toMap();
    badValue.insert(KOCalibrationDictionary::kValueKey, std::nan(""));
    QVariantMap badTypes = root[0].toMap();
    badTypes.insert(KOCalibrationDictionary::kDeviceNameKey, 17);
    badTypes.insert(KOCalibrationDictionary::kTimestampKey, QStringLiteral("yesterday"));
    QVariantMap otherClass = root[0].toMap();
    otherClass.insert(QStringLiteral("$class"), QStringLiteral("NSSomethingElse"));
    root << badValue << badTypes << otherClass << QStringLiteral("text");
    ASSERT_TRUE(PropertyList::write(storePath(), root, PlistFormat::Binary));

    LogCapture log;
    KOCalibrationStore store(folder());
    ASSERT_EQ(store.countOfCalibrations(), 2);
    EXPECT_EQ(store.objectInCalibrationsAtIndex(0)->audioDeviceName(), "Good");
    // Wrongly typed texts and dates fall back; the value is what counts.
    EXPECT_EQ(store.objectInCalibrationsAtIndex(1)->audioDeviceName(), "");
    EXPECT_TRUE(store.objectInCalibrationsAtIndex(1)->timestamp().isValid());
    EXPECT_EQ(log.count("a stored calibration was skipped"), 3);
}

TEST_F(CalibrationStore, AnUnreadableOlderStoreIsKeptAside) {
    writeBytes(legacyPath(), "<plist><dict><key>calibration</key>");
    LogCapture log;
    KOCalibrationStore store(folder());
    EXPECT_EQ(store.countOfCalibrations(), 0);
    EXPECT_EQ(log.count("older calibration store"), 1);
    EXPECT_TRUE(QFile::exists(legacyPath() + ".unreadable"));
    EXPECT_FALSE(QFile::exists(legacyPath()));
}

} // namespace
