#pragma once

#include <QStyledItemDelegate>

class KOAudioDevice;

namespace koru {

// Edits a summing channel's source in a pop-up of the hardware and auxiliary channels (the
// device's native-and-auxiliary channel menu), the current source selected.
class SummingChannelDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit SummingChannelDelegate(KOAudioDevice& device, QObject* parent = nullptr);

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override;

private:
    KOAudioDevice& mDevice;
};

} // namespace koru
