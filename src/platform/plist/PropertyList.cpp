#include "platform/plist/PropertyList.h"

#include "platform/plist/VariantTypes.h"

#include <QFile>
#include <QTimeZone>
#include <QXmlStreamReader>

#include <plist/plist.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <locale.h>
#include <memory>

namespace koru::platform {

namespace {

// libplist formats reals with printf and reads them with atof, both of which follow the numeric
// locale; a decimal-comma locale would turn "0.5" into 0. Switching this thread alone to "C"
// leaves every other thread's locale alone.
class CLocaleScope {
public:
    CLocaleScope() : m_previous(uselocale(cLocale())) {}
    ~CLocaleScope() { uselocale(m_previous); }
    CLocaleScope(const CLocaleScope&) = delete;
    CLocaleScope& operator=(const CLocaleScope&) = delete;

private:
    static locale_t cLocale() {
        static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
        return c;
    }
    locale_t m_previous;
};

struct PlistDeleter {
    void operator()(void* node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

// Property-list dates count seconds from 2001-01-01T00:00:00Z.
constexpr qint64 referenceDateMSecs = 978307200000LL;

QString place(const QString& where) {
    return where.isEmpty() ? QStringLiteral("/") : where;
}

// plist_new_uint() always makes a signed 64-bit integer; only the XML reader marks a value as
// unsigned 64-bit, so values above the signed range are made by parsing them.
plist_t newUnsignedNode(quint64 value) {
    const QByteArray xml =
        "<plist version=\"1.0\"><integer>" + QByteArray::number(value) + "</integer></plist>";
    plist_t node = nullptr;
    plist_from_xml(xml.constData(), static_cast<uint32_t>(xml.size()), &node);
    return node;
}

// A value above the signed range is either unsigned or a negative number; a fresh signed node
// with the same bits compares equal only in the second case.
QVariant integerValue(plist_t node) {
    uint64_t bits = 0;
    plist_get_uint_val(node, &bits);
    if (bits <= static_cast<uint64_t>(std::numeric_limits<qint64>::max()))
        return QVariant::fromValue(static_cast<qint64>(bits));
    const PlistPtr signedNode(plist_new_uint(bits));
    if (plist_compare_node_value(signedNode.get(), node))
        return QVariant::fromValue(static_cast<qint64>(bits));
    return QVariant::fromValue(static_cast<quint64>(bits));
}

// The library keeps a date as seconds and a fraction of unsigned microseconds, losing the sign
// of the fraction when the seconds are zero; comparing with a positive date settles it.
QVariant dateValue(plist_t node) {
    int32_t seconds = 0;
    int32_t micros = 0;
    plist_get_date_val(node, &seconds, &micros);
    bool negative = seconds < 0;
    if (seconds == 0 && micros != 0) {
        const PlistPtr positive(plist_new_date(0, micros));
        negative = !plist_compare_node_value(positive.get(), node);
    }
    const qint64 magnitudeMicros = std::abs(static_cast<qint64>(micros));
    const qint64 totalMicros =
        qint64(seconds) * 1000000 + (negative ? -magnitudeMicros : magnitudeMicros);
    const auto msecs = std::llround(static_cast<double>(totalMicros) / 1000.0);
    return QDateTime::fromMSecsSinceEpoch(referenceDateMSecs + msecs, QTimeZone::utc());
}

class TreeBuilder {
public:
    explicit TreeBuilder(PlistFormat format) : m_format(format) {}

    PlistPtr build(const QVariant& value) { return PlistPtr(node(value, QString())); }
    const QString& error() const { return m_error; }

private:
    plist_t fail(const QString& where, const QString& what) {
        if (m_error.isEmpty())
            m_error = QStringLiteral("cannot store value at %1: %2").arg(place(where), what);
        return nullptr;
    }

    plist_t node(const QVariant& value, const QString& where) {
        switch (value.typeId()) {
        case QMetaType::QVariantMap:
            return dictionary(value.toMap(), where);
        case QMetaType::QVariantHash: {
            const QVariantHash hash = value.toHash();
            QVariantMap map;
            for (auto it = hash.constBegin(); it != hash.constEnd(); ++it)
                map.insert(it.key(), it.value());
            return dictionary(map, where);
        }
        case QMetaType::QVariantList:
        case QMetaType::QStringList:
            return array(value.toList(), where);
        case QMetaType::QString:
            return string(value.toString(), where);
        case QMetaType::Bool:
            return plist_new_bool(value.toBool() ? 1 : 0);
        case QMetaType::Float:
        case QMetaType::Double:
            return plist_new_real(value.toDouble());
        case QMetaType::QByteArray: {
            const QByteArray data = value.toByteArray();
            return plist_new_data(data.constData(), static_cast<uint64_t>(data.size()));
        }
        case QMetaType::QDateTime:
            return date(value.toDateTime(), where);
        default:
            break;
        }
        if (isUnsignedIntegerType(value.typeId()))
            return unsignedInteger(value.toULongLong());
        if (isIntegerType(value.typeId()))
            return plist_new_uint(static_cast<uint64_t>(value.toLongLong()));
        const char* typeName = value.typeName();
        return fail(where, QStringLiteral("unsupported type %1")
                               .arg(typeName ? QString::fromLatin1(typeName)
                                             : QStringLiteral("(invalid)")));
    }

    plist_t dictionary(const QVariantMap& map, const QString& where) {
        PlistPtr dict(plist_new_dict());
        for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
            if (it.key().contains(QChar(0)))
                return fail(where, QStringLiteral("a key contains a NUL character"));
            plist_t child = node(it.value(), where + QLatin1Char('/') + it.key());
            if (!child)
                return nullptr;
            plist_dict_set_item(dict.get(), it.key().toUtf8().constData(), child);
        }
        return dict.release();
    }

    plist_t array(const QVariantList& list, const QString& where) {
        PlistPtr array(plist_new_array());
        for (qsizetype i = 0; i < list.size(); ++i) {
            plist_t child = node(list.at(i), where + QLatin1Char('/') + QString::number(i));
            if (!child)
                return nullptr;
            plist_array_append_item(array.get(), child);
        }
        return array.release();
    }

    plist_t string(const QString& text, const QString& where) {
        if (text.contains(QChar(0)))
            return fail(where, QStringLiteral("the string contains a NUL character"));
        return plist_new_string(text.toUtf8().constData());
    }

    plist_t unsignedInteger(quint64 value) {
        if (value <= static_cast<quint64>(std::numeric_limits<qint64>::max()))
            return plist_new_uint(value);
        return newUnsignedNode(value);
    }

    plist_t date(const QDateTime& dateTime, const QString& where) {
        if (!dateTime.isValid())
            return fail(where, QStringLiteral("invalid date"));
        qint64 msecs = dateTime.toMSecsSinceEpoch() - referenceDateMSecs;
        // The XML form has whole seconds; dropping the fraction here rounds down in time
        // (the library would round towards 2001 instead).
        if (m_format == PlistFormat::Xml)
            msecs = msecs >= 0 ? msecs / 1000 * 1000 : -((-msecs + 999) / 1000) * 1000;
        const qint64 seconds = msecs / 1000;
        if (seconds < std::numeric_limits<int32_t>::min() ||
            seconds > std::numeric_limits<int32_t>::max())
            return fail(where, QStringLiteral("date %1 is out of range")
                                   .arg(dateTime.toUTC().toString(Qt::ISODate)));
        const auto micros = static_cast<int32_t>((msecs % 1000) * 1000);
        return plist_new_date(static_cast<int32_t>(seconds), micros);
    }

    PlistFormat m_format;
    QString m_error;
};

class TreeReader {
public:
    QVariant read(plist_t root) { return value(root, QString()); }
    const QString& error() const { return m_error; }

private:
    QVariant fail(const QString& where, const QString& what) {
        if (m_error.isEmpty())
            m_error = QStringLiteral("unreadable value at %1: %2").arg(place(where), what);
        return {};
    }

    QVariant value(plist_t node, const QString& where) {
        switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN: {
            uint8_t flag = 0;
            plist_get_bool_val(node, &flag);
            return QVariant(flag != 0);
        }
        case PLIST_UINT:
            return integerValue(node);
        case PLIST_REAL: {
            double real = 0.0;
            plist_get_real_val(node, &real);
            return QVariant(real);
        }
        case PLIST_STRING: {
            uint64_t length = 0;
            const char* text = plist_get_string_ptr(node, &length);
            return QVariant(QString::fromUtf8(text, static_cast<qsizetype>(length)));
        }
        case PLIST_DATA: {
            uint64_t length = 0;
            const char* data = plist_get_data_ptr(node, &length);
            return QVariant(QByteArray(data, static_cast<qsizetype>(length)));
        }
        case PLIST_DATE:
            return dateValue(node);
        case PLIST_ARRAY:
            return array(node, where);
        case PLIST_DICT:
            return dictionary(node, where);
        case PLIST_UID: {
            uint64_t uid = 0;
            plist_get_uid_val(node, &uid);
            return QVariantMap{{QStringLiteral("CF$UID"), QVariant::fromValue(qint64(uid))}};
        }
        default:
            return fail(where, QStringLiteral("unknown node type"));
        }
    }

    QVariant array(plist_t node, const QString& where) {
        QVariantList list;
        const uint32_t count = plist_array_get_size(node);
        list.reserve(count);
        for (uint32_t i = 0; i < count; ++i) {
            list.append(value(plist_array_get_item(node, i),
                              where + QLatin1Char('/') + QString::number(i)));
            if (!m_error.isEmpty())
                return {};
        }
        return list;
    }

    QVariant dictionary(plist_t node, const QString& where) {
        QVariantMap map;
        plist_dict_iter iter = nullptr;
        plist_dict_new_iter(node, &iter);
        while (iter) {
            char* key = nullptr;
            plist_t child = nullptr;
            plist_dict_next_item(node, iter, &key, &child);
            if (!child) {
                std::free(key);
                break;
            }
            const QString name = QString::fromUtf8(key);
            std::free(key);
            map.insert(name, value(child, where + QLatin1Char('/') + name));
            if (!m_error.isEmpty())
                break;
        }
        std::free(iter);
        if (!m_error.isEmpty())
            return {};
        return map;
    }

    QString m_error;
};

bool looksLikeXml(const QByteArray& bytes) {
    qsizetype i = bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (i < bytes.size() && QChar::isSpace(static_cast<unsigned char>(bytes.at(i))))
        ++i;
    return i < bytes.size() && bytes.at(i) == '<';
}

// libplist's XML reader is lenient with broken documents; a strict well-formedness check first
// gives a clear message with the place of the fault.
QString xmlFault(const QByteArray& bytes) {
    QXmlStreamReader reader(bytes);
    QString rootName;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement() && rootName.isEmpty())
            rootName = reader.name().toString();
    }
    if (reader.hasError())
        return QStringLiteral("malformed XML property list: %1 (line %2, column %3)")
            .arg(reader.errorString())
            .arg(reader.lineNumber())
            .arg(reader.columnNumber());
    if (rootName != QLatin1String("plist"))
        return QStringLiteral("XML document is not a property list (root element \"%1\")")
            .arg(rootName);
    return {};
}

PlistReadResult convert(plist_t root, const QString& whenNull) {
    if (!root)
        return {QVariant(), whenNull};
    const PlistPtr owner(root);
    TreeReader reader;
    QVariant value = reader.read(root);
    if (!reader.error().isEmpty())
        return {QVariant(), reader.error()};
    return {value, QString()};
}

PlistReadResult parseBinary(const QByteArray& bytes) {
    if (!bytes.startsWith("bplist00"))
        return {QVariant(), QStringLiteral("unsupported binary property-list version \"%1\"")
                                .arg(QString::fromLatin1(bytes.left(8)))};
    plist_t root = nullptr;
    {
        const CLocaleScope locale;
        plist_from_bin(bytes.constData(), static_cast<uint32_t>(bytes.size()), &root);
    }
    return convert(root, QStringLiteral("truncated or malformed binary property list"));
}

PlistReadResult parseXml(const QByteArray& bytes) {
    if (const QString fault = xmlFault(bytes); !fault.isEmpty())
        return {QVariant(), fault};
    // libplist does not expect a byte-order mark.
    const qsizetype skip = bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    plist_t root = nullptr;
    {
        const CLocaleScope locale;
        plist_from_xml(bytes.constData() + skip, static_cast<uint32_t>(bytes.size() - skip), &root);
    }
    return convert(root, QStringLiteral("malformed XML property list (no readable value)"));
}

} // namespace

PlistReadResult PropertyList::parse(const QByteArray& bytes) {
    if (bytes.isEmpty())
        return {QVariant(), QStringLiteral("no data (empty)")};
    if (static_cast<quint64>(bytes.size()) > std::numeric_limits<uint32_t>::max())
        return {QVariant(), QStringLiteral("too large for a property list")};
    if (bytes.startsWith("bplist"))
        return parseBinary(bytes);
    if (looksLikeXml(bytes))
        return parseXml(bytes);
    return {QVariant(), QStringLiteral("not a property list (neither XML nor binary)")};
}

PlistReadResult PropertyList::read(const QString& path) {
    QFile file(path);
    if (!file.exists())
        return {QVariant(), QStringLiteral("%1: no such file").arg(path)};
    if (!file.open(QIODevice::ReadOnly))
        return {QVariant(), QStringLiteral("%1: cannot open: %2").arg(path, file.errorString())};
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return {QVariant(), QStringLiteral("%1: cannot read: %2").arg(path, file.errorString())};
    if (bytes.isEmpty())
        return {QVariant(), QStringLiteral("%1: the file is empty").arg(path)};
    PlistReadResult result = parse(bytes);
    if (!result.ok())
        result.error = QStringLiteral("%1: %2").arg(path, result.error);
    return result;
}

QByteArray PropertyList::serialize(const QVariant& value, PlistFormat format, QString* error) {
    TreeBuilder builder(format);
    const PlistPtr root = builder.build(value);
    if (!root) {
        if (error)
            *error = builder.error();
        return {};
    }
    const CLocaleScope locale;
    char* text = nullptr;
    uint32_t length = 0;
    if (format == PlistFormat::Xml) {
        plist_to_xml(root.get(), &text, &length);
        QByteArray bytes(text, length);
        plist_to_xml_free(text);
        return bytes;
    }
    plist_to_bin(root.get(), &text, &length);
    QByteArray bytes(text, length);
    plist_to_bin_free(text);
    return bytes;
}

bool PropertyList::validate(const QVariant& value, QString* error) {
    TreeBuilder builder(PlistFormat::Binary);
    if (builder.build(value))
        return true;
    if (error)
        *error = builder.error();
    return false;
}

bool PropertyList::write(const QString& path, const QVariant& value, PlistFormat format,
                         QString* error) {
    QString why;
    const QByteArray bytes = serialize(value, format, &why);
    if (bytes.isEmpty()) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, why.isEmpty() ? "serialising failed" : why);
        return false;
    }
    return writeFileAtomically(path, bytes, error);
}

} // namespace koru::platform
