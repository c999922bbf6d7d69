#include "KOAuxNetReceiveWrapper.h"

#include "netaudio/NetStatus.h"
#include "netaudio/ui/NetStatusLight.h"
#include "platform/audio/AudioUnitInstance.h"
#include "platform/log/Log.h"
#include "zotools/CAException.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QTableWidget>
#include <QVBoxLayout>

#include <exception>

using koru::netaudio::NetServiceBrowser;
using koru::netaudio::NetStatus;

KOAuxNetReceiveWrapper::KOAuxNetReceiveWrapper(Services services)
    : KOAuxInWrapper(QString::fromLatin1(kNibName)), mServices(std::move(services)) {
    window()->setWindowTitle(tr("Net Receive"));
    buildControls();
    mBrowser = std::make_unique<NetServiceBrowser>([this] { reloadServices(); });
}

KOAuxNetReceiveWrapper::~KOAuxNetReceiveWrapper() {
    close();
    // No status report or finding may reach the controls once they go; the control object
    // stops listening to the input before the input goes.
    mBrowser.reset();
    mControl.reset();
    const std::unique_ptr<QWidget> shown(scrollView()->takeWidget());
    mControlsKept.reset();
    setGenerator(nullptr);
    mNetReceive.reset();
}

std::unique_ptr<KOAuxNetReceiveWrapper> KOAuxNetReceiveWrapper::make(Services services) {
    auto wrapper = std::make_unique<KOAuxNetReceiveWrapper>(std::move(services));
    return wrapper->init() ? std::move(wrapper) : nullptr;
}

std::unique_ptr<KOAuxNetReceiveWrapper>
KOAuxNetReceiveWrapper::makeWithDictionary(const QVariantMap& dictionary, Services services) {
    auto wrapper = std::make_unique<KOAuxNetReceiveWrapper>(std::move(services));
    return wrapper->initWithDictionary(dictionary) ? std::move(wrapper) : nullptr;
}

koru::AuxInputWrapperFactory KOAuxNetReceiveWrapper::factory(Services services) {
    return koru::auxInputWrapperFactory<KOAuxNetReceiveWrapper>(std::move(services));
}

bool KOAuxNetReceiveWrapper::init() {
    if (!createReceiver())
        return false;
    setOutputVolume(1.0);
    showWindow(nullptr);
    return true;
}

bool KOAuxNetReceiveWrapper::initWithDictionary(const QVariantMap& dictionary) {
    if (!createReceiver())
        return false;
    KOAuxInWrapper::initWithDictionary(dictionary);
    setOutputVolume(1.0);
    return true;
}

bool KOAuxNetReceiveWrapper::createReceiver() {
    if (mNetReceive)
        return true;
    try {
        auto output = mServices.output ? mServices.output() : nullptr;
        mNetReceive = std::make_unique<KOAuxInNetReceive>(std::move(output));
    } catch (const CAException& failure) {
        koru::log::error("Net receive: its output could not be made (status {})",
                         failure.GetError());
        return false;
    }
    setGenerator(mNetReceive.get());
    mControl = std::make_unique<ZOObjCNetReceiveAU>(mNetReceive->Receiver());
    mControl->setListenerDelegate([this](NetStatus status) { showStatus(int(status)); },
                                  mServices.clock);
    return true;
}

void KOAuxNetReceiveWrapper::showWindow(const void* sender) {
    if (createReceiver())
        KOAuxInWrapper::showWindow(sender);
}

QWidget* KOAuxNetReceiveWrapper::createViewForAU(koru::AudioSource&) {
    // The receiver's own controls stand where a unit's view would.
    return mControlsKept.release();
}

QVariantMap KOAuxNetReceiveWrapper::dictionaryRepresentation() const {
    QVariantMap dictionary = KOAuxInWrapper::dictionaryRepresentation();
    if (mNetReceive)
        dictionary.insert(QString::fromLatin1(kParameterDictionaryKey),
                          parameterDictionaryForAudioUnit(mNetReceive->Source()));
    return dictionary;
}

void KOAuxNetReceiveWrapper::buildControls() {
    mControlsKept = std::make_unique<QWidget>();
    mControls = mControlsKept.get();
    mControls->setObjectName(QStringLiteral("netReceiveControls"));
    auto* layout = new QVBoxLayout(mControls);

    mServiceTable = new QTableWidget(0, 1, mControls);
    mServiceTable->setObjectName(QStringLiteral("serviceTable"));
    auto* column = new QTableWidgetItem(tr("Senders"));
    column->setData(Qt::UserRole, QString::fromLatin1(kServiceColumn));
    mServiceTable->setHorizontalHeaderItem(0, column);
    mServiceTable->horizontalHeader()->setStretchLastSection(true);
    mServiceTable->verticalHeader()->hide();
    mServiceTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    mServiceTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    mServiceTable->setSelectionMode(QAbstractItemView::SingleSelection);
    layout->addWidget(mServiceTable, 1);

    auto* password = new QHBoxLayout;
    password->addWidget(new QLabel(tr("Password:"), mControls));
    mPasswordField = new QLineEdit(mControls);
    mPasswordField->setObjectName(QStringLiteral("passwordField"));
    mPasswordField->setEchoMode(QLineEdit::Password);
    mPasswordField->setToolTip(
        tr("Only keeps casual listeners out; the audio itself travels unencrypted."));
    password->addWidget(mPasswordField, 1);
    layout->addLayout(password);

    auto* status = new QHBoxLayout;
    mStatusLight = new QLabel(mControls);
    mStatusLight->setObjectName(QStringLiteral("statusLight"));
    mStatusLight->setFixedSize(12, 12);
    mStatusLight->hide(); // until the first status report
    status->addWidget(mStatusLight);
    mStatusField = new QLabel(mControls);
    mStatusField->setObjectName(QStringLiteral("statusField"));
    status->addWidget(mStatusField, 1);
    mConnectButton = new QPushButton(tr("Connect"), mControls);
    mConnectButton->setObjectName(QStringLiteral("connectButton"));
    status->addWidget(mConnectButton);
    layout->addLayout(status);

    mHostField = new QLineEdit(mControls);
    mHostField->setObjectName(QStringLiteral("hostField"));
    mHostField->setReadOnly(true);
    mHostField->hide(); // shown while connected
    layout->addWidget(mHostField);

    connect(mServiceTable, &QTableWidget::cellDoubleClicked, this,
            [this](int, int) { connectSelected(); });
    connect(mPasswordField, &QLineEdit::editingFinished, this, [this] { setPassword(); });
    connect(mConnectButton, &QPushButton::clicked, this, [this] {
        if (mButtonDisconnects)
            disconnectReceiver();
        else
            connectSelected();
    });
}

void KOAuxNetReceiveWrapper::reloadServices() {
    const QString selected =
        mServiceTable->currentItem() ? mServiceTable->currentItem()->text() : QString();
    const auto& names = mBrowser->names();
    mServiceTable->setRowCount(int(names.size()));
    for (int row = 0; row < int(names.size()); ++row) {
        auto* item = new QTableWidgetItem(QString::fromStdString(names[std::size_t(row)]));
        item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
        mServiceTable->setItem(row, 0, item);
        if (!selected.isEmpty() && item->text() == selected)
            mServiceTable->setCurrentCell(row, 0);
    }
}

void KOAuxNetReceiveWrapper::connectSelected() {
    const int row = mServiceTable->currentRow();
    const auto& names = mBrowser->names();
    if (!mControl || row < 0 || row >= int(names.size()) ||
        mServiceTable->selectedItems().isEmpty())
        return;
    const std::string name = names[std::size_t(row)];
    setPassword(); // what the field holds now, even when not yet confirmed
    QPointer<KOAuxNetReceiveWrapper> self(this);
    mBrowser->resolve(name, [self, name](std::vector<NetServiceBrowser::Endpoint> found) {
        if (self)
            self->connectToEndpoints(name, found);
    });
}

void KOAuxNetReceiveWrapper::connectToEndpoints(
    const std::string& name, const std::vector<NetServiceBrowser::Endpoint>& found) {
    if (!mControl)
        return;
    if (found.empty()) {
        koru::log::warn("Net receive: \"{}\" could not be looked up", name);
        return;
    }
    try {
        mControl->connect(found.back().address, found.back().port);
    } catch (const std::exception& failure) {
        koru::log::error("Net receive: connecting to \"{}\" failed: {}", name, failure.what());
    }
}

void KOAuxNetReceiveWrapper::disconnectReceiver() {
    if (mControl)
        mControl->connect(false);
}

void KOAuxNetReceiveWrapper::setPassword() {
    if (mControl)
        mControl->setPassword(mPasswordField->text().toStdString());
}

void KOAuxNetReceiveWrapper::showStatus(int status) {
    mStatusLight->show();
    const char* label = koru::netaudio::netStatusText(status);
    mStatusField->setText(label ? QString::fromLatin1(label) : QString());
    koru::netaudio::showStatusLight(mStatusLight, status);
    mButtonDisconnects = status == int(NetStatus::Connected);
    mConnectButton->setText(mButtonDisconnects ? tr("Disconnect") : tr("Connect"));
    if (status == int(NetStatus::Connected)) {
        mHostField->setText(mControl ? QString::fromStdString(mControl->host()) : QString());
        mHostField->show();
    } else if (status == int(NetStatus::NotConnected)) {
        mHostField->hide();
    }
}
