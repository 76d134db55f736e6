#include "dsp/comb_decorrelator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "front_chain.h"

namespace {

std::vector<float> run(const std::vector<float>& x) {
    CombDecorrelator<> decorrelator;
    std::vector<float> d(x.size());
    for (std::size_t n = 0; n < x.size(); ++n) {
        d[n] = decorrelator.step(x[n], static_cast<std::uint32_t>(n));
    }
    return d;
}

// The chain's impulse response, 300 samples late. Every section is a function of z^-2, so the
// response lives on even lags only. Its first sample is the product of the sixty coefficients
// (each section's own first sample is its a), and the one two samples later is
// sum_j (a_j^2 - 1) prod_{i != j} a_i, both computed here in double from the four listed values;
// the float chain matches them to 1e-5 of the product's size.
TEST(CombDecorrelator, ImpulseArrives300SamplesLaterAsTheAllpassResponse) {
    std::vector<float> x(4000, 0.0f);
    x[0] = 1.0f;
    const std::vector<float> d = run(x);
    for (std::size_t n = 0; n < combDelay; ++n) ASSERT_EQ(d[n], 0.0f) << "sample " << n;
    for (std::size_t n = combDelay + 1; n < d.size(); n += 2) {
        ASSERT_EQ(d[n], 0.0f) << "odd lag " << n - combDelay;
    }

    double product = 1.0;
    for (int j = 0; j < decorrelatorSections; ++j) product *= phaseNetworkChainB[j % 4];
    double second = 0.0;
    for (int j = 0; j < decorrelatorSections; ++j) {
        const double a = phaseNetworkChainB[j % 4];
        second += (a * a - 1.0) * product / a;
    }
    EXPECT_NEAR(d[combDelay], product, 1e-5 * std::fabs(product));
    EXPECT_NEAR(d[combDelay + 2], second, 1e-5 * std::fabs(second));
}

// An allpass passes the energy of an impulse whole. The slowest poles lie at sqrt(0.9952885)
// from the origin, so the response has fallen far below float resolution after 60000 samples;
// the float chain's rounding, spread over thousands of samples, moves the total by about 1e-8.
TEST(CombDecorrelator, ImpulseEnergyIsPreserved) {
    std::vector<float> x(60000 + combDelay, 0.0f);
    x[0] = 0.5f;
    const std::vector<float> d = run(x);
    double energy = 0.0;
    for (float v : d) energy += double(v) * v;
    EXPECT_NEAR(energy, 0.25, 0.25 * 1e-6);
}

// A steady sine comes out as a sine of the same amplitude, so the comb pair x + d, x - d carries
// twice the power of x between them: |x + d|^2 + |x - d|^2 = 4 |x|^2. Powers are averaged over
// a whole number of cycles after the chain has settled (20000 samples, beyond the slowest
// poles' decay); the remaining error comes from float rounding and the slowest poles' residue,
// measured below 3e-6 of the power.
TEST(CombDecorrelator, CombPairCarriesTwiceThePowerOfTheInput) {
    const int rate = 48000;
    for (double hz : {60.0, 500.0, 1000.0, 3000.0, 12000.0}) {
        const int samples = 20000 + rate;  // the last second holds whole cycles of each frequency
        const std::vector<float> x = fronttest::sine(0.5, hz, rate, samples);
        const std::vector<float> d = run(x);
        double sumPower = 0.0;
        double differencePower = 0.0;
        double inputPower = 0.0;
        for (int n = samples - rate; n < samples; ++n) {
            const double xs = x[static_cast<std::size_t>(n)];
            const double ds = d[static_cast<std::size_t>(n)];
            sumPower += (xs + ds) * (xs + ds);
            differencePower += (xs - ds) * (xs - ds);
            inputPower += xs * xs;
        }
        EXPECT_NEAR((sumPower + differencePower) / (4.0 * inputPower), 1.0, 2e-5) << hz << " Hz";
    }
}

TEST(CombDecorrelator, SilenceStaysSilent) {
    const std::vector<float> d = run(std::vector<float>(2000, 0.0f));
    for (float v : d) ASSERT_EQ(v, 0.0f);
}

// The chain sample by sample, exactly as written: y_j[n] = a_j (y_{j-1}[n] + y_j[n-2]) -
// y_{j-1}[n-2], each section keeping its input and output of the last two samples, and d the
// output of section 60 from 300 samples before. The decorrelator runs its sections as a pipeline
// behind the input, which must not change a single bit of d, from any starting count of the
// shared counter (also across its wrap and with either parity).
std::vector<float> referenceChain(const std::vector<float>& x) {
    float inputs[decorrelatorSections][2] = {};   // y_{j-1}[n-1], y_{j-1}[n-2]
    float outputs[decorrelatorSections][2] = {};  // y_j[n-1], y_j[n-2]
    std::vector<float> last(x.size());
    std::vector<float> d(x.size(), 0.0f);
    for (std::size_t n = 0; n < x.size(); ++n) {
        float in = x[n];
        for (int j = 0; j < decorrelatorSections; ++j) {
            const float out = phaseNetworkChainB[j % 4] * (in + outputs[j][1]) - inputs[j][1];
            inputs[j][1] = inputs[j][0];
            inputs[j][0] = in;
            outputs[j][1] = outputs[j][0];
            outputs[j][0] = out;
            in = out;
        }
        last[n] = in;
        if (n >= combDelay) d[n] = last[n - combDelay];
    }
    return d;
}

template <class V>
void expectTheChainRunSampleBySample(const std::vector<float>& x,
                                     const std::vector<float>& expected) {
    for (std::uint32_t start : {0u, 5u, 0xFFFFFFFFu - 700u, 0xFFFFFFFFu - 3u}) {
        CombDecorrelator<V> decorrelator;
        std::uint32_t ringIndex = start;
        for (std::size_t n = 0; n < x.size(); ++n, ++ringIndex) {
            ASSERT_EQ(decorrelator.step(x[n], ringIndex), expected[n])
                << "width " << LaneTraits<V>::width << ", start " << start << ", sample " << n;
        }
    }
}

// The sections run as a pipeline across lanes (floats, and the SSE2 lanes here; the AVX2 lanes
// are compared with these by the band engine's tests).
TEST(CombDecorrelator, MatchesTheChainRunSampleBySample) {
    std::mt19937 random(9);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    std::vector<float> x(5000);
    for (float& v : x) v = uniform(random);
    const std::vector<float> expected = referenceChain(x);
    expectTheChainRunSampleBySample<float>(x, expected);
#ifdef ZELKO_HAVE_SSE2
    expectTheChainRunSampleBySample<Lanes4>(x, expected);
#endif
}

TEST(CombDecorrelator, ResetEqualsFresh) {
    CombDecorrelator<> used;
    const std::vector<float> noise = fronttest::sine(0.9, 7000.0, 48000, 1500);
    for (std::size_t n = 0; n < noise.size(); ++n)
        used.step(noise[n], static_cast<std::uint32_t>(n));
    used.reset();
    const std::vector<float> x = fronttest::sine(0.4, 440.0, 48000, 1000);
    const std::vector<float> reference = run(x);
    for (std::size_t n = 0; n < x.size(); ++n) {
        ASSERT_EQ(used.step(x[n], static_cast<std::uint32_t>(n)), reference[n]);
    }
}

}  // namespace
