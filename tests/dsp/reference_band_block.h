// The band blocks one band at a time, each as its own object: the plain reading of the band
// block that BandLanes must match bit for bit, and on which the band block tests measure the
// behaviour of one band.
//
// Every band filters the two complementary comb signals combSum = x + d and
// combDifference = x - d, levels itself against its own look-ahead peak (the automatic
// equaliser, bounded below by autoEqFloor) and gates itself. A separated band also measures how
// unequal the two comb signals are and turns that into its stereo width; a mono band adds the
// same signal to both sides.
//
// Signal legend of one band and sample:
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

#include <cmath>
#include <cstdint>

#include "dsp/band_constants.h"
#include "dsp/delay_ring.h"
#include "dsp/detectors.h"
#include "dsp/sections.h"

// Fourth-order highpass at lowEdge followed by fourth-order lowpass at highEdge, both as two
// cascaded Butterworth sections (Linkwitz-Riley shaped, -6 dB at each edge).
struct BandFilter {
    ButterworthSection highpass1;
    ButterworthSection highpass2;
    ButterworthSection lowpass1;
    ButterworthSection lowpass2;

    void reset() { *this = {}; }

    float step(float in, const BandConstants& c) {
        const float h = highpass2.highpass(highpass1.highpass(in, c.lowEdge), c.lowEdge);
        return lowpass2.lowpass(lowpass1.lowpass(h, c.highEdge), c.highEdge);
    }
};

// What the levelling half of a band hands on: the band signals 132 samples late, and this
// sample's gate and normaliser, which act on them.
struct LevelledBand {
    float plusDelayed;   // s+132
    float minusDelayed;  // s-132
    float gate;          // g
    float normaliser;    // N
};

// Band filter, level detector, normaliser and gate: the part that both kinds of band run.
struct BandLeveller {
    static constexpr std::uint32_t lookAhead = bandLevelLookAhead;

    BandFilter plusFilter;
    BandFilter minusFilter;
    DelayRing<256> plusRing;  // the bandRings
    DelayRing<256> minusRing;
    AnalyticMagnitude plusMagnitude;
    AnalyticMagnitude minusMagnitude;
    SlidingWindowMaximum detectorWindow;
    AdaptiveFollower peakLevel;
    AdaptiveFollower averageLevel;
    PeakHold gateHold;
    OnePoleSmoother gateSmoother;

    void reset() {
        plusFilter.reset();
        minusFilter.reset();
        plusRing.clear();
        minusRing.clear();
        plusMagnitude.reset();
        minusMagnitude.reset();
        detectorWindow.reset();
        peakLevel.reset();
        averageLevel.reset();
        gateHold.reset();
        gateSmoother.reset();
    }

    LevelledBand step(float combSum, float combDifference, std::uint32_t ringIndex,
                      float autoEqFloor, float gateScale, const BandConstants& band,
                      const BandSharedConstants& shared) {
        const float plus = plusFilter.step(combSum, band);
        const float minus = minusFilter.step(combDifference, band);
        plusRing.write(ringIndex, plus);
        minusRing.write(ringIndex, minus);

        const float plusLevel = plusMagnitude.step(plus);
        const float minusLevel = minusMagnitude.step(minus);
        const float bandLevel = plusLevel > minusLevel ? plusLevel : minusLevel;

        // The window holds the level floored at autoEqFloor, so the peak follower, and with it
        // the normaliser, never drops below the threshold: that caps the boost of a quiet band.
        const float windowPeak =
            detectorWindow.step(autoEqFloor > bandLevel ? autoEqFloor : bandLevel, ringIndex);
        const float peak = peakLevel.step(windowPeak, shared.peakLevel, shared.periodT);
        const float average = averageLevel.step(bandLevel, shared.averageLevel, shared.periodT);
        const float loweredAverage = 0.70794576f * average;
        float normaliser = loweredAverage > peak ? loweredAverage : peak;
        if (!(normaliser > floorMinus90dB)) normaliser = floorMinus90dB;

        const float scaledLevel = bandLevel * gateScale;
        const float gateTarget = scaledLevel < 1.0f ? scaledLevel : 1.0f;
        const float gate =
            gateSmoother.step(gateHold.step(gateTarget, band.gateRelease), shared.gatePole);

        return {plusRing.read(ringIndex, lookAhead), minusRing.read(ringIndex, lookAhead), gate,
                normaliser};
    }
};

// Bands 3 to 12: full block with separation detector and width.
class SeparatedBand {
  public:
    static constexpr std::uint32_t widthLookAhead = bandWidthLookAhead;
    static constexpr float meterMaximum = separationMaximum;

    struct Output {
        float mid;    // bandMidOut, added to both sums
        float side;   // bandSideOut, added to the left sum and subtracted from the right
        float meter;  // separation clamped to [0, 1.5], for the band's meter
    };

    void reset() {
        leveller.reset();
        plusEnvelopeMagnitude.reset();
        minusEnvelopeMagnitude.reset();
        plusEnvelope.reset();
        minusEnvelope.reset();
        lowHold.reset();
        lowSmoother.reset();
        highHold.reset();
        highSmoother.reset();
        activityLowpass.reset();
        separationLowpass.reset();
        separationSmoother.reset();
        widthGainSmoother.reset();
        sideRing.clear();
        midRing.clear();
    }

    Output step(float combSum, float combDifference, std::uint32_t ringIndex, float autoEqFloor,
                float gateScale, const BandConstants& band, const BandSharedConstants& shared) {
        const LevelledBand levelled =
            leveller.step(combSum, combDifference, ringIndex, autoEqFloor, gateScale, band, shared);

        const float gain = band.bandGain * levelled.gate;
        const float plusLevelled = (gain * levelled.plusDelayed) / levelled.normaliser;
        const float minusLevelled = (gain * levelled.minusDelayed) / levelled.normaliser;
        const float plusEnvelopeNow = plusEnvelope.step(plusEnvelopeMagnitude.step(plusLevelled),
                                                        shared.envelope, shared.periodT);
        const float minusEnvelopeNow = minusEnvelope.step(
            minusEnvelopeMagnitude.step(minusLevelled), shared.envelope, shared.periodT);

        // LO's -50 dB floor keeps the divisor of the ratio below positive, and keeps a nearly
        // silent comb signal from reading as a huge ratio.
        float low = plusEnvelopeNow < minusEnvelopeNow ? plusEnvelopeNow : minusEnvelopeNow;
        if (!(low > 0.0031622776f)) low = 0.0031622776f;
        float high = plusEnvelopeNow > minusEnvelopeNow ? plusEnvelopeNow : minusEnvelopeNow;
        if (!(high > 1.5848931e-5f)) high = 1.5848931e-5f;
        const float lowLevel =
            lowSmoother.step(lowHold.step(low, shared.levelHoldPole), shared.gatePole);
        const float highLevel =
            highSmoother.step(highHold.step(high, shared.levelHoldPole), shared.gatePole);

        // Activity fades the separation out as the band falls below -60 dB, where the envelope
        // ratio would only measure noise.
        const float scaledHigh = 1000.0f * highLevel;
        const float activity =
            activityLowpass.step(scaledHigh < 1.0f ? scaledHigh : 1.0f, shared.lowpass10Hz);

        // The ratio of the louder to the quieter comb signal, mapped through tan(q - 1) without
        // range reduction: it rises from 0 at q = 1 without bound towards q = 1 + pi/2, and a
        // ratio beyond that gives a negative tangent, taken as 0, which collapses the band to
        // mono.
        const float ratio = (activity * highLevel) / lowLevel;
        float spread = 0.0f;
        if (ratio > 1.0f) {
            spread = crmath::tan(ratio - 1.0f);
            if (spread < 0.0f) spread = 0.0f;
        }
        const float separationRaw = separationLowpass.step(spread, shared.lowpass10Hz);
        float meter = separationRaw;
        if (!(meter > 0.0f)) {
            meter = 0.0f;
        } else if (!(meter < meterMaximum)) {
            meter = meterMaximum;
        }
        const float separation = separationSmoother.lowpass(meter, shared.lowpass30Hz);
        const float deficit = separation < meterMaximum ? meterMaximum - separation : 0.0f;
        const float widthGain =
            widthGainSmoother.lowpass(1.0f + 0.414f * deficit, shared.lowpass30Hz);

        // Gate and normaliser act 132 samples after the level detector saw the signal; width
        // and separation act 2048 samples after the separation detector saw it.
        const float ringGain = band.polarityGain * levelled.gate;
        sideRing.write(ringIndex, (ringGain * (levelled.plusDelayed - levelled.minusDelayed)) /
                                      levelled.normaliser);
        midRing.write(ringIndex, (ringGain * (levelled.plusDelayed + levelled.minusDelayed)) /
                                     levelled.normaliser);
        const float side = sideRing.read(ringIndex, widthLookAhead);
        const float mid = midRing.read(ringIndex, widthLookAhead);

        return {widthGain * mid, (widthGain * separation) * side, meter};
    }

  private:
    BandLeveller leveller;
    AnalyticMagnitude plusEnvelopeMagnitude;
    AnalyticMagnitude minusEnvelopeMagnitude;
    AdaptiveFollower plusEnvelope;
    AdaptiveFollower minusEnvelope;
    PeakHold lowHold;
    OnePoleSmoother lowSmoother;
    PeakHold highHold;
    OnePoleSmoother highSmoother;
    FirstOrderLowpass activityLowpass;
    FirstOrderLowpass separationLowpass;
    ButterworthSection separationSmoother;
    ButterworthSection widthGainSmoother;
    DelayRing<4096> sideRing;
    DelayRing<4096> midRing;
};

// Bands 1 and 2: levelled and gated like the others, but the same signal goes to both sides.
class MonoBand {
  public:
    static constexpr std::uint32_t lookAhead = bandWidthLookAhead;

    void reset() {
        leveller.reset();
        fadeIn.reset();
        monoRing.clear();
    }

    // Returns bandMonoOut, added to both sums.
    float step(float combSum, float combDifference, std::uint32_t ringIndex, float autoEqFloor,
               float gateScale, const BandConstants& band, const BandSharedConstants& shared) {
        const LevelledBand levelled =
            leveller.step(combSum, combDifference, ringIndex, autoEqFloor, gateScale, band, shared);
        // The 30 Hz lowpass of a constant 1: the same fade-in after a reset as a separated
        // band's width gain, settling at unity.
        const float widthGain = fadeIn.lowpass(1.0f, shared.lowpass30Hz);
        const float ringGain = band.polarityGain * levelled.gate;
        monoRing.write(ringIndex, (ringGain * (levelled.plusDelayed + levelled.minusDelayed)) /
                                      levelled.normaliser);
        return widthGain * monoRing.read(ringIndex, lookAhead);
    }

  private:
    BandLeveller leveller;
    ButterworthSection fadeIn;
    DelayRing<4096> monoRing;
};
