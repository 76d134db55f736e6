// The lane types the building blocks are written over: `float` (one band, the scalar fallback
// and the reference), `Lanes4` (four bands in one SSE2 register) and, in its own translation unit,
// `Lanes8` (eight bands in one AVX2 register, dsp/lanes_avx2.h). `double` serves the sections of
// the noise reduction's precise detector.
//
// Every operation on a lane type rounds each lane exactly as the same operation on floats does:
// addps as addss, divps as divss, sqrtps as sqrtss, maxps as the conditional `a > b ? a : b`. So
// a block written once over its lane type gives every lane the bits of the block run on floats,
// as long as the expression is written in the same order. The float forms below are the
// definitions the vector forms reproduce.
#pragma once

#include <cmath>
#include <cstddef>

#include "dsp/math/correctly_rounded.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>

#include "dsp/math/correctly_rounded_sse2.h"
#define ZELKO_HAVE_SSE2 1
#endif

// a > b ? a : b
inline float larger(float a, float b) {
    return a > b ? a : b;
}
// a < b ? a : b
inline float smaller(float a, float b) {
    return a < b ? a : b;
}
inline float squareRoot(float a) {
    return std::sqrt(a);
}
// x > 0 ? 1 : 0
inline float oneWherePositive(float x) {
    return x > 0.0f ? 1.0f : 0.0f;
}
// x > threshold ? value : 0
inline float onlyWhereAbove(float x, float threshold, float value) {
    return x > threshold ? value : 0.0f;
}
// x < 0 ? 0 : x (NaN passes)
inline float zeroWhereNegative(float x) {
    return x < 0.0f ? 0.0f : x;
}
// one == 1 ? a : b, for one 0 or 1
inline float whereOne(float one, float a, float b) {
    return one > 0.0f ? a : b;
}
inline bool anyAbove(float x, float threshold) {
    return x > threshold;
}
// Same value in every lane (positive and negative zero count as equal).
inline bool allEqual(float a, float b) {
    return a == b;
}
// The lanes moved up by one place, the top lane wrapping round to lane 0:
// (v0, v1, ..., vw-1) -> (vw-1, v0, ..., vw-2). A float is its own single lane.
inline float rotatedUp(float x) {
    return x;
}
// `a` with its lane 0 taken from lane 0 of `b`.
inline float withFirstLaneOf(float, float b) {
    return b;
}
// The chain's correctly rounded transcendental functions; the vector forms give each lane the
// bits of these.
inline float exponential(float x) {
    return crmath::exp(x);
}
inline float tangent(float x) {
    return crmath::tan(x);
}

inline double larger(double a, double b) {
    return a > b ? a : b;
}

template <class V>
struct LaneTraits;

template <>
struct LaneTraits<float> {
    static constexpr std::size_t width = 1;
    static float load(const float* p) { return *p; }
    static void store(float* p, float v) { *p = v; }
};

#ifdef ZELKO_HAVE_SSE2

struct Lanes4 {
    __m128 v;

    Lanes4() : v(_mm_setzero_ps()) {}
    Lanes4(__m128 x) : v(x) {}
    // A float stands for the same value in every lane.
    Lanes4(float x) : v(_mm_set1_ps(x)) {}

    friend Lanes4 operator+(Lanes4 a, Lanes4 b) { return _mm_add_ps(a.v, b.v); }
    friend Lanes4 operator-(Lanes4 a, Lanes4 b) { return _mm_sub_ps(a.v, b.v); }
    friend Lanes4 operator*(Lanes4 a, Lanes4 b) { return _mm_mul_ps(a.v, b.v); }
    friend Lanes4 operator/(Lanes4 a, Lanes4 b) { return _mm_div_ps(a.v, b.v); }
    // maxps returns its second operand wherever the comparison is false, NaN and equal zeros
    // included, which is exactly the conditional's choice; minps likewise.
    friend Lanes4 larger(Lanes4 a, Lanes4 b) { return _mm_max_ps(a.v, b.v); }
    friend Lanes4 smaller(Lanes4 a, Lanes4 b) { return _mm_min_ps(a.v, b.v); }
    friend Lanes4 squareRoot(Lanes4 a) { return _mm_sqrt_ps(a.v); }
    friend Lanes4 oneWherePositive(Lanes4 x) {
        return _mm_and_ps(_mm_cmpgt_ps(x.v, _mm_setzero_ps()), _mm_set1_ps(1.0f));
    }
    friend Lanes4 onlyWhereAbove(Lanes4 x, float threshold, Lanes4 value) {
        return _mm_and_ps(_mm_cmpgt_ps(x.v, _mm_set1_ps(threshold)), value.v);
    }
    friend Lanes4 zeroWhereNegative(Lanes4 x) {
        return _mm_andnot_ps(_mm_cmplt_ps(x.v, _mm_setzero_ps()), x.v);
    }
    friend Lanes4 whereOne(Lanes4 one, Lanes4 a, Lanes4 b) {
        const __m128 mask = _mm_cmpgt_ps(one.v, _mm_setzero_ps());
        return _mm_or_ps(_mm_and_ps(mask, a.v), _mm_andnot_ps(mask, b.v));
    }
    friend bool anyAbove(Lanes4 x, float threshold) {
        return _mm_movemask_ps(_mm_cmpgt_ps(x.v, _mm_set1_ps(threshold))) != 0;
    }
    friend bool allEqual(Lanes4 a, Lanes4 b) {
        return _mm_movemask_ps(_mm_cmpeq_ps(a.v, b.v)) == 0xf;
    }
    friend Lanes4 rotatedUp(Lanes4 x) { return _mm_shuffle_ps(x.v, x.v, _MM_SHUFFLE(2, 1, 0, 3)); }
    friend Lanes4 withFirstLaneOf(Lanes4 a, Lanes4 b) { return _mm_move_ss(a.v, b.v); }
    // (a0, a1, b0, b1): the lower halves of a and b.
    friend Lanes4 lowerHalves(Lanes4 a, Lanes4 b) { return _mm_movelh_ps(a.v, b.v); }
    // (x2, x3, x0, x1)
    friend Lanes4 swappedHalves(Lanes4 x) {
        return _mm_shuffle_ps(x.v, x.v, _MM_SHUFFLE(1, 0, 3, 2));
    }
};

inline Lanes4 exponential(Lanes4 x) {
    return crmath::exp(x.v);
}
inline Lanes4 tangent(Lanes4 x) {
    return crmath::tan(x.v);
}

template <>
struct LaneTraits<Lanes4> {
    static constexpr std::size_t width = 4;
    static Lanes4 load(const float* p) { return _mm_loadu_ps(p); }
    static void store(float* p, Lanes4 v) { _mm_storeu_ps(p, v.v); }
};

#endif
