#include "analysers/ui/KOFFTBase.h"

#include "analysers/KOFFTInstrumentWrapperBase.h"
#include "analysers/ui/KOFFTInstViewBase.h"
#include "app/ui/KOExporterPanelViewController.h"
#include "engine/KOAudioDevice.h"
#include "engine/KOFloatBuffer.h"
#include "framework/InstrumentsTableModel.h"
#include "framework/KODrawModePopupButton.h"
#include "framework/KOInstrumentControlView.h"
#include "framework/KOMenuAdditions.h"
#include "framework/KOPopUpButtonAdditions.h"
#include "framework/ZOIconButton.h"
#include "platform/exceptions/InternalInconsistencyException.h"
#include "platform/log/Log.h"
#include "utility/ZODictionary.h"

#include <QAction>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QMenu>
#include <QSignalBlocker>
#include <QTableView>

#include <algorithm>

using koru::analysers::ViewBoundsLink;
using koru::platform::InternalInconsistencyException;

namespace {

QString text(const char* latin1) {
    return QString::fromLatin1(latin1);
}

constexpr QPointF kSettingsButtonPoint(195.0, 0.0);

} // namespace

KOFFTBase::KOFFTBase() = default;

KOFFTBase::~KOFFTBase() {
    // A model may outlive the window (an export still writing it): it must not call back here.
    for (const FFTModel& model : fftModels()) {
        if (model->delegate() == this)
            model->setDelegate(nullptr);
    }
    if (mFFTView)
        mFFTView->setRedrawRate(0);
}

void KOFFTBase::initWithWindowNibName(const QString& nibName, const QVariantMap* dictionary) {
    KOMultipleTracesInstrumentController::initWithWindowNibName(nibName, dictionary);
    InternalInconsistencyException::check(mFFTView != nullptr, "FFT view is nil");
    for (const FFTModel& model : fftModels())
        model->setDelegate(this);
    connect(instrumentsTableView()->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { selectionChanged(); });
    // Models arrive by paste and drop too: whichever way, they report to this window.
    connect(instrumentsArrayController(), &QAbstractItemModel::modelReset, this, [this] {
        for (const FFTModel& model : fftModels())
            model->setDelegate(this);
    });

    awakeFromNib();

    mBoundsLink = ViewBoundsLink::forView(*this, *mFFTView);
    mFFTView->setDelegate(this);
    buildControlPanel();

    int resolution = kDefaultOctaveResolution;
    if (dictionary) {
        resolution = ZODictionary::intForKey(*dictionary, text(kOctaveResolutionKey),
                                             kDefaultOctaveResolution);
        if (resolution == 0)
            resolution = kDefaultOctaveResolution;
        const int clamped = std::clamp(resolution, KOFFTInstViewBase::kFewestBandsPerOctave,
                                       KOFFTInstViewBase::kMostBandsPerOctave);
        if (clamped != resolution)
            koru::log::warn("{}: octave resolution {} out of range, {} taken",
                            description().toStdString(), resolution, clamped);
        resolution = clamped;
    }
    setOctaveResolution(resolution);
    if (dictionary)
        mFFTView->restoreSettingsFromDictionary(dictionary->value(text(kViewSettingsKey)).toMap());
}

void KOFFTBase::buildControlPanel() {
    KOInstrumentControlView* panel = mFFTView->controlView();
    panel->setWidth(kControlPanelWidth);
    panel->setHeight(std::max(double(panel->height()), kControlPanelMinimumHeight));
    ZOIconButton* settings = panel->addSettingsButtonAtPoint(kSettingsButtonPoint, nullptr);
    connect(settings, &QToolButton::clicked, this,
            [this, settings] { showControlPanel(settings); });
}

QVariantMap KOFFTBase::dictionaryRepresentation() const {
    QVariantMap dictionary = KOMultipleTracesInstrumentController::dictionaryRepresentation();
    const std::lock_guard lock(dataCollectionLock());
    dictionary.insert(text(kViewSettingsKey), mFFTView->settingsAsDictionary());
    dictionary.insert(text(kOctaveResolutionKey), octaveResolution());
    return dictionary;
}

// Only a new Nyquist frequency moves the plot's upper bound: the property changes that leave the
// rate alone (every join of the collector, a restore among them) keep the bounds the user set.
void KOFFTBase::audioPropertiesChanged() {
    const auto nyquist = float(KOAudioDevice::sharedAudioDevice().nyquistFrequency());
    if (nyquist != float(mFFTView->logViewMath().nyquist()))
        mFFTView->setNyquistFrequency(nyquist);
    KOMultipleTracesInstrumentController::audioPropertiesChanged();
}

// --- Models --------------------------------------------------------------------------------------

std::vector<KOFFTBase::FFTModel> KOFFTBase::fftModels() const {
    std::vector<FFTModel> models;
    for (const ModelPointer& each : instruments()) {
        if (auto model = std::dynamic_pointer_cast<KOFFTInstrumentWrapperBase>(each))
            models.push_back(std::move(model));
    }
    return models;
}

KOFFTBase::FFTModel KOFFTBase::selectedFFTModel() const {
    return std::dynamic_pointer_cast<KOFFTInstrumentWrapperBase>(selectedInstrument());
}

void KOFFTBase::setRepresentedObject(QAction& item, const KOInstrumentWrapper& model) {
    item.setProperty(kRepresentedObjectProperty, model.identifier());
}

KOFFTBase::FFTModel KOFFTBase::targetModel(const QAction* item) const {
    const QVariant named = item ? item->property(kRepresentedObjectProperty) : QVariant();
    if (!named.isValid())
        return selectedFFTModel();
    for (const FFTModel& model : fftModels()) {
        if (model->identifier() == named.toString())
            return model;
    }
    return nullptr;
}

void KOFFTBase::addFFTModel(FFTModel model) {
    if (!model)
        return;
    model->setDelegate(this);
    addInstrument(std::move(model));
}

void KOFFTBase::removeFFTModel(const KOInstrumentWrapper* model) {
    for (const FFTModel& each : fftModels()) {
        if (each.get() == model && each->delegate() == this)
            each->setDelegate(nullptr);
    }
    removeInstrument(model);
}

void KOFFTBase::removeSelectedAnalyzer() {
    const ModelPointer selected = selectedInstrument();
    if (!selected || instrumentCount() < 2)
        return;
    const auto rows = instrumentsTableView()->selectionModel()->selectedRows();
    if (rows.size() >= instrumentCount())
        return;
    removeFFTModel(selected.get());
}

// --- Menus ---------------------------------------------------------------------------------------

int KOFFTBase::octaveResolution() const {
    return mFFTView->octaveMode();
}

void KOFFTBase::setOctaveResolution(int resolution) {
    mFFTView->setOctaveMode(resolution);
    if (mResolutionMenu) {
        const QSignalBlocker blocker(mResolutionMenu);
        KOPopUpButtonAdditions::selectItemWithTag(*mResolutionMenu, resolution);
    }
}

void KOFFTBase::changeOctaveResolution(QAction* item) {
    if (item)
        setOctaveResolution(int(KOMenuItemAdditions::tag(*item)));
}

std::unique_ptr<QMenu> KOFFTBase::fftSizeMenu() {
    auto menu = KOMenuAdditions::fftSizeMenu();
    KOMenuAdditions::setItemsAction(*menu, this,
                                    [this](QAction* item) { setFFTSizeMenuAction(item); });
    return menu;
}

std::unique_ptr<QMenu> KOFFTBase::windowTypeMenu() {
    auto menu = KOMenuAdditions::fftWindowTypeMenu();
    KOMenuAdditions::setItemsAction(*menu, this,
                                    [this](QAction* item) { setWindowTypeMenuAction(item); });
    return menu;
}

std::unique_ptr<QMenu> KOFFTBase::octaveMenu() {
    auto menu = KOMenuAdditions::octaveMenu();
    KOMenuAdditions::setItemsAction(*menu, this,
                                    [this](QAction* item) { changeOctaveResolution(item); });
    return menu;
}

void KOFFTBase::setFFTSizeOfModel(KOFFTInstrumentWrapperBase& model, std::uint32_t size) {
    const std::lock_guard lock(dataCollectionLock());
    model.setFFTSize(size);
}

void KOFFTBase::setFFTSizeMenuAction(QAction* item) {
    const FFTModel model = targetModel(item);
    if (!model || !item)
        return;
    setFFTSizeOfModel(*model, std::uint32_t(KOMenuItemAdditions::tag(*item)));
    if (!item->property(kRepresentedObjectProperty).isValid() && mFFTSizePopUpButton) {
        const QSignalBlocker blocker(mFFTSizePopUpButton);
        KOPopUpButtonAdditions::selectItemWithTag(*mFFTSizePopUpButton, model->FFTSize());
    }
}

void KOFFTBase::setWindowTypeMenuAction(QAction* item) {
    const FFTModel model = targetModel(item);
    if (!model || !item)
        return;
    model->setWindowType(std::uint32_t(KOMenuItemAdditions::tag(*item)));
    if (!item->property(kRepresentedObjectProperty).isValid() && mWindowTypePopUpButton) {
        const QSignalBlocker blocker(mWindowTypePopUpButton);
        KOPopUpButtonAdditions::selectItemWithTag(*mWindowTypePopUpButton, model->windowType());
    }
}

void KOFFTBase::setDraws(QAction* item) {
    const FFTModel model = targetModel(item);
    if (!model || !item)
        return;
    const qint64 trace = KOMenuItemAdditions::tag(*item);
    if (trace >= 0 && trace < KOFFTInstrumentWrapperBase::kTraceCount)
        model->setDraws(!model->drawsTraceNumber(int(trace)), int(trace));
    redisplayView();
}

void KOFFTBase::selectionChanged() {
    const FFTModel model = selectedFFTModel();
    if (!model)
        return;
    const auto select = [](QComboBox* popUp, qint64 tag) {
        if (!popUp)
            return;
        const QSignalBlocker blocker(popUp);
        KOPopUpButtonAdditions::selectItemWithTag(*popUp, tag);
    };
    select(mFFTSizePopUpButton, model->FFTSize());
    select(mWindowTypePopUpButton, model->windowType());
    select(mDrawModeTrace1, model->drawingModeForTrace(0));
}

// --- Export --------------------------------------------------------------------------------------

void KOFFTBase::openDataExporterSheet(QAction* item) {
    if (!item || !item->property(kRepresentedObjectProperty).isValid())
        return;
    if (const FFTModel model = targetModel(item))
        showExportSheetForWrapper(model);
}

void KOFFTBase::showExportSheetForWrapper(const FFTModel& model) {
    if (!model)
        return;
    KOExporterPanelViewController::runExporterSheetInWindow(
        instrumentWindow(), std::shared_ptr<KODataExporting>(model, model.get()));
}

// --- Model delegate ------------------------------------------------------------------------------

void KOFFTBase::connectSharedPopUps() {
    KOPopUpButtonAdditions::becomeMenu(*fftSizePopUpButton(), *fftSizeMenu());
    connect(fftSizePopUpButton(), &QComboBox::activated, this, [this](int index) {
        QAction item;
        KOMenuItemAdditions::setTag(item, fftSizePopUpButton()->itemData(index).toLongLong());
        setFFTSizeMenuAction(&item);
    });
    KOPopUpButtonAdditions::becomeMenu(*windowTypePopUpButton(), *windowTypeMenu());
    connect(windowTypePopUpButton(), &QComboBox::activated, this, [this](int index) {
        QAction item;
        KOMenuItemAdditions::setTag(item, windowTypePopUpButton()->itemData(index).toLongLong());
        setWindowTypeMenuAction(&item);
    });
    connect(drawModeTrace1PopUpButton(), &QComboBox::activated, this, [this](int index) {
        if (const FFTModel model = selectedFFTModel()) {
            model->setDrawingMode(
                std::uint32_t(drawModeTrace1PopUpButton()->itemData(index).toLongLong()), 0);
            redisplayView();
        }
    });
}

void KOFFTBase::redisplayView() {
    if (mFFTView)
        QMetaObject::invokeMethod(mFFTView, [view = mFFTView] {
            if (view)
                view->update();
        });
}

void KOFFTBase::wrapperDidChangeFFTSize(KOFFTInstrumentWrapperBase* wrapper, std::uint32_t) {
    redisplayView();
    if (wrapper && wrapper == selectedFFTModel().get())
        selectionChanged();
}

void KOFFTBase::wrapperDidChangeWindowType(KOFFTInstrumentWrapperBase* wrapper, std::uint32_t) {
    redisplayView();
    if (wrapper && wrapper == selectedFFTModel().get())
        selectionChanged();
}

void KOFFTBase::wrapperDidChangeColorAttributes(KOFFTInstrumentWrapperBase*) {
    redisplayView();
}

void KOFFTBase::wrapperDidChangeDrawingAttributes(KOFFTInstrumentWrapperBase*) {
    redisplayView();
}

// --- Linking -------------------------------------------------------------------------------------

void KOFFTBase::viewDidChangeFrequencyBounds(float lower, float upper) {
    mBoundsLink->viewDidChangeFrequencyBounds(lower, upper);
}

void KOFFTBase::viewDidChangeMagnitudeBounds(float lower, float upper) {
    mBoundsLink->viewDidChangeMagnitudeBounds(lower, upper);
}

void KOFFTBase::changeParameterWithName(const QString& name, const QVariant& value) {
    if (!mBoundsLink || !mBoundsLink->changeParameterWithName(name, value))
        KOMultipleTracesInstrumentController::changeParameterWithName(name, value);
}

void KOFFTBase::postParameters() {
    if (mBoundsLink)
        mBoundsLink->postParameters();
}
