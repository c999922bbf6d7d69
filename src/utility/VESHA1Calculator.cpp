#include "utility/VESHA1Calculator.h"

VESHA1Calculator::VESHA1Calculator() : m_sha1(QCryptographicHash::Sha1) {}

void VESHA1Calculator::pushData(const QByteArray& data) {
    if (!m_finalized)
        m_sha1.addData(data);
}

void VESHA1Calculator::pushString(const QString& text) {
    pushData(text.toUtf8());
}

void VESHA1Calculator::pushBuffer(const void* bytes, std::uint32_t length) {
    if (!m_finalized)
        m_sha1.addData(QByteArrayView(static_cast<const char*>(bytes), qsizetype(length)));
}

std::optional<QString> VESHA1Calculator::digestString() {
    if (!m_finalized) {
        m_digestString = QString::fromLatin1(m_sha1.result().toHex());
        m_finalized = true;
    }
    return m_digestString;
}
