#include "analysers/KODelayFinderRun.h"

#include "analysers/KODelayFinderData.h"
#include "app/KOGrowlNotificationCenter.h"
#include "engine/KOAudioDevice.h"
#include "engine/KODelayFinder.h"
#include "engine/KOFloatBuffer.h"
#include "platform/desktop/MainThread.h"
#include "platform/log/Log.h"

#include <QMetaObject>

KODelayFinderRun::KODelayFinderRun(QObject* context, Finished finished, Registrar registrar,
                                   Notifier notifier)
    : mContext(context), mFinished(std::move(finished)), mRegistrar(std::move(registrar)),
      mNotifier(std::move(notifier)) {
    if (!mRegistrar)
        mRegistrar = [](ZOInputClient* client) {
            KOAudioDevice::sharedAudioDevice().addInputClient(client);
        };
    if (!mNotifier)
        mNotifier = [](const QString& text) {
            KOGrowlNotificationCenter::sharedGrowlCenter().postDelayFinderFinishedNotification(
                text);
        };
}

KODelayFinderRun::~KODelayFinderRun() {
    std::unique_ptr<KODelayFinder> finder;
    {
        const std::lock_guard lock(mMutex);
        finder = std::move(mFinder);
    }
    // The finder's destructor takes it out of the engine.
}

bool KODelayFinderRun::start(std::uint32_t sourceChannel, std::uint32_t responseChannel) {
    const std::lock_guard lock(mMutex);
    if (mFinder != nullptr)
        return false;
    auto finder = std::make_unique<KODelayFinder>();
    finder->SetSourceChannel(sourceChannel);
    finder->SetResponseChannel(responseChannel);
    mRegistrar(finder.get());
    mFinder = std::move(finder);
    return true;
}

void KODelayFinderRun::setChannels(std::uint32_t sourceChannel, std::uint32_t responseChannel) {
    const std::lock_guard lock(mMutex);
    if (mFinder == nullptr)
        return;
    mFinder->SetSourceChannel(sourceChannel);
    mFinder->SetResponseChannel(responseChannel);
}

bool KODelayFinderRun::isRunning() const {
    const std::lock_guard lock(mMutex);
    return mFinder != nullptr;
}

QString KODelayFinderRun::status() const {
    const std::lock_guard lock(mMutex);
    if (mFinder == nullptr)
        return {};
    switch (mFinder->GetState()) {
    case KODelayFinder::Waiting:
        return QString::fromLatin1(kWaitingStatus);
    case KODelayFinder::Recording:
        return QString::fromLatin1(kRecordingStatus);
    default:
        return {};
    }
}

bool KODelayFinderRun::collect() {
    std::shared_ptr<KODelayFinder> finder;
    {
        const std::lock_guard lock(mMutex);
        if (mFinder == nullptr || mFinder->GetState() != KODelayFinder::Complete)
            return false;
        finder = std::move(mFinder);
    }
    // The audio thread no longer touches a complete finder: the work runs here, unlocked.
    const KOFloatBuffer* ir = finder->ImpulseResponse();
    std::shared_ptr<KODelayFinderData> data =
        ir != nullptr ? KODelayFinderData::delayFinderDataWithFloatBuffer(ir->Data(), ir->Length())
                      : KODelayFinderData::delayFinderDataWithFloatBuffer(nullptr, 0);
    koru::log::info(kComputedDelayLog, data->findPeakPosition());
    // The finder goes on the main thread with the delivery: taking it out of the engine waits
    // for the engine's lock, which the main thread may hold.
    koru::platform::postToMainThread(mContext, [context = mContext, finished = mFinished,
                                                notifier = mNotifier, data,
                                                finder = std::move(finder)]() mutable {
        finder.reset();
        if (context == nullptr)
            return;
        const QString text = finished ? finished(data) : QString();
        if (!text.isEmpty())
            notifier(text);
    });
    return true;
}

QString KODelayFinderRun::notificationText(const QString& title, const QString& delayText) {
    return QString::fromLatin1(kNotificationFormat).arg(title, delayText);
}
