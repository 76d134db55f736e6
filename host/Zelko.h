// The plug-in class: ties the host interface to the processor. It owns the main processor and
// its collector, ten voices for the instrument mode, the queues of pending note events and the
// scratch buffers the voices render into.
//
// The mode is fixed by the processor: with audio inputs the plug-in is an effect and the host's
// buffers go straight through the main processor; without inputs it is a synthesizer whose ten
// voices are driven by MIDI notes. The voices are built and sent every parameter change in both
// modes.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <vector>

#include "controls/Voice.h"
#include "controls/parameters.h"
#include "controls/vstUI.h"
#include "dsp/dsp.h"
#include "host/AudioEffectX.h"

// First-in first-out sequence on a vector: popping never releases memory, so once the vector
// has grown, queueing and applying events allocate nothing.
template <typename T>
class FifoQueue {
  public:
    void reserve(std::size_t count) { items.reserve(count); }
    bool empty() const { return head == items.size(); }
    std::size_t size() const { return items.size() - head; }
    T& front() { return items[head]; }
    void push_back(T value) {
        // Reuse the space of popped entries before the vector would have to grow.
        if (items.size() == items.capacity() && head > 0) {
            items.erase(items.begin(), items.begin() + static_cast<std::ptrdiff_t>(head));
            head = 0;
        }
        items.push_back(value);
    }
    void pop_front() {
        if (++head == items.size()) {
            items.clear();
            head = 0;
        }
    }
    auto begin() { return items.begin() + static_cast<std::ptrdiff_t>(head); }
    auto end() { return items.end(); }
    std::size_t capacity() const { return items.capacity(); }

  private:
    std::vector<T> items;
    std::size_t head = 0;
};

// Frequency of MIDI note `note`: 440 Hz at note 69, twelve notes to the octave.
float noteFrequency(int note);

class Zelko : public AudioEffectX {
  public:
    static constexpr int kVoiceCount = 10;

    struct PlayingVoice {
        int note;
        int voice;
    };

    // Takes ownership of a processor that is constructed only and of the collector its controls
    // were declared into.
    Zelko(audioMasterCallback audioMaster, std::unique_ptr<dsp> processor,
          std::unique_ptr<vstUI> collector);
    ~Zelko() override;

    void setSampleRate(float newSampleRate) override;
    void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) override;

    void setParameter(VstInt32 index, float value) override;
    float getParameter(VstInt32 index) override;
    void getParameterLabel(VstInt32 index, char* label) override;
    void getParameterDisplay(VstInt32 index, char* text) override;
    void getParameterName(VstInt32 index, char* text) override;
    bool getParameterProperties(VstInt32 index, VstParameterProperties* properties) override;

    void setProgram(VstInt32 program) override;
    void setProgramName(char* name) override;
    void getProgramName(char* name) override;
    bool getProgramNameIndexed(VstInt32 category, VstInt32 index, char* text) override;

    bool getInputProperties(VstInt32 index, VstPinProperties* properties) override;
    bool getOutputProperties(VstInt32 index, VstPinProperties* properties) override;
    VstInt32 getNumMidiInputChannels() override { return 1; }
    VstInt32 getNumMidiOutputChannels() override { return 0; }

    VstInt32 processEvents(VstEvents* events) override;

    bool getEffectName(char* name) override;
    bool getVendorString(char* text) override;
    bool getProductString(char* text) override;
    VstInt32 getVendorVersion() override;
    VstInt32 canDo(char* text) override;

    VstInt32 getMidiProgramName(VstInt32 channel, MidiProgramName* name) override;
    VstInt32 getCurrentMidiProgram(VstInt32 channel, MidiProgramName* current) override;
    VstInt32 getMidiProgramCategory(VstInt32 channel, MidiProgramCategory* category) override;

    // Read-only views of the instrument state, for diagnostics and tests.
    bool isInstrument() const { return instrumentMode; }
    std::size_t pendingEventCount() const { return noteQueue.size(); }
    std::size_t eventQueueCapacity() const { return noteQueue.capacity(); }
    const std::vector<PlayingVoice>& playing() const { return playingVoices; }
    const std::vector<int>& released() const { return releasedVoices; }
    const std::vector<int>& available() const { return freeVoices; }
    int scratchFrames() const { return scratchLength; }
    std::size_t scratchBufferSize(int channel) const { return scratchOutputs[channel].size(); }
    Voice& voice(int index) { return *voices[index]; }
    dsp& processor() { return *mainProcessor; }
    vstUI& collector() { return *mainCollector; }

  private:
    void initializeProcessors(int rate);
    void fillMidiProgramName(MidiProgramName* name) const;
    bool pinProperties(VstInt32 index, VstPinProperties* properties, int count,
                       const char* labelFormat, const char* shortLabelFormat) const;

    // Instrument mode (audio_path.cpp).
    void runInstrumentBlock(float** inputs, float** outputs, int frames);
    void silencePresentOutputs(float** outputs, int frames);
    void renderSegment(float** inputs, float** outputs, int from, int to);
    void render(float** inputs, float** targets, int frames);

    // Note handling (midi.cpp).
    int chooseVoice(int note);
    void startNote(int voice, int note, int velocity);
    int releaseNote(int note, std::array<int, kVoiceCount>& newlyReleased);
    void allNotesOff();
    void pitchBend(int lowBits, int highBits);
    void writeRole(Voice& voice, int roleIndex, float value);

    std::unique_ptr<dsp> mainProcessor;
    std::unique_ptr<vstUI> mainCollector;
    int currentNote = 0;
    int currentVelocity = 0;
    int currentOffset = 0;
    FifoQueue<int> noteQueue;
    FifoQueue<int> velocityQueue;
    FifoQueue<int> offsetQueue;
    char programName[kVstMaxProgNameLen + 1] = "Default";
    std::array<std::unique_ptr<Voice>, kVoiceCount> voices;
    std::vector<PlayingVoice> playingVoices;
    std::vector<int> releasedVoices;
    std::vector<int> freeVoices;
    std::vector<std::vector<float>> scratchOutputs;
    int scratchLength = 1024;

    // Channel pointer arrays handed to the processors, kept so that a block allocates nothing.
    std::vector<float*> scratchPointers;
    std::vector<float*> segmentOutputs;
    bool instrumentMode;
    int outputChannels;
    ParameterMap parameters;
};

// Builds the plug-in around `processor` (constructed only; ownership passes to the plug-in):
// collects its controls into a new collector, then constructs the plug-in.
Zelko* createZelko(audioMasterCallback audioMaster, dsp* processor);
