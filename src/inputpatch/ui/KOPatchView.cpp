#include "inputpatch/ui/KOPatchView.h"

#include "inputpatch/ui/KODestinationAliasViewController.h"
#include "inputpatch/ui/KOPatchViewDelegate.h"
#include "platform/exceptions/FrameworkException.h"
#include "platform/exceptions/InternalInconsistencyException.h"
#include "platform/log/Log.h"
#include "utility/ZODictionary.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QScreen>

#include <algorithm>
#include <cmath>
#include <vector>

using koru::PatchGrid;
using koru::platform::FrameworkException;
using koru::platform::InternalInconsistencyException;

namespace {

// Range errors and broken rules end the one edit; the event loop goes on.
template <typename Edit> void guarded(const char* what, Edit&& edit) {
    try {
        edit();
    } catch (const std::exception& error) {
        koru::log::warn("Input patch: {} refused ({})", what, error.what());
    }
}

QString destinationLabel(const KOPatchMatrix& matrix, std::uint32_t destination) {
    return QStringLiteral("(%1) %2")
        .arg(destination + 1)
        .arg(matrix.humanReadableDestinationNameAtIndex(destination));
}

} // namespace

KOPatchView::KOPatchView(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    mHighlightAnimation = new QPropertyAnimation(this, "selectedSourceFloat", this);
    setMatrixHeight(kDefaultMatrixHeight);
}

KOPatchView::~KOPatchView() {
    mPatchObserver.reset();
}

PatchGrid KOPatchView::grid() const {
    PatchGrid grid = mGrid;
    grid.channels = channels();
    grid.viewSize = QSizeF(size());
    return grid;
}

bool KOPatchView::validSelections() const {
    return PatchGrid::isValidSelection(mSelectedSource, channels()) &&
           PatchGrid::isValidSelection(mSelectedDestination, channels());
}

void KOPatchView::setPatchMatrix(std::shared_ptr<KOPatchMatrix> matrix) {
    removeAliasWindow();
    mPatchObserver.reset();
    mMatrix = std::move(matrix);
    if (mMatrix) {
        mPatchObserver = koru::platform::observeNotification(
            QString::fromLatin1(KOPatchMatrix::kDidChangePatchNotification), mMatrix.get(),
            [this](const koru::platform::Notification&) { update(); });
    }
    mSelectedSource = -1;
    mSelectedDestination = -1;
    preferredSizeChanged();
    update();
}

void KOPatchView::setMatrixHeight(double height) {
    // A cell needs some size for the hit-testing to divide by.
    mGrid.cellSide = std::max(height, 1.0);
    mFontSize = std::min(kMaximumFontSize, mGrid.cellSide - 4.0);
    mLabelFont = ZODictionary::fontAttributesDictionaryForSize(mFontSize, QColor()).font;
    preferredSizeChanged();
    update();
}

void KOPatchView::setLabelWidth(double width) {
    mGrid.labelWidth = std::max(width, 0.0);
    preferredSizeChanged();
    update();
}

void KOPatchView::setLineWidth(double width) {
    mLineWidth = width;
    update();
}

void KOPatchView::setLineColor(const QColor& colour) {
    mLineColour = colour;
    update();
}

QColor KOPatchView::lineColor() const {
    return mLineColour.value_or(palette().color(QPalette::Mid));
}

void KOPatchView::setBackgroundColor(const QColor& colour) {
    mBackgroundColour = colour;
    update();
}

QColor KOPatchView::backgroundColor() const {
    return mBackgroundColour.value_or(palette().color(QPalette::Base));
}

void KOPatchView::preferredSizeChanged() {
    setMinimumSize(preferredSize());
    updateGeometry();
}

double KOPatchView::idealLabelWidth() const {
    double width = kDefaultLabelWidth;
    if (!mMatrix)
        return width + kLabelMargin;
    const QFontMetricsF metrics(mLabelFont);
    for (std::uint32_t i = 0; i < mMatrix->numChannels(); ++i) {
        // Measured as drawn: the label counts from 1.
        width = std::max(width, metrics.horizontalAdvance(destinationLabel(*mMatrix, i)));
        width = std::max(width, metrics.horizontalAdvance(mMatrix->sourceChannelNameAtIndex(i)));
    }
    return std::min(width + kLabelMargin, kMaximumIdealLabelWidth);
}

QSize KOPatchView::preferredSize() const {
    const QSizeF size = grid().preferredSize();
    return {int(std::ceil(size.width())), int(std::ceil(size.height()))};
}

bool KOPatchView::eventInPatch(QPointF point, std::int32_t* destination,
                               std::int32_t* source) const {
    const PatchGrid::Hit hit = grid().hit(point);
    if (destination)
        *destination = hit.destination;
    if (source)
        *source = hit.source;
    return hit.inGrid;
}

bool KOPatchView::eventInDestinationGroup(QPointF point, std::int32_t* destination) const {
    const PatchGrid::Hit hit = grid().hit(point);
    if (destination)
        *destination = hit.destination;
    return hit.inDestinationLabels;
}

void KOPatchView::patchSource(std::int32_t source, std::int32_t destination) {
    if (!mMatrix)
        return;
    // The matrix reads -1 as "no source"; a column left of the grid must not unpatch anything.
    if (source < 0)
        throw FrameworkException(QString::fromLatin1(KOPatchMatrix::kSourceOutOfRange),
                                 QStringLiteral("Source channel %1 out of range").arg(source));
    const auto row = static_cast<std::uint32_t>(destination);
    if (mMatrix->sourceChannelForDestination(row) == source)
        mMatrix->setSourceChannel(-1, row);
    else
        mMatrix->setSourceChannel(source, row);
}

void KOPatchView::doConsecutivePatchStartingAt(std::int64_t offset) {
    if (!mMatrix)
        return;
    const std::uint32_t n = mMatrix->numChannels();
    InternalInconsistencyException::check(offset < std::int64_t(n), "invalid channel");
    InternalInconsistencyException::check(offset >= 0, "negative channel index");
    std::vector<std::int32_t> map(n);
    for (std::uint32_t i = 0; i < n; ++i)
        map[i] = std::int32_t((std::uint64_t(offset) + i) % n);
    mMatrix->setMap(map.data(), n);
}

void KOPatchView::setSelection(std::int32_t source, std::int32_t destination) {
    mSelectedSource = source;
    mSelectedDestination = destination;
    update();
}

void KOPatchView::setSelectedSourceFloat(double column) {
    mSelectedSourceFloat = column;
    update();
}

// ---- mouse ------------------------------------------------------------------------------------

void KOPatchView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !mMatrix) {
        QWidget::mousePressEvent(event);
        return;
    }
    event->accept();
    guarded("click", [&] {
        InternalInconsistencyException::check(mDelegate != nullptr, "delegate is nil");
        std::int32_t destination = -1;
        std::int32_t source = -1;
        if (eventInPatch(event->position(), &destination, &source)) {
            if (!mDelegate->canPatchWithMouse())
                return;
            // Meta (the Control key of other desktops) does not lay a diagonal.
            const Qt::KeyboardModifiers diagonal =
                event->modifiers() & (Qt::ShiftModifier | Qt::AltModifier | Qt::ControlModifier);
            if (diagonal)
                doConsecutivePatchStartingAt(
                    PatchGrid::diagonalOffset(source, destination, channels()));
            else
                patchSource(source, destination);
        }
    });
}

void KOPatchView::mouseDoubleClickEvent(QMouseEvent* event) {
    std::int32_t destination = -1;
    if (event->button() == Qt::LeftButton && mMatrix &&
        eventInDestinationGroup(event->position(), &destination)) {
        event->accept();
        guarded("alias popover",
                [&] { showDestinationAliasWindowForDestination(std::uint32_t(destination)); });
        return;
    }
    // On the grid the second click of a double click toggles again, as two clicks do.
    mousePressEvent(event);
}

void KOPatchView::mouseMoveEvent(QMouseEvent* event) {
    const std::int32_t oldSource = mSelectedSource;
    const std::int32_t oldDestination = mSelectedDestination;
    eventInPatch(event->position(), &mSelectedDestination, &mSelectedSource);
    const std::uint32_t n = channels();
    if (!PatchGrid::isValidSelection(mSelectedSource, n) &&
        PatchGrid::isValidSelection(mSelectedDestination, n)) {
        guarded("highlight", [&] {
            slideHighlightTo(
                mMatrix->sourceChannelForDestination(std::uint32_t(mSelectedDestination)));
        });
    }
    if (mSelectedSource != oldSource || mSelectedDestination != oldDestination)
        update();
    QWidget::mouseMoveEvent(event);
}

void KOPatchView::slideHighlightTo(double column) {
    if (mHighlightAnimation->state() == QAbstractAnimation::Running &&
        mHighlightAnimation->endValue().toDouble() == column)
        return;
    mHighlightAnimation->stop();
    const double seconds = std::abs(mSelectedSourceFloat - column) * 0.01 + 0.03;
    mHighlightAnimation->setDuration(int(std::lround(seconds * 1000.0)));
    mHighlightAnimation->setStartValue(mSelectedSourceFloat);
    mHighlightAnimation->setEndValue(column);
    mHighlightAnimation->start();
}

void KOPatchView::leaveEvent(QEvent* event) {
    mSelectedSource = -1;
    mSelectedDestination = -1;
    update();
    QWidget::leaveEvent(event);
}

// ---- keyboard ---------------------------------------------------------------------------------

void KOPatchView::keyPressEvent(QKeyEvent* event) {
    if (keyDown(*event))
        event->accept();
    else
        QWidget::keyPressEvent(event);
}

bool KOPatchView::keyDown(const QKeyEvent& event) {
    switch (event.key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Return:
    case Qt::Key_Space:
        break;
    default:
        return false;
    }
    if (!mMatrix)
        return true;
    try {
        handleKey(event);
    } catch (const std::exception& error) {
        // The selection stays where it was: nothing was patched.
        koru::log::warn("Input patch: key refused ({})", error.what());
        return true;
    }
    const std::uint32_t n = channels();
    mSelectedSource = PatchGrid::wrappedSelection(mSelectedSource, n);
    mSelectedDestination = PatchGrid::wrappedSelection(mSelectedDestination, n);
    update();
    emit selectionMoved(cellRect(mSelectedSource, mSelectedDestination).toAlignedRect());
    return true;
}

void KOPatchView::handleKey(const QKeyEvent& event) {
    switch (event.key()) {
    case Qt::Key_Left:
        --mSelectedSource;
        break;
    case Qt::Key_Right:
        ++mSelectedSource;
        break;
    case Qt::Key_Down:
        ++mSelectedDestination;
        break;
    case Qt::Key_Up:
        --mSelectedDestination;
        break;
    case Qt::Key_Return:
        patchSource(mSelectedSource, mSelectedDestination);
        ++mSelectedSource;
        ++mSelectedDestination;
        break;
    case Qt::Key_Space:
        // Holding Space would toggle the cell on and off.
        if (!event.isAutoRepeat())
            patchSource(mSelectedSource, mSelectedDestination);
        break;
    default:
        break;
    }
}

// ---- alias popover ----------------------------------------------------------------------------

void KOPatchView::showDestinationAliasWindowForDestination(std::uint32_t destination) {
    if (mAliasPopover || !mMatrix)
        return;
    const QString shown = mMatrix->humanReadableDestinationNameAtIndex(destination);
    if (!mAliasInput) {
        mAliasInput = new KODestinationAliasViewController(this);
        mAliasInput->setDelegate(this);
        // The popup also closes itself (a click elsewhere, Esc): it must not stay counted as
        // open, or no popover would ever open again.
        connect(mAliasInput, &KODestinationAliasViewController::hidden, this,
                [this] { mAliasPopover = nullptr; });
    }
    mAliasInput->setAliasString(shown);
    mAliasDestination = destination;
    mAliasPopover = mAliasInput;
    mAliasInput->adjustSize();
    mAliasInput->show();
    // Placed once shown, when the size of its frame is known.
    positionPopover(destination);
    mAliasInput->aliasField()->setFocus(Qt::PopupFocusReason);
}

void KOPatchView::positionPopover(std::uint32_t destination) {
    const QSize size = mAliasInput->frameGeometry().size();
    // Its right edge at the view's left edge, centred on the row.
    const QPoint anchor =
        mapToGlobal(QPointF(0.0, mGrid.labelWidth + (destination + 0.5) * mGrid.cellSide))
            .toPoint();
    QPoint origin(anchor.x() - size.width(), anchor.y() - size.height() / 2);
    QScreen* screen = QGuiApplication::screenAt(anchor);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen) {
        const QRect area = screen->availableGeometry();
        origin.setX(std::clamp(origin.x(), area.left(),
                               std::max(area.left(), area.right() + 1 - size.width())));
        origin.setY(std::clamp(origin.y(), area.top(),
                               std::max(area.top(), area.bottom() + 1 - size.height())));
    }
    mAliasInput->move(origin);
}

void KOPatchView::removeAliasWindow() {
    QPointer<QWidget> popover = mAliasPopover;
    mAliasPopover = nullptr;
    if (popover)
        popover->close();
}

void KOPatchView::didEnterAlias(const QString& alias) {
    guarded("alias", [&] {
        if (mMatrix)
            mMatrix->setDestinationChannelAlias(alias, mAliasDestination);
    });
    removeAliasWindow();
}

void KOPatchView::enterAliasAndOpenNext(const QString& alias) {
    didEnterAlias(alias);
    const std::uint32_t n = channels();
    if (n == 0)
        return;
    const std::uint32_t next = mAliasDestination + 1 < n ? mAliasDestination + 1 : 0;
    guarded("alias popover", [&] { showDestinationAliasWindowForDestination(next); });
}

// ---- drawing ----------------------------------------------------------------------------------

void KOPatchView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), backgroundColor());
    if (!mMatrix)
        return;
    try {
        draw(painter, grid());
    } catch (const std::exception& error) {
        koru::log::warn("Input patch: drawing stopped ({})", error.what());
    }
}

void KOPatchView::draw(QPainter& painter, const PatchGrid& grid) {
    const std::uint32_t n = grid.channels;
    const QColor alternate = palette().color(QPalette::AlternateBase);
    for (std::uint32_t d = 1; d < n; d += 2)
        painter.fillRect(grid.row(std::int32_t(d)), alternate);
    for (std::uint32_t s = 1; s < n; s += 2)
        painter.fillRect(grid.column(std::int32_t(s)), alternate);
    drawSelection(painter, grid);
    drawLabels(painter, grid);
    drawLines(painter, grid);
    drawCrosses(painter, grid);
}

void KOPatchView::drawBend(QPainter& painter, const PatchGrid& grid, double column,
                           std::int32_t row, const QColor& colour) {
    const double l = grid.labelWidth;
    const double h = grid.cellSide;
    // From the destination label to the cell, and from the cell's row up to the source label.
    painter.fillRect(QRectF(0.0, l + row * h, l + (column + 1.0) * h, h), colour);
    painter.fillRect(QRectF(l + column * h, 0.0, h, l + row * h), colour);
}

void KOPatchView::drawSelection(QPainter& painter, const PatchGrid& grid) {
    const std::uint32_t n = grid.channels;
    const bool sourceValid = PatchGrid::isValidSelection(mSelectedSource, n);
    const bool destinationValid = PatchGrid::isValidSelection(mSelectedDestination, n);
    if (sourceValid && destinationValid) {
        drawBend(painter, grid, mSelectedSource, mSelectedDestination,
                 palette().color(QPalette::Active, QPalette::Highlight));
        return;
    }
    const QColor colour = palette().color(QPalette::Inactive, QPalette::Highlight);
    const double l = grid.labelWidth;
    const double h = grid.cellSide;
    if (sourceValid) {
        // Every destination the hovered source feeds, joined to its label.
        std::int32_t lowest = -1;
        for (std::uint32_t d = 0; d < n; ++d) {
            if (mMatrix->sourceChannelForDestination(d) != mSelectedSource)
                continue;
            painter.fillRect(QRectF(0.0, l + d * h, l + (mSelectedSource + 1.0) * h, h), colour);
            lowest = std::int32_t(d);
        }
        if (lowest >= 0)
            painter.fillRect(QRectF(l + mSelectedSource * h, 0.0, h, l + lowest * h), colour);
        return;
    }
    if (destinationValid &&
        mMatrix->sourceChannelForDestination(std::uint32_t(mSelectedDestination)) != -1)
        drawBend(painter, grid, mSelectedSourceFloat, mSelectedDestination, colour);
}

void KOPatchView::drawLabels(QPainter& painter, const PatchGrid& grid) {
    const std::uint32_t n = grid.channels;
    const bool selected = validSelections();
    const QColor text = palette().color(QPalette::WindowText);
    const QColor selectedText = palette().color(QPalette::HighlightedText);
    const double l = grid.labelWidth;
    const double h = grid.cellSide;
    painter.save();
    painter.setFont(mLabelFont);

    painter.setClipRect(grid.destinationLabelArea());
    for (std::uint32_t d = 0; d < n; ++d) {
        painter.setPen(selected && std::int32_t(d) == mSelectedDestination ? selectedText : text);
        painter.drawText(QRectF(2.0, l + d * h, std::max(l - 2.0, 0.0), h),
                         Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                         destinationLabel(*mMatrix, d));
    }

    // Source names read upwards, starting just above the grid.
    painter.setClipRect(grid.sourceLabelArea());
    for (std::uint32_t s = 0; s < n; ++s) {
        painter.save();
        painter.translate(l + s * h, l);
        painter.rotate(-90.0);
        painter.setPen(selected && std::int32_t(s) == mSelectedSource ? selectedText : text);
        painter.drawText(QRectF(2.0, 0.0, std::max(l - 2.0, 0.0), h),
                         Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                         mMatrix->sourceChannelNameAtIndex(s));
        painter.restore();
    }
    painter.restore();
}

void KOPatchView::drawLines(QPainter& painter, const PatchGrid& grid) {
    const std::uint32_t n = grid.channels;
    const double l = grid.labelWidth;
    const double h = grid.cellSide;
    const double right = std::round(double(width())) + 0.5;
    const double bottom = std::round(double(height())) + 0.5;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(lineColor(), mLineWidth));
    // Through the label areas too; on pixel centres, so one-pixel lines stay sharp.
    for (std::uint32_t k = 0; k <= n; ++k) {
        const double at = std::round(l + k * h) + 0.5;
        painter.drawLine(QPointF(at, 0.5), QPointF(at, bottom));
        painter.drawLine(QPointF(0.5, at), QPointF(right, at));
    }
    painter.restore();
}

bool KOPatchView::crossOnBend(std::int32_t source, std::int32_t destination) const {
    if (!validSelections())
        return false;
    return (destination == mSelectedDestination && source <= mSelectedSource) ||
           (source == mSelectedSource && destination <= mSelectedDestination);
}

void KOPatchView::drawCrosses(QPainter& painter, const PatchGrid& grid) {
    const std::uint32_t n = grid.channels;
    const double h = grid.cellSide;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    QPen pen(kCrossColour, kCrossLineWidth, Qt::SolidLine, Qt::RoundCap);
    const QColor onBend = palette().color(QPalette::HighlightedText);
    for (std::uint32_t d = 0; d < n; ++d) {
        const std::int32_t s = mMatrix->sourceChannelForDestination(d);
        if (s == -1)
            continue;
        pen.setColor(crossOnBend(s, std::int32_t(d)) ? onBend : kCrossColour);
        painter.setPen(pen);
        const QPointF topLeft = grid.cell(s, std::int32_t(d)).topLeft();
        const double near = kCrossInset;
        const double far = h - kCrossInset;
        painter.drawLine(topLeft + QPointF(near, near), topLeft + QPointF(far, far));
        painter.drawLine(topLeft + QPointF(near, far), topLeft + QPointF(far, near));
    }
    painter.restore();
}
