#pragma once

#include "SDFloatVector.h"

#include <QString>

#include <memory>

// The application's own float vector: an SDFloatVector under its own archive class name.
class KOFloatVector : public SDFloatVector {
public:
    static inline const QString kClassName = QStringLiteral("KOFloatVector");

    using SDFloatVector::SDFloatVector;

    static std::shared_ptr<KOFloatVector> vectorWithLength(std::uint64_t n) {
        return std::make_shared<KOFloatVector>(n);
    }
    static std::shared_ptr<KOFloatVector> vectorWithData(const float* data, std::uint64_t n) {
        return std::make_shared<KOFloatVector>(data, n);
    }

    QString archiveClassName() const override { return kClassName; }

protected:
    bool acceptsClassOf(const koru::platform::Archivable& other) const override;
};
