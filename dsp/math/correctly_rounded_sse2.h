// Four-lane SSE2 forms of the chain's correctly rounded math (baseline x86-64):
//
//   __m128 crmath::exp(__m128 x)     e^x
//   __m128 crmath::tan(__m128 x)     tan x
//   __m128 crmath::exp10(__m128 x)   10^x
//   __m128 crmath::exp2(__m128 x)    2^x
//
// Every lane is bit for bit the scalar function of correctly_rounded.h on that lane: the lanes
// run the same double operations in the same order, two to a register (the templates of
// correctly_rounded_lanes.h over DoubleLanes2). Safe to include anywhere; the AVX2 forms are in
// correctly_rounded_avx2.h.
#pragma once

#include <emmintrin.h>

#include <cstdint>

#include "dsp/math/correctly_rounded.h"
#include "dsp/math/correctly_rounded_lanes.h"

namespace crmath {
namespace detail {
inline namespace ZELKO_TARGET_NAMESPACE {

// Two doubles in an SSE2 register, four floats in the register of their float lanes.
struct DoubleLanes2 : LaneRegisters<16> {
    [[gnu::always_inline]] static Register<Doubles> lowDoubles(const Floats& x) {
        return {_mm_cvtps_pd(x)};
    }
    [[gnu::always_inline]] static Register<Doubles> highDoubles(const Floats& x) {
        return {_mm_cvtps_pd(_mm_movehl_ps(x, x))};
    }
    [[gnu::always_inline]] static Register<Floats> floatsOf(const Doubles& low,
                                                            const Doubles& high) {
        return {_mm_movelh_ps(_mm_cvtpd_ps(low), _mm_cvtpd_ps(high))};
    }

    // table[index] in each lane: two scalar loads.
    [[gnu::always_inline]] static Register<Doubles> lookup(const double* table, const Bits& index) {
        return {_mm_loadh_pd(_mm_load_sd(table + index[0]), table + index[1])};
    }

    // The low 32 bits of each double, those of `low` first.
    [[gnu::always_inline]] static Register<LowWords> lowWords(const Doubles& low,
                                                              const Doubles& high) {
        return {LowWords(
            _mm_shuffle_ps(_mm_castpd_ps(low), _mm_castpd_ps(high), _MM_SHUFFLE(2, 0, 2, 0)))};
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
        return _mm_movemask_ps(_mm_castsi128_ps(__m128i(mask)));
    }
};

}  // namespace ZELKO_TARGET_NAMESPACE
}  // namespace detail

inline namespace ZELKO_TARGET_NAMESPACE {

inline __m128 exp(__m128 x) {
    using L = detail::DoubleLanes2;
    if (detail::allNearZero<L>(x)) return detail::expNearZero<L>(x).v;
    return detail::expFamily<L, crmath::exp>(x, detail::kExp).v;
}

inline __m128 exp10(__m128 x) {
    return detail::expFamily<detail::DoubleLanes2, crmath::exp10>(x, detail::kExp10).v;
}

inline __m128 exp2(__m128 x) {
    return detail::expFamily<detail::DoubleLanes2, crmath::exp2>(x, detail::kExp2).v;
}

inline __m128 tan(__m128 x) {
    return detail::tanLanes<detail::DoubleLanes2>(x).v;
}

}  // namespace ZELKO_TARGET_NAMESPACE
}  // namespace crmath
