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
    block = ControlBlock::compute(controls, rate);
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
    constexpr int maxRun = BandProcessor::maxRun;
    float combSum[maxRun];
    float combDifference[maxRun];
    float filtered[maxRun];
    for (int i = 0; i < count; ++i) filtered[i] = in[i];
    input.filter(count, filtered, constants.input, block.inputLowpass);

    static_assert(maxRun <= maxPrewarpRun);
    NoiseReductionRun reduced;
    noiseReduction.run<preciseDetector>(
        count, [&](int i, std::uint32_t n) { return input.level(filtered[i], n, constants.input); },
        input.normalisedRing, ringIndex, block.disableCutoff, constants.noiseReduction, rate,
        bandPath, reduced);
    meters[Meter::dnr2Bandwidth] = reduced.last.dnr2;
    meters[Meter::dnrBandwidth] = reduced.last.dnr;

    bands->formCombPair(count, reduced.dnrOutput, ringIndex, combSum, combDifference);

    float leftSum[maxRun];
    float rightSum[maxRun];
    float separation[separatedBandCount];
    bands->run(count, combSum, combDifference, ringIndex, leftSum, rightSum, separation);
    // The bands run band 12 first.
    static_assert(separatedBandCount == 10);
    for (std::size_t b = 0; b < separatedBandCount; ++b) {
        meters.values[static_cast<std::size_t>(Meter::bandSeparation12) - b] = separation[b];
    }

    outputStage.run(count, leftSum, rightSum, reduced.k2, reduced.k2PlusOne, block.agcTarget,
                    ringIndex, left, right);
    ringIndex += static_cast<std::uint32_t>(count);
}
