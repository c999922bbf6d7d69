#include "AnalyserTestSupport.h"

#include "analysers/KODelayFinderData.h"
#include "analysers/KODelayFinderResults.h"
#include "analysers/KOTransferMeasurementWrapper.h"
#include "analysers/ui/KODelayFinderController.h"
#include "analysers/ui/KOTransferController.h"
#include "engine/KOAudioDevice.h"
#include "engine/KODataCollectorThread.h"
#include "engine/KODelayFinder.h"
#include "engine/KOTransferAnalyzer.h"
#include "engine/SDFloatVector.h"
#include "platform/audio/DeviceRegistry.h"

#include <QListView>
#include <QPointer>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using koru::platform::DeviceRegistry;
using koru::platform::KeyedUnarchiver;
using koru::platform::VirtualSignal;
using koru::test::SineInput;

namespace {

constexpr std::uint32_t kBufferFrames = 1024;
constexpr std::uint64_t kFirstDelay = 479;
constexpr std::uint64_t kSecondDelay = 4801;

// The same white noise three times: as it is on channel 0, kFirstDelay samples later on channel
// 1, kSecondDelay samples later on channel 2. Pumped by hand, one buffer per collector pass.
class DelayedNoise {
public:
    static DelayedNoise& shared() {
        static auto* input = new DelayedNoise;
        return *input;
    }

    void use() {
        KOAudioDevice& device = KOAudioDevice::sharedAudioDevice();
        device.setAudioObjectID(mDevice);
        device.start();
        ASSERT_TRUE(device.isRunning()) << device.lastDeviceFailure().toStdString();
    }

    void pump(std::uint32_t buffers) {
        auto& collector = KODataCollectorThread::sharedCollectorThread();
        for (std::uint32_t i = 0; i < buffers; ++i) {
            const std::uint64_t before = collector.passCount();
            ASSERT_TRUE(DeviceRegistry::shared().virtualInput(mDevice)->pump(kBufferFrames));
            ASSERT_TRUE(koru::test::spinUntil([&] {
                return collector.passCount() > before && collector.isIdle();
            })) << "the collector never finished its pass";
        }
    }

private:
    DelayedNoise() {
        koru::platform::VirtualInputConfig config;
        config.name = QStringLiteral("Delayed Noise");
        config.channels = 3;
        config.sampleRate = 48000.0;
        const VirtualSignal noise = VirtualSignal::noise(0.5f, 23);
        config.channelSignals = {noise, noise.delayedBy(kFirstDelay),
                                 noise.delayedBy(kSecondDelay)};
        config.manual = true;
        mDevice = DeviceRegistry::shared().addVirtualInput(config);
    }
    std::uint32_t mDevice = 0;
};

// Enough buffers for the trigger and one frame pair of the delay finder.
constexpr std::uint32_t kRunBuffers = KODelayFinder::kDefaultFFTSize / kBufferFrames + 2;

class TransferDelayFinder : public ::testing::Test {
protected:
    void SetUp() override {
        SineInput::shared();
        mPreviousDevice = KOAudioDevice::sharedAudioDevice().audioObjectID();
        KORTTransferMeasWrapper::setDelayFinderStartsItself(false);
        KORTTransferMeasWrapper::setDelayFinderNotifier(
            [this](const QString& text) { notifications.push_back(text); });
        DelayedNoise::shared().use();
    }
    void TearDown() override {
        KORTTransferMeasWrapper::setDelayFinderNotifier({});
        KORTTransferMeasWrapper::setDelayFinderStartsItself(true);
        // The other tests of this program hear the sine input.
        KOAudioDevice& device = KOAudioDevice::sharedAudioDevice();
        device.setAudioObjectID(mPreviousDevice);
        device.start();
    }

    std::unique_ptr<KOTransferController> make(const QVariantMap* dictionary = nullptr) {
        return KOInstrumentController::create<KOTransferController>(KOTransferController::kNibName,
                                                                    dictionary, &delegate);
    }
    std::unique_ptr<KOTransferController> restore(const QVariantMap& dictionary) {
        auto restored = koru::test::analyserRegistry().createFromDictionary(dictionary, &delegate);
        auto* window = dynamic_cast<KOTransferController*>(restored.get());
        EXPECT_NE(window, nullptr);
        if (!window)
            return nullptr;
        restored.release();
        return std::unique_ptr<KOTransferController>(window);
    }
    static std::shared_ptr<KORTTransferMeasWrapper> live(const KOTransferController& window,
                                                         int row) {
        return std::dynamic_pointer_cast<KORTTransferMeasWrapper>(window.instrumentAt(row));
    }
    // One delay measurement from request to result, as the window's collection delivers it.
    static void runDelayFinder(KORTTransferMeasWrapper& measurement) {
        const int before = measurement.delayFinderResults().count();
        measurement.computeDelayWithCompletionBlock({});
        DelayedNoise::shared().pump(kRunBuffers);
        ASSERT_TRUE(koru::test::spinUntil([&] {
            return measurement.delayFinderResults().count() == before + 1;
        })) << "no result arrived";
    }

    koru::test::QuietDelegate delegate;
    std::vector<QString> notifications;
    std::uint32_t mPreviousDevice = 0;
};

// The finder of a live measurement hears the device like its analyser: the measured delay
// becomes the analyser's total delay to the sample, the shown delay counts from the offset. A
// response that leads its source cannot be compensated: that result is listed and reported, the
// delay stays.
TEST_F(TransferDelayFinder, AFinishedRunSetsTheMeasuredDelayToTheSample) {
    struct Case {
        const char* name;
        qint64 source;
        qint64 response;
        qint64 offset;
        std::int64_t peak; // of the result's impulse response
        qint64 total;      // the analyser's delay afterwards
        bool applied;
    };
    const std::int64_t n = KODelayFinder::kDefaultFFTSize;
    const Case cases[] = {
        {"479 samples", 0, 1, 0, 479, 479, true},
        {"4801 samples from an offset of 1000", 0, 2, 1000, 4801, 4801, true},
        {"between two delayed channels", 1, 2, 0, 4322, 4322, true},
        {"leading response", 1, 0, 0, n - 479, 250, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        notifications.clear();
        auto window = make();
        const auto measurement = live(*window, 0);
        measurement->setSourceChannel(c.source);
        measurement->setResponseChannel(c.response);
        measurement->setDelayOffset(c.offset);
        measurement->setSourceDelay(250 - c.offset);
        ASSERT_EQ(measurement->analyzer()->Delay(), 250);
        EXPECT_EQ(measurement->delayFinderStatus(), QString());
        EXPECT_TRUE(measurement->canStartDelayFinder());

        std::vector<std::shared_ptr<KODelayFinderData>> completed;
        int ignoredCalls = 0;
        measurement->computeDelayWithCompletionBlock(
            [&](KODelayFinderMeasurement& which, const std::shared_ptr<KODelayFinderData>& data) {
                EXPECT_EQ(&which, static_cast<KODelayFinderMeasurement*>(measurement.get()));
                completed.push_back(data);
            });
        EXPECT_EQ(measurement->delayFinderStatus(), QStringLiteral("Waiting for Signal"));
        EXPECT_FALSE(measurement->canStartDelayFinder());
        EXPECT_EQ(measurement->sourceDelay(), 0) << "nothing to show while measuring";
        measurement->computeDelayWithCompletionBlock(
            [&](KODelayFinderMeasurement&, const std::shared_ptr<KODelayFinderData>&) {
                ++ignoredCalls;
            });

        DelayedNoise::shared().pump(c.response == 2 ? 6 : 1);
        EXPECT_EQ(measurement->delayFinderStatus(), QStringLiteral("Recording"));
        DelayedNoise::shared().pump(kRunBuffers);
        ASSERT_TRUE(koru::test::spinUntil([&] { return !completed.empty(); }));

        KODelayFinderResults& results = measurement->delayFinderResults();
        ASSERT_EQ(results.count(), 1);
        EXPECT_EQ(results.at(0), completed[0]);
        EXPECT_EQ(results.at(0)->name(), measurement->title() + " - 1");
        EXPECT_EQ(results.at(0)->findPeakPosition(), c.peak);
        EXPECT_EQ(measurement->analyzer()->Delay(), c.total);
        EXPECT_EQ(measurement->sourceDelay(), c.total - c.offset);
        EXPECT_EQ(measurement->delayFinderStatus(), QString());
        EXPECT_TRUE(measurement->canStartDelayFinder());
        EXPECT_EQ(measurement->refusedDelayResults(), c.applied ? 0 : 1);
        const QString told = c.applied ? ": " + measurement->sourceDelayString()
                                       : QStringLiteral(": no usable delay found");
        EXPECT_EQ(notifications, std::vector<QString>{measurement->title() + told});
        EXPECT_EQ(ignoredCalls, 0) << "a request while one runs is dropped with its completion";

        // The next run has its own completion: the first one is not called again.
        ASSERT_NO_FATAL_FAILURE(runDelayFinder(*measurement));
        EXPECT_EQ(completed.size(), 1u);
        EXPECT_EQ(results.at(1)->name(), measurement->title() + " - 2");
        EXPECT_EQ(measurement->analyzer()->Delay(), c.total);
    }
}

// The results travel with the measurement in a session, also under a decimal-comma locale (the
// delay itself is measured anew once the restored measurement runs).
TEST_F(TransferDelayFinder, TheResultsListIsSavedAndRestoredWithTheMeasurement) {
    auto original = make();
    const auto measurement = live(*original, 0);
    measurement->setSourceChannel(0);
    measurement->setResponseChannel(1);
    ASSERT_NO_FATAL_FAILURE(runDelayFinder(*measurement));
    measurement->setResponseChannel(2);
    ASSERT_NO_FATAL_FAILURE(runDelayFinder(*measurement));
    measurement->setDelayOffset(100);
    const KODelayFinderResults& saved = measurement->delayFinderResults();
    ASSERT_EQ(saved.count(), 2);

    for (const char* locale : {"C", "de_DE.UTF-8"}) {
        koru::test::ScopedLocale scoped(locale);
        if (!scoped.active())
            GTEST_SKIP() << locale << " is not installed";
        auto restored = restore(original->dictionaryRepresentation());
        ASSERT_NE(restored, nullptr);
        const auto again = live(*restored, 0);
        ASSERT_NE(again, nullptr);
        EXPECT_EQ(again->delayOffset(), 100);
        KODelayFinderResults& results = again->delayFinderResults();
        ASSERT_EQ(results.count(), 2);
        for (int row = 0; row < 2; ++row) {
            SCOPED_TRACE(row);
            EXPECT_EQ(results.at(row)->name(), saved.at(row)->name());
            EXPECT_EQ(results.at(row)->timeStamp(), saved.at(row)->timeStamp());
            const auto& expected = *saved.at(row)->impulseResponse();
            const auto& samples = *results.at(row)->impulseResponse();
            ASSERT_EQ(samples.length(), expected.length());
            EXPECT_TRUE(
                std::equal(samples.data(), samples.data() + samples.length(), expected.data()));
        }
        EXPECT_EQ(results.at(0)->findPeakPosition(), kFirstDelay);
        EXPECT_EQ(results.at(1)->findPeakPosition(), kSecondDelay);
    }
}

// "Delay" opens the selected live measurement's delay-finder window, one per measurement and
// kept; the window works on that measurement; it closes when the measurement leaves the list.
TEST_F(TransferDelayFinder, TheDelayButtonOpensTheWindowOfTheSelectedMeasurement) {
    auto window = make();
    QMainWindow* shown = window->instrumentWindow();
    shown->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(shown));
    const auto measurement = live(*window, 0);
    measurement->setSourceChannel(0);
    measurement->setResponseChannel(1);
    ASSERT_NO_FATAL_FAILURE(runDelayFinder(*measurement));

    QPushButton* button = window->delayFinderButton();
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), "Delay");
    QTest::mouseClick(button, Qt::LeftButton);
    KODelayFinderController* finder = window->delayFinderForWrapper(measurement.get());
    ASSERT_NE(finder, nullptr);
    ASSERT_TRUE(finder->window()->isVisible());
    EXPECT_EQ(finder->window()->windowTitle(), "Delay Finder for " + measurement->title());
    EXPECT_EQ(finder->resultsView()->model(), &measurement->delayFinderResults());
    EXPECT_EQ(finder->resultsView()->model()->rowCount(), 1);
    EXPECT_EQ(finder->delayTime(), qint64(kFirstDelay));

    // The window's delay marker sets the measurement's delay; a new result shows up in its list.
    finder->setDelayTime(600);
    EXPECT_EQ(measurement->analyzer()->Delay(), 600);
    measurement->setResponseChannel(2);
    ASSERT_NO_FATAL_FAILURE(runDelayFinder(*measurement));
    EXPECT_EQ(finder->resultsView()->model()->rowCount(), 2);
    EXPECT_EQ(finder->delayTime(), qint64(kSecondDelay));

    finder->window()->close();
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(window->delayFinderForWrapper(measurement.get()), finder) << "kept for reuse";
    EXPECT_TRUE(finder->window()->isVisible());

    // A snapshot has no delay finder: the button opens nothing.
    window->createSnapshot();
    QTableView* table = window->instrumentsTableView();
    table->selectionModel()->select(table->model()->index(1, 0),
                                    QItemSelectionModel::ClearAndSelect |
                                        QItemSelectionModel::Rows);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(window->delayFinderForWrapper(window->instrumentAt(1).get()), nullptr);

    const QPointer<QWidget> open = finder->window();
    window->removeInstrument(measurement.get());
    EXPECT_TRUE(open.isNull()) << "the window of a removed measurement closes";
}

// Without a request, a new live measurement starts its finder 2 s after it is made, and again 2 s
// after a channel change; a running finder follows a channel change instead.
TEST_F(TransferDelayFinder, ALiveMeasurementStartsItsFinderByItself) {
    KORTTransferMeasWrapper::setDelayFinderStartsItself(true);
    auto measurement = KORTTransferMeasWrapper::createWithFFTSize(8192);
    QTimer* timer = measurement->delayFinderStartTimer();
    EXPECT_TRUE(timer->isActive());
    EXPECT_TRUE(timer->isSingleShot());
    EXPECT_EQ(timer->interval(), 2000);
    timer->stop();
    measurement->setSourceChannel(0);
    EXPECT_TRUE(timer->isActive()) << "a channel change waits 2 s again";
    timer->stop();
    measurement->setResponseChannel(1);
    EXPECT_TRUE(timer->isActive());

    // As the timer fires:
    measurement->invokeDelayFinderFromTimer();
    EXPECT_FALSE(timer->isActive());
    EXPECT_EQ(measurement->delayFinderStatus(), QStringLiteral("Waiting for Signal"));
    measurement->setResponseChannel(2);
    EXPECT_FALSE(timer->isActive()) << "a running finder is not restarted";
    QString error;
    const auto restored = KeyedUnarchiver::unarchive(
        koru::platform::KeyedArchiver::archivedData(*measurement), &error);
    const auto* again = dynamic_cast<const KORTTransferMeasWrapper*>(restored.get());
    ASSERT_NE(again, nullptr) << error.toStdString();
    EXPECT_TRUE(again->delayFinderStartTimer()->isActive()) << "after a session is restored";

    KORTTransferMeasWrapper::setDelayFinderStartsItself(false);
    auto quiet = KORTTransferMeasWrapper::createWithFFTSize(8192);
    EXPECT_FALSE(quiet->delayFinderStartTimer()->isActive());
}

} // namespace
