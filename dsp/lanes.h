// The lane types the building blocks are written over: `float` (one band, the scalar fallback
// and the reference), `Lanes4` (four bands in one SSE2 register) and, each in its own translation
// unit, `Lanes8` (eight bands in one AVX2 register, dsp/lanes_avx2.h) and `Lanes16` (sixteen in
// one AVX-512 register, dsp/lanes_avx512.h), all one template `Lanes<W>`.
// `double` serves the sections of the noise reduction's precise detector.
//
// Every operation on a lane type rounds each lane exactly as the same operation on floats does:
// addps as addss, divps as divss, sqrtps as sqrtss, maxps as the conditional `a > b ? a : b`. So
// a block written once over its lane type gives every lane the bits of the block run on floats,
// as long as the expression is written in the same order. The float forms below are the
// definitions the vector forms reproduce.
#pragma once

#include <cmath>
#include <cstddef>

#if defined(__SSE2__) || defined(_M_X64)
#include <immintrin.h>
#endif

#include "dsp/math/correctly_rounded.h"
#include "dsp/target.h"

#if defined(__SSE2__) || defined(_M_X64)
#include "dsp/math/correctly_rounded_sse2.h"
#define ZELKO_HAVE_SSE2 1
#endif

inline namespace ZELKO_TARGET_NAMESPACE {

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
// x > 0 ? a : b (NaN gives b)
inline float wherePositive(float x, float a, float b) {
    return x > 0.0f ? a : b;
}
// x > threshold ? value : 0
inline float onlyWhereAbove(float x, float threshold, float value) {
    return x > threshold ? value : 0.0f;
}
// x < 0 ? 0 : x (NaN passes)
inline float zeroWhereNegative(float x) {
    return x < 0.0f ? 0.0f : x;
}
// table[index], for a whole-numbered index of the table
inline float lookUp(const float* table, float index) {
    return table[static_cast<int>(index)];
}
// x <= limit in every lane (false where x is NaN)
inline bool allAtMost(float x, float limit) {
    return x <= limit;
}
// low <= x <= high in every lane (false where any is NaN)
inline bool allWithin(float x, float low, float high) {
    return low <= x && x <= high;
}
// a == b ? x : y
inline float whereEqual(float a, float b, float x, float y) {
    return a == b ? x : y;
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

// The register of W floats; a template argument would drop the vector types' attributes.
template <std::size_t W>
struct LaneRegister;
template <>
struct LaneRegister<4> {
    using type = __m128;
};
template <>
struct LaneRegister<8> {
    using type = __m256;
};

// W floats in one register: __m128 for W = 4 (SSE2, baseline x86-64) and __m256 for W = 8
// (AVX2). Every operation is written once; where the two instruction sets name an operation
// differently, the width picks the instruction. Lanes<8> is instantiated only in the translation
// unit compiled for AVX2 (dsp/lanes_avx2.h).
//
// maxps and minps (and their AVX forms) return the second operand wherever the comparison is
// false, NaN and equal zeros included, which is exactly the conditional's choice. Comparisons
// are ordered: false where either side is NaN, as in C.
template <std::size_t W>
struct Lanes {
    static_assert(W == 4 || W == 8);
    static constexpr bool wide = W == 8;
    using Register = typename LaneRegister<W>::type;

    Register v;

    Lanes() : v(Register{}) {}
    Lanes(Register x) : v(x) {}
    // A float stands for the same value in every lane.
    Lanes(float x) : v(broadcast(x)) {}

    friend Lanes operator+(Lanes a, Lanes b) { return a.v + b.v; }
    friend Lanes operator-(Lanes a, Lanes b) { return a.v - b.v; }
    friend Lanes operator*(Lanes a, Lanes b) { return a.v * b.v; }
    friend Lanes operator/(Lanes a, Lanes b) { return a.v / b.v; }
    friend Lanes larger(Lanes a, Lanes b) {
        if constexpr (wide)
            return _mm256_max_ps(a.v, b.v);
        else
            return _mm_max_ps(a.v, b.v);
    }
    friend Lanes smaller(Lanes a, Lanes b) {
        if constexpr (wide)
            return _mm256_min_ps(a.v, b.v);
        else
            return _mm_min_ps(a.v, b.v);
    }
    friend Lanes squareRoot(Lanes a) {
        if constexpr (wide)
            return _mm256_sqrt_ps(a.v);
        else
            return _mm_sqrt_ps(a.v);
    }
    friend Lanes onlyWhereAbove(Lanes x, float threshold, Lanes value) {
        return bitwiseAnd(greater(x.v, broadcast(threshold)), value.v);
    }
    friend Lanes zeroWhereNegative(Lanes x) {
        const Register negative = greater(Register{}, x.v);
        if constexpr (wide)
            return _mm256_andnot_ps(negative, x.v);
        else
            return _mm_andnot_ps(negative, x.v);
    }
    friend Lanes wherePositive(Lanes x, Lanes a, Lanes b) {
        const Register mask = greater(x.v, Register{});
        if constexpr (wide)
            return _mm256_blendv_ps(b.v, a.v, mask);
        else
            return _mm_or_ps(_mm_and_ps(mask, a.v), _mm_andnot_ps(mask, b.v));
    }
    // Loads lane by lane: an AVX2 gather of eight takes longer than eight loads.
    friend Lanes lookUp(const float* table, Lanes index) {
        if constexpr (wide) {
            alignas(32) int at[8];
            _mm256_store_si256(reinterpret_cast<__m256i*>(at), _mm256_cvttps_epi32(index.v));
            return _mm256_setr_ps(table[at[0]], table[at[1]], table[at[2]], table[at[3]],
                                  table[at[4]], table[at[5]], table[at[6]], table[at[7]]);
        } else {
            alignas(16) int at[4];
            _mm_store_si128(reinterpret_cast<__m128i*>(at), _mm_cvttps_epi32(index.v));
            return _mm_setr_ps(table[at[0]], table[at[1]], table[at[2]], table[at[3]]);
        }
    }
    friend bool anyAbove(Lanes x, float threshold) {
        return signs(greater(x.v, broadcast(threshold))) != 0;
    }
    friend bool allWithin(Lanes x, Lanes low, Lanes high) {
        if constexpr (wide)
            return signs(_mm256_and_ps(_mm256_cmp_ps(low.v, x.v, _CMP_LE_OQ),
                                       _mm256_cmp_ps(x.v, high.v, _CMP_LE_OQ))) == 0xff;
        else
            return signs(_mm_and_ps(_mm_cmple_ps(low.v, x.v), _mm_cmple_ps(x.v, high.v))) == 0xf;
    }
    friend Lanes whereEqual(Lanes a, Lanes b, Lanes x, Lanes y) {
        if constexpr (wide) {
            return _mm256_blendv_ps(y.v, x.v, _mm256_cmp_ps(a.v, b.v, _CMP_EQ_OQ));
        } else {
            const Register mask = _mm_cmpeq_ps(a.v, b.v);
            return _mm_or_ps(_mm_and_ps(mask, x.v), _mm_andnot_ps(mask, y.v));
        }
    }
    friend bool allAtMost(Lanes x, Lanes limit) {
        if constexpr (wide)
            return signs(_mm256_cmp_ps(x.v, limit.v, _CMP_LE_OQ)) == 0xff;
        else
            return signs(_mm_cmple_ps(x.v, limit.v)) == 0xf;
    }
    friend bool allEqual(Lanes a, Lanes b) {
        if constexpr (wide)
            return signs(_mm256_cmp_ps(a.v, b.v, _CMP_EQ_OQ)) == 0xff;
        else
            return signs(_mm_cmpeq_ps(a.v, b.v)) == 0xf;
    }
    friend Lanes rotatedUp(Lanes x) {
        if constexpr (wide)
            return _mm256_permutevar8x32_ps(x.v, _mm256_setr_epi32(7, 0, 1, 2, 3, 4, 5, 6));
        else
            return _mm_shuffle_ps(x.v, x.v, _MM_SHUFFLE(2, 1, 0, 3));
    }
    friend Lanes withFirstLaneOf(Lanes a, Lanes b) {
        if constexpr (wide)
            return _mm256_blend_ps(a.v, b.v, 1);
        else
            return _mm_move_ss(a.v, b.v);
    }
    // The lower halves of a and b: (a0, a1, b0, b1), or (a0 ... a3, b0 ... b3).
    friend Lanes lowerHalves(Lanes a, Lanes b) {
        if constexpr (wide)
            return _mm256_permute2f128_ps(a.v, b.v, 0x20);
        else
            return _mm_movelh_ps(a.v, b.v);
    }
    // The halves exchanged: (x2, x3, x0, x1), or (x4 ... x7, x0 ... x3).
    friend Lanes swappedHalves(Lanes x) {
        if constexpr (wide)
            return _mm256_permute2f128_ps(x.v, x.v, 0x01);
        else
            return _mm_shuffle_ps(x.v, x.v, _MM_SHUFFLE(1, 0, 3, 2));
    }

    static Lanes load(const float* p) {
        if constexpr (wide)
            return _mm256_loadu_ps(p);
        else
            return _mm_loadu_ps(p);
    }
    static void store(float* p, Lanes x) {
        if constexpr (wide)
            _mm256_storeu_ps(p, x.v);
        else
            _mm_storeu_ps(p, x.v);
    }

  private:
    static Register broadcast(float x) {
        if constexpr (wide)
            return _mm256_set1_ps(x);
        else
            return _mm_set1_ps(x);
    }
    static Register greater(Register a, Register b) {
        if constexpr (wide)
            return _mm256_cmp_ps(a, b, _CMP_GT_OQ);
        else
            return _mm_cmpgt_ps(a, b);
    }
    static Register bitwiseAnd(Register a, Register b) {
        if constexpr (wide)
            return _mm256_and_ps(a, b);
        else
            return _mm_and_ps(a, b);
    }
    // The sign bits of the lanes, lane 0 in bit 0.
    static int signs(Register a) {
        if constexpr (wide)
            return _mm256_movemask_ps(a);
        else
            return _mm_movemask_ps(a);
    }
};

template <std::size_t W>
struct LaneTraits<Lanes<W>> {
    static constexpr std::size_t width = W;
    static Lanes<W> load(const float* p) { return Lanes<W>::load(p); }
    static void store(float* p, Lanes<W> v) { Lanes<W>::store(p, v); }
};

using Lanes4 = Lanes<4>;

inline Lanes4 exponential(Lanes4 x) {
    return crmath::exp(x.v);
}
inline Lanes4 tangent(Lanes4 x) {
    return crmath::tan(x.v);
}

#endif

}  // namespace ZELKO_TARGET_NAMESPACE
