#include "framework/ZOSuppressableAlert.h"
#include "platform/defaults/UserDefaults.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPointer>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

using koru::platform::UserDefaults;

// Answers the next application-modal alert as soon as its loop runs: ticks the box or not,
// then presses OK.
void answerNextModalAlert(bool tick, int* shown) {
    QTimer::singleShot(0, [tick, shown] {
        auto* alert = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(alert, nullptr);
        ++*shown;
        if (alert->checkBox() != nullptr)
            alert->checkBox()->setChecked(tick);
        alert->button(QMessageBox::Ok)->click();
    });
}

class SuppressableAlertTest : public testing::Test {
protected:
    ~SuppressableAlertTest() override {
        for (const char* key : {"SPLMETER_Legal", "Y", "Z"})
            UserDefaults::standardUserDefaults().removeObjectForKey(key);
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    int shown = 0;
};

TEST_F(SuppressableAlertTest, ModalFormTickedOnceAnswersOneAtOnceAfterwards) {
    answerNextModalAlert(false, &shown);
    ZOSuppressableAlert::goForAlertWithMessageText("Level", "unticked", "Y");
    EXPECT_EQ(shown, 1);
    EXPECT_FALSE(UserDefaults::standardUserDefaults().boolForKey("Y"));

    answerNextModalAlert(true, &shown);
    ZOSuppressableAlert::goForAlertWithMessageText("Level", "ticked", "Y");
    EXPECT_EQ(shown, 2);
    EXPECT_TRUE(UserDefaults::standardUserDefaults().boolForKey("Y"));

    ZOSuppressableAlert alert;
    alert.setSuppressionIdentifier("Y");
    EXPECT_EQ(alert.runModal(), ZOSuppressableAlert::kSuppressedReturn);
    EXPECT_EQ(shown, 2) << "nothing was shown";
}

TEST_F(SuppressableAlertTest, WithoutAnIdentifierThereIsNoBoxAndNothingIsWritten) {
    ZOSuppressableAlert alert;
    alert.setText("No kind");
    EXPECT_FALSE(alert.showsSuppressionButton());
    answerNextModalAlert(true, &shown);
    EXPECT_EQ(alert.runModal(), 1000);
    EXPECT_EQ(shown, 1);
    answerNextModalAlert(true, &shown);
    alert.runModal();
    EXPECT_EQ(shown, 2) << "an alert without an identifier is always shown";
}

TEST_F(SuppressableAlertTest, SheetFormTickedThenShowsNothingAndCallsNothing) {
    QWidget window;
    window.show();
    const QString informative = "Readings are 100% indicative, not %@ certified";
    QPointer<ZOSuppressableAlert> sheet = ZOSuppressableAlert::goForAlertWithMessageText(
        "Legal notice", informative, "SPLMETER_Legal", &window);
    ASSERT_FALSE(sheet.isNull());
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_EQ(sheet->informativeText(), informative) << "shown as typed, not as a format";
    bool labelShown = false;
    for (const QLabel* label : sheet->findChildren<QLabel*>())
        labelShown = labelShown || label->text() == informative;
    EXPECT_TRUE(labelShown);

    int ended = 0;
    QObject::connect(sheet, &ZOSuppressableAlert::sheetDidEnd, [&ended] { ++ended; });
    sheet->checkBox()->setChecked(true);
    sheet->button(QMessageBox::Ok)->click();
    EXPECT_EQ(ended, 1);
    EXPECT_TRUE(UserDefaults::standardUserDefaults().boolForKey("SPLMETER_Legal"));
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(sheet.isNull()) << "the class form's sheet goes away when it ends";

    EXPECT_EQ(ZOSuppressableAlert::goForAlertWithMessageText("Legal notice", informative,
                                                             "SPLMETER_Legal", &window),
              nullptr);
    ZOSuppressableAlert own;
    own.setSuppressionIdentifier("SPLMETER_Legal");
    own.beginSheetModalForWindow(&window);
    EXPECT_FALSE(own.isVisible());
}

} // namespace
