#include "utility/VEScalarAnimator.h"

#include <QPointF>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

int toMilliseconds(double seconds) {
    if (std::isnan(seconds) || seconds <= 0.0)
        return 0;
    const double ms = std::round(seconds * 1000.0);
    return ms >= double(std::numeric_limits<int>::max()) ? std::numeric_limits<int>::max()
                                                         : int(ms);
}

// The usual ease-in-out timing: slow start and end, symmetric about the middle.
QEasingCurve easeInOut() {
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0.42, 0.0), QPointF(0.58, 1.0), QPointF(1.0, 1.0));
    return curve;
}

} // namespace

VEScalarAnimator::VEScalarAnimator(double start, double end, double durationSeconds, Block block,
                                   QObject* parent)
    : QAbstractAnimation(parent), m_start(start), m_end(end),
      m_durationMs(toMilliseconds(durationSeconds)), m_curve(easeInOut()),
      m_block(std::move(block)) {}

void VEScalarAnimator::setCurrentProgress(float progress) {
    m_progress = std::isnan(progress) ? 0.0F : std::clamp(progress, 0.0F, 1.0F);
    const Block step = block();
    if (step)
        step(m_start + double(m_progress) * (m_end - m_start));
}

double VEScalarAnimator::currentValue() const {
    return m_start + m_curve.valueForProgress(double(m_progress)) * (m_end - m_start);
}

VEScalarAnimator::Block VEScalarAnimator::block() const {
    const std::lock_guard lock(m_blockMutex);
    return m_block;
}

void VEScalarAnimator::setBlock(Block block) {
    const std::lock_guard lock(m_blockMutex);
    m_block = std::move(block);
}

void VEScalarAnimator::updateCurrentTime(int currentTime) {
    setCurrentProgress(m_durationMs > 0 ? float(double(currentTime) / double(m_durationMs)) : 1.0F);
}
