// One audio block: the floating-point mode around it, and in instrument mode the splitting of
// the block at the frames of queued note events, the rendering of the playing voices and their
// mix.
#include <algorithm>
#include <array>
#include <cmath>

#include "host/Zelko.h"
#include "dsp/denormal_flush.h"

namespace {

// A released voice is free again once a whole rendered segment of it stays at or below this.
constexpr double kSilenceThreshold = 1e-6;
// -10 dB, so that several voices at full level rarely clip the sum.
constexpr float kMixGain = 0.31622776f;

}  // namespace

// A host may hand over no buffer for a channel it has nothing to route to. The block runs
// whenever the buffers it uses are there: every output, and in effect mode the first input, the
// only one the processor reads (a synthesizer reads none). Without them nothing is processed and no
// state moves on, but every output that is there is written with silence, so that the host never
// plays out what its buffer held before.
void Zelko::processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) {
    const int frames = std::max(sampleFrames, 0);
    const bool everyOutput = outputs && std::all_of(outputs, outputs + outputChannels,
                                                    [](const float* channel) { return channel; });
    const bool firstInput = inputs && inputs[0];
    // A block of no frames touches no buffer, but the processor still reads its controls.
    const bool runs = instrumentMode ? everyOutput : frames == 0 || (everyOutput && firstInput);
    if (!runs) {
        silencePresentOutputs(outputs, frames);
        return;
    }

    DenormalFlushGuard flushDenormals;
    if (!instrumentMode) {
        mainProcessor->process(sampleFrames, inputs, outputs);
        return;
    }
    runInstrumentBlock(inputs, outputs, sampleFrames);
}

void Zelko::silencePresentOutputs(float** outputs, int frames) {
    if (!outputs) return;
    for (int ch = 0; ch < outputChannels; ++ch) {
        if (outputs[ch]) std::fill(outputs[ch], outputs[ch] + frames, 0.0f);
    }
}

// Events are applied in queue order. Rendering only moves forward: an event whose frame lies
// before the position already rendered (a host that sends them out of order) is applied at that
// position, so no sample is rendered twice and no segment starts outside the host's buffers.
void Zelko::runInstrumentBlock(float** inputs, float** outputs, int frames) {
    const int n = std::max(frames, 0);
    int position = 0;
    while (!noteQueue.empty() && offsetQueue.front() < n) {
        currentOffset = std::max(offsetQueue.front(), position);
        currentNote = noteQueue.front();
        currentVelocity = velocityQueue.front();
        offsetQueue.pop_front();
        noteQueue.pop_front();
        velocityQueue.pop_front();

        if (currentVelocity > 0) {
            const int v = chooseVoice(currentNote);
            renderSegment(inputs, outputs, position, currentOffset);
            startNote(v, currentNote, currentVelocity);
        } else {
            std::array<int, kVoiceCount> newlyReleased;
            const int count = releaseNote(currentNote, newlyReleased);
            renderSegment(inputs, outputs, position, currentOffset);
            for (int i = 0; i < count; ++i) {
                writeRole(*voices[newlyReleased[i]], voices[newlyReleased[i]]->gateIndex, 0.0f);
            }
        }
        position = currentOffset;
    }
    // Events beyond this block stay queued, relative to the start of the next one. An offset
    // that would fall below zero is due at once anyway; holding it at zero keeps it from ever
    // overflowing.
    for (int& offset : offsetQueue) offset = std::max(offset - n, 0);
    renderSegment(inputs, outputs, position, n);
}

void Zelko::renderSegment(float** inputs, float** outputs, int from, int to) {
    for (int ch = 0; ch < outputChannels; ++ch) segmentOutputs[ch] = outputs[ch] + from;
    render(inputs, segmentOutputs.data(), to - from);
}

void Zelko::render(float** inputs, float** targets, int frames) {
    const int k = std::max(frames, 0);
    for (int ch = 0; ch < outputChannels; ++ch) std::fill(targets[ch], targets[ch] + k, 0.0f);

    // The only allocation of a block, and only for a block longer than any before it.
    if (k > scratchLength) {
        for (int ch = 0; ch < outputChannels; ++ch) {
            scratchOutputs[ch].resize(static_cast<std::size_t>(k));
            scratchPointers[ch] = scratchOutputs[ch].data();
        }
        scratchLength = k;
    }

    std::array<int, kVoiceCount> freed;
    int freedCount = 0;
    for (const PlayingVoice& entry : playingVoices) {
        voices[entry.voice]->processor->process(k, inputs, scratchPointers.data());
        bool silent = true;
        for (int ch = 0; ch < outputChannels; ++ch) {
            const float* scratch = scratchPointers[ch];
            float* target = targets[ch];
            for (int i = 0; i < k; ++i) {
                target[i] += scratch[i];
                if (std::fabs(static_cast<double>(scratch[i])) > kSilenceThreshold) silent = false;
            }
        }
        auto released = std::find(releasedVoices.begin(), releasedVoices.end(), entry.voice);
        if (silent && released != releasedVoices.end()) {
            freeVoices.push_back(entry.voice);
            releasedVoices.erase(released);
            freed[freedCount++] = entry.voice;
        }
    }

    // The voice remembers the note it played last, for a glide into its next note.
    for (int i = 0; i < freedCount; ++i) {
        auto entry = std::find_if(playingVoices.begin(), playingVoices.end(),
                                  [&](const PlayingVoice& e) { return e.voice == freed[i]; });
        Voice& voice = *voices[entry->voice];
        writeRole(voice, voice.prevfreqIndex, noteFrequency(entry->note));
        playingVoices.erase(entry);
    }

    for (int ch = 0; ch < outputChannels; ++ch) {
        for (int i = 0; i < k; ++i) targets[ch][i] = targets[ch][i] * kMixGain;
    }
}
