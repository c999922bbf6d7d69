#include "meters/ui/KOMeterViews.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

template <typename View> QImage render(const View& view, QSize size) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::magenta);
    QPainter painter(&image);
    view.drawContent(painter, size);
    return image;
}

// y-up coordinates of the view to the image's row.
QRgb at(const QImage& image, int x, int yUp) {
    return image.pixel(x, image.height() - 1 - yUp) & 0xFFFFFF;
}

// An aliased one-point line between two pixel rows or columns lands on either: the brightest
// of the pixel and its neighbours.
QRgb near(const QImage& image, int x, int yUp) {
    QRgb brightest = 0;
    for (int dx = -1; dx <= 0; ++dx) {
        for (int dy = -1; dy <= 0; ++dy) {
            const QRgb c = at(image, x + dx, yUp + dy);
            if (qGray(c) > qGray(brightest)) {
                brightest = c;
            }
        }
    }
    return brightest;
}

bool isBlack(QRgb rgb) {
    return rgb == 0;
}
bool greenish(QRgb rgb) {
    return qGreen(rgb) > 150 && qRed(rgb) < 100 && qBlue(rgb) < 100;
}
bool reddish(QRgb rgb) {
    return qRed(rgb) > 150 && qGreen(rgb) < 60 && qBlue(rgb) < 60;
}

bool isGrey(QRgb rgb) {
    return qRed(rgb) == qGreen(rgb) && qGreen(rgb) == qBlue(rgb) && qRed(rgb) > 40 &&
           qRed(rgb) < 120;
}

// y-down image coordinates.
QRgb atDown(const QImage& image, int x, int y) {
    return image.pixel(x, y) & 0xFFFFFF;
}

bool anyLit(const QImage& image, QRect yUpArea) {
    for (int x = yUpArea.left(); x <= yUpArea.right(); ++x) {
        for (int y = yUpArea.top(); y <= yUpArea.bottom(); ++y) {
            if (!isBlack(at(image, x, y))) {
                return true;
            }
        }
    }
    return false;
}

TEST(KODeviceInPPMView, BarsPeakLinesAndClipBoxesSitWhereTheScalePutsThem) {
    KODeviceInPPMView view;
    // Meter 0: full scale, clipped; meter 1: silence; meter 2: RMS of NaN draws no bar.
    view.setMeters({{-6.0f, 0.0f, true, {}}, {-144.0f, -144.0f, false, {}}, {NAN, NAN, false, {}}});
    struct Probe {
        const char* what;
        int x; // along the meters
        int y; // up the scale
        bool (*expect)(QRgb);
    };
    // Meters 12.67 wide from x = 22; the scale 180 high from y = 18: −6 dB reaches 161.8,
    // 0 dB peaks at 192.5, the −3 dB tick lies on 176.
    const Probe probes[] = {
        {"RMS bar low", 28, 30, greenish},
        {"above the RMS bar", 28, 170, isBlack},
        {"peak line", 28, 191, [](QRgb c) { return c == 0xFFFFFF; }},
        {"lit clip box", 28, 204, reddish},
        {"silent meter", 40, 30, isBlack},
        {"silent meter's peak floor", 40, 19, isBlack},
        {"tick across a silent meter", 40, 176, isGrey},
        {"dark clip box", 40, 204, [](QRgb c) { return c == (qRgb(60, 0, 0) & 0xFFFFFF); }},
        {"NaN meter", 53, 30, isBlack},
    };
    const QImage upright = render(view, QSize(60, 208));
    // Wider than tall: the same meters turned clockwise, their top on the right.
    const QImage lying = render(view, QSize(208, 60));
    for (const Probe& p : probes) {
        SCOPED_TRACE(p.what);
        EXPECT_TRUE(p.expect(at(upright, p.x, p.y))) << std::hex << at(upright, p.x, p.y);
        EXPECT_TRUE(p.expect(atDown(lying, p.y, p.x))) << std::hex << atDown(lying, p.y, p.x);
    }
    // The tick labels stand left of the meters.
    EXPECT_TRUE(anyLit(upright, QRect(4, 156, 17, 12))) << "the −6 label";
    EXPECT_FALSE(anyLit(upright, QRect(4, 142, 17, 8))) << "between two labels";
    // No meter at all: nothing divided by zero, no meter drawn.
    view.setMeters({});
    EXPECT_TRUE(isBlack(at(render(view, QSize(60, 208)), 30, 100)));
}

TEST(KODeviceInPPMView, ChannelNamesNeedLabelsOnAndALongEnoughMeter) {
    KODeviceInPPMView view;
    view.setMeters({{-20.0f, -10.0f, false, QStringLiteral("In 1")},
                    {-20.0f, -10.0f, false, QStringLiteral("In 2")}});
    struct Case {
        const char* name;
        bool labels;
        int length;
        bool named;
    };
    const Case cases[] = {
        {"labels on, 208 long", true, 208, true},
        {"labels off", false, 208, false},
        {"180 long is too short", true, 180, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        view.setDrawLabels(c.labels);
        const QImage image = render(view, QSize(80, c.length));
        // Below the scale, where only the names are drawn.
        EXPECT_EQ(anyLit(image, QRect(22, 2, 58, 14)), c.named);
    }
}

TEST(KODeviceInPPMView, WidthsAndTheClipResetBandFollowTheMeters) {
    // One meter: 32 + 32 wide at most, 11 + 22 at least; eight: 263 + 32 and 95 + 22.
    EXPECT_DOUBLE_EQ(KODeviceInPPMView::preferredWidth(1), 64.0);
    EXPECT_DOUBLE_EQ(KODeviceInPPMView::minWidth(1), 33.0);
    EXPECT_DOUBLE_EQ(KODeviceInPPMView::preferredWidth(8), 295.0);
    EXPECT_DOUBLE_EQ(KODeviceInPPMView::minWidth(8), 117.0);
    EXPECT_DOUBLE_EQ(KODeviceInPPMView::meterWidth(QSize(300, 400), 2), 33.0) << "at most 33";
    EXPECT_DOUBLE_EQ(KODeviceInPPMView::meterWidth(QSize(400, 122), 4), 25.0) << "across";
    EXPECT_DOUBLE_EQ(KODeviceInPPMView::meterWidth(QSize(400, 122), 0), 0.0);
    struct Case {
        QSize size;
        QPointF click; // y-down
        bool resets;
    };
    const Case cases[] = {
        {{60, 208}, {30, 5}, true},    {{60, 208}, {30, 25}, false}, {{208, 60}, {200, 30}, true},
        {{208, 60}, {150, 30}, false}, {{208, 60}, {30, 5}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(KODeviceInPPMView::isClipResetPoint(c.click, c.size), c.resets)
            << c.size.width() << "x" << c.size.height() << " at " << c.click.x() << ","
            << c.click.y();
    }
}

KOGoniometerInstrument::Block block(float a, float b) {
    KOGoniometerInstrument::Block made;
    made.frames = 1024;
    for (std::uint32_t i = 0; i < made.frames; ++i) {
        const float s = float(std::sin(2.0 * std::numbers::pi * 8.0 * i / 1024.0));
        made.a[i] = a * s;
        made.b[i] = b * s;
    }
    return made;
}

TEST(KOGoniometerView, MonoStandsUprightALeansLeftAndTheMarkerShowsThePhase) {
    struct Case {
        const char* name;
        float a;
        float b;
        QPoint lit;  // y-up
        QPoint dark; // y-up
        int markerX; // −1: no marker
        bool markerGreen;
    };
    const Case cases[] = {
        {"mono", 0.5f, 0.5f, {100, 130}, {60, 130}, 174, true},
        {"inverted", 0.5f, -0.5f, {130, 100}, {110, 130}, 26, false},
        {"A alone", 0.5f, 0.0f, {85, 115}, {120, 110}, -1, false},
        {"silence", 0.0f, 0.0f, {100, 100}, {110, 150}, -1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KOGoniometerView view;
        view.setDrawCorrelation(true);
        view.drawBlock(block(c.a, c.b), QSize(200, 200));
        const QImage image = render(view, QSize(200, 200));
        const QRgb lit = near(image, c.lit.x(), c.lit.y());
        if (c.a != 0.0f) {
            EXPECT_TRUE(greenish(lit)) << std::hex << lit;
        }
        EXPECT_TRUE(isBlack(at(image, c.dark.x(), c.dark.y())));
        if (c.markerX >= 0) {
            const QRgb marker = at(image, c.markerX, 10);
            EXPECT_TRUE(c.markerGreen ? greenish(marker) : reddish(marker)) << std::hex << marker;
        } else {
            // Between the "-1" and "+1" labels and inside the outline, the bare band.
            for (int x = 25; x < 175; x += 3) {
                ASSERT_EQ(at(image, x, 10), qRgb(30, 30, 30) & 0xFFFFFF) << "x " << x;
            }
        }
    }
}

TEST(KOGoniometerView, ScaleAndLabelsLieOverThePictureAndTheMeterCanBeHidden) {
    KOGoniometerView view;
    view.drawBlock(block(0.5f, 0.5f), QSize(200, 200));
    const QImage image = render(view, QSize(200, 200));
    // Circles of 90 and 45 about the centre, the axes, the diagonals: grey on black.
    struct Probe {
        const char* what;
        int x;
        int y;
    };
    const Probe lines[] = {
        {"horizontal axis", 40, 100},
        {"outer circle", 190, 100},
        {"inner circle", 142, 115},
        {"diagonal", 70, 70},
    };
    for (const Probe& p : lines) {
        SCOPED_TRACE(p.what);
        EXPECT_GT(qGray(near(image, p.x, p.y)), 40);
    }
    // The trace stays full green where the axis and the inner circle cross it.
    const QRgb crossing = near(image, 100, 145);
    EXPECT_TRUE(qGreen(crossing) == 255 && qRed(crossing) < 160 && qBlue(crossing) < 160)
        << std::hex << crossing;
    // "L" up-left and "R" up-right of the picture, beyond the outer circle's diagonals.
    EXPECT_TRUE(anyLit(image, QRect(26, 163, 8, 12))) << "L";
    EXPECT_TRUE(anyLit(image, QRect(166, 163, 8, 12))) << "R";
    EXPECT_FALSE(anyLit(image, QRect(180, 2, 8, 8))) << "nothing beyond the circle down-right";
    // The correlation meter is off by default: no band at the bottom.
    EXPECT_FALSE(view.drawCorrelation());
    EXPECT_TRUE(isBlack(at(image, 60, 10)));
}

TEST(KOOscilloscopeView, TracesAndGridAtTheirRows) {
    KOOscilloscopeView view;
    view.setColours(QColor(0, 255, 0), QColor(255, 0, 0));
    view.setTraces(std::vector<float>(200, 0.5f), std::vector<float>(200, -0.8f));
    const QImage image = render(view, QSize(200, 100));
    // Half amplitude at three quarters of the height, −0.8 at a tenth.
    EXPECT_EQ(near(image, 25, 75), qRgb(0, 255, 0) & 0xFFFFFF);
    EXPECT_EQ(near(image, 25, 10), qRgb(255, 0, 0) & 0xFFFFFF);
    EXPECT_EQ(at(image, 50, 33), qRgb(90, 90, 90) & 0xFFFFFF) << "division line";
    EXPECT_EQ(at(image, 25, 33), 0u);
    // A trace of one value draws without dividing by zero; no traces leave the grid only.
    view.setTraces({0.5f}, {});
    EXPECT_NE(near(render(view, QSize(200, 100)), 25, 75), qRgb(0, 255, 0) & 0xFFFFFF);
    // A capture that covers only part of the width is drawn one value per point from the
    // left, not stretched over the divisions it does not cover.
    view.setTraces(std::vector<float>(100, 0.5f), {});
    const QImage part = render(view, QSize(200, 100));
    EXPECT_EQ(near(part, 60, 75), qRgb(0, 255, 0) & 0xFFFFFF);
    EXPECT_NE(near(part, 150, 75), qRgb(0, 255, 0) & 0xFFFFFF);
}

} // namespace
