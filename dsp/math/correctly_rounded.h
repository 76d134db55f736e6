// The chain's own exp, tan, 10^x and 2^x on float, correctly rounded (round to nearest even of
// the exact value) for every float input, and a double tangent for the high-rate constants.
//
// The C libraries disagree in the last bit of expf, tanf and powf, and the detectors' feedback
// loops grow one such bit into an audible difference, so the chain never calls them. Each float
// function evaluates in double with an argument reduction and a short polynomial, the
// exponentials with a 64-entry table, the tangent with a continued fraction (relative error below
// about 2^-51), then rounds once to float. That rounding is
// right unless the double lies within a few double ulps of a midpoint between two floats; such
// results go to an out-of-line step that looks the input up in a short list of known exceptions,
// found and confirmed by the exhaustive test over all 2^32 inputs against MPFR. (A subnormal
// result rounds at a coarser bit, where the double's error is far smaller than the spacing; the
// sweep checks those like every other result.) Everything is plain IEEE double arithmetic with one
// rounding per operation (-ffp-contract=off) and integer bit work, so GCC and mingw-w64 produce
// the same bits, with or without FMA hardware.
//
// The SIMD forms in correctly_rounded_sse2.h, correctly_rounded_avx2.h and
// correctly_rounded_avx512.h repeat the same operations lane by lane and give every lane exactly
// the scalar result.
#pragma once

#include <bit>
#include <cstdint>

#include "dsp/target.h"

// Declared here and defined out of line in correctly_rounded.cpp, a baseline unit: the same
// functions for the code of every instruction set. The inline functions that follow live in the
// namespace of the instruction set they are compiled for (dsp/target.h).
namespace crmath {

// tan of a double: the same result on every platform, within about one ulp (two at most in the
// tests) for |x| < 2^17; beyond, the reduction stays deterministic but loses accuracy.
double tanDouble(double x);

namespace detail {

// 2^(j/64), j = 0 ... 63, each rounded to nearest.
extern const double kExp2Table[64];

// Per residue m = k mod 64 of the tangent's reduction x = k pi/64 + b: tan(a) of the table angle
// a (m pi/64 brought into [-pi/4, pi/4], as a double plus its rounding error) and whether the
// residue lies in the half period where tan(x) = -cot(a + b).
struct TanEntry {
    double ta;
    double taLow;
    std::uint64_t cotangent;  // all ones or zero, a lane mask
};
extern const TanEntry kTanTable[64];

// Rounding of a double that is too close to a float midpoint to decide: the known exceptions of
// each function, else the plain rounding.
float resolveExp(float x, double y);
float resolveExp10(float x, double y);
float resolveExp2(float x, double y);
float resolveTan(float x, double y);

// tan for |x| >= 2^17, infinities and NaN: exact reduction with the bits of 1/pi.
float tanLarge(float x);

inline namespace ZELKO_TARGET_NAMESPACE {

// std::bit_cast as a function of this namespace: the standard template would be one more symbol
// that the units of every instruction set emit under the same name where it is not inlined.
template <class To, class From>
[[gnu::always_inline]] inline constexpr To bitCast(const From& x) {
    return __builtin_bit_cast(To, x);
}

inline constexpr double kRoundShift = 0x1.8p52;  // adding it rounds to an integer in the low bits
inline constexpr std::uint64_t kScaleBias = 1023 * 64;
inline constexpr std::uint64_t kExponentMask = 0xFFF0000000000000u;

// A double's low 29 bits are the bits float rounding drops; their value 2^28 is the midpoint.
// Within kMidpointWindow double ulps of it the rounding is not certain.
inline constexpr std::uint32_t kMidpointWindow = 32;
inline bool nearMidpoint(double y) {
    const auto low = static_cast<std::uint32_t>(bitCast<std::uint64_t>(y));
    const std::uint32_t offset = ((low + kMidpointWindow) & 0x1FFFFFFFu) - 0x10000000u;
    return offset <= 2 * kMidpointWindow;
}

// Constants of one exponential: units of the reduction (64 per doubling), the step 1/units in
// two pieces (the first short enough that k times it is exact) and the polynomial of
// base^r - 1 = c1 r + c2 r^2 + ... + c5 r^5 for |r| <= step / 2.
struct ExpConstants {
    double units, stepHigh, stepLow, c1, c2, c3, c4, c5, lowest, highest;
};

inline constexpr ExpConstants kExp = {
    0x1.71547652b82fep+6, 0x1.62e42fefa0000p-7, 0x1.cf79abc9e3b3ap-46, 1.0,    0x1.0000000000000p-1,
    0x1.5555555555555p-3, 0x1.5555555555555p-5, 0x1.1111111111111p-7,  -104.0, 89.0};
inline constexpr ExpConstants kExp10 = {0x1.a934f0979a371p+7,
                                        0x1.3441350a00000p-8,
                                        -0x1.0c0219dc1da99p-45,
                                        0x1.26bb1bbb55516p+1,
                                        0x1.53524c73cea69p+1,
                                        0x1.0470591de2ca4p+1,
                                        0x1.2bd7609fd98c4p+0,
                                        0x1.1429ffd1d4d76p-1,
                                        -46.0,
                                        39.0};
inline constexpr ExpConstants kExp2 = {64.0,
                                       0x1p-6,
                                       0.0,
                                       0x1.62e42fefa39efp-1,
                                       0x1.ebfbdff82c58fp-3,
                                       0x1.c6b08d704a0c0p-5,
                                       0x1.3b2ab6fba4e77p-7,
                                       0x1.5d87fe78a6731p-10,
                                       -151.0,
                                       129.0};

// base^x for x in [lowest, highest]: x = (64 e + j) / units + r,
// base^x = 2^e 2^(j/64) (1 + q(r)). The polynomial and the scaling are grouped for a short chain
// of dependent operations (the adaptive followers wait on the result every sample); scaling by
// 2^e is exact.
inline double expKernel(double x, const ExpConstants& c) {
    const double shifted = x * c.units + kRoundShift;
    const double k = shifted - kRoundShift;
    const std::uint64_t kBits = bitCast<std::uint64_t>(shifted);
    const double r = (x - k * c.stepHigh) - k * c.stepLow;
    const double r2 = r * r;
    const double q = (c.c1 * r + r2 * (c.c2 + c.c3 * r)) + (r2 * r2) * (c.c4 + c.c5 * r);
    const double scale = bitCast<double>(((kBits + kScaleBias) << 46) & kExponentMask);
    const double t = kExp2Table[kBits & 63] * scale;
    return t + t * q;
}

// Near zero, |x| <= kExpNearZero, e^x is its Taylor series to x^5 (the coefficients of kExp),
// in Horner form and without the table: the series' remainder (below 2^-48 / 720) and the
// roundings stay under one double ulp, far inside kMidpointWindow, so the same midpoint test
// decides the rounding. The vector forms take it when every lane lies there, as the poles of the
// chain's adaptive followers do at audio rates.
inline constexpr float kExpNearZero = 0x1p-8f;

inline double expNearZeroKernel(double x) {
    const ExpConstants& c = kExp;
    return 1.0 + x * (c.c1 + x * (c.c2 + x * (c.c3 + x * (c.c4 + x * c.c5))));
}

// Beyond `highest` every result overflows to infinity, below `lowest` it rounds to 0; NaN passes
// to the kernel and gives NaN.
template <float (*resolve)(float, double)>
inline float expFamily(float x, const ExpConstants& c) {
    if (x > c.highest) return __builtin_inff();
    if (x < c.lowest) return 0.0f;
    const double y = expKernel(x, c);
    if (nearMidpoint(y)) return resolve(x, y);
    return static_cast<float>(y);
}

// The tangent of |x| < 2^17: x = k pi/2 + b with |b| <= pi/4 (three pieces of pi/2, the first
// two short enough that k times them is exact), and tan(b) = b A(z) / B(z), z = b^2, the eighth
// convergent of Lambert's continued fraction
//   tan b = b / (1 - z / (3 - z / (5 - ... - z / 17))),
// whose relative error stays below 2^-59 for |b| <= pi/4. Its coefficients are integers, exact in
// a double. For odd k, tan x = -cot b = -B(z) / (b A(z)): one division either way, and no table,
// so the lanes of a vector need no lookups. A and B are evaluated in two halves each, so that
// their chain of dependent operations is short. The evaluation errs by a few double ulps at most,
// well inside kMidpointWindow.
inline constexpr double kTanQuadrants = 0x1.45f306dc9c883p-1;  // 2 / pi
inline constexpr double kPi2High = 0x1.921fb54800000p+0;
inline constexpr double kPi2Mid = -0x1.de973dc800000p-31;
inline constexpr double kPi2Low = -0x1.9d9cceba3f91fp-62;
inline constexpr double kTanA[4] = {34459425.0, -4729725.0, 135135.0, -990.0};  // z^4 term: 1
inline constexpr double kTanB[5] = {34459425.0, -16216200.0, 945945.0, -13860.0, 45.0};

// k pi/2 + b = d: the quadrant count k in the low bits of `shifted`, and b. Written over T, a
// double or a register of doubles, so that the vector forms run these very operations.
template <class T>
struct QuadrantReduction {
    T shifted;  // d 2/pi + kRoundShift
    T b;
};
template <class T>
inline QuadrantReduction<T> reduceToQuadrant(const T& d) {
    const T shifted = d * kTanQuadrants + kRoundShift;
    const T k = shifted - kRoundShift;
    return {shifted, ((d - k * kPi2High) - k * kPi2Mid) - k * kPi2Low};
}
// tan b = numerator / denominator: b A(z) and B(z).
template <class T>
struct TanFraction {
    T numerator;
    T denominator;
};
template <class T>
inline TanFraction<T> tanFraction(const T& b) {
    const T z = b * b;
    const T z2 = z * z;
    const T a = (kTanA[0] + kTanA[1] * z) + z2 * ((kTanA[2] + kTanA[3] * z) + z2);
    const T bz = (kTanB[0] + kTanB[1] * z) + z2 * ((kTanB[2] + kTanB[3] * z) + kTanB[4] * z2);
    return {b * a, bz};
}

inline double tanKernel(double d) {
    const QuadrantReduction<double> r = reduceToQuadrant(d);
    const TanFraction<double> f = tanFraction(r.b);
    if (bitCast<std::uint64_t>(r.shifted) & 1) return -f.denominator / f.numerator;
    return f.numerator / f.denominator;
}

// Beyond 2^17 (detail::tanLarge) and for the double tangent: x = k pi/64 + b with
// |b| <= pi/128, tan(b) by its odd series, and the addition theorem with the table angle.
inline constexpr double kTanUnits = 0x1.45f306dc9c883p+4;  // 64 / pi
inline constexpr double kPi64High = 0x1.921fb54800000p-5;
inline constexpr double kPi64Mid = -0x1.de973dc800000p-36;
inline constexpr double kPi64Low = -0x1.9d9cceba3f91fp-67;
inline constexpr double kTan3 = 0x1.5555555555555p-2;
inline constexpr double kTan5 = 0x1.1111111111111p-3;
inline constexpr double kTan7 = 0x1.ba1ba1ba1ba1cp-5;
inline constexpr double kTan9 = 0x1.664f4882c10fap-6;

inline double tanSeries(double b) {
    const double b2 = b * b;
    return b + (b * b2) * (kTan3 + b2 * (kTan5 + b2 * (kTan7 + b2 * kTan9)));
}

// tan(m pi/64 + b) from the residue m and tb = tan(b):
//   tan(a + b) = ta + tb (1 + ta^2) / (1 - ta tb),   -cot(a + b) = -(1 - ta tb) / (ta + tb).
inline double tanCombine(std::uint64_t m, double tb) {
    const TanEntry& e = kTanTable[m & 63];
    const double oneMinus = 1.0 - e.ta * tb;
    if (e.cotangent) return -oneMinus / (e.ta + tb);
    return e.ta + (tb * (1.0 + e.ta * e.ta)) / oneMinus;
}

}  // namespace ZELKO_TARGET_NAMESPACE
}  // namespace detail

inline namespace ZELKO_TARGET_NAMESPACE {

inline float exp(float x) {
    return detail::expFamily<detail::resolveExp>(x, detail::kExp);
}

inline float exp10(float x) {
    return detail::expFamily<detail::resolveExp10>(x, detail::kExp10);
}

inline float exp2(float x) {
    return detail::expFamily<detail::resolveExp2>(x, detail::kExp2);
}

inline float tan(float x) {
    const float magnitude = x < 0.0f ? -x : x;
    if (!(magnitude < 0x1p17f)) return detail::tanLarge(x);
    if (x == 0.0f) return x;  // keeps the sign of zero
    const double y = detail::tanKernel(x);
    if (detail::nearMidpoint(y)) return detail::resolveTan(x, y);
    return static_cast<float>(y);
}

}  // namespace ZELKO_TARGET_NAMESPACE
}  // namespace crmath
