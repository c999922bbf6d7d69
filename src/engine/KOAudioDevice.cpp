#include "engine/KOAudioDevice.h"

#include "engine/KODataCollectorThread.h"
#include "engine/LogAlertPresenter.h"
#include "platform/audio/AudioInputUnit.h"
#include "platform/audio/DeviceRegistry.h"
#include "platform/desktop/MainThread.h"
#include "platform/dispatch/KOBackgroundQueue.h"
#include "platform/exceptions/FrameworkException.h"
#include "platform/log/Log.h"
#include "utility/KODistanceFormatter.h"
#include "utility/ZODictionary.h"
#include "zotools/CAException.h"
#include "zotools/ZOAudioHardwareSystem.h"

#include <QCoreApplication>
#include <QTimer>
#include <QVariantList>

#include <fmt/format.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

using koru::AlertPresenter;
using koru::AudioSettingsDictionary;
using koru::AuxInputKind;
using koru::AuxInputWrapper;
using koru::platform::DeviceRegistry;
using koru::platform::Notification;

namespace {

QString text(const char* latin1) {
    return QString::fromLatin1(latin1);
}

std::string utf8(const QString& string) {
    return string.toStdString();
}

std::size_t slot(AuxInputKind kind) {
    return std::size_t(kind);
}

const char* createdLogText(AuxInputKind kind) {
    switch (kind) {
    case AuxInputKind::FilePlayer:
        return "Created a fileplayer instance";
    case AuxInputKind::NetReceive:
        return "Created a netreceive instance";
    case AuxInputKind::SignalGenerator:
        return "Created a signal generator instance";
    }
    return "";
}

QString auxInputTitle(AuxInputKind kind) {
    switch (kind) {
    case AuxInputKind::FilePlayer:
        return QStringLiteral("File Player");
    case AuxInputKind::NetReceive:
        return QStringLiteral("Net Receive");
    case AuxInputKind::SignalGenerator:
        return QStringLiteral("Signal Generator");
    }
    return {};
}

void logInfoLines(const QString& text, const QString& additional) {
    koru::log::info("{} {}", utf8(text), utf8(additional));
}

void quitApplication() {
    if (QCoreApplication* application = QCoreApplication::instance()) {
        application->quit();
        return;
    }
    std::exit(EXIT_SUCCESS);
}

} // namespace

// ---- life cycle -----------------------------------------------------------------------------

KOAudioDevice& KOAudioDevice::sharedAudioDevice() {
    // Lives as long as the process.
    static KOAudioDevice* shared = [] {
        auto* device = new KOAudioDevice();
        KODistanceFormatter::sharedDistanceFormatter().setSampleRateSource(device);
        return device;
    }();
    return *shared;
}

KOAudioDevice::KOAudioDevice() : KOAudioDevice(Services{}) {}

KOAudioDevice::KOAudioDevice(Services services)
    : mServices(std::move(services)), mErrorWakeUp([this] { errorHandlingOnMainThread(); }) {
    if (mServices.collector == nullptr) {
        mServices.collector = &KODataCollectorThread::sharedCollectorThread();
    }
    if (mServices.center == nullptr) {
        mServices.center = &koru::platform::NotificationCenter::defaultCenter();
    }
    setAlertPresenter(std::move(mServices.alerts));
    setInfoPanel(std::move(mServices.info));
    if (!mServices.quit) {
        mServices.quit = quitApplication;
    }
    mMenus.clear();
    mContext = std::make_unique<QObject>();
    mErrorHoldOff = std::make_unique<QTimer>();
    mErrorHoldOff->setSingleShot(true);
    mErrorHoldOff->setInterval(kErrorHoldOffMs);
    QObject::connect(mErrorHoldOff.get(), &QTimer::timeout, [this] {
        if (mEngine) {
            mEngine->ErrorHandled();
        }
    });
}

KOAudioDevice::~KOAudioDevice() {
    setNotifier(nullptr);
    if (mCollectorHookInstalled) {
        mServices.collector->setDataCollectorFinishedHook({});
    }
    mEngineForCollector.store(nullptr);
    // A queued clip check reads the engine.
    KOBackgroundQueue()->waitUntilIdle();
    if (mInputPatchMatrix) {
        mInputPatchMatrix->setDelegate(nullptr);
    }
    if (mEngine) {
        mEngine->SetOwner(nullptr);
        mEngine->Stop();
    }
    // The engine refers to the auxiliary inputs the wrappers own: it goes first.
    mEngine.reset();
    for (auto& wrapper : mWrappers) {
        wrapper.reset();
    }
}

void KOAudioDevice::setNotifier(koru::AudioDeviceNotifier* notifier) {
    if (koru::AudioDeviceNotifier* old = mNotifier.exchange(notifier)) {
        old->setChannelNameProvider({});
        old->setClipSwitch({}, {});
    }
    if (notifier == nullptr) {
        return;
    }
    notifier->setChannelNameProvider([this](unsigned channel) { return snapshotName(channel); });
    notifier->setClipSwitch([this] { return postGrowlNotificationOnClip(); },
                            [this](bool post) { setPostGrowlNotificationOnClip(post); });
    refreshChannelNameSnapshot();
}

void KOAudioDevice::setAuxInputWrapperFactory(AuxInputKind kind,
                                              koru::AuxInputWrapperFactory factory) {
    mFactories[slot(kind)] = std::move(factory);
}

void KOAudioDevice::setAlertPresenter(std::shared_ptr<AlertPresenter> alerts) {
    mServices.alerts = alerts ? std::move(alerts) : std::make_shared<koru::LogAlertPresenter>();
}

void KOAudioDevice::setInfoPanel(InfoPanel info) {
    mServices.info = info ? std::move(info) : InfoPanel(logInfoLines);
}

// ---- engine and device ----------------------------------------------------------------------

KOAD* KOAudioDevice::getKOAD() {
    if (!mEngine) {
        createAudioDevice(0);
    }
    return mEngine.get();
}

std::uint32_t KOAudioDevice::presentInputDevice(std::uint32_t id) const {
    if (id == 0) {
        return 0;
    }
    DeviceRegistry& registry = DeviceRegistry::shared();
    const auto info = registry.device(id);
    if (info && info->hasInputs()) {
        return id;
    }
    koru::log::warn("Audio device: there is no input device with the ID {} any more; using the "
                    "virtual input",
                    id);
    return registry.virtualInputDevice();
}

std::unique_ptr<KOAD> KOAudioDevice::makeEngine(std::uint32_t id) {
    const std::uint32_t device = presentInputDevice(id);
    try {
        return std::make_unique<KOAD>(device, kBufferSize);
    } catch (const std::exception& failure) {
        const std::uint32_t fallback = DeviceRegistry::shared().virtualInputDevice();
        koru::log::error("Audio device: the engine could not be built on device {} ({})", device,
                         failure.what());
        if (device == fallback) {
            return nullptr;
        }
    }
    try {
        return std::make_unique<KOAD>(DeviceRegistry::shared().virtualInputDevice(), kBufferSize);
    } catch (const std::exception& failure) {
        koru::log::error("Audio device: not even the virtual input could be opened ({})",
                         failure.what());
        return nullptr;
    }
}

void KOAudioDevice::createAudioDevice(std::uint32_t id) {
    if (mEngine) {
        return;
    }
    koru::log::info("creating audio device with ID {}", id);
    mEngine = makeEngine(id);
    if (!mEngine) {
        return;
    }
    mEngine->SetOwner(this);
    mEngineForCollector.store(mEngine.get());
    mCollectorChannels.store(std::min(mEngine->TotalNumberOfChannels(), KOAD::kMaxChannels));
    mDeviceID = mEngine->GetCurrentDevice();
    if (koru::platform::AudioInputUnit* unit = mEngine->HardwareUnit()) {
        unit->setFailureHandler(
            [this](std::uint32_t id, const QString& reason) { deviceFailed(id, reason); });
    }
    mServices.collector->setKOAD(mEngine.get());
    mServices.collector->setDataCollectorFinishedHook([this] { dataCollectorThreadHasFinished(); });
    mCollectorHookInstalled = true;
    showAudioSettingsInInfoPanel();
}

void KOAudioDevice::start() {
    try {
        if (KOAD* engine = getKOAD()) {
            engine->Start();
        }
    } catch (const std::exception& failure) {
        koru::log::warn("Audio device: start failed ({})", failure.what());
    }
    if (!isRunning()) {
        // The input unit reports the device and moves to the virtual input from the main loop.
        koru::log::warn("Audio device: the engine did not start on device {}", mDeviceID);
    }
}

bool KOAudioDevice::isRunning() const {
    if (!mEngine || !mEngine->IsRunning()) {
        return false;
    }
    const koru::platform::AudioInputUnit* unit = mEngine->HardwareUnit();
    return unit == nullptr || unit->isRunning();
}

// The input unit calls this before it moves to the virtual input. The alert waits for the main
// loop: a modal dialogue must not run inside the unit's switch.
void KOAudioDevice::deviceFailed(std::uint32_t id, const QString& reason) {
    DeviceRegistry& registry = DeviceRegistry::shared();
    const auto info = registry.device(id);
    const QString name = info ? info->name : QStringLiteral("The audio device");
    mLastDeviceFailure = QStringLiteral("\"%1\": %2").arg(name, reason);
    const bool lastResort = id == registry.virtualInputDevice();
    koru::log::error("Audio device: \"{}\" failed ({}); {}", utf8(name), utf8(reason),
                     lastResort ? "no audio is captured" : "measuring the virtual input instead");
    postIOError();
    koru::Alert alert;
    alert.messageText = QStringLiteral("Audio Device Failed");
    alert.informativeText =
        QStringLiteral("\"%1\" could not be used: %2.\n%3")
            .arg(name, reason,
                 lastResort ? QStringLiteral("KORU is not capturing any audio.")
                            : QStringLiteral("KORU now measures the Virtual Input."));
    queueAlert(alert);
}

void KOAudioDevice::queueAlert(koru::Alert alert) {
    const bool queued = mQueuedAlert.has_value();
    mQueuedAlert = std::move(alert);
    if (queued) {
        return;
    }
    koru::platform::postToMainThread(mContext.get(), [this] { showQueuedAlert(); });
}

void KOAudioDevice::showQueuedAlert() {
    if (!mQueuedAlert) {
        return;
    }
    const koru::Alert alert = std::move(*mQueuedAlert);
    mQueuedAlert.reset();
    mServices.alerts->runModal(alert);
}

void KOAudioDevice::stop() {
    if (!mEngine) {
        return;
    }
    try {
        mEngine->Stop();
    } catch (const std::exception& failure) {
        koru::log::warn("Audio device: stop failed ({})", failure.what());
    }
}

void KOAudioDevice::setAudioObjectID(std::uint32_t id) {
    if (!mEngine) {
        createAudioDevice(id);
        return;
    }
    if (inSafeMode()) {
        showSafeModeAlert();
        return;
    }
    try {
        switchDevice(id);
    } catch (const std::exception&) {
        koru::log::error("Exception when setting Audio Device ID");
        showDeviceChangeErrorAlert();
    }
}

bool KOAudioDevice::chooseAudioObjectID(std::uint32_t id) {
    if (!mEngine) {
        createAudioDevice(id);
        return mEngine != nullptr;
    }
    if (inSafeMode()) {
        showSafeModeAlert();
        return false;
    }
    const auto info = DeviceRegistry::shared().device(id);
    if (!info || !info->hasInputs()) {
        // Switching would fall back to the virtual input: the user asked for something else.
        koru::log::error("Audio device: the chosen input device {} is not there any more", id);
        showDeviceChangeErrorAlert();
        return false;
    }
    setAudioObjectID(id);
    return audioObjectID() == id;
}

void KOAudioDevice::switchDevice(std::uint32_t id) {
    mEngine->SetCurrentDevice(presentInputDevice(id));
    mDeviceID = mEngine->GetCurrentDevice();
    inputPatchMatrix()->make1by1patch();
    showAudioSettingsInInfoPanel();
}

void KOAudioDevice::showDeviceChangeErrorAlert() {
    koru::Alert alert;
    alert.messageText = QStringLiteral("Error when changing Audio Device");
    alert.informativeText =
        QStringLiteral("Ooops... Something went wrong when changing the Audio Device. KORU might "
                       "be in an inconsistent state now - it's a good idea to quit and relaunch.");
    alert.defaultButton = QStringLiteral("Quit");
    alert.alternateButton = QStringLiteral("Continue");
    if (mServices.alerts->runModal(alert) != AlertPresenter::Response::Default) {
        return;
    }
    try {
        mServices.quit();
    } catch (...) {
        if (QCoreApplication* application = QCoreApplication::instance()) {
            application->exit(EXIT_FAILURE);
        }
    }
}

std::uint32_t KOAudioDevice::audioObjectID() {
    if (mDeviceID == 0 && mEngine) {
        mDeviceID = mEngine->GetCurrentDevice();
    }
    return mDeviceID;
}

ZOAudioHardwareDevice KOAudioDevice::hardwareDevice() {
    getKOAD();
    if (!mHardwareDevice) {
        std::uint32_t id = audioObjectID();
        if (id == 0) {
            id = DeviceRegistry::shared().virtualInputDevice();
        }
        mHardwareDevice.emplace(id);
    }
    return *mHardwareDevice;
}

QString KOAudioDevice::name() {
    return hardwareDevice().name();
}

QString KOAudioDevice::UID() {
    return hardwareDevice().UID();
}

std::uint32_t KOAudioDevice::relatedOutputDevice() {
    for (const ZOAudioHardwareDevice& related : hardwareDevice().relatedDevices()) {
        if (related.hasOutputs()) {
            return related.objectID();
        }
    }
    return 0;
}

ZOAudioStreamDescription KOAudioDevice::deviceFormat() {
    KOAD* engine = getKOAD();
    return engine ? ZOAudioStreamDescription(engine->ClientFormat()) : ZOAudioStreamDescription();
}

double KOAudioDevice::nominalSampleRate() {
    const double cached = mSampleRate.load(std::memory_order_relaxed);
    if (cached > kLowestCachedSampleRate) {
        return cached;
    }
    // The wrapper answers -1 instead of throwing when the device cannot tell.
    const double rate = hardwareDevice().nominalSampleRate();
    if (!(rate > 0.0)) {
        koru::log::warn("An exception occured when trying to get the device's sample rate, using "
                        "a value of 44100");
        return kFallbackSampleRate;
    }
    mSampleRate.store(rate, std::memory_order_relaxed);
    return rate;
}

double KOAudioDevice::currentSampleRate() const {
    if (!mEngine) {
        return 0.0;
    }
    const double cached = mSampleRate.load(std::memory_order_relaxed);
    if (cached > kLowestCachedSampleRate) {
        return cached;
    }
    try {
        const double rate = ZOAudioHardwareDevice(mEngine->GetCurrentDevice()).nominalSampleRate();
        return rate > 0.0 ? rate : 0.0;
    } catch (const std::exception&) {
        return 0.0;
    }
}

void KOAudioDevice::setNominalSampleRate(double rate) {
    hardwareDevice().setNominalSampleRate(rate);
}

bool KOAudioDevice::chooseNominalSampleRate(double rate) {
    if (inSafeMode()) {
        showSafeModeAlert();
        return false;
    }
    const std::uint32_t id = hardwareDevice().objectID();
    const OSStatus status = DeviceRegistry::shared().setNominalSampleRate(id, rate);
    if (status != noErr) {
        koru::log::error("Audio device: device {} refused the rate {:.0f} Hz ({})", id, rate,
                         status);
        showDeviceChangeErrorAlert();
        return false;
    }
    return true;
}

double KOAudioDevice::nyquistFrequency() {
    return hardwareDevice().nominalSampleRate() * 0.5;
}

void KOAudioDevice::addInputClient(ZOInputClient* client) {
    KOAD* engine = getKOAD();
    if (engine == nullptr) {
        return;
    }
    try {
        engine->AddClient(client);
    } catch (const CAException&) {
        showSafeModeAlert();
    }
}

bool KOAudioDevice::inSafeMode() const {
    return mEngine && mEngine->InSafeMode();
}

void KOAudioDevice::showSafeModeAlert() {
    koru::Alert alert;
    alert.messageText = QStringLiteral("Can't change Audio Settings");
    alert.informativeText = QStringLiteral("KORU is currently recording and can't change audio "
                                           "settings.\nStop recording and try again.");
    mServices.alerts->runModal(alert);
}

void KOAudioDevice::invalidateCachedValues() {
    mHardwareDevice.reset();
    mSampleRate.store(0.0, std::memory_order_relaxed);
    deleteMenus();
    dropInputPatchMatrix();
}

void KOAudioDevice::showAudioSettingsInInfoPanel() {
    const QString deviceName = name();
    const double rate = nominalSampleRate();
    mServices.info(deviceName, QString::fromStdString(fmt::format("Sample Rate: {:.0f}Hz", rate)));
    koru::log::info("{}", utf8(deviceFormat().name()));
    if (koru::AudioDeviceNotifier* notifier = mNotifier.load()) {
        notifier->postAudioHardwareNotification(
            QString::fromStdString(fmt::format("{} {:.0f}Hz", utf8(deviceName), rate)));
    }
}

// ---- engine events --------------------------------------------------------------------------

void KOAudioDevice::inPropertyListener() {
    if (mEngine) {
        mDeviceID = mEngine->GetCurrentDevice();
        mCollectorChannels.store(std::min(mEngine->TotalNumberOfChannels(), KOAD::kMaxChannels));
    }
    invalidateCachedValues();
    koru::log::info("AudioDevice: posting a properties changed notification");
    postReload(nominalSampleRate());
    showAudioSettingsInInfoPanel();
}

void KOAudioDevice::postReload(const QVariant& object) {
    mServices.center->postOnMainThread(
        Notification{text(kReloadAudioPropNotification), this, object, {}});
}

void KOAudioDevice::errorHandling(std::uint64_t) {
    mErrorWakeUp.wakeUp();
}

void KOAudioDevice::errorHandlingOnMainThread() {
    postIOError();
    // The engine reports again only once re-armed: failures until then belong to this burst.
    if (mServices.errorHoldOff) {
        mServices.errorHoldOff([this] {
            if (mEngine) {
                mEngine->ErrorHandled();
            }
        });
        return;
    }
    mErrorHoldOff->start();
}

void KOAudioDevice::postIOError() {
    std::lock_guard lock(mErrorMutex);
    mServices.center->postOnMainThread(
        Notification{text(kErrorOnIONotification), this, QVariant(), {}});
}

void KOAudioDevice::dataCollectorThreadHasFinished() {
    if (!mPostOnClip.load()) {
        return;
    }
    KOAD* engine = mEngineForCollector.load();
    if (engine == nullptr || mNotifier.load() == nullptr) {
        return;
    }
    // One check waiting on the queue is enough: it reads the newest levels when it runs.
    if (mClipCheckPending.exchange(true)) {
        return;
    }
    const std::uint32_t channels = mCollectorChannels.load();
    KODispatchBackground([this, engine, channels] {
        mClipCheckPending.store(false);
        checkClipping(engine, channels);
    });
}

void KOAudioDevice::checkClipping(KOAD* engine, std::uint32_t channels) {
    koru::AudioDeviceNotifier* notifier = mNotifier.load();
    if (notifier == nullptr) {
        return;
    }
    bool found = false;
    for (std::uint32_t channel = 0; channel < channels; ++channel) {
        if (double(engine->GetLevels(channel).peak) > kClipThresholdDecibels) {
            notifier->addClippingChannelToNextGrowlNotifications(channel);
            found = true;
        }
    }
    if (found) {
        notifier->runGrowlNotificationsForClippingChannels();
    }
}

// ---- auxiliary inputs -----------------------------------------------------------------------

AuxInputWrapper* KOAudioDevice::wrapper(AuxInputKind kind) const {
    return mWrappers[slot(kind)].get();
}

// All or nothing: an input that cannot start leaves no wrapper, no channels and no change for
// the clients, and the alert says why.
bool KOAudioDevice::offersAuxInput(AuxInputKind kind) const {
    return static_cast<bool>(mFactories[slot(kind)].create);
}

bool KOAudioDevice::attach(AuxInputKind kind, std::unique_ptr<AuxInputWrapper> created) {
    KOAD* engine = getKOAD();
    if (engine == nullptr) {
        return false;
    }
    try {
        if (!engine->AddAuxInput(created->auxInput())) {
            koru::log::warn("Audio device: the engine refused the {} (channel limit)",
                            utf8(koru::auxInputTypeName(kind)));
            return false;
        }
    } catch (const KOAuxInputException& failure) {
        auxInputDidNotStart(kind, QString::fromStdString(failure.what()));
        return false;
    } catch (const CAException&) {
        // Safe mode: kept, so its window still shows, and removing it is harmless.
        mWrappers[slot(kind)] = std::move(created);
        throw;
    }
    mWrappers[slot(kind)] = std::move(created);
    return true;
}

void KOAudioDevice::auxInputDidNotStart(AuxInputKind kind, const QString& cause) {
    const QString title = auxInputTitle(kind);
    koru::log::error("Audio device: the {} did not start ({}); nothing was added", utf8(title),
                     utf8(cause));
    koru::Alert alert;
    alert.messageText = QStringLiteral("Could not start the %1").arg(title);
    alert.informativeText =
        QStringLiteral("The %1 was not added to the audio inputs: %2.").arg(title, cause);
    queueAlert(alert);
}

void KOAudioDevice::addAuxInput(AuxInputKind kind) {
    if (AuxInputWrapper* existing = wrapper(kind)) {
        existing->showWindow(this);
        return;
    }
    if (inSafeMode()) {
        showSafeModeAlert();
        return;
    }
    const auto& factory = mFactories[slot(kind)];
    if (!factory.create) {
        koru::log::warn("Audio device: no {} in this program", utf8(koru::auxInputTypeName(kind)));
        return;
    }
    std::unique_ptr<AuxInputWrapper> created;
    try {
        created = factory.create();
    } catch (const std::exception& failure) {
        koru::log::error("Audio device: the {} could not be created ({})",
                         utf8(koru::auxInputTypeName(kind)), failure.what());
        return;
    }
    if (!created) {
        return;
    }
    AuxInputWrapper* shown = created.get();
    try {
        if (!attach(kind, std::move(created))) {
            return;
        }
    } catch (const CAException&) {
        showSafeModeAlert();
    }
    shown->showWindow(this);
}

void KOAudioDevice::removeAuxInput(AuxInputKind kind) {
    if (inSafeMode()) {
        showSafeModeAlert();
        return;
    }
    auto& kept = mWrappers[slot(kind)];
    if (!kept) {
        return;
    }
    try {
        if (mEngine) {
            mEngine->RemoveAuxInput(kept->auxInput());
        }
    } catch (const CAException&) {
        showSafeModeAlert();
        return;
    }
    kept.reset();
}

// ---- summing channels -----------------------------------------------------------------------

void KOAudioDevice::addSummingChannel() {
    if (inSafeMode()) {
        showSafeModeAlert();
        return;
    }
    if (!canAddSummingChannel()) {
        koru::log::warn("Audio device: no more than {} summing channels",
                        kMaxSummingChannelNumbers / 2);
        return;
    }
    auto summing = std::make_unique<KOAuxSummingChannel>();
    summing->setChannelA(0);
    summing->setChannelB(0);
    try {
        if (!mEngine->AddSummingChannel(std::move(summing))) {
            koru::log::warn("Audio device: the engine refused a summing channel (channel limit)");
        }
    } catch (const CAException&) {
        showSafeModeAlert();
    }
}

void KOAudioDevice::removeSummingChannelAtIndex(std::uint32_t index) {
    if (inSafeMode()) {
        showSafeModeAlert();
        return;
    }
    try {
        if (KOAD* engine = getKOAD()) {
            engine->RemoveSummingChannel(index);
        }
    } catch (const CAException&) {
        showSafeModeAlert();
    }
}

bool KOAudioDevice::canAddSummingChannel() {
    return mEngine && !mEngine->InSafeMode() &&
           mEngine->NumberOfSummingChannels() < kMaxSummingChannelNumbers;
}

int KOAudioDevice::numberOfSummingTableRows() {
    return mEngine ? int(mEngine->NumberOfSummingChannels() / 2) : 0;
}

QVariant KOAudioDevice::summingTableValue(const QString& column, int row) {
    const KOAuxSummingChannel* summing =
        mEngine && row >= 0 ? mEngine->SummingChannelAt(std::uint32_t(row)) : nullptr;
    if (summing == nullptr) {
        return QVariant::fromValue(0u);
    }
    if (column == text(kSummingColumnA)) {
        return QVariant::fromValue(summing->channelA());
    }
    if (column == text(kSummingColumnB)) {
        return QVariant::fromValue(summing->channelB());
    }
    return QVariant::fromValue(0u);
}

void KOAudioDevice::setSummingTableValue(const QVariant& value, const QString& column, int row) {
    KOAuxSummingChannel* summing =
        mEngine && row >= 0 ? mEngine->SummingChannelAt(std::uint32_t(row)) : nullptr;
    if (summing == nullptr) {
        return;
    }
    const std::uint32_t source = value.toUInt();
    if (column == text(kSummingColumnA)) {
        summing->setChannelA(source);
    } else if (column == text(kSummingColumnB)) {
        summing->setChannelB(source);
    } else {
        return;
    }
    deleteMenus();
    postReload(QVariant());
}

// ---- channel names and menus ----------------------------------------------------------------

QString KOAudioDevice::nameForChannelAtIndex(std::uint32_t index) {
    try {
        const QString name = inputPatchMatrix()->humanReadableDestinationNameAtIndex(index);
        return QString::fromStdString(fmt::format("({}) {}", index + 1, utf8(name)));
    } catch (const std::exception&) {
        // Past the patch: an auxiliary or summing channel names itself.
        return nativeNameForChannelAtIndex(index);
    }
}

QString KOAudioDevice::nativeNameForChannelAtIndex(std::uint32_t index) {
    KOAD* engine = getKOAD();
    return engine ? engine->ChannelName(index) : QStringLiteral("-");
}

QStringList KOAudioDevice::channelNamesArray() {
    QStringList names;
    const std::uint32_t total = totalNumberChannels();
    for (std::uint32_t channel = 0; channel < total; ++channel) {
        names.append(nameForChannelAtIndex(channel));
    }
    return names;
}

std::uint32_t KOAudioDevice::totalNumberChannels() {
    KOAD* engine = getKOAD();
    return engine ? engine->TotalNumberOfChannels() : 0;
}

std::uint32_t KOAudioDevice::numNativeChannels() {
    KOAD* engine = getKOAD();
    return engine ? engine->HardwareChannels() : 0;
}

bool KOAudioDevice::isValidChannelIndex(std::int32_t index) {
    return index >= 0 && std::uint32_t(index) < totalNumberChannels();
}

std::uint32_t KOAudioDevice::channelAfterIndex(std::uint32_t index) {
    const std::uint32_t total = totalNumberChannels();
    return total == 0 ? 0 : std::uint32_t((std::uint64_t(index) + 1) % total);
}

koru::ChannelMenuCache::Entries KOAudioDevice::menuEntries(std::uint32_t first, std::uint32_t end) {
    koru::ChannelMenuCache::Entries entries;
    for (std::uint32_t channel = first; channel < end; ++channel) {
        entries.push_back({nameForChannelAtIndex(channel), int(channel)});
    }
    return entries;
}

koru::ChannelMenuCache::Entries KOAudioDevice::nativeAndAuxChannelMenuEntries() {
    return mMenus.nativeAndAuxEntries([this] {
        KOAD* engine = getKOAD();
        const std::uint32_t sources = engine ? engine->NumberOfNativeAndAuxChannels() : 0;
        return menuEntries(0, std::min(sources, kMaxMenuChannels));
    });
}

koru::ChannelMenuCache::Entries KOAudioDevice::inputChannelMenuEntries() {
    return mMenus.inputEntries(
        [this] {
            KOAD* engine = getKOAD();
            const std::uint32_t sources = engine ? engine->NumberOfNativeAndAuxChannels() : 0;
            return menuEntries(0, std::min(sources, kMaxMenuChannels));
        },
        [this] {
            KOAD* engine = getKOAD();
            if (engine == nullptr) {
                return koru::ChannelMenuCache::Entries{};
            }
            return menuEntries(engine->NumberOfNativeAndAuxChannels(),
                               engine->TotalNumberOfChannels());
        });
}

void KOAudioDevice::deleteMenus() {
    mMenus.clear();
    scheduleChannelNameSnapshot();
}

void KOAudioDevice::scheduleChannelNameSnapshot() {
    if (mNotifier.load() == nullptr || mSnapshotQueued) {
        return;
    }
    mSnapshotQueued = true;
    // Later, on the main thread: the names depend on the patch, which is being rebuilt now.
    koru::platform::postToMainThread(mContext.get(), [this] {
        mSnapshotQueued = false;
        refreshChannelNameSnapshot();
    });
}

void KOAudioDevice::refreshChannelNameSnapshot() {
    const QStringList names = channelNamesArray();
    std::lock_guard lock(mNamesMutex);
    mChannelNames = names;
}

QString KOAudioDevice::snapshotName(unsigned channel) const {
    std::lock_guard lock(mNamesMutex);
    if (channel < unsigned(mChannelNames.size())) {
        return mChannelNames[qsizetype(channel)];
    }
    return QString::fromStdString(fmt::format("({})", channel + 1));
}

// ---- input patch ----------------------------------------------------------------------------

void KOAudioDevice::dropInputPatchMatrix() {
    if (!mInputPatchMatrix) {
        return;
    }
    // Aliases survive the rebuild (a rate or layout change must not erase the user's names).
    mKeptAliases = mInputPatchMatrix->dictionaryRepresentation()
                       .value(text(KOPatchMatrix::kDestinationAliasDictionaryKey))
                       .toMap();
    mInputPatchMatrix.reset();
}

std::shared_ptr<KOPatchMatrix> KOAudioDevice::inputPatchMatrix() {
    if (mInputPatchMatrix) {
        return mInputPatchMatrix;
    }
    KOAD* engine = getKOAD();
    if (engine == nullptr) {
        throw CAException(kAudioHardwareBadDeviceError);
    }
    std::shared_ptr<KOPatchMatrix> matrix = KOPatchMatrix::initWithPatchMatrixDelegate(this);
    std::optional<CAException> failure;
    try {
        applyEngineMap(*engine, *matrix);
    } catch (const CAException& error) {
        failure = error;
    } catch (const koru::platform::FrameworkException& error) {
        koru::log::warn("Input patch: the engine's channel map was not taken ({})", error.what());
    }
    matrix->setAliasKeyPrefix(name());
    matrix->adoptAliases(mKeptAliases);
    mInputPatchMatrix = matrix;
    mPatchCreated = true;
    if (failure) {
        throw *failure;
    }
    return matrix;
}

void KOAudioDevice::applyEngineMap(KOAD& engine, KOPatchMatrix& matrix) {
    std::uint32_t size = 0;
    bool writable = false;
    engine.GetPropertyInfo(kAudioOutputUnitProperty_ChannelMap, 1, kAudioUnitScope_Input, &size,
                           &writable);
    std::vector<std::int32_t> read(size / sizeof(std::int32_t));
    size = std::uint32_t(read.size() * sizeof(std::int32_t));
    engine.GetProperty(kAudioOutputUnitProperty_ChannelMap, read.data(), &size, 1,
                       kAudioUnitScope_Input);
    const std::uint32_t channels = matrix.numChannels();
    const std::uint32_t length = std::min(std::uint32_t(size / sizeof(std::int32_t)),
                                          numberOfSourceChannelsForMatrix(matrix));
    // Destinations the engine's map does not cover keep their own source.
    std::vector<std::int32_t> map(channels);
    for (std::uint32_t d = 0; d < channels; ++d) {
        map[d] = d < length ? read[d] : std::int32_t(d);
    }
    matrix.setMap(map.data(), channels);
}

void KOAudioDevice::setInputPatchMatrix(const KOPatchMatrix& matrix) {
    KOAD* engine = getKOAD();
    if (engine == nullptr) {
        return;
    }
    std::vector<std::int32_t> map(matrix.numChannels());
    matrix.copyMap(map.data(), nullptr);
    engine->SetChannelMap(map.data(), std::uint32_t(map.size()));
}

QString KOAudioDevice::sourceChannelNameAtIndex(std::uint32_t index, const KOPatchMatrix&) {
    return nativeNameForChannelAtIndex(index);
}

std::uint32_t KOAudioDevice::numberOfSourceChannelsForMatrix(const KOPatchMatrix&) {
    return numNativeChannels();
}

void KOAudioDevice::patchMatrixDidPatchSourceChannel(KOPatchMatrix& matrix, std::int32_t,
                                                     std::uint32_t) {
    patchChanged(matrix);
}

void KOAudioDevice::matrixDidChange(KOPatchMatrix& matrix) {
    patchChanged(matrix);
}

void KOAudioDevice::patchChanged(KOPatchMatrix& matrix) {
    // A matrix dropped by a device change would patch the new device with the old layout.
    if (&matrix == mInputPatchMatrix.get()) {
        try {
            setInputPatchMatrix(matrix);
        } catch (const std::exception& failure) {
            koru::log::warn("Input patch: the engine refused the channel map ({})", failure.what());
        }
    }
    deleteMenus();
}

// ---- settings -------------------------------------------------------------------------------

QVariantMap KOAudioDevice::dictionaryRepresentation() {
    AudioSettingsDictionary settings;
    settings.deviceName = name();
    settings.uid = UID();
    for (const AuxInputKind kind : koru::kAuxInputKinds) {
        if (const AuxInputWrapper* aux = wrapper(kind)) {
            settings.auxInputs.append(aux->dictionaryRepresentation());
        }
    }
    if (KOAD* engine = getKOAD()) {
        for (std::uint32_t i = 0; i < engine->NumberOfSummingChannels() / 2; ++i) {
            if (const KOAuxSummingChannel* summing = engine->SummingChannelAt(i)) {
                settings.summingChannels.push_back({summing->channelA(), summing->channelB()});
            }
        }
    }
    settings.sendGrowlNotificationOnClip = postGrowlNotificationOnClip();
    // Once a patch was made it is saved, even while the cached matrix awaits its rebuild.
    if (mPatchCreated) {
        try {
            settings.inputPatchMatrix = inputPatchMatrix()->dictionaryRepresentation();
        } catch (const std::exception& failure) {
            koru::log::warn("Audio settings: the input patch could not be read ({})",
                            failure.what());
        }
    }
    return settings.write();
}

void KOAudioDevice::loadSettingsFromDictionary(const QVariant& dictionary) {
    if (!dictionary.isValid()) {
        return;
    }
    if (dictionary.typeId() != QMetaType::QVariantMap) {
        koru::log::warn("Audio settings are not a dictionary; nothing restored");
        return;
    }
    koru::log::info("Loading Audio settings from dictionary...");
    const AudioSettingsDictionary settings = AudioSettingsDictionary::read(dictionary.toMap());
    const std::uint32_t id = findRestoredDevice(settings);
    if (id == 0) {
        koru::log::warn("Audio settings: the saved device is not present; nothing restored");
        return;
    }
    koru::log::info("AudioDeviceID is {}", id);
    setAudioObjectID(id);
    if (settings.inputPatchMatrix) {
        restorePatch(*settings.inputPatchMatrix);
    }
    restoreAuxInputs(settings.auxInputs);
    restoreSummingChannels(settings.summingChannels);
    setPostGrowlNotificationOnClip(settings.sendGrowlNotificationOnClip);
    koru::log::info(
        "Here is KORU Audio Engine. I have successfully restored settings from dictionary");
}

std::uint32_t KOAudioDevice::findRestoredDevice(const AudioSettingsDictionary& settings) {
    const ZOAudioHardwareSystem& system = ZOAudioHardwareSystem::sharedAudioHardwareSystem();
    if (settings.uid) {
        koru::log::info("Looking for device with UID: {}", utf8(*settings.uid));
        return settings.uid->isEmpty() ? 0 : system.deviceForUID(*settings.uid);
    }
    const QString wanted = settings.deviceName.value_or(QString());
    koru::log::info("Looking for device named {}", utf8(wanted));
    if (wanted.isEmpty()) {
        return 0;
    }
    for (const ZOAudioHardwareDevice& device : system.devices()) {
        if (device.hasInputs() && device.name() == wanted) {
            return device.objectID();
        }
    }
    return 0;
}

QVariantMap KOAudioDevice::fitPatchToDevice(QVariantMap patch) {
    const std::uint32_t channels = numNativeChannels();
    const QString sizeKey = text(KOPatchMatrix::kMatrixSizeKey);
    if (patch.contains(sizeKey) && ZODictionary::isNumber(patch.value(sizeKey)) &&
        ZODictionary::unsignedIntForKey(patch, sizeKey, 0) == channels) {
        return patch;
    }
    koru::log::warn("Input patch: the saved patch does not match the device's {} inputs; fitted",
                    channels);
    const QString sourcesKey = text(KOPatchMatrix::kSourceChannelArrayKey);
    QVariantList sources = patch.value(sourcesKey).toList();
    sources = sources.mid(0, qsizetype(channels));
    for (auto d = std::uint32_t(sources.size()); d < channels; ++d) {
        sources.append(std::int32_t(d));
    }
    QVariantList names;
    for (std::uint32_t s = 0; s < channels; ++s) {
        names.append(nativeNameForChannelAtIndex(s));
    }
    patch.insert(sizeKey, channels);
    patch.insert(sourcesKey, sources);
    patch.insert(text(KOPatchMatrix::kChannelNamesArrayKey), names);
    return patch;
}

void KOAudioDevice::restorePatch(const QVariantMap& dictionary) {
    try {
        std::shared_ptr<KOPatchMatrix> matrix =
            KOPatchMatrix::initWithDictionary(fitPatchToDevice(dictionary), this);
        mInputPatchMatrix = matrix;
        mPatchCreated = true;
        matrix->setAliasKeyPrefix(name());
        setInputPatchMatrix(*matrix);
        deleteMenus();
    } catch (const std::exception&) {
        koru::log::warn("An exception occurred when loading the patch matrix. ignoring this");
    }
}

void KOAudioDevice::restoreAuxInputs(const QList<QVariantMap>& entries) {
    for (const QVariantMap& entry : entries) {
        const QString type = entry.value(text(AudioSettingsDictionary::kTypeKey)).toString();
        const std::optional<AuxInputKind> kind = koru::auxInputKindForTypeName(type);
        if (!kind) {
            koru::log::info("Audio settings: auxiliary input \"{}\" ignored", utf8(type));
            continue;
        }
        if (wrapper(*kind) != nullptr) {
            continue; // the one already running stays as it is
        }
        const auto& factory = mFactories[slot(*kind)];
        if (!factory.createWithDictionary) {
            koru::log::warn("Audio settings: no {} in this program", utf8(type));
            continue;
        }
        try {
            std::unique_ptr<AuxInputWrapper> created = factory.createWithDictionary(entry);
            if (created && attach(*kind, std::move(created))) {
                koru::log::info("{}", createdLogText(*kind));
            }
        } catch (const std::exception& failure) {
            koru::log::warn("Audio settings: the {} was not restored ({})", utf8(type),
                            failure.what());
        }
    }
}

void KOAudioDevice::restoreSummingChannels(
    const std::vector<AudioSettingsDictionary::SummingPair>& pairs) {
    KOAD* engine = getKOAD();
    if (pairs.empty() || engine == nullptr) {
        return;
    }
    const std::uint32_t sources = engine->NumberOfNativeAndAuxChannels();
    const auto clamped = [sources](std::uint32_t source) {
        if (source < sources || sources == 0) {
            return source;
        }
        koru::log::warn("Audio settings: summing source {} beyond the {} channels; using {}",
                        source, sources, sources - 1);
        return sources - 1;
    };
    std::vector<std::unique_ptr<KOAuxSummingChannel>> restored;
    for (const auto& pair : pairs) {
        auto summing = std::make_unique<KOAuxSummingChannel>();
        summing->setChannelA(clamped(pair.channelA));
        summing->setChannelB(clamped(pair.channelB));
        restored.push_back(std::move(summing));
    }
    try {
        engine->RemoveAllSummingChannels();
        if (!engine->AddSummingChannels(std::move(restored))) {
            koru::log::warn("Audio settings: the engine refused the summing channels");
        }
    } catch (const CAException&) {
        koru::log::warn("Audio settings: summing channels not restored while recording");
    }
}
