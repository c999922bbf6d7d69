#include "AnalyserTestSupport.h"

#include "../SpectrumTestSupport.h"
#include "analysers/KOTransferMeasurementWrapper.h"
#include "analysers/KOTransferSnapshot.h"
#include "app/LogCapture.h"
#include "engine/KOFloatBuffer.h"
#include "engine/KOTransferAnalyzer.h"
#include "framework/KOFFTDrawingData.h"
#include "platform/fourcc/FourCC.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

using koru::platform::fourCC;
using koru::platform::KeyedArchiver;
using koru::platform::KeyedUnarchiver;

namespace {

constexpr std::uint32_t kFrames = 1024;

// Drives a live model's analyser directly with a source and a response (no device pumping), then
// collects once, as the window's pass would.
void measure(KORTTransferMeasWrapper& model, const std::vector<float>& source,
             const std::vector<float>& response) {
    AudioBuffer entries[2]{};
    AudioBufferList list;
    list.mNumberBuffers = 2;
    list.mBuffers = entries;
    model.analyzer()->SetNumberOfChannels(2);
    model.setSourceChannel(0);
    model.setResponseChannel(1);
    for (std::size_t i = 0; i + kFrames <= source.size(); i += kFrames) {
        entries[0].mData = const_cast<float*>(source.data() + i);
        entries[1].mData = const_cast<float*>(response.data() + i);
        entries[0].mDataByteSize = entries[1].mDataByteSize = kFrames * sizeof(float);
        model.analyzer()->Process(&list, kFrames);
    }
    model.collect();
}

std::vector<float> scaled(const std::vector<float>& x, float gain) {
    std::vector<float> y(x.size());
    for (std::size_t i = 0; i < x.size(); ++i)
        y[i] = x[i] * gain;
    return y;
}

// A live model that has measured a pure gain.
std::unique_ptr<KORTTransferMeasWrapper> measuredGain(float gain, std::uint32_t size = 8192) {
    auto model = KORTTransferMeasWrapper::createWithFFTSize(size);
    const auto x = koru::test::noise(size * 4, 0.5, 21);
    measure(*model, x, scaled(x, gain));
    return model;
}

template <typename T> std::unique_ptr<T> roundTrip(const KOInstrumentWrapper& original) {
    QString error;
    auto object = KeyedUnarchiver::unarchive(KeyedArchiver::archivedData(original), &error);
    auto* copy = dynamic_cast<T*>(object.get());
    EXPECT_NE(copy, nullptr) << error.toStdString();
    if (copy == nullptr)
        return nullptr;
    object.release();
    return std::unique_ptr<T>(copy);
}

template <typename T> std::unique_ptr<T> decoded(const QVariantMap& dictionary) {
    QString error;
    auto object = KeyedUnarchiver::decodeFromDictionary(dictionary, &error);
    auto* copy = dynamic_cast<T*>(object.get());
    EXPECT_NE(copy, nullptr) << error.toStdString();
    if (copy == nullptr)
        return nullptr;
    object.release();
    return std::unique_ptr<T>(copy);
}

// The CSV of a model that stays owned by the test.
QString csvOf(KOTransferMeasurementWrapper& model, double rate = 48000.0) {
    koru::test::RecordingFFTDelegate delegate;
    delegate.sampleRate = rate;
    model.setDelegate(&delegate);
    const QString csv =
        koru::test::csvExport(std::shared_ptr<KODataExporting>(&model, [](KODataExporting*) {}));
    model.setDelegate(nullptr);
    return csv;
}

std::vector<float> valuesOf(const KOFloatBuffer& buffer) {
    return {buffer.Data(), buffer.Data() + buffer.Length()};
}

float magnitudeAt(KOTransferMeasurementWrapper& model, std::uint32_t bin) {
    KOTransferResults results(model.FFTSize());
    model.copyTransferResult(results);
    return results.magnitude()->Data()[bin];
}

class TransferModels : public ::testing::Test {
protected:
    void SetUp() override {
        KOTransferMeasurementWrapper::registerArchiveClasses();
        // A finder started by its timer would show a delay of 0 while it waits.
        KORTTransferMeasWrapper::setDelayFinderStartsItself(false);
    }
    void TearDown() override { KORTTransferMeasWrapper::setDelayFinderStartsItself(true); }
};

TEST_F(TransferModels, ExportHasItsColumnsUnitsAndNeverNaNForSilence) {
    struct Case {
        const char* name;
        float gain;
        const char* magnitude; // the "Mag" cell of bin 100
        const char* coherence;
    };
    for (const Case& c :
         {Case{"half", 0.5f, "-6.02", "1.00"}, Case{"silent", 0.0f, "-144.00", "0.00"}}) {
        SCOPED_TRACE(c.name);
        auto model = measuredGain(c.gain);
        model->setDrawPhi(false); // a hidden phase is still exported up to date
        const QString csv = csvOf(*model);
        const QStringList lines = csv.split('\n', Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), 4096 + 1);
        EXPECT_EQ(lines[0], "f [Hz],Mag [dB],Phi [rad],Coh");
        EXPECT_FALSE(csv.contains("nan", Qt::CaseInsensitive));
        EXPECT_FALSE(csv.contains("inf", Qt::CaseInsensitive));
        const QStringList row = lines[101].split(',');
        ASSERT_EQ(row.size(), 4);
        EXPECT_EQ(row[0], "585.94");
        EXPECT_EQ(row[1], c.magnitude);
        EXPECT_LT(std::abs(row[2].toDouble()), 0.01);
        EXPECT_EQ(row[3], c.coherence);
    }
}

TEST_F(TransferModels, OffsetDelayAndAveragingAreKeptWithinTheirLimits) {
    auto model = KORTTransferMeasWrapper::createWithFFTSize(8192);
    struct OffsetCase {
        double asked;
        double stored;
    };
    for (const OffsetCase& c : {OffsetCase{120.0, 96.0}, OffsetCase{-200.0, -96.0},
                                OffsetCase{std::nan(""), 0.0}, OffsetCase{6.5, 6.5}}) {
        model->setOffset(c.asked);
        EXPECT_EQ(model->offset(), c.stored) << c.asked;
    }
    // Shown delay = analyser delay - offset; the reference makes the shown delay 0.
    model->setDelayOffset(100);
    model->setSourceDelay(480);
    EXPECT_EQ(model->analyzer()->Delay(), 580);
    EXPECT_EQ(model->sourceDelay(), 480);
    model->setRefToDelayTime();
    EXPECT_EQ(model->sourceDelay(), 0);
    EXPECT_EQ(model->delayOffset(), 580);
    // Beyond the ring: clamped, never a stalled measurement.
    model->setDelayOffset(0);
    model->setSourceDelay(10'000'000);
    EXPECT_EQ(model->analyzer()->Delay(), KOTransferAnalyzer::kMaximumDelay);
    model->setSourceDelay(-50);
    EXPECT_EQ(model->analyzer()->Delay(), 0);

    EXPECT_FLOAT_EQ(model->averagingRate(), 90.0f);
    model->setAveragingRate(150.0f);
    EXPECT_FLOAT_EQ(model->averagingRate(), 100.0f);
    model->setAveragingRate(10.0f);
    EXPECT_FLOAT_EQ(model->averagingRate(), 80.0f);

    // Sizes the analyser cannot compute are refused, the model keeps its own.
    for (std::uint32_t size : {4096u, 131072u, 10000u}) {
        model->setFFTSize(size);
        EXPECT_EQ(model->FFTSize(), 8192u) << size;
        EXPECT_EQ(model->transferResults()->magnitude()->Length(), 8192u) << size;
    }
}

TEST_F(TransferModels, SnapshotFreezesDecibelsAndFollowsARateChange) {
    auto live = measuredGain(0.5f);
    live->setSourceDelay(240);
    auto snapshot = KOTransferSnapshot::createWithRealtime(*live);
    EXPECT_EQ(snapshot->title(), QStringLiteral("Snapshot of %1").arg(live->title()));
    EXPECT_EQ(snapshot->sourceDelay(), 240);
    EXPECT_NEAR(magnitudeAt(*snapshot, 100), -6.0206f, 1e-3f);
    EXPECT_TRUE(snapshot->transferResults()->magnitude()->IsDecibel());

    // A plateau around bin 400 (4687.5 Hz at 48 kHz) stays at its frequency at 96 kHz: bin 200.
    snapshot->sampleRateChanged(48000.0);
    {
        const std::lock_guard lock(snapshot->modelLock());
        for (std::uint32_t bin = 396; bin <= 404; ++bin)
            snapshot->transferResults()->magnitude()->Data()[bin] = 20.0f;
    }
    snapshot->sampleRateChanged(96000.0);
    EXPECT_NEAR(magnitudeAt(*snapshot, 200), 20.0f, 1e-3f);
    EXPECT_NEAR(magnitudeAt(*snapshot, 400), -6.0206f, 1e-3f);
    EXPECT_DOUBLE_EQ(snapshot->sampleRate(), 96000.0);
}

TEST_F(TransferModels, AccumulatorAveragesInDecibelsAndGrowsToTheLargerSize) {
    auto quiet = measuredGain(0.1f, 16384); // -20 dB
    auto loud = measuredGain(1.0f, 16384);  //   0 dB
    auto large = measuredGain(1.0f, 65536); //   0 dB
    auto accu = KOTransferAccu::createWithFFTSize(32768);
    accu->pushToAccu(*accu);
    EXPECT_EQ(accu->count(), 0u) << "the accumulator pushed into itself";

    accu->pushToAccu(*quiet);
    ASSERT_EQ(accu->FFTSize(), 32768u);
    EXPECT_NEAR(magnitudeAt(*accu, 400), -20.0f, 1e-2f) << "interpolated up to 32768";
    accu->pushToAccu(*quiet);
    EXPECT_NEAR(magnitudeAt(*accu, 400), -20.0f, 1e-2f) << "the same twice is the same";
    accu->pushToAccu(*loud);
    EXPECT_NEAR(magnitudeAt(*accu, 400), -40.0f / 3.0f, 1e-2f) << "a mean of decibels";
    accu->pushToAccu(*large);
    EXPECT_EQ(accu->FFTSize(), 65536u);
    EXPECT_EQ(accu->transferResults()->coherence()->Length(), 65536u);
    EXPECT_NEAR(magnitudeAt(*accu, 800), -10.0f, 2e-2f);
    EXPECT_EQ(accu->count(), 4u);
    accu->resetAspec();
    EXPECT_EQ(accu->count(), 0u);
    EXPECT_EQ(magnitudeAt(*accu, 800), 0.0f);

    const auto empty = KOTransferAverage::createWithMeasurements("Average 9", 32768, {});
    EXPECT_EQ(empty->count(), 0u);
    EXPECT_EQ(empty->title(), "Average 9");
    const auto results = valuesOf(*empty->transferResults()->magnitude());
    EXPECT_TRUE(std::all_of(results.begin(), results.end(), [](float v) { return v == 0.0f; }));
}

TEST_F(TransferModels, DifferenceSubtractsDecibelsAtTheLargerSizeAndCountsItsNames) {
    auto half = measuredGain(0.5f, 8192);
    auto full = measuredGain(1.0f, 16384);
    auto first = KOTransferDifference::createWithMeasurements(*half, *full);
    auto second = KOTransferDifference::createWithMeasurements(*half, *half);
    const int n = first->title().section(' ', 1).toInt();
    EXPECT_EQ(first->title(), QStringLiteral("Difference %1").arg(n));
    EXPECT_EQ(second->title(), QStringLiteral("Difference %1").arg(n + 1));
    EXPECT_EQ(first->FFTSize(), 16384u);
    EXPECT_NEAR(magnitudeAt(*first, 800), -6.0206f, 1e-2f);
    EXPECT_NEAR(magnitudeAt(*second, 100), 0.0f, 1e-5f);
    // A silent measurement against a live one: finite, at the floor's distance.
    auto silent = measuredGain(0.0f, 8192);
    auto floor = KOTransferDifference::createWithMeasurements(*silent, *half);
    const auto values = valuesOf(*floor->transferResults()->magnitude());
    EXPECT_TRUE(
        std::all_of(values.begin(), values.end(), [](float v) { return std::isfinite(v); }));
}

// Every kind of measurement comes back from its archive exporting the same CSV, also under a
// decimal-comma locale.
TEST_F(TransferModels, ArchiveRoundTripsExportTheSameData) {
    auto live = measuredGain(0.5f);
    live->setOffset(3.0);
    live->setDelayOffset(12);
    live->setAveragingRate(85.0f);
    live->setWindowType(fourCC("blkm"));
    live->setDrawPhi(true);
    auto snapshot = KOTransferSnapshot::createWithRealtime(*live);
    auto accu = KOTransferAccu::createWithFFTSize(16384);
    accu->pushToAccu(*snapshot);
    auto difference = KOTransferDifference::createWithMeasurements(*snapshot, *accu);
    for (const char* locale : {"C", "de_DE.UTF-8"}) {
        koru::test::ScopedLocale scoped(locale);
        if (!scoped.active())
            GTEST_SKIP() << locale << " is not installed";
        for (KOTransferMeasurementWrapper* original :
             std::initializer_list<KOTransferMeasurementWrapper*>{snapshot.get(), accu.get(),
                                                                  difference.get()}) {
            SCOPED_TRACE(original->archiveClassName().toStdString());
            const auto copy = roundTrip<KOTransferMeasurementWrapper>(*original);
            ASSERT_NE(copy, nullptr);
            EXPECT_EQ(copy->archiveClassName(), original->archiveClassName());
            EXPECT_EQ(copy->title(), original->title());
            EXPECT_EQ(copy->FFTSize(), original->FFTSize());
            EXPECT_EQ(copy->sourceDelay(), original->sourceDelay());
            const QString exported = csvOf(*original);
            EXPECT_GT(exported.count('\n'), 4000);
            EXPECT_EQ(csvOf(*copy), exported);
        }
        const auto copy = roundTrip<KORTTransferMeasWrapper>(*live);
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(copy->FFTSize(), 8192u);
        EXPECT_EQ(copy->windowType(), fourCC("blkm"));
        EXPECT_FLOAT_EQ(copy->averagingRate(), 85.0f);
        EXPECT_EQ(copy->delayOffset(), 12);
        EXPECT_EQ(copy->offset(), 3.0);
        EXPECT_TRUE(copy->drawPhi());
        const auto accuCopy = roundTrip<KOTransferAccu>(*accu);
        ASSERT_NE(accuCopy, nullptr);
        EXPECT_EQ(accuCopy->count(), 1u);
    }
}

struct Damage {
    const char* name;
    const char* key;
    QVariant value; // invalid: the key is removed
    const char* logged;
};

class DamagedTransferEntry : public ::testing::TestWithParam<Damage> {};

// A damaged entry restores what it can: a missing or wrongly sized buffer is silence of the
// measurement's size, an unusable rate the default; always with a log line.
TEST_P(DamagedTransferEntry, RestoresWithTheDefaultAndALogLine) {
    KOTransferMeasurementWrapper::registerArchiveClasses();
    const Damage& damage = GetParam();
    auto live = measuredGain(0.5f);
    std::unique_ptr<KOInstrumentWrapper> original;
    if (QString::fromLatin1(damage.key).startsWith("transRes"))
        original = KOTransferSnapshot::createWithRealtime(*live);
    else
        original = std::move(live);
    QVariantMap dictionary = KeyedArchiver::encodeToDictionary(*original);
    if (damage.value.isValid())
        dictionary.insert(QString::fromLatin1(damage.key), damage.value);
    else
        dictionary.remove(QString::fromLatin1(damage.key));

    koru::test::LogCapture log;
    const auto copy = decoded<KOTransferMeasurementWrapper>(dictionary);
    ASSERT_NE(copy, nullptr);
    EXPECT_GE(log.count(damage.logged), 1);
    const std::uint32_t size = copy->FFTSize();
    EXPECT_TRUE(size == 8192u || size == 32768u) << size;
    const KOTransferResults& results = *copy->transferResults();
    EXPECT_EQ(results.magnitude()->Length(), size);
    EXPECT_EQ(results.phase()->Length(), size);
    EXPECT_EQ(results.coherence()->Length(), size);
    const QString csv = csvOf(*copy);
    EXPECT_FALSE(csv.contains("nan", Qt::CaseInsensitive));
    if (auto* restored = dynamic_cast<KORTTransferMeasWrapper*>(copy.get())) {
        EXPECT_GE(restored->averagingRate(), 80.0f);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Damage, DamagedTransferEntry,
    ::testing::Values(
        Damage{"MissingMagnitude", "transResmag", QVariant(), "transResmag"},
        Damage{"ShortCoherence", "transRescoh", QVariant(QByteArray(4 * 100, '\0')), "transRescoh"},
        Damage{"OddFFTSize", "FFTInstrumentBase.FFTSize", QVariant(qint64(12345)), "12345"},
        Damage{"RateOutOfRange", "avgRate", QVariant(250.0), "averaging rate"},
        Damage{"RateNotANumber", "avgRate", QVariant(std::nan("")), "averaging rate"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
