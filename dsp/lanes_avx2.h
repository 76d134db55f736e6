// Lanes8: eight bands in one AVX2 register, with the same per-lane rounding as float (see
// dsp/lanes.h). Included only by the translation unit compiled for AVX2, which the processor
// runs only after checking that the machine has it.
#pragma once

#include <immintrin.h>

#include <cstddef>

#include "dsp/lanes.h"
#include "dsp/math/correctly_rounded_avx2.h"

#ifndef __AVX2__
#error "dsp/lanes_avx2.h belongs to a translation unit compiled with -mavx2"
#endif

struct Lanes8 {
    __m256 v;

    Lanes8() : v(_mm256_setzero_ps()) {}
    Lanes8(__m256 x) : v(x) {}
    // A float stands for the same value in every lane.
    Lanes8(float x) : v(_mm256_set1_ps(x)) {}

    friend Lanes8 operator+(Lanes8 a, Lanes8 b) { return _mm256_add_ps(a.v, b.v); }
    friend Lanes8 operator-(Lanes8 a, Lanes8 b) { return _mm256_sub_ps(a.v, b.v); }
    friend Lanes8 operator*(Lanes8 a, Lanes8 b) { return _mm256_mul_ps(a.v, b.v); }
    friend Lanes8 operator/(Lanes8 a, Lanes8 b) { return _mm256_div_ps(a.v, b.v); }
    // vmaxps and vminps choose like maxps and minps: the second operand wherever the comparison
    // is false.
    friend Lanes8 larger(Lanes8 a, Lanes8 b) { return _mm256_max_ps(a.v, b.v); }
    friend Lanes8 smaller(Lanes8 a, Lanes8 b) { return _mm256_min_ps(a.v, b.v); }
    friend Lanes8 squareRoot(Lanes8 a) { return _mm256_sqrt_ps(a.v); }
    // Ordered, non-signalling comparisons: false where either side is NaN, as in C.
    friend Lanes8 oneWherePositive(Lanes8 x) {
        return _mm256_and_ps(_mm256_cmp_ps(x.v, _mm256_setzero_ps(), _CMP_GT_OQ),
                             _mm256_set1_ps(1.0f));
    }
    friend Lanes8 onlyWhereAbove(Lanes8 x, float threshold, Lanes8 value) {
        return _mm256_and_ps(_mm256_cmp_ps(x.v, _mm256_set1_ps(threshold), _CMP_GT_OQ), value.v);
    }
    friend Lanes8 zeroWhereNegative(Lanes8 x) {
        return _mm256_andnot_ps(_mm256_cmp_ps(x.v, _mm256_setzero_ps(), _CMP_LT_OQ), x.v);
    }
    friend Lanes8 whereOne(Lanes8 one, Lanes8 a, Lanes8 b) {
        return _mm256_blendv_ps(b.v, a.v, _mm256_cmp_ps(one.v, _mm256_setzero_ps(), _CMP_GT_OQ));
    }
    friend bool anyAbove(Lanes8 x, float threshold) {
        return _mm256_movemask_ps(_mm256_cmp_ps(x.v, _mm256_set1_ps(threshold), _CMP_GT_OQ)) != 0;
    }
    friend bool allEqual(Lanes8 a, Lanes8 b) {
        return _mm256_movemask_ps(_mm256_cmp_ps(a.v, b.v, _CMP_EQ_OQ)) == 0xff;
    }
    friend Lanes8 rotatedUp(Lanes8 x) {
        return _mm256_permutevar8x32_ps(x.v, _mm256_setr_epi32(7, 0, 1, 2, 3, 4, 5, 6));
    }
    friend Lanes8 withFirstLaneOf(Lanes8 a, Lanes8 b) { return _mm256_blend_ps(a.v, b.v, 1); }
    // (a0 ... a3, b0 ... b3): the lower halves of a and b.
    friend Lanes8 lowerHalves(Lanes8 a, Lanes8 b) { return _mm256_permute2f128_ps(a.v, b.v, 0x20); }
    // (x4 ... x7, x0 ... x3)
    friend Lanes8 swappedHalves(Lanes8 x) { return _mm256_permute2f128_ps(x.v, x.v, 0x01); }
};

// Inline in the followers' loops; its rare general path stays out of line.
__attribute__((always_inline)) inline Lanes8 exponential(Lanes8 x) {
    return crmath::exp(x.v);
}
inline Lanes8 tangent(Lanes8 x) {
    return crmath::tan(x.v);
}

template <>
struct LaneTraits<Lanes8> {
    static constexpr std::size_t width = 8;
    static Lanes8 load(const float* p) { return _mm256_loadu_ps(p); }
    static void store(float* p, Lanes8 v) { _mm256_storeu_ps(p, v.v); }
};
