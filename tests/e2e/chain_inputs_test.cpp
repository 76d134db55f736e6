// The whole signal chain: what it reads, the two process entries, and the output ceiling.
#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "dsp/mydsp.h"
#include "dsp/output_stage.h"
#include "support/noise.h"
#include "support/plugin_host.h"

namespace {

using testhost::Plugin;

constexpr float ceiling = OutputStage::ceiling;  // -1 dB full scale

using testsignal::noise;

// Flush-to-zero and denormals-are-zero, as the plug-in shell sets them around every block.
class FlushDenormals {
  public:
    FlushDenormals() : saved(_mm_getcsr()) { _mm_setcsr(saved | 0x8040u); }
    ~FlushDenormals() { _mm_setcsr(saved); }
    FlushDenormals(const FlushDenormals&) = delete;
    FlushDenormals& operator=(const FlushDenormals&) = delete;

  private:
    unsigned saved;
};

TEST(ChainInputs, TheSecondInputNeverChangesTheOutput) {
    const int frames = 12000;
    const std::vector<float> first = noise(frames);
    const std::vector<float> quietSecond(frames, 0.0f);
    const std::vector<float> loudSecond = noise(frames, 555u, 1.0f);
    const std::vector<float> brokenSecond(frames, std::numeric_limits<float>::quiet_NaN());

    std::vector<std::vector<float>> lefts;
    std::vector<std::vector<float>> rights;
    for (const std::vector<float>* second : {&quietSecond, &loudSecond, &brokenSecond}) {
        Plugin plugin;
        ASSERT_TRUE(plugin);
        std::vector<float> left(frames);
        std::vector<float> right(frames);
        for (int done = 0; done < frames; done += 500) {
            plugin.processReplacing(first.data() + done, left.data() + done, right.data() + done,
                                    500, second->data() + done);
        }
        lefts.push_back(left);
        rights.push_back(right);
    }
    EXPECT_EQ(lefts[1], lefts[0]);
    EXPECT_EQ(rights[1], rights[0]);
    EXPECT_EQ(lefts[2], lefts[0]);
    EXPECT_EQ(rights[2], rights[0]);
}

TEST(ChainInputs, ProcessAtEqualsProcess) {
    auto plain = std::make_unique<mydsp>();
    auto stamped = std::make_unique<mydsp>();
    plain->initialize(44100);
    stamped->initialize(44100);
    const FlushDenormals flush;
    const std::vector<float> input = noise(10 * 1024);
    for (int b = 0; b < 10; ++b) {
        std::vector<float> in1(input.begin() + b * 1024, input.begin() + (b + 1) * 1024);
        std::vector<float> in2 = in1;
        std::vector<float> silent(1024, 0.0f);
        std::vector<float> l1(1024), r1(1024), l2(1024), r2(1024);
        float* inputs1[2] = {in1.data(), silent.data()};
        float* inputs2[2] = {in2.data(), silent.data()};
        float* outputs1[2] = {l1.data(), r1.data()};
        float* outputs2[2] = {l2.data(), r2.data()};
        plain->process(1024, inputs1, outputs1);
        stamped->processAt(12345.0 * b, 1024, inputs2, outputs2);
        ASSERT_EQ(l1, l2) << b;
        ASSERT_EQ(r1, r2) << b;
    }
}

TEST(ChainInputs, OutputsMayShareTheInputBuffer) {
    auto separate = std::make_unique<mydsp>();
    auto inPlace = std::make_unique<mydsp>();
    separate->initialize(48000);
    inPlace->initialize(48000);
    const FlushDenormals flush;
    const std::vector<float> input = noise(8 * 1000, 9u);
    for (int b = 0; b < 8; ++b) {
        std::vector<float> in(input.begin() + b * 1000, input.begin() + (b + 1) * 1000);
        std::vector<float> shared = in;
        std::vector<float> silent(1000, 0.0f);
        std::vector<float> left(1000), right(1000), otherRight(1000);
        float* inputs[2] = {in.data(), silent.data()};
        float* outputs[2] = {left.data(), right.data()};
        separate->process(1000, inputs, outputs);
        float* sharedInputs[2] = {shared.data(), silent.data()};
        float* sharedOutputs[2] = {shared.data(), otherRight.data()};
        inPlace->process(1000, sharedInputs, sharedOutputs);
        ASSERT_EQ(shared, left) << b;
        ASSERT_EQ(otherRight, right) << b;
    }
}

TEST(ChainInputs, NoOutputSampleExceedsMinusOneDbFullScale) {
    // Full-scale squares, then full-scale noise, at the lowest and highest "Output AGC Threshold"
    // (parameter 3, -12 ... +3 dB, normalised 0 and 1). The ceiling holds exactly.
    for (float agc : {0.0f, 1.0f}) {
        Plugin plugin;
        ASSERT_TRUE(plugin);
        plugin.setParameter(3, agc);
        const int frames = 3 * 44100;
        std::vector<float> input(frames);
        const std::vector<float> loud = noise(frames, 31u, 1.0f);
        for (int n = 0; n < frames; ++n) {
            input[n] = n < frames / 2 ? ((n / 40) % 2 ? 1.0f : -1.0f) : loud[n];
        }
        std::vector<float> left(frames), right(frames);
        float peak = 0.0f;
        for (int done = 0; done < frames; done += 1024) {
            const int size = std::min(1024, frames - done);
            plugin.processReplacing(input.data() + done, left.data() + done, right.data() + done,
                                    size);
        }
        for (int n = 0; n < frames; ++n) {
            ASSERT_LE(std::fabs(left[n]), ceiling) << n;
            ASSERT_LE(std::fabs(right[n]), ceiling) << n;
            peak = std::max({peak, std::fabs(left[n]), std::fabs(right[n])});
        }
        // Loud material is brought up to the ceiling region, not merely kept below it.
        EXPECT_GT(peak, 0.5f) << agc;
    }
}

TEST(ChainInputs, ExtremeSampleRatesStayFiniteAndBelowTheCeiling) {
    // Below 44100 Hz every tuned frequency is limited to fs * 22000 / 44100, so even at 1 Hz
    // (the lowest clamped rate) and 8000 Hz no section turns unstable; 400000 Hz runs with the
    // constants of 192000 Hz.
    for (int rate : {1, 8000, 400000}) {
        auto processor = std::make_unique<mydsp>();
        processor->initialize(rate);
        const FlushDenormals flush;
        const std::vector<float> input = noise(20 * 512, 77u, 1.0f);
        float peak = 0.0f;
        for (int b = 0; b < 20; ++b) {
            std::vector<float> in(input.begin() + b * 512, input.begin() + (b + 1) * 512);
            std::vector<float> silent(512, 0.0f), left(512), right(512);
            float* inputs[2] = {in.data(), silent.data()};
            float* outputs[2] = {left.data(), right.data()};
            processor->process(512, inputs, outputs);
            for (int n = 0; n < 512; ++n) {
                ASSERT_TRUE(std::isfinite(left[n]) && std::isfinite(right[n])) << rate;
                ASSERT_LE(std::fabs(left[n]), ceiling) << rate;
                ASSERT_LE(std::fabs(right[n]), ceiling) << rate;
                peak = std::max({peak, std::fabs(left[n]), std::fabs(right[n])});
            }
        }
        EXPECT_GT(peak, 0.0f) << rate;
    }
}

}  // namespace
