#include "framework/KOMenuAdditions.h"

#include "platform/fourcc/FourCC.h"

#include <QAction>
#include <QMenu>

#include <fmt/format.h>

#include <utility>

using koru::platform::fourCC;

namespace {

struct NamedCode {
    const char* title;
    std::uint32_t code;
};

std::unique_ptr<QMenu> menuOfCodes(const char* title, std::initializer_list<NamedCode> items) {
    auto menu = std::make_unique<QMenu>(QString::fromUtf8(title));
    for (const NamedCode& item : items)
        KOMenuAdditions::addItemWithTitle(*menu, QString::fromUtf8(item.title), item.code);
    return menu;
}

} // namespace

std::unique_ptr<QMenu> KOMenuAdditions::fftSizeMenu() {
    auto menu = std::make_unique<QMenu>(QStringLiteral("FFT Size"));
    for (std::uint32_t size = kFirstFFTSize; size <= kLastFFTSize; size *= 2)
        addItemWithTitle(*menu, QString::fromStdString(fmt::format("{}", size)), size);
    return menu;
}

std::unique_ptr<QMenu> KOMenuAdditions::fftWindowTypeMenu() {
    return menuOfCodes("Window Type", {{"Hanning", fourCC("hann")},
                                       {"Hamming", fourCC("hamm")},
                                       {"Blackman", fourCC("blkm")},
                                       {"Sine", fourCC("sine")},
                                       {"Rectangle", fourCC("rect")}});
}

std::unique_ptr<QMenu> KOMenuAdditions::octaveMenu() {
    auto menu = std::make_unique<QMenu>(QStringLiteral("Octave"));
    addItemWithTitle(*menu, QStringLiteral("1 Octave"), 1);
    for (int fraction = 3; fraction < 25; fraction *= 2)
        addItemWithTitle(*menu, QString::fromStdString(fmt::format("1/{} Octave", fraction)),
                         fraction);
    return menu;
}

std::unique_ptr<QMenu> KOMenuAdditions::accumulationModeMenu() {
    return menuOfCodes("Accumulation Mode", {{"White Noise is flat", fourCC("whit")},
                                             {"Pink Noise is flat", fourCC("pink")},
                                             {"Peak", fourCC("peak")}});
}

QAction* KOMenuAdditions::addItemWithTitle(QMenu& menu, const QString& title, qint64 tag) {
    return addItemWithTitle(menu, title, nullptr, {}, QKeySequence(), tag);
}

QAction* KOMenuAdditions::addItemWithTitle(QMenu& menu, const QString& title, QObject* target,
                                           KOMenuItemAdditions::Action action, qint64 tag) {
    return addItemWithTitle(menu, title, target, std::move(action), QKeySequence(), tag);
}

QAction* KOMenuAdditions::addItemWithTitle(QMenu& menu, const QString& title, QObject* target,
                                           KOMenuItemAdditions::Action action,
                                           const QKeySequence& keyEquivalent, qint64 tag) {
    QAction* item = KOMenuItemAdditions::itemWithTitle(title, target, std::move(action),
                                                       keyEquivalent, tag, &menu);
    menu.addAction(item);
    return item;
}

QAction* KOMenuAdditions::addSubmenu(QMenu& menu, std::unique_ptr<QMenu> submenu, qint64 tag) {
    auto* item = new QAction(submenu->title(), &menu);
    KOMenuItemAdditions::setTag(*item, tag);
    replaceSubmenu(*item, std::move(submenu));
    menu.addAction(item);
    return item;
}

void KOMenuAdditions::replaceSubmenu(QAction& item, std::unique_ptr<QMenu> submenu) {
    QMenu* previous = item.menu();
    // The item owns its submenu: QAction does not, so the submenu hangs off the item.
    QMenu* fresh = submenu.release();
    QObject::connect(&item, &QObject::destroyed, fresh, &QObject::deleteLater);
    item.setMenu(fresh);
    if (previous)
        previous->deleteLater();
}

QAction* KOMenuAdditions::itemWithTag(const QMenu& menu, qint64 tag) {
    for (QAction* item : menu.actions()) {
        if (!item->isSeparator() && KOMenuItemAdditions::tag(*item) == tag)
            return item;
    }
    return nullptr;
}

void KOMenuAdditions::checkItemWithTag(QMenu& menu, qint64 tag) {
    for (QAction* item : menu.actions()) {
        if (item->isSeparator())
            continue;
        const bool match = KOMenuItemAdditions::tag(*item) == tag;
        if (match)
            item->setCheckable(true);
        item->setChecked(match);
    }
}

void KOMenuAdditions::setItemsAction(QMenu& menu, QObject* target,
                                     KOMenuItemAdditions::Action action) {
    for (QAction* item : menu.actions())
        KOMenuItemAdditions::setAction(*item, target, action);
}
