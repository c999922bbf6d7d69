#include "app/ScriptedUiPrompter.h"
#include "app/SplLikeSource.h"
#include "support/TestSupport.h"

#include "app/ui/KOExporterPanelViewController.h"

#include <QComboBox>
#include <QCompleter>
#include <QCoreApplication>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <future>
#include <memory>

using koru::DateValueFormatter;
using koru::ExporterPanelModel;
using koru::test::FakeExportSource;
using koru::test::spinUntil;
using koru::test::splLikeSource;

namespace {

QStringList texts(const QListWidget* list) {
    QStringList all;
    for (int row = 0; row < list->count(); ++row)
        all.push_back(list->item(row)->text());
    return all;
}

QStringList comboTexts(const QComboBox* combo) {
    QStringList all;
    for (int i = 0; i < combo->count(); ++i)
        all.push_back(combo->itemText(i));
    return all;
}

QPushButton* buttonNamed(QWidget* dialog, const QString& part) {
    for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
        if (button->text().contains(part))
            return button;
    }
    return nullptr;
}

void removeColumns(KOExporterPanelViewController& dialog, const QStringList& keys) {
    dialog.chosenList()->clearSelection();
    for (const QString& key : keys)
        dialog.chosenList()->findItems(key, Qt::MatchExactly).constFirst()->setSelected(true);
    QTest::mouseClick(buttonNamed(&dialog, "Remove"), Qt::LeftButton);
}

// What a drag from another list ends with, as the list's viewport receives it.
void dropOn(QListWidget* list, const QMimeData* data, const QPoint& at) {
    const Qt::DropActions actions = Qt::MoveAction | Qt::CopyAction;
    QDragEnterEvent enter(at, actions, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(list->viewport(), &enter);
    QDragMoveEvent move(at, actions, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(list->viewport(), &move);
    QDropEvent drop(QPointF(at), actions, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(list->viewport(), &drop);
}

QString firstLine(const QPlainTextEdit* preview) {
    return preview->toPlainText().section(u'\n', 0, 0);
}

class ExporterDialog : public ::testing::Test {
protected:
    void SetUp() override {
        source = splLikeSource();
        dialog = std::make_unique<KOExporterPanelViewController>(source);
        dialog->show();
    }

    std::shared_ptr<FakeExportSource> source;
    std::unique_ptr<KOExporterPanelViewController> dialog;
};

TEST_F(ExporterDialog, ShowsTheSourceTheSeparatorsTheRangesAndThePreview) {
    EXPECT_EQ(texts(dialog->chosenList()), (QStringList{"Time", "SPL", "AVG", "LEQ"}));
    EXPECT_EQ(dialog->availableList()->count(), 0);
    EXPECT_EQ(comboTexts(dialog->separatorPopUp()), (QStringList{",", ";", "Tab"}));
    EXPECT_EQ(comboTexts(dialog->decimalSeparatorPopUp()), (QStringList{".", ","}));
    EXPECT_EQ(comboTexts(dialog->rangePopUp()),
              (QStringList{"1sec", "10sec", "30sec", "1min", "10min"}));
    EXPECT_EQ(dialog->rangePopUp()->itemData(4).toUInt(), 600u);
    EXPECT_TRUE(dialog->rangePopUp()->isVisible());
    EXPECT_TRUE(dialog->previewArea()->isReadOnly());
    EXPECT_EQ(dialog->previewArea()->toPlainText(), dialog->model().previewString());
    EXPECT_EQ(dialog->previewArea()->toPlainText().count(u'\n'), 9) << "title and eight rows";
    EXPECT_FALSE(dialog->progressBar()->isVisible());
}

TEST(ExporterDialogWithoutRanges, HidesTheRangeControl) {
    auto source = std::make_shared<FakeExportSource>();
    source->columns = {"f", "Mag"};
    KOExporterPanelViewController dialog(source);
    dialog.show();
    EXPECT_FALSE(dialog.rangePopUp()->isVisible());
    EXPECT_EQ(dialog.model().exportRange(), 0xFFFFFFFFu);
}

TEST_F(ExporterDialog, PopUpsFollowTheClashRuleAndUpdateThePreview) {
    dialog->decimalSeparatorPopUp()->setCurrentText(",");
    EXPECT_EQ(dialog->separatorPopUp()->currentText(), ";");
    EXPECT_EQ(firstLine(dialog->previewArea()), "Time;SPL [dB(A)];AVG [dB(A)];LEQ [dB(A)]");
    EXPECT_TRUE(dialog->previewArea()->toPlainText().contains("80,0"));

    dialog->separatorPopUp()->setCurrentText(",");
    EXPECT_EQ(dialog->decimalSeparatorPopUp()->currentText(), ".");
    dialog->separatorPopUp()->setCurrentText("Tab");
    EXPECT_EQ(firstLine(dialog->previewArea()), "Time\tSPL [dB(A)]\tAVG [dB(A)]\tLEQ [dB(A)]");
}

TEST_F(ExporterDialog, ChoosingARangeUpdatesThePreview) {
    const QString before = dialog->previewArea()->toPlainText();
    dialog->rangePopUp()->setCurrentIndex(1);
    EXPECT_EQ(source->range, 10u);
    EXPECT_NE(dialog->previewArea()->toPlainText(), before);
    EXPECT_EQ(dialog->previewArea()->toPlainText().count(u'\n'), 3) << "rows 0 and 10 of 20";
}

// Whatever moves the rows of the chosen list (the buttons, a drag within it, a drop from the
// other list), the exported columns follow it.
TEST_F(ExporterDialog, TheExportedColumnsFollowTheChosenList) {
    removeColumns(*dialog, {"Time"});
    EXPECT_EQ(dialog->model().keyObjects(), (QStringList{"SPL", "AVG", "LEQ"}));
    EXPECT_EQ(texts(dialog->availableList()), QStringList{"Time"});
    EXPECT_EQ(firstLine(dialog->previewArea()), "SPL [dB(A)],AVG [dB(A)],LEQ [dB(A)]");

    // A drag within the list moves the row.
    ASSERT_TRUE(dialog->chosenList()->model()->moveRow(QModelIndex(), 2, QModelIndex(), 0));
    EXPECT_EQ(dialog->model().keyObjects(), (QStringList{"LEQ", "SPL", "AVG"}));

    // A drop from the available list, even right onto a column, inserts the dragged column
    // there and replaces nothing.
    QAbstractItemModel* available = dialog->availableList()->model();
    std::unique_ptr<QMimeData> dragged(available->mimeData({available->index(0, 0)}));
    QListWidget* chosen = dialog->chosenList();
    for (const QPoint& at : {chosen->visualItemRect(chosen->item(1)).topLeft() + QPoint(4, 1),
                             chosen->visualItemRect(chosen->item(1)).center()}) {
        dropOn(chosen, dragged.get(), at);
        EXPECT_EQ(dialog->model().keyObjects().size(), texts(chosen).size());
        EXPECT_EQ(dialog->model().keyObjects(), texts(chosen));
    }
    EXPECT_EQ(dialog->model().keyObjects().mid(0, 2), (QStringList{"LEQ", "Time"}));
    EXPECT_EQ(dialog->model().keyObjects().count("Time"), 2) << "both drops landed";
    EXPECT_TRUE(dialog->model().keyObjects().contains("SPL"));
    EXPECT_TRUE(dialog->model().keyObjects().contains("AVG"));
}

TEST_F(ExporterDialog, TypingAPrefixOffersTheMatchingColumnsAndEnterAddsOne) {
    removeColumns(*dialog, {"Time", "AVG", "LEQ"});
    ASSERT_EQ(dialog->model().keyObjects(), QStringList{"SPL"});
    QTest::keyClicks(dialog->columnField(), "t");
    QAbstractItemModel* offered = dialog->columnCompleter()->model();
    ASSERT_EQ(offered->rowCount(), 1);
    EXPECT_EQ(offered->index(0, 0).data().toString(), "Time");

    dialog->columnField()->clear();
    QTest::keyClicks(dialog->columnField(), "s");
    EXPECT_EQ(offered->rowCount(), 0) << "a column already exported is not offered again";

    dialog->columnField()->clear();
    QTest::keyClicks(dialog->columnField(), "a");
    QTest::keyClick(dialog->columnField(), Qt::Key_Return);
    EXPECT_EQ(dialog->model().keyObjects(), (QStringList{"SPL", "AVG"}));
    EXPECT_EQ(texts(dialog->chosenList()), (QStringList{"SPL", "AVG"}));
    EXPECT_TRUE(dialog->columnField()->text().isEmpty());
}

TEST_F(ExporterDialog, TheTimeColumnHasAStyleMenuThatChangesThePreview) {
    EXPECT_EQ(dialog->menuForRepresentedObject("SPL"), nullptr);
    std::unique_ptr<QMenu> menu(dialog->menuForRepresentedObject("Time"));
    ASSERT_NE(menu, nullptr);
    const QList<QAction*> submenus = menu->actions();
    ASSERT_EQ(submenus.size(), 2);
    EXPECT_EQ(submenus[0]->text(), "Date Format");
    EXPECT_EQ(submenus[0]->data().toUInt(), ExporterPanelModel::kDateMenuTag);
    EXPECT_EQ(submenus[1]->text(), "Time Format");
    EXPECT_EQ(submenus[1]->data().toUInt(), ExporterPanelModel::kTimeMenuTag);
    const QList<QAction*> timeStyles = submenus[1]->menu()->actions();
    ASSERT_EQ(timeStyles.size(), 5);
    ASSERT_EQ(submenus[0]->menu()->actions().size(), 5);
    QList<int> tags;
    for (const QAction* style : timeStyles)
        tags.push_back(style->data().toInt());
    EXPECT_EQ(tags, (QList<int>{1, 2, 3, 4, 0}));
    EXPECT_TRUE(timeStyles[2]->isChecked()) << "the long time style is the source's";
    EXPECT_FALSE(timeStyles[1]->isChecked());

    const QString before = dialog->previewArea()->toPlainText();
    EXPECT_TRUE(before.contains("10:20:30 AM UTC") || before.contains("10:20:30\u202FAM UTC"))
        << before.toStdString();
    timeStyles[1]->trigger(); // medium
    const QString after = dialog->previewArea()->toPlainText();
    EXPECT_NE(after, before);
    EXPECT_FALSE(after.contains("UTC")) << after.toStdString();

    std::unique_ptr<QMenu> again(dialog->menuForRepresentedObject("Time"));
    EXPECT_TRUE(again->actions()[1]->menu()->actions()[1]->isChecked());
}

class ExporterDialogExport : public ExporterDialog {
protected:
    QString path(const QString& name) const { return m_dir.filePath(name); }

    koru::test::ScopedScriptedPrompter prompter;

private:
    QTemporaryDir m_dir;
};

TEST_F(ExporterDialogExport, CancellingTheSavePanelWritesNothingAndKeepsTheDialog) {
    QTest::mouseClick(dialog->exportButton(), Qt::LeftButton);
    EXPECT_EQ(prompter.prompter.savePanels.size(), 1u);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(dialog->exportButton()->isEnabled());
    EXPECT_FALSE(dialog->progressBar()->isVisible());
    EXPECT_TRUE(QDir(path("")).isEmpty());
}

TEST_F(ExporterDialogExport, ShowsProgressWhileWritingAndClosesWhenDone) {
    std::promise<void> reached;
    std::promise<void> release;
    source->onRow = [&, released = release.get_future().share()](std::uint64_t row) {
        if (row == 1) {
            reached.set_value();
            released.wait();
        }
    };
    prompter.prompter.panelAnswers.push_back(path("log.csv"));
    QTest::mouseClick(dialog->exportButton(), Qt::LeftButton);
    reached.get_future().wait();

    EXPECT_TRUE(dialog->progressBar()->isVisible());
    EXPECT_FALSE(dialog->exportButton()->isEnabled());
    EXPECT_FALSE(dialog->separatorPopUp()->isEnabled());
    dialog->reject(); // Escape while writing
    EXPECT_TRUE(dialog->isVisible()) << "the dialog stays until the file is written";

    release.set_value();
    ASSERT_TRUE(spinUntil([&] { return !dialog->isVisible(); }));
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    QFile file(path("log.csv"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_TRUE(bytes.startsWith("Time,SPL [dB(A)],AVG [dB(A)],LEQ [dB(A)]\n"));
    EXPECT_EQ(bytes.count('\n'), 21);
    EXPECT_TRUE(prompter.prompter.alerts.empty());
}

TEST_F(ExporterDialogExport, AFailureShowsAnAlertAndLeavesTheChoicesOpen) {
    prompter.prompter.panelAnswers.push_back(path("missing/log.csv"));
    QTest::mouseClick(dialog->exportButton(), Qt::LeftButton);
    ASSERT_TRUE(spinUntil([&] { return !prompter.prompter.alerts.empty(); }));
    ASSERT_TRUE(spinUntil([&] { return dialog->exportButton()->isEnabled(); }));
    EXPECT_EQ(prompter.prompter.alerts[0].messageText,
              "The file \u201Clog.csv\u201D could not be saved.");
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(dialog->progressBar()->isVisible());
}

} // namespace
