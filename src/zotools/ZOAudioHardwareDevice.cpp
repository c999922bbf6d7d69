#include "zotools/ZOAudioHardwareDevice.h"

#include "platform/audio/DeviceRegistry.h"

using koru::platform::DeviceRegistry;

ZOAudioHardwareDevice ZOAudioHardwareDevice::deviceWithObjectID(AudioObjectID id) {
    return ZOAudioHardwareDevice(id);
}

ZOAudioHardwareDevice::ZOAudioHardwareDevice(AudioObjectID id)
    : ZOAudioHardwareDevice(id, DeviceRegistry::shared()) {}

ZOAudioHardwareDevice::ZOAudioHardwareDevice(AudioObjectID id, DeviceRegistry& registry)
    : m_id(id), m_registry(&registry) {}

QString ZOAudioHardwareDevice::name() const {
    const auto info = m_registry->device(m_id);
    return info ? info->name : QString();
}

QString ZOAudioHardwareDevice::manufacturer() const {
    return {};
}

QString ZOAudioHardwareDevice::UID() const {
    const auto info = m_registry->device(m_id);
    return info ? info->uid : QString();
}

std::vector<ZOAudioHardwareDevice> ZOAudioHardwareDevice::relatedDevices() const {
    if (!hasOutputs())
        return {};
    return {*this};
}

std::vector<float> ZOAudioHardwareDevice::availableSampleRates() const {
    const auto info = m_registry->device(m_id);
    if (!info)
        return {};
    return std::vector<float>(info->sampleRates.begin(), info->sampleRates.end());
}

double ZOAudioHardwareDevice::nominalSampleRate() const {
    const auto info = m_registry->device(m_id);
    return info ? info->nominalSampleRate : -1.0;
}

void ZOAudioHardwareDevice::setNominalSampleRate(double rate) const {
    m_registry->setNominalSampleRate(m_id, rate); // a refused rate is ignored
}

std::optional<std::vector<std::uint32_t>> ZOAudioHardwareDevice::availableClockSources() const {
    return std::vector<std::uint32_t>{};
}

QString ZOAudioHardwareDevice::nameForClockSourceID(std::uint32_t) const {
    return QStringLiteral("");
}

bool ZOAudioHardwareDevice::hasInputs() const {
    const auto info = m_registry->device(m_id);
    return info && info->hasInputs();
}

bool ZOAudioHardwareDevice::hasOutputs() const {
    const auto info = m_registry->device(m_id);
    return info && info->hasOutputs();
}

QStringList ZOAudioHardwareDevice::channelNamesOfInput(bool input) const {
    const auto info = m_registry->device(m_id);
    if (!info)
        return {};
    // The sound systems name neither streams nor channels: each side is one unnamed stream.
    const std::uint32_t channels = input ? info->inputChannels : info->outputChannels;
    const QString base = info->name;
    QStringList names;
    if (channels == 1)
        return {base};
    for (std::uint32_t k = 0; k < channels; ++k)
        names << QStringLiteral("%1 %2").arg(base).arg(k + 1);
    return names;
}
