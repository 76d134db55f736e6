#include "dsp/control_block.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/dsp/front_chain.h"

namespace {

using fronttest::controlValues;

ControlValues withGate(float dB) {
    return controlValues(0.0f, 22000.0f, -60.0f, dB, -6.0f);
}

const SampleRate rate44k = SampleRate::fromHz(44100);

// G = 10^(0 / 20) = 1: only the rung of offset 0 (band 1) clears its offset plus the floor.
TEST(ControlBlock, GateLadderAtZeroDecibels) {
    const ControlBlock block = ControlBlock::compute(withGate(0.0f), rate44k);
    EXPECT_EQ(block.gateScale[0], 1.0f);
    for (int rung = 1; rung < gateLadderRungs; ++rung) {
        EXPECT_EQ(block.gateScale[rung], 3.1622778e-5f) << "offset " << 5 * rung;
    }
}

// 70 dB: G = 3162.2776 and every rung is G minus its offset; 55 dB: G = 562.3413.
TEST(ControlBlock, GateLadderAtSeventyAndFiftyFiveDecibels) {
    const ControlBlock loud = ControlBlock::compute(withGate(70.0f), rate44k);
    EXPECT_FLOAT_EQ(loud.gateScale[0], 3162.2776f);
    EXPECT_FLOAT_EQ(loud.gateScale[11], 3107.2776f);
    EXPECT_EQ(loud.gateScaleForBand(12), loud.gateScale[11]);
    EXPECT_EQ(loud.gateScaleForBand(1), loud.gateScale[0]);
    const ControlBlock standard = ControlBlock::compute(withGate(55.0f), rate44k);
    for (int rung = 0; rung < gateLadderRungs; ++rung) {
        EXPECT_EQ(standard.gateScale[rung], standard.gateScale[0] - static_cast<float>(5 * rung))
            << "offset " << 5 * rung;
    }
    EXPECT_FLOAT_EQ(standard.gateScale[0], 562.34133f);
}

// Just above an offset, G - offset would be a tiny positive number; the ladder only leaves the
// floor once G exceeds offset + 3.1622778e-5. Search the gain setting whose G first passes 5.
TEST(ControlBlock, RungStaysOnTheFloorUntilGainClearsOffsetPlusFloor) {
    float dB = 13.97f;  // 20 log10(5) = 13.9794
    float gain = crmath::exp10(0.05f * dB);
    while (!(gain > 5.0f)) {
        dB = std::nextafter(dB, 100.0f);
        gain = crmath::exp10(0.05f * dB);
    }
    ASSERT_LT(gain, 5.0f + 3.1622778e-5f);
    const ControlBlock block = ControlBlock::compute(withGate(dB), rate44k);
    EXPECT_EQ(block.gateScale[1], 3.1622778e-5f);
    EXPECT_EQ(block.gateScale[0], gain);
}

TEST(ControlBlock, DisableSwitchCountsAsOnOnlyAboveOneHalf) {
    for (float value : {0.0f, 0.25f, 0.5f}) {
        EXPECT_EQ(
            ControlBlock::compute(controlValues(value, 22000.0f, -60.0f, 55.0f, -6.0f), rate44k)
                .disableCutoff,
            0.0f)
            << value;
    }
    for (float value : {std::nextafter(0.5f, 1.0f), 1.0f}) {
        EXPECT_EQ(
            ControlBlock::compute(controlValues(value, 22000.0f, -60.0f, 55.0f, -6.0f), rate44k)
                .disableCutoff,
            22000.0f)
            << value;
    }
}

TEST(ControlBlock, LevelsInDecibelsBecomeLinear) {
    const ControlBlock standard =
        ControlBlock::compute(controlValues(0.0f, 22000.0f, -60.0f, 55.0f, -6.0f), rate44k);
    EXPECT_FLOAT_EQ(standard.autoEqFloor, 0.001f);
    EXPECT_FLOAT_EQ(standard.agcTarget, 0.001f * 0.50118723f);
    const ControlBlock top =
        ControlBlock::compute(controlValues(0.0f, 22000.0f, 0.0f, 55.0f, 3.0f), rate44k);
    EXPECT_EQ(top.autoEqFloor, 1.0f);
    EXPECT_FLOAT_EQ(top.agcTarget, 0.001f * 1.4125376f);
    const ControlBlock bottom =
        ControlBlock::compute(controlValues(0.0f, 22000.0f, -90.0f, 55.0f, -12.0f), rate44k);
    EXPECT_FLOAT_EQ(bottom.autoEqFloor, 3.1622778e-5f);
    EXPECT_FLOAT_EQ(bottom.agcTarget, 0.001f * 0.25118864f);
}

// The input lowpass is prewarped to "Lowpass Filter": its k is 1 / tan(pi f / fs), and at 44.1
// and 48 kHz it is exactly the unlimited formula, even at 22000 Hz.
TEST(ControlBlock, LowpassIsPrewarpedToTheControl) {
    for (int hz : {44100, 48000}) {
        const SampleRate rate = SampleRate::fromHz(hz);
        for (float cutoff : {1000.0f, 5000.0f, 22000.0f}) {
            const ControlBlock block =
                ControlBlock::compute(controlValues(0.0f, cutoff, -60.0f, 55.0f, -6.0f), rate);
            const float T = 1.0f / static_cast<float>(hz);
            EXPECT_EQ(block.lowpassK, 1.0f / crmath::tan(3.1415927f * T * cutoff))
                << hz << ", " << cutoff;
        }
    }
}

// Below 44.1 kHz the 22000 Hz end of the control is moved to where it lies at 44.1 kHz, so the
// prewarped constant, and the whole filter shape with it, stays that of 44.1 kHz (to the float
// rounding of the tangent's argument) instead of turning negative at and above half the rate.
TEST(ControlBlock, LowRatesKeepTheLowpassShapeOf44kHz) {
    const float reference =
        ControlBlock::compute(controlValues(0.0f, 22000.0f, -60.0f, 55.0f, -6.0f), rate44k)
            .lowpassK;
    for (int hz : {8000, 22050, 32000, 44000}) {
        const ControlBlock block = ControlBlock::compute(
            controlValues(0.0f, 22000.0f, -60.0f, 55.0f, -6.0f), SampleRate::fromHz(hz));
        EXPECT_GT(block.lowpassK, 0.0f) << hz;
        EXPECT_NEAR(block.lowpassK / reference, 1.0f, 2e-3f) << hz;
    }
}

// Control fields are plain floats anyone may write. Out-of-range values are held to the
// declared ranges and NaN reads as the minimum, as a host's NaN does, so no coefficient of the
// block can become infinite or NaN.
TEST(ControlBlock, ValuesOutsideTheRangesCannotPoisonTheBlock) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float infinity = std::numeric_limits<float>::infinity();
    const ControlBlock high = ControlBlock::compute(
        controlValues(infinity, infinity, infinity, infinity, infinity), rate44k);
    EXPECT_EQ(high,
              ControlBlock::compute(controlValues(1.0f, 22000.0f, 0.0f, 70.0f, 3.0f), rate44k));
    const ControlBlock low = ControlBlock::compute(
        controlValues(-infinity, 0.0f, -infinity, -1e30f, -infinity), rate44k);
    EXPECT_EQ(low,
              ControlBlock::compute(controlValues(0.0f, 1000.0f, -90.0f, 0.0f, -12.0f), rate44k));
    EXPECT_EQ(ControlBlock::compute(controlValues(nan, nan, nan, nan, nan), rate44k), low);
}

}  // namespace
