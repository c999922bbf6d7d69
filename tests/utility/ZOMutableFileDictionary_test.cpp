#include "UtilityTestSupport.h"

#include "utility/ZOMutableFileDictionary.h"

#include "platform/plist/PropertyList.h"

#include <QDir>
#include <QFile>

namespace {

using koru::platform::PropertyList;

class ZOMutableFileDictionaryTest : public koru::test::LocaleTest {
protected:
    void SetUp() override {
        LocaleTest::SetUp();
        const QString folder = koru::test::testRoot() + "/filedict-" +
                               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        QDir(folder).removeRecursively();
        QDir().mkpath(folder);
        path = folder + "/settings.plist";
    }

    QVariantMap onDisk() const { return PropertyList::read(path).value.toMap(); }

    QString path;
};

TEST_P(ZOMutableFileDictionaryTest, SettingAnEntryOfAMissingFileCreatesIt) {
    ZOMutableFileDictionary dict(path);
    EXPECT_EQ(dict.count(), 0);
    dict.setObject(0.5, "gain");
    ASSERT_TRUE(QFile::exists(path));
    EXPECT_EQ(onDisk(), (QVariantMap{{"gain", 0.5}}));

    ZOMutableFileDictionary reopened(path);
    EXPECT_DOUBLE_EQ(reopened.objectForKey("gain").toDouble(), 0.5);
}

TEST_P(ZOMutableFileDictionaryTest, RemovalsReachTheFile) {
    ZOMutableFileDictionary dict(path);
    dict.setObject(1, "a");
    dict.setObject(2, "b");
    dict.removeObjectForKey("a");
    EXPECT_EQ(ZOMutableFileDictionary(path).dictionary(), (QVariantMap{{"b", 2}}));
    dict.removeAllObjects();
    EXPECT_EQ(ZOMutableFileDictionary(path).count(), 0);
}

TEST_P(ZOMutableFileDictionaryTest, TheDelegateHearsOfEachSetAfterTheWrite) {
    ZOMutableFileDictionary dict(path);
    QStringList heard;
    dict.setDelegate([&](ZOMutableFileDictionary& changed, const QString& key) {
        EXPECT_EQ(&changed, &dict);
        EXPECT_TRUE(onDisk().contains(key));
        heard << key;
    });
    dict.setObject("x", "first");
    dict.setObject("y", "second");
    EXPECT_EQ(heard, (QStringList{"first", "second"}));
}

TEST_P(ZOMutableFileDictionaryTest, AFileWithoutADictionaryStartsEmpty) {
    ASSERT_TRUE(PropertyList::write(path, QVariantList{1, 2}, koru::platform::PlistFormat::Xml));
    EXPECT_EQ(ZOMutableFileDictionary(path).count(), 0);
    QFile garbage(path);
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write("not a property list");
    garbage.close();
    EXPECT_EQ(ZOMutableFileDictionary(path).count(), 0);
}

TEST_P(ZOMutableFileDictionaryTest, AFailedWriteIsReportedAndMemoryKept) {
    QFile blocker(QFileInfo(path).path() + "/blocker");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    ZOMutableFileDictionary dict(blocker.fileName() + "/inside.plist");
    dict.setObject(3, "kept");
    EXPECT_EQ(dict.objectForKey("kept").toInt(), 3);
    EXPECT_FALSE(dict.triggerChange());
}

INSTANTIATE_TEST_SUITE_P(Locales, ZOMutableFileDictionaryTest, koru::test::kLocales,
                         koru::test::localeName);

TEST(ZOMutableDictionary, KeepsItsEntries) {
    ZOMutableDictionary dict;
    dict.setObject(1, "one");
    dict.setObject(2, "two");
    dict.removeObjectForKey("one");
    EXPECT_EQ(dict.count(), 1);
    EXPECT_EQ(dict.allKeys(), QStringList{"two"});
    EXPECT_FALSE(dict.objectForKey("one").isValid());
}

} // namespace
