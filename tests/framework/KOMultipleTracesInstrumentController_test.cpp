#include "InstrumentTestSupport.h"

#include "framework/InstrumentModelArray.h"
#include "framework/InstrumentsTableModel.h"
#include "platform/exceptions/InternalInconsistencyException.h"
#include "platform/plist/PropertyList.h"
#include "support/TestSupport.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QMimeData>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using koru::framework::InstrumentModelArray;
using koru::platform::InternalInconsistencyException;
using koru::platform::PlistFormat;
using koru::platform::PropertyList;
using koru::test::FakeInstrumentDevice;
using koru::test::TestModel;
using koru::test::TestTracesController;

namespace {

class TracesTest : public ::testing::Test {
protected:
    void SetUp() override { TestModel::registerClass(); }

    static std::unique_ptr<TestTracesController> make(const QVariantMap* dictionary = nullptr) {
        return KOInstrumentController::create<TestTracesController>("traces", dictionary);
    }
    static std::shared_ptr<TestModel> model(const QString& title) {
        return KOInstrumentWrapper::create<TestModel>(title);
    }
    static void fill(KOMultipleTracesInstrumentController& c, const QStringList& titles) {
        for (const QString& title : titles)
            c.addInstrument(model(title));
    }
    static QStringList titles(const KOMultipleTracesInstrumentController& c) {
        QStringList result;
        for (const auto& m : c.instruments())
            result.append(m->title());
        return result;
    }
    static void select(KOMultipleTracesInstrumentController& c, std::initializer_list<int> rows) {
        auto* selection = c.instrumentsTableView()->selectionModel();
        selection->clearSelection();
        for (int row : rows)
            selection->select(c.instrumentsArrayController()->index(row, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }

    FakeInstrumentDevice device{{"In 1"}};
};

TEST_F(TracesTest, UniqueNamesFillTheFirstGapThenFallBackToThePrefix) {
    auto c = make();
    EXPECT_EQ(c->findUniqueNameWithPrefix("Analyzer"), "Analyzer 1");
    fill(*c, {"Analyzer 1", "Analyzer 3", "analyzer 2"});
    EXPECT_EQ(c->findUniqueNameWithPrefix("Analyzer"), "Analyzer 2");
    for (int n = 1; n <= 99; ++n)
        c->addInstrument(model(QStringLiteral("Transfer %1").arg(n)));
    EXPECT_EQ(c->findUniqueNameWithPrefix("Transfer"), "Transfer");
}

struct MoveCase {
    int from;
    int dropRow;
    QStringList order;
};

class TableReorder : public TracesTest, public ::testing::WithParamInterface<MoveCase> {};

TEST_P(TableReorder, DraggedRowLandsBeforeTheDropRow) {
    auto c = make();
    fill(*c, {"A", "B", "C", "D"});
    auto* table = c->instrumentsArrayController();
    std::unique_ptr<QMimeData> data(
        table->mimeData({table->index(GetParam().from, 2), table->index(GetParam().from, 0)}));
    ASSERT_TRUE(table->canDropMimeData(data.get(), Qt::MoveAction, GetParam().dropRow, 0, {}));
    EXPECT_EQ(c->validateDrop(data.get()), Qt::MoveAction);
    table->dropMimeData(data.get(), Qt::MoveAction, GetParam().dropRow, 0, {});
    EXPECT_EQ(titles(*c), GetParam().order);
    EXPECT_EQ(table->rowCount(), 4);
}

INSTANTIATE_TEST_SUITE_P(
    Moves, TableReorder,
    ::testing::Values(MoveCase{3, 1, {"A", "D", "B", "C"}}, MoveCase{0, 3, {"B", "C", "A", "D"}},
                      MoveCase{2, 0, {"C", "A", "B", "D"}}, MoveCase{0, 4, {"B", "C", "D", "A"}},
                      MoveCase{1, 1, {"A", "B", "C", "D"}}, MoveCase{1, 2, {"A", "B", "C", "D"}}));

TEST_F(TracesTest, OnlyTheFirstDraggedRowTravelsAndAForeignDropInsertsACopy) {
    auto source = make();
    auto target = make();
    fill(*source, {"A", "B", "C"});
    fill(*target, {"X", "Y"});
    source->instruments()[2]->setNotes("loud");

    const auto data = source->writeRowsWithIndexes({2, 0});
    EXPECT_EQ(target->validateDrop(data.get()), Qt::CopyAction);
    EXPECT_TRUE(target->acceptDrop(data.get(), 1));

    EXPECT_EQ(titles(*target), (QStringList{"X", "C", "Y"}));
    EXPECT_EQ(titles(*source), (QStringList{"A", "B", "C"}));
    const auto copy = target->instruments()[1];
    EXPECT_NE(copy, source->instruments()[2]);
    EXPECT_EQ(copy->identifier(), source->instruments()[2]->identifier());
    EXPECT_EQ(copy->notes(), "loud");

    QMimeData empty;
    EXPECT_TRUE(target->acceptDrop(&empty, 0));
    EXPECT_EQ(target->instrumentCount(), 3);
}

TEST_F(TracesTest, CopyAndPasteAppendCopiesInListOrderWithFreshIdentifiers) {
    auto c = make();
    fill(*c, {"A", "B", "C", "D"});
    select(*c, {3, 0, 2});
    EXPECT_EQ(c->selectedInstrument()->title(), "A");
    c->copy();
    c->paste();
    EXPECT_EQ(titles(*c), (QStringList{"A", "B", "C", "D", "A", "C", "D"}));
    QSet<QString> identifiers;
    for (const auto& m : c->instruments())
        identifiers.insert(m->identifier());
    EXPECT_EQ(identifiers.size(), 7);

    // Pasted into another window the copies keep their identifiers.
    auto other = make();
    other->paste();
    ASSERT_EQ(other->instrumentCount(), 3);
    EXPECT_EQ(other->instruments()[0]->identifier(), c->instruments()[0]->identifier());

    QGuiApplication::clipboard()->setText("not models");
    other->paste();
    EXPECT_EQ(other->instrumentCount(), 3);
}

TEST_F(TracesTest, SavedListRoundTripsThroughAPropertyListFile) {
    koru::test::ScopedLocale locale("de_DE.UTF-8");
    if (!locale.active())
        GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    auto c = make();
    fill(*c, {"Analyzer 1", "Analyzer 2"});
    std::static_pointer_cast<TestModel>(c->instruments()[1])->gain = 0.25;
    c->instrumentWindow()->setGeometry(60, 70, 400, 300);
    const QVariantMap saved = c->dictionaryRepresentation();
    ASSERT_TRUE(saved.value("instrumentData").canConvert<QByteArray>());

    const QString path = koru::test::testRoot() + "/traces.plist";
    ASSERT_TRUE(PropertyList::write(path, saved, PlistFormat::Xml));
    const QVariantMap read = PropertyList::read(path).value.toMap();
    auto restored = make(&read);

    EXPECT_EQ(restored->dictionaryRepresentation(), saved);
    ASSERT_EQ(titles(*restored), titles(*c));
    EXPECT_EQ(restored->instruments()[1]->identifier(), c->instruments()[1]->identifier());
    EXPECT_EQ(std::static_pointer_cast<TestModel>(restored->instruments()[1])->gain, 0.25);
}

TEST_F(TracesTest, UnreadableEntriesAreSkippedAndTheRestLoads) {
    const QVariantMap good{{"$class", "TestModel"}, {"title", "Kept"}, {"identifier", "ID-1"}};
    const QVariantMap unknown{{"$class", "NoSuchModel"}, {"title", "Lost"}, {"identifier", "ID-2"}};
    const QVariantMap noIdentifier{{"$class", "TestModel"}, {"title", "No id"}};
    const QVariantMap root{{"$class", "InstrumentModelArray"},
                           {"objects", QVariantList{unknown, good, noIdentifier, 5}}};
    const QVariantMap dictionary{
        {"instrumentData", PropertyList::serialize(root, PlistFormat::Binary)}};
    auto c = make(&dictionary);
    EXPECT_EQ(titles(*c), QStringList{"Kept"});

    for (const QVariantMap& bad : {QVariantMap{}, QVariantMap{{"instrumentData", "text"}},
                                   QVariantMap{{"instrumentData", QByteArray("garbage")}}}) {
        EXPECT_EQ(make(&bad)->instrumentCount(), 0);
    }
}

TEST_F(TracesTest, TableShowsTitleIconAndShowFlag) {
    auto c = make();
    fill(*c, {"A"});
    auto* table = c->instrumentsArrayController();
    const QModelIndex show = table->index(0, koru::framework::InstrumentsTableModel::ShowColumn);
    const QModelIndex title = table->index(0, koru::framework::InstrumentsTableModel::TitleColumn);
    EXPECT_EQ(table->data(title, Qt::DisplayRole).toString(), "A");
    EXPECT_EQ(table->data(show, Qt::CheckStateRole).toInt(), Qt::Checked);
    ASSERT_TRUE(table->setData(show, Qt::Unchecked, Qt::CheckStateRole));
    EXPECT_FALSE(c->instruments()[0]->property("show").toBool());
    ASSERT_TRUE(table->setData(title, "Renamed", Qt::EditRole));
    EXPECT_EQ(c->instruments()[0]->title(), "Renamed");
    EXPECT_EQ(table->headerData(2, Qt::Horizontal, Qt::UserRole).toString(), "title");
}

TEST_F(TracesTest, ListEditsWaitForARunningCollection) {
    auto c = make();
    std::atomic<bool> locked{false};
    std::atomic<bool> adding{false};
    std::atomic<bool> sawEditWhileLocked{false};
    std::thread collector([&] {
        const std::lock_guard lock(c->dataCollectionLock());
        locked = true;
        while (!adding)
            std::this_thread::yield();
        // An edit that did not wait for the lock would land in the meantime.
        for (int i = 0; i < 20000 && !sawEditWhileLocked; ++i) {
            sawEditWhileLocked = c->instrumentCount() != 0;
            std::this_thread::yield();
        }
    });
    while (!locked)
        std::this_thread::yield();
    adding = true;
    c->addInstrument(model("A"));
    collector.join();
    EXPECT_FALSE(sawEditWhileLocked.load());
    EXPECT_EQ(c->instrumentCount(), 1);
}

class TracesWithoutTable : public KOMultipleTracesInstrumentController {
    Q_OBJECT
};

TEST_F(TracesTest, WindowWithoutTableIsRefused) {
    EXPECT_THROW(KOInstrumentController::create<TracesWithoutTable>("bad", nullptr),
                 InternalInconsistencyException);
}

} // namespace

#include "KOMultipleTracesInstrumentController_test.moc"
