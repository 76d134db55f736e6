// Dynamic noise reduction: a lowpass whose cutoff follows the signal's level above 1 kHz.
//
//   h[n]  = (k (u[n] - u[n-1]) - (1 - k) h[n-1]) / (1 + k)     1 kHz highpass of the newest u
//   r[n]  = max(|h[n]|, 1e-5)
//   L     = Butterworth lowpass 100 Hz (Butterworth lowpass 10 Hz (r))
//   f2    = 50000 L held to 1000 ... 22000 Hz, or 22000 when disabled     -> "DNR2 Bandwidth"
//   f1    = 65000 L held likewise                                        -> "DNR Bandwidth"
//   y[n]  = (u[n-125] + u[n-126] + (kd - 1) y[n-1]) / (kd + 1),  kd = 1 / tan(pi f1 / fs)
//   x[n]  = y[n] g                                               `dnrOutput`, level restored
//
// The detector looks at the newest normalised sample while the lowpass filters the one 125
// samples older, so the cutoff has opened by the time a high-frequency onset reaches the filter.
// f2 is not used here: its prewarped k2 is handed on to the output lowpass.
#pragma once

#include <cmath>
#include <cstdint>

#include "dsp/band_path.h"
#include "dsp/delay_ring.h"
#include "dsp/lanes.h"
#include "dsp/meter_limits.h"
#include "dsp/sample_rate.h"
#include "dsp/sections.h"
#ifdef ZELKO_HAVE_SSE2
#include "dsp/math/correctly_rounded_avx2.h"
#endif

// Samples by which the noise-reduction lowpass trails its detector.
inline constexpr std::uint32_t noiseReductionLookAhead = 125;

inline constexpr float detectorHighpassHz = 1000.0f;
inline constexpr float detectorSlowHz = 10.0f;
inline constexpr float detectorFastHz = 100.0f;
inline constexpr float rectifierFloor = 1e-5f;

// Above this rate the detector runs in double precision. At 10 Hz and rates from about 128.7 kHz
// up, k^2 of the 10 Hz section is so large that the single-precision a0, a1 and a2 no longer sum
// to the small positive value a stable section needs (4, in exact arithmetic): a pole leaves the
// unit circle and on silence the level runs away, opening both cutoffs to 22000 Hz for good.
// Every rate up to this one keeps the single-precision formulas bit for bit.
inline constexpr float highestSinglePrecisionDetectorRate = 96000.0f;

struct NoiseReductionConstants {
    // 1 kHz highpass: k and the values derived from it.
    float highpassK = 0.0f;
    float highpassOneMinusK = 0.0f;
    float highpassInvOnePlusK = 0.0f;
    float highpassGain = 0.0f;  // -k / (1 + k)

    ButterworthCoefficients<> detectorSlow;  // 10 Hz
    ButterworthCoefficients<> detectorFast;  // 100 Hz
    // The raw sum of the 100 Hz section times these gives the cutoffs in Hz: 50000 L and 65000 L.
    float dnr2Scale = 0.0f;
    float dnrScale = 0.0f;

    // The detector in double precision, used instead of the above at rates where single
    // precision fails.
    bool preciseDetector = false;
    ButterworthCoefficients<double> preciseDetectorSlow;
    ButterworthCoefficients<double> preciseDetectorFast;
    double preciseDnr2Scale = 0.0;
    double preciseDnrScale = 0.0;

    static NoiseReductionConstants at(const SampleRate& rate);

    friend bool operator==(const NoiseReductionConstants&,
                           const NoiseReductionConstants&) = default;
};

// k = SampleRate::prewarpOf(argument[i]) of `count` (at most maxPrewarpRun) moving cutoffs at
// once: four tangents at a time with SSE2, eight with AVX2 where the processor's path uses it,
// each lane with the bits of the scalar function, and the reciprocal as a division in each lane.
inline constexpr int maxPrewarpRun = 32;

inline void prewarpRun(const float* argument, float* k, int count, [[maybe_unused]] BandPath path) {
#ifdef ZELKO_HAVE_SSE2
    constexpr int maxQuads = maxPrewarpRun / 4;
    alignas(16) float padded[maxPrewarpRun];
    __m128 x[maxQuads] = {};
    __m128 t[maxQuads];
    const int quads = (count + 3) / 4;
    for (int i = 0; i < 4 * quads; ++i) padded[i] = i < count ? argument[i] : 0.5f;
    for (int q = 0; q < quads; ++q) x[q] = _mm_load_ps(padded + 4 * q);
    crmath::tanQuads(x, t, static_cast<std::size_t>(quads), usesAvx2(path));
    for (int q = 0; q < quads; ++q)
        _mm_store_ps(padded + 4 * q, _mm_div_ps(_mm_set1_ps(1.0f), t[q]));
    for (int i = 0; i < count; ++i) k[i] = padded[i];
#else
    for (int i = 0; i < count; ++i) k[i] = SampleRate::prewarpOf(argument[i]);
#endif
}

// The detector's two cutoffs of one sample, in Hz, clamped.
struct NoiseReductionCutoffs {
    float dnr2 = lowestCutoffHz;
    float dnr = lowestCutoffHz;
};

// What a run of noise reduction hands on, sample by sample: x[n] for the decorrelator and the
// bands, and the prewarped DNR2 cutoff for the output lowpass. The arrays are the run's output,
// written before they are read; they are left uninitialised so that no run pays for clearing them.
struct NoiseReductionRun {
    float dnrOutput[maxPrewarpRun];  // x[n], level restored
    float k2[maxPrewarpRun];         // 1 / tan(pi f2 / fs)
    float k2PlusOne[maxPrewarpRun];
    NoiseReductionCutoffs last;  // of the run's last sample, for the meters
};

struct NoiseReduction {
    float highpassOutput = 0.0f;  // h[n-1]
    ButterworthSection<> detectorSlow;
    ButterworthSection<> detectorFast;
    ButterworthSection<double> preciseDetectorSlow;
    ButterworthSection<double> preciseDetectorFast;
    float lowpassOutput = 0.0f;  // y[n-1], before the level is restored

    void reset() { *this = {}; }

    // A run of `count` (1 ... maxPrewarpRun) samples, the first at `ringIndex`. The input
    // stage's level normaliser and this detector alternate sample by sample: `normalise(i, n)`
    // writes u of sample i (ring position n) into `normalisedRing` and returns its divisor g,
    // and the detector reads it at once, because the ring is short enough that the lowpass's
    // read 126 samples back would be overwritten if the normaliser ran ahead. The tangents of
    // the moving cutoffs are then taken for the whole run at once, and the lowpass follows.
    // `precise` must equal `c.preciseDetector`; `path` is the processor's instruction set.
    template <bool precise, class Normalise>
    void run(int count, Normalise&& normalise, const DelayRing<128>& normalisedRing,
             std::uint32_t ringIndex, float disableCutoff, const NoiseReductionConstants& c,
             const SampleRate& rate, BandPath path, NoiseReductionRun& out) {
        float divisor[maxPrewarpRun];
        float delayed[maxPrewarpRun];
        float delayedBefore[maxPrewarpRun];
        float dnr2Argument[maxPrewarpRun] = {};
        float dnrArgument[maxPrewarpRun] = {};
        for (int i = 0; i < count; ++i) {
            const std::uint32_t n = ringIndex + static_cast<std::uint32_t>(i);
            divisor[i] = normalise(i, n);
            out.last = detect<precise>(normalisedRing, n, disableCutoff, c);
            dnr2Argument[i] = rate.prewarpArgument(out.last.dnr2);
            dnrArgument[i] = rate.prewarpArgument(out.last.dnr);
            delayed[i] = normalisedRing.read(n, noiseReductionLookAhead);
            delayedBefore[i] = normalisedRing.read(n, noiseReductionLookAhead + 1);
        }
        float kd[maxPrewarpRun];
        prewarpRun(dnr2Argument, out.k2, count, path);
        prewarpRun(dnrArgument, kd, count, path);
        for (int i = 0; i < count; ++i) {
            out.k2PlusOne[i] = out.k2[i] + 1.0f;
            out.dnrOutput[i] = lowpass(delayed[i], delayedBefore[i], kd[i]) * divisor[i];
        }
    }

    // The detector of one sample, after u[n] has been written at `ringIndex`.
    template <bool precise>
    NoiseReductionCutoffs detect(const DelayRing<128>& normalisedRing, std::uint32_t ringIndex,
                                 float disableCutoff, const NoiseReductionConstants& c) {
        const float u = normalisedRing.read(ringIndex, 0);
        const float u1 = normalisedRing.read(ringIndex, 1);
        const float h =
            (c.highpassK * (u - u1) - c.highpassOneMinusK * highpassOutput) * c.highpassInvOnePlusK;
        highpassOutput = h;
        const float magnitude = std::fabs(h);
        const float rectified = magnitude < rectifierFloor ? rectifierFloor : magnitude;

        float dnr2 = 0.0f;
        float dnr = 0.0f;
        if constexpr (precise) {
            const double slow = preciseDetectorSlow.lowpassSum(rectified, c.preciseDetectorSlow) *
                                c.preciseDetectorSlow.invA0;
            const double rawSum = preciseDetectorFast.lowpassSum(slow, c.preciseDetectorFast);
            dnr2 = static_cast<float>(rawSum * c.preciseDnr2Scale);
            dnr = static_cast<float>(rawSum * c.preciseDnrScale);
        } else {
            const float slow = detectorSlow.lowpass(rectified, c.detectorSlow);
            const float rawSum = detectorFast.lowpassSum(slow, c.detectorFast);
            dnr2 = rawSum * c.dnr2Scale;
            dnr = rawSum * c.dnrScale;
        }

        // The clamps run in this order; the disable cutoff wins over the detector, and the DNR2
        // cutoff is held to the range once more after it.
        if (!(dnr2 < highestCutoffHz)) dnr2 = highestCutoffHz;
        if (!(dnr2 > lowestCutoffHz)) dnr2 = lowestCutoffHz;
        if (!(disableCutoff < dnr2)) dnr2 = disableCutoff;
        if (!(dnr2 < highestCutoffHz)) dnr2 = highestCutoffHz;
        if (!(dnr2 > lowestCutoffHz)) dnr2 = lowestCutoffHz;

        if (!(dnr < highestCutoffHz)) dnr = highestCutoffHz;
        if (!(dnr > lowestCutoffHz)) dnr = lowestCutoffHz;
        if (!(disableCutoff < dnr)) dnr = disableCutoff;
        return {dnr2, dnr};
    }

    // The lowpass of the sample 125 samples older (`delayed`, and `delayedBefore` one older
    // still) at kd, the prewarped DNR cutoff: y[n], before the level is restored.
    float lowpass(float delayed, float delayedBefore, float kd) {
        const float y = (delayed + delayedBefore + (kd - 1.0f) * lowpassOutput) / (kd + 1.0f);
        lowpassOutput = y;
        return y;
    }
};
