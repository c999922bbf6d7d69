#include "framework/KOMenuItemAdditions.h"

#include <QAction>
#include <QPointer>

namespace {

// The connection lives in a child of the item, so replacing the action is deleting that child;
// the item's other connections (its menu's, bindings') stay untouched.
const QString kActionHolderName = QStringLiteral("KOMenuItemAction");

QObject* actionHolder(const QAction& item) {
    return item.findChild<QObject*>(kActionHolderName, Qt::FindDirectChildrenOnly);
}

} // namespace

QAction* KOMenuItemAdditions::itemWithTitle(const QString& title, QObject* target, Action action,
                                            const QKeySequence& keyEquivalent, qint64 tag,
                                            QObject* parent) {
    auto* item = new QAction(title, parent);
    item->setShortcut(keyEquivalent);
    setTag(*item, tag);
    setAction(*item, target, std::move(action));
    return item;
}

qint64 KOMenuItemAdditions::tag(const QAction& item) {
    return item.data().toLongLong();
}

void KOMenuItemAdditions::setTag(QAction& item, qint64 tag) {
    item.setData(QVariant::fromValue<qlonglong>(tag));
}

void KOMenuItemAdditions::setAction(QAction& item, QObject* target, Action action) {
    delete actionHolder(item);
    if (!action)
        return;
    auto* holder = new QObject(&item);
    holder->setObjectName(kActionHolderName);
    const bool needsTarget = target != nullptr;
    QPointer<QObject> guardedTarget(target);
    QObject::connect(&item, &QAction::triggered, holder,
                     [&item, needsTarget, guardedTarget, action = std::move(action)] {
                         if (needsTarget && guardedTarget.isNull())
                             return;
                         action(&item);
                     });
}

bool KOMenuItemAdditions::hasAction(const QAction& item) {
    return actionHolder(item) != nullptr;
}
