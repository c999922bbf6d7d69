#include "meters/ui/RBPatchView.h"

#include "meters/RBPatchMatrix.h"
#include "meters/RBPatchingProtocol.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

const QColor kHighlight = QColor::fromRgbF(0.1f, 0.1f, 1.0f, 0.6f);
const QColor kLine = QColor(191, 191, 191);
const QColor kPatchPoint = QColor(77, 77, 77);

// Lines sit on half points so a 0.5-wide line covers one row of pixels.
double onHalfPoint(double value) {
    return std::round(value) + 0.5;
}

} // namespace

RBPatchView::RBPatchView(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(100, 100);
}

void RBPatchView::setDelegate(RBPatchingProtocol* delegate) {
    mDelegate = delegate;
    const QSize size = requiredSize();
    setFixedSize(size);
    update();
}

std::uint32_t RBPatchView::numberOfRows() const {
    return mDelegate ? mDelegate->numberChannels() : 0;
}

std::uint32_t RBPatchView::numberOfColumns() const {
    if (!mDelegate || !mDelegate->patchMatrix())
        return 0;
    return std::uint32_t(mDelegate->patchMatrix()->channelNames().size());
}

QSize RBPatchView::requiredSize() const {
    return QSize(int(numberOfColumns() * kCell + kRowLabelWidth),
                 int(numberOfRows() * kCell + kColumnLabelHeight));
}

QPointF RBPatchView::yUpPoint(QPointF widget) const {
    return QPointF(widget.x(), height() - widget.y());
}

QPointF RBPatchView::cellCentre(std::uint32_t row, std::int32_t column) const {
    const double x = xOriginForChannelNumber(column) + kCell / 2;
    const double yUp = yOriginForChannelIndex(row) + kCell / 2;
    return QPointF(x, height() - yUp);
}

bool RBPatchView::pointIsInPatchingRect(QPointF p) const {
    // A 1 × 1 square at the point must lie wholly inside the area right of the row labels and
    // below the column labels.
    return p.x() >= kRowLabelWidth && p.x() + 1.0 <= width() && p.y() >= 0.0 &&
           p.y() + 1.0 <= height() - kColumnLabelHeight;
}

std::uint32_t RBPatchView::channelIndexForPoint(QPointF p) const {
    const std::uint32_t rows = numberOfRows();
    if (rows == 0)
        return 0;
    const double row = std::trunc(double(rows) - p.y() / kCell);
    // The bottom edge would give `rows` itself, a row nobody sees.
    return std::uint32_t(std::clamp(row, 0.0, double(rows - 1)));
}

std::int32_t RBPatchView::channelNumberForPoint(QPointF p) const {
    const std::uint32_t columns = numberOfColumns();
    if (columns == 0)
        return 0;
    const double column = std::trunc((p.x() - kRowLabelWidth) / kCell);
    return std::int32_t(std::clamp(column, 0.0, double(columns - 1)));
}

double RBPatchView::xOriginForChannelNumber(std::int32_t column) const {
    return kRowLabelWidth + kCell * column;
}

double RBPatchView::yOriginForChannelIndex(std::uint32_t row) const {
    return height() - kColumnLabelHeight - kCell - kCell * row;
}

QString RBPatchView::destinationNameAtIndex(std::uint32_t index) {
    return QStringLiteral("Channel %1").arg(index + 1);
}

void RBPatchView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Inside the patch menu the grid takes the keys, so the arrows move its highlight.
    setFocus(Qt::PopupFocusReason);
}

void RBPatchView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    if (!mDelegate || !mDelegate->patchMatrix())
        return;
    const RBPatchMatrix& matrix = *mDelegate->patchMatrix();
    const std::uint32_t rows = numberOfRows();
    const std::uint32_t columns = numberOfColumns();
    const double w = width();
    const double h = height();
    // Widget y of a y-up value.
    auto down = [h](double yUp) { return h - yUp; };

    QFont font = painter.font();
    font.setPixelSize(9);
    painter.setFont(font);
    const QColor labelColour = palette().color(QPalette::WindowText);

    // Highlight: the row band up to the highlighted cell, the column band up to the top.
    if (rows > 0 && columns > 0) {
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setPen(Qt::NoPen);
        painter.setBrush(kHighlight);
        const double cellX = xOriginForChannelNumber(mChannelNumber);
        const double cellY = yOriginForChannelIndex(mChannelIndex);
        painter.drawRoundedRect(QRectF(0, down(cellY + kCell), cellX + kCell, kCell), 4, 4);
        painter.drawRoundedRect(QRectF(cellX, 0, kCell, down(cellY)), 4, 4);
        painter.setRenderHint(QPainter::Antialiasing, false);
    }

    painter.setPen(QPen(kLine, 0.5));
    for (std::uint32_t i = 0; i < rows; ++i) {
        const double top = yOriginForChannelIndex(i) + kCell;
        const double y = onHalfPoint(down(top));
        painter.setPen(QPen(kLine, 0.5));
        painter.drawLine(QPointF(0, y), QPointF(w, y));
        painter.setPen(i == mChannelIndex ? Qt::white : labelColour);
        painter.drawText(QRectF(2, down(top), kRowLabelWidth - 2, kCell),
                         Qt::AlignLeft | Qt::AlignVCenter, destinationNameAtIndex(i));
    }
    painter.setPen(QPen(kLine, 0.5));
    for (std::uint32_t k = 0; k <= columns; ++k) {
        const double x = onHalfPoint(xOriginForChannelNumber(std::int32_t(k)));
        painter.drawLine(QPointF(x, 0), QPointF(x, h));
    }

    // Patch points: the two diagonals of the cell, inset by 2.
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(kPatchPoint, 3.0));
    for (std::uint32_t i = 0; i < rows; ++i) {
        const std::int32_t column = matrix.channelNumberAtIndex(i);
        if (column < 0 || std::uint32_t(column) >= columns)
            continue;
        const double x = xOriginForChannelNumber(column);
        const double yTop = down(yOriginForChannelIndex(i) + kCell);
        painter.drawLine(QPointF(x + 2, yTop + 10), QPointF(x + 10, yTop + 2));
        painter.drawLine(QPointF(x + 2, yTop + 2), QPointF(x + 10, yTop + 10));
    }
    painter.setRenderHint(QPainter::Antialiasing, false);

    // Column labels read upwards, standing on the top edge of the grid.
    for (std::uint32_t j = 0; j < columns; ++j) {
        painter.save();
        painter.translate(xOriginForChannelNumber(std::int32_t(j)), kColumnLabelHeight - 1);
        painter.rotate(-90);
        painter.setPen(std::int32_t(j) == mChannelNumber ? Qt::white : labelColour);
        painter.drawText(QRectF(0, 0, kColumnLabelHeight, kCell), Qt::AlignLeft | Qt::AlignVCenter,
                         matrix.channelNameAtIndex(j));
        painter.restore();
    }
}

void RBPatchView::assign(std::uint32_t row, std::int32_t column) {
    if (!mDelegate || !mDelegate->patchMatrix())
        return;
    if (RBPatchItem* item = mDelegate->patchMatrix()->patchItemAtIndex(row))
        item->setChannelNumber(column);
    emit patchingChanged();
    update();
}

void RBPatchView::fillDiagonal(std::uint32_t row, std::int32_t column) {
    if (!mDelegate || !mDelegate->patchMatrix())
        return;
    const std::uint32_t columns = numberOfColumns();
    const std::uint32_t n = std::min(numberOfRows(), columns);
    RBPatchMatrix& matrix = *mDelegate->patchMatrix();
    // Beyond the visible rows on purpose: adding channels later shows the diagonal going on.
    for (std::uint32_t step = 0; step < n; ++step) {
        if (RBPatchItem* item = matrix.patchItemAtIndex(row + step))
            item->setChannelNumber(std::int32_t((std::uint32_t(column) + step) % columns));
    }
    emit patchingChanged();
    update();
}

void RBPatchView::mousePressEvent(QMouseEvent* event) {
    const QPointF p = yUpPoint(event->position());
    if (!pointIsInPatchingRect(p)) {
        event->accept();
        return;
    }
    if (event->button() == Qt::LeftButton)
        assign(channelIndexForPoint(p), channelNumberForPoint(p));
    else
        fillDiagonal(channelIndexForPoint(p), channelNumberForPoint(p));
    event->accept();
}

void RBPatchView::mouseDoubleClickEvent(QMouseEvent* event) {
    const QPointF p = yUpPoint(event->position());
    if (pointIsInPatchingRect(p))
        fillDiagonal(channelIndexForPoint(p), channelNumberForPoint(p));
    event->accept();
}

void RBPatchView::mouseMoveEvent(QMouseEvent* event) {
    const QPointF p = yUpPoint(event->position());
    if (!pointIsInPatchingRect(p))
        return;
    const std::uint32_t row = channelIndexForPoint(p);
    const std::int32_t column = channelNumberForPoint(p);
    if (row != mChannelIndex || column != mChannelNumber) {
        mChannelIndex = row;
        mChannelNumber = column;
        update();
    }
    wrapHighlight();
}

bool RBPatchView::event(QEvent* event) {
    // Tab would move the focus out of the grid; like every key the grid does not use, it is
    // swallowed instead.
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
            key->accept();
            return true;
        }
    }
    return QWidget::event(event);
}

void RBPatchView::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Left:
        --mChannelNumber;
        break;
    case Qt::Key_Right:
        ++mChannelNumber;
        break;
    case Qt::Key_Down:
        ++mChannelIndex;
        break;
    case Qt::Key_Up:
        // Wraps below to the last row.
        mChannelIndex = mChannelIndex == 0 ? std::uint32_t(-1) : mChannelIndex - 1;
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        assign(mChannelIndex, mChannelNumber);
        ++mChannelIndex;
        ++mChannelNumber;
        break;
    case Qt::Key_Space:
        assign(mChannelIndex, mChannelNumber);
        break;
    case Qt::Key_Escape:
        // Passed on: it closes the menu the grid sits in.
        event->ignore();
        return;
    default:
        break;
    }
    event->accept();
    wrapHighlight();
}

void RBPatchView::wrapHighlight() {
    const std::uint32_t rows = numberOfRows();
    const std::uint32_t columns = numberOfColumns();
    if (mChannelNumber < 0)
        mChannelNumber = columns > 0 ? std::int32_t(columns - 1) : 0;
    else if (std::uint32_t(mChannelNumber) >= columns)
        mChannelNumber = 0;
    if (mChannelIndex == std::uint32_t(-1))
        mChannelIndex = rows > 0 ? rows - 1 : 0;
    else if (mChannelIndex >= rows)
        mChannelIndex = 0;
    update();
}
