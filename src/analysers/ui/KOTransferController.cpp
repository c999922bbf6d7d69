#include "analysers/ui/KOTransferController.h"

#include "analysers/KOTransferMeasurementWrapper.h"
#include "analysers/KOTransferSnapshot.h"
#include "analysers/ui/KODelayFinderController.h"
#include "analysers/ui/KOTransferView.h"
#include "engine/KOAudioDevice.h"
#include "framework/InstrumentAudioDevice.h"
#include "framework/InstrumentsTableModel.h"
#include "framework/KOColorAdditions.h"
#include "framework/KOInstrumentControlView.h"
#include "framework/KOInstrumentControllerDelegate.h"
#include "framework/KOInstrumentWindow.h"
#include "framework/KOMenuAdditions.h"
#include "framework/KOPopUpButtonAdditions.h"
#include "framework/KeyboardModifierSource.h"
#include "platform/log/Log.h"
#include "utility/ui/KOInfoPanel.h"

#include <QAction>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

using koru::analysers::DoubleSlider;
using koru::framework::InstrumentAudioDevice;
using koru::framework::KeyboardModifierSource;

namespace {

QString text(const char* latin1) {
    return QString::fromLatin1(latin1);
}

std::atomic<int> gWindowsMade{0};
std::atomic<int> gAveragesMade{0};

const QRectF kResetButtonFrame(95.0, 35.0, 60.0, 22.0);
const QRectF kDelayButtonFrame(95.0, 55.0, 60.0, 22.0);

double nyquistFrequency() {
    return KOAudioDevice::sharedAudioDevice().nyquistFrequency();
}

} // namespace

KOTransferController::KOTransferController(KOInstrumentControllerDelegate* delegate) {
    setDelegate(delegate);
}

KOTransferController::~KOTransferController() {
    // The delay-finder windows close before the measurements they show.
    mDelayFinders.clear();
}

// --- Window ------------------------------------------------------------------------------------

std::unique_ptr<QMainWindow> KOTransferController::buildWindow(const QString&) {
    auto window = std::make_unique<KOInstrumentWindow>();
    auto* split = new QSplitter(Qt::Horizontal, window.get());
    auto* controls = new QWidget(split);
    // The divider stays at its one position while the panel shows; the splitter may still
    // collapse the panel entirely.
    controls->setMinimumWidth(kDividerPosition);
    controls->setMaximumWidth(kDividerPosition);
    auto* layout = new QVBoxLayout(controls);
    layout->setContentsMargins(4, 4, 4, 4);

    auto* buttons = new QHBoxLayout;
    auto* add = new QToolButton(controls);
    add->setText(QStringLiteral("+"));
    add->setPopupMode(QToolButton::InstantPopup);
    auto* pause = new QPushButton(QStringLiteral("Pause"), controls);
    pause->setCheckable(true);
    buttons->addWidget(add);
    buttons->addWidget(pause);
    buttons->addStretch();
    layout->addLayout(buttons);

    auto* table = new QTableView(controls);
    table->horizontalHeader()->setStretchLastSection(true);
    table->verticalHeader()->hide();
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    layout->addWidget(table, 1);

    auto* size = new QComboBox(controls);
    auto* windowType = new QComboBox(controls);
    auto* drawMode = new KODrawModePopupButton(controls);
    auto* averaging = new DoubleSlider(controls);
    layout->addWidget(new QLabel(QStringLiteral("FFT Size"), controls));
    layout->addWidget(size);
    layout->addWidget(new QLabel(QStringLiteral("Window"), controls));
    layout->addWidget(windowType);
    layout->addWidget(new QLabel(QStringLiteral("Magnitude"), controls));
    layout->addWidget(drawMode);
    layout->addWidget(new QLabel(QStringLiteral("Averaging"), controls));
    layout->addWidget(averaging);
    auto* delayRow = new QHBoxLayout;
    auto* delay = new QLineEdit(controls);
    auto* reference = new QPushButton(QStringLiteral("Set Ref"), controls);
    delayRow->addWidget(new QLabel(QStringLiteral("Delay"), controls));
    delayRow->addWidget(delay, 1);
    delayRow->addWidget(reference);
    layout->addLayout(delayRow);

    auto* view = new KOTransferView(split, nyquistFrequency());
    split->addWidget(controls);
    split->addWidget(view);
    split->setCollapsible(0, true);
    split->setCollapsible(1, true);
    // Only the plot grows with the window.
    split->setStretchFactor(0, 0);
    split->setStretchFactor(1, 1);
    window->setCentralWidget(split);
    window->resize(760, 420);
    split->setSizes({kDividerPosition, 760 - kDividerPosition});

    setFFTView(view);
    setInstrumentsTableView(table);
    setFFTSizePopUpButton(size);
    setWindowTypePopUpButton(windowType);
    setDrawModeTrace1PopUpButton(drawMode);
    mSplitView = split;
    mAveragingSlider = averaging;
    mPauseButton = pause;
    mAddButton = add;
    mDelayField = delay;
    mReferenceButton = reference;
    return window;
}

void KOTransferController::awakeFromNib() {
    KOTransferView* view = transferView();
    view->awakeFromNib();
    view->setFFTSize(kFFTSize);
    view->setRedrawRate(kRedrawRate);
    resetView();

    mAveragingSlider->setDoubleRange(kAveragingMinimum, kAveragingMaximum);
    mAveragingSlider->setDoubleValue(KORTTransferMeasWrapper::kDefaultAveragingRate);
    connect(mAveragingSlider, &DoubleSlider::doubleValueChanged, this, [this](double value) {
        if (const auto live = selectedRealtimeInstrument())
            live->setAveragingRate(float(value));
    });
    connect(mPauseButton, &QPushButton::clicked, this, [this] { togglePaused(); });
    connect(mDelayField, &QLineEdit::editingFinished, this, [this] {
        if (const auto live = selectedRealtimeInstrument())
            live->setSourceDelayString(mDelayField->text());
        updateDelayField();
    });
    connect(mReferenceButton, &QPushButton::clicked, this, [this] {
        copyDelayToRef();
        updateDelayField();
    });

    instrumentWindow()->addActions(addMenu()->actions());
    mAddButton->setMenu(addMenu());

    KOInstrumentControlView* panel = view->controlView();
    panel->setHeight(80.0);
    QPushButton* reset =
        panel->addButtonWithFrame(kResetButtonFrame, this, [this](QWidget*) { resetAll(); });
    reset->setText(QStringLiteral("Reset"));
    mDelayFinderButton = panel->addButtonWithFrame(kDelayButtonFrame, this,
                                                   [this](QWidget*) { showDelayFinderWindow(); });
    mDelayFinderButton->setText(QStringLiteral("Delay"));

    connectSharedPopUps();
}

QMenu* KOTransferController::addMenu() {
    if (!mAddMenu) {
        mAddMenu = std::make_unique<QMenu>();
        addAddItems(*mAddMenu, true);
        connect(mAddMenu.get(), &QMenu::aboutToShow, this, [this] { updateAddItems(*mAddMenu); });
    }
    return mAddMenu.get();
}

QStringList KOTransferController::toolbarItemIdentifiers() const {
    return KOFFTBase::toolbarItemIdentifiers() << text(kAddItemIdentifier);
}

QAction* KOTransferController::toolbarItemForItemIdentifier(const QString& identifier,
                                                            QObject* parent) {
    if (identifier != QLatin1String(kAddItemIdentifier))
        return KOFFTBase::toolbarItemForItemIdentifier(identifier, parent);
    auto* item =
        new QAction(QIcon::fromTheme(QStringLiteral("list-add")), QStringLiteral("Add"), parent);
    item->setObjectName(text(kAddItemIdentifier));
    item->setMenu(addMenu());
    return item;
}

void KOTransferController::initWithWindowNibName(const QString& nibName,
                                                 const QVariantMap* dictionary) {
    KOFFTBase::initWithWindowNibName(nibName, dictionary);
    if (!dictionary) {
        setName(text(kWindowTitleFormat).arg(gWindowsMade.fetch_add(1) + 1));
        addRealtime();
    } else if (instrumentCount() == 0) {
        // A window that lost every measurement measures again rather than failing to open.
        koru::log::warn("{}: No Instruments have been restored in KOTransferController; a new "
                        "measurement is made",
                        description().toStdString());
        addRealtime();
    }
    instrumentWindow()->setWindowTitle(text(kWindowName));
    addToDataCollectorThread();
    // Through the selection model: selectRow would toggle the row while Ctrl is held.
    QTableView* table = instrumentsTableView();
    connect(table->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        updatePauseButton();
        updateDelayField();
        if (const auto live = selectedRealtimeInstrument()) {
            const QSignalBlocker blocker(mAveragingSlider);
            mAveragingSlider->setDoubleValue(live->averagingRate());
        }
    });
    connect(instrumentsArrayController(), &QAbstractItemModel::modelReset, this,
            [this] { forgetGoneDelayFinders(); });
    table->selectionModel()->select(table->model()->index(0, 0),
                                    QItemSelectionModel::ClearAndSelect |
                                        QItemSelectionModel::Rows);
    updatePauseButton();
    updateDelayField();
}

KOTransferView* KOTransferController::transferView() const {
    return static_cast<KOTransferView*>(fftView());
}

void KOTransferController::resetView() {
    KOTransferView* view = transferView();
    view->setLowFrequencyBound(50.0f);
    view->setHiFrequencyBound(float(nyquistFrequency()));
    view->setLoMagLimit(KOTransferView::kLowerMag);
    view->setHiMagLimit(KOTransferView::kUpperMag);
}

void KOTransferController::setControlPanelVisible(bool visible) {
    const int total = std::max(mSplitView->width(), kDividerPosition + 1);
    mSplitView->setSizes(
        {visible ? kDividerPosition : 0, total - (visible ? kDividerPosition : 0)});
}

bool KOTransferController::controlPanelVisible() const {
    const QList<int> sizes = mSplitView->sizes();
    return !sizes.isEmpty() && sizes.front() > 0;
}

// --- Collector thread ----------------------------------------------------------------------------

// The framework calls this with the data-collection lock held (a pass that finds it taken
// skips the window), so the list and the models' sizes stay put until the rebuild is over.
void KOTransferController::dataCollection() {
    bool redraw = false;
    bool running = false;
    const std::vector<ModelPointer> models = instruments();
    for (const ModelPointer& each : models) {
        auto* live = dynamic_cast<KORTTransferMeasWrapper*>(each.get());
        if (live == nullptr)
            continue;
        // The running one met last asks for a redraw too, when it has something new.
        redraw = redraw || live->shouldCollect();
        if (!live->isPaused() && !live->pause()) {
            running = true;
            break;
        }
    }
    if (!running && (mIdlePasses.fetch_add(1) + 1) % kIdleRedrawPasses == 0)
        redraw = true;
    for (const ModelPointer& each : models)
        each->collect();
    if (redraw) {
        mRedrawRequests.fetch_add(1);
        transferView()->buildLayerWithTransferWrappers(models);
    }
}

// --- Measurements --------------------------------------------------------------------------------

std::vector<std::shared_ptr<KOTransferMeasurementWrapper>>
KOTransferController::transferModels() const {
    std::vector<std::shared_ptr<KOTransferMeasurementWrapper>> models;
    for (const ModelPointer& each : instruments())
        if (auto model = std::dynamic_pointer_cast<KOTransferMeasurementWrapper>(each))
            models.push_back(std::move(model));
    return models;
}

std::shared_ptr<KORTTransferMeasWrapper> KOTransferController::selectedRealtimeInstrument() const {
    return std::dynamic_pointer_cast<KORTTransferMeasWrapper>(selectedInstrument());
}

std::vector<std::shared_ptr<KOTransferMeasurementWrapper>>
KOTransferController::selectedTransferModels() const {
    std::vector<int> rows;
    if (QTableView* table = instrumentsTableView(); table && table->selectionModel())
        for (const QModelIndex& index : table->selectionModel()->selectedRows())
            rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    std::vector<std::shared_ptr<KOTransferMeasurementWrapper>> models;
    for (int row : rows)
        if (auto model = std::dynamic_pointer_cast<KOTransferMeasurementWrapper>(instrumentAt(row)))
            models.push_back(std::move(model));
    return models;
}

std::shared_ptr<KORTTransferMeasWrapper> KOTransferController::newRealtime() const {
    std::shared_ptr<KORTTransferMeasWrapper> live =
        KORTTransferMeasWrapper::createWithFFTSize(kFFTSize);
    live->setTitle(findUniqueNameWithPrefix(text(kRealtimePrefix)));
    return live;
}

void KOTransferController::addMeasurement(const FFTModel& model) {
    model->setOctaveMode(octaveResolution());
    addFFTModel(model);
}

void KOTransferController::addRealtime() {
    std::shared_ptr<KORTTransferMeasWrapper> live = newRealtime();
    if (instrumentCount() == 0)
        live->setColor(KOColorAdditions::noBlueColor(), 0);
    live->setSourceDelay(0);
    addMeasurement(live);
}

void KOTransferController::createSnapshot() {
    const auto live = selectedRealtimeInstrument();
    if (!live)
        return;
    std::shared_ptr<KOTransferSnapshot> snapshot = KOTransferSnapshot::createWithRealtime(*live);
    snapshot->setTitle(
        findUniqueNameWithPrefix(QStringLiteral("Snapshot %1 -").arg(live->title())));
    addMeasurement(snapshot);
}

void KOTransferController::createAverage() {
    QList<KOTransferMeasurementWrapper*> chosen;
    const auto selected = selectedTransferModels();
    for (const auto& model : selected)
        chosen.append(model.get());
    std::shared_ptr<KOTransferAverage> average = KOTransferAverage::createWithMeasurements(
        text(kAverageFormat).arg(gAveragesMade.fetch_add(1) + 1), kFFTSize, chosen);
    addMeasurement(average);
}

void KOTransferController::createDifference() {
    const auto selected = selectedTransferModels();
    if (selected.size() != 2) {
        KOInfoPanel::sharedInfoPanel().setInfoText(text(kSelectTwo), text(kSelectTwoDetail));
        return;
    }
    std::shared_ptr<KOTransferDifference> difference =
        KOTransferDifference::createWithMeasurements(*selected[0], *selected[1]);
    addMeasurement(difference);
    KOInfoPanel::sharedInfoPanel().setInfoText(
        text(kDifferenceFormat).arg(selected[0]->title()),
        text(kDifferenceDetailFormat).arg(selected[1]->title()));
}

std::shared_ptr<KOTransferAccu> KOTransferController::accu() const {
    for (const ModelPointer& each : instruments()) {
        auto accu = std::dynamic_pointer_cast<KOTransferAccu>(each);
        // An average is fixed once made: only a plain accumulator takes pushes.
        if (accu && !std::dynamic_pointer_cast<KOTransferAverage>(each))
            return accu;
    }
    return nullptr;
}

void KOTransferController::pushToAccu() {
    std::shared_ptr<KOTransferAccu> target = accu();
    const bool made = !target;
    if (made)
        target = KOTransferAccu::createWithFFTSize(kFFTSize);
    const auto selected = selectedTransferModels();
    {
        const std::lock_guard lock(dataCollectionLock());
        for (const auto& model : selected)
            target->pushToAccu(*model);
    }
    if (made)
        addMeasurement(target);
    redisplayView();
}

void KOTransferController::resetCurrent() {
    const auto selected =
        std::dynamic_pointer_cast<KOTransferMeasurementWrapper>(selectedInstrument());
    if (!selected)
        return;
    const std::lock_guard lock(dataCollectionLock());
    selected->resetAspec();
}

void KOTransferController::resetAll() {
    const std::lock_guard lock(dataCollectionLock());
    for (const auto& model : transferModels())
        model->resetAspec();
}

void KOTransferController::copyDelayToRef() {
    if (const auto live = selectedRealtimeInstrument())
        live->setRefToDelayTime();
}

void KOTransferController::showDelayFinderWindow() {
    const auto live = selectedRealtimeInstrument();
    if (KODelayFinderController* window = delayFinderForWrapper(live.get()))
        window->showWindow();
}

KODelayFinderController*
KOTransferController::delayFinderForWrapper(const KOInstrumentWrapper* model) {
    std::shared_ptr<KORTTransferMeasWrapper> live;
    for (const ModelPointer& each : instruments())
        if (each.get() == model)
            live = std::dynamic_pointer_cast<KORTTransferMeasWrapper>(each);
    if (!live)
        return nullptr;
    std::unique_ptr<KODelayFinderController>& window = mDelayFinders[live->identifier()];
    if (!window)
        window = std::make_unique<KODelayFinderController>(*live);
    return window.get();
}

void KOTransferController::forgetGoneDelayFinders() {
    std::vector<QString> listed;
    for (const ModelPointer& each : instruments())
        listed.push_back(each->identifier());
    std::erase_if(mDelayFinders, [&listed](const auto& entry) {
        return std::find(listed.begin(), listed.end(), entry.first) == listed.end();
    });
}

void KOTransferController::togglePaused() {
    if (const auto live = selectedRealtimeInstrument()) {
        const bool paused = !live->isPaused();
        live->setPaused(paused);
        // With Ctrl held the signal generator is muted while the measurement is paused.
        if ((KeyboardModifierSource::current() & Qt::ControlModifier) && delegate() != nullptr)
            delegate()->shouldSetSigGenMuteStatus(paused);
    }
    updatePauseButton();
}

void KOTransferController::updatePauseButton() {
    if (!mPauseButton)
        return;
    const auto live = selectedRealtimeInstrument();
    const QSignalBlocker blocker(mPauseButton);
    mPauseButton->setChecked(live && live->isPaused());
    mPauseButton->setText(live && live->isPaused() ? QStringLiteral("Resume")
                                                   : QStringLiteral("Pause"));
}

void KOTransferController::updateDelayField() {
    if (!mDelayField)
        return;
    const auto live = selectedRealtimeInstrument();
    mDelayField->setEnabled(live != nullptr);
    mReferenceButton->setEnabled(live != nullptr);
    const QSignalBlocker blocker(mDelayField);
    mDelayField->setText(live ? live->sourceDelayString() : QString());
}

void KOTransferController::setPause(bool paused) {
    KOFFTBase::setPause(paused);
    for (const ModelPointer& model : instruments())
        model->setPause(pause());
}

qint64 KOTransferController::inChannelA() const {
    const auto live = selectedRealtimeInstrument();
    return live ? live->sourceChannel() : -1;
}

void KOTransferController::setInChannelA(qint64 channel) {
    if (const auto live = selectedRealtimeInstrument())
        live->setSourceChannel(channel);
}

qint64 KOTransferController::inChannelB() const {
    const auto live = selectedRealtimeInstrument();
    return live ? live->responseChannel() : -1;
}

void KOTransferController::setInChannelB(qint64 channel) {
    if (const auto live = selectedRealtimeInstrument())
        live->setResponseChannel(channel);
}

bool KOTransferController::shouldPatchToNextConsecutiveChannel(
    KOFFTInstrumentWrapperBase* wrapper) {
    const Qt::KeyboardModifiers held = KeyboardModifierSource::current();
    const bool modifier = held & (Qt::ShiftModifier | Qt::AltModifier | Qt::ControlModifier);
    return modifier && dynamic_cast<KORTTransferMeasWrapper*>(wrapper) != nullptr;
}

// --- Menus ---------------------------------------------------------------------------------------

void KOTransferController::addAddItems(QMenu& menu, bool withKeys) {
    const struct {
        const char* title;
        qint64 tag;
        Qt::Key key;
        void (KOTransferController::*action)();
    } items[] = {
        {"New Realtime", kAddRealtimeTag, Qt::Key_R, &KOTransferController::addRealtime},
        {"New Snapshot", kSnapshotTag, Qt::Key_S, &KOTransferController::createSnapshot},
        {"New Difference", kDifferenceTag, Qt::Key_D, &KOTransferController::createDifference},
        {"New Average", kAverageTag, Qt::Key_V, &KOTransferController::createAverage},
        {"Push to Accu", kPushToAccuTag, Qt::Key_A, &KOTransferController::pushToAccu}};
    for (const auto& item : items) {
        const auto act = [this, call = item.action](QAction*) { (this->*call)(); };
        if (!withKeys) {
            KOMenuAdditions::addItemWithTitle(menu, text(item.title), this, act, item.tag);
            continue;
        }
        QAction* action = KOMenuAdditions::addItemWithTitle(
            menu, text(item.title), this, act, QKeySequence(Qt::CTRL | Qt::ALT | item.key),
            item.tag);
        // The keys work while this window is active, so two transfer windows never compete.
        action->setShortcutContext(Qt::WindowShortcut);
    }
}

void KOTransferController::updateAddItems(QMenu& menu) {
    const auto selected = selectedTransferModels();
    const auto current =
        std::dynamic_pointer_cast<KOTransferMeasurementWrapper>(selectedInstrument());
    if (QAction* item = KOMenuAdditions::itemWithTag(menu, kSnapshotTag)) {
        item->setEnabled(current && !std::dynamic_pointer_cast<KOTransferSnapshot>(current));
        item->setText(current ? text(kSnapshotMenuFormat).arg(current->title())
                              : QStringLiteral("New Snapshot"));
    }
    if (QAction* item = KOMenuAdditions::itemWithTag(menu, kDifferenceTag))
        item->setEnabled(selected.size() == 2);
    if (QAction* item = KOMenuAdditions::itemWithTag(menu, kAverageTag))
        item->setEnabled(selected.size() != 1);
    if (QAction* item = KOMenuAdditions::itemWithTag(menu, kPushToAccuTag)) {
        const auto target = accu();
        item->setEnabled(!(current && target && current.get() == target.get()));
    }
    if (QAction* item = KOMenuAdditions::itemWithTag(menu, kAnalyzersTag))
        KOMenuAdditions::replaceSubmenu(*item, instrumentsMenu());
}

QMenu* KOTransferController::instrumentMenu() {
    if (!mInstrumentMenu) {
        mInstrumentMenu = std::make_unique<QMenu>(name());
        QMenu& menu = *mInstrumentMenu;
        addAddItems(menu, false);
        menu.addSeparator();
        KOMenuAdditions::addSubmenu(menu, std::make_unique<QMenu>(QStringLiteral("Analyzers")),
                                    kAnalyzersTag);
        connect(&menu, &QMenu::aboutToShow, this, [this, menu = &menu] {
            updateAddItems(*menu);
            menuNeedsUpdate(menu);
        });
    }
    return KOFFTBase::instrumentMenu();
}

std::unique_ptr<QMenu> KOTransferController::instrumentsMenu() {
    auto menu = std::make_unique<QMenu>(QStringLiteral("Analyzers"));
    for (const FFTModel& model : fftModels())
        KOMenuAdditions::addSubmenu(*menu, menuForTransferWrapper(model), qint64(model->hash()));
    return menu;
}

std::unique_ptr<QMenu> KOTransferController::menuForTransferWrapper(const FFTModel& model) {
    auto menu = std::make_unique<QMenu>(model->title());
    const auto represent = [&model](QMenu& items) {
        for (QAction* item : items.actions())
            setRepresentedObject(*item, *model);
    };
    const struct {
        const char* title;
        qint64 tag;
    } traces[] = {{"Magnitude", kMagnitudeTag}, {"Phase", kPhaseTag}, {"Coherence", kCoherenceTag}};
    for (const auto& trace : traces) {
        QAction* item = KOMenuAdditions::addItemWithTitle(
            *menu, text(trace.title), this, [this](QAction* chosen) { setDraws(chosen); },
            trace.tag);
        item->setCheckable(true);
        item->setChecked(model->drawsTraceNumber(int(trace.tag)));
        setRepresentedObject(*item, *model);
    }
    menu->addSeparator();
    auto sizes = fftSizeMenu();
    represent(*sizes);
    KOMenuAdditions::checkItemWithTag(*sizes, model->FFTSize());
    KOMenuAdditions::addSubmenu(*menu, std::move(sizes), 0);
    auto octaves = octaveMenu();
    octaves->setTitle(QStringLiteral("Octave Smoothing"));
    represent(*octaves);
    KOMenuAdditions::checkItemWithTag(*octaves, model->octaveMode());
    KOMenuAdditions::addSubmenu(*menu, std::move(octaves), 0);
    auto windows = windowTypeMenu();
    represent(*windows);
    KOMenuAdditions::checkItemWithTag(*windows, model->windowType());
    KOMenuAdditions::addSubmenu(*menu, std::move(windows), 0);

    if (auto live = std::dynamic_pointer_cast<KORTTransferMeasWrapper>(model)) {
        menu->addSeparator();
        const struct {
            const char* title;
            qint64 tag;
            bool source;
        } channels[] = {{"Source Channel", kSourceChannelTag, true},
                        {"Response Channel", kResponseChannelTag, false}};
        for (const auto& side : channels) {
            std::unique_ptr<QMenu> items = InstrumentAudioDevice::shared().inputChannelMenu();
            items->setTitle(text(side.title));
            std::weak_ptr<KORTTransferMeasWrapper> weak = live;
            KOMenuAdditions::setItemsAction(
                *items, this, [weak, source = side.source](QAction* item) {
                    const auto target = weak.lock();
                    const qint64 channel = KOMenuItemAdditions::tag(*item);
                    if (!target || !InstrumentAudioDevice::shared().isValidChannelIndex(channel)) {
                        koru::log::error("{} is not a valid channel index", channel);
                        return;
                    }
                    if (source)
                        target->setSourceChannel(channel);
                    else
                        target->setResponseChannel(channel);
                });
            represent(*items);
            KOMenuAdditions::checkItemWithTag(*items, side.source ? live->sourceChannel()
                                                                  : live->responseChannel());
            KOMenuAdditions::addSubmenu(*menu, std::move(items), side.tag);
        }
    }
    menu->addSeparator();
    QAction* exporting = KOMenuAdditions::addItemWithTitle(
        *menu, QStringLiteral("Export Data..."), this,
        [this](QAction* item) { openDataExporterSheet(item); }, -1);
    setRepresentedObject(*exporting, *model);
    exporting->setEnabled(model->canExportData());
    return menu;
}

// --- Linking -------------------------------------------------------------------------------------

QStringList KOTransferController::linkableViewParameters() const {
    return {QStringLiteral("Frequency"), QStringLiteral("Gain")};
}

void KOTransferController::changeParameterWithName(const QString& name, const QVariant& value) {
    if (name == QLatin1String("Magnitude"))
        return;
    KOFFTBase::changeParameterWithName(name, value);
}

void KOTransferController::viewDidChangeMagnitudeBounds(float, float) {}
