// Tables and the rare paths of the chain's correctly rounded math (see correctly_rounded.h).
// The constants come from scripts/math_constants.py (mpmath at 300 bits, rounded to nearest).
#include "dsp/math/correctly_rounded.h"

#include <algorithm>
#include <array>

namespace crmath {
namespace detail {

const double kExp2Table[64] = {
    0x1.0000000000000p+0, 0x1.02c9a3e778061p+0, 0x1.059b0d3158574p+0, 0x1.0874518759bc8p+0,
    0x1.0b5586cf9890fp+0, 0x1.0e3ec32d3d1a2p+0, 0x1.11301d0125b51p+0, 0x1.1429aaea92de0p+0,
    0x1.172b83c7d517bp+0, 0x1.1a35beb6fcb75p+0, 0x1.1d4873168b9aap+0, 0x1.2063b88628cd6p+0,
    0x1.2387a6e756238p+0, 0x1.26b4565e27cddp+0, 0x1.29e9df51fdee1p+0, 0x1.2d285a6e4030bp+0,
    0x1.306fe0a31b715p+0, 0x1.33c08b26416ffp+0, 0x1.371a7373aa9cbp+0, 0x1.3a7db34e59ff7p+0,
    0x1.3dea64c123422p+0, 0x1.4160a21f72e2ap+0, 0x1.44e086061892dp+0, 0x1.486a2b5c13cd0p+0,
    0x1.4bfdad5362a27p+0, 0x1.4f9b2769d2ca7p+0, 0x1.5342b569d4f82p+0, 0x1.56f4736b527dap+0,
    0x1.5ab07dd485429p+0, 0x1.5e76f15ad2148p+0, 0x1.6247eb03a5585p+0, 0x1.6623882552225p+0,
    0x1.6a09e667f3bcdp+0, 0x1.6dfb23c651a2fp+0, 0x1.71f75e8ec5f74p+0, 0x1.75feb564267c9p+0,
    0x1.7a11473eb0187p+0, 0x1.7e2f336cf4e62p+0, 0x1.82589994cce13p+0, 0x1.868d99b4492edp+0,
    0x1.8ace5422aa0dbp+0, 0x1.8f1ae99157736p+0, 0x1.93737b0cdc5e5p+0, 0x1.97d829fde4e50p+0,
    0x1.9c49182a3f090p+0, 0x1.a0c667b5de565p+0, 0x1.a5503b23e255dp+0, 0x1.a9e6b5579fdbfp+0,
    0x1.ae89f995ad3adp+0, 0x1.b33a2b84f15fbp+0, 0x1.b7f76f2fb5e47p+0, 0x1.bcc1e904bc1d2p+0,
    0x1.c199bdd85529cp+0, 0x1.c67f12e57d14bp+0, 0x1.cb720dcef9069p+0, 0x1.d072d4a07897cp+0,
    0x1.d5818dcfba487p+0, 0x1.da9e603db3285p+0, 0x1.dfc97337b9b5fp+0, 0x1.e502ee78b3ff6p+0,
    0x1.ea4afa2a490dap+0, 0x1.efa1bee615a27p+0, 0x1.f50765b6e4540p+0, 0x1.fa7c1819e90d8p+0,
};

namespace {
constexpr std::uint64_t kCot = ~std::uint64_t{0};
}

const TanEntry kTanTable[64] = {
    {0.0, 0.0, 0},                                          // m = 0: tan(0 pi/64 + b)
    {0x1.927278a3b1162p-5, 0x1.ada13ceebab9dp-64, 0},       // m = 1: tan(1 pi/64 + b)
    {0x1.936bb8c5b2da2p-4, 0x1.87d054f689d7ap-58, 0},       // m = 2: tan(2 pi/64 + b)
    {0x1.2fcac73a60640p-3, 0x1.2cfb5a746f62cp-58, 0},       // m = 3: tan(3 pi/64 + b)
    {0x1.975f5e0553158p-3, 0x1.ef5d367441946p-61, 0},       // m = 4: tan(4 pi/64 + b)
    {0x1.007fa758626aep-2, 0x1.5a6d6c3c8b6a7p-57, 0},       // m = 5: tan(5 pi/64 + b)
    {0x1.36a08355c63dcp-2, -0x1.d704d1bfdb6e8p-57, 0},      // m = 6: tan(6 pi/64 + b)
    {0x1.6e649f7d78649p-2, 0x1.78e945dc3913cp-57, 0},       // m = 7: tan(7 pi/64 + b)
    {0x1.a827999fcef32p-2, 0x1.08b2fb1366ea9p-56, 0},       // m = 8: tan(8 pi/64 + b)
    {0x1.e450e0d273e7ap-2, 0x1.41522f15e53c5p-56, 0},       // m = 9: tan(9 pi/64 + b)
    {0x1.11ab7190834ecp-1, -0x1.e564bcd1e635dp-55, 0},      // m = 10: tan(10 pi/64 + b)
    {0x1.32e1889047ffdp-1, -0x1.10b4421e6a4f8p-55, 0},      // m = 11: tan(11 pi/64 + b)
    {0x1.561b82ab7f990p-1, 0x1.7a8c52172b675p-55, 0},       // m = 12: tan(12 pi/64 + b)
    {0x1.7bb99ed2990cfp-1, -0x1.aa7538e44e996p-55, 0},      // m = 13: tan(13 pi/64 + b)
    {0x1.a43002ae42850p-1, -0x1.a6db80fe796fep-56, 0},      // m = 14: tan(14 pi/64 + b)
    {0x1.d00cbc7384d2ep-1, 0x1.8dcad85e60fbep-56, 0},       // m = 15: tan(15 pi/64 + b)
    {0x1.0000000000000p+0, 0.0, 0},                         // m = 16: tan(16 pi/64 + b)
    {-0x1.d00cbc7384d2ep-1, -0x1.8dcad85e60fbep-56, kCot},  // m = 17: -cot(-15 pi/64 + b)
    {-0x1.a43002ae42850p-1, 0x1.a6db80fe796fep-56, kCot},   // m = 18: -cot(-14 pi/64 + b)
    {-0x1.7bb99ed2990cfp-1, 0x1.aa7538e44e996p-55, kCot},   // m = 19: -cot(-13 pi/64 + b)
    {-0x1.561b82ab7f990p-1, -0x1.7a8c52172b675p-55, kCot},  // m = 20: -cot(-12 pi/64 + b)
    {-0x1.32e1889047ffdp-1, 0x1.10b4421e6a4f8p-55, kCot},   // m = 21: -cot(-11 pi/64 + b)
    {-0x1.11ab7190834ecp-1, 0x1.e564bcd1e635dp-55, kCot},   // m = 22: -cot(-10 pi/64 + b)
    {-0x1.e450e0d273e7ap-2, -0x1.41522f15e53c5p-56, kCot},  // m = 23: -cot(-9 pi/64 + b)
    {-0x1.a827999fcef32p-2, -0x1.08b2fb1366ea9p-56, kCot},  // m = 24: -cot(-8 pi/64 + b)
    {-0x1.6e649f7d78649p-2, -0x1.78e945dc3913cp-57, kCot},  // m = 25: -cot(-7 pi/64 + b)
    {-0x1.36a08355c63dcp-2, 0x1.d704d1bfdb6e8p-57, kCot},   // m = 26: -cot(-6 pi/64 + b)
    {-0x1.007fa758626aep-2, -0x1.5a6d6c3c8b6a7p-57, kCot},  // m = 27: -cot(-5 pi/64 + b)
    {-0x1.975f5e0553158p-3, -0x1.ef5d367441946p-61, kCot},  // m = 28: -cot(-4 pi/64 + b)
    {-0x1.2fcac73a60640p-3, -0x1.2cfb5a746f62cp-58, kCot},  // m = 29: -cot(-3 pi/64 + b)
    {-0x1.936bb8c5b2da2p-4, -0x1.87d054f689d7ap-58, kCot},  // m = 30: -cot(-2 pi/64 + b)
    {-0x1.927278a3b1162p-5, -0x1.ada13ceebab9dp-64, kCot},  // m = 31: -cot(-1 pi/64 + b)
    {0.0, 0.0, kCot},                                       // m = 32: -cot(0 pi/64 + b)
    {0x1.927278a3b1162p-5, 0x1.ada13ceebab9dp-64, kCot},    // m = 33: -cot(1 pi/64 + b)
    {0x1.936bb8c5b2da2p-4, 0x1.87d054f689d7ap-58, kCot},    // m = 34: -cot(2 pi/64 + b)
    {0x1.2fcac73a60640p-3, 0x1.2cfb5a746f62cp-58, kCot},    // m = 35: -cot(3 pi/64 + b)
    {0x1.975f5e0553158p-3, 0x1.ef5d367441946p-61, kCot},    // m = 36: -cot(4 pi/64 + b)
    {0x1.007fa758626aep-2, 0x1.5a6d6c3c8b6a7p-57, kCot},    // m = 37: -cot(5 pi/64 + b)
    {0x1.36a08355c63dcp-2, -0x1.d704d1bfdb6e8p-57, kCot},   // m = 38: -cot(6 pi/64 + b)
    {0x1.6e649f7d78649p-2, 0x1.78e945dc3913cp-57, kCot},    // m = 39: -cot(7 pi/64 + b)
    {0x1.a827999fcef32p-2, 0x1.08b2fb1366ea9p-56, kCot},    // m = 40: -cot(8 pi/64 + b)
    {0x1.e450e0d273e7ap-2, 0x1.41522f15e53c5p-56, kCot},    // m = 41: -cot(9 pi/64 + b)
    {0x1.11ab7190834ecp-1, -0x1.e564bcd1e635dp-55, kCot},   // m = 42: -cot(10 pi/64 + b)
    {0x1.32e1889047ffdp-1, -0x1.10b4421e6a4f8p-55, kCot},   // m = 43: -cot(11 pi/64 + b)
    {0x1.561b82ab7f990p-1, 0x1.7a8c52172b675p-55, kCot},    // m = 44: -cot(12 pi/64 + b)
    {0x1.7bb99ed2990cfp-1, -0x1.aa7538e44e996p-55, kCot},   // m = 45: -cot(13 pi/64 + b)
    {0x1.a43002ae42850p-1, -0x1.a6db80fe796fep-56, kCot},   // m = 46: -cot(14 pi/64 + b)
    {0x1.d00cbc7384d2ep-1, 0x1.8dcad85e60fbep-56, kCot},    // m = 47: -cot(15 pi/64 + b)
    {-0x1.0000000000000p+0, 0.0, 0},                        // m = 48: tan(-16 pi/64 + b)
    {-0x1.d00cbc7384d2ep-1, -0x1.8dcad85e60fbep-56, 0},     // m = 49: tan(-15 pi/64 + b)
    {-0x1.a43002ae42850p-1, 0x1.a6db80fe796fep-56, 0},      // m = 50: tan(-14 pi/64 + b)
    {-0x1.7bb99ed2990cfp-1, 0x1.aa7538e44e996p-55, 0},      // m = 51: tan(-13 pi/64 + b)
    {-0x1.561b82ab7f990p-1, -0x1.7a8c52172b675p-55, 0},     // m = 52: tan(-12 pi/64 + b)
    {-0x1.32e1889047ffdp-1, 0x1.10b4421e6a4f8p-55, 0},      // m = 53: tan(-11 pi/64 + b)
    {-0x1.11ab7190834ecp-1, 0x1.e564bcd1e635dp-55, 0},      // m = 54: tan(-10 pi/64 + b)
    {-0x1.e450e0d273e7ap-2, -0x1.41522f15e53c5p-56, 0},     // m = 55: tan(-9 pi/64 + b)
    {-0x1.a827999fcef32p-2, -0x1.08b2fb1366ea9p-56, 0},     // m = 56: tan(-8 pi/64 + b)
    {-0x1.6e649f7d78649p-2, -0x1.78e945dc3913cp-57, 0},     // m = 57: tan(-7 pi/64 + b)
    {-0x1.36a08355c63dcp-2, 0x1.d704d1bfdb6e8p-57, 0},      // m = 58: tan(-6 pi/64 + b)
    {-0x1.007fa758626aep-2, -0x1.5a6d6c3c8b6a7p-57, 0},     // m = 59: tan(-5 pi/64 + b)
    {-0x1.975f5e0553158p-3, -0x1.ef5d367441946p-61, 0},     // m = 60: tan(-4 pi/64 + b)
    {-0x1.2fcac73a60640p-3, -0x1.2cfb5a746f62cp-58, 0},     // m = 61: tan(-3 pi/64 + b)
    {-0x1.936bb8c5b2da2p-4, -0x1.87d054f689d7ap-58, 0},     // m = 62: tan(-2 pi/64 + b)
    {-0x1.927278a3b1162p-5, -0x1.ada13ceebab9dp-64, 0},     // m = 63: tan(-1 pi/64 + b)
};

namespace {

// An input whose double result rounds to the wrong float, and the correctly rounded result.
// Each list holds exactly the inputs on which the exhaustive test found the plain rounding of
// the double wrong, in ascending order of their bits.
struct Exception {
    std::uint32_t input;
    float result;
};

constexpr std::array<Exception, 0> kExpExceptions{};
constexpr std::array<Exception, 0> kExp10Exceptions{};
constexpr std::array<Exception, 2> kExp2Exceptions{{
    {0x3b429d37u, 0x1.00870ap+0f},  // 8.1e-10 ulps above a midpoint
    {0xbcf3a937u, 0x1.f58d62p-1f},  // 1.2e-10 ulps above a midpoint
}};
constexpr std::array<Exception, 0> kTanExceptions{};

template <std::size_t N>
float resolve(const std::array<Exception, N>& list, float x, double y) {
    const auto bits = std::bit_cast<std::uint32_t>(x);
    const auto found =
        std::lower_bound(list.begin(), list.end(), bits,
                         [](const Exception& e, std::uint32_t b) { return e.input < b; });
    if (found != list.end() && found->input == bits) return found->result;
    return static_cast<float>(y);
}

// Bits 1 ... 256 of 1/pi after 64 zero bits, so that a window may start before the point.
constexpr std::uint64_t kInversePiBits[5] = {
    0, 0x517cc1b727220a94u, 0xfe13abe8fa9a6ee0u, 0x6db14acc9e21c820u, 0xff28b1d5ef5de2b0u,
};

constexpr double kPi64 = 0x1.921fb54442d18p-5;
constexpr double kPi64Tail = 0x1.1a62633145c07p-59;

}  // namespace

float resolveExp(float x, double y) {
    return resolve(kExpExceptions, x, y);
}
float resolveExp10(float x, double y) {
    return resolve(kExp10Exceptions, x, y);
}
float resolveExp2(float x, double y) {
    return resolve(kExp2Exceptions, x, y);
}
float resolveTan(float x, double y) {
    return resolve(kTanExceptions, x, y);
}

// |x| = n 2^e with a 24-bit integer n and e >= -6. x 64/pi modulo 64 needs only the bits of 1/pi
// from b(e+1) on (earlier ones give multiples of 64 n): with the 128 bits b(e+1) ... b(e+128) as
// the integer W, x 64/pi = n W 2^-122 (mod 64) up to less than 2^-98. The top six bits above
// 2^122 are k mod 64, the 122 below the fraction, rounded to the nearest k.
float tanLarge(float x) {
    if (!(x - x == 0.0f)) return x - x;  // infinities and NaN
    const auto bits = std::bit_cast<std::uint32_t>(x);
    const std::uint64_t n = (bits & 0x7FFFFFu) | 0x800000u;
    const int e = static_cast<int>((bits >> 23) & 0xFFu) - 150;
    const int first = e + 64;  // position of b(e+1) in kInversePiBits
    const int word = first / 64;
    const int shift = first % 64;
    std::uint64_t high = kInversePiBits[word];
    std::uint64_t low = kInversePiBits[word + 1];
    if (shift != 0) {
        high = (high << shift) | (low >> (64 - shift));
        low = (low << shift) | (kInversePiBits[word + 2] >> (64 - shift));
    }
    using u128 = unsigned __int128;
    const u128 lowProduct = static_cast<u128>(n) * low;
    const u128 upper = static_cast<u128>(n) * high + (lowProduct >> 64);
    std::uint64_t k = static_cast<std::uint64_t>(upper >> 58) & 63;
    const u128 fraction =
        ((upper & ((u128{1} << 58) - 1)) << 64) | static_cast<std::uint64_t>(lowProduct);
    __int128 centred = static_cast<__int128>(fraction);
    if (fraction >> 121) {
        centred -= static_cast<__int128>(u128{1} << 122);
        ++k;
    }
    // b = centred 2^-122 pi/64. The fraction as a double and its remainder, through 64-bit
    // integers (a 128-bit conversion is a slow library call): the bits from 2^59 up and below.
    const auto top = static_cast<std::int64_t>(centred >> 59);
    const auto below = static_cast<std::int64_t>(static_cast<std::uint64_t>(centred) &
                                                 ((std::uint64_t{1} << 59) - 1));
    const double leading = static_cast<double>(top);
    const auto topRest = top - static_cast<std::int64_t>(leading);  // at most 2^9
    const double bHigh = leading * 0x1p-63;
    const double bLow =
        static_cast<double>(topRest) * 0x1p-63 + static_cast<double>(below) * 0x1p-122;
    const double b = bHigh * kPi64 + (bLow * kPi64 + bHigh * kPi64Tail);
    double y = tanCombine(k, tanSeries(b));
    if (bits >> 31) y = -y;
    if (nearMidpoint(y)) return resolveTan(x, y);
    return static_cast<float>(y);
}

}  // namespace detail

namespace {

// a + b as the rounded sum and its exact rounding error (Knuth's two-sum).
struct Sum {
    double value, error;
};
Sum twoSum(double a, double b) {
    const double value = a + b;
    const double bPart = value - a;
    return {value, (a - (value - bPart)) + (b - bPart)};
}

}  // namespace

// The same reduction and table as the float tangent, with the reduced argument, tan(b) and the
// table angle each carried as a double plus its rounding error, so that the result stays within
// about one ulp.
double tanDouble(double x) {
    using namespace detail;
    if (!(x - x == 0.0)) return x - x;
    if (x == 0.0) return x;
    const double shifted = x * kTanUnits + kRoundShift;
    const double k = shifted - kRoundShift;
    const Sum partial = twoSum(x - k * kPi64High, -(k * kPi64Mid));  // the first step is exact
    const Sum b = twoSum(partial.value, partial.error - k * kPi64Low);
    const double b2 = b.value * b.value;
    const double odd = (b.value * b2) * (kTan3 + b2 * (kTan5 + b2 * (kTan7 + b2 * kTan9)));
    const Sum tb = twoSum(b.value, odd + b.error * (1.0 + b2));

    const TanEntry& entry = kTanTable[std::bit_cast<std::uint64_t>(shifted) & 63];
    const double ta = entry.ta;
    const double product = ta * tb.value;
    const double oneMinus = 1.0 - product;
    if (entry.cotangent) {
        // -(1 - ta tb) / (ta + tb), the rounding errors of numerator and denominator (which may
        // nearly cancel) carried as corrections of the quotient.
        const double numeratorError = (1.0 - oneMinus) - product;
        const Sum sum = twoSum(ta, tb.value);
        const double quotient = oneMinus / sum.value;
        const double denominatorError = sum.error + (entry.taLow + tb.error);
        return -(quotient + (numeratorError - quotient * denominatorError) / sum.value);
    }
    const double secant2 = 1.0 + ta * ta;
    return ta + (entry.taLow + ((tb.value * secant2) / oneMinus + tb.error * secant2));
}

}  // namespace crmath
