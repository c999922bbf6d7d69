#include "AnalyserTestSupport.h"

#include "analysers/KOSpectrumAnalyzerWrapper.h"
#include "analysers/ui/KOSpectralHistoryController.h"
#include "analysers/ui/KOSpectralHistoryView.h"
#include "app/LogCapture.h"
#include "engine/KOSpectrumAnalyzer.h"
#include "framework/KOMenuAdditions.h"
#include "platform/archive/KeyedArchive.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/fourcc/FourCC.h"
#include "platform/plist/PropertyList.h"

#include <QAction>
#include <QComboBox>
#include <QMenu>

#include <gtest/gtest.h>

#include <cmath>

using koru::analysers::SpectralHistoryImage;
using koru::platform::fourCC;
using koru::platform::KeyedArchiver;
using koru::platform::PlistFormat;
using koru::platform::PropertyList;
using koru::test::csvExport;
using koru::test::LogCapture;
using koru::test::SineInput;

namespace {

constexpr std::uint32_t kWhite = fourCC("whit");
constexpr std::uint32_t kPink = fourCC("pink");
constexpr std::uint32_t kPeak = fourCC("peak");

class SpectralHistoryWindow : public ::testing::Test {
protected:
    void SetUp() override { SineInput::shared(); }

    std::unique_ptr<KOSpectralHistoryController> make() {
        return KOInstrumentController::create<KOSpectralHistoryController>(
            KOSpectralHistoryController::kNibName, nullptr, &delegate);
    }
    std::unique_ptr<KOSpectralHistoryController> restore(const QVariantMap& dictionary) {
        auto restored = koru::test::analyserRegistry().createFromDictionary(dictionary, &delegate);
        auto* window = dynamic_cast<KOSpectralHistoryController*>(restored.get());
        EXPECT_NE(window, nullptr);
        if (!window)
            return nullptr;
        restored.release();
        return std::unique_ptr<KOSpectralHistoryController>(window);
    }
    static QString csvOf(const KOSpectralHistoryController& window) {
        return csvExport(std::static_pointer_cast<KODataExporting>(window.spectrumAnalyzer()));
    }
    static QList<qint64> tagsOf(const QMenu& menu) {
        QList<qint64> tags;
        for (const QAction* item : menu.actions())
            tags << KOMenuItemAdditions::tag(*item);
        return tags;
    }
    // Rows of the spectrogram that hold anything but black.
    static int rowsWritten(const SpectralHistoryImage& image) {
        int rows = 0;
        for (std::uint32_t row = 0; row < image.numSlices(); ++row) {
            for (std::uint32_t column = 0; column < image.numBins(); ++column) {
                if ((image.pixel(row, column) & 0xFFFFFF) != 0) {
                    ++rows;
                    break;
                }
            }
        }
        return rows;
    }

    koru::test::QuietDelegate delegate;
};

TEST_F(SpectralHistoryWindow, ANewWindowMeasures16384PointsPinkNoiseFlatInTwelfthOctaves) {
    auto window = make();
    const auto model = window->spectrumAnalyzer();
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(model->FFTSize(), 16384u);
    EXPECT_EQ(window->FFTSize(), 16384u);
    EXPECT_EQ(window->windowType(), fourCC("hann"));
    EXPECT_EQ(window->inputChannel(), 0);
    EXPECT_EQ(window->accumulationMode(), kPink);
    EXPECT_EQ(window->octaveSmoothing(), 12u);
    const KOSpectralHistoryView* view = window->historyView();
    EXPECT_EQ(view->getLowerMagBound(), -80.0f);
    EXPECT_EQ(view->getUpperMagBound(), -10.0f);
    EXPECT_EQ(view->getLowerFBound(), 50.0f);
    EXPECT_EQ(view->getUpperFBound(), 24000.0f);
    EXPECT_EQ(view->fftSize(), 16384u);
    EXPECT_TRUE(window->isInDataCollectorThread());
    EXPECT_TRUE(window->instrumentWindow()->isVisible()) << "a new window shows itself";
    EXPECT_EQ(window->instrumentWindow()->minimumSize(), QSize(242, 128));
    EXPECT_EQ(window->linkableViewParameters(), (QStringList{"Frequency", "Magnitude"}));

    // The pop-ups show the settings; the FFT sizes are the three largest.
    EXPECT_EQ(window->fftSizeButton()->currentData().toLongLong(), 16384);
    EXPECT_EQ(window->fftSizeButton()->count(), 3);
    EXPECT_EQ(window->accumulationModeButton()->currentData().toLongLong(), kPink);
    EXPECT_EQ(window->octaveSmoothingButton()->currentData().toLongLong(), 12);
    EXPECT_EQ(window->windowTypeButton()->currentData().toLongLong(), fourCC("hann"));
    EXPECT_EQ(window->mInputMenu()->count(), 2);

    QMenu* menu = window->instrumentMenu();
    emit menu->aboutToShow();
    for (qint64 tag : {4660, 4661, 4662, 4663})
        ASSERT_NE(KOMenuAdditions::itemWithTag(*menu, tag), nullptr) << tag;
    QMenu* sizes = KOMenuAdditions::itemWithTag(*menu, 4660)->menu();
    EXPECT_EQ(tagsOf(*sizes), (QList<qint64>{16384, 32768, 65536}));
    EXPECT_TRUE(KOMenuAdditions::itemWithTag(*sizes, 16384)->isChecked());
    EXPECT_TRUE(KOMenuAdditions::itemWithTag(*KOMenuAdditions::itemWithTag(*menu, 4662)->menu(), 12)
                    ->isChecked());
    EXPECT_TRUE(
        KOMenuAdditions::itemWithTag(*KOMenuAdditions::itemWithTag(*menu, 4663)->menu(), kPink)
            ->isChecked());

    // Choosing from the menu.
    KOMenuAdditions::itemWithTag(*sizes, 65536)->trigger();
    EXPECT_EQ(model->FFTSize(), 65536u);
    EXPECT_EQ(model->analyzer()->FFTSize(), 65536u);
    EXPECT_EQ(window->historyView()->fftSize(), 65536u);
    EXPECT_EQ(window->fftSizeButton()->currentData().toLongLong(), 65536);
}

// The analyser computes 8192 to 65536 points only; a size it would refuse never reaches the
// measurement, whose buffers keep matching the analyser's.
TEST_F(SpectralHistoryWindow, SizesTheAnalyserCannotComputeChangeNothing) {
    auto window = make();
    for (std::uint32_t refused : {0u, 512u, 1024u, 4096u, 12345u, 131072u, 262144u}) {
        LogCapture log;
        window->setFFTSize(refused);
        EXPECT_EQ(window->FFTSize(), 16384u) << refused;
        EXPECT_EQ(window->spectrumAnalyzer()->analyzer()->FFTSize(), 16384u) << refused;
        EXPECT_EQ(window->historyView()->fftSize(), 16384u) << refused;
        EXPECT_EQ(log.count("refused"), 1) << refused;
    }
    for (std::uint32_t accepted : {8192u, 32768u, 65536u}) {
        window->setFFTSize(accepted);
        EXPECT_EQ(window->FFTSize(), accepted);
        EXPECT_EQ(window->spectrumAnalyzer()->copyOfSpectra().instantaneous->Length(), accepted);
    }
    window->setOctaveSmoothing(0);
    window->setOctaveSmoothing(25);
    window->setAccumulationMode(fourCC("loud"));
    window->setWindowType(fourCC("xxxx"));
    EXPECT_EQ(window->octaveSmoothing(), 12u);
    EXPECT_EQ(window->accumulationMode(), kPink);
    EXPECT_EQ(window->windowType(), fourCC("hann"));
}

TEST_F(SpectralHistoryWindow, SavedWindowsRestoreAndDamagedEntriesTakeTheDefaults) {
    auto original = make();
    const QVariantMap saved = original->dictionaryRepresentation();
    const auto patchedAnalyzer = [&saved](const QString& key, const QVariant& value) {
        auto archive = PropertyList::parse(saved.value("analyzer").toByteArray());
        QVariantMap root = archive.value.toMap();
        root.insert(key, value);
        return PropertyList::serialize(root, PlistFormat::Binary);
    };
    struct Case {
        const char* what;
        QVariantMap changes; // an invalid value removes the key
        std::uint32_t size;
        std::uint32_t window;
        qint64 channel;
        std::uint32_t accumulation;
        unsigned smoothing;
        const char* logged;
    };
    const Case cases[] = {
        {"as saved", {}, 16384, fourCC("hann"), 0, kPink, 12, ""},
        {"no measurement",
         {{"analyzer", QVariant()}, {"SpectralHistory.InputChannel", 1}},
         16384,
         fourCC("hann"),
         1,
         kPink,
         12,
         ""},
        {"an unreadable measurement",
         {{"analyzer", QByteArray("garbage")}},
         16384,
         fourCC("hann"),
         0,
         kPink,
         12,
         "the saved measurement is unreadable"},
        {"a measurement of another kind",
         {{"analyzer", QVariantMap{{"a", 1}}}},
         16384,
         fourCC("hann"),
         0,
         kPink,
         12,
         "the saved measurement is unreadable"},
        {"a size of 4096",
         {{"analyzer", patchedAnalyzer("FFTInstrumentBase.FFTSize", 4096)}},
         16384,
         fourCC("hann"),
         0,
         kPink,
         12,
         "4096"},
        {"an unknown window",
         {{"analyzer", patchedAnalyzer("FFTInstrumentBase.WindowType", qint64(fourCC("xxxx")))}},
         16384,
         fourCC("hann"),
         0,
         kPink,
         12,
         ""},
        {"no accumulation mode or smoothing",
         {{"FFT.accumulationMode", QVariant()}, {"FFTInstrumentBase.OcatveMode", QVariant()}},
         16384,
         fourCC("hann"),
         0,
         kWhite,
         12,
         ""},
        {"an unknown accumulation mode",
         {{"FFT.accumulationMode", qint64(fourCC("abcd"))}},
         16384,
         fourCC("hann"),
         0,
         kWhite,
         12,
         "unknown accumulation mode"},
        {"smoothing 0",
         {{"FFTInstrumentBase.OcatveMode", 0}},
         16384,
         fourCC("hann"),
         0,
         kPink,
         12,
         "octave smoothing 1/0 unknown"},
        {"smoothing 30",
         {{"FFTInstrumentBase.OcatveMode", 30}},
         16384,
         fourCC("hann"),
         0,
         kPink,
         12,
         "octave smoothing 1/30 unknown"},
        {"smoothing as text",
         {{"FFTInstrumentBase.OcatveMode", "fine"}},
         16384,
         fourCC("hann"),
         0,
         kPink,
         12,
         "octave smoothing 1/0 unknown"},
        {"a channel the device lacks",
         {{"SpectralHistory.InputChannel", 999}},
         16384,
         fourCC("hann"),
         1,
         kPink,
         12,
         "saved input channel 999 is not a channel of this device"},
        {"smoothing 6",
         {{"FFTInstrumentBase.OcatveMode", 6}},
         16384,
         fourCC("hann"),
         0,
         kPink,
         6,
         ""},
    };
    for (const Case& c : cases) {
        QVariantMap dictionary = saved;
        for (auto it = c.changes.cbegin(); it != c.changes.cend(); ++it) {
            if (it.value().isValid())
                dictionary.insert(it.key(), it.value());
            else
                dictionary.remove(it.key());
        }
        LogCapture log;
        auto window = restore(dictionary);
        ASSERT_NE(window, nullptr) << c.what;
        const auto model = window->spectrumAnalyzer();
        ASSERT_NE(model, nullptr) << c.what;
        EXPECT_EQ(model->FFTSize(), c.size) << c.what;
        EXPECT_EQ(model->analyzer()->FFTSize(), c.size) << c.what;
        EXPECT_EQ(window->historyView()->fftSize(), c.size) << c.what;
        EXPECT_EQ(window->windowType(), c.window) << c.what;
        EXPECT_EQ(window->inputChannel(), c.channel) << c.what;
        EXPECT_EQ(window->accumulationMode(), c.accumulation) << c.what;
        EXPECT_EQ(window->octaveSmoothing(), c.smoothing) << c.what;
        EXPECT_EQ(window->historyView()->getLowerMagBound(), -80.0f) << c.what;
        EXPECT_TRUE(window->isInDataCollectorThread()) << c.what;
        if (*c.logged) {
            EXPECT_GE(log.count(c.logged), 1) << c.what;
        }
    }
}

TEST_F(SpectralHistoryWindow, ASessionRoundTripMeasuresAndExportsTheSame) {
    auto original = make();
    original->setFFTSize(32768);
    original->setWindowType(fourCC("blkm"));
    original->setInputChannel(1);
    original->setAccumulationMode(kPeak);
    original->setOctaveSmoothing(6);
    original->historyView()->setLoMagLimit(-70.0f);
    original->historyView()->setHiFrequencyBound(16000.0f);
    original->setName("History of the hall");

    const QVariantMap saved = original->dictionaryRepresentation();
    EXPECT_EQ(saved.value("SpectralHistory.InputChannel").toLongLong(), 1);
    EXPECT_EQ(saved.value("FFT.accumulationMode").toLongLong(), kPeak);
    EXPECT_EQ(saved.value("FFTInstrumentBase.OcatveMode").toLongLong(), 6);
    EXPECT_EQ(saved.value("KOType").toString(), "KOSpectralHistoryController");
    auto restored = restore(saved);
    ASSERT_NE(restored, nullptr);
    EXPECT_EQ(restored->name(), "History of the hall");
    EXPECT_EQ(restored->FFTSize(), 32768u);
    EXPECT_EQ(restored->windowType(), fourCC("blkm"));
    EXPECT_EQ(restored->inputChannel(), 1);
    EXPECT_EQ(restored->accumulationMode(), kPeak);
    EXPECT_EQ(restored->octaveSmoothing(), 6u);
    EXPECT_EQ(restored->historyView()->settingsAsDictionary(),
              original->historyView()->settingsAsDictionary());
    EXPECT_EQ(restored->historyView()->getLowerMagBound(), -70.0f);

    original->spectrumAnalyzer()->reset();
    restored->spectrumAnalyzer()->reset();
    SineInput::shared().pump(80);
    ASSERT_GE(restored->spectrumAnalyzer()->analyzer()->Analyses(), 4u);
    const QString exported = csvOf(*original);
    EXPECT_EQ(exported.count('\n'), 16384 + 1);
    EXPECT_EQ(csvOf(*restored), exported);
}

// The spectrogram is fed from the window's collection: rows of the sine, its brightest pixel at
// the sine's frequency; a paused window's image stands still.
TEST_F(SpectralHistoryWindow, TheSpectrogramShowsTheSineAndStandsStillWhilePaused) {
    auto window = make();
    window->instrumentWindow()->resize(520, 320);
    window->instrumentWindow()->show();
    KOSpectralHistoryView* view = window->historyView();
    view->imageQueue().waitUntilIdle();

    SineInput::shared().pump(80);
    view->imageQueue().waitUntilIdle();
    const auto image = view->historyImage();
    ASSERT_NE(image, nullptr);
    ASSERT_GT(image->numBins(), 0u);
    const int rows = rowsWritten(*image);
    // 25 spectra: about every other one a row (a row the queue has not written yet when the next
    // spectrum is handed over makes that one a row too).
    EXPECT_GE(rows, 10);
    EXPECT_LE(rows, 25);

    const std::uint32_t last = image->numSlices() - 1;
    std::uint32_t brightest = 0;
    std::uint32_t level = 0;
    for (std::uint32_t column = 0; column < image->numBins(); ++column) {
        const std::uint32_t pixel = image->pixel(last, column);
        const std::uint32_t sum = ((pixel >> 16) & 0xFF) + ((pixel >> 8) & 0xFF) + (pixel & 0xFF);
        if (sum > level) {
            level = sum;
            brightest = column;
        }
    }
    const double hertz =
        view->logViewMath().positionToFrequency((brightest + 0.5) / image->numBins());
    EXPECT_NEAR(std::log2(hertz / SineInput::frequencyOfBin(SineInput::kBin)), 0.0, 1.0 / 12.0)
        << hertz;

    window->setPause(true);
    EXPECT_TRUE(window->spectrumAnalyzer()->pause());
    SineInput::shared().pump(32);
    view->imageQueue().waitUntilIdle();
    EXPECT_EQ(rowsWritten(*image), rows);
    window->setPause(false);
    SineInput::shared().pump(32);
    view->imageQueue().waitUntilIdle();
    EXPECT_GT(rowsWritten(*image), rows);
}

} // namespace
