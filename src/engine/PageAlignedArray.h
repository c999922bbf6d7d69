#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <limits>
#include <memory>

namespace koru::platform {

inline constexpr std::size_t kPageSize = 4096;

struct PageAlignedFree {
    void operator()(void* pointer) const noexcept { std::free(pointer); }
};

// Storage that starts on a page boundary, so every vector routine and FFT sees the same
// (best) alignment whatever buffer it is handed.
template <typename T> using PageAlignedArray = std::unique_ptr<T[], PageAlignedFree>;

// Zero-filled page-aligned storage for count elements; null when count is 0 or memory is short.
template <typename T> PageAlignedArray<T> makePageAlignedZeros(std::size_t count) {
    if (count == 0 || count > std::numeric_limits<std::size_t>::max() / sizeof(T))
        return nullptr;
    void* pointer = nullptr;
    if (posix_memalign(&pointer, kPageSize, count * sizeof(T)) != 0)
        return nullptr;
    auto* elements = static_cast<T*>(pointer);
    std::fill(elements, elements + count, T{});
    return PageAlignedArray<T>(elements);
}

} // namespace koru::platform
