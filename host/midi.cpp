// MIDI intake: note events are queued with their frames for the instrument block; all notes off
// and pitch bend act on the voices at once.
#include <algorithm>
#include <cmath>

#include "dsp/math/correctly_rounded.h"
#include "host/Zelko.h"

namespace {

constexpr int kNoteOn = 0x90;
constexpr int kNoteOff = 0x80;
constexpr int kControlChange = 0xB0;
constexpr int kPitchBend = 0xE0;
constexpr int kAllNotesOff = 123;
constexpr int kMonoModeOn = 126;                     // switching to mono mode ends every note too
constexpr float kVelocityScale = 0.007874016f;       // 1/127
constexpr float kPitchBendScale = 0.0001220703125f;  // 2^-13: -1 to 8191/8192

}  // namespace

// The exponent is rounded to float, 2^exponent is rounded once to float (correctly rounded), and
// the product with 440 is a float product, so every note lands on the same float on every build.
float noteFrequency(int note) {
    const float exponent = static_cast<float>(note - 69) * 0.083333336f;
    const float ratio = crmath::exp2(exponent);
    return 440.0f * ratio;
}

VstInt32 Zelko::processEvents(VstEvents* events) {
    if (events == nullptr || events->numEvents < 0) return 1;
    // The record declares two entries and carries numEvents of them: they are read through a
    // plain pointer, since indexing the declared array past its second entry is undefined.
    VstEvent* const* entries = events->events;
    for (VstInt32 e = 0; e < events->numEvents; ++e) {
        const VstEvent* event = entries[e];
        if (event == nullptr || event->type != kVstMidiType) continue;
        const auto* midi = reinterpret_cast<const VstMidiEvent*>(event);
        const int status = static_cast<unsigned char>(midi->midiData[0]) & 0xF0;
        const int data1 = static_cast<unsigned char>(midi->midiData[1]);
        const int data2 = static_cast<unsigned char>(midi->midiData[2]);

        if (status == kNoteOn || status == kNoteOff) {
            // Nothing consumes notes in effect mode; keeping them would only pile them up.
            if (!instrumentMode) continue;
            noteQueue.push_back(data1 & 0x7F);
            velocityQueue.push_back(status == kNoteOn ? (data2 & 0x7F) : 0);
            // A frame before the block start is due at its start.
            offsetQueue.push_back(std::max<int>(midi->deltaFrames, 0));
        } else if (status == kControlChange) {
            // Hosts call this on their audio thread, so nothing here writes to a stream: a write
            // can block for as long as the stream's reader lets it.
            if (data1 == kAllNotesOff || data1 == kMonoModeOn) allNotesOff();
        } else if (status == kPitchBend) {
            pitchBend(data1 & 0x7F, data2 & 0x7F);
        }
    }
    return 1;
}

void Zelko::writeRole(Voice& voice, int roleIndex, float value) {
    if (voice.isValidIndex(roleIndex)) voice.fUITable[roleIndex]->setPlain(value);
}

// The voice free longest, or else the oldest note's voice, which remembers that note's
// frequency before it takes the new one.
int Zelko::chooseVoice(int note) {
    if (!freeVoices.empty()) {
        const int v = freeVoices.front();
        freeVoices.erase(freeVoices.begin());
        playingVoices.push_back({note, v});
        return v;
    }
    const PlayingVoice oldest = playingVoices.front();
    Voice& stolen = *voices[oldest.voice];
    writeRole(stolen, stolen.prevfreqIndex, noteFrequency(oldest.note));
    playingVoices.erase(playingVoices.begin());
    playingVoices.push_back({note, oldest.voice});
    return oldest.voice;
}

void Zelko::startNote(int v, int note, int velocity) {
    Voice& voice = *voices[v];
    writeRole(voice, voice.freqIndex, noteFrequency(note));
    writeRole(voice, voice.gainIndex, static_cast<float>(velocity) * kVelocityScale);
    writeRole(voice, voice.gateIndex, 1.0f);
}

// Marks every voice that plays `note` as released; answers the voices that were not released
// before, whose gates the caller closes once the block has been rendered up to the event.
int Zelko::releaseNote(int note, std::array<int, kVoiceCount>& newlyReleased) {
    int count = 0;
    for (const PlayingVoice& entry : playingVoices) {
        if (entry.note != note) continue;
        if (std::find(releasedVoices.begin(), releasedVoices.end(), entry.voice) !=
            releasedVoices.end()) {
            continue;
        }
        releasedVoices.push_back(entry.voice);
        newlyReleased[count++] = entry.voice;
    }
    return count;
}

void Zelko::allNotesOff() {
    for (auto& voice : voices) writeRole(*voice, voice->gateIndex, 0.0f);
    for (const PlayingVoice& entry : playingVoices) {
        if (std::find(releasedVoices.begin(), releasedVoices.end(), entry.voice) ==
            releasedVoices.end()) {
            releasedVoices.push_back(entry.voice);
        }
    }
}

void Zelko::pitchBend(int lowBits, int highBits) {
    const float bend = static_cast<float>(highBits * 128 + lowBits - 8192) * kPitchBendScale;
    for (auto& voice : voices) writeRole(*voice, voice->pitchbendIndex, bend);
}
