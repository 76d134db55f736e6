// Four-lane SSE2 forms of the chain's correctly rounded math (baseline x86-64):
//
//   __m128 crmath::exp(__m128 x)     e^x
//   __m128 crmath::tan(__m128 x)     tan x
//   __m128 crmath::exp10(__m128 x)   10^x
//   __m128 crmath::exp2(__m128 x)    2^x
//
// Every lane is bit for bit the scalar function of correctly_rounded.h on that lane: the lanes
// run the same double operations in the same order, two to a register, and a lane whose result
// needs the scalar function's rare path (a double too close to a float midpoint, a result below
// the normal range, NaN, or a tangent argument of 2^17 or more in magnitude) is recomputed by the
// scalar function. Safe to include anywhere; the AVX2 forms are in correctly_rounded_avx2.h.
#pragma once

#include <emmintrin.h>

#include "dsp/math/correctly_rounded.h"

namespace crmath {
namespace detail {

// The low 32 bits of two pairs of doubles as four 32-bit lanes (first pair first).
inline __m128i lowWords(__m128d a, __m128d b) {
    return _mm_castps_si128(
        _mm_shuffle_ps(_mm_castpd_ps(a), _mm_castpd_ps(b), _MM_SHUFFLE(2, 0, 2, 0)));
}

// Lanes whose double is within kMidpointWindow ulps of a float midpoint, as in nearMidpoint().
inline __m128i nearMidpoint4(__m128d a, __m128d b) {
    const __m128i low = lowWords(a, b);
    const __m128i window = _mm_set1_epi32(static_cast<int>(kMidpointWindow));
    const __m128i wrapped = _mm_and_si128(_mm_add_epi32(low, window), _mm_set1_epi32(0x1FFFFFFF));
    // offset <= 2 window as unsigned, by a signed compare of offset + 2^31.
    const __m128i offset = _mm_add_epi32(wrapped, _mm_set1_epi32(0x70000000));
    const __m128i limit = _mm_set1_epi32(static_cast<int>(0x80000000u + 2 * kMidpointWindow + 1));
    return _mm_cmplt_epi32(offset, limit);
}

inline __m128d gather2(const double* table, __m128i index) {
    const int i0 = _mm_cvtsi128_si32(index) & 63;
    const int i1 = _mm_cvtsi128_si32(_mm_srli_si128(index, 8)) & 63;
    return _mm_loadh_pd(_mm_load_sd(table + i0), table + i1);
}

inline __m128d expKernel2(__m128d x, const ExpConstants& c) {
    const __m128d shift = _mm_set1_pd(kRoundShift);
    const __m128d shifted = _mm_add_pd(_mm_mul_pd(x, _mm_set1_pd(c.units)), shift);
    const __m128d k = _mm_sub_pd(shifted, shift);
    const __m128i kBits = _mm_castpd_si128(shifted);
    const __m128d r = _mm_sub_pd(_mm_sub_pd(x, _mm_mul_pd(k, _mm_set1_pd(c.stepHigh))),
                                 _mm_mul_pd(k, _mm_set1_pd(c.stepLow)));
    const __m128d r2 = _mm_mul_pd(r, r);
    const __m128d low =
        _mm_add_pd(_mm_mul_pd(_mm_set1_pd(c.c1), r),
                   _mm_mul_pd(r2, _mm_add_pd(_mm_set1_pd(c.c2), _mm_mul_pd(_mm_set1_pd(c.c3), r))));
    const __m128d high = _mm_mul_pd(
        _mm_mul_pd(r2, r2), _mm_add_pd(_mm_set1_pd(c.c4), _mm_mul_pd(_mm_set1_pd(c.c5), r)));
    const __m128d q = _mm_add_pd(low, high);
    const __m128i scaleBits =
        _mm_and_si128(_mm_slli_epi64(_mm_add_epi64(kBits, _mm_set1_epi64x(kScaleBias)), 46),
                      _mm_set1_epi64x(static_cast<long long>(kExponentMask)));
    const __m128d t = _mm_mul_pd(gather2(kExp2Table, kBits), _mm_castsi128_pd(scaleBits));
    return _mm_add_pd(t, _mm_mul_pd(t, q));
}

// expNearZeroKernel() on two lanes.
inline __m128d expNearZeroKernel2(__m128d x) {
    const ExpConstants& c = kExp;
    __m128d s = _mm_add_pd(_mm_set1_pd(c.c4), _mm_mul_pd(x, _mm_set1_pd(c.c5)));
    s = _mm_add_pd(_mm_set1_pd(c.c3), _mm_mul_pd(x, s));
    s = _mm_add_pd(_mm_set1_pd(c.c2), _mm_mul_pd(x, s));
    s = _mm_add_pd(_mm_set1_pd(c.c1), _mm_mul_pd(x, s));
    return _mm_add_pd(_mm_set1_pd(1.0), _mm_mul_pd(x, s));
}

// Lanes flagged in `redo` get the scalar function.
template <class Scalar>
inline __m128 redoLanes(__m128 x, __m128 y, __m128 redo, Scalar scalar) {
    int mask = _mm_movemask_ps(redo);
    if (mask == 0) return y;
    alignas(16) float in[4], out[4];
    _mm_store_ps(in, x);
    _mm_store_ps(out, y);
    for (int i = 0; i < 4; ++i) {
        if (mask & (1 << i)) out[i] = scalar(in[i]);
    }
    return _mm_load_ps(out);
}

// The kernel runs on every lane; lanes beyond the bounds then take infinity or 0, as in the
// scalar function, and NaN lanes keep the kernel's NaN.
template <class Scalar>
inline __m128 expFamily4(__m128 x, const ExpConstants& c, Scalar scalar) {
    const __m128d y0 = expKernel2(_mm_cvtps_pd(x), c);
    const __m128d y1 = expKernel2(_mm_cvtps_pd(_mm_movehl_ps(x, x)), c);
    const __m128 over = _mm_cmpgt_ps(x, _mm_set1_ps(static_cast<float>(c.highest)));
    const __m128 outside =
        _mm_or_ps(over, _mm_cmplt_ps(x, _mm_set1_ps(static_cast<float>(c.lowest))));
    const __m128 inside = _mm_andnot_ps(outside, _mm_movelh_ps(_mm_cvtpd_ps(y0), _mm_cvtpd_ps(y1)));
    const __m128 result = _mm_or_ps(inside, _mm_and_ps(over, _mm_set1_ps(__builtin_inff())));
    const __m128 redo = _mm_andnot_ps(outside, _mm_castsi128_ps(nearMidpoint4(y0, y1)));
    return redoLanes(x, result, redo, scalar);
}

inline __m128d tanKernel2(__m128d d) {
    const __m128d shift = _mm_set1_pd(kRoundShift);
    const __m128d shifted = _mm_add_pd(_mm_mul_pd(d, _mm_set1_pd(kTanUnits)), shift);
    const __m128d k = _mm_sub_pd(shifted, shift);
    const __m128d b = _mm_sub_pd(_mm_sub_pd(_mm_sub_pd(d, _mm_mul_pd(k, _mm_set1_pd(kPi64High))),
                                            _mm_mul_pd(k, _mm_set1_pd(kPi64Mid))),
                                 _mm_mul_pd(k, _mm_set1_pd(kPi64Low)));
    const __m128d b2 = _mm_mul_pd(b, b);
    const __m128d series = _mm_add_pd(
        _mm_set1_pd(kTan3),
        _mm_mul_pd(b2, _mm_add_pd(_mm_set1_pd(kTan5),
                                  _mm_mul_pd(b2, _mm_add_pd(_mm_set1_pd(kTan7),
                                                            _mm_mul_pd(b2, _mm_set1_pd(kTan9)))))));
    const __m128d tb = _mm_add_pd(b, _mm_mul_pd(_mm_mul_pd(b, b2), series));

    const __m128i m = _mm_castpd_si128(shifted);
    const int m0 = _mm_cvtsi128_si32(m) & 63;
    const int m1 = _mm_cvtsi128_si32(_mm_srli_si128(m, 8)) & 63;
    const __m128d ta = _mm_loadh_pd(_mm_load_sd(&kTanTable[m0].ta), &kTanTable[m1].ta);
    const __m128d cot =
        _mm_castsi128_pd(_mm_set_epi64x(static_cast<long long>(kTanTable[m1].cotangent),
                                        static_cast<long long>(kTanTable[m0].cotangent)));
    const __m128d one = _mm_set1_pd(1.0);
    const __m128d oneMinus = _mm_sub_pd(one, _mm_mul_pd(ta, tb));
    // tan lanes: ta + tb (1 + ta^2) / (1 - ta tb); cot lanes: 0 + -(1 - ta tb) / (ta + tb).
    const __m128d tanNum = _mm_mul_pd(tb, _mm_add_pd(one, _mm_mul_pd(ta, ta)));
    const __m128d cotNum = _mm_xor_pd(oneMinus, _mm_set1_pd(-0.0));
    const __m128d num = _mm_or_pd(_mm_and_pd(cot, cotNum), _mm_andnot_pd(cot, tanNum));
    const __m128d den =
        _mm_or_pd(_mm_and_pd(cot, _mm_add_pd(ta, tb)), _mm_andnot_pd(cot, oneMinus));
    return _mm_add_pd(_mm_andnot_pd(cot, ta), _mm_div_pd(num, den));
}

}  // namespace detail

inline __m128 exp(__m128 x) {
    const auto scalar = [](float v) { return crmath::exp(v); };
    const __m128 magnitude = _mm_andnot_ps(_mm_set1_ps(-0.0f), x);
    if (_mm_movemask_ps(_mm_cmple_ps(magnitude, _mm_set1_ps(detail::kExpNearZero))) == 0xf) {
        const __m128d y0 = detail::expNearZeroKernel2(_mm_cvtps_pd(x));
        const __m128d y1 = detail::expNearZeroKernel2(_mm_cvtps_pd(_mm_movehl_ps(x, x)));
        const __m128 result = _mm_movelh_ps(_mm_cvtpd_ps(y0), _mm_cvtpd_ps(y1));
        return detail::redoLanes(x, result, _mm_castsi128_ps(detail::nearMidpoint4(y0, y1)),
                                 scalar);
    }
    return detail::expFamily4(x, detail::kExp, scalar);
}

inline __m128 exp10(__m128 x) {
    return detail::expFamily4(x, detail::kExp10, [](float v) { return crmath::exp10(v); });
}

inline __m128 exp2(__m128 x) {
    return detail::expFamily4(x, detail::kExp2, [](float v) { return crmath::exp2(v); });
}

inline __m128 tan(__m128 x) {
    const __m128d y0 = detail::tanKernel2(_mm_cvtps_pd(x));
    const __m128d y1 = detail::tanKernel2(_mm_cvtps_pd(_mm_movehl_ps(x, x)));
    __m128 result = _mm_movelh_ps(_mm_cvtpd_ps(y0), _mm_cvtpd_ps(y1));
    // Zero keeps its sign.
    const __m128 zero = _mm_cmpeq_ps(x, _mm_setzero_ps());
    result = _mm_or_ps(_mm_and_ps(zero, x), _mm_andnot_ps(zero, result));
    const __m128 magnitude = _mm_andnot_ps(_mm_set1_ps(-0.0f), x);
    const __m128 large = _mm_cmpnlt_ps(magnitude, _mm_set1_ps(0x1p17f));  // NaN included
    const __m128 redo = _mm_or_ps(_mm_castsi128_ps(detail::nearMidpoint4(y0, y1)), large);
    return detail::redoLanes(x, result, redo, [](float v) { return crmath::tan(v); });
}

}  // namespace crmath
