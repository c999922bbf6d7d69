#include "AnalyserTestSupport.h"

#include "analysers/KOTransferMeasurementWrapper.h"
#include "analysers/KOTransferSnapshot.h"
#include "analysers/ui/KOTransferController.h"
#include "analysers/ui/KOTransferView.h"
#include "engine/KOTransferAnalyzer.h"
#include "framework/KOColorAdditions.h"
#include "framework/KOFFTDrawingData.h"
#include "framework/KOMenuAdditions.h"
#include "framework/KeyboardModifierSource.h"
#include "utility/ui/KOInfoPanel.h"

#include <QAction>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTableView>
#include <QTest>
#include <QToolBar>

#include <gtest/gtest.h>

#include <cmath>

using koru::framework::KeyboardModifierSource;
using koru::test::csvExport;
using koru::test::SineInput;

namespace {

class TransferWindow : public ::testing::Test {
protected:
    void SetUp() override {
        SineInput::shared();
        KeyboardModifierSource::setProvider({});
        // A finder started by its timer would show a delay of 0 while it waits.
        KORTTransferMeasWrapper::setDelayFinderStartsItself(false);
    }
    void TearDown() override {
        KeyboardModifierSource::setProvider({});
        KORTTransferMeasWrapper::setDelayFinderStartsItself(true);
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
    static QString csvOf(const std::shared_ptr<KOInstrumentWrapper>& model) {
        auto source = std::dynamic_pointer_cast<KODataExporting>(model);
        return source ? csvExport(source) : QString();
    }
    static void show(KOTransferController& window) {
        QMainWindow* shown = window.instrumentWindow();
        shown->show();
        shown->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(shown));
    }
    // A click on a row of the table, with modifiers (Ctrl adds to the selection).
    static void clickRow(KOTransferController& window, int row,
                         Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTableView* table = window.instrumentsTableView();
        const QRect rect = table->visualRect(table->model()->index(row, 0));
        ASSERT_TRUE(rect.isValid()) << row;
        QTest::mouseClick(table->viewport(), Qt::LeftButton, modifiers, rect.center());
    }
    // Without the keyboard: a selection made while a modifier seems held would toggle.
    static void selectOnly(KOTransferController& window, int row) {
        QTableView* table = window.instrumentsTableView();
        table->selectionModel()->select(table->model()->index(row, 0),
                                        QItemSelectionModel::ClearAndSelect |
                                            QItemSelectionModel::Rows);
    }
    static void press(KOTransferController& window, Qt::Key key) {
        QTest::keyClick(window.instrumentWindow(), key, Qt::ControlModifier | Qt::AltModifier);
    }

    koru::test::QuietDelegate delegate;
};

TEST_F(TransferWindow, ANewWindowHoldsOneBlueLiveMeasurementAndItsPlotRange) {
    auto window = make();
    show(*window);
    ASSERT_EQ(window->instrumentCount(), 1);
    const auto measurement = live(*window, 0);
    ASSERT_NE(measurement, nullptr);
    EXPECT_TRUE(measurement->title().startsWith("Transfer "));
    EXPECT_EQ(measurement->color1(), KOColorAdditions::noBlueColor());
    EXPECT_EQ(measurement->FFTSize(), 32768u);
    EXPECT_EQ(measurement->sourceDelay(), 0);
    EXPECT_EQ(window->instrumentWindow()->windowTitle(), "Transfer Measurement");
    EXPECT_EQ(window->transferView()->getLowerMagBound(), -23.0f);
    EXPECT_EQ(window->transferView()->getUpperMagBound(), 20.0f);
    EXPECT_EQ(window->linkableViewParameters(), QStringList({"Frequency", "Gain"}));
    EXPECT_EQ(window->splitView()->sizes().front(), KOTransferController::kDividerPosition);
    window->setControlPanelVisible(false);
    EXPECT_FALSE(window->controlPanelVisible());
    window->setControlPanelVisible(true);
    EXPECT_TRUE(window->controlPanelVisible());
}

// The live measurement of the pumped input: one channel against itself is 0 dB with coherence 1
// at the sine; the window's collection fills the model and rebuilds the plot.
TEST_F(TransferWindow, TheSameChannelOnBothSidesReadsZeroDecibelsWithFullCoherence) {
    auto window = make();
    show(*window);
    const auto measurement = live(*window, 0);
    measurement->setSourceChannel(0);
    measurement->setResponseChannel(0);
    measurement->setDrawCoh(true);
    measurement->setDrawPhi(true);
    SineInput::shared().pump(48);
    ASSERT_GE(measurement->analyzer()->Steps(), 2u);
    const std::uint32_t bin = 2 * SineInput::kBin; // 999 Hz at 32768 points
    const QStringList lines = csvOf(measurement).split('\n');
    ASSERT_GT(lines.size(), qsizetype(bin + 1));
    EXPECT_EQ(lines[0], "f [Hz],Mag [dB],Phi [rad],Coh");
    const QStringList row = lines[bin + 1].split(',');
    ASSERT_EQ(row.size(), 4);
    EXPECT_NEAR(row[0].toDouble(), 999.02, 0.01);
    EXPECT_EQ(row[1], "0.00");
    EXPECT_EQ(row[3], "1.00");
    EXPECT_GE(window->redrawRequests(), 2u) << "the plot was never asked to show the results";
}

// The add menu's keys and the table driven like a user: a difference needs two rows, snapshots
// are made of live measurements only, pushes land in one accumulator, the pause button pauses.
TEST_F(TransferWindow, AddMenuKeysAndTableSelectionCreateMeasurements) {
    auto window = make();
    show(*window);
    clickRow(*window, 0);

    press(*window, Qt::Key_D);
    EXPECT_EQ(window->instrumentCount(), 1);
    EXPECT_EQ(KOInfoPanel::sharedInfoPanel().firstLine()->text(), "Select 2 Measurements");
    EXPECT_EQ(KOInfoPanel::sharedInfoPanel().secondLine()->text(), "to create difference!");

    press(*window, Qt::Key_S);
    ASSERT_EQ(window->instrumentCount(), 2);
    const auto snapshot = std::dynamic_pointer_cast<KOTransferSnapshot>(window->instrumentAt(1));
    ASSERT_NE(snapshot, nullptr);
    EXPECT_TRUE(snapshot->title().startsWith(
        QStringLiteral("Snapshot %1 -").arg(window->instrumentAt(0)->title())));

    // A snapshot selected: no snapshot of a snapshot.
    clickRow(*window, 1);
    press(*window, Qt::Key_S);
    EXPECT_EQ(window->instrumentCount(), 2);

    // Rows 0 and 1: their difference, announced in the information panel.
    clickRow(*window, 0, Qt::ControlModifier);
    ASSERT_EQ(window->selectedTransferModels().size(), 2u);
    press(*window, Qt::Key_D);
    ASSERT_EQ(window->instrumentCount(), 3);
    EXPECT_NE(std::dynamic_pointer_cast<KOTransferDifference>(window->instrumentAt(2)), nullptr);
    EXPECT_EQ(KOInfoPanel::sharedInfoPanel().firstLine()->text(),
              QStringLiteral("Difference: %1").arg(window->instrumentAt(0)->title()));

    // Pushing two rows fills one accumulator; an average of them is a separate model.
    clickRow(*window, 0);
    clickRow(*window, 1, Qt::ControlModifier);
    press(*window, Qt::Key_A);
    ASSERT_EQ(window->instrumentCount(), 4);
    const auto accu = window->accu();
    ASSERT_NE(accu, nullptr);
    EXPECT_EQ(accu->count(), 2u);
    clickRow(*window, 0);
    clickRow(*window, 1, Qt::ControlModifier);
    press(*window, Qt::Key_V);
    ASSERT_EQ(window->instrumentCount(), 5);
    const auto average = std::dynamic_pointer_cast<KOTransferAverage>(window->instrumentAt(4));
    ASSERT_NE(average, nullptr);
    EXPECT_EQ(average->count(), 2u);
    clickRow(*window, 0);
    press(*window, Qt::Key_A);
    EXPECT_EQ(window->instrumentCount(), 5);
    EXPECT_EQ(window->accu(), accu) << "the average took a push";
    EXPECT_EQ(accu->count(), 3u);
    EXPECT_EQ(average->count(), 2u);

    // The pause button pauses the selected live measurement.
    const auto measurement = live(*window, 0);
    QTest::mouseClick(window->pauseButton(), Qt::LeftButton);
    EXPECT_TRUE(measurement->isPaused());
    EXPECT_EQ(window->pauseButton()->text(), "Resume");
    QTest::mouseClick(window->pauseButton(), Qt::LeftButton);
    EXPECT_FALSE(measurement->isPaused());

    press(*window, Qt::Key_R);
    ASSERT_EQ(window->instrumentCount(), 6);
    EXPECT_NE(live(*window, 5), nullptr);
}

// A typed delay (a unit symbol picks the unit) is applied to the selected live measurement;
// "Set Ref" makes the current delay the reference, so the shown delay reads 0.
TEST_F(TransferWindow, TheDelayFieldAndTheReferenceButtonSetTheSelectedMeasurement) {
    auto window = make();
    show(*window);
    const auto measurement = live(*window, 0);
    QLineEdit* field = window->delayField();
    field->clear();
    QTest::keyClicks(field, "480 smp");
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(measurement->sourceDelay(), 480);
    EXPECT_EQ(measurement->analyzer()->Delay(), 480);
    EXPECT_EQ(field->text(), measurement->sourceDelayString());

    QTest::mouseClick(window->referenceButton(), Qt::LeftButton);
    EXPECT_EQ(measurement->sourceDelay(), 0);
    EXPECT_EQ(measurement->delayOffset(), 480);
    field->clear();
    QTest::keyClicks(field, "20 smp");
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(measurement->analyzer()->Delay(), 500) << "the offset and the shown delay add up";

    // A snapshot selected: nothing to set.
    window->createSnapshot();
    selectOnly(*window, 1);
    EXPECT_FALSE(field->isEnabled());
}

// The add pop-up of the toolbar and the window menu: the items' enable rules and titles follow
// the selection; each measurement's submenu acts on that measurement.
TEST_F(TransferWindow, TheMenusFollowTheSelectionAndActOnTheirMeasurement) {
    auto window = make();
    QToolBar* toolbar = window->instrumentWindow()->findChild<QToolBar*>();
    ASSERT_NE(toolbar, nullptr);
    QAction* add = nullptr;
    for (QAction* item : toolbar->actions())
        if (item->objectName() == KOTransferController::kAddItemIdentifier)
            add = item;
    ASSERT_NE(add, nullptr);
    ASSERT_EQ(add->menu(), window->addMenu());
    QMenu& menu = *window->addMenu();
    const auto item = [&menu](qint64 tag) { return KOMenuAdditions::itemWithTag(menu, tag); };
    emit menu.aboutToShow();
    const QString title = window->instrumentAt(0)->title();
    EXPECT_EQ(item(KOTransferController::kSnapshotTag)->text(),
              QStringLiteral("Snapshot of %1").arg(title));
    EXPECT_TRUE(item(KOTransferController::kSnapshotTag)->isEnabled());
    EXPECT_FALSE(item(KOTransferController::kDifferenceTag)->isEnabled());
    EXPECT_FALSE(item(KOTransferController::kAverageTag)->isEnabled());
    EXPECT_EQ(item(KOTransferController::kAddRealtimeTag)->shortcut(),
              QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_R));

    window->createSnapshot();
    selectOnly(*window, 1);
    emit menu.aboutToShow();
    EXPECT_FALSE(item(KOTransferController::kSnapshotTag)->isEnabled());

    // The window menu: Analyzers > <measurement> > Source Channel > channel 1.
    QMenu* windowMenu = window->instrumentMenu();
    ASSERT_NE(windowMenu, nullptr);
    emit windowMenu->aboutToShow();
    QAction* analyzers =
        KOMenuAdditions::itemWithTag(*windowMenu, KOTransferController::kAnalyzersTag);
    ASSERT_NE(analyzers, nullptr);
    ASSERT_EQ(analyzers->menu()->actions().size(), 2);
    QMenu* first = analyzers->menu()->actions().front()->menu();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->title(), title);
    QAction* source = KOMenuAdditions::itemWithTag(*first, KOTransferController::kSourceChannelTag);
    ASSERT_NE(source, nullptr);
    QAction* channel1 = KOMenuAdditions::itemWithTag(*source->menu(), 1);
    ASSERT_NE(channel1, nullptr);
    channel1->trigger();
    EXPECT_EQ(live(*window, 0)->sourceChannel(), 1);
    // The snapshot's submenu has no channels; its phase item shows the phase.
    QMenu* second = analyzers->menu()->actions().back()->menu();
    EXPECT_EQ(KOMenuAdditions::itemWithTag(*second, KOTransferController::kSourceChannelTag),
              nullptr);
    QAction* phase = KOMenuAdditions::itemWithTag(*second, KOTransferController::kPhaseTag);
    ASSERT_NE(phase, nullptr);
    EXPECT_FALSE(phase->isChecked());
    phase->trigger();
    EXPECT_TRUE(std::dynamic_pointer_cast<KOTransferMeasurementWrapper>(window->instrumentAt(1))
                    ->drawPhi());
}

TEST_F(TransferWindow, AChannelChosenWithAModifierMovesTheOtherToTheNextChannel) {
    auto window = make();
    const auto measurement = live(*window, 0);
    measurement->setResponseChannel(0);
    struct Case {
        Qt::KeyboardModifiers held;
        qint64 response;
    };
    for (const Case& c : {Case{Qt::NoModifier, 0}, Case{Qt::ShiftModifier, 1},
                          Case{Qt::AltModifier, 1}, Case{Qt::ControlModifier, 1}}) {
        measurement->setResponseChannel(0);
        KeyboardModifierSource::setProvider([held = c.held] { return held; });
        window->setInChannelA(0);
        KeyboardModifierSource::setProvider({});
        EXPECT_EQ(measurement->sourceChannel(), 0);
        EXPECT_EQ(measurement->responseChannel(), c.response) << int(c.held);
    }
}

TEST_F(TransferWindow, WithEveryLiveMeasurementPausedThePlotStillRefreshes) {
    auto window = make();
    const auto measurement = live(*window, 0);
    measurement->setSourceChannel(0);
    measurement->setResponseChannel(0);
    // Running: every pass with a new result asks for a redraw, and no pass is idle.
    SineInput::shared().pump(48);
    EXPECT_EQ(window->idlePasses(), 0u);
    EXPECT_GE(window->redrawRequests(), 2u);

    // Paused: nothing new, yet every 10th pass refreshes the plot.
    measurement->setPaused(true);
    SineInput::shared().pump(1);
    const std::uint64_t idle = window->idlePasses();
    const std::uint64_t requests = window->redrawRequests();
    SineInput::shared().pump(30);
    const std::uint64_t passes = window->idlePasses() - idle;
    EXPECT_GE(passes, 20u) << "the collector ran too few passes to tell";
    const std::uint64_t expected = window->idlePasses() / 10 - idle / 10;
    EXPECT_EQ(window->redrawRequests() - requests, expected);
    EXPECT_GE(expected, 2u);
}

// Sessions: the registry restores the window from what it saved; fixed measurements export the
// same data, live ones measure alike from the same moment on, also under a German locale.
TEST_F(TransferWindow, ASessionRoundTripExportsTheSameData) {
    auto original = make();
    const auto measurement = live(*original, 0);
    measurement->setSourceChannel(0);
    measurement->setResponseChannel(1);
    measurement->setAveragingRate(95.0f);
    measurement->setDrawPhi(true);
    SineInput::shared().pump(40);
    selectOnly(*original, 0);
    original->createSnapshot();
    selectOnly(*original, 0);
    original->pushToAccu();
    ASSERT_EQ(original->instrumentCount(), 3);

    for (const char* locale : {"C", "de_DE.UTF-8"}) {
        koru::test::ScopedLocale scoped(locale);
        if (!scoped.active())
            GTEST_SKIP() << locale << " is not installed";
        auto restored = restore(original->dictionaryRepresentation());
        ASSERT_NE(restored, nullptr);
        ASSERT_EQ(restored->instrumentCount(), 3);
        const auto again = live(*restored, 0);
        ASSERT_NE(again, nullptr);
        EXPECT_EQ(again->sourceChannel(), 0);
        EXPECT_EQ(again->responseChannel(), 1);
        EXPECT_FLOAT_EQ(again->averagingRate(), 95.0f);
        for (int row = 1; row < 3; ++row) {
            EXPECT_EQ(restored->instrumentAt(row)->title(), original->instrumentAt(row)->title());
            const QString exported = csvOf(original->instrumentAt(row));
            EXPECT_GT(exported.count('\n'), 16000) << row;
            EXPECT_EQ(csvOf(restored->instrumentAt(row)), exported) << row;
        }
        // Both live measurements restart together and hear the same buffers.
        measurement->setSourceDelay(0);
        again->setSourceDelay(0);
        SineInput::shared().pump(40);
        ASSERT_GE(again->analyzer()->Steps(), 2u);
        EXPECT_EQ(csvOf(restored->instrumentAt(0)), csvOf(original->instrumentAt(0)));
    }
}

} // namespace
