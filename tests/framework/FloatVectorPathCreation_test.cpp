#include "engine/SDFloatVector.h"
#include "framework/FloatVectorPathCreation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <vector>

namespace {

using koru::framework::SampleRange;

std::vector<QPointF> elements(const QPainterPath& path) {
    std::vector<QPointF> points;
    for (int i = 0; i < path.elementCount(); ++i) {
        points.emplace_back(path.elementAt(i));
    }
    return points;
}

TEST(FloatVectorPathCreation, FlatRunsCostTwoPoints) {
    const float nan = std::nanf("");
    struct Case {
        const char* name;
        std::vector<float> samples;
        SampleRange range;
        double xLength, yMul;
        std::vector<QPointF> expected;
    };
    const Case cases[] = {
        {"constant", {4, 4, 4, 4, 4}, {0, 5}, 5, 1, {{0, 0}, {3, 4}, {4.5, 4.5}}},
        {"one sample", {2.4f}, {0, 1}, 1, 10, {{0, 0}, {0.5, 24.5}}},
        {"empty range", {1, 2, 3}, {1, 0}, 1, 1, {{0, 0}}},
        {"step",
         {0, 0, 0, 10, 10, 10},
         {0, 6},
         6,
         1,
         {{0, 0}, {2, 0}, {3.5, 10.5}, {4, 10}, {5.5, 10.5}}},
        {"range and scale",
         {9, 0, 5, 9},
         {1, 3},
         30,
         2,
         {{0, 0}, {10.5, 10.5}, {20.5, 18.5}}}, // closing on the start adds nothing
        {"ramp of one per sample", {0, 1, 2, 3}, {0, 4}, 4, 1, {{0, 0}, {2, 2}, {3.5, 3.5}}},
        {"not a number is left out",
         {nan, 0, nan, 20, nan},
         {0, 5},
         5,
         1,
         {{0, 0}, {1, 0}, {3.5, 20.5}}},
        {"only not a number", {nan, nan}, {0, 2}, 2, 1, {{0, 0}}},
    };
    for (const Case& c : cases) {
        const QPainterPath path = FloatVectorPathCreation::pathFromBuffer(
            c.samples.data(), c.samples.size(), c.range, c.xLength, c.yMul);
        EXPECT_EQ(elements(path), c.expected) << c.name;
    }
}

TEST(FloatVectorPathCreation, OffScaleSamplesStopAtTheLimit) {
    const std::vector<float> samples = {1e30f, -INFINITY, 3.0f, INFINITY, 0.0f};
    const QPainterPath path =
        FloatVectorPathCreation::pathFromBuffer(samples.data(), samples.size(), {0, 5}, 5, 1, 50);
    for (const QPointF& p : elements(path)) {
        ASSERT_TRUE(std::isfinite(p.x()) && std::isfinite(p.y()));
        EXPECT_LE(std::fabs(p.y()), 50.5);
    }
    EXPECT_EQ(elements(path).back(), QPointF(4.5, 0.5));
}

TEST(FloatVectorPathCreation, RangeBeyondTheBufferIsRefused) {
    const std::vector<float> samples(8, 1.0f);
    const SampleRange ranges[] = {{0, 9}, {8, 1}, {9, 0}, {~0ull, 2}};
    for (const SampleRange& range : ranges) {
        try {
            FloatVectorPathCreation::pathFromBuffer(samples.data(), samples.size(), range, 1, 1);
            ADD_FAILURE() << range.location << "+" << range.length << " accepted";
        } catch (const std::invalid_argument& error) {
            EXPECT_STREQ(error.what(), "buffer too small for creating path");
        }
    }
    EXPECT_EQ(
        FloatVectorPathCreation::pathFromBuffer(samples.data(), 8, {8, 0}, 1, 1).elementCount(), 1);
}

TEST(FloatVectorPathCreation, VectorFormsUseTheWholeVectorOrARange) {
    const std::vector<float> values = {0, 0, 0, 10};
    const auto vector = SDFloatVector::vectorWithData(values.data(), values.size());
    EXPECT_EQ(elements(FloatVectorPathCreation::pathFromFloatVector(*vector, 4, 1)),
              (std::vector<QPointF>{{0, 0}, {2, 0}, {3.5, 10.5}}));
    EXPECT_EQ(elements(FloatVectorPathCreation::pathFromFloatVector(*vector, {3, 1}, 1, 1)),
              (std::vector<QPointF>{{0, 0}, {0.5, 10.5}}));
}

TEST(FloatVectorPathCreation, NativeBufferDrawsEveryFiniteValue) {
    const double values[] = {3.0, 1.0, std::nan(""), 2.0};
    EXPECT_EQ(elements(FloatVectorPathCreation::pathFromNativeBuffer(values, 4, 2.0)),
              (std::vector<QPointF>{{0, 3}, {0, 6}, {1, 2}, {3, 4}}));
    EXPECT_EQ(FloatVectorPathCreation::pathFromNativeBuffer(values, 0, 2.0).elementCount(), 0);
}

} // namespace
