#pragma once

#include "platform/audio/AudioTypes.h"

#include <QIcon>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

namespace koru::platform {
class DeviceRegistry;
}

// One audio device by its ID. Every query turns a device that is gone into its fallback (an
// empty string, 0, −1.0, false, an empty list); nothing here throws.
// Linux has no per-device clock sources: those answer "none". A hardware device's configuration
// program is its sound server's mixer, where one is installed; virtual devices have none.
class ZOAudioHardwareDevice {
public:
    static ZOAudioHardwareDevice deviceWithObjectID(AudioObjectID id);
    explicit ZOAudioHardwareDevice(AudioObjectID id);
    ZOAudioHardwareDevice(AudioObjectID id, koru::platform::DeviceRegistry& registry);
    ZOAudioHardwareDevice() = delete; // a wrapper always names a device

    AudioObjectID objectID() const { return m_id; }
    QString name() const;         // null when the device is gone
    QString manufacturer() const; // always null: the sound systems do not say
    QString UID() const;          // null when the device is gone

    QString configurationApplicationBundle() const; // the program's name, or null
    QString pathToConfigurationApplication() const; // null when it is not installed
    // The program's icon from the icon theme, or a drawn one when the theme has none; null when
    // there is no program.
    QIcon iconForConfigurationApplication() const;
    void launchConfigurationApplication() const;

    // The same card's other side: the sound systems list a card's inputs and outputs as one
    // device, so a device with outputs is its own related device.
    std::vector<ZOAudioHardwareDevice> relatedDevices() const;
    std::vector<float> availableSampleRates() const;
    double nominalSampleRate() const; // −1.0 when there is no such device
    void setNominalSampleRate(double rate) const;

    std::optional<std::vector<std::uint32_t>> availableClockSources() const;
    QString nameForClockSourceID(std::uint32_t id) const;
    bool clockSourceControlIsSettable() const { return false; }
    std::uint32_t currentClockSourceID() const { return 0; }
    void setClockSourceByID(std::uint32_t) const {}

    bool hasInputs() const;
    bool hasOutputs() const;
    // "<stream name> 1" … per channel of every stream of the side, "<stream name>" for a
    // one-channel stream; a stream without a name of its own takes the device's.
    QStringList channelNamesOfInput(bool input) const;

    bool operator==(const ZOAudioHardwareDevice& other) const { return m_id == other.m_id; }

private:
    AudioObjectID m_id;
    koru::platform::DeviceRegistry* m_registry;
};
