#include "platform/defaults/UserDefaults.h"
#include "utility/ui/VEAlertAdditions.h"

#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

using koru::platform::UserDefaults;

class SuppressibleSheetTest : public testing::Test {
protected:
    SuppressibleSheetTest() { window.show(); }
    ~SuppressibleSheetTest() override {
        UserDefaults::standardUserDefaults().removeObjectForKey(
            VEAlertAdditions::kSuppressedAlertsKey);
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    QMessageBox* begin(const QString& identifier) {
        auto alert = std::make_unique<QMessageBox>();
        alert->setText(QStringLiteral("Something to know"));
        alert->setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        return VEAlertAdditions::beginSheetModalForWindow(
            std::move(alert), &window, identifier, [this](int code) { codes.push_back(code); });
    }
    static void end(QMessageBox* sheet, bool tick, QMessageBox::StandardButton button) {
        ASSERT_NE(sheet, nullptr);
        ASSERT_NE(sheet->checkBox(), nullptr);
        sheet->checkBox()->setChecked(tick);
        sheet->button(button)->click();
    }
    static QStringList silenced() {
        return UserDefaults::standardUserDefaults()
            .objectForKey(VEAlertAdditions::kSuppressedAlertsKey)
            .toStringList();
    }

    QWidget window;
    std::vector<int> codes;
};

TEST_F(SuppressibleSheetTest, TickedAndConfirmedSilencesThatAlertForGood) {
    QMessageBox* sheet = begin("X");
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->parentWidget(), &window);
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_EQ(sheet->checkBox()->text(), "Do not show this message again");
    end(sheet, true, QMessageBox::Ok);
    EXPECT_EQ(codes, std::vector<int>{VEAlertAdditions::kFirstButtonReturn});
    EXPECT_EQ(silenced(), QStringList{"X"});

    EXPECT_EQ(begin("X"), nullptr);
    EXPECT_EQ(codes.size(), 1u) << "a silenced alert calls nobody";
    EXPECT_TRUE(window.findChildren<QMessageBox*>().isEmpty() ||
                !window.findChild<QMessageBox*>()->isVisible());
}

TEST_F(SuppressibleSheetTest, UntickedLeavesItAndEachButtonHasItsCode) {
    end(begin("Y"), false, QMessageBox::Cancel);
    EXPECT_EQ(codes, std::vector<int>{VEAlertAdditions::kSecondButtonReturn});
    EXPECT_TRUE(silenced().isEmpty());
    EXPECT_EQ(
        UserDefaults::standardUserDefaults().objectForKey(VEAlertAdditions::kSuppressedAlertsKey),
        QVariant())
        << "missing until the first alert is silenced";

    auto alert = std::make_unique<QMessageBox>();
    QPushButton* other = alert->addButton(QStringLiteral("Later"), QMessageBox::ActionRole);
    VEAlertAdditions::VEBeginSheetModalForWindow(std::move(alert), &window,
                                                 [this](int code) { codes.push_back(code); });
    other->click();
    EXPECT_EQ(codes.back(), VEAlertAdditions::kThirdButtonReturn);
}

TEST_F(SuppressibleSheetTest, SilencedIdentifiersAddUpEvenFromSheetsOpenTogether) {
    QMessageBox* first = begin("first");
    QMessageBox* second = begin("second");
    end(second, true, QMessageBox::Ok);
    end(first, true, QMessageBox::Ok);
    EXPECT_EQ(silenced(), (QStringList{"second", "first"}));
    VEAlertAdditions::suppress("first");
    EXPECT_EQ(silenced(), (QStringList{"second", "first"})) << "no identifier twice";
}

TEST_F(SuppressibleSheetTest, AnErrorIsSilencedByItsDomainAndCode) {
    const koru::utility::Error error{"KOLevelwatcher", 4, "The file is gone.",
                                     "Choose another file."};
    EXPECT_EQ(VEAlertAdditions::suppressionIdentifierForError(error), "KOLevelwatcher (4)");
    QMessageBox* sheet = VEAlertAdditions::beginSuppressableAlertWithError(
        error, &window, [this](int code) { codes.push_back(code); });
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->text(), "The file is gone.");
    EXPECT_EQ(sheet->informativeText(), "Choose another file.");
    end(sheet, true, QMessageBox::Ok);
    EXPECT_EQ(silenced(), QStringList{"KOLevelwatcher (4)"});
    EXPECT_EQ(VEAlertAdditions::beginSuppressableAlertWithError(error, &window, nullptr), nullptr);
}

} // namespace
