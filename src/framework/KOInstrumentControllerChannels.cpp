// Channel menus and channel selection of the instrument controller: the channel pop-ups of the
// window and the channel submenus of the instrument menu, kept in step with the audio device.

#include "framework/KOInstrumentController.h"

#include "framework/InstrumentAudioDevice.h"
#include "framework/KOMenuAdditions.h"
#include "framework/KOPopUpButtonAdditions.h"
#include "framework/KeyboardModifierSource.h"
#include "platform/fourcc/FourCC.h"
#include "platform/log/Log.h"

#include <QAction>
#include <QComboBox>
#include <QMenu>
#include <QSignalBlocker>

using koru::framework::InstrumentAudioDevice;
using koru::platform::fourCC;

namespace {

constexpr qint64 kInputTag = fourCC("inpt");
constexpr qint64 kChannelATag = fourCC("in_a");
constexpr qint64 kChannelBTag = fourCC("in_b");

// Shift, Option or Command on the other platform: the other channel follows the chosen one.
constexpr Qt::KeyboardModifiers kFollowModifiers =
    Qt::ShiftModifier | Qt::AltModifier | Qt::ControlModifier;

const char* const kPopUpBoundProperty = "KOChannelPopUpBound";
const char* const kMenuObservedProperty = "KOChannelMenuObserved";

InstrumentAudioDevice& device() {
    return InstrumentAudioDevice::shared();
}

std::unique_ptr<QMenu> channelMenu(const QString& title, QObject* target,
                                   std::function<void(qint64)> change) {
    std::unique_ptr<QMenu> menu = device().inputChannelMenu();
    if (!title.isNull())
        menu->setTitle(title);
    KOMenuAdditions::setItemsAction(*menu, target, [change = std::move(change)](QAction* item) {
        change(KOMenuItemAdditions::tag(*item));
    });
    return menu;
}

// The pop-up lists the device's channels now, the current one selected. A choice in it goes
// straight to the setter, like a binding of the selection to the channel.
void bindPopUp(QComboBox* popUp, KOInstrumentController* target, qint64 current,
               void (KOInstrumentController::*setter)(qint64)) {
    if (!popUp)
        return;
    const QSignalBlocker blocker(popUp);
    KOPopUpButtonAdditions::becomeMenu(*popUp, *device().inputChannelMenu());
    KOPopUpButtonAdditions::selectItemWithTag(*popUp, current);
    if (popUp->property(kPopUpBoundProperty).toBool())
        return;
    popUp->setProperty(kPopUpBoundProperty, true);
    QObject::connect(popUp, &QComboBox::activated, target, [popUp, target, setter](int index) {
        (target->*setter)(popUp->itemData(index).toLongLong());
    });
}

void replaceSubmenu(QMenu* menu, qint64 tag, std::unique_ptr<QMenu> submenu) {
    if (!menu)
        return;
    if (QAction* item = KOMenuAdditions::itemWithTag(*menu, tag))
        KOMenuAdditions::replaceSubmenu(*item, std::move(submenu));
}

void checkSubmenuItem(QMenu* menu, qint64 tag, qint64 channel) {
    if (!menu)
        return;
    QAction* item = KOMenuAdditions::itemWithTag(*menu, tag);
    if (item && item->menu())
        KOMenuAdditions::checkItemWithTag(*item->menu(), channel);
}

void addSubmenuOnce(QMenu& menu, qint64 tag, std::unique_ptr<QMenu> submenu) {
    if (!KOMenuAdditions::itemWithTag(menu, tag))
        KOMenuAdditions::addSubmenu(menu, std::move(submenu), tag);
}

} // namespace

QMenu* KOInstrumentController::instrumentMenu() {
    QMenu* menu = mInstrumentMenu.get();
    if (!menu)
        return nullptr;
    if (mChAMenu())
        addSubmenuOnce(*menu, kChannelATag, inChannelAMenu());
    if (mChBMenu())
        addSubmenuOnce(*menu, kChannelBTag, inChannelBMenu());
    if (mInputMenu())
        addSubmenuOnce(*menu, kInputTag, inputChannelMenu());
    if (!menu->property(kMenuObservedProperty).toBool()) {
        menu->setProperty(kMenuObservedProperty, true);
        connect(menu, &QMenu::aboutToShow, this, [this, menu] { menuNeedsUpdate(menu); });
    }
    return menu;
}

std::unique_ptr<QMenu> KOInstrumentController::inputChannelMenu() {
    return channelMenu(QString(), this, [this](qint64 tag) { changeInputChannel(tag); });
}

std::unique_ptr<QMenu> KOInstrumentController::inChannelAMenu() {
    return channelMenu(QStringLiteral("Input A"), this,
                       [this](qint64 tag) { changeInChannelA(tag); });
}

std::unique_ptr<QMenu> KOInstrumentController::inChannelBMenu() {
    return channelMenu(QStringLiteral("Input B"), this,
                       [this](qint64 tag) { changeInChannelB(tag); });
}

void KOInstrumentController::audioPropertiesChanged() {
    koru::log::info("audioPropertiesChanged: {}", description().toStdString());
    if (isTwoChannelInstrument()) {
        replaceSubmenu(mInstrumentMenu.get(), kChannelATag, inChannelAMenu());
        replaceSubmenu(mInstrumentMenu.get(), kChannelBTag, inChannelBMenu());
        // Rebinding alone would leave the previous device's channels in the pop-ups.
        bindPopUp(mChAMenu(), this, inChannelA(), &KOInstrumentController::setInChannelA);
        bindPopUp(mChBMenu(), this, inChannelB(), &KOInstrumentController::setInChannelB);
        return;
    }
    if (isOneChannelInstrument()) {
        bindPopUp(mInputMenu(), this, inputChannel(), &KOInstrumentController::setInputChannel);
        replaceSubmenu(mInstrumentMenu.get(), kInputTag, inputChannelMenu());
    }
}

void KOInstrumentController::changeInputChannel(qint64 tag) {
    if (!device().isValidChannelIndex(tag)) {
        koru::log::error("{} is not a valid channel index", tag);
        return;
    }
    setInputChannel(tag);
    if (QComboBox* popUp = mInputMenu()) {
        const QSignalBlocker blocker(popUp);
        KOPopUpButtonAdditions::selectItemWithTag(*popUp, inputChannel());
    }
}

void KOInstrumentController::changeInChannelA(qint64 tag) {
    if (!device().isValidChannelIndex(tag)) {
        koru::log::error("not a valid channel index");
        return;
    }
    setInChannelA(tag);
    if (koru::framework::KeyboardModifierSource::current() & kFollowModifiers)
        setInChannelB((tag + 1) % qint64(device().totalNumberChannels()));
    audioPropertiesChanged();
}

void KOInstrumentController::changeInChannelB(qint64 tag) {
    if (!device().isValidChannelIndex(tag)) {
        koru::log::error("not a valid channel index");
        return;
    }
    setInChannelB(tag);
    if (koru::framework::KeyboardModifierSource::current() & kFollowModifiers)
        setInChannelA((tag + 1) % qint64(device().totalNumberChannels()));
    audioPropertiesChanged();
}

void KOInstrumentController::menuNeedsUpdate(QMenu* menu) {
    if (isTwoChannelInstrument()) {
        checkSubmenuItem(menu, kChannelATag, inChannelA());
        checkSubmenuItem(menu, kChannelBTag, inChannelB());
        return;
    }
    if (isOneChannelInstrument())
        checkSubmenuItem(menu, kInputTag, inputChannel());
}
