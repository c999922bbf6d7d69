#include "SDDoubleComplexVector.h"

std::shared_ptr<SDDoubleComplexVector> SDDoubleComplexVector::extendedVector() const {
    auto extended = std::make_shared<SDDoubleComplexVector>(2 * mLength);
    double* re = extended->mutableRealData();
    double* im = extended->mutableImagData();
    for (std::uint64_t k = 0; k < mLength; ++k) {
        re[k] = mReal[k];
        im[k] = mImag[k];
        re[mLength + k] = mReal[mLength - 1 - k];
        im[mLength + k] = mImag[mLength - 1 - k];
    }
    return extended;
}
