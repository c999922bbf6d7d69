#pragma once

#include "platform/exceptions/FrameworkException.h"

namespace koru::platform {

// A broken internal rule of a model object (a size out of bounds, arrays out of step). Raised
// instead of aborting, so a caller restoring stored data can catch it and carry on.
class InternalInconsistencyException : public FrameworkException {
public:
    static constexpr const char* kName = "InternalInconsistencyException";

    explicit InternalInconsistencyException(const QString& message)
        : FrameworkException(QString::fromLatin1(kName), message) {}

    // Raises with `message` unless `condition` holds.
    static void check(bool condition, const char* message) {
        if (!condition)
            throw InternalInconsistencyException(QString::fromUtf8(message));
    }
};

} // namespace koru::platform
