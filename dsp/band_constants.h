// Constants of the twelve band blocks, computed once per sample rate.
//
// Every band filters the two complementary comb signals combSum = x + d and
// combDifference = x - d, levels itself against its own look-ahead peak (the automatic
// equaliser, bounded below by autoEqFloor) and gates itself. A separated band also measures how
// unequal the two comb signals are and turns that into its stereo width; a mono band adds the
// same signal to both sides. BandEngine runs them; these are the values they share.
#pragma once

#include <cstdint>

#include "dsp/band_table.h"
#include "dsp/detectors.h"
#include "dsp/meter_limits.h"
#include "dsp/sample_rate.h"
#include "dsp/sections.h"
#include "dsp/target.h"

inline namespace ZELKO_TARGET_NAMESPACE {

// Samples by which the gate and normaliser act after the level detector saw the band signal.
inline constexpr std::uint32_t bandLevelLookAhead = 132;
// Samples by which separation and width act after the separation detector saw the signal (and
// by which a mono band's output is delayed, so that all bands stay aligned).
inline constexpr std::uint32_t bandWidthLookAhead = 2048;

// Constants every band shares, computed once per sample rate.
struct BandSharedConstants {
    float periodT = 1.0f;
    AdaptiveFollowerConstants<> peakLevel;     // 0.25 s, activity 0.5 s, smoothing 15 ms
    AdaptiveFollowerConstants<> averageLevel;  // 5 s, activity 10 s, smoothing 0.5 s
    AdaptiveFollowerConstants<> envelope;      // 0.03 s, activity 60 ms, smoothing 1 ms
    Pole<> gatePole;                           // 30 ms
    Pole<> levelHoldPole;                      // 0.4 s
    FirstOrderLowpassConstants lowpass10Hz;
    ButterworthCoefficients<> lowpass30Hz;

    static BandSharedConstants at(const SampleRate& rate);
};

// Constants of one band, computed once per sample rate from its table row.
struct BandConstants {
    ButterworthCoefficients<> lowEdge;
    ButterworthCoefficients<> highEdge;
    Pole<> gateRelease;
    float bandGain = 0.0f;
    float polarityGain = 0.0f;  // polarity * bandGain (exact: only the sign changes)

    static BandConstants at(const SampleRate& rate, const BandRow& row);
};

// Inline, so that the engine of each instruction set computes its own (dsp/target.h); the
// arithmetic is plain float in the written order, the same bits on every target.
inline BandSharedConstants BandSharedConstants::at(const SampleRate& rate) {
    const Pole<> activityPoleSlow = Pole<>::at(rate, 2.0f);
    const Pole<> smoothPoleFast = Pole<>::at(rate, 66.666664f);
    const Pole<> activityPoleAverage = Pole<>::at(rate, 0.1f);
    const Pole<> activityPoleWidth = Pole<>::at(rate, 16.666666f);
    const Pole<> smoothPoleWidth = Pole<>::at(rate, 1000.0f);

    BandSharedConstants c;
    c.periodT = rate.T;
    c.peakLevel = {0.25f, activityPoleSlow, smoothPoleFast};
    c.averageLevel = {5.0f, activityPoleAverage, activityPoleSlow};
    c.envelope = {0.03f, activityPoleWidth, smoothPoleWidth};
    c.gatePole = Pole<>::at(rate, 33.333332f);
    c.levelHoldPole = Pole<>::at(rate, 2.5f);
    c.lowpass10Hz = FirstOrderLowpassConstants::at(rate, 10.0f);
    c.lowpass30Hz = ButterworthCoefficients<>::at(rate.prewarp(30.0f));
    return c;
}

inline BandConstants BandConstants::at(const SampleRate& rate, const BandRow& row) {
    BandConstants c;
    c.lowEdge = ButterworthCoefficients<>::at(rate.prewarp(row.lowEdge));
    c.highEdge = ButterworthCoefficients<>::at(rate.prewarp(row.highEdge));
    c.gateRelease = Pole<>::at(rate, row.gateRelease);
    c.bandGain = row.bandGain;
    c.polarityGain = row.polarity * row.bandGain;
    return c;
}

}  // namespace ZELKO_TARGET_NAMESPACE
