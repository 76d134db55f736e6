#include "dsp/control_block.h"

#include <cmath>

#include "dsp/input_stage.h"
#include "dsp/math/correctly_rounded.h"

namespace {

// The parameter path keeps every control inside its declared range, but a control field is a
// plain float that anything may have written. A value outside the range or not a number would
// turn into an infinite or NaN coefficient here and poison every filter of the chain for good,
// so each value is held to its declared range by the same rule the host's writes go through.
float held(const ControlValues& controls, Control control) {
    return recordOf(control).range.held(controls[control]);
}

float decibelsToLinear(float dB) {
    return crmath::exp10(0.05f * dB);
}

}  // namespace

ControlBlock ControlBlock::compute(const ControlValues& controls, const SampleRate& rate) {
    ControlBlock block;

    block.disableCutoff = controls[Control::dnrLpfDisable] > 0.5f ? 22000.0f : 0.0f;

    const float cutoff = held(controls, Control::lowpassCutoff);
    block.lowpassK = rate.prewarp(cutoff);
    for (int s = 0; s < 3; ++s) {
        block.inputLowpass[s] = EllipticCoefficients::at(block.lowpassK, inputLowpassPrototypes[s]);
    }

    block.autoEqFloor = decibelsToLinear(held(controls, Control::autoEqThreshold));

    // A rung is G - offset only where G clears offset + floor (55.00003, ..., 5.0000315 as
    // floats); below that the band's gate scale rests on the floor.
    const float gain = decibelsToLinear(held(controls, Control::noisegateGain));
    for (int rung = gateLadderRungs - 1; rung >= 0; --rung) {
        const float offset = static_cast<float>(5 * rung);
        block.gateScale[rung] = gain > offset + floorMinus90dB ? gain - offset : floorMinus90dB;
    }

    block.agcTarget = 0.001f * decibelsToLinear(held(controls, Control::outputAgcThreshold));
    return block;
}
