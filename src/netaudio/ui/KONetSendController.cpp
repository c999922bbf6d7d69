#include "KONetSendController.h"

#include "engine/KOAudioDevice.h"
#include "framework/InstrumentAudioDevice.h"
#include "framework/KOInstrumentWindow.h"
#include "netaudio/NetAudioCodec.h"
#include "netaudio/ui/NetStatusLight.h"
#include "platform/log/Log.h"
#include "utility/ZODictionary.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <atomic>

using koru::netaudio::NetStatus;

namespace {

// Numbers the default names, on every creation, for the life of the process.
std::atomic<std::uint32_t> sNameCounter{1};

constexpr std::uint32_t kOfferedFormats[] = {0, 1, 2, 5, 6};

QString text(const char* key) {
    return QString::fromLatin1(key);
}

} // namespace

KONetSendController::~KONetSendController() {
    // No status report may arrive once the window's parts go; the instrument then leaves the
    // engine before its unit stops.
    if (mInstrument)
        mInstrument->Unit().setStatusListener({});
    mStatusListener.reset();
    mInstrument.reset();
}

std::unique_ptr<QMainWindow> KONetSendController::buildWindow(const QString& /*nibName*/) {
    auto window = std::make_unique<KOInstrumentWindow>();
    auto* body = new QWidget(window.get());
    auto* form = new QFormLayout(body);
    mChannelAMenu = new QComboBox(body);
    mChannelBMenu = new QComboBox(body);
    mFormatMenu = new QComboBox(body);
    for (std::uint32_t index : kOfferedFormats)
        mFormatMenu->addItem(QString::fromUtf8(koru::netaudio::formatName(index)), index);
    mPortField = new QLineEdit(body);
    mPasswordField = new QLineEdit(body);
    mPasswordField->setEchoMode(QLineEdit::Password);
    mPasswordField->setToolTip(
        QStringLiteral("Keeps casual receivers out; the audio itself is sent unencrypted."));
    mStatusLight = new QLabel(body);
    mStatusLight->setFixedSize(12, 12);
    mStatusField = new QLabel(body);
    mConnectButton = new QPushButton(QStringLiteral("Connect"), body);
    auto* status = new QHBoxLayout;
    status->addWidget(mStatusLight);
    status->addWidget(mStatusField, 1);
    status->addWidget(mConnectButton);
    form->addRow(QStringLiteral("Channel 1"), mChannelAMenu);
    form->addRow(QStringLiteral("Channel 2"), mChannelBMenu);
    form->addRow(QStringLiteral("Format"), mFormatMenu);
    form->addRow(QStringLiteral("Port"), mPortField);
    form->addRow(QStringLiteral("Password"), mPasswordField);
    form->addRow(status);
    window->setCentralWidget(body);

    connect(mChannelAMenu, &QComboBox::activated, this,
            [this](int row) { setInChannelA(mChannelAMenu->itemData(row).toLongLong()); });
    connect(mChannelBMenu, &QComboBox::activated, this,
            [this](int row) { setInChannelB(mChannelBMenu->itemData(row).toLongLong()); });
    connect(mFormatMenu, &QComboBox::activated, this,
            [this](int row) { setFormat(mFormatMenu->itemData(row).toUInt()); });
    connect(mPortField, &QLineEdit::editingFinished, this, [this] {
        setPort(mPortField->text().toLongLong());
        showPort();
    });
    connect(mPasswordField, &QLineEdit::editingFinished, this,
            [this] { setPassword(mPasswordField->text()); });
    connect(mConnectButton, &QPushButton::clicked, this, [this] { changeConnectionStatus(); });
    return window;
}

void KONetSendController::initWithWindowNibName(const QString& nibName,
                                                const QVariantMap* dictionary) {
    KOInstrumentControllerWithoutPanel::initWithWindowNibName(nibName, dictionary);
    const std::uint32_t number = sNameCounter.fetch_add(1);
    QString serviceName = dictionary ? dictionary->value(text(kNameKey)).toString() : QString();
    if (serviceName.isEmpty())
        serviceName = QString::fromLatin1(kNameFormat).arg(number);
    setName(serviceName);

    mInstrument = std::make_unique<KONetSendInstrument>(serviceName.toStdString());
    // Reported on the network thread; shown on this one, at most once a second.
    mStatusListener = std::make_unique<koru::netaudio::NetStatusListener>(
        [this](NetStatus status) { showStatus(status); });
    koru::netaudio::NetStatusListener* listener = mStatusListener.get();
    mInstrument->Unit().setStatusListener(
        [listener](NetStatus status) { listener->report(status); });
    // Registered before the channels are restored: the count the clamp needs comes with it.
    KOAudioDevice::sharedAudioDevice().addInputClient(mInstrument.get());
    if (dictionary) {
        setInChannelA(ZODictionary::intForKey(*dictionary, text(kChannel1Key), 0));
        setInChannelB(ZODictionary::intForKey(*dictionary, text(kChannel2Key), 1));
        const QVariant password = dictionary->value(text(kPasswordKey));
        if (password.typeId() == QMetaType::QString) {
            setPassword(password.toString());
            mPasswordField->setText(password.toString());
        }
        // A format the menu does not offer still applies to the unit.
        setFormat(ZODictionary::unsignedIntForKey(*dictionary, text(kFormatKey), 0));
    }
    audioPropertiesChanged();
    showPort();
    showStatus(mInstrument->Unit().status()); // the listener only reports changes
    if (!dictionary)
        unhideInstrument();
}

QVariantMap KONetSendController::dictionaryRepresentation() const {
    QVariantMap dictionary = KOInstrumentControllerWithoutPanel::dictionaryRepresentation();
    dictionary.insert(text(kChannel1Key), inChannelA());
    dictionary.insert(text(kChannel2Key), inChannelB());
    dictionary.insert(text(kFormatKey), qint64(mInstrument->Unit().formatIndex()));
    dictionary.insert(text(kPasswordKey), QString::fromStdString(mInstrument->Unit().password()));
    return dictionary;
}

void KONetSendController::fillChannelMenus() {
    const QStringList names = koru::framework::InstrumentAudioDevice::shared().channelNamesArray();
    for (QComboBox* menu : {mChannelAMenu, mChannelBMenu}) {
        menu->clear();
        for (int i = 0; i < names.size(); ++i)
            menu->addItem(names[i], qint64(i));
    }
    mChannelAMenu->setCurrentIndex(mChannelAMenu->findData(inChannelA()));
    mChannelBMenu->setCurrentIndex(mChannelBMenu->findData(inChannelB()));
}

void KONetSendController::audioPropertiesChanged() {
    fillChannelMenus();
    KOInstrumentControllerWithoutPanel::audioPropertiesChanged();
}

qint64 KONetSendController::inChannelA() const {
    return mInstrument ? qint64(mInstrument->ChannelA()) : qint64(0xFFFFFFFF);
}

qint64 KONetSendController::inChannelB() const {
    return mInstrument ? qint64(mInstrument->ChannelB()) : qint64(0xFFFFFFFF);
}

void KONetSendController::setInChannelA(qint64 channel) {
    if (!mInstrument)
        return;
    mInstrument->SetChannelA(std::uint32_t(std::max<qint64>(channel, 0)));
    if (mChannelAMenu)
        mChannelAMenu->setCurrentIndex(mChannelAMenu->findData(inChannelA()));
}

void KONetSendController::setInChannelB(qint64 channel) {
    if (!mInstrument)
        return;
    mInstrument->SetChannelB(std::uint32_t(std::max<qint64>(channel, 0)));
    if (mChannelBMenu)
        mChannelBMenu->setCurrentIndex(mChannelBMenu->findData(inChannelB()));
}

void KONetSendController::setFormat(std::uint32_t index) {
    mInstrument->Unit().setFormatIndex(index);
    mFormatMenu->setCurrentIndex(mFormatMenu->findData(mInstrument->Unit().formatIndex()));
}

bool KONetSendController::setPort(qint64 port) {
    if (port < 1 || port > 65535) {
        koru::log::warn("{}: port {} refused", name().toStdString(), port);
        return false;
    }
    return mInstrument->Unit().setPort(std::uint32_t(port));
}

void KONetSendController::setPassword(const QString& password) {
    mInstrument->Unit().setPassword(password.toStdString());
}

void KONetSendController::changeConnectionStatus() {
    mInstrument->Unit().connect(mInstrument->Unit().status() != NetStatus::Connected);
}

void KONetSendController::showStatus(NetStatus status) {
    const int v = int(status);
    if (status == NetStatus::Connected)
        mHasBeenConnected = true;
    mConnectButton->setText(status == NetStatus::Connected ? QStringLiteral("Disconnect")
                                                           : QStringLiteral("Connect"));
    const char* label = koru::netaudio::netStatusText(v);
    mStatusField->setText(label ? QString::fromLatin1(label) : QString());
    koru::netaudio::showStatusLight(mStatusLight, v);
    // Listening again after a change of port, name or format: the port may have moved.
    if (!mPortField->hasFocus())
        showPort();
}

void KONetSendController::showPort() {
    // The port actually listened on, which is the one asked for only when that was free.
    mPortField->setText(QString::number(mInstrument->Unit().port()));
}
