#include "framework/KOInstrumentWrapper.h"

#include "framework/InstrumentAudioDevice.h"
#include "framework/KOInstrumentController.h"
#include "utility/VEString.h"

#include <QHash>

#include <stdexcept>

using koru::platform::KeyedArchiver;
using koru::platform::KeyedUnarchiver;

KOInstrumentWrapper::KOInstrumentWrapper() = default;

KOInstrumentWrapper::~KOInstrumentWrapper() = default;

void KOInstrumentWrapper::initWithName(const QString& title) {
    setTitle(title);
    mIdentifier = VEString::uuidString();
    observeAudioProperties();
}

void KOInstrumentWrapper::initWithCoder(KeyedUnarchiver& coder) {
    const QString key = QString::fromLatin1(kIdentifierKey);
    const QVariant stored = coder.decodeValue(key);
    if (stored.typeId() != QMetaType::QString || stored.toString().isEmpty())
        throw std::invalid_argument("the archived model has no identifier");
    setTitle(coder.decodeString(QString::fromLatin1(kTitleKey)));
    setNotes(coder.decodeString(QString::fromLatin1(kNotesKey)));
    mIdentifier = stored.toString();
    observeAudioProperties();
}

void KOInstrumentWrapper::encodeWithCoder(KeyedArchiver& coder) const {
    coder.encodeString(QString::fromLatin1(kTitleKey), title());
    coder.encodeString(QString::fromLatin1(kIdentifierKey), identifier());
    const QString currentNotes = notes();
    if (!currentNotes.isNull())
        coder.encodeString(QString::fromLatin1(kNotesKey), currentNotes);
}

void KOInstrumentWrapper::observeAudioProperties() {
    mAudioObserver = koru::platform::observeNotification(
        QString::fromLatin1(KOInstrumentController::kReloadAudioPropNotification), nullptr,
        [this](const koru::platform::Notification&) { audioPropertiesChanged(); });
}

QString KOInstrumentWrapper::title() const {
    return mTitle.isNull() ? QStringLiteral("") : mTitle;
}

void KOInstrumentWrapper::setTitle(const QString& title) {
    if (mTitle == title && mTitle.isNull() == title.isNull())
        return;
    mTitle = title;
    emit titleChanged(this->title());
}

QString KOInstrumentWrapper::identifier() const {
    if (mIdentifier.isEmpty())
        mIdentifier = VEString::uuidString();
    return mIdentifier;
}

void KOInstrumentWrapper::assignFreshIdentifier() {
    mIdentifier = VEString::uuidString();
}

QString KOInstrumentWrapper::notes() const {
    const std::lock_guard lock(mNotesLock);
    return mNotes;
}

void KOInstrumentWrapper::setNotes(const QString& notes) {
    const std::lock_guard lock(mNotesLock);
    mNotes = notes;
}

void KOInstrumentWrapper::setIcon(const QIcon& icon) {
    mIcon = icon;
    emit iconChanged();
}

void KOInstrumentWrapper::setPause(bool pause) {
    mPause.store(pause, std::memory_order_release);
}

QStringList KOInstrumentWrapper::availableInputChannels() {
    if (!mInputChannels)
        mInputChannels = koru::framework::InstrumentAudioDevice::shared().channelNamesArray();
    return *mInputChannels;
}

void KOInstrumentWrapper::audioPropertiesChanged() {
    const QStringList names = koru::framework::InstrumentAudioDevice::shared().channelNamesArray();
    if (mInputChannels && *mInputChannels == names)
        return;
    mInputChannels.reset();
    emit availableInputChannelsChanged();
}

size_t KOInstrumentWrapper::hash() const {
    return qHash(identifier());
}
