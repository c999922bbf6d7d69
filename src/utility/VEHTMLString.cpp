#include "utility/VEHTMLString.h"

#include <QHash>

#include <optional>

namespace {

// Ampersand to semicolon, at most: "&#x10FFFF;" is the longest reference decoded.
constexpr qsizetype kLongestReference = 10;

const QHash<QString, char32_t>& namedReferences() {
    static const QHash<QString, char32_t> table = [] {
        QHash<QString, char32_t> names;
        const QStringList& latin1 = VEHTMLString::latin1EntityNames();
        for (qsizetype i = 0; i < latin1.size(); ++i)
            names.insert(latin1[i], char32_t(160 + i));
        names.insert(QStringLiteral("amp"), U'&');
        names.insert(QStringLiteral("lt"), U'<');
        names.insert(QStringLiteral("gt"), U'>');
        names.insert(QStringLiteral("apos"), U'\'');
        names.insert(QStringLiteral("quot"), U'"');
        return names;
    }();
    return table;
}

int digitValue(QChar c, int base) {
    const char16_t u = c.unicode();
    int value = 99;
    if (u >= '0' && u <= '9')
        value = u - '0';
    else if (u >= 'a' && u <= 'f')
        value = u - 'a' + 10;
    else if (u >= 'A' && u <= 'F')
        value = u - 'A' + 10;
    return value < base ? value : -1;
}

// "#169" or "#x41": a valid code point, else nothing.
std::optional<char32_t> numericReference(QStringView body) {
    if (body.size() < 2 || body[0] != QLatin1Char('#'))
        return std::nullopt;
    const bool hex = body[1] == QLatin1Char('x') || body[1] == QLatin1Char('X');
    const int base = hex ? 16 : 10;
    const QStringView digits = body.mid(hex ? 2 : 1);
    if (digits.isEmpty())
        return std::nullopt;
    char32_t code = 0;
    for (const QChar c : digits) {
        const int digit = digitValue(c, base);
        if (digit < 0)
            return std::nullopt;
        code = code * char32_t(base) + char32_t(digit);
        if (code > 0x10FFFF)
            return std::nullopt;
    }
    if (code == 0 || (code >= 0xD800 && code <= 0xDFFF))
        return std::nullopt;
    return code;
}

} // namespace

const QStringList& VEHTMLString::latin1EntityNames() {
    static const QStringList names = {
        "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",
        "copy",   "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn",
        "sup2",   "sup3",   "acute",  "micro",  "para",   "middot", "cedil",  "sup1",   "ordm",
        "raquo",  "frac14", "frac12", "frac34", "iquest", "Agrave", "Aacute", "Acirc",  "Atilde",
        "Auml",   "Aring",  "AElig",  "Ccedil", "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave",
        "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde",
        "Ouml",   "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",
        "szlig",  "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil",
        "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",   "eth",
        "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide", "oslash", "ugrave",
        "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml",
    };
    return names;
}

QString VEHTMLString::kv_decodeHTMLCharacterEntities(const QString& text) {
    if (!text.contains(QLatin1Char('&')))
        return text;
    QString result;
    result.reserve(text.size());
    qsizetype at = 0;
    while (at < text.size()) {
        const qsizetype amp = text.indexOf(QLatin1Char('&'), at);
        if (amp < 0)
            break;
        result += QStringView(text).mid(at, amp - at);
        const qsizetype semicolon = text.indexOf(QLatin1Char(';'), amp + 1);
        if (semicolon < 0 || semicolon - amp > kLongestReference) {
            result += QLatin1Char('&');
            at = amp + 1;
            continue;
        }
        const QStringView body = QStringView(text).mid(amp + 1, semicolon - amp - 1);
        std::optional<char32_t> code = numericReference(body);
        if (!code) {
            const auto named = namedReferences().constFind(body.toString());
            if (named != namedReferences().constEnd())
                code = named.value();
        }
        if (!code) {
            result += QLatin1Char('&');
            at = amp + 1;
            continue;
        }
        result += QString::fromUcs4(&*code, 1);
        at = semicolon + 1;
    }
    result += QStringView(text).mid(at);
    return result;
}

QString VEHTMLString::kv_encodeHTMLCharacterEntities(const QString& text) {
    QString result = text;
    result.replace(QLatin1Char('&'), QStringLiteral("&amp;"));
    result.replace(QLatin1Char('<'), QStringLiteral("&lt;"));
    result.replace(QLatin1Char('>'), QStringLiteral("&gt;"));
    return result;
}
