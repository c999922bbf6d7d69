#include "spl/ui/KOSPLHistoryView.h"

#include "framework/KOColorAdditions.h"
#include "framework/KOLevelHistoryBackingLayer.h"
#include "framework/KOLevelHistoryViewDelegate.h"
#include "framework/YUpGeometry.h"
#include "spl/KOSPLLog.h"
#include "utility/ZODictionary.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

using koru::framework::YUpGeometry;

namespace {

constexpr double kFollowMargin = 10.0;

QString key(const char* name) {
    return QString::fromLatin1(name);
}

QScrollArea* enclosingScrollArea(const QWidget* view) {
    for (QWidget* parent = view->parentWidget(); parent; parent = parent->parentWidget()) {
        if (auto* area = qobject_cast<QScrollArea*>(parent))
            return area;
    }
    return nullptr;
}

} // namespace

KOSPLHistoryView::KOSPLHistoryView(QWidget* parent)
    : KOInstrumentBackgroundView(parent), mLEQColor(Qt::yellow),
      mSPLColor(KOColorAdditions::noBlueColor()),
      mAVGColor(QColor::fromRgbF(0.8f, 0.2f, 0.4f, 0.7f)) {
    setRedrawRate(0);
}

KOSPLHistoryView::~KOSPLHistoryView() = default;

void KOSPLHistoryView::setSplLog(std::shared_ptr<KOSPLLog> log) {
    mSPLLog = std::move(log);
    mSelStart = mSelEnd = 0;
    setSpeed(mSpeed);
    setNeedsPaths();
}

void KOSPLHistoryView::splLogDidAddData() {
    setSpeed(mSpeed);
    setNeedsPaths();
}

std::uint64_t KOSPLHistoryView::recordCount() const {
    return mSPLLog ? mSPLLog->length() : 0;
}

bool KOSPLHistoryView::hasSPLData() const {
    return recordCount() > kRecordsForData;
}

void KOSPLHistoryView::setSpeed(double speed) {
    if (std::isnan(speed))
        return;
    mSpeed = std::clamp(speed, kMinimumSpeed, kMaximumSpeed);
    if (QScrollArea* area = enclosingScrollArea(this)) {
        const double inset = mBackingLayer ? kScaleWidth : 0.0;
        const double wanted = double(recordCount()) * mSpeed + inset;
        const int width = std::max(int(std::ceil(wanted)), area->viewport()->width());
        // The height follows the viewport too (a scroll bar appearing takes some): a taller view
        // would cut the lower levels off.
        if (width != this->width() || area->viewport()->height() != height()) {
            // Follow the newest data when the user was looking at the right end.
            const QRectF visible = visibleRect();
            const bool follow = visible.right() > this->width() - kFollowMargin;
            resize(width, area->viewport()->height());
            if (follow)
                area->horizontalScrollBar()->setValue(area->horizontalScrollBar()->maximum());
        }
    }
    // The time axis only changes with the period: a new record needs new paths, not new layers.
    if (1.0 / mSpeed != mLoggingPeriod || !mBackingLayer)
        setLoggingPeriod(1.0 / mSpeed);
    else
        setNeedsPaths();
    if (mDelegate)
        mDelegate->historyViewDidChangeSpeed(float(mSpeed));
}

void KOSPLHistoryView::zoomIn() {
    setSpeed(mSpeed * double(kZoomFactor));
}

void KOSPLHistoryView::zoomOut() {
    setSpeed(mSpeed / double(kZoomFactor));
}

void KOSPLHistoryView::setLoggingPeriod(double seconds) {
    mLoggingPeriod = seconds;
    createBackingLayer();
    setNeedsPaths();
}

void KOSPLHistoryView::createBackingLayer() {
    if (height() < 10)
        return;
    const QRectF visible = visibleRect();
    auto background = std::make_unique<KOLevelHistoryBackingLayer>(
        0u, std::max(1.0, visible.width()), double(height()), kLowerBound, kUpperBound, 1.0);
    background->drawTimeAxis(mLoggingPeriod);
    auto scale = std::make_unique<KOLevelHistoryBackingLayer>(
        unsigned(KOLevelHistoryBackingLayer::kLabelsLeft), kScaleWidth, double(height()),
        kLowerBound, kUpperBound, 1.0);
    const std::lock_guard lock(objectLock());
    mBackingLayer = std::move(background);
    mScaleLayer = std::move(scale);
}

QRectF KOSPLHistoryView::visibleRect() const {
    if (QScrollArea* area = enclosingScrollArea(this)) {
        const QWidget* viewport = area->viewport();
        const QPoint origin = mapFrom(viewport, QPoint(0, 0));
        return QRectF(QRect(origin, viewport->size())).intersected(QRectF(rect()));
    }
    return QRectF(rect());
}

double KOSPLHistoryView::xForDataPosition(std::uint64_t index) const {
    const std::uint64_t count = recordCount();
    return double(width()) - double(count - std::min(count, index)) * mSpeed;
}

std::uint64_t KOSPLHistoryView::dataPositionAtX(double x) const {
    const double position = double(recordCount()) - std::floor((double(width()) - x) / mSpeed);
    return position <= 0.0 ? 0 : std::uint64_t(position);
}

std::pair<std::uint64_t, std::uint64_t> KOSPLHistoryView::selectionRange() const {
    if (mSelStart == mSelEnd)
        return {0, recordCount()};
    const std::uint64_t low = std::min(mSelStart, mSelEnd);
    return {low, std::max(mSelStart, mSelEnd) - low};
}

void KOSPLHistoryView::selectAll() {
    mSelStart = 0;
    mSelEnd = recordCount();
    update();
}

void KOSPLHistoryView::setNeedsPaths() {
    mNeedToCreatePath = true;
    update();
}

void KOSPLHistoryView::setDrawSPL(bool draw) {
    mDrawSPL = draw;
    setNeedsPaths();
}

void KOSPLHistoryView::setDrawAVG(bool draw) {
    mDrawAVG = draw;
    setNeedsPaths();
}

void KOSPLHistoryView::setDrawLEQ(bool draw) {
    mDrawLEQ = draw;
    setNeedsPaths();
}

QColor KOSPLHistoryView::splColor() const {
    const std::lock_guard lock(objectLock());
    return mSPLColor;
}

QColor KOSPLHistoryView::avgColor() const {
    const std::lock_guard lock(objectLock());
    return mAVGColor;
}

QColor KOSPLHistoryView::leqColor() const {
    const std::lock_guard lock(objectLock());
    return mLEQColor;
}

void KOSPLHistoryView::setSplColor(const QColor& colour) {
    {
        const std::lock_guard lock(objectLock());
        mSPLColor = colour;
    }
    setNeedsPaths();
}

void KOSPLHistoryView::setAvgColor(const QColor& colour) {
    {
        const std::lock_guard lock(objectLock());
        mAVGColor = colour;
    }
    setNeedsPaths();
}

void KOSPLHistoryView::setLeqColor(const QColor& colour) {
    {
        const std::lock_guard lock(objectLock());
        mLEQColor = colour;
    }
    setNeedsPaths();
}

QVariantMap KOSPLHistoryView::settingsDictionary() const {
    return {
        {key(kDrawSPLKey), mDrawSPL},
        {key(kDrawAVGKey), mDrawAVG},
        {key(kDrawLEQKey), mDrawLEQ},
        {key(kColorSPLKey), KOColorAdditions::dictionaryRepresentation(splColor())},
        {key(kColorAVGKey), KOColorAdditions::dictionaryRepresentation(avgColor())},
        {key(kColorLEQKey), KOColorAdditions::dictionaryRepresentation(leqColor())},
        {key(kZoomKey), mSpeed},
    };
}

void KOSPLHistoryView::loadSettingsFromDictionary(const QVariantMap& settings) {
    const auto flag = [&settings](const char* name, const auto& apply) {
        const QVariant value = settings.value(key(name));
        if (ZODictionary::isNumber(value))
            apply(value.toBool());
    };
    flag(kDrawSPLKey, [this](bool v) { setDrawSPL(v); });
    flag(kDrawAVGKey, [this](bool v) { setDrawAVG(v); });
    flag(kDrawLEQKey, [this](bool v) { setDrawLEQ(v); });
    const auto colour = [&settings](const char* name, const auto& apply) {
        const QVariant value = settings.value(key(name));
        if (value.typeId() == QMetaType::QVariantMap)
            apply(KOColorAdditions::colorFromDictionary(value.toMap()));
    };
    colour(kColorSPLKey, [this](const QColor& c) { setSplColor(c); });
    colour(kColorAVGKey, [this](const QColor& c) { setAvgColor(c); });
    colour(kColorLEQKey, [this](const QColor& c) { setLeqColor(c); });
    const QVariant zoom = settings.value(key(kZoomKey));
    if (ZODictionary::isNumber(zoom) && std::isfinite(zoom.toDouble()))
        setSpeed(zoom.toDouble());
}

void KOSPLHistoryView::controllerDidChangeLoggingStatus(bool logging) {
    mLogging = logging;
    update();
}

double KOSPLHistoryView::valueY(double value) const {
    const double h = double(height());
    return h - (value - kLowerBound) * h / (kUpperBound - kLowerBound);
}

void KOSPLHistoryView::updateGroups() {
    const auto r = std::max<std::uint64_t>(1, std::uint64_t(std::floor(1.0 / mSpeed)));
    if (mGroupsLog.lock() != mSPLLog || mGroupSize != r) {
        mGroups.clear();
        mGroupedRecords = 0;
        mGroupSize = r;
        mGroupsLog = mSPLLog;
    }
    if (!mSPLLog)
        return;
    const std::uint64_t count = mSPLLog->length();
    if (count == mGroupedRecords)
        return;
    // A partial last group is made again with the records that joined it.
    if (mGroupedRecords % r != 0)
        mGroups.pop_back();
    const std::uint64_t from = std::uint64_t(mGroups.size()) * r;
    mGroups.reserve(std::size_t((count + r - 1) / r));
    mSPLLog->enumerateDataInRange(from, count - from, r,
                                  [this](const KOSPLRecord& group) { mGroups.push_back(group); });
    mGroupedRecords = count;
}

void KOSPLHistoryView::createPaths() {
    const std::lock_guard lock(objectLock());
    mNeedToCreatePath = false;
    mSPLPath = QPainterPath();
    mAVGPath = QPainterPath();
    mLEQPath = QPainterPath();
    const QRectF visible = visibleRect();
    mPathsRect = visible;
    updateGroups();
    if (!mSPLLog || mGroups.empty())
        return;
    const std::uint64_t r = mGroupSize;
    const std::uint64_t count = mGroupedRecords;
    // The groups any part of which is visible, one more each side so the lines run off the edge.
    const std::uint64_t firstRecord = dataPositionAtX(visible.left());
    const std::uint64_t lastRecord = std::min(count, dataPositionAtX(visible.right()) + 1);
    const std::uint64_t first = firstRecord / r > 0 ? firstRecord / r - 1 : 0;
    const std::uint64_t end = std::min<std::uint64_t>(mGroups.size(), lastRecord / r + 2);
    const double bottom = valueY(kLowerBound);
    const double start = xForDataPosition(first * r);
    for (QPainterPath* path : {&mSPLPath, &mAVGPath, &mLEQPath})
        path->moveTo(start, bottom);
    double x = start;
    for (std::uint64_t k = first; k < end; ++k) {
        x = xForDataPosition(k * r);
        const KOSPLRecord& group = mGroups[std::size_t(k)];
        mSPLPath.lineTo(x, valueY(group.spl));
        mAVGPath.lineTo(x, valueY(group.avg));
        mLEQPath.lineTo(x, valueY(group.leq));
    }
    // The last point holds its group's width.
    x = xForDataPosition(std::min(count, end * r));
    const KOSPLRecord& last = mGroups[std::size_t(end - 1)];
    mSPLPath.lineTo(x, valueY(last.spl));
    mAVGPath.lineTo(x, valueY(last.avg));
    mLEQPath.lineTo(x, valueY(last.leq));
    for (QPainterPath* path : {&mSPLPath, &mAVGPath, &mLEQPath})
        path->lineTo(x, bottom);
}

void KOSPLHistoryView::resizeEvent(QResizeEvent* event) {
    KOInstrumentBackgroundView::resizeEvent(event);
    createBackingLayer();
    setNeedsPaths();
}

void KOSPLHistoryView::paintEvent(QPaintEvent* event) {
    KOInstrumentBackgroundView::paintEvent(event);
    const QRectF visible = visibleRect();
    // A scroll shows another part of the log.
    if (mNeedToCreatePath || visible != mPathsRect)
        createPaths();
    QPainter painter(this);
    const std::lock_guard lock(objectLock());
    const double h = double(height());
    if (mBackingLayer) {
        painter.save();
        YUpGeometry::flip(painter, h);
        mBackingLayer->drawAtPoint(painter, visible.x(), 0.0);
        if (mScaleLayer)
            mScaleLayer->drawAtPoint(painter, visible.x(), 0.0);
        painter.restore();
    }
    painter.setClipRect(QRectF(visible.x() + kScaleWidth, visible.y(),
                               std::max(0.0, visible.width() - 25.0), visible.height()));
    painter.setRenderHint(QPainter::Antialiasing);
    if (mSelStart != mSelEnd) {
        const double left = xForDataPosition(std::min(mSelStart, mSelEnd));
        const double right = xForDataPosition(std::max(mSelStart, mSelEnd));
        QPainterPath selection;
        selection.addRoundedRect(QRectF(left, visible.y(), right - left, visible.height()), 4, 4);
        painter.fillPath(selection, palette().color(QPalette::Highlight));
    }
    if (mDrawSPL) {
        QColor fill = mSPLColor;
        fill.setAlphaF(0.7f);
        painter.fillPath(mSPLPath, fill);
    }
    const auto stroke = [&painter](const QPainterPath& path, QColor colour) {
        colour.setAlphaF(1.0f);
        painter.strokePath(path, QPen(colour, 1.0));
    };
    if (mDrawAVG)
        stroke(mAVGPath, mAVGColor);
    if (mDrawLEQ)
        stroke(mLEQPath, mLEQColor);
}

void KOSPLHistoryView::mousePressEvent(QMouseEvent* event) {
    mSelStart = mSelEnd = dataPositionAtX(event->position().x());
    update();
    KOInstrumentBackgroundView::mousePressEvent(event);
}

void KOSPLHistoryView::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton) {
        mSelEnd = dataPositionAtX(event->position().x());
        update();
    }
    KOInstrumentBackgroundView::mouseMoveEvent(event);
}
