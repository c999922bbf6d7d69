#include "framework/KOInstrumentController.h"

#include "engine/KODataCollectorThread.h"
#include "framework/InstrumentAudioDevice.h"
#include "framework/KOInstrumentControllerDelegate.h"
#include "framework/KOInstrumentWindow.h"
#include "platform/desktop/MainThread.h"
#include "platform/exceptions/InternalInconsistencyException.h"
#include "platform/log/Log.h"
#include "utility/VEString.h"
#include "utility/ZODictionary.h"
#include "utility/ui/KOInfoPanel.h"
#include "utility/ui/WindowFrame.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QPalette>
#include <QStyleFactory>

#include <array>
#include <cmath>

using koru::platform::InternalInconsistencyException;
using koru::platform::Notification;
using koru::platform::NotificationCenter;
using koru::platform::observeNotification;

namespace {

QString key(const char* text) {
    return QString::fromLatin1(text);
}

[[noreturn]] void mustBeOverridden() {
    throw InternalInconsistencyException(QStringLiteral("must be overridden by subclass"));
}

// The instrument windows are dark whatever the desktop's theme is.
QPalette darkPalette() {
    QPalette palette;
    const QColor window(38, 38, 38);
    const QColor base(28, 28, 28);
    const QColor text(224, 224, 224);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, window);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::ToolTipBase, window);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::Highlight, QColor(42, 130, 218));
    palette.setColor(QPalette::HighlightedText, Qt::black);
    return palette;
}

} // namespace

KOInstrumentController::KOInstrumentController() = default;

KOInstrumentController::~KOInstrumentController() {
    if (mWindow)
        mWindow->removeEventFilter(this);
}

void KOInstrumentController::leaveBeforeDestruction() {
    stopObserving();
    removeFromDataCollectorThread();
}

void KOInstrumentController::initWithWindowNibName(const QString& nibName,
                                                   const QVariantMap* dictionary) {
    mNibName = nibName;
    koru::log::info("initializing {}", typeName().toStdString());
    mWindow = buildWindow(nibName);
    InternalInconsistencyException::check(mWindow != nullptr, "the window could not be built");
    mWindow->installEventFilter(this);
    if (auto* snapping = qobject_cast<KOWindow*>(mWindow.get()))
        snapping->setWindowDelegate(this);
    windowDidLoad();
    startObserving();
    if (dictionary)
        restoreFromDictionary(*dictionary);
}

std::unique_ptr<QMainWindow> KOInstrumentController::buildWindow(const QString& /*nibName*/) {
    auto window = std::make_unique<KOInstrumentWindow>();
    window->setCentralWidget(new QWidget(window.get()));
    return window;
}

void KOInstrumentController::windowDidLoad() {
    if (QMenu* menu = instrumentMenu()) {
        QWidget* content = mWindow->centralWidget() ? mWindow->centralWidget() : mWindow.get();
        content->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(content, &QWidget::customContextMenuRequested, menu,
                [menu, content](const QPoint& pos) { menu->popup(content->mapToGlobal(pos)); });
    }
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) {
        fusion->setParent(mWindow.get());
        mWindow->setStyle(fusion);
    }
    mWindow->setPalette(darkPalette());
    mWindow->setAttribute(Qt::WA_ShowWithoutActivating);
    const QStringList identifiers = toolbarItemIdentifiers();
    if (!identifiers.isEmpty())
        installToolbar(identifiers);
}

void KOInstrumentController::startObserving() {
    mObservers.push_back(
        observeNotification(key(kReloadAudioPropNotification), nullptr,
                            [this](const Notification&) { icPropertiesChanged(); }));
    mObservers.push_back(
        observeNotification(key(kParameterChangeNotification), nullptr,
                            [this](const Notification& n) { parameterChanged(n); }));
    mObservers.push_back(
        observeNotification(key(kParameterUnlinkNotification), nullptr,
                            [this](const Notification& n) { unlinkParameters(n); }));
}

void KOInstrumentController::stopObserving() {
    mObservers.clear();
}

// --- Restore and save ----------------------------------------------------------------------

void KOInstrumentController::restoreFromDictionary(const QVariantMap& dictionary) {
    const QVariant savedIdentifier = dictionary.value(key(kIdentifierKey));
    if (savedIdentifier.typeId() == QMetaType::QString && !savedIdentifier.toString().isEmpty())
        mIdentifier = savedIdentifier.toString();
    else
        mIdentifier = VEString::uuidString();

    // Any failure ends the restore; what was applied before it stays.
    try {
        const QVariant frame = dictionary.value(key(kWindowFrameKey));
        if (frame.typeId() == QMetaType::QString && !setWindowFrameFromString(frame.toString()))
            koru::log::warn("{}: unreadable window frame \"{}\"", description().toStdString(),
                            frame.toString().toStdString());
        const QVariant savedName = dictionary.value(key(kNameKey));
        if (savedName.typeId() == QMetaType::QString)
            setName(savedName.toString());
        setSticky(ZODictionary::boolForKey(dictionary, key(kStickyKey), false));
        if (ZODictionary::boolForKey(dictionary, key(kWindowVisibleKey), false))
            unhideInstrument();
        else
            hideInstrument();
    } catch (const std::exception& error) {
        koru::log::warn("{}: restore ended early: {}", description().toStdString(), error.what());
    }
}

QVariantMap KOInstrumentController::dictionaryRepresentation() const {
    QVariantMap dictionary;
    dictionary.insert(key(kIdentifierKey), identifier());
    dictionary.insert(key(kTypeKey), typeName());
    dictionary.insert(key(kWindowFrameKey), windowFrameString());
    dictionary.insert(key(kNameKey), name());
    // Stored as an integer, which property lists read back unchanged.
    dictionary.insert(key(kWindowVisibleKey),
                      QVariant::fromValue<qint64>(mWindow && mWindow->isVisible() ? 1 : 0));
    dictionary.insert(key(kStickyKey), mSticky);
    return dictionary;
}

QString KOInstrumentController::windowFrameString() const {
    return mWindow ? koru::windowFrameString(*mWindow) : QString();
}

bool KOInstrumentController::setWindowFrameFromString(const QString& text) {
    return mWindow && koru::setWindowFrameFromString(*mWindow, text);
}

// --- Identity and state ----------------------------------------------------------------------

QString KOInstrumentController::identifier() const {
    if (mIdentifier.isEmpty())
        mIdentifier = VEString::uuidString();
    return mIdentifier;
}

QString KOInstrumentController::typeName() const {
    return QString::fromLatin1(metaObject()->className());
}

QString KOInstrumentController::description() const {
    return QStringLiteral("[%1] (%2)").arg(typeName(), identifier());
}

QString KOInstrumentController::name() const {
    const QString title = mWindow ? mWindow->windowTitle() : QString();
    return title.isNull() ? QStringLiteral("") : title;
}

void KOInstrumentController::setName(const QString& newName) {
    if (newName.isNull() || !mWindow)
        return;
    mWindow->setWindowTitle(newName);
    if (mInstrumentMenu)
        mInstrumentMenu->setTitle(newName);
    emit nameChanged(newName);
    if (auto* d = delegate())
        d->instrumentControllerDidChangeName(this);
}

void KOInstrumentController::setPause(bool value) {
    if (mPause.exchange(value, std::memory_order_acq_rel) != value)
        emit pauseChanged(value);
}

void KOInstrumentController::setSticky(bool value) {
    if (mSticky == value)
        return;
    mSticky = value;
    emit stickyChanged(value);
}

void KOInstrumentController::hideInstrument() {
    mWindow->hide();
    closeControlPanel();
    if (auto* d = delegate())
        d->instrumentDidHide(this);
}

void KOInstrumentController::unhideInstrument() {
    mWindow->show();
    mWindow->raise();
    if (auto* d = delegate())
        d->instrumentDidUnhide(this);
}

void KOInstrumentController::closeFromWorkspaceRecall() {
    if (mSticky || !canBeClosed())
        return;
    mWindow->close();
}

// --- Channels: abstract in the base ---------------------------------------------------------

qint64 KOInstrumentController::inputChannel() const {
    mustBeOverridden();
}
void KOInstrumentController::setInputChannel(qint64) {
    mustBeOverridden();
}
qint64 KOInstrumentController::inChannelA() const {
    mustBeOverridden();
}
void KOInstrumentController::setInChannelA(qint64) {
    mustBeOverridden();
}
qint64 KOInstrumentController::inChannelB() const {
    mustBeOverridden();
}
void KOInstrumentController::setInChannelB(qint64) {
    mustBeOverridden();
}

void KOInstrumentController::changeParameterWithName(const QString&, const QVariant&) {}

// --- Audio device ------------------------------------------------------------------------------

std::uint32_t KOInstrumentController::inputDeviceObjectID() const {
    return koru::framework::InstrumentAudioDevice::shared().inputDeviceObjectID();
}

QString KOInstrumentController::currentAudioDeviceName() const {
    return koru::framework::InstrumentAudioDevice::shared().currentAudioDeviceName();
}

QString KOInstrumentController::currentAudioDeviceUID() const {
    return koru::framework::InstrumentAudioDevice::shared().currentAudioDeviceUID();
}

// The cache is filled under a lock of its own, not the data-collection lock: a model asking for
// the rate from inside dataCollection already holds that one.
double KOInstrumentController::currentSampleRate() {
    const double cached = mCurrentSR.load(std::memory_order_acquire);
    if (cached != 0.0)
        return cached;
    const std::lock_guard lock(mSampleRateLock);
    KOInstrumentControllerDelegate* d = delegate();
    if (!d) {
        // May run on the collector thread, where an exception would end the process.
        koru::log::error("can not get SR, delegate is nil");
        return 0.0;
    }
    const double rate = d->audioDeviceSampleRate();
    mCurrentSR.store(std::isfinite(rate) && rate > 0.0 ? rate : 0.0, std::memory_order_release);
    return mCurrentSR.load(std::memory_order_acquire);
}

double KOInstrumentController::secondsFromSamples(qint64 samples) {
    const double rate = currentSampleRate();
    return rate > 0.0 ? static_cast<double>(samples) / rate : 0.0;
}

qint64 KOInstrumentController::samplesFromSeconds(double seconds) {
    return static_cast<qint64>(std::trunc(seconds * currentSampleRate()));
}

void KOInstrumentController::icPropertiesChanged() {
    // The controller is the context: a change arriving just before it is deleted is dropped.
    koru::platform::postToMainThread(this, [this] {
        mCurrentSR.store(0.0, std::memory_order_release);
        audioPropertiesChanged();
        emit inputDeviceObjectIDChanged();
    });
}

// --- Collector thread ------------------------------------------------------------------------

void KOInstrumentController::addToDataCollectorThread() {
    if (mRegistered)
        return;
    InternalInconsistencyException::check(
        mMadeByCreate, "only a controller made by create() may join the data collector thread");
    koru::log::debug("adding {} to data collector thread", description().toStdString());
    KODataCollectorThread::sharedCollectorThread().addInstrumentController(&mCollectorClient);
    mRegistered = true;
    audioPropertiesChanged();
}

void KOInstrumentController::removeFromDataCollectorThread() {
    if (!mRegistered)
        return;
    KODataCollectorThread::sharedCollectorThread().removeInstrumentController(&mCollectorClient);
    mRegistered = false;
}

void KOInstrumentController::CollectorClient::dataCollection() {
    std::unique_lock lock(mOwner.mDataCollectionLock, std::try_to_lock);
    if (!lock.owns_lock())
        return;
    mOwner.dataCollection();
}

// --- Reset -------------------------------------------------------------------------------------

void KOInstrumentController::swipeWithDeltaX(double deltaX) {
    if (deltaX < 0.0)
        resetAll();
    else
        resetCurrent();
}

// --- Window events -----------------------------------------------------------------------------

bool KOInstrumentController::eventFilter(QObject* watched, QEvent* event) {
    if (watched != mWindow.get())
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Close:
        windowWillClose();
        break;
    case QEvent::WindowActivate:
        windowDidBecomeKey();
        break;
    case QEvent::WindowDeactivate:
        windowDidResignKey();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void KOInstrumentController::windowDidBecomeKey() {
    if (auto* d = delegate())
        d->setCurrentInstrument(this);
}

void KOInstrumentController::windowDidResignKey() {
    if (auto* d = delegate())
        d->instrumentDidResignCurrent(this);
}

void KOInstrumentController::windowWillClose() {
    if (mClosed)
        return;
    mClosed = true;
    closeControlPanel();
    removeFromDataCollectorThread();
    if (auto* d = delegate())
        d->removeInstrument(this);
    stopObserving();
}

// --- Parameter linking -------------------------------------------------------------------------

void KOInstrumentController::addParameterLinkDictionary(const QVariantMap& link) {
    mLinkedParameters.append(link);
}

QVariantList KOInstrumentController::linkedParametersDictionary() const {
    return mLinkedParameters;
}

void KOInstrumentController::parameterChanged(const Notification& notification) {
    if (notification.sender == this)
        return;
    try {
        applyLinkedChange(notification);
    } catch (const std::exception& error) {
        koru::log::warn("{}: linked parameter not applied: {}", description().toStdString(),
                        error.what());
    }
    mApplyingLinkedParameter = false;
}

// Once per link naming the poster: two links (one per common parameter) apply it twice.
void KOInstrumentController::applyLinkedChange(const Notification& notification) {
    const QString poster = notification.userInfo.value(key(kLinkIdentifierKey)).toString();
    if (poster.isEmpty())
        return;
    const QString parameter = notification.userInfo.value(key(kLinkParameterKey)).toString();
    const QVariant value = notification.userInfo.value(key(kLinkValueKey));
    const QVariantList links = mLinkedParameters;
    for (const QVariant& link : links) {
        if (link.toMap().value(key(kLinkIdentifierKey)).toString() != poster)
            continue;
        mApplyingLinkedParameter = true;
        changeParameterWithName(parameter, value);
        mApplyingLinkedParameter = false;
    }
}

void KOInstrumentController::unlinkParameters(const Notification& notification) {
    const QString leaving = notification.userInfo.value(key(kLinkIdentifierKey)).toString();
    if (leaving.isEmpty())
        return;
    const bool named =
        std::any_of(mLinkedParameters.cbegin(), mLinkedParameters.cend(), [&](const QVariant& l) {
            return l.toMap().value(key(kLinkIdentifierKey)).toString() == leaving;
        });
    if (leaving == identifier() || named)
        mLinkedParameters.clear();
}

void KOInstrumentController::postParameterChange(const QString& parameter, const QVariant& value) {
    if (mApplyingLinkedParameter)
        return;
    QVariantMap info;
    info.insert(key(kLinkIdentifierKey), identifier());
    info.insert(key(kLinkParameterKey), parameter);
    info.insert(key(kLinkValueKey), value);
    NotificationCenter::defaultCenter().post(key(kParameterChangeNotification), this, {}, info);
}

bool KOInstrumentController::tryLinkInstruments(KOInstrumentController& mover,
                                                KOInstrumentController& other,
                                                Qt::KeyboardModifiers modifiers) {
    if (modifiers.testFlag(Qt::ControlModifier) || &mover == &other)
        return false;
    if (!mover.mWindow || !other.mWindow)
        return false;
    const QSize a = mover.mWindow->frameGeometry().size();
    const QSize b = other.mWindow->frameGeometry().size();
    if (a.width() != b.width() && a.height() != b.height())
        return false;
    const QStringList mine = mover.linkableViewParameters();
    QStringList common;
    for (const QString& parameter : other.linkableViewParameters()) {
        if (mine.contains(parameter))
            common.append(parameter);
    }
    if (common.isEmpty())
        return false;
    const auto names = [](const KOInstrumentController& holder, const QString& id) {
        return std::any_of(holder.mLinkedParameters.cbegin(), holder.mLinkedParameters.cend(),
                           [&](const QVariant& l) {
                               return l.toMap().value(key(kLinkIdentifierKey)).toString() == id;
                           });
    };
    if (names(other, mover.identifier()) || names(mover, other.identifier()))
        return false;
    for (const QString& parameter : common) {
        other.addParameterLinkDictionary(
            {{key(kLinkIdentifierKey), mover.identifier()}, {key(kLinkParameterKey), parameter}});
        mover.addParameterLinkDictionary(
            {{key(kLinkIdentifierKey), other.identifier()}, {key(kLinkParameterKey), parameter}});
        other.postParameters();
        KOInfoPanel::sharedInfoPanel().setInfoText(QStringLiteral("linked %1").arg(other.name()),
                                                   QStringLiteral("with %1").arg(mover.name()));
    }
    return true;
}
