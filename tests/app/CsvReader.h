#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace koru::test {

// Reads CSV text back the way a spreadsheet does: fields in double quotes may hold the
// separator, line ends and doubled quotes. Every line must end in a line feed; nothing when the
// text is malformed (an unterminated quote, a last line without its line feed).
inline std::optional<std::vector<QStringList>> readCsv(const QString& text,
                                                       const QString& separator) {
    std::vector<QStringList> lines;
    QStringList fields;
    QString field;
    bool quoted = false;
    bool lineOpen = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        lineOpen = true;
        if (quoted) {
            if (c != u'"') {
                field += c;
            } else if (i + 1 < text.size() && text[i + 1] == u'"') {
                field += c;
                ++i;
            } else {
                quoted = false;
            }
        } else if (c == u'"' && field.isEmpty()) {
            quoted = true;
        } else if (QStringView(text).sliced(i).startsWith(separator)) {
            fields.push_back(field);
            field.clear();
            i += separator.size() - 1;
        } else if (c == u'\n') {
            fields.push_back(field);
            field.clear();
            lines.push_back(fields);
            fields.clear();
            lineOpen = false;
        } else {
            field += c;
        }
    }
    if (quoted || lineOpen)
        return std::nullopt;
    return lines;
}

} // namespace koru::test
