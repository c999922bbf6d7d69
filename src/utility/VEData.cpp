#include "utility/VEData.h"

#include "utility/VESHA1Calculator.h"

#include <QCryptographicHash>
#include <QFile>

QByteArray VEData::sha1(const QByteArray& data) {
    return QCryptographicHash::hash(data, QCryptographicHash::Sha1);
}

QString VEData::sha1String(const QByteArray& data) {
    return QString::fromLatin1(sha1(data).toHex());
}

std::optional<QString> VEData::digestStringOfFileAtURL(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    constexpr qint64 chunkSize = 32768;
    VESHA1Calculator calculator;
    while (true) {
        const QByteArray chunk = file.read(chunkSize);
        if (chunk.isEmpty())
            break;
        calculator.pushData(chunk);
    }
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return calculator.digestString();
}
