#pragma once

#include "utility/VEDigestCalculator.h"

#include <QCryptographicHash>

// SHA-1 of everything pushed until the first digestString(); the answer then stays fixed.
class VESHA1Calculator : public VEDigestCalculator {
public:
    VESHA1Calculator();
    void pushData(const QByteArray& data) override;
    void pushString(const QString& text) override;
    void pushBuffer(const void* bytes, std::uint32_t length) override;
    std::optional<QString> digestString() override;

private:
    QCryptographicHash m_sha1;
    QString m_digestString;
    bool m_finalized = false;
};
