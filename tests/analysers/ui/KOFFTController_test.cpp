#include "AnalyserTestSupport.h"

#include "analysers/KOSpectrumAnalyzerSnapshot.h"
#include "analysers/KOSpectrumAnalyzerWrapper.h"
#include "analysers/ui/DoubleSlider.h"
#include "analysers/ui/KOFFTController.h"
#include "analysers/ui/KOFFTView.h"
#include "app/LogCapture.h"
#include "engine/KOFloatBuffer.h"
#include "engine/KOSpectrumAnalyzer.h"
#include "framework/KOColorAdditions.h"
#include "framework/KOFFTDrawingData.h"
#include "framework/KOMenuAdditions.h"
#include "platform/fourcc/FourCC.h"
#include "platform/plist/PropertyList.h"

#include <QAction>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QMenu>
#include <QTableView>

#include <gtest/gtest.h>

#include <cmath>

using koru::analysers::DoubleSlider;
using koru::platform::fourCC;
using koru::platform::PlistFormat;
using koru::platform::PropertyList;
using koru::test::csvExport;
using koru::test::LogCapture;
using koru::test::SineInput;

namespace {

constexpr std::uint32_t kWhite = fourCC("whit");
constexpr std::uint32_t kPink = fourCC("pink");
constexpr std::uint32_t kPeak = fourCC("peak");

class SpectrumWindow : public ::testing::Test {
protected:
    void SetUp() override { SineInput::shared(); }

    std::unique_ptr<KOFFTController> make(const QVariantMap* dictionary = nullptr) {
        return KOInstrumentController::create<KOFFTController>(KOFFTController::kNibName,
                                                               dictionary, &delegate);
    }
    // Through the registry, as a session restores it.
    std::unique_ptr<KOFFTController> restore(const QVariantMap& dictionary) {
        auto restored = koru::test::analyserRegistry().createFromDictionary(dictionary, &delegate);
        auto* window = dynamic_cast<KOFFTController*>(restored.get());
        EXPECT_NE(window, nullptr);
        if (!window)
            return nullptr;
        restored.release();
        return std::unique_ptr<KOFFTController>(window);
    }
    static std::shared_ptr<KOSpectrumAnalyzerWrapper> live(const KOFFTController& window, int row) {
        return std::dynamic_pointer_cast<KOSpectrumAnalyzerWrapper>(window.instrumentAt(row));
    }
    static std::shared_ptr<KOSpectrumAnaWrapperBase> spectrum(const KOFFTController& window,
                                                              int row) {
        return std::dynamic_pointer_cast<KOSpectrumAnaWrapperBase>(window.instrumentAt(row));
    }
    static QString csvOf(const std::shared_ptr<KOInstrumentWrapper>& model) {
        auto source = std::dynamic_pointer_cast<KODataExporting>(model);
        return source ? csvExport(source) : QString();
    }
    static QAction* itemTitled(const QMenu& menu, const QString& title) {
        for (QAction* item : menu.actions()) {
            if (item->text() == title)
                return item;
        }
        return nullptr;
    }

    koru::test::QuietDelegate delegate;
};

TEST_F(SpectrumWindow, ANewWindowHasOneBlueAnalyserOf16384PointsWithPinkNoiseFlat) {
    auto window = make();
    EXPECT_EQ(window->name(), "Spectrum Analyzer");
    ASSERT_EQ(window->instrumentCount(), 1);
    const auto model = live(*window, 0);
    ASSERT_NE(model, nullptr);
    EXPECT_TRUE(model->title().startsWith("Analyzer ")) << model->title().toStdString();
    EXPECT_EQ(model->FFTSize(), 16384u);
    EXPECT_EQ(model->windowType(), fourCC("hann"));
    EXPECT_EQ(model->colorForTrace(0).rgb(), KOColorAdditions::noBlueColor().rgb());
    EXPECT_EQ(model->delegate(), window.get());
    EXPECT_FLOAT_EQ(model->avgRate(), 25.0f);
    EXPECT_FLOAT_EQ(model->peakFallRate(), -0.3f);
    EXPECT_EQ(window->accumulationMode(), kPink);
    EXPECT_EQ(model->accumulationMode(), kPink);

    const KOFFTView* view = window->spectrumView();
    EXPECT_EQ(view->getLowerMagBound(), -96.0f);
    EXPECT_EQ(view->getUpperMagBound(), -10.0f);
    EXPECT_EQ(view->magMin(), -144.0f);
    EXPECT_EQ(view->magMax(), 0.0f);
    EXPECT_EQ(view->getLowerFBound(), 50.0f);
    EXPECT_EQ(view->getUpperFBound(), 24000.0f);
    EXPECT_EQ(view->fftSize(), 16384u);
    EXPECT_EQ(window->octaveResolution(), 3);
    EXPECT_TRUE(window->isInDataCollectorThread());
    EXPECT_EQ(window->selectedInstrument(), window->instrumentAt(0));
    EXPECT_EQ(window->instrumentWindow()->minimumSize(), QSize(222, 123));
    EXPECT_DOUBLE_EQ(window->avgRateSlider()->doubleValue(), 1.39794);
    EXPECT_DOUBLE_EQ(window->peakFallRateSlider()->doubleValue(), -0.3);
    EXPECT_EQ(window->linkableViewParameters(), (QStringList{"Frequency", "Magnitude"}));
}

// The saved keys of the window itself: absent or damaged values give the defaults, the damaged
// ones with a log line, and none of them stops the restore.
TEST_F(SpectrumWindow, SavedSettingsRestoreAndDamagedOnesTakeTheDefaults) {
    struct Case {
        const char* what;
        QVariant accumulation; // invalid: key removed
        QVariant resolution;
        std::uint32_t expectedAccumulation;
        int expectedResolution;
        const char* logged; // "" when nothing must be logged
    };
    const Case cases[] = {
        {"saved values", qint64(kPeak), 12, kPeak, 12, ""},
        {"no accumulation mode", {}, 6, kWhite, 6, ""},
        {"unknown accumulation mode", qint64(fourCC("abcd")), 6, kWhite, 6,
         "unknown accumulation mode"},
        {"accumulation mode as text", "loud", 6, kWhite, 6, "unknown accumulation mode"},
        {"no resolution", qint64(kPink), {}, kPink, 3, ""},
        {"resolution 0", qint64(kPink), 0, kPink, 3, ""},
        {"resolution 30", qint64(kPink), 30, kPink, 24, "octave resolution 30 out of range"},
        {"resolution -5", qint64(kPink), -5, kPink, 1, "octave resolution -5 out of range"},
    };
    auto original = make();
    for (const Case& c : cases) {
        QVariantMap saved = original->dictionaryRepresentation();
        // The plot's own copy of the resolution would override the window's.
        QVariantMap view = saved.value("FFTBase.View.Settings").toMap();
        view.remove("FFTView.octaveMode");
        saved.insert("FFTBase.View.Settings", view);
        for (auto [key, value] : {std::pair{"FFT.accumulationMode", c.accumulation},
                                  std::pair{"fftbase.octaveresolution", c.resolution}}) {
            if (value.isValid())
                saved.insert(key, value);
            else
                saved.remove(key);
        }
        LogCapture log;
        auto window = restore(saved);
        ASSERT_NE(window, nullptr) << c.what;
        EXPECT_EQ(window->accumulationMode(), c.expectedAccumulation) << c.what;
        EXPECT_EQ(spectrum(*window, 0)->accumulationMode(), c.expectedAccumulation) << c.what;
        EXPECT_EQ(window->octaveResolution(), c.expectedResolution) << c.what;
        if (*c.logged) {
            EXPECT_EQ(log.count(c.logged), 1) << c.what;
        }
        EXPECT_EQ(log.count("unknown accumulation mode") + log.count("out of range"),
                  *c.logged ? 1 : 0)
            << c.what;
        EXPECT_TRUE(window->isInDataCollectorThread()) << c.what;
    }
}

// A model archived with an FFT size, window or colour the program cannot use comes back as a
// working analyser with the defaults.
TEST_F(SpectrumWindow, DamagedModelsRestoreAsWorkingAnalysersWithTheDefaults) {
    auto original = make();
    QVariantMap saved = original->dictionaryRepresentation();
    auto archive = PropertyList::parse(saved.value("instrumentData").toByteArray());
    ASSERT_TRUE(archive.ok());
    QVariantMap root = archive.value.toMap();
    QVariantList objects = root.value("objects").toList();
    ASSERT_EQ(objects.size(), 1);
    QVariantMap model = objects[0].toMap();
    model.insert("FFTInstrumentBase.FFTSize", 4096);
    model.insert("FFTInstrumentBase.WindowType", qint64(fourCC("xxxx")));
    QVariantMap trace = model.value("FFTInstrumentBase.FFTDrawData.1").toMap();
    trace.insert("DrawingData.Color", QVariantMap{{"r", "red"}, {"g", -4.0}});
    model.insert("FFTInstrumentBase.FFTDrawData.1", trace);
    objects[0] = model;
    root.insert("objects", objects);
    saved.insert("instrumentData", PropertyList::serialize(root, PlistFormat::Binary));

    LogCapture log;
    auto window = restore(saved);
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(window->instrumentCount(), 1);
    const auto restored = live(*window, 0);
    ASSERT_NE(restored, nullptr);
    EXPECT_EQ(restored->FFTSize(), 16384u);
    EXPECT_EQ(restored->analyzer()->FFTSize(), 16384u);
    EXPECT_EQ(restored->windowType(), fourCC("hann"));
    EXPECT_TRUE(restored->colorForTrace(0).isValid());
    EXPECT_GE(log.count("4096"), 1) << "the refused size is not logged";

    // It measures: the sine shows at its bin (the first spectrum comes after twice the size).
    SineInput::shared().pump(34);
    EXPECT_NEAR(restored->copyOfSpectra().instantaneous->Data()[SineInput::kBin], 0.8165f, 1e-3f);

    // A window none of whose models can be read measures as a new one does.
    for (const QVariant& lost : {QVariant(), QVariant(QByteArray("garbage"))}) {
        QVariantMap empty = original->dictionaryRepresentation();
        if (lost.isValid())
            empty.insert("instrumentData", lost);
        else
            empty.remove("instrumentData");
        LogCapture emptyLog;
        auto window = restore(empty);
        ASSERT_NE(window, nullptr);
        ASSERT_EQ(window->instrumentCount(), 1);
        const auto analyser = live(*window, 0);
        ASSERT_NE(analyser, nullptr);
        EXPECT_EQ(analyser->FFTSize(), 16384u);
        EXPECT_EQ(analyser->delegate(), window.get());
        EXPECT_EQ(emptyLog.count("no analyser restored, a new one is made"), 1);
    }
}

TEST_F(SpectrumWindow, PausingTheWindowPausesEveryModel) {
    auto window = make();
    window->addAnalyzer();
    window->setPause(true);
    EXPECT_TRUE(window->pause());
    EXPECT_TRUE(live(*window, 0)->pause());
    EXPECT_TRUE(live(*window, 1)->analyzer()->IsPaused());
    window->setPause(false);
    EXPECT_FALSE(live(*window, 1)->pause());
    EXPECT_TRUE(window->drawPauseIcon());
}

TEST_F(SpectrumWindow, TheSlidersSetEveryModelAndNewAnalysersTakeTheWindowsSettings) {
    auto window = make();
    window->addAnalyzer();
    window->createSnapshotOfSelectedWrappers();
    ASSERT_EQ(window->instrumentCount(), 4);

    window->avgRateSlider()->setDoubleValue(2.0);
    window->setAvgRate();
    window->peakFallRateSlider()->setDoubleValue(-1.25);
    window->setPeakFallRate();
    window->setAccumulationMode(kPeak);
    for (int row = 0; row < window->instrumentCount(); ++row) {
        EXPECT_FLOAT_EQ(spectrum(*window, row)->avgRate(), 100.0f) << row;
        EXPECT_FLOAT_EQ(spectrum(*window, row)->peakFallRate(), -1.25f) << row;
        EXPECT_EQ(spectrum(*window, row)->accumulationMode(), kPeak) << row;
    }

    // The slider moved by the user reports through the same action.
    window->peakFallRateSlider()->setValue(0);
    EXPECT_FLOAT_EQ(spectrum(*window, 0)->peakFallRate(), -2.0f);

    window->addAnalyzer();
    const auto added = live(*window, window->instrumentCount() - 1);
    ASSERT_NE(added, nullptr);
    EXPECT_FLOAT_EQ(added->avgRate(), 100.0f) << "a new analyser ignored the averaging slider";
    EXPECT_FLOAT_EQ(added->peakFallRate(), -2.0f);
    EXPECT_EQ(added->accumulationMode(), kPeak);
    EXPECT_EQ(added->delegate(), window.get());
}

TEST_F(SpectrumWindow, AnalysersTakeTheFirstFreeNameAndSnapshotsAreMadeOfLiveOnesOnly) {
    auto window = make();
    window->instrumentAt(0)->setTitle("Analyzer 1");
    window->addAnalyzer();
    EXPECT_EQ(window->instrumentAt(1)->title(), "Analyzer 2");
    window->createSnapshotOfSelectedWrappers();
    ASSERT_EQ(window->instrumentCount(), 4);
    EXPECT_EQ(window->instrumentAt(2)->title(), "Snapshot Analyzer 1");
    EXPECT_EQ(window->instrumentAt(3)->title(), "Snapshot Analyzer 2");

    // Two live analysers and two snapshots: two more snapshots.
    window->createSnapshotOfSelectedWrappers();
    EXPECT_EQ(window->instrumentCount(), 6);
    for (int row = 2; row < 6; ++row) {
        EXPECT_NE(std::dynamic_pointer_cast<KOSpectrumAnalyzerSnapshot>(window->instrumentAt(row)),
                  nullptr);
        EXPECT_EQ(spectrum(*window, row)->delegate(), window.get());
    }
    // The shortcut of the window menu makes them.
    QAction* make = itemTitled(*window->instrumentMenu(), "Make Snapshots");
    ASSERT_NE(make, nullptr);
    EXPECT_EQ(make->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_T));
    make->trigger();
    EXPECT_EQ(window->instrumentCount(), 8);
}

TEST_F(SpectrumWindow, TheWindowMenuActsOnTheModelItNames) {
    auto window = make();
    window->addAnalyzer();
    QMenu* menu = window->instrumentMenu();
    emit menu->aboutToShow();
    QAction* analyzers = KOMenuAdditions::itemWithTag(*menu, fourCC("wrap"));
    ASSERT_NE(analyzers, nullptr);
    ASSERT_NE(analyzers->menu(), nullptr);
    EXPECT_NE(KOMenuAdditions::itemWithTag(*menu, fourCC("accu")), nullptr);
    EXPECT_NE(KOMenuAdditions::itemWithTag(*menu, fourCC("oct ")), nullptr);
    const QList<QAction*> entries = analyzers->menu()->actions();
    ASSERT_EQ(entries.size(), 4); // two models, a separator, "Add Analyzer"
    EXPECT_EQ(entries[3]->text(), "Add Analyzer");
    EXPECT_EQ(KOMenuItemAdditions::tag(*entries[0]), qint64(window->instrumentAt(0)->hash()));

    // The second model's submenu.
    QMenu* second = entries[1]->menu();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->title(), window->instrumentAt(1)->title());
    const auto model = live(*window, 1);
    const auto other = live(*window, 0);

    // "Average" toggles that model's average trace and nothing else.
    QAction* average = itemTitled(*second, "Average");
    ASSERT_NE(average, nullptr);
    EXPECT_TRUE(average->isChecked());
    average->trigger();
    EXPECT_FALSE(model->drawAverage());
    EXPECT_TRUE(model->drawInstantaneous());
    EXPECT_TRUE(model->drawPeak());
    EXPECT_TRUE(other->drawAverage());
    itemTitled(*second, "Peak")->trigger();
    EXPECT_FALSE(model->drawPeak());
    EXPECT_TRUE(model->drawInstantaneous());

    // FFT size and window of that model only; the settings' pop-ups show the selected one's.
    window->instrumentsTableView()->selectRow(1);
    QAction* sizes = itemTitled(*second, "FFT Size");
    ASSERT_NE(sizes, nullptr);
    KOMenuAdditions::itemWithTag(*sizes->menu(), 65536)->trigger();
    EXPECT_EQ(model->FFTSize(), 65536u);
    EXPECT_EQ(model->analyzer()->FFTSize(), 65536u);
    EXPECT_EQ(other->FFTSize(), 16384u);
    EXPECT_EQ(window->fftSizePopUpButton()->currentData().toLongLong(), 65536);
    QAction* windows = itemTitled(*second, "Window Type");
    KOMenuAdditions::itemWithTag(*windows->menu(), fourCC("blkm"))->trigger();
    EXPECT_EQ(model->windowType(), fourCC("blkm"));
    EXPECT_EQ(other->windowType(), fourCC("hann"));
    EXPECT_EQ(window->windowTypePopUpButton()->currentData().toLongLong(), fourCC("blkm"));
    window->instrumentsTableView()->selectRow(0);
    EXPECT_EQ(window->fftSizePopUpButton()->currentData().toLongLong(), 16384);

    // Its channel.
    QAction* channels = itemTitled(*second, "Input Channel");
    ASSERT_NE(channels, nullptr);
    KOMenuAdditions::itemWithTag(*channels->menu(), 1)->trigger();
    EXPECT_EQ(model->inputChannel(), 1);
    EXPECT_EQ(other->inputChannel(), 0);

    // A menu built for a model that has left the list acts on nothing.
    window->removeFFTModel(model.get());
    KOMenuAdditions::itemWithTag(*sizes->menu(), 8192)->trigger();
    EXPECT_EQ(model->FFTSize(), 65536u);
    EXPECT_EQ(other->FFTSize(), 16384u);

    // The accumulation submenu.
    QAction* accumulation = KOMenuAdditions::itemWithTag(*menu, fourCC("accu"));
    KOMenuAdditions::itemWithTag(*accumulation->menu(), kWhite)->trigger();
    EXPECT_EQ(window->accumulationMode(), kWhite);
    emit menu->aboutToShow();
    EXPECT_TRUE(KOMenuAdditions::itemWithTag(*accumulation->menu(), kWhite)->isChecked());
}

TEST_F(SpectrumWindow, TheLastModelAndAWholeSelectionAreNeverRemoved) {
    auto window = make();
    window->removeSelectedAnalyzer();
    EXPECT_EQ(window->instrumentCount(), 1);

    window->addAnalyzer();
    window->instrumentsTableView()->selectAll();
    window->removeSelectedAnalyzer();
    EXPECT_EQ(window->instrumentCount(), 2);

    window->instrumentsTableView()->selectRow(1);
    const auto leaving = live(*window, 1);
    window->removeSelectedAnalyzer();
    ASSERT_EQ(window->instrumentCount(), 1);
    EXPECT_EQ(leaving->delegate(), nullptr) << "a removed model still reports to the window";
}

// A sine through the virtual input, end to end: the analyser measures, the window's collection
// copies the spectra out, and the export shows them.
TEST_F(SpectrumWindow, ASineShowsAtItsBinInTheInstantaneousAverageAndPeakSpectra) {
    auto window = make();
    window->addAnalyzer();
    const auto first = live(*window, 0);
    const auto second = live(*window, 1);
    second->setInputChannel(1);
    window->resetPeak();

    // The first spectrum after 2N frames, then one every N/8.
    SineInput::shared().pump(56);
    const std::uint32_t spectra = first->analyzer()->Analyses();
    ASSERT_EQ(spectra, 13u);
    ASSERT_EQ(second->analyzer()->Analyses(), spectra);

    // The analyser's convention: a bin-centred sine of amplitude a reads 1.633·a with the Hann
    // window (twice the amplitude, over the window's unit RMS gain).
    const double fall = std::pow(10.0, -0.3 / 20.0);
    const double kept = std::pow(25.0 / 26.0, double(spectra - 3));
    struct Case {
        std::shared_ptr<KOSpectrumAnalyzerWrapper> model;
        std::uint32_t bin;
        double amplitude;
    };
    for (const Case& c : {Case{first, SineInput::kBin, SineInput::kAmplitude},
                          Case{second, SineInput::kSecondBin, SineInput::kSecondAmplitude}}) {
        const double level = 1.633 * c.amplitude;
        const auto copies = c.model->copyOfSpectra();
        const auto& inst = copies.instantaneous;
        const auto& average = copies.average;
        const auto& peak = copies.peak;
        EXPECT_NEAR(inst->Data()[c.bin], level, level * 1e-3) << c.bin;
        EXPECT_NEAR(average->Data()[c.bin], level * (1.0 - kept), level * 1e-3) << c.bin;
        EXPECT_NEAR(peak->Data()[c.bin], level * fall, level * 1e-3) << c.bin;
        // Far from the sine the Hann leakage is gone.
        EXPECT_LT(inst->Data()[c.bin + 40], level * 1e-4) << c.bin;

        // The exported row of the bin: f, Inst, Avg, Peak in dB.
        const QStringList lines = csvOf(c.model).split('\n');
        ASSERT_GT(lines.size(), qsizetype(c.bin + 1));
        EXPECT_EQ(lines[0], "f [Hz],Inst [dB],Avg [dB],Peak [dB]");
        const QStringList row = lines[c.bin + 1].split(',');
        ASSERT_EQ(row.size(), 4) << lines[c.bin + 1].toStdString();
        EXPECT_NEAR(row[1].toDouble(), 20.0 * std::log10(level), 0.06);
        EXPECT_NEAR(row[2].toDouble(), 20.0 * std::log10(level * (1.0 - kept)), 0.06);
        EXPECT_NEAR(row[3].toDouble(), 20.0 * std::log10(level * fall), 0.06);
    }
}

// Sessions: what a window saves, the registry restores, and both windows then measure and export
// alike; snapshots keep the spectra they froze.
TEST_F(SpectrumWindow, ASessionRoundTripExportsTheSameData) {
    auto original = make();
    original->addAnalyzer();
    const auto tuned = live(*original, 1);
    original->setFFTSizeOfModel(*tuned, 32768);
    tuned->setWindowType(fourCC("blkm"));
    tuned->setInputChannel(1);
    original->avgRateSlider()->setDoubleValue(2.0);
    original->setAvgRate();
    original->peakFallRateSlider()->setDoubleValue(-1.0);
    original->setPeakFallRate();
    original->setAccumulationMode(kPeak);
    original->setOctaveResolution(12);
    original->spectrumView()->setLoMagLimit(-90.0f);
    original->spectrumView()->setHiFrequencyBound(12500.0f);

    auto restored = restore(original->dictionaryRepresentation());
    ASSERT_NE(restored, nullptr);
    ASSERT_EQ(restored->instrumentCount(), 2);
    EXPECT_EQ(restored->name(), original->name());
    EXPECT_EQ(restored->accumulationMode(), kPeak);
    EXPECT_EQ(restored->octaveResolution(), 12);
    EXPECT_EQ(restored->spectrumView()->settingsAsDictionary(),
              original->spectrumView()->settingsAsDictionary());
    EXPECT_DOUBLE_EQ(restored->avgRateSlider()->doubleValue(), 2.0);
    EXPECT_DOUBLE_EQ(restored->peakFallRateSlider()->doubleValue(), -1.0);

    // Both hear the same input from here on: their exports agree value for value.
    original->resetAll();
    restored->resetAll();
    SineInput::shared().pump(80);
    ASSERT_GE(live(*restored, 1)->analyzer()->Analyses(), 4u);
    for (int row = 0; row < 2; ++row) {
        const QString exported = csvOf(original->instrumentAt(row));
        EXPECT_GT(exported.count('\n'), 8000) << row;
        EXPECT_EQ(csvOf(restored->instrumentAt(row)), exported) << row;
        EXPECT_EQ(restored->instrumentAt(row)->title(), original->instrumentAt(row)->title());
    }
    EXPECT_EQ(csvOf(restored->instrumentAt(1)).count('\n'), 16384 + 1);

    // Snapshots restore with their spectra, also under a decimal-comma locale.
    original->createSnapshotOfSelectedWrappers();
    koru::test::ScopedLocale german("de_DE.UTF-8");
    auto again = restore(original->dictionaryRepresentation());
    ASSERT_NE(again, nullptr);
    ASSERT_EQ(again->instrumentCount(), 4);
    for (int row = 2; row < 4; ++row) {
        const QString exported = csvOf(original->instrumentAt(row));
        EXPECT_EQ(csvOf(again->instrumentAt(row)), exported) << row;
        EXPECT_NE(std::dynamic_pointer_cast<KOSpectrumAnalyzerSnapshot>(again->instrumentAt(row)),
                  nullptr);
    }
}

// The collector draws the models' buffers while the main thread changes their sizes, which
// frees them: the plot never draws a freed buffer (run under the address sanitizer to see it).
TEST_F(SpectrumWindow, SizeChangesWhileTheCollectorDrawsNeverReachFreedBuffers) {
    auto window = make();
    window->instrumentWindow()->resize(600, 300);
    window->instrumentWindow()->show();
    window->addAnalyzer();
    const std::uint32_t sizes[] = {8192, 65536, 16384, 32768};
    for (int round = 0; round < 24; ++round) {
        for (int row = 0; row < 2; ++row)
            window->setFFTSizeOfModel(*spectrum(*window, row), sizes[(round + row) % 4]);
        SineInput::shared().pump(2);
        // The pending frame is shown, so the next pass rebuilds.
        window->spectrumView()->redrawTimer();
    }
    for (int row = 0; row < 2; ++row)
        EXPECT_EQ(spectrum(*window, row)->FFTSize(), sizes[(23 + row) % 4]);
}

} // namespace
