// The extended VST 2.4 plug-in base class: opcodes 25 to 79, the extended host services and
// the speaker-arrangement helpers. Virtual operations continue the slot order of AudioEffect.
#pragma once

#include "host/AudioEffect.h"

class AudioEffectX : public AudioEffect {
  public:
    AudioEffectX(audioMasterCallback audioMaster, VstInt32 numPrograms, VstInt32 numParams)
        : AudioEffect(audioMaster, numPrograms, numParams) {}

    VstIntPtr dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                         float opt) override;
    // Asks the host for MIDI events when the plug-in is an instrument or can receive them.
    void resume() override;

    /* 51 */ virtual bool canParameterBeAutomated(VstInt32 index) {
        (void)index;
        return true;
    }
    /* 52 */ virtual bool string2parameter(VstInt32 index, char* text) {
        (void)index, (void)text;
        return false;
    }
    /* 53 */ virtual bool getParameterProperties(VstInt32 index, VstParameterProperties* p) {
        (void)index, (void)p;
        return false;
    }
    /* 54 */ virtual bool beginEdit(VstInt32 index);
    /* 55 */ virtual bool endEdit(VstInt32 index);

    /* 56 */ virtual bool getProgramNameIndexed(VstInt32 category, VstInt32 index, char* text) {
        (void)category, (void)index, (void)text;
        return false;
    }
    /* 57 */ virtual bool beginSetProgram() { return false; }
    /* 58 */ virtual bool endSetProgram() { return false; }
    /* 59 */ virtual VstInt32 beginLoadBank(VstPatchChunkInfo* ptr) {
        (void)ptr;
        return 0;
    }
    /* 60 */ virtual VstInt32 beginLoadProgram(VstPatchChunkInfo* ptr) {
        (void)ptr;
        return 0;
    }

    /* 61 */ virtual bool ioChanged();
    /* 62 */ virtual double updateSampleRate();
    /* 63 */ virtual VstInt32 updateBlockSize();
    /* 64 */ virtual VstInt32 getInputLatency();
    /* 65 */ virtual VstInt32 getOutputLatency();
    /* 66 */ virtual bool getInputProperties(VstInt32 index, VstPinProperties* p) {
        (void)index, (void)p;
        return false;
    }
    /* 67 */ virtual bool getOutputProperties(VstInt32 index, VstPinProperties* p) {
        (void)index, (void)p;
        return false;
    }
    /* 68 */ virtual bool setSpeakerArrangement(VstSpeakerArrangement* pluginInput,
                                                VstSpeakerArrangement* pluginOutput) {
        (void)pluginInput, (void)pluginOutput;
        return false;
    }
    /* 69 */ virtual bool getSpeakerArrangement(VstSpeakerArrangement** pluginInput,
                                                VstSpeakerArrangement** pluginOutput);
    /* 70 */ virtual bool setBypass(bool onOff) {
        (void)onOff;
        return false;
    }
    /* 71 */ virtual bool setPanLaw(VstInt32 type, float val) {
        (void)type, (void)val;
        return false;
    }
    /* 72 */ virtual bool setProcessPrecision(VstInt32 precision) {
        (void)precision;
        return false;
    }
    /* 73 */ virtual VstInt32 getNumMidiInputChannels() { return 0; }
    /* 74 */ virtual VstInt32 getNumMidiOutputChannels() { return 0; }

    /* 75 */ virtual VstTimeInfo* getTimeInfo(VstInt32 filter);
    /* 76 */ virtual VstInt32 getCurrentProcessLevel();
    /* 77 */ virtual VstInt32 getAutomationState();

    /* 78 */ virtual VstInt32 processEvents(VstEvents* events) {
        (void)events;
        return 0;
    }
    /* 79 */ virtual VstInt32 startProcess() { return 0; }
    /* 80 */ virtual VstInt32 stopProcess() { return 0; }
    /* 81 */ virtual bool processVariableIo(VstVariableIo* varIo) {
        (void)varIo;
        return false;
    }
    /* 82 */ virtual VstInt32 setTotalSampleToProcess(VstInt32 value) { return value; }

    /* 83 */ virtual bool getHostVendorString(char* text);
    /* 84 */ virtual bool getHostProductString(char* text);
    /* 85 */ virtual VstInt32 getHostVendorVersion();
    /* 86 */ virtual VstIntPtr hostVendorSpecific(VstInt32 lArg1, VstIntPtr lArg2, void* ptrArg,
                                                  float floatArg);
    /* 87 */ virtual bool canHostDo(char* text);
    /* 88 */ virtual VstInt32 getHostLanguage();

    /* 89 */ virtual void isSynth(bool state = true) { setFlag(effFlagsIsSynth, state); }
    /* 90 */ virtual void noTail(bool state = true) { setFlag(effFlagsNoSoundInStop, state); }
    /* 91 */ virtual VstInt32 getGetTailSize() { return 0; }
    /* 92 */ virtual void* getDirectory();

    /* 93 */ virtual bool getEffectName(char* name) {
        (void)name;
        return false;
    }
    /* 94 */ virtual bool getVendorString(char* text) {
        (void)text;
        return false;
    }
    /* 95 */ virtual bool getProductString(char* text) {
        (void)text;
        return false;
    }
    /* 96 */ virtual VstInt32 getVendorVersion() { return 0; }
    /* 97 */ virtual VstIntPtr vendorSpecific(VstInt32 lArg, VstIntPtr lArg2, void* ptrArg,
                                              float floatArg) {
        (void)lArg, (void)lArg2, (void)ptrArg, (void)floatArg;
        return 0;
    }
    /* 98 */ virtual VstInt32 canDo(char* text) {
        (void)text;
        return 0;
    }
    /* 99 */ virtual VstInt32 getVstVersion() { return kVstVersion; }
    /* 100 */ virtual VstPlugCategory getPlugCategory();

    /* 101 */ virtual VstInt32 getMidiProgramName(VstInt32 channel,
                                                  MidiProgramName* midiProgramName) {
        (void)channel, (void)midiProgramName;
        return 0;
    }
    /* 102 */ virtual VstInt32 getCurrentMidiProgram(VstInt32 channel,
                                                     MidiProgramName* currentProgram) {
        (void)channel, (void)currentProgram;
        return -1;
    }
    /* 103 */ virtual VstInt32 getMidiProgramCategory(VstInt32 channel,
                                                      MidiProgramCategory* category) {
        (void)channel, (void)category;
        return 0;
    }
    /* 104 */ virtual bool hasMidiProgramsChanged(VstInt32 channel) {
        (void)channel;
        return false;
    }
    /* 105 */ virtual bool getMidiKeyName(VstInt32 channel, MidiKeyName* keyName) {
        (void)channel, (void)keyName;
        return false;
    }

    /* 106 */ virtual bool updateDisplay();
    /* 107 */ virtual bool sizeWindow(VstInt32 width, VstInt32 height);
    /* 108 */ virtual bool openFileSelector(VstFileSelect* ptr);
    /* 109 */ virtual bool closeFileSelector(VstFileSelect* ptr);
    /* 110 */ virtual VstInt32 getNextShellPlugin(char* name) {
        (void)name;
        return 0;
    }

    // Speaker arrangements are allocated with room for their channel count and released with
    // deallocateArrangement only.
    /* 111 */ virtual bool allocateArrangement(VstSpeakerArrangement** arrangement,
                                               VstInt32 nbChannels);
    /* 112 */ virtual bool deallocateArrangement(VstSpeakerArrangement** arrangement);
    /* 113 */ virtual bool copySpeaker(VstSpeakerProperties* to, VstSpeakerProperties* from);
    /* 114 */ virtual bool matchArrangement(VstSpeakerArrangement** to,
                                            VstSpeakerArrangement* from);

    /* 115 */ virtual bool offlineRead(VstOfflineTask* offline, VstInt32 option,
                                       bool readSource = true);
    /* 116 */ virtual bool offlineWrite(VstOfflineTask* offline, VstInt32 option);
    /* 117 */ virtual bool offlineStart(VstAudioFile* ptr, VstInt32 numAudioFiles,
                                        VstInt32 numNewAudioFiles);
    /* 118 */ virtual VstInt32 offlineGetCurrentPass();
    /* 119 */ virtual VstInt32 offlineGetCurrentMetaPass();
    /* 120 */ virtual bool offlineNotify(VstAudioFile* ptr, VstInt32 numAudioFiles, bool start) {
        (void)ptr, (void)numAudioFiles, (void)start;
        return false;
    }
    /* 121 */ virtual bool offlinePrepare(VstOfflineTask* offline, VstInt32 count) {
        (void)offline, (void)count;
        return false;
    }
    /* 122 */ virtual bool offlineRun(VstOfflineTask* offline, VstInt32 count) {
        (void)offline, (void)count;
        return false;
    }
    /* 123 */ virtual VstInt32 offlineGetNumPasses() { return 0; }
    /* 124 */ virtual VstInt32 offlineGetNumMetaPasses() { return 0; }

    // Deprecated operations, kept for their slots and reduced to their plain results.
    /* 125 */ virtual void wantEvents(VstInt32 filter = 1);
    /* 126 */ virtual VstInt32 tempoAt(VstInt32 pos);
    /* 127 */ virtual VstInt32 getNumAutomatableParameters();
    /* 128 */ virtual VstInt32 getParameterQuantization();
    /* 129 */ virtual VstInt32 getNumCategories() { return 1; }
    /* 130 */ virtual bool copyProgram(VstInt32 destination) {
        (void)destination;
        return false;
    }
    /* 131 */ virtual bool needIdle();
    /* 132 */ virtual AEffect* getPreviousPlug(VstInt32 input);
    /* 133 */ virtual AEffect* getNextPlug(VstInt32 output);
    /* 134 */ virtual void inputConnected(VstInt32 index, bool state) { (void)index, (void)state; }
    /* 135 */ virtual void outputConnected(VstInt32 index, bool state) { (void)index, (void)state; }
    /* 136 */ virtual VstInt32 willProcessReplacing();
    /* 137 */ virtual void wantAsyncOperation(bool state = true) {
        setFlag(effFlagsExtIsAsync, state);
    }
    /* 138 */ virtual void hasExternalBuffer(bool state = true) {
        setFlag(effFlagsExtHasBuffer, state);
    }
    /* 139 */ virtual VstInt32 reportCurrentPosition() { return 0; }
    /* 140 */ virtual float* reportDestinationBuffer() { return nullptr; }
    /* 141 */ virtual bool setOutputSamplerate(float samplerate);
    /* 142 */ virtual VstSpeakerArrangement* getInputSpeakerArrangement();
    /* 143 */ virtual VstSpeakerArrangement* getOutputSpeakerArrangement();
    /* 144 */ virtual void* openWindow(VstWindow* window);
    /* 145 */ virtual bool closeWindow(VstWindow* window);
    /* 146 */ virtual void setBlockSizeAndSampleRate(VstInt32 newBlockSize, float newSampleRate) {
        blockSize = newBlockSize;
        sampleRate = newSampleRate;
    }
    /* 147 */ virtual bool getErrorText(char* text) {
        (void)text;
        return false;
    }
    /* 148 */ virtual void* getIcon() { return nullptr; }
    /* 149 */ virtual bool setViewPosition(VstInt32 x, VstInt32 y) {
        (void)x, (void)y;
        return false;
    }
    /* 150 */ virtual VstInt32 fxIdle() { return 0; }
    /* 151 */ virtual bool keysRequired() { return false; }
    /* 152 */ virtual bool getChunkFile(void* nativePath);
};
