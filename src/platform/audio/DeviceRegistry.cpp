#include "platform/audio/DeviceRegistry.h"

#include "platform/audio/AudioStreamError.h"
#include "platform/audio/RtAudioDevices.h"
#include "platform/audio/RtAudioInputStream.h"
#include "platform/audio/RtAudioOutputStream.h"
#include "platform/desktop/MainThread.h"
#include "platform/log/Log.h"

#include <QCoreApplication>
#include <QFile>
#include <QThread>
#include <QTimer>

#include <fmt/format.h>

#include <algorithm>
#include <map>

namespace koru::platform {

namespace {

bool sameListing(const AudioDeviceInfo& a, const AudioDeviceInfo& b) {
    return a.id == b.id && a.uid == b.uid && a.name == b.name &&
           a.inputChannels == b.inputChannels && a.outputChannels == b.outputChannels &&
           a.sampleRates == b.sampleRates && a.isDefaultInput == b.isDefaultInput &&
           a.isDefaultOutput == b.isDefaultOutput;
}

double chooseNominalRate(const std::vector<double>& rates, double preferred) {
    const auto offers = [&](double r) {
        return std::find(rates.begin(), rates.end(), r) != rates.end();
    };
    if (rates.empty())
        return preferred > 0 ? preferred : 48000.0;
    for (double candidate : {preferred, 48000.0, 44100.0}) {
        if (candidate > 0 && offers(candidate))
            return candidate;
    }
    return rates.front();
}

std::string alsaSignature() {
    QFile pcm(QStringLiteral("/proc/asound/pcm"));
    if (!pcm.open(QIODevice::ReadOnly))
        return {};
    return pcm.readAll().toStdString();
}

VirtualInputConfig builtInVirtualInput() {
    VirtualInputConfig config;
    config.name = QStringLiteral("Virtual Input");
    config.channels = 2;
    config.sampleRate = 48000.0;
    config.periodFrames = 480;
    config.channelSignals = {VirtualSignal::sine(1000.0, 0.5f), VirtualSignal::sine(440.0, 0.25f)};
    return config;
}

VirtualInputConfig builtInManualInput() {
    VirtualInputConfig config;
    config.name = QStringLiteral("Manual Input");
    config.channels = 2;
    config.sampleRate = 48000.0;
    config.periodFrames = 480;
    config.channelSignals = {VirtualSignal::ramp(), VirtualSignal::noise(0.5f, 1)};
    config.manual = true;
    return config;
}

} // namespace

DeviceRegistry& DeviceRegistry::shared() {
    static DeviceRegistry* registry = [] {
        auto* r = new DeviceRegistry(chooseAudioBackend()); // lives as long as the process
        log::info("Audio back-end: {}", audioBackendName(r->backend()).toStdString());
        r->refresh();
        r->startPolling();
        return r;
    }();
    return *registry;
}

DeviceRegistry::DeviceRegistry(AudioBackend backend) : DeviceRegistry(backend, Enumerator{}) {
    if (backend != AudioBackend::Virtual)
        m_enumerator = [this] { return enumerateRtAudio(); };
}

DeviceRegistry::DeviceRegistry(AudioBackend backend, Enumerator enumerator)
    : m_backend(backend), m_enumerator(std::move(enumerator)) {
    addBuiltInDevices();
}

DeviceRegistry::~DeviceRegistry() {
    stopPolling();
}

void DeviceRegistry::addBuiltInDevices() {
    std::lock_guard lock(m_mutex);
    Entry input;
    input.virtualInput = std::make_shared<VirtualInputDevice>(builtInVirtualInput());
    m_virtualInputId = addVirtualEntry(std::move(input));
    Entry manual;
    manual.virtualInput = std::make_shared<VirtualInputDevice>(builtInManualInput());
    m_manualInputId = addVirtualEntry(std::move(manual));
    Entry output;
    output.nullOutput = std::make_shared<NullOutputDevice>();
    m_nullOutputId = addVirtualEntry(std::move(output));
}

QString DeviceRegistry::uniqueVirtualUid(const QString& name) const {
    const QString base = QStringLiteral("virtual:") + name;
    QString uid = base;
    for (int n = 2; std::any_of(m_virtual.begin(), m_virtual.end(),
                                [&](const Entry& e) { return e.info.uid == uid; });
         ++n)
        uid = base + QStringLiteral("#") + QString::number(n);
    return uid;
}

std::uint32_t DeviceRegistry::addVirtualEntry(Entry entry) {
    AudioDeviceInfo& info = entry.info;
    info.id = m_nextId++;
    if (entry.virtualInput) {
        const VirtualInputConfig& config = entry.virtualInput->config();
        info.name = config.name;
        info.kind = config.manual ? AudioDeviceInfo::Kind::ManualInput
                                  : AudioDeviceInfo::Kind::VirtualInput;
        info.inputChannels = config.channels;
        info.nominalSampleRate = entry.virtualInput->sampleRate();
    } else {
        info.name = entry.nullOutput->name();
        info.kind = AudioDeviceInfo::Kind::NullOutput;
        info.outputChannels = NullOutputDevice::kChannels;
        info.nominalSampleRate = entry.nullOutput->sampleRate();
    }
    info.uid = uniqueVirtualUid(info.name);
    info.sampleRates = VirtualInputDevice::supportedRates();
    info.backendName = info.name.toStdString();
    m_virtual.push_back(std::move(entry));
    return info.id;
}

std::vector<AudioDeviceInfo> DeviceRegistry::devices() const {
    std::lock_guard lock(m_mutex);
    std::vector<AudioDeviceInfo> list;
    list.reserve(m_hardware.size() + m_virtual.size());
    for (const Entry& e : m_hardware)
        list.push_back(e.info);
    for (const Entry& e : m_virtual)
        list.push_back(e.info);
    const std::uint32_t in = defaultInputLocked();
    const std::uint32_t out = defaultOutputLocked();
    for (AudioDeviceInfo& info : list) {
        if (info.isVirtual()) {
            info.isDefaultInput = info.id == in;
            info.isDefaultOutput = info.id == out;
        }
    }
    return list;
}

const DeviceRegistry::Entry* DeviceRegistry::find(std::uint32_t id) const {
    for (const auto* list : {&m_hardware, &m_virtual}) {
        for (const Entry& e : *list) {
            if (e.info.id == id)
                return &e;
        }
    }
    return nullptr;
}

DeviceRegistry::Entry* DeviceRegistry::find(std::uint32_t id) {
    return const_cast<Entry*>(std::as_const(*this).find(id));
}

std::optional<AudioDeviceInfo> DeviceRegistry::device(std::uint32_t id) const {
    std::lock_guard lock(m_mutex);
    const Entry* e = find(id);
    if (!e)
        return std::nullopt;
    return e->info;
}

std::uint32_t DeviceRegistry::deviceForUID(const QString& uid) const {
    std::lock_guard lock(m_mutex);
    for (const auto* list : {&m_hardware, &m_virtual}) {
        for (const Entry& e : *list) {
            if (e.info.uid == uid)
                return e.info.id;
        }
    }
    return 0;
}

std::uint32_t DeviceRegistry::defaultInputDevice() const {
    std::lock_guard lock(m_mutex);
    return defaultInputLocked();
}

std::uint32_t DeviceRegistry::defaultOutputDevice() const {
    std::lock_guard lock(m_mutex);
    return defaultOutputLocked();
}

// The sound system's default, else its first device with inputs, else the virtual input.
std::uint32_t DeviceRegistry::defaultInputLocked() const {
    const Entry* fallback = nullptr;
    for (const Entry& e : m_hardware) {
        if (e.info.isDefaultInput && e.info.hasInputs())
            return e.info.id;
        if (!fallback && e.info.hasInputs())
            fallback = &e;
    }
    return fallback ? fallback->info.id : m_virtualInputId;
}

std::uint32_t DeviceRegistry::defaultOutputLocked() const {
    const Entry* fallback = nullptr;
    for (const Entry& e : m_hardware) {
        if (e.info.isDefaultOutput && e.info.hasOutputs())
            return e.info.id;
        if (!fallback && e.info.hasOutputs())
            fallback = &e;
    }
    return fallback ? fallback->info.id : m_nullOutputId;
}

OSStatus DeviceRegistry::setNominalSampleRate(std::uint32_t id, double rate) {
    {
        std::lock_guard lock(m_mutex);
        Entry* e = find(id);
        if (!e)
            return kAudioHardwareBadDeviceError;
        const auto& rates = e->info.sampleRates;
        if (std::find(rates.begin(), rates.end(), rate) == rates.end())
            return kAudioDeviceUnsupportedFormatError;
        if (e->info.nominalSampleRate == rate)
            return noErr;
        if (e->virtualInput)
            e->virtualInput->setSampleRate(rate);
        if (e->nullOutput)
            e->nullOutput->setSampleRate(rate);
        e->info.nominalSampleRate = rate;
    }
    fireRateChanged(id, rate);
    return noErr;
}

bool DeviceRegistry::refresh() {
    if (!m_enumerator)
        return false;
    const auto probed = m_enumerator();
    if (!probed)
        return false;
    bool changed = false;
    {
        std::lock_guard lock(m_mutex);
        changed = mergeHardware(*probed);
    }
    if (changed)
        fireListChanged();
    return changed;
}

bool DeviceRegistry::mergeHardware(const std::vector<ProbedDevice>& probed) {
    const QString api = audioBackendName(m_backend);
    std::map<std::string, int> seen;
    std::vector<Entry> next;
    for (const ProbedDevice& p : probed) {
        const int ordinal = seen[p.name]++;
        QString uid = api + QStringLiteral(":") + QString::fromStdString(p.name);
        if (ordinal > 0)
            uid += QStringLiteral("#") + QString::number(ordinal + 1);
        const auto old = std::find_if(m_hardware.begin(), m_hardware.end(),
                                      [&](const Entry& e) { return e.info.uid == uid; });
        const bool known = old != m_hardware.end();
        if (!p.probed) {
            // Busy, most likely with our own stream: not a removal.
            if (known)
                next.push_back(*old);
            continue;
        }
        Entry e;
        e.ordinal = ordinal;
        AudioDeviceInfo& info = e.info;
        info.id = known ? old->info.id : 0;
        info.uid = uid;
        info.name = QString::fromStdString(p.name);
        info.backendName = p.name;
        info.inputChannels = std::min(p.inputChannels, kMaxHardwareChannels);
        info.outputChannels = std::min(p.outputChannels, kMaxHardwareChannels);
        for (unsigned r : p.sampleRates)
            info.sampleRates.push_back(double(r));
        std::sort(info.sampleRates.begin(), info.sampleRates.end());
        info.isDefaultInput = p.isDefaultInput;
        info.isDefaultOutput = p.isDefaultOutput;
        const double kept = known ? old->info.nominalSampleRate : 0.0;
        const bool keepRate = known && std::find(info.sampleRates.begin(), info.sampleRates.end(),
                                                 kept) != info.sampleRates.end();
        info.nominalSampleRate =
            keepRate ? kept : chooseNominalRate(info.sampleRates, double(p.preferredSampleRate));
        next.push_back(std::move(e));
    }
    for (Entry& e : next) {
        if (e.info.id == 0)
            e.info.id = m_nextId++;
    }
    const bool changed =
        next.size() != m_hardware.size() ||
        !std::equal(next.begin(), next.end(), m_hardware.begin(),
                    [](const Entry& a, const Entry& b) { return sameListing(a.info, b.info); });
    m_hardware = std::move(next);
    return changed;
}

std::optional<std::vector<DeviceRegistry::ProbedDevice>> DeviceRegistry::enumerateRtAudio() {
    if (m_backend == AudioBackend::Alsa) {
        // Probing ALSA opens every PCM; skip it while the kernel's list is unchanged.
        std::string signature = alsaSignature();
        if (m_lastProbe && signature == m_alsaSignature)
            return m_lastProbe;
        m_alsaSignature = std::move(signature);
    }
    auto list = enumerateRtAudioDevices(m_backend);
    if (!list)
        return std::nullopt;
    m_lastProbe = list;
    return list;
}

void DeviceRegistry::startPolling(int intervalMs) {
    if (!m_enumerator)
        return;
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    if (QThread::currentThread() != app->thread()) {
        postToMainThread(app, [this, intervalMs] { startPolling(intervalMs); });
        return;
    }
    if (!m_timer) {
        m_timer = std::make_unique<QTimer>();
        QObject::connect(m_timer.get(), &QTimer::timeout, [this] { refresh(); });
    }
    m_timer->start(intervalMs);
}

void DeviceRegistry::stopPolling() {
    if (m_timer)
        m_timer->stop();
}

DeviceRegistry::ListenerId DeviceRegistry::addListListener(std::function<void()> listener) {
    std::lock_guard lock(m_listenerMutex);
    m_listeners.push_back({m_nextListenerId, std::move(listener), {}});
    return m_nextListenerId++;
}

DeviceRegistry::ListenerId
DeviceRegistry::addRateListener(std::function<void(std::uint32_t, double)> listener) {
    std::lock_guard lock(m_listenerMutex);
    m_listeners.push_back({m_nextListenerId, {}, std::move(listener)});
    return m_nextListenerId++;
}

void DeviceRegistry::removeListener(ListenerId id) {
    std::lock_guard lock(m_listenerMutex);
    std::erase_if(m_listeners, [id](const Listener& l) { return l.id == id; });
}

std::vector<DeviceRegistry::Listener> DeviceRegistry::listenersCopy() {
    std::lock_guard lock(m_listenerMutex);
    return m_listeners;
}

void DeviceRegistry::fireListChanged() {
    for (const Listener& l : listenersCopy()) {
        if (l.list)
            l.list();
    }
}

void DeviceRegistry::fireRateChanged(std::uint32_t id, double rate) {
    for (const Listener& l : listenersCopy()) {
        if (l.rate)
            l.rate(id, rate);
    }
}

std::uint32_t DeviceRegistry::addVirtualInput(const VirtualInputConfig& config) {
    Entry entry;
    entry.virtualInput = std::make_shared<VirtualInputDevice>(config);
    entry.removable = true;
    std::uint32_t id = 0;
    {
        std::lock_guard lock(m_mutex);
        id = addVirtualEntry(std::move(entry));
    }
    fireListChanged();
    return id;
}

std::uint32_t DeviceRegistry::addNullOutput(const QString& name) {
    Entry entry;
    entry.nullOutput = std::make_shared<NullOutputDevice>(name);
    entry.removable = true;
    std::uint32_t id = 0;
    {
        std::lock_guard lock(m_mutex);
        id = addVirtualEntry(std::move(entry));
    }
    fireListChanged();
    return id;
}

bool DeviceRegistry::removeDevice(std::uint32_t id) {
    {
        std::lock_guard lock(m_mutex);
        const auto it = std::find_if(m_virtual.begin(), m_virtual.end(),
                                     [id](const Entry& e) { return e.info.id == id; });
        if (it == m_virtual.end() || !it->removable)
            return false;
        m_virtual.erase(it); // open streams keep the device object alive
    }
    fireListChanged();
    return true;
}

std::shared_ptr<VirtualInputDevice> DeviceRegistry::virtualInput(std::uint32_t id) const {
    std::lock_guard lock(m_mutex);
    const Entry* e = find(id);
    return e ? e->virtualInput : nullptr;
}

std::shared_ptr<NullOutputDevice> DeviceRegistry::nullOutput(std::uint32_t id) const {
    std::lock_guard lock(m_mutex);
    const Entry* e = find(id);
    return e ? e->nullOutput : nullptr;
}

DeviceRegistry::Entry DeviceRegistry::streamEntry(std::uint32_t id) const {
    std::lock_guard lock(m_mutex);
    const Entry* e = find(id);
    if (!e)
        throw AudioStreamError(kAudioHardwareBadDeviceError,
                               fmt::format("there is no audio device with the ID {}", id));
    return *e;
}

std::unique_ptr<AudioInputStream> DeviceRegistry::openInput(std::uint32_t id,
                                                            AudioInputStream::Sink& sink,
                                                            std::uint32_t requestedFrames) {
    const Entry entry = streamEntry(id);
    if (!entry.info.hasInputs())
        throw AudioStreamError(kAudioHardwareBadDeviceError,
                               fmt::format("\"{}\" has no inputs", entry.info.name.toStdString()));
    if (entry.virtualInput) {
        (void)requestedFrames; // a virtual device grants its own period
        return entry.virtualInput->openStream(sink);
    }
    return std::make_unique<RtAudioInputStream>(
        m_backend, entry.info.backendName, entry.ordinal, entry.info.inputChannels,
        entry.info.nominalSampleRate, requestedFrames, sink);
}

std::unique_ptr<AudioOutputStream> DeviceRegistry::openOutput(std::uint32_t id,
                                                              std::uint32_t channels,
                                                              AudioOutputStream::Source& source,
                                                              std::uint32_t requestedFrames) {
    const Entry entry = streamEntry(id);
    if (!entry.info.hasOutputs())
        throw AudioStreamError(kAudioHardwareBadDeviceError,
                               fmt::format("\"{}\" has no outputs", entry.info.name.toStdString()));
    if (entry.nullOutput)
        return entry.nullOutput->openStream(channels, source);
    return std::make_unique<RtAudioOutputStream>(m_backend, entry.info.backendName, entry.ordinal,
                                                 channels, entry.info.nominalSampleRate,
                                                 requestedFrames, source);
}

} // namespace koru::platform
