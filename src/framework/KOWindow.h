#pragma once

#include <QMainWindow>
#include <QPointF>
#include <QPointer>
#include <QRect>
#include <QRectF>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

class QPropertyAnimation;

// A window that snaps. Moved so that one of its corners comes within the tolerance of a fitting
// corner of another such window, it jumps there, edge to edge, and offers the two instruments a
// parameter link; failing that, it snaps to the corners of the screens' work areas. Resized so
// that an edge runs along another window's edge, it takes over that window's width or height,
// animated. Any handled move or resize first breaks the window's links; Alt held suppresses all
// of it. A plain KOWindow never snaps itself, but others snap to it; KOInstrumentWindow watches
// its own moves and resizes.
//
// Everything reasons on the frame the window manager reports (decorations included), in y-up
// screen coordinates as ZOWindowAdditions gives them. The work area stands in for the screen
// below the menu bar: desktop panels may sit on any edge.
//
// Window managers report a move after move() has returned, so a snap's own move can come back as
// an event once the handler is done. An event that reports the frame the last snap asked for is
// therefore ignored, as is everything while a snap's resize animation runs. A window manager that
// refuses the move leaves the window elsewhere, and its next report is handled as a new move.
class KOWindow : public QMainWindow {
    Q_OBJECT
public:
    // Corner identifiers.
    static constexpr std::int32_t kBottomLeft = 0;
    static constexpr std::int32_t kBottomRight = 1;
    static constexpr std::int32_t kTopLeft = 2;
    static constexpr std::int32_t kTopRight = 3;
    static constexpr int kResizeAnimationMs = 200;

    explicit KOWindow(QWidget* parent = nullptr);
    ~KOWindow() override;

    bool snapsToEdges() const { return mSnapsToEdges; }
    void setSnapsToEdges(bool snaps) { mSnapsToEdges = snaps; }
    double snapTolerance() const { return mSnapTolerance; }
    // A negative or non-finite tolerance becomes 0: nothing is near anything.
    void setSnapTolerance(double tolerance);
    double padding() const { return mPadding; }
    void setPadding(double padding) { mPadding = padding; }
    // True while a snap of this window is moving or resizing it.
    bool snapping() const { return mSnapping; }
    bool resizeAnimationRunning() const;

    // The corner of the frame: 1 bottom-right, 2 top-left, 3 top-right, any other bottom-left.
    QPointF getCornerWithIdentifier(std::int32_t identifier) const;
    // Moves the window without resizing it so that the corner lies on the point; identifiers
    // other than 0 to 3 do nothing.
    void setCornerWithIdentifier(QPointF point, std::int32_t identifier);
    // Both coordinate distances strictly below the tolerance.
    bool cornerIsCloseToCorner(QPointF p, QPointF q) const;
    // A corner may meet another window's different corner, but neither the same one nor the
    // diagonally opposite one.
    static bool cornerCanSnapToCorner(std::int32_t own, std::int32_t other);

    // The move and resize handlers.
    void windowMoved();
    void windowResized();
    // Offers the two windows' instruments a parameter link (Ctrl held refuses it).
    bool tryLinkTo(KOWindow& other);

    // The instrument controller the window belongs to, if any (not owned).
    void setWindowDelegate(QObject* delegate) { mDelegate = delegate; }
    QObject* windowDelegate() const { return mDelegate; }

    // Every KOWindow alive, in the order they were made.
    static std::vector<KOWindow*> windowList();

    // --- The decisions, on y-up frames ----------------------------------------------------

    static QPointF cornerOf(const QRectF& frame, std::int32_t identifier);
    // The frame moved so that its corner lies on the point; other identifiers leave it.
    static QRectF frameWithCornerAt(const QRectF& frame, std::int32_t identifier, QPointF point);
    static bool isClose(QPointF p, QPointF q, double tolerance);

    struct CornerSnap {
        std::size_t window;     // index into the candidates
        std::int32_t ownCorner; // the moving frame's corner ...
        QPointF target;         // ... and where it goes
    };
    // The first fitting corner pair, other windows' corners outside, own corners inside, both
    // visited top-left, top-right, bottom-left, bottom-right.
    static std::optional<CornerSnap>
    cornerSnap(const QRectF& frame, const std::vector<QRectF>& windows, double tolerance);
    // The frame after the screen-corner tests: per screen, top-left, top-right, bottom-left and
    // bottom-right, each reading the frame as the earlier tests left it.
    static QRectF screenSnappedFrame(QRectF frame, const std::vector<QRectF>& screens,
                                     double tolerance);

    struct EdgeSnap {
        std::size_t window;
        QRectF frame; // moved to the shared edge and given the other's width or height
    };
    // The first window the resized frame sits below, right of, above or left of (tested in that
    // order per window).
    static std::optional<EdgeSnap> edgeSnap(const QRectF& frame, const std::vector<QRectF>& windows,
                                            double tolerance);

protected:
    bool isHoldingSnapModifier() const;

private:
    // Visible KOWindows other than this one, in list order.
    std::vector<KOWindow*> snapCandidates() const;
    // The screens' work areas, y-up, the primary screen first.
    static std::vector<QRectF> screenFrames();
    void breakLinks();
    void rememberFrame() { mExpectedFrame = frameGeometry(); }
    bool reportsOwnSnap() const;
    void animateToFrame(const QRectF& frame, KOWindow& other);

    bool mSnapsToEdges = false;
    double mSnapTolerance = 0.0;
    bool mSnapping = false;
    double mPadding = 0.0;
    QPointer<QObject> mDelegate;
    std::optional<QRect> mExpectedFrame; // y-down frame geometry the last snap asked for
    QPointer<QPropertyAnimation> mResizeAnimation;
};
