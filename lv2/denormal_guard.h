// Flush-to-zero and denormals-are-zero for the span of one run call.
//
// Denormal numbers in the filter states cost many times the work of normal ones, and the chain
// relies on the processor's caller to flush them, as the VST shell does around every block. The
// guard sets both MXCSR bits and restores the host thread's whole control and status word.
#pragma once

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace lv2glue {

class DenormalGuard {
  public:
#if defined(__SSE__)
    DenormalGuard() : saved(_mm_getcsr()) {
        _mm_setcsr(saved | kFlushBits);
    }
    ~DenormalGuard() {
        _mm_setcsr(saved);
    }
#else
    DenormalGuard() = default;
#endif
    DenormalGuard(const DenormalGuard&) = delete;
    DenormalGuard& operator=(const DenormalGuard&) = delete;

  private:
#if defined(__SSE__)
    // Bit 15 (flush to zero) and bit 6 (denormals are zero).
    static constexpr unsigned kFlushBits = 0x8040;
    unsigned saved;
#endif
};

}  // namespace lv2glue
