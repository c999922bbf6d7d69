#pragma once

#include "ComplexVectorBase.h"
#include "SDDoubleFloatVector.h"

#include <memory>

// A double-precision complex vector; its real views are SDDoubleFloatVectors.
class SDDoubleComplexVector
    : public koru::ComplexVectorBase<double, SDDoubleComplexVector, SDDoubleFloatVector> {
public:
    using ComplexVectorBase::ComplexVectorBase;

    // 2L elements: this vector, then this vector mirrored (element L + k = element L - 1 - k),
    // without conjugation.
    std::shared_ptr<SDDoubleComplexVector> extendedVector() const;
};

extern template class koru::ComplexVectorBase<double, SDDoubleComplexVector, SDDoubleFloatVector>;
