#include "KOTimeRulerView.h"

#include "RulerClient.h"
#include "YUpGeometry.h"
#include "utility/KODistanceFormatter.h"
#include "utility/ZODictionary.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>

#include <fmt/format.h>
#include <fmt/printf.h>

#include <cmath>
#include <map>
#include <mutex>
#include <stdexcept>

using koru::framework::YUpGeometry;

namespace {

constexpr double kSmallSystemFontSize = 11.0;
// Products and quotients of the steps carry rounding noise; a spacing that is a whole number of
// marks must not count one more.
constexpr double kSpacingTolerance = 1e-9;
// Each pass of a spacing search at least halves or doubles the distance: more passes than this
// only happen for a scale no screen shows.
constexpr int kMaximumSpacingPasses = 4096;

struct UnitTable {
    std::mutex mutex; // guards the members below
    std::map<QString, std::shared_ptr<const KOTimeRulerUnit>> units;
    double registeredRate = 0.0;
};

UnitTable& unitTable() {
    // Lives as long as the process.
    static auto* table = new UnitTable;
    return *table;
}

double formatterSampleRate() {
    return KODistanceFormatter::sharedDistanceFormatter().sampleRate();
}

} // namespace

KOTimeRulerView::KOTimeRulerView(QWidget* scrollView, Qt::Orientation orientation, QWidget* parent)
    : QWidget(parent), mForegroundColor(Qt::lightGray),
      mBackgroundColor(QColor::fromRgbF(0.14f, 0.14f, 0.14f, 1.0f)) {
    if (orientation != Qt::Horizontal) {
        throw std::invalid_argument(
            "Invalid parameter not satisfying: orientation == Qt::Horizontal");
    }
    attachClient(scrollView);
    setFixedHeight(kRuleThickness);
    refreshUnitsForSampleRate();
    setMeasurementUnits(QStringLiteral("meter"));
    mReloadToken = koru::platform::observeNotification(
        QString::fromLatin1(KODistanceFormatter::kReloadAudioPropNotification), nullptr,
        [ruler = QPointer<KOTimeRulerView>(this)](const koru::platform::Notification&) {
            if (ruler == nullptr) {
                return;
            }
            QMetaObject::invokeMethod(
                ruler,
                [ruler] {
                    if (ruler != nullptr) {
                        ruler->invalidateHashMarks();
                    }
                },
                Qt::AutoConnection);
        });
}

KOTimeRulerView::~KOTimeRulerView() {
    if (mScrollView != nullptr) {
        mClient->setRulerObserver({});
    }
}

void KOTimeRulerView::attachClient(QWidget* scrollView) {
    auto* client = dynamic_cast<koru::framework::RulerClient*>(scrollView);
    if (client == nullptr) {
        throw std::invalid_argument("Invalid parameter not satisfying: scrollView");
    }
    if (mScrollView != nullptr) {
        mClient->setRulerObserver({});
    }
    mScrollView = scrollView;
    mClient = client;
    mClient->setRulerObserver([ruler = QPointer<KOTimeRulerView>(this)] {
        if (ruler != nullptr) {
            ruler->clientChanged();
        }
    });
}

void KOTimeRulerView::setClientView(QWidget* clientView) {
    attachClient(clientView);
    mDraggedMarker = -1;
    invalidateHashMarks();
}

void KOTimeRulerView::registerUnitWithName(const QString& name, const QString& abbreviation,
                                           double conversionFactor, std::vector<double> stepUpCycle,
                                           std::vector<double> stepDownCycle) {
    auto unit = std::make_shared<const KOTimeRulerUnit>(
        name, abbreviation, conversionFactor, std::move(stepUpCycle), std::move(stepDownCycle));
    UnitTable& table = unitTable();
    const std::lock_guard lock(table.mutex);
    table.units[name] = std::move(unit);
}

void KOTimeRulerView::registerDefaultUnits() {
    KODistanceFormatter& formatter = KODistanceFormatter::sharedDistanceFormatter();
    const double rate = formatter.sampleRate();
    for (const std::uint32_t unit : KODistanceFormatter::allUnits()) {
        registerUnitWithName(
            KODistanceFormatter::unitNameForUnit(unit),
            KODistanceFormatter::unitSymbolForUnit(unit),
            double(formatter.convertValue(1.0, unit, KODistanceFormatter::Samples)),
            {2.0, 5.0, 10.0}, {0.5, 0.2, 0.1});
    }
    UnitTable& table = unitTable();
    const std::lock_guard lock(table.mutex);
    table.registeredRate = rate;
}

std::shared_ptr<const KOTimeRulerUnit> KOTimeRulerView::unitWithName(const QString& name) {
    UnitTable& table = unitTable();
    const std::lock_guard lock(table.mutex);
    const auto found = table.units.find(name);
    return found != table.units.end() ? found->second : nullptr;
}

// The units hold factors in samples, which depend on the rate the audio runs at.
void KOTimeRulerView::refreshUnitsForSampleRate() {
    double registered = 0.0;
    {
        UnitTable& table = unitTable();
        const std::lock_guard lock(table.mutex);
        registered = table.registeredRate;
    }
    if (registered == formatterSampleRate()) {
        return;
    }
    registerDefaultUnits();
    if (mUnit != nullptr) {
        if (auto fresh = unitWithName(mUnit->unitName())) {
            mUnit = std::move(fresh);
        }
    }
}

void KOTimeRulerView::setMeasurementUnits(const QString& unitName) {
    auto unit = unitWithName(unitName);
    if (unit == nullptr) {
        throw std::invalid_argument("unit is nil");
    }
    mUnit = std::move(unit);
    invalidateHashMarks();
}

QString KOTimeRulerView::measurementUnits() const {
    return mUnit->unitName();
}

void KOTimeRulerView::invalidateHashMarks() {
    mCacheIsValid = false;
    update();
}

void KOTimeRulerView::setOriginOffset(double offset) {
    if (!std::isfinite(offset)) {
        return;
    }
    mOriginOffset = offset;
    update();
}

VETextAttributes KOTimeRulerView::labelTextAttributes() const {
    return ZODictionary::fontAttributesDictionaryForSize(kSmallSystemFontSize, mForegroundColor);
}

void KOTimeRulerView::setForegroundColor(const QColor& colour) {
    mForegroundColor = colour;
    update();
}

void KOTimeRulerView::setBackgroundColor(const QColor& colour) {
    mBackgroundColor = colour;
    update();
}

void KOTimeRulerView::clientChanged() {
    if (mClient->rulerPixelsPerUnit() != mCachedScale) {
        invalidateHashMarks();
        return;
    }
    update();
}

double KOTimeRulerView::stepForIndex(std::int64_t index) const {
    if (index >= 1) {
        const auto& up = mUnit->stepUpCycle();
        return up[std::size_t(index - 1) % up.size()];
    }
    const auto& down = mUnit->stepDownCycle();
    return 1.0 / down[std::size_t(-index) % down.size()];
}

bool KOTimeRulerView::verifyCachedValues() {
    if (mCacheIsValid) {
        return mSpacingUsable;
    }
    refreshUnitsForSampleRate();
    mCacheIsValid = true;
    mSpacingUsable = false;
    mCachedScale = mScrollView != nullptr ? mClient->rulerPixelsPerUnit() : 0.0;
    mUnitToRuler = mUnit->conversionFactor() * mCachedScale;
    if (!std::isfinite(mUnitToRuler) || !(mUnitToRuler > 0.0)) {
        return false;
    }
    mMarkDistance = mUnitToRuler;
    std::int64_t i = 0;
    int passes = 0;
    for (; mMarkDistance > kMinimumMarkDistance && passes < kMaximumSpacingPasses; ++passes) {
        mMarkDistance /= stepForIndex(i);
        --i;
    }
    for (; mMarkDistance < kMinimumMarkDistance && passes < 2 * kMaximumSpacingPasses; ++passes) {
        mMarkDistance *= stepForIndex(i + 1);
        ++i;
    }
    mMarksToMidMark = std::int64_t(std::ceil(stepForIndex(i + 1) - kSpacingTolerance));
    mMarksToBigMark =
        mMarksToMidMark * std::int64_t(std::ceil(stepForIndex(i + 2) - kSpacingTolerance));
    mLabelDistance = mMarkDistance;
    for (std::int64_t j = i + 1;
         mLabelDistance < kMinimumLabelDistance && passes < 3 * kMaximumSpacingPasses;
         ++j, ++passes) {
        mLabelDistance *= stepForIndex(j);
    }
    if (!(mMarkDistance >= kMinimumMarkDistance - kSpacingTolerance) ||
        !(mLabelDistance >= kMinimumLabelDistance - kSpacingTolerance) ||
        !std::isfinite(mLabelDistance)) {
        return false;
    }
    mMarksToLabel = std::max<std::int64_t>(
        1, std::int64_t(std::ceil(mLabelDistance / mMarkDistance - kSpacingTolerance)));
    const double unitsPerLabel = mLabelDistance / mUnitToRuler;
    if (unitsPerLabel >= 1.0 - kSpacingTolerance) {
        mLabelFormat = QStringLiteral("%1.f");
    } else {
        const int decimals = int(std::ceil(std::log10(1.0 / unitsPerLabel) - kSpacingTolerance));
        mLabelFormat = QString::fromStdString(fmt::format("%.{}f", decimals));
    }
    mSpacingUsable = true;
    return true;
}

double KOTimeRulerView::markDistance() {
    verifyCachedValues();
    return mMarkDistance;
}

double KOTimeRulerView::unitToRuler() {
    verifyCachedValues();
    return mUnitToRuler;
}

double KOTimeRulerView::labelDistance() {
    verifyCachedValues();
    return mLabelDistance;
}

std::int64_t KOTimeRulerView::marksToLabel() {
    verifyCachedValues();
    return mMarksToLabel;
}

std::int64_t KOTimeRulerView::marksToBigMark() {
    verifyCachedValues();
    return mMarksToBigMark;
}

std::int64_t KOTimeRulerView::marksToMidMark() {
    verifyCachedValues();
    return mMarksToMidMark;
}

QString KOTimeRulerView::labelFormat() {
    verifyCachedValues();
    return mLabelFormat;
}

double KOTimeRulerView::documentLeft() const {
    if (mScrollView == nullptr) {
        return 0.0;
    }
    const QPointF origin(mClient->rulerDocumentOrigin(), 0.0);
    return mapFromGlobal(mScrollView->mapToGlobal(origin)).x();
}

double KOTimeRulerView::documentRight() const {
    if (mScrollView == nullptr) {
        return 0.0;
    }
    return documentLeft() + mClient->rulerDocumentLength() * mClient->rulerPixelsPerUnit();
}

void KOTimeRulerView::setMarkers(std::vector<koru::framework::RulerMarker> markers) {
    mMarkers = std::move(markers);
    mDraggedMarker = -1;
    update();
}

double KOTimeRulerView::rulerX(double location) const {
    if (mScrollView == nullptr) {
        return 0.0;
    }
    return documentLeft() + location * mClient->rulerPixelsPerUnit();
}

int KOTimeRulerView::markerAt(double x) const {
    for (int i = int(mMarkers.size()) - 1; i >= 0; --i) {
        if (std::fabs(rulerX(mMarkers[std::size_t(i)].location) - x) <= kMarkerHalfWidth) {
            return i;
        }
    }
    return -1;
}

double KOTimeRulerView::zero() const {
    return documentLeft() + mOriginOffset;
}

std::vector<KOTimeRulerView::Mark> KOTimeRulerView::marksBetween(double start, double end) {
    std::vector<Mark> marks;
    if (!verifyCachedValues()) {
        return marks;
    }
    start = std::max(start, documentLeft());
    end = std::min(end, documentRight());
    if (!(end > start)) {
        return marks;
    }
    const double origin = zero();
    const auto first = std::int64_t(std::ceil((start - origin) / mMarkDistance));
    const auto last = std::int64_t(std::floor((end - origin) / mMarkDistance));
    for (std::int64_t k = first; k <= last; ++k) {
        double length = 2.0;
        if (k % mMarksToLabel == 0) {
            length = kLabelMarkLength;
        } else if (k % mMarksToBigMark == 0) {
            length = 6.0;
        } else if (k % mMarksToMidMark == 0) {
            length = 4.0;
        }
        marks.push_back({std::round(double(k) * mMarkDistance + origin) + 0.5, length});
    }
    return marks;
}

std::vector<KOTimeRulerView::Label> KOTimeRulerView::labelsBetween(double start, double end) {
    std::vector<Label> labels;
    if (!verifyCachedValues()) {
        return labels;
    }
    const double left = documentLeft();
    start = std::max(start, left);
    end = std::min(end, documentRight());
    if (!(end > start)) {
        return labels;
    }
    const double origin = zero();
    const double step = double(mMarksToLabel) * mMarkDistance;
    auto n = std::int64_t(std::floor((start - origin) / step));
    if (double(n) * step + origin < left) {
        ++n;
    }
    const auto last = std::int64_t(std::floor((end - origin) / step));
    for (; n <= last; ++n) {
        const double x = double(n) * step + origin;
        labels.push_back({x, labelText(double(float((x - origin) / mUnitToRuler)))});
    }
    return labels;
}

QString KOTimeRulerView::labelText(double value) const {
    return QString::fromStdString(fmt::sprintf(mLabelFormat.toStdString(), value));
}

void KOTimeRulerView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), mBackgroundColor);
    if (mScrollView == nullptr || !verifyCachedValues()) {
        return;
    }
    const double h = double(height());
    const QRectF dirty = YUpGeometry::reflected(QRectF(event->rect()), h);
    const QRectF baseline =
        QRectF(documentLeft(), kBaselineLocation, documentRight() - documentLeft(), 1.0)
            .intersected(QRectF(dirty.x(), kBaselineLocation, dirty.width(), 1.0));
    if (baseline.isEmpty()) {
        return;
    }
    painter.save();
    YUpGeometry::flip(painter, h);
    painter.fillRect(baseline, mForegroundColor);
    QPainterPath marks;
    for (const Mark& mark : marksBetween(baseline.left(), baseline.right())) {
        marks.moveTo(mark.x, kBaselineLocation);
        marks.lineTo(mark.x, kBaselineLocation + mark.length);
    }
    painter.setPen(QPen(mForegroundColor, 0.0));
    painter.drawPath(marks);
    painter.restore();

    const VETextAttributes attributes = labelTextAttributes();
    const QFontMetricsF metrics(attributes.font);
    // Beside its long mark, the top of the text one point above the mark's end.
    const double bottom = kBaselineLocation + kLabelMarkLength + 1.0 - metrics.height();
    painter.setFont(attributes.font);
    painter.setPen(attributes.color);
    for (const Label& label : labelsBetween(baseline.left(), baseline.right())) {
        painter.drawText(QPointF(label.x + 2.0, h - bottom - metrics.descent()), label.text);
    }
    YUpGeometry::flip(painter, h);
    drawMarkers(painter);
}

// A small triangle standing on the baseline, its tip at the marker's place.
void KOTimeRulerView::drawMarkers(QPainter& painter) {
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(Qt::NoPen);
    for (const koru::framework::RulerMarker& marker : mMarkers) {
        const double x = rulerX(marker.location);
        if (!std::isfinite(x)) {
            continue;
        }
        QPainterPath triangle(QPointF(x, kBaselineLocation));
        triangle.lineTo(x - kMarkerHalfWidth, kBaselineLocation + kMarkerHeight);
        triangle.lineTo(x + kMarkerHalfWidth, kBaselineLocation + kMarkerHeight);
        triangle.closeSubpath();
        painter.fillPath(triangle, marker.colour);
    }
}

void KOTimeRulerView::mousePressEvent(QMouseEvent* event) {
    const int index = event->button() == Qt::LeftButton && mScrollView != nullptr
                          ? markerAt(event->position().x())
                          : -1;
    if (index < 0 || !mMarkers[std::size_t(index)].movable ||
        !mClient->rulerShouldMoveMarker(mMarkers[std::size_t(index)])) {
        QWidget::mousePressEvent(event);
        return;
    }
    mDraggedMarker = index;
}

void KOTimeRulerView::mouseMoveEvent(QMouseEvent* event) {
    if (mDraggedMarker < 0 || mScrollView == nullptr) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    const double scale = mClient->rulerPixelsPerUnit();
    const double proposed = (event->position().x() - documentLeft()) / scale;
    if (!std::isfinite(proposed)) {
        return;
    }
    koru::framework::RulerMarker& marker = mMarkers[std::size_t(mDraggedMarker)];
    const double accepted = mClient->rulerWillMoveMarker(marker, proposed);
    if (std::isfinite(accepted)) {
        marker.location = accepted;
    }
    update();
}

void KOTimeRulerView::mouseReleaseEvent(QMouseEvent* event) {
    if (mDraggedMarker < 0 || event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    const int index = mDraggedMarker;
    mDraggedMarker = -1;
    if (mScrollView != nullptr) {
        mClient->rulerDidMoveMarker(mMarkers[std::size_t(index)]);
    }
}
