#include "support/TestSupport.h"

#include "app/ZOAppDelegate.h"
#include "app/ZOSLAController.h"
#include "app/ui/LicenceAgreementDialog.h"
#include "app/ui/QtUiPrompter.h"
#include "platform/defaults/UserDefaults.h"

#include <QApplication>
#include <QFileInfo>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <vector>

using koru::LicenceAgreementDialog;
using koru::QtUiPrompter;
using koru::platform::UserDefaults;

namespace {

QString freshDefaultsPath() {
    static std::atomic<int> serial{0};
    return koru::test::testRoot() +
           QStringLiteral("/licence-window-%1/KORU/defaults.plist").arg(++serial);
}

LicenceAgreementDialog* openAgreement() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<LicenceAgreementDialog*>(widget);
        if (dialog != nullptr && dialog->isVisible())
            return dialog;
    }
    return nullptr;
}

// What the user saw, and how they answered.
struct Seen {
    bool shown = false;
    Qt::WindowModality modality = Qt::NonModal;
    QString text;
    QStringList buttons;
};

void answerWhenShown(Seen& seen, const std::function<void(LicenceAgreementDialog&)>& answer) {
    QTimer::singleShot(0, [&seen, answer] {
        LicenceAgreementDialog* dialog = openAgreement();
        if (dialog == nullptr) {
            answerWhenShown(seen, answer); // not on screen yet
            return;
        }
        seen.shown = true;
        seen.modality = dialog->windowModality();
        seen.text = dialog->textView()->toPlainText();
        seen.buttons = {dialog->agreeButton()->text(), dialog->disagreeButton()->text()};
        answer(*dialog);
    });
}

TEST(LicenceAgreementWindow, OnlyTheAgreeButtonLetsKoruStart) {
    struct Case {
        const char* what;
        std::function<void(LicenceAgreementDialog&)> answer;
        bool goesOn;
    };
    const std::vector<Case> cases = {
        {"agree", [](LicenceAgreementDialog& d) { d.agreeButton()->click(); }, true},
        {"do not agree", [](LicenceAgreementDialog& d) { d.disagreeButton()->click(); }, false},
        {"escape", [](LicenceAgreementDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); }, false},
        {"window closed", [](LicenceAgreementDialog& d) { d.close(); }, false},
        {"return does not agree",
         [](LicenceAgreementDialog& d) {
             QTest::keyClick(&d, Qt::Key_Return);
             QTest::keyClick(d.textView(), Qt::Key_Enter);
             if (d.isVisible())
                 d.disagreeButton()->click();
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString path = freshDefaultsPath();
        UserDefaults defaults(path);
        QtUiPrompter prompter;
        Seen seen;
        answerWhenShown(seen, c.answer);

        EXPECT_EQ(ZOAppDelegate::settleLicenceAgreement(defaults, prompter), c.goesOn);

        EXPECT_TRUE(seen.shown);
        EXPECT_EQ(seen.modality, Qt::ApplicationModal);
        EXPECT_TRUE(seen.text.contains(QStringLiteral("KORU Licence Agreement")));
        EXPECT_EQ(seen.buttons, (QStringList{"I Agree", "I Do Not Agree"}));
        EXPECT_EQ(openAgreement(), nullptr);
        EXPECT_EQ(QFileInfo::exists(path), c.goesOn);
        EXPECT_EQ(UserDefaults(path).boolForKey(ZOSLAController::kAcceptKey), c.goesOn);
    }
}

} // namespace
