#pragma once

#include "platform/notifications/NotificationCenter.h"

#include <QAbstractTableModel>
#include <QString>

class KOAudioDevice;

namespace koru {

// The audio settings window's table of summing channels: one row per summing channel, the
// columns "cha" and "chb" holding its two sources. The edit role carries the source's channel
// index, the display role its name. The table follows the device: it resets on every audio
// property reload. Main thread only.
class SummingChannelTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kIdentifierRole = Qt::UserRole;

    explicit SummingChannelTableModel(KOAudioDevice& device, QObject* parent = nullptr);

    static QString columnIdentifier(int column);
    // Reads the rows from the device again.
    void reloadData();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    KOAudioDevice& mDevice;
    koru::platform::ObserverToken mReloadToken;
};

} // namespace koru
