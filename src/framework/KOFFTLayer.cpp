#include "KOFFTLayer.h"

#include "AntialiasedPolyline.h"
#include "KOFFTDrawingData.h"
#include "YUpGeometry.h"
#include "ZOLogViewMath.h"
#include "engine/KOFloatBuffer.h"
#include "engine/KOSpectrumReduce.h"

#include <QPainterPath>
#include <algorithm>

#include <fmt/format.h>

#include <cmath>

using koru::framework::strokeAntialiasedPolyline;
using koru::framework::YUpGeometry;

namespace {

constexpr double kHighestBarLevel = 100.0;
constexpr double kLowestBarLevel = -150.0;

// Releases a trace lock taken with TryLock.
class TraceLock {
public:
    explicit TraceLock(KOFFTDrawingData& data) : mData(data), mHeld(data.TryLock()) {}
    ~TraceLock() {
        if (mHeld) {
            mData.Unlock();
        }
    }
    TraceLock(const TraceLock&) = delete;
    TraceLock& operator=(const TraceLock&) = delete;
    bool held() const { return mHeld; }

private:
    KOFFTDrawingData& mData;
    bool mHeld;
};

QFont barLabelFont() {
    QFont font(QStringLiteral("Helvetica"));
    font.setPixelSize(8);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 0.6);
    return font;
}

} // namespace

KOFFTLayer::KOFFTLayer(const ZOLogViewMath* math, double width, double height, double lowerMag,
                       double upperMag, double devicePixelRatio)
    : KOGraphicLayer(width, height, devicePixelRatio) {
    if (math == nullptr) {
        return;
    }
    mUpperMag = upperMag;
    mLowerMag = lowerMag;
    mWidth = width;
    const double span = upperMag - lowerMag;
    mYScale = (std::isfinite(span) && span > 0.0) ? height / span : height;
    mYOffset = height - upperMag * mYScale;
    mTransform = QTransform(mWidth, 0.0, 0.0, mYScale, 0.0, mYOffset);
    if (context() != nullptr) {
        context()->setRenderHint(QPainter::Antialiasing, false);
    }
}

void KOFFTLayer::draw(KOFFTDrawingData* data) {
    if (data == nullptr) {
        return;
    }
    const TraceLock lock(*data);
    if (!lock.held()) {
        return;
    }
    const KOFloatBuffer* buffer = data->Buffer();
    if (!data->visible() || buffer == nullptr || data->LogViewMath().numLayerPoints() == 0) {
        return;
    }
    const std::uint32_t mode = data->drawMode();
    if (mode == KOFFTDrawingData::kOctaveBars || mode == KOFFTDrawingData::kPeakBars) {
        drawOctaveBars(*buffer, *data);
        return;
    }
    drawPath(*buffer, *data);
}

std::vector<double>& KOFFTLayer::reducedLevels(const KOFloatBuffer& buffer, KOFFTDrawingData& data,
                                               std::uint32_t count) {
    mLevels.resize(count);
    const ZOLogViewMath& math = data.LogViewMath();
    const std::lock_guard lock(math.mutex());
    const auto bins = std::int32_t(buffer.Length() / 2);
    smoothLogXScale(buffer.Data(), bins, mLevels.data(), count, data.accumulationMode(),
                    math.nyquist(), math.lowFrequency(), math.highFrequency(),
                    1.0 / double(math.bandsPerOctave()));
    const double base = data.offset();
    for (double& level : mLevels) {
        level = 20.0 * std::log10(level);
        if (!std::isfinite(level)) {
            level = base; // a non-finite point would break the path
        }
    }
    return mLevels;
}

void KOFFTLayer::drawPath(const KOFloatBuffer& buffer, KOFFTDrawingData& data) {
    const auto columns = std::uint32_t(std::max(0.0, std::trunc(mWidth)));
    if (columns < 2 || context() == nullptr || !context()->isActive()) {
        return;
    }
    std::vector<double>& levels = reducedLevels(buffer, data, columns);
    const double base = data.offset();
    const std::uint32_t last = columns - 2;
    levels[0] = base;
    levels[last] = base;
    mPoints.clear();
    mPoints.emplace_back(0.0, yForLevel(base));
    for (std::uint32_t i = 0; i <= last; ++i) {
        mPoints.emplace_back(double(i), yForLevel(levels[i]));
    }
    QPainter& painter = *context();
    if (data.drawMode() != KOFFTDrawingData::kFilled) {
        strokeAntialiasedPolyline(pixels(), mPoints, painter.deviceTransform(), data.Color());
        return;
    }
    QPainterPath path;
    path.addPolygon(QPolygonF(QList<QPointF>(mPoints.begin(), mPoints.end())));
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.fillPath(path, data.Color());
    painter.restore();
}

void KOFFTLayer::drawOctaveBars(const KOFloatBuffer& buffer, KOFFTDrawingData& data) {
    if (context() == nullptr || !context()->isActive()) {
        return;
    }
    const ZOLogViewMath& math = data.LogViewMath();
    const std::lock_guard lock(math.mutex());
    const std::vector<KOFFTLayerOctave>& bands = math.octaves();
    if (bands.empty()) {
        return;
    }
    std::vector<double>& levels = reducedLevels(buffer, data, std::uint32_t(bands.size()));
    const double base = data.offset();
    const bool markers = data.drawMode() == KOFFTDrawingData::kPeakBars;
    QPainterPath path;
    for (std::size_t k = 0; k < bands.size(); ++k) {
        double& level = levels[k];
        if (!(level <= kHighestBarLevel && level >= kLowestBarLevel) || bands[k].binCount == 0) {
            level = base;
        }
        const double x = bands[k].xL;
        const double w = bands[k].xR - bands[k].xL;
        const QRectF bar =
            markers ? QRectF(x, level, w, 2.0 / mYScale) : QRectF(x, base, w, level - base);
        path.addPolygon(mTransform.map(QPolygonF(bar)));
    }
    context()->fillPath(path, data.Color());
    if (data.showDetails()) {
        drawBarLabels(data, levels);
    }
}

void KOFFTLayer::drawBarLabels(KOFFTDrawingData& data, const std::vector<double>& levels) {
    const std::vector<KOFFTLayerOctave>& bands = data.LogViewMath().octaves();
    const double base = data.offset();
    const bool markers = data.drawMode() == KOFFTDrawingData::kPeakBars;
    const QFont font = barLabelFont();
    const QColor fill = QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.9f);
    const QPen stroke(QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.7f), 0.0);
    QPainter& painter = *context();
    for (std::size_t k = 0; k < bands.size(); ++k) {
        const double height = levels[k] - base;
        if (height == 0.0) {
            continue; // nothing measured in this band
        }
        // Every label shows the band's level above the base, over the middle of its own bar.
        const QString text = QString::fromStdString(fmt::format("{:.0f}", height));
        const double centre = (bands[k].xL + bands[k].xR) / 2.0 * mWidth;
        const double top = yForLevel(levels[k]) + (markers ? 2.0 : 0.0);
        const double y = height >= 0.0 ? top + 1.0 : top - 10.0;
        const double advance = YUpGeometry::textAdvance(text, font);
        YUpGeometry::fillText(painter, text, font, {centre - advance / 2.0, y}, fill, stroke);
    }
}
