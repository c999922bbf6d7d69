#include "InstrumentTestSupport.h"

#include "engine/KODataCollectorThread.h"
#include "framework/KOInstrumentControllerWithoutPanel.h"
#include "platform/exceptions/InternalInconsistencyException.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/plist/PropertyList.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QMainWindow>
#include <QScreen>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <numeric>
#include <thread>
#include <vector>

using koru::platform::InternalInconsistencyException;
using koru::platform::NotificationCenter;
using koru::platform::PlistFormat;
using koru::platform::PropertyList;
using koru::test::FakeInstrumentDevice;
using koru::test::RecordingDelegate;
using koru::test::TestInstrumentController;

namespace {

class InstrumentControllerTest : public ::testing::Test {
protected:
    std::unique_ptr<TestInstrumentController> make(const QVariantMap* dictionary = nullptr) {
        auto controller =
            KOInstrumentController::create<TestInstrumentController>("test", dictionary);
        controller->setDelegate(&delegate);
        return controller;
    }

    FakeInstrumentDevice device{{"In 1", "In 2"}};
    RecordingDelegate delegate;
};

TEST_F(InstrumentControllerTest, NewInstrumentMakesItsIdentifierOnceAndDescribesItself) {
    auto controller = make();
    const QString id = controller->identifier();
    EXPECT_EQ(id.size(), 36);
    EXPECT_EQ(controller->identifier(), id);
    EXPECT_EQ(controller->description(),
              QStringLiteral("[koru::test::TestInstrumentController] (%1)").arg(id));
    EXPECT_EQ(controller->dictionaryRepresentation().value("KOType").toString(),
              "koru::test::TestInstrumentController");
    EXPECT_NE(make()->identifier(), id);
}

TEST_F(InstrumentControllerTest, NameIsEmptyTextAndANullNameChangesNothing) {
    auto controller = make();
    EXPECT_FALSE(controller->name().isNull());
    EXPECT_EQ(controller->name(), "");

    controller->setName("Meter");
    controller->setName(QString());
    EXPECT_EQ(controller->name(), "Meter");
    EXPECT_EQ(controller->instrumentWindow()->windowTitle(), "Meter");
    EXPECT_EQ(delegate.events(), QStringList{"name"});
}

struct RestoreCase {
    const char* what;
    QVariantMap dictionary;
    bool keepsIdentifier;
    bool visible;
    bool sticky;
    QString name;
};

class RestoreDefaults : public InstrumentControllerTest,
                        public ::testing::WithParamInterface<RestoreCase> {};

TEST_P(RestoreDefaults, MissingOrWrongValuesTakeTheDefaults) {
    const RestoreCase& c = GetParam();
    auto controller = make(&c.dictionary);
    if (c.keepsIdentifier)
        EXPECT_EQ(controller->identifier(),
                  c.dictionary.value(KOInstrumentController::kIdentifierKey));
    else
        EXPECT_EQ(controller->identifier().size(), 36);
    EXPECT_EQ(controller->instrumentWindow()->isVisible(), c.visible);
    EXPECT_EQ(controller->sticky(), c.sticky);
    EXPECT_EQ(controller->name(), c.name);
}

INSTANTIATE_TEST_SUITE_P(
    Dictionaries, RestoreDefaults,
    ::testing::Values(RestoreCase{"empty", {}, false, false, false, ""},
                      RestoreCase{"wrong types",
                                  {{"InstrumentController.Identifier", 42},
                                   {"InstrumentController.Window.Frame", 7},
                                   {"InstrumentController.Name", QVariantList{}},
                                   {"InstrumentController.WindowVisible", QByteArray("1")},
                                   {"instrument.noclose", QVariantMap{}}},
                                  false,
                                  false,
                                  false,
                                  ""},
                      RestoreCase{"unreadable frame keeps going",
                                  {{"InstrumentController.Identifier", "ABC"},
                                   {"InstrumentController.Window.Frame", "10 20 wide"},
                                   {"InstrumentController.Name", "SPL"},
                                   {"InstrumentController.WindowVisible", qint64(1)},
                                   {"instrument.noclose", true}},
                                  true,
                                  true,
                                  true,
                                  "SPL"},
                      RestoreCase{"visibility as a bool",
                                  {{"InstrumentController.WindowVisible", true}},
                                  false,
                                  true,
                                  false,
                                  ""}),
    [](const auto& info) {
        QString name = QString::fromLatin1(info.param.what);
        name.replace(' ', '_');
        return name.toStdString();
    });

TEST_F(InstrumentControllerTest, RestoreReportsNothingBeforeTheDelegateIsSet) {
    const QVariantMap dictionary{{"InstrumentController.Name", "Early"},
                                 {"InstrumentController.WindowVisible", qint64(1)}};
    auto controller = make(&dictionary);
    EXPECT_TRUE(delegate.events().isEmpty());
    controller->hideInstrument();
    controller->unhideInstrument();
    EXPECT_EQ(delegate.events(), (QStringList{"hide", "unhide"}));
}

class SaveAndRestore : public InstrumentControllerTest,
                       public ::testing::WithParamInterface<PlistFormat> {};

TEST_P(SaveAndRestore, PropertyListFileGivesTheSameDictionary) {
    for (const char* locale : {"C", "de_DE.UTF-8"}) {
        koru::test::ScopedLocale scoped(locale);
        if (!scoped.active())
            GTEST_SKIP() << locale << " is not installed";
        auto original = make();
        original->instrumentWindow()->setGeometry(140, 150, 333, 222);
        original->setName("Meter 1");
        original->setSticky(true);
        original->unhideInstrument();
        const QVariantMap saved = original->dictionaryRepresentation();

        const QString path = koru::test::testRoot() + "/instrument.plist";
        ASSERT_TRUE(PropertyList::write(path, saved, GetParam()));
        const auto read = PropertyList::read(path);
        ASSERT_TRUE(read.ok()) << read.error.toStdString();
        const QVariantMap restoredFrom = read.value.toMap();
        auto restored = make(&restoredFrom);

        EXPECT_EQ(restored->dictionaryRepresentation(), saved) << locale;
        EXPECT_EQ(restored->instrumentWindow()->geometry(), QRect(140, 150, 333, 222));
        EXPECT_EQ(saved.value("InstrumentController.Window.Frame").toString().section(' ', 0, 3),
                  "140 150 333 222");
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, SaveAndRestore,
                         ::testing::Values(PlistFormat::Xml, PlistFormat::Binary));

TEST_F(InstrumentControllerTest, SavedFrameOffEveryScreenIsBroughtBack) {
    auto controller = make();
    ASSERT_TRUE(controller->setWindowFrameFromString("5000 -4000 300 200 0 0 800 800"));
    const QRect area = QApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(area.contains(controller->instrumentWindow()->geometry()));
    EXPECT_EQ(controller->instrumentWindow()->geometry().size(), QSize(300, 200));
    EXPECT_FALSE(controller->setWindowFrameFromString("1 2 3"));
    EXPECT_FALSE(controller->setWindowFrameFromString("1 2 0 5 0 0 800 800"));
}

TEST_F(InstrumentControllerTest, ClosingReportsWhileStillVisibleAndLeavesTheCollector) {
    auto controller = make();
    auto other = make();
    other->unhideInstrument();
    controller->unhideInstrument();
    controller->addToDataCollectorThread();
    delegate.clear();

    other->instrumentWindow()->close();
    delegate.clear();
    ASSERT_TRUE(controller->isInDataCollectorThread());

    controller->instrumentWindow()->close();
    EXPECT_EQ(delegate.events(), QStringList{"remove"});
    EXPECT_EQ(delegate.removedDictionary.value("InstrumentController.WindowVisible").toInt(), 1);
    EXPECT_FALSE(controller->isInDataCollectorThread());
    EXPECT_FALSE(controller->instrumentWindow()->isVisible());

    // Observers are gone: an audio-property change no longer reaches it.
    const int before = delegate.rateRequests.load();
    controller->currentSampleRate();
    NotificationCenter::defaultCenter().post("KORUNOT.reloadAudioProp");
    QApplication::processEvents();
    controller->currentSampleRate();
    EXPECT_EQ(delegate.rateRequests.load(), before + 1);
}

struct RecallCase {
    bool sticky;
    bool closable;
    bool closes;
};

class WorkspaceRecall : public InstrumentControllerTest,
                        public ::testing::WithParamInterface<RecallCase> {};

TEST_P(WorkspaceRecall, ClosesOnlyWhatIsNeitherStickyNorRefusing) {
    auto controller = make();
    controller->unhideInstrument();
    controller->setSticky(GetParam().sticky);
    controller->closable = GetParam().closable;
    delegate.clear();
    controller->closeFromWorkspaceRecall();
    EXPECT_EQ(controller->instrumentWindow()->isVisible(), !GetParam().closes);
    EXPECT_EQ(delegate.events().contains("remove"), GetParam().closes);
}

INSTANTIATE_TEST_SUITE_P(Flags, WorkspaceRecall,
                         ::testing::Values(RecallCase{false, true, true},
                                           RecallCase{true, true, false},
                                           RecallCase{false, false, false},
                                           RecallCase{true, false, false}));

TEST_F(InstrumentControllerTest, SampleRateIsCachedUntilTheAudioPropertiesChange) {
    auto controller = make();
    EXPECT_EQ(controller->currentSampleRate(), 48000.0);
    EXPECT_EQ(controller->currentSampleRate(), 48000.0);
    EXPECT_EQ(delegate.rateRequests.load(), 1);

    delegate.sampleRate = 96000.0;
    std::thread poster([] { NotificationCenter::defaultCenter().post("KORUNOT.reloadAudioProp"); });
    poster.join();
    int announcements = 0;
    QObject::connect(controller.get(), &KOInstrumentController::inputDeviceObjectIDChanged,
                     [&] { ++announcements; });
    ASSERT_TRUE(koru::test::spinUntil([&] { return announcements == 1; }));
    EXPECT_EQ(controller->currentSampleRate(), 96000.0);
    EXPECT_EQ(delegate.rateRequests.load(), 2);
    EXPECT_EQ(controller->inputDeviceObjectID(), 3u);
    EXPECT_EQ(controller->currentAudioDeviceName(), "Fake Device");
}

TEST_F(InstrumentControllerTest, SampleConversionsUseTheRateAndTruncateTowardZero) {
    auto controller = make();
    EXPECT_DOUBLE_EQ(controller->secondsFromSamples(24000), 0.5);
    EXPECT_EQ(controller->samplesFromSeconds(0.5), 24000);
    EXPECT_EQ(controller->samplesFromSeconds(0.00003), 1);
    EXPECT_EQ(controller->samplesFromSeconds(-0.00003), -1);
}

TEST_F(InstrumentControllerTest, WithoutDelegateTheRateIsUnknownInsteadOfAnError) {
    auto controller = make();
    controller->setDelegate(nullptr);
    EXPECT_EQ(controller->currentSampleRate(), 0.0);
    EXPECT_EQ(controller->secondsFromSamples(100), 0.0);
}

TEST_F(InstrumentControllerTest, SwipeAndResetReachTheRightHook) {
    auto controller = make();
    controller->swipeWithDeltaX(-1.0);
    controller->swipeWithDeltaX(0.0);
    controller->swipeWithDeltaX(2.0);
    controller->reset();
    EXPECT_EQ(controller->resetAllCalls, 2);
    EXPECT_EQ(controller->resetCurrentCalls, 2);
}

TEST_F(InstrumentControllerTest, PauseAndStickyToggleThroughTheirSetters) {
    auto controller = make();
    QList<bool> pauses;
    QObject::connect(controller.get(), &KOInstrumentController::pauseChanged,
                     [&](bool p) { pauses.append(p); });
    controller->togglePauseStatus();
    EXPECT_TRUE(controller->pause());
    EXPECT_TRUE(controller->processing.IsPaused());
    controller->togglePauseStatus();
    EXPECT_EQ(pauses, (QList<bool>{true, false}));
    controller->toggleStickyStatus();
    EXPECT_TRUE(controller->dictionaryRepresentation().value("instrument.noclose").toBool());
}

TEST_F(InstrumentControllerTest, ActivatingTheWindowMakesTheInstrumentCurrent) {
    auto first = make();
    auto second = make();
    first->unhideInstrument();
    second->unhideInstrument();
    first->instrumentWindow()->activateWindow();
    ASSERT_TRUE(koru::test::spinUntil([&] { return delegate.events().contains("current"); }));
    delegate.clear();
    second->instrumentWindow()->activateWindow();
    ASSERT_TRUE(koru::test::spinUntil([&] { return delegate.events().contains("resign"); }));
    EXPECT_TRUE(koru::test::spinUntil([&] { return delegate.events().contains("current"); }));
}

TEST_F(InstrumentControllerTest, AbstractChannelAccessorsRefuse) {
    auto base = KOInstrumentController::create<KOInstrumentController>("base", nullptr);
    try {
        base->inChannelA();
        FAIL() << "no failure";
    } catch (const InternalInconsistencyException& error) {
        EXPECT_EQ(error.reason(), "must be overridden by subclass");
    }
    EXPECT_THROW(base->setInputChannel(1), InternalInconsistencyException);
    EXPECT_THROW(base->setInChannelB(1), InternalInconsistencyException);
}

TEST_F(InstrumentControllerTest, CollectorSkipsAnInstrumentWhoseLockIsHeld) {
    auto controller = make();
    controller->addToDataCollectorThread();
    auto& collector = KODataCollectorThread::sharedCollectorThread();
    const auto passAfterWake = [&] {
        const auto start = collector.passCount();
        collector.wakeUp();
        return koru::test::spinUntil(
            [&] { return collector.passCount() > start + 1 || (collector.wakeUp(), false); });
    };
    ASSERT_TRUE(passAfterWake());
    ASSERT_GT(controller->collections.load(), 0);
    {
        const std::lock_guard lock(controller->dataCollectionLock());
        const int before = controller->collections.load();
        ASSERT_TRUE(passAfterWake());
        EXPECT_EQ(controller->collections.load(), before);
    }
    const int before = controller->collections.load();
    ASSERT_TRUE(passAfterWake());
    EXPECT_GT(controller->collections.load(), before);
}

// What the collector saw of a controller that is being destroyed; kept outside it.
struct CollectionRecord {
    std::atomic<int> calls{0};
    std::atomic<int> callsAfterMembersWentAway{0};
    std::atomic<bool> membersGone{false};
};

// Collects a member of its own. Members go in reverse order, so `values` is freed first; then
// `lastMember` holds the destruction up until the collector has made two whole passes, which a
// controller still registered at that point would take part in, reading freed memory.
class ReadsItsOwnMembers : public KOInstrumentController {
public:
    explicit ReadsItsOwnMembers(CollectionRecord& record) : lastMember{record}, record(record) {}

    void dataCollection() override {
        ++record.calls;
        if (record.membersGone.load())
            ++record.callsAfterMembersWentAway;
        total = std::accumulate(values.begin(), values.end(), 0.0);
    }

    struct HoldsDestructionForTwoPasses {
        CollectionRecord& record;
        ~HoldsDestructionForTwoPasses() {
            record.membersGone = true;
            auto& collector = KODataCollectorThread::sharedCollectorThread();
            const auto target = collector.passCount() + 2;
            // A bounded wait for a count; the collector makes passes whenever it is woken.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (collector.passCount() < target && std::chrono::steady_clock::now() < deadline) {
                collector.wakeUp();
                std::this_thread::yield();
            }
            EXPECT_GE(collector.passCount(), target) << "the collector made no passes";
        }
    };

    HoldsDestructionForTwoPasses lastMember;
    CollectionRecord& record;
    std::atomic<double> total{0.0};
    std::vector<double> values = std::vector<double>(64, 1.0);
};

enum class Ending { OwnerResets, DeleteLater, ParentDeleted };

class LeavingTheCollector : public ::testing::TestWithParam<Ending> {};

TEST_P(LeavingTheCollector, DestructionNeverLetsTheCollectorReadFreedMembers) {
    CollectionRecord record;
    auto controller = KOInstrumentController::create<ReadsItsOwnMembers>("reads", nullptr, record);
    controller->addToDataCollectorThread();
    auto& collector = KODataCollectorThread::sharedCollectorThread();
    ASSERT_TRUE(
        koru::test::spinUntil([&] { return record.calls > 0 || (collector.wakeUp(), false); }));

    switch (GetParam()) {
    case Ending::OwnerResets:
        controller.reset();
        break;
    case Ending::DeleteLater:
        controller.release()->deleteLater();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        break;
    case Ending::ParentDeleted: {
        auto parent = std::make_unique<QObject>();
        controller.release()->setParent(parent.get());
        parent.reset();
        break;
    }
    }
    ASSERT_TRUE(record.membersGone.load()) << "the controller was not destroyed";
    EXPECT_EQ(record.callsAfterMembersWentAway.load(), 0);
}

std::string endingName(const ::testing::TestParamInfo<Ending>& info) {
    const char* const names[] = {"OwnerResets", "DeleteLater", "ParentDeleted"};
    return names[int(info.param)];
}

INSTANTIATE_TEST_SUITE_P(EveryWayOfDeleting, LeavingTheCollector,
                         ::testing::Values(Ending::OwnerResets, Ending::DeleteLater,
                                           Ending::ParentDeleted),
                         endingName);

TEST_F(InstrumentControllerTest, OnlyControllersMadeByCreateMayJoinTheCollector) {
    TestInstrumentController direct;
    EXPECT_THROW(direct.addToDataCollectorThread(), InternalInconsistencyException);
    EXPECT_FALSE(direct.isInDataCollectorThread());
}

template <typename Base> class WithSettingsView : public Base {
protected:
    std::unique_ptr<QMainWindow> buildWindow(const QString& nibName) override {
        auto window = Base::buildWindow(nibName);
        this->setControlViewController(new QWidget(window.get()));
        return window;
    }
};

TEST_F(InstrumentControllerTest, InstrumentWithoutPanelNeverShowsThePopover) {
    auto withPanel =
        KOInstrumentController::create<WithSettingsView<KOInstrumentController>>("p", nullptr);
    auto without =
        KOInstrumentController::create<WithSettingsView<KOInstrumentControllerWithoutPanel>>(
            "w", nullptr);
    for (KOInstrumentController* c : {static_cast<KOInstrumentController*>(withPanel.get()),
                                      static_cast<KOInstrumentController*>(without.get())}) {
        c->unhideInstrument();
        c->showControlPanel(c->instrumentWindow()->centralWidget());
    }
    EXPECT_NE(withPanel->controlPopover(), nullptr);
    EXPECT_EQ(without->controlPopover(), nullptr);
    EXPECT_FALSE(without->controlPanelVisible());
}

} // namespace
