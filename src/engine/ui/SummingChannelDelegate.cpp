#include "engine/ui/SummingChannelDelegate.h"

#include "engine/ui/KOAudioDeviceMenus.h"
#include "engine/ui/SummingChannelTableModel.h"

#include <QAction>
#include <QComboBox>
#include <QMenu>

namespace koru {

SummingChannelDelegate::SummingChannelDelegate(KOAudioDevice& device, QObject* parent)
    : QStyledItemDelegate(parent), mDevice(device) {}

QWidget* SummingChannelDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                              const QModelIndex& index) const {
    auto* popUp = new QComboBox(parent);
    const auto menu = KOAudioDeviceMenus::summingTableMenu(
        mDevice, SummingChannelTableModel::columnIdentifier(index.column()), index.row(), nullptr);
    for (const QAction* item : menu->actions()) {
        popUp->addItem(item->text(), item->data());
    }
    return popUp;
}

void SummingChannelDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
    auto* popUp = qobject_cast<QComboBox*>(editor);
    if (popUp == nullptr) {
        return;
    }
    popUp->setCurrentIndex(popUp->findData(index.data(Qt::EditRole).toInt()));
}

void SummingChannelDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                          const QModelIndex& index) const {
    const auto* popUp = qobject_cast<QComboBox*>(editor);
    if (popUp == nullptr || popUp->currentIndex() < 0) {
        return;
    }
    model->setData(index, popUp->currentData(), Qt::EditRole);
}

} // namespace koru
