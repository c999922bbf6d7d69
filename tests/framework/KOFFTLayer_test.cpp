#include "engine/KOFloatBuffer.h"
#include "framework/KOFFTDrawingData.h"
#include "framework/KOFFTLayer.h"
#include "framework/ZOLogViewMath.h"

#include <QPainterPath>

#include <gtest/gtest.h>

#include <cmath>
#include <future>

namespace {

constexpr std::uint32_t kFFTSize = 65536;
constexpr double kNyquist = 24000.0;
constexpr int kWidth = 1200;
constexpr int kHeight = 600;
constexpr double kLowerMag = -120.0;
constexpr double kUpperMag = 0.0;

int alphaAt(const QImage& image, int x, int y) {
    return qAlpha(image.pixel(x, y));
}

int paintedIn(const QImage& image, QRect area) {
    int count = 0;
    area &= image.rect();
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            count += alphaAt(image, x, y) > 0;
        }
    }
    return count;
}

// Rows (y-down) of a column that hold paint.
std::pair<int, int> paintedRows(const QImage& image, int x) {
    int first = -1;
    int last = -1;
    for (int y = 0; y < image.height(); ++y) {
        if (alphaAt(image, x, y) > 0) {
            first = first < 0 ? y : first;
            last = y;
        }
    }
    return {first, last};
}

// A spectrum of the analyser's size and a trace set up the way the plot does before drawing.
class TraceLayerTest : public testing::Test {
protected:
    TraceLayerTest() {
        fill([](double) { return 1e-4; }); // -80 dB
        data.SetBuffer(&buffer);
        data.UpdateParameters(3, 50.0, 20000.0, kWidth, kNyquist);
        data.SetColor(Qt::white);
    }
    template <typename Magnitude> void fill(Magnitude magnitude) {
        float* bins = buffer.Data();
        for (std::uint32_t i = 0; i < kFFTSize / 2; ++i) {
            bins[i] = float(magnitude(i * kNyquist / (kFFTSize / 2)));
        }
    }
    QImage render(double width = kWidth) {
        KOFFTLayer layer(&data.LogViewMath(), width, kHeight, kLowerMag, kUpperMag);
        layer.draw(&data);
        return layer.image().copy();
    }
    // Image row (y-down) of a level on this plot.
    static int rowOf(double decibels) {
        return kHeight - 1 -
               int(std::floor((decibels - kLowerMag) * kHeight / (kUpperMag - kLowerMag)));
    }

    KOFloatBuffer buffer{kFFTSize};
    KOFFTDrawingData data{KOFFTDrawingData::kContinuous, true, -144.0};
};

TEST_F(TraceLayerTest, PeakNearOneKilohertzLandsOnItsColumn) {
    fill([](double hertz) {
        const double octaves = std::log2(std::max(hertz, 1.0) / 1000.0);
        return 1e-4 + 0.5 * std::exp(-octaves * octaves / (2.0 * 0.15 * 0.15));
    });
    const QImage image = render();
    int top = -1;
    for (int y = 0; y < kHeight && top < 0; ++y) {
        if (paintedIn(image, QRect(0, y, kWidth, 1)) > 0) {
            top = y;
        }
    }
    ASSERT_GE(top, 0);
    double sum = 0.0;
    int count = 0;
    for (int x = 0; x < kWidth; ++x) {
        if (alphaAt(image, x, top) > 0) {
            sum += x;
            ++count;
        }
    }
    const double expected = data.LogViewMath().frequencyToPosition(1000.0) * kWidth;
    EXPECT_NEAR(sum / count, expected, 2.0);
    EXPECT_NEAR(top, rowOf(20.0 * std::log10(0.5)), 8); // the bump, a little lowered by smoothing

    // away from the bump the trace reads the -80 dB floor
    const auto [first, last] = paintedRows(image, 100);
    EXPECT_NEAR(first, rowOf(-80.0), 2);
    EXPECT_NEAR(last, rowOf(-80.0), 2);
}

TEST_F(TraceLayerTest, LevelsMapLinearlyOntoTheHeight) {
    const ZOLogViewMath math(3, 50.0, 20000.0, kNyquist);
    const KOFFTLayer layer(&math, 800, 300, -96.0, 0.0);
    EXPECT_DOUBLE_EQ(layer.yForLevel(0.0), 300.0);
    EXPECT_DOUBLE_EQ(layer.yForLevel(-96.0), 0.0);
    EXPECT_DOUBLE_EQ(layer.transform().map(QPointF(0.5, -48.0)).x(), 400.0);
    EXPECT_DOUBLE_EQ(layer.transform().map(QPointF(0.5, -48.0)).y(), 150.0);
}

TEST_F(TraceLayerTest, SilenceDrawsAnUnbrokenLineAtTheBaseLevel) {
    data.setOffset(-100.0);
    fill([](double) { return 0.0; }); // -inf dB
    const QImage image = render();
    for (int x = 1; x < kWidth - 2; x += 7) {
        const auto [first, last] = paintedRows(image, x);
        EXPECT_NEAR(first, rowOf(-100.0), 1) << x;
        EXPECT_NEAR(last, rowOf(-100.0), 1) << x;
    }
}

TEST_F(TraceLayerTest, FilledTraceClosesAlongTheBaseLevel) {
    data.setOffset(-100.0);
    data.setDrawMode(KOFFTDrawingData::kFilled);
    const QImage image = render();
    const auto [first, last] = paintedRows(image, 300);
    EXPECT_NEAR(first, rowOf(-80.0), 2);
    EXPECT_NEAR(last, rowOf(-100.0), 1);
    // the area runs from the first column to the last point and closes along the base level
    for (int x = 1; x < kWidth - 2; x += 11) {
        EXPECT_NEAR(paintedRows(image, x).second, rowOf(-100.0), 1) << x;
    }
    EXPECT_EQ(paintedRows(image, kWidth - 1).first, -1);
}

TEST_F(TraceLayerTest, LaterTracesDrawOverEarlierOnes) {
    KOFFTDrawingData second(KOFFTDrawingData::kFilled, true, -144.0);
    second.SetBuffer(&buffer);
    second.UpdateParameters(3, 50.0, 20000.0, kWidth, kNyquist);
    second.SetColor(QColor(0, 255, 0));
    data.setDrawMode(KOFFTDrawingData::kFilled);
    data.SetColor(QColor(255, 0, 0));
    KOFFTLayer layer(&data.LogViewMath(), kWidth, kHeight, kLowerMag, kUpperMag);
    layer.draw(&data);
    layer.draw(&second);
    const QColor pixel = layer.image().pixelColor(600, rowOf(-100.0));
    EXPECT_EQ(pixel, QColor(0, 255, 0));
}

TEST_F(TraceLayerTest, TracesThatCannotBeDrawnLeaveNoPaint) {
    ASSERT_TRUE(data.TryLock());
    auto busy = std::async(std::launch::async, [this] { return render(); });
    EXPECT_EQ(paintedIn(busy.get(), QRect(0, 0, kWidth, kHeight)), 0);
    data.Unlock();
    EXPECT_GT(paintedIn(render(), QRect(0, 0, kWidth, kHeight)), 0); // only that frame

    data.setVisible(false);
    EXPECT_EQ(paintedIn(render(), QRect(0, 0, kWidth, kHeight)), 0);
    data.setVisible(true);

    EXPECT_EQ(paintedIn(render(1.5), QRect(0, 0, kWidth, kHeight)), 0); // no two columns

    KOFFTDrawingData empty(KOFFTDrawingData::kContinuous, true, -144.0);
    empty.SetBuffer(&buffer);
    empty.UpdateParameters(3, 50.0, kNyquist, 1.0, kNyquist); // no bin a pixel in
    ASSERT_EQ(empty.LogViewMath().numLayerPoints(), 0);
    KOFFTLayer layer(&data.LogViewMath(), kWidth, kHeight, kLowerMag, kUpperMag);
    layer.draw(&empty);
    EXPECT_EQ(paintedIn(layer.image(), QRect(0, 0, kWidth, kHeight)), 0);
    EXPECT_TRUE(empty.TryLock()); // left free
    empty.Unlock();

    layer.draw(nullptr);
}

TEST_F(TraceLayerTest, OctaveBarsRiseFromTheBaseLevel) {
    fill([](double) { return 1e-3; }); // -60 dB
    data.setDrawMode(KOFFTDrawingData::kOctaveBars);
    const QImage image = render();
    const auto& bands = data.LogViewMath().octaves();
    const int centre = int((bands[10].xL + bands[10].xR) / 2.0 * kWidth);
    const auto [first, last] = paintedRows(image, centre);
    EXPECT_NEAR(first, rowOf(-60.0), 1);
    EXPECT_EQ(last, kHeight - 1); // from the base level below the plot
    // the one-pixel gap between neighbouring bars
    const int gap = int(std::ceil(bands[10].xR * kWidth - 0.5));
    EXPECT_EQ(paintedIn(image, QRect(gap, rowOf(-70.0), 1, 1)), 0);
}

TEST_F(TraceLayerTest, BandsOutOfRangeStayAtTheBaseLevel) {
    data.setOffset(-100.0);
    data.setDrawMode(KOFFTDrawingData::kOctaveBars);
    fill([](double) { return 1e-8; }); // -160 dB: an empty bar
    EXPECT_EQ(paintedIn(render(), QRect(0, 0, kWidth, kHeight)), 0);

    data.setDrawMode(KOFFTDrawingData::kPeakBars);
    fill([](double) { return 1e6; }); // +120 dB: a marker at the base
    const QImage image = render();
    int painted = 0;
    for (int y = 0; y < kHeight; ++y) {
        const int row = paintedIn(image, QRect(0, y, kWidth, 1));
        painted += row;
        if (row > 0) {
            EXPECT_NEAR(y, rowOf(-100.0) - 1, 1) << "marker two pixels tall above the base";
        }
    }
    EXPECT_GT(painted, kWidth / 2);
}

TEST_F(TraceLayerTest, BarLabelsSitOverTheirOwnBars) {
    fill([](double) { return 1e-3; });
    data.setDrawMode(KOFFTDrawingData::kOctaveBars);
    const auto& bands = data.LogViewMath().octaves();
    const int left = int(bands[12].xL * kWidth);
    const int right = int(bands[12].xR * kWidth);
    const QRect aboveBar(left, rowOf(-60.0) - 14, right - left + 1, 13);
    EXPECT_EQ(paintedIn(render(), aboveBar), 0);
    data.setShowDetails(true);
    const QImage labelled = render();
    EXPECT_GT(paintedIn(labelled, aboveBar), 0);
    // centred: as much ink left of the bar's middle as right of it, within a glyph column
    const int middle = (left + right) / 2;
    const int leftInk =
        paintedIn(labelled, QRect(left - 10, aboveBar.top(), middle - left + 10, 13));
    const int rightInk =
        paintedIn(labelled, QRect(middle, aboveBar.top(), right - middle + 10, 13));
    EXPECT_NEAR(leftInk, rightInk, (leftInk + rightInk) / 3 + 2);
}

TEST_F(TraceLayerTest, TraceFillsTheDevicePixelsOfAHighDensityLayer) {
    data.setOffset(-100.0);
    KOFFTLayer layer(&data.LogViewMath(), kWidth, kHeight, kLowerMag, kUpperMag, 2.0);
    layer.draw(&data);
    const QImage& image = layer.image();
    ASSERT_EQ(image.width(), 2 * kWidth);
    for (int x : {20, 1200, 2380}) {
        const auto [first, last] = paintedRows(image, x);
        EXPECT_NEAR(first, 2 * (kHeight - 200), 2) << x; // -80 dB, 200 px above the bottom
        EXPECT_NEAR(last, 2 * (kHeight - 200), 2) << x;
    }
}

TEST(KOGraphicLayer, CompositesUprightAtAYUpPoint) {
    KOGraphicLayer source(100, 50);
    QPainterPath square;
    square.addRect(0, 0, 10, 10); // bottom-left corner, y-up
    source.fillPath(square, 1, 0, 0, 1);
    KOGraphicLayer target(200, 100);
    source.drawAtPoint(*target.context(), 20, 30);
    const QImage& image = target.image();
    EXPECT_EQ(image.pixelColor(25, 100 - 30 - 5), QColor(Qt::red));
    EXPECT_EQ(alphaAt(image, 25, 100 - 30 - 15), 0);
    EXPECT_EQ(alphaAt(image, 25, 100 - 30 + 5), 0);
}

TEST(KOGraphicLayer, HoldsDevicePixels) {
    KOGraphicLayer layer(120, 60, 2.0);
    EXPECT_EQ(layer.frame(), QRectF(0, 0, 120, 60));
    EXPECT_EQ(layer.image().size(), QSize(240, 120));
    layer.releaseLayer();
    EXPECT_EQ(layer.context(), nullptr);
}

} // namespace
