#include "host/AudioEffectX.h"

namespace {

VstIntPtr answer(bool result) {
    return result ? 1 : 0;
}

}  // namespace

// Opcodes 25 to 79. Every opcode that hands the plug-in a record or a text through `ptr` answers
// the failure value without a call when `ptr` is null, so no override ever sees a null record
// from the host.
VstIntPtr AudioEffectX::dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                   float opt) {
    char* text = static_cast<char*>(ptr);
    switch (opcode) {
        case effProcessEvents:
            return ptr ? processEvents(static_cast<VstEvents*>(ptr)) : 0;
        case effCanBeAutomated:
            return answer(canParameterBeAutomated(index));
        case effString2Parameter:
            return answer(text && string2parameter(index, text));
        case effGetProgramNameIndexed:
            return answer(text && getProgramNameIndexed(static_cast<VstInt32>(value), index, text));
        case effGetInputProperties:
            return answer(ptr && getInputProperties(index, static_cast<VstPinProperties*>(ptr)));
        case effGetOutputProperties:
            return answer(ptr && getOutputProperties(index, static_cast<VstPinProperties*>(ptr)));
        case effGetPlugCategory:
            return getPlugCategory();
        case effOfflineNotify:
            return answer(ptr && offlineNotify(static_cast<VstAudioFile*>(ptr),
                                               static_cast<VstInt32>(value), index != 0));
        case effOfflinePrepare:
            return answer(ptr && offlinePrepare(static_cast<VstOfflineTask*>(ptr),
                                                static_cast<VstInt32>(value)));
        case effOfflineRun:
            return answer(
                ptr && offlineRun(static_cast<VstOfflineTask*>(ptr), static_cast<VstInt32>(value)));
        case effProcessVarIo:
            return answer(ptr && processVariableIo(static_cast<VstVariableIo*>(ptr)));
        case effSetSpeakerArrangement:
            return answer(value && ptr &&
                          setSpeakerArrangement(reinterpret_cast<VstSpeakerArrangement*>(value),
                                                static_cast<VstSpeakerArrangement*>(ptr)));
        case effSetBypass:
            return answer(setBypass(value != 0));
        case effGetEffectName:
            return answer(text && getEffectName(text));
        case effGetVendorString:
            return answer(text && getVendorString(text));
        case effGetProductString:
            return answer(text && getProductString(text));
        case effGetVendorVersion:
            return getVendorVersion();
        case effVendorSpecific:
            return vendorSpecific(index, value, ptr, opt);
        case effCanDo:
            return text ? canDo(text) : 0;
        case effGetTailSize:
            return getGetTailSize();
        case effGetParameterProperties:
            return answer(ptr &&
                          getParameterProperties(index, static_cast<VstParameterProperties*>(ptr)));
        case effGetVstVersion:
            return getVstVersion();
        case effEditKeyDown:
            return editor ? answer(editor->onKeyDown(index, value, opt)) : 0;
        case effEditKeyUp:
            return editor ? answer(editor->onKeyUp(index, value, opt)) : 0;
        case effSetEditKnobMode:
            return editor ? answer(editor->setKnobMode(value)) : 0;
        case effGetMidiProgramName:
            return ptr ? getMidiProgramName(index, static_cast<MidiProgramName*>(ptr)) : 0;
        case effGetCurrentMidiProgram:
            return ptr ? getCurrentMidiProgram(index, static_cast<MidiProgramName*>(ptr)) : -1;
        case effGetMidiProgramCategory:
            return ptr ? getMidiProgramCategory(index, static_cast<MidiProgramCategory*>(ptr)) : 0;
        case effHasMidiProgramsChanged:
            return answer(hasMidiProgramsChanged(index));
        case effGetMidiKeyName:
            return answer(ptr && getMidiKeyName(index, static_cast<MidiKeyName*>(ptr)));
        case effBeginSetProgram:
            return answer(beginSetProgram());
        case effEndSetProgram:
            return answer(endSetProgram());
        case effGetSpeakerArrangement:
            return answer(getSpeakerArrangement(reinterpret_cast<VstSpeakerArrangement**>(value),
                                                static_cast<VstSpeakerArrangement**>(ptr)));
        case effShellGetNextPlugin:
            return text ? getNextShellPlugin(text) : 0;
        case effStartProcess:
            return startProcess();
        case effStopProcess:
            return stopProcess();
        case effSetTotalSampleToProcess:
            return setTotalSampleToProcess(static_cast<VstInt32>(value));
        case effSetPanLaw:
            return answer(setPanLaw(static_cast<VstInt32>(value), opt));
        case effBeginLoadBank:
            return ptr ? beginLoadBank(static_cast<VstPatchChunkInfo*>(ptr)) : 0;
        case effBeginLoadProgram:
            return ptr ? beginLoadProgram(static_cast<VstPatchChunkInfo*>(ptr)) : 0;
        case effSetProcessPrecision:
            return answer(setProcessPrecision(static_cast<VstInt32>(value)));
        case effGetNumMidiInputChannels:
            return getNumMidiInputChannels();
        case effGetNumMidiOutputChannels:
            return getNumMidiOutputChannels();
        default:
            return AudioEffect::dispatcher(opcode, index, value, ptr, opt);
    }
}

void AudioEffectX::resume() {
    // canDo takes a writable text, as hosts pass their own buffers.
    char receiveMidi[] = "receiveVstMidiEvent";
    if ((cEffect.flags & effFlagsIsSynth) || canDo(receiveMidi) == 1) wantEvents(1);
}

VstPlugCategory AudioEffectX::getPlugCategory() {
    return (cEffect.flags & effFlagsIsSynth) ? kPlugCategSynth : kPlugCategUnknown;
}

bool AudioEffectX::getSpeakerArrangement(VstSpeakerArrangement** pluginInput,
                                         VstSpeakerArrangement** pluginOutput) {
    if (pluginInput) *pluginInput = nullptr;
    if (pluginOutput) *pluginOutput = nullptr;
    return false;
}
