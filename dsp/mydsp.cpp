#include "dsp/mydsp.h"

#include <algorithm>

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
// Each stage reads only values of this sample from the stages before it and its own history, so
// the samples run through the chain a run of up to BandProcessor::maxRun at a time: the front
// stages for the whole run, then the bands, then the output stage, with the same arithmetic on
// every sample as one sample at a time. The shared ring counter moves on by one per sample.
void mydsp::process(int count, float** inputs, float** outputs) {
    block = ControlBlock::compute(
        {dnrLpfDisable, lowpassCutoff, autoEqThreshold, noisegateGain, outputAgcThreshold}, rate);
    if (count < 1) return;
    bands->setBlockControls(block.autoEqFloor, block.gateScale);
    // Only the first input is read; the second declared input is never touched.
    for (int start = 0; start < count; start += BandProcessor::maxRun) {
        const int run = std::min(count - start, BandProcessor::maxRun);
        if (constants.noiseReduction.preciseDetector) {
            runSamples<true>(run, inputs[0] + start, outputs[0] + start, outputs[1] + start);
        } else {
            runSamples<false>(run, inputs[0] + start, outputs[0] + start, outputs[1] + start);
        }
    }
}

// An output buffer may be the input buffer itself: every input sample of the run is read before
// the first output of the run is written, and never again after.
template <bool preciseDetector>
void mydsp::runSamples(int count, const float* in, float* left, float* right) {
    // The separation meters in the bands' running order, band 12 first.
    static constexpr float mydsp::*separationMeters[separatedBandCount] = {
        &mydsp::bandSeparation12, &mydsp::bandSeparation11, &mydsp::bandSeparation10,
        &mydsp::bandSeparation9,  &mydsp::bandSeparation8,  &mydsp::bandSeparation7,
        &mydsp::bandSeparation6,  &mydsp::bandSeparation5,  &mydsp::bandSeparation4,
        &mydsp::bandSeparation3};
    constexpr int maxRun = BandProcessor::maxRun;
    float combSum[maxRun];
    float combDifference[maxRun];
    float k2[maxRun];
    float k2PlusOne[maxRun];
    float filtered[maxRun];
    for (int i = 0; i < count; ++i) filtered[i] = in[i];
    input.filter(count, filtered, constants.input, block.inputLowpass);

    // The noise reduction's detector sample by sample, then the tangents of its moving cutoffs
    // for the whole run at once, then its lowpass.
    static_assert(maxRun <= maxPrewarpRun);
    float divisor[maxRun];
    float delayed[maxRun];
    float delayedBefore[maxRun];
    float dnr2Argument[maxRun] = {};
    float dnrArgument[maxRun] = {};
    NoiseReductionCutoffs cutoffs{};
    for (int i = 0; i < count; ++i) {
        const std::uint32_t sampleIndex = ringIndex + static_cast<std::uint32_t>(i);
        divisor[i] = input.level(filtered[i], sampleIndex, constants.input);
        const DelayRing<128>& normalised = input.normalisedRing;
        cutoffs = noiseReduction.detect<preciseDetector>(
            normalised, sampleIndex, block.disableCutoff, constants.noiseReduction);
        dnr2Argument[i] = rate.prewarpArgument(cutoffs.dnr2);
        dnrArgument[i] = rate.prewarpArgument(cutoffs.dnr);
        delayed[i] = normalised.read(sampleIndex, noiseReductionLookAhead);
        delayedBefore[i] = normalised.read(sampleIndex, noiseReductionLookAhead + 1);
    }
    dnr2Bandwidth = cutoffs.dnr2;
    dnrBandwidth = cutoffs.dnr;
    float kd[maxRun];
    const bool avx2 = bandPath == BandPath::avx2;
    prewarpRun(dnr2Argument, k2, count, avx2);
    prewarpRun(dnrArgument, kd, count, avx2);

    float dnrOutput[maxRun];
    for (int i = 0; i < count; ++i) {
        k2PlusOne[i] = k2[i] + 1.0f;
        dnrOutput[i] = noiseReduction.lowpass(delayed[i], delayedBefore[i], kd[i]) * divisor[i];
    }
    bands->formCombPair(count, dnrOutput, ringIndex, combSum, combDifference);

    float leftSum[maxRun];
    float rightSum[maxRun];
    float separation[separatedBandCount];
    bands->run(count, combSum, combDifference, ringIndex, leftSum, rightSum, separation);
    for (std::size_t b = 0; b < separatedBandCount; ++b) this->*separationMeters[b] = separation[b];

    for (int i = 0; i < count; ++i) {
        const StereoSum out = outputStage.step(leftSum[i], rightSum[i], k2[i], k2PlusOne[i],
                                               block.agcTarget, ringIndex);
        left[i] = out.left;
        right[i] = out.right;
        ++ringIndex;
    }
}
