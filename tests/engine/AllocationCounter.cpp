#include "AllocationCounter.h"

#include <algorithm>
#include <cstdlib>
#include <new>

namespace {

thread_local std::uint64_t* tCounter = nullptr;

void* allocate(std::size_t size) {
    if (tCounter != nullptr) {
        ++*tCounter;
    }
    if (void* block = std::malloc(size == 0 ? 1 : size)) {
        return block;
    }
    throw std::bad_alloc();
}

void* allocateAligned(std::size_t size, std::align_val_t alignment) {
    if (tCounter != nullptr) {
        ++*tCounter;
    }
    const auto align = static_cast<std::size_t>(alignment);
    const std::size_t rounded = (std::max<std::size_t>(size, 1) + align - 1) / align * align;
    if (void* block = std::aligned_alloc(align, rounded)) {
        return block;
    }
    throw std::bad_alloc();
}

} // namespace

namespace koru::test {

AllocationCounter::AllocationCounter() : mPrevious(tCounter) {
    tCounter = &mCount;
}

AllocationCounter::~AllocationCounter() {
    tCounter = mPrevious;
}

} // namespace koru::test

void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
    return allocateAligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return allocateAligned(size, alignment);
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete[](void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete(void* block, std::align_val_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, std::align_val_t) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t, std::align_val_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept {
    std::free(block);
}
