#pragma once

#include <new>

// A float buffer's storage could not be allocated. A std::bad_alloc, so generic handlers of
// allocation failures see it too.
class KOAllocationException : public std::bad_alloc {
public:
    const char* what() const noexcept override { return "KOFloatBuffer could not allocate memory"; }
};
