#include "framework/KOPopUpButtonAdditions.h"

#include "framework/KOMenuAdditions.h"
#include "framework/KOMenuItemAdditions.h"

#include <QAction>
#include <QComboBox>
#include <QMenu>

#include <array>

namespace {

const QString kKeyEquivalentName = QStringLiteral("KOPopUpItemKeyEquivalent");

} // namespace

void KOPopUpButtonAdditions::becomeFFTSizeMenu(QComboBox& popUp) {
    becomeMenu(popUp, *KOMenuAdditions::fftSizeMenu());
}

void KOPopUpButtonAdditions::becomeFFTWindowTypeMenu(QComboBox& popUp) {
    becomeMenu(popUp, *KOMenuAdditions::fftWindowTypeMenu());
}

void KOPopUpButtonAdditions::becomeOctaveMenu(QComboBox& popUp) {
    becomeMenu(popUp, *KOMenuAdditions::octaveMenu());
}

void KOPopUpButtonAdditions::becomeAccumulationModeMenu(QComboBox& popUp) {
    becomeMenu(popUp, *KOMenuAdditions::accumulationModeMenu());
}

void KOPopUpButtonAdditions::becomeMenu(QComboBox& popUp, const QMenu& menu) {
    removeAllItems(popUp);
    for (const QAction* item : menu.actions()) {
        if (!item->isSeparator())
            addItemWithTitle(popUp, item->text(), KOMenuItemAdditions::tag(*item));
    }
}

void KOPopUpButtonAdditions::removeAllItems(QComboBox& popUp) {
    popUp.clear();
    const auto keyEquivalents =
        popUp.findChildren<QAction*>(kKeyEquivalentName, Qt::FindDirectChildrenOnly);
    for (QAction* action : keyEquivalents)
        delete action;
}

void KOPopUpButtonAdditions::addItemWithTitle(QComboBox& popUp, const QString& title, qint64 tag) {
    popUp.addItem(title, QVariant::fromValue<qlonglong>(tag));
}

void KOPopUpButtonAdditions::createShortcutsForOctaveMenu(QComboBox& popUp) {
    for (int index = 0; index < popUp.count(); ++index)
        setItemKeyEquivalents(popUp, index, shiftedDigitKeys((index + 1) % 10));
}

void KOPopUpButtonAdditions::setItemKeyEquivalents(QComboBox& popUp, int index,
                                                   const QList<QKeySequence>& keys) {
    auto* action = new QAction(&popUp);
    action->setObjectName(kKeyEquivalentName);
    action->setShortcuts(keys);
    action->setShortcutContext(Qt::WindowShortcut);
    popUp.addAction(action);
    QComboBox* target = &popUp;
    QObject::connect(action, &QAction::triggered, target, [target, index] {
        if (index >= target->count())
            return;
        target->setCurrentIndex(index);
        emit target->activated(index);
    });
}

QList<QKeySequence> KOPopUpButtonAdditions::shiftedDigitKeys(int digit) {
    static constexpr std::array<Qt::Key, 10> usShifted = {
        Qt::Key_ParenRight, Qt::Key_Exclam,   Qt::Key_At,          Qt::Key_NumberSign,
        Qt::Key_Dollar,     Qt::Key_Percent,  Qt::Key_AsciiCircum, Qt::Key_Ampersand,
        Qt::Key_Asterisk,   Qt::Key_ParenLeft};
    const int d = ((digit % 10) + 10) % 10;
    return {QKeySequence(Qt::ShiftModifier | Qt::Key(Qt::Key_0 + d)),
            QKeySequence(Qt::ShiftModifier | usShifted[std::size_t(d)])};
}

qint64 KOPopUpButtonAdditions::selectedTag(const QComboBox& popUp) {
    return popUp.currentData().toLongLong();
}

bool KOPopUpButtonAdditions::selectItemWithTag(QComboBox& popUp, qint64 tag) {
    const int index = popUp.findData(QVariant::fromValue<qlonglong>(tag));
    if (index < 0)
        return false;
    popUp.setCurrentIndex(index);
    return true;
}
