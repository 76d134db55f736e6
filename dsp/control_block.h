// Values derived from the five input controls once per block.
//
// Every function of a control (the prewarping tangent of the input lowpass, the powers of ten,
// the gate ladder) is evaluated here, before the sample loop, and holds for the whole block, so
// the per-sample path never touches a control field.
#pragma once

#include <cmath>

#include "dsp/control_record.h"
#include "dsp/level_floor.h"
#include "dsp/sample_rate.h"
#include "dsp/sections.h"

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
