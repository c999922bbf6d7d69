#pragma once

#include "KOLevelHistoryAndDistributionView.h"
#include "utility/VETextAttributes.h"

#include <QString>

#include <atomic>
#include <cstdint>

class KOLevelHistoryViewDelegate;

// The scrolling level history: the newest value at the right edge, older ones to its left,
// `speed` points apart, and a marker the user drags to choose the span of the level
// distribution. It repaints only once the history has moved by more than a point.
class KOLevelHistoryView : public KOLevelHistoryAndDistributionView {
    Q_OBJECT
public:
    static constexpr double kMinimumSpeed = double(0.3f);
    static constexpr double kMaximumSpeed = 2.0;
    // The trace ends here; the labels of the grid stand left of it.
    static constexpr double kTraceLeftEnd = 20.0;

    explicit KOLevelHistoryView(QWidget* parent = nullptr);
    ~KOLevelHistoryView() override;

    double speed() const { return mSpeed.load(std::memory_order_relaxed); }
    // Clamped to 0.3 ... 2.0, then told to the delegate; not-a-number changes nothing.
    void setSpeed(double speed);

    // Collector thread. Walks the stored values only, newest first, at most one per `speed`
    // points up to the left end: a ring that is still filling draws a shorter trace.
    QPainterPath pathWithRingBuffer(const Ring& ring) const override;
    void createRMSPathWithRingBuffer(const Ring& ring) override;
    double scrolledSinceRedraw() const { return mXCounter.load(std::memory_order_relaxed); }

    void drawContent(QPainter& painter) override;

    // The strip (y-down widget coordinates) that grabs the marker.
    QRectF distributionBoundRect() const;
    std::uint32_t distributionBound() const { return mDistributionBound; }
    void setDistributionBound(std::uint32_t bound);
    QString distributionBoundInSeconds() const { return mDistributionBoundInSeconds; }
    void setDistributionBoundInSeconds(const QString& text);
    bool showDistributionTimeMarker() const { return mShowDistributionTimeMarker; }
    void setShowDistributionTimeMarker(bool show);
    bool isDraggingDistributionBound() const { return mDraggingBound; }

    // Not owned; it must outlive the view or be unset first.
    void setDelegate(KOLevelHistoryViewDelegate* delegate) { mDelegate = delegate; }
    KOLevelHistoryViewDelegate* delegate() const { return mDelegate; }

protected:
    bool tracesRunAlongX() const override { return true; }
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    double markerX() const;
    void dragBoundTo(double x);
    void endBoundDrag();

    std::atomic<double> mSpeed{1.0};
    std::atomic<double> mXCounter{0.0};
    std::uint32_t mDistributionBound = 0;
    QString mDistributionBoundInSeconds;
    VETextAttributes mTextAttrs;
    bool mShowDistributionTimeMarker = false;
    bool mDraggingBound = false;
    KOLevelHistoryViewDelegate* mDelegate = nullptr;
};
