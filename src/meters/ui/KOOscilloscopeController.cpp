#include "meters/ui/KOOscilloscopeController.h"

#include "engine/KOAudioDevice.h"
#include "framework/ColourWell.h"
#include "framework/KOColorAdditions.h"
#include "framework/KOInstrumentControlView.h"
#include "framework/KOInstrumentWindow.h"
#include "framework/KOMenuAdditions.h"
#include "framework/KOPopUpButtonAdditions.h"
#include "meters/ui/KOMeterViews.h"
#include "utility/ui/KOInfoPanel.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QMenu>
#include <QSignalBlocker>
#include <QSlider>

#include <array>
#include <cmath>
#include <cstdlib>

namespace {
const QString kUnitKey = QStringLiteral("Oscilloscope.TimePerDiv.Unit");
const QString kDrawAKey = QStringLiteral("Oscilloscope.Draw.ChA");
const QString kDrawBKey = QStringLiteral("Oscilloscope.Draw.ChB");
const QString kTimePerDivKey = QStringLiteral("Oscilloscope.TimePerDiv.Samples");
const QString kChannelAKey = QStringLiteral("Oscilloscope.ChannelA");
const QString kChannelBKey = QStringLiteral("Oscilloscope.ChannelB");
const QString kTriggerLevelKey = QStringLiteral("Oscilloscope.TriggerLevel");
const QString kTriggerSourceKey = QStringLiteral("Oscilloscope.TriggerSource");
const QString kColorAKey = QStringLiteral("Oscilloscope.Color.ChannelA");
const QString kColorBKey = QStringLiteral("Oscilloscope.Color.ChannelB");

constexpr std::array<std::uint32_t, 10> kSampleValues{1, 2, 5, 10, 20, 50, 100, 200, 500, 1000};
constexpr std::array<std::uint32_t, 10> kMicrosecondValues{50,   100,  200,   500,   1000,
                                                           2000, 5000, 10000, 20000, 50000};

qint64 unsignedFrom(const QVariantMap* d, const QString& key, qint64 fallback) {
    if (d == nullptr) {
        return fallback;
    }
    bool ok = false;
    const qint64 value = d->value(key).toLongLong(&ok);
    return ok && value >= 0 ? value : fallback;
}

bool boolFrom(const QVariantMap* d, const QString& key, bool fallback) {
    return d != nullptr && d->contains(key) ? d->value(key).toBool() : fallback;
}

float floatFrom(const QVariantMap* d, const QString& key, float fallback) {
    if (d == nullptr) {
        return fallback;
    }
    bool ok = false;
    const double value = d->value(key).toDouble(&ok);
    return ok && std::isfinite(value) ? float(value) : fallback;
}

void select(QComboBox* popUp, qint64 tag) {
    if (popUp) {
        const QSignalBlocker blocker(popUp);
        KOPopUpButtonAdditions::selectItemWithTag(*popUp, tag);
    }
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

void checkSubmenu(QMenu& menu, qint64 submenu, qint64 value) {
    if (QAction* item = KOMenuAdditions::itemWithTag(menu, submenu); item && item->menu()) {
        KOMenuAdditions::checkItemWithTag(*item->menu(), value);
    }
}
} // namespace

KOOscilloscopeController::KOOscilloscopeController()
    : mInstrument(std::make_unique<KOOscilloscopeInstrument>()) {}

KOOscilloscopeController::~KOOscilloscopeController() {
    if (mView) {
        mView->setRedrawRate(0);
    }
    mInstrument.reset(); // leaves the engine first
}

std::unique_ptr<QMainWindow> KOOscilloscopeController::buildWindow(const QString&) {
    auto window = std::make_unique<KOInstrumentWindow>();
    mView = new KOOscilloscopeView(window.get());
    window->setCentralWidget(mView);
    window->resize(500, 300);

    KOInstrumentControlView* panel = mView->controlView();
    panel->setSize(QSizeF(240.0, 160.0));
    mDrawCh1Button = panel->addCheckBoxWithFrame(
        QRectF(5.0, 115.0, 80.0, 20.0), this,
        [this](QWidget*) { setDrawChannelA(mDrawCh1Button->isChecked()); },
        QStringLiteral("Channel 1"));
    mDrawCh2Button = panel->addCheckBoxWithFrame(
        QRectF(5.0, 75.0, 80.0, 20.0), this,
        [this](QWidget*) { setDrawChannelB(mDrawCh2Button->isChecked()); },
        QStringLiteral("Channel 2"));
    setMChAMenu(panel->addPopUpButtonWithFrame(QRectF(85.0, 115.0, 110.0, 20.0), QMenu()));
    setMChBMenu(panel->addPopUpButtonWithFrame(QRectF(85.0, 75.0, 110.0, 20.0), QMenu()));
    mTriggerSourceMenu = addPopUp(*panel, QRectF(5.0, 35.0, 75.0, 20.0), *triggerSourceMenu(), this,
                                  [this](qint64 tag) { setTriggerSource(std::uint32_t(tag)); });
    mTriggerSlider = panel->addSliderWithFrame(
        QRectF(85.0, 35.0, 85.0, 20.0), this,
        [this](QWidget*) { setTriggerLevel(float(mTriggerSlider->value()) / 100.0f); },
        QStringLiteral("Trigger Level"));
    mTriggerSlider->setRange(-100, 100);
    mTriggerSlider->setTickInterval(100); // three marks: −1, 0, +1
    mTriggerSlider->setTickPosition(QSlider::TicksBelow);
    mTimePerDivUnitMenu = addPopUp(*panel, QRectF(85.0, 5.0, 80.0, 20.0), *unitMenu(), this,
                                   [this](qint64 tag) { setTimeUnit(std::uint32_t(tag)); });
    mTimePerDivMenu = addPopUp(*panel, QRectF(5.0, 5.0, 80.0, 20.0), QMenu(), this,
                               [this](qint64 tag) { setTimePerDiv(std::uint32_t(tag)); });
    colorWellTraceA =
        panel->addColorWellWithFrame(QRectF(200.0, 113.0, 40.0, 20.0), this, [this](QWidget*) {
            setColorTraceA(colorWellTraceA->color());
        });
    colorWellTraceB =
        panel->addColorWellWithFrame(QRectF(200.0, 72.0, 40.0, 20.0), this, [this](QWidget*) {
            setColorTraceB(colorWellTraceB->color());
        });
    mView->setPointerObserver([this](QPointF point) {
        QString x;
        QString y;
        infoStringsForPoint(point, mView->height(), &x, &y);
        KOInfoPanel::sharedInfoPanel().setInfoText(x, y);
    });
    return window;
}

void KOOscilloscopeController::initWithWindowNibName(const QString& nibName,
                                                     const QVariantMap* dictionary) {
    KOInstrumentController::initWithWindowNibName(nibName, dictionary);
    // A new window is titled with its kind until the user names it.
    if (name().isEmpty())
        setName(QStringLiteral("Oscilloscope"));
    if (mView) {
        mView->setRedrawRate(kRedrawRate);
    }
    KOAudioDevice::sharedAudioDevice().addInputClient(mInstrument.get());
    mSR = sampleRate();
    setTimeUnit(std::uint32_t(unsignedFrom(dictionary, kUnitKey, kMicrosecondsPerDiv)));
    setDrawChannelA(boolFrom(dictionary, kDrawAKey, true));
    setDrawChannelB(boolFrom(dictionary, kDrawBKey, true));
    setTimePerDiv(std::uint32_t(std::min<qint64>(
        unsignedFrom(dictionary, kTimePerDivKey, kDefaultTimePerDiv), UINT32_MAX)));
    if (mView) {
        mInstrument->SetInitialCaptureLength(captureLength(timePerDiv(), mView->pointWidth()));
    }
    setInChannelA(unsignedFrom(dictionary, kChannelAKey, 0));
    setInChannelB(unsignedFrom(dictionary, kChannelBKey, 1));
    setTriggerLevel(floatFrom(dictionary, kTriggerLevelKey, 0.0f));
    setTriggerSource(std::uint32_t(unsignedFrom(dictionary, kTriggerSourceKey, 0)));
    if (mView) {
        setColorTraceA(
            dictionary != nullptr && dictionary->contains(kColorAKey)
                ? KOColorAdditions::colorFromDictionary(dictionary->value(kColorAKey).toMap())
                : mView->colourA());
        setColorTraceB(
            dictionary != nullptr && dictionary->contains(kColorBKey)
                ? KOColorAdditions::colorFromDictionary(dictionary->value(kColorBKey).toMap())
                : mView->colourB());
    }
    addToDataCollectorThread(); // ends with audioPropertiesChanged
}

QVariantMap KOOscilloscopeController::dictionaryRepresentation() const {
    QVariantMap d = KOInstrumentController::dictionaryRepresentation();
    d.insert(kUnitKey, qint64(timeUnit()));
    d.insert(kDrawAKey, drawChannelA());
    d.insert(kDrawBKey, drawChannelB());
    d.insert(kTimePerDivKey, qint64(timePerDiv()));
    d.insert(kChannelAKey, inChannelA());
    d.insert(kChannelBKey, inChannelB());
    d.insert(kTriggerLevelKey, double(triggerLevel()));
    d.insert(kTriggerSourceKey, qint64(triggerSource()));
    d.insert(kColorAKey, KOColorAdditions::dictionaryRepresentation(colorTraceA()));
    d.insert(kColorBKey, KOColorAdditions::dictionaryRepresentation(colorTraceB()));
    return d;
}

// --- Time per division -----------------------------------------------------------------------

double KOOscilloscopeController::sampleRate() {
    // Before the application hands the controller its delegate, the engine's own rate.
    const double rate = delegate() != nullptr ? currentSampleRate() : 0.0;
    return std::isfinite(rate) && rate > 0.0 ? rate : mInstrument->HostSampleRate();
}

std::vector<std::uint32_t> KOOscilloscopeController::timePerDivTags(std::uint32_t unit,
                                                                    double sampleRate) {
    std::vector<std::uint32_t> tags;
    if (unit == kSamplesPerDiv) {
        for (std::uint32_t value : kSampleValues) {
            tags.push_back(value * 1000);
        }
    } else {
        for (std::uint32_t value : kMicrosecondValues) {
            tags.push_back(std::uint32_t(double(value) * (sampleRate / 1000.0)));
        }
    }
    return tags;
}

std::unique_ptr<QMenu> KOOscilloscopeController::timePerDivMenu() {
    auto menu = std::make_unique<QMenu>(QStringLiteral("Time"));
    const auto& values = timeUnit() == kSamplesPerDiv ? kSampleValues : kMicrosecondValues;
    const std::vector<std::uint32_t> tags = timePerDivTags(timeUnit(), mSR);
    for (std::size_t i = 0; i < values.size(); ++i) {
        KOMenuAdditions::addItemWithTitle(
            *menu, QString::number(values[i]), this,
            [this](QAction* item) {
                setTimePerDiv(std::uint32_t(KOMenuItemAdditions::tag(*item)));
            },
            qint64(tags[i]))
            ->setCheckable(true);
    }
    return menu;
}

std::unique_ptr<QMenu> KOOscilloscopeController::unitMenu() {
    auto menu = std::make_unique<QMenu>(QStringLiteral("Unit"));
    auto change = [this](QAction* item) {
        setTimeUnit(std::uint32_t(KOMenuItemAdditions::tag(*item)));
    };
    KOMenuAdditions::addItemWithTitle(*menu, QStringLiteral("smp / div"), this, change,
                                      kSamplesPerDiv)
        ->setCheckable(true);
    KOMenuAdditions::addItemWithTitle(*menu, QStringLiteral("usec / div"), this, change,
                                      kMicrosecondsPerDiv)
        ->setCheckable(true);
    return menu;
}

std::unique_ptr<QMenu> KOOscilloscopeController::triggerSourceMenu() {
    auto menu = std::make_unique<QMenu>(QStringLiteral("Trigger Source"));
    auto change = [this](QAction* item) {
        setTriggerSource(std::uint32_t(KOMenuItemAdditions::tag(*item)));
    };
    KOMenuAdditions::addItemWithTitle(*menu, QStringLiteral("Ch A"), this, change, 0)
        ->setCheckable(true);
    KOMenuAdditions::addItemWithTitle(*menu, QStringLiteral("Ch B"), this, change, 1)
        ->setCheckable(true);
    return menu;
}

QMenu* KOOscilloscopeController::instrumentMenu() {
    if (!mInstrumentMenu) {
        mInstrumentMenu = std::make_unique<QMenu>(name());
        QMenu& menu = *mInstrumentMenu;
        KOMenuAdditions::addSubmenu(menu, triggerSourceMenu(), kTriggerSourceMenuTag);
        KOMenuAdditions::addSubmenu(menu, unitMenu(), kUnitMenuTag);
        KOMenuAdditions::addSubmenu(menu, timePerDivMenu(), kTimeMenuTag);
        menu.addSeparator();
        connect(&menu, &QMenu::aboutToShow, this, [this, menu = &menu] {
            checkSubmenu(*menu, kTriggerSourceMenuTag, triggerSource());
            checkSubmenu(*menu, kTimeMenuTag, timePerDiv());
            checkSubmenu(*menu, kUnitMenuTag, timeUnit());
        });
    }
    return KOInstrumentController::instrumentMenu();
}

void KOOscilloscopeController::rebuildTimePerDivItems() {
    if (mTimePerDivMenu) {
        const QSignalBlocker blocker(mTimePerDivMenu);
        KOPopUpButtonAdditions::becomeMenu(*mTimePerDivMenu, *timePerDivMenu());
    }
    if (mInstrumentMenu) {
        if (QAction* item = KOMenuAdditions::itemWithTag(*mInstrumentMenu, kTimeMenuTag)) {
            KOMenuAdditions::replaceSubmenu(*item, timePerDivMenu());
        }
    }
}

void KOOscilloscopeController::selectInPopUps() {
    select(mTimePerDivUnitMenu, timeUnit());
    select(mTimePerDivMenu, timePerDiv());
    select(mTriggerSourceMenu, triggerSource());
}

void KOOscilloscopeController::setTimeUnit(std::uint32_t unit) {
    mUnit.store(unit == kSamplesPerDiv ? kSamplesPerDiv : kMicrosecondsPerDiv);
    rebuildTimePerDivItems();
    select(mTimePerDivUnitMenu, timeUnit());
    selectTimePerDivClosestTo(timePerDiv());
}

void KOOscilloscopeController::selectTimePerDivClosestTo(std::uint32_t value) {
    const std::vector<std::uint32_t> tags = timePerDivTags(timeUnit(), mSR);
    std::uint32_t best = tags.front();
    for (std::uint32_t tag : tags) {
        if (std::llabs(qint64(tag) - qint64(value)) < std::llabs(qint64(best) - qint64(value))) {
            best = tag;
        }
    }
    setTimePerDiv(best);
}

void KOOscilloscopeController::setTimePerDiv(std::uint32_t value) {
    // Applied with the next snapshot. A value without an item is kept (the default of 100
    // samples has none in microseconds).
    mTimePerDiv.store(std::max<std::uint32_t>(value, 1));
    select(mTimePerDivMenu, timePerDiv());
}

void KOOscilloscopeController::audioPropertiesChanged() {
    const double rate = sampleRate();
    if (!(rate == mSR)) {
        const double old = mSR;
        mSR = rate;
        rebuildTimePerDivItems(); // microsecond items for the new rate
        // Microseconds per division keep their time: as many more samples as the rate grew.
        // (Scaling the other way would shrink the time twice over.) Samples per division keep
        // their samples.
        if (timeUnit() == kMicrosecondsPerDiv && std::isfinite(old) && old > 0.0) {
            selectTimePerDivClosestTo(
                std::uint32_t(std::min(double(timePerDiv()) * rate / old, 4294967295.0)));
        }
    }
    selectInPopUps();
    KOInstrumentController::audioPropertiesChanged();
}

// --- Channels, trigger, traces ----------------------------------------------------------------

void KOOscilloscopeController::setTriggerLevel(float level) {
    mInstrument->SetTriggerLevel(std::isfinite(level) ? level : 0.0f);
    if (mTriggerSlider) {
        const QSignalBlocker blocker(mTriggerSlider);
        mTriggerSlider->setValue(int(std::lround(triggerLevel() * 100.0f)));
    }
}

void KOOscilloscopeController::setTriggerSource(std::uint32_t source) {
    mInstrument->SetTriggerChannel(source);
    select(mTriggerSourceMenu, triggerSource());
}

void KOOscilloscopeController::setDrawChannelA(bool draw) {
    mDrawA.store(draw);
    if (mDrawCh1Button) {
        const QSignalBlocker blocker(mDrawCh1Button);
        mDrawCh1Button->setChecked(draw);
    }
}

void KOOscilloscopeController::setDrawChannelB(bool draw) {
    mDrawB.store(draw);
    if (mDrawCh2Button) {
        const QSignalBlocker blocker(mDrawCh2Button);
        mDrawCh2Button->setChecked(draw);
    }
}

QColor KOOscilloscopeController::colorTraceA() const {
    return mView ? mView->colourA() : QColor();
}

QColor KOOscilloscopeController::colorTraceB() const {
    return mView ? mView->colourB() : QColor();
}

void KOOscilloscopeController::setColorTraceA(const QColor& colour) {
    if (!mView || !colour.isValid()) {
        return;
    }
    mView->setColours(colour, mView->colourB());
    if (colorWellTraceA) {
        const QSignalBlocker blocker(colorWellTraceA);
        colorWellTraceA->setColor(colour);
    }
}

void KOOscilloscopeController::setColorTraceB(const QColor& colour) {
    if (!mView || !colour.isValid()) {
        return;
    }
    mView->setColours(mView->colourA(), colour);
    if (colorWellTraceB) {
        const QSignalBlocker blocker(colorWellTraceB);
        colorWellTraceB->setColor(colour);
    }
}

void KOOscilloscopeController::setPause(bool pause) {
    mInstrument->SetPaused(pause);
    KOInstrumentController::setPause(mInstrument->IsPaused());
}

// --- Collection and read-outs ----------------------------------------------------------------

std::uint32_t KOOscilloscopeController::captureLength(std::uint32_t timePerDiv, double width) {
    const double divisions = width / KOOscilloscopeView::kDivision;
    return KOOscilloscopeInstrument::ClampLength(
        std::uint32_t(std::min(double(timePerDiv) * divisions / 1000.0, 4294967295.0)));
}

std::uint32_t KOOscilloscopeController::coveredPoints(std::uint32_t length,
                                                      std::uint32_t timePerDiv,
                                                      std::uint32_t width) {
    if (timePerDiv == 0) {
        return width;
    }
    // Samples per point: the time per division over the 50 points of a division.
    const double points =
        double(length) * KOOscilloscopeView::kDivision * 1000.0 / double(timePerDiv);
    return std::uint32_t(std::clamp(std::round(points), 1.0, double(width)));
}

void KOOscilloscopeController::dataCollection() {
    if (!mView) {
        return;
    }
    const double width = mView->pointWidth();
    const bool complete = mInstrument->IsComplete();
    if (width < 1.0 || (!complete && !mInstrument->IsPaused())) {
        return;
    }
    const auto points = std::uint32_t(width);
    // A capture clamped to the longest one covers only its part of a wide view, so that the
    // divisions keep their time.
    const std::uint32_t length =
        complete ? mInstrument->CaptureLength() : std::uint32_t(mInstrument->SnapshotA().size());
    const std::uint32_t covered = coveredPoints(length, timePerDiv(), points);
    std::vector<float> a(drawChannelA() ? covered : 0);
    std::vector<float> b(drawChannelB() ? covered : 0);
    mInstrument->TakeSnapshot(a.empty() ? nullptr : a.data(), b.empty() ? nullptr : b.data(),
                              covered, captureLength(timePerDiv(), width));
    mView->setTraces(std::move(a), std::move(b));
}

void KOOscilloscopeController::infoStringsForPoint(QPointF point, double height, QString* xText,
                                                   QString* yText) const {
    const auto samples =
        std::uint32_t(std::max(0.0, double(timePerDiv()) * (point.x() / 50.0) / 1000.0));
    const double rate = mSR > 0.0 ? mSR : mInstrument->HostSampleRate();
    const auto microseconds = std::uint32_t(double(samples) * 1000000.0 / rate);
    if (xText) {
        *xText =
            microseconds < 1001
                ? QString::asprintf("X: %u smp, %u usec", samples, microseconds)
                : QString::asprintf("X: %u smp, %.1f msec", samples, double(microseconds) / 1000.0);
    }
    if (yText) {
        const double amplitude = height > 0.0 ? (point.y() / height - 0.5) * 2.0 : 0.0;
        // Silence reads as the floor of the meters, not as minus infinity.
        const double level = std::max(-144.0, 20.0 * std::log10(std::fabs(amplitude)));
        *yText = QString::asprintf("Y: %.2f, %.1f dB(FS)", amplitude, level);
    }
}

QString KOOscilloscopeController::positionInfoStringForPoint(QPointF point, double height) const {
    const auto samples =
        std::uint32_t(std::max(0.0, double(timePerDiv()) * (point.x() / 50.0) / 1000.0));
    const double amplitude = height > 0.0 ? (point.y() / height - 0.5) * 2.0 : 0.0;
    return QString::asprintf("X: %u smp - Y: %.2f", samples, amplitude);
}

qint64 KOOscilloscopeController::inChannelA() const {
    return mInstrument->ChannelA();
}

void KOOscilloscopeController::setInChannelA(qint64 channel) {
    mInstrument->SetChannelA(std::uint32_t(std::max<qint64>(channel, 0)));
}

qint64 KOOscilloscopeController::inChannelB() const {
    return mInstrument->ChannelB();
}

void KOOscilloscopeController::setInChannelB(qint64 channel) {
    mInstrument->SetChannelB(std::uint32_t(std::max<qint64>(channel, 0)));
}
