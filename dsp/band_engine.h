// The twelve band blocks side by side, written once over a lane type V (dsp/lanes.h).
//
// A band's arithmetic is one long chain of dependent operations, so running the bands one after
// the other leaves the processor waiting on latency. Here each state variable holds one lane per
// band, in `groups` values of V, and each stage is a short loop over those groups. Every lane
// performs exactly the operations of one band run on floats, in the same order and with the same
// roundings, so BandEngine<float> (the scalar fallback) and the vector engines give the same sums
// and meters bit for bit.
//
// Lanes follow the band table's running order: bands 12 to 3 in lanes 0 to 9, bands 2 and 1 in
// lanes 10 and 11. Lanes past the twelfth (AVX2 and AVX-512 run sixteen) repeat band 1's
// constants, so that they compute ordinary values; their results are never read, and where the
// last group is paired (see `pairedTail`) its upper half carries the second signal of each
// detector pair instead. The separation stage runs on the groups that hold a separated band; where
// such a group also holds mono bands, their lanes are computed and discarded, which costs less than
// a group of their own.
//
// Signal legend of one band (one lane) and sample:
//   s+, s-          band-filtered combSum, combDifference (written to the bandRings)
//   m               bandLevel, the larger analytic magnitude of s+ and s-
//   P, A, N         peakLevel, averageLevel and the normaliser max(0.708 A, P), floored
//   g               the gate
//   s+132, s-132    the band signals 132 samples late: gate and normaliser look ahead of them
//   E+, E-          envelopes of the levelled s+132, s-132
//   LO, HI          the smaller and larger envelope, held and smoothed
//   ACT             activity, 0 ... 1, low while the band is near silence
//   SEP, W          separation and widthGain, applied 2048 samples after the detector saw them
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "dsp/band_constants.h"
#include "dsp/band_table.h"
#include "dsp/bands.h"
#include "dsp/block_arguments.h"
#include "dsp/comb_decorrelator.h"
#include "dsp/delay_ring.h"
#include "dsp/detectors.h"
#include "dsp/lanes.h"
#include "dsp/sample_rate.h"
#include "dsp/sections.h"
#include "dsp/target.h"
#include "dsp/zeroed_block.h"

inline namespace ZELKO_TARGET_NAMESPACE {

// Whether `bands` in lanes of `width` leave a last group of at most half a vector.
constexpr bool pairsLastGroup(std::size_t bands, std::size_t width) {
    const std::size_t tail = bands % width;
    return width > 1 && tail != 0 && 2 * tail <= width;
}

// Two like blocks for every group, `first` and `second`: the detectors of s+ and s-, or the peak
// and average followers. Where the last group is paired, `both` runs that group's pair in one
// vector, the first in the lower half and the second in the upper.
template <class Block, class V, std::size_t groups, bool pairedLast>
struct BlockPairs {
    static constexpr std::size_t unpaired = pairedLast ? groups - 1 : groups;
    Block first[unpaired];
    Block second[unpaired];
    Block both;

    void reset() {
        for (Block& block : first) block.reset();
        for (Block& block : second) block.reset();
        both.reset();
    }

    // Group g's pair stepped on its two inputs, each block with further arguments of its own,
    // held by BlockArguments: `firstArgs`, `secondArgs`, and `bothArgs` for the paired block.
    template <class FirstArgs, class SecondArgs, class BothArgs>
    [[gnu::always_inline]] inline std::array<V, 2> stepEach(std::size_t g, V firstIn, V secondIn,
                                                            const FirstArgs& firstArgs,
                                                            const SecondArgs& secondArgs,
                                                            const BothArgs& bothArgs) {
        const auto stepOf = [](Block& block, V in, const auto& args) {
            return applyBlockArguments([&](const auto&... a) { return block.step(in, a...); },
                                       args);
        };
        if constexpr (pairedLast) {
            if (g == groups - 1) {
                const V out = stepOf(both, lowerHalves(firstIn, secondIn), bothArgs);
                return {out, swappedHalves(out)};
            }
        }
        return {stepOf(first[g], firstIn, firstArgs), stepOf(second[g], secondIn, secondArgs)};
    }

    // The same, with the same further arguments for every block.
    template <class... Args>
    [[gnu::always_inline]] inline std::array<V, 2> step(std::size_t g, V firstIn, V secondIn,
                                                        const Args&... args) {
        const auto same = tieBlockArguments(args...);
        return stepEach(g, firstIn, secondIn, same, same, same);
    }
};

template <class V>
class BandEngine final : public BandProcessor {
  public:
    static constexpr std::size_t width = LaneTraits<V>::width;
    static constexpr std::size_t groups = (bandCount + width - 1) / width;
    static constexpr std::size_t lanes = groups * width;
    static constexpr std::size_t separatedGroups = (separatedBandCount + width - 1) / width;

    // Where the last group holds at most half a vector of bands, the pairs of like detectors of
    // those bands share one vector, the first of each pair in the lower half and the second in
    // the upper: the band filters and magnitudes of s+ and s-, the peak and average followers,
    // and the envelope followers of E+ and E-. The last group's detectors then cost half, and
    // each lane still runs its own band's operations. With AVX2 the last group of all bands
    // (bands 4 to 1) and of the separated bands (4 and 3) is paired; with SSE2 the last
    // separated group (4 and 3); with AVX-512, whose one group holds every band, none.
    static constexpr bool pairedTail = pairsLastGroup(bandCount, width);
    static constexpr bool pairedSeparatedTail = pairsLastGroup(separatedBandCount, width);

    void computeConstants(const SampleRate& rate) override;
    void clear() override;
    void setBlockControls(float autoEqFloor, const float* gateScale) override;
    void formCombPair(int count, const float* x, std::uint32_t firstRingIndex, float* combSum,
                      float* combDifference) override {
        for (int n = 0; n < count; ++n) {
            const float d = decorrelator.step(x[n], firstRingIndex + static_cast<std::uint32_t>(n));
            combSum[n] = x[n] + d;
            combDifference[n] = x[n] - d;
        }
    }
    void run(int count, const float* combSum, const float* combDifference,
             std::uint32_t firstRingIndex, float* leftSum, float* rightSum,
             float (&separation)[separatedBandCount]) override;
    BandOutput output(std::size_t position) const override {
        return {mid[position], side[position]};
    }

  private:
    // One vector of lanes for each group of bands.
    using GroupVectors = std::array<V, groups>;

    // The stages run one after the other over the whole run, each sample by sample, and hand on
    // through these buffers. A stage's recursions then reach back to its own last sample only,
    // so the processor overlaps consecutive samples of a stage instead of waiting for one sample
    // to pass the whole chain of dependent operations.
    //
    // Fills the release tables a little further.
    void extendReleaseTables();
    // Band filter, level detector and window, every band.
    void detectLevels(int count, const float* combSum, const float* combDifference,
                      std::uint32_t firstRingIndex);
    // Peak and average followers, normaliser and gate, every band.
    void levelAndGate(int count, std::uint32_t firstRingIndex);
    // Bands 12 to 3: the analytic magnitudes of the levelled comb signals.
    void measureEnvelopes(int count);
    // Bands 12 to 3: those magnitudes followed, and the smaller and the larger envelope. A stage
    // apart from the magnitudes, so that the followers' short recursion overlaps from sample to
    // sample instead of waiting behind the magnitudes' long chains.
    void followEnvelopes(int count);
    // Bands 12 to 3: their ratio. A stage apart from the envelopes, so that the processor
    // overlaps consecutive samples of each: one sample's whole way from the levelled comb
    // signals to the ratio is longer than the processor looks ahead.
    void measureRatios(int count);
    // Bands 12 to 3: the ratios mapped through the tangent. A stage of its own, because the
    // tangent is long but feeds no recursion: here the tangents of consecutive samples overlap.
    void spreadRatios(int count);
    // Bands 12 to 3: separation and width; the ring inputs of every band; bands 2 and 1: their
    // delayed mono output; the sums.
    void separateAndSum(int count, std::uint32_t firstRingIndex, float* leftSum, float* rightSum);

    // The buffers of a run and the rings: most of the engine's memory, kept in a block that
    // becomes resident only where the engine writes it (dsp/zeroed_block.h).
    struct Buffers {
        // Per sample of the run.
        GroupVectors bandLevel[maxRun];       // m
        GroupVectors windowPeak[maxRun];      // the window's maximum of m, floored at autoEqFloor
        GroupVectors plusDelayed[maxRun];     // s+132
        GroupVectors minusDelayed[maxRun];    // s-132
        GroupVectors plusMagnitude[maxRun];   // analytic magnitude of the levelled s+132
        GroupVectors minusMagnitude[maxRun];  // of the levelled s-132
        GroupVectors gate[maxRun];            // g
        GroupVectors normaliser[maxRun];      // N
        GroupVectors lowEnvelope[maxRun];     // min(E+, E-), floored
        GroupVectors highEnvelope[maxRun];    // max(E+, E-), floored
        GroupVectors ratio[maxRun];           // ACT HI / LO
        GroupVectors spread[maxRun];  // tan(ratio - 1) where the ratio is above 1, not below 0

        // The release poles of the envelope followers and of the peak followers (of the groups
        // not paired with an average follower), filled a few entries with every run from the
        // first run after the constants changed, so that an engine that never runs (a voice)
        // never writes them. 8192 entries hold the envelope followers' decay at 192 kHz (about
        // 8000 samples); 65536 the peak followers' up to 189 kHz.
        ReleaseTable<8192> envelopeRelease;
        ReleaseTable<65536> peakRelease;

        DelayRing<256, GroupVectors> plusRing;  // the bandRings
        DelayRing<256, GroupVectors> minusRing;
        // The ring inputs of every band. The mono bands have no ring of their own: their lanes
        // of midRing hold (ringGain (s+132 + s-132)) / N, which is exactly what a mono band
        // delays, and they read it back as many samples later as the width stage does.
        DelayRing<4096, GroupVectors> sideRing;
        DelayRing<4096, GroupVectors> midRing;
    };
    ZeroedBlock<Buffers> buffers;
    // Whether the rings may hold anything but silence: set by every run, reset by `clear`. Rings
    // that have not run since they were cleared (or since the block was allocated) are still
    // silent, and clearing them again would only make their pages resident.
    bool ringsWritten = false;
    bool releaseTablesStarted = false;

    static GroupVectors fromLanes(const float (&values)[lanes]) {
        GroupVectors r;
        for (std::size_t g = 0; g < groups; ++g) r[g] = LaneTraits<V>::load(values + g * width);
        return r;
    }

    // Constants.
    BandSharedConstants shared;
    ButterworthCoefficients<V> lowEdge[groups];
    ButterworthCoefficients<V> highEdge[groups];
    Pole<V> gateRelease[groups];
    GroupVectors bandGain;
    GroupVectors polarityGain;
    std::size_t gateRungOf[lanes] = {};

    // Block controls.
    float autoEqFloor = 0.0f;
    GroupVectors gateScales;

    // Leveller state, every band; the paired last group's filter, magnitude and edges.
    BlockPairs<BandFilter<V>, V, groups, pairedTail> bandFilters;        // of s+ and s-
    BlockPairs<AnalyticMagnitude<V>, V, groups, pairedTail> magnitudes;  // of s+ and s-
    SlidingWindowMaximum<V> detectorWindow[groups];
    // The level followers (P and A). Where no group pairs a peak with an average follower, their
    // poles keep intervals: the average followers' release times drift slowly and keep a pole
    // for thousands of samples. In a paired group the peak half's pole changes nearly every
    // sample, and the plain cache costs less there.
    using LevelFollower =
        AdaptiveFollower<V, std::conditional_t<pairedTail, CachedPole<V>, PoleInterval<V>>>;
    BlockPairs<LevelFollower, V, groups, pairedTail> levelFollowers;
    // The paired followers' constants: the peak follower's in the lower half, the average's in
    // the upper.
    AdaptiveFollowerConstants<V> pairedLevelConstants;
    SmoothedPeak<V> gateLevel[groups];

    // Separation and width state of bands 12 to 3.
    BlockPairs<AnalyticMagnitude<V>, V, separatedGroups, pairedSeparatedTail> envelopeMagnitudes;
    BlockPairs<AdaptiveFollower<V>, V, separatedGroups, pairedSeparatedTail> envelopes;  // E+, E-
    SmoothedPeak<V> lowHold[separatedGroups];
    SmoothedPeak<V> highHold[separatedGroups];
    FirstOrderLowpass<V> activityLowpass[separatedGroups];
    FirstOrderLowpass<V> separationLowpass[separatedGroups];
    ButterworthSection<V> separationSmoother[separatedGroups];
    ButterworthSection<V> widthGainSmoother[separatedGroups];

    // Bands 2 and 1: the 30 Hz lowpass of a constant 1, their width gain (the same in every
    // lane; lane 0 is used).
    ButterworthSection<V> fadeIn;

    // The last sample's band outputs and meters, in running order.
    alignas(32) float mid[lanes] = {};
    alignas(32) float side[lanes] = {};
    alignas(32) float meter[lanes] = {};

    CombDecorrelator<V> decorrelator;
};

template <class V>
void BandEngine<V>::computeConstants(const SampleRate& rate) {
    shared = BandSharedConstants::at(rate);
    releaseTablesStarted = false;
    float lowA1[lanes], lowA2[lanes], lowInvA0[lanes], lowKSquared[lanes];
    float highA1[lanes], highA2[lanes], highInvA0[lanes], highKSquared[lanes];
    float releaseP[lanes], releaseComplement[lanes], gain[lanes], polarity[lanes];
    for (std::size_t i = 0; i < lanes; ++i) {
        const BandRow& row = bandTable[i < bandCount ? i : bandCount - 1];
        const BandConstants band = BandConstants::at(rate, row);
        lowA1[i] = band.lowEdge.a1;
        lowA2[i] = band.lowEdge.a2;
        lowInvA0[i] = band.lowEdge.invA0;
        lowKSquared[i] = band.lowEdge.kSquared;
        highA1[i] = band.highEdge.a1;
        highA2[i] = band.highEdge.a2;
        highInvA0[i] = band.highEdge.invA0;
        highKSquared[i] = band.highEdge.kSquared;
        releaseP[i] = band.gateRelease.p;
        releaseComplement[i] = band.gateRelease.complement;
        gain[i] = band.bandGain;
        polarity[i] = band.polarityGain;
        gateRungOf[i] = gateRung(row.ladderOffset);
    }
    const GroupVectors la1 = fromLanes(lowA1), la2 = fromLanes(lowA2), linv = fromLanes(lowInvA0),
                       lk2 = fromLanes(lowKSquared), ha1 = fromLanes(highA1),
                       ha2 = fromLanes(highA2), hinv = fromLanes(highInvA0),
                       hk2 = fromLanes(highKSquared), rp = fromLanes(releaseP),
                       rc = fromLanes(releaseComplement);
    for (std::size_t g = 0; g < groups; ++g) {
        lowEdge[g].a1 = la1[g];
        lowEdge[g].a2 = la2[g];
        lowEdge[g].invA0 = linv[g];
        lowEdge[g].kSquared = lk2[g];
        highEdge[g].a1 = ha1[g];
        highEdge[g].a2 = ha2[g];
        highEdge[g].invA0 = hinv[g];
        highEdge[g].kSquared = hk2[g];
        gateRelease[g] = {rp[g], rc[g]};
    }
    bandGain = fromLanes(gain);
    polarityGain = fromLanes(polarity);
    if constexpr (pairedTail) {
        // Both halves carry the last group's own bands.
        const auto doubled = [](const ButterworthCoefficients<V>& c) {
            ButterworthCoefficients<V> d;
            d.a1 = lowerHalves(c.a1, c.a1);
            d.a2 = lowerHalves(c.a2, c.a2);
            d.invA0 = lowerHalves(c.invA0, c.invA0);
            d.kSquared = lowerHalves(c.kSquared, c.kSquared);
            return d;
        };
        lowEdge[groups - 1] = doubled(lowEdge[groups - 1]);
        highEdge[groups - 1] = doubled(highEdge[groups - 1]);
        const auto halves = [](float low, float high) { return lowerHalves(V(low), V(high)); };
        const AdaptiveFollowerConstants<>& peak = shared.peakLevel;
        const AdaptiveFollowerConstants<>& average = shared.averageLevel;
        pairedLevelConstants.tau0 = halves(peak.tau0, average.tau0);
        pairedLevelConstants.activity = {
            halves(peak.activity.p, average.activity.p),
            halves(peak.activity.complement, average.activity.complement)};
        pairedLevelConstants.smoothing = {
            halves(peak.smoothing.p, average.smoothing.p),
            halves(peak.smoothing.complement, average.smoothing.complement)};
    }
}

template <class V>
void BandEngine<V>::clear() {
    auto resetAll = [](auto& blocks) {
        for (auto& block : blocks) block.reset();
    };
    decorrelator.reset();
    bandFilters.reset();
    if (ringsWritten) {
        buffers->plusRing.clear();
        buffers->minusRing.clear();
        buffers->sideRing.clear();
        buffers->midRing.clear();
        ringsWritten = false;
    }
    magnitudes.reset();
    resetAll(detectorWindow);
    levelFollowers.reset();
    resetAll(gateLevel);

    envelopeMagnitudes.reset();
    envelopes.reset();
    resetAll(lowHold);
    resetAll(highHold);
    resetAll(activityLowpass);
    resetAll(separationLowpass);
    resetAll(separationSmoother);
    resetAll(widthGainSmoother);

    fadeIn.reset();
    for (std::size_t i = 0; i < lanes; ++i) mid[i] = side[i] = meter[i] = 0.0f;
}

template <class V>
void BandEngine<V>::setBlockControls(float floor, const float* gateScale) {
    autoEqFloor = floor;
    float bandGateScale[lanes];
    for (std::size_t i = 0; i < lanes; ++i) bandGateScale[i] = gateScale[gateRungOf[i]];
    gateScales = fromLanes(bandGateScale);
}

template <class V>
void BandEngine<V>::run(int count, const float* combSum, const float* combDifference,
                        std::uint32_t firstRingIndex, float* leftSum, float* rightSum,
                        float (&separation)[separatedBandCount]) {
    ringsWritten = true;
    extendReleaseTables();
    detectLevels(count, combSum, combDifference, firstRingIndex);
    levelAndGate(count, firstRingIndex);
    measureEnvelopes(count);
    followEnvelopes(count);
    measureRatios(count);
    spreadRatios(count);
    separateAndSum(count, firstRingIndex, leftSum, rightSum);
    for (std::size_t i = 0; i < separatedBandCount; ++i) separation[i] = meter[i];
}

template <class V>
void BandEngine<V>::extendReleaseTables() {
    Buffers& b = *buffers;
    if (!releaseTablesStarted) {
        b.envelopeRelease.start(shared.envelope, shared.periodT);
        b.peakRelease.start(shared.peakLevel, shared.periodT);
        releaseTablesStarted = true;
    }
    // About a microsecond a run; the tables are complete after some 0.1 s (envelope) and 0.4 s
    // (peak) of audio at 48 kHz.
    constexpr std::size_t perRun = 2 * maxRun;
    if (!b.envelopeRelease.complete())
        b.envelopeRelease.extend(shared.envelope, shared.periodT, perRun);
    if (!b.peakRelease.complete()) b.peakRelease.extend(shared.peakLevel, shared.periodT, perRun);
}

template <class V>
void BandEngine<V>::detectLevels(int count, const float* combSum, const float* combDifference,
                                 std::uint32_t firstRingIndex) {
    Buffers& b = *buffers;
    for (int n = 0; n < count; ++n) {
        const std::uint32_t ringIndex = firstRingIndex + static_cast<std::uint32_t>(n);
        GroupVectors plus;
        GroupVectors minus;
        for (std::size_t g = 0; g < groups; ++g) {
            const auto [p, m] =
                bandFilters.step(g, V(combSum[n]), V(combDifference[n]), lowEdge[g], highEdge[g]);
            plus[g] = p;
            minus[g] = m;
        }
        b.plusRing.write(ringIndex, plus);
        b.minusRing.write(ringIndex, minus);
    }
    // The magnitudes in a loop of their own, from the band rings: one sample's way through the
    // band filters and then the magnitudes is longer than the processor looks ahead.
    for (int n = 0; n < count; ++n) {
        const std::uint32_t ringIndex = firstRingIndex + static_cast<std::uint32_t>(n);
        const GroupVectors& plus = b.plusRing.read(ringIndex, 0);
        const GroupVectors& minus = b.minusRing.read(ringIndex, 0);
        for (std::size_t g = 0; g < groups; ++g) {
            const auto [plusMagnitude, minusMagnitude] = magnitudes.step(g, plus[g], minus[g]);
            const V level = larger(plusMagnitude, minusMagnitude);
            b.bandLevel[n][g] = level;
            // The window holds the level floored at autoEqFloor, so the peak follower, and with
            // it the normaliser, never drops below the threshold: that caps the boost of a quiet
            // band.
            b.windowPeak[n][g] = detectorWindow[g].step(larger(V(autoEqFloor), level));
        }
    }
}

template <class V>
void BandEngine<V>::levelAndGate(int count, std::uint32_t firstRingIndex) {
    Buffers& b = *buffers;
    // The band rings hold more than lookAhead + maxRun samples, so the whole run's writes of
    // detectLevels leave every slot read here intact.
    static_assert(bandLevelLookAhead + maxRun <= 256);
    for (int n = 0; n < count; ++n) {
        const std::uint32_t ringIndex = firstRingIndex + static_cast<std::uint32_t>(n);
        for (std::size_t g = 0; g < groups; ++g) {
            const auto [peak, average] = levelFollowers.stepEach(
                g, b.windowPeak[n][g], b.bandLevel[n][g],
                tieBlockArguments(shared.peakLevel, shared.periodT, b.peakRelease),
                tieBlockArguments(shared.averageLevel, shared.periodT),
                tieBlockArguments(pairedLevelConstants, shared.periodT));
            const V loweredAverage = 0.70794576f * average;
            b.normaliser[n][g] = larger(larger(loweredAverage, peak), V(floorMinus90dB));
            const V gateTarget = smaller(b.bandLevel[n][g] * gateScales[g], V(1.0f));
            b.gate[n][g] = gateLevel[g].step(gateTarget, gateRelease[g], shared.gatePole);
        }
        b.plusDelayed[n] = b.plusRing.read(ringIndex, bandLevelLookAhead);
        b.minusDelayed[n] = b.minusRing.read(ringIndex, bandLevelLookAhead);
    }
}

template <class V>
void BandEngine<V>::measureEnvelopes(int count) {
    Buffers& b = *buffers;
    for (int n = 0; n < count; ++n) {
        for (std::size_t g = 0; g < separatedGroups; ++g) {
            const V gain = bandGain[g] * b.gate[n][g];
            const V norm = b.normaliser[n][g];
            const auto [plus, minus] = envelopeMagnitudes.step(
                g, (gain * b.plusDelayed[n][g]) / norm, (gain * b.minusDelayed[n][g]) / norm);
            b.plusMagnitude[n][g] = plus;
            b.minusMagnitude[n][g] = minus;
        }
    }
}

template <class V>
void BandEngine<V>::followEnvelopes(int count) {
    Buffers& b = *buffers;
    for (int n = 0; n < count; ++n) {
        for (std::size_t g = 0; g < separatedGroups; ++g) {
            const auto [plusEnvelopeNow, minusEnvelopeNow] =
                envelopes.step(g, b.plusMagnitude[n][g], b.minusMagnitude[n][g], shared.envelope,
                               shared.periodT, b.envelopeRelease);

            // LO's -50 dB floor keeps the divisor of the ratio below positive, and keeps a nearly
            // silent comb signal from reading as a huge ratio.
            b.lowEnvelope[n][g] =
                larger(smaller(plusEnvelopeNow, minusEnvelopeNow), V(0.0031622776f));
            b.highEnvelope[n][g] =
                larger(larger(plusEnvelopeNow, minusEnvelopeNow), V(1.5848931e-5f));
        }
    }
}

template <class V>
void BandEngine<V>::measureRatios(int count) {
    Buffers& b = *buffers;
    for (int n = 0; n < count; ++n) {
        for (std::size_t g = 0; g < separatedGroups; ++g) {
            const V lowLevel =
                lowHold[g].step(b.lowEnvelope[n][g], shared.levelHoldPole, shared.gatePole);
            const V highLevel =
                highHold[g].step(b.highEnvelope[n][g], shared.levelHoldPole, shared.gatePole);

            // Activity fades the separation out as the band falls below -60 dB, where the
            // envelope ratio would only measure noise.
            const V activityTarget = smaller(1000.0f * highLevel, V(1.0f));
            const V activity = activityLowpass[g].step(activityTarget, shared.lowpass10Hz);
            b.ratio[n][g] = (activity * highLevel) / lowLevel;
        }
    }
}

template <class V>
void BandEngine<V>::spreadRatios(int count) {
    Buffers& b = *buffers;
    // Only the separated bands' ratios are mapped, packed side by side for the whole run, so
    // that every vector of tangents is full: the last separated group's lanes of mono and idle
    // bands would otherwise take a full vector's tangent each sample. Each group is stored whole
    // at its place; the next sample's store overwrites the lanes past the separated bands.
    constexpr std::size_t perSample = separatedBandCount;
    alignas(32) float packed[maxRun * perSample + lanes];
    for (int n = 0; n < count; ++n) {
        float* const sample = packed + static_cast<std::size_t>(n) * perSample;
        for (std::size_t g = 0; g < separatedGroups; ++g)
            LaneTraits<V>::store(sample + g * width, b.ratio[n][g]);
    }
    const std::size_t used = static_cast<std::size_t>(count) * perSample;
    for (std::size_t i = used; i < used + lanes; ++i) packed[i] = 0.0f;
    for (std::size_t i = 0; i < used; i += width) {
        // The ratio of the louder to the quieter comb signal, mapped through tan(q - 1) without
        // range reduction: it rises from 0 at q = 1 without bound towards q = 1 + pi/2, and a
        // ratio beyond that gives a negative tangent, taken as 0, which collapses the band to
        // mono. Where no lane has q > 1 the tangent is not needed.
        const V q = LaneTraits<V>::load(packed + i);
        V spreadNow{};
        if (anyAbove(q, 1.0f))
            spreadNow = onlyWhereAbove(q, 1.0f, zeroWhereNegative(tangent(q - 1.0f)));
        LaneTraits<V>::store(packed + i, spreadNow);
    }
    for (int n = 0; n < count; ++n) {
        const float* const sample = packed + static_cast<std::size_t>(n) * perSample;
        for (std::size_t g = 0; g < separatedGroups; ++g)
            b.spread[n][g] = LaneTraits<V>::load(sample + g * width);
    }
}

template <class V>
void BandEngine<V>::separateAndSum(int count, std::uint32_t firstRingIndex, float* leftSum,
                                   float* rightSum) {
    Buffers& b = *buffers;
    for (int n = 0; n < count; ++n) {
        const std::uint32_t ringIndex = firstRingIndex + static_cast<std::uint32_t>(n);
        GroupVectors separation;
        GroupVectors widthGain;
        for (std::size_t g = 0; g < separatedGroups; ++g) {
            const V separationRaw = separationLowpass[g].step(b.spread[n][g], shared.lowpass10Hz);

            // Not above 0 gives 0 (NaN included); otherwise not below 1.5 gives 1.5.
            const V meterNow = smaller(larger(separationRaw, V(0.0f)), V(separationMaximum));
            LaneTraits<V>::store(meter + g * width, meterNow);
            separation[g] = separationSmoother[g].lowpass(meterNow, shared.lowpass30Hz);
            // The deficit 1.5 - SEP where SEP < 1.5, else 0 (NaN included).
            const V deficit = larger(separationMaximum - separation[g], V(0.0f));
            widthGain[g] =
                widthGainSmoother[g].lowpass(1.0f + 0.414f * deficit, shared.lowpass30Hz);
        }

        // Gate and normaliser act 132 samples after the level detector saw the signal; width
        // and separation act 2048 samples after the separation detector saw it.
        GroupVectors sideIn;
        GroupVectors midIn;
        for (std::size_t g = 0; g < groups; ++g) {
            const V ringGain = polarityGain[g] * b.gate[n][g];
            sideIn[g] =
                (ringGain * (b.plusDelayed[n][g] - b.minusDelayed[n][g])) / b.normaliser[n][g];
            midIn[g] =
                (ringGain * (b.plusDelayed[n][g] + b.minusDelayed[n][g])) / b.normaliser[n][g];
        }
        b.sideRing.write(ringIndex, sideIn);
        b.midRing.write(ringIndex, midIn);
        const GroupVectors& sideDelayed = b.sideRing.read(ringIndex, bandWidthLookAhead);
        const GroupVectors& midDelayed = b.midRing.read(ringIndex, bandWidthLookAhead);
        for (std::size_t g = 0; g < separatedGroups; ++g) {
            LaneTraits<V>::store(mid + g * width, widthGain[g] * midDelayed[g]);
            LaneTraits<V>::store(side + g * width, (widthGain[g] * separation[g]) * sideDelayed[g]);
        }

        // Bands 2 and 1: the same fade-in after a reset as a separated band's width gain,
        // settling at unity, on the mid ring's lanes, which hold what a mono band delays.
        alignas(32) float monoGain[width];
        LaneTraits<V>::store(monoGain, fadeIn.lowpass(V(1.0f), shared.lowpass30Hz));
        alignas(32) float delayed[lanes];
        for (std::size_t g = 0; g < groups; ++g)
            LaneTraits<V>::store(delayed + g * width, midDelayed[g]);
        for (std::size_t i = separatedBandCount; i < bandCount; ++i) {
            mid[i] = monoGain[0] * delayed[i];
            side[i] = 0.0f;
        }

        // The sums run serially in the bands' running order: their roundings depend on it.
        float left = 0.0f;
        float right = 0.0f;
        for (std::size_t i = 0; i < separatedBandCount; ++i) {
            left = left + (mid[i] + side[i]);
            right = right + (mid[i] - side[i]);
        }
        for (std::size_t i = separatedBandCount; i < bandCount; ++i) {
            left = left + mid[i];
            right = right + mid[i];
        }
        leftSum[n] = left;
        rightSum[n] = right;
    }
}

}  // namespace ZELKO_TARGET_NAMESPACE
