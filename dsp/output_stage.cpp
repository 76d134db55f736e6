#include "dsp/output_stage.h"

void OutputStage::computeConstants(const SampleRate& rate) {
    release = Pole<>::at(rate, 20.0f);
}

void OutputStage::clear() {
    previousLeftSum = 0.0f;
    previousRightSum = 0.0f;
    leftRing.clear();
    rightRing.clear();
    smoothedTarget = 0.0f;
    peakWindow.reset();
    envelope = 0.0f;
}
