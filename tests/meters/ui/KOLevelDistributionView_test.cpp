#include "meters/ui/KOLevelDistributionView.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(KOLevelDistributionView, HistogramRowsAndMarkersFollowTheRing) {
    KOLevelDistributionView view;
    view.resize(200, 200);
    view.show();
    view.setColor(QColor(0, 200, 255));
    view.setDistributionBound(10);
    KOLevelDistributionView::Ring rms;
    KOLevelDistributionView::Ring peak;
    // Five values on row 100 and five on row 20, the newest on row 20.
    for (int i = 0; i < 5; ++i) {
        rms.Push(100.5f / 200.0f);
        rms.Push(20.5f / 200.0f);
        peak.Push(150.5f / 200.0f);
        peak.Push(150.5f / 200.0f);
    }
    EXPECT_TRUE(std::isnan(view.medianRMS())) << "no distribution before the first build";
    view.createRMSPathWithRingBuffer(rms);
    view.createPeakPathWithRingBuffer(peak);
    EXPECT_EQ(view.medianRMS(), 100.0);
    EXPECT_EQ(view.currentRMS(), 20.0);
    EXPECT_EQ(view.medianPeak(), 150.0);
    EXPECT_EQ(view.currentPeak(), 150.0);

    QImage image(200, 200, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    QPainter painter(&image);
    view.drawContent(painter);
    painter.end();
    auto at = [&](int x, int yUp) { return QColor(image.pixel(x, 199 - yUp)); };
    // Half the values in bin 20 (rows 100..104): the RMS bar reaches half of (200 − 41).
    EXPECT_GT(at(40, 101).blue(), 150) << "inside the RMS bar";
    EXPECT_LT(at(120, 101).blue(), 150) << "beyond the bar's length";
    // The median marker's tip sits at x = floor(200 − 31.5), on row 100.
    EXPECT_GT(at(165, 100).blue(), 150);
    EXPECT_LT(at(165, 60).blue(), 150);

    // An empty ring leaves the markers alone and builds no path.
    KOLevelDistributionView::Ring empty;
    view.createRMSPathWithRingBuffer(empty);
    EXPECT_TRUE(view.rmsPath().isEmpty());
    EXPECT_EQ(view.medianRMS(), 100.0);
}

} // namespace
