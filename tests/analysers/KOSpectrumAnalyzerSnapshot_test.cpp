#include "analysers/KOSpectrumAnalyzerSnapshot.h"

#include "SpectrumTestSupport.h"
#include "analysers/KOSpectrumAnalyzerWrapper.h"
#include "app/LogCapture.h"
#include "engine/KOFloatBuffer.h"
#include "engine/KOSpectrumAnalyzer.h"
#include "framework/KOFFTDrawingData.h"
#include "platform/fourcc/FourCC.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

using koru::platform::fourCC;
using koru::platform::KeyedArchiver;
using koru::platform::KeyedUnarchiver;
using koru::test::OneChannelBlocks;

namespace {

std::vector<float> valuesOf(const KOFloatBuffer& buffer) {
    return {buffer.Data(), buffer.Data() + buffer.Length()};
}

// A live model that has measured noise long enough for average and peak to differ from the
// instantaneous spectrum.
std::unique_ptr<KOSpectrumAnalyzerWrapper> measuredWrapper(std::uint32_t size = 8192) {
    auto wrapper = KOSpectrumAnalyzerWrapper::createWithFFTSize(size);
    const auto samples = koru::test::noise((2 * size + 8 * size / 8) / 1024 * 1024 + 1024, 0.5, 11);
    OneChannelBlocks blocks(samples);
    for (std::size_t i = 0; i < blocks.blockCount(); ++i) {
        wrapper->analyzer()->Process(blocks.block(i), OneChannelBlocks::kFrames);
        wrapper->collect();
    }
    return wrapper;
}

std::unique_ptr<KOSpectrumAnalyzerSnapshot> decodeSnapshot(const QVariantMap& dictionary) {
    KOSpectrumAnalyzerWrapper::registerArchiveClasses();
    QString error;
    auto object = KeyedUnarchiver::decodeFromDictionary(dictionary, &error);
    auto* snapshot = dynamic_cast<KOSpectrumAnalyzerSnapshot*>(object.get());
    EXPECT_NE(snapshot, nullptr) << error.toStdString();
    if (snapshot == nullptr)
        return nullptr;
    object.release();
    return std::unique_ptr<KOSpectrumAnalyzerSnapshot>(snapshot);
}

void expectSameSpectra(KOSpectrumAnaWrapperBase& a, KOSpectrumAnaWrapperBase& b) {
    const auto x = a.copyOfSpectra();
    const auto y = b.copyOfSpectra();
    EXPECT_EQ(valuesOf(*x.instantaneous), valuesOf(*y.instantaneous));
    EXPECT_EQ(valuesOf(*x.peak), valuesOf(*y.peak));
    EXPECT_EQ(valuesOf(*x.average), valuesOf(*y.average));
    EXPECT_EQ(x.instantaneous->IsDecibel(), y.instantaneous->IsDecibel());
    EXPECT_EQ(x.peak->IsDecibel(), y.peak->IsDecibel());
    EXPECT_EQ(x.average->IsDecibel(), y.average->IsDecibel());
}

TEST(KOSpectrumAnalyzerSnapshot, FreezesTheLiveSpectraAndSettings) {
    auto wrapper = measuredWrapper();
    wrapper->setDrawPeak(false);
    wrapper->setOctaveMode(6);
    wrapper->setAccumulationMode(fourCC("pink"));
    wrapper->setWindowType(fourCC("rect"));
    const auto snapshot = KOSpectrumAnalyzerSnapshot::createWithWrapper(*wrapper);

    EXPECT_EQ(snapshot->title(), QStringLiteral("Snapshot ") + wrapper->title());
    EXPECT_TRUE(snapshot->notes().startsWith(
        QStringLiteral("Snapshot of %1, created ").arg(wrapper->title())))
        << snapshot->notes().toStdString();
    EXPECT_GT(snapshot->notes().size(),
              QStringLiteral("Snapshot of , created ").size() + wrapper->title().size());
    EXPECT_EQ(snapshot->FFTSize(), 8192u);
    expectSameSpectra(*snapshot, *wrapper);
    EXPECT_FALSE(snapshot->drawPeak());
    EXPECT_TRUE(snapshot->drawAverage());
    EXPECT_EQ(snapshot->octaveMode(), 6);
    EXPECT_EQ(snapshot->accumulationMode(), fourCC("pink"));
    EXPECT_EQ(snapshot->windowType(), fourCC("hann"));
    EXPECT_EQ(snapshot->inputChannel(), -1);
    EXPECT_FALSE(snapshot->isEditable());
    EXPECT_TRUE(snapshot->shouldCollect());

    // The live model goes on; the snapshot does not follow.
    const auto frozen = snapshot->copyOfSpectra();
    wrapper->setPause(true);
    wrapper->collect();
    snapshot->collect();
    EXPECT_EQ(valuesOf(*snapshot->copyOfSpectra().peak), valuesOf(*frozen.peak));
    EXPECT_NE(valuesOf(*wrapper->copyOfSpectra().peak), valuesOf(*frozen.peak));
}

// A snapshot taken while the collector runs holds one collection's spectra, never a buffer half
// written. The peak is made the same in every bin: a loud impulse holds it at full scale (no
// fall), then silence leaves the analyser's spectrum at exactly zero, and the paused collector
// lets the peak fall by one step per collection, bit for bit alike in every bin. A copy taken in
// the middle of a collection would hold two different values.
TEST(KOSpectrumAnalyzerSnapshot, CopiesUnderTheLiveModelsLock) {
    constexpr std::uint32_t kSize = 65536;
    auto wrapper = KOSpectrumAnalyzerWrapper::createWithFFTSize(kSize);
    wrapper->setPeakFallRate(0.0f);
    std::vector<float> samples(3 * kSize, 0.0f);
    samples[3 * kSize / 2] = 1e5f;
    OneChannelBlocks blocks(samples);
    for (std::size_t i = 0; i < blocks.blockCount(); ++i) {
        wrapper->analyzer()->Process(blocks.block(i), OneChannelBlocks::kFrames);
        wrapper->collect();
    }
    ASSERT_EQ(wrapper->copyOfSpectra().peak->Data()[123], 1.0f);
    wrapper->setPause(true);
    wrapper->setPeakFallRate(-0.01f);

    constexpr int kMostCollections = 8000;
    constexpr int kMostSnapshots = 200;
    std::atomic<bool> stop{false};
    std::atomic<int> collected{0};
    std::thread collector([&] {
        for (int i = 0; i < kMostCollections && !stop.load(); ++i) {
            wrapper->collect();
            collected.fetch_add(1);
        }
    });
    while (collected.load() == 0)
        std::this_thread::yield();
    int snapshots = 0;
    int torn = 0;
    float lastPeak = 1.0f;
    while (snapshots < kMostSnapshots && collected.load() < kMostCollections) {
        const auto snapshot = KOSpectrumAnalyzerSnapshot::createWithWrapper(*wrapper);
        ++snapshots;
        const auto spectra = snapshot->copyOfSpectra();
        const float* peak = spectra.peak->Data();
        const std::uint32_t bins = spectra.peak->Length() / 2;
        if (std::count(peak, peak + bins, peak[0]) != std::ptrdiff_t(bins))
            ++torn;
        lastPeak = peak[0];
    }
    stop.store(true);
    collector.join();
    EXPECT_LT(lastPeak, 1.0f) << "the peak fell while the snapshots were taken";
    EXPECT_EQ(torn, 0) << "of " << snapshots << " snapshots, over " << collected.load()
                       << " collections";
}

TEST(KOSpectrumAnalyzerSnapshot, ArchiveRoundTripKeepsSpectraAndTheirFlags) {
    KOSpectrumAnalyzerWrapper::registerArchiveClasses();
    auto wrapper = measuredWrapper(16384);
    const auto measured = KOSpectrumAnalyzerSnapshot::createWithWrapper(*wrapper);
    // Just after a size change average and peak are already decibels: they must come back
    // flagged, so nothing converts them a second time.
    wrapper->setFFTSize(16384);
    const auto empty = KOSpectrumAnalyzerSnapshot::createWithWrapper(*wrapper);
    ASSERT_TRUE(empty->copyOfSpectra().average->IsDecibel());
    ASSERT_FALSE(measured->copyOfSpectra().average->IsDecibel());
    for (const char* locale : {"C", "de_DE.UTF-8"}) {
        koru::test::ScopedLocale scoped(locale);
        if (!scoped.active())
            GTEST_SKIP() << locale << " is not installed";
        for (KOSpectrumAnalyzerSnapshot* original : {measured.get(), empty.get()}) {
            QString error;
            auto object =
                KeyedUnarchiver::unarchive(KeyedArchiver::archivedData(*original), &error);
            auto* copy = dynamic_cast<KOSpectrumAnalyzerSnapshot*>(object.get());
            ASSERT_NE(copy, nullptr) << error.toStdString();
            EXPECT_EQ(copy->title(), original->title());
            EXPECT_EQ(copy->notes(), original->notes());
            EXPECT_EQ(copy->FFTSize(), 16384u);
            expectSameSpectra(*copy, *original);
            // The traces draw the decoded buffers.
            const auto spectra = copy->copyOfSpectra();
            EXPECT_EQ(valuesOf(*copy->drawingData()->Buffer()), valuesOf(*spectra.instantaneous));
            EXPECT_EQ(valuesOf(*copy->avgDrawingData()->Buffer()), valuesOf(*spectra.average));
            EXPECT_EQ(valuesOf(*copy->peakDrawingData()->Buffer()), valuesOf(*spectra.peak));
        }
    }
}

struct SnapshotDamage {
    const char* name;
    const char* key;
    QVariant value; // invalid: the key is removed
};

class DamagedSnapshot : public ::testing::TestWithParam<SnapshotDamage> {};

// A missing or wrongly sized spectrum restores as silence of the snapshot's size (with a log
// line); the other two keep their values.
TEST_P(DamagedSnapshot, RestoresTheRestAndSilencesTheDamagedSpectrum) {
    auto wrapper = measuredWrapper();
    const auto original = KOSpectrumAnalyzerSnapshot::createWithWrapper(*wrapper);
    QVariantMap dictionary = KeyedArchiver::encodeToDictionary(*original);
    const QString key = QString::fromLatin1(GetParam().key);
    if (GetParam().value.isValid())
        dictionary.insert(key, GetParam().value);
    else
        dictionary.remove(key);

    koru::test::LogCapture log;
    const auto copy = decodeSnapshot(dictionary);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(log.count(key.toStdString()), 1);
    const auto ours = copy->copyOfSpectra();
    const auto theirs = original->copyOfSpectra();
    const std::pair<const char*, std::pair<KOFloatBuffer*, KOFloatBuffer*>> buffers[] = {
        {KOSpectrumAnalyzerSnapshot::kInstantaneousKey,
         {ours.instantaneous.get(), theirs.instantaneous.get()}},
        {KOSpectrumAnalyzerSnapshot::kAverageKey, {ours.average.get(), theirs.average.get()}},
        {KOSpectrumAnalyzerSnapshot::kPeakKey, {ours.peak.get(), theirs.peak.get()}}};
    for (const auto& [name, pair] : buffers) {
        ASSERT_EQ(pair.first->Length(), 8192u) << name;
        if (key == QLatin1String(name))
            EXPECT_EQ(valuesOf(*pair.first), std::vector<float>(8192, 0.0f)) << name;
        else
            EXPECT_EQ(valuesOf(*pair.first), valuesOf(*pair.second)) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Damage, DamagedSnapshot,
    ::testing::Values(SnapshotDamage{"MissingAverage", "avg.fftsnapshot", QVariant()},
                      SnapshotDamage{"ShortPeak", "peak.fftsnapshot",
                                     QVariant(QByteArray(4 * 4096, '\0'))},
                      SnapshotDamage{"InstantaneousNotData", "inst.fftsnapshot",
                                     QVariant(QStringLiteral("garbage"))}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(KOSpectrumAnalyzerSnapshot, ANewSizeEmptiesItsSpectra) {
    auto wrapper = measuredWrapper();
    const auto snapshot = KOSpectrumAnalyzerSnapshot::createWithWrapper(*wrapper);
    snapshot->setFFTSize(32768);
    const auto spectra = snapshot->copyOfSpectra();
    EXPECT_EQ(spectra.instantaneous->Length(), 32768u);
    EXPECT_EQ(valuesOf(*spectra.instantaneous), std::vector<float>(32768, 0.0f));
    EXPECT_EQ(valuesOf(*spectra.peak), std::vector<float>(32768, -144.0f));
    EXPECT_TRUE(spectra.peak->IsDecibel());
    EXPECT_EQ(snapshot->peakDrawingData()->Buffer()->Length(), 32768u);
}

} // namespace
