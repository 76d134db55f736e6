// The twelve band blocks side by side: every stage runs for all bands in one loop over lanes.
//
// A band's arithmetic is one long chain of dependent float operations, so running the bands one
// after the other leaves the processor waiting on latency. Here each state variable holds one lane
// per band, twelve lanes in three SSE2 registers, and each stage is a short loop over those
// registers. Every lane performs exactly the operations of one band block run on its own (the
// tests keep that plain form as their reference), in the same order and with the same roundings, so
// the sums and meters are the same bit for bit as those of the bands run one at a time. Only the
// transcendental functions stay scalar: expf and tanf are called once per band where a band block
// calls them, since a vector approximation would change the output.
//
// Lanes follow the band table's running order: bands 12 to 3 in lanes 0 to 9, bands 2 and 1 in
// lanes 10 and 11.
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

#include <emmintrin.h>

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "dsp/band_constants.h"
#include "dsp/band_table.h"
#include "dsp/detectors.h"
#include "dsp/math/correctly_rounded_avx2.h"
#include "dsp/sample_rate.h"
#include "dsp/sections.h"

struct StereoSum {
    float left;
    float right;
};

// Position of a ladder offset in the gateScale ladder of the control-rate block: rung r holds
// offset 5 r (rung 0 is offset 0, rung 11 offset 55).
inline constexpr std::size_t gateRung(int ladderOffset) {
    return static_cast<std::size_t>(ladderOffset / 5);
}

// Four lanes of floats in one SSE register. Every operator is one SSE2 instruction that rounds
// each lane exactly as the scalar operation does (addps as addss, divps as divss, sqrtps as
// sqrtss), so an expression over quads gives every lane the bits of the same expression over
// floats, as long as it is written in the same order.
struct Quad {
    __m128 v{};

    static Quad all(float x) { return {_mm_set1_ps(x)}; }

    friend Quad operator+(Quad a, Quad b) { return {_mm_add_ps(a.v, b.v)}; }
    friend Quad operator-(Quad a, Quad b) { return {_mm_sub_ps(a.v, b.v)}; }
    friend Quad operator*(Quad a, Quad b) { return {_mm_mul_ps(a.v, b.v)}; }
    friend Quad operator/(Quad a, Quad b) { return {_mm_div_ps(a.v, b.v)}; }
    friend Quad operator+(float a, Quad b) { return all(a) + b; }
    friend Quad operator-(float a, Quad b) { return all(a) - b; }
    friend Quad operator-(Quad a, float b) { return a - all(b); }
    friend Quad operator*(float a, Quad b) { return all(a) * b; }
    friend Quad operator/(float a, Quad b) { return all(a) / b; }
    friend Quad operator/(Quad a, float b) { return a / all(b); }
};

// a > b ? a : b per lane. maxps returns its second operand wherever the comparison is false,
// NaN and equal zeros included, which is exactly the conditional's choice.
inline Quad larger(Quad a, Quad b) {
    return {_mm_max_ps(a.v, b.v)};
}
inline Quad larger(Quad a, float b) {
    return larger(a, Quad::all(b));
}
inline Quad larger(float a, Quad b) {
    return larger(Quad::all(a), b);
}
// a < b ? a : b per lane, likewise with minps.
inline Quad smaller(Quad a, Quad b) {
    return {_mm_min_ps(a.v, b.v)};
}
inline Quad smaller(Quad a, float b) {
    return smaller(a, Quad::all(b));
}

// a > 0 ? 1 : 0 per lane.
inline Quad oneWherePositive(Quad a) {
    return {_mm_and_ps(_mm_cmpgt_ps(a.v, _mm_setzero_ps()), _mm_set1_ps(1.0f))};
}

inline Quad squareRoot(Quad a) {
    return {_mm_sqrt_ps(a.v)};
}

// One float per lane, in quads.
template <std::size_t Q>
using Lanes = std::array<Quad, Q>;

template <std::size_t Q>
inline Lanes<Q> allLanes(float v) {
    Lanes<Q> r;
    for (Quad& q : r) q = Quad::all(v);
    return r;
}

// The lanes spread into plain floats, for the scalar calls and the serial sums.
template <std::size_t Q>
struct LaneFloats {
    alignas(16) float lane[4 * Q];

    explicit LaneFloats(const Lanes<Q>& lanes) {
        for (std::size_t q = 0; q < Q; ++q) _mm_store_ps(lane + 4 * q, lanes[q].v);
    }
    LaneFloats() : lane{} {}

    float operator[](std::size_t i) const { return lane[i]; }
    float& operator[](std::size_t i) { return lane[i]; }

    Lanes<Q> quads() const {
        Lanes<Q> r;
        for (std::size_t q = 0; q < Q; ++q) r[q].v = _mm_load_ps(lane + 4 * q);
        return r;
    }
};

// A one-pole coefficient per lane.
template <std::size_t Q>
struct PoleLanes {
    Lanes<Q> p;
    Lanes<Q> complement;
};

template <std::size_t Q>
struct ButterworthCoefficientLanes {
    Lanes<Q> a1;
    Lanes<Q> a2;
    Lanes<Q> invA0;
    Lanes<Q> kSquared;
};

// ButterworthSection per lane, tuned per lane or with one tuning for every lane.
template <std::size_t Q>
struct ButterworthLanes {
    Lanes<Q> w1;
    Lanes<Q> w2;

    Lanes<Q> highpass(const Lanes<Q>& in, const ButterworthCoefficientLanes<Q>& c) {
        Lanes<Q> out;
        for (std::size_t q = 0; q < Q; ++q) {
            const Quad w = in[q] - (c.a1[q] * w1[q] + c.a2[q] * w2[q]) * c.invA0[q];
            out[q] = (c.kSquared[q] * ((w - 2.0f * w1[q]) + w2[q])) * c.invA0[q];
            w2[q] = w1[q];
            w1[q] = w;
        }
        return out;
    }

    Lanes<Q> lowpass(const Lanes<Q>& in, const ButterworthCoefficientLanes<Q>& c) {
        Lanes<Q> out;
        for (std::size_t q = 0; q < Q; ++q) {
            const Quad w = in[q] - (c.a1[q] * w1[q] + c.a2[q] * w2[q]) * c.invA0[q];
            out[q] = ((w + 2.0f * w1[q]) + w2[q]) * c.invA0[q];
            w2[q] = w1[q];
            w1[q] = w;
        }
        return out;
    }

    Lanes<Q> lowpass(const Lanes<Q>& in, const ButterworthCoefficients& c) {
        Lanes<Q> out;
        for (std::size_t q = 0; q < Q; ++q) {
            const Quad w = in[q] - (c.a1 * w1[q] + c.a2 * w2[q]) * Quad::all(c.invA0);
            out[q] = ((w + 2.0f * w1[q]) + w2[q]) * Quad::all(c.invA0);
            w2[q] = w1[q];
            w1[q] = w;
        }
        return out;
    }
};

// BandFilter per lane: two highpass sections at lowEdge, two lowpass sections at highEdge.
template <std::size_t Q>
struct BandFilterLanes {
    ButterworthLanes<Q> highpass1;
    ButterworthLanes<Q> highpass2;
    ButterworthLanes<Q> lowpass1;
    ButterworthLanes<Q> lowpass2;

    Lanes<Q> step(const Lanes<Q>& in, const ButterworthCoefficientLanes<Q>& lowEdge,
                  const ButterworthCoefficientLanes<Q>& highEdge) {
        const Lanes<Q> h = highpass2.highpass(highpass1.highpass(in, lowEdge), lowEdge);
        return lowpass2.lowpass(lowpass1.lowpass(h, highEdge), highEdge);
    }
};

// AllpassSection per lane.
template <std::size_t Q>
struct AllpassLanes {
    Lanes<Q> x1;
    Lanes<Q> x2;
    Lanes<Q> y1;
    Lanes<Q> y2;

    Lanes<Q> step(const Lanes<Q>& x, float a) {
        Lanes<Q> y;
        for (std::size_t q = 0; q < Q; ++q) {
            y[q] = a * (x[q] + y2[q]) - x2[q];
            x2[q] = x1[q];
            x1[q] = x[q];
            y2[q] = y1[q];
            y1[q] = y[q];
        }
        return y;
    }
};

// AnalyticMagnitude per lane.
template <std::size_t Q>
struct AnalyticMagnitudeLanes {
    AllpassLanes<Q> chainA[4];
    AllpassLanes<Q> chainB[4];
    Lanes<Q> chainADelayed;  // A[n-1]

    Lanes<Q> step(const Lanes<Q>& x) {
        Lanes<Q> a = x;
        for (int s = 0; s < 4; ++s) a = chainA[s].step(a, AnalyticMagnitude::chainACoefficients[s]);
        Lanes<Q> b = x;
        for (int s = 0; s < 4; ++s) b = chainB[s].step(b, AnalyticMagnitude::chainBCoefficients[s]);
        Lanes<Q> magnitude;
        for (std::size_t q = 0; q < Q; ++q) {
            const Quad power = chainADelayed[q] * chainADelayed[q] + b[q] * b[q];
            magnitude[q] = squareRoot(larger(power, floorMinus90dB));
        }
        chainADelayed = a;
        return magnitude;
    }
};

// SlidingWindowMaximum per lane: the same four interleaved maxima over the same 44 slots.
template <std::size_t Q>
struct SlidingWindowMaximumLanes {
    static constexpr std::uint32_t window = SlidingWindowMaximum::window;
    static constexpr std::uint32_t interleave = SlidingWindowMaximum::lanes;
    static constexpr std::uint32_t mask = 63;

    Lanes<Q> ring[64];

    void clear() {
        for (Lanes<Q>& slot : ring) slot = {};
    }

    Lanes<Q> step(const Lanes<Q>& v, std::uint32_t ringIndex) {
        ring[ringIndex & mask] = v;
        Lanes<Q> out;
        for (std::size_t q = 0; q < Q; ++q) {
            Quad partial[interleave];
            for (std::uint32_t k = 0; k < interleave; ++k)
                partial[k] = ring[(ringIndex - k) & mask][q];
            for (std::uint32_t j = interleave; j < window; j += interleave) {
                for (std::uint32_t k = 0; k < interleave; ++k)
                    partial[k] = larger(ring[(ringIndex - (j + k)) & mask][q], partial[k]);
            }
            const Quad low = larger(partial[1], partial[0]);
            const Quad high = larger(partial[3], partial[2]);
            out[q] = larger(high, low);
        }
        return out;
    }
};

// AdaptiveFollower per lane. The release poles exp(-T / tau) come from the vector exp (AVX2 where
// present), each lane the scalar function's result; lanes from `bands` on keep p = 0. stepPair
// steps two followers with one call of the vector exp, whose latency the two then share.
template <std::size_t Q>
struct AdaptiveFollowerLanes {
    Lanes<Q> activity;  // h
    Lanes<Q> envelope;  // e
    Lanes<Q> output;    // y

    Lanes<Q> step(const Lanes<Q>& v, const AdaptiveFollowerConstants& c, float periodT,
                  std::size_t bands) {
        __m128 exponents[Q], poles[Q];
        exponentsOf(v, c, periodT, exponents);
        crmath::expQuads(exponents, poles, Q);
        return release(v, c, poles, bands);
    }

    static void stepPair(AdaptiveFollowerLanes& a, const Lanes<Q>& va,
                         const AdaptiveFollowerConstants& ca, AdaptiveFollowerLanes& b,
                         const Lanes<Q>& vb, const AdaptiveFollowerConstants& cb, float periodT,
                         std::size_t bands) {
        __m128 exponents[2 * Q], poles[2 * Q];
        a.exponentsOf(va, ca, periodT, exponents);
        b.exponentsOf(vb, cb, periodT, exponents + Q);
        crmath::expQuads(exponents, poles, 2 * Q);
        a.release(va, ca, poles, bands);
        b.release(vb, cb, poles + Q, bands);
    }

  private:
    void exponentsOf(const Lanes<Q>& v, const AdaptiveFollowerConstants& c, float periodT,
                     __m128* exponents) {
        for (std::size_t q = 0; q < Q; ++q) {
            const Quad rising = oneWherePositive(v[q] - output[q]);
            const Quad decayed = c.activity.p * activity[q] + c.activity.complement * rising;
            activity[q] = larger(rising, decayed);
            const Quad lengthening = 2.0f * (activity[q] - 0.5f);
            const Quad tau = c.tau0 + larger(lengthening, 0.0f);
            exponents[q] = (-periodT / tau).v;
        }
    }

    const Lanes<Q>& release(const Lanes<Q>& v, const AdaptiveFollowerConstants& c,
                            const __m128* poles, std::size_t bands) {
        for (std::size_t q = 0; q < Q; ++q) {
            const __m128i lane = _mm_setr_epi32(0, 1, 2, 3);
            const __m128i inBand = _mm_cmplt_epi32(
                lane, _mm_set1_epi32(static_cast<int>(bands) - 4 * static_cast<int>(q)));
            const Quad p = {_mm_and_ps(poles[q], _mm_castsi128_ps(inBand))};
            const Quad released = p * envelope[q] + (1.0f - p) * v[q];
            envelope[q] = larger(v[q], released);
            output[q] = c.smoothing.p * output[q] + c.smoothing.complement * envelope[q];
        }
        return output;
    }
};

// PeakHold per lane, with a release pole per lane or one for every lane.
template <std::size_t Q>
struct PeakHoldLanes {
    Lanes<Q> output;

    Lanes<Q> step(const Lanes<Q>& v, const PoleLanes<Q>& release) {
        for (std::size_t q = 0; q < Q; ++q) {
            const Quad released = release.p[q] * output[q] + release.complement[q] * v[q];
            output[q] = larger(v[q], released);
        }
        return output;
    }

    Lanes<Q> step(const Lanes<Q>& v, const Pole& release) {
        for (std::size_t q = 0; q < Q; ++q) {
            const Quad released = release.p * output[q] + release.complement * v[q];
            output[q] = larger(v[q], released);
        }
        return output;
    }
};

// OnePoleSmoother per lane.
template <std::size_t Q>
struct OnePoleSmootherLanes {
    Lanes<Q> output;

    Lanes<Q> step(const Lanes<Q>& v, const Pole& pole) {
        for (std::size_t q = 0; q < Q; ++q) output[q] = pole.p * output[q] + pole.complement * v[q];
        return output;
    }
};

// FirstOrderLowpass per lane.
template <std::size_t Q>
struct FirstOrderLowpassLanes {
    Lanes<Q> previousInput;
    Lanes<Q> output;

    Lanes<Q> step(const Lanes<Q>& v, const FirstOrderLowpassConstants& c) {
        for (std::size_t q = 0; q < Q; ++q) {
            output[q] = ((v[q] + previousInput[q]) - c.oneMinusO * output[q]) / c.onePlusO;
            previousInput[q] = v[q];
        }
        return output;
    }
};

// DelayRing per lane: slot-major, so one slot of every lane is one aligned row.
template <std::size_t N, std::size_t Q>
struct DelayRingLanes {
    static_assert(N > 0 && (N & (N - 1)) == 0, "ring sizes are powers of two");
    static constexpr std::uint32_t mask = static_cast<std::uint32_t>(N - 1);

    Lanes<Q> slots[N];

    void write(std::uint32_t ringIndex, const Lanes<Q>& v) { slots[ringIndex & mask] = v; }

    const Lanes<Q>& read(std::uint32_t ringIndex, std::uint32_t samplesBack) const {
        return slots[(ringIndex - samplesBack) & mask];
    }

    void clear() {
        for (Lanes<Q>& slot : slots) slot = {};
    }
};

class BandLanes {
  public:
    static constexpr std::size_t monoBandCount = bandCount - separatedBandCount;
    static constexpr std::uint32_t lookAhead = bandLevelLookAhead;
    static constexpr std::uint32_t widthLookAhead = bandWidthLookAhead;
    static constexpr std::uint32_t monoLookAhead = bandWidthLookAhead;
    static constexpr float meterMaximum = separationMaximum;

    void computeConstants(const SampleRate& rate);
    void clear();

    // Runs the bands on x = dnrOutput and d = combDelayed, with the block's autoEqFloor and
    // gateScale ladder (12 rungs, indexed by gateRung), stores each separated band's meter value
    // in `separation` (in running order: band 12 first, band 3 last) and returns leftSum and
    // rightSum, which add the band outputs in running order.
    StereoSum step(float x, float d, std::uint32_t ringIndex, float autoEqFloor,
                   const float* gateScale, float (&separation)[separatedBandCount]);

  private:
    // Twelve lanes in three quads. The separation stage runs on all three; its lanes 10 and 11
    // (the mono bands) are computed and discarded, which costs less than a lane group of its
    // own. The mono stage runs on the last quad, whose lanes 2 and 3 are bands 2 and 1.
    //
    // The mono bands have no ring of their own: lanes 10 and 11 of midRing hold
    // (ringGain (s+132 + s-132)) / N, which is exactly what a mono band writes to its ring, and a
    // mono band reads it back as many samples later as the width stage does.
    static constexpr std::size_t quads = 3;
    static constexpr std::size_t monoQuad = 2;
    static constexpr std::size_t firstMonoLaneInQuad = separatedBandCount - 4 * monoQuad;
    static_assert(4 * quads == bandCount && firstMonoLaneInQuad + monoBandCount == 4);
    static_assert(monoLookAhead == widthLookAhead);

    using BandLanesOf = Lanes<quads>;
    using MonoLanes = Lanes<1>;

    // What the leveller hands on: the band signals 132 samples late, and this sample's gate and
    // normaliser, which act on them.
    struct Levelled {
        BandLanesOf plusDelayed;   // s+132
        BandLanesOf minusDelayed;  // s-132
        BandLanesOf gate;          // g
        BandLanesOf normaliser;    // N
    };

    struct SeparatedOutput {
        BandLanesOf mid;    // bandMidOut, added to both sums
        BandLanesOf side;   // bandSideOut, added to the left sum and subtracted from the right
        BandLanesOf meter;  // separation clamped to [0, 1.5], for the band's meter
    };

    // Band filter, level detector, normaliser and gate: the part that every band runs.
    Levelled level(float combSum, float combDifference, std::uint32_t ringIndex, float autoEqFloor,
                   const float* gateScale);
    // Bands 12 to 3: separation detector and width.
    SeparatedOutput separate(const Levelled& levelled, std::uint32_t ringIndex);
    // Bands 2 and 1: bandMonoOut, the same signal for both sides.
    // Runs after `separate`, which has written this sample's ring input.
    MonoLanes monoOut(std::uint32_t ringIndex);

    // Constants.
    BandSharedConstants shared;
    ButterworthCoefficientLanes<quads> lowEdge;
    ButterworthCoefficientLanes<quads> highEdge;
    PoleLanes<quads> gateRelease;
    BandLanesOf bandGain;
    BandLanesOf polarityGain;
    std::size_t gateRungOf[bandCount] = {};

    // Leveller state, every band.
    BandFilterLanes<quads> plusFilter;
    BandFilterLanes<quads> minusFilter;
    DelayRingLanes<256, quads> plusRing;  // the bandRings
    DelayRingLanes<256, quads> minusRing;
    AnalyticMagnitudeLanes<quads> plusMagnitude;
    AnalyticMagnitudeLanes<quads> minusMagnitude;
    SlidingWindowMaximumLanes<quads> detectorWindow;
    AdaptiveFollowerLanes<quads> peakLevel;
    AdaptiveFollowerLanes<quads> averageLevel;
    PeakHoldLanes<quads> gateHold;
    OnePoleSmootherLanes<quads> gateSmoother;

    // Separation and width state of bands 12 to 3.
    AnalyticMagnitudeLanes<quads> plusEnvelopeMagnitude;
    AnalyticMagnitudeLanes<quads> minusEnvelopeMagnitude;
    AdaptiveFollowerLanes<quads> plusEnvelope;
    AdaptiveFollowerLanes<quads> minusEnvelope;
    PeakHoldLanes<quads> lowHold;
    OnePoleSmootherLanes<quads> lowSmoother;
    PeakHoldLanes<quads> highHold;
    OnePoleSmootherLanes<quads> highSmoother;
    FirstOrderLowpassLanes<quads> activityLowpass;
    FirstOrderLowpassLanes<quads> separationLowpass;
    ButterworthLanes<quads> separationSmoother;
    ButterworthLanes<quads> widthGainSmoother;
    DelayRingLanes<4096, quads> sideRing;
    DelayRingLanes<4096, quads> midRing;

    // Bands 2 and 1 (their delayed signal lives in midRing).
    ButterworthLanes<1> fadeIn;
};
