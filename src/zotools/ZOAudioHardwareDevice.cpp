#include "zotools/ZOAudioHardwareDevice.h"

#include "platform/audio/ConfigurationProgram.h"
#include "platform/audio/DeviceRegistry.h"

#include <QPainter>
#include <QPixmap>

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

QString ZOAudioHardwareDevice::configurationApplicationBundle() const {
    const auto info = m_registry->device(m_id);
    if (!info || info->isVirtual())
        return {};
    return koru::platform::configurationProgramName(m_registry->backend());
}

QString ZOAudioHardwareDevice::pathToConfigurationApplication() const {
    if (configurationApplicationBundle().isEmpty())
        return {};
    return koru::platform::configurationProgramPath(m_registry->backend());
}

QIcon ZOAudioHardwareDevice::iconForConfigurationApplication() const {
    if (pathToConfigurationApplication().isEmpty())
        return {};
    const QIcon themed = QIcon::fromTheme(configurationApplicationBundle());
    if (!themed.isNull())
        return themed;
    // Three mixer faders.
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(90, 90, 90), 2));
    const int knobs[] = {10, 20, 14};
    for (int k = 0; k < 3; ++k) {
        const int x = 7 + k * 9;
        painter.drawLine(x, 4, x, 28);
        painter.fillRect(x - 3, knobs[k], 7, 5, QColor(40, 110, 200));
    }
    painter.end();
    return QIcon(pixmap);
}

void ZOAudioHardwareDevice::launchConfigurationApplication() const {
    if (!configurationApplicationBundle().isEmpty())
        koru::platform::launchConfigurationProgram(m_registry->backend());
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
