#include "platform/plist/PropertyList.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QPoint>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <memory>

#include <cmath>
#include <limits>
#include <optional>

using koru::platform::PlistFormat;
using koru::platform::PlistReadResult;
using koru::platform::PropertyList;

namespace {

QDateTime utc(int year, int month, int day, int h, int m, int s, int ms) {
    return QDateTime(QDate(year, month, day), QTime(h, m, s, ms), QTimeZone::utc());
}

// Whole seconds, rounded down in time: what the XML form keeps of a date.
QDateTime toWholeSeconds(const QDateTime& date) {
    const qint64 ms = date.toMSecsSinceEpoch();
    const qint64 floored = ms >= 0 ? ms / 1000 * 1000 : -((-ms + 999) / 1000) * 1000;
    return QDateTime::fromMSecsSinceEpoch(floored, QTimeZone::utc());
}

const QList<QDateTime>& sampleDates() {
    static const QList<QDateTime> dates{
        utc(2001, 1, 1, 0, 0, 0, 0),        utc(2023, 5, 6, 7, 8, 9, 123),
        utc(2000, 12, 31, 23, 59, 59, 500), // within the second before the reference date
        utc(1999, 12, 31, 23, 59, 58, 250), utc(1950, 6, 1, 12, 0, 0, 1),
        utc(2068, 1, 1, 0, 0, 0, 999)};
    return dates;
}

QByteArray allBytes() {
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(static_cast<char>(i));
    return bytes;
}

// Every kind of value, in the types a caller might hand in.
QVariantMap sampleTree() {
    QVariantList dates;
    for (const QDateTime& date : sampleDates())
        dates.append(date);
    return {
        {"string", QStringLiteral("Grüße € 日本 <&> \"quoted\" 'single'")},
        {"empty string", QString("")},
        {"int", 42},
        {"zero", 0},
        {"negative", -5},
        {"int64 min", QVariant::fromValue(std::numeric_limits<qint64>::min())},
        {"int64 max", QVariant::fromValue(std::numeric_limits<qint64>::max())},
        {"uint32 max", QVariant::fromValue(std::numeric_limits<quint32>::max())},
        {"uint64 max", QVariant::fromValue(std::numeric_limits<quint64>::max())},
        {"uint64 2^63", QVariant::fromValue(quint64(1) << 63)},
        {"reals", QVariantList{0.1, 1e-30, -3.5, 1e300, 5e-324, 0.0, 1.0 / 3.0,
                               std::numeric_limits<double>::infinity()}},
        {"float", QVariant::fromValue(0.1f)},
        {"true", true},
        {"false", false},
        {"data", allBytes()},
        {"empty data", QByteArray()},
        {"dates", dates},
        {"nested", QVariantMap{{"list", QVariantList{1, QStringLiteral("two"),
                                                     QVariantList{QVariantMap{{"deep", 3.25}}}}},
                               {"empty list", QVariantList()},
                               {"empty map", QVariantMap()}}},
        {"strings", QStringList{"a", "b"}},
        {"", QStringLiteral("empty key")},
    };
}

// The same tree as it reads back: integers as qint64 (quint64 above the signed range), reals
// as double, string lists as lists, dates in UTC (whole seconds in XML).
QVariantMap expectedTree(PlistFormat format) {
    QVariantList dates;
    for (const QDateTime& date : sampleDates())
        dates.append(format == PlistFormat::Xml ? toWholeSeconds(date) : date);
    QVariantMap tree = sampleTree();
    tree["int"] = QVariant::fromValue(qint64(42));
    tree["zero"] = QVariant::fromValue(qint64(0));
    tree["negative"] = QVariant::fromValue(qint64(-5));
    tree["uint32 max"] = QVariant::fromValue(qint64(std::numeric_limits<quint32>::max()));
    tree["float"] = double(0.1f);
    tree["dates"] = dates;
    tree["nested"] =
        QVariantMap{{"list", QVariantList{QVariant::fromValue(qint64(1)), QStringLiteral("two"),
                                          QVariantList{QVariantMap{{"deep", 3.25}}}}},
                    {"empty list", QVariantList()},
                    {"empty map", QVariantMap()}};
    tree["strings"] = QVariantList{QStringLiteral("a"), QStringLiteral("b")};
    return tree;
}

void expectSameTree(const QVariant& expected, const QVariant& actual, const QString& where) {
    const std::string place = where.isEmpty() ? "/" : where.toStdString();
    ASSERT_EQ(QString(expected.typeName()), QString(actual.typeName())) << place;
    switch (expected.typeId()) {
    case QMetaType::QVariantMap: {
        const QVariantMap e = expected.toMap();
        const QVariantMap a = actual.toMap();
        EXPECT_EQ(e.keys(), a.keys()) << place;
        for (auto it = e.constBegin(); it != e.constEnd(); ++it)
            expectSameTree(it.value(), a.value(it.key()), where + "/" + it.key());
        return;
    }
    case QMetaType::QVariantList: {
        const QVariantList e = expected.toList();
        const QVariantList a = actual.toList();
        ASSERT_EQ(e.size(), a.size()) << place;
        for (qsizetype i = 0; i < e.size(); ++i)
            expectSameTree(e[i], a[i], where + "/" + QString::number(i));
        return;
    }
    case QMetaType::Double:
        EXPECT_EQ(expected.toDouble(), actual.toDouble()) << place;
        return;
    case QMetaType::QDateTime:
        EXPECT_EQ(expected.toDateTime().toMSecsSinceEpoch(),
                  actual.toDateTime().toMSecsSinceEpoch())
            << place << " expected "
            << expected.toDateTime().toString(Qt::ISODateWithMs).toStdString() << " got "
            << actual.toDateTime().toString(Qt::ISODateWithMs).toStdString();
        return;
    default:
        EXPECT_EQ(expected, actual) << place;
    }
}

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

class PropertyListFiles : public ::testing::Test {
protected:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QStringList entries() const {
        return QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    QTemporaryDir m_dir{koru::test::testRoot() + "/plist-XXXXXX"};
};

struct RoundTripCase {
    PlistFormat format;
    const char* locale; // nullptr: the "C" locale the tests start in
};

void PrintTo(const RoundTripCase& c, std::ostream* os) {
    *os << (c.format == PlistFormat::Xml ? "XML" : "binary") << " in "
        << (c.locale ? c.locale : "C");
}

class PropertyListRoundTrip : public PropertyListFiles,
                              public ::testing::WithParamInterface<RoundTripCase> {};

TEST_P(PropertyListRoundTrip, EveryValueTypeSurvivesFileRoundTrip) {
    std::optional<koru::test::ScopedLocale> locale;
    if (GetParam().locale) {
        locale.emplace(GetParam().locale);
        if (!locale->active())
            GTEST_SKIP() << GetParam().locale << " is not installed";
    }
    const QString file = path("tree.plist");
    QString error;
    ASSERT_TRUE(PropertyList::write(file, sampleTree(), GetParam().format, &error))
        << error.toStdString();

    const QByteArray bytes = fileBytes(file);
    if (GetParam().format == PlistFormat::Binary)
        EXPECT_TRUE(bytes.startsWith("bplist00"));
    else
        EXPECT_TRUE(bytes.startsWith("<?xml"));

    const PlistReadResult read = PropertyList::read(file);
    ASSERT_TRUE(read.ok()) << read.error.toStdString();
    expectSameTree(expectedTree(GetParam().format), read.value, QString());
}

INSTANTIATE_TEST_SUITE_P(Forms, PropertyListRoundTrip,
                         ::testing::Values(RoundTripCase{PlistFormat::Xml, nullptr},
                                           RoundTripCase{PlistFormat::Binary, nullptr},
                                           RoundTripCase{PlistFormat::Xml, "de_DE.UTF-8"},
                                           RoundTripCase{PlistFormat::Binary, "de_DE.UTF-8"}),
                         [](const auto& info) {
                             return std::string(info.param.format == PlistFormat::Xml ? "Xml"
                                                                                      : "Binary") +
                                    (info.param.locale ? "DecimalComma" : "C");
                         });

TEST(PropertyList, ScalarRootsRoundTripInBothForms) {
    const QVariantList roots{
        QVariant::fromValue(qint64(-7)), QStringLiteral("text"), true, QVariant(2.5),
        QByteArray("\0\1", 2),           QVariantList()};
    for (const PlistFormat format : {PlistFormat::Xml, PlistFormat::Binary}) {
        for (const QVariant& root : roots) {
            QString error;
            const QByteArray bytes = PropertyList::serialize(root, format, &error);
            ASSERT_FALSE(bytes.isEmpty()) << error.toStdString();
            const PlistReadResult read = PropertyList::parse(bytes);
            ASSERT_TRUE(read.ok()) << read.error.toStdString();
            expectSameTree(root, read.value, root.typeName());
        }
    }
}

// Text written elsewhere (or by the "C" locale) must read the same under a decimal comma.
TEST(PropertyList, XmlRealsReadUnderDecimalCommaLocale) {
    const koru::test::ScopedLocale locale("de_DE.UTF-8");
    if (!locale.active())
        GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    const QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                           "<plist version=\"1.0\"><array><real>0.1</real><real>1e-30</real>"
                           "<real>-3.5</real><real>1234.5</real></array></plist>\n";
    const PlistReadResult read = PropertyList::parse(xml);
    ASSERT_TRUE(read.ok()) << read.error.toStdString();
    EXPECT_EQ(read.value.toList(), (QVariantList{0.1, 1e-30, -3.5, 1234.5}));
}

TEST(PropertyList, XmlIsDetectedBehindByteOrderMarkOrWhitespace) {
    const QByteArray withDeclaration =
        "\xEF\xBB\xBF" + PropertyList::serialize(QVariantMap{{"k", 1}}, PlistFormat::Xml);
    const QByteArray bare = "\n  <plist version=\"1.0\"><dict><key>k</key><integer>1</integer>"
                            "</dict></plist>";
    for (const QByteArray& xml : {withDeclaration, bare}) {
        const PlistReadResult read = PropertyList::parse(xml);
        ASSERT_TRUE(read.ok()) << read.error.toStdString();
        EXPECT_EQ(read.value.toMap().value("k").toLongLong(), 1);
    }
}

TEST(PropertyList, UnsupportedValuesAreRefusedWithTheirPlace) {
    struct Case {
        const char* name;
        QVariant value;
        const char* mentions;
    };
    const Case cases[] = {
        {"point", QVariantMap{{"a", QVariantList{1, QPoint(1, 2)}}}, "/a/1"},
        {"invalid", QVariantMap{{"gone", QVariant()}}, "/gone"},
        {"invalid date", QVariantList{QDateTime()}, "invalid date"},
        {"date before range", QVariantList{utc(1900, 1, 1, 0, 0, 0, 0)}, "out of range"},
        {"date after range", QVariantList{utc(2100, 1, 1, 0, 0, 0, 0)}, "out of range"},
        {"nul in string", QString(QStringLiteral("a") + QChar(0) + "b"), "NUL"},
    };
    for (const Case& c : cases) {
        for (const PlistFormat format : {PlistFormat::Xml, PlistFormat::Binary}) {
            QString error;
            EXPECT_TRUE(PropertyList::serialize(c.value, format, &error).isEmpty()) << c.name;
            EXPECT_TRUE(error.contains(c.mentions)) << c.name << ": " << error.toStdString();
            EXPECT_FALSE(PropertyList::validate(c.value)) << c.name;
        }
    }
}

TEST_F(PropertyListFiles, BadFilesGiveErrorsNamingTheFileAndTheFault) {
    const QByteArray binary = PropertyList::serialize(sampleTree(), PlistFormat::Binary);
    const QByteArray xml = PropertyList::serialize(sampleTree(), PlistFormat::Xml);
    struct Case {
        const char* name;
        std::optional<QByteArray> contents; // nullopt: no file at all
        const char* mentions;
    };
    const Case cases[] = {
        {"missing", std::nullopt, "no such file"},
        {"empty", QByteArray(), "empty"},
        {"truncated binary", binary.left(binary.size() / 2), "binary"},
        {"binary without trailer", binary.chopped(20), "binary"},
        {"unknown binary version", QByteArray("bplist17") + binary.mid(8), "version"},
        {"truncated xml", xml.left(xml.size() - 30), "XML"},
        {"mismatched xml", "<?xml version=\"1.0\"?><plist><dict><key>a</key></plist>", "XML"},
        {"xml of another kind", "<?xml version=\"1.0\"?><html><body/></html>",
         "not a property list"},
        {"garbage", QByteArray("hello, world\0\1\2", 15), "not a property list"},
    };
    for (const Case& c : cases) {
        const QString file = path(QString::fromLatin1(c.name) + ".plist");
        if (c.contents)
            writeBytes(file, *c.contents);
        const PlistReadResult read = PropertyList::read(file);
        EXPECT_FALSE(read.ok()) << c.name;
        EXPECT_FALSE(read.value.isValid()) << c.name;
        EXPECT_TRUE(read.error.contains(file)) << c.name << ": " << read.error.toStdString();
        EXPECT_TRUE(read.error.contains(c.mentions)) << c.name << ": " << read.error.toStdString();
    }
}

// A file cut short at any length or with any one byte damaged must give an answer, not a crash.
TEST(PropertyList, EveryTruncationAndDamagedByteIsSurvived) {
    const QVariantMap tree{{"a", QVariantList{1, 2.5, QStringLiteral("x")}},
                           {"b", QByteArray("data")},
                           {"c", utc(2020, 1, 1, 0, 0, 0, 0)}};
    for (const PlistFormat format : {PlistFormat::Binary, PlistFormat::Xml}) {
        const QByteArray bytes = PropertyList::serialize(tree, format);
        for (qsizetype length = 0; length < bytes.size(); ++length) {
            const PlistReadResult read = PropertyList::parse(bytes.left(length));
            // A cut inside the XML's trailing newline still leaves a whole document.
            if (format == PlistFormat::Binary || length < bytes.trimmed().size()) {
                EXPECT_FALSE(read.ok()) << "length " << length;
            }
        }
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            for (const char damage : {'\xff', '\x00', '\x7f'}) {
                QByteArray damaged = bytes;
                damaged[i] = damage;
                const PlistReadResult read = PropertyList::parse(damaged);
                EXPECT_EQ(read.ok(), read.error.isEmpty());
            }
        }
    }
}

TEST_F(PropertyListFiles, WriteCreatesMissingFoldersAndReplacesTheOldFile) {
    const QString file = path("a/b/c/store.plist");
    ASSERT_TRUE(PropertyList::write(file, QVariantMap{{"v", 1}}, PlistFormat::Binary));
    ASSERT_TRUE(PropertyList::write(file, QVariantMap{{"v", 2}}, PlistFormat::Binary));
    EXPECT_EQ(PropertyList::read(file).value.toMap().value("v").toLongLong(), 2);
    EXPECT_EQ(QDir(path("a/b/c")).entryList(QDir::Files | QDir::Hidden),
              QStringList{"store.plist"});
}

class FailedWrite : public PropertyListFiles {
protected:
    void SetUp() override {
        ASSERT_TRUE(PropertyList::write(target(), QVariantMap{{"old", true}}, PlistFormat::Xml));
        m_old = fileBytes(target());
    }
    QString target() const { return path("store.plist"); }
    void expectOldFileUntouched() {
        EXPECT_EQ(fileBytes(target()), m_old);
        EXPECT_EQ(entries(), QStringList{"store.plist"}) << "no temporary file may be left";
    }

    QByteArray m_old;
};

TEST_F(FailedWrite, UnsupportedValueLeavesOldFile) {
    QString error;
    EXPECT_FALSE(
        PropertyList::write(target(), QVariantMap{{"p", QPoint(1, 1)}}, PlistFormat::Xml, &error));
    EXPECT_TRUE(error.contains(target())) << error.toStdString();
    EXPECT_TRUE(error.contains("QPoint")) << error.toStdString();
    expectOldFileUntouched();
}

// A write that runs out of room part-way (here a file-size limit, which binds root too).
TEST_F(FailedWrite, DiskFullPartWayLeavesOldFile) {
    auto limit = std::make_unique<koru::test::ScopedFileSizeLimit>(4096);
    ASSERT_TRUE(limit->active());

    QString error;
    const bool written = PropertyList::write(
        target(), QVariantMap{{"big", QByteArray(64 * 1024, 'x')}}, PlistFormat::Binary, &error);

    limit.reset();
    EXPECT_FALSE(written);
    EXPECT_TRUE(error.contains(target())) << error.toStdString();
    expectOldFileUntouched();
}

TEST_F(FailedWrite, ParentThatIsAFileFails) {
    QString error;
    EXPECT_FALSE(
        PropertyList::write(target() + "/inner.plist", QVariantMap(), PlistFormat::Xml, &error));
    EXPECT_FALSE(error.isEmpty());
    expectOldFileUntouched();
}

} // namespace
