#pragma once

#include "ComplexVectorBase.h"
#include "SDFloatVector.h"

class SDDoubleComplexVector;

// A single-precision complex vector; its real views are SDFloatVectors.
class SDComplexVector : public koru::ComplexVectorBase<float, SDComplexVector, SDFloatVector> {
public:
    using ComplexVectorBase::ComplexVectorBase;
    // Same length, each half converted from double.
    explicit SDComplexVector(const SDDoubleComplexVector& other);
};

extern template class koru::ComplexVectorBase<float, SDComplexVector, SDFloatVector>;
