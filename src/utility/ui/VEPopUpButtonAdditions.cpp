#include "utility/ui/VEPopUpButtonAdditions.h"

#include <QComboBox>

void VEPopUpButtonAdditions::addItemWithTitle(QComboBox& popUp, const QString& title, qint64 tag) {
    popUp.addItem(title);
    popUp.setItemData(popUp.count() - 1, tag);
}
