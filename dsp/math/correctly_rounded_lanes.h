// The vector forms of the chain's correctly rounded math, written once for every register width.
// correctly_rounded_sse2.h, correctly_rounded_avx2.h and correctly_rounded_avx512.h instantiate
// them and hold the entry points.
//
// Each lane runs the scalar function's double operations of correctly_rounded.h in the same
// order, and a lane whose result needs the scalar function's rare path (a double too close to a
// float midpoint, a result below the normal range, NaN, or a tangent argument of 2^17 or more in
// magnitude) is recomputed by the scalar function, so every lane is bit for bit the scalar result.
//
// The templates run over a lane type L, DoubleLanes2 (SSE2), DoubleLanes4 (AVX2) or DoubleLanes8
// (AVX-512F), whose registers (LaneRegisters, GCC vector types of the size of __m128, __m256 or
// __m512) are
//   L::Floats    the float lanes,
//   L::Doubles   half of them as doubles, so a float register is two of them,
//   L::Bits      a double register's bits as 64-bit unsigned lanes,
//   L::Words     32-bit integer lanes, one per float lane: the masks of the float lanes,
//   L::LowWords  the same unsigned, for the low words of the doubles,
// and which gives the few operations that differ by instruction set: the conversions between a
// float register and its two double halves, the table lookup, the low words of two double
// registers, lane selection and the sign bits of a mask. The arithmetic is GCC's vector extension:
// + - * / and comparisons on the registers, a scalar operand standing for itself in every lane.
// They compile to the same single instructions as the intrinsics, and each lane rounds as the
// scalar operation does (no contraction: -ffp-contract=off, and no form enables FMA).
//
// The templates carry no target attribute, so that one definition serves every width: they are
// always inlined into the entry points, which carry target("avx2") for DoubleLanes4 (the AVX-512
// forms live in a unit compiled for AVX-512F), and compile for the entry point's instruction set
// there. DoubleLanes4's operations carry target("avx2") themselves. A 32-byte register passed to
// or returned from a function without AVX is an ABI change GCC warns about, even where the
// function is always inlined; so the templates and the operations take registers by reference and
// return them in a Register.
#pragma once

#include <bit>
#include <cstdint>

#include "dsp/math/correctly_rounded.h"

namespace crmath {
namespace detail {
inline namespace ZELKO_TARGET_NAMESPACE {

#define CRMATH_LANES [[gnu::always_inline]] inline

// The registers of a lane type of `bytes` bytes.
template <int bytes>
struct LaneRegisters {
    typedef float Floats __attribute__((vector_size(bytes)));
    typedef double Doubles __attribute__((vector_size(bytes)));
    typedef std::uint64_t Bits __attribute__((vector_size(bytes)));
    typedef std::int32_t Words __attribute__((vector_size(bytes)));
    typedef std::uint32_t LowWords __attribute__((vector_size(bytes)));
    static constexpr int kFloats = bytes / 4;
};

// A register as the templates and the lane types' operations return it (see above).
template <class R>
struct Register {
    R v;
};

template <class L>
CRMATH_LANES Register<typename L::Doubles> expKernel(const typename L::Doubles& x,
                                                     const ExpConstants& c) {
    using Doubles = typename L::Doubles;
    const Doubles shifted = x * c.units + kRoundShift;
    const Doubles k = shifted - kRoundShift;
    const auto kBits = typename L::Bits(shifted);
    const Doubles r = (x - k * c.stepHigh) - k * c.stepLow;
    const Doubles r2 = r * r;
    const Doubles q = (c.c1 * r + r2 * (c.c2 + c.c3 * r)) + (r2 * r2) * (c.c4 + c.c5 * r);
    const auto scale = Doubles(((kBits + kScaleBias) << 46) & kExponentMask);
    const Doubles t = L::lookup(kExp2Table, kBits & 63).v * scale;
    return {t + t * q};
}

template <class L>
CRMATH_LANES Register<typename L::Doubles> expNearZeroKernel(const typename L::Doubles& x) {
    const ExpConstants& c = kExp;
    return {1.0 + x * (c.c1 + x * (c.c2 + x * (c.c3 + x * (c.c4 + x * c.c5))))};
}

// The tangent's reduction and continued fraction, with the quotient chosen without a branch:
// even quadrants b A / B, odd quadrants -B / (b A).
template <class L>
CRMATH_LANES Register<typename L::Doubles> tanKernel(const typename L::Doubles& d) {
    using Doubles = typename L::Doubles;
    using Bits = typename L::Bits;
    const QuadrantReduction<Doubles> r = reduceToQuadrant(d);
    const TanFraction<Doubles> f = tanFraction(r.b);
    const Bits odd = -(Bits(r.shifted) & 1);
    const Doubles num = L::select(odd, -f.denominator, f.numerator).v;
    const Doubles den = L::select(odd, f.numerator, f.denominator).v;
    return {num / den};
}

// Lanes whose double is within kMidpointWindow ulps of a float midpoint, as in nearMidpoint(),
// for the float lanes of the two halves.
template <class L>
CRMATH_LANES Register<typename L::Words> nearMidpoint(const typename L::Doubles& low,
                                                      const typename L::Doubles& high) {
    using Words = typename L::Words;
    const typename L::LowWords wrapped = (L::lowWords(low, high).v + kMidpointWindow) & 0x1FFFFFFFu;
    // offset = wrapped - 2^28 <= 2 window as unsigned, by a signed compare of offset + 2^31.
    return {Words(wrapped + 0x70000000u) < static_cast<int>(0x80000000u + 2 * kMidpointWindow + 1)};
}

template <class L>
CRMATH_LANES Register<typename L::Floats> magnitude(const typename L::Floats& x) {
    using Floats = typename L::Floats;
    using Words = typename L::Words;
    return {Floats(Words(x) & 0x7FFFFFFF)};
}

// Lanes flagged in `redo` get the scalar function.
template <class L, float (*scalar)(float)>
CRMATH_LANES Register<typename L::Floats> redoLanes(const typename L::Floats& x,
                                                    const typename L::Floats& y,
                                                    const typename L::Words& redo) {
    const int flagged = L::signs(redo);
    if (flagged == 0) return {y};
    typename L::Floats out = y;
    for (int i = 0; i < L::kFloats; ++i) {
        if (flagged & (1 << i)) out[i] = scalar(x[i]);
    }
    return {out};
}

// The kernel runs on every lane; lanes beyond the bounds then take infinity or 0, as in the
// scalar function, and NaN lanes keep the kernel's NaN.
template <class L, float (*scalar)(float)>
CRMATH_LANES Register<typename L::Floats> expFamily(const typename L::Floats& x,
                                                    const ExpConstants& c) {
    using Floats = typename L::Floats;
    using Words = typename L::Words;
    const auto y0 = expKernel<L>(L::lowDoubles(x).v, c).v;
    const auto y1 = expKernel<L>(L::highDoubles(x).v, c).v;
    const Words over = x > static_cast<float>(c.highest);
    const Words outside = over | (x < static_cast<float>(c.lowest));
    const Words inside = ~outside & Words(L::floatsOf(y0, y1).v);
    const Words result = inside | (over & bitCast<std::int32_t>(__builtin_inff()));
    return redoLanes<L, scalar>(x, Floats(result), ~outside & nearMidpoint<L>(y0, y1).v);
}

// e^x near zero (every lane within kExpNearZero): the series without the table.
template <class L>
CRMATH_LANES bool allNearZero(const typename L::Floats& x) {
    return L::signs(magnitude<L>(x).v <= kExpNearZero) == (1 << L::kFloats) - 1;
}

template <class L>
CRMATH_LANES Register<typename L::Floats> expNearZero(const typename L::Floats& x) {
    const auto y0 = expNearZeroKernel<L>(L::lowDoubles(x).v).v;
    const auto y1 = expNearZeroKernel<L>(L::highDoubles(x).v).v;
    return redoLanes<L, crmath::exp>(x, L::floatsOf(y0, y1).v, nearMidpoint<L>(y0, y1).v);
}

template <class L>
CRMATH_LANES Register<typename L::Floats> tanLanes(const typename L::Floats& x) {
    const auto y0 = tanKernel<L>(L::lowDoubles(x).v).v;
    const auto y1 = tanKernel<L>(L::highDoubles(x).v).v;
    const auto result = L::select(x == 0.0f, x, L::floatsOf(y0, y1).v).v;  // zero keeps its sign
    // Arguments of 2^17 or more in magnitude, infinities and NaN: as integers, the bits of a
    // magnitude order like the floats, NaN above infinity.
    using Words = typename L::Words;
    const Words large = (Words(x) & 0x7FFFFFFF) >= bitCast<std::int32_t>(0x1p17f);
    return redoLanes<L, crmath::tan>(x, result, nearMidpoint<L>(y0, y1).v | large);
}

#undef CRMATH_LANES

}  // namespace ZELKO_TARGET_NAMESPACE
}  // namespace detail
}  // namespace crmath
