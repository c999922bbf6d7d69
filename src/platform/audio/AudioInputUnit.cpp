#include "platform/audio/AudioInputUnit.h"

#include "platform/audio/AudioStreamError.h"
#include "platform/audio/MonotonicClock.h"
#include "platform/log/Log.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <utility>

namespace koru::platform {

namespace {

std::uint64_t monotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::uint64_t(now.tv_sec) * 1'000'000'000u + std::uint64_t(now.tv_nsec);
}

bool onMainThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

} // namespace

AudioInputUnit::AudioInputUnit(DeviceRegistry& registry)
    : m_registry(registry), m_context(std::make_unique<QObject>()) {
    m_device = registry.defaultInputDevice();
    resetChannelMap();
    m_sampleRate.store(deviceRate());
    m_knownDeviceChannels = deviceChannels();
    m_listListener = registry.addListListener([this] { onDeviceListChanged(); });
    m_rateListener = registry.addRateListener(
        [this](std::uint32_t id, double rate) { onRateChanged(id, rate); });
}

AudioInputUnit::~AudioInputUnit() {
    m_registry.removeListener(m_listListener);
    m_registry.removeListener(m_rateListener);
    closeStream();
}

// ---- device facts ----------------------------------------------------------------------------

std::uint32_t AudioInputUnit::deviceChannels() const {
    const auto info = m_registry.device(m_device);
    return info ? std::min(info->inputChannels, kMaxClientChannels) : 0;
}

double AudioInputUnit::deviceRate() const {
    const auto info = m_registry.device(m_device);
    return info ? info->nominalSampleRate : 0.0;
}

AudioStreamBasicDescription AudioInputUnit::deviceFormat() const {
    const std::uint32_t channels = deviceChannels();
    return float32Format(m_sampleRate.load(), channels,
                         channels == 1 ? kAudioFormatFlagsFloatPacked
                                       : kAudioFormatFlagsFloatNonInterleaved);
}

std::uint32_t AudioInputUnit::devicePeriodFrames() const {
    return m_stream ? m_stream->periodFrames() : 0;
}

// ---- properties ------------------------------------------------------------------------------

OSStatus AudioInputUnit::getPropertyInfo(AudioUnitPropertyID id, AudioUnitScope scope,
                                         AudioUnitElement element, std::uint32_t* size,
                                         bool* writable) {
    std::uint32_t bytes = 0;
    bool canWrite = true;
    switch (id) {
    case kAudioOutputUnitProperty_CurrentDevice:
    case kAudioOutputUnitProperty_EnableIO:
    case kAudioDevicePropertyBufferFrameSize:
        bytes = 4;
        break;
    case kAudioDevicePropertyNominalSampleRate:
        bytes = 8;
        break;
    case kAudioOutputUnitProperty_SetInputCallback:
        bytes = sizeof(AURenderCallbackStruct);
        break;
    case kAudioUnitProperty_StreamFormat:
        bytes = sizeof(AudioStreamBasicDescription);
        canWrite = !(scope == kAudioUnitScope_Input && element == 1);
        break;
    case kAudioOutputUnitProperty_ChannelMap:
        bytes = channelMapLength() * 4;
        break;
    default:
        return kAudioUnitErr_InvalidProperty;
    }
    if (size)
        *size = bytes;
    if (writable)
        *writable = canWrite;
    return noErr;
}

OSStatus AudioInputUnit::getProperty(AudioUnitPropertyID id, AudioUnitScope scope,
                                     AudioUnitElement element, void* data, std::uint32_t* size) {
    switch (id) {
    case kAudioOutputUnitProperty_CurrentDevice:
        return answer(m_device, data, size);
    case kAudioOutputUnitProperty_EnableIO:
        return answer(std::uint32_t(scope == kAudioUnitScope_Input ? m_enableInput : 0), data,
                      size);
    case kAudioDevicePropertyBufferFrameSize:
        return answer(m_blockFrames, data, size);
    case kAudioDevicePropertyNominalSampleRate: {
        // Read from the audio thread too (the clients' host rate): no registry access here.
        const double rate = m_sampleRate.load();
        if (rate <= 0)
            return kAudioHardwareBadDeviceError;
        return answer(rate, data, size);
    }
    case kAudioOutputUnitProperty_SetInputCallback:
        return answer(m_inputCallback, data, size);
    case kAudioUnitProperty_StreamFormat:
        return getStreamFormat(scope, element, data, size);
    case kAudioOutputUnitProperty_ChannelMap:
        return getChannelMap(data, size);
    default:
        return kAudioUnitErr_InvalidProperty;
    }
}

OSStatus AudioInputUnit::setProperty(AudioUnitPropertyID id, AudioUnitScope scope,
                                     AudioUnitElement element, const void* data,
                                     std::uint32_t size) {
    switch (id) {
    case kAudioOutputUnitProperty_CurrentDevice: {
        std::uint32_t device = 0;
        if (!read(data, size, device))
            return kAudioUnitErr_InvalidPropertyValue;
        return setCurrentDevice(device);
    }
    case kAudioOutputUnitProperty_EnableIO: {
        std::uint32_t enable = 0;
        if (!read(data, size, enable))
            return kAudioUnitErr_InvalidPropertyValue;
        if (m_initialized)
            return kAudioUnitErr_CannotDoInCurrentContext;
        if (scope == kAudioUnitScope_Input && element == 1) {
            m_enableInput = enable != 0;
            return noErr;
        }
        // This unit only captures; playback is the default output unit's job.
        return enable == 0 ? noErr : kAudioUnitErr_InvalidPropertyValue;
    }
    case kAudioDevicePropertyBufferFrameSize: {
        std::uint32_t frames = 0;
        if (!read(data, size, frames) || frames < kMinBlockFrames || frames > kMaxBlockFrames)
            return kAudioUnitErr_InvalidPropertyValue;
        if (m_running)
            return kAudioUnitErr_CannotDoInCurrentContext;
        m_blockFrames = frames;
        return noErr;
    }
    case kAudioDevicePropertyNominalSampleRate: {
        double rate = 0;
        if (!read(data, size, rate))
            return kAudioUnitErr_InvalidPropertyValue;
        return m_registry.setNominalSampleRate(m_device, rate);
    }
    case kAudioOutputUnitProperty_SetInputCallback: {
        AURenderCallbackStruct callback;
        if (!read(data, size, callback))
            return kAudioUnitErr_InvalidPropertyValue;
        if (m_running)
            return kAudioUnitErr_CannotDoInCurrentContext;
        m_inputCallback = callback;
        return noErr;
    }
    case kAudioUnitProperty_StreamFormat:
        return setStreamFormat(scope, element, data, size);
    case kAudioOutputUnitProperty_ChannelMap:
        return setChannelMap(data, size);
    default:
        return kAudioUnitErr_InvalidProperty;
    }
}

OSStatus AudioInputUnit::getStreamFormat(AudioUnitScope scope, AudioUnitElement element, void* data,
                                         std::uint32_t* size) const {
    if (element != 1)
        return kAudioUnitErr_InvalidElement;
    if (scope == kAudioUnitScope_Input)
        return answer(deviceFormat(), data, size);
    if (scope != kAudioUnitScope_Output)
        return kAudioUnitErr_InvalidScope;
    if (!m_hasClientFormat)
        return answer(deviceFormat(), data, size);
    AudioStreamBasicDescription client = m_clientFormat;
    client.mSampleRate = m_sampleRate.load();
    return answer(client, data, size);
}

OSStatus AudioInputUnit::setStreamFormat(AudioUnitScope scope, AudioUnitElement element,
                                         const void* data, std::uint32_t size) {
    if (element != 1)
        return kAudioUnitErr_InvalidElement;
    if (scope == kAudioUnitScope_Input)
        return kAudioUnitErr_PropertyNotWritable; // the device's own format
    if (scope != kAudioUnitScope_Output)
        return kAudioUnitErr_InvalidScope;
    AudioStreamBasicDescription format;
    if (!read(data, size, format))
        return kAudioUnitErr_InvalidPropertyValue;
    if (m_running)
        return kAudioUnitErr_CannotDoInCurrentContext;
    const bool isFloat32 = format.mFormatID == kAudioFormatLinearPCM &&
                           (format.mFormatFlags & kAudioFormatFlagIsFloat) &&
                           format.mBitsPerChannel == 32 && format.mBytesPerFrame == 4 &&
                           format.mFramesPerPacket == 1;
    const bool separate =
        format.mChannelsPerFrame == 1 || (format.mFormatFlags & kAudioFormatFlagIsNonInterleaved);
    if (!isFloat32 || !separate || format.mChannelsPerFrame == 0 ||
        format.mChannelsPerFrame > kMaxClientChannels)
        return kAudioUnitErr_FormatNotSupported;
    // An input has no rate converter: the client runs at the device's rate.
    if (format.mSampleRate != 0 && format.mSampleRate != m_sampleRate.load()) {
        log::warn("Refused a client format at {} Hz: the input device runs at {} Hz",
                  format.mSampleRate, m_sampleRate.load());
        return kAudioUnitErr_FormatNotSupported;
    }
    m_clientFormat = format;
    m_hasClientFormat = true;
    m_clientChannels = format.mChannelsPerFrame;
    return noErr;
}

OSStatus AudioInputUnit::setCurrentDevice(std::uint32_t id) {
    if (id == 0)
        id = m_registry.defaultInputDevice();
    const auto info = m_registry.device(id);
    if (!info || !info->hasInputs()) {
        log::warn("Audio input: there is no input device with the ID {}", id);
        return kAudioHardwareBadDeviceError;
    }
    // A device that refuses to start is still the current one until the queued move: the
    // change is announced either way.
    switchDevice(id);
    notifyPropertyChanged(kAudioOutputUnitProperty_CurrentDevice, kAudioUnitScope_Global, 0);
    return noErr;
}

// ---- channel map -----------------------------------------------------------------------------

std::uint32_t AudioInputUnit::channelMapLength() const {
    return m_hasClientFormat ? m_clientChannels : deviceChannels();
}

void AudioInputUnit::resetChannelMap() {
    for (std::uint32_t i = 0; i < kMaxClientChannels; ++i)
        m_channelMap[i].store(std::int32_t(i), std::memory_order_relaxed);
}

OSStatus AudioInputUnit::getChannelMap(void* data, std::uint32_t* size) const {
    const std::uint32_t length = channelMapLength();
    const std::uint32_t hardware = deviceChannels();
    if (!size)
        return kAudioUnitErr_InvalidPropertyValue;
    if (!data) {
        *size = length * 4;
        return noErr;
    }
    const std::uint32_t count = std::min(length, *size / 4);
    auto* out = static_cast<std::int32_t*>(data);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::int32_t source = m_channelMap[i].load(std::memory_order_relaxed);
        out[i] = source >= 0 && std::uint32_t(source) < hardware ? source : -1;
    }
    *size = count * 4;
    return noErr;
}

OSStatus AudioInputUnit::setChannelMap(const void* data, std::uint32_t size) {
    if (!data || size % 4 != 0)
        return kAudioUnitErr_InvalidPropertyValue;
    const std::uint32_t count = size / 4;
    const std::uint32_t hardware = deviceChannels();
    const std::uint32_t limit = std::max(hardware, channelMapLength());
    if (count > limit) {
        log::warn("Refused a channel map of {} entries: the input has {} channels", count, limit);
        return kAudioUnitErr_InvalidPropertyValue;
    }
    const auto* map = static_cast<const std::int32_t*>(data);
    for (std::uint32_t i = 0; i < count; ++i) {
        if (map[i] < -1 || (map[i] >= 0 && std::uint32_t(map[i]) >= hardware)) {
            log::warn("Refused a channel map naming input {} of a {}-channel device", map[i],
                      hardware);
            return kAudioUnitErr_InvalidPropertyValue;
        }
    }
    for (std::uint32_t i = 0; i < kMaxClientChannels; ++i)
        m_channelMap[i].store(i < count ? map[i] : -1, std::memory_order_relaxed);
    return noErr;
}

// ---- life cycle ------------------------------------------------------------------------------

OSStatus AudioInputUnit::initialize() {
    const auto info = m_registry.device(m_device);
    if (!info || !info->hasInputs())
        return kAudioHardwareBadDeviceError;
    m_sampleRate.store(info->nominalSampleRate);
    m_knownDeviceChannels = std::min(info->inputChannels, kMaxClientChannels);
    if (!m_hasClientFormat) {
        m_clientChannels = m_knownDeviceChannels;
    }
    m_initialized = true;
    return noErr;
}

OSStatus AudioInputUnit::uninitialize() {
    stop();
    m_initialized = false;
    return noErr;
}

OSStatus AudioInputUnit::start() {
    if (!m_initialized)
        return kAudioUnitErr_Uninitialized;
    m_wantRunning = true;
    startWatchdog();
    if (m_running)
        return noErr;
    if (!m_enableInput) {
        m_running = true;
        return noErr;
    }
    const OSStatus status = openAndStartStream();
    if (status != noErr) {
        deviceRefused(m_startError);
        return status;
    }
    m_running = true;
    m_reportedDevice = 0;
    return noErr;
}

OSStatus AudioInputUnit::stop() {
    closeStream();
    m_running = false;
    m_wantRunning = false;
    m_pendingFailure.clear();
    if (m_watchdog)
        m_watchdog->stop();
    return noErr;
}

OSStatus AudioInputUnit::restart() {
    if (!m_wantRunning)
        return noErr;
    stop();
    return start();
}

OSStatus AudioInputUnit::openAndStartStream() {
    closeStream();
    m_startError.clear();
    try {
        m_stream = m_registry.openInput(m_device, *this, m_blockFrames);
        m_streamChannels = std::min(m_stream->channels(), kMaxClientChannels);
        m_blockStorage.assign(std::size_t(m_streamChannels) * m_blockFrames, 0.0f);
        m_block.resize(m_streamChannels);
        for (std::uint32_t c = 0; c < m_streamChannels; ++c)
            m_block[c] = m_blockStorage.data() + std::size_t(c) * m_blockFrames;
        m_fill = 0;
        m_blocksDelivered = 0;
        m_loggedOverflows = 0;
        // JACK runs at the server's rate whatever the device entry says.
        m_sampleRate.store(m_stream->sampleRate());
        m_stream->start();
    } catch (const AudioStreamError& error) {
        m_startError = QString::fromStdString(error.what());
        log::warn("Audio input: could not start device {}: {}", m_device, error.what());
        closeStream();
        return error.status();
    }
    return noErr;
}

void AudioInputUnit::closeStream() {
    if (!m_stream)
        return;
    m_stream->stop();
    m_stream.reset();
}

OSStatus AudioInputUnit::switchDevice(std::uint32_t id) {
    const bool wasInitialized = m_initialized;
    const bool wanted = m_wantRunning;
    stop();
    m_initialized = false;
    m_device = id;
    resetChannelMap();
    m_sampleRate.store(deviceRate());
    m_knownDeviceChannels = deviceChannels();
    if (!wasInitialized)
        return noErr;
    if (const OSStatus status = initialize(); status != noErr) {
        deviceRefused(QStringLiteral("the device cannot be set up"));
        return status;
    }
    return wanted ? start() : noErr;
}

// ---- failure ---------------------------------------------------------------------------------

void AudioInputUnit::startWatchdog() {
    if (!onMainThread())
        return; // off the main thread nobody would run the timer; checkDevice() is public
    if (!m_watchdog) {
        m_watchdog = std::make_unique<QTimer>();
        QObject::connect(m_watchdog.get(), &QTimer::timeout, [this] { checkDevice(); });
    }
    if (!m_watchdog->isActive())
        m_watchdog->start(kWatchdogIntervalMs);
}

void AudioInputUnit::scheduleCheck() {
    if (m_checkQueued || !m_context || !onMainThread())
        return;
    m_checkQueued = true;
    QMetaObject::invokeMethod(
        m_context.get(),
        [this] {
            m_checkQueued = false;
            checkDevice();
        },
        Qt::QueuedConnection);
}

// A start refused by the device: the caller hears the status now; the move to the virtual input
// waits for the main loop, so it never runs inside the caller's own reconfiguration.
void AudioInputUnit::deviceRefused(const QString& reason) {
    m_pendingFailure = reason.isEmpty() ? QStringLiteral("the device did not start") : reason;
    scheduleCheck();
}

void AudioInputUnit::checkDevice() {
    if (!m_pendingFailure.isEmpty()) {
        const QString reason = std::exchange(m_pendingFailure, QString());
        failOver(reason);
        return;
    }
    if (m_stream)
        m_stream->checkProgress(MonotonicClock::system().nowNanoseconds());
    if (m_stream && m_stream->failed()) {
        failOver(QString::fromUtf8(m_stream->failureReason()));
        return;
    }
    if ((m_wantRunning || m_initialized) && !m_registry.device(m_device)) {
        failOver(QStringLiteral("the device is gone"));
        return;
    }
    logOverflows();
}

void AudioInputUnit::logOverflows() {
    const std::uint64_t count = overflows();
    if (count <= m_loggedOverflows)
        return;
    log::warn("Audio input: device {} dropped {} periods (overflow), {} since it started", m_device,
              count - m_loggedOverflows, count);
    m_loggedOverflows = count;
}

std::uint64_t AudioInputUnit::overflows() const {
    return m_stream ? m_stream->overflows() : 0;
}

void AudioInputUnit::failOver(const QString& reason) {
    if (m_reportedDevice == m_device)
        return;
    const std::uint32_t failed = m_device;
    m_reportedDevice = failed;
    const auto info = m_registry.device(failed);
    const QString name = info ? info->name : QStringLiteral("unplugged device");
    m_failureReason = QStringLiteral("\"%1\": %2").arg(name, reason);
    log::warn("Audio input device {} ({}) failed: {}", failed, name.toStdString(),
              reason.toStdString());
    if (m_failureHandler)
        m_failureHandler(failed, reason);
    const std::uint32_t fallback = m_registry.virtualInputDevice();
    if (failed == fallback) {
        stop(); // nothing left to fall back to: the unit says it is not running
        return;
    }
    // Keep the engine's rate when the virtual input offers it, so nothing else has to change.
    m_registry.setNominalSampleRate(fallback, m_sampleRate.load());
    switchDevice(fallback); // a refusal here queues the next report
    notifyPropertyChanged(kAudioOutputUnitProperty_CurrentDevice, kAudioUnitScope_Global, 0);
}

void AudioInputUnit::onDeviceListChanged() {
    const auto info = m_registry.device(m_device);
    if (!info) {
        if (m_wantRunning || m_initialized)
            failOver(QStringLiteral("the device is gone"));
        else
            m_device = m_registry.defaultInputDevice();
        return;
    }
    const std::uint32_t channels = std::min(info->inputChannels, kMaxClientChannels);
    if (channels == m_knownDeviceChannels)
        return;
    m_knownDeviceChannels = channels;
    restart();
    notifyPropertyChanged(kAudioDevicePropertyStreamConfiguration, kAudioUnitScope_Input, 1);
}

void AudioInputUnit::onRateChanged(std::uint32_t id, double rate) {
    if (id != m_device)
        return;
    m_sampleRate.store(rate);
    if (m_hasClientFormat)
        m_clientFormat.mSampleRate = rate;
    restart();
    notifyPropertyChanged(kAudioDevicePropertyNominalSampleRate, kAudioUnitScope_Global, 0);
}

// ---- audio thread ----------------------------------------------------------------------------

void AudioInputUnit::deliver(const float* const* channels, std::uint32_t channelCount,
                             std::uint32_t frames) noexcept {
    const std::uint32_t copied = std::min(channelCount, m_streamChannels);
    std::uint32_t offset = 0;
    while (offset < frames) {
        const std::uint32_t n = std::min(frames - offset, m_blockFrames - m_fill);
        for (std::uint32_t c = 0; c < copied; ++c)
            std::memcpy(m_block[c] + m_fill, channels[c] + offset, n * sizeof(float));
        m_fill += n;
        offset += n;
        if (m_fill == m_blockFrames) {
            fireBlock();
            m_fill = 0;
        }
    }
}

void AudioInputUnit::fireBlock() noexcept {
    AudioTimeStamp time;
    time.mSampleTime = double(m_blocksDelivered) * m_blockFrames;
    time.mHostTime = monotonicNanoseconds();
    time.mFlags = kAudioTimeStampSampleTimeValid | kAudioTimeStampHostTimeValid;
    ++m_blocksDelivered;
    if (!m_inputCallback.inputProc)
        return;
    AudioUnitRenderActionFlags flags = 0;
    m_inputCallback.inputProc(m_inputCallback.inputProcRefCon, &flags, &time, 1, m_blockFrames,
                              nullptr);
}

OSStatus AudioInputUnit::render(AudioUnitRenderActionFlags*, const AudioTimeStamp*, std::uint32_t,
                                std::uint32_t frames, AudioBufferList* data) {
    if (!m_stream)
        return kAudioUnitErr_Uninitialized;
    if (!data || frames != m_blockFrames)
        return kAudioUnitErr_TooManyFramesToProcess;
    const bool failed = m_stream->failed();
    const std::uint32_t bytes = frames * sizeof(float);
    const std::uint32_t destinations = std::min(data->mNumberBuffers, m_clientChannels);
    OSStatus status = failed ? kAudioHardwareNotRunningError : noErr;
    for (std::uint32_t i = 0; i < destinations; ++i) {
        AudioBuffer& buffer = data->mBuffers[i];
        if (!buffer.mData || buffer.mDataByteSize < bytes) {
            status = kAudioUnitErr_TooManyFramesToProcess;
            continue;
        }
        const std::int32_t source = m_channelMap[i].load(std::memory_order_relaxed);
        auto* out = static_cast<float*>(buffer.mData);
        if (failed || source < 0 || std::uint32_t(source) >= m_streamChannels)
            std::fill_n(out, frames, 0.0f);
        else
            std::memcpy(out, m_block[std::size_t(source)], bytes);
        buffer.mDataByteSize = bytes;
    }
    return status;
}

} // namespace koru::platform
