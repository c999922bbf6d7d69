#pragma once

#include <xxhash.h>

#include <cstddef>
#include <cstdint>

// The 64-bit content hash that keys in-process caches (vector paths, drawing data). It never
// leaves the process, so the algorithm may change between versions; only the seed is fixed.
inline constexpr std::uint64_t KOContentHashSeed = 0x6B6F6676;

inline std::uint64_t KOContentHash64(const void* bytes, std::size_t byteCount) {
    return XXH64(bytes, byteCount, KOContentHashSeed);
}
