#include "analysers/KOSpectrumAnalyzerWrapper.h"

#include "SpectrumTestSupport.h"
#include "app/KODataExporter.h"
#include "app/LogCapture.h"
#include "engine/KOFloatBuffer.h"
#include "engine/KOSpectrumAnalyzer.h"
#include "framework/KOFFTDrawingData.h"
#include "platform/fourcc/FourCC.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

using koru::platform::fourCC;
using koru::platform::KeyedArchiver;
using koru::platform::KeyedUnarchiver;
using koru::test::OneChannelBlocks;

namespace {

// Feeds 1024-frame blocks to the wrapper's analyser and collects after every block, as the
// collector would: each analysis then goes through the averaging exactly once.
void driveAndCollect(KOSpectrumAnalyzerWrapper& wrapper, const std::vector<float>& samples) {
    OneChannelBlocks blocks(samples);
    for (std::size_t i = 0; i < blocks.blockCount(); ++i) {
        wrapper.analyzer()->Process(blocks.block(i), OneChannelBlocks::kFrames);
        wrapper.collect();
    }
}

std::unique_ptr<KOSpectrumAnalyzerWrapper> decode(const QByteArray& archive) {
    QString error;
    auto object = KeyedUnarchiver::unarchive(archive, &error);
    EXPECT_NE(object, nullptr) << error.toStdString();
    auto* wrapper = dynamic_cast<KOSpectrumAnalyzerWrapper*>(object.get());
    EXPECT_NE(wrapper, nullptr);
    if (wrapper == nullptr)
        return nullptr;
    object.release();
    return std::unique_ptr<KOSpectrumAnalyzerWrapper>(wrapper);
}

// The prepared export rows as numbers, one vector per row in header order.
std::vector<std::vector<double>> exportRows(KOFFTInstrumentWrapperBase& model) {
    std::vector<std::vector<double>> rows;
    // The model stays the caller's: the exporter gets a pointer that owns nothing.
    KODataExporter exporter(std::shared_ptr<KODataExporting>(std::shared_ptr<void>(), &model));
    EXPECT_TRUE(model.prepareDataForExporting(exporter));
    const QStringList headers = model.headers();
    model.enumerateRows([&](const koru::ExportRow& row) {
        std::vector<double> values;
        for (const QString& header : headers)
            values.push_back(std::get<double>(row[header]));
        rows.push_back(std::move(values));
        return true;
    });
    model.exportFinished(exporter);
    return rows;
}

// ---- reference comparisons against numpy ----

// The analyser's blocks, spectra and the averaging recurrence in float64; prints the number of
// analyses, then "bin inst avg peak" for every requested bin.
const char* const kReferenceScript = R"PY(
import sys
import numpy as np
path, N, R, fall, first, last = sys.argv[1], int(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4]), int(sys.argv[5]), int(sys.argv[6])
x = np.fromfile(path, dtype='<f4').astype(np.float64)
n = np.arange(N)
w = (0.8165 * (1.0 - np.cos(2.0 * np.pi * n / N))).astype(np.float32).astype(np.float64)
hop = N // 8
linear_fall = 10.0 ** (fall / 20.0)
peak = np.full(N // 2, 1e-11)
avg = np.full(N // 2, 1e-11)
inst = np.zeros(N // 2)
k = 0
while 2 * N + k * hop <= len(x):
    block = x[N + k * hop: 2 * N + k * hop]
    inst = 4.0 * np.abs(np.fft.rfft(w * block))[:N // 2] / N
    if k + 1 > 3:
        peak = np.maximum(peak, inst)
        avg = (avg * R + inst) / (R + 1.0)
        avg = np.clip(avg, 1e-11, 1.0)
        peak = np.clip(peak, 1e-11, 1.0)
        peak = peak * linear_fall
    k += 1
print(k)
for b in range(first, last + 1):
    print(b, '%.17g' % inst[b], '%.17g' % avg[b], '%.17g' % peak[b])
)PY";

struct ReferenceCase {
    const char* name;
    std::uint32_t fftSize;
    float averageRate;
    float peakFall;
    std::vector<float> samples;
    std::uint32_t firstBin;
    std::uint32_t lastBin;
};

class SpectrumReference : public ::testing::TestWithParam<ReferenceCase> {};

// Instantaneous, average and peak of the live model match numpy's spectra of the same blocks
// and a float64 run of the nine-step collection, bin by bin, wherever a bin is within 60 dB of
// the largest; quieter bins agree to a small fraction of it.
TEST_P(SpectrumReference, MatchesNumpy) {
    const ReferenceCase& c = GetParam();
    QTemporaryFile file;
    ASSERT_TRUE(koru::test::writeSamples(file, c.samples));
    const auto reference = koru::test::runNumpy(
        QString::fromLatin1(kReferenceScript),
        {file.fileName(), QString::number(c.fftSize), QString::number(double(c.averageRate)),
         QString::number(double(c.peakFall)), QString::number(c.firstBin),
         QString::number(c.lastBin)});
    if (!reference.skipReason.isEmpty())
        GTEST_SKIP() << reference.skipReason.toStdString();
    ASSERT_TRUE(reference.error.isEmpty()) << reference.error.toStdString();
    ASSERT_EQ(reference.rows.size(), std::size_t(c.lastBin - c.firstBin + 2));

    auto wrapper = KOSpectrumAnalyzerWrapper::createWithFFTSize(c.fftSize);
    wrapper->setAvgRate(c.averageRate);
    wrapper->setPeakFallRate(c.peakFall);
    driveAndCollect(*wrapper, c.samples);
    ASSERT_EQ(double(wrapper->analyzer()->Analyses()), reference.rows[0][0]);

    const auto spectra = wrapper->copyOfSpectra();
    const std::vector<const KOFloatBuffer*> ours = {spectra.instantaneous.get(),
                                                    spectra.average.get(), spectra.peak.get()};
    for (const KOFloatBuffer* buffer : ours)
        EXPECT_FALSE(buffer->IsDecibel());
    for (std::size_t column = 1; column <= 3; ++column) {
        double largest = 0.0;
        for (std::size_t r = 1; r < reference.rows.size(); ++r)
            largest = std::max(largest, reference.rows[r][column]);
        for (std::size_t r = 1; r < reference.rows.size(); ++r) {
            const auto bin = std::uint32_t(reference.rows[r][0]);
            const double expected = reference.rows[r][column];
            const double actual = ours[column - 1]->Data()[bin];
            if (expected >= largest * 1e-3)
                EXPECT_NEAR(actual, expected, expected * 1e-4)
                    << "column " << column << " bin " << bin;
            else
                EXPECT_NEAR(actual, expected, largest * 1e-5)
                    << "column " << column << " bin " << bin;
        }
    }
}

constexpr std::uint32_t kSineBin = 100;

INSTANTIATE_TEST_SUITE_P(
    Signals, SpectrumReference,
    ::testing::Values(
        // A bin-centred sine of amplitude 0.5, averaged at the default rate and fall.
        ReferenceCase{"Sine", 8192, 25.0f, -0.3f,
                      koru::test::sine(60 * 1024, double(kSineBin) / 8192.0, 0.5), kSineBin - 3,
                      kSineBin + 3},
        // Noise at another size, rate and fall, compared over every bin but the packed DC one.
        ReferenceCase{"Noise", 16384, 10.0f, -1.0f, koru::test::noise(80 * 1024, 0.5, 7), 1, 8191}),
    [](const auto& info) { return std::string(info.param.name); });

// The numbers a sound engineer reads off the plot for a bin-centred sine of amplitude 0.5:
// -1.76 dB at its bin, -7.78 dB beside it, the average at 1 - (25/26)^k of the level after k
// averaged collections, the peak one fall step below it.
TEST(KOSpectrumAnalyzerWrapper, SineLevelsAverageAndPeakByHand) {
    const auto samples = koru::test::sine(40 * 1024, double(kSineBin) / 8192.0, 0.5);
    auto wrapper = KOSpectrumAnalyzerWrapper::createWithFFTSize(8192);
    driveAndCollect(*wrapper, samples);
    const auto spectra = wrapper->copyOfSpectra();
    const float* inst = spectra.instantaneous->Data();
    EXPECT_NEAR(20.0 * std::log10(inst[kSineBin]), -1.761, 0.005);
    EXPECT_NEAR(20.0 * std::log10(inst[kSineBin - 1]), -7.78, 0.005);
    EXPECT_NEAR(20.0 * std::log10(inst[kSineBin + 1]), -7.78, 0.005);

    const double averaged = double(wrapper->analyzer()->Analyses()) - 3.0;
    const double level = inst[kSineBin];
    EXPECT_NEAR(spectra.average->Data()[kSineBin], level * (1.0 - std::pow(25.0 / 26.0, averaged)),
                level * 1e-4);
    EXPECT_NEAR(spectra.peak->Data()[kSineBin], level * std::pow(10.0, -0.3 / 20.0), level * 1e-5);
}

// A bin above full scale (a rectangular window shows a full-scale sine at 2.0) stays as it is in
// the instantaneous spectrum and is held at 1.0 in average and peak (before the fall).
TEST(KOSpectrumAnalyzerWrapper, AverageAndPeakAreClippedAtOne) {
    const auto samples = koru::test::sine(30 * 1024, double(kSineBin) / 8192.0, 1.0);
    auto wrapper = KOSpectrumAnalyzerWrapper::createWithFFTSize(8192);
    wrapper->setWindowType(fourCC("rect"));
    wrapper->setAvgRate(0.0f);
    driveAndCollect(*wrapper, samples);
    const auto spectra = wrapper->copyOfSpectra();
    EXPECT_NEAR(spectra.instantaneous->Data()[kSineBin], 2.0f, 1e-4f);
    EXPECT_EQ(spectra.average->Data()[kSineBin], 1.0f);
    EXPECT_FLOAT_EQ(spectra.peak->Data()[kSineBin], wrapper->linearPeakFallRate());
}

// ---- collection order ----

TEST(KOSpectrumAnalyzerWrapper, AveragingWaitsForTheFourthSpectrumAndPausingKeepsCollecting) {
    auto wrapper = KOSpectrumAnalyzerWrapper::createWithFFTSize(8192);
    const auto samples = koru::test::sine(30 * 1024, double(kSineBin) / 8192.0, 0.5);
    OneChannelBlocks blocks(samples);
    KOSpectrumAnalyzer& analyzer = *wrapper->analyzer();
    std::size_t next = 0;
    // Blocks up to the third spectrum: the average and peak stay at their reset floor.
    while (analyzer.Analyses() < 3) {
        analyzer.Process(blocks.block(next++), OneChannelBlocks::kFrames);
        EXPECT_FALSE(wrapper->shouldCollect());
        wrapper->collect();
    }
    auto spectra = wrapper->copyOfSpectra();
    EXPECT_GT(spectra.instantaneous->Data()[kSineBin], 0.8f);
    EXPECT_EQ(spectra.average->Data()[kSineBin], KOSpectrumAnalyzerWrapper::kResetLevel);
    EXPECT_EQ(spectra.peak->Data()[kSineBin], KOSpectrumAnalyzerWrapper::kResetLevel);

    analyzer.Process(blocks.block(next++), OneChannelBlocks::kFrames);
    EXPECT_TRUE(wrapper->shouldCollect());
    wrapper->collect();
    EXPECT_FALSE(wrapper->shouldCollect()) << "nothing new after the collection";
    spectra = wrapper->copyOfSpectra();
    const float level = spectra.instantaneous->Data()[kSineBin];
    EXPECT_NEAR(spectra.average->Data()[kSineBin], level / 26.0f, level * 1e-5f);

    // Paused, every cycle collects the last spectrum again: the peak falls by one step per
    // collection towards it and the average converges to it.
    wrapper->setPeakFallRate(-2.0f);
    wrapper->setPause(true);
    EXPECT_TRUE(wrapper->pause());
    EXPECT_TRUE(analyzer.IsPaused());
    EXPECT_TRUE(wrapper->shouldCollect());
    const float fall = std::pow(10.0f, -0.1f);
    float previousAverage = wrapper->copyOfSpectra().average->Data()[kSineBin];
    for (int i = 0; i < 5; ++i) {
        wrapper->collect();
        spectra = wrapper->copyOfSpectra();
        EXPECT_FLOAT_EQ(spectra.peak->Data()[kSineBin], level * fall) << i;
        EXPECT_GT(spectra.average->Data()[kSineBin], previousAverage) << i;
        previousAverage = spectra.average->Data()[kSineBin];
    }
    wrapper->setPause(false);
    EXPECT_FALSE(wrapper->shouldCollect());
}

struct FallCase {
    float requested;
    float stored;
};

class PeakFallRate : public ::testing::TestWithParam<FallCase> {};

TEST_P(PeakFallRate, IsClampedToMinusTwoToZeroDecibels) {
    auto wrapper = KOSpectrumAnalyzerWrapper::createWithFFTSize(8192);
    wrapper->setPeakFallRate(GetParam().requested);
    EXPECT_EQ(wrapper->peakFallRate(), GetParam().stored);
    EXPECT_FLOAT_EQ(wrapper->linearPeakFallRate(), std::pow(10.0f, GetParam().stored / 20.0f));
}

INSTANTIATE_TEST_SUITE_P(Rates, PeakFallRate,
                         ::testing::Values(FallCase{3.0f, 0.0f}, FallCase{-5.0f, -2.0f},
                                           FallCase{-0.3f, -0.3f}, FallCase{-2.0f, -2.0f},
                                           FallCase{std::numeric_limits<float>::quiet_NaN(),
                                                    0.0f}));

// A new or restored model shows its empty average and peak at the floor, not at 0 dB: the reset
// floor is linear and must not carry the decibel flag of the size change before it.
TEST(KOSpectrumAnalyzerWrapper, ResetPeakLeavesLinearFloorNotZeroDecibels) {
    auto created = KOSpectrumAnalyzerWrapper::createWithFFTSize(16384);
    const auto restored = decode(KeyedArchiver::archivedData(*created));
    ASSERT_NE(restored, nullptr);
    for (KOSpectrumAnalyzerWrapper* wrapper : {created.get(), restored.get()}) {
        const auto spectra = wrapper->copyOfSpectra();
        for (const KOFloatBuffer* buffer : {spectra.average.get(), spectra.peak.get()}) {
            EXPECT_FALSE(buffer->IsDecibel());
            EXPECT_EQ(buffer->Data()[1000], KOSpectrumAnalyzerWrapper::kResetLevel);
        }
        const auto rows = exportRows(*wrapper);
        ASSERT_EQ(rows.size(), 8192u);
        EXPECT_NEAR(rows[1000][2], -220.0, 1e-3) << "Avg";
        EXPECT_NEAR(rows[1000][3], -220.0, 1e-3) << "Peak";
    }
}

// ---- FFT size: the buffers always have the analyser's own size ----

struct SizeCase {
    std::uint32_t requested;
    std::uint32_t expected; // from 16384
};

class FFTSizeRequest : public ::testing::TestWithParam<SizeCase> {};

TEST_P(FFTSizeRequest, BuffersFollowTheAnalysersSize) {
    koru::test::LogCapture log;
    koru::test::RecordingFFTDelegate delegate;
    auto wrapper = KOSpectrumAnalyzerWrapper::createWithFFTSize(16384);
    wrapper->setDelegate(&delegate);
    wrapper->setFFTSize(GetParam().requested);
    const std::uint32_t n = GetParam().expected;
    EXPECT_EQ(wrapper->FFTSize(), n);
    EXPECT_EQ(wrapper->analyzer()->FFTSize(), n);
    EXPECT_EQ(delegate.sizes, std::vector<std::uint32_t>{n});
    EXPECT_EQ(log.count("FFT size of"), GetParam().requested == n ? 0 : 1);
    const auto spectra = wrapper->copyOfSpectra();
    for (const KOFloatBuffer* buffer :
         {spectra.instantaneous.get(), spectra.peak.get(), spectra.average.get()})
        EXPECT_EQ(buffer->Length(), n);
    for (const KOFFTDrawingData* trace :
         {wrapper->drawingData(), wrapper->peakDrawingData(), wrapper->avgDrawingData()})
        EXPECT_EQ(trace->Buffer()->Length(), n);
    // The empty spectrum of a size change sits at the -144 dB floor.
    EXPECT_TRUE(spectra.average->IsDecibel());
    EXPECT_EQ(spectra.average->Data()[0], -144.0f);

    // The analyser's spectra of this size land in buffers of this size.
    driveAndCollect(*wrapper, koru::test::noise((2 * n + 4 * n / 8) / 1024 * 1024 + 1024, 0.5, 3));
    EXPECT_GT(wrapper->analyzer()->Analyses(), 3u);
    EXPECT_FALSE(wrapper->copyOfSpectra().average->IsDecibel());
}

INSTANTIATE_TEST_SUITE_P(Sizes, FFTSizeRequest,
                         ::testing::Values(SizeCase{8192, 8192}, SizeCase{65536, 65536},
                                           SizeCase{4096, 16384}, SizeCase{1024, 16384},
                                           SizeCase{131072, 16384}, SizeCase{12000, 16384},
                                           SizeCase{0, 16384}));

// ---- archive ----

TEST(KOSpectrumAnalyzerWrapper, ArchiveRoundTripKeepsEverySetting) {
    KOSpectrumAnalyzerWrapper::registerArchiveClasses();
    for (const char* locale : {"C", "de_DE.UTF-8"}) {
        koru::test::ScopedLocale scoped(locale);
        if (!scoped.active())
            GTEST_SKIP() << locale << " is not installed";
        auto original = KOSpectrumAnalyzerWrapper::createWithFFTSize(32768);
        original->setWindowType(fourCC("rect"));
        original->setAvgRate(31.5f);
        original->setPeakFallRate(-1.25f);
        original->setOctaveMode(12);
        original->setShow(false);
        original->setNotes(QStringLiteral("Bühne links, 1,5 m"));
        original->setColor(QColor::fromRgbF(0.25f, 0.5f, 0.75f, 1.0f), 2);
        original->setDrawingMode(KOFFTDrawingData::kFilled, 0);
        original->setDraws(false, 1);
        original->drawingDataForTrace(2)->setOffset(-96.0);
        original->drawingDataForTrace(0)->setInvert(true);
        original->drawingDataForTrace(1)->setShowDetails(true);
        const std::uint32_t channels = original->analyzer()->NumberOfChannels();
        const qint64 channel = channels > 1 ? 1 : 0;
        original->setInputChannel(channel);

        const auto copy = decode(KeyedArchiver::archivedData(*original));
        ASSERT_NE(copy, nullptr) << locale;
        EXPECT_EQ(copy->identifier(), original->identifier());
        EXPECT_EQ(copy->title(), original->title());
        EXPECT_EQ(copy->notes(), original->notes());
        EXPECT_EQ(copy->FFTSize(), 32768u);
        EXPECT_EQ(copy->analyzer()->FFTSize(), 32768u);
        EXPECT_EQ(copy->windowType(), fourCC("rect"));
        EXPECT_EQ(copy->avgRate(), 31.5f);
        EXPECT_EQ(copy->peakFallRate(), -1.25f);
        EXPECT_EQ(copy->octaveMode(), 12);
        EXPECT_FALSE(copy->show());
        EXPECT_EQ(copy->inputChannel(), channel);
        for (int trace = 0; trace < 3; ++trace) {
            const KOFFTDrawingData& a = *original->drawingDataForTrace(trace);
            const KOFFTDrawingData& b = *copy->drawingDataForTrace(trace);
            EXPECT_EQ(b.Color().rgba(), a.Color().rgba()) << locale << " trace " << trace;
            EXPECT_EQ(b.drawMode(), a.drawMode()) << trace;
            EXPECT_EQ(b.offset(), a.offset()) << trace;
            EXPECT_EQ(b.visible(), a.visible()) << trace;
            EXPECT_EQ(b.invert(), a.invert()) << trace;
            EXPECT_EQ(b.showDetails(), a.showDetails()) << trace;
        }
    }
}

struct DecodeCase {
    const char* name;
    QVariantMap keys; // beside "$class", "identifier" and "title"
    std::uint32_t fftSize;
    float averageRate;
    float peakFall;
    int octaveMode;
    bool show;
    int logLines;
};

class DecodedWrapper : public ::testing::TestWithParam<DecodeCase> {};

// Absent keys take the documented defaults; values that would break the measurement are
// replaced (with a log line) instead of being used.
TEST_P(DecodedWrapper, TakesDefaultsForAbsentAndUnusableValues) {
    KOSpectrumAnalyzerWrapper::registerArchiveClasses();
    const DecodeCase& c = GetParam();
    QVariantMap dictionary = c.keys;
    dictionary.insert(QStringLiteral("$class"), QStringLiteral("KOSpectrumAnalyzerWrapper"));
    dictionary.insert(QStringLiteral("identifier"), QStringLiteral("0A1B"));
    dictionary.insert(QStringLiteral("title"), QStringLiteral("Analyzer 7"));
    koru::test::LogCapture log;
    QString error;
    auto object = KeyedUnarchiver::decodeFromDictionary(dictionary, &error);
    auto* wrapper = dynamic_cast<KOSpectrumAnalyzerWrapper*>(object.get());
    ASSERT_NE(wrapper, nullptr) << error.toStdString();
    EXPECT_EQ(wrapper->FFTSize(), c.fftSize);
    EXPECT_EQ(wrapper->copyOfSpectra().instantaneous->Length(), c.fftSize);
    EXPECT_EQ(wrapper->avgRate(), c.averageRate);
    EXPECT_EQ(wrapper->peakFallRate(), c.peakFall);
    EXPECT_EQ(wrapper->octaveMode(), c.octaveMode);
    EXPECT_EQ(wrapper->show(), c.show);
    EXPECT_EQ(wrapper->inputChannel(), 0);
    EXPECT_EQ(wrapper->windowType(), fourCC("hann"));
    EXPECT_EQ(log.count("Spectrum: "), c.logLines);
}

INSTANTIATE_TEST_SUITE_P(Archives, DecodedWrapper,
                         ::testing::Values(DecodeCase{"Bare", {}, 16384, 0.0f, 0.0f, 3, true, 0},
                                           DecodeCase{"Zeros",
                                                      {{"FFTInstrumentBase.FFTSize", 0},
                                                       {"FFTInstrumentBase.OcatveMode", 0},
                                                       {"FFTInstrumentBase.WindowType", 0}},
                                                      16384,
                                                      0.0f,
                                                      0.0f,
                                                      3,
                                                      true,
                                                      0},
                                           DecodeCase{"SizeTheAnalyserRefuses",
                                                      {{"FFTInstrumentBase.FFTSize", 4096}},
                                                      16384,
                                                      0.0f,
                                                      0.0f,
                                                      3,
                                                      true,
                                                      1},
                                           DecodeCase{"NegativeAverageRate",
                                                      {{"SpectrumAnalyzer.AverageRate", -1.0}},
                                                      16384,
                                                      25.0f,
                                                      0.0f,
                                                      3,
                                                      true,
                                                      1},
                                           DecodeCase{"NaNAverageRate",
                                                      {{"SpectrumAnalyzer.AverageRate",
                                                        std::numeric_limits<double>::quiet_NaN()}},
                                                      16384,
                                                      25.0f,
                                                      0.0f,
                                                      3,
                                                      true,
                                                      1},
                                           DecodeCase{"NegativeChannel",
                                                      {{"SpectrumAnalyzer.InputChannel", -3}},
                                                      16384,
                                                      0.0f,
                                                      0.0f,
                                                      3,
                                                      true,
                                                      1},
                                           DecodeCase{"Extremes",
                                                      {{"FFTInstrumentBase.OcatveMode", 30},
                                                       {"SpectrumAnalyzer.PeakFallRate", 4.0},
                                                       {"FFTInstrumentBase.Show", false}},
                                                      16384,
                                                      0.0f,
                                                      0.0f,
                                                      24,
                                                      false,
                                                      0}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- export ----

// 16384 points at 48 kHz: 8192 rows, 2.9296875 Hz apart; a silent instantaneous spectrum and
// the empty -144 dB average and peak of a size change export at the -144 floor, never -inf.
TEST(KOSpectrumAnalyzerWrapper, ExportRowsFrequenciesAndSilenceFloor) {
    koru::test::RecordingFFTDelegate delegate;
    auto wrapper = KOSpectrumAnalyzerWrapper::createWithFFTSize(8192);
    wrapper->setDelegate(&delegate);
    wrapper->setFFTSize(16384);
    EXPECT_EQ(wrapper->headers(), (QStringList{QStringLiteral("f"), QStringLiteral("Inst"),
                                               QStringLiteral("Avg"), QStringLiteral("Peak")}));
    const auto rows = exportRows(*wrapper);
    ASSERT_EQ(rows.size(), 8192u);
    EXPECT_EQ(rows[0][0], 0.0);
    EXPECT_EQ(rows[1][0], 2.9296875);
    EXPECT_EQ(rows[8191][0], double(float(8191.0 / 16384.0 * 48000.0)));
    for (const auto& row : {rows[0], rows[4000], rows[8191]})
        for (std::size_t column = 1; column < 4; ++column)
            EXPECT_EQ(row[column], -144.0) << column;

    // A sine at bin 100 exports 20·log10 of its level; the spectra themselves stay linear.
    driveAndCollect(*wrapper, koru::test::sine(48 * 1024, 100.0 / 16384.0, 0.5));
    const auto sineRows = exportRows(*wrapper);
    const float level = wrapper->copyOfSpectra().instantaneous->Data()[100];
    EXPECT_FLOAT_EQ(float(sineRows[100][1]), 20.0f * std::log10(level));
    EXPECT_NEAR(sineRows[100][1], -1.761, 0.005);
    EXPECT_FALSE(wrapper->copyOfSpectra().instantaneous->IsDecibel());
    EXPECT_EQ(wrapper->exportRowCount(), std::optional<std::uint64_t>(0u)) << "copies released";
}

TEST(KOSpectrumAnalyzerWrapper, CsvColumnsCarryUnitsAndTheLocalesDecimalComma) {
    koru::test::ScopedLocale german("de_DE.UTF-8");
    if (!german.active())
        GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    koru::test::RecordingFFTDelegate delegate;
    auto wrapper = KOSpectrumAnalyzerWrapper::createWithFFTSize(16384);
    wrapper->setDelegate(&delegate);
    KODataExporter exporter(std::shared_ptr<KODataExporting>(std::move(wrapper)));
    exporter.setCsvSeparator(QStringLiteral(";"));
    exporter.setDecimalSeparator(QStringLiteral(","));
    const QStringList lines = exporter.csvPreviewString().split(QLatin1Char('\n'));
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(lines[0], QStringLiteral("f [Hz];Inst [dB];Avg [dB];Peak [dB]"));
    EXPECT_TRUE(lines[2].startsWith(QStringLiteral("2,9"))) << lines[2].toStdString();
    EXPECT_FALSE(lines[2].contains(QStringLiteral("inf"), Qt::CaseInsensitive));
}

TEST(KOSpectrumAnalyzerWrapper, TitlesCountUpAndTheIconIsSet) {
    auto first = KOSpectrumAnalyzerWrapper::createWithFFTSize(8192);
    auto second = KOSpectrumAnalyzerWrapper::createWithFFTSize(8192);
    ASSERT_TRUE(first->title().startsWith(QStringLiteral("Analyzer ")));
    const int n = first->title().mid(9).toInt();
    EXPECT_EQ(second->title(), QStringLiteral("Analyzer %1").arg(n + 1));
    EXPECT_FALSE(first->icon().isNull());
    EXPECT_TRUE(first->isEditable());
    EXPECT_EQ(first->inputChannel(), 0);
}

} // namespace
