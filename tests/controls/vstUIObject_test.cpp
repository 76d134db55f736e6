#include "controls/vstUIObject.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string display(const vstUIObject& control) {
    char text[64];
    std::memset(text, 0x7f, sizeof text);
    control.formatValue(text);
    return text;
}

TEST(Decimals, CountsTheShiftsThatMakeTheStepWhole) {
    EXPECT_EQ(decimals(100.0f), 0);
    EXPECT_EQ(decimals(1.0f), 0);
    EXPECT_EQ(decimals(0.0f), 0);
    // The shifts run in float: 0.1f * 10 rounds to exactly 1 there, while the same loop in double
    // would never reach a whole number and answer 6.
    EXPECT_EQ(decimals(0.1f), 1);
    EXPECT_EQ(decimals(0.25f), 2);
    EXPECT_EQ(decimals(0.5f), 1);
    EXPECT_EQ(decimals(-0.5f), 1);
}

TEST(Decimals, StopsAtSixAndTreatsNonFiniteStepsAsWhole) {
    // 1/3 never becomes whole by decimal shifts.
    EXPECT_EQ(decimals(1.0f / 3.0f), 6);
    EXPECT_EQ(decimals(1e-9f), 6);
    // 0.001f is below 1/1000 and its float shifts miss every whole number.
    EXPECT_EQ(decimals(0.001f), 6);
    EXPECT_EQ(decimals(std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(decimals(std::numeric_limits<float>::infinity()), 0);
}

TEST(Slider, SetNormalizedMapsLinearlyWithoutSnappingToTheStep) {
    float field = 0.0f;
    vstSlider slider("Lowpass Filter", &field, 22000, 1000, 22000, 100);
    slider.setNormalized(0.5);
    EXPECT_EQ(field, 11500.0f);
    slider.setNormalized(0.25);
    EXPECT_EQ(field, 6250.0f);
    slider.setNormalized(0.0);
    EXPECT_EQ(field, 1000.0f);
    slider.setNormalized(1.0);
    EXPECT_EQ(field, 22000.0f);
}

TEST(Slider, SetNormalizedHoldsOutOfRangeAndNaNAtTheBounds) {
    float field = 0.0f;
    vstSlider slider("Lowpass Filter", &field, 22000, 1000, 22000, 100);
    slider.setNormalized(1.7);
    EXPECT_EQ(field, 22000.0f);
    slider.setNormalized(-0.2);
    EXPECT_EQ(field, 1000.0f);
    slider.setNormalized(kNaN);
    EXPECT_EQ(field, 1000.0f);
    slider.setNormalized(1e300);  // infinite once converted to float
    EXPECT_EQ(field, 22000.0f);
    slider.setNormalized(-std::numeric_limits<double>::infinity());
    EXPECT_EQ(field, 1000.0f);
}

TEST(Slider, SetPlainClampsAndMapsNaNToTheMinimum) {
    float field = 0.0f;
    vstSlider slider("Auto-EQ Threshold", &field, -60, -90, 0, 1);
    slider.setPlain(-59.7);
    EXPECT_EQ(field, -59.7f);
    slider.setPlain(5.0);
    EXPECT_EQ(field, 0.0f);
    slider.setPlain(-100.0);
    EXPECT_EQ(field, -90.0f);
    slider.setPlain(kNaN);
    EXPECT_EQ(field, -90.0f);
    EXPECT_EQ(slider.getPlain(), -90.0f);
}

TEST(Slider, GetNormalizedIsThePositionInTheRange) {
    float field = -60.0f;
    vstSlider slider("Auto-EQ Threshold", &field, -60, -90, 0, 1);
    EXPECT_EQ(slider.getNormalized(), 30.0f / 90.0f);
    field = 0.0f;
    EXPECT_EQ(slider.getNormalized(), 1.0f);
    field = -90.0f;
    EXPECT_EQ(slider.getNormalized(), 0.0f);
}

TEST(Slider, ASliderWithoutRangeAnswersZeroInsteadOfNaN) {
    float field = 3.0f;
    vstSlider slider("fixed", &field, 3, 3, 3, 1);
    EXPECT_EQ(slider.getNormalized(), 0.0f);
    slider.setNormalized(0.7);
    EXPECT_EQ(field, 3.0f);
}

TEST(Slider, WholeStepDisplaysTruncateTowardZero) {
    float field = 0.0f;
    vstSlider slider("Auto-EQ Threshold", &field, -60, -90, 0, 1);
    field = -60.0f;
    EXPECT_EQ(display(slider), "-60");
    field = -59.7f;
    EXPECT_EQ(display(slider), "-59");
    field = 59.99f;
    EXPECT_EQ(display(slider), "59");
    field = -0.5f;
    EXPECT_EQ(display(slider), "0");
}

TEST(Slider, FractionalStepsShowTheirDecimals) {
    float field = 0.125f;
    vstSlider tenths("mix", &field, 0, 0, 1, 0.1f);
    EXPECT_EQ(tenths.decimals, 1);
    EXPECT_EQ(display(tenths), "0.1");
    vstSlider quarters("mix", &field, 0, 0, 1, 0.25f);
    EXPECT_EQ(quarters.decimals, 2);
    EXPECT_EQ(display(quarters), "0.12");  // 0.125 is exact in float, printf rounds to even
}

TEST(Slider, DisplaysStayWithinTheHostDisplayLength) {
    float field = 0.0f;
    // A field the processor itself drove far out of range, or to NaN, must neither overflow the
    // host's buffer nor reach an undefined float-to-int conversion.
    vstSlider whole("wide", &field, 0, -1e30f, 1e30f, 1);
    field = 3e20f;
    std::string text = display(whole);
    EXPECT_LE(text.size(), kDisplayTextLength);
    EXPECT_EQ(text, "21474836");  // saturated to the largest 32-bit value, then cut
    field = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(display(whole), "0");
    vstSlider fine("wide", &field, 0, -1e30f, 1e30f, 1e-6f);
    field = -123456.5f;
    text = display(fine);
    EXPECT_EQ(text.size(), kDisplayTextLength);
    EXPECT_EQ(text, "-123456.");
}

TEST(Buttons, HostValuesAboveOneHalfSwitchOn) {
    float field = 0.0f;
    vstButton button("gate", &field);
    vstCheckButton check("DNR LPF Disable", &field);
    for (vstUIObject* control :
         {static_cast<vstUIObject*>(&button), static_cast<vstUIObject*>(&check)}) {
        control->setNormalized(0.5);
        EXPECT_EQ(field, 0.0f);
        control->setNormalized(0.51);
        EXPECT_EQ(field, 1.0f);
        // Compared in double: a value that rounds to 0.5 in float is still above one half.
        control->setNormalized(0.50000000001);
        EXPECT_EQ(field, 1.0f);
        control->setNormalized(kNaN);
        EXPECT_EQ(field, 0.0f);
        control->setNormalized(7.0);
        EXPECT_EQ(field, 1.0f);
        EXPECT_EQ(control->getNormalized(), 1.0f);
    }
}

TEST(Buttons, SetPlainStoresTheValueUnsnappedAndDisplaysByThreshold) {
    float field = 0.0f;
    vstCheckButton check("DNR LPF Disable", &field);
    check.setPlain(0.3);
    EXPECT_EQ(field, 0.3f);
    EXPECT_EQ(display(check), "OFF");
    check.setPlain(0.5);
    EXPECT_EQ(display(check), "OFF");
    check.setPlain(0.75);
    EXPECT_EQ(display(check), "ON");
    check.setPlain(4.0);
    EXPECT_EQ(field, 1.0f);
    check.setPlain(kNaN);
    EXPECT_EQ(field, 0.0f);
}

TEST(BaseControl, LimitsToTheUnitRangeAndPrintsFixedPoint) {
    float field = 0.0f;
    vstUIObject control("plain", &field);
    control.setNormalized(0.25);
    EXPECT_EQ(field, 0.25f);
    EXPECT_EQ(display(control), "0.250000");
    control.setPlain(-3.0);
    EXPECT_EQ(field, 0.0f);
    control.setNormalized(2.0);
    EXPECT_EQ(control.getNormalized(), 1.0f);
}

TEST(BaseControl, CopyNameWritesTheWholeLabel) {
    float field = 0.0f;
    vstSlider slider("Output AGC Threshold", &field, -6, -12, 3, 1);
    char text[32];
    std::memset(text, 0x7f, sizeof text);
    slider.copyName(text);
    EXPECT_STREQ(text, "Output AGC Threshold");
    EXPECT_EQ(text[21], 0x7f);  // nothing written past the NUL
}

TEST(BaseControl, LabelSumReadsCharactersAsSigned) {
    float field = 0.0f;
    EXPECT_EQ(vstUIObject("", &field).labelSum(), 0);
    EXPECT_EQ(vstUIObject("AB", &field).labelSum(), 65 + 66);
    // 0xE9 is -23 as a signed 8-bit value.
    EXPECT_EQ(vstUIObject("A\xE9", &field).labelSum(), 65 - 23);
}

}  // namespace
