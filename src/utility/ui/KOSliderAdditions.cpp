#include "utility/ui/KOSliderAdditions.h"

#include "utility/ValueBinding.h"

#include <QSlider>

#include <cmath>
#include <limits>

namespace {

constexpr const char* kRemainderProperty = "koru.wheelRemainder";

} // namespace

void KOSliderAdditions::scrollWheel(QSlider& slider, QPointF delta) {
    const double d = delta.x() + delta.y();
    if (!std::isfinite(d))
        return;
    const double range = double(slider.maximum()) - double(slider.minimum());
    const double exact =
        slider.value() + slider.property(kRemainderProperty).toDouble() + d / 100.0 * range;
    const double limited = std::clamp(exact, double(std::numeric_limits<int>::min()),
                                      double(std::numeric_limits<int>::max()));
    slider.setValue(int(std::lround(limited)));
    const bool inside = exact > slider.minimum() && exact < slider.maximum();
    slider.setProperty(kRemainderProperty, inside ? exact - slider.value() : 0.0);
    propagateValue(slider, slider.value(), QStringLiteral("value"));
}

void KOSliderAdditions::propagateValue(const QSlider& slider, const QVariant& value,
                                       const QString& binding) {
    koru::utility::ValueBinding::propagateValue(slider, binding, value,
                                                "KOSliderAdditions::propagateValue");
}
