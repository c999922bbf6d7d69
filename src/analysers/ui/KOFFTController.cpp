#include "analysers/ui/KOFFTController.h"

#include "analysers/KOSpectrumAnalyzerSnapshot.h"
#include "analysers/KOSpectrumAnalyzerWrapper.h"
#include "analysers/ui/DoubleSlider.h"
#include "analysers/ui/KOFFTView.h"
#include "engine/KOAudioDevice.h"
#include "engine/KOFloatBuffer.h"
#include "framework/InstrumentAudioDevice.h"
#include "framework/KOColorAdditions.h"
#include "framework/KODrawModePopupButton.h"
#include "framework/KOInstrumentControlView.h"
#include "framework/KOInstrumentWindow.h"
#include "framework/KOMenuAdditions.h"
#include "framework/KOPopUpButtonAdditions.h"
#include "platform/exceptions/InternalInconsistencyException.h"
#include "platform/fourcc/FourCC.h"
#include "platform/log/Log.h"
#include "utility/ZODictionary.h"

#include <QAction>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableView>
#include <QVBoxLayout>

#include <cmath>

using koru::analysers::DoubleSlider;
using koru::framework::InstrumentAudioDevice;
using koru::platform::fourCC;
using koru::platform::InternalInconsistencyException;

namespace {

QString text(const char* latin1) {
    return QString::fromLatin1(latin1);
}

constexpr std::uint32_t kWhite = fourCC("whit");
constexpr std::uint32_t kPink = fourCC("pink");
constexpr std::uint32_t kPeak = fourCC("peak");

// The trace tags of the per-model submenu: "Inst" trace 1, "Peak" trace 2, "Average" trace 3.
constexpr qint64 kInstantaneousTag = 0;
constexpr qint64 kPeakTag = 1;
constexpr qint64 kAverageTag = 2;

const QRectF kResetButtonFrame(95.0, 75.0, 60.0, 22.0);
const QRectF kAccumulationPopUpFrame(95.0, 40.0, 100.0, 25.0);
const QRectF kOctavePopUpFrame(95.0, 5.0, 100.0, 25.0);

// A saved code: `absent` when the key is missing, 0 (no code at all) when it holds no number.
std::uint32_t savedCode(const QVariantMap& dictionary, const char* key, std::uint32_t absent) {
    const QVariant value = dictionary.value(text(key));
    if (!value.isValid())
        return absent;
    return ZODictionary::isNumber(value) ? ZODictionary::unsignedIntForKey(dictionary, text(key), 0)
                                         : 0;
}

double nyquistFrequency() {
    return KOAudioDevice::sharedAudioDevice().nyquistFrequency();
}

} // namespace

KOFFTController::KOFFTController(KOInstrumentControllerDelegate* delegate)
    : mAccumulationMode(kWhite) {
    setDelegate(delegate);
}

KOFFTController::~KOFFTController() = default;

// --- Window ------------------------------------------------------------------------------------

std::unique_ptr<QMainWindow> KOFFTController::buildWindow(const QString& /*nibName*/) {
    auto window = std::make_unique<KOInstrumentWindow>();
    auto* view = new KOFFTView(window.get(), nyquistFrequency());
    window->setCentralWidget(view);
    window->resize(520, 320);
    setFFTView(view);

    // The settings popover: the models' table and the selected model's settings.
    auto* settings = new QWidget(window.get());
    settings->hide();
    auto* layout = new QVBoxLayout(settings);
    auto* table = new QTableView(settings);
    table->horizontalHeader()->setStretchLastSection(true);
    table->verticalHeader()->hide();
    table->setMinimumSize(240, 110);
    layout->addWidget(table);
    auto* rows = new QHBoxLayout;
    auto* add = new QPushButton(QStringLiteral("+"), settings);
    auto* remove = new QPushButton(QStringLiteral("−"), settings);
    connect(add, &QPushButton::clicked, this, [this] { addAnalyzer(); });
    connect(remove, &QPushButton::clicked, this, [this] { removeSelectedAnalyzer(); });
    rows->addWidget(add);
    rows->addWidget(remove);
    rows->addStretch();
    layout->addLayout(rows);
    auto* form = new QFormLayout;
    auto* size = new QComboBox(settings);
    auto* windowType = new QComboBox(settings);
    auto* drawMode = new KODrawModePopupButton(settings);
    auto* average = new DoubleSlider(settings);
    auto* fall = new DoubleSlider(settings);
    form->addRow(QStringLiteral("FFT Size"), size);
    form->addRow(QStringLiteral("Window"), windowType);
    form->addRow(QStringLiteral("Trace"), drawMode);
    form->addRow(QStringLiteral("Averaging"), average);
    form->addRow(QStringLiteral("Peak Fall"), fall);
    layout->addLayout(form);

    setInstrumentsTableView(table);
    setFFTSizePopUpButton(size);
    setWindowTypePopUpButton(windowType);
    setDrawModeTrace1PopUpButton(drawMode);
    mAvgRateSlider = average;
    mPeakFallRateSlider = fall;
    setControlViewController(settings);
    return window;
}

void KOFFTController::awakeFromNib() {
    InternalInconsistencyException::check(mAvgRateSlider != nullptr, "average rate slider is nil");
    InternalInconsistencyException::check(mPeakFallRateSlider != nullptr,
                                          "peak rate slider is nil");
    const auto models = spectrumModels();
    mAvgRate = models.empty() ? kDefaultAvgRate : models.front()->avgRate();
    mAvgRateSlider->setDoubleRange(kAvgRateMinimum, kAvgRateMaximum);
    mAvgRateSlider->setDoubleValue(kAvgRateInitial);
    connect(mAvgRateSlider, &DoubleSlider::doubleValueChanged, this, [this] { setAvgRate(); });

    KOFFTView* view = spectrumView();
    view->awakeFromNib();
    view->setRedrawRate(kRedrawRate);
    audioPropertiesChanged();
    resetView();

    mPeakFallRateSlider->setDoubleRange(kPeakFallMinimum, kPeakFallMaximum);
    mPeakFallRateSlider->setDoubleValue(kPeakFallInitial);
    connect(mPeakFallRateSlider, &DoubleSlider::doubleValueChanged, this,
            [this] { setPeakFallRate(); });
    instrumentWindow()->setMinimumSize(kMinimumSize);

    KOInstrumentControlView* panel = view->controlView();
    panel->setHeight(kControlPanelHeight);
    QPushButton* reset =
        panel->addButtonWithFrame(kResetButtonFrame, this, [this](QWidget*) { resetAll(); });
    reset->setText(QStringLiteral("Reset"));
    mAccuModePopUpButton = panel->addPopUpButtonWithFrame(kAccumulationPopUpFrame,
                                                          *KOMenuAdditions::accumulationModeMenu());
    KOPopUpButtonAdditions::selectItemWithTag(*mAccuModePopUpButton, mAccumulationMode);
    connect(mAccuModePopUpButton, &QComboBox::activated, this, [this](int index) {
        setAccumulationMode(std::uint32_t(mAccuModePopUpButton->itemData(index).toLongLong()));
    });
    QComboBox* octave = panel->addPopUpButtonWithFrame(kOctavePopUpFrame, *octaveMenu());
    connect(octave, &QComboBox::activated, this, [this, octave](int index) {
        setOctaveResolution(int(octave->itemData(index).toLongLong()));
    });
    setResolutionMenu(octave);

    connectSharedPopUps();
}

void KOFFTController::initWithWindowNibName(const QString& nibName, const QVariantMap* dictionary) {
    KOFFTBase::initWithWindowNibName(nibName, dictionary);
    mFFTSize = kFFTSize;
    spectrumView()->setFFTSize(kFFTSize);
    if (!dictionary) {
        setName(text(kWindowName));
        resetPeak();
        std::shared_ptr<KOSpectrumAnalyzerWrapper> analyzer = newAnalyzer();
        analyzer->setColor(KOColorAdditions::noBlueColor(), 0);
        addInstrument(std::move(analyzer));
        setAccumulationMode(kPink);
    } else {
        const auto models = spectrumModels();
        if (!models.empty()) {
            mAvgRateSlider->setDoubleValue(std::log10(double(models.front()->avgRate())));
            mPeakFallRateSlider->setDoubleValue(models.front()->peakFallRate());
        }
        resetPeak();
        const std::uint32_t saved = savedCode(*dictionary, kAccumulationModeKey, kWhite);
        if (!isAccumulationMode(saved))
            koru::log::warn("{}: unknown accumulation mode {}, white noise is flat",
                            description().toStdString(), saved);
        setAccumulationMode(isAccumulationMode(saved) ? saved : kWhite);
        // A window whose models were all lost measures again, as a new one does.
        if (instrumentCount() == 0) {
            koru::log::warn("{}: no analyser restored, a new one is made",
                            description().toStdString());
            std::shared_ptr<KOSpectrumAnalyzerWrapper> analyzer = newAnalyzer();
            analyzer->setColor(KOColorAdditions::noBlueColor(), 0);
            addInstrument(std::move(analyzer));
        }
    }
    addToDataCollectorThread();
    instrumentsTableView()->selectRow(0);
}

QVariantMap KOFFTController::dictionaryRepresentation() const {
    QVariantMap dictionary = KOFFTBase::dictionaryRepresentation();
    dictionary.insert(text(kAccumulationModeKey), qint64(mAccumulationMode));
    return dictionary;
}

KOFFTView* KOFFTController::spectrumView() const {
    return static_cast<KOFFTView*>(fftView());
}

void KOFFTController::resetView() {
    KOFFTView* view = spectrumView();
    view->setLowFrequencyBound(50.0f);
    view->setHiFrequencyBound(float(nyquistFrequency()));
    view->setLoMagLimit(-96.0f);
    view->setHiMagLimit(-10.0f);
}

// --- Collector thread ----------------------------------------------------------------------------

// Runs under the data-collection lock, so the list, the models' sizes and the plot's layer stay
// as they are until the rebuild is over.
void KOFFTController::dataCollection() {
    bool rebuild = false;
    try {
        const ModelPointer first = instrumentAt(0);
        rebuild = first && first->shouldCollect();
    } catch (const std::exception& error) {
        koru::log::error("{}: {}", description().toStdString(), error.what());
    }
    const int count = instrumentCount();
    for (int row = 0; row < count; ++row)
        instrumentAt(row)->collect();
    if (rebuild)
        spectrumView()->buildLayerWithWrappers(instruments());
}

// --- Models --------------------------------------------------------------------------------------

std::vector<std::shared_ptr<KOSpectrumAnaWrapperBase>> KOFFTController::spectrumModels() const {
    std::vector<std::shared_ptr<KOSpectrumAnaWrapperBase>> models;
    for (const ModelPointer& each : instruments()) {
        if (auto model = std::dynamic_pointer_cast<KOSpectrumAnaWrapperBase>(each))
            models.push_back(std::move(model));
    }
    return models;
}

std::shared_ptr<KOSpectrumAnalyzerWrapper> KOFFTController::liveModel(const FFTModel& model) const {
    return std::dynamic_pointer_cast<KOSpectrumAnalyzerWrapper>(model);
}

std::shared_ptr<KOSpectrumAnalyzerWrapper> KOFFTController::newAnalyzer() const {
    std::shared_ptr<KOSpectrumAnalyzerWrapper> analyzer =
        KOSpectrumAnalyzerWrapper::createWithFFTSize(mFFTSize);
    analyzer->setPeakFallRate(float(mPeakFallRateSlider->doubleValue()));
    analyzer->setAvgRate(mAvgRate);
    analyzer->setAccumulationMode(mAccumulationMode);
    return analyzer;
}

void KOFFTController::addAnalyzer() {
    std::shared_ptr<KOSpectrumAnalyzerWrapper> analyzer = newAnalyzer();
    analyzer->setTitle(findUniqueNameWithPrefix(text(kAnalyzerPrefix)));
    addInstrument(std::move(analyzer));
}

qint64 KOFFTController::inputChannel() const {
    const auto live = liveModel(selectedFFTModel());
    return live ? live->inputChannel() : -1;
}

void KOFFTController::setInputChannel(qint64 channel) {
    if (const auto live = liveModel(selectedFFTModel())) {
        live->setInputChannel(channel);
        audioPropertiesChanged();
    }
}

void KOFFTController::changeInputChannel(QAction* item) {
    const auto live = liveModel(targetModel(item));
    if (!live || !item)
        return;
    const qint64 channel = KOMenuItemAdditions::tag(*item);
    if (!InstrumentAudioDevice::shared().isValidChannelIndex(channel)) {
        koru::log::error("{} is not a valid channel index", channel);
        return;
    }
    live->setInputChannel(channel);
}

void KOFFTController::setAvgRate() {
    mAvgRate = float(std::pow(10.0, mAvgRateSlider->doubleValue()));
    const std::lock_guard lock(dataCollectionLock());
    for (const auto& model : spectrumModels())
        model->setAvgRate(mAvgRate);
}

void KOFFTController::setPeakFallRate() {
    const auto fall = float(mPeakFallRateSlider->doubleValue());
    for (const auto& model : spectrumModels()) {
        try {
            model->setPeakFallRate(fall);
        } catch (const std::exception& error) {
            koru::log::warn("{}: {}", model->title().toStdString(), error.what());
        }
    }
}

bool KOFFTController::isAccumulationMode(std::uint32_t mode) {
    return mode == kWhite || mode == kPink || mode == kPeak;
}

void KOFFTController::setAccumulationMode(std::uint32_t mode) {
    if (!isAccumulationMode(mode)) {
        koru::log::warn("{}: unknown accumulation mode {}", description().toStdString(), mode);
        return;
    }
    for (const FFTModel& model : fftModels())
        model->setAccumulationMode(mode);
    mAccumulationMode = mode;
    if (mAccuModePopUpButton) {
        const QSignalBlocker blocker(mAccuModePopUpButton);
        KOPopUpButtonAdditions::selectItemWithTag(*mAccuModePopUpButton, mode);
    }
    redisplayView();
}

void KOFFTController::changeAccumulationMode(QAction* item) {
    if (item)
        setAccumulationMode(std::uint32_t(KOMenuItemAdditions::tag(*item)));
}

std::unique_ptr<QMenu> KOFFTController::accumulationModeMenu() {
    auto menu = KOMenuAdditions::accumulationModeMenu();
    KOMenuAdditions::setItemsAction(*menu, this,
                                    [this](QAction* item) { changeAccumulationMode(item); });
    return menu;
}

void KOFFTController::resetPeak() {
    const std::lock_guard lock(dataCollectionLock());
    for (const auto& model : spectrumModels())
        model->resetPeak();
}

void KOFFTController::resetCurrent() {
    if (const ModelPointer model = selectedInstrument()) {
        const std::lock_guard lock(dataCollectionLock());
        model->reset();
    }
}

void KOFFTController::resetAll() {
    const std::lock_guard lock(dataCollectionLock());
    for (const ModelPointer& model : instruments())
        model->reset();
}

void KOFFTController::setPause(bool paused) {
    KOFFTBase::setPause(paused);
    for (const ModelPointer& model : instruments())
        model->setPause(pause());
}

QStringList KOFFTController::linkableViewParameters() const {
    return koru::analysers::ViewBoundsLink::linkableViewParameters();
}

void KOFFTController::createSnapshotOfSelectedWrappers() {
    for (const FFTModel& model : fftModels()) {
        if (const auto live = liveModel(model))
            addInstrument(FFTModel(KOSpectrumAnalyzerSnapshot::createWithWrapper(*live)));
    }
}

// --- Menus
// -----------------------------------------------------------------------------------------

QMenu* KOFFTController::instrumentMenu() {
    if (!mInstrumentMenu) {
        mInstrumentMenu = std::make_unique<QMenu>(name());
        QMenu& menu = *mInstrumentMenu;
        KOMenuAdditions::addSubmenu(menu, accumulationModeMenu(), kAccumulationSubmenuTag);
        KOMenuAdditions::addSubmenu(menu, octaveMenu(), kOctaveSubmenuTag);
        menu.addSeparator();
        auto analyzers = std::make_unique<QMenu>(QStringLiteral("Analyzers"));
        KOMenuAdditions::addSubmenu(menu, std::move(analyzers), kAnalyzersSubmenuTag);
        menu.addSeparator();
        QAction* snapshots = KOMenuAdditions::addItemWithTitle(
            menu, QStringLiteral("Make Snapshots"), this,
            [this](QAction*) { createSnapshotOfSelectedWrappers(); },
            QKeySequence(Qt::CTRL | Qt::Key_T), 0);
        snapshots->setShortcutContext(Qt::ApplicationShortcut);
        connect(&menu, &QMenu::aboutToShow, this,
                [this, menu = &menu] { updateInstrumentMenu(menu); });
    }
    return KOFFTBase::instrumentMenu();
}

void KOFFTController::updateInstrumentMenu(QMenu* menu) {
    if (QAction* item = KOMenuAdditions::itemWithTag(*menu, kAccumulationSubmenuTag))
        KOMenuAdditions::checkItemWithTag(*item->menu(), mAccumulationMode);
    if (QAction* item = KOMenuAdditions::itemWithTag(*menu, kOctaveSubmenuTag))
        KOMenuAdditions::checkItemWithTag(*item->menu(), octaveResolution());
    if (QAction* item = KOMenuAdditions::itemWithTag(*menu, kAnalyzersSubmenuTag))
        KOMenuAdditions::replaceSubmenu(*item, instrumentsMenu());
    menuNeedsUpdate(menu);
}

std::unique_ptr<QMenu> KOFFTController::instrumentsMenu() {
    auto menu = std::make_unique<QMenu>(QStringLiteral("Analyzers"));
    for (const FFTModel& model : fftModels())
        KOMenuAdditions::addSubmenu(*menu, menuForFFTWrapper(model), qint64(model->hash()));
    menu->addSeparator();
    KOMenuAdditions::addItemWithTitle(
        *menu, QStringLiteral("Add Analyzer"), this, [this](QAction*) { addAnalyzer(); },
        kAddAnalyzerTag);
    return menu;
}

std::unique_ptr<QMenu> KOFFTController::menuForFFTWrapper(const FFTModel& model) {
    auto menu = std::make_unique<QMenu>(model->title());
    const auto represent = [&model](QMenu& items) {
        for (QAction* item : items.actions())
            setRepresentedObject(*item, *model);
    };

    auto sizes = fftSizeMenu();
    represent(*sizes);
    KOMenuAdditions::checkItemWithTag(*sizes, model->FFTSize());
    KOMenuAdditions::addSubmenu(*menu, std::move(sizes), 0);
    auto windows = windowTypeMenu();
    represent(*windows);
    KOMenuAdditions::checkItemWithTag(*windows, model->windowType());
    KOMenuAdditions::addSubmenu(*menu, std::move(windows), 0);

    menu->addSeparator();
    const auto draws = [this](QAction* item) { setDraws(item); };
    const struct {
        const char* title;
        qint64 tag;
    } traces[] = {{"Inst", kInstantaneousTag}, {"Average", kAverageTag}, {"Peak", kPeakTag}};
    for (const auto& trace : traces) {
        QAction* item =
            KOMenuAdditions::addItemWithTitle(*menu, text(trace.title), this, draws, trace.tag);
        item->setCheckable(true);
        item->setChecked(model->drawsTraceNumber(int(trace.tag)));
        setRepresentedObject(*item, *model);
    }

    menu->addSeparator();
    std::unique_ptr<QMenu> channels = InstrumentAudioDevice::shared().inputChannelMenu();
    KOMenuAdditions::setItemsAction(*channels, this,
                                    [this](QAction* item) { changeInputChannel(item); });
    represent(*channels);
    if (const auto live = liveModel(model))
        KOMenuAdditions::checkItemWithTag(*channels, live->inputChannel());
    KOMenuAdditions::addSubmenu(*menu, std::move(channels), 0);

    menu->addSeparator();
    QAction* exporting = KOMenuAdditions::addItemWithTitle(
        *menu, QStringLiteral("Export Data..."), this,
        [this](QAction* item) { openDataExporterSheet(item); }, kExportTag);
    setRepresentedObject(*exporting, *model);
    exporting->setEnabled(model->canExportData());
    return menu;
}
