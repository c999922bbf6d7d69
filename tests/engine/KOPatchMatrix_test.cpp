#include "engine/KOPatchMatrix.h"

#include "platform/exceptions/FrameworkException.h"
#include "platform/exceptions/InternalInconsistencyException.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/plist/PropertyList.h"
#include "support/TestSupport.h"

#include <QDir>

#include <gtest/gtest.h>

#include <functional>
#include <optional>

using koru::platform::FrameworkException;
using koru::platform::InternalInconsistencyException;
using koru::platform::PlistFormat;
using koru::platform::PropertyList;

namespace {

const QString kNotification = QString::fromLatin1(KOPatchMatrix::kDidChangePatchNotification);

// Runs `action` and answers the framework exception it raised, or nullopt.
std::optional<FrameworkException> raised(const std::function<void()>& action) {
    try {
        action();
    } catch (const FrameworkException& e) {
        return e;
    }
    return std::nullopt;
}

void expectInconsistency(const std::function<void()>& action, const char* message) {
    const auto e = raised(action);
    ASSERT_TRUE(e.has_value()) << message;
    EXPECT_EQ(e->name(), QString::fromLatin1(InternalInconsistencyException::kName));
    EXPECT_EQ(e->reason(), QString::fromLatin1(message));
}

std::vector<std::int32_t> mapOf(const KOPatchMatrix& matrix) {
    std::vector<std::int32_t> map(matrix.numChannels());
    matrix.copyMap(map.data(), nullptr);
    return map;
}

QStringList namesOf(const KOPatchMatrix& matrix) {
    QStringList names;
    for (std::uint32_t s = 0; s < matrix.numChannels(); ++s)
        names.append(matrix.sourceChannelNameAtIndex(s));
    return names;
}

// One log for delegate calls and notifications, so their order shows.
struct EventLog {
    std::vector<std::string> events;
    void add(std::string event) { events.push_back(std::move(event)); }
};

class RecordingDelegate : public KOPatchingProtocol {
public:
    RecordingDelegate(EventLog& log, std::uint32_t sources) : m_log(log), m_sources(sources) {}

    QString sourceChannelNameAtIndex(std::uint32_t index, const KOPatchMatrix&) override {
        return QStringLiteral("In %1").arg(index + 1);
    }
    std::uint32_t numberOfSourceChannelsForMatrix(const KOPatchMatrix&) override {
        return m_sources;
    }
    void patchMatrixDidPatchSourceChannel(KOPatchMatrix&, std::int32_t source,
                                          std::uint32_t destination) override {
        m_log.add("patched " + std::to_string(source) + "->" + std::to_string(destination));
    }
    void matrixDidChange(KOPatchMatrix&) override { m_log.add("changed"); }

private:
    EventLog& m_log;
    std::uint32_t m_sources;
};

// A delegate-owned matrix of 4 sources whose delegate calls and notifications are recorded.
class PatchMatrixTest : public ::testing::Test {
protected:
    void SetUp() override {
        matrix = KOPatchMatrix::initWithPatchMatrixDelegate(&delegate);
        token = koru::platform::observeNotification(kNotification, matrix.get(),
                                                    [this](const koru::platform::Notification& n) {
                                                        EXPECT_EQ(n.sender, matrix.get());
                                                        EXPECT_FALSE(n.object.isValid());
                                                        EXPECT_TRUE(n.userInfo.isEmpty());
                                                        log.add("posted");
                                                    });
    }

    EventLog log;
    RecordingDelegate delegate{log, 4};
    std::unique_ptr<KOPatchMatrix> matrix;
    koru::platform::ObserverToken token;
};

TEST(KOPatchMatrix, SizeMustLieBetweenOneAnd256) {
    const char* message = "patch matrix size must be between 1 and KOPATCH_DEF_MAXPATCHMATRIXSIZE";
    EXPECT_EQ(KOPatchMatrix::initWithLength(1)->numChannels(), 1u);
    EXPECT_EQ(KOPatchMatrix::initWithLength(256)->numChannels(), 256u);
    expectInconsistency([] { KOPatchMatrix::initWithLength(0); }, message);
    expectInconsistency([] { KOPatchMatrix::initWithLength(257); }, message);
    const std::vector<std::int32_t> tooLong(257, 0);
    expectInconsistency([&] { KOPatchMatrix::initWithChannelMap(tooLong.data(), 257); }, message);
}

TEST(KOPatchMatrix, NewMatrixWithoutDelegateNamesSourcesAndPatchesIdentity) {
    const auto matrix = KOPatchMatrix::initWithLength(3);
    EXPECT_EQ(namesOf(*matrix), QStringList({"Channel 0", "Channel 1", "Channel 2"}));
    EXPECT_EQ(mapOf(*matrix), (std::vector<std::int32_t>{0, 1, 2}));
    EXPECT_EQ(matrix->aliasKeyPrefix(), "c");
    EXPECT_EQ(matrix->aliasKeyForIndex(2), "c-2");
    EXPECT_EQ(matrix->destinationChannelNameAtIndex(1), "Channel 1");
}

TEST(KOPatchMatrix, ChannelMapIsCopiedOrRefusedByItsFirstBadEntry) {
    const std::vector<std::int32_t> map{2, -1, 0};
    EXPECT_EQ(mapOf(*KOPatchMatrix::initWithChannelMap(map.data(), 3)), map);

    for (const std::int32_t bad : {3, -2}) {
        const std::vector<std::int32_t> badMap{0, bad, 1};
        const auto e = raised([&] { KOPatchMatrix::initWithChannelMap(badMap.data(), 3); });
        ASSERT_TRUE(e.has_value()) << bad;
        EXPECT_EQ(e->name(), "Source channel out of range");
        EXPECT_EQ(e->reason(), QStringLiteral("Source channel %1 out of range").arg(bad));
    }
}

TEST(KOPatchMatrix, CopyMapAcceptsAbsentOutputs) {
    const auto matrix = KOPatchMatrix::initWithLength(5);
    std::uint32_t length = 0;
    matrix->copyMap(nullptr, &length);
    EXPECT_EQ(length, 5u);
    matrix->copyMap(nullptr, nullptr);
}

TEST_F(PatchMatrixTest, DelegateGivesSizeAndNames) {
    EXPECT_EQ(matrix->delegate(), &delegate);
    EXPECT_EQ(namesOf(*matrix), QStringList({"In 1", "In 2", "In 3", "In 4"}));
    EXPECT_EQ(mapOf(*matrix), (std::vector<std::int32_t>{0, 1, 2, 3}));
    EXPECT_TRUE(log.events.empty()) << "creation tells no one";
    expectInconsistency([] { KOPatchMatrix::initWithPatchMatrixDelegate(nullptr); },
                        "delegate for patch matrix is nil");
}

TEST(KOPatchMatrix, DelegateWithMoreThan256SourcesGivesTheFirst256) {
    EventLog log;
    RecordingDelegate wide(log, 300);
    const auto matrix = KOPatchMatrix::initWithPatchMatrixDelegate(&wide);
    EXPECT_EQ(matrix->numChannels(), 256u);
    EXPECT_EQ(matrix->sourceChannelNameAtIndex(255), "In 256");
    EXPECT_EQ(matrix->sourceChannelForDestination(255), 255);
}

TEST_F(PatchMatrixTest, UnpatchingShowsDashAndStoresMinusOne) {
    matrix->setSourceChannel(-1, 2);
    EXPECT_EQ(matrix->destinationChannelNameAtIndex(2), "-");
    EXPECT_EQ(matrix->humanReadableDestinationNameAtIndex(2), "-");
    EXPECT_EQ(mapOf(*matrix), (std::vector<std::int32_t>{0, 1, -1, 3}));
    EXPECT_EQ(log.events, (std::vector<std::string>{"patched -1->2", "posted"}));

    matrix->setSourceChannel(0, 3);
    EXPECT_EQ(matrix->destinationChannelNameAtIndex(3), "In 1");
}

TEST_F(PatchMatrixTest, OutOfRangeIndicesRaiseNamedErrorsAndChangeNothing) {
    struct Case {
        const char* what;
        std::function<void(KOPatchMatrix&)> action;
        const char* name;
        const char* reason;
    };
    const std::vector<Case> cases{
        {"lookup", [](KOPatchMatrix& m) { m.sourceChannelForDestination(4); },
         "Destination channel out of range", "Destination channel 4 out of range"},
        {"patch destination", [](KOPatchMatrix& m) { m.setSourceChannel(0, 4); },
         "Destination channel out of range", "Destination channel 4 out of range"},
        {"both bad: destination first", [](KOPatchMatrix& m) { m.setSourceChannel(9, 7); },
         "Destination channel out of range", "Destination channel 7 out of range"},
        {"source N", [](KOPatchMatrix& m) { m.setSourceChannel(4, 0); },
         "Source channel out of range", "Source channel 4 out of range"},
        {"source below -1", [](KOPatchMatrix& m) { m.setSourceChannel(-2, 0); },
         "Source channel out of range", "Source channel -2 out of range"},
        {"destination name", [](KOPatchMatrix& m) { m.destinationChannelNameAtIndex(4); },
         "Destination channel out of range", "Destination channel 4 out of range"},
        {"alias", [](KOPatchMatrix& m) { m.setDestinationChannelAlias("x", 4); },
         "Destination channel out of range", "Destination channel 4 out of range"},
        {"readable name", [](KOPatchMatrix& m) { m.humanReadableDestinationNameAtIndex(4); },
         "Destination channel out of range", "Destination channel 4 out of range"},
    };
    const QVariantMap before = matrix->dictionaryRepresentation();
    for (const Case& c : cases) {
        const auto e = raised([&] { c.action(*matrix); });
        ASSERT_TRUE(e.has_value()) << c.what;
        EXPECT_EQ(e->name(), c.name) << c.what;
        EXPECT_EQ(e->reason(), c.reason) << c.what;
    }
    EXPECT_EQ(matrix->dictionaryRepresentation(), before);
    EXPECT_TRUE(log.events.empty());
}

TEST_F(PatchMatrixTest, ExactlyTheFiveEditsAreAnnouncedAfterTheDelegate) {
    struct Case {
        const char* what;
        std::function<void(KOPatchMatrix&)> action;
        std::vector<std::string> events;
    };
    const std::vector<std::int32_t> reversed{3, 2, 1, 0};
    const std::vector<Case> cases{
        {"patch", [](KOPatchMatrix& m) { m.setSourceChannel(3, 1); }, {"patched 3->1", "posted"}},
        {"set map", [&](KOPatchMatrix& m) { m.setMap(reversed.data(), 4); }, {"changed", "posted"}},
        {"identity", [](KOPatchMatrix& m) { m.make1by1patch(); }, {"changed", "posted"}},
        {"clear aliases", [](KOPatchMatrix& m) { m.clearAllAlias(); }, {"changed", "posted"}},
        {"alias",
         [](KOPatchMatrix& m) { m.setDestinationChannelAlias("Kick", 0); },
         {"changed", "posted"}},
        {"rename source", [](KOPatchMatrix& m) { m.setSourceChannelName("Mic", 0); }, {}},
        {"prefix", [](KOPatchMatrix& m) { m.setAliasKeyPrefix("Card"); }, {}},
        {"save", [](KOPatchMatrix& m) { m.dictionaryRepresentation(); }, {}},
        {"reads",
         [](KOPatchMatrix& m) {
             m.humanReadableDestinationNameAtIndex(0);
             m.destinationChannelNameAtIndex(1);
             m.copyMap(nullptr, nullptr);
         },
         {}},
    };
    for (const Case& c : cases) {
        log.events.clear();
        c.action(*matrix);
        EXPECT_EQ(log.events, c.events) << c.what;
    }
    EXPECT_EQ(matrix->sourceChannelNameAtIndex(0), "Mic");
}

TEST(KOPatchMatrix, EditsWithoutDelegateStillPost) {
    const auto matrix = KOPatchMatrix::initWithLength(2);
    int posts = 0;
    const auto token = koru::platform::observeNotification(
        kNotification, matrix.get(), [&](const koru::platform::Notification&) { ++posts; });
    matrix->setSourceChannel(1, 0);
    matrix->make1by1patch();
    EXPECT_EQ(posts, 2);
}

TEST_F(PatchMatrixTest, SetMapChecksLengthAndUnpatchesBadSources) {
    const std::vector<std::int32_t> shortMap{0, 1, 2};
    expectInconsistency([&] { matrix->setMap(shortMap.data(), 3); }, "unequal map length");
    EXPECT_TRUE(log.events.empty());

    const std::vector<std::int32_t> map{3, 4, -2, -1};
    matrix->setMap(map.data(), 4);
    EXPECT_EQ(mapOf(*matrix), (std::vector<std::int32_t>{3, -1, -1, -1}));
    for (std::uint32_t d = 0; d < 4; ++d)
        EXPECT_NO_THROW(matrix->destinationChannelNameAtIndex(d)) << d;
}

TEST_F(PatchMatrixTest, ReallocationZeroFillsAndDropsAliases) {
    matrix->setDestinationChannelAlias("Kick", 1);
    matrix->allocateMapWithLength(6);
    EXPECT_EQ(mapOf(*matrix), std::vector<std::int32_t>(6, 0));
    EXPECT_EQ(matrix->sourceChannelNameAtIndex(5), "In 6");
    EXPECT_EQ(matrix->humanReadableDestinationNameAtIndex(1), "In 1");
}

TEST_F(PatchMatrixTest, NameLookupsOutOfRangeFailTheirChecks) {
    expectInconsistency([&] { matrix->sourceChannelNameAtIndex(4); },
                        "inIndex > map length - source channel name at index");
    expectInconsistency([&] { matrix->setSourceChannelName("x", 4); },
                        "inIndex > map length - set source channel name");
}

TEST_F(PatchMatrixTest, AliasesAreTrimmedAndClearedByBlankOrSourceName) {
    struct Case {
        const char* text;
        const char* shown; // humanReadableDestinationNameAtIndex(1) afterwards
        bool stored;
    };
    const std::vector<Case> cases{
        {"  Snare top \t\n", "Snare top", true},
        {"In 2", "In 2", false}, // equal to the source's name
        {"Overhead", "Overhead", true},
        {" \t\r\n ", "In 2", false}, // blank
        {"", "In 2", false},
        {" In 2 ", "In 2", false}, // equal once trimmed
        {"in 2", "in 2", true},    // the comparison is exact
    };
    for (const Case& c : cases) {
        matrix->setDestinationChannelAlias(QString::fromUtf8(c.text), 1);
        EXPECT_EQ(matrix->humanReadableDestinationNameAtIndex(1), c.shown) << c.text;
        const QVariantMap aliases = matrix->dictionaryRepresentation()
                                        .value(KOPatchMatrix::kDestinationAliasDictionaryKey)
                                        .toMap();
        EXPECT_EQ(aliases.contains("c-1"), c.stored) << c.text;
    }
}

TEST_F(PatchMatrixTest, UnpatchedDestinationTakesAnyAlias) {
    matrix->setSourceChannel(-1, 0);
    matrix->setDestinationChannelAlias("In 1", 0);
    EXPECT_EQ(matrix->humanReadableDestinationNameAtIndex(0), "In 1");
    EXPECT_EQ(matrix->destinationChannelNameAtIndex(0), "-");
}

TEST_F(PatchMatrixTest, PrefixChangeHidesAliasesButKeepsThem) {
    matrix->setAliasKeyPrefix("Card A");
    matrix->setDestinationChannelAlias("Kick", 0);
    EXPECT_EQ(matrix->aliasKeyForIndex(0), "Card A-0");
    matrix->setAliasKeyPrefix("Card B");
    EXPECT_EQ(matrix->humanReadableDestinationNameAtIndex(0), "In 1");
    const QVariantMap aliases = matrix->dictionaryRepresentation()
                                    .value(KOPatchMatrix::kDestinationAliasDictionaryKey)
                                    .toMap();
    EXPECT_EQ(aliases, (QVariantMap{{"Card A-0", "Kick"}}));
    matrix->setAliasKeyPrefix("Card A");
    EXPECT_EQ(matrix->humanReadableDestinationNameAtIndex(0), "Kick");
}

// A matrix with every kind of content: a non-identity map with an unpatched destination, names
// and aliases beyond ASCII, aliases under a foreign prefix.
std::unique_ptr<KOPatchMatrix> populatedMatrix() {
    const std::vector<std::int32_t> map{4, -1, 0, 0, 2};
    auto matrix = KOPatchMatrix::initWithChannelMap(map.data(), 5);
    matrix->setSourceChannelName(QString::fromUtf8("Grüße € 日本"), 0);
    matrix->setSourceChannelName("Mic <&> \"2\"", 2);
    matrix->setAliasKeyPrefix("Scarlett 18i20");
    matrix->setDestinationChannelAlias(QString::fromUtf8("Bass DI 1,5"), 0);
    matrix->setDestinationChannelAlias("Room", 1);
    matrix->setAliasKeyPrefix("c");
    matrix->setDestinationChannelAlias("Lead", 4);
    return matrix;
}

void expectSameMatrix(const KOPatchMatrix& restored, const KOPatchMatrix& original) {
    EXPECT_EQ(restored.numChannels(), original.numChannels());
    EXPECT_EQ(mapOf(restored), mapOf(original));
    EXPECT_EQ(namesOf(restored), namesOf(original));
    EXPECT_EQ(restored.dictionaryRepresentation(), original.dictionaryRepresentation());
}

TEST(KOPatchMatrix, DictionaryHoldsTheFourEntries) {
    const auto matrix = populatedMatrix();
    const QVariantMap dict = matrix->dictionaryRepresentation();
    EXPECT_EQ(
        dict.keys(),
        QStringList({"KOPatchMatrix.channelNamesArray", "KOPatchMatrix.destinationAliasDictionary",
                     "KOPatchMatrix.matrixSize", "KOPatchMatrix.sourceChannelArray"}));
    EXPECT_EQ(dict.value("KOPatchMatrix.matrixSize").toUInt(), 5u);
    EXPECT_EQ(dict.value("KOPatchMatrix.sourceChannelArray").toList(),
              (QVariantList{4, -1, 0, 0, 2}));
    EXPECT_EQ(dict.value("KOPatchMatrix.destinationAliasDictionary").toMap(),
              (QVariantMap{{"Scarlett 18i20-0", QString::fromUtf8("Bass DI 1,5")},
                           {"Scarlett 18i20-1", "Room"},
                           {"c-4", "Lead"}}));
}

TEST(KOPatchMatrix, DictionaryRoundTripResetsPrefixAndSetsDelegateQuietly) {
    const auto original = populatedMatrix();
    original->setAliasKeyPrefix("Scarlett 18i20");
    EventLog log;
    RecordingDelegate delegate(log, 2);
    int posts = 0;
    const auto token = koru::platform::observeNotification(
        kNotification, nullptr, [&](const koru::platform::Notification&) { ++posts; });

    const auto restored =
        KOPatchMatrix::initWithDictionary(original->dictionaryRepresentation(), &delegate);
    EXPECT_EQ(restored->aliasKeyPrefix(), "c");
    EXPECT_EQ(restored->delegate(), &delegate);
    EXPECT_EQ(restored->humanReadableDestinationNameAtIndex(4), "Lead");
    EXPECT_EQ(restored->humanReadableDestinationNameAtIndex(0), "Channel 4")
        << "aliases of another prefix are not shown";
    expectSameMatrix(*restored, *original);
    EXPECT_TRUE(log.events.empty());
    EXPECT_EQ(posts, 0);
}

struct FileCase {
    PlistFormat format;
    const char* locale; // nullptr: the "C" locale of the test program
};

class PatchMatrixFileTest : public ::testing::TestWithParam<FileCase> {};

TEST_P(PatchMatrixFileTest, RoundTripsThroughAPropertyListFile) {
    std::optional<koru::test::ScopedLocale> locale;
    if (GetParam().locale) {
        locale.emplace(GetParam().locale);
        if (!locale->active())
            GTEST_SKIP() << GetParam().locale << " is not installed";
    }
    const auto original = populatedMatrix();
    const QString path = QDir(koru::test::testRoot()).filePath("patch/matrix.plist");
    QString error;
    ASSERT_TRUE(
        PropertyList::write(path, original->dictionaryRepresentation(), GetParam().format, &error))
        << error.toStdString();
    const auto read = PropertyList::read(path);
    ASSERT_TRUE(read.ok()) << read.error.toStdString();

    const auto restored = KOPatchMatrix::initWithDictionary(read.value.toMap());
    expectSameMatrix(*restored, *original);

    // Written again, the file is byte for byte the same.
    const QByteArray first = PropertyList::serialize(read.value, GetParam().format);
    const QByteArray second =
        PropertyList::serialize(restored->dictionaryRepresentation(), GetParam().format);
    EXPECT_EQ(first, second);
}

INSTANTIATE_TEST_SUITE_P(Formats, PatchMatrixFileTest,
                         ::testing::Values(FileCase{PlistFormat::Xml, nullptr},
                                           FileCase{PlistFormat::Binary, nullptr},
                                           FileCase{PlistFormat::Xml, "de_DE.UTF-8"},
                                           FileCase{PlistFormat::Binary, "de_DE.UTF-8"}));

QVariantMap goodDictionary() {
    return {
        {"KOPatchMatrix.matrixSize", 4},
        {"KOPatchMatrix.channelNamesArray", QVariantList{"A", "B", "C", "D"}},
        {"KOPatchMatrix.sourceChannelArray", QVariantList{3, 2, 1, -1}},
        {"KOPatchMatrix.destinationAliasDictionary", QVariantMap{{"c-0", "Kick"}}},
    };
}

QVariantList sequence(int count, int value) {
    QVariantList list;
    for (int i = 0; i < count; ++i)
        list.append(value);
    return list;
}

TEST(KOPatchMatrix, DamagedDictionaryRestoresWhatItCan) {
    struct Case {
        const char* what;
        QString key;
        QVariant value; // invalid: the key is removed
        std::uint32_t size;
        std::vector<std::int32_t> map; // the first entries
        QStringList names;             // the first entries
        QString shownForZero;          // humanReadableDestinationNameAtIndex(0)
    };
    const QString size = "KOPatchMatrix.matrixSize";
    const QString names = "KOPatchMatrix.channelNamesArray";
    const QString sources = "KOPatchMatrix.sourceChannelArray";
    const QString aliases = "KOPatchMatrix.destinationAliasDictionary";
    const QStringList abcd{"A", "B", "C", "D"};
    const QStringList generated{"Channel 0", "Channel 1", "Channel 2", "Channel 3"};
    const std::vector<Case> cases{
        {"intact", size, 4, 4, {3, 2, 1, -1}, abcd, "Kick"},
        {"size as real", size, 4.0, 4, {3, 2, 1, -1}, abcd, "Kick"},
        {"short map keeps source 0", sources, QVariantList{3}, 4, {3, 0, 0, 0}, abcd, "Kick"},
        {"long map is cut", sources, QVariantList{1, 1, 1, 1, 1, 1}, 4, {1, 1, 1, 1}, abcd, "Kick"},
        {"map missing", sources, {}, 4, {0, 0, 0, 0}, abcd, "Kick"},
        {"map not a list", sources, "3,2,1", 4, {0, 0, 0, 0}, abcd, "Kick"},
        {"sources out of range",
         sources,
         QVariantList{4, -2, 1e9, 2.9},
         4,
         {-1, -1, -1, 2},
         abcd,
         "Kick"},
        {"sources of wrong type",
         sources,
         QVariantList{"2", QVariantList{1}, QVariant(), 1},
         4,
         {-1, -1, -1, 1},
         abcd,
         "Kick"},
        {"names missing", names, {}, 4, {3, 2, 1, -1}, generated, "Kick"},
        {"names not a list", names, "A", 4, {3, 2, 1, -1}, generated, "Kick"},
        {"names short",
         names,
         QVariantList{"A"},
         4,
         {3, 2, 1, -1},
         {"A", "Channel 1", "Channel 2", "Channel 3"},
         "Kick"},
        {"names of wrong type",
         names,
         QVariantList{"A", 7, QVariantMap{}, "D"},
         4,
         {3, 2, 1, -1},
         {"A", "Channel 1", "Channel 2", "D"},
         "Kick"},
        {"aliases missing", aliases, {}, 4, {3, 2, 1, -1}, abcd, "D"},
        {"aliases not a dictionary", aliases, QVariantList{"Kick"}, 4, {3, 2, 1, -1}, abcd, "D"},
        {"alias not a text",
         aliases,
         QVariantMap{{"c-0", 5}, {"c-1", "Snare"}},
         4,
         {3, 2, 1, -1},
         abcd,
         "D"},
        {"more than 256 channels", size, 300, 256, {3, 2, 1, -1}, abcd, "Kick"},
    };
    for (const Case& c : cases) {
        QVariantMap dict = goodDictionary();
        if (c.value.isValid())
            dict.insert(c.key, c.value);
        else
            dict.remove(c.key);
        std::unique_ptr<KOPatchMatrix> matrix;
        ASSERT_NO_THROW(matrix = KOPatchMatrix::initWithDictionary(dict)) << c.what;
        ASSERT_EQ(matrix->numChannels(), c.size) << c.what;
        const auto map = mapOf(*matrix);
        EXPECT_EQ(std::vector<std::int32_t>(map.begin(), map.begin() + 4), c.map) << c.what;
        EXPECT_EQ(namesOf(*matrix).mid(0, 4), c.names) << c.what;
        EXPECT_EQ(matrix->humanReadableDestinationNameAtIndex(0), c.shownForZero) << c.what;
        // Whatever was damaged, every destination can be drawn.
        for (std::uint32_t d = 0; d < matrix->numChannels(); ++d)
            EXPECT_NO_THROW(matrix->humanReadableDestinationNameAtIndex(d)) << c.what << " " << d;
    }
}

TEST(KOPatchMatrix, OversizedDictionaryKeepsTheFirst256Entries) {
    QVariantList names;
    for (int i = 0; i < 300; ++i)
        names.append(QStringLiteral("In %1").arg(i));
    const QVariantMap dict{{"KOPatchMatrix.matrixSize", 300},
                           {"KOPatchMatrix.channelNamesArray", names},
                           {"KOPatchMatrix.sourceChannelArray", sequence(300, 255)}};
    const auto matrix = KOPatchMatrix::initWithDictionary(dict);
    EXPECT_EQ(matrix->numChannels(), 256u);
    EXPECT_EQ(matrix->sourceChannelNameAtIndex(255), "In 255");
    EXPECT_EQ(mapOf(*matrix), std::vector<std::int32_t>(256, 255));
}

TEST(KOPatchMatrix, DictionaryWithoutUsableSizeFailsTheSizeCheck) {
    const char* message = "patch matrix size must be between 1 and KOPATCH_DEF_MAXPATCHMATRIXSIZE";
    for (const QVariant& size :
         {QVariant(), QVariant(0), QVariant(-3), QVariant("many"), QVariant(QVariantList{4})}) {
        QVariantMap dict = goodDictionary();
        dict.insert("KOPatchMatrix.matrixSize", size);
        if (!size.isValid())
            dict.remove("KOPatchMatrix.matrixSize");
        expectInconsistency([&] { KOPatchMatrix::initWithDictionary(dict); }, message);
    }
    expectInconsistency([] { KOPatchMatrix::initWithDictionary({}); }, message);
}

} // namespace
