#pragma once

#include <QVariant>

namespace koru::platform {

// The one answer to "does this stored value hold an integer?" for every store that keeps values
// as property lists (archives, defaults) and for anyone reading values back from one.
//
// An integer is any integral type of any width and signedness, the char types included: the
// property-list writer stores all of them as integer nodes, which read back as qint64 (or quint64
// above the signed range), so a value counts as the same kind before and after a round trip.
// bool is no integer: it has a node of its own and reads back as bool. Floating-point types,
// QChar and text are no integers either.
bool isIntegerType(int typeId);
// The unsigned subset of isIntegerType.
bool isUnsignedIntegerType(int typeId);

inline bool isInteger(const QVariant& value) {
    return isIntegerType(value.typeId());
}

} // namespace koru::platform
