// Lanes16: sixteen bands in one AVX-512 register, with the same per-lane rounding as float (see
// dsp/lanes.h), and its transcendental functions. Included only by the translation unit compiled
// for AVX-512, which the processor runs only after checking that the machine has it.
//
// All twelve bands fit one register, and the two signals of every detector pair two registers,
// where eight lanes need three: the band blocks issue a third fewer instructions a sample. Only
// AVX-512F is used. Comparisons give mask registers rather than lane masks; each operation below
// still returns, lane by lane, what the float form in dsp/lanes.h returns: max and min take the
// second operand wherever the comparison is false, NaN and equal zeros included.
#pragma once

#include <immintrin.h>

#include <cstddef>

#include "dsp/lanes.h"
#include "dsp/math/correctly_rounded_avx512.h"
#include "dsp/target.h"

#ifndef __AVX512F__
#error "dsp/lanes_avx512.h belongs to a translation unit compiled with -mavx512f"
#endif

inline namespace ZELKO_TARGET_NAMESPACE {

template <>
struct Lanes<16> {
    using Register = __m512;

    Register v;

    Lanes() : v(_mm512_setzero_ps()) {}
    Lanes(Register x) : v(x) {}
    // A float stands for the same value in every lane.
    Lanes(float x) : v(_mm512_set1_ps(x)) {}

    friend Lanes operator+(Lanes a, Lanes b) { return _mm512_add_ps(a.v, b.v); }
    friend Lanes operator-(Lanes a, Lanes b) { return _mm512_sub_ps(a.v, b.v); }
    friend Lanes operator*(Lanes a, Lanes b) { return _mm512_mul_ps(a.v, b.v); }
    friend Lanes operator/(Lanes a, Lanes b) { return _mm512_div_ps(a.v, b.v); }
    friend Lanes larger(Lanes a, Lanes b) { return _mm512_max_ps(a.v, b.v); }
    friend Lanes smaller(Lanes a, Lanes b) { return _mm512_min_ps(a.v, b.v); }
    friend Lanes squareRoot(Lanes a) { return _mm512_sqrt_ps(a.v); }
    friend Lanes onlyWhereAbove(Lanes x, float threshold, Lanes value) {
        return _mm512_maskz_mov_ps(greater(x.v, _mm512_set1_ps(threshold)), value.v);
    }
    friend Lanes zeroWhereNegative(Lanes x) {
        return _mm512_mask_mov_ps(x.v, greater(_mm512_setzero_ps(), x.v), _mm512_setzero_ps());
    }
    friend Lanes wherePositive(Lanes x, Lanes a, Lanes b) {
        return _mm512_mask_blend_ps(greater(x.v, _mm512_setzero_ps()), b.v, a.v);
    }
    // One gather: for sixteen lanes it takes less time than the loads.
    friend Lanes lookUp(const float* table, Lanes index) {
        return _mm512_i32gather_ps(_mm512_cvttps_epi32(index.v), table, 4);
    }
    friend bool anyAbove(Lanes x, float threshold) {
        return greater(x.v, _mm512_set1_ps(threshold)) != 0;
    }
    friend bool allWithin(Lanes x, Lanes low, Lanes high) {
        return (_mm512_cmp_ps_mask(low.v, x.v, _CMP_LE_OQ) &
                _mm512_cmp_ps_mask(x.v, high.v, _CMP_LE_OQ)) == 0xffff;
    }
    friend Lanes whereEqual(Lanes a, Lanes b, Lanes x, Lanes y) {
        return _mm512_mask_blend_ps(_mm512_cmp_ps_mask(a.v, b.v, _CMP_EQ_OQ), y.v, x.v);
    }
    friend bool allAtMost(Lanes x, Lanes limit) {
        return _mm512_cmp_ps_mask(x.v, limit.v, _CMP_LE_OQ) == 0xffff;
    }
    friend bool allEqual(Lanes a, Lanes b) {
        return _mm512_cmp_ps_mask(a.v, b.v, _CMP_EQ_OQ) == 0xffff;
    }
    friend Lanes rotatedUp(Lanes x) {
        const __m512i from =
            _mm512_setr_epi32(15, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14);
        return _mm512_permutexvar_ps(from, x.v);
    }
    friend Lanes withFirstLaneOf(Lanes a, Lanes b) { return _mm512_mask_blend_ps(1, a.v, b.v); }
    // The lower halves of a and b: (a0 ... a7, b0 ... b7).
    friend Lanes lowerHalves(Lanes a, Lanes b) {
        return _mm512_castpd_ps(_mm512_shuffle_f64x2(_mm512_castps_pd(a.v), _mm512_castps_pd(b.v),
                                                     _MM_SHUFFLE(1, 0, 1, 0)));
    }
    // The halves exchanged: (x8 ... x15, x0 ... x7).
    friend Lanes swappedHalves(Lanes x) {
        const __m512d d = _mm512_castps_pd(x.v);
        return _mm512_castpd_ps(_mm512_shuffle_f64x2(d, d, _MM_SHUFFLE(1, 0, 3, 2)));
    }

    static Lanes load(const float* p) { return _mm512_loadu_ps(p); }
    static void store(float* p, Lanes x) { _mm512_storeu_ps(p, x.v); }

  private:
    static __mmask16 greater(Register a, Register b) {
        return _mm512_cmp_ps_mask(a, b, _CMP_GT_OQ);
    }
};

template <>
struct LaneTraits<Lanes<16>> {
    static constexpr std::size_t width = 16;
    static Lanes<16> load(const float* p) { return Lanes<16>::load(p); }
    static void store(float* p, Lanes<16> v) { Lanes<16>::store(p, v); }
};

using Lanes16 = Lanes<16>;

// Inline in the followers' loops; its rare general path stays out of line.
__attribute__((always_inline)) inline Lanes16 exponential(Lanes16 x) {
    return crmath::exp(x.v);
}
inline Lanes16 tangent(Lanes16 x) {
    return crmath::tan(x.v);
}

}  // namespace ZELKO_TARGET_NAMESPACE
