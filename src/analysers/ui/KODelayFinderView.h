#pragma once

#include "framework/KOFloatVectorView.h"

#include <QColor>
#include <QImage>
#include <QPointer>

#include <cstdint>
#include <memory>

class KODelayFinderData;

namespace koru::analysers {
class DoubleSlider;
}

// What the delay-finder plot changes when the user drags a ruler marker or selects a stretch of
// the impulse response. All in samples.
class KODelayFinderViewDelegate {
public:
    virtual ~KODelayFinderViewDelegate() = default;
    // The delay shown, counted from the offset.
    virtual std::int64_t delayTime() = 0;
    // Makes the total delay t: the shown delay becomes t - offset.
    virtual void setDelayTime(std::int64_t t) = 0;
    virtual std::int64_t delayTimeOffset() = 0;
    virtual void setDelayTimeOffset(std::int64_t offset) = 0;
};

// The impulse response of one delay-finder result under the time ruler, with the zero point and
// the delay as vertical lines. Selecting a stretch finds the largest peak in it and makes that
// the delay; the ruler's two markers move the zero point ("KOTimRuler.ZeroPoint") and the delay
// ("KOTimRuler.DelayTime"), truncated to whole samples. The zoom is the number of points per
// sample, from (visible width / samples), everything in view, to 1. Main thread only.
class KODelayFinderView : public KOFloatVectorView {
    Q_OBJECT
public:
    static constexpr const char* kNoDataMessage = "No data for Delay Finder";
    static constexpr const char* kZeroPointMarker = "KOTimRuler.ZeroPoint";
    static constexpr const char* kDelayTimeMarker = "KOTimRuler.DelayTime";
    // zoomIn and zoomOut double and halve the zoom within the slider's range.
    static constexpr double kZoomStepFactor = 2.0;

    explicit KODelayFinderView(QWidget* parent = nullptr);
    ~KODelayFinderView() override;

    // Null shows the empty-plot message.
    void setData(std::shared_ptr<KODelayFinderData> data);
    const std::shared_ptr<KODelayFinderData>& data() const { return mData; }

    void setDelegate(KODelayFinderViewDelegate* delegate) { mDelegate = delegate; }
    KODelayFinderViewDelegate* delegate() const { return mDelegate; }

    // Marker places in samples.
    void setDelayTimeMarkerPosition(double position);
    double delayTimeMarkerPosition() const { return mDelayTimeMarkerPosition; }
    void setZeroTimeMarkerPosition(double position);
    double zeroTimeMarkerPosition() const { return mZeroTimeMarkerPosition; }

    // The slider stays owned by its window; the view sets its range and follows it.
    void setZoomSlider(koru::analysers::DoubleSlider* slider);
    koru::analysers::DoubleSlider* zoomSlider() const { return mZoomSlider; }
    double minimumZoom() const;
    void changeZoom(double zoom);
    void zoomIn();
    void zoomOut();

    QColor backingColor() const { return mBackingColor; }
    void setBackingColor(const QColor& colour);

    bool rulerShouldMoveMarker(const koru::framework::RulerMarker& marker) override;
    double rulerWillMoveMarker(const koru::framework::RulerMarker& marker,
                               double location) override;
    void rulerDidMoveMarker(const koru::framework::RulerMarker& marker) override;
    void selectionDidChange() override;
    // While a ruler marker is being dragged: the ruler places it itself until the mouse lets go.
    bool isMovingMarker() const { return mMovingMarker; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool event(QEvent* event) override;

private:
    void markerMoved(const koru::framework::RulerMarker& marker, double location);
    void updateZoomRange();
    void drawContents(QImage& image);

    std::shared_ptr<KODelayFinderData> mData;
    KODelayFinderViewDelegate* mDelegate = nullptr;
    double mDelayTimeMarkerPosition = 0.0;
    double mZeroTimeMarkerPosition = 0.0;
    bool mMovingMarker = false;
    QPointer<koru::analysers::DoubleSlider> mZoomSlider;
    QColor mBackingColor = QColor::fromRgbF(0.0f, 0.0f, 0.0f, 0.9f);
    QImage mImage;
};
