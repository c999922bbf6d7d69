#pragma once

#include "engine/DataCollectionClient.h"
#include "platform/notifications/NotificationCenter.h"

#include <QComboBox>
#include <QMainWindow>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

class KOInstrumentControllerDelegate;
class QAction;
class QMenu;

// The window controller every instrument derives from. It owns the instrument's top-level window
// (built by buildWindow, which stands in for the interface file and connects the outlets), gives
// the instrument its identity, saves and restores the window state as the base keys of the
// instrument dictionary, registers with the collector thread, owns the data-collection lock and
// the cached sample rate, carries the pause and sticky flags, links view parameters with other
// instruments and reports its life to the delegate.
//
// Two-phase construction: C++ calls no override from a constructor, but the window is built from
// the subclass's buildWindow, instrumentMenu and toolbarItemIdentifiers. So a controller is
// constructed first and then initialised with initWithWindowNibName; create<T>() does both.
//
// Leaving the collector: dataCollection runs on the collector thread and reads the subclass's
// members, so the controller must be out of the collector before the first of them is destroyed.
// A base destructor runs too late for that, and a rule each subclass remembers gets forgotten.
// So create<T>() builds the controller as a final class derived from T whose destructor stops
// observing and leaves the collector before any part of T is destroyed, whichever way the
// controller is deleted (its owner, deleteLater, a Qt parent). Only controllers made by create()
// may join the collector.
//
// Every subclass declares Q_OBJECT: its class name is written as "KOType".
//
// Threads: everything runs on the main thread except dataCollection (the collector thread, under
// the data-collection lock) and currentSampleRate (any thread).
// Lock order: collector lock -> mDataCollectionLock -> an instrument mutex or a model's lock.
// mSampleRateLock is a leaf: held only around the delegate's rate look-up.
class KOInstrumentController : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kIdentifierKey = "InstrumentController.Identifier";
    static constexpr const char* kTypeKey = "KOType";
    static constexpr const char* kWindowFrameKey = "InstrumentController.Window.Frame";
    static constexpr const char* kNameKey = "InstrumentController.Name";
    static constexpr const char* kWindowVisibleKey = "InstrumentController.WindowVisible";
    static constexpr const char* kStickyKey = "instrument.noclose";

    static constexpr const char* kReloadAudioPropNotification = "KORUNOT.reloadAudioProp";
    static constexpr const char* kParameterChangeNotification = "KORUNot.ParameterChange";
    static constexpr const char* kParameterUnlinkNotification = "ParameterUnlink";
    // Keys of link records and of the two linking notifications' user info.
    static constexpr const char* kLinkIdentifierKey = "identifier";
    static constexpr const char* kLinkParameterKey = "parameter";
    static constexpr const char* kLinkValueKey = "value";

    // The window's toolbar and its items.
    static constexpr const char* kToolbarIdentifier = "maintoolbar";
    static constexpr const char* kFlexibleSpaceItemIdentifier =
        "KOToolbarItemIdentifier_FlexibleSpace";
    static constexpr const char* kSettingsItemIdentifier = "KOToolbarItemIdentifier_Settings";
    static constexpr const char* kPauseItemIdentifier = "KOToolbarItemIdentifier_Pause";
    static constexpr const char* kStickyItemIdentifier = "KOToolbarItemIdentifier_Sticky";

    KOInstrumentController();
    ~KOInstrumentController() override;
    KOInstrumentController(const KOInstrumentController&) = delete;
    KOInstrumentController& operator=(const KOInstrumentController&) = delete;

    // Constructs a T with `args` and runs its second phase with `nibName` and `dictionary`
    // (null for a new instrument). The object is a LeavesCollectorFirst<T>.
    template <typename T, typename... Args>
    static std::unique_ptr<T> create(const QString& nibName, const QVariantMap* dictionary,
                                     Args&&... args) {
        auto controller = std::make_unique<LeavesCollectorFirst<T>>(std::forward<Args>(args)...);
        controller->initWithWindowNibName(nibName, dictionary);
        return controller;
    }

    // Second phase: builds the window, installs the menu and toolbar, starts observing; then,
    // given a dictionary, restores the base keys. Subclasses that read keys of their own
    // override it and call the base first. Called once.
    virtual void initWithWindowNibName(const QString& nibName, const QVariantMap* dictionary);
    const QString& windowNibName() const { return mNibName; }

    // --- Overridden by instruments -------------------------------------------------------

    // Collector thread, with the data-collection lock held (a pass that finds it taken skips
    // this instrument): copy the newest results out of the signal processing.
    virtual void dataCollection() {}
    // Channel choice of one-channel and two-channel instruments; the base ones throw
    // InternalInconsistencyException "must be overridden by subclass".
    virtual qint64 inputChannel() const;
    virtual void setInputChannel(qint64 channel);
    virtual qint64 inChannelA() const;
    virtual void setInChannelA(qint64 channel);
    virtual qint64 inChannelB() const;
    virtual void setInChannelB(qint64 channel);
    // Names of the parameters this instrument can share with linked ones; empty: never linked.
    virtual QStringList linkableViewParameters() const { return {}; }
    // Applies a linked instrument's value; names the instrument does not know are ignored.
    virtual void changeParameterWithName(const QString& name, const QVariant& value);
    // Posts every linkable parameter with its current value (see postParameterChange).
    virtual void postParameters() {}
    virtual void audioPropertiesChanged();
    virtual void resetAll() {}
    virtual void resetCurrent() {}
    virtual void setPause(bool pause);
    virtual bool drawPauseIcon() const { return false; }
    virtual bool canBeClosed() const { return true; }
    virtual void applicationWillStop() {}
    // The subclass's own keys added to the base dictionary.
    virtual QVariantMap dictionaryRepresentation() const;

    // --- Identity and state ----------------------------------------------------------------

    // The UUID string, made on the first request when none was given; never changes after.
    QString identifier() const;
    // The class name as written under "KOType".
    QString typeName() const;
    // "[class] (identifier)".
    QString description() const;
    // The window title, "" when there is none.
    QString name() const;
    // A null string is ignored.
    void setName(const QString& name);
    bool pause() const { return mPause.load(std::memory_order_acquire); }
    bool sticky() const { return mSticky; }
    void setSticky(bool sticky);
    void togglePauseStatus() { setPause(!pause()); }
    void toggleStickyStatus() { setSticky(!sticky()); }
    void hideInstrument();
    void unhideInstrument();
    // Closes the window unless the instrument is sticky or refuses closing.
    void closeFromWorkspaceRecall();
    QMainWindow* instrumentWindow() const { return mWindow.get(); }
    KOInstrumentControllerDelegate* delegate() const {
        return mDelegate.load(std::memory_order_acquire);
    }
    void setDelegate(KOInstrumentControllerDelegate* delegate) {
        mDelegate.store(delegate, std::memory_order_release);
    }

    // The window's saved-frame text ("x y w h sx sy sw sh": the window's geometry and the
    // available geometry of its screen) and its application, which keeps the window on a screen
    // that exists now. A malformed text changes nothing and answers false.
    QString windowFrameString() const;
    bool setWindowFrameFromString(const QString& frame);

    // --- Audio device --------------------------------------------------------------------

    std::uint32_t inputDeviceObjectID() const;
    QString currentAudioDeviceName() const;
    QString currentAudioDeviceUID() const;
    // Any thread. The delegate's nominal rate, cached until the next audio-property change;
    // 0 (unknown) without a delegate.
    double currentSampleRate();
    double secondsFromSamples(qint64 samples);
    // Truncated toward zero.
    qint64 samplesFromSeconds(double seconds);
    // Observer of "KORUNOT.reloadAudioProp", from any thread: the work moves to the main thread.
    void icPropertiesChanged();
    void patchHasChanged() { audioPropertiesChanged(); }

    // --- Collector thread ------------------------------------------------------------------

    // Main thread. Removal waits for a running collector pass. Destruction removes the
    // controller before any of its members go (see the class comment). Adding one that was not
    // made by create() throws InternalInconsistencyException.
    void addToDataCollectorThread();
    void removeFromDataCollectorThread();
    bool isInDataCollectorThread() const { return mRegistered; }
    // Guards what dataCollection reads (a subclass's model list, say) against main-thread edits.
    std::mutex& dataCollectionLock() const { return mDataCollectionLock; }

    // --- Reset -------------------------------------------------------------------------------

    void reset() { resetAll(); }
    // A horizontal swipe: to the left resets everything, otherwise (also dx 0) the current one.
    void swipeWithDeltaX(double deltaX);

    // --- Parameter linking -------------------------------------------------------------------

    void addParameterLinkDictionary(const QVariantMap& link);
    QVariantList linkedParametersDictionary() const;
    // Observer of "KORUNot.ParameterChange".
    void parameterChanged(const koru::platform::Notification& notification);
    // Observer of "ParameterUnlink".
    void unlinkParameters(const koru::platform::Notification& notification);
    // Posts "KORUNot.ParameterChange" for `name`, unless the change is being applied from a
    // linked instrument's notification: a follower never posts back, so linked windows do not
    // ping-pong. Instruments call this from postParameters and when the user changes a value.
    void postParameterChange(const QString& name, const QVariant& value);
    // True while changeParameterWithName runs for a notification.
    bool isApplyingLinkedParameter() const { return mApplyingLinkedParameter; }
    // Links `mover`, whose window has just snapped to `other`'s, with `other` for their common
    // parameters, unless Ctrl is held or neither size matches; `other` then posts its parameters
    // so the mover takes over its view range. Answers whether links were made.
    static bool tryLinkInstruments(KOInstrumentController& mover, KOInstrumentController& other,
                                   Qt::KeyboardModifiers modifiers);

    // --- Window events -----------------------------------------------------------------------

    void windowDidBecomeKey();
    void windowDidResignKey();
    // The window is closing (it still counts as visible).
    void windowWillClose();

    // --- Outlets (set by buildWindow; not owned) ---------------------------------------------

    QComboBox* mInputMenu() const { return mInputMenuOutlet; }
    void setMInputMenu(QComboBox* menu) { mInputMenuOutlet = menu; }
    QComboBox* mChAMenu() const { return mChAMenuOutlet; }
    void setMChAMenu(QComboBox* menu) { mChAMenuOutlet = menu; }
    QComboBox* mChBMenu() const { return mChBMenuOutlet; }
    void setMChBMenu(QComboBox* menu) { mChBMenuOutlet = menu; }
    QObject* wrapperController() const { return mWrapperController; }
    void setWrapperController(QObject* controller) { mWrapperController = controller; }
    QWidget* controlView() const { return mControlView; }
    void setControlView(QWidget* view) { mControlView = view; }
    // The content of the control popover; none for instruments without settings.
    QWidget* controlViewController() const { return mControlViewController; }
    void setControlViewController(QWidget* content) { mControlViewController = content; }
    bool isTwoChannelInstrument() const { return mChAMenuOutlet && mChBMenuOutlet; }
    bool isOneChannelInstrument() const { return mInputMenuOutlet != nullptr; }

    // --- Channel menus and selection (KOInstrumentControllerChannels.cpp) ------------------

    // The instrument menu (the window's context menu) with its channel submenus; null when the
    // window has none.
    virtual QMenu* instrumentMenu();
    std::unique_ptr<QMenu> inputChannelMenu();
    std::unique_ptr<QMenu> inChannelAMenu();
    std::unique_ptr<QMenu> inChannelBMenu();
    static QString inputChannelBinding() { return QStringLiteral("inputChannel"); }
    static QString inChannelABinding() { return QStringLiteral("inChannelA"); }
    static QString inChannelBBinding() { return QStringLiteral("inChannelB"); }
    void changeInputChannel(qint64 tag);
    void changeInChannelA(qint64 tag);
    void changeInChannelB(qint64 tag);
    void menuNeedsUpdate(QMenu* menu);

    // --- Toolbar and control popover (KOInstrumentControllerToolbar.cpp) ---------------------

    // Item identifiers in order; empty: no toolbar.
    virtual QStringList toolbarItemIdentifiers() const;
    QStringList toolbarAllowedItemIdentifiers() const;
    // The item for one identifier (owned by `parent`), null for an identifier the controller
    // does not know; subclasses with items of their own add them here.
    virtual QAction* toolbarItemForItemIdentifier(const QString& identifier, QObject* parent);
    // Installs the "maintoolbar" toolbar from toolbarItemIdentifiers.
    void installToolbar(const QStringList& identifiers);
    virtual void showControlPanel(QWidget* sender);
    void showControlPanelAttachedToView(QWidget* view);
    void toggleControlPanelVisibility(QObject* sender);
    virtual bool controlPanelVisible() const;
    virtual void setControlPanelVisible(bool visible);
    void closeControlPanel() { setControlPanelVisible(false); }
    virtual void willShowControlPopover(QWidget* /*popover*/) {}
    QWidget* controlPopover() const { return mControlPopover; }
    void setControlPopover(QWidget* popover) { mControlPopover = popover; }

signals:
    void nameChanged(const QString& name);
    void pauseChanged(bool pause);
    void stickyChanged(bool sticky);
    // Re-announced after every audio-property change, so views reread inputDeviceObjectID.
    void inputDeviceObjectIDChanged();

protected:
    // Builds the window and connects the outlets; stands in for the interface file named
    // `nibName`. The base makes an empty KOInstrumentWindow; windows of other classes do not snap.
    virtual std::unique_ptr<QMainWindow> buildWindow(const QString& nibName);
    // After the window is built: context menu, dark look, toolbar.
    virtual void windowDidLoad();
    // Restores the base keys; missing or wrongly typed values take the defaults.
    void restoreFromDictionary(const QVariantMap& dictionary);

    bool eventFilter(QObject* watched, QEvent* event) override;

    // The window's menu from buildWindow (owned), for instrumentMenu.
    std::unique_ptr<QMenu> mInstrumentMenu;

private:
    // The most-derived part of every controller create() makes, so its destructor runs while
    // all of T is still whole.
    template <typename T> class LeavesCollectorFirst final : public T {
    public:
        template <typename... Args>
        explicit LeavesCollectorFirst(Args&&... args) : T(std::forward<Args>(args)...) {
            static_cast<KOInstrumentController&>(*this).mMadeByCreate = true;
        }
        ~LeavesCollectorFirst() override {
            static_cast<KOInstrumentController&>(*this).leaveBeforeDestruction();
        }
    };

    // Stops every call from outside (notifications, collector passes) into the controller.
    void leaveBeforeDestruction();

    // The collector thread's view of the controller: tries the data-collection lock and skips
    // the pass when main holds it, so the collector never waits for the main thread.
    class CollectorClient : public koru::DataCollectionClient {
    public:
        explicit CollectorClient(KOInstrumentController& owner) : mOwner(owner) {}
        void dataCollection() override;

    private:
        KOInstrumentController& mOwner;
    };

    void startObserving();
    void stopObserving();
    void applyLinkedChange(const koru::platform::Notification& notification);

    QString mNibName;
    std::unique_ptr<QMainWindow> mWindow;
    mutable std::mutex mDataCollectionLock;
    std::mutex mSampleRateLock; // leaf lock, see the class comment
    std::atomic<double> mCurrentSR{0.0};
    std::atomic<KOInstrumentControllerDelegate*> mDelegate{nullptr};
    std::atomic<bool> mPause{false};
    bool mSticky = false;
    mutable QString mIdentifier;
    QVariantList mLinkedParameters;
    bool mApplyingLinkedParameter = false;
    bool mRegistered = false;
    bool mMadeByCreate = false;
    bool mClosed = false;
    CollectorClient mCollectorClient{*this};
    std::vector<koru::platform::ObserverToken> mObservers;

    QPointer<QComboBox> mInputMenuOutlet;
    QPointer<QComboBox> mChAMenuOutlet;
    QPointer<QComboBox> mChBMenuOutlet;
    QPointer<QObject> mWrapperController;
    QPointer<QWidget> mControlView;
    QPointer<QWidget> mControlViewController;
    QPointer<QWidget> mControlPopover;
};
