#include "platform/archive/KeyedArchive.h"

#include "platform/plist/PropertyList.h"

#include <QSize>

#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <thread>

using koru::platform::Archivable;
using koru::platform::KeyedArchiver;
using koru::platform::KeyedUnarchiver;
using koru::platform::PlistFormat;
using koru::platform::PropertyList;

namespace {

struct TestPoint : Archivable {
    double x = 0;
    double y = 0;
    QString label;

    QString archiveClassName() const override { return "TestPoint"; }
    void encodeWithCoder(KeyedArchiver& coder) const override {
        coder.encodeDouble("x", x);
        coder.encodeDouble("y", y);
        coder.encodeString("label", label);
    }
    static std::unique_ptr<Archivable> decode(KeyedUnarchiver& coder) {
        auto point = std::make_unique<TestPoint>();
        point->x = coder.decodeDouble("x");
        point->y = coder.decodeDouble("y");
        point->label = coder.decodeString("label", "unnamed");
        return point;
    }
};

struct TestShape : Archivable {
    QString name;
    qint64 count = 0;
    bool closed = false;
    QByteArray blob;
    QVariantMap extra;
    std::unique_ptr<TestPoint> origin;
    std::vector<std::unique_ptr<TestPoint>> points;
    std::unique_ptr<TestShape> child;

    QString archiveClassName() const override { return "TestShape"; }
    void encodeWithCoder(KeyedArchiver& coder) const override {
        coder.encodeString("name", name);
        coder.encodeInt("count", count);
        coder.encodeBool("closed", closed);
        coder.encodeData("blob", blob);
        coder.encodeValue("extra", extra);
        coder.encodeObject("origin", origin.get());
        std::vector<const Archivable*> list;
        for (const auto& point : points)
            list.push_back(point.get());
        coder.encodeObjectArray("points", list);
        coder.encodeObject("child", child.get());
    }
    static std::unique_ptr<Archivable> decode(KeyedUnarchiver& coder) {
        auto shape = std::make_unique<TestShape>();
        shape->name = coder.decodeString("name");
        shape->count = coder.decodeInt("count", -1);
        shape->closed = coder.decodeBool("closed");
        shape->blob = coder.decodeData("blob");
        shape->extra = coder.decodeValue("extra").toMap();
        shape->origin = coder.decodeObjectOfClass<TestPoint>("origin");
        for (auto& object : coder.decodeObjectArray("points")) {
            if (auto* point = dynamic_cast<TestPoint*>(object.get())) {
                object.release();
                shape->points.emplace_back(point);
            }
        }
        shape->child = coder.decodeObjectOfClass<TestShape>("child");
        return shape;
    }
};

std::unique_ptr<TestPoint> makePoint(double x, double y, const QString& label) {
    auto point = std::make_unique<TestPoint>();
    point->x = x;
    point->y = y;
    point->label = label;
    return point;
}

TestShape sampleShape() {
    TestShape shape;
    shape.name = "outer ünïcode";
    shape.count = -123456789012345;
    shape.closed = true;
    shape.blob = QByteArray("\0\1\2\xff", 4);
    shape.extra = {{"gain", 0.25}, {"tags", QVariantList{"a", "b"}}};
    shape.origin = makePoint(1.5, -2.5, "origin");
    shape.points.push_back(makePoint(0.1, 1e-30, "p0"));
    shape.points.push_back(makePoint(-3.5, 7, "p1"));
    shape.child = std::make_unique<TestShape>();
    shape.child->name = "inner";
    shape.child->count = 7;
    shape.child->points.push_back(makePoint(9, 9, "deep"));
    return shape;
}

void expectSamePoint(const TestPoint* expected, const TestPoint* actual) {
    ASSERT_NE(actual, nullptr);
    EXPECT_EQ(expected->x, actual->x);
    EXPECT_EQ(expected->y, actual->y);
    EXPECT_EQ(expected->label, actual->label);
}

class KeyedArchiveTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        KeyedUnarchiver::registerClass("TestPoint", &TestPoint::decode);
        KeyedUnarchiver::registerClass("TestShape", &TestShape::decode);
    }

    // The archive dictionary of the sample, for tests that spoil one value in it.
    static QVariantMap sampleDictionary() {
        return KeyedArchiver::encodeToDictionary(sampleShape());
    }

    static QString decodeError(const QVariantMap& dictionary) {
        QString error;
        EXPECT_EQ(KeyedUnarchiver::decodeFromDictionary(dictionary, &error), nullptr);
        return error;
    }
};

TEST_F(KeyedArchiveTest, NestedObjectsArraysAndDataRoundTrip) {
    const TestShape original = sampleShape();
    QString error;
    const QByteArray data = KeyedArchiver::archivedData(original, &error);
    ASSERT_TRUE(data.startsWith("bplist00")) << error.toStdString();

    auto decoded = KeyedUnarchiver::unarchive(data, &error);
    ASSERT_NE(decoded, nullptr) << error.toStdString();
    auto* shape = dynamic_cast<TestShape*>(decoded.get());
    ASSERT_NE(shape, nullptr);
    EXPECT_EQ(shape->name, original.name);
    EXPECT_EQ(shape->count, original.count);
    EXPECT_TRUE(shape->closed);
    EXPECT_EQ(shape->blob, original.blob);
    EXPECT_EQ(shape->extra.value("gain").toDouble(), 0.25);
    EXPECT_EQ(shape->extra.value("tags").toStringList(), (QStringList{"a", "b"}));
    expectSamePoint(original.origin.get(), shape->origin.get());
    ASSERT_EQ(shape->points.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i)
        expectSamePoint(original.points[i].get(), shape->points[i].get());
    ASSERT_NE(shape->child, nullptr);
    EXPECT_EQ(shape->child->name, "inner");
    EXPECT_EQ(shape->child->count, 7);
    EXPECT_EQ(shape->child->origin, nullptr) << "a null object is stored as nothing";
    ASSERT_EQ(shape->child->points.size(), 1u);
    expectSamePoint(original.child->points[0].get(), shape->child->points[0].get());
    EXPECT_EQ(shape->child->child, nullptr);
}

TEST_F(KeyedArchiveTest, ArchiveIsClassTaggedDictionaries) {
    const auto read = PropertyList::parse(KeyedArchiver::archivedData(sampleShape()));
    ASSERT_TRUE(read.ok()) << read.error.toStdString();
    const QVariantMap root = read.value.toMap();
    EXPECT_EQ(root.value("$class").toString(), "TestShape");
    EXPECT_EQ(root.value("origin").toMap().value("$class").toString(), "TestPoint");
    EXPECT_EQ(root.value("points").toList().value(1).toMap().value("label").toString(), "p1");
    EXPECT_FALSE(root.value("child").toMap().contains("origin"));
}

TEST_F(KeyedArchiveTest, MissingKeysGiveDefaultsWithoutError) {
    QString error;
    auto object =
        KeyedUnarchiver::decodeFromDictionary(QVariantMap{{"$class", "TestShape"}}, &error);
    ASSERT_NE(object, nullptr) << error.toStdString();
    auto* shape = dynamic_cast<TestShape*>(object.get());
    EXPECT_EQ(shape->count, -1);
    EXPECT_EQ(shape->origin, nullptr);
    EXPECT_TRUE(shape->points.empty());
}

TEST_F(KeyedArchiveTest, UnknownClassIsAnErrorAtAnyDepth) {
    EXPECT_TRUE(decodeError({{"$class", "NoSuchClass"}}).contains("NoSuchClass"));
    EXPECT_TRUE(decodeError({{"x", 1}}).contains("class"));

    QVariantMap nested = sampleDictionary();
    QVariantMap child = nested["child"].toMap();
    child["$class"] = "Vanished";
    nested["child"] = child;
    const QString error = decodeError(nested);
    EXPECT_TRUE(error.contains("Vanished")) << error.toStdString();
    EXPECT_TRUE(error.contains("child")) << error.toStdString();
}

TEST_F(KeyedArchiveTest, WrongTypesAreErrorsNamingTheKey) {
    struct Case {
        const char* key;
        QVariant value;
    };
    const Case cases[] = {
        {"name", 5},
        {"count", "twelve"},
        {"count", 1.5},
        {"count", QVariant::fromValue(std::numeric_limits<quint64>::max())},
        {"closed", 1},
        {"blob", "not data"},
        {"origin", "not an object"},
        {"origin", QVariantMap{{"$class", "TestShape"}}}, // an object of another class
        {"points", 3},
        {"points", QVariantList{QVariantMap{{"$class", "TestPoint"}}, 4}},
    };
    for (const Case& c : cases) {
        QVariantMap dictionary = sampleDictionary();
        dictionary[c.key] = c.value;
        const QString error = decodeError(dictionary);
        EXPECT_TRUE(error.contains(c.key)) << c.key << ": " << error.toStdString();
    }
    QVariantMap point = sampleDictionary()["origin"].toMap();
    point["x"] = "far";
    QVariantMap dictionary = sampleDictionary();
    dictionary["origin"] = point;
    EXPECT_TRUE(decodeError(dictionary).contains("\"x\""));
}

TEST_F(KeyedArchiveTest, BadEntryInArrayIsSkippedAndReported) {
    KeyedUnarchiver coder(
        QVariantMap{{"points", QVariantList{QVariantMap{{"$class", "TestPoint"}, {"x", 1.0}},
                                            QVariantMap{{"$class", "Unknown"}}, "text",
                                            QVariantMap{{"$class", "TestPoint"}, {"x", 3.0}}}}});
    const auto objects = coder.decodeObjectArray("points");
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_EQ(dynamic_cast<TestPoint*>(objects[1].get())->x, 3.0);
    EXPECT_TRUE(coder.hasError());
    EXPECT_TRUE(coder.error().contains("\"points\"[1]")) << coder.error().toStdString();
}

TEST_F(KeyedArchiveTest, MalformedArchivesAreErrors) {
    const QByteArray good = KeyedArchiver::archivedData(sampleShape());
    const QByteArray cases[] = {
        QByteArray(),
        good.left(good.size() / 2),
        QByteArray("garbage bytes"),
        PropertyList::serialize(QVariantList{1, 2}, PlistFormat::Binary),
    };
    for (const QByteArray& bytes : cases) {
        QString error;
        EXPECT_EQ(KeyedUnarchiver::unarchive(bytes, &error), nullptr);
        EXPECT_FALSE(error.isEmpty());
    }
}

struct Unstorable : Archivable {
    QString archiveClassName() const override { return "Unstorable"; }
    void encodeWithCoder(KeyedArchiver& coder) const override {
        coder.encodeValue("bad", QVariant::fromValue(QSize(1, 2)));
    }
};

TEST_F(KeyedArchiveTest, UnstorableValueGivesNoArchive) {
    QString error;
    EXPECT_TRUE(KeyedArchiver::archivedData(Unstorable(), &error).isEmpty());
    EXPECT_TRUE(error.contains("bad")) << error.toStdString();
}

// Classes registered from several threads while others unarchive: nothing lost, nothing torn.
TEST_F(KeyedArchiveTest, RegistryIsSafeAcrossThreads) {
    const QByteArray data = KeyedArchiver::archivedData(sampleShape());
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t, &data, &failures] {
            for (int i = 0; i < 200; ++i) {
                const QString name = QStringLiteral("Dynamic%1_%2").arg(t).arg(i);
                KeyedUnarchiver::registerClass(name, &TestPoint::decode);
                if (!KeyedUnarchiver::decodeFromDictionary({{"$class", name}}))
                    ++failures;
                if (!KeyedUnarchiver::unarchive(data))
                    ++failures;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
}

} // namespace
