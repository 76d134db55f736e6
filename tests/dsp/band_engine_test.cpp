// The band engine: the behaviour of the twelve bands, one band at a time and as a set, and the
// identity of its instantiations.
//
// Behaviour is measured on BandEngine<float>, the scalar instantiation. The identity tests run the
// SSE2 and (where the processor has them) AVX2 and AVX-512 instantiations against it on programmes
// that drive every branch of the blocks: the same sums, meters and band outputs, bit for bit. No
// tolerance: the vector paths exist only as a faster evaluation of the same arithmetic, and a
// single differing bit grows into a different mono/stereo decision a few seconds later.
#include "dsp/band_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>
#include <vector>

#include "dsp/band_table.h"
#include "dsp/bands.h"
#include "dsp/sample_rate.h"
#include "support/noise.h"
#include "tests/dsp/measure.h"

namespace {

using testsignal::Xorshift32;

using std::numbers::pi;

float sineAt(double hz, double fs, int n) {
    return static_cast<float>(std::sin(2.0 * pi * hz * n / fs));
}

float sineAt(double hz, int n) {
    return sineAt(hz, 44100.0, n);
}

const BandRow& row(int bandNumber) {
    return bandTable[static_cast<std::size_t>(12 - bandNumber)];
}

// Position of a band in running order, the index of its meter and output.
std::size_t position(int bandNumber) {
    return static_cast<std::size_t>(12 - bandNumber);
}

// The bands on one path at one rate, with their meters and block values.
struct BandRun {
    std::unique_ptr<BandProcessor> set;
    float meters[separatedBandCount] = {};
    float gateScale[12];
    float autoEqFloor = 0.001f;  // "Auto-EQ Threshold" -60 dB
    std::uint32_t ringIndex = 0;

    explicit BandRun(int fs = 44100, BandPath path = BandPath::scalar)
        : set(makeBandProcessor(path)) {
        set->computeConstants(SampleRate::fromHz(fs));
        set->clear();
        // "Noisegate Gain dB" 55: G = 562.34, rungs G - 5 r, all far above 1 / 0.0056234.
        for (int r = 0; r < 12; ++r) gateScale[r] = 562.34f - 5.0f * r;
    }

    // Meter of band b (bands 12 ... 3 in running order).
    float meter(int bandNumber) const { return meters[position(bandNumber)]; }

    // One sample of dnrOutput x and combDelayed d.
    StereoSum step(float x, float d) { return stepComb(x + d, x - d); }

    StereoSum stepComb(float combSum, float combDifference) {
        set->setBlockControls(autoEqFloor, gateScale);
        return set->step(combSum, combDifference, ringIndex++, meters);
    }
};

using measure::amplitudeAt;

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
    BandFilter<> filter;
    const int settle = static_cast<int>(0.5 * fs);
    const int periods = std::max(8, static_cast<int>(hz * 0.25));
    const int measure = static_cast<int>(std::lround(periods * fs / hz));
    std::vector<float> out;
    for (int n = 0; n < settle + measure; ++n) {
        const float y = filter.step(static_cast<float>(std::sin(2.0 * pi * hz * n / fs)), c.lowEdge,
                                    c.highEdge);
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
        BandFilter<> filter;
        Xorshift32 noise;
        float peak = 0.0f;
        for (int n = 0; n < 5 * fs; ++n)
            peak = std::max(peak, std::fabs(filter.step(noise.bipolar(), c.lowEdge, c.highEdge)));
        EXPECT_LT(peak, 4.0f) << fs;
    }
}

// Drives one band of the scalar engine with given comb signals and collects its outputs. Every
// rung of the gate ladder holds the same gateScale.
struct SeparatedRun {
    BandRun run;
    std::size_t band;
    float& autoEqFloor = run.autoEqFloor;
    float gateScale = 507.0f;  // above any band level times gateScale: gate fully open

    struct Output {
        float mid;
        float side;
        float meter;
    };

    SeparatedRun(int fs, int bandNumber) : run(fs), band(position(bandNumber)) {}

    Output step(float combSum, float combDifference) {
        for (float& g : run.gateScale) g = gateScale;
        run.stepComb(combSum, combDifference);
        const BandOutput out = run.set->output(band);
        return {out.mid, out.side, band < separatedBandCount ? run.meters[band] : 0.0f};
    }
};

TEST(SeparatedBand, EqualCombSignalsGiveSeparationZeroAndAMonoBand) {
    // With d = 0 the comb signals are identical: E+ = E-, q = ACT <= 1, so the meter is exactly 0
    // on every sample, the side signal is exactly 0, and mid alone carries the band.
    SeparatedRun run(44100, 8);
    Xorshift32 noise;
    double midEnergy = 0.0;
    for (int n = 0; n < 44100; ++n) {
        const float x = noise.bipolar();
        const SeparatedRun::Output out = run.step(x, x);
        ASSERT_EQ(out.meter, 0.0f) << n;
        ASSERT_EQ(out.side, 0.0f) << n;
        midEnergy += static_cast<double>(out.mid) * out.mid;
    }
    EXPECT_GT(midEnergy, 1.0);
}

// Band 7 on a 1240 Hz tone whose combSum is exactly `ratio` times its combDifference, so that
// every detector value of the plus side is `ratio` times the minus side's. The energies and the
// highest meter are taken over the last second of `seconds`.
struct RatioRun {
    float lastMeter = 0.0f;
    float lateMeterPeak = 0.0f;
    double sideToMid = 0.0;  // amplitude ratio
};

RatioRun runAtRatio(float ratio, float amplitude, int seconds) {
    SeparatedRun run(44100, 7);
    RatioRun result;
    double sideEnergy = 0.0;
    double midEnergy = 0.0;
    for (int n = 0; n < seconds * 44100; ++n) {
        const float s = amplitude * sineAt(1240.0, 44100.0, n);
        const SeparatedRun::Output out = run.step(ratio * s, s);
        EXPECT_GE(out.meter, 0.0f);
        EXPECT_LE(out.meter, 1.5f);
        result.lastMeter = out.meter;
        if (n >= (seconds - 1) * 44100) {
            result.lateMeterPeak = std::max(result.lateMeterPeak, out.meter);
            sideEnergy += static_cast<double>(out.side) * out.side;
            midEnergy += static_cast<double>(out.mid) * out.mid;
        }
    }
    result.sideToMid = std::sqrt(sideEnergy / midEnergy);
    return result;
}

TEST(SeparatedBand, RatioTwoClampsTheMeterAndRatioThreeCollapsesTheBandToMono) {
    // HI / LO = 2, ACT -> 1: s = tan(1) = 1.557 and the meter clamps. mid ~ (2s + s) and
    // side ~ SEP (2s - s) = 1.5 s: side / mid = 1.5 / 3 in amplitude. The 30 Hz section's settled
    // DC gain (0.3 % off at 44100 Hz) and rounding allow 1 %.
    const RatioRun two = runAtRatio(2.0f, 0.3f, 2);
    EXPECT_EQ(two.lastMeter, 1.5f);
    EXPECT_NEAR(two.sideToMid, 0.5, 0.005);

    // HI / LO = 3: tan(2) < 0, so s = 0 and the band falls back to mono once the onset (where
    // ACT passes the separating range on its way to 1) has decayed geometrically from the 10 Hz
    // lowpass. The side output 2048 samples late still carries the onset's tail, which the 30 Hz
    // lowpass lets decay to far below 1 % within a second.
    const RatioRun three = runAtRatio(3.0f, 0.2f, 3);
    EXPECT_LT(three.lateMeterPeak, 1e-6f);
    EXPECT_LT(three.sideToMid, 1e-3);
}

TEST(SeparatedBand, MeterStaysWithinZeroToOneAndAHalfForUnrelatedCombSignals) {
    SeparatedRun run(48000, 10);
    Xorshift32 a;
    Xorshift32 b(99991u);
    float highest = 0.0f;
    for (int n = 0; n < 2 * 48000; ++n) {
        // Independent noises with a slow level swing, so the ratio wanders through all ranges.
        const float swing = 0.5f + 0.5f * sineAt(0.7, 48000.0, n);
        const SeparatedRun::Output out = run.step(a.bipolar(), swing * b.bipolar());
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
        Xorshift32 noise;
        for (int n = 0; n < 2180; ++n) {
            const SeparatedRun::Output out = run.step(noise.bipolar(), noise.bipolar());
            ASSERT_EQ(out.mid, 0.0f) << n;
            ASSERT_EQ(out.side, 0.0f) << n;
        }
        SeparatedRun impulse(44100, bandNumber);
        for (int n = 0; n < 2180; ++n) ASSERT_EQ(impulse.step(n == 0, n == 0).mid, 0.0f);
        EXPECT_NE(impulse.step(0.0f, 0.0f).mid, 0.0f);
    }
}

TEST(SeparatedBand, ClearMatchesAFreshBandSetBitForBit) {
    SeparatedRun used(96000, 6);
    Xorshift32 noise;
    for (int n = 0; n < 20000; ++n) used.step(noise.bipolar(), 0.5f * noise.bipolar());
    used.run.set->clear();
    used.run.ringIndex = 0;
    SeparatedRun fresh(96000, 6);
    for (int n = 0; n < 20000; ++n) {
        const float a = noise.bipolar();
        const float b = noise.bipolar();
        const SeparatedRun::Output x = used.step(a, b);
        const SeparatedRun::Output y = fresh.step(a, b);
        ASSERT_EQ(x.mid, y.mid) << n;
        ASSERT_EQ(x.side, y.side) << n;
        ASSERT_EQ(x.meter, y.meter) << n;
    }
}

TEST(MonoBand, StartsAfter2180SamplesFadesInAndResetsToSilence) {
    SeparatedRun impulse(44100, 1);
    for (int n = 0; n < 2180; ++n) ASSERT_EQ(impulse.step(n == 0, n == 0).mid, 0.0f) << n;
    EXPECT_NE(impulse.step(0.0f, 0.0f).mid, 0.0f);

    SeparatedRun run(44100, 2);
    const double hz = 126.0;
    for (int n = 0; n < 2181; ++n) ASSERT_EQ(run.step(sineAt(hz, n), 0.0f).mid, 0.0f);
    // Band 2 with d = 0: (s+ + s-) / N ~ 2 s / |s| peaks near 2 (0.9 ... 2.3 with the magnitude
    // ripple and the peak window); times polarity * bandGain * W = 0.0611 at W -> 1.
    float peak = 0.0f;
    for (int n = 2181; n < 2 * 44100; ++n) {
        const SeparatedRun::Output out = run.step(sineAt(hz, n), 0.0f);
        ASSERT_EQ(out.side, 0.0f);
        peak = std::max(peak, std::fabs(out.mid));
    }
    EXPECT_GT(peak, 0.9f * 0.061095733f);
    EXPECT_LT(peak, 2.3f * 0.061095733f);

    run.run.set->clear();
    run.run.ringIndex = 0;
    for (int n = 0; n < 4000; ++n) ASSERT_EQ(run.step(0.0f, 0.0f).mid, 0.0f) << n;
}

TEST(BandSet, SilenceGivesExactZerosAndZeroMeters) {
    BandRun run;
    for (float& m : run.meters) m = 0.7f;  // stale values from an earlier block
    for (int n = 0; n < 10000; ++n) {
        const StereoSum s = run.step(0.0f, 0.0f);
        ASSERT_EQ(s.left, 0.0f) << n;
        ASSERT_EQ(s.right, 0.0f) << n;
    }
    for (float m : run.meters) EXPECT_EQ(m, 0.0f);
}

TEST(BandSet, OutputStartsAfter2180SamplesWhateverTheInput) {
    BandRun run;
    Xorshift32 x;
    Xorshift32 d(777u);
    for (int n = 0; n < 2180; ++n) {
        const StereoSum s = run.step(x.bipolar(), d.bipolar());
        ASSERT_EQ(s.left, 0.0f) << n;
        ASSERT_EQ(s.right, 0.0f) << n;
    }
    const StereoSum first = run.step(x.bipolar(), d.bipolar());
    EXPECT_NE(first.left, 0.0f);
    EXPECT_NE(first.right, 0.0f);
}

TEST(BandSet, WithoutTheCombBranchEveryMeterReadsZeroAndTheSumsAreEqual) {
    // d = 0: combSum = combDifference in every band, so no band separates and both sums are
    // built from the same mid terms in the same order: equal bit for bit.
    BandRun run;
    Xorshift32 x;
    double energy = 0.0;
    for (int n = 0; n < 44100; ++n) {
        const StereoSum s = run.step(x.bipolar(), 0.0f);
        ASSERT_EQ(s.left, s.right) << n;
        for (float m : run.meters) ASSERT_EQ(m, 0.0f) << n;
        energy += static_cast<double>(s.left) * s.left;
    }
    EXPECT_GT(energy, 1.0);
}

TEST(BandSet, EachBandDrivesItsOwnMeter) {
    // d = x / 3 makes combSum twice combDifference: band 7, which carries the 1240 Hz sine,
    // measures HI / LO = 2 and clamps at 1.5. With Auto-EQ at 0 dB no band boosts its leakage, so
    // band 12 sees only its magnitude floor on both sides and reads 0.
    BandRun run;
    run.autoEqFloor = 1.0f;
    for (int n = 0; n < 2 * 44100; ++n) {
        const float x = sineAt(1240.0, n);
        run.step(x, x / 3.0f);
    }
    EXPECT_EQ(run.meter(7), 1.5f);
    EXPECT_EQ(run.meter(12), 0.0f);
    for (float m : run.meters) {
        EXPECT_GE(m, 0.0f);
        EXPECT_LE(m, 1.5f);
    }
}

TEST(BandSet, TheTwoLowestBandsStayMonoWhateverTheCombSignals) {
    // Auto-EQ at 0 dB keeps the upper bands from boosting their leakage of a bass tone. With
    // d = x / 4 the comb signals differ by a ratio of 5 / 3 (q = 1.67, well inside the separating
    // range): a 50 Hz tone (bands 1 and 2) still reaches both sums equally, while a 1240 Hz tone
    // (band 7) is spread.
    auto spread = [](double hz) {
        BandRun run;
        run.autoEqFloor = 1.0f;
        double side = 0.0;
        double mid = 0.0;
        for (int n = 0; n < 2 * 44100; ++n) {
            const float x = 0.5f * sineAt(hz, n);
            const float d = 0.25f * x;
            const StereoSum s = run.step(x, d);
            if (n >= 44100) {
                const double l = s.left;
                const double r = s.right;
                side += (l - r) * (l - r);
                mid += (l + r) * (l + r);
            }
        }
        return std::sqrt(side / mid);
    };
    // The upper bands' leakage at 50 Hz lies 48 dB and more below the mono bands' share.
    EXPECT_LT(spread(50.0), 0.01);
    EXPECT_GT(spread(1240.0), 0.2);
}

TEST(BandSet, GateLadderRungsReachTheirBands) {
    // "Noisegate Gain dB" 0: G = 1, so band 1 (offset 0) gets gateScale 1 and every other band
    // the -90 dB floor. A 12 kHz tone (band 12) then drops by some 90 dB, while a 40 Hz tone
    // (band 1) loses only what its own gate takes (gate = band level, well above -20 dB).
    auto level = [](double hz, bool gatesClosed) {
        BandRun run;
        if (gatesClosed) {
            for (float& g : run.gateScale) g = 3.1622778e-5f;
            run.gateScale[0] = 1.0f;
        }
        double energy = 0.0;
        for (int n = 0; n < 2 * 44100; ++n) {
            const StereoSum s = run.step(0.5f * sineAt(hz, n), 0.0f);
            if (n >= 44100) energy += static_cast<double>(s.left) * s.left;
        }
        return 10.0 * std::log10(energy);
    };
    EXPECT_LT(level(12000.0, true) - level(12000.0, false), -80.0);
    EXPECT_GT(level(40.0, true) - level(40.0, false), -20.0);
}

// The block values the control-rate block would hand on: autoEqFloor from "Auto-EQ Threshold"
// and the gateScale ladder from "Noisegate Gain dB" (rung r is G - 5 r, floored at -90 dB).
struct BlockValues {
    float autoEqFloor;
    float gateScale[12];

    static BlockValues at(float autoEqDb, float noisegateGain) {
        BlockValues b{};
        b.autoEqFloor = crmath::exp10(0.05f * autoEqDb);
        for (int r = 0; r < 12; ++r) {
            const float rung = noisegateGain - 5.0f * static_cast<float>(r);
            b.gateScale[r] = rung > 3.1622778e-5f ? rung : 3.1622778e-5f;
        }
        return b;
    }
};

// The vector paths this machine can run.
std::vector<BandPath> vectorPaths() {
    std::vector<BandPath> paths;
    for (BandPath path : {BandPath::sse2, BandPath::avx2, BandPath::avx512})
        if (bandPathAvailable(path)) paths.push_back(path);
    return paths;
}

bool sameBits(float a, float b) {
    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

// The scalar engine and every vector path, fed the same samples; every output compared as bits.
struct Pair {
    std::unique_ptr<BandProcessor> scalar = makeBandProcessor(BandPath::scalar);
    std::vector<std::unique_ptr<BandProcessor>> lanes;
    std::uint32_t ringIndex;
    std::uint64_t samples = 0;
    // Which meter states the programme reached, so a test can show it drove every branch.
    bool meterAtZero = false;
    bool meterInBetween = false;
    bool meterAtMaximum = false;

    Pair(int fs, std::uint32_t firstIndex) : ringIndex(firstIndex) {
        const SampleRate rate = SampleRate::fromHz(fs);
        for (BandPath path : vectorPaths()) lanes.push_back(makeBandProcessor(path));
        scalar->computeConstants(rate);
        scalar->clear();
        for (auto& set : lanes) {
            set->computeConstants(rate);
            set->clear();
        }
    }

    // Returns false (after recording a test failure) at the first differing bit. The comb pair
    // each path's decorrelator forms from x is compared too; the bands are fed the programme's
    // own d, which reaches every ratio a real decorrelator would not.
    bool step(float x, float d, const BlockValues& b) {
        float scalarPair[2];
        scalar->formCombPair(1, &x, ringIndex, &scalarPair[0], &scalarPair[1]);
        for (std::size_t k = 0; k < lanes.size(); ++k) {
            float lanePair[2];
            lanes[k]->formCombPair(1, &x, ringIndex, &lanePair[0], &lanePair[1]);
            if (!sameBits(scalarPair[0], lanePair[0]) || !sameBits(scalarPair[1], lanePair[1])) {
                ADD_FAILURE() << "path " << k << ": comb pair differs at sample " << samples;
                return false;
            }
        }
        float scalarMeters[separatedBandCount];
        float laneMeters[separatedBandCount];
        for (float& m : scalarMeters) m = 0.25f;  // stale values that every path must overwrite
        scalar->setBlockControls(b.autoEqFloor, b.gateScale);
        const StereoSum s = scalar->step(x + d, x - d, ringIndex, scalarMeters);
        for (std::size_t k = 0; k < lanes.size(); ++k) {
            for (float& m : laneMeters) m = 0.25f;
            lanes[k]->setBlockControls(b.autoEqFloor, b.gateScale);
            const StereoSum l = lanes[k]->step(x + d, x - d, ringIndex, laneMeters);
            if (!sameBits(s.left, l.left) || !sameBits(s.right, l.right)) {
                ADD_FAILURE() << "path " << k << ": sums differ at sample " << samples << ": "
                              << s.left << " " << s.right << " vs " << l.left << " " << l.right;
                return false;
            }
            for (std::size_t i = 0; i < bandCount; ++i) {
                const BandOutput so = scalar->output(i);
                const BandOutput lo = lanes[k]->output(i);
                const bool meterSame =
                    i >= separatedBandCount || sameBits(scalarMeters[i], laneMeters[i]);
                if (!meterSame || !sameBits(so.mid, lo.mid) || !sameBits(so.side, lo.side)) {
                    ADD_FAILURE() << "path " << k << ": band " << 12 - i << " differs at sample "
                                  << samples;
                    return false;
                }
            }
        }
        ++ringIndex;
        ++samples;
        for (float m : scalarMeters) {
            meterAtZero = meterAtZero || m == 0.0f;
            meterAtMaximum = meterAtMaximum || m == 1.5f;
            meterInBetween = meterInBetween || (m > 0.0f && m < 1.5f);
        }
        return true;
    }
};

// A programme of segments of half a second each: silence, noise with an independent comb branch,
// sines with d a growing fraction of x (ratios from 1 to past 1 + pi/2, where a band collapses to
// mono), bursts, a click, very loud and very quiet passages. The block
// values change every 512 samples, sweeping the Auto-EQ threshold and the gate gain through their
// ranges, as automation would.
bool runProgramme(Pair& pair, int fs, double seconds, std::uint32_t seed) {
    Xorshift32 noise(seed);
    Xorshift32 comb(seed * 2654435761u + 1u);
    const int segment = fs / 2;
    const long total = static_cast<long>(seconds * fs);
    BlockValues block = BlockValues::at(-60.0f, 562.34f);
    for (long n = 0; n < total; ++n) {
        if (n % 512 == 0) {
            const long blockNumber = n / 512;
            const float autoEqDb = -80.0f + static_cast<float>((blockNumber * 7) % 81);
            const float gateDb = static_cast<float>((blockNumber * 3) % 61);
            block = BlockValues::at(autoEqDb, crmath::exp10(0.05f * gateDb));
        }
        const int kind = static_cast<int>((n / segment) % 8);
        const double t = static_cast<double>(n) / fs;
        float x = 0.0f;
        float d = 0.0f;
        switch (kind) {
            case 0:  // silence, after whatever came before
                break;
            case 1:  // noise, independent comb branch
                x = 0.5f * noise.bipolar();
                d = 0.5f * comb.bipolar();
                break;
            case 2: {  // two sines, d a growing fraction of x: ratios from 1 to far past 1 + pi/2
                x = static_cast<float>(0.4 * std::sin(2.0 * pi * 1240.0 * t) +
                                       0.3 * std::sin(2.0 * pi * 5800.0 * t));
                const float fraction = static_cast<float>((n % segment)) / segment;
                d = (0.9f * fraction) * x;
                break;
            }
            case 3:  // bursts of noise, 20 ms on, 80 ms off
                if ((n % (fs / 10)) < fs / 50) {
                    x = noise.bipolar();
                    d = -0.3f * x + 0.1f * comb.bipolar();
                }
                break;
            case 4:  // a single click in silence
                x = (n % segment) == 100 ? 1.0f : 0.0f;
                break;
            case 5:  // loud low sines, near-mono comb branch
                x = static_cast<float>(8.0 * std::sin(2.0 * pi * 45.0 * t) +
                                       4.0 * std::sin(2.0 * pi * 330.0 * t));
                d = 0.05f * x;
                break;
            case 6:  // very quiet noise, near the floors
                x = 2e-5f * noise.bipolar();
                d = 2e-5f * comb.bipolar();
                break;
            default:  // a sweep with the comb branch in opposite phase
                x = static_cast<float>(
                    0.5 * std::sin(2.0 * pi * (50.0 + 4000.0 * (t - std::floor(t))) * t));
                d = -0.6f * x;
                break;
        }
        if (!pair.step(x, d, block)) return false;
    }
    return true;
}

class BandEngineAtRate : public ::testing::TestWithParam<int> {};

TEST_P(BandEngineAtRate, VectorPathsGiveTheScalarBits) {
    const int fs = GetParam();
    Pair pair(fs, 0u);
    ASSERT_TRUE(runProgramme(pair, fs, 4.0, 12345u));
    // The programme drove the meters through their clamps and the range between.
    EXPECT_TRUE(pair.meterAtZero);
    EXPECT_TRUE(pair.meterInBetween);
    EXPECT_TRUE(pair.meterAtMaximum);
}

INSTANTIATE_TEST_SUITE_P(Rates, BandEngineAtRate,
                         ::testing::Values(22050, 44100, 48000, 96000, 192000));

TEST(BandEngine, SameBitsAcrossTheCounterWrap) {
    // The rings index with the shared 32-bit counter; 3000 samples before the wrap, every ring's
    // look-back (132, 2048, the 44-slot window) crosses it within the run.
    Pair pair(44100, 0xFFFFFFFFu - 3000u);
    ASSERT_TRUE(runProgramme(pair, 44100, 2.0, 999u));
    EXPECT_LT(pair.ringIndex, 0x80000000u);  // the counter did wrap
}

TEST(BandEngine, SameBitsWithFixedLadders) {
    // Extreme block values held for the whole run: every gate closed but band 1's, the Auto-EQ
    // floor at 0 dB (no boost), and at -120 dB (boost up to the magnitude floor).
    struct Case {
        float autoEqDb;
        float noisegateGain;
    };
    for (const Case c : {Case{-60.0f, 1.0f}, Case{0.0f, 562.34f}, Case{-120.0f, 562.34f}}) {
        SCOPED_TRACE(c.autoEqDb);
        const BlockValues block = BlockValues::at(c.autoEqDb, c.noisegateGain);
        Pair pair(48000, 0u);
        Xorshift32 x(4242u);
        Xorshift32 d(77u);
        for (int n = 0; n < 2 * 48000; ++n) {
            const float gain = (n / 12000) % 2 == 0 ? 0.5f : 0.02f;
            ASSERT_TRUE(pair.step(gain * x.bipolar(), 0.5f * gain * d.bipolar(), block));
        }
    }
}

TEST(BandEngine, ClearedLanesMatchAFreshScalarEngineBitForBit) {
    // Used lanes, cleared, against a fresh scalar engine: every ring and every follower state
    // (the cached release poles included) must be back at exact silence.
    Pair pair(96000, 0u);
    ASSERT_TRUE(runProgramme(pair, 96000, 1.5, 5u));
    for (auto& set : pair.lanes) set->clear();
    pair.scalar = makeBandProcessor(BandPath::scalar);
    pair.scalar->computeConstants(SampleRate::fromHz(96000));
    pair.scalar->clear();
    pair.ringIndex = 17u;
    ASSERT_TRUE(runProgramme(pair, 96000, 1.0, 6u));
}

TEST(BandEngine, TheTestsRunEveryPathTheProcessorHas) {
    // Every vector path the machine has is compared; the processor picks the widest.
    const bool avx2 = bandPathAvailable(BandPath::avx2);
    const bool avx512 = bandPathAvailable(BandPath::avx512);
    EXPECT_TRUE(bandPathAvailable(BandPath::sse2));
    EXPECT_TRUE(avx2 || !avx512) << "AVX-512F implies AVX2";
    EXPECT_EQ(vectorPaths().size(), 1u + avx2 + avx512);
    EXPECT_EQ(fastestBandPath(), avx512 ? BandPath::avx512
                                 : avx2 ? BandPath::avx2
                                        : BandPath::sse2);
}

}  // namespace
