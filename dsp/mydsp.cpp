#include "dsp/mydsp.h"

void mydsp::initializeInstance(int sampleRate) {
    computeConstants(sampleRate);
    resetControls();
    clearState();
}

// The rate is kept as given (the host asks for it back) while every constant comes from the
// rate clamped to 1 ... 192000 Hz.
void mydsp::computeConstants(int sampleRate) {
    storedSampleRate = sampleRate;
    rate = SampleRate::fromHz(sampleRate);
    constants.input = InputStageConstants::at(rate);
    constants.noiseReduction = NoiseReductionConstants::at(rate);
    bands->computeConstants(rate);
    outputStage.computeConstants(rate);
}

void mydsp::clearState() {
    input.reset();
    noiseReduction.reset();
    decorrelator.reset();
    bands->clear();
    outputStage.clear();
    ringIndex = 0;
}

// One block. The controls are read once, into the control-rate block, before anything else and
// even when there is nothing to process; then every sample runs through the chain in signal
// order:
//
//   in ──> input stage ──u──> noise reduction ──x──> decorrelator ──d──> bands ──> output stage
//          (g: input divisor)  (k2: output lowpass)                              (left, right)
//
// Each stage reads only values of this sample from the stages before it and its own history.
// After both outputs are written the shared ring counter moves on by one.
void mydsp::process(int count, float** inputs, float** outputs) {
    block = ControlBlock::compute(
        {dnrLpfDisable, lowpassCutoff, autoEqThreshold, noisegateGain, outputAgcThreshold}, rate);
    if (count < 1) return;
    bands->setBlockControls(block.autoEqFloor, block.gateScale);
    // Only the first input is read; the second declared input is never touched.
    if (constants.noiseReduction.preciseDetector) {
        runSamples<true>(count, inputs[0], outputs[0], outputs[1]);
    } else {
        runSamples<false>(count, inputs[0], outputs[0], outputs[1]);
    }
}

// An output buffer may be the input buffer itself: sample i is read before output i is written
// and never again after.
template <bool preciseDetector>
void mydsp::runSamples(int count, const float* in, float* left, float* right) {
    // The separation meters in the bands' running order, band 12 first.
    static constexpr float mydsp::*separationMeters[separatedBandCount] = {
        &mydsp::bandSeparation12, &mydsp::bandSeparation11, &mydsp::bandSeparation10,
        &mydsp::bandSeparation9,  &mydsp::bandSeparation8,  &mydsp::bandSeparation7,
        &mydsp::bandSeparation6,  &mydsp::bandSeparation5,  &mydsp::bandSeparation4,
        &mydsp::bandSeparation3};
    for (int i = 0; i < count; ++i) {
        const float divisor = input.step(in[i], ringIndex, constants.input, block.inputLowpass);

        const NoiseReductionOutput reduced = noiseReduction.step<preciseDetector>(
            input.normalisedRing, divisor, ringIndex, block.disableCutoff, constants.noiseReduction,
            rate);
        dnr2Bandwidth = reduced.dnr2Cutoff;
        dnrBandwidth = reduced.dnrCutoff;
        const float x = reduced.dnrOutput;

        const float d = decorrelator.step(x, ringIndex);

        float separation[separatedBandCount];
        const StereoSum sums = bands->step(x + d, x - d, ringIndex, separation);
        for (std::size_t b = 0; b < separatedBandCount; ++b) {
            this->*separationMeters[b] = separation[b];
        }

        const StereoSum out = outputStage.step(sums.left, sums.right, reduced.k2, reduced.k2PlusOne,
                                               block.agcTarget, ringIndex);
        left[i] = out.left;
        right[i] = out.right;

        ++ringIndex;
    }
}
