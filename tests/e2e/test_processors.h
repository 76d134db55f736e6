// Small processors for building a Zelko exactly as the product is built, but around a processor
// whose behaviour the tests control: a synthesizer for the instrument mode, and probes for the
// effect mode and the identity rules.
#pragma once

#include <xmmintrin.h>

#include <memory>
#include <stdexcept>
#include <vector>

#include "controls/metadata.h"
#include "dsp/dsp.h"
#include "host/Zelko.h"

namespace testproc {

// What a voice saw in one call of process.
struct ProcessCall {
    int voice;  // the processor's number, in construction order
    int frames;
    float gate;
    float freq;
};

struct SynthLog {
    int constructed = 0;
    std::vector<ProcessCall> calls;

    int framesOf(int voice) const {
        int total = 0;
        for (const auto& call : calls) total += call.voice == voice ? call.frames : 0;
        return total;
    }
};

// A square wave at "freq" with amplitude "gain", gated by "gate": the envelope jumps to 1 while
// the gate is open and halves every sample once it closes, so a released voice falls below the
// silence threshold (1e-6) after at most 20 samples. The wave restarts at the opening of the
// gate, so a note sounds the same however long its voice rendered closed before. The right
// channel is half the left one.
class TestSynth : public dsp {
  public:
    explicit TestSynth(SynthLog* log) : log(log), number(log->constructed++) {}

    int inputCount() override { return 0; }
    int outputCount() override { return 2; }
    void declareControls(UIReal<float>* receiver) override {
        receiver->addHorizontalSliderControl("freq", &freq, 440, 0, 30000, 1);
        receiver->addHorizontalSliderControl("gain", &gain, 0, 0, 1, 0.01f);
        receiver->addButtonControl("gate", &gate);
        receiver->addHorizontalSliderControl("prevfreq", &prevfreq, 0, 0, 30000, 1);
        receiver->addHorizontalSliderControl("pitchbend", &pitchbend, 0, -1, 1, 0.001f);
    }
    int sampleRate() override { return rate; }
    void initialize(int r) override { initializeInstance(r); }
    void initializeInstance(int r) override {
        computeConstants(r);
        resetControls();
        clearState();
    }
    void computeConstants(int r) override { rate = r; }
    void resetControls() override {
        freq = 440;
        gain = 0;
        gate = 0;
        prevfreq = 0;
        pitchbend = 0;
    }
    void clearState() override {
        phase = 0;
        envelope = 0;
        wasOpen = false;
    }
    dsp* duplicate() override { return new TestSynth(log); }
    void declareMetadata(metadataTable* table) override { table->declare("name", "Test Synth"); }
    void process(int count, float**, float** outputs) override {
        log->calls.push_back({number, count, gate, freq});
        const bool open = gate > 0.5f;
        if (open && !wasOpen) phase = 0;
        wasOpen = open;
        for (int i = 0; i < count; ++i) {
            envelope = open ? 1.0f : envelope * 0.5f;
            const float value = gain * envelope * (phase < 0.5f ? 1.0f : -1.0f);
            outputs[0][i] = value;
            outputs[1][i] = 0.5f * value;
            phase += freq / static_cast<float>(rate);
            if (phase >= 1.0f) phase -= 1.0f;
        }
    }
    void processAt(double, int count, float** inputs, float** outputs) override {
        process(count, inputs, outputs);
    }

    SynthLog* log;
    int number;
    int rate = 0;
    float freq = 0, gain = 0, gate = 0, prevfreq = 0, pitchbend = 0;
    float phase = 0, envelope = 0;
    bool wasOpen = false;
};

// An effect that passes its first input through with a float multiply, so that a denormal input
// comes out as zero exactly when denormals-are-zero is on, and that remembers MXCSR as it found
// it. It can be told to throw from inside the block.
class MxcsrProbe : public dsp {
  public:
    int inputCount() override { return 2; }
    int outputCount() override { return 2; }
    void declareControls(UIReal<float>*) override {}
    int sampleRate() override { return 0; }
    void initialize(int) override {}
    void initializeInstance(int) override {}
    void computeConstants(int) override {}
    void resetControls() override {}
    void clearState() override {}
    dsp* duplicate() override { return new MxcsrProbe; }
    void declareMetadata(metadataTable*) override {}
    void process(int count, float** inputs, float** outputs) override {
        insideCsr = _mm_getcsr();
        ++blocks;
        if (throwInside) throw std::runtime_error("processor failure");
        volatile float unity = 1.0f;
        for (int i = 0; i < count; ++i) {
            outputs[0][i] = inputs[0][i] * unity;
            outputs[1][i] = inputs[0][i] * unity;
        }
    }
    void processAt(double, int count, float** inputs, float** outputs) override {
        process(count, inputs, outputs);
    }

    unsigned insideCsr = 0;
    int blocks = 0;
    bool throwInside = false;
};

// A processor whose metadata and labels the identity tests choose.
class IdentityProcessor : public dsp {
  public:
    IdentityProcessor(const char* id, std::vector<const char*> labels)
        : id(id), labels(std::move(labels)), fields(this->labels.size()) {}

    int inputCount() override { return 1; }
    int outputCount() override { return 1; }
    void declareControls(UIReal<float>* receiver) override {
        for (std::size_t i = 0; i < labels.size(); ++i) {
            receiver->addHorizontalSliderControl(labels[i], &fields[i], 0, 0, 1, 1);
        }
    }
    int sampleRate() override { return rate; }
    void initialize(int r) override { rate = r; }
    void initializeInstance(int r) override { rate = r; }
    void computeConstants(int) override {}
    void resetControls() override {}
    void clearState() override {}
    dsp* duplicate() override { return new IdentityProcessor(id, labels); }
    void declareMetadata(metadataTable* table) override {
        if (id) table->declare("id", id);
        table->declare("version", "3.9");
    }
    void process(int, float**, float**) override {}
    void processAt(double, int, float**, float**) override {}

    const char* id;
    std::vector<const char*> labels;
    std::vector<float> fields;
    int rate = 0;
};

using ZelkoPtr = std::unique_ptr<Zelko>;

inline ZelkoPtr build(dsp* processor) {
    return ZelkoPtr(createZelko(nullptr, processor));
}

}  // namespace testproc
