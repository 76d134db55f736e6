// Flush-to-zero and denormals-are-zero for the span of one audio block, set by whichever plug-in
// format calls the processor.
//
// Denormal numbers in the filter states cost up to a hundred times the work of a normal number.
// Setting both MXCSR bits around a block is the plug-in's whole handling of them: no sample is
// flushed by hand. The guard restores the caller's complete control and status word, also when
// the block is left by an exception, so the host's thread sees no change.
#pragma once

#if defined(__SSE__) || defined(_M_X64) || defined(_M_AMD64)
#include <xmmintrin.h>
#define ZELKO_HAVE_MXCSR 1
#endif

// Bit 15 (flush to zero) and bit 6 (denormals are zero) of MXCSR.
inline constexpr unsigned kFlushDenormalsBits = 0x8040;

class DenormalFlushGuard {
  public:
#if defined(ZELKO_HAVE_MXCSR)
    DenormalFlushGuard() : saved(_mm_getcsr()) {
        _mm_setcsr(saved | kFlushDenormalsBits);
    }
    ~DenormalFlushGuard() {
        _mm_setcsr(saved);
    }
#else
    DenormalFlushGuard() = default;
#endif
    DenormalFlushGuard(const DenormalFlushGuard&) = delete;
    DenormalFlushGuard& operator=(const DenormalFlushGuard&) = delete;

  private:
#if defined(ZELKO_HAVE_MXCSR)
    unsigned saved;
#endif
};
