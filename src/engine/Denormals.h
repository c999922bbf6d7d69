#pragma once

#include <cstdint>

#if defined(__x86_64__) || defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace koru {

// Peak decays and filters running on silence sink into denormals, which cost the FPU dearly:
// the threads that run them treat denormals as zero. The setting belongs to the calling thread.
inline void flushDenormalsOnThisThread() {
#if defined(__x86_64__) || defined(__SSE__)
    constexpr unsigned kFlushToZero = 0x8000;
    constexpr unsigned kDenormalsAreZero = 0x0040;
    _mm_setcsr(_mm_getcsr() | kFlushToZero | kDenormalsAreZero);
#elif defined(__aarch64__)
    std::uint64_t fpcr = 0;
    asm volatile("mrs %0, fpcr" : "=r"(fpcr));
    constexpr std::uint64_t kFlushToZero = std::uint64_t(1) << 24;
    asm volatile("msr fpcr, %0" : : "r"(fpcr | kFlushToZero));
#endif
}

} // namespace koru
