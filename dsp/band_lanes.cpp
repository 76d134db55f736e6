#include "dsp/band_lanes.h"

void BandLanes::computeConstants(const SampleRate& rate) {
    shared = BandSharedConstants::at(rate);
    LaneFloats<quads> lowA1, lowA2, lowInvA0, lowKSquared;
    LaneFloats<quads> highA1, highA2, highInvA0, highKSquared;
    LaneFloats<quads> releaseP, releaseComplement, gain, polarity;
    for (std::size_t i = 0; i < bandCount; ++i) {
        const BandConstants band = BandConstants::at(rate, bandTable[i]);
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
        gateRungOf[i] = gateRung(bandTable[i].ladderOffset);
    }
    lowEdge = {lowA1.quads(), lowA2.quads(), lowInvA0.quads(), lowKSquared.quads()};
    highEdge = {highA1.quads(), highA2.quads(), highInvA0.quads(), highKSquared.quads()};
    gateRelease = {releaseP.quads(), releaseComplement.quads()};
    bandGain = gain.quads();
    polarityGain = polarity.quads();
}

void BandLanes::clear() {
    plusFilter = {};
    minusFilter = {};
    plusRing.clear();
    minusRing.clear();
    plusMagnitude = {};
    minusMagnitude = {};
    detectorWindow.clear();
    peakLevel = {};
    averageLevel = {};
    gateHold = {};
    gateSmoother = {};

    plusEnvelopeMagnitude = {};
    minusEnvelopeMagnitude = {};
    plusEnvelope = {};
    minusEnvelope = {};
    lowHold = {};
    lowSmoother = {};
    highHold = {};
    highSmoother = {};
    activityLowpass = {};
    separationLowpass = {};
    separationSmoother = {};
    widthGainSmoother = {};
    sideRing.clear();
    midRing.clear();

    fadeIn = {};
}

StereoSum BandLanes::step(float x, float d, std::uint32_t ringIndex, float autoEqFloor,
                          const float* gateScale, float (&separation)[separatedBandCount]) {
    const Levelled levelled = level(x + d, x - d, ringIndex, autoEqFloor, gateScale);
    const SeparatedOutput separated = separate(levelled, ringIndex);
    const LaneFloats<1> mono(monoOut(ringIndex));

    // The sums run serially in the bands' running order: their roundings depend on it.
    const LaneFloats<quads> mid(separated.mid);
    const LaneFloats<quads> side(separated.side);
    const LaneFloats<quads> meter(separated.meter);
    float leftSum = 0.0f;
    float rightSum = 0.0f;
    for (std::size_t i = 0; i < separatedBandCount; ++i) {
        separation[i] = meter[i];
        leftSum = leftSum + (mid[i] + side[i]);
        rightSum = rightSum + (mid[i] - side[i]);
    }
    for (std::size_t i = firstMonoLaneInQuad; i < 4; ++i) {
        leftSum = leftSum + mono[i];
        rightSum = rightSum + mono[i];
    }
    return {leftSum, rightSum};
}

BandLanes::Levelled BandLanes::level(float combSum, float combDifference, std::uint32_t ringIndex,
                                     float autoEqFloor, const float* gateScale) {
    const BandLanesOf plus = plusFilter.step(allLanes<quads>(combSum), lowEdge, highEdge);
    const BandLanesOf minus = minusFilter.step(allLanes<quads>(combDifference), lowEdge, highEdge);
    plusRing.write(ringIndex, plus);
    minusRing.write(ringIndex, minus);

    const BandLanesOf plusLevel = plusMagnitude.step(plus);
    const BandLanesOf minusLevel = minusMagnitude.step(minus);
    BandLanesOf bandLevel;
    BandLanesOf flooredLevel;
    for (std::size_t q = 0; q < quads; ++q) {
        bandLevel[q] = larger(plusLevel[q], minusLevel[q]);
        // The window holds the level floored at autoEqFloor, so the peak follower, and with it
        // the normaliser, never drops below the threshold: that caps the boost of a quiet band.
        flooredLevel[q] = larger(autoEqFloor, bandLevel[q]);
    }

    const BandLanesOf windowPeak = detectorWindow.step(flooredLevel, ringIndex);
    AdaptiveFollowerLanes<quads>::stepPair(peakLevel, windowPeak, shared.peakLevel, averageLevel,
                                           bandLevel, shared.averageLevel, shared.periodT,
                                           bandCount);
    const BandLanesOf& peak = peakLevel.output;
    const BandLanesOf& average = averageLevel.output;

    LaneFloats<quads> bandGateScale;
    for (std::size_t i = 0; i < bandCount; ++i) bandGateScale[i] = gateScale[gateRungOf[i]];
    const BandLanesOf gateScales = bandGateScale.quads();

    Levelled out;
    BandLanesOf gateTarget;
    for (std::size_t q = 0; q < quads; ++q) {
        const Quad loweredAverage = 0.70794576f * average[q];
        out.normaliser[q] = larger(larger(loweredAverage, peak[q]), floorMinus90dB);
        gateTarget[q] = smaller(bandLevel[q] * gateScales[q], 1.0f);
    }
    out.gate = gateSmoother.step(gateHold.step(gateTarget, gateRelease), shared.gatePole);
    out.plusDelayed = plusRing.read(ringIndex, lookAhead);
    out.minusDelayed = minusRing.read(ringIndex, lookAhead);
    return out;
}

BandLanes::SeparatedOutput BandLanes::separate(const Levelled& levelled, std::uint32_t ringIndex) {
    BandLanesOf plusLevelled;
    BandLanesOf minusLevelled;
    for (std::size_t q = 0; q < quads; ++q) {
        const Quad gain = bandGain[q] * levelled.gate[q];
        plusLevelled[q] = (gain * levelled.plusDelayed[q]) / levelled.normaliser[q];
        minusLevelled[q] = (gain * levelled.minusDelayed[q]) / levelled.normaliser[q];
    }
    const BandLanesOf plusMagnitude = plusEnvelopeMagnitude.step(plusLevelled);
    const BandLanesOf minusMagnitude = minusEnvelopeMagnitude.step(minusLevelled);
    AdaptiveFollowerLanes<quads>::stepPair(plusEnvelope, plusMagnitude, shared.envelope,
                                           minusEnvelope, minusMagnitude, shared.envelope,
                                           shared.periodT, separatedBandCount);
    const BandLanesOf& plusEnvelopeNow = plusEnvelope.output;
    const BandLanesOf& minusEnvelopeNow = minusEnvelope.output;

    // LO's -50 dB floor keeps the divisor of the ratio below positive, and keeps a nearly silent
    // comb signal from reading as a huge ratio.
    BandLanesOf low;
    BandLanesOf high;
    for (std::size_t q = 0; q < quads; ++q) {
        low[q] = larger(smaller(plusEnvelopeNow[q], minusEnvelopeNow[q]), 0.0031622776f);
        high[q] = larger(larger(plusEnvelopeNow[q], minusEnvelopeNow[q]), 1.5848931e-5f);
    }
    const BandLanesOf lowLevel =
        lowSmoother.step(lowHold.step(low, shared.levelHoldPole), shared.gatePole);
    const BandLanesOf highLevel =
        highSmoother.step(highHold.step(high, shared.levelHoldPole), shared.gatePole);

    // Activity fades the separation out as the band falls below -60 dB, where the envelope ratio
    // would only measure noise.
    BandLanesOf activityTarget;
    for (std::size_t q = 0; q < quads; ++q)
        activityTarget[q] = smaller(1000.0f * highLevel[q], 1.0f);
    const BandLanesOf activity = activityLowpass.step(activityTarget, shared.lowpass10Hz);

    // The ratio of the louder to the quieter comb signal, mapped through tan(q - 1) without range
    // reduction: it rises from 0 at q = 1 without bound towards q = 1 + pi/2, and a ratio beyond
    // that gives a negative tangent, taken as 0, which collapses the band to mono. The tangent
    // counts only where q > 1 and only for the separated bands; the vector tangent gives each lane
    // the scalar result.
    BandLanesOf ratio;
    __m128 angles[quads], tangents[quads];
    for (std::size_t q = 0; q < quads; ++q) {
        ratio[q] = (activity[q] * highLevel[q]) / lowLevel[q];
        angles[q] = (ratio[q] - 1.0f).v;
    }
    crmath::tanQuads(angles, tangents, quads);
    BandLanesOf spread;
    for (std::size_t q = 0; q < quads; ++q) {
        const __m128i lane = _mm_setr_epi32(0, 1, 2, 3);
        const __m128i separated = _mm_cmplt_epi32(
            lane, _mm_set1_epi32(static_cast<int>(separatedBandCount) - 4 * static_cast<int>(q)));
        const __m128 counted =
            _mm_and_ps(_mm_castsi128_ps(separated), _mm_cmpgt_ps(ratio[q].v, _mm_set1_ps(1.0f)));
        // tangent < 0 ? 0 : tangent, NaN kept
        const __m128 kept = _mm_andnot_ps(_mm_cmplt_ps(tangents[q], _mm_setzero_ps()), tangents[q]);
        spread[q].v = _mm_and_ps(counted, kept);
    }
    const BandLanesOf separationRaw = separationLowpass.step(spread, shared.lowpass10Hz);

    // Not above 0 gives 0 (NaN included); otherwise not below 1.5 gives 1.5.
    SeparatedOutput out;
    for (std::size_t q = 0; q < quads; ++q)
        out.meter[q] = smaller(larger(separationRaw[q], 0.0f), meterMaximum);
    const BandLanesOf separation = separationSmoother.lowpass(out.meter, shared.lowpass30Hz);
    BandLanesOf widthTarget;
    for (std::size_t q = 0; q < quads; ++q) {
        // deficit = separation < 1.5 ? 1.5 - separation : 0, as a mask on the difference.
        const Quad shortfall = meterMaximum - separation[q];
        const Quad below = {_mm_cmplt_ps(separation[q].v, _mm_set1_ps(meterMaximum))};
        const Quad deficit = {_mm_and_ps(below.v, shortfall.v)};
        widthTarget[q] = 1.0f + 0.414f * deficit;
    }
    const BandLanesOf widthGain = widthGainSmoother.lowpass(widthTarget, shared.lowpass30Hz);

    // Gate and normaliser act 132 samples after the level detector saw the signal; width and
    // separation act 2048 samples after the separation detector saw it.
    BandLanesOf sideIn;
    BandLanesOf midIn;
    for (std::size_t q = 0; q < quads; ++q) {
        const Quad ringGain = polarityGain[q] * levelled.gate[q];
        sideIn[q] = (ringGain * (levelled.plusDelayed[q] - levelled.minusDelayed[q])) /
                    levelled.normaliser[q];
        midIn[q] = (ringGain * (levelled.plusDelayed[q] + levelled.minusDelayed[q])) /
                   levelled.normaliser[q];
    }
    sideRing.write(ringIndex, sideIn);
    midRing.write(ringIndex, midIn);
    const BandLanesOf& side = sideRing.read(ringIndex, widthLookAhead);
    const BandLanesOf& mid = midRing.read(ringIndex, widthLookAhead);
    for (std::size_t q = 0; q < quads; ++q) {
        out.mid[q] = widthGain[q] * mid[q];
        out.side[q] = (widthGain[q] * separation[q]) * side[q];
    }
    return out;
}

BandLanes::MonoLanes BandLanes::monoOut(std::uint32_t ringIndex) {
    // The 30 Hz lowpass of a constant 1: the same fade-in after a reset as a separated band's
    // width gain, settling at unity.
    const MonoLanes widthGain = fadeIn.lowpass(allLanes<1>(1.0f), shared.lowpass30Hz);
    return {widthGain[0] * midRing.read(ringIndex, monoLookAhead)[monoQuad]};
}
