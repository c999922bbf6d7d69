#include "utility/KODistanceFormatter.h"

#include "utility/NumberScanner.h"
#include "utility/ZODictionary.h"

#include "platform/defaults/UserDefaults.h"

#include <fmt/format.h>

#include <cmath>
#include <limits>

using koru::platform::NotificationCenter;
using koru::platform::UserDefaults;

namespace {

constexpr double kNotKnown = std::numeric_limits<double>::quiet_NaN();

} // namespace

KODistanceFormatter& KODistanceFormatter::sharedDistanceFormatter() {
    // Lives as long as the process.
    static auto* shared = new KODistanceFormatter(UserDefaults::standardUserDefaults(),
                                                  NotificationCenter::defaultCenter());
    return *shared;
}

KODistanceFormatter::KODistanceFormatter(UserDefaults& defaults, NotificationCenter& center)
    : m_defaults(defaults), m_center(center), m_sampleRate(kNotKnown) {
    m_defaults.registerDefaults({{QString::fromLatin1(kUnitDefaultsKey), 0}});
    const qint64 stored = m_defaults.integerForKey(QString::fromLatin1(kUnitDefaultsKey));
    setUnit(stored >= 0 && stored <= Samples ? std::uint32_t(stored) : Meter);
    const auto id = m_center.addObserver(
        QString::fromLatin1(kReloadAudioPropNotification), nullptr,
        [this](const koru::platform::Notification&) { m_sampleRate.store(kNotKnown); });
    m_notiToken = koru::platform::ObserverToken(m_center, id);
}

QString KODistanceFormatter::unitNameForUnit(std::uint32_t unit) {
    switch (unit) {
    case Meter:
        return QStringLiteral("meter");
    case Feet:
        return QStringLiteral("feet");
    case Msec:
        return QStringLiteral("msec");
    case Samples:
        return QStringLiteral("samples");
    default:
        return {};
    }
}

QString KODistanceFormatter::unitSymbolForUnit(std::uint32_t unit) {
    switch (unit) {
    case Meter:
        return QStringLiteral("m");
    case Feet:
        return QStringLiteral("ft");
    case Msec:
        return QStringLiteral("msec");
    case Samples:
        return QStringLiteral("smp");
    default:
        return {};
    }
}

void KODistanceFormatter::setUnit(std::uint32_t unit) {
    m_unit = unit <= Samples ? unit : Meter;
    m_defaults.setInteger(QString::fromLatin1(kUnitDefaultsKey), m_unit);
    m_center.post(QString::fromLatin1(kChangeDistanceUnitNotification), this,
                  QVariant::fromValue<uint>(m_unit));
}

void KODistanceFormatter::setSampleRateSource(koru::utility::SampleRateSource* source) {
    m_source = source;
    m_sampleRate.store(kNotKnown);
}

double KODistanceFormatter::sampleRate() {
    const double cached = m_sampleRate.load();
    if (std::isnormal(cached) && cached > 0.0)
        return cached;
    if (m_source != nullptr) {
        const double answer = m_source->currentSampleRate();
        m_sampleRate.store(answer);
        if (std::isnormal(answer) && answer > 0.0)
            return answer;
    }
    return kFallbackSampleRate;
}

double KODistanceFormatter::rateConstant(std::uint32_t unit) {
    switch (unit) {
    case Meter:
        return 343.0;
    case Feet:
        return 1125.0;
    case Msec:
        return 1000.0;
    case Samples:
        return sampleRate();
    default:
        return 1.0;
    }
}

float KODistanceFormatter::convertValue(double value, std::uint32_t fromUnit,
                                        std::uint32_t toUnit) {
    if (fromUnit == toUnit)
        return float(value);
    return float(value * rateConstant(toUnit) / rateConstant(fromUnit));
}

float KODistanceFormatter::convertValue(double value, std::uint32_t fromUnit) {
    return convertValue(value, fromUnit, m_unit);
}

std::int64_t KODistanceFormatter::convertGenericToSamples(double value) {
    const double samples = convertValue(value, m_unit, Samples);
    if (!std::isfinite(samples))
        return 0;
    return std::int64_t(std::trunc(samples));
}

QString KODistanceFormatter::format(double value, std::uint32_t unit) {
    const std::string symbol = unitSymbolForUnit(unit).toStdString();
    switch (unit) {
    case Meter:
    case Feet:
        return QString::fromStdString(fmt::format("{:.2f} {}", value, symbol));
    case Msec:
        return QString::fromStdString(fmt::format("{:.1f} {}", value, symbol));
    case Samples:
        return QString::fromStdString(fmt::format("{:.0f} {}", value, symbol));
    default:
        return QString::fromStdString(fmt::format("{:.2f}", value));
    }
}

std::optional<QString> KODistanceFormatter::stringForObjectValue(const QVariant& value) {
    if (value.typeId() == QMetaType::QString)
        return value.toString();
    if (!ZODictionary::isNumber(value))
        return std::nullopt;
    return format(convertValue(value.toDouble(), Samples), m_unit);
}

std::optional<QString> KODistanceFormatter::stringForObjectValue(const QVariant& value,
                                                                 std::uint32_t unit) {
    if (value.typeId() == QMetaType::QString)
        return value.toString();
    if (!ZODictionary::isNumber(value))
        return std::nullopt;
    return format(value.toDouble(), unit);
}

bool KODistanceFormatter::getObjectValue(QVariant* value, const QString& string,
                                         QString* /*errorDescription*/) {
    std::uint32_t unit = m_unit;
    for (const std::uint32_t candidate : allUnits()) {
        if (string.endsWith(unitSymbolForUnit(candidate)))
            unit = candidate;
    }
    const double number = koru::utility::NumberScanner::leadingDouble(string).value_or(0.0);
    const double samples = std::fabs(double(convertValue(number, unit, Samples)));
    if (value != nullptr)
        *value = std::min(samples, kMaximumParsedSamples);
    return true;
}
