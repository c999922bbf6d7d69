#pragma once

#include "analysers/ui/DoubleSlider.h"
#include "analysers/ui/KOFFTBase.h"

#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSplitter>
#include <QToolButton>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

class KODelayFinderController;
class KOInstrumentControllerDelegate;
class KORTTransferMeasWrapper;
class KOTransferAccu;
class KOTransferMeasurementWrapper;
class KOTransferView;

// The transfer-function window ("Transfer Measurement"): live measurements of a source and a
// response channel, snapshots, averages, differences and the accumulator, listed in the control
// area on the left and drawn in one plot on the right.
//
// Made with create<KOTransferController>("transfer", dictionary, delegate): without a dictionary
// one new live measurement of 32768 points in the standard blue; with one, the saved models (a
// window none of whose models can be restored gets a fresh live measurement, logged).
class KOTransferController : public KOFFTBase {
    Q_OBJECT
public:
    static constexpr const char* kNibName = "transfer";
    static constexpr const char* kWindowName = "Transfer Measurement";
    static constexpr const char* kWindowTitleFormat = "Transfer %1";
    static constexpr const char* kRealtimePrefix = "Transfer";
    static constexpr const char* kAverageFormat = "Average %1";
    static constexpr const char* kSnapshotMenuFormat = "Snapshot of %1";
    static constexpr const char* kSelectTwo = "Select 2 Measurements";
    static constexpr const char* kSelectTwoDetail = "to create difference!";
    static constexpr const char* kDifferenceFormat = "Difference: %1";
    static constexpr const char* kDifferenceDetailFormat = "- %1";
    static constexpr std::uint32_t kFFTSize = 32768;
    static constexpr unsigned kRedrawRate = 12;
    static constexpr int kDividerPosition = 199;
    // Without a running live measurement the plot still refreshes every this many passes.
    static constexpr unsigned kIdleRedrawPasses = 10;
    static constexpr double kAveragingMinimum = 80.0;
    static constexpr double kAveragingMaximum = 100.0;

    // Menu tags.
    static constexpr qint64 kAddRealtimeTag = 0x61726574;     // 'aret'
    static constexpr qint64 kSnapshotTag = 0x61736e70;        // 'asnp'
    static constexpr qint64 kDifferenceTag = 0x61646c74;      // 'adlt'
    static constexpr qint64 kAverageTag = 0x61617667;         // 'aavg'
    static constexpr qint64 kPushToAccuTag = 0x70616363;      // 'pacc'
    static constexpr qint64 kAnalyzersTag = 0x77726170;       // 'wrap'
    static constexpr qint64 kSourceChannelTag = 0x73726363;   // 'srcc'
    static constexpr qint64 kResponseChannelTag = 0x72737063; // 'rspc'
    static constexpr qint64 kMagnitudeTag = 0;
    static constexpr qint64 kPhaseTag = 1;
    static constexpr qint64 kCoherenceTag = 2;

    explicit KOTransferController(KOInstrumentControllerDelegate* delegate = nullptr);
    ~KOTransferController() override;

    void initWithWindowNibName(const QString& nibName, const QVariantMap* dictionary) override;
    void dataCollection() override;
    // Collection passes without a running live measurement, and passes that asked the plot for
    // a rebuild (a rebuild itself is skipped while the last frame has not been shown).
    std::uint64_t idlePasses() const { return mIdlePasses.load(); }
    std::uint64_t redrawRequests() const { return mRedrawRequests.load(); }

    KOTransferView* transferView() const;
    QSplitter* splitView() const { return mSplitView; }
    koru::analysers::DoubleSlider* averagingSlider() const { return mAveragingSlider; }
    QPushButton* pauseButton() const { return mPauseButton; }
    QToolButton* addButton() const { return mAddButton; }
    // The selected live measurement's shown delay, in the distance formatter's unit.
    QLineEdit* delayField() const { return mDelayField; }
    QPushButton* referenceButton() const { return mReferenceButton; }
    // "Delay" in the control view: the selected live measurement's delay-finder window.
    QPushButton* delayFinderButton() const { return mDelayFinderButton; }
    void resetView();

    // ---- delay-finder windows: one per live measurement, made on first use and kept until
    // the measurement leaves the list ----
    void showDelayFinderWindow();
    // Null for anything but a live measurement of this window.
    KODelayFinderController* delayFinderForWrapper(const KOInstrumentWrapper* model);

    // ---- measurements ----
    std::vector<std::shared_ptr<KOTransferMeasurementWrapper>> transferModels() const;
    std::shared_ptr<KORTTransferMeasWrapper> selectedRealtimeInstrument() const;
    // Selected models in row order.
    std::vector<std::shared_ptr<KOTransferMeasurementWrapper>> selectedTransferModels() const;
    // A new live measurement titled with the first free "Transfer n".
    void addRealtime();
    void createSnapshot();
    void createAverage();
    // Exactly two selected rows, else the information panel explains and nothing happens.
    void createDifference();
    // Into the first exact accumulator (made and added when there is none), under the
    // data-collection lock; an average is never changed.
    void pushToAccu();
    std::shared_ptr<KOTransferAccu> accu() const;
    void resetCurrent() override;
    void resetAll() override;
    void copyDelayToRef();
    // The pause button: the selected live measurement's own pause.
    void togglePaused();
    void setPause(bool pause) override;
    bool drawPauseIcon() const override { return true; }

    qint64 inChannelA() const override;
    void setInChannelA(qint64 channel) override;
    qint64 inChannelB() const override;
    void setInChannelB(qint64 channel) override;
    // Shift, Alt or Ctrl held while a live measurement's channel is chosen.
    bool shouldPatchToNextConsecutiveChannel(KOFFTInstrumentWrapperBase* wrapper) override;

    // ---- menus ----
    QMenu* instrumentMenu() override;
    // Enables, retitles and refills the add items and the 'wrap' submenu.
    void updateAddItems(QMenu& menu);
    std::unique_ptr<QMenu> instrumentsMenu();
    std::unique_ptr<QMenu> menuForTransferWrapper(const FFTModel& model);

    // ---- linking: frequency and gain; the magnitude zoom is not published ----
    QStringList linkableViewParameters() const override;
    void changeParameterWithName(const QString& name, const QVariant& value) override;
    void viewDidChangeMagnitudeBounds(float lower, float upper) override;

    // The control area left of the plot: the divider at 199 points, or collapsed.
    void setControlPanelVisible(bool visible) override;
    bool controlPanelVisible() const override;

    static constexpr const char* kAddItemIdentifier = "KOToolbarIdentifier_TransferAdd";
    // The base's items and the add pop-up.
    QStringList toolbarItemIdentifiers() const override;
    QAction* toolbarItemForItemIdentifier(const QString& identifier, QObject* parent) override;
    // The five add items with their keys (made on first use).
    QMenu* addMenu();

protected:
    std::unique_ptr<QMainWindow> buildWindow(const QString& nibName) override;
    void awakeFromNib() override;

private:
    std::shared_ptr<KORTTransferMeasWrapper> newRealtime() const;
    void addMeasurement(const FFTModel& model);
    // The window's add menu carries the Ctrl+Alt keys; the instrument menu shows the same items
    // without them, so a key never means two actions at once.
    void addAddItems(QMenu& menu, bool withKeys);
    void updatePauseButton();

    QPointer<QSplitter> mSplitView;
    QPointer<koru::analysers::DoubleSlider> mAveragingSlider;
    QPointer<QPushButton> mPauseButton;
    QPointer<QToolButton> mAddButton;
    QPointer<QLineEdit> mDelayField;
    QPointer<QPushButton> mReferenceButton;
    void updateDelayField();
    // Closes the windows of measurements that left the list.
    void forgetGoneDelayFinders();
    QPointer<QPushButton> mDelayFinderButton;
    // By the measurement's identifier.
    std::map<QString, std::unique_ptr<KODelayFinderController>> mDelayFinders;
    std::unique_ptr<QMenu> mAddMenu;
    std::atomic<std::uint64_t> mIdlePasses{0};
    std::atomic<std::uint64_t> mRedrawRequests{0};
};
