// The band set: its behaviour, and its identity with the bands run one at a time.
//
// The identity tests compare BandLanes with ReferenceBandSet, the twelve band blocks as separate
// objects, on programmes that drive every branch of the blocks: the same sums and meters, bit for
// bit. No tolerance: the lanes exist only as a faster evaluation of the same arithmetic, and a
// single differing bit grows into a different mono/stereo decision a few seconds later.
#include "dsp/band_lanes.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <memory>

#include "dsp/band_table.h"
#include "dsp/sample_rate.h"
#include "tests/dsp/reference_band_set.h"

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

// The band lanes at one rate with their meters and block values.
struct BandLanesRun {
    std::unique_ptr<BandLanes> set = std::make_unique<BandLanes>();
    float meters[separatedBandCount] = {};
    float gateScale[12];
    float autoEqFloor = 0.001f;  // "Auto-EQ Threshold" -60 dB
    std::uint32_t ringIndex = 0;

    explicit BandLanesRun(int fs = 44100) {
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

TEST(BandLanes, SilenceGivesExactZerosAndZeroMeters) {
    BandLanesRun run;
    for (float& m : run.meters) m = 0.7f;  // stale values from an earlier block
    for (int n = 0; n < 10000; ++n) {
        const StereoSum s = run.step(0.0f, 0.0f);
        ASSERT_EQ(s.left, 0.0f) << n;
        ASSERT_EQ(s.right, 0.0f) << n;
    }
    for (float m : run.meters) EXPECT_EQ(m, 0.0f);
}

TEST(BandLanes, OutputStartsAfter2180SamplesWhateverTheInput) {
    BandLanesRun run;
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

TEST(BandLanes, WithoutTheCombBranchEveryMeterReadsZeroAndTheSumsAreEqual) {
    // d = 0: combSum = combDifference in every band, so no band separates and both sums are
    // built from the same mid terms in the same order: equal bit for bit.
    BandLanesRun run;
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

TEST(BandLanes, EachBandDrivesItsOwnMeter) {
    // d = x / 3 makes combSum twice combDifference: band 7, which carries the 1240 Hz sine,
    // measures HI / LO = 2 and clamps at 1.5. With Auto-EQ at 0 dB no band boosts its leakage, so
    // band 12 sees only its magnitude floor on both sides and reads 0.
    BandLanesRun run;
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

TEST(BandLanes, TheTwoLowestBandsStayMonoWhateverTheCombSignals) {
    // Auto-EQ at 0 dB keeps the upper bands from boosting their leakage of a bass tone. With
    // d = x / 4 the comb signals differ by a ratio of 5 / 3 (q = 1.67, well inside the separating
    // range): a 50 Hz tone (bands 1 and 2) still reaches both sums equally, while a 1240 Hz tone
    // (band 7) is spread.
    auto spread = [](double hz) {
        BandLanesRun run;
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

TEST(BandLanes, GateLadderRungsReachTheirBands) {
    // "Noisegate Gain dB" 0: G = 1, so band 1 (offset 0) gets gateScale 1 and every other band
    // the -90 dB floor. A 12 kHz tone (band 12) then drops by some 90 dB, while a 40 Hz tone
    // (band 1) loses only what its own gate takes (gate = band level, well above -20 dB).
    auto level = [](double hz, bool gatesClosed) {
        BandLanesRun run;
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

// Both implementations, fed the same samples; every output compared as bits.
struct Pair {
    std::unique_ptr<ReferenceBandSet> scalar = std::make_unique<ReferenceBandSet>();
    std::unique_ptr<BandLanes> lanes = std::make_unique<BandLanes>();
    std::uint32_t ringIndex;
    std::uint64_t samples = 0;
    // Which meter states the programme reached, so a test can show it drove every branch.
    bool meterAtZero = false;
    bool meterInBetween = false;
    bool meterAtMaximum = false;

    Pair(int fs, std::uint32_t firstIndex) : ringIndex(firstIndex) {
        const SampleRate rate = SampleRate::fromHz(fs);
        scalar->computeConstants(rate);
        scalar->clear();
        lanes->computeConstants(rate);
        lanes->clear();
    }

    // Returns false (after recording a test failure) at the first differing bit.
    bool step(float x, float d, const BlockValues& b) {
        float scalarMeters[separatedBandCount];
        float laneMeters[separatedBandCount];
        for (std::size_t i = 0; i < separatedBandCount; ++i) {
            scalarMeters[i] = 0.25f;  // stale values that both must overwrite
            laneMeters[i] = 0.25f;
        }
        const StereoSum s = scalar->step(x, d, ringIndex, b.autoEqFloor, b.gateScale, scalarMeters);
        const StereoSum l = lanes->step(x, d, ringIndex, b.autoEqFloor, b.gateScale, laneMeters);
        ++ringIndex;
        ++samples;
        if (std::bit_cast<std::uint32_t>(s.left) != std::bit_cast<std::uint32_t>(l.left) ||
            std::bit_cast<std::uint32_t>(s.right) != std::bit_cast<std::uint32_t>(l.right)) {
            ADD_FAILURE() << "sums differ at sample " << samples << ": " << s.left << " " << s.right
                          << " vs " << l.left << " " << l.right;
            return false;
        }
        for (std::size_t i = 0; i < separatedBandCount; ++i) {
            if (std::bit_cast<std::uint32_t>(scalarMeters[i]) !=
                std::bit_cast<std::uint32_t>(laneMeters[i])) {
                ADD_FAILURE() << "meter of band " << 12 - i << " differs at sample " << samples
                              << ": " << scalarMeters[i] << " vs " << laneMeters[i];
                return false;
            }
            const float m = scalarMeters[i];
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
    Noise noise(seed);
    Noise comb(seed * 2654435761u + 1u);
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
                x = 0.5f * noise.next();
                d = 0.5f * comb.next();
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
                    x = noise.next();
                    d = -0.3f * x + 0.1f * comb.next();
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
                x = 2e-5f * noise.next();
                d = 2e-5f * comb.next();
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

class BandLanesAtRate : public ::testing::TestWithParam<int> {};

TEST_P(BandLanesAtRate, SameBitsAsTheBandsRunOneByOne) {
    const int fs = GetParam();
    Pair pair(fs, 0u);
    ASSERT_TRUE(runProgramme(pair, fs, 4.0, 12345u));
    // The programme drove the meters through their clamps and the range between.
    EXPECT_TRUE(pair.meterAtZero);
    EXPECT_TRUE(pair.meterInBetween);
    EXPECT_TRUE(pair.meterAtMaximum);
}

INSTANTIATE_TEST_SUITE_P(Rates, BandLanesAtRate,
                         ::testing::Values(22050, 44100, 48000, 96000, 192000));

TEST(BandLanes, SameBitsAcrossTheCounterWrap) {
    // The rings index with the shared 32-bit counter; 3000 samples before the wrap, every ring's
    // look-back (132, 2048, the 44-slot window) crosses it within the run.
    Pair pair(44100, 0xFFFFFFFFu - 3000u);
    ASSERT_TRUE(runProgramme(pair, 44100, 2.0, 999u));
    EXPECT_LT(pair.ringIndex, 0x80000000u);  // the counter did wrap
}

TEST(BandLanes, SameBitsWithFixedLadders) {
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
        Noise x(4242u);
        Noise d(77u);
        for (int n = 0; n < 2 * 48000; ++n) {
            const float gain = (n / 12000) % 2 == 0 ? 0.5f : 0.02f;
            ASSERT_TRUE(pair.step(gain * x.next(), 0.5f * gain * d.next(), block));
        }
    }
}

TEST(BandLanes, ClearedLanesMatchAFreshReferenceBitForBit) {
    // Used lanes, cleared, against a fresh scalar band set: every ring and every follower state
    // must be back at exact silence.
    Pair pair(96000, 0u);
    ASSERT_TRUE(runProgramme(pair, 96000, 1.5, 5u));
    pair.lanes->clear();
    pair.scalar = std::make_unique<ReferenceBandSet>();
    pair.scalar->computeConstants(SampleRate::fromHz(96000));
    pair.scalar->clear();
    pair.ringIndex = 17u;
    ASSERT_TRUE(runProgramme(pair, 96000, 1.0, 6u));
}

}  // namespace
