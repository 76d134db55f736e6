#include "dsp/output_stage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>
#include <vector>

#include "dsp/sample_rate.h"
#include "support/noise.h"

namespace {

using testsignal::Xorshift32;

using std::numbers::pi;
constexpr float ceiling = OutputStage::ceiling;

// One output stage with a fixed DNR2 cutoff and "Output AGC Threshold".
struct OutputRun {
    SampleRate rate;
    std::unique_ptr<OutputStage> stage = std::make_unique<OutputStage>();
    float k2;
    float agcTarget;
    std::uint32_t ringIndex = 0;

    explicit OutputRun(float thresholdDb = -6.0f, float cutoffHz = 22000.0f, int fs = 44100)
        : rate(SampleRate::fromHz(fs)),
          k2(rate.prewarp(cutoffHz)),
          agcTarget(0.001f * crmath::exp10(0.05f * thresholdDb)) {
        stage->computeConstants(rate);
        stage->clear();
    }

    StereoSum step(float left, float right) {
        return stage->step(left, right, k2, k2 + 1.0f, agcTarget, ringIndex++);
    }
};

TEST(OutputStage, SilenceAfterAClearGivesExactZeros) {
    OutputRun run;
    Xorshift32 noise;
    for (int n = 0; n < 5000; ++n) run.step(noise.bipolar(), noise.bipolar());
    run.stage->clear();
    run.ringIndex = 0;
    for (int n = 0; n < 5000; ++n) {
        const StereoSum out = run.step(0.0f, 0.0f);
        ASSERT_EQ(out.left, 0.0f) << n;
        ASSERT_EQ(out.right, 0.0f) << n;
    }
}

TEST(OutputStage, EachSumReachesItsOwnChannel132SamplesLate) {
    OutputRun run;
    for (int n = 0; n < 400; ++n) {
        const StereoSum out = run.step(n == 10 ? 0.5f : 0.0f, n == 20 ? -0.5f : 0.0f);
        if (n < 142) {
            ASSERT_EQ(out.left, 0.0f) << n;
        }
        if (n < 152) {
            ASSERT_EQ(out.right, 0.0f) << n;
        }
        // Each impulse is the peak of its own envelope when it leaves: exactly the ceiling.
        if (n == 142) {
            EXPECT_EQ(out.left, ceiling);
        }
        if (n == 152) {
            EXPECT_EQ(out.right, -ceiling);
        }
    }
}

TEST(OutputStage, NoOutputSampleExceedsMinusOneDbForFullScaleSquaresAndNoise) {
    // v is never below this sample's |dL| or |dR|, so |d / v| <= 1 exactly and the ceiling holds
    // bit for bit; it is checked with no tolerance.
    for (float threshold : {-12.0f, -6.0f, 3.0f}) {
        for (float cutoff : {1000.0f, 22000.0f}) {
            OutputRun run(threshold, cutoff);
            Xorshift32 noise;
            float peak = 0.0f;
            for (int n = 0; n < 3 * 44100; ++n) {
                const float square = ((n / 50) % 2 == 0) ? 1.0f : -1.0f;
                // The second second swaps in noise up to 4x full scale on both channels.
                const bool noisy = n >= 44100 && n < 2 * 44100;
                const float left = noisy ? 4.0f * noise.bipolar() : square;
                const float right = noisy ? 4.0f * noise.bipolar() : -square;
                const StereoSum out = run.step(left, right);
                peak = std::max({peak, std::fabs(out.left), std::fabs(out.right)});
                ASSERT_LE(std::fabs(out.left), ceiling) << n;
                ASSERT_LE(std::fabs(out.right), ceiling) << n;
            }
            EXPECT_GT(peak, 0.8f);  // the square wave does reach the ceiling region
        }
    }
}

TEST(OutputStage, QuietMaterialSettlesAtTheTargetGain) {
    // t settles at 10^(threshold / 20); a quiet constant (DC passes the lowpass at unity) then
    // leaves with gain 0.8912509 / t. The smoother's float fixed point lies within 1e-4 of t.
    for (float threshold : {-12.0f, -6.0f, 3.0f}) {
        OutputRun run(threshold, 1000.0f);
        StereoSum out{};
        for (int n = 0; n < 30000; ++n) out = run.step(0.01f, -0.005f);
        const double target = std::pow(10.0, threshold / 20.0);
        EXPECT_NEAR(out.left / 0.01f, ceiling / target, 1e-3 * ceiling / target) << threshold;
        EXPECT_NEAR(out.right / -0.005f, ceiling / target, 1e-3 * ceiling / target) << threshold;
    }
}

TEST(OutputStage, TheTargetGlidesToANewThresholdWithoutAStep) {
    OutputRun run(-12.0f, 1000.0f);
    StereoSum out{};
    for (int n = 0; n < 30000; ++n) out = run.step(0.01f, 0.01f);
    const float before = out.left;
    run.agcTarget = 0.001f * crmath::exp10(0.05f * 3.0f);
    out = run.step(0.01f, 0.01f);
    // One sample later t has moved by 0.1 % of the difference of its settled values.
    EXPECT_LT(std::fabs(out.left - before), 0.01f * before);
    for (int n = 0; n < 30000; ++n) out = run.step(0.01f, 0.01f);
    EXPECT_NEAR(out.left / 0.01f, ceiling / 1.4125376f, 1e-3f);
}

TEST(OutputStage, AClickLowersTheGainBeforeItIsHeardAndTheGainRecovers) {
    OutputRun run(-6.0f, 22000.0f);
    const double fs = 44100.0;
    auto quiet = [&](int n) {
        return 0.02f * static_cast<float>(std::sin(2.0 * pi * 220.0 * n / fs));
    };
    const int clickAt = 44100;
    std::vector<float> left;
    std::vector<float> input;
    for (int n = 0; n < clickAt + 44100; ++n) {
        const float in = quiet(n) + (n == clickAt ? 1.0f : 0.0f);
        input.push_back(in);
        left.push_back(run.step(in, 0.0f).left);
    }
    // Gain on the quiet sine: output over the input 132 samples earlier (the 220 Hz sine passes
    // the 22 kHz lowpass within 0.01 %), measured at the crests where the ratio is well defined.
    auto gainAround = [&](int from, int to) {
        double out = 0.0;
        double in = 0.0;
        for (int n = from; n < to; ++n) {
            out = std::max(out, static_cast<double>(std::fabs(left[n])));
            in = std::max(in, static_cast<double>(std::fabs(input[n - 132])));
        }
        return out / in;
    };
    const double settled = ceiling / std::pow(10.0, -6.0 / 20.0);  // 1.778
    EXPECT_NEAR(gainAround(clickAt - 2000, clickAt), settled, 0.01 * settled);

    // The click enters the envelope at once (through the filtered, undelayed sum): the quiet
    // samples output in the 132 samples before the click is heard are already turned down.
    for (int n = clickAt; n < clickAt + 132; ++n) {
        if (std::fabs(input[n - 132]) > 0.005f) {
            ASSERT_LT(std::fabs(left[n] / input[n - 132]), 1.0f) << n;
        }
    }
    // The click itself comes out at the ceiling, not above.
    EXPECT_LE(std::fabs(left[clickAt + 132]), ceiling);
    EXPECT_GT(std::fabs(left[clickAt + 132]), 0.8f);
    // Half a second later the 50 ms release has brought the gain back.
    EXPECT_NEAR(gainAround(clickAt + 22050, clickAt + 24050), settled, 0.01 * settled);
}

TEST(OutputStage, OutputLowpassFollowsTheDnr2Cutoff) {
    // Quiet sines stay below the target, so the gain is the constant 0.8912509 / t and the ratio
    // of two tones is the lowpass's own: a first-order bilinear lowpass is exactly -3.01 dB at
    // its cutoff (prewarped). 0.05 dB covers the amplitude read-off from peaks.
    auto peakAt = [](double hz) {
        OutputRun run(-6.0f, 1000.0f);
        float peak = 0.0f;
        for (int n = 0; n < 60000; ++n) {
            const float in = 0.01f * static_cast<float>(std::sin(2.0 * pi * hz * n / 44100.0));
            const float out = run.step(in, in).left;
            if (n > 40000) peak = std::max(peak, std::fabs(out));
        }
        return peak;
    };
    EXPECT_NEAR(20.0 * std::log10(peakAt(1000.0) / peakAt(20.0)), -3.01, 0.05);
}

TEST(OutputStage, LowRatesKeepTheOutputLowpassStable) {
    // At 32000 Hz a 22000 Hz cutoff lies above half the rate; with the tuning limit k2 stays
    // positive and the lowpass passes a quiet tone at unity instead of blowing up.
    OutputRun run(-6.0f, 22000.0f, 32000);
    EXPECT_GT(run.k2, 0.0f);
    float peak = 0.0f;
    for (int n = 0; n < 64000; ++n) {
        const float in = 0.01f * static_cast<float>(std::sin(2.0 * pi * 440.0 * n / 32000.0));
        const float out = run.step(in, in).left;
        if (n > 32000) peak = std::max(peak, std::fabs(out));
    }
    EXPECT_NEAR(peak, 0.01f * ceiling / 0.5011872f, 1e-4f);
}

}  // namespace
