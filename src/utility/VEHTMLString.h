#pragma once

#include <QString>
#include <QStringList>

// HTML character references in plain text.
class VEHTMLString {
public:
    // One pass from left to right: the named Latin-1 references (nbsp to yuml), amp, lt, gt,
    // apos, quot, and numeric references (&#169; &#x41;) of any valid code point. Malformed or
    // unknown references stay as they are, and a decoded "&amp;" never starts another reference.
    static QString kv_decodeHTMLCharacterEntities(const QString& text);
    // &, < and > become references; quotes are left alone.
    static QString kv_encodeHTMLCharacterEntities(const QString& text);

    // The 96 Latin-1 entity names, for the codes 160 to 255 in order.
    static const QStringList& latin1EntityNames();
};
