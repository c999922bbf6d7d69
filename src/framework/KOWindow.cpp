#include "framework/KOWindow.h"

#include "framework/KOInstrumentController.h"
#include "framework/KeyboardModifierSource.h"
#include "framework/ZOWindowAdditions.h"
#include "platform/notifications/NotificationCenter.h"

#include <QGuiApplication>
#include <QPropertyAnimation>
#include <QScreen>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr std::array<std::int32_t, 4> kCornerOrder{KOWindow::kTopLeft, KOWindow::kTopRight,
                                                   KOWindow::kBottomLeft, KOWindow::kBottomRight};

std::vector<KOWindow*>& registry() {
    static std::vector<KOWindow*> windows;
    return windows;
}

} // namespace

KOWindow::KOWindow(QWidget* parent) : QMainWindow(parent) {
    registry().push_back(this);
}

KOWindow::~KOWindow() {
    auto& windows = registry();
    windows.erase(std::remove(windows.begin(), windows.end(), this), windows.end());
}

std::vector<KOWindow*> KOWindow::windowList() {
    return registry();
}

void KOWindow::setSnapTolerance(double tolerance) {
    mSnapTolerance = std::isfinite(tolerance) && tolerance > 0.0 ? tolerance : 0.0;
}

bool KOWindow::resizeAnimationRunning() const {
    return mResizeAnimation && mResizeAnimation->state() == QAbstractAnimation::Running;
}

// --- Corners -----------------------------------------------------------------------------------

QPointF KOWindow::cornerOf(const QRectF& frame, std::int32_t identifier) {
    switch (identifier) {
    case kBottomRight:
        return ZOWindowAdditions::bottomRightCorner(frame);
    case kTopLeft:
        return ZOWindowAdditions::topLeftCorner(frame);
    case kTopRight:
        return ZOWindowAdditions::topRightCorner(frame);
    default:
        return ZOWindowAdditions::bottomLeftCorner(frame);
    }
}

QRectF KOWindow::frameWithCornerAt(const QRectF& frame, std::int32_t identifier, QPointF point) {
    QPointF origin;
    switch (identifier) {
    case kBottomLeft:
        origin = ZOWindowAdditions::originForBottomLeftCorner(frame, point);
        break;
    case kBottomRight:
        origin = ZOWindowAdditions::originForBottomRightCorner(frame, point);
        break;
    case kTopLeft:
        origin = ZOWindowAdditions::originForTopLeftCorner(frame, point);
        break;
    case kTopRight:
        origin = ZOWindowAdditions::originForTopRightCorner(frame, point);
        break;
    default:
        return frame;
    }
    return {origin, frame.size()};
}

bool KOWindow::isClose(QPointF p, QPointF q, double tolerance) {
    return tolerance > std::abs(p.x() - q.x()) && tolerance > std::abs(p.y() - q.y());
}

QPointF KOWindow::getCornerWithIdentifier(std::int32_t identifier) const {
    return cornerOf(ZOWindowAdditions::yUpFrame(*this), identifier);
}

void KOWindow::setCornerWithIdentifier(QPointF point, std::int32_t identifier) {
    if (identifier < kBottomLeft || identifier > kTopRight)
        return;
    const QRectF frame = ZOWindowAdditions::yUpFrame(*this);
    ZOWindowAdditions::setYUpOrigin(*this, frameWithCornerAt(frame, identifier, point).topLeft());
}

bool KOWindow::cornerIsCloseToCorner(QPointF p, QPointF q) const {
    return isClose(p, q, mSnapTolerance);
}

bool KOWindow::cornerCanSnapToCorner(std::int32_t own, std::int32_t other) {
    return own != other && own + other != 3;
}

// --- Decisions ---------------------------------------------------------------------------------

std::optional<KOWindow::CornerSnap>
KOWindow::cornerSnap(const QRectF& frame, const std::vector<QRectF>& windows, double tolerance) {
    for (std::size_t i = 0; i < windows.size(); ++i) {
        for (std::int32_t theirs : kCornerOrder) {
            const QPointF q = cornerOf(windows[i], theirs);
            for (std::int32_t own : kCornerOrder) {
                if (isClose(cornerOf(frame, own), q, tolerance) &&
                    cornerCanSnapToCorner(own, theirs))
                    return CornerSnap{i, own, q};
            }
        }
    }
    return std::nullopt;
}

QRectF KOWindow::screenSnappedFrame(QRectF frame, const std::vector<QRectF>& screens,
                                    double tolerance) {
    for (const QRectF& screen : screens) {
        for (std::int32_t corner : kCornerOrder) {
            const QPointF target = cornerOf(screen, corner);
            if (isClose(cornerOf(frame, corner), target, tolerance))
                frame = frameWithCornerAt(frame, corner, target);
        }
    }
    return frame;
}

std::optional<KOWindow::EdgeSnap>
KOWindow::edgeSnap(const QRectF& frame, const std::vector<QRectF>& windows, double tolerance) {
    const QPointF bl = cornerOf(frame, kBottomLeft);
    const QPointF br = cornerOf(frame, kBottomRight);
    const QPointF tl = cornerOf(frame, kTopLeft);
    const QPointF tr = cornerOf(frame, kTopRight);
    const auto near = [tolerance](QPointF p, QPointF q) { return isClose(p, q, tolerance); };
    for (std::size_t i = 0; i < windows.size(); ++i) {
        const QRectF& w = windows[i];
        const QPointF oBL = cornerOf(w, kBottomLeft);
        const QPointF oBR = cornerOf(w, kBottomRight);
        const QPointF oTL = cornerOf(w, kTopLeft);
        const QPointF oTR = cornerOf(w, kTopRight);
        if (near(tl, oBL) && near(tr, oBR)) {
            const QRectF moved = frameWithCornerAt(frame, kTopLeft, oBL);
            return EdgeSnap{i, {moved.topLeft(), QSizeF(w.width(), frame.height())}};
        }
        if (near(tl, oTR) && near(bl, oBR)) {
            const QRectF moved = frameWithCornerAt(frame, kBottomLeft, oBR);
            return EdgeSnap{i, {moved.topLeft(), QSizeF(frame.width(), w.height())}};
        }
        if (near(bl, oTL) && near(br, oTR)) {
            const QRectF moved = frameWithCornerAt(frame, kBottomLeft, oTL);
            return EdgeSnap{i, {moved.topLeft(), QSizeF(w.width(), frame.height())}};
        }
        if (near(tr, oTL) && near(br, oBL)) {
            const QRectF moved = frameWithCornerAt(frame, kBottomRight, oBL);
            return EdgeSnap{i, {moved.topLeft(), QSizeF(frame.width(), w.height())}};
        }
    }
    return std::nullopt;
}

// --- Handlers ----------------------------------------------------------------------------------

bool KOWindow::isHoldingSnapModifier() const {
    return koru::framework::KeyboardModifierSource::current().testFlag(Qt::AltModifier);
}

bool KOWindow::reportsOwnSnap() const {
    return mExpectedFrame && frameGeometry() == *mExpectedFrame;
}

// Hidden windows are not offered: a window must not jump to a place where nothing is seen.
std::vector<KOWindow*> KOWindow::snapCandidates() const {
    std::vector<KOWindow*> candidates;
    for (KOWindow* window : registry()) {
        if (window != this && window->isVisible())
            candidates.push_back(window);
    }
    return candidates;
}

std::vector<QRectF> KOWindow::screenFrames() {
    std::vector<QRectF> frames;
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (primary != nullptr)
        frames.push_back(ZOWindowAdditions::yUpRect(QRectF(primary->availableGeometry())));
    for (const QScreen* screen : QGuiApplication::screens()) {
        if (screen != primary)
            frames.push_back(ZOWindowAdditions::yUpRect(QRectF(screen->availableGeometry())));
    }
    return frames;
}

void KOWindow::breakLinks() {
    const auto* controller = qobject_cast<KOInstrumentController*>(mDelegate.data());
    if (controller == nullptr)
        return;
    const QVariantMap info{{QString::fromLatin1(KOInstrumentController::kLinkIdentifierKey),
                            controller->identifier()}};
    koru::platform::NotificationCenter::defaultCenter().post(
        QString::fromLatin1(KOInstrumentController::kParameterUnlinkNotification), this, {}, info);
}

void KOWindow::windowMoved() {
    if (isHoldingSnapModifier() || !mSnapsToEdges || mSnapping || reportsOwnSnap())
        return;
    mExpectedFrame.reset();
    mSnapping = true;
    breakLinks();

    const std::vector<KOWindow*> candidates = snapCandidates();
    std::vector<QRectF> frames;
    for (const KOWindow* window : candidates)
        frames.push_back(ZOWindowAdditions::yUpFrame(*window));
    if (const auto snap = cornerSnap(ZOWindowAdditions::yUpFrame(*this), frames, mSnapTolerance)) {
        setCornerWithIdentifier(snap->target, snap->ownCorner);
        rememberFrame();
        mSnapping = false;
        tryLinkTo(*candidates[snap->window]);
        return;
    }

    const QRectF frame = ZOWindowAdditions::yUpFrame(*this);
    const QRectF snapped = screenSnappedFrame(frame, screenFrames(), mSnapTolerance);
    if (snapped != frame) {
        ZOWindowAdditions::setYUpOrigin(*this, snapped.topLeft());
        rememberFrame();
    }
    mSnapping = false;
}

void KOWindow::windowResized() {
    if (isHoldingSnapModifier() || resizeAnimationRunning())
        return;
    if (!mSnapsToEdges || mSnapping) {
        mSnapping = false;
        return;
    }
    if (reportsOwnSnap())
        return;
    mExpectedFrame.reset();
    mSnapping = true;
    breakLinks();

    const std::vector<KOWindow*> candidates = snapCandidates();
    std::vector<QRectF> frames;
    for (const KOWindow* window : candidates)
        frames.push_back(ZOWindowAdditions::yUpFrame(*window));
    const auto snap = edgeSnap(ZOWindowAdditions::yUpFrame(*this), frames, mSnapTolerance);
    if (!snap) {
        mSnapping = false;
        return;
    }
    animateToFrame(snap->frame, *candidates[snap->window]);
}

// The frame is y-up and includes the decorations; the animation drives the client geometry.
void KOWindow::animateToFrame(const QRectF& frame, KOWindow& other) {
    const QRect outer = frameGeometry();
    const QRect inner = geometry();
    const QMargins decorations(inner.left() - outer.left(), inner.top() - outer.top(),
                               outer.right() - inner.right(), outer.bottom() - inner.bottom());
    const QRect target = ZOWindowAdditions::yDownRect(frame).toAlignedRect() - decorations;

    auto* animation = new QPropertyAnimation(this, "geometry", this);
    animation->setDuration(kResizeAnimationMs);
    animation->setStartValue(inner);
    animation->setEndValue(target);
    const QPointer<KOWindow> partner(&other);
    connect(animation, &QPropertyAnimation::finished, this, [this, partner] {
        rememberFrame();
        mSnapping = false;
        if (partner)
            tryLinkTo(*partner);
    });
    mResizeAnimation = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

bool KOWindow::tryLinkTo(KOWindow& other) {
    auto* mine = qobject_cast<KOInstrumentController*>(mDelegate.data());
    auto* theirs = qobject_cast<KOInstrumentController*>(other.mDelegate.data());
    if (mine == nullptr || theirs == nullptr)
        return false;
    return KOInstrumentController::tryLinkInstruments(
        *mine, *theirs, koru::framework::KeyboardModifierSource::current());
}
