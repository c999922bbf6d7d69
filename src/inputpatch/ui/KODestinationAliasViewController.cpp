#include "inputpatch/ui/KODestinationAliasViewController.h"

#include "inputpatch/ui/KODestinationAliasViewControllerDelegate.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

KODestinationAliasViewController::KODestinationAliasViewController(QWidget* parent)
    : QFrame(parent, Qt::Popup) {
    setFrameShape(QFrame::StyledPanel);
    mAliasField = new QLineEdit(this);
    mAliasField->setObjectName(QStringLiteral("aliasField"));
    mAliasField->setMinimumWidth(180);
    mAliasField->installEventFilter(this);

    const auto button = [this](const QString& title,
                               void (KODestinationAliasViewController::*action)()) {
        auto* made = new QPushButton(title, this);
        // The field keeps the keyboard: Tab means Next, not the next button.
        made->setFocusPolicy(Qt::NoFocus);
        connect(made, &QPushButton::clicked, this, action);
        return made;
    };
    mCancelButton = button(tr("Cancel"), &KODestinationAliasViewController::cancel);
    mNextButton = button(tr("Next"), &KODestinationAliasViewController::enterNext);
    mEnterButton = button(tr("Enter"), &KODestinationAliasViewController::enterAlias);
    connect(mAliasField, &QLineEdit::returnPressed, this,
            &KODestinationAliasViewController::enterAlias);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(mCancelButton);
    buttons->addWidget(mNextButton);
    buttons->addWidget(mEnterButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(mAliasField);
    layout->addLayout(buttons);
    setFocusProxy(mAliasField);
}

void KODestinationAliasViewController::setAliasString(const QString& alias) {
    mAliasField->setText(alias);
    // Typing replaces the shown name.
    mAliasField->selectAll();
}

QString KODestinationAliasViewController::aliasString() const {
    return mAliasField->text();
}

void KODestinationAliasViewController::enterAlias() {
    if (mDelegate)
        mDelegate->didEnterAlias(aliasString());
}

void KODestinationAliasViewController::enterNext() {
    if (mDelegate)
        mDelegate->enterAliasAndOpenNext(aliasString());
}

void KODestinationAliasViewController::cancel() {
    if (mDelegate)
        mDelegate->removeAliasWindow();
    else
        close();
}

bool KODestinationAliasViewController::eventFilter(QObject* watched, QEvent* event) {
    // Tab never reaches keyPressEvent: the focus chain takes it first.
    if (watched == mAliasField && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Tab) {
        enterNext();
        return true;
    }
    return QFrame::eventFilter(watched, event);
}

void KODestinationAliasViewController::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        cancel();
        return;
    }
    QFrame::keyPressEvent(event);
}

void KODestinationAliasViewController::hideEvent(QHideEvent* event) {
    QFrame::hideEvent(event);
    emit hidden();
}
