#include "SDComplexVector.h"

#include "SDDoubleComplexVector.h"

#include <algorithm>

SDComplexVector::SDComplexVector(const SDDoubleComplexVector& other)
    : ComplexVectorBase(other.length()) {
    std::copy(other.realData(), other.realData() + mLength, mReal.get());
    std::copy(other.imagData(), other.imagData() + mLength, mImag.get());
}
