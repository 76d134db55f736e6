// The text formatters of AudioEffect.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "host/AudioEffect.h"

namespace {

class FormattingEffect : public AudioEffect {
  public:
    FormattingEffect() : AudioEffect(nullptr, 1, 1) {}
    void processReplacing(float**, float**, VstInt32) override {}
};

constexpr char kGuard = '\x7f';

// Runs one formatter into a buffer of maxLen + 1 bytes followed by guard bytes, checks that
// nothing past the buffer was touched and that the text is terminated within it.
template <typename Format>
std::string formatted(Format format, VstInt32 maxLen) {
    std::vector<char> buffer(static_cast<std::size_t>(maxLen) + 1 + 16, kGuard);
    format(buffer.data(), maxLen);
    for (std::size_t i = static_cast<std::size_t>(maxLen) + 1; i < buffer.size(); ++i) {
        EXPECT_EQ(buffer[i], kGuard) << "write past the limit at " << i;
    }
    const std::size_t length = strnlen(buffer.data(), static_cast<std::size_t>(maxLen) + 1);
    EXPECT_LE(length, static_cast<std::size_t>(maxLen)) << "text not terminated";
    return std::string(buffer.data(), length);
}

std::string floatText(float value, VstInt32 maxLen = 8) {
    FormattingEffect effect;
    return formatted([&](char* t, VstInt32 n) { effect.float2string(value, t, n); }, maxLen);
}

std::string intText(VstInt32 value, VstInt32 maxLen = 16) {
    FormattingEffect effect;
    return formatted([&](char* t, VstInt32 n) { effect.int2string(value, t, n); }, maxLen);
}

TEST(TextFormat, FloatFillsTheWidthWithFractionalDigits) {
    EXPECT_EQ(floatText(1.5f), "1.500000");
    EXPECT_EQ(floatText(123.456f), "123.4560");
    EXPECT_EQ(floatText(-0.5f), "-0.50000");
    EXPECT_EQ(floatText(0.0f), "0.000000");
    EXPECT_EQ(floatText(-9999999.0f), "-9999999");
    EXPECT_EQ(floatText(1234567.0f), "1234567");
    // Never more than six fractional digits: a float has no more to give.
    EXPECT_EQ(floatText(2.25f, 20), "2.250000");
    EXPECT_EQ(floatText(2.25f, 3), "2.3");
    EXPECT_EQ(floatText(2.25f, 1), "2");
}

TEST(TextFormat, FloatRoundingMayCarryIntoANewDigit) {
    EXPECT_EQ(floatText(0.9999996f, 3), "1.0");
    EXPECT_EQ(floatText(9.96f, 3), "10");
    EXPECT_EQ(floatText(-0.0000001f), "0.000000");
}

TEST(TextFormat, FloatOutOfRangeOrNotANumberGivesAnEmptyText) {
    EXPECT_EQ(floatText(1.0e9f, 20), "");
    EXPECT_EQ(floatText(-1.0e7f - 8.0f, 20), "");
    EXPECT_EQ(floatText(NAN, 20), "");
    EXPECT_EQ(floatText(INFINITY, 20), "");
    EXPECT_EQ(floatText(-INFINITY, 20), "");
    // Integer digits that do not fit are not cut: that would print another number.
    EXPECT_EQ(floatText(123456.0f, 4), "");
}

TEST(TextFormat, EveryFormatterStaysWithinItsLimit) {
    FormattingEffect effect;
    const float values[] = {0.0f,    1.0f,    -1.0f,  0.333333f, 99999.99f, -9999999.0f,
                            1.0e-8f, 12.345f, 4.0e7f, -123.5f,   NAN,       1.0e30f};
    for (VstInt32 maxLen = 0; maxLen <= 12; ++maxLen) {
        for (float v : values) {
            formatted([&](char* t, VstInt32 n) { effect.float2string(v, t, n); }, maxLen);
            formatted([&](char* t, VstInt32 n) { effect.dB2string(v, t, n); }, maxLen);
            formatted([&](char* t, VstInt32 n) { effect.Hz2string(v, t, n); }, maxLen);
            formatted([&](char* t, VstInt32 n) { effect.ms2string(v, t, n); }, maxLen);
        }
        for (VstInt32 v : {0, 7, -7, 99999999, 100000000, INT_MAX, INT_MIN}) {
            formatted([&](char* t, VstInt32 n) { effect.int2string(v, t, n); }, maxLen);
        }
    }
}

TEST(TextFormat, NullTextOrNegativeLimitWritesNothing) {
    FormattingEffect effect;
    effect.float2string(1.0f, nullptr, 8);
    effect.int2string(1, nullptr, 8);
    effect.dB2string(0.0f, nullptr, 8);
    effect.Hz2string(1.0f, nullptr, 8);
    effect.ms2string(1.0f, nullptr, 8);
    char text[4] = {kGuard, kGuard, kGuard, kGuard};
    effect.float2string(1.0f, text, -1);
    effect.int2string(1, text, -1);
    effect.dB2string(-1.0f, text, -1);
    EXPECT_EQ(text[0], kGuard);
}

TEST(TextFormat, IntegerTexts) {
    EXPECT_EQ(intText(0), "0");
    EXPECT_EQ(intText(42), "42");
    EXPECT_EQ(intText(-42), "-42");
    EXPECT_EQ(intText(99999999), "99999999");
    EXPECT_EQ(intText(100000000), "Huge!");
    EXPECT_EQ(intText(INT_MIN), "-2147483648");
    EXPECT_EQ(intText(12345, 4), "");
    EXPECT_EQ(intText(100000000, 4), "");
}

TEST(TextFormat, DecibelTexts) {
    FormattingEffect effect;
    auto dB = [&](float v) {
        return formatted([&](char* t, VstInt32 n) { effect.dB2string(v, t, n); }, 8);
    };
    EXPECT_EQ(dB(0.0f), "-oo");
    EXPECT_EQ(dB(-1.0f), "-oo");
    EXPECT_EQ(dB(1.0f), "0.000000");
    EXPECT_EQ(dB(10.0f), "20.00000");
    EXPECT_EQ(dB(0.5f), "-6.02060");
    EXPECT_EQ(dB(NAN), "");
}

TEST(TextFormat, HertzAndMillisecondTextsUseTheSampleRate) {
    FormattingEffect effect;
    auto hz = [&](float samples) {
        return formatted([&](char* t, VstInt32 n) { effect.Hz2string(samples, t, n); }, 8);
    };
    auto ms = [&](float samples) {
        return formatted([&](char* t, VstInt32 n) { effect.ms2string(samples, t, n); }, 8);
    };
    EXPECT_EQ(hz(100.0f), "441.0000");
    EXPECT_EQ(hz(0.0f), "");
    EXPECT_EQ(ms(44100.0f), "1000.000");
    EXPECT_EQ(ms(441.0f), "10.00000");
    effect.setSampleRate(48000.0f);
    EXPECT_EQ(hz(100.0f), "480.0000");
    EXPECT_EQ(ms(48.0f), "1.000000");
}

}  // namespace
