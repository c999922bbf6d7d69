#pragma once

#include <cstddef>
#include <cstdint>

// The seed the float vectors hash their elements with.
inline constexpr std::uint64_t kVEHashSeed = 0x6B6F6676;

// A fast 64-bit hash of a memory block (XXH64). Used only inside one process (hash tables,
// content comparison shortcuts), so its values are never stored.
std::uint64_t VEHash64(const void* data, std::size_t length, std::uint64_t seed = kVEHashSeed);
