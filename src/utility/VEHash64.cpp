#include "utility/VEHash64.h"

#include <xxhash.h>

std::uint64_t VEHash64(const void* data, std::size_t length, std::uint64_t seed) {
    return XXH64(data, length, seed);
}
