#include "dsp/mydsp.h"

void mydsp::initializeInstance(int sampleRate) {
    computeConstants(sampleRate);
    resetControls();
    clearState();
}

void mydsp::computeConstants(int sampleRate) {
    storedSampleRate = sampleRate;
    rate = SampleRate::fromHz(sampleRate);
}

void mydsp::clearState() { ringIndex = 0; }

void mydsp::process(int count, float** /*inputs*/, float** outputs) {
    if (count < 1) return;
    for (int i = 0; i < count; ++i) {
        outputs[0][i] = 0.0f;
        outputs[1][i] = 0.0f;
        ++ringIndex;
    }
}
