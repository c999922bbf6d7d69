#pragma once

#include "utility/SampleRateSource.h"

#include "platform/notifications/NotificationCenter.h"

#include <QString>
#include <QVariant>

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>

namespace koru::platform {
class UserDefaults;
}

// Shows and reads delays, which are held in samples everywhere, in the unit the user chose for
// the whole program: meter or feet of sound travel (343 m/s, 1125 ft/s), milliseconds or samples.
// Main thread, except that the cached sample rate may be invalidated from any thread.
class KODistanceFormatter {
public:
    enum Unit : std::uint32_t { Meter = 0, Feet = 1, Msec = 2, Samples = 3 };

    static constexpr const char* kUnitDefaultsKey = "KORU.DistanceUnit_Tag";
    static constexpr const char* kChangeDistanceUnitNotification = "KORUNot.changeDistanceUnit";
    static constexpr const char* kReloadAudioPropNotification = "KORUNOT.reloadAudioProp";
    // Used while no audio device can tell its rate, so no delay reads as infinite.
    static constexpr double kFallbackSampleRate = 48000.0;
    static constexpr double kMaximumParsedSamples = 64000.0;

    static KODistanceFormatter& sharedDistanceFormatter();

    // Reads the unit from `defaults`, posts the unit once on `center` and listens there for
    // audio-property reloads. The shared formatter uses the standard ones.
    KODistanceFormatter(koru::platform::UserDefaults& defaults,
                        koru::platform::NotificationCenter& center);
    KODistanceFormatter(const KODistanceFormatter&) = delete;
    KODistanceFormatter& operator=(const KODistanceFormatter&) = delete;

    static std::array<std::uint32_t, 4> allUnits() { return {Meter, Feet, Msec, Samples}; }
    static QString unitNameForUnit(std::uint32_t unit);
    static QString unitSymbolForUnit(std::uint32_t unit);

    std::uint32_t unit() const { return m_unit; }
    // Values above 3 become 0; stores the unit and posts the change notification.
    void setUnit(std::uint32_t unit);

    // The source stays owned by the caller, who unsets it (nullptr) before it goes away.
    void setSampleRateSource(koru::utility::SampleRateSource* source);
    // The cached rate; asks the source when none is cached. Falls back to 48 kHz while no
    // source gives a usable rate.
    double sampleRate();

    float convertValue(double value, std::uint32_t fromUnit, std::uint32_t toUnit);
    float convertValue(double value, std::uint32_t fromUnit);
    std::int64_t convertGenericToSamples(double value);

    // A text comes back unchanged; a number of samples is shown in the current unit ("34.30 m");
    // anything else gives nullopt.
    std::optional<QString> stringForObjectValue(const QVariant& value);
    // A number shown as it is, in the format and with the symbol of `unit`.
    std::optional<QString> stringForObjectValue(const QVariant& value, std::uint32_t unit);
    // Reads a typed delay into samples ("2 ft", "-10", "500 m"): a trailing unit symbol selects
    // the unit (else the current one); the magnitude is kept, capped at 64000 samples. Always
    // succeeds; a text without a number gives 0.
    bool getObjectValue(QVariant* value, const QString& string,
                        QString* errorDescription = nullptr);

private:
    double rateConstant(std::uint32_t unit);
    static QString format(double value, std::uint32_t unit);

    koru::platform::UserDefaults& m_defaults;
    koru::platform::NotificationCenter& m_center;
    std::uint32_t m_unit = Meter;
    std::atomic<double> m_sampleRate;
    koru::utility::SampleRateSource* m_source = nullptr;
    koru::platform::ObserverToken m_notiToken;
};
