#include "analysers/KODelayFinderData.h"
#include "analysers/KODelayFinderMeasurement.h"
#include "analysers/KODelayFinderResults.h"
#include "analysers/ui/DoubleSlider.h"
#include "analysers/ui/KODelayFinderController.h"
#include "analysers/ui/KODelayFinderView.h"
#include "framework/KOTimeRulerView.h"
#include "utility/KODistanceFormatter.h"
#include "utility/SampleRateSource.h"

#include <QImage>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListView>
#include <QNativeGestureEvent>
#include <QPointingDevice>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

namespace {

constexpr std::uint32_t kLength = 65536;
constexpr QRgb kMarkerLine = 0xffc0c0c0; // light grey

// The delay arithmetic of a real-time measurement: it reads the source `total` samples behind
// the response, and shows the delay counted from its offset.
class FakeMeasurement : public KODelayFinderMeasurement {
public:
    QString delayFinderTitle() const override { return QStringLiteral("Transfer 7"); }
    qint64 sourceDelay() const override {
        if (failing)
            throw std::runtime_error("no analyser");
        return total - offset;
    }
    void setSourceDelay(qint64 d) override {
        total = offset + d;
        results.announceDelayChange();
    }
    qint64 delayOffset() const override { return offset; }
    void setDelayOffset(qint64 o) override {
        offset = o;
        results.announceDelayChange();
    }
    KODelayFinderResults& delayFinderResults() override { return results; }
    void computeDelayWithCompletionBlock(Completion completion) override {
        ++runs;
        pending = std::move(completion);
    }
    void finishRun(const std::shared_ptr<KODelayFinderData>& data) {
        results.add(data);
        if (pending)
            pending(*this, data);
        pending = {};
    }

    std::int64_t total = 0;
    std::int64_t offset = 0;
    bool failing = false;
    int runs = 0;
    Completion pending;
    KODelayFinderResults results;
};

// An impulse response with its main peak at 2000 and a smaller one at 300.
std::shared_ptr<KODelayFinderData> impulseResponse(std::int64_t main = 2000,
                                                   std::int64_t secondary = 300) {
    std::vector<float> samples(kLength, 0.0f);
    samples[std::size_t(main)] = 60000.0f;
    samples[std::size_t(secondary)] = -9000.0f;
    samples[std::size_t(secondary + 4)] = 4000.0f;
    return KODelayFinderData::delayFinderDataWithFloatBuffer(samples.data(), kLength);
}

struct FixedRate : koru::utility::SampleRateSource {
    double currentSampleRate() const override { return 48000.0; }
};

class DelayFinderWindow : public testing::Test {
protected:
    DelayFinderWindow() {
        formatter().setSampleRateSource(&rate);
        savedUnit = formatter().unit();
        formatter().setUnit(KODistanceFormatter::Meter);
        measurement.results.add(impulseResponse());
        measurement.results.add(impulseResponse(5000, 800));
        controller.emplace(measurement);
        controller->window()->resize(900, 400);
        controller->showWindow();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(controller->window()));
    }
    ~DelayFinderWindow() override {
        controller.reset();
        formatter().setUnit(savedUnit);
        formatter().setSampleRateSource(nullptr);
    }
    static KODistanceFormatter& formatter() {
        return KODistanceFormatter::sharedDistanceFormatter();
    }

    KODelayFinderView* view() const { return controller->delayFinderView(); }
    KOTimeRulerView* ruler() const { return controller->timeRuler(); }
    void selectRow(int row) {
        controller->resultsView()->selectionModel()->select(measurement.results.index(row),
                                                            QItemSelectionModel::ClearAndSelect);
    }
    double markerLocation(const char* identifier) const {
        for (const auto& marker : ruler()->markers()) {
            if (marker.identifier == QLatin1String(identifier))
                return marker.location;
        }
        return NAN;
    }
    // Drags the view's mouse selection between two widget x positions.
    void dragSelection(int fromX, int toX) {
        QTest::mousePress(view(), Qt::LeftButton, {}, QPoint(fromX, 40));
        QTest::mouseMove(view(), QPoint(toX, 40));
        QTest::mouseRelease(view(), Qt::LeftButton, {}, QPoint(toX, 40));
    }
    // To the nearest whole ruler x.
    void dragMarker(const char* identifier, double toRulerX) {
        const double from = ruler()->rulerX(markerLocation(identifier));
        const int to = int(std::lround(toRulerX));
        QTest::mousePress(ruler(), Qt::LeftButton, {}, QPoint(int(std::lround(from)), 10));
        QTest::mouseMove(ruler(), QPoint(to, 10));
        QTest::mouseRelease(ruler(), Qt::LeftButton, {}, QPoint(to, 10));
    }
    int markerLinesAt(int x) {
        const QImage image = view()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        return image.pixel(x, 5) == kMarkerLine &&
                       image.pixel(x, view()->height() - 5) == kMarkerLine
                   ? 1
                   : 0;
    }

    FixedRate rate;
    std::uint32_t savedUnit = 0;
    FakeMeasurement measurement;
    std::optional<KODelayFinderController> controller;
};

TEST_F(DelayFinderWindow, WithoutASelectionShowsTheMessageAndNoMarkers) {
    EXPECT_EQ(controller->window()->windowTitle(), QStringLiteral("Delay Finder for Transfer 7"));
    EXPECT_EQ(view()->data(), nullptr);
    measurement.setSourceDelay(40);
    const QImage empty = view()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    int markerPixels = 0;
    int messagePixels = 0;
    for (int y = 0; y < empty.height(); ++y) {
        for (int x = 0; x < empty.width(); ++x) {
            const QColor c = empty.pixelColor(x, y);
            markerPixels += empty.pixel(x, y) == kMarkerLine ? 1 : 0;
            messagePixels += c.blue() > 150 && c.red() < 120 ? 1 : 0;
        }
    }
    EXPECT_EQ(markerPixels, 0);
    EXPECT_GT(messagePixels, 50) << "the blue message";

    measurement.results.add(KODelayFinderData::delayFinderDataWithFloatBuffer(nullptr, 0));
    selectRow(2);
    EXPECT_EQ(view()->vector(), nullptr) << "a result without samples shows the message too";
    EXPECT_EQ(markerLinesAt(40), 0);

    selectRow(1);
    EXPECT_EQ(view()->data(), measurement.results.at(1));
    EXPECT_EQ(markerLinesAt(40), 1) << "the delay line once there is data";
    EXPECT_EQ(markerLinesAt(0), 1) << "the zero line";
}

TEST_F(DelayFinderWindow, SelectingAStretchMovesTheDelayToItsPeak) {
    selectRow(0);
    ASSERT_EQ(view()->zoom(), 1.0);
    measurement.setDelayOffset(100);
    const struct {
        const char* what;
        int from;
        int to;
        std::int64_t total; // the measurement's delay afterwards
    } cases[] = {
        {"around the smaller peak", 250, 350, 300},
        {"a click selects nothing", 500, 500, 300},
        {"a silent stretch has no peak", 400, 600, 300},
        {"beside the smaller peak, dragged leftwards", 310, 302, 304},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        dragSelection(c.from, c.to);
        EXPECT_EQ(measurement.total, c.total);
        EXPECT_EQ(measurement.sourceDelay(), c.total - 100) << "counted from the offset";
        EXPECT_EQ(markerLocation(KODelayFinderView::kDelayTimeMarker), double(c.total));
        EXPECT_EQ(view()->delayTimeMarkerPosition(), double(c.total));
    }
    EXPECT_EQ(markerLinesAt(304), 1);
}

TEST_F(DelayFinderWindow, DraggedMarkersSetTheDelayAndTheZeroPoint) {
    selectRow(0);
    view()->setScrollOrigin(0.7);
    // The ruler's document starts 0.7 points left of the view: x 100 is sample 100.7.
    dragMarker(KODelayFinderView::kDelayTimeMarker, ruler()->rulerX(100.7));
    EXPECT_EQ(measurement.total, 100) << "whole samples, truncated";
    EXPECT_EQ(markerLocation(KODelayFinderView::kDelayTimeMarker), 100.0);

    dragMarker(KODelayFinderView::kZeroPointMarker, ruler()->rulerX(40.7));
    EXPECT_EQ(measurement.offset, 40);
    EXPECT_EQ(measurement.total, 100) << "moving the zero keeps the total delay";
    EXPECT_EQ(measurement.sourceDelay(), 60);
    EXPECT_NEAR(markerLocation(KODelayFinderView::kZeroPointMarker), 40.7, 1e-9)
        << "a reload leaves the zero marker where it was dropped";
    EXPECT_NEAR(view()->zeroTimeMarkerPosition(), 40.7, 1e-9);
    EXPECT_DOUBLE_EQ(ruler()->zero(), ruler()->rulerX(40.0)) << "the labels count from it";

    // Later delay changes move only the delay marker; the zero stays, also after a zoom.
    measurement.setSourceDelay(10);
    EXPECT_EQ(markerLocation(KODelayFinderView::kDelayTimeMarker), 50.0);
    EXPECT_NEAR(markerLocation(KODelayFinderView::kZeroPointMarker), 40.7, 1e-9);
    view()->zoomOut();
    EXPECT_DOUBLE_EQ(ruler()->zero(), ruler()->rulerX(40.0));

    measurement.failing = true;
    measurement.results.announceDelayChange();
    EXPECT_EQ(markerLocation(KODelayFinderView::kDelayTimeMarker), 40.0)
        << "an unreadable delay reads 0: the marker sits at the offset";
}

TEST_F(DelayFinderWindow, ZoomStaysBetweenTheWholeResponseAndOnePointPerSample) {
    selectRow(0);
    koru::analysers::DoubleSlider* slider = controller->zoomSlider();
    const double whole = double(view()->width()) / double(kLength);
    EXPECT_DOUBLE_EQ(slider->doubleMinimum(), whole);
    EXPECT_DOUBLE_EQ(slider->doubleMaximum(), 1.0);

    const struct {
        const char* what;
        std::function<void()> act;
        double zoom;
    } steps[] = {
        {"zoom in at the top", [&] { view()->zoomIn(); }, 1.0},
        {"zoom out halves", [&] { view()->zoomOut(); }, 0.5},
        {"zoom out again", [&] { view()->zoomOut(); }, 0.25},
        {"the slider's low end shows everything", [&] { QTest::keyClick(slider, Qt::Key_Home); },
         whole},
        {"zoom out stops there", [&] { view()->zoomOut(); }, whole},
        {"Ctrl and the wheel zoom in",
         [&] {
             QWheelEvent wheel(QPointF(50, 50), view()->mapToGlobal(QPointF(50, 50)), {},
                               QPoint(0, 120), Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase,
                               false);
             QCoreApplication::sendEvent(view(), &wheel);
         },
         whole * 1.25},
        {"a pinch grows it by its scale change",
         [&] {
             QNativeGestureEvent pinch(Qt::ZoomNativeGesture,
                                       QPointingDevice::primaryPointingDevice(), 2, QPointF(50, 50),
                                       QPointF(50, 50), view()->mapToGlobal(QPointF(50, 50)), 1.0,
                                       QPointF(), 0);
             QCoreApplication::sendEvent(view(), &pinch);
         },
         whole * 1.25 * 2.0},
        {"the slider's high end", [&] { QTest::keyClick(slider, Qt::Key_End); }, 1.0},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        step.act();
        EXPECT_NEAR(view()->zoom(), step.zoom, 1e-12);
        EXPECT_NEAR(slider->doubleValue(), step.zoom, 1e-12);
    }
    QTest::keyClick(slider, Qt::Key_Home);
    EXPECT_NEAR(view()->visibleRect().width(), double(kLength), 1e-6);

    controller->window()->resize(700, 400);
    QCoreApplication::processEvents();
    EXPECT_DOUBLE_EQ(slider->doubleMinimum(), double(view()->width()) / double(kLength));
}

TEST_F(DelayFinderWindow, RulerFollowsTheDistanceUnit) {
    selectRow(0);
    measurement.setSourceDelay(480);
    const struct {
        std::uint32_t unit;
        const char* name;
        const char* readout;
    } units[] = {{KODistanceFormatter::Samples, "samples", "Delay 480 smp / 10.0 msec / 3.43 m"},
                 {KODistanceFormatter::Msec, "msec", "Delay 480 smp / 10.0 msec / 3.43 m"},
                 {KODistanceFormatter::Feet, "feet", "Delay 480 smp / 10.0 msec / 11.25 ft"},
                 {KODistanceFormatter::Meter, "meter", "Delay 480 smp / 10.0 msec / 3.43 m"}};
    for (const auto& u : units) {
        SCOPED_TRACE(u.name);
        formatter().setUnit(u.unit);
        QCoreApplication::processEvents();
        EXPECT_EQ(ruler()->measurementUnits(), QString::fromLatin1(u.name));
        EXPECT_EQ(markerLocation(KODelayFinderView::kDelayTimeMarker), 480.0) << "in samples";
        EXPECT_EQ(markerLocation(KODelayFinderView::kZeroPointMarker), 0.0);
        EXPECT_EQ(controller->delayLabel()->text(), QString::fromLatin1(u.readout));
    }
    measurement.setDelayOffset(480);
    EXPECT_EQ(controller->delayLabel()->text(), QStringLiteral("Delay 0 smp / 0.0 msec / 0.00 m"))
        << "the delay counts from the offset";
}

TEST_F(DelayFinderWindow, RecomputeSelectsTheNewResultAndDeleteRemovesTheSelection) {
    selectRow(0);
    QTest::mouseClick(controller->recomputeButton(), Qt::LeftButton);
    EXPECT_EQ(measurement.runs, 1);
    const auto fresh = impulseResponse(1234, 50);
    measurement.finishRun(fresh);
    const QModelIndexList selected = controller->resultsView()->selectionModel()->selectedRows();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected.first().row(), 2);
    EXPECT_EQ(view()->data(), fresh);

    // Two rows go with the button, the last one with the Delete key.
    controller->resultsView()->selectionModel()->select(measurement.results.index(0),
                                                        QItemSelectionModel::Select);
    QTest::mouseClick(controller->deleteButton(), Qt::LeftButton);
    ASSERT_EQ(measurement.results.count(), 1);
    EXPECT_EQ(measurement.results.at(0)->findPeakPosition(), 5000);
    EXPECT_EQ(view()->data(), nullptr) << "nothing selected is left";

    selectRow(0);
    EXPECT_NE(view()->data(), nullptr);
    controller->resultsView()->setFocus();
    QTest::keyClick(controller->resultsView(), Qt::Key_Delete);
    EXPECT_EQ(measurement.results.count(), 0);
    EXPECT_EQ(view()->data(), nullptr);
}

// The measurement may go before its window (the transfer window closing): the window then shows
// nothing and changes nothing.
TEST(DelayFinderWindowLife, OutlivedByNothingItUses) {
    auto measurement = std::make_unique<FakeMeasurement>();
    measurement->results.add(impulseResponse());
    KODelayFinderController controller(*measurement);
    controller.resultsView()->selectionModel()->select(measurement->results.index(0),
                                                       QItemSelectionModel::ClearAndSelect);
    ASSERT_NE(controller.delayFinderView()->data(), nullptr);
    measurement.reset();
    EXPECT_EQ(controller.delayFinderView()->data(), nullptr);
    controller.setDelayTime(5);
    controller.recomputeDelay();
    controller.deleteSelected();
    EXPECT_EQ(controller.delayTime(), 0);
}

} // namespace
