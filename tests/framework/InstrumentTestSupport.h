#pragma once

#include "engine/KOOneChannelInstrument.h"
#include "framework/InstrumentAudioDevice.h"
#include "framework/KOInstrumentController.h"
#include "framework/KOInstrumentControllerDelegate.h"
#include "framework/KOInstrumentWrapper.h"
#include "framework/KOMultipleTracesInstrumentController.h"

#include <QCoreApplication>
#include <QMenu>
#include <QStringList>
#include <QTableView>
#include <QThread>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace koru::test {

// The application controller's side, recording what the instruments tell it.
class RecordingDelegate : public KOInstrumentControllerDelegate {
public:
    void removeInstrument(KOInstrumentController* controller) override {
        record("remove", controller);
        removedDictionary = controller->dictionaryRepresentation();
    }
    void instrumentDidHide(KOInstrumentController* c) override { record("hide", c); }
    void instrumentDidUnhide(KOInstrumentController* c) override { record("unhide", c); }
    void setCurrentInstrument(KOInstrumentController* c) override { record("current", c); }
    void instrumentDidResignCurrent(KOInstrumentController* c) override { record("resign", c); }
    void shouldSetSigGenMuteStatus(bool) override {}
    void instrumentControllerDidChangeName(KOInstrumentController* c) override {
        record("name", c);
    }
    double audioDeviceSampleRate() override {
        rateRequests.fetch_add(1);
        return sampleRate.load();
    }
    std::uint32_t preferredOutputDevice() override { return 0; }

    QStringList events() const {
        const std::lock_guard lock(mutex);
        return eventList;
    }
    void clear() {
        const std::lock_guard lock(mutex);
        eventList.clear();
    }

    std::atomic<double> sampleRate{48000.0};
    std::atomic<int> rateRequests{0};
    QVariantMap removedDictionary;

private:
    void record(const char* what, KOInstrumentController*) {
        const std::lock_guard lock(mutex);
        eventList.append(QString::fromLatin1(what));
    }
    mutable std::mutex mutex;
    QStringList eventList;
};

// A device with named channels, installed for the life of the object.
class FakeInstrumentDevice : public koru::framework::InstrumentAudioDevice {
public:
    explicit FakeInstrumentDevice(QStringList channelNames) : names(std::move(channelNames)) {
        setShared(this);
    }
    ~FakeInstrumentDevice() override { setShared(nullptr); }
    std::uint32_t inputDeviceObjectID() const override { return 3; }
    QString currentAudioDeviceName() const override { return QStringLiteral("Fake Device"); }
    QString currentAudioDeviceUID() const override { return QStringLiteral("virtual:Fake"); }
    QStringList channelNamesArray() const override { return names; }
    std::uint32_t totalNumberChannels() const override {
        return static_cast<std::uint32_t>(names.size());
    }
    std::unique_ptr<QMenu> inputChannelMenu() const override {
        auto menu = std::make_unique<QMenu>(QStringLiteral("Input Channel"));
        for (qsizetype i = 0; i < names.size(); ++i)
            menu->addAction(names[i])->setData(qint64(i));
        return menu;
    }
    QStringList names;
};

// A model with a "show" flag and one key of its own.
class TestModel : public KOInstrumentWrapper {
    Q_OBJECT
    Q_PROPERTY(bool show READ show WRITE setShow)
public:
    static constexpr const char* kClassName = "TestModel";
    static void registerClass() {
        registerArchiveClass<TestModel>(QString::fromLatin1(kClassName));
    }

    QString archiveClassName() const override { return QString::fromLatin1(kClassName); }
    void encodeWithCoder(koru::platform::KeyedArchiver& coder) const override {
        KOInstrumentWrapper::encodeWithCoder(coder);
        coder.encodeDouble(QStringLiteral("gain"), gain);
    }
    void initWithCoder(koru::platform::KeyedUnarchiver& coder) override {
        KOInstrumentWrapper::initWithCoder(coder);
        gain = coder.decodeDouble(QStringLiteral("gain"), 1.0);
    }
    bool pauseable() const override { return true; }
    bool shouldCollect() override { return pendingFrames.load() != 0; }
    void collect() override {
        collectedFrames.fetch_add(pendingFrames.exchange(0));
        collectedOffMainThread.store(QThread::currentThread() != qApp->thread());
    }
    bool show() const { return mShow; }
    void setShow(bool value) { mShow = value; }

    double gain = 1.0;
    std::atomic<std::uint64_t> pendingFrames{0};
    std::atomic<std::uint64_t> collectedFrames{0};
    std::atomic<bool> collectedOffMainThread{false};

private:
    bool mShow = true;
};

// The signal processing of the test instrument: counts the frames it is handed.
class FrameCounter : public KOOneChannelInstrument {
public:
    bool IsPauseable() const override { return true; }
    void Process(const AudioBufferList* buffers, std::uint32_t frames) override {
        if (!buffers || Channel() >= buffers->mNumberBuffers)
            return;
        frameCount.fetch_add(frames);
        SetNewData(true);
    }
    std::atomic<std::uint64_t> frameCount{0};
};

// The smallest instrument: one channel, one model, frames counted on the audio thread and
// collected into the model on the collector thread.
class TestInstrumentController : public KOInstrumentController {
    Q_OBJECT
public:
    TestInstrumentController() : model(KOInstrumentWrapper::create<TestModel>("Trace")) {}

    qint64 inputChannel() const override { return processing.Channel(); }
    void setInputChannel(qint64 channel) override {
        processing.SetChannel(static_cast<std::uint32_t>(channel));
    }
    QStringList linkableViewParameters() const override { return linkable; }
    void changeParameterWithName(const QString& name, const QVariant& value) override {
        received.emplace_back(name, value);
        if (name == QLatin1String("Frequency")) {
            frequency = value;
            // A follower that re-posts what it applies must not send it back.
            postParameterChange(name, value);
        }
    }
    void postParameters() override {
        for (const QString& name : linkable)
            postParameterChange(name, name == QLatin1String("Frequency") ? frequency : QVariant());
    }
    void resetAll() override { ++resetAllCalls; }
    void resetCurrent() override { ++resetCurrentCalls; }
    bool canBeClosed() const override { return closable; }
    void setPause(bool pause) override {
        KOInstrumentController::setPause(pause);
        processing.SetPaused(pause);
        model->setPause(pause);
    }
    void dataCollection() override {
        collections.fetch_add(1);
        if (!processing.HasNewData())
            return;
        processing.SetNewData(false);
        model->pendingFrames.fetch_add(processing.frameCount.exchange(0));
        if (model->shouldCollect())
            model->collect();
        // The rate is asked for here too: it must not wait for the lock this pass holds.
        collectorRate.store(currentSampleRate());
    }

    FrameCounter processing;
    std::unique_ptr<TestModel> model;
    QStringList linkable;
    QVariant frequency;
    std::vector<std::pair<QString, QVariant>> received;
    int resetAllCalls = 0;
    int resetCurrentCalls = 0;
    bool closable = true;
    std::atomic<int> collections{0};
    std::atomic<double> collectorRate{0.0};

protected:
    std::unique_ptr<QMainWindow> buildWindow(const QString& nibName) override {
        auto window = KOInstrumentController::buildWindow(nibName);
        window->resize(320, 200);
        return window;
    }
};

// A multiple-traces window with its table.
class TestTracesController : public KOMultipleTracesInstrumentController {
    Q_OBJECT
protected:
    std::unique_ptr<QMainWindow> buildWindow(const QString& /*nibName*/) override {
        auto window = std::make_unique<QMainWindow>();
        auto* table = new QTableView(window.get());
        window->setCentralWidget(table);
        window->resize(400, 300);
        setInstrumentsTableView(table);
        return window;
    }
};

} // namespace koru::test
