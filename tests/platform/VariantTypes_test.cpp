#include "platform/plist/VariantTypes.h"

#include "platform/archive/KeyedArchive.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/plist/PropertyList.h"

#include <QChar>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <limits>

using koru::platform::isInteger;
using koru::platform::KeyedUnarchiver;
using koru::platform::PlistFormat;
using koru::platform::PropertyList;
using koru::platform::UserDefaults;

namespace {

struct IntegerCase {
    const char* name;
    QVariant value;
    // The value in decimal digits; null for a value that is no integer.
    const char* digits;
};

QString digitsOf(const QVariant& value) {
    return koru::platform::isUnsignedIntegerType(value.typeId())
               ? QString::number(value.toULongLong())
               : QString::number(value.toLongLong());
}

// One rule for every store: the archive reads exactly the integers (those that fit its signed
// result), the defaults give their digits back, and a property-list round trip keeps the kind
// and the value.
TEST(VariantTypes, OneIntegerRuleForEveryStore) {
    const IntegerCase cases[] = {
        {"char", QVariant::fromValue<char>('A'), "65"},
        {"signed char", QVariant::fromValue<signed char>(-5), "-5"},
        {"unsigned char", QVariant::fromValue<unsigned char>(200), "200"},
        {"short", QVariant::fromValue<short>(-300), "-300"},
        {"unsigned short", QVariant::fromValue<unsigned short>(60000), "60000"},
        {"int", QVariant(-7), "-7"},
        {"unsigned int", QVariant(4000000000u), "4000000000"},
        {"long", QVariant::fromValue<long>(-123456789012L), "-123456789012"},
        {"unsigned long", QVariant::fromValue<unsigned long>(42UL), "42"},
        {"qint64 lowest", QVariant(std::numeric_limits<qint64>::min()), "-9223372036854775808"},
        {"quint64 highest", QVariant(std::numeric_limits<quint64>::max()), "18446744073709551615"},
        {"bool", QVariant(true), nullptr},
        {"float", QVariant(2.0f), nullptr},
        {"double", QVariant(3.0), nullptr},
        {"digits as text", QVariant(QStringLiteral("42")), nullptr},
        {"QChar", QVariant::fromValue(QChar(u'4')), nullptr},
        {"data", QVariant(QByteArray("4")), nullptr},
        {"nothing", QVariant(), nullptr},
    };
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    UserDefaults defaults(folder.filePath(QStringLiteral("defaults.plist")));
    const QString key = QStringLiteral("value");

    for (const IntegerCase& c : cases) {
        SCOPED_TRACE(c.name);
        const bool integer = c.digits != nullptr;
        EXPECT_EQ(isInteger(c.value), integer);

        bool fitsSigned = false;
        const qint64 expected = integer ? QString::fromLatin1(c.digits).toLongLong(&fitsSigned) : 0;
        KeyedUnarchiver coder({{key, c.value}});
        const qint64 decoded = coder.decodeInt(key, -1);
        EXPECT_EQ(coder.hasError(), !fitsSigned) << coder.error().toStdString();
        if (fitsSigned) {
            EXPECT_EQ(decoded, expected);
        }

        if (integer) {
            defaults.setObject(key, c.value);
            EXPECT_EQ(defaults.stringForKey(key), QString::fromLatin1(c.digits));
        }

        if (!PropertyList::validate(c.value))
            continue;
        for (const PlistFormat format : {PlistFormat::Xml, PlistFormat::Binary}) {
            const QVariantMap stored{{key, c.value}};
            const auto read = PropertyList::parse(PropertyList::serialize(stored, format));
            ASSERT_TRUE(read.ok()) << read.error.toStdString();
            const QVariant back = read.value.toMap().value(key);
            EXPECT_EQ(isInteger(back), integer) << "format " << int(format);
            if (integer) {
                EXPECT_EQ(digitsOf(back), QString::fromLatin1(c.digits));
            }
        }
    }
}

} // namespace
