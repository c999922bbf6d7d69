#include "meters/ui/KOGoniometerController.h"

#include "engine/KOAudioDevice.h"
#include "framework/KOInstrumentWindow.h"
#include "meters/ui/KOMeterViews.h"

#include <QMetaObject>

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
    return window;
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
    addToDataCollectorThread();
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
    mView->drawBlock(mBlock, mView->size());
    QMetaObject::invokeMethod(mView, qOverload<>(&QWidget::update), Qt::QueuedConnection);
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
