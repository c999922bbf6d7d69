#include "engine/ui/MessageBoxAlertPresenter.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <utility>

using koru::AlertPresenter;

namespace {

// Answers the message box that opens next by clicking the button titled `title` (Escape when
// empty), after recording what it showed.
struct Clicker {
    explicit Clicker(QString button) : title(std::move(button)) {}

    QString title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString text;
    QString informative;
    QStringList buttons;

    void answerNextBox() {
        QTimer::singleShot(0, [this] {
            QMessageBox* box = openBox();
            if (box == nullptr) {
                answerNextBox(); // not shown yet
                return;
            }
            icon = box->icon();
            text = box->text();
            informative = box->informativeText();
            QAbstractButton* target = nullptr;
            for (QAbstractButton* button : box->buttons()) {
                buttons.append(button->text());
                if (button->text() == title) {
                    target = button;
                }
            }
            if (target != nullptr) {
                target->click();
            } else {
                box->reject();
            }
        });
    }

    static QMessageBox* openBox() {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (box != nullptr && box->isVisible()) {
                return box;
            }
        }
        return nullptr;
    }
};

} // namespace

TEST(MessageBoxAlertPresenter, AnswersWithTheButtonClicked) {
    koru::Alert alert;
    alert.messageText = QStringLiteral("Error when changing Audio Device");
    alert.informativeText = QStringLiteral("Something went wrong.");
    alert.defaultButton = QStringLiteral("Quit");
    alert.alternateButton = QStringLiteral("Continue");
    const struct {
        const char* click;
        AlertPresenter::Response expected;
    } cases[] = {{"Quit", AlertPresenter::Response::Default},
                 {"Continue", AlertPresenter::Response::Alternate},
                 {"", AlertPresenter::Response::Alternate}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.click);
        Clicker clicker(QString::fromLatin1(c.click));
        clicker.answerNextBox();
        koru::MessageBoxAlertPresenter presenter;
        EXPECT_EQ(presenter.runModal(alert), c.expected);
        EXPECT_EQ(clicker.icon, QMessageBox::Warning);
        EXPECT_EQ(clicker.text, alert.messageText);
        EXPECT_EQ(clicker.informative, alert.informativeText);
        EXPECT_EQ(clicker.buttons.size(), 2);
        EXPECT_TRUE(clicker.buttons.contains(QStringLiteral("Quit")));
        EXPECT_TRUE(clicker.buttons.contains(QStringLiteral("Continue")));
    }
}

TEST(MessageBoxAlertPresenter, AnAlertWithoutAnAlternateHasOneButton) {
    koru::Alert alert;
    alert.messageText = QStringLiteral("Can't change Audio Settings");
    Clicker clicker(QStringLiteral("OK"));
    clicker.answerNextBox();
    koru::MessageBoxAlertPresenter presenter;
    EXPECT_EQ(presenter.runModal(alert), AlertPresenter::Response::Default);
    EXPECT_EQ(clicker.buttons, QStringList{QStringLiteral("OK")});
}
