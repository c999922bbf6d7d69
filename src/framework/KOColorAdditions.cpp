#include "KOColorAdditions.h"

#include "utility/VEColor.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <mutex>
#include <optional>
#include <random>

namespace {

const QString kRed = QStringLiteral("r");
const QString kGreen = QStringLiteral("g");
const QString kBlue = QStringLiteral("b");
const QString kAlpha = QStringLiteral("a");

// The sequence feeds each component back into the next one; its own generator keeps the rest
// of the process's random numbers out of it.
class TraceColourSequence {
public:
    QColor next(double alpha) {
        std::lock_guard lock(mMutex);
        if (!std::isnormal(mPhase)) {
            std::mt19937 generator(std::uint32_t(
                std::chrono::system_clock::now().time_since_epoch() / std::chrono::seconds(1)));
            mPhase = std::uniform_real_distribution<double>(0.0, 1.0)(generator);
        }
        mPhase += double(0.4f);
        mRed = std::max(double(std::fabs(std::sin(float(mRed * mPhase)))), 0.4);
        mGreen = std::max(double(std::fabs(std::sin(float(3.0 * mPhase * mGreen)))), 0.2);
        mBlue = std::max(double(std::fabs(std::sin(float(7.0 * mPhase * mBlue)))), 0.5);
        return QColor::fromRgbF(float(mRed), float(mGreen), float(mBlue), float(alpha));
    }

private:
    std::mutex mMutex;
    double mPhase = std::numeric_limits<double>::quiet_NaN();
    double mRed = 0.5;
    double mGreen = 0.5;
    double mBlue = 0.5;
};

TraceColourSequence& sequence() {
    static auto* instance = new TraceColourSequence;
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
