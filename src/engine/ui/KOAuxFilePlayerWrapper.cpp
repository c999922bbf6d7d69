#include "engine/ui/KOAuxFilePlayerWrapper.h"

#include "engine/ui/FilePlayerView.h"
#include "engine/ui/MessageBoxAlertPresenter.h"
#include "platform/audio/AudioUnitInstance.h"
#include "platform/log/Log.h"
#include "zotools/CAException.h"

#include <QScrollArea>

KOAuxFilePlayerWrapper::KOAuxFilePlayerWrapper(Services services)
    : KOAuxInWrapper(QString::fromLatin1(kNibName)), mServices(std::move(services)) {
    if (!mServices.alerts) {
        mServices.alerts = std::make_shared<koru::MessageBoxAlertPresenter>();
    }
    window()->setWindowTitle(tr("File Player"));
}

KOAuxFilePlayerWrapper::~KOAuxFilePlayerWrapper() {
    // The view refers to the player: it goes first.
    close();
    const std::unique_ptr<QWidget> view(scrollView()->takeWidget());
    mView = nullptr;
    setGenerator(nullptr);
}

std::unique_ptr<KOAuxFilePlayerWrapper> KOAuxFilePlayerWrapper::make(Services services) {
    auto wrapper = std::make_unique<KOAuxFilePlayerWrapper>(std::move(services));
    return wrapper->init() ? std::move(wrapper) : nullptr;
}

std::unique_ptr<KOAuxFilePlayerWrapper>
KOAuxFilePlayerWrapper::makeWithDictionary(const QVariantMap& dictionary, Services services) {
    auto wrapper = std::make_unique<KOAuxFilePlayerWrapper>(std::move(services));
    return wrapper->initWithDictionary(dictionary) ? std::move(wrapper) : nullptr;
}

koru::AuxInputWrapperFactory KOAuxFilePlayerWrapper::factory(Services services) {
    return koru::auxInputWrapperFactory<KOAuxFilePlayerWrapper>(std::move(services));
}

bool KOAuxFilePlayerWrapper::init() {
    if (!createPlayer()) {
        return false;
    }
    showWindow(nullptr);
    setOutputVolume(1.0);
    return true;
}

bool KOAuxFilePlayerWrapper::initWithDictionary(const QVariantMap& dictionary) {
    // The player first: a window shown by the restore then finds it, and a player that cannot
    // be made raises its alert once, not again for the window.
    if (!createPlayer()) {
        return false;
    }
    KOAuxInWrapper::initWithDictionary(dictionary);
    setOutputVolume(1.0);
    return true;
}

bool KOAuxFilePlayerWrapper::createPlayer() {
    if (mPlayer) {
        return true;
    }
    try {
        auto output = mServices.output ? mServices.output() : nullptr;
        mPlayer = std::make_unique<KOAuxInFilePlayer>(std::move(output));
    } catch (const CAException& failure) {
        koru::log::error("File player: its output could not be made (status {})",
                         failure.GetError());
        koru::Alert alert;
        alert.messageText = QString::fromLatin1(kLoadFailedTitle);
        alert.informativeText = QString::fromLatin1(kLoadFailedText);
        mServices.alerts->runModal(alert);
        return false;
    }
    setGenerator(mPlayer.get());
    return true;
}

void KOAuxFilePlayerWrapper::showWindow(const void* sender) {
    if (createPlayer()) {
        KOAuxInWrapper::showWindow(sender);
    }
}

QWidget* KOAuxFilePlayerWrapper::createViewForAU(koru::AudioSource&) {
    if (!mPlayer) {
        return nullptr;
    }
    mView = new koru::FilePlayerView(mPlayer->Player(), mServices.alerts);
    return mView;
}

QVariantMap KOAuxFilePlayerWrapper::dictionaryRepresentation() const {
    QVariantMap dictionary = KOAuxInWrapper::dictionaryRepresentation();
    if (mPlayer) {
        dictionary.insert(QString::fromLatin1(kParameterDictionaryKey),
                          parameterDictionaryForAudioUnit(mPlayer->Source()));
    }
    return dictionary;
}

bool KOAuxFilePlayerWrapper::loadFile(const QString& path) {
    if (!mPlayer) {
        return false;
    }
    if (mView == nullptr) {
        // The view loads and reports; a player never shown gets its view now, out of sight.
        showCocoaViewForAU(mPlayer->Source());
    }
    return mView != nullptr && mView->loadFile(path);
}
