#pragma once

#include "KOInstrumentBackgroundView.h"
#include "zotools/ZORingBuffer.h"

#include <QImage>
#include <QPainterPath>

#include <atomic>
#include <memory>
#include <mutex>
#include <utility>

class KOLevelHistoryBackingLayer;

// The base of the level plots: a decibel grid and two traces, the peak stroked and the RMS
// filled, built from rings of display values (the level as a fraction of the view height).
// The collector thread builds the paths and swaps them in; the main thread copies them out to
// draw. Neither side holds the path lock for longer than a swap or a copy.
class KOLevelHistoryAndDistributionView : public KOInstrumentBackgroundView {
    Q_OBJECT
public:
    using Ring = ZORingBuffer<float, 2500>;

    explicit KOLevelHistoryAndDistributionView(QWidget* parent = nullptr);
    ~KOLevelHistoryAndDistributionView() override;

    // Main thread. Rebuilds the grid.
    void setLowerBound(float minDB, float maxDB);
    float lowerBound() const { return mMinValue; }
    float upperBound() const { return mMaxValue; }

    void setColor(const QColor& colour);
    QColor color() const;

    void createBackingLayer() override;
    // Size changes rebuild the grid by themselves (resizeEvent): there is nothing to register.
    void registerForChangedBounds() {}
    // Null until the first drawing or size change.
    const KOLevelHistoryBackingLayer* backingLayer() const { return mBackingLayer.get(); }

    // Collector thread.
    void createPeakPathWithRingBuffer(const Ring& ring);
    virtual void createRMSPathWithRingBuffer(const Ring& ring);
    // A trace in y-up view coordinates; empty in this class.
    virtual QPainterPath pathWithRingBuffer(const Ring& ring) const;

    QPainterPath peakPath() const;
    QPainterPath rmsPath() const;

    // Grid and traces over the view's area, into a y-down painter (the widget's, or an image's
    // of the view's size). The background is the caller's.
    virtual void drawContent(QPainter& painter);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

    // True when every path is one polyline along x with a point per value (a history), which
    // is drawn by the fast routines; other shapes are drawn by QPainter.
    virtual bool tracesRunAlongX() const;

    // The size the collector thread builds paths for.
    double viewWidth() const { return mViewWidth.load(std::memory_order_relaxed); }
    double viewHeight() const { return mViewHeight.load(std::memory_order_relaxed); }

private:
    QRectF traceClip() const;
    void drawTraces(const QPainterPath& peak, const QPainterPath& rms);
    void clearTraceRows(int first, int end);

    float mMaxValue = 0.0f;
    float mMinValue = -96.0f;
    std::unique_ptr<KOLevelHistoryBackingLayer> mBackingLayer;
    mutable std::mutex mPathLock; // guards both paths only
    QPainterPath mPeakPath;
    QPainterPath mRMSPath;
    QImage mTraceLayer;                   // main thread
    std::pair<int, int> mTraceRows{0, 0}; // [first, end) rows the traces reached last time
    std::atomic<double> mViewWidth{0.0};
    std::atomic<double> mViewHeight{0.0};
};
