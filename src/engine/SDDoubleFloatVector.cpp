#include "SDDoubleFloatVector.h"

#include "SDFloatVector.h"

#include <algorithm>
#include <cmath>

SDDoubleFloatVector& SDDoubleFloatVector::scalarAdd(double value) {
    double* x = mData.get();
    for (std::uint64_t i = 0; i < mLength; ++i)
        x[i] += value;
    return *this;
}

SDDoubleFloatVector& SDDoubleFloatVector::threshold(double t) {
    double* x = mData.get();
    for (std::uint64_t i = 0; i < mLength; ++i)
        x[i] = x[i] < t ? t : x[i];
    return *this;
}

SDDoubleFloatVector& SDDoubleFloatVector::replaceUnnormalValuesWith(double value) {
    double* x = mData.get();
    for (std::uint64_t i = 0; i < mLength; ++i)
        x[i] = std::isnormal(x[i]) ? x[i] : value;
    return *this;
}

std::shared_ptr<SDFloatVector> SDDoubleFloatVector::singlePrecisionVector() const {
    if (mLength == 0)
        return nullptr;
    auto converted = std::make_shared<SDFloatVector>(mLength);
    float* out = converted->mutableData();
    for (std::uint64_t i = 0; i < mLength; ++i)
        out[i] = float(mData[i]);
    return converted;
}

void SDDoubleFloatVector::toNormalizedByteVector(std::int8_t* bytes) const {
    auto scaled = copy();
    scaled->normalize().scalarAdd(0.5).scalarMul(127.0);
    const double* x = scaled->data();
    // Normalised values reach 1.5 · 127 = 190.5 after the shift: hold them to the byte's range
    // instead of letting the conversion wrap.
    for (std::uint64_t i = 0; i < mLength; ++i) {
        const double value = std::isnan(x[i]) ? 0.0 : std::trunc(x[i]);
        bytes[i] = std::int8_t(std::clamp(value, -128.0, 127.0));
    }
}
