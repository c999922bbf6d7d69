#pragma once

#include <QIcon>
#include <QString>

#include <functional>

class QObject;
class QToolButton;
class QWidgetAction;

// Toolbar items carrying one borderless icon button (a QWidgetAction whose object name is the
// item identifier).
class KOToolbarItemAdditions {
public:
    // The title becomes the button's tool tip: the item shows no label. A click runs `action`
    // while `target` lives (no target: always); an empty action leaves the button for the
    // caller to connect, who gets it through `button` when that is given.
    static QWidgetAction* toolbarButtonItem(const QString& identifier, const QString& title,
                                            const QIcon& image, QObject* target,
                                            std::function<void()> action, QToolButton** button,
                                            QObject* parent);
};
