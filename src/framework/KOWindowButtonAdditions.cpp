#include "framework/KOWindowButtonAdditions.h"

#include <QMenu>
#include <QToolButton>

QToolButton* KOWindowButtonAdditions::windowIconButton(QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setGeometry(0, 0, kIconButtonWidth, kIconButtonHeight);
    button->setFixedSize(kIconButtonWidth, kIconButtonHeight);
    button->setAutoRaise(true);
    button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

QToolButton* KOWindowButtonAdditions::windowIconPopUpButton(QWidget* parent) {
    QToolButton* button = windowIconButton(parent);
    button->setFixedSize(kPopUpButtonWidth, kIconButtonHeight);
    button->setPopupMode(QToolButton::InstantPopup);
    button->setMenu(new QMenu(QString(), button));
    return button;
}
