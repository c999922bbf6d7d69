#include "meters/ui/KORecorderView.h"
#include "platform/exceptions/FrameworkException.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using Ring = KORecorderView::Ring;

Ring filled(float value, std::size_t count = KORecorderView::kRingLength) {
    Ring ring;
    for (std::size_t i = 0; i < count; ++i)
        ring.Push(value);
    return ring;
}

TEST(KORecorderView, HeightFollowsTheChannelCountUpToALimit) {
    struct Case {
        std::uint32_t channels;
        int height;
    };
    for (const Case c : {Case{1, 35}, Case{2, 70}, Case{15, 525}, Case{16, 550}, Case{64, 550}}) {
        SCOPED_TRACE(c.channels);
        KORecorderView view;
        view.resize(300, 10);
        view.setNumChannels(c.channels);
        EXPECT_EQ(view.height(), c.height);
        EXPECT_EQ(view.width(), 300);
        EXPECT_EQ(view.numChannels(), c.channels);
        EXPECT_EQ(view.ringValue(0, KORecorderView::kRingLength - 1), 0.0f)
            << "new rings hold 800 zeros";
    }
}

TEST(KORecorderView, NoChannelsIsRefusedAndLeavesNoRings) {
    KORecorderView view;
    view.setNumChannels(3);
    try {
        view.setNumChannels(0);
        FAIL() << "no exception";
    } catch (const koru::platform::FrameworkException& e) {
        EXPECT_EQ(e.name(), QStringLiteral("Num Channels is 0"));
        EXPECT_EQ(e.reason(),
                  QStringLiteral("Number of channels is recorder view - 0 is not a alowed value"));
    }
    EXPECT_EQ(view.numChannels(), 0u);
    const float peak = 1.0f;
    view.setPeakSamples(&peak, 1); // nothing to push into, nothing to draw
    EXPECT_FALSE(view.hasPendingLayer());
}

// One value in three buffers is shown; it is the largest of them, so a clip in a buffer that is
// not drawn still shows.
TEST(KORecorderView, EveryThirdBufferPushesTheLargestPeakSinceTheLast) {
    KORecorderView view;
    view.resize(100, 35);
    view.setNumChannels(2);
    const std::vector<std::vector<float>> calls = {
        {0.25f, 0.0f}, {1.0f, 0.0f}, {0.0f, 0.04f}, {0.0f, 0.0f}, {0.16f}};
    for (const auto& peaks : calls)
        view.setPeakSamples(peaks.data(), std::uint32_t(peaks.size()));
    // Pushes at calls 1 and 4; call 5 waits in the pending peaks.
    EXPECT_FLOAT_EQ(view.ringValue(0, 1), 0.5f);
    EXPECT_FLOAT_EQ(view.ringValue(0, 0), 1.0f) << "the clip of call 2 shows at call 4";
    EXPECT_FLOAT_EQ(view.ringValue(1, 0), 0.2f);
    EXPECT_FLOAT_EQ(view.ringValue(1, 1), 0.001f) << "silence is drawn at 0.001 of full scale";
    EXPECT_FLOAT_EQ(view.ringValue(0, 2), 0.0f);
}

TEST(KORecorderView, DisplayValuesAreSquareRootsAboveAFloor) {
    struct Case {
        float peak;
        float shown;
    };
    for (const Case c : {Case{1.0f, 1.0f}, Case{0.25f, 0.5f}, Case{0.0f, 0.001f},
                         Case{-1.0f, 0.001f}, Case{NAN, 0.001f}, Case{4.0f, 2.0f}}) {
        SCOPED_TRACE(c.peak);
        EXPECT_FLOAT_EQ(KORecorderView::displayValue(c.peak), c.shown);
    }
}

// The envelope of strip k spans 0.45 of its strip above and below its centre at full scale and
// covers two points per value from the right edge.
TEST(KORecorderView, EnvelopesSitOnTheirStripsAndShowTwoPointsPerValue) {
    struct Case {
        const char* what;
        float value;
        std::size_t values;
        std::uint32_t k, n;
        double w, h;
        double left, centre, halfHeight;
    };
    const Case cases[] = {
        {"one strip at full scale", 1.0f, 800, 0, 1, 400, 35, 2, 17.5, 0.45 * 35},
        {"top of two", 1.0f, 800, 0, 2, 400, 70, 2, 52.5, 0.45 * 35},
        {"bottom of two, half value", 0.5f, 800, 1, 2, 400, 70, 2, 17.5, 0.45 * 35 * 0.5},
        {"silence", 0.001f, 800, 0, 1, 400, 35, 2, 17.5, 0.45 * 35 * 0.001},
        {"fewer values than the width", 1.0f, 10, 0, 1, 400, 35, 382, 17.5, 0.45 * 35},
        {"wide view holds the whole ring", 1.0f, 800, 0, 1, 2000, 35, 402, 17.5, 0.45 * 35},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Ring ring = filled(c.value, c.values);
        QPainterPath path;
        KORecorderView::drawPath(path, ring, c.k, c.n, c.w, c.h);
        const QRectF box = path.boundingRect();
        EXPECT_DOUBLE_EQ(box.right(), c.w);
        EXPECT_DOUBLE_EQ(box.left(), c.left);
        EXPECT_NEAR(box.center().y(), c.centre, 1e-9);
        EXPECT_NEAR(box.height() / 2, c.halfHeight, 1e-6);
    }
}

bool isTrace(const QColor& c) {
    return c.alpha() > 200 && c.blue() > 150 && c.red() < 120;
}

// Rendered on the collector's side and shown by the next repaint, which drops it so the next
// buffer can draw again.
TEST(KORecorderView, StripsAreDrawnIntoALayerThatTheNextRepaintShows) {
    KORecorderView view;
    view.resize(400, 10);
    view.setNumChannels(2);
    ASSERT_EQ(view.size(), QSize(400, 70));
    const float loud[2] = {1.0f, 0.0f};
    for (int call = 0; call < 300; ++call)
        view.setPeakSamples(loud, 2);
    ASSERT_TRUE(view.hasPendingLayer());
    (void)view.grab(); // the repaint takes the layer that the first buffer drew
    EXPECT_FALSE(view.hasPendingLayer());
    view.setPeakSamples(loud, 2); // the 301st call pushes and draws again
    ASSERT_TRUE(view.hasPendingLayer());
    const QImage layer = view.pendingLayer();
    ASSERT_EQ(layer.size(), QSize(400, 70));

    // Top strip (y 0..35): 101 loud values reach 15.75 points either side of y = 17.5.
    EXPECT_TRUE(isTrace(layer.pixelColor(300, 17)));
    EXPECT_TRUE(isTrace(layer.pixelColor(300, 4)));
    EXPECT_TRUE(isTrace(layer.pixelColor(300, 31)));
    EXPECT_FALSE(isTrace(layer.pixelColor(300, 0)));
    EXPECT_FALSE(isTrace(layer.pixelColor(150, 17))) << "older than the loud values: zeros";
    // Bottom strip is silent: nothing visible beside its centre line.
    EXPECT_FALSE(isTrace(layer.pixelColor(300, 45)));
    EXPECT_FALSE(isTrace(layer.pixelColor(300, 60)));
    // The separator between the strips is a faint white line.
    const QColor separator =
        layer.pixelColor(50, 34).alpha() > 0 ? layer.pixelColor(50, 34) : layer.pixelColor(50, 35);
    EXPECT_GT(separator.alpha(), 60);
    EXPECT_LT(separator.alpha(), 140);

    // On screen the layer lies over the backing colour.
    const QImage shown = view.grab().toImage();
    EXPECT_TRUE(isTrace(shown.pixelColor(300, 17)));
    EXPECT_EQ(shown.pixel(150, 10), view.backingColor().rgb());
}

} // namespace
