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

TEST(KODeviceInPPMView, BarsPeakLinesAndClipBoxesSitWhereTheScalePutsThem) {
    KODeviceInPPMView view;
    // Meter 0: full scale, clipped; meter 1: silence; meter 2: RMS of NaN draws no bar.
    view.setMeters({{-6.0f, 0.0f, true}, {-144.0f, -144.0f, false}, {NAN, NAN, false}});
    const QImage image = render(view, QSize(60, 208));
    // Scale 198 px: −6 dB reaches 158, 0 dB peaks at 192.
    struct Probe {
        const char* what;
        int x;
        int yUp;
        bool (*expect)(QRgb);
    };
    const Probe probes[] = {
        {"RMS bar low", 10, 20, greenish},
        {"above the RMS bar", 10, 170, isBlack},
        {"peak line", 10, 191, [](QRgb c) { return c == 0xFFFFFF; }},
        {"lit clip box", 10, 204, reddish},
        {"silent meter", 30, 20, isBlack},
        {"silent meter's peak floor", 30, 1, isBlack},
        {"dark clip box", 30, 204, [](QRgb c) { return c == (qRgb(60, 0, 0) & 0xFFFFFF); }},
        {"NaN meter", 50, 20, isBlack},
    };
    for (const Probe& p : probes) {
        SCOPED_TRACE(p.what);
        EXPECT_TRUE(p.expect(at(image, p.x, p.yUp))) << std::hex << at(image, p.x, p.yUp);
    }
    // No meter at all: black, and nothing divided by zero.
    view.setMeters({});
    EXPECT_TRUE(isBlack(at(render(view, QSize(60, 208)), 30, 100)));
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
        {"inverted", 0.5f, -0.5f, {130, 100}, {100, 130}, 26, false},
        {"A alone", 0.5f, 0.0f, {85, 115}, {115, 115}, -1, false},
        {"silence", 0.0f, 0.0f, {100, 100}, {100, 150}, -1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KOGoniometerView view;
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
            for (int x = 0; x < 200; x += 3) {
                ASSERT_EQ(at(image, x, 10), qRgb(30, 30, 30) & 0xFFFFFF) << "x " << x;
            }
        }
    }
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
}

} // namespace
