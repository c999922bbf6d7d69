#include "engine/SDFloatVector.h"
#include "framework/KOFloatVectorView.h"

#include <QImage>
#include <QPalette>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

namespace {

using koru::framework::SampleRange;

std::shared_ptr<SDFloatVector> constantVector(std::uint64_t length, float value) {
    auto vector = SDFloatVector::vectorWithLength(length);
    vector->fill(value);
    return vector;
}

std::vector<QPointF> pointsOf(KOFloatVectorView& view, const SDFloatVector& vector,
                              int* calls = nullptr) {
    std::vector<QPointF> points;
    view.inPathPointsForVector(vector, [&](const QPointF* p, std::size_t count) {
        points.assign(p, p + count);
        if (calls != nullptr) {
            ++*calls;
        }
    });
    return points;
}

bool isTrace(QRgb pixel) {
    return qBlue(pixel) - qRed(pixel) > 40;
}

bool traceIn(const QImage& image, int x0, int x1, int y0, int y1) {
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            if (isTrace(image.pixel(x, y))) {
                return true;
            }
        }
    }
    return false;
}

class CountingVectorView : public KOFloatVectorView {
public:
    using KOFloatVectorView::KOFloatVectorView;
    void selectionDidChange() override {
        ++changes;
        KOFloatVectorView::selectionDidChange();
    }
    int changes = 0;
};

class FloatVectorViewTest : public testing::Test {
protected:
    FloatVectorViewTest() {
        view.resize(200, 100);
        view.show();
    }
    CountingVectorView view;
};

TEST_F(FloatVectorViewTest, ConstantVectorGivesThreePoints) {
    const auto vector = constantVector(1000, 400.0f);
    view.setVector(vector);
    // yMul = (100 / 2) / 1000: 400 draws 20 above the middle.
    const std::vector<QPointF> expected = {{0, 0}, {198.5, 20.5}, {199.5, 20.5}};
    EXPECT_EQ(pointsOf(view, *vector), expected);
}

TEST_F(FloatVectorViewTest, NothingVisibleCallsNoBlock) {
    int calls = 0;
    pointsOf(view, *SDFloatVector::vectorWithLength(0), &calls);
    view.setVector(constantVector(1000, 1.0f));
    view.resize(0, 100);
    pointsOf(view, *view.vector(), &calls);
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(view.pathForVector(view.vector().get()).isEmpty());
}

TEST_F(FloatVectorViewTest, ReductionsAreCachedByPositionWidthAndZoom) {
    auto vector = SDFloatVector::vectorWithLength(4000);
    for (std::uint64_t i = 0; i < 4000; ++i) {
        vector->mutableData()[i] = float((i * 7919) % 1000) - 500.0f;
    }
    view.setVector(vector);
    view.setScrollOrigin(100);
    pointsOf(view, *vector);
    view.setScrollOrigin(300);
    pointsOf(view, *vector);
    EXPECT_EQ(view.reductionsMade(), 2u);
    view.setScrollOrigin(100);
    pointsOf(view, *vector);
    EXPECT_EQ(view.reductionsMade(), 2u) << "scrolling back reuses the reduction";
    vector->mutableData()[150] += 1.0f;
    pointsOf(view, *vector);
    EXPECT_EQ(view.reductionsMade(), 3u) << "new contents, new reduction";
}

// Both zooms show the whole of a short vector from its start: only the target length tells
// the two reductions apart.
TEST_F(FloatVectorViewTest, ZoomOutOfAShortVectorIsNotServedTheOldReduction) {
    auto vector = SDFloatVector::vectorWithLength(300);
    for (std::uint64_t i = 0; i < 300; ++i) {
        vector->mutableData()[i] = (i % 2 == 0 ? 1.0f : -1.0f) * float(i) * 20.0f;
    }
    view.setVector(vector);
    view.setZoom(0.5);
    const auto halfZoom = pointsOf(view, *vector);
    view.setZoom(0.25);
    const auto quarterZoom = pointsOf(view, *vector);
    EXPECT_EQ(view.reductionsMade(), 2u);
    EXPECT_EQ(halfZoom.back().x(), 299.5);    // 300 values, one unit apart
    EXPECT_EQ(quarterZoom.back().x(), 298.5); // 150 values, two units apart
}

TEST_F(FloatVectorViewTest, ZoomTooSmallForOnePixelKeepsEverySample) {
    view.setVector(constantVector(300, 0.0f));
    view.setZoom(1e-4);
    view.setZoom(0.0);
    view.setZoom(-2.0);
    view.setZoom(std::nan(""));
    EXPECT_EQ(view.zoom(), 1e-4);
    int calls = 0;
    const auto points = pointsOf(view, *view.vector(), &calls);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(points.back(), QPointF(299.5, 0.5));
}

TEST_F(FloatVectorViewTest, BrokenValuesStayOnTheView) {
    std::vector<float> values(200, 0.0f);
    values[10] = std::nanf("");
    values[50] = INFINITY;
    values[51] = -INFINITY;
    values[120] = 1e30f;
    values[199] = std::nanf("");
    const auto vector = SDFloatVector::vectorWithData(values.data(), values.size());
    view.setVector(vector);
    const auto points = pointsOf(view, *vector);
    ASSERT_GE(points.size(), 4u);
    for (const QPointF& p : points) {
        ASSERT_TRUE(std::isfinite(p.x()) && std::isfinite(p.y()));
        EXPECT_LE(std::fabs(p.y()), 50.5);
    }
    EXPECT_TRUE(
        std::any_of(points.begin(), points.end(), [](const QPointF& p) { return p.y() == 50.5; }));
    EXPECT_TRUE(
        std::any_of(points.begin(), points.end(), [](const QPointF& p) { return p.y() == -49.5; }));
    const QPainterPath path = view.pathForVector(vector.get());
    for (int i = 0; i < path.elementCount(); ++i) {
        ASSERT_TRUE(std::isfinite(path.elementAt(i).x) && std::isfinite(path.elementAt(i).y));
    }
    view.grab();
}

TEST_F(FloatVectorViewTest, PathIsPlacedAtTheVisibleRectAndCached) {
    EXPECT_THROW(view.pathForVector(nullptr), std::invalid_argument);
    const auto vector = constantVector(1000, 400.0f);
    view.setVector(vector);
    view.setScrollOrigin(250);
    const QPainterPath path = view.pathForVector(vector.get());
    ASSERT_EQ(path.elementCount(), 3);
    EXPECT_EQ(QPointF(path.elementAt(0)), QPointF(250, 50));
    EXPECT_EQ(QPointF(path.elementAt(2)), QPointF(250 + 199.5, 50 + 20.5));
    EXPECT_EQ(view.pathTransformation(), QTransform::fromTranslate(250, 50));
    const std::uint64_t reductions = view.reductionsMade();
    EXPECT_EQ(view.pathForVector(vector.get()), path);
    EXPECT_EQ(view.reductionsMade(), reductions);
}

// A whole impulse response on 1200 points: the decimation keeps the single-sample spikes.
TEST(KOFloatVectorViewRendering, SpikesSurviveTheReduction) {
    KOFloatVectorView view;
    view.resize(1200, 200);
    view.show();
    auto vector = SDFloatVector::vectorWithLength(65536);
    vector->mutableData()[40000] = 65536.0f;  // to the top
    vector->mutableData()[20000] = -65536.0f; // to the bottom
    view.setVector(vector);
    view.setZoom(1200.0 / 65536.0);
    const QImage image = view.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const int up = int(40000 * 1200.0 / 65536.0);
    const int down = int(20000 * 1200.0 / 65536.0);
    EXPECT_TRUE(traceIn(image, up - 3, up + 3, 0, 3));
    EXPECT_TRUE(traceIn(image, down - 3, down + 3, 196, 199));
    EXPECT_FALSE(traceIn(image, 500, 600, 0, 60)) << "quiet stretches stay on the middle";
    EXPECT_TRUE(traceIn(image, 550, 550, 98, 101));
    EXPECT_FALSE(traceIn(image, 0, down - 10, 110, 180));
    EXPECT_FALSE(traceIn(image, down + 10, 1199, 110, 180));
}

TEST_F(FloatVectorViewTest, DragSelectsWholeSamples) {
    view.setVector(constantVector(1000, 0.0f));
    view.setZoom(2.0);
    QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(20, 50)); // sample 10
    QTest::mouseMove(&view, QPoint(45, 50));
    QTest::mouseMove(&view, QPoint(61, 50)); // sample 30.5
    EXPECT_EQ(view.changes, 1) << "no news while the drag is under way";
    QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(61, 50));
    EXPECT_EQ(view.changes, 2);
    ASSERT_TRUE(view.hasSelection());
    EXPECT_EQ(view.selection(), (SampleRange{10, 20}));
    EXPECT_EQ(view.selectionRect(), QRectF(10, 0, 20, 100));

    QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(150, 50));
    EXPECT_FALSE(view.hasSelection()) << "a click without a drag clears it";
    EXPECT_EQ(view.selectionRect(), QRectF());
}

TEST_F(FloatVectorViewTest, ShiftMovesTheNearerEdge) {
    view.setVector(constantVector(1000, 0.0f));
    view.setZoom(2.0);
    auto select = [&](int from, int to) {
        QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(from, 50));
        QTest::mouseMove(&view, QPoint(to, 50));
        QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(to, 50));
    };
    auto shiftDrag = [&](int from, int to) {
        QTest::mousePress(&view, Qt::LeftButton, Qt::ShiftModifier, QPoint(from, 50));
        QTest::mouseMove(&view, QPoint(to, 50));
        QTest::mouseRelease(&view, Qt::LeftButton, Qt::ShiftModifier, QPoint(to, 50));
    };
    struct Case {
        int from, to;
        SampleRange expected;
    };
    // Each starts from samples 10 ... 30 (points 20 ... 60).
    const Case cases[] = {
        {12, 8, {4, 26}},   // nearer the start
        {66, 90, {10, 35}}, // nearer the end
        {40, 44, {10, 12}}, // a tie moves the end
        {58, 4, {2, 8}},    // the end may cross the start
    };
    for (const Case& c : cases) {
        select(20, 60);
        ASSERT_EQ(view.selection(), (SampleRange{10, 20}));
        shiftDrag(c.from, c.to);
        EXPECT_EQ(view.selection(), c.expected) << c.from << " -> " << c.to;
    }
}

TEST_F(FloatVectorViewTest, SelectionIsDrawnUnderTheCurve) {
    view.setVector(constantVector(1000, 0.0f));
    view.setZoom(2.0);
    QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(40, 50));
    QTest::mouseMove(&view, QPoint(100, 50));
    QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(100, 50));
    const QImage image = view.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRgb highlight = view.palette().color(QPalette::Highlight).rgb();
    EXPECT_EQ(image.pixel(70, 20), highlight);
    EXPECT_NE(image.pixel(20, 20), highlight);
    EXPECT_NE(image.pixel(120, 20), highlight);
}

} // namespace
