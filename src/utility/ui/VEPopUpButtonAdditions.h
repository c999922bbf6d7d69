#pragma once

#include <QString>

class QComboBox;

// Pop-up items with tags: the tag is the item's data.
class VEPopUpButtonAdditions {
public:
    static void addItemWithTitle(QComboBox& popUp, const QString& title, qint64 tag);
};
