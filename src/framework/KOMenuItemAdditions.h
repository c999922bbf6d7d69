#pragma once

#include <QKeySequence>
#include <QString>

#include <functional>

class QAction;
class QObject;

// Menu items that carry their value as a tag (the item's data, a signed 64-bit number: a size,
// a channel index or a four-character code), and one replaceable action per item.
class KOMenuItemAdditions {
public:
    // Runs with the chosen item, so one function can serve every item of a menu.
    using Action = std::function<void(QAction* item)>;

    // A new item owned by `parent`; `target` null means the action does not depend on a receiver.
    static QAction* itemWithTitle(const QString& title, QObject* target, Action action,
                                  const QKeySequence& keyEquivalent, qint64 tag, QObject* parent);

    static qint64 tag(const QAction& item); // 0 for an item that never got one
    static void setTag(QAction& item, qint64 tag);

    // Replaces the item's earlier action. The action runs only while `target` lives; an empty
    // action leaves the item without one.
    static void setAction(QAction& item, QObject* target, Action action);
    static bool hasAction(const QAction& item);
};
