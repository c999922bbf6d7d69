#pragma once

#include "utility/VETimeInterval.h"

#include <QString>
#include <QVariant>

// Turns a number of seconds into [-]HH:MM:SS and back. Reading takes the first H:M:S anywhere in
// the text ("x 1:2:3 y" is 3723 s); the sign comes from a minus right before the hours.
class VEIntervalFormatter {
public:
    static QString regexPattern() { return QStringLiteral("(-?)(\\d+):(\\d+):(\\d+)"); }

    // A number shows as its interval; anything else (or nothing) as "--:--:--".
    QString stringForObjectValue(const QVariant& value) const;
    bool getCompoundValue(VETimeIntervalComponents& components, const QString& text) const;
    // On success a number of seconds.
    bool getObjectValue(QVariant& value, const QString& text) const;
    bool isTimeIntervalString(const QString& text) const;
};
