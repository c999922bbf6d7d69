#include "framework/KODrawModePopupButton.h"

#include "framework/KOPopUpButtonAdditions.h"

#include <array>

namespace {

struct DrawMode {
    const char* title;
    Qt::Key key;
};

constexpr std::array<DrawMode, 4> kModes = {
    {{"Cont", Qt::Key_C}, {"Fill", Qt::Key_F}, {"Oct.", Qt::Key_O}, {"Pk Bar", Qt::Key_P}}};

} // namespace

KODrawModePopupButton::KODrawModePopupButton(QWidget* parent) : QComboBox(parent) {
    awakeFromNib();
}

void KODrawModePopupButton::awakeFromNib() {
    KOPopUpButtonAdditions::removeAllItems(*this);
    for (std::size_t mode = 0; mode < kModes.size(); ++mode)
        KOPopUpButtonAdditions::addItemWithTitle(*this, QString::fromUtf8(kModes[mode].title),
                                                 qint64(mode));
}

void KODrawModePopupButton::createShortcuts() {
    awakeFromNib();
    for (std::size_t mode = 0; mode < kModes.size(); ++mode)
        KOPopUpButtonAdditions::setItemKeyEquivalents(
            *this, int(mode), {QKeySequence(Qt::AltModifier | kModes[mode].key)});
}
