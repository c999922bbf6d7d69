#include "app/ui/KOAudioSettingsWindow.h"

#include "app/KOGrowlNotificationCenter.h"
#include "engine/KOAudioDevice.h"
#include "engine/KOPatchMatrix.h"
#include "engine/ui/KOAuxInWrapper.h"
#include "engine/ui/KOSignalGeneratorWrapper.h"
#include "engine/ui/SummingChannelDelegate.h"
#include "engine/ui/SummingChannelTableModel.h"
#include "platform/log/Log.h"
#include "zotools/ZOAudioHardwareDevice.h"
#include "zotools/ui/ZOAudioInputDevicePopUpButton.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include <exception>

namespace {

KOSignalGeneratorWrapper* generatorWindow(KOAudioDevice& device) {
    return dynamic_cast<KOSignalGeneratorWrapper*>(device.signalGenerator());
}

} // namespace

KOAudioSettingsWindow::KOAudioSettingsWindow(Services services, QWidget* parent)
    : QWidget(parent, Qt::Window), m(std::move(services)) {
    setObjectName(QStringLiteral("audioSettingsWindow"));
    setWindowTitle(tr(kTitle));
    buildControls();

    mToggleSigGenMuteSeparatorItem = new QAction(this);
    mToggleSigGenMuteSeparatorItem->setSeparator(true);
    mToggleSigGenMuteItem = new QAction(tr(kMuteItemTitle), this);
    mToggleSigGenMuteItem->setCheckable(true);
    mToggleSigGenMuteItem->setEnabled(false);
    // The item's check mark is the generator's state, set by its report; a click only asks.
    connect(mToggleSigGenMuteItem, &QAction::triggered, this, [this] {
        const QSignalBlocker quiet(mToggleSigGenMuteItem);
        mToggleSigGenMuteItem->setChecked(!mToggleSigGenMuteItem->isChecked());
        toggleSignalGeneratorMute();
    });
}

KOAudioSettingsWindow::~KOAudioSettingsWindow() {
    if (KOSignalGeneratorWrapper* generator = generatorWindow(*m.audioDevice))
        generator->setMuteStatusChanged({});
}

void KOAudioSettingsWindow::buildControls() {
    auto* layout = new QVBoxLayout(this);

    auto* deviceBox = new QGroupBox(tr("Audio Device"), this);
    auto* deviceForm = new QFormLayout(deviceBox);
    auto* deviceRow = new QHBoxLayout;
    mAudioInPopUpButton = new ZOAudioInputDevicePopUpButton(deviceBox);
    mAudioInPopUpButton->setObjectName(QStringLiteral("audioInPopUpButton"));
    mAudioInPopUpButton->awakeFromNib();
    deviceRow->addWidget(mAudioInPopUpButton, 1);
    mAudioConfigurationAppButton = new QPushButton(tr("Configure…"), deviceBox);
    mAudioConfigurationAppButton->setObjectName(QStringLiteral("audioConfigurationAppButton"));
    deviceRow->addWidget(mAudioConfigurationAppButton);
    deviceForm->addRow(tr("Input:"), deviceRow);
    mSampleRatePopUpMenu = new QComboBox(deviceBox);
    mSampleRatePopUpMenu->setObjectName(QStringLiteral("sampleRatePopUpMenu"));
    deviceForm->addRow(tr("Sample Rate:"), mSampleRatePopUpMenu);
    mClockSourceLabel = new QLabel(tr("Clock Source:"), deviceBox);
    mClockSourcePopUpButton = new QComboBox(deviceBox);
    mClockSourcePopUpButton->setObjectName(QStringLiteral("clockSourcePopUpButton"));
    deviceForm->addRow(mClockSourceLabel, mClockSourcePopUpButton);
    layout->addWidget(deviceBox);

    auto* auxBox = new QGroupBox(tr("Virtual Inputs"), this);
    auto* auxLayout = new QVBoxLayout(auxBox);
    const auto checkButton = [&](const QString& title, const char* name) {
        auto* button = new QCheckBox(title, auxBox);
        button->setObjectName(QString::fromLatin1(name));
        auxLayout->addWidget(button);
        return button;
    };
    mFilePlayerButton = checkButton(tr("File Player"), "filePlayerButton");
    mNetReceiveButton = checkButton(tr("Network Receive"), "netReceiveButton");
    mSigGenButton = checkButton(tr("Signal Generator"), "sigGenButton");
    layout->addWidget(auxBox);

    auto* summingBox = new QGroupBox(tr("Summing Channels"), this);
    auto* summingLayout = new QVBoxLayout(summingBox);
    mSummingChannelsTable = new QTableView(summingBox);
    mSummingChannelsTable->setObjectName(QStringLiteral("summingChannelsTable"));
    mSummingModel = new koru::SummingChannelTableModel(*m.audioDevice, mSummingChannelsTable);
    mSummingChannelsTable->setModel(mSummingModel);
    mSummingChannelsTable->setItemDelegate(
        new koru::SummingChannelDelegate(*m.audioDevice, mSummingChannelsTable));
    mSummingChannelsTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    mSummingChannelsTable->setSelectionMode(QAbstractItemView::SingleSelection);
    mSummingChannelsTable->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    summingLayout->addWidget(mSummingChannelsTable);
    auto* summingButtons = new QHBoxLayout;
    mAddSummingChannelButton = new QPushButton(QStringLiteral("+"), summingBox);
    mAddSummingChannelButton->setObjectName(QStringLiteral("addSummingChannelButton"));
    mRemoveSummingChannelButton = new QPushButton(QStringLiteral("−"), summingBox);
    mRemoveSummingChannelButton->setObjectName(QStringLiteral("removeSummingChannelButton"));
    summingButtons->addWidget(mAddSummingChannelButton);
    summingButtons->addWidget(mRemoveSummingChannelButton);
    summingButtons->addStretch(1);
    summingLayout->addLayout(summingButtons);
    layout->addWidget(summingBox);

    auto* clipBox = new QGroupBox(tr("Clip Notifications"), this);
    auto* clipLayout = new QVBoxLayout(clipBox);
    mPostOnClipCheckBox = new QCheckBox(tr("Notify when an input clips"), clipBox);
    mPostOnClipCheckBox->setObjectName(QStringLiteral("postOnClipCheckBox"));
    mClipStaysOnScreenCheckBox = new QCheckBox(tr("Keep clip notifications on screen"), clipBox);
    mClipStaysOnScreenCheckBox->setObjectName(QStringLiteral("clipStaysOnScreenCheckBox"));
    mClipStaysOnScreenCheckBox->setVisible(m.notifications != nullptr);
    clipLayout->addWidget(mPostOnClipCheckBox);
    clipLayout->addWidget(mClipStaysOnScreenCheckBox);
    layout->addWidget(clipBox);

    connect(mAudioInPopUpButton, &QComboBox::activated, this, [this](int index) {
        const std::uint32_t chosen = mAudioInPopUpButton->itemData(index).toUInt();
        if (chosen != 0 && chosen != m.audioDevice->audioObjectID() && m.chooseDevice)
            m.chooseDevice(chosen);
        // The pop-up shows what the device really is, switched or not.
        audioPropertiesChanged();
    });
    connect(mSampleRatePopUpMenu, &QComboBox::activated, this, [this] { changeSampleRate(); });
    connect(mClockSourcePopUpButton, &QComboBox::activated, this, [this] { changeClockSource(); });
    connect(mAudioConfigurationAppButton, &QPushButton::clicked, this,
            [this] { launchAudioConfigurationApplication(); });
    connect(mFilePlayerButton, &QCheckBox::clicked, this, [this] { toggleFilePlayer(); });
    connect(mNetReceiveButton, &QCheckBox::clicked, this, [this] { toggleNetReceive(); });
    connect(mSigGenButton, &QCheckBox::clicked, this, [this] { toggleSignalGenerator(); });
    connect(mAddSummingChannelButton, &QPushButton::clicked, this, [this] { addSummingChannel(); });
    connect(mRemoveSummingChannelButton, &QPushButton::clicked, this,
            [this] { removeSummingChannel(); });
    connect(mPostOnClipCheckBox, &QCheckBox::clicked, this,
            [this](bool checked) { setPostGrowlNotificationOnClip(checked); });
    connect(mClipStaysOnScreenCheckBox, &QCheckBox::clicked, this,
            [this](bool checked) { setGrowlClipNotificationStaysOnScreen(checked); });
}

void KOAudioSettingsWindow::showAudioSettingsWindow() {
    show();
    raise();
    activateWindow();
}

// --- Refresh -------------------------------------------------------------------------------------

void KOAudioSettingsWindow::audioPropertiesChanged() {
    KOAudioDevice& device = *m.audioDevice;
    reloadSummingTable();

    mFilePlayerButton->setChecked(device.filePlayer() != nullptr);
    mNetReceiveButton->setChecked(device.netReceive() != nullptr);
    mSigGenButton->setChecked(device.signalGenerator() != nullptr);
    // An input this program cannot make is not offered.
    mFilePlayerButton->setVisible(device.offersAuxInput(koru::AuxInputKind::FilePlayer));
    mNetReceiveButton->setVisible(device.offersAuxInput(koru::AuxInputKind::NetReceive));
    mSigGenButton->setVisible(device.offersAuxInput(koru::AuxInputKind::SignalGenerator));

    KOSignalGeneratorWrapper* generator = generatorWindow(device);
    mToggleSigGenMuteItem->setEnabled(device.signalGenerator() != nullptr);
    if (generator) {
        generator->setMuteStatusChanged(
            [this](bool muted) { signalGeneratorMuteStatusChanged(muted); });
        signalGeneratorMuteStatusChanged(generator->mute());
    } else {
        signalGeneratorMuteStatusChanged(false);
    }

    mAddSummingChannelButton->setEnabled(device.canAddSummingChannel());

    const std::uint32_t deviceID = device.audioObjectID();
    {
        const QSignalBlocker quiet(mAudioInPopUpButton);
        mAudioInPopUpButton->setSelectedObjectID(deviceID);
    }

    const ZOAudioHardwareDevice hardware = device.hardwareDevice();
    const QIcon icon = hardware.iconForConfigurationApplication();
    mAudioConfigurationAppButton->setIcon(icon);
    mAudioConfigurationAppButton->setToolTip(hardware.configurationApplicationBundle());
    mAudioConfigurationAppButton->setVisible(!icon.isNull());

    {
        const QSignalBlocker quiet(mSampleRatePopUpMenu);
        mSampleRatePopUpMenu->clear();
        for (const float rate : hardware.availableSampleRates()) {
            // The tag drops the fraction; the title rounds it, as "%.0f" does.
            const auto tag = static_cast<std::uint32_t>(rate);
            mSampleRatePopUpMenu->addItem(QString::asprintf("%.0f Hz", double(rate)), tag);
        }
        const auto current = static_cast<std::uint32_t>(device.nominalSampleRate());
        mSampleRatePopUpMenu->setCurrentIndex(mSampleRatePopUpMenu->findData(current));
    }

    {
        const QSignalBlocker quiet(mClockSourcePopUpButton);
        mClockSourcePopUpButton->clear();
        for (const std::uint32_t source :
             hardware.availableClockSources().value_or(std::vector<std::uint32_t>{}))
            mClockSourcePopUpButton->addItem(hardware.nameForClockSourceID(source), source);
        mClockSourcePopUpButton->setCurrentIndex(
            mClockSourcePopUpButton->findData(hardware.currentClockSourceID()));
        const bool settable = hardware.clockSourceControlIsSettable();
        mClockSourcePopUpButton->setVisible(settable);
        mClockSourceLabel->setVisible(settable);
    }

    mPostOnClipCheckBox->setChecked(postGrowlNotificationOnClip());
    mClipStaysOnScreenCheckBox->setChecked(growlClipNotificationStaysOnScreen());

    watchInputPatch();
}

void KOAudioSettingsWindow::reloadSummingTable() {
    mSummingModel->reloadData();
}

void KOAudioSettingsWindow::watchInputPatch() {
    std::shared_ptr<KOPatchMatrix> matrix;
    try {
        matrix = m.audioDevice->inputPatchMatrix();
    } catch (const std::exception& error) {
        koru::log::warn("the input patch could not be read: {}", error.what());
    }
    if (matrix.get() == mWatchedMatrix)
        return;
    mPatchObserver.reset();
    mWatchedMatrix = matrix.get();
    if (!matrix)
        return;
    mPatchObserver = koru::platform::observeNotification(
        QString::fromLatin1(KOPatchMatrix::kDidChangePatchNotification), matrix.get(),
        [this](const koru::platform::Notification&) { patchHasChanged(); });
}

void KOAudioSettingsWindow::patchHasChanged() {
    reloadSummingTable();
    if (m.patchHasChanged)
        m.patchHasChanged();
}

// --- Actions -------------------------------------------------------------------------------------

void KOAudioSettingsWindow::addFilePlayer() {
    m.audioDevice->addFilePlayer();
    audioPropertiesChanged();
}

void KOAudioSettingsWindow::addNetReceive() {
    m.audioDevice->addNetReceive();
    audioPropertiesChanged();
}

void KOAudioSettingsWindow::addSignalGenerator() {
    m.audioDevice->addSignalGenerator();
    audioPropertiesChanged();
}

void KOAudioSettingsWindow::toggleFilePlayer() {
    KOAudioDevice& device = *m.audioDevice;
    if (koru::AuxInputWrapper* player = device.filePlayer()) {
        // Closed first, even when safe mode then keeps the player.
        if (auto* window = dynamic_cast<KOAuxInWrapper*>(player))
            window->close();
        device.removeFilePlayer();
    } else {
        device.addFilePlayer();
    }
    audioPropertiesChanged();
}

void KOAudioSettingsWindow::toggleNetReceive() {
    KOAudioDevice& device = *m.audioDevice;
    if (device.netReceive())
        device.removeNetReceive();
    else
        device.addNetReceive();
    audioPropertiesChanged();
}

void KOAudioSettingsWindow::toggleSignalGenerator() {
    KOAudioDevice& device = *m.audioDevice;
    if (device.signalGenerator())
        device.removeSignalGenerator();
    else
        device.addSignalGenerator();
    audioPropertiesChanged();
}

void KOAudioSettingsWindow::addSummingChannel() {
    m.audioDevice->addSummingChannel();
    reloadSummingTable();
    mAddSummingChannelButton->setEnabled(m.audioDevice->canAddSummingChannel());
}

void KOAudioSettingsWindow::removeSummingChannel() {
    const QModelIndexList rows = mSummingChannelsTable->selectionModel()->selectedRows();
    // No selection asks for a row past the end, which the device ignores.
    const auto row = rows.isEmpty() ? std::uint32_t(-1) : std::uint32_t(rows.first().row());
    m.audioDevice->removeSummingChannelAtIndex(row);
    reloadSummingTable();
    mAddSummingChannelButton->setEnabled(m.audioDevice->canAddSummingChannel());
}

void KOAudioSettingsWindow::launchAudioConfigurationApplication() {
    m.audioDevice->hardwareDevice().launchConfigurationApplication();
}

void KOAudioSettingsWindow::changeSampleRate() {
    const QVariant tag = mSampleRatePopUpMenu->currentData();
    if (tag.isValid())
        m.audioDevice->chooseNominalSampleRate(double(tag.toUInt()));
    // A refused rate puts the pop-up back on the device's.
    audioPropertiesChanged();
}

void KOAudioSettingsWindow::changeClockSource() {
    const QVariant tag = mClockSourcePopUpButton->currentData();
    if (tag.isValid())
        m.audioDevice->hardwareDevice().setClockSourceByID(tag.toUInt());
}

void KOAudioSettingsWindow::toggleSignalGeneratorMute() {
    if (KOSignalGeneratorWrapper* generator = generatorWindow(*m.audioDevice))
        generator->toggleMute();
}

void KOAudioSettingsWindow::signalGeneratorMuteStatusChanged(bool muted) {
    mToggleSigGenMuteItem->setChecked(muted);
}

void KOAudioSettingsWindow::shouldSetSigGenMuteStatus(bool mute) {
    if (KOSignalGeneratorWrapper* generator = generatorWindow(*m.audioDevice))
        generator->setMute(mute);
}

bool KOAudioSettingsWindow::postGrowlNotificationOnClip() const {
    return m.audioDevice->postGrowlNotificationOnClip();
}

void KOAudioSettingsWindow::setPostGrowlNotificationOnClip(bool post) {
    m.audioDevice->setPostGrowlNotificationOnClip(post);
}

bool KOAudioSettingsWindow::growlClipNotificationStaysOnScreen() const {
    return m.notifications && m.notifications->growlClipNotificationStaysOnScreen();
}

void KOAudioSettingsWindow::setGrowlClipNotificationStaysOnScreen(bool staysOnScreen) {
    if (m.notifications)
        m.notifications->setGrowlClipNotificationStaysOnScreen(staysOnScreen);
}
