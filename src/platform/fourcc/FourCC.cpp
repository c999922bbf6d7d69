#include "platform/fourcc/FourCC.h"

namespace koru::platform {

QString fourCCToString(std::uint32_t code) {
    QString text;
    text.reserve(4);
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto byte = static_cast<unsigned char>((code >> shift) & 0xff);
        const bool printable = byte >= 0x20 && byte < 0x7f;
        text.append(printable ? QChar(byte) : QChar(u'?'));
    }
    return text;
}

std::uint32_t fourCCFromString(const QString& text) {
    if (text.size() != 4)
        return 0;
    std::uint32_t code = 0;
    for (const QChar c : text) {
        if (c.unicode() > 0xff)
            return 0;
        code = (code << 8) | c.unicode();
    }
    return code;
}

} // namespace koru::platform
