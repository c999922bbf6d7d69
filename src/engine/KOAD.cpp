#include "KOAD.h"

#include "engine/Denormals.h"
#include "platform/fourcc/FourCC.h"
#include "platform/log/Log.h"
#include "zotools/CAException.h"
#include "zotools/ZOAudioHardwareDevice.h"

#include <QCoreApplication>
#include <QStringList>
#include <QThread>

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

std::uint32_t samplesIn(const AudioBuffer& buffer) {
    return buffer.mData ? buffer.mDataByteSize / std::uint32_t(sizeof(float)) : 0;
}

// Independent lanes let the compiler vectorise the reductions without reassociating floats.
constexpr std::uint32_t kLanes = 8;

float largestMagnitude(const AudioBuffer& buffer, std::uint32_t frames) {
    const auto* x = static_cast<const float*>(buffer.mData);
    const std::uint32_t n = std::min(frames, samplesIn(buffer));
    float lanes[kLanes] = {};
    std::uint32_t i = 0;
    for (; i + kLanes <= n; i += kLanes) {
        for (std::uint32_t k = 0; k < kLanes; ++k) {
            const float magnitude = std::fabs(x[i + k]);
            lanes[k] = lanes[k] > magnitude ? lanes[k] : magnitude;
        }
    }
    float largest = 0.0f;
    for (; i < n; ++i) {
        largest = std::max(largest, std::fabs(x[i]));
    }
    for (float lane : lanes) {
        largest = std::max(largest, lane);
    }
    return largest;
}

float rootMeanSquare(const float* x, std::uint32_t n) {
    if (n == 0) {
        return 0.0f;
    }
    float lanes[kLanes] = {};
    std::uint32_t i = 0;
    for (; i + kLanes <= n; i += kLanes) {
        for (std::uint32_t k = 0; k < kLanes; ++k) {
            lanes[k] += x[i + k] * x[i + k];
        }
    }
    float sum = 0.0f;
    for (; i < n; ++i) {
        sum += x[i] * x[i];
    }
    for (float lane : lanes) {
        sum += lane;
    }
    return std::sqrt(sum / float(n));
}

const OSStatus kSafeModeStatus = OSStatus(koru::platform::fourCC("sfmd"));

} // namespace

KOAD::MeterConstants KOAD::ComputeMeterConstants(double nominalRate, std::uint32_t bufferFrames) {
    MeterConstants constants;
    const double rate = nominalRate < 8000.0 ? 44100.0 : nominalRate;
    const float frames = float(bufferFrames);
    const float decayProduct = 11.74f * frames; // formed in single precision on purpose
    constants.sampleRate = rate;
    constants.peakDecay = float(1.0 / std::pow(10.0, (double(decayProduct) / rate) / 20.0));
    constants.rmsFactor = float(1.0 / std::pow(10.0, (20.0 * double(frames) / rate) / 20.0));
    constants.capacity =
        std::uint32_t(std::trunc(std::max(0.15 * rate, double(frames)))) + bufferFrames;
    constants.rmsWindow = constants.capacity > kRMSWindowReserve
                              ? constants.capacity - kRMSWindowReserve
                              : constants.capacity;
    return constants;
}

float KOAD::ToDecibels(float linear) {
    static const float kFloorLinear = std::pow(10.0f, kFloorDecibels / 20.0f);
    if (!std::isfinite(linear) || !(linear > kFloorLinear)) {
        return kFloorDecibels;
    }
    return std::max(kFloorDecibels, 20.0f * std::log10(linear));
}

KOAD::KOAD(AudioDeviceID deviceID, std::uint32_t requestedFrames)
    : ZOAudioInput(deviceID, requestedFrames) {
    mDecibels.fill(Levels{kFloorDecibels, kFloorDecibels});
    FreeBufferList(m_bufferList);
    m_bufferList = nullptr;
    Uninitialize();
    KOAD::SetupBuffers(0);
    AddPropertyListener(kAudioDevicePropertyNominalSampleRate);
    AddPropertyListener(kAudioDevicePropertyStreamConfiguration);
    mNotifiedHardwareChannels = m_hardwareChannels;
    const QCoreApplication* application = QCoreApplication::instance();
    if (application != nullptr && QThread::currentThread() == application->thread()) {
        mSkipWakeUp = std::make_unique<koru::MainThreadWakeUp>([this] { ReportSkippedBlocks(); });
    }
}

KOAD::~KOAD() {
    // Our members go before the base stops the unit: no pass may start from here on.
    if (AudioUnit unit = Instance()) {
        unit->stop();
    }
    std::lock_guard lock(m_engineMutex);
    mAuxInputs.clear();
}

void KOAD::SetDataReadyHook(DataReadyHook hook) {
    mDataReadyHook.store(hook ? hook : &KOAD::NoHook);
}

std::uint32_t KOAD::TotalNumberOfChannels() const {
    return m_hardwareChannels + mAuxChannels.load() + mSummingChannels.load();
}

std::uint32_t KOAD::NumberOfNativeAndAuxChannels() const {
    return m_hardwareChannels + mAuxChannels.load();
}

KOAuxSummingChannel* KOAD::SummingChannelAt(std::uint32_t index) const {
    return index < mSummingChannelList.size() ? mSummingChannelList[index].get() : nullptr;
}

KOAD::Levels KOAD::GetLevels(std::uint32_t channel) const {
    std::lock_guard lock(mLevelLock);
    return mDecibels[channel % kMaxChannels];
}

void KOAD::LeaveSafeMode() {
    std::uint32_t count = mSafeMode.load();
    while (count > 0 && !mSafeMode.compare_exchange_weak(count, count - 1)) {
    }
}

void KOAD::ThrowIfSafeMode() const {
    if (InSafeMode()) {
        throw CAException(kSafeModeStatus);
    }
}

bool KOAD::Fits(std::uint32_t moreChannels) const {
    const std::uint32_t total = TotalNumberOfChannels();
    if (total + moreChannels <= kMaxChannels) {
        return true;
    }
    koru::log::warn("Audio engine: refused {} more channels, {} of at most {} are in use",
                    moreChannels, total, kMaxChannels);
    return false;
}

bool KOAD::AddAuxInput(KOAuxInput* aux) {
    ThrowIfSafeMode();
    if (aux == nullptr || std::ranges::find(mAuxInputs, aux) != mAuxInputs.end()) {
        return false;
    }
    const std::uint32_t count = aux->NumberOfChannels();
    if (!Fits(count)) {
        return false;
    }
    StartDetached(*aux);
    std::uint32_t position = 0;
    {
        std::lock_guard lock(m_engineMutex);
        // After the inputs already attached, which is where Render puts them.
        position = m_hardwareChannels + mAuxChannels.load();
        mAuxInputs.push_back(aux);
        mAuxChannels.fetch_add(count);
    }
    try {
        PropertyChanged(0, 0, 0);
    } catch (const CAException&) {
        // The buffers could not grow: the clients were not told yet, so undo and rebuild.
        {
            std::lock_guard lock(m_engineMutex);
            std::erase(mAuxInputs, aux);
            mAuxChannels.fetch_sub(count);
        }
        PropertyChanged(0, 0, 0);
        throw;
    }
    ChannelsChanged(position, std::int32_t(count));
    PropertyChanged(0, 0, 0);
    return true;
}

void KOAD::StartDetached(KOAuxInput& aux) {
    const auto refuse = [](OSStatus status, const std::string& cause) {
        koru::log::error("Audio engine: an auxiliary input did not start ({}); nothing attached",
                         cause);
        throw KOAuxInputException(status, cause);
    };
    try {
        aux.SetEngineSampleRate(mConstants.sampleRate);
        aux.Start();
    } catch (const KOAuxInputException& failure) {
        refuse(failure.Status(), failure.what());
    } catch (const CAException& failure) {
        refuse(failure.GetError(),
               fmt::format("the audio unit answered error {}", failure.GetError()));
    } catch (const std::exception& failure) {
        refuse(kAudioHardwareUnspecifiedError, failure.what());
    }
}

void KOAD::RemoveAuxInput(KOAuxInput* aux) {
    ThrowIfSafeMode();
    {
        std::lock_guard lock(m_engineMutex);
        const auto found = std::ranges::find(mAuxInputs, aux);
        if (found == mAuxInputs.end()) {
            return;
        }
        std::uint32_t position = m_hardwareChannels;
        for (auto it = mAuxInputs.begin(); it != found; ++it) {
            position += (*it)->NumberOfChannels();
        }
        const std::uint32_t count = aux->NumberOfChannels();
        ChannelsChanged(position, -std::int32_t(count));
        mAuxChannels.fetch_sub(count);
        mAuxInputs.erase(found);
    }
    PropertyChanged(0, 0, 0);
}

bool KOAD::AddSummingChannel(std::unique_ptr<KOAuxSummingChannel> channel) {
    std::vector<std::unique_ptr<KOAuxSummingChannel>> list;
    list.push_back(std::move(channel));
    return AddSummingChannels(std::move(list));
}

bool KOAD::AddSummingChannels(std::vector<std::unique_ptr<KOAuxSummingChannel>> channels) {
    ThrowIfSafeMode();
    std::erase(channels, nullptr);
    std::uint32_t count = 0;
    for (const auto& channel : channels) {
        count += channel->NumberOfChannels();
    }
    if (!Fits(count)) {
        return false;
    }
    {
        std::lock_guard lock(m_engineMutex);
        for (auto& channel : channels) {
            mSummingChannelList.push_back(std::move(channel));
        }
        mSummingChannels.fetch_add(count);
    }
    PropertyChanged(0, 0, 0);
    return true;
}

void KOAD::RemoveSummingChannel(std::uint32_t index) {
    ThrowIfSafeMode();
    std::unique_ptr<KOAuxSummingChannel> removed;
    {
        std::lock_guard lock(m_engineMutex);
        if (index >= mSummingChannelList.size()) {
            return;
        }
        removed = std::move(mSummingChannelList[index]);
        mSummingChannelList.erase(mSummingChannelList.begin() + index);
        mSummingChannels.fetch_sub(removed->NumberOfChannels());
    }
    PropertyChanged(0, 0, 0);
}

void KOAD::RemoveAllSummingChannels() {
    ThrowIfSafeMode();
    std::vector<std::unique_ptr<KOAuxSummingChannel>> removed;
    {
        std::lock_guard lock(m_engineMutex);
        removed.swap(mSummingChannelList);
        mSummingChannels.store(0);
    }
    PropertyChanged(0, 0, 0);
}

void KOAD::ChannelsChanged(std::uint32_t position, std::int32_t delta) {
    for (ZOInputClient* client : m_clients) {
        try {
            client->ChannelsChanged(position, std::uint32_t(delta));
        } catch (...) {
            // A client that cannot follow keeps its old selection; the edit goes on.
        }
    }
}

void KOAD::SetChannelMap(const std::int32_t* map, std::uint32_t count) {
    if (count > kMaxChannels) {
        koru::log::warn("Audio engine: channel map of {} entries cut to {}", count, kMaxChannels);
        count = kMaxChannels;
    }
    SetProperty(kAudioOutputUnitProperty_ChannelMap, map,
                count * std::uint32_t(sizeof(std::int32_t)), 1, kAudioUnitScope_Input);
}

std::vector<std::int32_t> KOAD::ChannelMap() const {
    try {
        std::uint32_t size = 0;
        bool writable = false;
        GetPropertyInfo(kAudioOutputUnitProperty_ChannelMap, 1, kAudioUnitScope_Input, &size,
                        &writable);
        std::vector<std::int32_t> map(size / sizeof(std::int32_t));
        size = std::uint32_t(map.size() * sizeof(std::int32_t));
        GetProperty(kAudioOutputUnitProperty_ChannelMap, map.data(), &size, 1,
                    kAudioUnitScope_Input);
        map.resize(size / sizeof(std::int32_t));
        return map;
    } catch (const CAException&) {
        return {};
    }
}

QString KOAD::DeviceChannelName(std::uint32_t index) const {
    QStringList names;
    try {
        names = ZOAudioHardwareDevice(GetCurrentDevice()).channelNamesOfInput(true);
    } catch (const CAException&) {
        return QStringLiteral("-");
    }
    return index < std::uint32_t(names.size()) ? names[int(index)] : QStringLiteral("-");
}

QString KOAD::ChannelName(std::uint32_t index) const {
    const std::uint32_t hardware = m_hardwareChannels;
    if (index < hardware) {
        return DeviceChannelName(index);
    }
    std::uint32_t within = index - hardware;
    for (const KOAuxInput* aux : mAuxInputs) {
        const std::uint32_t count = aux->NumberOfChannels();
        if (within < count) {
            return aux->Name(int(within));
        }
        within -= count;
    }
    const std::uint32_t sources = NumberOfNativeAndAuxChannels();
    const std::vector<std::int32_t> map = ChannelMap();
    // A source names its device channel through the map; an auxiliary source names itself.
    // Anything else (an unpatched entry, an index past the sources) reads "-".
    const auto sourceName = [&](std::uint32_t source) {
        if (source >= hardware) {
            return source < sources ? ChannelName(source) : QStringLiteral("-");
        }
        if (source >= map.size() || map[source] < 0) {
            return QStringLiteral("-");
        }
        return DeviceChannelName(std::uint32_t(map[source]));
    };
    std::uint32_t first = sources;
    for (const auto& summing : mSummingChannelList) {
        if (index >= first && index - first < summing->NumberOfChannels()) {
            return sourceName(summing->channelA()) + summing->Name(int(index - first)) +
                   sourceName(summing->channelB());
        }
        first += summing->NumberOfChannels();
    }
    return QStringLiteral("-");
}

void KOAD::NotifyOwner() {
    KOADOwner* owner = mOwner.load();
    if (owner == nullptr) {
        return;
    }
    QCoreApplication* application = QCoreApplication::instance();
    if (application == nullptr || QThread::currentThread() == application->thread()) {
        owner->inPropertyListener();
        return;
    }
    QMetaObject::invokeMethod(
        application, [owner] { owner->inPropertyListener(); }, Qt::BlockingQueuedConnection);
}

void KOAD::PropertyChanged(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element) {
    try {
        const std::uint32_t hardware = GetStreamFormat(kAudioUnitScope_Input, 1).mChannelsPerFrame;
        const std::uint32_t sources = hardware + mAuxChannels.load();
        for (const auto& summing : mSummingChannelList) {
            summing->setChannelCount(sources);
        }
        const std::uint32_t notified = mNotifiedHardwareChannels;
        // Clients hear of lost channels before the buffers shrink, of new ones after they grew.
        if (hardware < notified) {
            ChannelsChanged(hardware, std::int32_t(hardware) - std::int32_t(notified));
        }
        Reconfigure(id, scope, element);
        if (hardware > notified) {
            ChannelsChanged(notified, std::int32_t(hardware - notified));
        }
        mNotifiedHardwareChannels = hardware;
        TellAuxiliaryInputsTheRate();
    } catch (const CAException& failure) {
        if (id == 0) {
            throw; // a list edit: its caller decides
        }
        koru::log::error("Audio engine: reconfiguration after property {} failed ({})", id,
                         failure.GetError());
    }
    NotifyOwner();
}

// A source that cannot follow (a generator whose output will not restart) fails alone: the
// engine and the other sources go on.
void KOAD::TellAuxiliaryInputsTheRate() {
    for (KOAuxInput* aux : mAuxInputs) {
        try {
            aux->SetEngineSampleRate(mConstants.sampleRate);
        } catch (const std::exception& failure) {
            koru::log::error("Audio engine: auxiliary input \"{}\" stopped at {} Hz ({}); its "
                             "channels stay silent",
                             aux->Name(0).toStdString(), mConstants.sampleRate, failure.what());
        }
    }
}

void KOAD::SetupBuffers(std::uint32_t) {
    mRing.reset();
    double nominal = 0.0;
    try {
        nominal = GetNominalSampleRate();
    } catch (const CAException&) {
        nominal = 0.0; // metered as the fallback rate
    }
    mConstants = ComputeMeterConstants(nominal, m_requestedFrames);

    const std::uint32_t hardware = GetStreamFormat(kAudioUnitScope_Input, 1).mChannelsPerFrame;
    std::uint32_t extra = mAuxChannels.load() + mSummingChannels.load();
    if (hardware + extra > kMaxChannels) {
        const std::uint32_t allowed = hardware >= kMaxChannels ? 0 : kMaxChannels - hardware;
        koru::log::warn("Audio engine: {} hardware and {} added channels exceed {}; keeping {}",
                        hardware, extra, kMaxChannels, allowed);
        extra = allowed;
    }
    mRingChannels = hardware + extra;
    mRing = std::make_unique<koru::SampleTimeRing>(mRingChannels, mConstants.capacity);
    mRingSampleTime = 0;
    mFetchBuffer.assign(mConstants.capacity, 0.0f);

    ZOAudioInput::SetupBuffers(extra);
    // Auxiliary channels are not written until their sources deliver: start them silent.
    for (std::uint32_t c = 0; c < m_bufferList->mNumberBuffers; ++c) {
        std::memset(m_bufferList->mBuffers[c].mData, 0, m_bufferList->mBuffers[c].mDataByteSize);
    }
}

void KOAD::RenderAuxiliary(std::uint32_t frames) {
    std::uint32_t position = m_hardwareChannels;
    for (KOAuxInput* aux : mAuxInputs) {
        aux->Render(m_bufferList, position, frames);
        position += aux->NumberOfChannels();
    }
    for (const auto& summing : mSummingChannelList) {
        summing->Render(m_bufferList, position, frames);
        position += summing->NumberOfChannels();
    }
}

void KOAD::UpdateMeters(std::uint32_t frames) {
    mRing->store(*m_bufferList, frames, mRingSampleTime);
    mRingSampleTime += frames;
    const std::uint32_t window = mConstants.rmsWindow;
    const std::int64_t from = mRingSampleTime - window;
    const std::uint32_t count = std::min(mRingChannels, kMaxChannels);
    for (std::uint32_t k = 0; k < count; ++k) {
        if (!mRing->fetchChannel(k, mFetchBuffer.data(), window, from)) {
            return; // the levels keep their previous values
        }
        Levels& levels = mLinear[k];
        levels.rms = rootMeanSquare(mFetchBuffer.data(), window);
        const float largest = largestMagnitude(m_bufferList->mBuffers[k], frames);
        levels.peak = std::max(levels.peak * mConstants.peakDecay, largest);
    }
}

void KOAD::Process(const AudioTimeStamp* time, std::uint32_t bus, std::uint32_t frames) {
    // The peak decays by a factor per buffer and would otherwise crawl through denormals.
    koru::flushDenormalsOnThisThread();
    if (m_bufferList == nullptr) {
        return;
    }
    RenderAuxiliary(frames);
    if (mRing && m_bufferList->mNumberBuffers == mRingChannels) {
        UpdateMeters(frames);
    }
    ZOAudioInput::Process(time, bus, frames);
}

void KOAD::AfterProcess() {
    const std::uint32_t count =
        std::min(m_bufferList ? m_bufferList->mNumberBuffers : 0u, kMaxChannels);
    {
        // Readers hold the lock for a copy only; a busy lock defers this conversion one buffer.
        std::unique_lock lock(mLevelLock, std::try_to_lock);
        if (lock.owns_lock()) {
            for (std::uint32_t k = 0; k < count; ++k) {
                mDecibels[k].rms = ToDecibels(mLinear[k].rms * mConstants.rmsFactor);
                mDecibels[k].peak = ToDecibels(mLinear[k].peak);
            }
        }
    }
    mDataReadyHook.load(std::memory_order_relaxed)();
}

void KOAD::BlockSkipped() noexcept {
    if (mSkipWakeUp) {
        mSkipWakeUp->wakeUp();
    }
}

std::uint64_t KOAD::ReportSkippedBlocks() {
    const std::uint64_t total = SkippedBlocks();
    const std::uint64_t fresh = total - mReportedSkips;
    if (fresh == 0) {
        return 0;
    }
    mReportedSkips = total;
    koru::log::warn(
        "Audio engine: skipped {} blocks while a list edit held the engine ({} in all); "
        "the instruments did not see them",
        fresh, total);
    return fresh;
}

void KOAD::ErrorHandler(std::uint64_t code) {
    KOADOwner* owner = mOwner.load(std::memory_order_relaxed);
    if (owner == nullptr || mErrorPending.exchange(true)) {
        return;
    }
    owner->errorHandling(code);
}
