// The special cases of the chain's math, the exact results it must hit and the double tangent's
// accuracy. Correct rounding of every input, vector forms included, is proved by the exhaustive
// sweep (exhaustive/); these are the fast checks that run with the suite under the sanitizers.
#include "dsp/math/correctly_rounded.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

std::uint32_t bitsOf(float v) {
    return std::bit_cast<std::uint32_t>(v);
}

using Scalar = float (*)(float);
constexpr Scalar kExp = crmath::exp, kTan = crmath::tan, kExp10 = crmath::exp10,
                 kExp2 = crmath::exp2;

TEST(CorrectlyRounded, SpecialInputs) {
    for (Scalar f : {kExp, kTan, kExp10, kExp2}) EXPECT_TRUE(std::isnan(f(kNaN)));
    EXPECT_TRUE(std::isnan(crmath::tan(kInf)));
    EXPECT_TRUE(std::isnan(crmath::tan(-kInf)));
    EXPECT_EQ(bitsOf(crmath::tan(-0.0f)), bitsOf(-0.0f));
    EXPECT_EQ(bitsOf(crmath::tan(0.0f)), bitsOf(0.0f));
    const float tiny = std::numeric_limits<float>::denorm_min();
    EXPECT_EQ(crmath::tan(-tiny), -tiny);  // tan x = x (1 + x^2/3 + ...)
    for (Scalar f : {kExp, kExp10, kExp2}) {
        EXPECT_EQ(f(kInf), kInf);
        EXPECT_EQ(bitsOf(f(-kInf)), bitsOf(0.0f));
        EXPECT_EQ(f(0.0f), 1.0f);
        EXPECT_EQ(f(-0.0f), 1.0f);
    }
}

// Where the exact value is a float, that float, also across overflow and into the subnormals:
// 2^-149 is the least subnormal and 2^-150 the tie between it and 0, which goes to even (0).
TEST(CorrectlyRounded, ExactPowersAndTheEndsOfTheRange) {
    for (int n = -149; n <= 127; ++n)
        EXPECT_EQ(crmath::exp2(static_cast<float>(n)), std::ldexp(1.0f, n)) << n;
    EXPECT_EQ(crmath::exp2(128.0f), kInf);
    EXPECT_EQ(crmath::exp2(-150.0f), 0.0f);
    EXPECT_EQ(crmath::exp2(-149.5f), std::ldexp(1.0f, -149));  // 0.707 of the least subnormal
    float power = 1.0f;
    for (int n = 0; n <= 10; ++n, power *= 10.0f)
        EXPECT_EQ(crmath::exp10(static_cast<float>(n)), power) << n;
    // Overflow begins at ln(FLT_MAX + half an ulp) = 88.7228391, between two adjacent floats.
    const float lastFinite = std::bit_cast<float>(0x42B17217u);  // 88.7228317
    EXPECT_GT(crmath::exp(lastFinite), 3.40e38f);
    EXPECT_LT(crmath::exp(lastFinite), kInf);
    EXPECT_EQ(crmath::exp(std::nextafter(lastFinite, kInf)), kInf);
    // e^-103 = 1.32 and e^-100 = 26.55 least subnormals; e^-104 lies below half of one.
    EXPECT_EQ(crmath::exp(-103.0f), std::ldexp(1.0f, -149));
    EXPECT_EQ(crmath::exp(-100.0f), std::ldexp(27.0f, -149));
    EXPECT_EQ(crmath::exp(-104.0f), 0.0f);
}

// The double tangent is within 2 ulps of the C library's (itself within one) from the detector
// constants' small arguments up to large ones, and odd.
TEST(CorrectlyRounded, DoubleTangentWithinTwoUlps) {
    std::mt19937_64 random(11);
    std::uniform_real_distribution<double> exponent(-30.0, 16.0);
    for (int i = 0; i < 200000; ++i) {
        const double x = std::exp2(exponent(random));
        const double expected = std::tan(x);
        const double ulp = std::nextafter(std::fabs(expected), kInf) - std::fabs(expected);
        ASSERT_LE(std::fabs(crmath::tanDouble(x) - expected), 2.0 * ulp) << x;
        ASSERT_EQ(crmath::tanDouble(-x), -crmath::tanDouble(x)) << x;
    }
}

}  // namespace
