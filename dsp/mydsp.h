// The Comb Stereo Processor: one mono input turned into a stereo pair, sample by sample.
#pragma once

#include <cstdint>

#include "dsp/dsp.h"
#include "dsp/sample_rate.h"

class mydsp final : public dsp {
public:
    int inputCount() override { return 2; }
    int outputCount() override { return 2; }
    void declareControls(UIReal<float>* receiver) override;
    int sampleRate() override { return storedSampleRate; }
    void initialize(int sampleRate) override { initializeInstance(sampleRate); }
    void initializeInstance(int sampleRate) override;
    void computeConstants(int sampleRate) override;
    void resetControls() override;
    void clearState() override;
    dsp* duplicate() override { return new mydsp; }
    void declareMetadata(metadataTable* table) override;
    void process(int count, float** inputs, float** outputs) override;
    void processAt(double, int count, float** inputs, float** outputs) override {
        process(count, inputs, outputs);
    }

private:
    // Input controls: written by the parameter path at any time, read once per block.
    float dnrLpfDisable;
    float lowpassCutoff;
    float autoEqThreshold;
    float noisegateGain;
    float outputAgcThreshold;

    // Meters: written every sample, read by nobody inside the plug-in.
    float bandSeparation3;
    float bandSeparation4;
    float bandSeparation5;
    float bandSeparation6;
    float bandSeparation7;
    float bandSeparation8;
    float bandSeparation9;
    float bandSeparation10;
    float bandSeparation11;
    float bandSeparation12;
    float dnrBandwidth;
    float dnr2Bandwidth;

    int storedSampleRate;
    SampleRate rate;

    // Shared counter of every delay ring; a ring of N slots is written at ringIndex & (N - 1).
    std::uint32_t ringIndex;
};
