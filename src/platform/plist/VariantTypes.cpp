#include "platform/plist/VariantTypes.h"

namespace koru::platform {

bool isIntegerType(int typeId) {
    switch (typeId) {
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::Short:
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
        return true;
    default:
        return isUnsignedIntegerType(typeId);
    }
}

bool isUnsignedIntegerType(int typeId) {
    switch (typeId) {
    case QMetaType::UChar:
    case QMetaType::UShort:
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        return true;
    default:
        return false;
    }
}

} // namespace koru::platform
