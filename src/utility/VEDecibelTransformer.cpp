#include "utility/VEDecibelTransformer.h"

#include "utility/NumberScanner.h"

#include <fmt/format.h>

#include <cmath>

namespace {

std::optional<double> numberIn(const QVariant& value) {
    if (value.typeId() == QMetaType::QString)
        return koru::utility::NumberScanner::leadingDouble(value.toString());
    bool ok = false;
    const double number = value.toDouble(&ok);
    return ok ? std::optional<double>(number) : std::nullopt;
}

} // namespace

QVariant VEDecibelTransformer::transformedValue(const QVariant& gain) const {
    const std::optional<double> g =
        gain.typeId() == QMetaType::QString ? std::nullopt : numberIn(gain);
    if (!g || std::isnan(*g))
        return QStringLiteral("--.- dB");
    return QString::fromStdString(fmt::format("{:.1f} dB", 20.0 * std::log10(std::abs(*g))));
}

QVariant VEDecibelTransformer::reverseTransformedValue(const QVariant& decibels) const {
    const double v = numberIn(decibels).value_or(0.0);
    return std::pow(10.0, v / 20.0);
}
