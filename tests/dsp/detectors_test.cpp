#include "dsp/detectors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "dsp/sample_rate.h"
#include "dsp/sections.h"
#include "tests/dsp/measure.h"

namespace {

using std::numbers::pi;

using measure::amplitudeAt;

// Steady-state gain of a filter at `hz`: settles on a unit sine, then measures a whole number of
// periods.
template <typename Filter>
double sineGain(Filter&& step, double hz, double fs, double settleSeconds) {
    const int settle = static_cast<int>(settleSeconds * fs);
    const int periods = std::max(4, static_cast<int>(hz * 0.5));
    const int measure = static_cast<int>(std::lround(periods * fs / hz));
    std::vector<float> out;
    out.reserve(static_cast<std::size_t>(measure));
    for (int n = 0; n < settle + measure; ++n) {
        const float x = static_cast<float>(std::sin(2.0 * pi * hz * n / fs));
        const float y = step(x);
        if (n >= settle) out.push_back(y);
    }
    return amplitudeAt(out, hz, fs);
}

TEST(AllpassSection, ImpulseResponseUsesTheCoefficientUnsquaredAndKeepsUnitEnergy) {
    // y[n] = a (x[n] + y[n-2]) - x[n-2]: the impulse gives a, 0, a^2 - 1, 0, a (a^2 - 1), ...
    const float a = 0.8561711f;
    AllpassSection<> section;
    std::vector<float> response;
    for (std::uint32_t n = 0; n < 20000; ++n)
        response.push_back(section.step(n == 0 ? 1.0f : 0.0f, a, n & 1u));
    EXPECT_EQ(response[0], a);
    EXPECT_EQ(response[1], 0.0f);
    EXPECT_NEAR(response[2], a * a - 1.0f, 1e-7f);
    EXPECT_EQ(response[3], 0.0f);
    EXPECT_NEAR(response[4], a * (a * a - 1.0f), 1e-7f);

    // An allpass passes all of the impulse's energy; the tail has decayed far below 1e-6.
    double energy = 0.0;
    for (float v : response) energy += static_cast<double>(v) * v;
    EXPECT_NEAR(energy, 1.0, 1e-5);
}

TEST(AnalyticMagnitude, SilenceGivesTheMinus45dBFloor) {
    AnalyticMagnitude<> magnitude;
    for (int n = 0; n < 100; ++n) {
        // sqrt(3.1622778e-5) = 0.0056234133; one float rounding of the root.
        EXPECT_NEAR(magnitude.step(0.0f), 0.0056234133f, 1e-9f);
    }
}

TEST(AnalyticMagnitude, SettledUnitSineStaysWithinTheNetworkRippleFrom20HzTo20kHz) {
    // The phase difference of the two chains stays within 90 +- 13.3 degrees over the band, which
    // bounds the magnitude of a unit sine to 0.877 ... 1.109 once the chains have settled.
    const double fs = 44100.0;
    for (double hz : {20.0, 31.5, 63.0, 125.0, 250.0, 500.0, 1000.0, 2000.0, 4000.0, 8000.0,
                      12000.0, 16000.0, 20000.0}) {
        AnalyticMagnitude<> magnitude;
        float lowest = 10.0f;
        float highest = 0.0f;
        const int settle = 44100;  // the slowest section (a = 0.9987) needs about 0.1 s
        for (int n = 0; n < settle + 3 * 2205; ++n) {
            const float m = magnitude.step(static_cast<float>(std::sin(2.0 * pi * hz * n / fs)));
            if (n >= settle) {
                lowest = std::min(lowest, m);
                highest = std::max(highest, m);
            }
        }
        EXPECT_GE(lowest, 0.877f) << hz << " Hz";
        EXPECT_LE(highest, 1.109f) << hz << " Hz";
    }
}

TEST(AnalyticMagnitude, ScalesWithTheInputAndResetMatchesAFreshInstance) {
    AnalyticMagnitude<> used;
    AnalyticMagnitude<> fresh;
    for (int n = 0; n < 500; ++n) used.step(static_cast<float>(std::sin(0.3 * n)));
    used.reset();
    for (int n = 0; n < 3000; ++n) {
        const float x = 0.25f * static_cast<float>(std::sin(0.05 * n));
        const float m = used.step(x);
        EXPECT_EQ(m, fresh.step(x));
        if (n > 2000) {
            // A quarter-amplitude sine at 350 Hz, inside the ripple bounds scaled by 0.25.
            EXPECT_GE(m, 0.25f * 0.877f);
            EXPECT_LE(m, 0.25f * 1.109f);
        }
    }
}

TEST(SlidingWindowMaximum, HoldsASingleValueForExactly44Samples) {
    // At every position in the window's blocks of 44.
    for (int start = 0; start < 50; ++start) {
        SlidingWindowMaximum<> window;
        for (int n = 0; n < start; ++n) window.step(0.0f);
        EXPECT_EQ(window.step(1.0f), 1.0f);
        for (int n = 1; n < 44; ++n) EXPECT_EQ(window.step(0.0f), 1.0f) << n;
        EXPECT_EQ(window.step(0.0f), 0.0f);
        for (int n = 45; n < 200; ++n) EXPECT_EQ(window.step(0.0f), 0.0f) << n;
    }
}

TEST(SlidingWindowMaximum, FollowsTheLargestOfTheNewest44Values) {
    SlidingWindowMaximum<> window;
    std::vector<float> history;
    std::uint32_t seed = 12345;
    for (int n = 0; n < 1000; ++n) {
        seed = seed * 1664525u + 1013904223u;
        const float v = static_cast<float>(seed >> 8) / 16777216.0f;
        history.push_back(v);
        float expected = 0.0f;
        for (std::size_t j = 0; j < 44 && j < history.size(); ++j) {
            expected = std::max(expected, history[history.size() - 1 - j]);
        }
        EXPECT_EQ(window.step(v), expected);
    }
}

struct FollowerFixture {
    SampleRate rate = SampleRate::fromHz(44100);
    // The peakLevel parameters: tau0 0.25 s, activity 0.5 s, smoothing 15 ms.
    AdaptiveFollowerConstants<> constants{0.25f, Pole<>::at(rate, 2.0f),
                                          Pole<>::at(rate, 66.666664f)};
    AdaptiveFollower<> follower;

    float step(float v) { return follower.step(v, constants, rate.T); }
};

TEST(AdaptiveFollower, EqualInputIsNotRising) {
    // From reset y = 0, so a zero input is level with the output: the activity must stay 0.
    FollowerFixture f;
    for (int n = 0; n < 1000; ++n) EXPECT_EQ(f.step(0.0f), 0.0f);
    EXPECT_EQ(f.follower.activity, 0.0f);
}

TEST(AdaptiveFollower, StepUpAttacksAtOnceAndSmoothsTheOutput) {
    FollowerFixture f;
    f.step(1.0f);
    EXPECT_EQ(f.follower.envelope, 1.0f);
    EXPECT_EQ(f.follower.activity, 1.0f);
    // The output rises with the 15 ms smoother: 1 - 1/e after 15 ms (661.5 samples).
    for (int n = 1; n < 662; ++n) f.step(1.0f);
    EXPECT_NEAR(f.follower.output, 1.0f - std::exp(-1.0f), 2e-3f);
    EXPECT_EQ(f.follower.activity, 1.0f);
}

TEST(AdaptiveFollower, ReleaseTimeFallsFromTau0PlusOneSecondToTau0AsActivityDecays) {
    FollowerFixture f;
    const double fs = 44100.0;
    for (int n = 0; n < 2205; ++n) f.step(1.0f);  // 50 ms rising: h = 1
    ASSERT_EQ(f.follower.activity, 1.0f);

    // After the drop, h = p_h^n = exp(-t / 0.5 s) and tau = 0.25 + max(2 (h - 0.5), 0). The release
    // time is measured from the envelope's decay over 64 samples; single-float rounding of a pole
    // this close to 1 limits that measurement to about 0.5 %, so 1.5 % is allowed.
    auto expectedTau = [](double t) {
        const double h = std::exp(-t / 0.5);
        return 0.25 + std::max(2.0 * (h - 0.5), 0.0);
    };
    int n = 0;
    for (double checkAt : {0.0, 0.1, 0.2, 0.3, 0.4, 0.6}) {
        const int startSample = static_cast<int>(checkAt * fs);
        while (n < startSample) {
            f.step(0.0f);
            ++n;
        }
        const double before = f.follower.envelope;
        for (int j = 0; j < 64; ++j, ++n) f.step(0.0f);
        const double after = f.follower.envelope;
        const double measuredTau = -64.0 / fs / std::log(after / before);
        const double mid = (startSample + 32) / fs;
        EXPECT_NEAR(measuredTau, expectedTau(mid), 0.015 * expectedTau(mid)) << "t = " << mid;
    }
}

TEST(SmoothedPeak, AttackAndReleaseFollowTheirPoles) {
    const SampleRate rate = SampleRate::fromHz(48000);
    const Pole<> release = Pole<>::at(rate, 100.0f);     // 10 ms
    const Pole<> smoothing = Pole<>::at(rate, 1000.0f);  // 1 ms
    SmoothedPeak<> peak;
    peak.step(0.5f, release, smoothing);
    EXPECT_EQ(peak.held, 0.5f);  // instant attack
    EXPECT_NEAR(peak.output, 0.5f * (1.0f - smoothing.p), 1e-9f);
    for (int n = 1; n < 480; ++n) peak.step(0.0f, release, smoothing);
    // After 480 more samples (10 ms), the hold has released to 1/e of its peak (tolerance: one
    // sample of the release time). The smoother, ten times faster, has settled on the decay: it
    // trails it by the constant factor r = (1 - p_s) / (1 - p_s / p_r), about 10/9; what is left
    // of its start is below e^-10.
    EXPECT_NEAR(peak.held, 0.5f * std::exp(-479.0f / 480.0f), 1e-3f);
    const double lag = (1.0 - smoothing.p) / (1.0 - double(smoothing.p) / release.p);
    EXPECT_NEAR(peak.output / peak.held, lag, 1e-3);
    peak.step(0.3f, release, smoothing);
    EXPECT_EQ(peak.held, 0.3f);  // a new peak above the decayed value is taken at once
}

TEST(FirstOrderLowpass, TenHertzHasUnityDcGainAndIsThreeDbDownAtItsCutoff) {
    for (int fs : {44100, 96000, 22050}) {
        const SampleRate rate = SampleRate::fromHz(fs);
        const FirstOrderLowpassConstants c = FirstOrderLowpassConstants::at(rate, 10.0f);
        FirstOrderLowpass<> lowpass;
        float y = 0.0f;
        for (int n = 0; n < 2 * fs; ++n) y = lowpass.step(1.0f, c);
        // The approach to 1 stalls a few ulps of the state short (the step is below half an ulp).
        EXPECT_NEAR(y, 1.0f, 2e-4f) << fs;

        FirstOrderLowpass<> sine;
        const double gain = sineGain([&](float x) { return sine.step(x, c); }, 10.0, fs, 1.0);
        // Bilinear prewarping puts the -3 dB point exactly at 10 Hz; 0.1 % covers float rounding.
        EXPECT_NEAR(gain, std::sqrt(0.5), 1e-3) << fs;
        EXPECT_LT(sineGain([&](float x) { return sine.step(x, c); }, 100.0, fs, 0.5), 0.1) << fs;
    }
}

TEST(ButterworthLowpass, ThirtyHertzHasUnityDcGainAndIsThreeDbDownAtItsCutoff) {
    // A 30 Hz section is ill-conditioned in single precision: k^2 reaches 2.2e5 at 44100 Hz and
    // 4.1e6 at 192000 Hz, and the rounding of a1 and a2 moves the pole pair enough to change the
    // DC gain by 0.3 % and 3.5 % respectively. The tolerances are set by that, per rate.
    struct Case {
        int fs;
        double tolerance;
    };
    for (Case rateCase : {Case{44100, 0.005}, Case{192000, 0.05}}) {
        const int fs = rateCase.fs;
        const SampleRate rate = SampleRate::fromHz(fs);
        const ButterworthCoefficients<> c = ButterworthCoefficients<>::at(rate.prewarp(30.0f));
        ButterworthSection<> section;
        float y = 0.0f;
        for (int n = 0; n < fs; ++n) y = section.lowpass(1.0f, c);
        EXPECT_NEAR(y, 1.0f, rateCase.tolerance) << fs;
        section.reset();
        const double atCutoff =
            sineGain([&](float x) { return section.lowpass(x, c); }, 30.0, fs, 0.5);
        EXPECT_NEAR(atCutoff, std::sqrt(0.5), rateCase.tolerance) << fs;
        // Second order: 40 dB per decade above the cutoff.
        const double decadeUp =
            sineGain([&](float x) { return section.lowpass(x, c); }, 300.0, fs, 0.2);
        EXPECT_NEAR(20.0 * std::log10(decadeUp), -40.0, 0.5) << fs;
    }
}

TEST(SampleRateTuning, LowRatesKeepEveryTunedFrequencyBelowHalfTheRate) {
    // At 32000 Hz a 22000 Hz edge would lie above half the rate (tan < 0); it is limited to the
    // place 22000 Hz has at 44100 Hz, so k stays positive and equals the 44100 Hz value.
    const SampleRate low = SampleRate::fromHz(32000);
    const SampleRate reference = SampleRate::fromHz(44100);
    EXPECT_GT(low.prewarp(22000.0f), 0.0f);
    EXPECT_NEAR(low.prewarp(22000.0f), reference.prewarp(22000.0f), 1e-4f);
    EXPECT_EQ(low.prewarp(1000.0f), 1.0f / crmath::tan(low.piOverFs * 1000.0f));
    EXPECT_EQ(reference.prewarp(22000.0f), 1.0f / crmath::tan(reference.piOverFs * 22000.0f));
}

}  // namespace

namespace {

// The follower with its falling pole looked up in a table against the same follower taking the
// exponential every time: the same output, envelope and activity bit for bit, at common rates, at
// rates so low that a rise no longer sets the activity to exactly 1, and with a table cut short
// (64 entries), whose missing release times must fall back to the exponential.
template <std::size_t N>
void expectTabledFollowerMatches(int hz) {
    SCOPED_TRACE(hz);
    const SampleRate rate = SampleRate::fromHz(hz);
    // The separation envelope's parameters: tau0 30 ms, activity 60 ms, smoothing 1 ms.
    const AdaptiveFollowerConstants<> constants{0.03f, Pole<>::at(rate, 16.666666f),
                                                Pole<>::at(rate, 1000.0f)};
    ReleaseTable<N> table;
    table.fill(constants, rate.T);
    AdaptiveFollower<> plain;
    AdaptiveFollower<> tabled;
    std::uint32_t state = 12345u;
    const int frames = std::max(4 * hz, 400);
    for (int n = 0; n < frames; ++n) {
        state = state * 1664525u + 1013904223u;
        // Bursts of noise every half second, each falling away over 0.2 s, then silence.
        const double t = static_cast<double>(n % (hz / 2 + 1)) / hz;
        const float level = t < 0.2 ? static_cast<float>(1.0 - 5.0 * t) : 0.0f;
        const float v = level * static_cast<float>(state >> 8) / 16777216.0f;
        const float expected = plain.step(v, constants, rate.T);
        ASSERT_EQ(tabled.step(v, constants, rate.T, table), expected) << "sample " << n;
        ASSERT_EQ(tabled.envelope, plain.envelope);
        ASSERT_EQ(tabled.activity, plain.activity);
    }
}

TEST(ReleaseTable, TabledFollowerMatchesTheExponentialBitForBit) {
    for (int hz : {10, 30, 8000, 44100, 48000, 96000, 192000}) {
        expectTabledFollowerMatches<8192>(hz);
        expectTabledFollowerMatches<64>(hz);
    }
}

// A pole cache that keeps nothing: the exponential every time, the reference for the caches.
struct UncachedPole {
    float of(float tau, float periodT) { return crmath::exp(-periodT / tau); }
};

TEST(PoleInterval, FollowerMatchesTheExponentialEverySampleBitForBit) {
    // The average follower's constants (tau0 5 s, activity 10 s, smoothing 0.5 s), whose release
    // time drifts slowly, and the peak follower's (0.25 s, 0.5 s, 15 ms), whose pole changes
    // nearly every sample while it decays; bursts of noise and silence, so that the release time
    // falls through whole intervals, jumps back on a rise and settles at tau0.
    for (int hz : {8000, 44100, 192000}) {
        const SampleRate rate = SampleRate::fromHz(hz);
        for (const auto& constants :
             {AdaptiveFollowerConstants<>{5.0f, Pole<>::at(rate, 0.1f), Pole<>::at(rate, 2.0f)},
              AdaptiveFollowerConstants<>{0.25f, Pole<>::at(rate, 2.0f),
                                          Pole<>::at(rate, 66.666664f)}}) {
            SCOPED_TRACE(testing::Message() << hz << " Hz, tau0 " << constants.tau0);
            AdaptiveFollower<float, UncachedPole> reference;
            AdaptiveFollower<float, PoleInterval<float>> interval;
            std::uint32_t state = 99u;
            for (int n = 0; n < 12 * hz; ++n) {
                state = state * 1664525u + 1013904223u;
                const bool burst = (n / (hz / 4)) % 7 < 2;  // 0.5 s of noise every 1.75 s
                const float v = burst ? static_cast<float>(state >> 8) / 16777216.0f : 0.0f;
                const float expected = reference.step(v, constants, rate.T);
                ASSERT_EQ(interval.step(v, constants, rate.T), expected) << "sample " << n;
                ASSERT_EQ(interval.activity, reference.activity);
            }
        }
    }
}

TEST(ReleaseTable, TableRestartedForOtherConstantsWithoutAResetStillMatches) {
    // A follower whose table is filled again for another rate while the follower keeps its state
    // (the state of the old constants): no count of the old filling may be trusted, or the first
    // pole looked up after the switch would belong to the old activity sequence.
    const SampleRate first = SampleRate::fromHz(48000);
    const SampleRate second = SampleRate::fromHz(8000);
    const auto constantsAt = [](const SampleRate& rate) {
        return AdaptiveFollowerConstants<>{0.03f, Pole<>::at(rate, 16.666666f),
                                           Pole<>::at(rate, 1000.0f)};
    };
    ReleaseTable<8192> table;
    AdaptiveFollower<> plain;
    AdaptiveFollower<> tabled;
    std::uint32_t state = 777u;
    for (const SampleRate* rate : {&first, &second, &first}) {
        const AdaptiveFollowerConstants<> constants = constantsAt(*rate);
        table.fill(constants, rate->T);
        for (int n = 0; n < 6000; ++n) {
            state = state * 1664525u + 1013904223u;
            // Noise bursts of 1000 samples every 4800: each switch comes 200 samples into a
            // decay, with the activity between one half and 1.
            const float v = n % 4800 < 1000 ? static_cast<float>(state >> 8) / 16777216.0f : 0.0f;
            const float expected = plain.step(v, constants, rate->T);
            ASSERT_EQ(tabled.step(v, constants, rate->T, table), expected) << "sample " << n;
        }
    }
}

TEST(ReleaseTable, EndsWhereTheActivityHasFallenToOneHalf) {
    // The activity decays with 60 ms from 1, so it reaches 1/2 after 60 ms ln 2 = 41.6 ms; from
    // there the release time is tau0. The float pole (within 6e-8 of its value) and the rounding
    // of each of the ~8000 decay steps at 192 kHz move that point by up to about two samples, so
    // three are allowed.
    for (int hz : {44100, 192000}) {
        const SampleRate rate = SampleRate::fromHz(hz);
        const AdaptiveFollowerConstants<> constants{0.03f, Pole<>::at(rate, 16.666666f),
                                                    Pole<>::at(rate, 1000.0f)};
        ReleaseTable<8192> table;
        table.start(constants, rate.T);
        EXPECT_EQ(table.lastRelease, 1.03f);
        EXPECT_EQ(table.pole[0], crmath::exp(-rate.T / 1.03f));
        table.extend(constants, rate.T, 8192);
        EXPECT_TRUE(table.settled && table.usable);
        EXPECT_NEAR(table.last, 0.06 * std::log(2.0) * hz, 3.0) << hz;
        EXPECT_EQ(table.lastRelease, 0.03f);
        EXPECT_EQ(table.pole[static_cast<int>(table.last)], crmath::exp(-rate.T / 0.03f));
        // One entry fewer still lies above tau0.
        ReleaseTable<8192> shorter;
        shorter.start(constants, rate.T);
        shorter.extend(constants, rate.T, static_cast<std::size_t>(table.last) - 1);
        EXPECT_FALSE(shorter.settled);
        EXPECT_GT(shorter.lastRelease, 0.03f);
    }
}

}  // namespace
