// Values derived from the five input controls once per block.
//
// Every function of a control (the prewarping tangent of the input lowpass, the powers of ten,
// the gate ladder) is evaluated here, before the sample loop, and holds for the whole block, so
// the per-sample path never touches a control field.
#pragma once

#include <cmath>

#include "dsp/level_floor.h"
#include "dsp/sample_rate.h"
#include "dsp/sections.h"

// What a control may hold: its initial value, its range and its step. The declarations, the reset
// and the block's range checks all read these.
struct ControlRange {
    float initial;
    float minimum;
    float maximum;
    float step;
};

// The one rule by which every value a host or a field holds is brought into a control's range:
// held to [minimum, maximum], and NaN reads as the minimum. The minimum rather than the default,
// because that is what a VST 2.4 slider has always stored for a host's NaN, and the block must
// read a field exactly as the parameter path would have left it.
inline float heldToRange(float value, float minimum, float maximum) {
    if (value < minimum || std::isnan(value)) return minimum;
    return value < maximum ? value : maximum;
}

inline constexpr ControlRange dnrLpfDisableRange = {0.0f, 0.0f, 1.0f, 1.0f};
inline constexpr ControlRange lowpassCutoffRange = {22000.0f, 1000.0f, 22000.0f, 100.0f};
inline constexpr ControlRange autoEqThresholdRange = {-60.0f, -90.0f, 0.0f, 1.0f};
inline constexpr ControlRange noisegateGainRange = {55.0f, 0.0f, 70.0f, 1.0f};
inline constexpr ControlRange outputAgcThresholdRange = {-6.0f, -12.0f, 3.0f, 1.0f};

// The five input controls as the parameter path left them at the start of the block.
struct ControlValues {
    float dnrLpfDisable;       // "DNR LPF Disable": on above 0.5
    float lowpassCutoff;       // "Lowpass Filter", Hz
    float autoEqThreshold;     // "Auto-EQ Threshold", dB
    float noisegateGain;       // "Noisegate Gain dB"
    float outputAgcThreshold;  // "Output AGC Threshold", dB
};

// Number of rungs of the gate ladder: offsets 0, 5, ..., 55, one per band.
inline constexpr int gateLadderRungs = 12;

struct ControlBlock {
    // Lower bound of both noise-reduction cutoffs: 22000 Hz opens them, 0 leaves them free.
    float disableCutoff = 0.0f;

    // Prewarping constant of the input lowpass and the three sections built from it.
    float lowpassK = 0.0f;
    EllipticCoefficients inputLowpass[3] = {};

    // Linear floor of every band's level detector.
    float autoEqFloor = 0.0f;

    // max(G - offset, floor) with G the linear "Noisegate Gain dB"; rung r holds offset 5 r, which
    // is the offset of band r + 1.
    float gateScale[gateLadderRungs] = {};

    // Level that the output gain control raises quiet material to (before its 1/(1 - 0.999)
    // smoothing gain).
    float agcTarget = 0.0f;

    float gateScaleForBand(int bandNumber) const { return gateScale[bandNumber - 1]; }

    static ControlBlock compute(const ControlValues& controls, const SampleRate& rate);

    friend bool operator==(const ControlBlock&, const ControlBlock&) = default;
};
