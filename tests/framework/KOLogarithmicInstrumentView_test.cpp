#include "engine/KOFloatBuffer.h"
#include "framework/KOFFTBackingLayer.h"
#include "framework/KOFFTDrawingData.h"
#include "framework/KOFFTLayer.h"
#include "framework/KOLogarithmicInstrumentView.h"
#include "framework/KOLogarithmicInstrumentViewDelegate.h"
#include "platform/plist/PropertyList.h"
#include "support/TestSupport.h"
#include "utility/ui/RangeSlider.h"

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

namespace {

constexpr double kNyquist = 24000.0;
constexpr std::uint32_t kFFTSize = 65536;
constexpr int kWidth = 900;
constexpr int kHeight = 400;

struct RecordingDelegate : KOLogarithmicInstrumentViewDelegate {
    void viewDidChangeFrequencyBounds(float, float) override { ++frequencyCalls; }
    void viewDidChangeMagnitudeBounds(float, float) override { ++magnitudeCalls; }
    int frequencyCalls = 0;
    int magnitudeCalls = 0;
};

class CountingView : public KOLogarithmicInstrumentView {
public:
    using KOLogarithmicInstrumentView::KOLogarithmicInstrumentView;
    std::atomic<int> paints{0};

protected:
    void paintEvent(QPaintEvent* event) override {
        ++paints;
        KOLogarithmicInstrumentView::paintEvent(event);
    }
};

class LogViewTest : public testing::Test {
protected:
    LogViewTest() {
        view.resize(kWidth, kHeight);
        view.setMagLimits(-144.0f, 0.0f);
        view.setDelegate(&delegate);
    }
    void setRange(float lower, float upper) {
        view.setHiMagLimit(upper);
        view.setLoMagLimit(lower);
        view.setHiMagLimit(upper);
    }

    RecordingDelegate delegate;
    CountingView view{nullptr, kNyquist};
};

TEST_F(LogViewTest, DecibelBoundsKeepTheSpanAndTheLimits) {
    struct Case {
        float lower, upper, request;
        bool setsLower;
        float expectedLower, expectedUpper;
    };
    const Case cases[] = {
        {-96, -45, -50, true, -50, -40},  // upper pushed up to keep 10 dB
        {-20, 0, -5, true, -10, 0},       // upper cannot pass the limit: lower gives way
        {-96, 0, -200, true, -144, 0},    // outer limit
        {-60, -30, -70, false, -80, -70}, // lower pushed down
        {-140, -100, -150, false, -144, -134},
        {-96, 0, 20, false, -96, 0},
    };
    for (const Case& c : cases) {
        setRange(c.lower, c.upper);
        ASSERT_FLOAT_EQ(view.getLowerMagBound(), c.lower);
        ASSERT_FLOAT_EQ(view.getUpperMagBound(), c.upper);
        if (c.setsLower) {
            view.setLoMagLimit(c.request);
        } else {
            view.setHiMagLimit(c.request);
        }
        EXPECT_FLOAT_EQ(view.getLowerMagBound(), c.expectedLower) << c.request;
        EXPECT_FLOAT_EQ(view.getUpperMagBound(), c.expectedUpper) << c.request;
        EXPECT_DOUBLE_EQ(view.magSlider()->lowValue(), c.expectedLower);
        EXPECT_DOUBLE_EQ(view.magSlider()->highValue(), c.expectedUpper);
    }
}

TEST_F(LogViewTest, UnchangedOrBrokenBoundsNeitherRebuildNorTell) {
    setRange(-96, 0);
    const int calls = delegate.magnitudeCalls;
    view.setHiMagLimit(0.0f);
    view.setLoMagLimit(-96.0f);
    view.setLoMagLimit(std::nanf(""));
    view.setHiMagLimit(INFINITY);
    EXPECT_EQ(delegate.magnitudeCalls, calls);
    view.setHiMagLimit(-1.0f);
    EXPECT_EQ(delegate.magnitudeCalls, calls + 1);
}

TEST_F(LogViewTest, FrequencyBoundsAreClampedAndSnapped) {
    struct Case {
        bool lower;
        float request, expected;
    };
    const Case cases[] = {{true, 5, 10},
                          {true, 60, 50},
                          {true, 1999, 1600},
                          {false, 500, 1000},
                          {false, 1e6f, 24000}};
    for (const Case& c : cases) {
        view.setFrequencyBounds(50.0f, 20000.0f);
        if (c.lower) {
            view.setLowFrequencyBound(c.request);
            EXPECT_FLOAT_EQ(view.getLowerFBound(), c.expected) << c.request;
        } else {
            view.setHiFrequencyBound(c.request);
            EXPECT_FLOAT_EQ(view.getUpperFBound(), c.expected) << c.request;
        }
    }
    // knobs sit over the bounds on the slider's axis
    EXPECT_NEAR(view.frequencySlider()->highValue(),
                view.sliderAxis().frequencyToPosition(view.getUpperFBound()), 1e-9);
}

TEST_F(LogViewTest, FrequencySliderMovesTheBoundsAndSnapsTheKnobs) {
    const ZOLogViewMath& axis = view.sliderAxis();
    view.frequencySlider()->setValues(axis.frequencyToPosition(105.0),
                                      axis.frequencyToPosition(8000.0));
    const int calls = delegate.frequencyCalls;
    view.setFrequencyRange();
    EXPECT_FLOAT_EQ(view.getLowerFBound(), 100.0f);
    EXPECT_NEAR(view.getUpperFBound(), 8000.0f, 0.5f);
    EXPECT_NEAR(view.frequencySlider()->lowValue(), axis.frequencyToPosition(100.0), 1e-6);
    EXPECT_EQ(delegate.frequencyCalls, calls + 1);
}

TEST_F(LogViewTest, NyquistChangeMovesTheUpperBoundAndTheKnobs) {
    view.setNyquistFrequency(11025.0f);
    EXPECT_FLOAT_EQ(view.getUpperFBound(), 11025.0f);
    EXPECT_NEAR(view.frequencySlider()->highValue(), 1.0, 1e-6);
    EXPECT_NEAR(view.frequencySlider()->lowValue(),
                view.sliderAxis().frequencyToPosition(view.getLowerFBound()), 1e-6);
}

TEST_F(LogViewTest, WheelMovesTheBoundOfItsStrip) {
    setRange(-96, 0);
    view.setHiMagLimit(-20.0f);
    const auto wheel = [this](double y, int notches) {
        QWheelEvent event(QPointF(400, y), view.mapToGlobal(QPointF(400, y)), {},
                          QPoint(0, 120 * notches), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                          false);
        QApplication::sendEvent(&view, &event);
    };
    wheel(kHeight - 5, 3); // bottom strip
    EXPECT_FLOAT_EQ(view.getLowerMagBound(), -93.0f);
    EXPECT_FLOAT_EQ(view.getUpperMagBound(), -20.0f);
    wheel(5, -2); // top strip
    EXPECT_FLOAT_EQ(view.getLowerMagBound(), -93.0f);
    EXPECT_FLOAT_EQ(view.getUpperMagBound(), -22.0f);
    wheel(kHeight / 2.0, 1);
    EXPECT_FLOAT_EQ(view.getLowerMagBound(), -92.0f);
    EXPECT_FLOAT_EQ(view.getUpperMagBound(), -21.0f);
}

TEST_F(LogViewTest, DraggingUpRaisesTheBoundsOfThePressedStrip) {
    const auto mouse = [this](QEvent::Type type, double y, Qt::MouseButtons buttons) {
        QMouseEvent event(type, QPointF(400, y), view.mapToGlobal(QPointF(400, y)),
                          type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                          Qt::NoModifier);
        QApplication::sendEvent(&view, &event);
    };
    setRange(-100, -20); // 0.2 px per dB
    mouse(QEvent::MouseButtonPress, 200, Qt::LeftButton);
    mouse(QEvent::MouseMove, 150, Qt::LeftButton); // 50 px up = 10 dB
    EXPECT_NEAR(view.getLowerMagBound(), -90.0f, 1e-3);
    EXPECT_NEAR(view.getUpperMagBound(), -10.0f, 1e-3);
    mouse(QEvent::MouseButtonRelease, 150, Qt::NoButton);

    mouse(QEvent::MouseButtonPress, kHeight - 5, Qt::LeftButton); // bottom strip
    mouse(QEvent::MouseMove, kHeight - 30, Qt::LeftButton);       // 5 dB up
    EXPECT_NEAR(view.getLowerMagBound(), -85.0f, 1e-3);
    EXPECT_NEAR(view.getUpperMagBound(), -10.0f, 1e-3);
    mouse(QEvent::MouseButtonRelease, kHeight - 30, Qt::NoButton);

    QKeyEvent up(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier);
    QApplication::sendEvent(&view, &up);
    EXPECT_NEAR(view.getLowerMagBound(), -84.0f, 1e-3);
    EXPECT_NEAR(view.getUpperMagBound(), -9.0f, 1e-3);
    view.zoomIn();
    EXPECT_NEAR(view.getLowerMagBound(), -83.0f, 1e-3);
    EXPECT_NEAR(view.getUpperMagBound(), -10.0f, 1e-3);
}

TEST_F(LogViewTest, ReadOutStaysInsideThePlot) {
    EXPECT_DOUBLE_EQ(view.readOutX(10.0, 100.0), 36.0);
    EXPECT_DOUBLE_EQ(view.readOutX(850.0, 100.0), kWidth - 100.0);
    EXPECT_DOUBLE_EQ(view.readOutX(400.0, 100.0), 400.0);
    setRange(-100, 0);
    const double x = view.logViewMath().frequencyToPosition(1000.0) * kWidth;
    EXPECT_EQ(view.readOutText(QPointF(x, kHeight / 2.0), QStringLiteral(" : ")),
              QStringLiteral("1kHz : -50.0 dB"));
}

TEST_F(LogViewTest, InPlotReadOutFollowsThePointerUnlessHidden) {
    view.show();
    ASSERT_TRUE(koru::test::spinUntil([this] { return view.paints > 0; }));
    const QPointF pointer(kWidth - 5.0, 200.0);
    QMouseEvent move(QEvent::MouseMove, pointer, view.mapToGlobal(pointer), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &move);
    EXPECT_TRUE(view.viewIsDirty());
    // white text pixels per column band in the top rows
    const auto whiteIn = [this](int left, int right) {
        const QImage image = view.grab().toImage();
        int count = 0;
        for (int y = 0; y < 20; ++y) {
            for (int x = left; x < right; ++x) {
                const QRgb pixel = image.pixel(x, y);
                count += qRed(pixel) > 200 && qGreen(pixel) > 200 && qBlue(pixel) > 200;
            }
        }
        return count;
    };
    EXPECT_EQ(whiteIn(0, kWidth), 0);
    view.setFrequencyDetailsSize(12);
    // shifted left so that it ends at the right edge
    EXPECT_GT(whiteIn(kWidth - 60, kWidth), 0);
    EXPECT_EQ(whiteIn(0, kWidth - 200), 0);
}

TEST_F(LogViewTest, SettingsRoundTripAlsoThroughAFileUnderAGermanLocale) {
    setRange(-80, -20);
    view.setLowFrequencyBound(100.0f);
    view.setHiFrequencyBound(10000.0f);
    const QVariantMap settings = view.settingsAsDictionary();
    EXPECT_EQ(settings.keys(), (QStringList{"FFTView.maxFrequency", "FFTView.maxMag",
                                            "FFTView.minFrequency", "FFTView.minMag"}));

    const koru::test::ScopedLocale german("de_DE.UTF-8");
    if (!german.active()) {
        GTEST_SKIP() << "de_DE.UTF-8 not installed";
    }
    const QString path = QDir(koru::test::testRoot()).filePath("logview.plist");
    ASSERT_TRUE(
        koru::platform::PropertyList::write(path, settings, koru::platform::PlistFormat::Xml));
    const auto read = koru::platform::PropertyList::read(path);
    ASSERT_TRUE(read.ok()) << read.error.toStdString();

    KOLogarithmicInstrumentView restored(nullptr, kNyquist);
    restored.setMagLimits(-144.0f, 0.0f);
    restored.restoreSettingsFromDictionary(read.value.toMap());
    EXPECT_EQ(restored.settingsAsDictionary(), settings);
}

TEST_F(LogViewTest, RestoreReadsMissingKeysAsZeroAndSkipsBrokenValues) {
    KOLogarithmicInstrumentView restored(nullptr, kNyquist);
    restored.setMagLimits(-144.0f, 0.0f);
    restored.restoreSettingsFromDictionary({{"FFTView.minMag", -60.0},
                                            {"FFTView.minFrequency", "nonsense"},
                                            {"FFTView.maxFrequency", 5000.0}});
    EXPECT_FLOAT_EQ(restored.getLowerMagBound(), -60.0f);
    EXPECT_FLOAT_EQ(restored.getUpperMagBound(), 0.0f);
    EXPECT_FLOAT_EQ(restored.getLowerFBound(), 50.0f); // left as it was
    EXPECT_FLOAT_EQ(restored.getUpperFBound(), 5000.0f);
}

// A spectrum with a peak at 1 kHz, drawn through the view's trace layer and grabbed.
class LogViewRenderTest : public LogViewTest {
protected:
    LogViewRenderTest() {
        setRange(-120, 0);
        float* bins = buffer.Data();
        for (std::uint32_t i = 0; i < kFFTSize / 2; ++i) {
            const double hertz = i * kNyquist / (kFFTSize / 2);
            const double octaves = std::log2(std::max(hertz, 1.0) / 1000.0);
            bins[i] = float(1e-4 + 0.5 * std::exp(-octaves * octaves / (2.0 * 0.15 * 0.15)));
        }
        data.SetBuffer(&buffer);
        data.UpdateParameters(3, 50.0, 20000.0, kWidth, kNyquist);
        data.SetColor(QColor(255, 0, 0));
    }
    static bool isTrace(QRgb pixel) {
        return qRed(pixel) > 200 && qGreen(pixel) < 90 && qBlue(pixel) < 90;
    }

    KOFloatBuffer buffer{kFFTSize};
    KOFFTDrawingData data{KOFFTDrawingData::kContinuous, true, -144.0};
};

TEST_F(LogViewRenderTest, TracePeakAndGridLinesLandOnTheirPixels) {
    view.show();
    ASSERT_TRUE(koru::test::spinUntil([this] { return view.paints > 0; }));
    std::thread collector([this] {
        EXPECT_TRUE(view.buildTraceLayer([this](KOFFTLayer& layer) { layer.draw(&data); }));
    });
    collector.join();
    const QImage image = view.grab().toImage();
    ASSERT_EQ(image.size(), QSize(kWidth, kHeight));

    int top = -1;
    double sum = 0.0;
    int count = 0;
    for (int y = 0; y < kHeight && top < 0; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            if (isTrace(image.pixel(x, y))) {
                top = y;
                sum += x;
                ++count;
            }
        }
    }
    ASSERT_GE(top, 0);
    const double peakX = view.logViewMath().frequencyToPosition(1000.0) * kWidth;
    EXPECT_NEAR(sum / count, peakX, 2.0);
    const int peakRow = kHeight - 1 - int((20.0 * std::log10(0.5) + 120.0) * kHeight / 120.0);
    EXPECT_NEAR(top, peakRow, 8);

    // Octave lines (250 Hz, 4 kHz) are solid from the top down to the labels, third-octave
    // lines (100 Hz) dashed one row in four; beside them lies background crossed only by the
    // decibel lines.
    const QRgb background = image.pixel(kWidth - 3, 30);
    const auto grid = [&](int column) {
        int painted = 0;
        for (int y = 20; y < kHeight - 40; ++y) {
            const QRgb pixel = image.pixel(column, y);
            painted += pixel != background && !isTrace(pixel);
        }
        return painted;
    };
    const auto column = [this](double hertz) {
        return int(std::ceil(view.logViewMath().frequencyToPosition(hertz) * kWidth));
    };
    const int rows = kHeight - 60;
    for (double hertz : {250.0, 4000.0, 100.0}) {
        const bool octave = hertz != 100.0;
        const int painted = grid(column(hertz));
        if (octave) {
            EXPECT_GT(painted, rows - 20) << hertz;
        } else {
            EXPECT_GT(painted, rows / 4 - 10) << hertz;
            EXPECT_LT(painted, rows / 2) << hertz;
        }
        EXPECT_LT(grid(column(hertz) - 3), 60) << hertz;
        EXPECT_LT(grid(column(hertz) + 3), 60) << hertz;
    }
    // Decibel lines every 8 dB from -120 (16 fit into 400 px), dashed across the plot; looked
    // for above the trace, whose area tints the plot below it.
    const auto rowPaint = [&](int row) {
        int painted = 0;
        for (int x = 40; x < kWidth; ++x) {
            const QRgb pixel = image.pixel(x, row);
            painted += pixel != background && !isTrace(pixel);
        }
        return painted;
    };
    for (double level : {-64.0, -40.0, -16.0}) {
        const int row = kHeight - 1 - int(std::round(level * kHeight / 120.0 + kHeight));
        EXPECT_GT(rowPaint(row), (kWidth - 40) / 5) << level;
        EXPECT_LT(rowPaint(row - 3), 60) << level;
        EXPECT_LT(rowPaint(row + 3), 60) << level;
    }
    // left of the margin nothing but labels and decibel lines, the trace is clipped
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < 30; ++x) {
            ASSERT_FALSE(isTrace(image.pixel(x, y))) << x << "," << y;
        }
    }
}

TEST_F(LogViewTest, RedrawRateKeepsOneTimer) {
    view.setRedrawRate(0);
    EXPECT_EQ(view.redrawTimerObject(), nullptr);
    view.setRedrawRate(10);
    view.setRedrawRate(15);
    ASSERT_NE(view.redrawTimerObject(), nullptr);
    EXPECT_EQ(view.redrawTimerObject()->interval(), 66);
    EXPECT_EQ(view.findChildren<QTimer*>().size(), 1);
    view.setRedrawRate(0);
    EXPECT_EQ(view.redrawTimerObject(), nullptr);
}

// The redraw timer's tick is driven by hand: each tick is followed by delivering the paint it
// asked for, so every count below is exact.
TEST_F(LogViewTest, PaintsOnlyDirtyFramesAndBuildsAtMostOnePerPaint) {
    view.show();
    ASSERT_TRUE(koru::test::spinUntil([this] { return view.paints > 0; }));
    // Showing paints more than once, a paint posting the next: settled when a round adds none.
    for (int before = -1, rounds = 0; before != view.paints && rounds < 100; ++rounds) {
        before = view.paints;
        QApplication::processEvents();
    }
    const auto tick = [this] {
        view.redrawTimer();
        QApplication::processEvents();
    };
    // A pointer left over the window by an earlier test marks the read-out dirty on showing.
    tick();
    view.paints = 0;

    // a tick without new content paints nothing
    tick();
    EXPECT_EQ(view.paints, 0);

    // a frame pending on the screen holds the next one back
    EXPECT_TRUE(view.buildTraceLayer([](KOFFTLayer&) {}));
    EXPECT_FALSE(view.buildTraceLayer([](KOFFTLayer&) {}));
    tick();
    EXPECT_EQ(view.paints, 1);
    EXPECT_TRUE(view.buildTraceLayer([](KOFFTLayer&) {}));
    view.paints = 0;

    // the collector on its own thread: every built frame is painted once, none is built over
    // an unshown one
    constexpr int kFrames = 20;
    std::atomic<int> builds{1};
    std::atomic<int> skipped{0};
    std::thread collector([&] {
        while (builds < kFrames || skipped == 0) {
            const bool built = view.buildTraceLayer([](KOFFTLayer&) {});
            (built ? builds : skipped)++;
            std::this_thread::yield();
        }
    });
    // A bounded wait for the frame count, as a safety net for a collector that stalls.
    for (int ticks = 0; ticks < 100000 && (builds < kFrames || skipped == 0); ++ticks)
        tick();
    collector.join();
    tick();

    EXPECT_GE(builds, kFrames);
    EXPECT_GT(skipped, 0);
    EXPECT_EQ(view.paints, builds);
}

} // namespace
