// The Comb Stereo Processor: one mono input turned into a stereo pair, sample by sample.
#pragma once

#include <cstdint>
#include <memory>

#include "dsp/band_constants.h"
#include "dsp/bands.h"
#include "dsp/control_block.h"
#include "dsp/control_record.h"
#include "dsp/dsp.h"
#include "dsp/input_stage.h"
#include "dsp/noise_reduction.h"
#include "dsp/output_stage.h"
#include "dsp/sample_rate.h"

// Samples by which the outputs trail the input: the look-aheads of the stages in signal order.
// Each stage delays the signal by as much as its detector runs ahead of it.
inline constexpr std::uint32_t chainLatency = inputLookAhead + noiseReductionLookAhead +
                                              bandLevelLookAhead + bandWidthLookAhead +
                                              OutputStage::lookAhead;
static_assert(chainLatency == 2658);

// Everything derived from the sample rate alone, recomputed by `computeConstants`.
struct RateConstants {
    InputStageConstants input;
    NoiseReductionConstants noiseReduction;

    friend bool operator==(const RateConstants&, const RateConstants&) = default;
};

class mydsp final : public dsp {
  public:
    // The bands run on the fastest path this machine has, or on the one given.
    mydsp() : mydsp(fastestBandPath()) {}
    explicit mydsp(BandPath path) : bandPath(path), bands(makeBandProcessor(path)) {}

    int inputCount() override { return 2; }
    int outputCount() override { return 2; }
    void declareControls(UIReal<float>* receiver) override;
    int sampleRate() override { return storedSampleRate; }
    void initialize(int sampleRate) override { initializeInstance(sampleRate); }
    void initializeInstance(int sampleRate) override;
    void computeConstants(int sampleRate) override;
    void resetControls() override;
    void clearState() override;
    dsp* duplicate() override { return new mydsp(bandPath); }
    void declareMetadata(metadataTable* table) override;
    void process(int count, float** inputs, float** outputs) override;
    void processAt(double, int count, float** inputs, float** outputs) override {
        process(count, inputs, outputs);
    }

    // Read-only views for tests and diagnostics.
    const SampleRate& clampedRate() const { return rate; }
    const RateConstants& rateConstants() const { return constants; }
    const ControlBlock& controlBlock() const { return block; }
    std::uint32_t sampleCounter() const { return ringIndex; }
    BandPath bandsPath() const { return bandPath; }
    float meter(Meter which) const { return meters[which]; }
    const MeterValues& meterValues() const { return meters; }

    // The input controls, for the format glue that writes them directly (the VST 2.4 shell
    // writes them through the fields it collected from declareControls). Each write must be a
    // value held to its control's range, as ControlRecord::fromNormalised gives.
    ControlValues& controlValues() { return controls; }
    const ControlValues& controlValues() const { return controls; }

  private:
    template <bool preciseDetector>
    void runSamples(int count, const float* input, float* left, float* right);

    // Input controls: written by the parameter path at any time, read once per block.
    ControlValues controls;
    // Meters: written after every run of samples, read by nobody inside the processor.
    MeterValues meters;

    int storedSampleRate = 0;
    SampleRate rate;
    RateConstants constants;

    // The control-rate block of the current (or last) call of process.
    ControlBlock block;

    // Signal state, zeroed by clearState.
    InputStage input;
    NoiseReduction noiseReduction;
    BandPath bandPath;
    std::unique_ptr<BandProcessor> bands;
    OutputStage outputStage;

    // Shared counter of every delay ring; a ring of N slots is written at ringIndex & (N - 1).
    std::uint32_t ringIndex = 0;
};
