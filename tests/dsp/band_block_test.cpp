#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "dsp/band_table.h"
#include "dsp/sample_rate.h"
#include "tests/dsp/reference_band_block.h"

namespace {

constexpr double pi = 3.14159265358979323846;

const BandRow& row(int bandNumber) {
    return bandTable[static_cast<std::size_t>(12 - bandNumber)];
}

struct Noise {
    std::uint32_t state = 2463534242u;
    float next() {  // uniform in [-1, 1)
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<float>(static_cast<std::int32_t>(state)) / 2147483648.0f;
    }
};

double amplitudeAt(const std::vector<float>& signal, double hz, double fs) {
    double re = 0.0;
    double im = 0.0;
    for (std::size_t n = 0; n < signal.size(); ++n) {
        const double phase = 2.0 * pi * hz * static_cast<double>(n) / fs;
        re += signal[n] * std::cos(phase);
        im += signal[n] * std::sin(phase);
    }
    return 2.0 * std::hypot(re, im) / static_cast<double>(signal.size());
}

// Magnitude of the ideal band response: two Butterworth highpass sections at the low edge and
// two lowpass sections at the high edge, through the bilinear transform with prewarped edges
// (so |H| is the analog response at tan(pi f / fs) / tan(pi edge / fs)), in double precision.
double idealBandGain(double hz, double fs, double lowEdge, double highEdge) {
    const double w = std::tan(pi * hz / fs);
    const double low = w / std::tan(pi * lowEdge / fs);
    const double high = w / std::tan(pi * highEdge / fs);
    const double highpass = std::pow(low, 4) / (1.0 + std::pow(low, 4));  // |HP2|^2
    const double lowpass = 1.0 / (1.0 + std::pow(high, 4));               // |LP2|^2
    return highpass * lowpass;
}

double measuredBandGain(const BandConstants& c, double hz, double fs) {
    BandFilter filter;
    const int settle = static_cast<int>(0.5 * fs);
    const int periods = std::max(8, static_cast<int>(hz * 0.25));
    const int measure = static_cast<int>(std::lround(periods * fs / hz));
    std::vector<float> out;
    for (int n = 0; n < settle + measure; ++n) {
        const float y = filter.step(static_cast<float>(std::sin(2.0 * pi * hz * n / fs)), c);
        if (n >= settle) out.push_back(y);
    }
    return amplitudeAt(out, hz, fs);
}

double dB(double v) {
    return 20.0 * std::log10(v);
}

TEST(BandFilter, MatchesTheFourthOrderBandResponseAtChosenFrequencies) {
    // Rounding in single precision moves the low sections' poles slightly (band 1's 20 Hz
    // highpass has k^2 near 5e5); 0.1 dB in the passband and at the edges, 0.5 dB in the deep
    // stopband, cover that.
    for (int fs : {44100, 48000, 96000}) {
        const SampleRate rate = SampleRate::fromHz(fs);
        for (int bandNumber : {1, 3, 7, 11, 12}) {
            const BandRow& r = row(bandNumber);
            const BandConstants c = BandConstants::at(rate, r);
            const double centre = std::sqrt(static_cast<double>(r.lowEdge) * r.highEdge);
            for (double hz :
                 {centre, static_cast<double>(r.lowEdge), static_cast<double>(r.highEdge),
                  r.lowEdge / 2.0, std::min(r.highEdge * 1.5, fs * 0.45)}) {
                const double expected = idealBandGain(hz, fs, r.lowEdge, r.highEdge);
                const double measured = measuredBandGain(c, hz, fs);
                const double tolerance = expected > 0.1 ? 0.1 : 0.5;
                EXPECT_NEAR(dB(measured), dB(expected), tolerance)
                    << "band " << bandNumber << " at " << hz << " Hz, fs " << fs;
            }
        }
    }
}

TEST(BandFilter, NeighbouringBandsCrossOverWithEqualGainAtTheirSharedEdge) {
    // Band 7's low edge (1012 Hz) is band 6's high edge. Each is -6 dB there from its own
    // Linkwitz-Riley slope, less 1.6 dB from its far slope, which lies the same factor 1.5 away
    // on either side.
    for (int fs : {44100, 96000}) {
        const SampleRate rate = SampleRate::fromHz(fs);
        const double upper = dB(measuredBandGain(BandConstants::at(rate, row(7)), 1012.0, fs));
        const double lower = dB(measuredBandGain(BandConstants::at(rate, row(6)), 1012.0, fs));
        EXPECT_NEAR(upper, lower, 0.05) << fs;
        EXPECT_NEAR(upper, -7.6, 0.1) << fs;
    }
}

TEST(BandFilter, LowRatesKeepTheTopBandStableWithItsEdgeBelowHalfTheRate) {
    // Below 44100 Hz the 22000 Hz edge is limited to fs * 22000 / 44100: band 12 keeps its
    // 44100 Hz shape, scaled to the rate, and stays bounded on full-scale noise.
    for (int fs : {32000, 22050, 8000}) {
        const SampleRate rate = SampleRate::fromHz(fs);
        const BandRow& r = row(12);
        const BandConstants c = BandConstants::at(rate, r);
        const double limitedHigh = fs * 22000.0 / 44100.0;
        const double limitedLow = std::min(static_cast<double>(r.lowEdge), limitedHigh);
        const double probe = std::sqrt(limitedLow * limitedHigh) * 0.97;
        EXPECT_NEAR(dB(measuredBandGain(c, probe, fs)),
                    dB(idealBandGain(probe, fs, limitedLow, limitedHigh)), 0.2)
            << fs;
        BandFilter filter;
        Noise noise;
        float peak = 0.0f;
        for (int n = 0; n < 5 * fs; ++n)
            peak = std::max(peak, std::fabs(filter.step(noise.next(), c)));
        EXPECT_LT(peak, 4.0f) << fs;
    }
}

// Drives one separated band with given comb signals and collects its outputs.
struct SeparatedRun {
    SampleRate rate;
    BandSharedConstants shared;
    BandConstants constants;
    std::unique_ptr<SeparatedBand> band = std::make_unique<SeparatedBand>();
    std::uint32_t ringIndex = 0;
    float autoEqFloor = 0.001f;  // "Auto-EQ Threshold" -60 dB
    float gateScale = 507.0f;    // above any band level times gateScale: gate fully open

    SeparatedRun(int fs, int bandNumber)
        : rate(SampleRate::fromHz(fs)),
          shared(BandSharedConstants::at(rate)),
          constants(BandConstants::at(rate, row(bandNumber))) {}

    SeparatedBand::Output step(float combSum, float combDifference) {
        return band->step(combSum, combDifference, ringIndex++, autoEqFloor, gateScale, constants,
                          shared);
    }
};

float sineAt(double hz, double fs, int n) {
    return static_cast<float>(std::sin(2.0 * pi * hz * n / fs));
}

TEST(SeparatedBand, EqualCombSignalsGiveSeparationZeroAndAMonoBand) {
    // With d = 0 the comb signals are identical: E+ = E-, q = ACT <= 1, so the meter is exactly 0
    // on every sample, the side signal is exactly 0, and mid alone carries the band.
    SeparatedRun run(44100, 8);
    Noise noise;
    double midEnergy = 0.0;
    for (int n = 0; n < 44100; ++n) {
        const float x = noise.next();
        const SeparatedBand::Output out = run.step(x, x);
        ASSERT_EQ(out.meter, 0.0f) << n;
        ASSERT_EQ(out.side, 0.0f) << n;
        midEnergy += static_cast<double>(out.mid) * out.mid;
    }
    EXPECT_GT(midEnergy, 1.0);
}

TEST(SeparatedBand, RatioTwoClampsTheMeterAtOneAndAHalf) {
    // combSum = 2 combDifference exactly, so every detector value of the plus side is exactly
    // twice the minus side's: HI / LO = 2, ACT -> 1, s = tan(1) = 1.557 and the meter clamps.
    SeparatedRun run(44100, 7);
    const double hz = 1240.0;
    SeparatedBand::Output out{};
    double sideEnergy = 0.0;
    double midEnergy = 0.0;
    for (int n = 0; n < 2 * 44100; ++n) {
        const float s = 0.3f * sineAt(hz, 44100.0, n);
        out = run.step(2.0f * s, s);
        ASSERT_GE(out.meter, 0.0f);
        ASSERT_LE(out.meter, 1.5f);
        if (n >= 44100) {
            sideEnergy += static_cast<double>(out.side) * out.side;
            midEnergy += static_cast<double>(out.mid) * out.mid;
        }
    }
    EXPECT_EQ(out.meter, 1.5f);
    // mid ~ (2s + s) and side ~ SEP (2s - s) = 1.5 s: side / mid = 1.5 / 3 in amplitude. The
    // 30 Hz section's settled DC gain (0.3 % off at 44100 Hz) and rounding allow 1 %.
    EXPECT_NEAR(std::sqrt(sideEnergy / midEnergy), 0.5, 0.005);
}

TEST(SeparatedBand, RatioThreeCollapsesTheBandToMono) {
    // HI / LO = 3: tan(2) < 0, so s = 0 and the band falls back to mono once the onset (where
    // ACT passes the separating range on its way to 1) has decayed from the separation filters.
    SeparatedRun run(44100, 7);
    const double hz = 1240.0;
    SeparatedBand::Output out{};
    double sideEnergy = 0.0;
    double midEnergy = 0.0;
    for (int n = 0; n < 3 * 44100; ++n) {
        const float s = 0.2f * sineAt(hz, 44100.0, n);
        out = run.step(3.0f * s, s);
        ASSERT_GE(out.meter, 0.0f);
        ASSERT_LE(out.meter, 1.5f);
        if (n >= 2 * 44100) {
            // The onset's separation decays geometrically towards 0 in the 10 Hz lowpass.
            ASSERT_LT(out.meter, 1e-6f) << n;
            sideEnergy += static_cast<double>(out.side) * out.side;
            midEnergy += static_cast<double>(out.mid) * out.mid;
        }
    }
    // The side output 2048 samples late still carries the tail of the onset's separation, which
    // a 30 Hz lowpass lets decay to far below 1 % within a second.
    EXPECT_LT(std::sqrt(sideEnergy / midEnergy), 1e-3);
}

TEST(SeparatedBand, MeterStaysWithinZeroToOneAndAHalfForUnrelatedCombSignals) {
    SeparatedRun run(48000, 10);
    Noise a;
    Noise b;
    b.state = 99991u;
    float highest = 0.0f;
    for (int n = 0; n < 2 * 48000; ++n) {
        // Independent noises with a slow level swing, so the ratio wanders through all ranges.
        const float swing = 0.5f + 0.5f * sineAt(0.7, 48000.0, n);
        const SeparatedBand::Output out = run.step(a.next(), swing * b.next());
        ASSERT_GE(out.meter, 0.0f) << n;
        ASSERT_LE(out.meter, 1.5f) << n;
        highest = std::max(highest, out.meter);
    }
    EXPECT_GT(highest, 0.1f);  // the test did reach separating ratios
}

// Steady-state RMS of the mid output for a sine comb pair (plusScale * s, s).
double steadyMidRms(int bandNumber, double hz, float amplitude, float plusScale,
                    float autoEqFloor = 0.001f, float gateScale = 507.0f) {
    SeparatedRun run(44100, bandNumber);
    run.autoEqFloor = autoEqFloor;
    run.gateScale = gateScale;
    double energy = 0.0;
    int counted = 0;
    for (int n = 0; n < 3 * 44100; ++n) {
        const float s = amplitude * sineAt(hz, 44100.0, n);
        const float mid = run.step(plusScale * s, s).mid;
        if (n >= 2 * 44100) {
            energy += static_cast<double>(mid) * mid;
            ++counted;
        }
    }
    return std::sqrt(energy / counted);
}

TEST(SeparatedBand, WidthGainRaisesANarrowBandByOnePointSixTwoOne) {
    // (3 s, s) collapses to mono (SEP = 0, W = 1 + 0.414 * 1.5 = 1.621); (2 s, s) separates fully
    // (SEP = 1.5, W = 1). The leveller normalises by the louder comb signal, 3 s or 2 s, so the
    // mids relate as (4 / 3) / (3 / 2) * 1.621 / 1 = 1.441. The 30 Hz smoothers leave SEP a
    // little short of 1.5 (W = 1.002), hence 1.438; 0.5 % covers rounding.
    const double mono = steadyMidRms(7, 1240.0, 0.2f, 3.0f);
    const double wide = steadyMidRms(7, 1240.0, 0.2f, 2.0f);
    EXPECT_NEAR(mono / wide, 1.438, 0.007);
}

TEST(SeparatedBand, NormaliserLevelsTheBandDownToTheAutoEqFloor) {
    // Band 5 passes its centre (551 Hz) at -6.4 dB. Auto-EQ at -60 dB: sines at -20 dB and 0 dB
    // come out at the same level (both band levels lie well above the -45 dB magnitude floor).
    const double quiet = steadyMidRms(5, 550.0, 0.1f, 1.0f);
    const double loud = steadyMidRms(5, 550.0, 1.0f, 1.0f);
    EXPECT_NEAR(dB(quiet / loud), 0.0, 0.05);
    // Auto-EQ at 0 dB: the normaliser never goes below 1, so neither band level (both below 1)
    // is boosted and the quiet sine stays 20 dB below the loud one.
    const double quietCapped = steadyMidRms(5, 550.0, 0.1f, 1.0f, 1.0f);
    const double loudCapped = steadyMidRms(5, 550.0, 1.0f, 1.0f, 1.0f);
    EXPECT_NEAR(dB(quietCapped / loudCapped), -20.0, 0.05);
    // Uncapped, the loud sine's normaliser is its band level, 0.48 (-6.4 dB), plus up to 0.9 dB
    // where the peak window catches the crests of the magnitude ripple.
    EXPECT_NEAR(dB(loudCapped / loud), -6.4, 1.0);
}

TEST(SeparatedBand, GateAtTheLadderFloorAttenuatesTheBandByAbout90Db) {
    // gateScale 3.1622778e-5 ("Noisegate Gain dB" 0 for every band but band 1): the gate target
    // is the band level times 3.16e-5. A sine of amplitude 2 at band 9's centre (-6.4 dB) gives
    // a band level of about 1; the peak hold takes the magnitude ripple's crests (up to +0.9 dB).
    const double open = steadyMidRms(9, 2790.0, 2.0f, 1.0f);
    const double closed = steadyMidRms(9, 2790.0, 2.0f, 1.0f, 0.001f, 3.1622778e-5f);
    EXPECT_NEAR(dB(closed / open), -90.0, 1.5);
}

TEST(SeparatedBand, OutputStartsExactly2180SamplesAfterAReset) {
    // 132 samples in the band rings, then 2048 in the mid and side rings.
    for (int bandNumber : {12, 3}) {
        SeparatedRun run(44100, bandNumber);
        Noise noise;
        for (int n = 0; n < 2180; ++n) {
            const SeparatedBand::Output out = run.step(noise.next(), noise.next());
            ASSERT_EQ(out.mid, 0.0f) << n;
            ASSERT_EQ(out.side, 0.0f) << n;
        }
        SeparatedRun impulse(44100, bandNumber);
        for (int n = 0; n < 2180; ++n) ASSERT_EQ(impulse.step(n == 0, n == 0).mid, 0.0f);
        EXPECT_NE(impulse.step(0.0f, 0.0f).mid, 0.0f);
    }
}

TEST(SeparatedBand, ResetMatchesAFreshBandBitForBit) {
    SeparatedRun used(96000, 6);
    Noise noise;
    for (int n = 0; n < 20000; ++n) used.step(noise.next(), 0.5f * noise.next());
    used.band->reset();
    used.ringIndex = 0;
    SeparatedRun fresh(96000, 6);
    for (int n = 0; n < 20000; ++n) {
        const float a = noise.next();
        const float b = noise.next();
        const SeparatedBand::Output x = used.step(a, b);
        const SeparatedBand::Output y = fresh.step(a, b);
        ASSERT_EQ(x.mid, y.mid) << n;
        ASSERT_EQ(x.side, y.side) << n;
        ASSERT_EQ(x.meter, y.meter) << n;
    }
}

struct MonoRun {
    SampleRate rate = SampleRate::fromHz(44100);
    BandSharedConstants shared = BandSharedConstants::at(rate);
    BandConstants constants;
    std::unique_ptr<MonoBand> band = std::make_unique<MonoBand>();
    std::uint32_t ringIndex = 0;

    explicit MonoRun(int bandNumber) : constants(BandConstants::at(rate, row(bandNumber))) {}

    float step(float combSum, float combDifference) {
        return band->step(combSum, combDifference, ringIndex++, 0.001f, 507.0f, constants, shared);
    }
};

TEST(MonoBand, StartsAfter2180SamplesFadesInAndResetsToSilence) {
    MonoRun impulse(1);
    for (int n = 0; n < 2180; ++n) ASSERT_EQ(impulse.step(n == 0, n == 0), 0.0f) << n;
    EXPECT_NE(impulse.step(0.0f, 0.0f), 0.0f);

    MonoRun run(2);
    const double hz = 126.0;
    for (int n = 0; n < 2181; ++n) ASSERT_EQ(run.step(sineAt(hz, 44100, n), 0.0f), 0.0f);
    // Band 2 with d = 0: (s+ + s-) / N ~ 2 s / |s| peaks near 2 (0.9 ... 2.3 with the magnitude
    // ripple and the peak window); times polarity * bandGain * W = 0.0611 at W -> 1.
    float peak = 0.0f;
    for (int n = 2181; n < 2 * 44100; ++n) {
        peak = std::max(peak, std::fabs(run.step(sineAt(hz, 44100, n), 0.0f)));
    }
    EXPECT_GT(peak, 0.9f * 0.061095733f);
    EXPECT_LT(peak, 2.3f * 0.061095733f);

    run.band->reset();
    run.ringIndex = 0;
    for (int n = 0; n < 4000; ++n) ASSERT_EQ(run.step(0.0f, 0.0f), 0.0f) << n;
}

}  // namespace
