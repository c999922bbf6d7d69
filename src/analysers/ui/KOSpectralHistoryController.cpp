#include "analysers/ui/KOSpectralHistoryController.h"

#include "analysers/KOSpectrumAnalyzerWrapper.h"
#include "analysers/ui/KOSpectralHistoryView.h"
#include "engine/KOAudioDevice.h"
#include "engine/KOFloatBuffer.h"
#include "framework/InstrumentAudioDevice.h"
#include "framework/KOInstrumentControlView.h"
#include "framework/KOInstrumentWindow.h"
#include "framework/KOMenuAdditions.h"
#include "framework/KOPopUpButtonAdditions.h"
#include "platform/archive/KeyedArchive.h"
#include "platform/fourcc/FourCC.h"
#include "platform/log/Log.h"
#include "utility/ZODictionary.h"

#include <QAction>
#include <QComboBox>
#include <QMenu>
#include <QSignalBlocker>

#include <array>

using koru::analysers::ViewBoundsLink;
using koru::framework::InstrumentAudioDevice;
using koru::platform::fourCC;
using koru::platform::KeyedArchiver;
using koru::platform::KeyedUnarchiver;

namespace {

QString text(const char* latin1) {
    return QString::fromLatin1(latin1);
}

constexpr std::uint32_t kWhite = fourCC("whit");
constexpr std::uint32_t kPink = fourCC("pink");
constexpr std::uint32_t kPeak = fourCC("peak");
constexpr std::array<std::uint32_t, 5> kWindowTypes{fourCC("hann"), fourCC("hamm"), fourCC("blkm"),
                                                    fourCC("sine"), fourCC("rect")};
constexpr std::uint32_t kDefaultWindowType = fourCC("hann");

const QRectF kInputChannelFrame(120.0, 10.0, 105.0, 20.0);
const QRectF kFFTSizeFrame(120.0, 70.0, 105.0, 20.0);
const QRectF kWindowTypeFrame(120.0, 105.0, 105.0, 20.0);
const QRectF kAccumulationFrame(5.0, 70.0, 105.0, 45.0);
const QRectF kOctaveSmoothingFrame(5.0, 105.0, 105.0, 45.0);

bool isFFTSize(std::uint32_t size) {
    return KOSpectrumAnaWrapperBase::isValidFFTSize(size);
}

bool isKnownWindow(std::uint32_t type) {
    return std::find(kWindowTypes.begin(), kWindowTypes.end(), type) != kWindowTypes.end();
}

bool isAccumulationMode(std::uint32_t mode) {
    return mode == kWhite || mode == kPink || mode == kPeak;
}

bool isOctaveSmoothing(unsigned denominator) {
    return denominator >= 1 && denominator <= 24;
}

// A saved number: `absent` when the key is missing, 0 when it holds no number.
std::uint32_t savedNumber(const QVariantMap& dictionary, const char* key, std::uint32_t absent) {
    const QVariant value = dictionary.value(text(key));
    if (!value.isValid())
        return absent;
    return ZODictionary::isNumber(value) ? ZODictionary::unsignedIntForKey(dictionary, text(key), 0)
                                         : 0;
}

double nyquistFrequency() {
    return KOAudioDevice::sharedAudioDevice().nyquistFrequency();
}

void select(QComboBox* popUp, qint64 tag) {
    if (!popUp)
        return;
    const QSignalBlocker blocker(popUp);
    KOPopUpButtonAdditions::selectItemWithTag(*popUp, tag);
}

// A pop-up of the menu's items whose choice calls `choose` with the item's tag.
template <typename Choose>
QComboBox* addPopUp(KOInstrumentControlView& panel, const QRectF& frame, const QMenu& menu,
                    QObject* target, Choose choose) {
    QComboBox* popUp = panel.addPopUpButtonWithFrame(frame, menu);
    QObject::connect(popUp, &QComboBox::activated, target,
                     [popUp, choose](int index) { choose(popUp->itemData(index).toLongLong()); });
    return popUp;
}

} // namespace

KOSpectralHistoryController::KOSpectralHistoryController(KOInstrumentControllerDelegate* delegate) {
    setDelegate(delegate);
}

KOSpectralHistoryController::~KOSpectralHistoryController() {
    if (mView)
        mView->setRedrawRate(0);
}

// --- Window --------------------------------------------------------------------------------------

std::unique_ptr<QMainWindow> KOSpectralHistoryController::buildWindow(const QString& /*nibName*/) {
    auto window = std::make_unique<KOInstrumentWindow>();
    mView = new KOSpectralHistoryView(window.get(), nyquistFrequency());
    window->setCentralWidget(mView);
    window->resize(520, 320);
    return window;
}

void KOSpectralHistoryController::awakeFromNib() {
    mView->setRedrawRate(kRedrawRate);
    resetView();
    KOInstrumentControlView* panel = mView->controlView();
    panel->setWidth(panel->width() + kControlAreaExtraWidth);
    panel->setHeight(kControlAreaHeight);

    QComboBox* channels = panel->addPopUpButtonWithFrame(kInputChannelFrame, QMenu());
    setMInputMenu(channels);
    mFFTSizeMenu = addPopUp(*panel, kFFTSizeFrame, *fftSizeMenu(), this,
                            [this](qint64 tag) { setFFTSize(std::uint32_t(tag)); });
    mFFTWindowTypeMenu = addPopUp(*panel, kWindowTypeFrame, *fftWindowMenu(), this,
                                  [this](qint64 tag) { setWindowType(std::uint32_t(tag)); });
    mAccumulationModePopUpButton =
        addPopUp(*panel, kAccumulationFrame, *accumulationMenu(), this,
                 [this](qint64 tag) { setAccumulationMode(std::uint32_t(tag)); });
    mOctaveSmoothingPopUpButton =
        addPopUp(*panel, kOctaveSmoothingFrame, *octaveSmoothingMenu(), this,
                 [this](qint64 tag) { setOctaveSmoothing(unsigned(tag)); });
    mBoundsLink = ViewBoundsLink::forView(*this, *mView);
    mView->setDelegate(this);
    instrumentWindow()->setMinimumSize(kMinimumSize);
}

void KOSpectralHistoryController::initWithWindowNibName(const QString& nibName,
                                                        const QVariantMap* dictionary) {
    KOInstrumentControllerWithoutPanel::initWithWindowNibName(nibName, dictionary);
    awakeFromNib();
    if (!dictionary) {
        setFFTSize(kFFTSize);
        audioPropertiesChanged();
        addToDataCollectorThread();
        mView->setLoMagLimit(kLowerMagLimit);
        mView->setHiMagLimit(kUpperMagLimit);
        setOctaveSmoothing(kDefaultOctaveSmoothing);
        setAccumulationMode(kPink);
        unhideInstrument();
        return;
    }

    mSpectrumAnlyzer = restoredAnalyzer(*dictionary);
    if (!mSpectrumAnlyzer)
        setFFTSize(kFFTSize);
    mView->setFFTSize(mSpectrumAnlyzer->FFTSize());
    addToDataCollectorThread();
    const qint64 channel = ZODictionary::intForKey(*dictionary, text(kInputChannelKey), 0);
    if (!InstrumentAudioDevice::shared().isValidChannelIndex(channel))
        koru::log::warn("{}: saved input channel {} is not a channel of this device",
                        description().toStdString(), channel);
    setInputChannel(channel);
    mView->setLoMagLimit(kLowerMagLimit);
    mView->setHiMagLimit(kUpperMagLimit);
    mView->restoreSettingsFromDictionary(dictionary->value(text(kViewSettingsKey)).toMap());

    const unsigned smoothing = savedNumber(*dictionary, kOctaveModeKey, kDefaultOctaveSmoothing);
    if (!isOctaveSmoothing(smoothing))
        koru::log::warn("{}: octave smoothing 1/{} unknown, 1/{} taken",
                        description().toStdString(), smoothing, kDefaultOctaveSmoothing);
    setOctaveSmoothing(isOctaveSmoothing(smoothing) ? smoothing : kDefaultOctaveSmoothing);
    const std::uint32_t mode = savedNumber(*dictionary, kAccumulationModeKey, kWhite);
    if (!isAccumulationMode(mode))
        koru::log::warn("{}: unknown accumulation mode {}, white noise is flat",
                        description().toStdString(), mode);
    setAccumulationMode(isAccumulationMode(mode) ? mode : kWhite);
}

std::shared_ptr<KOSpectrumAnalyzerWrapper>
KOSpectralHistoryController::restoredAnalyzer(const QVariantMap& dictionary) {
    const QVariant data = dictionary.value(text(kAnalyzerKey));
    if (!data.isValid())
        return nullptr;
    KOSpectrumAnalyzerWrapper::registerArchiveClasses();
    QString error;
    std::unique_ptr<koru::platform::Archivable> object;
    try {
        if (data.typeId() == QMetaType::QByteArray)
            object = KeyedUnarchiver::unarchive(data.toByteArray(), &error);
        else
            error = QStringLiteral("not an archive");
    } catch (const std::exception& failure) {
        error = QString::fromUtf8(failure.what());
    }
    auto* analyzer = dynamic_cast<KOSpectrumAnalyzerWrapper*>(object.get());
    if (!analyzer) {
        koru::log::warn(
            "{}: the saved measurement is unreadable ({}); a new one is made",
            description().toStdString(),
            (object ? QStringLiteral("not a live spectrum measurement") : error).toStdString());
        return nullptr;
    }
    object.release();
    return std::shared_ptr<KOSpectrumAnalyzerWrapper>(analyzer);
}

QVariantMap KOSpectralHistoryController::dictionaryRepresentation() const {
    QVariantMap dictionary = KOInstrumentControllerWithoutPanel::dictionaryRepresentation();
    dictionary.insert(text(kInputChannelKey), qint64(std::max<qint64>(inputChannel(), 0)));
    dictionary.insert(text(kViewSettingsKey), mView->settingsAsDictionary());
    QString error;
    const QByteArray archive = KeyedArchiver::archivedData(*mSpectrumAnlyzer, &error);
    if (archive.isEmpty())
        koru::log::error("{}: the measurement is not saved: {}", description().toStdString(),
                         error.toStdString());
    else
        dictionary.insert(text(kAnalyzerKey), archive);
    dictionary.insert(text(kAccumulationModeKey), qint64(accumulationMode()));
    dictionary.insert(text(kOctaveModeKey), qint64(octaveSmoothing()));
    return dictionary;
}

void KOSpectralHistoryController::resetView() {
    mView->setLowFrequencyBound(50.0f);
    mView->setHiFrequencyBound(float(nyquistFrequency()));
    mView->setLoMagLimit(-96.0f);
    mView->setHiMagLimit(-10.0f);
}

// As in the spectrum window, only a new Nyquist frequency moves the upper bound.
void KOSpectralHistoryController::audioPropertiesChanged() {
    const auto nyquist = float(nyquistFrequency());
    if (nyquist != float(mView->logViewMath().nyquist()))
        mView->setNyquistFrequency(nyquist);
    selectPopUps();
    KOInstrumentControllerWithoutPanel::audioPropertiesChanged();
}

void KOSpectralHistoryController::selectPopUps() {
    if (!mSpectrumAnlyzer)
        return;
    select(mFFTSizeMenu, mSpectrumAnlyzer->FFTSize());
    select(mFFTWindowTypeMenu, mSpectrumAnlyzer->windowType());
}

// --- Collector thread ----------------------------------------------------------------------------

// Runs under the data-collection lock. The spectrogram gets work only in a cycle without a new
// spectrum that follows one with a new spectrum; a paused measurement keeps answering that it has
// one, so the image stands still.
void KOSpectralHistoryController::dataCollection() {
    KOSpectrumAnalyzerWrapper* model = mSpectrumAnlyzer.get();
    if (!model)
        return;
    if (model->shouldCollect()) {
        model->collect();
        mHasUnprocessedData = true;
        return;
    }
    if (!mHasUnprocessedData)
        return;
    model->copyInstantaneousBins(mSpectrum);
    mHasUnprocessedData = mView->buildLayerWithSpectrum(std::span<const float>(mSpectrum), 0.0);
}

// --- Settings ------------------------------------------------------------------------------------

void KOSpectralHistoryController::setFFTSize(std::uint32_t size) {
    if (!isFFTSize(size)) {
        koru::log::warn("{}: FFT size {} refused", description().toStdString(), size);
        return;
    }
    {
        const std::lock_guard lock(dataCollectionLock());
        if (mSpectrumAnlyzer)
            mSpectrumAnlyzer->setFFTSize(size);
        else
            mSpectrumAnlyzer = KOSpectrumAnalyzerWrapper::createWithFFTSize(size);
        mView->setFFTSize(mSpectrumAnlyzer->FFTSize());
    }
    select(mFFTSizeMenu, mSpectrumAnlyzer->FFTSize());
}

std::uint32_t KOSpectralHistoryController::FFTSize() const {
    return mSpectrumAnlyzer ? mSpectrumAnlyzer->FFTSize() : 0;
}

void KOSpectralHistoryController::changeFFTSize(QAction* item) {
    if (item)
        setFFTSize(std::uint32_t(KOMenuItemAdditions::tag(*item)));
}

void KOSpectralHistoryController::setWindowType(std::uint32_t type) {
    if (!isKnownWindow(type)) {
        koru::log::warn("{}: unknown window {}", description().toStdString(),
                        koru::platform::fourCCToString(type).toStdString());
        return;
    }
    mSpectrumAnlyzer->setWindowType(type);
    select(mFFTWindowTypeMenu, mSpectrumAnlyzer->windowType());
}

std::uint32_t KOSpectralHistoryController::windowType() const {
    return mSpectrumAnlyzer ? mSpectrumAnlyzer->windowType() : kDefaultWindowType;
}

void KOSpectralHistoryController::setWindowTypeAction(QAction* item) {
    if (item)
        setWindowType(std::uint32_t(KOMenuItemAdditions::tag(*item)));
}

void KOSpectralHistoryController::setAccumulationMode(std::uint32_t mode) {
    if (!isAccumulationMode(mode)) {
        koru::log::warn("{}: unknown accumulation mode {}", description().toStdString(), mode);
        return;
    }
    mView->setAccumulationMode(mode);
    select(mAccumulationModePopUpButton, mode);
}

std::uint32_t KOSpectralHistoryController::accumulationMode() const {
    return mView->accumulationMode();
}

void KOSpectralHistoryController::setAccumulationModeAction(QAction* item) {
    if (item)
        setAccumulationMode(std::uint32_t(KOMenuItemAdditions::tag(*item)));
}

void KOSpectralHistoryController::setOctaveSmoothing(unsigned denominator) {
    if (!isOctaveSmoothing(denominator)) {
        koru::log::warn("{}: octave smoothing 1/{} refused", description().toStdString(),
                        denominator);
        return;
    }
    mView->setOctaveMode(denominator);
    select(mOctaveSmoothingPopUpButton, denominator);
}

unsigned KOSpectralHistoryController::octaveSmoothing() const {
    return mView->octaveMode();
}

void KOSpectralHistoryController::setOctaveSmoothingAction(QAction* item) {
    if (item)
        setOctaveSmoothing(unsigned(KOMenuItemAdditions::tag(*item)));
}

qint64 KOSpectralHistoryController::inputChannel() const {
    return mSpectrumAnlyzer ? mSpectrumAnlyzer->inputChannel() : -1;
}

void KOSpectralHistoryController::setInputChannel(qint64 channel) {
    if (!mSpectrumAnlyzer)
        return;
    mSpectrumAnlyzer->setInputChannel(channel);
    audioPropertiesChanged();
}

void KOSpectralHistoryController::setPause(bool paused) {
    KOInstrumentControllerWithoutPanel::setPause(paused);
    if (mSpectrumAnlyzer)
        mSpectrumAnlyzer->setPause(paused);
}

// --- Menus ---------------------------------------------------------------------------------------

std::unique_ptr<QMenu> KOSpectralHistoryController::fftSizeMenu() {
    auto menu = KOMenuAdditions::fftSizeMenu();
    delete menu->actions().constFirst();
    KOMenuAdditions::setItemsAction(*menu, this, [this](QAction* item) { changeFFTSize(item); });
    return menu;
}

std::unique_ptr<QMenu> KOSpectralHistoryController::fftWindowMenu() {
    auto menu = KOMenuAdditions::fftWindowTypeMenu();
    KOMenuAdditions::setItemsAction(*menu, this,
                                    [this](QAction* item) { setWindowTypeAction(item); });
    return menu;
}

std::unique_ptr<QMenu> KOSpectralHistoryController::accumulationMenu() {
    auto menu = KOMenuAdditions::accumulationModeMenu();
    KOMenuAdditions::setItemsAction(*menu, this,
                                    [this](QAction* item) { setAccumulationModeAction(item); });
    return menu;
}

std::unique_ptr<QMenu> KOSpectralHistoryController::octaveSmoothingMenu() {
    auto menu = KOMenuAdditions::octaveMenu();
    KOMenuAdditions::setItemsAction(*menu, this,
                                    [this](QAction* item) { setOctaveSmoothingAction(item); });
    return menu;
}

QMenu* KOSpectralHistoryController::instrumentMenu() {
    if (!mInstrumentMenu) {
        mInstrumentMenu = std::make_unique<QMenu>(name());
        QMenu& menu = *mInstrumentMenu;
        KOMenuAdditions::addSubmenu(menu, fftSizeMenu(), kFFTSizeMenuTag);
        KOMenuAdditions::addSubmenu(menu, fftWindowMenu(), kWindowTypeMenuTag);
        KOMenuAdditions::addSubmenu(menu, accumulationMenu(), kAccumulationMenuTag);
        KOMenuAdditions::addSubmenu(menu, octaveSmoothingMenu(), kOctaveSmoothingMenuTag);
        menu.addSeparator();
        connect(&menu, &QMenu::aboutToShow, this,
                [this, menu = &menu] { updateInstrumentMenu(menu); });
    }
    return KOInstrumentControllerWithoutPanel::instrumentMenu();
}

void KOSpectralHistoryController::updateInstrumentMenu(QMenu* menu) {
    const auto check = [menu](qint64 submenu, qint64 value) {
        if (QAction* item = KOMenuAdditions::itemWithTag(*menu, submenu); item && item->menu())
            KOMenuAdditions::checkItemWithTag(*item->menu(), value);
    };
    check(kFFTSizeMenuTag, FFTSize());
    check(kWindowTypeMenuTag, windowType());
    check(kOctaveSmoothingMenuTag, octaveSmoothing());
    check(kAccumulationMenuTag, accumulationMode());
}

// --- Linking -------------------------------------------------------------------------------------

QStringList KOSpectralHistoryController::linkableViewParameters() const {
    return ViewBoundsLink::linkableViewParameters();
}

void KOSpectralHistoryController::viewDidChangeFrequencyBounds(float lower, float upper) {
    if (mBoundsLink)
        mBoundsLink->viewDidChangeFrequencyBounds(lower, upper);
}

void KOSpectralHistoryController::viewDidChangeMagnitudeBounds(float lower, float upper) {
    if (mBoundsLink)
        mBoundsLink->viewDidChangeMagnitudeBounds(lower, upper);
}

void KOSpectralHistoryController::changeParameterWithName(const QString& name,
                                                          const QVariant& value) {
    if (!mBoundsLink || !mBoundsLink->changeParameterWithName(name, value))
        KOInstrumentControllerWithoutPanel::changeParameterWithName(name, value);
}

void KOSpectralHistoryController::postParameters() {
    if (mBoundsLink)
        mBoundsLink->postParameters();
}
