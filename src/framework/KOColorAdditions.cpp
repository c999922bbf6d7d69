#include "KOColorAdditions.h"

#include "TraceColourSequence.h"
#include "utility/VEColor.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace {

const QString kRed = QStringLiteral("r");
const QString kGreen = QStringLiteral("g");
const QString kBlue = QStringLiteral("b");
const QString kAlpha = QStringLiteral("a");

TraceColourSequence& sequence() {
    static auto* instance = new TraceColourSequence(TraceColourSequence::clockSeed());
    return *instance;
}

// nullopt for a value that is there but is no finite number.
std::optional<float> componentOf(const QVariantMap& dictionary, const QString& key) {
    const auto found = dictionary.constFind(key);
    if (found == dictionary.constEnd()) {
        return 0.0f;
    }
    bool ok = false;
    const double value = found->toDouble(&ok);
    if (!ok || !std::isfinite(value)) {
        return std::nullopt;
    }
    return float(std::clamp(value, 0.0, 1.0));
}

} // namespace

QColor KOColorAdditions::nextColor() {
    return nextColorWithAlpha(0.8);
}

QColor KOColorAdditions::nextColorWithAlpha(double alpha) {
    return sequence().next(alpha);
}

void KOColorAdditions::seedTraceColours(std::uint32_t seed) {
    sequence().reseed(seed);
}

QVariantMap KOColorAdditions::dictionaryRepresentation(const QColor& color) {
    const QColor rgb = color.toRgb();
    return {{kRed, float(rgb.redF())},
            {kGreen, float(rgb.greenF())},
            {kBlue, float(rgb.blueF())},
            {kAlpha, float(rgb.alphaF())}};
}

QColor KOColorAdditions::colorFromDictionary(const QVariantMap& dictionary) {
    const auto red = componentOf(dictionary, kRed);
    const auto green = componentOf(dictionary, kGreen);
    const auto blue = componentOf(dictionary, kBlue);
    const auto alpha = componentOf(dictionary, kAlpha);
    if (!red || !green || !blue || !alpha) {
        return nextColor();
    }
    // Pure blue is a colour like any other; only a dictionary without any colour in it (or an
    // invisible one) gets a fresh trace colour.
    if (*alpha <= 0.0f || (*red == 0.0f && *green == 0.0f && *blue == 0.0f)) {
        return nextColor();
    }
    return QColor::fromRgbF(*red, *green, *blue, *alpha);
}

QColor KOColorAdditions::darkKORUBackingColor() {
    return QColor::fromRgbF(0.13f, 0.13f, 0.13f, 1.0f);
}

QColor KOColorAdditions::noBlueColor() {
    return VEColor::noBlueColor();
}
