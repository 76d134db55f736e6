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
// scalar function's double operations in the same order, four to a register, and is bit for bit
// the scalar result of correctly_rounded.h. Lanes that need the scalar function's rare path (see
// correctly_rounded_sse2.h) are recomputed by it. crmath::tanQuads, at the end, takes the AVX2 or
// the SSE2 form, as its caller chose, for an array of four-lane vectors.
#pragma once

#include <immintrin.h>

#include <cstddef>

#include "dsp/math/correctly_rounded.h"
#include "dsp/math/correctly_rounded_sse2.h"

#define CRMATH_AVX2 __attribute__((target("avx2"), always_inline)) inline

namespace crmath {
namespace detail {

// The low 32 bits of two quads of doubles as eight 32-bit lanes, in lane order.
CRMATH_AVX2 __m256i lowWords8(__m256d a, __m256d b) {
    const __m256 words =
        _mm256_shuffle_ps(_mm256_castpd_ps(a), _mm256_castpd_ps(b), _MM_SHUFFLE(2, 0, 2, 0));
    return _mm256_permute4x64_epi64(_mm256_castps_si256(words), _MM_SHUFFLE(3, 1, 2, 0));
}

CRMATH_AVX2 __m128i lowWords4(__m256d a) {
    return _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(
        _mm256_castpd_si256(a), _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6)));
}

// The masked gathers with every lane set; the unmasked ones warn of an uninitialised source.
CRMATH_AVX2 __m256d allLanes() {
    return _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
}

CRMATH_AVX2 __m256i nearMidpoint8(__m256d a, __m256d b) {
    const __m256i low = lowWords8(a, b);
    const __m256i window = _mm256_set1_epi32(static_cast<int>(kMidpointWindow));
    const __m256i wrapped =
        _mm256_and_si256(_mm256_add_epi32(low, window), _mm256_set1_epi32(0x1FFFFFFF));
    const __m256i offset = _mm256_add_epi32(wrapped, _mm256_set1_epi32(0x70000000));
    const __m256i limit =
        _mm256_set1_epi32(static_cast<int>(0x80000000u + 2 * kMidpointWindow + 1));
    return _mm256_cmpgt_epi32(limit, offset);
}

CRMATH_AVX2 __m256d expKernel4(__m256d x, const ExpConstants& c) {
    const __m256d shift = _mm256_set1_pd(kRoundShift);
    const __m256d shifted = _mm256_add_pd(_mm256_mul_pd(x, _mm256_set1_pd(c.units)), shift);
    const __m256d k = _mm256_sub_pd(shifted, shift);
    const __m256i kBits = _mm256_castpd_si256(shifted);
    const __m256d r = _mm256_sub_pd(_mm256_sub_pd(x, _mm256_mul_pd(k, _mm256_set1_pd(c.stepHigh))),
                                    _mm256_mul_pd(k, _mm256_set1_pd(c.stepLow)));
    const __m256d r2 = _mm256_mul_pd(r, r);
    const __m256d low = _mm256_add_pd(
        _mm256_mul_pd(_mm256_set1_pd(c.c1), r),
        _mm256_mul_pd(r2,
                      _mm256_add_pd(_mm256_set1_pd(c.c2), _mm256_mul_pd(_mm256_set1_pd(c.c3), r))));
    const __m256d high =
        _mm256_mul_pd(_mm256_mul_pd(r2, r2),
                      _mm256_add_pd(_mm256_set1_pd(c.c4), _mm256_mul_pd(_mm256_set1_pd(c.c5), r)));
    const __m256d q = _mm256_add_pd(low, high);
    const __m128i index = _mm_and_si128(lowWords4(shifted), _mm_set1_epi32(63));
    const __m256i scaleBits = _mm256_and_si256(
        _mm256_slli_epi64(_mm256_add_epi64(kBits, _mm256_set1_epi64x(kScaleBias)), 46),
        _mm256_set1_epi64x(static_cast<long long>(kExponentMask)));
    const __m256d t = _mm256_mul_pd(
        _mm256_mask_i32gather_pd(_mm256_setzero_pd(), kExp2Table, index, allLanes(), 8),
        _mm256_castsi256_pd(scaleBits));
    return _mm256_add_pd(t, _mm256_mul_pd(t, q));
}

// expNearZeroKernel() on four lanes.
CRMATH_AVX2 __m256d expNearZeroKernel4(__m256d x) {
    const ExpConstants& c = kExp;
    __m256d s = _mm256_add_pd(_mm256_set1_pd(c.c4), _mm256_mul_pd(x, _mm256_set1_pd(c.c5)));
    s = _mm256_add_pd(_mm256_set1_pd(c.c3), _mm256_mul_pd(x, s));
    s = _mm256_add_pd(_mm256_set1_pd(c.c2), _mm256_mul_pd(x, s));
    s = _mm256_add_pd(_mm256_set1_pd(c.c1), _mm256_mul_pd(x, s));
    return _mm256_add_pd(_mm256_set1_pd(1.0), _mm256_mul_pd(x, s));
}

template <class Scalar>
CRMATH_AVX2 __m256 redoLanes8(__m256 x, __m256 y, __m256 redo, Scalar scalar) {
    const int mask = _mm256_movemask_ps(redo);
    if (mask == 0) return y;
    alignas(32) float in[8], out[8];
    _mm256_store_ps(in, x);
    _mm256_store_ps(out, y);
    for (int i = 0; i < 8; ++i) {
        if (mask & (1 << i)) out[i] = scalar(in[i]);
    }
    return _mm256_load_ps(out);
}

// Lanes beyond the bounds take infinity or 0 as in correctly_rounded_sse2.h.
template <class Scalar>
CRMATH_AVX2 __m256 expFamily8(__m256 x, const ExpConstants& c, Scalar scalar) {
    const __m256d y0 = expKernel4(_mm256_cvtps_pd(_mm256_castps256_ps128(x)), c);
    const __m256d y1 = expKernel4(_mm256_cvtps_pd(_mm256_extractf128_ps(x, 1)), c);
    const __m256 over = _mm256_cmp_ps(x, _mm256_set1_ps(static_cast<float>(c.highest)), _CMP_GT_OQ);
    const __m256 outside = _mm256_or_ps(
        over, _mm256_cmp_ps(x, _mm256_set1_ps(static_cast<float>(c.lowest)), _CMP_LT_OQ));
    const __m256 inside =
        _mm256_andnot_ps(outside, _mm256_set_m128(_mm256_cvtpd_ps(y1), _mm256_cvtpd_ps(y0)));
    const __m256 result =
        _mm256_or_ps(inside, _mm256_and_ps(over, _mm256_set1_ps(__builtin_inff())));
    const __m256 redo = _mm256_andnot_ps(outside, _mm256_castsi256_ps(nearMidpoint8(y0, y1)));
    return redoLanes8(x, result, redo, scalar);
}

CRMATH_AVX2 __m256d tanKernel4(__m256d d) {
    const __m256d shift = _mm256_set1_pd(kRoundShift);
    const __m256d shifted = _mm256_add_pd(_mm256_mul_pd(d, _mm256_set1_pd(kTanUnits)), shift);
    const __m256d k = _mm256_sub_pd(shifted, shift);
    const __m256d b =
        _mm256_sub_pd(_mm256_sub_pd(_mm256_sub_pd(d, _mm256_mul_pd(k, _mm256_set1_pd(kPi64High))),
                                    _mm256_mul_pd(k, _mm256_set1_pd(kPi64Mid))),
                      _mm256_mul_pd(k, _mm256_set1_pd(kPi64Low)));
    const __m256d b2 = _mm256_mul_pd(b, b);
    const __m256d series = _mm256_add_pd(
        _mm256_set1_pd(kTan3),
        _mm256_mul_pd(
            b2, _mm256_add_pd(
                    _mm256_set1_pd(kTan5),
                    _mm256_mul_pd(b2, _mm256_add_pd(_mm256_set1_pd(kTan7),
                                                    _mm256_mul_pd(b2, _mm256_set1_pd(kTan9)))))));
    const __m256d tb = _mm256_add_pd(b, _mm256_mul_pd(_mm256_mul_pd(b, b2), series));

    // Rows of kTanTable are three 8-byte words: ta, taLow, cotangent.
    const __m128i row = _mm_and_si128(lowWords4(shifted), _mm_set1_epi32(63));
    const __m128i word = _mm_add_epi32(row, _mm_add_epi32(row, row));
    const __m256d ta =
        _mm256_mask_i32gather_pd(_mm256_setzero_pd(), &kTanTable[0].ta, word, allLanes(), 8);
    const __m256d cot = _mm256_castsi256_pd(_mm256_mask_i32gather_epi64(
        _mm256_setzero_si256(), reinterpret_cast<const long long*>(&kTanTable[0].cotangent), word,
        _mm256_castpd_si256(allLanes()), 8));
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d oneMinus = _mm256_sub_pd(one, _mm256_mul_pd(ta, tb));
    const __m256d tanNum = _mm256_mul_pd(tb, _mm256_add_pd(one, _mm256_mul_pd(ta, ta)));
    const __m256d cotNum = _mm256_xor_pd(oneMinus, _mm256_set1_pd(-0.0));
    const __m256d num = _mm256_blendv_pd(tanNum, cotNum, cot);
    const __m256d den = _mm256_blendv_pd(oneMinus, _mm256_add_pd(ta, tb), cot);
    return _mm256_add_pd(_mm256_andnot_pd(cot, ta), _mm256_div_pd(num, den));
}

// e^x away from zero, out of line: the adaptive followers call exp every sample with arguments
// near zero, and only that short path belongs inline in their loops.
__attribute__((target("avx2"), noinline)) inline __m256 expAwayFromZero8(__m256 x) {
    return expFamily8(x, kExp, [](float v) { return crmath::exp(v); });
}

}  // namespace detail

CRMATH_AVX2 __m256 exp(__m256 x) {
    const auto scalar = [](float v) { return crmath::exp(v); };
    const __m256 magnitude = _mm256_andnot_ps(_mm256_set1_ps(-0.0f), x);
    const __m256 near = _mm256_cmp_ps(magnitude, _mm256_set1_ps(detail::kExpNearZero), _CMP_LE_OQ);
    if (_mm256_movemask_ps(near) == 0xff) {
        const __m256d y0 = detail::expNearZeroKernel4(_mm256_cvtps_pd(_mm256_castps256_ps128(x)));
        const __m256d y1 = detail::expNearZeroKernel4(_mm256_cvtps_pd(_mm256_extractf128_ps(x, 1)));
        const __m256 result = _mm256_set_m128(_mm256_cvtpd_ps(y1), _mm256_cvtpd_ps(y0));
        return detail::redoLanes8(x, result, _mm256_castsi256_ps(detail::nearMidpoint8(y0, y1)),
                                  scalar);
    }
    return detail::expAwayFromZero8(x);
}

CRMATH_AVX2 __m256 exp10(__m256 x) {
    return detail::expFamily8(x, detail::kExp10, [](float v) { return crmath::exp10(v); });
}

CRMATH_AVX2 __m256 exp2(__m256 x) {
    return detail::expFamily8(x, detail::kExp2, [](float v) { return crmath::exp2(v); });
}

CRMATH_AVX2 __m256 tan(__m256 x) {
    const __m256d y0 = detail::tanKernel4(_mm256_cvtps_pd(_mm256_castps256_ps128(x)));
    const __m256d y1 = detail::tanKernel4(_mm256_cvtps_pd(_mm256_extractf128_ps(x, 1)));
    __m256 result = _mm256_set_m128(_mm256_cvtpd_ps(y1), _mm256_cvtpd_ps(y0));
    const __m256 zero = _mm256_cmp_ps(x, _mm256_setzero_ps(), _CMP_EQ_OQ);
    result = _mm256_blendv_ps(result, x, zero);  // zero keeps its sign
    const __m256 magnitude = _mm256_andnot_ps(_mm256_set1_ps(-0.0f), x);
    const __m256 large = _mm256_cmp_ps(magnitude, _mm256_set1_ps(0x1p17f), _CMP_NLT_UQ);
    const __m256 redo = _mm256_or_ps(_mm256_castsi256_ps(detail::nearMidpoint8(y0, y1)), large);
    return detail::redoLanes8(x, result, redo, [](float v) { return crmath::tan(v); });
}

}  // namespace crmath

namespace crmath {

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

}  // namespace crmath

#undef CRMATH_AVX2
