#pragma once

#include <cstdint>

namespace koru::framework {

// A run of whole samples of a vector: the first one and how many.
struct SampleRange {
    std::uint64_t location = 0;
    std::uint64_t length = 0;

    bool operator==(const SampleRange&) const = default;
};

} // namespace koru::framework
