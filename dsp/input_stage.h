// Input stage: band-limiting and look-ahead level normalisation of the single input channel.
//
//   e[n]   = lowpass^2(highpass^2(in[n]))       three elliptic sections per pass, two passes each
//   old    = e[n - 221]                          from the 256-slot look-ahead ring
//   p      = max(|e[n]|, |old|)
//   env[n] = (1 - c) p + c env[n-1],  c = attack (2 ms) if p >= env[n-1], else release (0.5 s)
//   g      = max(env[n], -90 dB)                 the input divisor, handed on to noise reduction
//   u[n]   = old / g                             into the 128-slot normalised ring
//
// The envelope sees every sample 221 samples before that sample is divided by it, so a rise in
// level has already lifted the divisor (with the 2 ms attack) when the rising samples arrive.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "dsp/delay_ring.h"
#include "dsp/level_floor.h"
#include "dsp/sample_rate.h"
#include "dsp/sections.h"

// Sixth-order elliptic highpass at 40 Hz and lowpass at "Lowpass Filter", each as three
// sections (b2 s^2 + b0) / (s^2 + a1' s + a0'), run in this order.
inline constexpr EllipticPrototype inputHighpassPrototypes[3] = {
    {0.0017661728f, 0.0004076782f, 3.1897273f, 4.0767817f},
    {11.0520525f, 1.4500711f, 0.74313045f, 1.4500711f},
    {50.06381f, 0.9351402f, 0.15748216f, 0.9351402f},
};
inline constexpr EllipticPrototype inputLowpassPrototypes[3] = {
    {0.0001f, 0.0004332272f, 0.78241307f, 0.2452915f},
    {1.0f, 7.6217313f, 0.51247865f, 0.6896214f},
    {1.0f, 53.53615f, 0.16840488f, 1.0693583f},
};

inline constexpr float inputHighpassHz = 40.0f;

// Samples by which the envelope runs ahead of the sample it divides.
inline constexpr std::uint32_t inputLookAhead = 221;

// Largest input magnitude let into the chain: +120 dB over full scale, far beyond any real
// signal, yet small enough that nothing downstream overflows. The largest intermediate values
// of the chain arise in the 40 Hz input sections at 192 kHz, where the numerator product B0 w
// reaches about 3e12 times the input, and in the band detectors, which square band signals of
// about the input's size; at 1e6 both stay below 1e19, far from the float limit of 3.4e38. An
// unbounded input (up to 3.4e38) would overflow the first section to infinity and leave NaN in
// its history, which no later silence could clear. The price of a high limit is recovery time:
// after a burst at the limit the envelope needs about 7 s of its 0.5 s release to come back
// down to full scale, and until then the detector of the noise reduction sees a quiet signal.
inline constexpr float inputLimit = 1.0e6f;

// The sample as the chain reads it: NaN and infinities as silence, finite values held to
// +-inputLimit. Every real signal passes unchanged.
inline float admitInputSample(float in) {
    const float finite = std::fabs(in) <= std::numeric_limits<float>::max() ? in : 0.0f;
    return finite < -inputLimit ? -inputLimit : (finite > inputLimit ? inputLimit : finite);
}

struct InputStageConstants {
    EllipticCoefficients highpass[3] = {};
    float envelopeAttack = 0.0f;  // exp(-500 T), 2 ms
    float envelopeAttackComplement = 0.0f;
    float envelopeRelease = 0.0f;  // activityPoleSlow, exp(-2 T), 0.5 s
    float envelopeReleaseComplement = 0.0f;

    static InputStageConstants at(const SampleRate& rate);

    friend bool operator==(const InputStageConstants&, const InputStageConstants&) = default;
};

struct InputStage {
    EllipticSection<> highpass[6];
    EllipticSection<> lowpass[6];
    DelayRing<256> lookAheadRing;  // the filtered input e
    float envelope = 0.0f;
    DelayRing<128> normalisedRing;  // u, read by the noise reduction

    void reset() { *this = {}; }

    // Runs one input sample through the stage, writes u[n] into the normalised ring and returns
    // the input divisor g of this sample.
    float step(float in, std::uint32_t ringIndex, const InputStageConstants& c,
               const EllipticCoefficients (&lowpassCoefficients)[3]) {
        float e = in;
        filter(1, &e, c, lowpassCoefficients);
        return level(e, ringIndex, c);
    }

    // Replaces `count` input samples by their filtered e[n]: the first half of `step` for a run
    // of samples. The six highpass sections run over the whole run, then the six lowpass
    // sections: in each loop a sample's six recursions depend on the previous sample's only
    // through their own state, so consecutive samples overlap, which the whole chain of one
    // sample at a time is too long to allow. Every sample sees the same operations.
    void filter(int count, float* signal, const InputStageConstants& c,
                const EllipticCoefficients (&lowpassCoefficients)[3]) {
        for (int i = 0; i < count; ++i) signal[i] = admitInputSample(signal[i]);
#ifdef ZELKO_HAVE_SSE2
        runPipeline(c.highpass, lowpassCoefficients, count, signal);
#else
        runCascade(highpass, c.highpass, count, signal);
        runCascade(lowpass, lowpassCoefficients, count, signal);
#endif
    }

    // The second half of `step` for one filtered sample e[n]: writes u[n] and returns g.
    float level(float e, std::uint32_t ringIndex, const InputStageConstants& c) {
        lookAheadRing.write(ringIndex, e);
        const float old = lookAheadRing.read(ringIndex, inputLookAhead);

        const float magnitude = std::fabs(e);
        const float oldMagnitude = std::fabs(old);
        const float peak = magnitude > oldMagnitude ? magnitude : oldMagnitude;
        // A peak equal to the envelope counts as rising: the attack holds a steady peak level.
        const bool rising = peak >= envelope;
        const float coefficient = rising ? c.envelopeAttack : c.envelopeRelease;
        const float complement = rising ? c.envelopeAttackComplement : c.envelopeReleaseComplement;
        envelope = complement * peak + coefficient * envelope;

        const float divisor = envelope > floorMinus90dB ? envelope : floorMinus90dB;
        normalisedRing.write(ringIndex, old / divisor);
        return divisor;
    }

  private:
#ifdef ZELKO_HAVE_SSE2
    // The twelve sections as a pipeline across the lanes of three SSE2 vectors: section j sits in
    // lane j % 4 of vector j / 4 and at step t works on sample t - j, the sample section j - 1
    // finished in the step before. So within a step no section waits for another, and a step is
    // a few vector operations instead of a chain of twelve sections. The run fills the pipeline
    // in its first eleven steps and drains it in its last eleven; a section whose sample lies
    // outside the run keeps its state, so every section still sees exactly the run's samples in
    // order, with the same operations as one at a time.
    void runPipeline(const EllipticCoefficients (&high)[3], const EllipticCoefficients (&low)[3],
                     int count, float* signal) {
        constexpr int sections = 12;
        constexpr int vectors = sections / 4;
        alignas(16) float laneValues[7][sections];
        for (int j = 0; j < sections; ++j) {
            const EllipticCoefficients& k = j < 6 ? high[j % 3] : low[j % 3];
            const EllipticSection<>& state = j < 6 ? highpass[j] : lowpass[j - 6];
            laneValues[0][j] = k.a1;
            laneValues[1][j] = k.a2;
            laneValues[2][j] = k.invA0;
            laneValues[3][j] = k.b0;
            laneValues[4][j] = k.b1;
            laneValues[5][j] = state.w1;
            laneValues[6][j] = state.w2;
        }
        __m128 a1[vectors], a2[vectors], invA0[vectors], b0[vectors], b1[vectors];
        __m128 w1[vectors], w2[vectors], out[vectors];
        __m128i section[vectors];
        for (int v = 0; v < vectors; ++v) {
            a1[v] = _mm_load_ps(laneValues[0] + 4 * v);
            a2[v] = _mm_load_ps(laneValues[1] + 4 * v);
            invA0[v] = _mm_load_ps(laneValues[2] + 4 * v);
            b0[v] = _mm_load_ps(laneValues[3] + 4 * v);
            b1[v] = _mm_load_ps(laneValues[4] + 4 * v);
            w1[v] = _mm_load_ps(laneValues[5] + 4 * v);
            w2[v] = _mm_load_ps(laneValues[6] + 4 * v);
            out[v] = _mm_setzero_ps();
            section[v] = _mm_setr_epi32(4 * v, 4 * v + 1, 4 * v + 2, 4 * v + 3);
        }
        for (int t = 0; t < count + sections - 1; ++t) {
            // Section j works at this step where 0 <= t - j < count.
            const __m128i step = _mm_set1_epi32(t);
            const __m128i last = _mm_set1_epi32(t - count);
            __m128 carry = _mm_set_ss(t < count ? signal[t] : 0.0f);
            for (int v = 0; v < vectors; ++v) {
                const __m128 moved = _mm_shuffle_ps(out[v], out[v], _MM_SHUFFLE(2, 1, 0, 3));
                const __m128 in = _mm_move_ss(moved, carry);
                carry = moved;
                const __m128 w = _mm_sub_ps(
                    in, _mm_mul_ps(_mm_add_ps(_mm_mul_ps(a1[v], w1[v]), _mm_mul_ps(a2[v], w2[v])),
                                   invA0[v]));
                out[v] = _mm_mul_ps(
                    _mm_add_ps(_mm_mul_ps(b0[v], _mm_add_ps(w, w2[v])), _mm_mul_ps(b1[v], w1[v])),
                    invA0[v]);
                const __m128 working = _mm_castsi128_ps(_mm_andnot_si128(
                    _mm_cmpgt_epi32(section[v], step), _mm_cmpgt_epi32(section[v], last)));
                w2[v] = _mm_or_ps(_mm_and_ps(working, w1[v]), _mm_andnot_ps(working, w2[v]));
                w1[v] = _mm_or_ps(_mm_and_ps(working, w), _mm_andnot_ps(working, w1[v]));
            }
            if (t >= sections - 1) {
                const __m128 top = out[vectors - 1];
                signal[t - (sections - 1)] =
                    _mm_cvtss_f32(_mm_shuffle_ps(top, top, _MM_SHUFFLE(3, 3, 3, 3)));
            }
        }
        for (int v = 0; v < vectors; ++v) {
            _mm_store_ps(laneValues[5] + 4 * v, w1[v]);
            _mm_store_ps(laneValues[6] + 4 * v, w2[v]);
        }
        for (int j = 0; j < sections; ++j) {
            EllipticSection<>& state = j < 6 ? highpass[j] : lowpass[j - 6];
            state.w1 = laneValues[5][j];
            state.w2 = laneValues[6][j];
        }
    }
#endif

    // Two passes of three sections, on local copies of their state so that the recursions stay
    // in registers rather than in memory the signal might alias.
    static void runCascade(EllipticSection<> (&sections)[6], const EllipticCoefficients (&c)[3],
                           int count, float* signal) {
        EllipticSection<> s[6];
        for (int j = 0; j < 6; ++j) s[j] = sections[j];
        for (int i = 0; i < count; ++i) {
            float e = signal[i];
            for (int pass = 0; pass < 2; ++pass) {
                for (int k = 0; k < 3; ++k) e = s[3 * pass + k].step(e, c[k]);
            }
            signal[i] = e;
        }
        for (int j = 0; j < 6; ++j) sections[j] = s[j];
    }
};
