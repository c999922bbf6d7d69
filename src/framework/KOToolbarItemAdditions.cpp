#include "framework/KOToolbarItemAdditions.h"

#include "framework/KOWindowButtonAdditions.h"

#include <QPointer>
#include <QToolButton>
#include <QWidgetAction>

QWidgetAction* KOToolbarItemAdditions::toolbarButtonItem(const QString& identifier,
                                                         const QString& title, const QIcon& image,
                                                         QObject* target,
                                                         std::function<void()> action,
                                                         QToolButton** button, QObject* parent) {
    auto* item = new QWidgetAction(parent);
    item->setObjectName(identifier);
    item->setToolTip(title);
    QToolButton* iconButton = KOWindowButtonAdditions::windowIconButton();
    iconButton->setIcon(image);
    iconButton->setToolTip(title);
    iconButton->setObjectName(identifier);
    if (action) {
        const bool needsTarget = target != nullptr;
        QPointer<QObject> guardedTarget(target);
        QObject::connect(iconButton, &QToolButton::clicked, iconButton,
                         [needsTarget, guardedTarget, action = std::move(action)] {
                             if (needsTarget && guardedTarget.isNull())
                                 return;
                             action();
                         });
    }
    item->setDefaultWidget(iconButton); // the item owns the button
    if (button)
        *button = iconButton;
    return item;
}
