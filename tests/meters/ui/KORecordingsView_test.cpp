#include "meters/KORecordingsStore.h"
#include "meters/ui/KORecorderController.h"
#include "meters/ui/KORecordingsList.h"
#include "meters/ui/KORecordingsModel.h"
#include "meters/ui/KORecordingsView.h"
#include "meters/ui/KORecordingsWindowController.h"
#include "meters/ui/MeterInstruments.h"

#include "app/InstrumentRegistry.h"

#include "platform/defaults/UserDefaults.h"
#include "platform/plist/PropertyList.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QListView>
#include <QMimeData>
#include <QUrl>

using koru::platform::PlistFormat;
using koru::platform::PropertyList;

namespace {

class KORecordingsViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = koru::test::testRoot() + "/recordings-view/" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name();
        QDir(folder).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(folder));
        storePath = folder + "/recordings.plist";
    }
    QString makeFile(const QString& name) {
        const QString path = folder + "/" + name;
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("RIFF");
        return path;
    }
    QStringList storedPaths() {
        QStringList out;
        const auto read = PropertyList::read(storePath);
        for (const QVariant& e : read.value.toMap().value("recordings").toList())
            out << e.toMap().value("path").toString();
        return out;
    }
    static QMimeData* urls(const QList<QUrl>& list) {
        auto* data = new QMimeData;
        data->setUrls(list);
        return data;
    }
    QString folder;
    QString storePath;
};

// Rows index the whole list, missing files included, so a vanished file can never make a row
// show, reveal or delete its neighbour.
TEST_F(KORecordingsViewTest, RowsShowEveryEntryAndMarkMissingFiles) {
    const QString a = makeFile("first.wav"), b = makeFile("second.aiff");
    KORecordingsStore store(storePath);
    KORecordingsModel model(store);
    ASSERT_TRUE(model.addRecording(a));
    ASSERT_TRUE(model.addRecording(folder + "/gone.caf"));
    ASSERT_TRUE(model.addRecording(b));
    ASSERT_EQ(model.rowCount(), 3);
    struct Case {
        int row;
        const char* display;
        bool missing;
    };
    const Case cases[] = {
        {0, "first.wav", false}, {1, "gone.caf (missing)", true}, {2, "second.aiff", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.display);
        const QModelIndex index = model.index(c.row);
        EXPECT_EQ(index.data(Qt::DisplayRole).toString(), QString::fromUtf8(c.display));
        EXPECT_EQ(index.data(KORecordingsModel::MissingRole).toBool(), c.missing);
        EXPECT_EQ(bool(model.flags(index) & Qt::ItemIsDragEnabled), !c.missing);
        EXPECT_TRUE(index.data(Qt::ToolTipRole).toString().startsWith(store.pathAt(c.row)));
    }
    // The entry stays where it is once its file is back.
    QFile::copy(a, folder + "/gone.caf");
    model.refresh();
    EXPECT_EQ(model.index(1).data(Qt::DisplayRole).toString(), "gone.caf");
}

TEST_F(KORecordingsViewTest, DragCarriesTheFirstRowAndDropsListInOrder) {
    const QString a = makeFile("a.wav"), b = makeFile("b.wav"), c = makeFile("c.wav"),
                  d = makeFile("d.wav");
    KORecordingsStore store(storePath);
    KORecordingsModel model(store);
    ASSERT_TRUE(model.addRecording(a));
    ASSERT_TRUE(model.addRecording(b));
    std::unique_ptr<QMimeData> drag(model.mimeData({model.index(1), model.index(0)}));
    ASSERT_TRUE(drag);
    EXPECT_EQ(drag->urls(), QList<QUrl>{QUrl::fromLocalFile(a)}) << "only the first row";
    EXPECT_TRUE(model.supportedDropActions() & Qt::LinkAction);

    struct Case {
        const char* name;
        QList<QUrl> dropped;
        bool accepted;
        QStringList after;
    };
    const Case cases[] = {
        {"three files in order",
         {QUrl::fromLocalFile(d), QUrl::fromLocalFile(c), QUrl::fromLocalFile(a)},
         true,
         {a, b, d, c}},
        {"stops at the first that is no local file",
         {QUrl::fromLocalFile(folder + "/e.wav"), QUrl("https://example.org/f.wav"),
          QUrl::fromLocalFile(folder + "/g.wav")},
         false,
         {a, b, d, c, folder + "/e.wav"}},
        {"no files at all", {}, false, {a, b, d, c, folder + "/e.wav"}},
    };
    for (const Case& cs : cases) {
        SCOPED_TRACE(cs.name);
        std::unique_ptr<QMimeData> data(urls(cs.dropped));
        EXPECT_EQ(model.dropMimeData(data.get(), Qt::LinkAction, -1, 0, QModelIndex()),
                  cs.accepted);
        EXPECT_EQ(storedPaths(), cs.after);
        EXPECT_EQ(model.rowCount(), cs.after.size());
    }
    QMimeData text;
    text.setText("a.wav");
    EXPECT_FALSE(model.canDropMimeData(&text, Qt::LinkAction, -1, 0, QModelIndex()));
}

// Keys and double-click act on the selected entry only; without a selection nothing happens.
TEST_F(KORecordingsViewTest, DeleteAndRevealActOnTheSelection) {
    const QString a = makeFile("a.wav"), b = makeFile("b.wav");
    KORecordingsStore store(storePath);
    KORecordingsModel model(store);
    KORecordingsView view(model);
    QStringList revealed;
    view.setRevealer([&](const QString& path) {
        revealed << path;
        return true;
    });
    view.addRecording(a);
    view.addRecording(folder + "/gone.wav");
    view.addRecording(b);
    view.resize(300, 200);
    view.show();

    auto press = [&](int key) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(&view.list(), &event);
    };
    view.list().clearSelection();
    press(Qt::Key_Delete);
    press(Qt::Key_Return);
    EXPECT_EQ(model.rowCount(), 3) << "no selection: nothing deleted";
    EXPECT_TRUE(revealed.isEmpty());

    view.selectRow(2);
    press(Qt::Key_Return);
    EXPECT_EQ(revealed, QStringList{b});
    view.selectRow(1);
    view.revealSelected();
    EXPECT_EQ(revealed.size(), 1) << "a missing file is not revealed";
    EXPECT_TRUE(view.errorText().contains("gone.wav"));

    press(Qt::Key_Delete);
    EXPECT_EQ(storedPaths(), (QStringList{a, b})) << "the missing entry went, its neighbours stay";
    view.selectRow(0);
    press(Qt::Key_Backspace);
    EXPECT_EQ(storedPaths(), QStringList{b});
    EXPECT_TRUE(QFile::exists(a)) << "deleting lists out, never removes the file";

    view.setRevealer([](const QString&) { return false; });
    view.selectRow(0);
    view.revealSelected();
    EXPECT_TRUE(view.errorText().contains("could not be shown"));
}

// Painted offscreen: a present file's name in the text colour, a missing one greyed; the store's
// read error is shown under the list.
TEST_F(KORecordingsViewTest, RendersPresentAndMissingRowsAndStoreErrors) {
    QFile broken(storePath);
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("<?xml version=\"1.0\"?><plist><dict><key>recordings</key><array>");
    broken.close();
    KORecordingsStore store(storePath);
    KORecordingsModel model(store);
    KORecordingsView view(model);
    EXPECT_TRUE(view.errorText().contains("could not be read"));
    view.addRecording(makeFile("present.wav"));
    view.addRecording(folder + "/missing.wav");
    EXPECT_TRUE(view.errorText().isEmpty()) << "a good write clears the message";
    view.resize(300, 200);
    view.show();
    QPalette palette = view.palette();
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::Text, Qt::black);
    view.list().setPalette(palette);
    const QImage image = view.grab().toImage();
    auto darkest = [&](int row) {
        const QRect rect = view.list()
                               .visualRect(model.index(row))
                               .translated(view.list().viewport()->mapTo(&view, QPoint()));
        int best = 255;
        for (int y = rect.top(); y <= rect.bottom(); ++y)
            for (int x = rect.left(); x <= rect.right(); ++x)
                best = std::min(best, qGray(image.pixel(x, y)));
        return best;
    };
    const int present = darkest(0), missing = darkest(1);
    EXPECT_LT(present, 80) << "the name is drawn";
    EXPECT_LT(missing, 250) << "the missing row is drawn too";
    EXPECT_GT(missing, present + 40) << "and greyed";
}

// One model behind every view: the window's list and an embedded one show the same additions;
// the user default decides whether an addition brings the window up.
TEST_F(KORecordingsViewTest, ControllerSharesItsModelAndOpensTheWindowWhenAsked) {
    QFile::remove(folder + "/defaults.plist");
    koru::platform::UserDefaults defaults(folder + "/defaults.plist");
    KORecordingsWindowController controller(storePath, defaults);
    KORecordingsView embedded(controller.model());
    EXPECT_TRUE(controller.addRecording(makeFile("a.wav")));
    EXPECT_FALSE(controller.window()->isVisible());
    EXPECT_EQ(embedded.model().rowCount(), 1);
    EXPECT_EQ(controller.view()->list().model()->rowCount(), 1);
    defaults.setBool(KORecordingsWindowController::kOpenWindowKey, true);
    EXPECT_TRUE(controller.addRecording(makeFile("b.wav")));
    EXPECT_TRUE(controller.window()->isVisible());
    EXPECT_EQ(controller.window()->windowTitle(), "Recordings");
    EXPECT_EQ(embedded.list().model()->rowCount(), 2);
    EXPECT_EQ(storedPaths().size(), 2);
}

// The recorder windows of the running program hand their finished files to the one shared list.
TEST_F(KORecordingsViewTest, TheProgramsRecordersListTheirFilesInTheSharedList) {
    koru::InstrumentRegistry registry;
    koru::registerMeterInstruments(registry);
    ASSERT_NE(KORecorderController::recordingsList(), nullptr);
    auto& shared = KORecordingsWindowController::sharedController();
    const int before = shared.model().rowCount();
    KORecorderController::recordingsList()->addRecording(makeFile("take.wav"));
    EXPECT_EQ(shared.model().rowCount(), before + 1);
    KORecorderController::setRecordingsList(nullptr);
    // The Window menu's command opens the list.
    const auto& commands = registry.windowCommands();
    const auto show = std::find_if(commands.begin(), commands.end(),
                                   [](const auto& c) { return c.title == "Recordings"; });
    ASSERT_NE(show, commands.end());
    show->show();
    EXPECT_TRUE(shared.window()->isVisible());
}

} // namespace
