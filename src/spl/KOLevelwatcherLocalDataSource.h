#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

#include <optional>

// What KORU gives the SPL service: each call answers one XML document, or none for "not found".
// Called off the main thread (on the link's executor), one call at a time.
class KOLevelwatcherLocalDataSource {
public:
    virtual ~KOLevelwatcherLocalDataSource() = default;
    // The meter document of the open SPL meter with this name.
    virtual std::optional<QByteArray> splDataDictionaryFromInstrument(const QString& name) = 0;
    // The list of open SPL meters.
    virtual std::optional<QByteArray> splControllers() = 0;
    // A stretch of a meter's log: "instrumentName", "start", "end", "resolution".
    virtual std::optional<QByteArray>
    splLogDataWithParameters(const QMap<QString, QString>& parameters) = 0;
};
