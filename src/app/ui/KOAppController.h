#pragma once

#include "app/InstrumentList.h"
#include "app/InstrumentListHost.h"
#include "app/Session.h"
#include "app/SessionHost.h"
#include "app/Workspaces.h"
#include "app/ZOAppDelegate.h"
#include "framework/KOInstrumentControllerDelegate.h"
#include "framework/KOInstrumentSwitcher.h"
#include "platform/dispatch/TimerClock.h"
#include "platform/notifications/NotificationCenter.h"
#include "spl/KOLevelwatcherLocalDataSource.h"

#include <QByteArray>
#include <QDBusConnection>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

struct KOSplOpenInstrument;
class KOAudioDevice;
class KOAudioSettingsWindow;
class KOMainToolbar;
class KOCalibrationStore;
class KOGrowlNotificationCenter;
class KOColourPanelCloser;
class KOFullScreenMode;
class KOFullscreenWindow;
class KOInputPatchController;
class KOInstrumentTables;
class KOPreferences;
class QAction;
class QMainWindow;
class QMenu;
class QTableView;
class ZOAudioInputDeviceMenu;

namespace koru {
class InstrumentRegistry;
namespace platform {
class SerialQueue;
class UserDefaults;
} // namespace platform
} // namespace koru

// The application controller: owns the main window with its menus, the open instruments and
// their history, the session and the workspaces; starts the program in a fixed order, saves the
// automatic session every 55 s and at quit, and runs the one quit path that closing the main
// window, the Quit command and SIGINT/SIGTERM all take. Main thread only; the automatic session is
// built here and only written on the background queue.
class KOAppController : public QObject,
                        public ZOAppDelegate,
                        public KOInstrumentControllerDelegate,
                        public koru::SessionHost,
                        public koru::InstrumentListHost,
                        public KOInstrumentSwitcher::Delegate,
                        public KOLevelwatcherLocalDataSource {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kAutosaveInterval{55000};
    // How long quitting waits for background work that shows no progress.
    static constexpr std::chrono::milliseconds kQuitDrainTimeout{10000};
    // An Inactive state shorter than this is focus moving between our own windows.
    static constexpr int kDeactivationDebounceMs = 150;
    // The current instrument's menu stands at this index of the menu bar.
    static constexpr int kInstrumentMenuIndex = 5;

    static constexpr const char* kInfoPanelVisibleDefault = "InfoPanelVisible";
    static constexpr const char* kNotRecordingTitle = "KORU is recording!";

    // The instrument kinds in the order the add menu offers them, with their titles. Kinds not
    // registered are left out of the menu.
    struct InstrumentKind {
        const char* typeName;
        const char* title;
    };
    static const std::array<InstrumentKind, 10> kInstrumentKinds;

    struct Services {
        koru::platform::UserDefaults* defaults = nullptr;
        KOPreferences* preferences = nullptr;
        KOAudioDevice* audioDevice = nullptr;
        koru::InstrumentRegistry* registry = nullptr;
        koru::platform::SerialQueue* backgroundQueue = nullptr;
        KOGrowlNotificationCenter* notifications = nullptr; // none: not wired
        KOInstrumentSwitcher* switcher = nullptr;           // none: not wired
        KOCalibrationStore* calibrations = nullptr;         // none: not saved
        QDBusConnection bus = QDBusConnection::sessionBus();
        // Ends the event loop once the quit sequence has run; empty: QCoreApplication::quit.
        std::function<void()> quit;
        // Shows the SPL server's settings window; empty: the command is not offered.
        std::function<void()> showServerSettings;
    };
    // The program's singletons.
    static Services programServices();

    // Builds the main window and its menus and logs the greeting; restores nothing yet.
    explicit KOAppController(Services services);
    ~KOAppController() override;

    // The start-up sequence, in this order.
    void awakeFromNib();
    void applicationDidFinishLaunching();

    // --- Quitting ------------------------------------------------------------------------------
    // The one quit path: refused while a recorder records (with an alert), otherwise the shutdown
    // sequence and the end of the event loop. Answers whether the program quits.
    bool terminate();
    // A quit asked for from outside (a signal, the window's close button): during start-up it
    // waits until start-up is through, so a session is never saved half restored.
    void requestTermination();
    bool applicationShouldTerminate();
    void applicationWillTerminate();
    bool hasTerminated() const { return mTerminated; }

    // --- Automatic session ---------------------------------------------------------------------
    // The timer's handler: builds the session here and hands the writing to the background queue.
    void autosave();
    QString automaticSessionPath() const;

    // --- Instruments ---------------------------------------------------------------------------
    KOInstrumentController* addInstrument(const QString& typeName);
    void restoreRecentInstrument(qint64 row);
    void resetPPMClipIndicators();
    koru::InstrumentList& instrumentList() { return mInstrumentList; }
    // The instrument whose window is key; none while any other window is.
    KOInstrumentController* currentInstrument() const;

    // --- Sessions ------------------------------------------------------------------------------
    void setAudioDeviceID(std::uint32_t deviceID);
    void saveDocument();
    void saveDocumentAs();
    void openDocument();
    void revertDocumentToSaved();
    bool openFile(const QString& path);
    koru::Session& session() { return mSession; }

    // --- Workspaces ----------------------------------------------------------------------------
    koru::Workspaces& workspaces() { return mWorkspaces; }
    // Rebuilds the workspace commands and their shortcuts; every change of the list or of the
    // current workspace calls it, since a shortcut only works once its command exists.
    void rebuildWorkspacesMenu();
    // Asks for the name and shortcut in a sheet, then stores the current session under them.
    void captureWorkspace();
    // The editor of names and shortcuts; changes apply as they are made.
    void editWorkspaces();
    void restoreWorkspace(std::int32_t tag);
    void updateWorkspace();

    // --- Input patch ---------------------------------------------------------------------------
    // Created on first use and kept for the rest of the run.
    void showInputPatchWindow();
    KOInputPatchController* inputPatchController() const { return mInputPatchController.get(); }

    // --- Audio settings window and toolbar -------------------------------------------------------
    void showAudioSettingsWindow();
    KOAudioSettingsWindow* audioSettingsWindow() const { return mAudioSettingsWindow.get(); }
    KOMainToolbar* mainToolbar() const { return mMainToolbar; }
    QMenu* audioSettingsToolbarMenu() const { return mAudioSettingsTBMenu; }

    // --- Display settings ----------------------------------------------------------------------
    void changeDistanceFormat(std::uint32_t unit);
    std::uint32_t distanceFormat() const;
    void changeFreqDetails(qint64 size);
    qint64 getFrequencyDetailsSize() const;

    // --- Activation ----------------------------------------------------------------------------
    void applicationStateChanged(Qt::ApplicationState state);
    void applicationDidResignActive();
    void applicationDidBecomeActive();
    // Every visible instrument window to front, the last one made key.
    void bringFrontAllInstrumentWindows();

    // --- Remote SPL server documents ------------------------------------------------------------
    // Callable from any thread (the service link calls them from its own). The open instruments
    // and the meters' settings are main-thread state, so a copy of them is taken on the main
    // thread (a queued call the caller waits for, at most kSplSnapshotTimeout, run directly when
    // called on main), and the document, a log walk of any length included, is built on the
    // calling thread: the interface waits only for the copy. No answer in time (main busy, or
    // quitting) counts as not found. A copy taken for another thread is reused by other-thread
    // callers for kSplSnapshotReuse: however many requests the network sends, the interface
    // makes at most one copy per period (the meters' readings change per audio buffer anyway).
    static constexpr std::chrono::milliseconds kSplSnapshotTimeout{3000};
    static constexpr std::chrono::milliseconds kSplSnapshotReuse{50};
    // The meter document; none when no open instrument has that name or it is no SPL meter.
    std::optional<QByteArray> splDataDictionaryFromInstrument(const QString& name) override;
    // The list of open SPL meters; none only when the main thread did not answer.
    std::optional<QByteArray> splControllers() override;
    // The log document ("instrumentName", "start", "end", "resolution"); none when not found.
    std::optional<QByteArray>
    splLogDataWithParameters(const QMap<QString, QString>& parameters) override;
    // The copy the documents are built from; main thread.
    std::vector<KOSplOpenInstrument> splOpenInstruments() const;
    // Seconds since 2001-01-01 UTC the documents are stamped with; the clock unless a test sets
    // one.
    void setSplDocumentClock(std::function<double()> clock) {
        mSplDocumentClock = std::move(clock);
    }
    // The clock the reuse period runs on; a test passes one it moves by hand.
    void setSplSnapshotClock(koru::platform::TimerClock& clock) { mSplSnapshotClock = &clock; }

    // Opens a copy of the user guide kept in a private folder.
    void showUserManual();

    // --- Full screen and the colour panel ------------------------------------------------------
    void toggleFullscreenMode();
    void enterFullScreenMode();
    void exitFullScreenMode();
    bool isInFullscreenMode() const;
    KOFullscreenWindow* fullscreenWindow() const;
    KOColourPanelCloser& colourPanelCloser() const { return *mColourPanelCloser; }

    QMainWindow* mainWindow() const { return mMainWindow.get(); }
    QMenu* workspacesMenu() const { return mWorkspacesMenu; }
    QMenu* addInstrumentMenu() const { return mAddInstrumentMenu; }
    QMenu* distancesMenu() const { return mDistancesMenu; }
    QMenu* frequencyDetailsSizeMenu() const { return mFrequencyDetailsSizeMenu; }
    KOInstrumentTables* instrumentTables() const { return mTables; }
    QTableView* currentInstrumentsTable() const;
    QTableView* recentInstrumentsTable() const;

    // --- KOInstrumentControllerDelegate --------------------------------------------------------
    void removeInstrument(KOInstrumentController* controller) override;
    void instrumentDidHide(KOInstrumentController* controller) override;
    void instrumentDidUnhide(KOInstrumentController* controller) override;
    void setCurrentInstrument(KOInstrumentController* controller) override;
    void instrumentDidResignCurrent(KOInstrumentController* controller) override;
    void shouldSetSigGenMuteStatus(bool mute) override;
    void instrumentControllerDidChangeName(KOInstrumentController* controller) override;
    double audioDeviceSampleRate() override;
    std::uint32_t preferredOutputDevice() override;

    // --- SessionHost ---------------------------------------------------------------------------
    QVariantMap audioSettingsDictionary() const override;
    void loadAudioSettings(const std::optional<QVariantMap>& settings) override;
    QString audioDeviceUID() const override;
    QVariantList openInstrumentDictionaries() const override;
    QVariantList recentInstrumentDictionaries() const override;
    qint64 currentInstrumentIndex() const override;
    void setCurrentInstrumentIndex(qint64 index) override;
    void closeInstrumentsForWorkspaceRecall() override;
    void clearRecentInstruments() override;
    bool isInstrumentOpen(const QString& identifier) const override;
    void restoreInstrumentFromDictionary(const QVariantMap& dictionary) override;
    void appendRecentInstrument(const QVariantMap& dictionary) override;
    void bringInstrumentToFront(qint64 index) override;
    QString mainWindowFrame() const override;
    void setMainWindowFrame(const QString& frame) override;
    bool mainWindowVisible() const override;
    void closeMainWindow() override;
    void audioPropertiesChanged() override;
    void reloadTables() override;

    // --- InstrumentListHost --------------------------------------------------------------------
    KOInstrumentControllerDelegate* instrumentDelegate() override { return this; }
    void showInstrumentWindow(KOInstrumentController& instrument) override;
    void resignCurrentInstrument(KOInstrumentController& instrument) override;
    void reloadOpenInstrumentsTable() override;

    // --- KOInstrumentSwitcher::Delegate --------------------------------------------------------
    void switchToNextInstrument() override;
    void switchToPreviousInstrument() override;

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildMainWindow();
    void buildMenus();
    void buildDisplaySettingMenus();
    void setupToolbar();
    void restoreLastSession();
    QAction* addApplicationAction(QMenu* menu, const QString& title, const QKeySequence& shortcut,
                                  std::function<void()> action);
    // Instrument windows carry the program's shortcuts too: with the main window hidden, a
    // shortcut of its menus would not fire.
    void attachShortcutActions(QWidget& window) const;
    void setInstrumentMenu(QMenu* menu);
    // Takes the instrument's menu out of the menu bar when it is the current one.
    void forgetCurrentInstrument(KOInstrumentController* controller);
    void switchInstrument(int step);
    void keepAWindowVisibleLater();
    void quit();

    // The open instruments copied on the main thread; none when it did not answer in time.
    std::optional<std::vector<KOSplOpenInstrument>> splOpenInstrumentsFromAnyThread();
    double splDocumentTime() const;

    Services m;
    std::function<double()> mSplDocumentClock;
    koru::platform::TimerClock* mSplSnapshotClock = &koru::platform::TimerClock::steady();
    // The last copy taken for another thread. Held while a copy is being taken, so callers
    // arriving meanwhile wait for it rather than asking the main thread again. Taken alone, and
    // never on the main thread (which the holder may be waiting for).
    std::mutex mSplSnapshotMutex;
    std::shared_ptr<const std::vector<KOSplOpenInstrument>> mSplSnapshot;
    koru::platform::TimerClock::time_point mSplSnapshotTaken;
    koru::InstrumentList mInstrumentList;
    koru::Session mSession;
    koru::Workspaces mWorkspaces;
    std::unique_ptr<QMainWindow> mMainWindow;
    KOInstrumentTables* mTables = nullptr;
    QMenu* mAddInstrumentMenu = nullptr;
    ZOAudioInputDeviceMenu* mAudioDeviceMenu = nullptr;
    QMenu* mWorkspacesMenu = nullptr;
    QMenu* mDistancesMenu = nullptr;
    QMenu* mFrequencyDetailsSizeMenu = nullptr;
    QPointer<QMenu> mInstrumentMenu; // the current instrument's, while in the menu bar
    std::unique_ptr<KOInputPatchController> mInputPatchController;
    std::unique_ptr<KOAudioSettingsWindow> mAudioSettingsWindow;
    KOMainToolbar* mMainToolbar = nullptr;
    QMenu* mAudioSettingsTBMenu = nullptr;
    std::unique_ptr<KOFullScreenMode> mFullScreen;
    std::unique_ptr<KOColourPanelCloser> mColourPanelCloser;
    QAction* mFullScreenAction = nullptr;
    QList<QAction*> mShortcutActions;
    QList<QAction*> mWorkspaceActions;
    KOInstrumentController* mCurrentInstrument = nullptr;
    koru::platform::ObserverToken mReloadObserver;
    QTimer mAutosaveTimer;
    QTimer mDeactivationTimer;
    bool mActive = false;
    bool mShouldContinueFullscreenWhenActiveAgain = false;
    bool mTerminated = false;
    bool mStartedUp = false;
    bool mTerminationRequested = false;
};
