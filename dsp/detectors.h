// Small per-sample building blocks of the band detectors.
//
// Each primitive is a value type: plain float state that value-initialises to silence, a
// `reset()`, and one `step()` that takes the next input and returns the next output. Poles and
// tunings live in separate constant structs computed once per sample rate. Everything is inline
// float arithmetic in the written order, since the bands run these several hundred times per
// sample and their results must be reproducible bit for bit.
#pragma once

#include <cmath>
#include <cstdint>

#include "dsp/delay_ring.h"
#include "dsp/sample_rate.h"

// The level floor of the whole chain, -90 dB: no divisor and no square-root argument goes
// below it.
inline constexpr float floorMinus90dB = 3.1622778e-5f;

// A one-pole coefficient p = exp(-k / fs) stored with its complement, so that every smoother
// multiplies by the same two rounded values.
struct Pole {
    float p = 0.0f;
    float complement = 1.0f;  // 1 - p

    static Pole at(const SampleRate& rate, float k) {
        Pole pole;
        pole.p = rate.pole(k);
        pole.complement = 1.0f - pole.p;
        return pole;
    }
};

// Second-order allpass in z^-2: H(z) = (a - z^-2) / (1 - a z^-2).
//   y[n] = a (x[n] + y[n-2]) - x[n-2]
// Its state is the last two inputs and outputs.
struct AllpassSection {
    float x1 = 0.0f;
    float x2 = 0.0f;
    float y1 = 0.0f;
    float y2 = 0.0f;

    void reset() { *this = {}; }

    float step(float x, float a) {
        const float y = a * (x + y2) - x2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        return y;
    }
};

// Envelope of a real signal through a 90-degree phase-difference network: two allpass chains
// whose outputs stay in quadrature (90 +- 13.3 degrees) from 20 Hz to 22030 Hz at 44100 Hz, so
// that A^2 + B^2 tracks the squared amplitude with little ripple. Chain A's output is taken one
// sample late; that sample is part of the network's phase design. The squared sum is floored at
// -90 dB before the root, so the magnitude never falls below 0.0056234 (-45 dB) and the
// normalisers that divide by it stay bounded.
struct AnalyticMagnitude {
    static constexpr float chainACoefficients[4] = {0.6923878f, 0.93606544f, 0.9882295f,
                                                    0.99874884f};
    static constexpr float chainBCoefficients[4] = {0.40219212f, 0.8561711f, 0.97229093f,
                                                    0.9952885f};

    AllpassSection chainA[4];
    AllpassSection chainB[4];
    float chainADelayed = 0.0f;  // A[n-1]

    void reset() { *this = {}; }

    float step(float x) {
        float a = x;
        for (int i = 0; i < 4; ++i) a = chainA[i].step(a, chainACoefficients[i]);
        float b = x;
        for (int i = 0; i < 4; ++i) b = chainB[i].step(b, chainBCoefficients[i]);
        const float power = chainADelayed * chainADelayed + b * b;
        chainADelayed = a;
        return std::sqrt(power > floorMinus90dB ? power : floorMinus90dB);
    }
};

// Maximum of the 44 newest values: this sample's and the 43 before it. The values live in a
// 64-slot ring on the shared counter; the 20 oldest slots are written but never read, which keeps
// the window a fixed, branch-free scan instead of a running-maximum structure.
//
// The scan runs as four interleaved maxima, so that it is not one chain of 44 dependent
// comparisons; the values are levels (never negative), whose maximum does not depend on the
// order in which they are compared.
struct SlidingWindowMaximum {
    static constexpr std::uint32_t window = 44;
    static constexpr std::uint32_t lanes = 4;
    static_assert(window % lanes == 0);

    DelayRing<64> ring;

    void reset() { ring.clear(); }

    float step(float v, std::uint32_t ringIndex) {
        ring.write(ringIndex, v);
        float lane[lanes];
        for (std::uint32_t k = 0; k < lanes; ++k) lane[k] = ring.read(ringIndex, k);
        for (std::uint32_t j = lanes; j < window; j += lanes) {
            for (std::uint32_t k = 0; k < lanes; ++k) {
                const float slot = ring.read(ringIndex, j + k);
                lane[k] = slot > lane[k] ? slot : lane[k];
            }
        }
        const float low = lane[1] > lane[0] ? lane[1] : lane[0];
        const float high = lane[3] > lane[2] ? lane[3] : lane[2];
        return high > low ? high : low;
    }
};

// Parameters of an adaptive follower: base release time tau0 in seconds, the pole of its
// activity measure and the pole of its output smoother.
struct AdaptiveFollowerConstants {
    float tau0 = 1.0f;
    Pole activity;
    Pole smoothing;
};

// Peak follower whose release time lengthens while the input keeps rising above its own output.
//   rising = (v - y) > 0                         the input is above the smoothed output
//   h      = max(rising, p_h h + (1 - p_h) rising)  activity: instant on, decays with p_h
//   tau    = tau0 + max(2 (h - 0.5), 0)          release time, tau0 ... tau0 + 1 s
//   p      = exp(-T / tau)
//   e      = max(v, p e + (1 - p) v)             instant attack, release with tau
//   y      = p_s y + (1 - p_s) e                 output
// The release pole is recomputed every sample because tau moves with the activity.
struct AdaptiveFollower {
    float activity = 0.0f;  // h
    float envelope = 0.0f;  // e
    float output = 0.0f;    // y

    void reset() { *this = {}; }

    float step(float v, const AdaptiveFollowerConstants& c, float periodT) {
        const float rising = (v - output) > 0.0f ? 1.0f : 0.0f;
        const float decayed = c.activity.p * activity + c.activity.complement * rising;
        activity = rising > decayed ? rising : decayed;
        const float lengthening = 2.0f * (activity - 0.5f);
        const float tau = c.tau0 + (lengthening > 0.0f ? lengthening : 0.0f);
        const float p = crmath::exp(-periodT / tau);
        const float released = p * envelope + (1.0f - p) * v;
        envelope = v > released ? v : released;
        output = c.smoothing.p * output + c.smoothing.complement * envelope;
        return output;
    }
};

// Instant attack, one-pole release: y = max(v, p y + (1 - p) v).
struct PeakHold {
    float output = 0.0f;

    void reset() { *this = {}; }

    float step(float v, const Pole& release) {
        const float released = release.p * output + release.complement * v;
        output = v > released ? v : released;
        return output;
    }
};

// y = p y + (1 - p) v.
struct OnePoleSmoother {
    float output = 0.0f;

    void reset() { *this = {}; }

    float step(float v, const Pole& pole) {
        output = pole.p * output + pole.complement * v;
        return output;
    }
};

// First-order bilinear lowpass prewarped to O = 1 / tan(pi f / fs), unity gain at DC:
//   y[n] = (v[n] + v[n-1] - (1 - O) y[n-1]) / (1 + O)
struct FirstOrderLowpassConstants {
    float oneMinusO = 0.0f;
    float onePlusO = 1.0f;

    static FirstOrderLowpassConstants at(const SampleRate& rate, float hz) {
        const float o = rate.prewarp(hz);
        return {1.0f - o, 1.0f + o};
    }
};

struct FirstOrderLowpass {
    float previousInput = 0.0f;
    float output = 0.0f;

    void reset() { *this = {}; }

    float step(float v, const FirstOrderLowpassConstants& c) {
        output = (v + previousInput - c.oneMinusO * output) / c.onePlusO;
        previousInput = v;
        return output;
    }
};
