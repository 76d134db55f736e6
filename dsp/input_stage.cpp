#include "dsp/input_stage.h"

InputStageConstants InputStageConstants::at(const SampleRate& rate) {
    InputStageConstants c;
    const float k = rate.prewarp(inputHighpassHz);
    for (int s = 0; s < 3; ++s)
        c.highpass[s] = EllipticCoefficients::at(k, inputHighpassPrototypes[s]);
    c.envelopeAttack = rate.pole(500.0f);
    c.envelopeAttackComplement = 1.0f - c.envelopeAttack;
    c.envelopeRelease = rate.pole(2.0f);
    c.envelopeReleaseComplement = 1.0f - c.envelopeRelease;
    return c;
}
