#include "meters/ui/KOGoniometerController.h"

#include "engine/KOAudioDevice.h"
#include "framework/KOInstrumentControlView.h"
#include "framework/KOInstrumentWindow.h"
#include "framework/KOMenuAdditions.h"
#include "meters/ui/KOMeterViews.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QMenu>
#include <QSignalBlocker>

namespace {
const QString kChannelAKey = QStringLiteral("chA");
const QString kChannelBKey = QStringLiteral("chB");

qint64 channelFrom(const QVariantMap* dictionary, const QString& key, qint64 fallback) {
    if (dictionary == nullptr) {
        return fallback;
    }
    bool ok = false;
    const qint64 value = dictionary->value(key).toLongLong(&ok);
    return ok && value >= 0 ? value : fallback;
}
} // namespace

std::atomic<unsigned> KOGoniometerController::sCount{0};

KOGoniometerController::KOGoniometerController()
    : mInstrument(std::make_unique<KOGoniometerInstrument>()) {}

KOGoniometerController::~KOGoniometerController() {
    // The instrument leaves the engine in its own destructor; the collector has left already.
    mInstrument.reset();
}

std::unique_ptr<QMainWindow> KOGoniometerController::buildWindow(const QString&) {
    auto window = std::make_unique<KOInstrumentWindow>();
    mView = new KOGoniometerView(window.get());
    window->setCentralWidget(mView);
    window->resize(300, 320);
    window->setMinimumSize(140, 140);
    KOInstrumentControlView* panel = mView->controlView();
    panel->setSize(QSizeF(140.0, 110.0));
    setMChAMenu(panel->addPopUpButtonWithFrame(QRectF(10.0, 58.0, 120.0, 20.0), *inChannelAMenu()));
    setMChBMenu(panel->addPopUpButtonWithFrame(QRectF(10.0, 24.0, 120.0, 20.0), *inChannelBMenu()));
    mShowCorrelationButton = panel->addCheckBoxWithFrame(
        QRectF(10.0, 5.0, 120.0, 20.0), this,
        [this](QWidget*) { setShowCorrelation(mShowCorrelationButton->isChecked()); },
        QStringLiteral("Show Correlation"));
    return window;
}

QMenu* KOGoniometerController::instrumentMenu() {
    if (!mInstrumentMenu) {
        mInstrumentMenu = std::make_unique<QMenu>(name());
        QMenu& menu = *mInstrumentMenu;
        QAction* item = KOMenuAdditions::addItemWithTitle(
            menu, QStringLiteral("Show Correlation"), this,
            [this](QAction*) { toggleCorrelation(); }, QKeySequence(Qt::CTRL | Qt::Key_K),
            kShowCorrelationTag);
        item->setCheckable(true);
        connect(&menu, &QMenu::aboutToShow, this, [this, item] {
            const QSignalBlocker blocker(item);
            item->setChecked(showCorrelation());
        });
        menu.addSeparator();
    }
    return KOInstrumentController::instrumentMenu();
}

bool KOGoniometerController::showCorrelation() const {
    return mView && mView->drawCorrelation();
}

void KOGoniometerController::setShowCorrelation(bool show) {
    if (!mView) {
        return;
    }
    mView->setDrawCorrelation(show);
    if (mShowCorrelationButton) {
        const QSignalBlocker blocker(mShowCorrelationButton);
        mShowCorrelationButton->setChecked(show);
    }
}

void KOGoniometerController::initWithWindowNibName(const QString& nibName,
                                                   const QVariantMap* dictionary) {
    KOInstrumentController::initWithWindowNibName(nibName, dictionary);
    if (dictionary == nullptr) {
        setName(QStringLiteral("Goniometer %1").arg(++sCount));
    }
    KOAudioDevice::sharedAudioDevice().addInputClient(mInstrument.get());
    setInChannelA(channelFrom(dictionary, kChannelAKey, 0));
    setInChannelB(channelFrom(dictionary, kChannelBKey, 1));
    addToDataCollectorThread(); // ends with audioPropertiesChanged: the pop-ups fill
}

QVariantMap KOGoniometerController::dictionaryRepresentation() const {
    QVariantMap d = KOInstrumentController::dictionaryRepresentation();
    d.insert(kChannelAKey, inChannelA());
    d.insert(kChannelBKey, inChannelB());
    return d;
}

void KOGoniometerController::dataCollection() {
    if (!mView || !mInstrument->Collect(mBlock)) {
        return;
    }
    mView->drawBlock(mBlock, mView->size()); // marks the view dirty for its redraw timer
}

qint64 KOGoniometerController::inChannelA() const {
    return mInstrument->ChannelA();
}

void KOGoniometerController::setInChannelA(qint64 channel) {
    mInstrument->SetChannelA(std::uint32_t(std::max<qint64>(channel, 0)));
}

qint64 KOGoniometerController::inChannelB() const {
    return mInstrument->ChannelB();
}

void KOGoniometerController::setInChannelB(qint64 channel) {
    mInstrument->SetChannelB(std::uint32_t(std::max<qint64>(channel, 0)));
}
