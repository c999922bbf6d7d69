#include "meters/ui/KORecorderController.h"

#include "app/UiPrompter.h"
#include "engine/KOAudioDevice.h"
#include "framework/KOInstrumentWindow.h"
#include "framework/KOToolbarItemAdditions.h"
#include "meters/ui/KORecorderView.h"
#include "meters/ui/KORecordingsList.h"
#include "meters/ui/RBPatchView.h"
#include "platform/audiofile/AudioFormatServices.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/desktop/MainThread.h"
#include "platform/fourcc/FourCC.h"
#include "platform/log/Log.h"
#include "zotools/CAException.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QPainter>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QStorageInfo>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWidgetAction>

#include <algorithm>
#include <cmath>

namespace services = koru::platform::AudioFormatServices;
using koru::platform::fourCC;

namespace {

// New windows are "Recorder 1", "Recorder 2", … for the life of the process.
std::uint32_t gRecorderCounter = 1;
KORecordingsList* gRecordingsList = nullptr;
// Files being written by some recorder window, so a second one never erases them.
QStringList gPathsInUse;

QString key(const char* latin1) {
    return QString::fromLatin1(latin1);
}

QString formatName(std::uint32_t formatID) {
    if (formatID == kAudioFormatLinearPCM)
        return QStringLiteral("Linear PCM");
    if (formatID == fourCC("aac "))
        return QStringLiteral("AAC");
    if (formatID == fourCC("alac"))
        return QStringLiteral("Apple Lossless");
    return koru::platform::fourCCToString(formatID);
}

// The recorder's images, drawn here: the record button off and on, and the patch pull-down's.
QIcon recorderImage(const QString& name) {
    QImage image(32, 32, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    if (name == QLatin1String("patchicon")) {
        painter.setPen(QPen(QColor(200, 200, 200), 2));
        for (int k = 0; k < 4; ++k) {
            painter.drawLine(QPointF(6 + 6.5 * k, 5), QPointF(6 + 6.5 * k, 27));
            painter.drawLine(QPointF(5, 6 + 6.5 * k), QPointF(27, 6 + 6.5 * k));
        }
    } else {
        const bool on = name == QLatin1String("recbutton_on");
        painter.setPen(QPen(QColor(60, 60, 60), 2));
        painter.setBrush(on ? QColor(235, 30, 30) : QColor(120, 30, 30));
        painter.drawEllipse(QRectF(5, 5, 22, 22));
    }
    return QIcon(QPixmap::fromImage(image));
}

} // namespace

KORecorderController::KORecorderController()
    : mDefaults(koru::platform::UserDefaults::standardUserDefaults()) {
    mRecorderFactory = [](const RecorderRequest& r) {
        return std::make_unique<KORecorder>(r.path, r.fileType, r.map, r.bitRate, r.clientFormat,
                                            r.fileFormat);
    };
    mFreeSpaceProbe = [](const QString& folder) -> qint64 {
        const QStorageInfo storage(folder);
        return storage.isValid() ? storage.bytesAvailable() : -1;
    };
}

KORecorderController::~KORecorderController() {
    mErrorObserver.reset();
    if (mRecorderView)
        mRecorderView->setRedrawRate(0);
    if (mFormat)
        mDefaults.setObject(key(kLastFileFormatDefault), mFormat->dictionaryRepresentation());
    // A window that goes while recording still lists what it wrote.
    if (mRecorder)
        stopRecording(true);
}

void KORecorderController::setRecordingsList(KORecordingsList* list) {
    gRecordingsList = list;
}

KORecordingsList* KORecorderController::recordingsList() {
    return gRecordingsList;
}

// --- Window --------------------------------------------------------------------------------------

std::unique_ptr<QMainWindow> KORecorderController::buildWindow(const QString&) {
    auto window = std::make_unique<KOInstrumentWindow>();
    mActiveContentView = new QStackedWidget(window.get());
    window->setCentralWidget(mActiveContentView);

    mSettingsView = new QWidget(mActiveContentView);
    auto* outer = new QVBoxLayout(mSettingsView);
    outer->setContentsMargins(14, 10, 14, 8);
    auto* grid = new QGridLayout;
    outer->addLayout(grid);
    auto popUp = [this, grid](int row, const QString& caption, QLabel** label) {
        auto* text = new QLabel(caption, mSettingsView);
        text->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        if (label)
            *label = text;
        auto* box = new QComboBox(mSettingsView);
        box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        grid->addWidget(text, row, 0);
        grid->addWidget(box, row, 1, 1, 2);
        return box;
    };
    mFileFormatPopUp = popUp(0, QStringLiteral("File Format:"), nullptr);
    mDataFormatPopUp = popUp(1, QStringLiteral("Data Format:"), nullptr);
    mStreamFormatPopUp = popUp(2, QStringLiteral("Stream Format:"), &mStreamFormatLabel);
    mBitRatePopUp = popUp(3, QStringLiteral("Bit Rate:"), nullptr);
    grid->setColumnStretch(1, 1);

    mPatchPopUp = new QToolButton(mSettingsView);
    mPatchPopUp->setObjectName(QStringLiteral("Patch"));
    mPatchPopUp->setText(tr("Input Patch"));
    mPatchPopUp->setIcon(recorderImage(QStringLiteral("patchicon")));
    mPatchPopUp->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    mPatchPopUp->setPopupMode(QToolButton::InstantPopup);
    grid->addWidget(mPatchPopUp, 4, 1);
    mNonLinearCheckBox = new QCheckBox(QStringLiteral("Offer compressed formats"), mSettingsView);
    grid->addWidget(mNonLinearCheckBox, 4, 2);

    mNameLabel = new QLabel(mSettingsView);
    outer->addWidget(mNameLabel);
    mStatusLabel = new QLabel(mSettingsView);
    mStatusLabel->setObjectName(QStringLiteral("status"));
    mStatusLabel->setStyleSheet(QStringLiteral("color: rgb(255, 110, 90);"));
    mStatusLabel->setWordWrap(true);
    outer->addWidget(mStatusLabel);

    // The place of the recordings list, filled when the program has connected one.
    mRecordingsPanel = new QWidget(mSettingsView);
    mRecordingsPanel->setObjectName(QStringLiteral("recordings"));
    auto* panelLayout = new QVBoxLayout(mRecordingsPanel);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(mRecordingsPanel);
    double panelHeight = 0.0;
    if (gRecordingsList) {
        if (QWidget* panel = gRecordingsList->createPanel(mRecordingsPanel)) {
            panelLayout->addWidget(panel);
            panelHeight = std::max(120, panel->sizeHint().height());
        }
    }
    mRecordingsPanel->setVisible(panelHeight > 0.0);
    outer->addStretch(1);
    mSettingsSize = QSize(int(kSettingsWidth), int(kSettingsHeight + panelHeight));
    mActiveContentView->addWidget(mSettingsView);

    mRecorderView = new KORecorderView(mActiveContentView);
    mActiveContentView->addWidget(mRecorderView);

    connect(mFileFormatPopUp, &QComboBox::activated, this,
            &KORecorderController::changeAudioFileType);
    connect(mDataFormatPopUp, &QComboBox::activated, this, &KORecorderController::changeDataFormat);
    connect(mStreamFormatPopUp, &QComboBox::activated, this, [this](int index) {
        if (mFormat && mFormat->streamDescription() && mFormat->streamDescription()->isPCM())
            changeStreamDescription(index);
        else
            changeSampleRate(index);
    });
    connect(mBitRatePopUp, &QComboBox::activated, this, &KORecorderController::changeBitrate);
    connect(mNonLinearCheckBox, &QCheckBox::clicked, this,
            &KORecorderController::setSupportNonLinearPCM);
    return window;
}

QStringList KORecorderController::toolbarItemIdentifiers() const {
    return {key(kCounterItemIdentifier), key(kFlexibleSpaceItemIdentifier),
            key(kRecordItemIdentifier)};
}

QAction* KORecorderController::toolbarItemForItemIdentifier(const QString& identifier,
                                                            QObject* parent) {
    if (identifier == key(kCounterItemIdentifier)) {
        auto* item = new QWidgetAction(parent);
        item->setObjectName(identifier);
        mCounterItem = item;
        mCounterLabel = new QLabel(QStringLiteral("0:00"));
        mCounterLabel->setObjectName(identifier);
        QFont font = mCounterLabel->font();
        font.setPointSize(16);
        mCounterLabel->setFont(font);
        mCounterLabel->setMinimumWidth(90);
        item->setDefaultWidget(mCounterLabel);
        return item;
    }
    if (identifier == key(kRecordItemIdentifier)) {
        QToolButton* button = nullptr;
        QWidgetAction* item = KOToolbarItemAdditions::toolbarButtonItem(
            identifier, QStringLiteral("Record"), recorderImage(QStringLiteral("recbutton_off")),
            this, [this] { toggleRecording(); }, &button, parent);
        mRecordButton = button;
        return item;
    }
    return KOInstrumentControllerWithoutPanel::toolbarItemForItemIdentifier(identifier, parent);
}

void KORecorderController::initWithWindowNibName(const QString& nibName,
                                                 const QVariantMap* dictionary) {
    KOInstrumentControllerWithoutPanel::initWithWindowNibName(nibName, dictionary);
    createFileTypeHelper();
    const QSignalBlocker blocker(mNonLinearCheckBox);
    mNonLinearCheckBox->setChecked(mDefaults.boolForKey(key(kSupportNonLinearPCMDefault)));
    mRecorderView->setNumChannels(2);
    showSettings();
    mNumberChannels = 2;
    KOAudioDevice& device = KOAudioDevice::sharedAudioDevice();
    if (dictionary) {
        const QVariant format = dictionary->value(key(kAudioFileTypeKey));
        if (format.typeId() == QMetaType::QVariantMap)
            mFormat = std::make_unique<KOAudioFileTypeHelper>(mDefaults, format.toMap());
        mPatchMatrix = std::make_unique<RBPatchMatrix>(
            device.channelNamesArray(), dictionary->value(key(kPatchMatrixKey)).toMap(),
            [](std::uint32_t index) {
                return KOAudioDevice::sharedAudioDevice().nameForChannelAtIndex(index);
            });
        bool ok = false;
        const qlonglong saved = dictionary->value(key(kNumChannelsKey)).toLongLong(&ok);
        if (ok)
            mNumberChannels = std::uint32_t(
                std::clamp<qlonglong>(saved, 1, std::max<qlonglong>(1, maxNumberChannels())));
    } else {
        setName(QStringLiteral("Recorder %1").arg(gRecorderCounter++));
    }
    mErrorObserver = koru::platform::observeNotification(
        key(KOAudioDevice::kErrorOnIONotification), nullptr,
        [this](const koru::platform::Notification&) { recorderError(); });
    createMenus();
}

QVariantMap KORecorderController::dictionaryRepresentation() const {
    QVariantMap d = KOInstrumentControllerWithoutPanel::dictionaryRepresentation();
    if (mFormat)
        d.insert(key(kAudioFileTypeKey), mFormat->dictionaryRepresentation());
    d.insert(key(kNumChannelsKey), qint64(mNumberChannels));
    d.insert(key(kPatchMatrixKey), mPatchMatrix ? mPatchMatrix->dictionaryRepresentation()
                                                : RBPatchMatrix({}).dictionaryRepresentation());
    return d;
}

bool KORecorderController::showsSettings() const {
    return mActiveContentView->currentWidget() == mSettingsView;
}

void KORecorderController::showSettings() {
    if (mCounterItem)
        mCounterItem->setVisible(false);
    if (mRecordButton)
        mRecordButton->setIcon(recorderImage(QStringLiteral("recbutton_off")));
    mRecorderView->setRedrawRate(0);
    mActiveContentView->setCurrentWidget(mSettingsView);
    mActiveContentView->setMinimumSize(mSettingsSize);
    mActiveContentView->setMaximumSize(mSettingsSize);
    instrumentWindow()->adjustSize();
}

void KORecorderController::showRecorder() {
    if (mCounterItem)
        mCounterItem->setVisible(true);
    if (mRecordButton)
        mRecordButton->setIcon(recorderImage(QStringLiteral("recbutton_on")));
    const int n = int(mNumberChannels);
    mActiveContentView->setMinimumSize(250, std::min(120, 25 * n + 80));
    mActiveContentView->setMaximumSize(800, std::min(600, 45 * n + 80));
    mActiveContentView->setCurrentWidget(mRecorderView);
    mActiveContentView->resize(std::max(mActiveContentView->width(), 250),
                               std::clamp(mRecorderView->height(), std::min(120, 25 * n + 80),
                                          std::min(600, 45 * n + 80)));
    mRecorderView->setRedrawRate(15);
    instrumentWindow()->adjustSize();
}

// --- Settings ------------------------------------------------------------------------------------

KOAudioFileTypeHelper& KORecorderController::fileTypeHelper() {
    createFileTypeHelper();
    return *mFormat;
}

void KORecorderController::createFileTypeHelper() {
    if (mFormat)
        return;
    mFormat = std::make_unique<KOAudioFileTypeHelper>(
        mDefaults, mDefaults.dictionaryForKey(key(kLastFileFormatDefault)));
}

RBPatchMatrix* KORecorderController::patchMatrix() {
    if (!mPatchMatrix) {
        mPatchMatrix = std::make_unique<RBPatchMatrix>(
            KOAudioDevice::sharedAudioDevice().channelNamesArray(), [](std::uint32_t index) {
                return KOAudioDevice::sharedAudioDevice().nameForChannelAtIndex(index);
            });
    }
    return mPatchMatrix.get();
}

std::uint32_t KORecorderController::maxNumberChannels() const {
    return KOAudioDevice::sharedAudioDevice().totalNumberChannels();
}

std::vector<std::int32_t> KORecorderController::channelMap() {
    return patchMatrix()->channelMap(mNumberChannels);
}

void KORecorderController::setNumberChannels(std::uint32_t count) {
    mNumberChannels = std::max<std::uint32_t>(1, std::min(maxNumberChannels(), count));
    createMenus();
}

void KORecorderController::setSupportNonLinearPCM(bool support) {
    mDefaults.setBool(key(kSupportNonLinearPCMDefault), support);
    if (!support)
        fileTypeHelper().setFormatID(kAudioFormatLinearPCM);
    createMenus();
}

void KORecorderController::changeAudioFileType(int index) {
    fileTypeHelper().setAudioFileTypeID(mFileFormatPopUp->itemData(index).toUInt());
    mFormat->saveToUserDefaults();
    createMenus();
}

void KORecorderController::changeDataFormat(int index) {
    fileTypeHelper().setFormatID(mDataFormatPopUp->itemData(index).toUInt());
    mFormat->saveToUserDefaults();
    createMenus();
}

void KORecorderController::changeStreamDescription(int index) {
    fileTypeHelper().selectStreamDescriptionAtIndex(std::uint32_t(std::max(index, 0)));
    mFormat->saveToUserDefaults();
    createMenus();
}

void KORecorderController::changeSampleRate(int index) {
    fileTypeHelper().setSampleRate(mStreamFormatPopUp->itemData(index).toDouble());
    mFormat->saveToUserDefaults();
    createMenus();
}

void KORecorderController::changeBitrate(int index) {
    fileTypeHelper().setBitrate(mBitRatePopUp->itemData(index).toUInt());
    createMenus();
}

void KORecorderController::createMenus() {
    createFileTypeHelper();
    KOAudioFileTypeHelper& format = *mFormat;
    const std::uint32_t requested = mNumberChannels;
    std::vector<std::int32_t> map = channelMap();
    format.setChannelMap(map.data(), std::uint32_t(map.size()));
    mNumberChannels = std::max<std::uint32_t>(1, std::min(mNumberChannels, maxNumberChannels()));

    {
        const QSignalBlocker blocker(mFileFormatPopUp);
        mFileFormatPopUp->clear();
        for (std::uint32_t type : KOAudioFileTypeHelper::availableAudioFileTypeIDs()) {
            const KOAudioFileTypeHelper probe(mDefaults, type);
            const auto formats = probe.formatIDs();
            if (!formats || formats->empty())
                continue;
            const QStringList extensions = services::extensionsForType(type);
            mFileFormatPopUp->addItem(
                QStringLiteral("%1 (%2)").arg(services::fileTypeName(type), extensions.value(0)),
                type);
        }
        mFileFormatPopUp->setCurrentIndex(mFileFormatPopUp->findData(format.fileTypeID()));
    }
    {
        const QSignalBlocker blocker(mDataFormatPopUp);
        mDataFormatPopUp->clear();
        for (std::uint32_t id : format.formatIDs().value_or(std::vector<std::uint32_t>{}))
            mDataFormatPopUp->addItem(formatName(id), id);
        mDataFormatPopUp->setCurrentIndex(mDataFormatPopUp->findData(format.formatID()));
    }
    const auto description = format.streamDescription();
    {
        const QSignalBlocker blocker(mStreamFormatPopUp);
        mStreamFormatPopUp->clear();
        if (description && description->isPCM()) {
            mStreamFormatLabel->setText(QStringLiteral("Stream Format:"));
            for (const auto& each :
                 format.streamDescriptions().value_or(std::vector<ZOAudioStreamDescription>{}))
                mStreamFormatPopUp->addItem(each.nameOmittingChannelInfo());
            mStreamFormatPopUp->setCurrentIndex(int(format.indexOfSelectedStreamDescription()));
        } else {
            mStreamFormatLabel->setText(QStringLiteral("Sample Rate"));
            // Compressed files are encoded at the device's rate (nothing resamples the input),
            // so that is the one rate there is to offer.
            const double rate = KOAudioDevice::sharedAudioDevice().nominalSampleRate();
            if (description && rate > 0.0 && format.sampleRate() != rate)
                format.setSampleRate(rate);
            if (description) {
                const auto tag = qint64(format.sampleRate());
                mStreamFormatPopUp->addItem(QStringLiteral("%1 Hz").arg(tag), double(tag));
                mStreamFormatPopUp->setCurrentIndex(0);
            }
        }
    }
    {
        const QSignalBlocker blocker(mBitRatePopUp);
        mBitRatePopUp->clear();
        mBitRatePopUp->setEnabled(false);
        std::vector<std::int32_t> requestedMap = patchMatrix()->channelMap(requested);
        format.setChannelMap(requestedMap.data(), std::uint32_t(requestedMap.size()));
        for (std::uint32_t rate : format.bitrates()) {
            mBitRatePopUp->addItem(QStringLiteral("%1 bps").arg(rate), rate);
            mBitRatePopUp->setEnabled(true);
        }
        format.setChannelMap(map.data(), std::uint32_t(map.size()));
        mBitRatePopUp->setCurrentIndex(mBitRatePopUp->findData(format.bitrate()));
    }
    rebuildPatchMenu();
    format.setBitrate(mBitRatePopUp->currentIndex() >= 0 ? mBitRatePopUp->currentData().toUInt()
                                                         : 0);

    QString readable = services::fileTypeName(format.fileTypeID());
    if (description && description->isPCM()) {
        readable +=
            QStringLiteral(" %1-bit %2")
                .arg(description->bitDepth())
                .arg((description->streamDescription().mFormatFlags & kAudioFormatFlagIsFloat)
                         ? QStringLiteral("Float")
                         : QStringLiteral("Integer"));
    } else if (description) {
        readable += QStringLiteral(" ") + formatName(format.formatID());
        if (format.bitrate() > 0)
            readable += QStringLiteral(" %1 kbps").arg(format.bitrate() / 1000);
    }
    mNameLabel->setText(QStringLiteral("%1 Channel %2").arg(mNumberChannels).arg(readable));
}

void KORecorderController::rebuildPatchMenu() {
    auto* menu = new QMenu(tr("Patch"), mPatchPopUp);
    QAction* title = menu->addAction(recorderImage(QStringLiteral("patchicon")), tr("Input Patch"));
    title->setEnabled(false);
    QMenu* channels = menu->addMenu(QStringLiteral("Number of Channels"));
    channels->setTitle(QStringLiteral("Number of Channels"));
    channels->setObjectName(QStringLiteral("Channels:"));
    const std::uint32_t max = maxNumberChannels();
    std::vector<std::uint32_t> counts;
    if (const auto description = fileTypeHelper().streamDescription()) {
        for (std::uint32_t value : description->availableEncodeNumberChannels()) {
            if (value == services::kAnyNumberOfChannels) {
                for (std::uint32_t n = 1; n <= max; ++n)
                    counts.push_back(n);
            } else if (value <= max) {
                counts.push_back(value);
            }
        }
    }
    for (std::uint32_t n : counts) {
        QAction* item = channels->addAction(QString::number(n));
        item->setData(n);
        item->setCheckable(true);
        item->setChecked(n == mNumberChannels);
        connect(item, &QAction::triggered, this, [this, n] { setNumberChannels(n); });
    }
    menu->addSeparator();
    auto* matrixItem = new QWidgetAction(menu);
    matrixItem->setText(QStringLiteral("Matrix"));
    auto* grid = new RBPatchView;
    grid->setDelegate(this);
    matrixItem->setDefaultWidget(grid);
    menu->addAction(matrixItem);

    QMenu* old = mPatchPopUp->menu();
    mPatchPopUp->setMenu(menu);
    // The old menu may be the one whose item is running this rebuild.
    if (old)
        old->deleteLater();
}

QMenu* KORecorderController::patchMenu() const {
    return mPatchPopUp->menu();
}

RBPatchView* KORecorderController::patchView() const {
    QMenu* menu = patchMenu();
    if (!menu)
        return nullptr;
    for (QAction* action : menu->actions())
        if (auto* item = qobject_cast<QWidgetAction*>(action))
            if (auto* grid = qobject_cast<RBPatchView*>(item->defaultWidget()))
                return grid;
    return nullptr;
}

void KORecorderController::audioPropertiesChanged() {
    // The user's patch survives; only a device whose channels are named differently makes the
    // matrix again, from its own entries, with the new names.
    if (mPatchMatrix) {
        const QStringList names = KOAudioDevice::sharedAudioDevice().channelNamesArray();
        if (names != mPatchMatrix->channelNames()) {
            const QVariantMap entries = mPatchMatrix->dictionaryRepresentation();
            mPatchMatrix = std::make_unique<RBPatchMatrix>(names, entries, [](std::uint32_t i) {
                return KOAudioDevice::sharedAudioDevice().nameForChannelAtIndex(i);
            });
        }
    }
    if (mFormat) {
        mDefaults.setObject(key(kLastFileFormatDefault), mFormat->dictionaryRepresentation());
        mFormat.reset();
    }
    if (mNameLabel)
        createMenus();
    KOInstrumentControllerWithoutPanel::audioPropertiesChanged();
}

// --- Recording -----------------------------------------------------------------------------------

void KORecorderController::toggleRecording() {
    if (mRecorder)
        stopRecording();
    else
        startRecording();
}

void KORecorderController::startRecording() {
    const QStringList extensions = fileTypeHelper().fileExtensions();
    koru::FilePanel panel;
    panel.title = QStringLiteral("Record to File");
    panel.directory = mDefaults.stringForKey(key(kPathDefault));
    panel.suggestedName = extensions.isEmpty()
                              ? QStringLiteral("Recording")
                              : QStringLiteral("Recording.%1").arg(extensions.front());
    QStringList patterns;
    for (const QString& extension : extensions)
        patterns << QStringLiteral("*.%1").arg(extension);
    panel.nameFilters << QStringLiteral("%1 (%2)").arg(
        services::fileTypeName(mFormat->fileTypeID()), patterns.join(QLatin1Char(' ')));
    panel.defaultSuffix = extensions.value(0);
    const std::optional<QString> chosen = koru::uiPrompter().runSavePanel(panel);
    if (!chosen || chosen->isEmpty())
        return;
    QString path = QFileInfo(*chosen).absoluteFilePath();
    if (!extensions.isEmpty() &&
        !extensions.contains(QFileInfo(path).suffix(), Qt::CaseInsensitive))
        path += QLatin1Char('.') + extensions.front();
    mDefaults.setString(key(kPathDefault), QFileInfo(path).absolutePath());
    mDefaults.setString(key(kLastFileNameDefault), path);
    if (!checkTarget(path))
        return;
    createRecorder(path);
}

void KORecorderController::refuse(const QString& text) {
    mStatusLabel->setText(text);
    koru::Alert alert;
    alert.messageText = QStringLiteral("Error creating Recorder!");
    alert.informativeText = text;
    koru::uiPrompter().runModal(alert);
}

bool KORecorderController::checkTarget(const QString& path) {
    const QFileInfo file(path);
    const QFileInfo folder(file.absolutePath());
    if (gPathsInUse.contains(file.absoluteFilePath())) {
        refuse(QStringLiteral("\"%1\" is being recorded by another recorder. Choose another "
                              "name.")
                   .arg(file.fileName()));
        return false;
    }
    if (!folder.isDir() || !folder.isWritable() || (file.exists() && !file.isWritable())) {
        refuse(QStringLiteral("The folder \"%1\" cannot be written to. Choose another folder.")
                   .arg(QDir::toNativeSeparators(folder.absoluteFilePath())));
        return false;
    }
    const qint64 freeBytes = mFreeSpaceProbe ? mFreeSpaceProbe(folder.absoluteFilePath()) : -1;
    if (freeBytes >= 0 && freeBytes < kMinimumFreeBytes) {
        refuse(QStringLiteral("The disk holding \"%1\" is full (%2 MB free). Free some space or "
                              "choose another folder.")
                   .arg(QDir::toNativeSeparators(folder.absoluteFilePath()))
                   .arg(freeBytes / (1024 * 1024)));
        return false;
    }
    return true;
}

void KORecorderController::createRecorder(const QString& path) {
    KOAudioDevice& device = KOAudioDevice::sharedAudioDevice();
    createMenus();
    RecorderRequest request;
    request.path = path;
    request.fileType = mFormat->fileTypeID();
    request.map = channelMap();
    request.bitRate = mFormat->bitrate();
    request.clientFormat = device.deviceFormat();
    const auto description = mFormat->streamDescription();
    const double rate = device.nominalSampleRate();
    try {
        if (!description || request.map.empty() || rate <= 0.0)
            throw CAException(2);
        mRecorderView->setNumChannels(std::uint32_t(request.map.size()));
        ZOAudioStreamDescription fileFormat = *description;
        if (fileFormat.isPCM())
            fileFormat.setSampleRate(0.0); // the recorder takes the device's rate
        fileFormat.setNumberChannels(std::uint32_t(request.map.size()));
        request.fileFormat = fileFormat;
        std::unique_ptr<KORecorder> made = mRecorderFactory(request);
        mPeakScratch.assign(request.map.size(), 0.0f);
        {
            const std::lock_guard lock(dataCollectionLock());
            mRecorder = std::move(made);
        }
    } catch (const CAException& failure) {
        const koru::Alert alert{
            QStringLiteral("Error creating Recorder!"),
            QStringLiteral("An error occurred when trying to create the recorder. Maybe try an "
                           "other format.\nError %1")
                .arg(qint64(failure.GetError())),
            QStringLiteral("OK"),
            {}};
        mStatusLabel->setText(alert.informativeText);
        koru::uiPrompter().runModal(alert);
        return;
    }
    mRecordingPath = path;
    gPathsInUse << QFileInfo(path).absoluteFilePath();
    mStatusLabel->clear();
    mSampleRate = rate;
    mFailureQueued.store(false);
    device.addInputClient(mRecorder.get());
    showRecorder();
    mRecordedSeconds.store(0);
    updateCounter();
    setSticky(true);
    addToDataCollectorThread();
    koru::log::info("recording to {}", path.toStdString());
}

void KORecorderController::stopRecording(bool tearingDown) {
    if (!mRecorder)
        return;
    const QString path = mRecorder->FileURL();
    std::unique_ptr<KORecorder> finished;
    {
        const std::lock_guard lock(dataCollectionLock());
        finished = std::move(mRecorder);
    }
    // Removes the client, finishes the file and leaves safe mode.
    finished.reset();
    gPathsInUse.removeAll(QFileInfo(path).absoluteFilePath());
    if (gRecordingsList)
        gRecordingsList->addRecording(path);
    else
        koru::log::info("recorded {}", path.toStdString());
    if (tearingDown)
        return;
    showSettings();
    setSticky(false);
    removeFromDataCollectorThread();
}

void KORecorderController::dataCollection() {
    KORecorder* recorder = mRecorder.get();
    if (!recorder || mSampleRate <= 0.0)
        return;
    const std::uint32_t n =
        std::min<std::uint32_t>(recorder->ChannelCount(), std::uint32_t(mPeakScratch.size()));
    for (std::uint32_t k = 0; k < n; ++k)
        mPeakScratch[k] = recorder->Peak(k);
    mRecorderView->setPeakSamples(mPeakScratch.data(), n);
    const auto seconds = std::uint64_t(double(recorder->FramesWritten()) / mSampleRate);
    if (seconds != mRecordedSeconds.load(std::memory_order_relaxed)) {
        mRecordedSeconds.store(seconds, std::memory_order_relaxed);
        koru::platform::postToMainThread(this, [this] { updateCounter(); });
    }
    // The notification may be coalesced with another failure's: the flag itself is the truth.
    if (recorder->WriteFailed() && !mFailureQueued.exchange(true))
        koru::platform::postToMainThread(this, [this] { recorderError(); });
}

QString KORecorderController::counterText(std::uint64_t seconds) {
    const std::uint64_t s = seconds % 60;
    if (seconds < 3600)
        return QStringLiteral("%1:%2").arg(seconds / 60).arg(s, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600)
        .arg((seconds / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(s, 2, 10, QLatin1Char('0'));
}

void KORecorderController::updateCounter() {
    if (mCounterLabel)
        mCounterLabel->setText(counterText(mRecordedSeconds.load(std::memory_order_relaxed)));
}

void KORecorderController::recorderError() {
    // The notification names no recorder: only this window's own failure counts.
    if (!mRecorder || !mRecorder->WriteFailed())
        return;
    const QString name = QFileInfo(mRecorder->FileURL()).fileName();
    stopRecording();
    mStatusLabel->setText(
        QStringLiteral("Writing \"%1\" failed; the recording stopped. What was written before "
                       "is kept.")
            .arg(name));
    koru::Alert alert;
    alert.messageText = QStringLiteral("Error in Recorder");
    alert.informativeText = QStringLiteral("An unknown error occurred when recording.");
    koru::uiPrompter().runModal(alert);
}

bool KORecorderController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == instrumentWindow() && event->type() == QEvent::Close && mRecorder) {
        koru::Alert alert;
        alert.messageText = tr("Really Quit Recorder?");
        alert.informativeText = tr("The recording will be stopped when the recorder window is "
                                   "closed.");
        alert.defaultButton = tr("Cancel");
        alert.alternateButton = tr("Yes");
        if (koru::uiPrompter().runModal(alert) != koru::AlertPresenter::Response::Alternate) {
            event->ignore();
            return true;
        }
        stopRecording();
    }
    return KOInstrumentControllerWithoutPanel::eventFilter(watched, event);
}
