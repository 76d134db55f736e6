#include "dsp/band_set.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>

#include "dsp/band_table.h"
#include "dsp/sample_rate.h"

namespace {

constexpr double pi = 3.14159265358979323846;

struct Noise {
    std::uint32_t state;
    explicit Noise(std::uint32_t seed = 2463534242u) : state(seed) {}
    float next() {  // uniform in [-1, 1)
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<float>(static_cast<std::int32_t>(state)) / 2147483648.0f;
    }
};

float sineAt(double hz, int n) {
    return static_cast<float>(std::sin(2.0 * pi * hz * n / 44100.0));
}

// One band set at 44100 Hz with its meters and block values.
struct BandSetRun {
    std::unique_ptr<BandSet> set = std::make_unique<BandSet>();
    float meters[separatedBandCount] = {};
    float gateScale[12];
    float autoEqFloor = 0.001f;  // "Auto-EQ Threshold" -60 dB
    std::uint32_t ringIndex = 0;

    explicit BandSetRun(int fs = 44100) {
        set->computeConstants(SampleRate::fromHz(fs));
        set->clear();
        // "Noisegate Gain dB" 55: G = 562.34, rungs G - 5 r, all far above 1 / 0.0056234.
        for (int r = 0; r < 12; ++r) gateScale[r] = 562.34f - 5.0f * r;
    }

    // Meter of band b (bands 12 ... 3 in running order).
    float meter(int bandNumber) const { return meters[12 - bandNumber]; }

    StereoSum step(float x, float d) {
        return set->step(x, d, ringIndex++, autoEqFloor, gateScale, meters);
    }
};

TEST(BandSet, SilenceGivesExactZerosAndZeroMeters) {
    BandSetRun run;
    for (float& m : run.meters) m = 0.7f;  // stale values from an earlier block
    for (int n = 0; n < 10000; ++n) {
        const StereoSum s = run.step(0.0f, 0.0f);
        ASSERT_EQ(s.left, 0.0f) << n;
        ASSERT_EQ(s.right, 0.0f) << n;
    }
    for (float m : run.meters) EXPECT_EQ(m, 0.0f);
}

TEST(BandSet, OutputStartsAfter2180SamplesWhateverTheInput) {
    BandSetRun run;
    Noise x;
    Noise d(777u);
    for (int n = 0; n < 2180; ++n) {
        const StereoSum s = run.step(x.next(), d.next());
        ASSERT_EQ(s.left, 0.0f) << n;
        ASSERT_EQ(s.right, 0.0f) << n;
    }
    const StereoSum first = run.step(x.next(), d.next());
    EXPECT_NE(first.left, 0.0f);
    EXPECT_NE(first.right, 0.0f);
}

TEST(BandSet, WithoutTheCombBranchEveryMeterReadsZeroAndTheSumsAreEqual) {
    // d = 0: combSum = combDifference in every band, so no band separates and both sums are
    // built from the same mid terms in the same order: equal bit for bit.
    BandSetRun run;
    Noise x;
    double energy = 0.0;
    for (int n = 0; n < 44100; ++n) {
        const StereoSum s = run.step(x.next(), 0.0f);
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
    BandSetRun run;
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
        BandSetRun run;
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
        BandSetRun run;
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

TEST(BandSet, ClearMatchesAFreshSetBitForBit) {
    BandSetRun used(48000);
    Noise x;
    Noise d(31337u);
    for (int n = 0; n < 10000; ++n) used.step(x.next(), d.next());
    used.set->clear();
    used.ringIndex = 0;
    BandSetRun fresh(48000);
    for (int n = 0; n < 10000; ++n) {
        const float a = x.next();
        const float b = d.next();
        const StereoSum u = used.step(a, b);
        const StereoSum f = fresh.step(a, b);
        ASSERT_EQ(u.left, f.left) << n;
        ASSERT_EQ(u.right, f.right) << n;
    }
    for (std::size_t i = 0; i < separatedBandCount; ++i) EXPECT_EQ(used.meters[i], fresh.meters[i]);
}

}  // namespace
