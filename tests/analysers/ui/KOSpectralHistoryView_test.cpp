#include "analysers/ui/KOSpectralHistoryView.h"
#include "framework/KOLogarithmicInstrumentViewDelegate.h"
#include "platform/dispatch/KOBackgroundQueue.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/fourcc/FourCC.h"
#include "utility/KOString.h"
#include "utility/ui/KOInfoPanel.h"
#include "utility/ui/RangeSlider.h"

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <cmath>
#include <latch>
#include <memory>
#include <vector>

namespace {

using koru::analysers::SpectralHistoryColourMap;
using koru::analysers::SpectralHistoryImage;
using koru::platform::fourCC;

constexpr double kNyquist = 24000.0;
constexpr std::size_t kHalfSize = 8192; // a 16384-point FFT
constexpr float kFloor = 1e-7f;         // -140 dB: black in any range used here
constexpr std::size_t kSineBin = 600;   // about 1758 Hz, clear of the grid's lines
constexpr int kWidth = 1200;
constexpr int kHeight = 600;

std::vector<float> silence() {
    return std::vector<float>(kHalfSize, kFloor);
}

std::vector<float> sine() {
    std::vector<float> spectrum = silence();
    spectrum[kSineBin] = 1.0f;
    return spectrum;
}

std::vector<float> flat(double decibels) {
    return std::vector<float>(kHalfSize, float(std::pow(10.0, decibels / 20.0)));
}

struct RecordingDelegate : KOLogarithmicInstrumentViewDelegate {
    void viewDidChangeMagnitudeBounds(float lower, float upper) override {
        ++calls;
        lastLower = lower;
        lastUpper = upper;
    }
    int calls = 0;
    float lastLower = 0.0f;
    float lastUpper = 0.0f;
};

// Blocks the image queue until the gate goes, so work can be made to wait behind it. The
// latch is shared: the blocked block may still be leaving wait() when the gate is gone.
class QueueGate {
public:
    explicit QueueGate(koru::platform::SerialQueue& queue) {
        queue.async([open = mOpen] { open->wait(); });
    }
    ~QueueGate() { mOpen->count_down(); }
    QueueGate(const QueueGate&) = delete;
    QueueGate& operator=(const QueueGate&) = delete;

private:
    std::shared_ptr<std::latch> mOpen = std::make_shared<std::latch>(1);
};

class SpectralHistoryViewTest : public testing::Test {
protected:
    SpectralHistoryViewTest() {
        view.resize(kWidth, kHeight);
        view.show();
        idle();
    }
    void idle() { view.imageQueue().waitUntilIdle(); }
    std::shared_ptr<const SpectralHistoryImage> image() const { return view.historyImage(); }
    // As the controller's cycles hand them in: each row is followed by its image.
    void feedRows(const std::vector<float>& spectrum, int rows) {
        for (int i = 0; i < 2 * rows; ++i) {
            ASSERT_FALSE(view.buildLayerWithSpectrum(std::span<const float>(spectrum), kNyquist));
            idle();
        }
    }
    // The image column (of 800) of a frequency on the displayed axis.
    double columnOf(double hertz) const {
        const double low = view.getLowerFBound();
        const double high = view.getUpperFBound();
        return std::log(hertz / low) / std::log(high / low) * (image()->numBins() - 1);
    }
    int viewXOf(double hertz) const {
        return int((columnOf(hertz) + 0.5) * kWidth / image()->numBins());
    }

    KOSpectralHistoryView view{nullptr, kNyquist};
};

bool isHistoryRed(const QColor& colour) {
    return colour.red() == 255 && colour.green() < 128 && colour.blue() < 128;
}

TEST_F(SpectralHistoryViewTest, ASineDrawsARedColumnRisingFromTheBottom) {
    view.setBackingColor(Qt::black);
    view.setLoMagLimit(-80.0f);
    view.setHiMagLimit(-40.0f);
    feedRows(sine(), 20);
    feedRows(silence(), 20);
    view.setNeedsDisplay();
    const QImage shot = view.grab().toImage();
    ASSERT_EQ(shot.size(), QSize(kWidth, kHeight));

    // 750 rows over 600 points, lifted 12 points: the sine's rows 21 to 40 from the newest sit
    // at y 556..572, the 20 silent rows below them, nothing written above.
    const double binHertz = double(kSineBin) * kNyquist / double(kHalfSize - 1);
    const int x = viewXOf(binHertz);
    for (int y = 0; y < kHeight; ++y) {
        const QColor colour = shot.pixelColor(x, y);
        if (y >= 558 && y <= 570) {
            EXPECT_TRUE(isHistoryRed(colour)) << "y " << y << " " << colour.name().toStdString();
        } else if (y < 553 || y > 575) {
            EXPECT_LT(colour.red(), 200) << "y " << y;
        }
    }
    // a neighbouring column is red too (smoothing); half an octave off is not
    EXPECT_TRUE(isHistoryRed(shot.pixelColor(x + 1, 564)));
    EXPECT_LT(shot.pixelColor(viewXOf(binHertz * std::sqrt(2.0)), 564).red(), 200);
    EXPECT_LT(shot.pixelColor(viewXOf(binHertz / std::sqrt(2.0)), 564).red(), 200);
}

TEST_F(SpectralHistoryViewTest, RowsAndImagesAlternate) {
    view.setLoMagLimit(-80.0f);
    view.setHiMagLimit(-10.0f);
    const std::vector<float> spectrum = flat(-62.5);
    EXPECT_TRUE(view.buildLayerWithSpectrum(std::vector<float>(), kNyquist))
        << "nothing to show: try again";
    idle();
    EXPECT_FALSE(image()->createdData());

    const std::uint64_t full = image()->bufferSize();
    ASSERT_FALSE(view.buildLayerWithSpectrum(spectrum, kNyquist));
    idle();
    EXPECT_TRUE(image()->createdData()) << "a row";
    EXPECT_EQ(image()->writePosition(), full);
    EXPECT_FALSE(image()->drawImage([](const QImage&) {}));

    view.setNeedsDisplay();
    ASSERT_FALSE(view.buildLayerWithSpectrum(spectrum, kNyquist));
    idle();
    EXPECT_FALSE(image()->createdData()) << "its image";
    EXPECT_TRUE(image()->drawImage([](const QImage&) {}));
    EXPECT_TRUE(view.viewIsDirty());

    ASSERT_FALSE(view.buildLayerWithSpectrum(spectrum, kNyquist));
    idle();
    EXPECT_TRUE(image()->createdData()) << "the next row";
    const std::uint32_t last = image()->numSlices() - 1;
    EXPECT_EQ(image()->pixel(last - 1, 10), image()->pixel(last, 10)) << "scrolled up one row";
    EXPECT_EQ(SpectralHistoryColourMap::blue(image()->pixel(last, 10)), 127);
}

// The row is reduced later on the queue, when the model has long rewritten (or, after a size
// change, freed) the buffer it was copied from.
TEST_F(SpectralHistoryViewTest, ARowShowsTheSpectrumAsHandedIn) {
    view.setLoMagLimit(-80.0f);
    view.setHiMagLimit(-10.0f);
    for (const bool owned : {false, true}) {
        auto live = std::make_unique<std::vector<float>>(flat(-62.5));
        {
            QueueGate gate(view.imageQueue());
            if (owned) {
                ASSERT_FALSE(view.buildLayerWithSpectrum(std::vector<float>(*live), kNyquist));
            } else {
                ASSERT_FALSE(view.buildLayerWithSpectrum(std::span<const float>(*live), kNyquist));
            }
            std::fill(live->begin(), live->end(), 1.0f);
            live.reset();
        }
        idle();
        const std::uint32_t pixel = image()->pixel(image()->numSlices() - 1, 400);
        EXPECT_EQ(SpectralHistoryColourMap::blue(pixel), 127) << (owned ? "owned" : "span");
        EXPECT_EQ(SpectralHistoryColourMap::red(pixel), 0) << (owned ? "owned" : "span");
        // its image, so the next spectrum is a row again
        ASSERT_FALSE(view.buildLayerWithSpectrum(silence(), kNyquist));
        idle();
    }
}

TEST_F(SpectralHistoryViewTest, ResizingKeepsOrRemakesTheRows) {
    EXPECT_EQ(image()->numBins(), 800u);
    EXPECT_EQ(image()->numSlices(), 750u);
    const void* buffer = image()->pixelData();

    view.resize(kWidth, 700);
    idle();
    EXPECT_EQ(image()->pixelData(), buffer);
    EXPECT_EQ(image()->numSlices(), 750u);

    view.resize(700, 600);
    idle();
    EXPECT_EQ(image()->numBins(), 700u);
    EXPECT_EQ(image()->numSlices(), 750u);
}

TEST_F(SpectralHistoryViewTest, MagnitudeLimitsSetTheColourRangeOnly) {
    RecordingDelegate delegate;
    view.setDelegate(&delegate);
    view.setLoMagLimit(-80.0f);
    view.setHiMagLimit(-10.0f);
    EXPECT_EQ(delegate.calls, 2);
    EXPECT_FLOAT_EQ(delegate.lastLower, -80.0f);
    EXPECT_FLOAT_EQ(delegate.lastUpper, -10.0f);
    EXPECT_EQ(KOInfoPanel::sharedInfoPanel().firstLine()->text(), "Upper Mag Limit:");
    EXPECT_EQ(KOInfoPanel::sharedInfoPanel().secondLine()->text(), "-10 dB");

    struct Case {
        const char* what;
        float lower, upper;
        float expectedLower, expectedUpper;
        int calls;
    };
    const Case cases[] = {
        {"unchanged", -80, -10, -80, -10, 0},
        {"narrower than 10 dB", -50, -45, -50, -45, 2},
        {"not numbers", NAN, INFINITY, -50, -45, 0},
        {"one end", -60, -45, -60, -45, 1},
    };
    for (const Case& c : cases) {
        delegate.calls = 0;
        view.setLoMagLimit(c.lower);
        view.setHiMagLimit(c.upper);
        EXPECT_FLOAT_EQ(view.getLowerMagBound(), c.expectedLower) << c.what;
        EXPECT_FLOAT_EQ(view.getUpperMagBound(), c.expectedUpper) << c.what;
        EXPECT_EQ(view.colourMap().magLow(), c.expectedLower) << c.what;
        EXPECT_EQ(view.colourMap().magHi(), c.expectedUpper) << c.what;
        EXPECT_DOUBLE_EQ(view.magSlider()->lowValue(), c.expectedLower) << c.what;
        EXPECT_DOUBLE_EQ(view.magSlider()->highValue(), c.expectedUpper) << c.what;
        EXPECT_EQ(delegate.calls, c.calls) << c.what;
    }

    // the slider's knobs, as the user drags them, set the colour range
    view.magSlider()->setValues(-70.0, -20.0);
    emit view.magSlider()->valuesChanged(-70.0, -20.0);
    EXPECT_FLOAT_EQ(view.getLowerMagBound(), -70.0f);
    EXPECT_FLOAT_EQ(view.getUpperMagBound(), -20.0f);
    EXPECT_FLOAT_EQ(delegate.lastLower, -70.0f);
    EXPECT_FLOAT_EQ(delegate.lastUpper, -20.0f);

    // and so do calls through the base, as the linking of windows makes them
    KOLogarithmicInstrumentView& base = view;
    base.setLoMagLimit(-75.0f);
    EXPECT_FLOAT_EQ(base.getLowerMagBound(), -75.0f);
    EXPECT_EQ(view.colourMap().magLow(), -75.0);
}

TEST_F(SpectralHistoryViewTest, WheelKeysAndDragsLeaveTheRangeAlone) {
    view.setLoMagLimit(-80.0f);
    view.setHiMagLimit(-10.0f);
    QWheelEvent wheel(QPointF(600, 300), QPointF(600, 300), QPoint(), QPoint(0, 240), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&view, &wheel);
    QKeyEvent up(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier);
    QApplication::sendEvent(&view, &up);
    view.zoomIn();
    view.moveDown();
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(600, 300), QPointF(600, 300),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &press);
    QMouseEvent drag(QEvent::MouseMove, QPointF(600, 100), QPointF(600, 100), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &drag);
    EXPECT_FLOAT_EQ(view.getLowerMagBound(), -80.0f);
    EXPECT_FLOAT_EQ(view.getUpperMagBound(), -10.0f);
}

// The frequency under the pointer is written at the top, when the read-out is on.
TEST_F(SpectralHistoryViewTest, ReadOutShowsTheFrequencyUnderThePointer) {
    view.setBackingColor(Qt::black);
    const auto whitePixelsAtTheTop = [this] {
        const QImage shot = view.grab().toImage();
        int count = 0;
        for (int y = 0; y < 20; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                count += shot.pixelColor(x, y).lightness() > 200 ? 1 : 0;
            }
        }
        return count;
    };
    QMouseEvent hover(QEvent::MouseMove, QPointF(600, 300), QPointF(600, 300), Qt::NoButton,
                      Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &hover);
    const double hertz = view.logViewMath().positionToFrequency(0.5);
    EXPECT_EQ(KOInfoPanel::sharedInfoPanel().firstLine()->text(),
              KOString::stringWithFrequency(float(hertz)) + "Hz");
    EXPECT_EQ(whitePixelsAtTheTop(), 0) << "read-out off";
    view.setFrequencyDetailsSize(12);
    EXPECT_GT(whitePixelsAtTheTop(), 0) << "read-out on";
}

TEST_F(SpectralHistoryViewTest, SettingsRoundTripAndMissingKeysChangeNothing) {
    view.setLoMagLimit(-50.0f);
    view.setHiMagLimit(-45.0f);
    view.setLowFrequencyBound(100.0f);
    view.setHiFrequencyBound(10000.0f);
    const QVariantMap saved = view.settingsAsDictionary();
    EXPECT_EQ(saved.size(), 4);
    EXPECT_EQ(saved.value("FFTView.minMag").toDouble(), -50.0);
    EXPECT_EQ(saved.value("FFTView.maxMag").toDouble(), -45.0);

    KOSpectralHistoryView restored(nullptr, kNyquist);
    restored.restoreSettingsFromDictionary(saved);
    EXPECT_FLOAT_EQ(restored.getLowerMagBound(), -50.0f);
    EXPECT_FLOAT_EQ(restored.getUpperMagBound(), -45.0f);
    EXPECT_FLOAT_EQ(restored.getLowerFBound(), view.getLowerFBound());
    EXPECT_FLOAT_EQ(restored.getUpperFBound(), view.getUpperFBound());

    restored.restoreSettingsFromDictionary(
        {{"FFTView.maxMag", QStringLiteral("loud")}, {"FFTView.minFrequency", 200.0}});
    EXPECT_FLOAT_EQ(restored.getLowerMagBound(), -50.0f);
    EXPECT_FLOAT_EQ(restored.getUpperMagBound(), -45.0f);
    EXPECT_FLOAT_EQ(restored.getLowerFBound(), 200.0f);
    EXPECT_FLOAT_EQ(restored.getUpperFBound(), view.getUpperFBound());
}

// Work still queued when the view goes must not touch it; the pixels go with the last of it.
TEST(SpectralHistoryViewLifetime, WorkQueuedBehindAClosedViewRunsWithoutIt) {
    enum class Pending { Rows, Images, Resize };
    for (const Pending pending : {Pending::Rows, Pending::Images, Pending::Resize}) {
        auto view = std::make_unique<KOSpectralHistoryView>(nullptr, kNyquist);
        view->resize(400, 300);
        view->show();
        view->imageQueue().waitUntilIdle();
        const std::vector<float> spectrum = flat(-30.0);
        if (pending == Pending::Images) {
            ASSERT_FALSE(view->buildLayerWithSpectrum(spectrum, kNyquist));
            view->imageQueue().waitUntilIdle();
        }
        std::weak_ptr<const SpectralHistoryImage> pixels = view->historyImage();
        {
            QueueGate gate(view->imageQueue());
            if (pending == Pending::Resize) {
                view->resize(200, 100);
            } else {
                for (int i = 0; i < 8; ++i) {
                    ASSERT_FALSE(view->buildLayerWithSpectrum(spectrum, kNyquist));
                }
            }
            view.reset();
        }
        // the queue's thread is joined on the background queue
        KOBackgroundQueue()->waitUntilIdle();
        EXPECT_TRUE(pixels.expired());
    }
}

} // namespace
