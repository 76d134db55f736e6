// The VST 2.4 plug-in base class. An AudioEffect owns the effect record that the host holds,
// turns the host's opcodes 0 to 24 into calls of its virtual operations, and wraps the host
// callback. The virtual operations are declared in the order of their vtable slots; a plug-in
// overrides only the ones it needs.
#pragma once

#include "host/vst2.h"

// The editor window interface. This plug-in has no editor; the interface exists so that the
// editor opcodes have something to forward to.
class AEffEditor {
  public:
    virtual ~AEffEditor() = default;
    virtual bool getRect(ERect** rect) {
        (void)rect;
        return false;
    }
    virtual bool open(void* window) {
        (void)window;
        return false;
    }
    virtual void close() {}
    virtual void idle() {}
    virtual bool onKeyDown(VstInt32 character, VstIntPtr virtualKey, float modifiers) {
        (void)character, (void)virtualKey, (void)modifiers;
        return false;
    }
    virtual bool onKeyUp(VstInt32 character, VstIntPtr virtualKey, float modifiers) {
        (void)character, (void)virtualKey, (void)modifiers;
        return false;
    }
    virtual bool setKnobMode(VstIntPtr mode) {
        (void)mode;
        return false;
    }
};

// The answer to the deprecated effIdentify: 'NvEf'.
constexpr VstIntPtr kEffectIdentify = fourCharCode('N', 'v', 'E', 'f');
// The unique identifier of an effect that never sets its own: 'NoEf'.
constexpr VstInt32 kDefaultUniqueID = fourCharCode('N', 'o', 'E', 'f');
// The interface version this plug-in implements.
constexpr VstInt32 kVstVersion = 2400;

class AudioEffect {
  public:
    AudioEffect(audioMasterCallback audioMaster, VstInt32 numPrograms, VstInt32 numParams);
    AudioEffect(const AudioEffect&) = delete;
    AudioEffect& operator=(const AudioEffect&) = delete;

    /* 1 */ virtual ~AudioEffect();

    /* 2 */ virtual VstIntPtr dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                         void* ptr, float opt);

    /* 3 */ virtual void open() {}
    /* 4 */ virtual void close() {}
    /* 5 */ virtual void suspend() {}
    // AudioEffectX gives resume its behaviour: asking the host for MIDI events.
    /* 6 */ virtual void resume() {}

    /* 7 */ virtual void setSampleRate(float newSampleRate) { sampleRate = newSampleRate; }
    /* 8 */ virtual void setBlockSize(VstInt32 newBlockSize) { blockSize = newBlockSize; }

    /* 9 */ virtual void processReplacing(float** inputs, float** outputs,
                                          VstInt32 sampleFrames) = 0;
    /* 10 */ virtual void processDoubleReplacing(double** inputs, double** outputs,
                                                 VstInt32 sampleFrames) {
        (void)inputs, (void)outputs, (void)sampleFrames;
    }

    /* 11 */ virtual void setParameter(VstInt32 index, float value) { (void)index, (void)value; }
    /* 12 */ virtual float getParameter(VstInt32 index) {
        (void)index;
        return 0.0f;
    }
    /* 13 */ virtual void setParameterAutomated(VstInt32 index, float value);

    /* 14 */ virtual VstInt32 getProgram() { return curProgram; }
    /* 15 */ virtual void setProgram(VstInt32 program);
    /* 16 */ virtual void setProgramName(char* name) { (void)name; }
    /* 17 */ virtual void getProgramName(char* name);
    /* 18 */ virtual void getParameterLabel(VstInt32 index, char* label);
    /* 19 */ virtual void getParameterDisplay(VstInt32 index, char* text);
    /* 20 */ virtual void getParameterName(VstInt32 index, char* text);

    /* 21 */ virtual VstInt32 getChunk(void** data, bool isPreset = false) {
        (void)data, (void)isPreset;
        return 0;
    }
    /* 22 */ virtual VstInt32 setChunk(void* data, VstInt32 byteSize, bool isPreset = false) {
        (void)data, (void)byteSize, (void)isPreset;
        return 0;
    }

    /* 23 */ virtual void setUniqueID(VstInt32 iD) { cEffect.uniqueID = iD; }
    /* 24 */ virtual void setNumInputs(VstInt32 inputs) { cEffect.numInputs = inputs; }
    /* 25 */ virtual void setNumOutputs(VstInt32 outputs) { cEffect.numOutputs = outputs; }
    /* 26 */ virtual void canProcessReplacing(bool state = true) {
        setFlag(effFlagsCanReplacing, state);
    }
    /* 27 */ virtual void canDoubleReplacing(bool state = true) {
        setFlag(effFlagsCanDoubleReplacing, state);
    }
    /* 28 */ virtual void programsAreChunks(bool state = true) {
        setFlag(effFlagsProgramChunks, state);
    }
    /* 29 */ virtual void setInitialDelay(VstInt32 delay) { cEffect.initialDelay = delay; }

    /* 30 */ virtual AEffEditor* getEditor() { return editor; }
    /* 31 */ virtual AEffect* getAeffect() { return &cEffect; }
    /* 32 */ virtual float getSampleRate() { return sampleRate; }
    /* 33 */ virtual VstInt32 getBlockSize() { return blockSize; }

    /* 34 */ virtual VstInt32 getMasterVersion();
    /* 35 */ virtual VstInt32 getCurrentUniqueId();
    /* 36 */ virtual void masterIdle();

    // Text formatting: each writes at most maxLen characters and a terminating NUL, so `text`
    // must hold maxLen + 1 bytes. A result that does not fit is not written in part: the text
    // becomes empty instead.
    /* 37 */ virtual void dB2string(float value, char* text, VstInt32 maxLen);
    /* 38 */ virtual void Hz2string(float samples, char* text, VstInt32 maxLen);
    /* 39 */ virtual void ms2string(float samples, char* text, VstInt32 maxLen);
    /* 40 */ virtual void float2string(float value, char* text, VstInt32 maxLen);
    /* 41 */ virtual void int2string(VstInt32 value, char* text, VstInt32 maxLen);

    // Deprecated operations, kept for their slots.
    /* 42 */ virtual void process(float** inputs, float** outputs, VstInt32 sampleFrames) {
        (void)inputs, (void)outputs, (void)sampleFrames;
    }
    /* 43 */ virtual float getVu() { return 0.0f; }
    /* 44 */ virtual void hasVu(bool state = true) { setFlag(effFlagsHasVu, state); }
    /* 45 */ virtual void hasClip(bool state = true) { setFlag(effFlagsHasClip, state); }
    /* 46 */ virtual void canMono(bool state = true) { setFlag(effFlagsCanMono, state); }
    /* 47 */ virtual void setRealtimeQualities(VstInt32 qualities) {
        cEffect.realQualities = qualities;
    }
    /* 48 */ virtual void setOfflineQualities(VstInt32 qualities) {
        cEffect.offQualities = qualities;
    }
    /* 49 */ virtual bool isInputConnected(VstInt32 input);
    /* 50 */ virtual bool isOutputConnected(VstInt32 output);

  protected:
    // Calls the host callback with this effect's record; answers `fallback` without calling
    // when there is no callback.
    VstIntPtr callHost(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                       void* ptr = nullptr, float opt = 0.0f, VstIntPtr fallback = 0);
    void setFlag(VstInt32 flag, bool state) {
        cEffect.flags = state ? (cEffect.flags | flag) : (cEffect.flags & ~flag);
    }

    audioMasterCallback audioMaster;
    AEffEditor* editor = nullptr;
    float sampleRate = 44100.0f;
    VstInt32 blockSize = 1024;
    VstInt32 numPrograms;
    VstInt32 numParams;
    VstInt32 curProgram = 0;
    AEffect cEffect;
};

// Creates the plug-in object for one VSTPluginMain call; defined by the concrete plug-in.
// Returns null when no object could be made.
AudioEffect* createEffectInstance(audioMasterCallback audioMaster);
