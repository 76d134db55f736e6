#include "host/AudioEffect.h"

#include <cstdint>

namespace {

// The six plain entries of the effect record. Each finds the plug-in object through the
// record's `object` field. A host that hands us a null record, a record without an object or
// null buffer arrays gets the failure answer and nothing is touched: a host bug must not crash
// the process through us.

AudioEffect* objectOf(AEffect* effect) {
    return effect ? static_cast<AudioEffect*>(effect->object) : nullptr;
}

// True when every channel the record announces has a buffer. The channel counts are read from
// the record, since they are what the host was told to provide.
template <typename Sample>
bool buffersUsable(const AEffect* effect, Sample** inputs, Sample** outputs, VstInt32 frames) {
    if (frames < 0) return false;
    if (effect->numInputs > 0) {
        if (!inputs) return false;
        for (VstInt32 channel = 0; channel < effect->numInputs; ++channel) {
            if (!inputs[channel]) return false;
        }
    }
    if (effect->numOutputs > 0) {
        if (!outputs) return false;
        for (VstInt32 channel = 0; channel < effect->numOutputs; ++channel) {
            if (!outputs[channel]) return false;
        }
    }
    return true;
}

VstIntPtr dispatchEntry(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                        void* ptr, float opt) {
    AudioEffect* object = objectOf(effect);
    if (!object) return 0;
    // An exception must never unwind into the host, which is plain C.
    try {
        if (opcode == effClose) {
            object->dispatcher(opcode, index, value, ptr, opt);
            delete object;
            return 1;
        }
        return object->dispatcher(opcode, index, value, ptr, opt);
    } catch (...) {
        return 0;
    }
}

void processEntry(AEffect* effect, float** inputs, float** outputs, VstInt32 sampleFrames) {
    AudioEffect* object = objectOf(effect);
    if (!object || !buffersUsable(effect, inputs, outputs, sampleFrames)) return;
    object->process(inputs, outputs, sampleFrames);
}

// The replacing entry is the one that writes audio, and only the plug-in knows which of the
// announced buffers it reads: a host may leave an input it has nothing to route to without a
// buffer, and the plug-in still owes it output. So every block of a sane length goes through,
// and the plug-in class checks the channel pointers it uses.
void processReplacingEntry(AEffect* effect, float** inputs, float** outputs,
                           VstInt32 sampleFrames) {
    AudioEffect* object = objectOf(effect);
    if (!object || sampleFrames < 0) return;
    object->processReplacing(inputs, outputs, sampleFrames);
}

void processDoubleReplacingEntry(AEffect* effect, double** inputs, double** outputs,
                                 VstInt32 sampleFrames) {
    AudioEffect* object = objectOf(effect);
    if (!object || !buffersUsable(effect, inputs, outputs, sampleFrames)) return;
    object->processDoubleReplacing(inputs, outputs, sampleFrames);
}

void setParameterEntry(AEffect* effect, VstInt32 index, float value) {
    if (AudioEffect* object = objectOf(effect)) object->setParameter(index, value);
}

float getParameterEntry(AEffect* effect, VstInt32 index) {
    AudioEffect* object = objectOf(effect);
    return object ? object->getParameter(index) : 0.0f;
}

}  // namespace

AudioEffect::AudioEffect(audioMasterCallback audioMaster, VstInt32 numPrograms, VstInt32 numParams)
    : audioMaster(audioMaster), numPrograms(numPrograms), numParams(numParams), cEffect{} {
    cEffect.magic = kEffectMagic;
    cEffect.dispatcher = dispatchEntry;
    cEffect.process = processEntry;
    cEffect.setParameter = setParameterEntry;
    cEffect.getParameter = getParameterEntry;
    cEffect.numPrograms = numPrograms;
    cEffect.numParams = numParams;
    cEffect.numInputs = 1;
    cEffect.numOutputs = 2;
    cEffect.flags = effFlagsCanReplacing;
    cEffect.ioRatio = 1.0f;
    cEffect.object = this;
    cEffect.uniqueID = kDefaultUniqueID;
    cEffect.version = 1;
    cEffect.processReplacing = processReplacingEntry;
    cEffect.processDoubleReplacing = processDoubleReplacingEntry;
}

AudioEffect::~AudioEffect() {
    delete editor;
}

VstIntPtr AudioEffect::dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                  float opt) {
    char* text = static_cast<char*>(ptr);
    switch (opcode) {
        case effOpen:
            open();
            return 0;
        case effClose:
            close();
            return 0;
        case effSetProgram:
            // Negative values are passed on so that the plug-in can report them; values too
            // large for a program number never are.
            if (value < numPrograms && value >= INT32_MIN) {
                setProgram(static_cast<VstInt32>(value));
            }
            return 0;
        case effGetProgram:
            return getProgram();
        case effSetProgramName:
            if (text) setProgramName(text);
            return 0;
        case effGetProgramName:
            if (text) getProgramName(text);
            return 0;
        case effGetParamLabel:
            if (text) getParameterLabel(index, text);
            return 0;
        case effGetParamDisplay:
            if (text) getParameterDisplay(index, text);
            return 0;
        case effGetParamName:
            if (text) getParameterName(index, text);
            return 0;
        case effSetSampleRate:
            // The plug-in class decides what a rate means: it ignores a rate that is not a
            // number and saturates one beyond the integer range.
            setSampleRate(opt);
            return 0;
        case effSetBlockSize:
            setBlockSize(static_cast<VstInt32>(value));
            return 0;
        case effMainsChanged:
            if (value) {
                resume();
            } else {
                suspend();
            }
            return 0;
        case effEditGetRect:
            return editor && ptr ? editor->getRect(static_cast<ERect**>(ptr)) : 0;
        case effEditOpen:
            return editor ? editor->open(ptr) : 0;
        case effEditClose:
            if (editor) editor->close();
            return 0;
        case effEditIdle:
            if (editor) editor->idle();
            return 0;
        case effIdentify:
            return kEffectIdentify;
        case effGetChunk:
            return ptr ? getChunk(static_cast<void**>(ptr), index != 0) : 0;
        case effSetChunk:
            return ptr ? setChunk(ptr, static_cast<VstInt32>(value), index != 0) : 0;
        default:
            return 0;
    }
}

void AudioEffect::setParameterAutomated(VstInt32 index, float value) {
    setParameter(index, value);
    callHost(audioMasterAutomate, index, 0, nullptr, value);
}

void AudioEffect::setProgram(VstInt32 program) {
    // A program number the plug-in does not have would later index past its programs.
    if (program >= 0 && program < numPrograms) curProgram = program;
}

void AudioEffect::getProgramName(char* name) {
    if (name) name[0] = '\0';
}

void AudioEffect::getParameterLabel(VstInt32, char* label) {
    if (label) label[0] = '\0';
}

void AudioEffect::getParameterDisplay(VstInt32, char* text) {
    if (text) text[0] = '\0';
}

void AudioEffect::getParameterName(VstInt32, char* text) {
    if (text) text[0] = '\0';
}

VstIntPtr AudioEffect::callHost(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                float opt, VstIntPtr fallback) {
    return audioMaster ? audioMaster(&cEffect, opcode, index, value, ptr, opt) : fallback;
}

VstInt32 AudioEffect::getMasterVersion() {
    VstIntPtr version = callHost(audioMasterVersion);
    return version == 0 ? 1 : static_cast<VstInt32>(version);
}

VstInt32 AudioEffect::getCurrentUniqueId() {
    return static_cast<VstInt32>(callHost(audioMasterCurrentId));
}

void AudioEffect::masterIdle() {
    callHost(audioMasterIdle);
}

// The host answers 0 for a connected pin; without a host every pin counts as connected.
bool AudioEffect::isInputConnected(VstInt32 input) {
    return callHost(audioMasterPinConnected, input, 0) == 0;
}

bool AudioEffect::isOutputConnected(VstInt32 output) {
    return callHost(audioMasterPinConnected, output, 1) == 0;
}
