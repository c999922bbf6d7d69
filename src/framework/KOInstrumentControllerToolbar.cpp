// The instrument window's toolbar (flexible space, Settings, Pause, Sticky) and the control
// popover the Settings button opens.

#include "framework/KOInstrumentController.h"

#include "framework/ControlPopover.h"
#include "framework/KOToolbarItemAdditions.h"
#include "framework/ToolbarImages.h"

#include <QComboBox>
#include <QMainWindow>
#include <QSignalBlocker>
#include <QToolBar>
#include <QToolButton>
#include <QWidgetAction>

using koru::framework::ControlPopover;
using koru::framework::ToolbarImages;

namespace {

QWidgetAction* flexibleSpaceItem(QObject* parent) {
    auto* item = new QWidgetAction(parent);
    item->setObjectName(KOInstrumentController::kFlexibleSpaceItemIdentifier);
    auto* spacer = new QWidget;
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    item->setDefaultWidget(spacer);
    return item;
}

// A two-state button that shows a flag of the controller in both directions: a click goes
// through the controller's setter, a change of the flag (also from code) moves the button and
// its image without reporting back.
QWidgetAction* flagItem(KOInstrumentController& controller, const char* identifier,
                        const char* title, bool initial, const std::function<QIcon(bool)>& image,
                        std::function<void(bool)> setter,
                        void (KOInstrumentController::*changed)(bool), QObject* parent) {
    QToolButton* button = nullptr;
    QWidgetAction* item = KOToolbarItemAdditions::toolbarButtonItem(
        QString::fromLatin1(identifier), QString::fromLatin1(title), image(initial), nullptr, {},
        &button, parent);
    button->setCheckable(true);
    button->setChecked(initial);
    QObject::connect(button, &QToolButton::clicked, &controller,
                     [setter = std::move(setter)](bool checked) { setter(checked); });
    QObject::connect(&controller, changed, button, [button, image](bool value) {
        const QSignalBlocker blocker(button);
        button->setChecked(value);
        button->setIcon(image(value));
    });
    return item;
}

QToolButton* settingsButton(const QMainWindow* window) {
    if (!window)
        return nullptr;
    return window->findChild<QToolButton*>(
        QString::fromLatin1(KOInstrumentController::kSettingsItemIdentifier));
}

} // namespace

QStringList KOInstrumentController::toolbarItemIdentifiers() const {
    QStringList identifiers{QString::fromLatin1(kFlexibleSpaceItemIdentifier)};
    if (controlViewController())
        identifiers << QString::fromLatin1(kSettingsItemIdentifier);
    if (drawPauseIcon())
        identifiers << QString::fromLatin1(kPauseItemIdentifier);
    identifiers << QString::fromLatin1(kStickyItemIdentifier);
    return identifiers;
}

QStringList KOInstrumentController::toolbarAllowedItemIdentifiers() const {
    return toolbarItemIdentifiers();
}

QAction* KOInstrumentController::toolbarItemForItemIdentifier(const QString& identifier,
                                                              QObject* parent) {
    if (identifier == QLatin1String(kFlexibleSpaceItemIdentifier))
        return flexibleSpaceItem(parent);
    if (identifier == QLatin1String(kSettingsItemIdentifier)) {
        QToolButton* button = nullptr;
        QWidgetAction* item = KOToolbarItemAdditions::toolbarButtonItem(
            identifier, QStringLiteral("Settings"), ToolbarImages::actionImage(), this, {}, &button,
            parent);
        button->setCheckable(true);
        connect(button, &QToolButton::clicked, this, [this, button] {
            toggleControlPanelVisibility(button);
            const QSignalBlocker blocker(button);
            button->setChecked(controlPanelVisible());
        });
        return item;
    }
    if (identifier == QLatin1String(kPauseItemIdentifier))
        return flagItem(
            *this, kPauseItemIdentifier, "Pause", pause(), ToolbarImages::pauseImage,
            [this](bool value) { setPause(value); }, &KOInstrumentController::pauseChanged, parent);
    if (identifier == QLatin1String(kStickyItemIdentifier))
        return flagItem(
            *this, kStickyItemIdentifier, "sticky", sticky(), ToolbarImages::lockImage,
            [this](bool value) { setSticky(value); }, &KOInstrumentController::stickyChanged,
            parent);
    return nullptr;
}

void KOInstrumentController::installToolbar(const QStringList& identifiers) {
    QMainWindow* window = instrumentWindow();
    if (!window)
        return;
    const QString name = QString::fromLatin1(kToolbarIdentifier);
    delete window->findChild<QToolBar*>(name, Qt::FindDirectChildrenOnly);
    auto* toolbar = new QToolBar(name, window);
    toolbar->setObjectName(name);
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->setContextMenuPolicy(Qt::PreventContextMenu);
    for (const QString& identifier : identifiers) {
        if (QAction* item = toolbarItemForItemIdentifier(identifier, toolbar))
            toolbar->addAction(item);
    }
    window->addToolBar(Qt::TopToolBarArea, toolbar);
}

void KOInstrumentController::showControlPanel(QWidget* sender) {
    showControlPanelAttachedToView(sender);
}

void KOInstrumentController::showControlPanelAttachedToView(QWidget* view) {
    QWidget* content = controlViewController();
    if (!content || !instrumentWindow())
        return;
    auto* popover = qobject_cast<ControlPopover*>(controlPopover());
    if (!popover) {
        popover = new ControlPopover(instrumentWindow());
        QMainWindow* window = instrumentWindow();
        connect(popover, &ControlPopover::visibilityChanged, this, [window](bool visible) {
            if (QToolButton* button = settingsButton(window)) {
                const QSignalBlocker blocker(button);
                button->setChecked(visible);
            }
        });
        setControlPopover(popover);
    }
    popover->setToggleButton(settingsButton(instrumentWindow()));
    popover->setContentWidget(content);
    willShowControlPopover(popover);
    popover->showRelativeToView(view);
}

void KOInstrumentController::toggleControlPanelVisibility(QObject* sender) {
    if (controlPanelVisible()) {
        setControlPanelVisible(false);
        return;
    }
    // A click in the view passes no view along: the popover then hangs off the Settings button.
    auto* view = qobject_cast<QWidget*>(sender);
    if (!view)
        view = settingsButton(instrumentWindow());
    if (!view && instrumentWindow())
        view = instrumentWindow()->centralWidget();
    showControlPanel(view);
}

bool KOInstrumentController::controlPanelVisible() const {
    const QWidget* popover = controlPopover();
    return popover && popover->isVisible();
}

void KOInstrumentController::setControlPanelVisible(bool visible) {
    if (visible) {
        if (!controlPanelVisible())
            toggleControlPanelVisibility(nullptr);
        return;
    }
    if (QWidget* popover = controlPopover())
        popover->hide();
}
