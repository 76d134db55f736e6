// Eight-lane AVX2 forms of the chain's correctly rounded math:
//
//   __m256 crmath::exp(__m256 x)     e^x
//   __m256 crmath::tan(__m256 x)     tan x
//   __m256 crmath::exp10(__m256 x)   10^x
//   __m256 crmath::exp2(__m256 x)    2^x
//
// Every function carries __attribute__((target("avx2"))), so this header may be included from any
// translation unit, baseline ones too; call the functions only where AVX2 is known to be present
// (from other target("avx2") code or behind a CPU check). They never use FMA: each lane runs the
// scalar function's double operations in the same order, four to a register (the templates of
// correctly_rounded_lanes.h over DoubleLanes4), and is bit for bit the scalar result of
// correctly_rounded.h. crmath::tanQuads, at the end, takes the AVX2 or the SSE2 form, as its
// caller chose, for an array of four-lane vectors.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "dsp/math/correctly_rounded.h"
#include "dsp/math/correctly_rounded_lanes.h"
#include "dsp/math/correctly_rounded_sse2.h"

#define CRMATH_AVX2 __attribute__((target("avx2"), always_inline)) inline

// The operations of DoubleLanes4 are called from the templates of correctly_rounded_lanes.h,
// which have no target of their own until they are inlined into an AVX2 entry point; GCC refuses
// to force an AVX2 function into them, so these are only inline, small enough that GCC inlines
// them wherever the templates land.
#define CRMATH_AVX2_OPERATION __attribute__((target("avx2"))) static

namespace crmath {
namespace detail {
inline namespace ZELKO_TARGET_NAMESPACE {

// Four doubles in an AVX2 register, eight floats in the register of their float lanes.
struct DoubleLanes4 : LaneRegisters<32> {
    CRMATH_AVX2_OPERATION Register<Doubles> lowDoubles(const Floats& x) {
        return {_mm256_cvtps_pd(_mm256_castps256_ps128(x))};
    }
    CRMATH_AVX2_OPERATION Register<Doubles> highDoubles(const Floats& x) {
        return {_mm256_cvtps_pd(_mm256_extractf128_ps(x, 1))};
    }
    CRMATH_AVX2_OPERATION Register<Floats> floatsOf(const Doubles& low, const Doubles& high) {
        return {_mm256_set_m128(_mm256_cvtpd_ps(high), _mm256_cvtpd_ps(low))};
    }

    // table[index] in each lane: four loads, which take less time than a gather of four.
    CRMATH_AVX2_OPERATION Register<Doubles> lookup(const double* table, const Bits& index) {
        return {_mm256_setr_pd(table[index[0]], table[index[1]], table[index[2]], table[index[3]])};
    }

    // The low 32 bits of each double, in lane order.
    CRMATH_AVX2_OPERATION Register<LowWords> lowWords(const Doubles& low, const Doubles& high) {
        const __m256 words = _mm256_shuffle_ps(_mm256_castpd_ps(low), _mm256_castpd_ps(high),
                                               _MM_SHUFFLE(2, 0, 2, 0));
        return {LowWords(
            _mm256_permute4x64_epi64(_mm256_castps_si256(words), _MM_SHUFFLE(3, 1, 2, 0)))};
    }

    // Where a lane of `mask` is set, that lane of `a`, elsewhere that of `b`.
    CRMATH_AVX2_OPERATION Register<Doubles> select(const Bits& mask, const Doubles& a,
                                                   const Doubles& b) {
        return {_mm256_blendv_pd(b, a, _mm256_castsi256_pd(__m256i(mask)))};
    }
    CRMATH_AVX2_OPERATION Register<Floats> select(const Words& mask, const Floats& a,
                                                  const Floats& b) {
        return {_mm256_blendv_ps(b, a, _mm256_castsi256_ps(__m256i(mask)))};
    }

    CRMATH_AVX2_OPERATION int signs(const Words& mask) {
        return _mm256_movemask_ps(_mm256_castsi256_ps(__m256i(mask)));
    }
};

// e^x away from zero, out of line: the adaptive followers call exp every sample with arguments
// near zero, and only that short path belongs inline in their loops.
__attribute__((target("avx2"), noinline)) inline __m256 expAwayFromZero8(__m256 x) {
    return expFamily<DoubleLanes4, crmath::exp>(x, kExp).v;
}

}  // namespace ZELKO_TARGET_NAMESPACE
}  // namespace detail

inline namespace ZELKO_TARGET_NAMESPACE {

CRMATH_AVX2 __m256 exp(__m256 x) {
    using L = detail::DoubleLanes4;
    if (detail::allNearZero<L>(x)) return detail::expNearZero<L>(x).v;
    return detail::expAwayFromZero8(x);
}

CRMATH_AVX2 __m256 tan(__m256 x) {
    return detail::tanLanes<detail::DoubleLanes4>(x).v;
}

CRMATH_AVX2 __m256 exp10(__m256 x) {
    return detail::expFamily<detail::DoubleLanes4, crmath::exp10>(x, detail::kExp10).v;
}

CRMATH_AVX2 __m256 exp2(__m256 x) {
    return detail::expFamily<detail::DoubleLanes4, crmath::exp2>(x, detail::kExp2).v;
}

// tan x of `count` quads of lanes: eight lanes at a time with AVX2 where the caller has found
// that the processor has it, four at a time with SSE2 otherwise. Every lane is the scalar result
// either way.
__attribute__((target("avx2"))) inline void tanQuadsAvx2(const __m128* x, __m128* y,
                                                         std::size_t count) {
    std::size_t i = 0;
    for (; i + 2 <= count; i += 2) {
        const __m256 pair = crmath::tan(_mm256_set_m128(x[i + 1], x[i]));
        y[i] = _mm256_castps256_ps128(pair);
        y[i + 1] = _mm256_extractf128_ps(pair, 1);
    }
    if (i < count) y[i] = crmath::tan(x[i]);
}

inline void tanQuads(const __m128* x, __m128* y, std::size_t count, bool avx2) {
    if (avx2) return tanQuadsAvx2(x, y, count);
    for (std::size_t i = 0; i < count; ++i) y[i] = crmath::tan(x[i]);
}

}  // namespace ZELKO_TARGET_NAMESPACE
}  // namespace crmath

#undef CRMATH_AVX2_OPERATION
#undef CRMATH_AVX2
