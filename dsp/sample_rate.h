// The sample-rate constants every stage derives its coefficients from.
#pragma once

#include <climits>
#include <cmath>

#include "dsp/math/correctly_rounded.h"
#include "dsp/target.h"

inline namespace ZELKO_TARGET_NAMESPACE {

// The rate every processor starts at, before a host names one.
inline constexpr int startingRate = 44100;

// A host's rate as the processor's integer rate: truncated toward zero, and saturated first so
// that no rate a host can send makes the conversion undefined. A rate that is not finite names
// no rate at all and gives the starting rate.
inline int integerRate(double hostRate) {
    if (!std::isfinite(hostRate)) return startingRate;
    if (hostRate >= 2147483648.0) return INT_MAX;
    if (hostRate <= -2147483648.0) return INT_MIN;
    return static_cast<int>(hostRate);
}

}  // namespace ZELKO_TARGET_NAMESPACE

// The band processor's interface (dsp/bands.h) takes a SampleRate, so it is the same type in the
// code of every instruction set (dsp/target.h). Its functions are always inlined, so that no unit
// emits a copy of them that another could pick up.
#define ZELKO_SAMPLE_RATE_FUNCTION [[gnu::always_inline]] inline

struct SampleRate {
    float fs = 1.0f;        // the clamped rate, 1 ... 192000 Hz
    float T = 1.0f;         // 1 / fs
    float piOverFs = 0.0f;  // pi / fs, the prewarping factor
    // Highest frequency that may enter a prewarping tangent. Below 44100 Hz the 22000 Hz edges and
    // cutoffs would reach half the rate, where tan() turns huge or negative and the sections
    // become unstable; there every tuned frequency is limited to the place that 22000 Hz has at
    // 44100 Hz. At 44100 Hz and above nothing is limited.
    float tuningLimit = INFINITY;

    ZELKO_SAMPLE_RATE_FUNCTION static SampleRate fromHz(int sampleRate) {
        SampleRate r;
        float fs = static_cast<float>(sampleRate);
        if (!(fs > 1.0f)) {
            fs = 1.0f;
        } else if (!(fs < 192000.0f)) {
            fs = 192000.0f;
        }
        r.fs = fs;
        r.T = 1.0f / fs;
        r.piOverFs = 3.1415927f * r.T;
        r.tuningLimit = fs < 44100.0f ? fs * 22000.0f / 44100.0f : INFINITY;
        return r;
    }

    ZELKO_SAMPLE_RATE_FUNCTION float tunable(float hz) const {
        return hz < tuningLimit ? hz : tuningLimit;
    }

    // k = 1 / tan(pi f / fs), the bilinear prewarping constant of a section tuned to f Hz.
    ZELKO_SAMPLE_RATE_FUNCTION float prewarp(float hz) const {
        return prewarpOf(prewarpArgument(hz));
    }
    // The same in two steps, for a cutoff that moves: the tangent's argument pi f / fs, and k
    // from it.
    ZELKO_SAMPLE_RATE_FUNCTION float prewarpArgument(float hz) const {
        return piOverFs * tunable(hz);
    }
    ZELKO_SAMPLE_RATE_FUNCTION static float prewarpOf(float argument) {
        return 1.0f / crmath::tan(argument);
    }

    // The one-pole coefficient exp(-k / fs) of the time constant 1/k seconds.
    ZELKO_SAMPLE_RATE_FUNCTION float pole(float k) const { return crmath::exp(-k * T); }
};

#undef ZELKO_SAMPLE_RATE_FUNCTION
