#pragma once

#include "KOInstrumentView.h"
#include "RulerClient.h"
#include "SampleRange.h"

#include <QCache>
#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QTransform>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class SDFloatVector;

// Draws a long vector (an impulse response of tens of thousands of samples) at any horizontal
// zoom, fast enough for every scroll step: the visible part is reduced to about one value per
// pixel, keeping the peaks, and turned into pixel-centred points that skip flat runs. Reductions
// and paths are cached by position, width, zoom and the vector's contents. The user selects a
// range of samples with the mouse; Shift moves the nearer edge of an existing selection.
//
// The document is one unit per sample; the view shows width / zoom of them from scrollOrigin().
// Main thread only.
class KOFloatVectorView : public KOInstrumentView, public koru::framework::RulerClient {
    Q_OBJECT
public:
    static constexpr int kVectorCacheLimit = 32;
    static constexpr int kPathCacheLimit = 4 * kVectorCacheLimit;

    using PointsBlock = std::function<void(const QPointF* points, std::size_t count)>;

    explicit KOFloatVectorView(QWidget* parent = nullptr);
    ~KOFloatVectorView() override;

    // The vector this view draws; null draws none. Its length is the document's.
    void setVector(std::shared_ptr<const SDFloatVector> vector);
    const std::shared_ptr<const SDFloatVector>& vector() const { return mVector; }
    std::uint64_t documentLength() const;

    double zoom() const { return mZoom; }
    // z > 1 magnifies. Zero, negative and non-finite factors are refused.
    void setZoom(double zoom);
    double scrollOrigin() const { return mOrigin; }
    // Kept within the document.
    void setScrollOrigin(double x);
    double maximumScrollOrigin() const;
    // The part of the document on screen: x and width in samples, y and height in points.
    QRectF visibleRect() const;
    double documentX(double widgetX) const { return mOrigin + widgetX / mZoom; }
    double widgetX(double documentX) const { return (documentX - mOrigin) * mZoom; }

    // Hands the points of the visible part (x from the visible rect's left edge, y from the
    // middle, y-up) to the block; nothing when no sample is visible.
    void inPathPointsForVector(const SDFloatVector& vector, const PointsBlock& block);
    // The same curve as a path in document coordinates; empty when nothing is visible. Throws
    // std::invalid_argument for a null vector.
    QPainterPath pathForVector(const SDFloatVector* vector);
    QTransform pathTransformation() const;

    void drawSelectionInRect(QPainter& painter, const QRectF& rect);
    // In document coordinates; empty without a selection.
    QRectF selectionRect() const;
    bool hasSelection() const { return mHasSelection; }
    koru::framework::SampleRange selection() const;
    // Stores the range only; the edges and the flag stay.
    void setSelection(koru::framework::SampleRange range);
    // Sent whenever the selection has changed and no drag is under way.
    virtual void selectionDidChange();

    // Background, selection and the vector, into a premultiplied image of the view's size.
    void drawVector(QImage& image);

    std::uint64_t reductionsMade() const { return mReductionsMade; }

    double rulerPixelsPerUnit() const override { return mZoom; }
    double rulerDocumentOrigin() const override { return -mOrigin * mZoom; }
    double rulerDocumentLength() const override { return double(documentLength()); }
    void setRulerObserver(std::function<void()> observer) override;

signals:
    void selectionChanged();
    void visibleRectChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    struct ReductionKey {
        std::uint64_t x0;
        std::uint64_t width;
        std::uint64_t target;
        std::uint64_t hash;
        bool operator==(const ReductionKey&) const = default;
        friend size_t qHash(const ReductionKey& key, size_t seed = 0) {
            return qHashMulti(seed, key.x0, key.width, key.target, key.hash);
        }
    };
    struct PathKey {
        double x;
        double width;
        double height;
        double zoom;
        std::uint64_t hash;
        bool operator==(const PathKey&) const = default;
        friend size_t qHash(const PathKey& key, size_t seed = 0) {
            return qHashMulti(seed, key.x, key.width, key.height, key.zoom, key.hash);
        }
    };
    enum class Edge { None, Start, End };

    // Null when no sample is visible.
    std::shared_ptr<const SDFloatVector> reducedVector(const SDFloatVector& vector,
                                                       const QRectF& rect);
    double yMulForVector(const SDFloatVector& vector, const QRectF& rect) const;
    double clampedDocumentX(double widgetX) const;
    void moveEdge(Edge edge, double x);
    void selectionEdgesChanged();
    void visibleGeometryChanged();

    std::shared_ptr<const SDFloatVector> mVector;
    double mZoom = 1.0;
    double mOrigin = 0.0;
    double mSelStart = 0.0;
    double mSelEnd = 0.0;
    Edge mDragged = Edge::None;
    bool mHasSelection = false;
    bool mHasDragged = false;
    QCache<ReductionKey, std::shared_ptr<const SDFloatVector>> mVectorCache{kVectorCacheLimit};
    QCache<PathKey, QPainterPath> mPathCache{kPathCacheLimit};
    mutable std::mutex mSelectionLock; // guards mSelection
    koru::framework::SampleRange mSelection;
    std::uint64_t mReductionsMade = 0;
    std::function<void()> mRulerObserver;
    QImage mLayer;
};
