#include "platform/defaults/UserDefaults.h"

#include "platform/paths/Paths.h"
#include "platform/plist/PropertyList.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPoint>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <limits>
#include <thread>

using koru::platform::PlistFormat;
using koru::platform::PropertyList;
using koru::platform::UserDefaults;

namespace {

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

class UserDefaultsTest : public ::testing::Test {
protected:
    QString path() const { return m_dir.filePath("KORU/defaults.plist"); }

    QTemporaryDir m_dir{koru::test::testRoot() + "/defaults-XXXXXX"};
};

TEST_F(UserDefaultsTest, ValuesSurviveARestart) {
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(1700000000000, QTimeZone::utc());
    {
        UserDefaults defaults(path());
        defaults.setBool("flag", true);
        defaults.setInteger("count", -42);
        defaults.setDouble("gain", 0.1);
        defaults.setString("name", "Mikrofon ü");
        defaults.setObject("blob", QByteArray("\0\1", 2));
        defaults.setObject("map", QVariantMap{{"a", 1}});
        defaults.setObject("list", QVariantList{1, "two"});
        defaults.setObject("when", when);
        defaults.setString("gone", "x");
        defaults.removeObjectForKey("gone");
        EXPECT_TRUE(defaults.lastError().isEmpty()) << defaults.lastError().toStdString();
    }
    EXPECT_TRUE(fileBytes(path()).startsWith("<?xml")) << "the store is an XML property list";

    const UserDefaults restarted(path());
    EXPECT_TRUE(restarted.boolForKey("flag"));
    EXPECT_EQ(restarted.integerForKey("count"), -42);
    EXPECT_EQ(restarted.doubleForKey("gain"), 0.1);
    EXPECT_EQ(restarted.stringForKey("name"), "Mikrofon ü");
    EXPECT_EQ(restarted.dataForKey("blob"), QByteArray("\0\1", 2));
    EXPECT_EQ(restarted.dictionaryForKey("map").value("a").toInt(), 1);
    EXPECT_EQ(restarted.arrayForKey("list").value(1).toString(), "two");
    EXPECT_EQ(restarted.objectForKey("when").toDateTime(), when);
    EXPECT_FALSE(restarted.objectForKey("gone").isValid());
}

TEST_F(UserDefaultsTest, ReloadSeesAnotherWriter) {
    UserDefaults first(path());
    UserDefaults second(path());
    first.setDouble("level", -3.5);
    EXPECT_FALSE(second.objectForKey("level").isValid());
    second.reload();
    EXPECT_EQ(second.doubleForKey("level"), -3.5);
}

TEST_F(UserDefaultsTest, RealsSurviveUnderDecimalCommaLocale) {
    const koru::test::ScopedLocale locale("de_DE.UTF-8");
    if (!locale.active())
        GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    UserDefaults defaults(path());
    defaults.setDouble("a", 0.1);
    defaults.setDouble("b", 1e-30);
    defaults.setObject("c", QVariant::fromValue(-3.5f));
    defaults.setString("text", "2.75");
    defaults.reload();
    EXPECT_EQ(defaults.doubleForKey("a"), 0.1);
    EXPECT_EQ(defaults.doubleForKey("b"), 1e-30);
    EXPECT_EQ(defaults.floatForKey("c"), -3.5f);
    EXPECT_EQ(defaults.doubleForKey("text"), 2.75);
}

TEST_F(UserDefaultsTest, RegisteredDefaultsAnswerUntilSetAndAreNotStored) {
    UserDefaults defaults(path());
    defaults.registerDefaults({{"rate", 48000}, {"mode", "fast"}});
    defaults.registerDefaults({{"mode", "slow"}}); // a later registration wins, others stay
    EXPECT_EQ(defaults.integerForKey("rate"), 48000);
    EXPECT_EQ(defaults.stringForKey("mode"), "slow");

    defaults.setInteger("rate", 44100);
    EXPECT_EQ(defaults.integerForKey("rate"), 44100);
    defaults.removeObjectForKey("rate");
    EXPECT_EQ(defaults.integerForKey("rate"), 48000);

    defaults.setBool("other", true);
    const QVariantMap stored = PropertyList::read(path()).value.toMap();
    EXPECT_EQ(stored.keys(), QStringList{"other"});
}

TEST_F(UserDefaultsTest, TypedReadsConvertOrFallBackToZero) {
    struct Case {
        const char* name;
        QVariant stored;
        bool asBool;
        qint64 asInteger;
        double asDouble;
        QString asString;
    };
    const Case cases[] = {
        {"absent", QVariant(), false, 0, 0.0, QString()},
        {"bool true", true, true, 1, 1.0, "1"},
        {"int zero", 0, false, 0, 0.0, "0"},
        {"negative int", -7, true, -7, -7.0, "-7"},
        {"huge unsigned", QVariant::fromValue(std::numeric_limits<quint64>::max()), true,
         std::numeric_limits<qint64>::max(), 18446744073709551615.0, "18446744073709551615"},
        {"real", 2.9, true, 2, 2.9, "2.9"},
        {"negative real", -2.9, true, -2, -2.9, "-2.9"},
        {"huge real", 1e300, true, std::numeric_limits<qint64>::max(), 1e300, "1e+300"},
        {"integer text", "12", true, 12, 12.0, "12"},
        {"real text", " 3.75 ", true, 3, 3.75, " 3.75 "},
        {"yes text", "YES", true, 0, 0.0, "YES"},
        {"word text", "loud", false, 0, 0.0, "loud"},
        {"data", QByteArray("5"), false, 0, 0.0, QString()},
        {"dictionary", QVariantMap{{"a", 1}}, false, 0, 0.0, QString()},
        {"array", QVariantList{1}, false, 0, 0.0, QString()},
    };
    UserDefaults defaults(path());
    for (const Case& c : cases) {
        if (c.stored.isValid())
            defaults.setObject(c.name, c.stored);
    }
    defaults.reload(); // read what the file gives back, not what was handed in
    for (const Case& c : cases) {
        EXPECT_EQ(defaults.boolForKey(c.name), c.asBool) << c.name;
        EXPECT_EQ(defaults.integerForKey(c.name), c.asInteger) << c.name;
        EXPECT_DOUBLE_EQ(defaults.doubleForKey(c.name), c.asDouble) << c.name;
        EXPECT_EQ(defaults.floatForKey(c.name), static_cast<float>(c.asDouble)) << c.name;
        EXPECT_EQ(defaults.stringForKey(c.name), c.asString) << c.name;
    }
    EXPECT_TRUE(defaults.dataForKey("real text").isEmpty());
    EXPECT_TRUE(defaults.dictionaryForKey("array").isEmpty());
    EXPECT_TRUE(defaults.arrayForKey("dictionary").isEmpty());
    EXPECT_EQ(defaults.dataForKey("data"), "5");
}

TEST_F(UserDefaultsTest, UnsupportedValueIsRefusedAndFileKept) {
    UserDefaults defaults(path());
    defaults.setInteger("kept", 1);
    const QByteArray before = fileBytes(path());
    defaults.setObject("point", QPoint(3, 4));
    EXPECT_TRUE(defaults.lastError().contains("point")) << defaults.lastError().toStdString();
    EXPECT_FALSE(defaults.objectForKey("point").isValid());
    EXPECT_EQ(fileBytes(path()), before);
    defaults.setObject("kept", QVariant()); // setting nothing removes the key
    EXPECT_FALSE(defaults.objectForKey("kept").isValid());
}

TEST_F(UserDefaultsTest, UnreadableFileIsKeptAsideNotOverwritten) {
    struct Case {
        const char* name;
        QByteArray contents;
    };
    const Case cases[] = {
        {"garbage", QByteArray("\x01\x02not a plist")},
        {"truncated", PropertyList::serialize(QVariantMap{{"a", 1}}, PlistFormat::Xml).left(60)},
        {"not a dictionary", PropertyList::serialize(QVariantList{1}, PlistFormat::Xml)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(m_dir.path()).removeRecursively();
        writeBytes(path(), c.contents);

        UserDefaults defaults(path());
        EXPECT_FALSE(defaults.lastError().isEmpty());
        EXPECT_EQ(fileBytes(path() + ".unreadable"), c.contents);
        EXPECT_FALSE(QFile::exists(path()));

        defaults.setString("fresh", "start");
        EXPECT_EQ(UserDefaults(path()).stringForKey("fresh"), "start");
        EXPECT_EQ(fileBytes(path() + ".unreadable"), c.contents);
    }
    // A second bad file does not replace the first one kept aside.
    writeBytes(path(), "second bad file");
    const UserDefaults again(path());
    EXPECT_EQ(fileBytes(path() + ".unreadable.2"), "second bad file");
    EXPECT_EQ(fileBytes(path() + ".unreadable"), cases[2].contents);
}

TEST_F(UserDefaultsTest, ConcurrentWritersLoseNothing) {
    constexpr int threadCount = 4;
    constexpr int keysPerThread = 20;
    UserDefaults defaults(path());
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([t, &defaults] {
            for (int i = 0; i < keysPerThread; ++i) {
                const QString key = QStringLiteral("t%1.k%2").arg(t).arg(i);
                defaults.setInteger(key, t * 1000 + i);
                defaults.setInteger("shared", i);
                (void)defaults.integerForKey(
                    QStringLiteral("t%1.k%2").arg((t + 1) % threadCount).arg(i));
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_TRUE(defaults.lastError().isEmpty()) << defaults.lastError().toStdString();

    const UserDefaults restarted(path());
    for (int t = 0; t < threadCount; ++t) {
        for (int i = 0; i < keysPerThread; ++i) {
            const QString key = QStringLiteral("t%1.k%2").arg(t).arg(i);
            EXPECT_EQ(restarted.integerForKey(key), t * 1000 + i) << key.toStdString();
        }
    }
    EXPECT_EQ(restarted.integerForKey("shared"), keysPerThread - 1);
    EXPECT_EQ(QDir(QFileInfo(path()).absolutePath()).entryList(QDir::Files | QDir::Hidden),
              QStringList{"defaults.plist"});
}

TEST(StandardUserDefaults, LivesInTheXdgConfigFolder) {
    UserDefaults& shared = UserDefaults::standardUserDefaults();
    EXPECT_EQ(&shared, &UserDefaults::standardUserDefaults());
    EXPECT_EQ(shared.path(), qEnvironmentVariable("XDG_CONFIG_HOME") + "/KORU/defaults.plist");
    shared.setBool("standardTest", true);
    EXPECT_TRUE(QFile::exists(koru::platform::configDirectory() + "/defaults.plist"));
    shared.removeObjectForKey("standardTest");
}

} // namespace
