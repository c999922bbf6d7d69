#include "app/ui/KOAppController.h"

#include "app/BuildStamp.h"
#include "app/InstrumentRegistry.h"
#include "app/KOGrowlNotificationCenter.h"
#include "app/KOPreferences.h"
#include "app/UiPrompter.h"
#include "app/UserGuide.h"
#include "app/ui/KOAudioSettingsWindow.h"
#include "app/ui/KOColourPanelCloser.h"
#include "app/ui/KOInstrumentTables.h"
#include "app/ui/KOMainToolbar.h"
#include "app/ui/KOPreferencesWindow.h"
#include "app/ui/KOShortcutRecorder.h"
#include "app/ui/KOWindowNavigation.h"
#include "app/ui/KOWorkspaceEditor.h"
#include "engine/KOAudioDevice.h"
#include "framework/ColourWell.h"
#include "framework/KOFullscreenWindow.h"
#include "framework/KOInstrumentController.h"
#include "framework/KOInstrumentWindow.h"
#include "inputpatch/ui/KOInputPatchController.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/desktop/MainThread.h"
#include "platform/dispatch/KOBackgroundQueue.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/log/Log.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/paths/Paths.h"
#include "spl/KOCalibrationStore.h"
#include "spl/KOSplDocuments.h"
#include "utility/BundleInfo.h"
#include "utility/KODistanceFormatter.h"
#include "utility/VEAppStatisticsHelper.h"
#include "utility/VEDate.h"
#include "utility/VEString.h"
#include "utility/ui/KOInfoPanel.h"
#include "utility/ui/VEColorWellCell.h"
#include "utility/ui/WindowFrame.h"
#include "zotools/ui/ZOAudioInputDeviceMenu.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTableView>
#include <QThread>

#include <algorithm>
#include <exception>
#include <future>

using koru::Session;
using koru::Workspaces;

namespace {

QString text(const char* latin1) {
    return QString::fromLatin1(latin1);
}

std::string utf8(const QString& value) {
    return value.toStdString();
}

constexpr std::array<qint64, 5> kFrequencyDetailsSizes{10, 12, 14, 18, 24};

} // namespace

const std::array<KOAppController::InstrumentKind, 10> KOAppController::kInstrumentKinds{{
    {"KOFFTController", "Spectrum Analyser"},
    {"KOTransferController", "Transfer Function"},
    {"KOSpectralHistoryController", "Spectral History"},
    {"KOGoniometerController", "Goniometer"},
    {"KODeviceInPPMController", "Input PPM"},
    {"KORecorderController", "Recorder"},
    {"KOLevelHistoryController", "Level History"},
    {"KOSplController", "SPL Meter"},
    {"KONetSendController", "Network Send"},
    {"KOOscilloscopeController", "Oscilloscope"},
}};

KOAppController::Services KOAppController::programServices() {
    Services services;
    services.defaults = &koru::platform::UserDefaults::standardUserDefaults();
    services.preferences = &KOPreferences::sharedPreferences();
    services.audioDevice = &KOAudioDevice::sharedAudioDevice();
    services.registry = &koru::InstrumentRegistry::shared();
    services.backgroundQueue = KOBackgroundQueue();
    services.notifications = &KOGrowlNotificationCenter::sharedGrowlCenter();
    services.switcher = &KOInstrumentSwitcher::sharedInstrumentSwitcher();
    services.calibrations = &KOCalibrationStore::sharedStore();
    return services;
}

KOAppController::KOAppController(Services services)
    : ZOAppDelegate(services.bus), m(std::move(services)), mInstrumentList(*m.registry, *this),
      mSession(*this), mWorkspaces(mSession) {
    const koru::utility::BundleInfo& bundle = koru::utility::BundleInfo::mainBundle();
    koru::log::info("Hi! Here is KORU {} ({}) Build date: {} {}",
                    utf8(bundle.version.value_or(QStringLiteral("(null)"))),
                    utf8(bundle.shortVersion.value_or(QStringLiteral("(null)"))), koru::buildDate(),
                    koru::buildTime());

    buildMainWindow();
    buildMenus();
    if (m.defaults->boolForKey(text(kInfoPanelVisibleDefault)))
        KOInfoPanel::sharedInfoPanel().show();

    if (m.notifications) {
        m.audioDevice->setNotifier(m.notifications);
        m.notifications->setClipIndicatorReset([this] { resetPPMClipIndicators(); });
    }
    if (m.switcher)
        m.switcher->setDelegate(this);
    mFullScreen = std::make_unique<KOFullScreenMode>([this] { return mMainWindow.get(); },
                                                     [this] { bringFrontAllInstrumentWindows(); });
    mColourPanelCloser = std::make_unique<KOColourPanelCloser>(*m.preferences);
    mColourPanelCloser->watch(koru::framework::ColourWell::sharedColourPanel());
    mColourPanelCloser->watch(VEColorWellCell::sharedColorPanel());

    // Started once start-up is over: before that there is nothing to save.
    mAutosaveTimer.setInterval(kAutosaveInterval);
    connect(&mAutosaveTimer, &QTimer::timeout, this, &KOAppController::autosave);
    mDeactivationTimer.setSingleShot(true);
    mDeactivationTimer.setInterval(kDeactivationDebounceMs);
    connect(&mDeactivationTimer, &QTimer::timeout, this,
            &KOAppController::applicationDidResignActive);

    mMainWindow->show();
}

KOAppController::~KOAppController() {
    mAutosaveTimer.stop();
    if (m.switcher)
        m.switcher->setDelegate(nullptr);
    if (m.notifications) {
        m.notifications->setClipIndicatorReset({});
        m.audioDevice->setNotifier(nullptr);
    }
    setInstrumentMenu(nullptr);
    mFullScreen->exitFullScreenMode();
}

// --- Start-up ------------------------------------------------------------------------------------

void KOAppController::buildMainWindow() {
    mMainWindow = std::make_unique<QMainWindow>();
    mMainWindow->setWindowTitle(QStringLiteral("KORU"));
    mMainWindow->installEventFilter(this);

    KOInstrumentTables::Actions tableActions;
    tableActions.restoreRecentInstrument = [this](qint64 row) { restoreRecentInstrument(row); };
    mTables = new KOInstrumentTables(mInstrumentList, std::move(tableActions), mMainWindow.get());
    mMainWindow->setCentralWidget(mTables);
    mMainWindow->resize(640, 400);
}

QAction* KOAppController::addApplicationAction(QMenu* menu, const QString& title,
                                               const QKeySequence& shortcut,
                                               std::function<void()> action) {
    QAction* item = menu->addAction(title);
    item->setShortcut(shortcut);
    item->setShortcutContext(Qt::ApplicationShortcut);
    connect(item, &QAction::triggered, this, [action = std::move(action)] { action(); });
    if (!shortcut.isEmpty())
        mShortcutActions.append(item);
    return item;
}

void KOAppController::buildMenus() {
    QMenuBar* bar = mMainWindow->menuBar();

    QMenu* application = bar->addMenu(QStringLiteral("KORU"));
    auto* preferencesWindow = new KOPreferencesWindow(*m.preferences, mMainWindow.get());
    QAction* preferencesItem =
        addApplicationAction(application, tr("Preferences…"), QKeySequence::Preferences,
                             [preferencesWindow] { preferencesWindow->showWindow(); });
    preferencesItem->setMenuRole(QAction::PreferencesRole);
    if (m.showServerSettings) {
        // The shortcut lets the server be reached without a pointer, as on a headless stand.
        addApplicationAction(application, tr("SPL Server…"),
                             QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_W),
                             [show = m.showServerSettings] { show(); });
    }
    application->addSeparator();
    QAction* quitItem = addApplicationAction(application, tr("Quit KORU"), QKeySequence::Quit,
                                             [this] { terminate(); });
    quitItem->setMenuRole(QAction::QuitRole);

    QMenu* file = bar->addMenu(tr("File"));
    addApplicationAction(file, tr("Open Session…"), QKeySequence::Open, [this] { openDocument(); });
    file->addSeparator();
    addApplicationAction(file, tr("Save Session"), QKeySequence::Save, [this] { saveDocument(); });
    addApplicationAction(file, tr("Save Session As…"), QKeySequence::SaveAs,
                         [this] { saveDocumentAs(); });
    addApplicationAction(file, tr("Revert to Saved"), {}, [this] { revertDocumentToSaved(); });

    QMenu* view = bar->addMenu(tr("View"));
    mDistancesMenu = view->addMenu(tr("Distance Unit"));
    mFrequencyDetailsSizeMenu = view->addMenu(tr("Frequency Details"));

    QMenu* audio = bar->addMenu(tr("Audio"));
    addApplicationAction(audio, tr("Audio Settings…"), {}, [this] { showAudioSettingsWindow(); });
    addApplicationAction(audio, tr("Input Patch…"), {}, [this] { showInputPatchWindow(); });
    mAudioDeviceMenu = new ZOAudioInputDeviceMenu(
        [this](std::uint32_t deviceID) { setAudioDeviceID(deviceID); }, audio);
    audio->addMenu(mAudioDeviceMenu);
    audio->addSeparator();
    addApplicationAction(audio, tr("Add File Player"), {},
                         [this] { m.audioDevice->addFilePlayer(); });
    addApplicationAction(audio, tr("Add Net Receive"), {},
                         [this] { m.audioDevice->addNetReceive(); });
    addApplicationAction(audio, tr("Add Signal Generator"), {},
                         [this] { m.audioDevice->addSignalGenerator(); });
    KOAudioSettingsWindow::Services settings;
    settings.audioDevice = m.audioDevice;
    settings.notifications = m.notifications;
    settings.chooseDevice = [this](std::uint32_t deviceID) { setAudioDeviceID(deviceID); };
    settings.patchHasChanged = [this] {
        for (const auto& instrument : mInstrumentList.instruments())
            instrument->patchHasChanged();
    };
    mAudioSettingsWindow = std::make_unique<KOAudioSettingsWindow>(std::move(settings));
    audio->addAction(mAudioSettingsWindow->toggleSigGenMuteSeparatorItem());
    audio->addAction(mAudioSettingsWindow->toggleSigGenMuteItem());

    mAddInstrumentMenu = bar->addMenu(tr("Instruments"));
    for (const InstrumentKind& kind : kInstrumentKinds) {
        const QString typeName = text(kind.typeName);
        if (m.registry->contains(typeName))
            addApplicationAction(mAddInstrumentMenu, tr(kind.title), {},
                                 [this, typeName] { addInstrument(typeName); });
    }
    mAddInstrumentMenu->setEnabled(!mAddInstrumentMenu->isEmpty());

    // The current instrument's menu goes in before this one.
    mWorkspacesMenu = bar->addMenu(tr("Workspaces"));

    QMenu* window = bar->addMenu(tr("Window"));
    addApplicationAction(window, tr("Main Window"), QKeySequence(Qt::CTRL | Qt::Key_0), [this] {
        mMainWindow->show();
        mMainWindow->raise();
        mMainWindow->activateWindow();
    });
    addApplicationAction(window, tr("Info Panel"), {}, [] {
        KOInfoPanel& panel = KOInfoPanel::sharedInfoPanel();
        panel.show();
        panel.raise();
    });
    // Windows of the subsystems, such as the SPL logs.
    for (const auto& command : m.registry->windowCommands())
        addApplicationAction(window, command.title, {}, command.show);
    window->addSeparator();
    mFullScreenAction = addApplicationAction(window, tr("Full Screen"), QKeySequence::FullScreen,
                                             [this] { toggleFullscreenMode(); });
    mFullScreenAction->setCheckable(true);
    addApplicationAction(window, tr("Bring All to Front"), {},
                         [this] { bringFrontAllInstrumentWindows(); });

    QMenu* help = bar->addMenu(tr("Help"));
    addApplicationAction(help, tr("KORU User Guide"), QKeySequence::HelpContents,
                         [this] { showUserManual(); });
}

void KOAppController::buildDisplaySettingMenus() {
    const std::uint32_t unit = distanceFormat();
    for (const std::uint32_t each : KODistanceFormatter::allUnits()) {
        QAction* item = mDistancesMenu->addAction(KODistanceFormatter::unitNameForUnit(each));
        item->setData(each);
        item->setCheckable(true);
        item->setChecked(each == unit);
        connect(item, &QAction::triggered, this, [this, each] { changeDistanceFormat(each); });
    }

    const auto addSize = [this](const QString& title, qint64 size) {
        QAction* item = mFrequencyDetailsSizeMenu->addAction(title);
        item->setData(size);
        item->setCheckable(true);
        connect(item, &QAction::triggered, this, [this, size] { changeFreqDetails(size); });
    };
    addSize(tr("Hidden"), 0);
    mFrequencyDetailsSizeMenu->addSeparator();
    for (const qint64 size : kFrequencyDetailsSizes)
        addSize(QStringLiteral("%1 pt").arg(size), size);
    const qint64 current = getFrequencyDetailsSize();
    for (QAction* item : mFrequencyDetailsSizeMenu->actions())
        if (!item->isSeparator())
            item->setChecked(item->data().toLongLong() == current);
}

void KOAppController::setupToolbar() {
    mAudioSettingsTBMenu = new QMenu(tr("Audio Settings"), mMainWindow.get());
    mAudioSettingsTBMenu->addMenu(mAudioDeviceMenu);
    mAudioSettingsTBMenu->addAction(tr("Audio Settings…"), this,
                                    [this] { showAudioSettingsWindow(); });
    KOMainToolbar::Actions actions;
    actions.addInstrument = [this](const QString& typeName) { addInstrument(typeName); };
    actions.offersInstrument = [this](const QString& typeName) {
        return m.registry->contains(typeName);
    };
    actions.showAudioSettingsWindow = [this] { showAudioSettingsWindow(); };
    actions.addInstrumentMenu = mAddInstrumentMenu;
    actions.audioSettingsMenu = mAudioSettingsTBMenu;
    mMainToolbar = new KOMainToolbar(std::move(actions), *m.defaults, mMainWindow.get());
    mMainWindow->addToolBar(Qt::TopToolBarArea, mMainToolbar);
}

void KOAppController::showAudioSettingsWindow() {
    attachShortcutActions(*mAudioSettingsWindow);
    mAudioSettingsWindow->showAudioSettingsWindow();
}

void KOAppController::awakeFromNib() {
    setupToolbar();
    // Posted from any thread.
    mReloadObserver = koru::platform::observeNotification(
        text(KOAudioDevice::kReloadAudioPropNotification), nullptr,
        [this](const koru::platform::Notification&) {
            koru::platform::postToMainThread(this, [this] { audioPropertiesChanged(); });
        });

    restoreLastSession();
    buildDisplaySettingMenus();

    // Restored instruments asked the device for its rate already; it answers before it starts.
    m.audioDevice->start();
    audioPropertiesChanged();
    reloadTables();
    rebuildWorkspacesMenu();

    keepSystemAlive();
    mAutosaveTimer.start();
    keepAWindowVisibleLater();
    mStartedUp = true;
    if (mTerminationRequested)
        QMetaObject::invokeMethod(
            this, [this] { terminate(); }, Qt::QueuedConnection);
}

void KOAppController::restoreLastSession() {
    const QString uidKey = text(Session::kLastAudioDeviceUIDDefault);
    const QVariant uidValue = m.defaults->objectForKey(uidKey);
    const std::optional<QString> uid =
        uidValue.isValid() ? std::optional<QString>(m.defaults->stringForKey(uidKey))
                           : std::nullopt;
    const QString name =
        uid ? Session::sessionNameForUID(uid) : text(Session::kLastSessionFileName);
    const koru::SessionRead read = Session::readAutomaticSession(name);
    if (!read.error.isEmpty())
        koru::log::error("last session {} could not be read: {}", utf8(name), utf8(read.error));

    if (read.dictionary) {
        koru::log::info("found last session with UID {}",
                        utf8(uid.value_or(QStringLiteral("(null)"))));
        const QVariant fileID = read.dictionary->value(text(Session::kSessionIDKey));
        const QVariant storedID = m.defaults->objectForKey(text(Session::kLastSessionIDDefault));
        const bool consistent = fileID.typeId() == QMetaType::QString &&
                                storedID.typeId() == QMetaType::QString &&
                                fileID.toString() == storedID.toString();
        bool load = true;
        if (!consistent) {
            koru::log::info(
                "last session UID {} does not match session UID in preferences {}",
                utf8(fileID.isValid() ? fileID.toString() : QStringLiteral("(null)")),
                utf8(storedID.isValid() ? storedID.toString() : QStringLiteral("(null)")));
            koru::Alert alert;
            alert.messageText = QStringLiteral("Inconsistent Session");
            alert.defaultButton = QStringLiteral("Load");
            alert.alternateButton = QStringLiteral("Do not load");
            alert.informativeText = QStringLiteral(
                "KORU did not quit regulary. Do you want to try to load the last session file?");
            load = koru::uiPrompter().runModal(alert) == koru::AlertPresenter::Response::Default;
        }
        if (load && m.preferences->shouldLoadLastSession()) {
            koru::log::info("I will try restore the last session from {}.", utf8(name));
            mSession.loadSessionFromDictionary(read.dictionary, false);
        }
    }

    // Written at once: a crash from here on leaves a file whose ID differs.
    m.defaults->setString(text(Session::kLastSessionIDDefault), VEString::uuidString());
}

void KOAppController::applicationDidFinishLaunching() {
    VEAppStatisticsHelper::sharedHelper().start();
}

// --- Automatic session ---------------------------------------------------------------------------

QString KOAppController::automaticSessionPath() const {
    return QDir(koru::platform::applicationSupportDirectory())
        .filePath(mSession.sessionAutosaveName());
}

void KOAppController::autosave() {
    keepSystemAlive();
    // The store locks itself; its own failures are logged where they happen.
    if (KOCalibrationStore* calibrations = m.calibrations)
        m.backgroundQueue->async([calibrations] { calibrations->saveCalibrationRepo(); });
    if (mInstrumentList.instruments().empty() && mInstrumentList.recentInstruments().isEmpty())
        return;
    koru::AutomaticSession snapshot;
    QString name;
    try {
        snapshot = mSession.automaticSessionSnapshot();
        name = mSession.sessionAutosaveName();
    } catch (const std::exception& error) {
        koru::log::info("exception during autosave:\n{}", error.what());
        return;
    }
    // The snapshot is a copy: the queue never touches the main thread's objects.
    koru::platform::UserDefaults* defaults = m.defaults;
    m.backgroundQueue->async([snapshot = std::move(snapshot), name, defaults] {
        try {
            Session::writeAutomaticSession(snapshot, name, *defaults);
        } catch (const std::exception& error) {
            koru::log::info("exception during autosave:\n{}", error.what());
        }
    });
}

// --- Quitting ------------------------------------------------------------------------------------

void KOAppController::requestTermination() {
    if (!mStartedUp) {
        mTerminationRequested = true;
        return;
    }
    terminate();
}

bool KOAppController::terminate() {
    if (mTerminated)
        return true;
    if (!applicationShouldTerminate())
        return false;
    applicationWillTerminate();
    quit();
    return true;
}

bool KOAppController::applicationShouldTerminate() {
    if (!m.audioDevice->inSafeMode())
        return true;
    koru::Alert alert;
    alert.messageText = text(kNotRecordingTitle);
    alert.informativeText = QStringLiteral(
        "KORU is currently recording and can't quit!\nStop all recorders and try again");
    alert.defaultButton = QStringLiteral("Cancel");
    koru::uiPrompter().runModal(alert);
    return false;
}

void KOAppController::applicationWillTerminate() {
    mTerminated = true;
    // No autosave may run after, or alongside, the last write: its new session ID would not
    // match the file left behind, and the next start would ask about an inconsistent session.
    mAutosaveTimer.stop();
    if (!m.backgroundQueue->drain(kQuitDrainTimeout))
        koru::log::warn("background work still running at quit; not waiting longer");

    if (m.notifications)
        m.notifications->cleanUp();
    std::vector<KOInstrumentController*> open;
    for (const auto& instrument : mInstrumentList.instruments())
        open.push_back(instrument.get());
    for (KOInstrumentController* instrument : open)
        instrument->applicationWillStop();
    m.defaults->setBool(text(kInfoPanelVisibleDefault), KOInfoPanel::sharedInfoPanel().isVisible());
    m.audioDevice->stop();

    const QString path = automaticSessionPath();
    try {
        mSession.saveCurrentSessionToFileInApplicationSupportDirectory(
            mSession.sessionAutosaveName(), *m.defaults);
    } catch (const std::exception& error) {
        koru::log::error("the session could not be saved at quit: {}", error.what());
    }
    if (m.calibrations)
        m.calibrations->saveCalibrationRepo();
    koru::log::info("successfully saved the current session to {}\nSee you soon, KORU.",
                    utf8(path));
    koru::log::logger().flush();
}

void KOAppController::quit() {
    if (m.quit)
        m.quit();
    else
        QCoreApplication::quit();
}

bool KOAppController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == mMainWindow.get() && event->type() == QEvent::Close && !mTerminated) {
        // Closing the main window quits, by the same path as the Quit command; the window stays
        // while a recorder refuses.
        event->ignore();
        QMetaObject::invokeMethod(
            this, [this] { terminate(); }, Qt::QueuedConnection);
        return true;
    }
    return QObject::eventFilter(watched, event);
}

// --- Instruments ---------------------------------------------------------------------------------

KOInstrumentController* KOAppController::addInstrument(const QString& typeName) {
    try {
        if (typeName == text(koru::InstrumentList::kSplMeterType))
            return mInstrumentList.addSPLMeter();
        return mInstrumentList.addInstrument(typeName);
    } catch (const std::exception& error) {
        koru::log::error("a new {} could not be made: {}", utf8(typeName), error.what());
        return nullptr;
    }
}

void KOAppController::restoreRecentInstrument(qint64 row) {
    const QVariantList& history = mInstrumentList.recentInstruments();
    if (row < 0 || row >= history.size())
        return;
    const QVariantMap dictionary = history.at(row).toMap();
    try {
        restoreInstrumentFromDictionary(dictionary);
        mInstrumentList.removeRecentInstrument(dictionary);
    } catch (const std::exception& error) {
        koru::log::error("instrument could not be restored from the history: {}", error.what());
    }
    reloadTables();
}

void KOAppController::resetPPMClipIndicators() {
    std::vector<KOInstrumentController*> meters;
    for (const auto& instrument : mInstrumentList.instruments())
        if (instrument->typeName() == QStringLiteral("KODeviceInPPMController"))
            meters.push_back(instrument.get());
    for (KOInstrumentController* meter : meters)
        meter->reset();
}

void KOAppController::removeInstrument(KOInstrumentController* controller) {
    mInstrumentList.removeInstrument(controller);
    keepAWindowVisibleLater();
}

void KOAppController::instrumentDidHide(KOInstrumentController* controller) {
    // A hidden instrument's menu would act on a window nobody sees.
    forgetCurrentInstrument(controller);
    reloadOpenInstrumentsTable();
    keepAWindowVisibleLater();
}

// With the main window hidden (a session may hide it) and the last instrument window gone, KORU
// would run on with no window to reach it by: the main window comes back. Checked once the
// operation under way is over, so a workspace recall that closes everything before it restores
// makes no flicker.
void KOAppController::keepAWindowVisibleLater() {
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (mTerminated || mMainWindow->isVisible())
                return;
            for (const auto& instrument : mInstrumentList.instruments())
                if (const QMainWindow* window = instrument->instrumentWindow();
                    window && window->isVisible())
                    return;
            koru::log::info("no window left open: showing the main window");
            mMainWindow->show();
        },
        Qt::QueuedConnection);
}

void KOAppController::instrumentDidUnhide(KOInstrumentController*) {
    reloadOpenInstrumentsTable();
}

void KOAppController::setCurrentInstrument(KOInstrumentController* controller) {
    if (controller) {
        const auto& open = mInstrumentList.instruments();
        const auto found = std::find_if(open.begin(), open.end(), [controller](const auto& each) {
            return each.get() == controller;
        });
        if (found != open.end())
            mInstrumentList.setCurrentInstrumentIndex(found - open.begin());
        mTables->selectOpenInstrumentRow(mInstrumentList.currentInstrumentIndex());
    }
    mCurrentInstrument = controller;
    QMenu* menu = controller ? controller->instrumentMenu() : nullptr;
    if (menu)
        menu->setTitle(controller->name());
    setInstrumentMenu(menu);
}

// The menu bar sits on the main window, so reaching the instrument's menu by mouse makes the main
// window key: the menu stays while the focus is elsewhere, until another instrument becomes
// current or this one hides or closes.
void KOAppController::instrumentDidResignCurrent(KOInstrumentController*) {}

KOInstrumentController* KOAppController::currentInstrument() const {
    const auto* window = qobject_cast<const KOInstrumentWindow*>(QApplication::activeWindow());
    return window ? qobject_cast<KOInstrumentController*>(window->windowDelegate()) : nullptr;
}

void KOAppController::forgetCurrentInstrument(KOInstrumentController* controller) {
    if (!controller || controller != mCurrentInstrument)
        return;
    mCurrentInstrument = nullptr;
    setInstrumentMenu(nullptr);
}

void KOAppController::setInstrumentMenu(QMenu* menu) {
    if (mInstrumentMenu == menu)
        return;
    if (mInstrumentMenu && mMainWindow)
        mMainWindow->menuBar()->removeAction(mInstrumentMenu->menuAction());
    mInstrumentMenu = menu;
    if (!menu || !mMainWindow)
        return;
    QMenuBar* bar = mMainWindow->menuBar();
    bar->insertMenu(bar->actions().value(kInstrumentMenuIndex), menu);
}

void KOAppController::shouldSetSigGenMuteStatus(bool mute) {
    mAudioSettingsWindow->shouldSetSigGenMuteStatus(mute);
}

void KOAppController::instrumentControllerDidChangeName(KOInstrumentController* controller) {
    // The menu in the menu bar is titled with the instrument's name.
    if (controller && controller == mCurrentInstrument && mInstrumentMenu)
        mInstrumentMenu->setTitle(controller->name());
    reloadTables();
}

double KOAppController::audioDeviceSampleRate() {
    return m.audioDevice->currentSampleRate();
}

std::uint32_t KOAppController::preferredOutputDevice() {
    return m.audioDevice->relatedOutputDevice();
}

void KOAppController::showInstrumentWindow(KOInstrumentController& instrument) {
    QMainWindow* window = instrument.instrumentWindow();
    if (!window)
        return;
    attachShortcutActions(*window);
    window->show();
    window->raise();
    window->activateWindow();
}

void KOAppController::resignCurrentInstrument(KOInstrumentController& instrument) {
    forgetCurrentInstrument(&instrument);
}

void KOAppController::attachShortcutActions(QWidget& window) const {
    window.addActions(mShortcutActions);
    window.addActions(mWorkspaceActions);
}

void KOAppController::reloadOpenInstrumentsTable() {
    mTables->reloadOpenInstrumentsTable();
}

void KOAppController::reloadTables() {
    mTables->reloadTables();
}

QTableView* KOAppController::currentInstrumentsTable() const {
    return mTables->currentInstrumentsTable();
}

QTableView* KOAppController::recentInstrumentsTable() const {
    return mTables->recentInstrumentsTable();
}

void KOAppController::switchToNextInstrument() {
    switchInstrument(1);
}

void KOAppController::switchToPreviousInstrument() {
    switchInstrument(-1);
}

// Steps from the current instrument to the next visible one, round the list. The current index
// itself follows when the window becomes key.
void KOAppController::switchInstrument(int step) {
    std::vector<bool> visible;
    for (const auto& instrument : mInstrumentList.instruments()) {
        const QMainWindow* window = instrument->instrumentWindow();
        visible.push_back(window && window->isVisible());
    }
    const std::optional<std::size_t> next = koru::windownavigation::instrumentToSwitchTo(
        visible, mInstrumentList.currentInstrumentIndex(), step);
    if (!next)
        return;
    QMainWindow* window = mInstrumentList.instruments()[*next]->instrumentWindow();
    window->raise();
    window->activateWindow();
}

// --- User guide ---------------------------------------------------------------------------------

void KOAppController::showUserManual() {
    // Copied on the background queue; the viewer is asked for on the main thread.
    m.backgroundQueue->async([this] {
        const std::optional<QString> copy = koru::UserGuide::copyToPrivateFolder();
        if (!copy)
            return;
        koru::platform::postToMainThread(this, [path = *copy] {
            if (!koru::uiPrompter().openUrl(QUrl::fromLocalFile(path)))
                koru::log::error("no program opened the user guide {}", utf8(path));
        });
    });
}

// --- Full screen ---------------------------------------------------------------------------------

void KOAppController::toggleFullscreenMode() {
    mFullScreen->toggleFullscreenMode();
    mFullScreenAction->setChecked(isInFullscreenMode());
}

void KOAppController::enterFullScreenMode() {
    mFullScreen->enterFullScreenMode();
    mFullScreenAction->setChecked(true);
}

void KOAppController::exitFullScreenMode() {
    mFullScreen->exitFullScreenMode();
    mFullScreenAction->setChecked(false);
}

bool KOAppController::isInFullscreenMode() const {
    return mFullScreen->isInFullscreenMode();
}

KOFullscreenWindow* KOAppController::fullscreenWindow() const {
    return mFullScreen->fullscreenWindow();
}

// --- SessionHost ---------------------------------------------------------------------------------

QVariantMap KOAppController::audioSettingsDictionary() const {
    return m.audioDevice->dictionaryRepresentation();
}

void KOAppController::loadAudioSettings(const std::optional<QVariantMap>& settings) {
    m.audioDevice->loadSettingsFromDictionary(settings ? QVariant(*settings) : QVariant());
}

QString KOAppController::audioDeviceUID() const {
    return m.audioDevice->UID();
}

QVariantList KOAppController::openInstrumentDictionaries() const {
    return mInstrumentList.instrumentDictionaries();
}

QVariantList KOAppController::recentInstrumentDictionaries() const {
    return mInstrumentList.recentInstruments();
}

qint64 KOAppController::currentInstrumentIndex() const {
    return mInstrumentList.currentInstrumentIndex();
}

void KOAppController::setCurrentInstrumentIndex(qint64 index) {
    mInstrumentList.setCurrentInstrumentIndex(index);
}

void KOAppController::closeInstrumentsForWorkspaceRecall() {
    mInstrumentList.closeInstrumentsForWorkspaceRecall();
}

void KOAppController::clearRecentInstruments() {
    mInstrumentList.clearRecentInstruments();
}

bool KOAppController::isInstrumentOpen(const QString& identifier) const {
    return mInstrumentList.isInstrumentOpen(identifier);
}

void KOAppController::restoreInstrumentFromDictionary(const QVariantMap& dictionary) {
    if (KOInstrumentController* instrument =
            mInstrumentList.restoreInstrumentFromDictionary(dictionary))
        if (QMainWindow* window = instrument->instrumentWindow())
            attachShortcutActions(*window);
}

void KOAppController::appendRecentInstrument(const QVariantMap& dictionary) {
    mInstrumentList.appendRecentInstrument(dictionary);
}

void KOAppController::bringInstrumentToFront(qint64 index) {
    KOInstrumentController* instrument = mInstrumentList.instrumentAtIndex(index);
    QMainWindow* window = instrument ? instrument->instrumentWindow() : nullptr;
    if (!window || !window->isVisible())
        return;
    window->raise();
    window->activateWindow();
}

QString KOAppController::mainWindowFrame() const {
    return koru::windowFrameString(*mMainWindow);
}

void KOAppController::setMainWindowFrame(const QString& frame) {
    koru::setWindowFrameFromString(*mMainWindow, frame);
}

bool KOAppController::mainWindowVisible() const {
    return mMainWindow->isVisible();
}

void KOAppController::closeMainWindow() {
    mMainWindow->hide();
}

void KOAppController::showInputPatchWindow() {
    if (!mInputPatchController) {
        mInputPatchController =
            std::make_unique<KOInputPatchController>(*m.audioDevice, *m.defaults);
        attachShortcutActions(*mInputPatchController);
    }
    mInputPatchController->showWindow();
}

void KOAppController::audioPropertiesChanged() {
    mAudioDeviceMenu->checkDeviceID(m.audioDevice->audioObjectID());
    mAudioSettingsWindow->audioPropertiesChanged();
}

// --- Sessions ------------------------------------------------------------------------------------

void KOAppController::setAudioDeviceID(std::uint32_t deviceID) {
    try {
        mSession.saveCurrentSessionToFileInApplicationSupportDirectory(
            mSession.sessionAutosaveName(), *m.defaults);
    } catch (const std::exception& error) {
        koru::log::error("the session of the outgoing device could not be saved: {}", error.what());
    }
    if (!m.audioDevice->chooseAudioObjectID(deviceID)) {
        // Refused (with its alert): offering a session now would replace the open instruments
        // of a device that did not change.
        audioPropertiesChanged();
        return;
    }
    const std::uint32_t current = m.audioDevice->audioObjectID();
    koru::log::info("Current AudioDeviceID is {} with a Sample Rate of {:.0f}Hz", current,
                    m.audioDevice->nominalSampleRate());

    const QString name = Session::sessionNameForUID(m.audioDevice->UID());
    const koru::SessionRead read = Session::readAutomaticSession(name);
    if (!read.error.isEmpty())
        koru::log::error("session {} could not be read: {}", utf8(name), utf8(read.error));
    if (read.dictionary) {
        koru::Alert alert;
        alert.messageText = QStringLiteral("Change Audio Device");
        alert.informativeText =
            QStringLiteral("Should KORU restore it's last state for the device \"%1\"?")
                .arg(m.audioDevice->name());
        alert.defaultButton = QStringLiteral("Yes");
        alert.alternateButton = QStringLiteral("No");
        if (koru::uiPrompter().runModal(alert) == koru::AlertPresenter::Response::Default) {
            mSession.loadSessionFromDictionary(read.dictionary, true);
            rebuildWorkspacesMenu();
        }
    }
    audioPropertiesChanged();
}

void KOAppController::saveDocument() {
    if (mSession.fileName().isEmpty()) {
        saveDocumentAs();
        return;
    }
    mSession.saveCurrentSessionToFile(mSession.fileName());
}

void KOAppController::saveDocumentAs() {
    koru::FilePanel panel;
    panel.title = tr("Save Session");
    panel.nameFilters = {tr("KORU sessions (*.kosession)")};
    panel.defaultSuffix = text(Session::kFileExtension);
    panel.suggestedName = mSession.fileName();
    const std::optional<QString> path = koru::uiPrompter().runSavePanel(panel);
    if (!path)
        return;
    if (mSession.saveCurrentSessionToFile(*path)) {
        mSession.setFileName(*path);
        return;
    }
    koru::Alert alert;
    alert.messageText = tr("The session could not be saved.");
    alert.informativeText = tr("KORU could not write \"%1\". The file was left as it was.")
                                .arg(QDir::toNativeSeparators(*path));
    koru::uiPrompter().runModal(alert);
}

void KOAppController::openDocument() {
    koru::FilePanel panel;
    panel.title = tr("Open Session");
    panel.nameFilters = {tr("KORU sessions (*.kosession)")};
    panel.checkBoxes = {{tr("Overwrite current session"), true},
                        {tr("Load audio settings"), false}};
    const std::optional<QString> path = koru::uiPrompter().runOpenPanel(panel);
    if (!path)
        return;
    koru::log::info("loading {}", utf8(*path));
    const QString error =
        mSession.openSessionFile(*path, panel.checkBoxes[0].checked, panel.checkBoxes[1].checked);
    rebuildWorkspacesMenu();
    if (error.isEmpty())
        return;
    koru::Alert alert;
    alert.messageText = tr("The session could not be opened.");
    alert.informativeText = error;
    koru::uiPrompter().runModal(alert);
}

void KOAppController::revertDocumentToSaved() {
    mSession.revertDocumentToSaved();
    rebuildWorkspacesMenu();
}

bool KOAppController::openFile(const QString& path) {
    const QString error = mSession.openFileFromSystem(path);
    rebuildWorkspacesMenu();
    if (!error.isEmpty())
        koru::log::error("session {} could not be opened: {}", utf8(path), utf8(error));
    return true;
}

// --- Workspaces ----------------------------------------------------------------------------------

void KOAppController::rebuildWorkspacesMenu() {
    // Deleting an action takes it out of every window that carries it.
    qDeleteAll(mWorkspaceActions);
    mWorkspaceActions.clear();
    mWorkspacesMenu->clear();

    for (const Workspaces::MenuItem& entry : mWorkspaces.menuItems()) {
        if (entry.action == Workspaces::MenuAction::None) {
            mWorkspacesMenu->addSeparator();
            continue;
        }
        auto* item = new QAction(entry.title, mWorkspacesMenu);
        item->setEnabled(entry.enabled);
        item->setCheckable(entry.checked);
        item->setChecked(entry.checked);
        const QList<QKeySequence> shortcuts =
            KORecordedShortcut::menuShortcuts(entry.key, entry.modifiers);
        if (!shortcuts.isEmpty()) {
            item->setShortcuts(shortcuts);
            item->setShortcutContext(Qt::ApplicationShortcut);
        }
        const std::int32_t tag = entry.tag;
        switch (entry.action) {
        case Workspaces::MenuAction::Capture:
            connect(item, &QAction::triggered, this, [this] { captureWorkspace(); });
            break;
        case Workspaces::MenuAction::Update:
            connect(item, &QAction::triggered, this, [this] { updateWorkspace(); });
            break;
        case Workspaces::MenuAction::Restore:
            connect(item, &QAction::triggered, this, [this, tag] { restoreWorkspace(tag); });
            break;
        case Workspaces::MenuAction::Edit:
            connect(item, &QAction::triggered, this, [this] { editWorkspaces(); });
            break;
        case Workspaces::MenuAction::None:
            item->setEnabled(false);
            break;
        }
        mWorkspacesMenu->addAction(item);
        mWorkspaceActions.append(item);
    }
    for (const auto& instrument : mInstrumentList.instruments())
        if (QMainWindow* window = instrument->instrumentWindow())
            window->addActions(mWorkspaceActions);
}

void KOAppController::captureWorkspace() {
    KOCaptureWorkspaceController sheet(std::int32_t(mWorkspaces.numberOfWorkspaces() + 1),
                                       QApplication::activeWindow());
    if (sheet.runModal() != 1)
        return;
    mWorkspaces.captureWorkspace(sheet.workspaceName(), sheet.keyChars(), sheet.modifierFlags(),
                                 sheet.keyCode());
    // The menu is rebuilt from the menu's own action: leave the action alive until it returns.
    QMetaObject::invokeMethod(
        this, [this] { rebuildWorkspacesMenu(); }, Qt::QueuedConnection);
}

void KOAppController::editWorkspaces() {
    // Every change rebuilds the commands at once, so the menu and its shortcuts follow the edits.
    KOWorkspacesDataSource source(mWorkspaces, [this] { rebuildWorkspacesMenu(); });
    KOWorkspaceEditor editor(source, QApplication::activeWindow());
    editor.runModal();
}

void KOAppController::restoreWorkspace(std::int32_t tag) {
    mWorkspaces.restoreWorkspace(tag, m.preferences->updateWorkspaceBeforeRecall());
    QMetaObject::invokeMethod(
        this, [this] { rebuildWorkspacesMenu(); }, Qt::QueuedConnection);
}

void KOAppController::updateWorkspace() {
    mWorkspaces.updateCurrentWorkspace();
    QMetaObject::invokeMethod(
        this, [this] { rebuildWorkspacesMenu(); }, Qt::QueuedConnection);
}

// --- Display settings ----------------------------------------------------------------------------

void KOAppController::changeDistanceFormat(std::uint32_t unit) {
    KODistanceFormatter& formatter = KODistanceFormatter::sharedDistanceFormatter();
    formatter.setUnit(unit);
    for (QAction* item : mDistancesMenu->actions())
        item->setChecked(item->data().toUInt() == formatter.unit());
}

std::uint32_t KOAppController::distanceFormat() const {
    return KODistanceFormatter::sharedDistanceFormatter().unit();
}

void KOAppController::changeFreqDetails(qint64 size) {
    m.defaults->setInteger(KOPreferences::kFrequencyDetailsSizeKey, size);
    koru::platform::NotificationCenter::defaultCenter().post(
        QStringLiteral("KORUNot.changeFrequencyDetailsSize"));
    for (QAction* item : mFrequencyDetailsSizeMenu->actions())
        if (!item->isSeparator())
            item->setChecked(item->data().toLongLong() == size);
}

qint64 KOAppController::getFrequencyDetailsSize() const {
    return m.defaults->integerForKey(KOPreferences::kFrequencyDetailsSizeKey);
}

// --- Activation ----------------------------------------------------------------------------------

void KOAppController::applicationStateChanged(Qt::ApplicationState state) {
    if (state == Qt::ApplicationActive) {
        // A deactivation this short was focus passing between our own windows.
        if (mDeactivationTimer.isActive()) {
            mDeactivationTimer.stop();
            return;
        }
        if (!mActive)
            applicationDidBecomeActive();
        return;
    }
    if (mActive && !mDeactivationTimer.isActive())
        mDeactivationTimer.start();
}

// The backdrop would hide other programs' windows: it goes while KORU is in the background and
// comes back with it.
void KOAppController::applicationDidResignActive() {
    mActive = false;
    mShouldContinueFullscreenWhenActiveAgain = isInFullscreenMode();
    if (mShouldContinueFullscreenWhenActiveAgain)
        exitFullScreenMode();
}

void KOAppController::applicationDidBecomeActive() {
    mActive = true;
    if (mShouldContinueFullscreenWhenActiveAgain) {
        mShouldContinueFullscreenWhenActiveAgain = false;
        enterFullScreenMode();
    }
    if (m.defaults->boolForKey(KOPreferences::kShowAllWindowsWhenApplicationBecomesActiveKey))
        bringFrontAllInstrumentWindows();
}

void KOAppController::bringFrontAllInstrumentWindows() {
    koru::windownavigation::bringFrontAllWindows();
}

// --- Remote SPL server documents -----------------------------------------------------------------

std::vector<KOSplOpenInstrument> KOAppController::splOpenInstruments() const {
    std::vector<KOSplOpenInstrument> open;
    for (const auto& instrument : mInstrumentList.instruments()) {
        KOSplOpenInstrument entry{instrument->name(), instrument->identifier(), std::nullopt};
        if (const auto* meter = dynamic_cast<const KOSplMeterSource*>(instrument.get()))
            entry.meter = meter->splMeterSnapshot();
        open.push_back(std::move(entry));
    }
    return open;
}

std::optional<std::vector<KOSplOpenInstrument>> KOAppController::splOpenInstrumentsFromAnyThread() {
    if (QThread::currentThread() == thread())
        return splOpenInstruments();
    std::lock_guard reuse(mSplSnapshotMutex);
    const auto now = mSplSnapshotClock->now();
    if (mSplSnapshot && now - mSplSnapshotTaken < kSplSnapshotReuse)
        return *mSplSnapshot;
    // The promise lives in the posted work: should the work be dropped unrun (the controller
    // going away), the promise breaks and the wait ends at once.
    auto promise = std::make_shared<std::promise<std::vector<KOSplOpenInstrument>>>();
    std::future<std::vector<KOSplOpenInstrument>> copy = promise->get_future();
    koru::platform::postToMainThread(this, [this, promise] {
        try {
            promise->set_value(splOpenInstruments());
        } catch (...) {
            promise->set_exception(std::current_exception());
        }
    });
    if (copy.wait_for(kSplSnapshotTimeout) != std::future_status::ready) {
        koru::log::warn("the SPL meters could not be read for the remote server: the main "
                        "thread did not answer in time");
        return std::nullopt;
    }
    try {
        mSplSnapshot = std::make_shared<const std::vector<KOSplOpenInstrument>>(copy.get());
        mSplSnapshotTaken = now;
        return *mSplSnapshot;
    } catch (const std::exception& error) {
        koru::log::warn("the SPL meters could not be read for the remote server: {}", error.what());
        return std::nullopt;
    }
}

double KOAppController::splDocumentTime() const {
    return mSplDocumentClock ? mSplDocumentClock()
                             : VEDate::timeIntervalSinceReferenceDate(QDateTime::currentDateTime());
}

std::optional<QByteArray> KOAppController::splDataDictionaryFromInstrument(const QString& name) {
    const auto open = splOpenInstrumentsFromAnyThread();
    if (!open)
        return std::nullopt;
    return KOSplDocuments::meterDocument(*open, name, splDocumentTime());
}

std::optional<QByteArray> KOAppController::splControllers() {
    const auto open = splOpenInstrumentsFromAnyThread();
    if (!open)
        return std::nullopt;
    return KOSplDocuments::meterListDocument(*open, splDocumentTime());
}

std::optional<QByteArray>
KOAppController::splLogDataWithParameters(const QMap<QString, QString>& parameters) {
    const auto open = splOpenInstrumentsFromAnyThread();
    if (!open)
        return std::nullopt;
    return KOSplDocuments::logDocument(*open, parameters, splDocumentTime());
}
