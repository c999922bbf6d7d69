#include "spl/KOCalibrationStore.h"
#include "spl/ui/KOCalibrationController.h"
#include "support/TestSupport.h"

#include <QItemSelectionModel>
#include <QTableView>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// The window lists the store, follows changes made elsewhere, and deletes the selected rows
// from the store itself (the file says so afterwards).
TEST(CalibrationWindow, ListsTheStoreAndDeletesTheSelection) {
    QTemporaryDir folder;
    KOCalibrationStore store(folder.path());
    store.addCalibration(94.5f, QStringLiteral("Interface"), QStringLiteral("uid-1"),
                         QStringLiteral("Mic A"));
    store.addCalibration(101.0f, QStringLiteral("Interface"), QStringLiteral("uid-1"),
                         QStringLiteral("Mic B"));
    KOCalibrationController window(store);
    KOCalibrationTableModel& model = *window.model();
    ASSERT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.data(model.index(0, KOCalibrationTableModel::Value)).toString(), "94.5 dB");
    EXPECT_EQ(model.data(model.index(1, KOCalibrationTableModel::Notes)).toString(), "Mic B");
    EXPECT_TRUE(model.data(model.index(0, KOCalibrationTableModel::Name))
                    .toString()
                    .startsWith("Interface - "));

    // A meter adds one: the table follows once the event loop runs.
    store.addCalibration(88.0f, QStringLiteral("Other"), QString(), QString());
    ASSERT_TRUE(koru::test::spinUntil([&] { return model.rowCount() == 3; }));

    window.deleteSelected(); // nothing selected
    EXPECT_EQ(store.countOfCalibrations(), 3);
    window.tableView()->selectionModel()->select(model.index(1, 0), QItemSelectionModel::Select |
                                                                        QItemSelectionModel::Rows);
    window.tableView()->selectionModel()->select(model.index(2, 0), QItemSelectionModel::Select |
                                                                        QItemSelectionModel::Rows);
    window.deleteSelected();
    EXPECT_EQ(model.rowCount(), 1);
    KOCalibrationStore reread(folder.path());
    ASSERT_EQ(reread.countOfCalibrations(), 1);
    EXPECT_EQ(reread.objectInCalibrationsAtIndex(0)->notes(), "Mic A");
}

} // namespace
