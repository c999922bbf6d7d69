#pragma once

namespace koru::platform {

// Complex values stored as two separate arrays, real parts and imaginary parts.
template <typename T> struct SplitComplex {
    T* realp = nullptr;
    T* imagp = nullptr;
};

} // namespace koru::platform
