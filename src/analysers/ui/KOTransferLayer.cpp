#include "analysers/ui/KOTransferLayer.h"

#include "engine/KOFloatBuffer.h"
#include "framework/KOFFTDrawingData.h"
#include "framework/KOFFTLayer.h"
#include "framework/YUpGeometry.h"
#include "framework/ZOLogViewMath.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <numbers>

using koru::framework::YUpGeometry;

namespace {

constexpr double kDecibelFloor = -144.0;

class TraceLock {
public:
    explicit TraceLock(KOFFTDrawingData& data) : mData(data), mHeld(data.TryLock()) {}
    ~TraceLock() {
        if (mHeld)
            mData.Unlock();
    }
    TraceLock(const TraceLock&) = delete;
    TraceLock& operator=(const TraceLock&) = delete;
    bool held() const { return mHeld; }

private:
    KOFFTDrawingData& mData;
    bool mHeld;
};

QFont labelFont(int points) {
    QFont font(QStringLiteral("Helvetica"));
    font.setPointSize(points);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 0.6);
    return font;
}

// The magnitude in decibels, read without converting the model's buffer in place (the export
// copies it meanwhile under the model lock).
double decibels(const KOFloatBuffer& magnitude, std::uint32_t index) {
    const double value = magnitude.Data()[index];
    const double level = magnitude.IsDecibel() ? value : 10.0 * std::log10(value);
    return std::isfinite(level) ? level : kDecibelFloor;
}

} // namespace

KOTransferLayer::Band KOTransferLayer::bandValue(const KOFloatBuffer& magnitude,
                                                 const KOFloatBuffer& coherence,
                                                 std::uint32_t first, std::uint32_t count,
                                                 double offset, bool invert) {
    const std::uint32_t end = std::min({first + count, magnitude.Length(), coherence.Length()});
    double weighted = 0.0;
    double weights = 0.0;
    for (std::uint32_t i = first; i < end; ++i) {
        const double c = coherence.Data()[i];
        if (!(c > 0.0))
            continue;
        weighted += decibels(magnitude, i) * c;
        weights += c;
    }
    Band band;
    band.value = weighted / weights; // NaN without coherence
    band.weight = count > 0 ? weights / double(count) : 0.0;
    if (offset != 0.0)
        band.value += offset;
    if (invert)
        band.value = -band.value;
    if (!(std::abs(band.value) <= kLevelLimit)) {
        band.value = offset;
        band.weight = 0.0;
    }
    return band;
}

KOTransferLayer::KOTransferLayer(KOFFTLayer& layer, double height)
    : mLayer(layer), mHeight(height), mWidth(layer.width()) {}

double KOTransferLayer::yForPhase(double radians) const {
    return (radians + kPhaseRange) * mHeight / (2.0 * kPhaseRange);
}

double KOTransferLayer::yForCoherence(double coherence) const {
    return 0.85 * mHeight - 20.0 + coherence * 0.15 * mHeight;
}

void KOTransferLayer::draw(KOFFTDrawingData& magnitude, KOFFTDrawingData& phase,
                           KOFFTDrawingData& coherence) {
    if (mLayer.context() == nullptr || !mLayer.context()->isActive() || mWidth < 2.0)
        return;
    // The coherence buffer is read as weights while the magnitude is drawn: hold its lock too.
    if (magnitude.visible()) {
        const TraceLock magnitudeLock(magnitude);
        const TraceLock coherenceLock(coherence);
        const KOFloatBuffer* weights = coherence.Buffer();
        if (magnitudeLock.held() && coherenceLock.held() && magnitude.Buffer() != nullptr &&
            weights != nullptr && magnitude.LogViewMath().numLayerPoints() > 0) {
            const std::uint32_t mode = magnitude.drawMode();
            if (mode == KOFFTDrawingData::kOctaveBars || mode == KOFFTDrawingData::kPeakBars)
                drawMagnitudeBars(magnitude, *weights);
            else
                drawMagnitude(magnitude, *weights);
        }
    }
    if (phase.visible()) {
        const TraceLock lock(phase);
        if (lock.held() && phase.Buffer() != nullptr)
            drawPhase(phase);
    }
    if (coherence.visible()) {
        const TraceLock lock(coherence);
        if (lock.held() && coherence.Buffer() != nullptr)
            drawCoherence(coherence);
    }
}

void KOTransferLayer::drawMagnitude(KOFFTDrawingData& data, const KOFloatBuffer& coherence) {
    const KOFloatBuffer& magnitude = *data.Buffer();
    const ZOLogViewMath& axis = data.LogViewMath();
    const std::lock_guard axisLock(axis.mutex());
    const std::vector<KOFFTLayerPoint>& points = axis.layerPoints();
    const std::size_t count = points.size();
    if (count < 2)
        return;
    const double offset = data.offset();
    mValues.resize(count);
    mWeights.resize(count);
    for (std::size_t k = 0; k < count; ++k) {
        const std::uint32_t first = points[k].bin;
        const std::uint32_t bins = k + 1 < count ? std::max(1u, points[k + 1].bin - first) : 1u;
        const Band band = bandValue(magnitude, coherence, first, bins, offset, data.invert());
        mValues[k] = band.value;
        mWeights[k] = band.weight;
    }
    const double w = mWidth;
    const double y0 = mLayer.yForLevel(data.drawMode() == KOFFTDrawingData::kFilled ? 0.0 : 100.0);
    QPainterPath path(QPointF(-1.0, y0));
    path.lineTo(points[0].x * w, mLayer.yForLevel(mValues[0]));
    double previousSlope = 0.0;
    for (std::size_t k = 0; k + 1 < count; ++k) {
        const double slope = (mValues[k + 1] - mValues[k]) / 2.0;
        const double middle = (points[k].x + points[k + 1].x) / 2.0 * w;
        path.cubicTo(middle, mLayer.yForLevel(mValues[k] + previousSlope), middle,
                     mLayer.yForLevel(mValues[k + 1] - slope), points[k + 1].x * w,
                     mLayer.yForLevel(mValues[k + 1]));
        previousSlope = slope;
    }
    path.lineTo(w + 2.0, y0);
    path.closeSubpath();

    const QColor colour = data.Color();
    QLinearGradient gradient(0.0, 0.0, w, 0.0);
    for (std::size_t k = 0; k < count; ++k) {
        QColor stop = colour;
        stop.setAlphaF(float(std::clamp(mWeights[k], 0.0, 1.0) * colour.alphaF()));
        gradient.setColorAt(std::clamp(points[k].x, 0.0, 1.0), stop);
    }
    QColor clear = colour;
    clear.setAlphaF(0.0f);
    gradient.setColorAt(1.0, clear);

    QPainter& painter = *mLayer.context();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    if (data.drawMode() == KOFFTDrawingData::kFilled) {
        painter.fillPath(path, QBrush(gradient));
    } else {
        // Only the curve: the closing edges along y0 lie outside the plot or on its floor line.
        QPainterPath curve;
        curve.moveTo(points[0].x * w, mLayer.yForLevel(mValues[0]));
        previousSlope = 0.0;
        for (std::size_t k = 0; k + 1 < count; ++k) {
            const double slope = (mValues[k + 1] - mValues[k]) / 2.0;
            const double middle = (points[k].x + points[k + 1].x) / 2.0 * w;
            curve.cubicTo(middle, mLayer.yForLevel(mValues[k] + previousSlope), middle,
                          mLayer.yForLevel(mValues[k + 1] - slope), points[k + 1].x * w,
                          mLayer.yForLevel(mValues[k + 1]));
            previousSlope = slope;
        }
        painter.strokePath(curve, QPen(QBrush(gradient), 2.0));
    }
    painter.restore();
}

void KOTransferLayer::drawMagnitudeBars(KOFFTDrawingData& data, const KOFloatBuffer& coherence) {
    const KOFloatBuffer& magnitude = *data.Buffer();
    const ZOLogViewMath& axis = data.LogViewMath();
    const std::lock_guard axisLock(axis.mutex());
    const std::vector<KOFFTLayerOctave>& bands = axis.octaves();
    const double offset = data.offset();
    // Bars stand on the offset line: with an offset the whole curve moves, its floor with it.
    const double base = offset;
    const bool marks = data.drawMode() == KOFFTDrawingData::kPeakBars;
    const QColor colour = data.Color();
    const QFont font = labelFont(9);
    QPainter& painter = *mLayer.context();
    for (const KOFFTLayerOctave& octave : bands) {
        if (octave.binCount == 0)
            continue;
        const Band band = bandValue(magnitude, coherence, octave.firstBin, octave.binCount, offset,
                                    data.invert());
        const double x = octave.xL * mWidth;
        const double width = (octave.xR - octave.xL) * mWidth;
        const double top = mLayer.yForLevel(band.value);
        const QRectF bar = marks ? QRectF(x, top, width, 2.0)
                                 : QRectF(x, std::min(top, mLayer.yForLevel(base)), width,
                                          std::abs(top - mLayer.yForLevel(base)));
        QColor fill = colour;
        fill.setAlphaF(float(std::clamp(band.weight, 0.0, 1.0) * colour.alphaF()));
        painter.fillRect(bar, fill);
        if (data.showDetails() && band.weight > 0.2) {
            const QString text = QString::fromStdString(fmt::format("{:.0f}", band.value));
            const double advance = YUpGeometry::textAdvance(text, font);
            const double y = band.value >= 0.0 ? top + 1.0 : top - 10.0;
            YUpGeometry::fillText(painter, text, font, {x + width / 2.0 - advance / 2.0, y},
                                  QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.9f));
        }
    }
}

void KOTransferLayer::interpolateOnAxis(const KOFloatBuffer& buffer, KOFFTDrawingData& data,
                                        int count, std::vector<double>& out) {
    out.assign(std::size_t(count), 0.0);
    const ZOLogViewMath& axis = data.LogViewMath();
    const KOFloatBuffer* positions = axis.binPositions();
    if (positions == nullptr)
        return;
    const std::uint32_t bins = std::min(buffer.Length() / 2, positions->Length());
    if (bins < 2)
        return;
    const float* x = positions->Data();
    const float* v = buffer.Data();
    std::uint32_t bin = 1;
    for (int i = 0; i < count; ++i) {
        const double p = double(i) / double(count);
        while (bin + 1 < bins && x[bin + 1] <= p)
            ++bin;
        const double x0 = x[bin];
        const double x1 = bin + 1 < bins ? x[bin + 1] : x0;
        const double v0 = v[bin];
        const double v1 = bin + 1 < bins ? v[bin + 1] : v0;
        const double t = x1 > x0 ? std::clamp((p - x0) / (x1 - x0), 0.0, 1.0) : 0.0;
        const double value = v0 + (v1 - v0) * t;
        out[std::size_t(i)] = std::isfinite(value) ? value : 0.0;
    }
}

void KOTransferLayer::drawPhase(KOFFTDrawingData& data) {
    const KOFloatBuffer& phase = *data.Buffer();
    const std::lock_guard axisLock(data.LogViewMath().mutex());
    interpolateOnAxis(phase, data, kPhasePositions, mValues);
    const int group = kPhasePositions / kPhasePoints;
    const double offset = data.offset();
    QPainterPath path(QPointF(0.0, yForPhase(offset)));
    for (int k = 0; k < kPhasePoints - 1; ++k) {
        double sum = 0.0;
        for (int i = 0; i < group; ++i)
            sum += mValues[std::size_t(k * group + i)];
        double y = sum / group;
        if (k == 0 || k == kPhasePoints - 2)
            y = offset;
        path.lineTo(double(k + 1) / kPhasePoints * mWidth, yForPhase(y));
    }
    QPainter& painter = *mLayer.context();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    if (data.drawMode() == KOFFTDrawingData::kFilled)
        painter.fillPath(path, data.Color());
    else
        painter.strokePath(path, QPen(data.Color(), 1.0));
    painter.restore();
}

void KOTransferLayer::drawCoherenceBackground() {
    if (mCoherenceBackground)
        return;
    mCoherenceBackground = true;
    QPainter& painter = *mLayer.context();
    const double bottom = yForCoherence(0.0);
    const double top = yForCoherence(1.0);
    painter.fillRect(QRectF(0.0, bottom, mWidth, top - bottom), QColor::fromRgbF(0, 0, 0, 0.5f));
    const QPen line(QColor::fromRgbF(1, 1, 1, 0.9f), 1.0);
    painter.setPen(line);
    painter.drawLine(QPointF(0.0, bottom), QPointF(mWidth, bottom));
    painter.drawLine(QPointF(0.0, top), QPointF(mWidth, top));
    painter.save();
    painter.translate(mWidth - 2.0, bottom + 10.0);
    painter.rotate(90.0);
    YUpGeometry::fillText(painter, QStringLiteral("Coherence"), labelFont(10), QPointF(0.0, 0.0),
                          QColor::fromRgbF(1, 1, 1, 0.9f),
                          QPen(QColor::fromRgbF(1, 1, 1, 0.7f), 0.0));
    painter.restore();
}

void KOTransferLayer::drawCoherence(KOFFTDrawingData& data) {
    drawCoherenceBackground();
    const auto count = int(std::floor(mWidth));
    const std::lock_guard axisLock(data.LogViewMath().mutex());
    interpolateOnAxis(*data.Buffer(), data, count, mValues);
    QPainterPath path;
    for (int i = 0; i < count; ++i) {
        const QPointF point(double(i),
                            yForCoherence(std::clamp(mValues[std::size_t(i)], 0.0, 1.0)));
        if (i == 0)
            path.moveTo(point);
        else
            path.lineTo(point);
    }
    QPainter& painter = *mLayer.context();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.strokePath(path, QPen(data.Color(), 1.0));
    painter.restore();
}
