#include "framework/KOColorAdditions.h"
#include "framework/KOLevelHistoryBackingLayer.h"
#include "framework/KOLevelHistoryView.h"
#include "framework/KOLevelHistoryViewDelegate.h"

#include <QGuiApplication>
#include <QImage>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <vector>

namespace {

using Ring = KOLevelHistoryAndDistributionView::Ring;

struct RecordingDelegate : KOLevelHistoryViewDelegate {
    void historyViewDidChangeSpeed(float speed) override { speeds.push_back(speed); }
    void setDistributionBound(std::uint32_t bound) override { bounds.push_back(bound); }
    std::vector<float> speeds;
    std::vector<std::uint32_t> bounds;
};

Ring ringOf(std::size_t count, float value) {
    Ring ring;
    for (std::size_t i = 0; i < count; ++i) {
        ring.Push(value);
    }
    return ring;
}

// The trace colour (blue well above red) against the dark background and the grey grid.
bool isTrace(QRgb pixel) {
    return qBlue(pixel) - qRed(pixel) > 50;
}

bool anyOpaqueIn(const QImage& image, int x0, int x1, int y0, int y1) {
    for (int y = std::max(0, y0); y <= std::min(image.height() - 1, y1); ++y) {
        for (int x = std::max(0, x0); x <= std::min(image.width() - 1, x1); ++x) {
            if (qAlpha(image.pixel(x, y)) != 0) {
                return true;
            }
        }
    }
    return false;
}

class LevelHistoryViewTest : public testing::Test {
protected:
    LevelHistoryViewTest() {
        view.resize(400, 200);
        view.setDelegate(&delegate);
        view.show();
    }
    QImage grab() { return view.grab().toImage().convertToFormat(QImage::Format_ARGB32); }

    RecordingDelegate delegate;
    KOLevelHistoryView view;
};

TEST(KOLevelHistoryBackingLayer, GridLinesStandWhereTheExponentPutsThem) {
    struct Case {
        double minDB, maxDB, exponent, value;
        std::optional<double> fraction;
    };
    const Case cases[] = {
        {-96, 0, 3, -72, 1.0 / 64.0},
        {-96, 0, 3, -3, std::pow(93.0 / 96.0, 3.0)},
        {-96, 0, 3, -96, std::nullopt}, // the bottom of the range draws no line
        {30, 130, 1, 40, 0.1},
        {30, 130, 1, 120, 0.9},
        {30, 130, 1, 30, std::nullopt},
        {-50, -50, 3, -30, std::nullopt}, // no range: nothing, rather than inf or NaN
        {std::nan(""), 0, 3, -30, std::nullopt},
        {0, -96, 3, -72, std::nullopt}, // reversed
    };
    for (const Case& c : cases) {
        const auto y =
            KOLevelHistoryBackingLayer::gridLineY(c.value, c.minDB, c.maxDB, c.exponent, 300.0);
        ASSERT_EQ(y.has_value(), c.fraction.has_value()) << c.minDB << " " << c.value;
        if (y) {
            EXPECT_NEAR(*y, *c.fraction * 300.0, 1e-9) << c.value;
        }
    }
}

TEST(KOLevelHistoryBackingLayer, RendersFullScaleAndSplGridsAtTheirRows) {
    struct Case {
        double minDB, maxDB, exponent;
        std::vector<double> visible; // values whose line lies inside the layer
    };
    const Case cases[] = {
        {-96, 0, 3, {-72, -48, -30, -18, -12, -6, -3}},
        {30, 130, 1, {40, 60, 80, 100, 120}},
        {-50, -50, 3, {}},
    };
    constexpr int kHeight = 300;
    for (const Case& c : cases) {
        KOLevelHistoryBackingLayer layer(KOLevelHistoryBackingLayer::kLabelsLeft, 400, kHeight,
                                         c.minDB, c.maxDB, c.exponent);
        const QImage& image = layer.image();
        std::vector<bool> lineRow(kHeight, false);
        for (const double value : c.visible) {
            const double y = *KOLevelHistoryBackingLayer::gridLineY(value, c.minDB, c.maxDB,
                                                                    c.exponent, kHeight);
            const int row = int(std::floor(kHeight - y));
            int strongest = 0;
            for (int r = row - 1; r <= row + 1; ++r) {
                strongest = std::max(strongest, qAlpha(image.pixel(200, r)));
            }
            EXPECT_EQ(strongest, 128) << "a line in the grid's colour, alpha 0.5: " << value;
            for (int r = row - 2; r <= row + 2; ++r) {
                lineRow[std::size_t(std::clamp(r, 0, kHeight - 1))] = true;
            }
        }
        for (int row = 0; row < kHeight; ++row) {
            if (!lineRow[std::size_t(row)]) {
                ASSERT_EQ(qAlpha(image.pixel(200, row)), 0) << c.minDB << " row " << row;
            }
        }
        EXPECT_EQ(layer.plotRect(), QRectF(23, 0, 400 - 25, kHeight));
    }
}

TEST(KOLevelHistoryBackingLayer, TimeStepGrowsWithTheSecondsPerPoint) {
    const std::pair<double, double> cases[] = {
        {0.5, 60},  {1, 60},    {2, 300},    {6, 600},           {12, 900}, {18, 1800},
        {36, 3600}, {72, 7200}, {1e9, 7200}, {std::nan(""), 60}, {-5, 60},
    };
    for (const auto& [seconds, step] : cases) {
        EXPECT_EQ(KOLevelHistoryBackingLayer::timeAxisStep(seconds), step) << seconds;
    }
}

TEST(KOLevelHistoryBackingLayer, TimeAxisDrawsLinesBackFromTheRightEdge) {
    KOLevelHistoryBackingLayer layer(KOLevelHistoryBackingLayer::kLabelsLeft, 600, 200, 30, 130,
                                     1.0);
    layer.drawTimeAxis(2.0);
    EXPECT_EQ(layer.plotRect(), QRectF(23, 15, 575, 184));
    const QImage& image = layer.image();
    // 300 s apart at 2 s per point: 150 points; the dashes leave gaps, so look along the line.
    for (const int x : {450, 300, 150}) {
        EXPECT_TRUE(anyOpaqueIn(image, x - 1, x, 25, 55)) << x;
        EXPECT_TRUE(anyOpaqueIn(image, x - 25, x + 25, 186, 199)) << "label under " << x;
    }
    for (const int x : {375, 225, 75}) {
        EXPECT_FALSE(anyOpaqueIn(image, x - 5, x + 5, 25, 55)) << x;
    }
}

TEST(KOLevelHistoryBackingLayer, TimeAxisEndsForEveryScale) {
    for (const double seconds : {std::numeric_limits<double>::infinity(), 1e300,
                                 std::numeric_limits<double>::quiet_NaN(), -1.0}) {
        KOLevelHistoryBackingLayer layer(KOLevelHistoryBackingLayer::kLabelsLeft, 300, 100, 30, 130,
                                         1.0);
        layer.drawTimeAxis(seconds);
        EXPECT_EQ(layer.plotRect().y(), 15.0) << seconds;
    }
}

TEST_F(LevelHistoryViewTest, SpeedIsClampedAndToldToTheDelegate) {
    const std::pair<double, double> cases[] = {
        {5.0, 2.0}, {0.1, double(0.3f)}, {1.5, 1.5}, {-INFINITY, double(0.3f)}};
    for (const auto& [request, stored] : cases) {
        view.setSpeed(request);
        EXPECT_EQ(view.speed(), stored) << request;
        EXPECT_EQ(delegate.speeds.back(), float(stored)) << request;
    }
    const std::size_t heard = delegate.speeds.size();
    view.setSpeed(std::nan(""));
    EXPECT_EQ(view.speed(), double(0.3f));
    EXPECT_EQ(delegate.speeds.size(), heard);
}

TEST_F(LevelHistoryViewTest, TraceStartsWithTheNewestAtTheRightEdge) {
    Ring ring;
    for (int i = 0; i < 3000; ++i) {
        ring.Push(float(i % 97) / 100.0f);
    }
    const QPainterPath path = view.pathWithRingBuffer(ring);
    ASSERT_GT(path.elementCount(), 3);
    EXPECT_EQ(QPointF(path.elementAt(0)), QPointF(400, 0));
    // The newest value is 2999 % 97 = 89, the one before 88; the spare slot holds 499 % 97.
    EXPECT_EQ(QPointF(path.elementAt(1)), QPointF(400, std::floor(0.89f * 200.0)));
    EXPECT_EQ(QPointF(path.elementAt(2)), QPointF(399, std::floor(0.88f * 200.0)));
}

TEST_F(LevelHistoryViewTest, TraceWalksOnlyTheStoredValues) {
    struct Case {
        int width;
        double speed;
        std::size_t pushes;
        double leftEnd; // where the trace closes down
    };
    const Case cases[] = {
        {400, 1.0, 0, 400},     // nothing stored yet
        {400, 1.0, 10, 390},    // a ring still filling
        {400, 1.0, 5000, 20},   // the label column stops it
        {1200, 0.3, 5000, 450}, // the ring's size stops it: 2500 values
        {1200, 0.3, 2501, 450},
    };
    for (const Case& c : cases) {
        view.resize(c.width, 200);
        view.setSpeed(c.speed);
        const QPainterPath path = view.pathWithRingBuffer(ringOf(c.pushes, 0.5f));
        const QPointF end = path.elementAt(path.elementCount() - 1);
        EXPECT_NEAR(end.x(), c.leftEnd, 1e-3) << c.width << " " << c.pushes;
        EXPECT_EQ(end.y(), 0.0);
        EXPECT_LE(std::size_t(path.elementCount()), std::min<std::size_t>(c.pushes, 2500) + 3);
    }
}

TEST_F(LevelHistoryViewTest, BrokenValuesNeitherBreakTheTraceNorLeaveTheView) {
    Ring ring;
    const float values[] = {0.5f, std::nanf(""), INFINITY, -INFINITY,
                            7.0f, -3.0f,         0.25f,    std::nanf("")};
    for (const float v : values) {
        ring.Push(v);
    }
    const QPainterPath path = view.pathWithRingBuffer(ring);
    // Start, six drawable values, the last point again and the close: the NaNs are left out.
    EXPECT_EQ(path.elementCount(), 1 + 6 + 2);
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPointF p = path.elementAt(i);
        ASSERT_TRUE(std::isfinite(p.x()) && std::isfinite(p.y())) << i;
        EXPECT_GE(p.y(), 0.0) << i;
        EXPECT_LE(p.y(), 200.0) << i;
    }
}

TEST_F(LevelHistoryViewTest, RedrawsOnlyAfterMoreThanAPointOfScroll) {
    view.setSpeed(0.5);
    const Ring ring = ringOf(10, 0.5f);
    view.setNeedsDisplay();
    view.createRMSPathWithRingBuffer(ring);
    view.createRMSPathWithRingBuffer(ring);
    EXPECT_FALSE(view.viewIsDirty()) << "one point exactly is not more than one";
    view.createRMSPathWithRingBuffer(ring);
    EXPECT_TRUE(view.viewIsDirty());
    view.grab();
    EXPECT_EQ(view.scrolledSinceRedraw(), 0.0);
}

TEST_F(LevelHistoryViewTest, RenderedTracesShowTheNewestLevelsAtTheRightEdge) {
    Ring rms = ringOf(2500, 0.25f);
    for (int i = 0; i < 20; ++i) {
        rms.Push(0.75f);
    }
    view.createPeakPathWithRingBuffer(ringOf(2500, 0.8f));
    view.createRMSPathWithRingBuffer(rms);
    const QImage image = grab();
    // y-up level 100 of 200 is row 100; the newest 20 values cover x 381 ... 400.
    for (const int x : {385, 390, 398}) {
        EXPECT_TRUE(isTrace(image.pixel(x, 100))) << x;
    }
    for (const int x : {100, 200, 300, 370}) {
        EXPECT_FALSE(isTrace(image.pixel(x, 100))) << x;
        EXPECT_TRUE(isTrace(image.pixel(x, 180))) << "older RMS at " << x;
    }
    // The peak line at 0.8 of the height, y-up 160: rows 39 and 40.
    EXPECT_TRUE(isTrace(image.pixel(200, 39)) || isTrace(image.pixel(200, 40)));
    EXPECT_FALSE(isTrace(image.pixel(200, 30)));
    // Left of the plot rectangle only the labels stand.
    EXPECT_FALSE(isTrace(image.pixel(10, 180)));
}

TEST_F(LevelHistoryViewTest, BrokenRangesDrawTracesWithoutAGrid) {
    view.createRMSPathWithRingBuffer(ringOf(2500, 0.25f));
    struct Case {
        float low, high;
        int lines; // grid rows above the trace
    };
    // -96 ... 0 dB: -30 at row 135, -18 at 92, -12 at 66, -6 at 35, -3 at 18.
    const Case cases[] = {{-96.0f, 0.0f, 5},
                          {-50.0f, -50.0f, 0},
                          {std::nanf(""), 0.0f, 0},
                          {-INFINITY, 0.0f, 0},
                          {0.0f, -96.0f, 0}};
    for (const Case& c : cases) {
        view.setLowerBound(c.low, c.high);
        const QImage image = grab();
        EXPECT_TRUE(isTrace(image.pixel(200, 180))) << c.low << " " << c.high;
        int lines = 0;
        for (int row = 0; row < 140; ++row) {
            lines += qGreen(image.pixel(200, row)) > 60 ? 1 : 0;
        }
        EXPECT_EQ(lines, c.lines) << c.low << " " << c.high;
    }
}

TEST_F(LevelHistoryViewTest, MarkerIsDrawnAtItsBound) {
    view.setSpeed(1.0);
    view.setDistributionBound(100);
    view.setDistributionBoundInSeconds(QStringLiteral("2995 ms"));
    EXPECT_EQ(view.distributionBoundRect(), QRectF(298, 0, 4, 200));
    QImage image = grab();
    EXPECT_LT(qGreen(image.pixel(300, 100)), 100) << "hidden until asked for";
    view.setShowDistributionTimeMarker(true);
    image = grab();
    EXPECT_GT(std::max(qGreen(image.pixel(299, 100)), qGreen(image.pixel(300, 100))), 120);
    EXPECT_LT(qGreen(image.pixel(310, 100)), 100);
    EXPECT_TRUE([&] {
        for (int x = 240; x < 298; ++x) {
            for (int y = 2; y < 14; ++y) {
                if (qGreen(image.pixel(x, y)) > 80) {
                    return true;
                }
            }
        }
        return false;
    }()) << "the label stands left of the marker, below the top";
}

TEST_F(LevelHistoryViewTest, DraggingTheMarkerTellsTheDelegateOnly) {
    view.setSpeed(0.5);
    view.setDistributionBound(100); // marker at 400 - 50 = 350
    QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(200, 100));
    EXPECT_FALSE(view.isDraggingDistributionBound());
    QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(200, 100));

    QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(351, 100));
    ASSERT_TRUE(view.isDraggingDistributionBound());
    EXPECT_NE(QGuiApplication::overrideCursor(), nullptr);
    QTest::mouseMove(&view, QPoint(300, 100));
    QTest::mouseMove(&view, QPoint(450, 100));
    QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(450, 100));
    EXPECT_FALSE(view.isDraggingDistributionBound());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(delegate.bounds, (std::vector<std::uint32_t>{200, 0}));
    EXPECT_EQ(view.distributionBound(), 100u);
}

} // namespace
