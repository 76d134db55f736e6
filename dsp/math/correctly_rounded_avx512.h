// Sixteen-lane AVX-512 forms of the chain's correctly rounded math:
//
//   __m512 crmath::exp(__m512 x)     e^x
//   __m512 crmath::tan(__m512 x)     tan x
//
// For the translation unit compiled for AVX-512F alone (dsp/band_engine_avx512.cpp). They never
// use FMA: each lane runs the scalar function's double operations in the same order, eight to a
// register (the templates of correctly_rounded_lanes.h over DoubleLanes8), and is bit for bit
// the scalar result of correctly_rounded.h.
#pragma once

#include <immintrin.h>

#include <cstdint>

#include "dsp/math/correctly_rounded.h"
#include "dsp/math/correctly_rounded_lanes.h"

#ifndef __AVX512F__
#error "dsp/math/correctly_rounded_avx512.h belongs to a translation unit compiled with -mavx512f"
#endif

namespace crmath {
namespace detail {
inline namespace ZELKO_TARGET_NAMESPACE {

// Eight doubles in an AVX-512 register, sixteen floats in the register of their float lanes.
struct DoubleLanes8 : LaneRegisters<64> {
    [[gnu::always_inline]] static Register<Doubles> lowDoubles(const Floats& x) {
        return {_mm512_cvtps_pd(_mm512_castps512_ps256(x))};
    }
    [[gnu::always_inline]] static Register<Doubles> highDoubles(const Floats& x) {
        return {_mm512_cvtps_pd(_mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(x), 1)))};
    }
    [[gnu::always_inline]] static Register<Floats> floatsOf(const Doubles& low,
                                                            const Doubles& high) {
        const __m512d lower = _mm512_castpd256_pd512(_mm256_castps_pd(_mm512_cvtpd_ps(low)));
        return {_mm512_castpd_ps(
            _mm512_insertf64x4(lower, _mm256_castps_pd(_mm512_cvtpd_ps(high)), 1))};
    }

    // table[index] in each lane: one gather.
    [[gnu::always_inline]] static Register<Doubles> lookup(const double* table, const Bits& index) {
        return {_mm512_i64gather_pd(__m512i(index), table, 8)};
    }

    // The low 32 bits of each double, those of `low` first.
    [[gnu::always_inline]] static Register<LowWords> lowWords(const Doubles& low,
                                                              const Doubles& high) {
        const __m512i even =
            _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
        return {LowWords(_mm512_permutex2var_epi32(__m512i(low), even, __m512i(high)))};
    }

    // Where a lane of `mask` is set, that lane of `a`, elsewhere that of `b`.
    [[gnu::always_inline]] static Register<Doubles> select(const Bits& mask, const Doubles& a,
                                                           const Doubles& b) {
        return {Doubles((mask & Bits(a)) | (~mask & Bits(b)))};
    }
    [[gnu::always_inline]] static Register<Floats> select(const Words& mask, const Floats& a,
                                                          const Floats& b) {
        return {Floats((mask & Words(a)) | (~mask & Words(b)))};
    }

    [[gnu::always_inline]] static int signs(const Words& mask) {
        return _mm512_cmplt_epi32_mask(__m512i(mask), _mm512_setzero_si512());
    }
};

// e^x away from zero, out of line: the adaptive followers call exp every sample with arguments
// near zero, and only that short path belongs inline in their loops.
[[gnu::noinline]] inline __m512 expAwayFromZero16(__m512 x) {
    return expFamily<DoubleLanes8, crmath::exp>(x, kExp).v;
}

}  // namespace ZELKO_TARGET_NAMESPACE
}  // namespace detail

inline namespace ZELKO_TARGET_NAMESPACE {

[[gnu::always_inline]] inline __m512 exp(__m512 x) {
    using L = detail::DoubleLanes8;
    if (detail::allNearZero<L>(x)) return detail::expNearZero<L>(x).v;
    return detail::expAwayFromZero16(x);
}

inline __m512 tan(__m512 x) {
    return detail::tanLanes<detail::DoubleLanes8>(x).v;
}

}  // namespace ZELKO_TARGET_NAMESPACE
}  // namespace crmath
