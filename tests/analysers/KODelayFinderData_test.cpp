#include "analysers/KODelayFinderData.h"
#include "analysers/KODelayFinderResults.h"

#include "app/LogCapture.h"
#include "engine/SDFloatVector.h"
#include "platform/plist/PropertyList.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

using koru::platform::KeyedArchiver;
using koru::platform::KeyedUnarchiver;

namespace {

constexpr std::int64_t kNotFound = KODelayFinderData::kNotFound;

std::shared_ptr<KODelayFinderData> dataOf(const std::vector<float>& samples) {
    return KODelayFinderData::delayFinderDataWithFloatBuffer(samples.data(), samples.size());
}

std::vector<float> samplesOf(const KODelayFinderData& data) {
    const auto vector = data.impulseResponse();
    return {vector->data(), vector->data() + vector->length()};
}

QByteArray rawFloats(const std::vector<float>& values) {
    QByteArray bytes(qsizetype(values.size() * sizeof(float)), '\0');
    std::memcpy(bytes.data(), values.data(), std::size_t(bytes.size()));
    return bytes;
}

TEST(KODelayFinderData, FindsThePeakOfARange) {
    // Main peak -9 at 6, a secondary 4 at 2, a tie of 3 at 10 and 12.
    const auto data = dataOf({0, 1, 4, -2, 0, 1, -9, 2, 0, 0, 3, 1, -3, 0});
    const struct {
        std::uint64_t location;
        std::uint64_t length;
        std::int64_t peak;
    } cases[] = {
        {0, 14, 6},         // the whole response
        {0, 5, 2},          // around the secondary peak, as an index of the whole
        {9, 5, 10},         // ties: the first
        {7, 0, kNotFound},  // empty range
        {11, 100, 12},      // cut at the end
        {14, 1, kNotFound}, // starts at the end
        {std::numeric_limits<std::uint64_t>::max(), 2, kNotFound},
        {3, std::numeric_limits<std::uint64_t>::max(), 6},
        {8, 2, kNotFound}, // silence has no peak
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.location << " + " << c.length);
        EXPECT_EQ(data->findPeakInRange(c.location, c.length), c.peak);
    }
    EXPECT_EQ(data->findPeakPosition(), 6);
    EXPECT_EQ(dataOf({})->findPeakPosition(), kNotFound);
    EXPECT_EQ(dataOf(std::vector<float>(64, 0.0f))->findPeakPosition(), kNotFound);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(dataOf({nan, 0.5f, nan, -0.25f})->findPeakPosition(), 1) << "no-numbers never win";
}

TEST(KODelayFinderData, UpperHalfPeaksAreNegativeDelays) {
    const struct {
        std::int64_t peak;
        std::int64_t delay;
    } cases[] = {{0, 0},          {100, 100},  {32768, 32768},
                 {32769, -32767}, {65535, -1}, {kNotFound, kNotFound}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.peak);
        EXPECT_EQ(KODelayFinderData::signedDelayForPeak(c.peak, 65536), c.delay);
    }
}

TEST(KODelayFinderData, NewResultsAreNamedAndStampedNow) {
    const QDateTime before = QDateTime::currentDateTimeUtc();
    const std::vector<float> samples{1.0f, -2.0f, 3.0f};
    const auto data = dataOf(samples);
    EXPECT_EQ(data->name(), QStringLiteral("Delay Finder"));
    EXPECT_GE(data->timeStamp(), before);
    EXPECT_LE(data->timeStamp(), QDateTime::currentDateTimeUtc());
    EXPECT_EQ(samplesOf(*data), samples);
    EXPECT_EQ(data->impulseResponse()->archiveClassName(), QStringLiteral("SDFloatVector"));
}

// The older archives kept the samples as raw floats under "ir"; they win when they hold any.
TEST(KODelayFinderData, DecodesTheLegacyFormFirst) {
    const std::vector<float> legacy{0.5f, -7.0f, 1.0f};
    const std::vector<float> current{2.0f, 0.0f, 0.0f, 9.0f};
    const QVariantMap currentVector =
        KeyedArchiver::encodeToDictionary(*SDFloatVector::vectorWithData(current.data(), 4));
    const auto archive = [&](const QVariant& ir, bool withCurrent) {
        QVariantMap map{{QStringLiteral("$class"), QStringLiteral("KODelayFinderData")},
                        {QStringLiteral("name"), QStringLiteral("Transfer 3 - 2")}};
        if (ir.isValid())
            map.insert(QStringLiteral("ir"), ir);
        if (withCurrent)
            map.insert(QStringLiteral("impulseResponse"), currentVector);
        return map;
    };
    const struct {
        const char* what;
        QVariantMap archive;
        std::vector<float> samples;
    } cases[] = {
        {"both forms", archive(rawFloats(legacy), true), legacy},
        {"an empty legacy form", archive(QByteArray(), true), current},
        {"a ragged legacy form", archive(rawFloats(legacy).left(5), true), current},
        {"only the current form", archive({}, true), current},
        {"only the legacy form", archive(rawFloats(legacy), false), legacy},
        {"neither", archive({}, false), {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QString error;
        auto object = KeyedUnarchiver::decodeFromDictionary(c.archive, &error);
        auto* data = dynamic_cast<KODelayFinderData*>(object.get());
        ASSERT_NE(data, nullptr) << error.toStdString();
        EXPECT_EQ(data->name(), QStringLiteral("Transfer 3 - 2"));
        EXPECT_EQ(samplesOf(*data), c.samples);
    }
}

// What a measurement stores: its results under "delayFinder".
class ResultsHolder : public koru::platform::Archivable {
public:
    static constexpr const char* kClassName = "KODelayFinderResultsTestHolder";
    QString archiveClassName() const override { return QString::fromLatin1(kClassName); }
    void encodeWithCoder(KeyedArchiver& coder) const override {
        results.encode(coder, QString::fromLatin1(KODelayFinderResults::kArchiveKey));
    }
    KODelayFinderResults results;
};

std::unique_ptr<ResultsHolder> decodeHolder(const QVariantMap& dictionary, QString* error) {
    static const bool registered = [] {
        KeyedUnarchiver::registerClass(
            QString::fromLatin1(ResultsHolder::kClassName), [](KeyedUnarchiver& coder) {
                auto holder = std::make_unique<ResultsHolder>();
                holder->results.decode(coder,
                                       QString::fromLatin1(KODelayFinderResults::kArchiveKey));
                return std::unique_ptr<koru::platform::Archivable>(std::move(holder));
            });
        return true;
    }();
    (void)registered;
    auto object = KeyedUnarchiver::decodeFromDictionary(dictionary, error);
    return std::unique_ptr<ResultsHolder>(dynamic_cast<ResultsHolder*>(object.release()));
}

struct SessionCase {
    const char* locale;
    koru::platform::PlistFormat format;
};

class DelayFinderSession : public testing::TestWithParam<SessionCase> {};

// Results go into a session file and come back whole, under a decimal-comma locale too.
TEST_P(DelayFinderSession, ResultsSurviveTheSessionFile) {
    const SessionCase c = GetParam();
    koru::test::ScopedLocale locale(c.locale);
    if (!locale.active())
        GTEST_SKIP() << c.locale << " is not installed";

    ResultsHolder saved;
    std::vector<float> first(65536, 0.0f);
    first[480] = 61000.5f;
    first[65000] = -1.25e-3f;
    first[7] = 0.1f;
    saved.results.add(dataOf(first));
    saved.results.add(dataOf({3.5f, -0.75f}));
    saved.results.at(0)->setName(QStringLiteral("Transfer 1 - 1"));
    saved.results.at(1)->setName(QStringLiteral("Übertragung 2 – 2"));
    const QDateTime stamp(QDate(2026, 3, 14), QTime(15, 9, 26), Qt::UTC);
    saved.results.at(0)->setTimeStamp(stamp);

    const QString path = QDir(koru::test::testRoot()).filePath(QStringLiteral("delay.kosession"));
    QString error;
    ASSERT_TRUE(koru::platform::PropertyList::write(
        path,
        QVariantMap{{QStringLiteral("instrumentData"), KeyedArchiver::encodeToDictionary(saved)}},
        c.format, &error))
        << error.toStdString();
    const koru::platform::PlistReadResult read = koru::platform::PropertyList::read(path);
    ASSERT_TRUE(read.ok()) << read.error.toStdString();
    const auto restored =
        decodeHolder(read.value.toMap().value(QStringLiteral("instrumentData")).toMap(), &error);
    ASSERT_NE(restored, nullptr) << error.toStdString();

    ASSERT_EQ(restored->results.count(), 2);
    for (int row = 0; row < 2; ++row) {
        SCOPED_TRACE(row);
        const auto& before = *saved.results.at(row);
        const auto& after = *restored->results.at(row);
        EXPECT_EQ(after.name(), before.name());
        EXPECT_EQ(after.timeStamp().toSecsSinceEpoch(), before.timeStamp().toSecsSinceEpoch());
        EXPECT_EQ(samplesOf(after), samplesOf(before));
        EXPECT_EQ(after.findPeakPosition(), before.findPeakPosition());
    }
    EXPECT_EQ(restored->results.at(0)->findPeakPosition(), 480);
    EXPECT_EQ(restored->results.data(restored->results.index(1), Qt::DisplayRole).toString(),
              QStringLiteral("Übertragung 2 – 2"));
}

INSTANTIATE_TEST_SUITE_P(
    Formats, DelayFinderSession,
    testing::Values(SessionCase{"C", koru::platform::PlistFormat::Xml},
                    SessionCase{"C", koru::platform::PlistFormat::Binary},
                    SessionCase{"de_DE.UTF-8", koru::platform::PlistFormat::Xml},
                    SessionCase{"de_DE.UTF-8", koru::platform::PlistFormat::Binary}));

TEST(KODelayFinderResults, DamagedEntriesAreSkippedWithALogLine) {
    ResultsHolder saved;
    saved.results.add(dataOf({1.0f}));
    saved.results.add(dataOf({0.0f, 2.0f}));
    QVariantMap dictionary = KeyedArchiver::encodeToDictionary(saved);
    QVariantList entries = dictionary.value(QStringLiteral("delayFinder")).toList();
    entries.insert(1, QStringLiteral("not an object"));
    entries.append(QVariantMap{{QStringLiteral("$class"), QStringLiteral("NoSuchClass")}});
    entries.append(KeyedArchiver::encodeToDictionary(*SDFloatVector::vectorWithLength(3)));
    dictionary.insert(QStringLiteral("delayFinder"), entries);

    koru::test::LogCapture log;
    QString error;
    const auto restored = decodeHolder(dictionary, &error);
    ASSERT_NE(restored, nullptr) << error.toStdString();
    ASSERT_EQ(restored->results.count(), 2);
    EXPECT_EQ(samplesOf(*restored->results.at(1)), (std::vector<float>{0.0f, 2.0f}));
    EXPECT_EQ(log.count("3 entries under \"delayFinder\""), 1);
}

TEST(KODelayFinderResults, RemovesRowsWhateverTheirOrder) {
    KODelayFinderResults results;
    for (int i = 0; i < 5; ++i) {
        results.add(dataOf({float(i)}));
        results.at(i)->setName(QString::number(i));
    }
    results.add(nullptr);
    ASSERT_EQ(results.rowCount(), 5);
    results.removeRows({3, 0, 3, 9, -1});
    ASSERT_EQ(results.count(), 3);
    EXPECT_EQ(results.at(0)->name(), QStringLiteral("1"));
    EXPECT_EQ(results.at(1)->name(), QStringLiteral("2"));
    EXPECT_EQ(results.at(2)->name(), QStringLiteral("4"));
    EXPECT_EQ(results.rowOf(results.at(2).get()), 2);
    EXPECT_EQ(results.rowOf(nullptr), -1);
    EXPECT_EQ(results.at(3), nullptr);
}

} // namespace
