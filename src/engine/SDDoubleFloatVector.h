#pragma once

#include "RealVectorBase.h"

#include <QString>

#include <cstdint>
#include <memory>

class SDFloatVector;

// A double-precision real vector. Archived under its class name with the elements under "dat".
class SDDoubleFloatVector : public koru::RealVectorBase<double, SDDoubleFloatVector> {
public:
    static inline const QString kClassName = QStringLiteral("SDDoubleFloatVector");

    using RealVectorBase::RealVectorBase;

    QString archiveClassName() const override { return kClassName; }

    SDDoubleFloatVector& scalarAdd(double value);
    // Elements below t become t.
    SDDoubleFloatVector& threshold(double t);
    // Zero, subnormal, infinite and not-a-number elements become value.
    SDDoubleFloatVector& replaceUnnormalValuesWith(double value);
    // Null for an empty vector.
    std::shared_ptr<SDFloatVector> singlePrecisionVector() const;
    // Writes length() bytes: the normalised elements shifted by 0.5, scaled by 127, truncated
    // toward zero and held to the signed 8-bit range. The vector itself is not changed.
    void toNormalizedByteVector(std::int8_t* bytes) const;
};

extern template class koru::RealVectorBase<double, SDDoubleFloatVector>;
