// The base classes on their own: the record the constructor fills, the flag setters, and the
// routing of each opcode's arguments to the virtual operation that handles it.
#include "host/AudioEffect.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <string>

#include "host/AudioEffectX.h"
#include "tests/support/plugin_host.h"

namespace {

using testhost::HostRecorder;

class PlainEffect : public AudioEffectX {
  public:
    explicit PlainEffect(audioMasterCallback host, VstInt32 programs = 3, VstInt32 params = 7)
        : AudioEffectX(host, programs, params) {}
    void processReplacing(float**, float**, VstInt32) override {}
    using AudioEffect::curProgram;
};

// Records the last operation the dispatcher reached and the arguments it got.
class SpyEffect : public PlainEffect {
  public:
    using PlainEffect::PlainEffect;

    std::string last;
    VstIntPtr a = 0, b = 0;
    const void* pointer = nullptr;
    float number = 0.0f;
    VstInt32 canDoAnswer = 0;
    static int destroyed;
    static std::string lastBeforeDestruction;

    ~SpyEffect() override {
        ++destroyed;
        lastBeforeDestruction = last;
    }

    void note(const char* name, VstIntPtr first = 0, VstIntPtr second = 0,
              const void* ptr = nullptr, float opt = 0.0f) {
        last = name, a = first, b = second, pointer = ptr, number = opt;
    }
    void setProgram(VstInt32 program) override { note("setProgram", program); }
    void setSampleRate(float rate) override { note("setSampleRate", 0, 0, nullptr, rate); }
    void suspend() override { note("suspend"); }
    void resume() override { note("resume"); }
    void close() override { note("close"); }
    VstInt32 getChunk(void** data, bool isPreset) override {
        note("getChunk", isPreset, 0, data);
        return 11;
    }
    VstInt32 setChunk(void* data, VstInt32 byteSize, bool isPreset) override {
        note("setChunk", isPreset, byteSize, data);
        return 12;
    }
    bool getProgramNameIndexed(VstInt32 category, VstInt32 index, char* text) override {
        note("getProgramNameIndexed", category, index, text);
        return true;
    }
    bool offlineNotify(VstAudioFile* ptr, VstInt32 numAudioFiles, bool start) override {
        note("offlineNotify", numAudioFiles, start, ptr);
        return false;
    }
    bool setSpeakerArrangement(VstSpeakerArrangement* in, VstSpeakerArrangement* out) override {
        note("setSpeakerArrangement", reinterpret_cast<VstIntPtr>(in), 0, out);
        return true;
    }
    bool setBypass(bool onOff) override {
        note("setBypass", onOff);
        return true;
    }
    bool setPanLaw(VstInt32 type, float value) override {
        note("setPanLaw", type, 0, nullptr, value);
        return true;
    }
    VstIntPtr vendorSpecific(VstInt32 index, VstIntPtr value, void* ptr, float opt) override {
        note("vendorSpecific", index, value, ptr, opt);
        return 99;
    }
    VstInt32 canDo(char* text) override {
        note("canDo", 0, 0, text);
        return canDoAnswer;
    }
    VstInt32 getMidiProgramName(VstInt32 channel, MidiProgramName* name) override {
        note("getMidiProgramName", channel, 0, name);
        return 1;
    }
};
int SpyEffect::destroyed = 0;
std::string SpyEffect::lastBeforeDestruction;

class BaseClassTest : public ::testing::Test {
  protected:
    void SetUp() override { HostRecorder::current() = &recorder; }
    void TearDown() override { HostRecorder::current() = nullptr; }
    HostRecorder recorder;
};

TEST_F(BaseClassTest, ConstructorFillsTheRecord) {
    PlainEffect effect(&HostRecorder::callback, 3, 7);
    const AEffect* record = effect.getAeffect();
    EXPECT_EQ(record->magic, kEffectMagic);
    EXPECT_EQ(record->numPrograms, 3);
    EXPECT_EQ(record->numParams, 7);
    EXPECT_EQ(record->numInputs, 1);
    EXPECT_EQ(record->numOutputs, 2);
    EXPECT_EQ(record->flags, effFlagsCanReplacing);
    EXPECT_EQ(record->resvd1, 0);
    EXPECT_EQ(record->resvd2, 0);
    EXPECT_EQ(record->initialDelay, 0);
    EXPECT_EQ(record->realQualities, 0);
    EXPECT_EQ(record->offQualities, 0);
    EXPECT_EQ(record->ioRatio, 1.0f);
    EXPECT_EQ(record->object, static_cast<AudioEffect*>(&effect));
    EXPECT_EQ(record->user, nullptr);
    EXPECT_EQ(record->uniqueID, fourCharCode('N', 'o', 'E', 'f'));
    EXPECT_EQ(record->version, 1);
    const char zeros[sizeof record->future] = {};
    EXPECT_EQ(std::memcmp(record->future, zeros, sizeof zeros), 0);
    EXPECT_EQ(effect.getSampleRate(), 44100.0f);
    EXPECT_EQ(effect.getBlockSize(), 1024);
    EXPECT_EQ(effect.getProgram(), 0);
    EXPECT_EQ(effect.getEditor(), nullptr);
    EXPECT_TRUE(recorder.calls.empty());
}

TEST_F(BaseClassTest, RecordSettersStoreTheirFields) {
    PlainEffect effect(&HostRecorder::callback);
    effect.setUniqueID(fourCharCode('Z', 'E', 'L', 'K'));
    effect.setNumInputs(2);
    effect.setNumOutputs(6);
    effect.setInitialDelay(2658);
    effect.setRealtimeQualities(3);
    effect.setOfflineQualities(4);
    const AEffect* record = effect.getAeffect();
    EXPECT_EQ(record->uniqueID, 0x5A454C4B);
    EXPECT_EQ(record->numInputs, 2);
    EXPECT_EQ(record->numOutputs, 6);
    EXPECT_EQ(record->initialDelay, 2658);
    EXPECT_EQ(record->realQualities, 3);
    EXPECT_EQ(record->offQualities, 4);
}

// Each setter owns one bit: setting it adds exactly that bit, clearing it removes exactly that
// bit, whatever the others hold.
TEST_F(BaseClassTest, FlagSettersTouchOnlyTheirBit) {
    using Setter = void (*)(AudioEffectX&, bool);
    const std::pair<Setter, VstInt32> setters[] = {
        {[](AudioEffectX& e, bool s) { e.hasClip(s); }, 2},
        {[](AudioEffectX& e, bool s) { e.hasVu(s); }, 4},
        {[](AudioEffectX& e, bool s) { e.canMono(s); }, 8},
        {[](AudioEffectX& e, bool s) { e.canProcessReplacing(s); }, 16},
        {[](AudioEffectX& e, bool s) { e.programsAreChunks(s); }, 32},
        {[](AudioEffectX& e, bool s) { e.isSynth(s); }, 256},
        {[](AudioEffectX& e, bool s) { e.noTail(s); }, 512},
        {[](AudioEffectX& e, bool s) { e.wantAsyncOperation(s); }, 1024},
        {[](AudioEffectX& e, bool s) { e.hasExternalBuffer(s); }, 2048},
        {[](AudioEffectX& e, bool s) { e.canDoubleReplacing(s); }, 4096},
    };
    PlainEffect effect(&HostRecorder::callback);
    VstInt32 all = 0;
    for (const auto& [set, bit] : setters) all |= bit;
    for (const auto& [set, bit] : setters) {
        effect.getAeffect()->flags = 0;
        set(effect, true);
        EXPECT_EQ(effect.getAeffect()->flags, bit);
        set(effect, true);
        EXPECT_EQ(effect.getAeffect()->flags, bit);
        effect.getAeffect()->flags = all;
        set(effect, false);
        EXPECT_EQ(effect.getAeffect()->flags, all & ~bit);
    }
}

TEST_F(BaseClassTest, PlugCategoryFollowsTheSynthFlag) {
    PlainEffect effect(&HostRecorder::callback);
    EXPECT_EQ(effect.dispatcher(effGetPlugCategory, 0, 0, nullptr, 0.0f), kPlugCategUnknown);
    effect.isSynth(true);
    EXPECT_EQ(effect.dispatcher(effGetPlugCategory, 0, 0, nullptr, 0.0f), kPlugCategSynth);
}

TEST_F(BaseClassTest, BaseTextOperationsWriteEmptyTexts) {
    PlainEffect effect(&HostRecorder::callback);
    for (VstInt32 opcode :
         {effGetProgramName, effGetParamLabel, effGetParamDisplay, effGetParamName}) {
        char text[16] = "garbage";
        EXPECT_EQ(effect.dispatcher(opcode, 2, 0, text, 0.0f), 0);
        EXPECT_STREQ(text, "") << "opcode " << opcode;
    }
}

TEST_F(BaseClassTest, BaseProgramStaysWithinItsPrograms) {
    PlainEffect effect(&HostRecorder::callback, 3);
    effect.dispatcher(effSetProgram, 0, 2, nullptr, 0.0f);
    EXPECT_EQ(effect.dispatcher(effGetProgram, 0, 0, nullptr, 0.0f), 2);
    effect.dispatcher(effSetProgram, 0, 3, nullptr, 0.0f);
    EXPECT_EQ(effect.getProgram(), 2);
    // A negative value reaches setProgram, which refuses it rather than storing a bad index.
    effect.dispatcher(effSetProgram, 0, -1, nullptr, 0.0f);
    EXPECT_EQ(effect.getProgram(), 2);
}

TEST_F(BaseClassTest, SetProgramBoundsAtTheDispatcher) {
    SpyEffect effect(&HostRecorder::callback, 3);
    effect.dispatcher(effSetProgram, 0, 2, nullptr, 0.0f);
    EXPECT_EQ(effect.last, "setProgram");
    EXPECT_EQ(effect.a, 2);
    effect.last.clear();
    effect.dispatcher(effSetProgram, 0, 3, nullptr, 0.0f);
    EXPECT_EQ(effect.last, "");
    effect.dispatcher(effSetProgram, 0, VstIntPtr{1} << 33, nullptr, 0.0f);
    EXPECT_EQ(effect.last, "");
    effect.dispatcher(effSetProgram, 0, -5, nullptr, 0.0f);
    EXPECT_EQ(effect.last, "setProgram");
    EXPECT_EQ(effect.a, -5);
    // Below the 32-bit range the value cannot be passed on without changing it.
    effect.last.clear();
    effect.dispatcher(effSetProgram, 0, VstIntPtr{INT_MIN} - 1, nullptr, 0.0f);
    EXPECT_EQ(effect.last, "");
}

// Swapped or dropped arguments are the typical fault of a hand-written dispatch table.
TEST_F(BaseClassTest, OpcodeArgumentsReachTheRightParameters) {
    SpyEffect effect(&HostRecorder::callback);
    char text[64] = {};
    int token = 0;
    auto dispatch = [&](VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
        effect.last.clear();
        return effect.dispatcher(opcode, index, value, ptr, opt);
    };

    EXPECT_EQ(dispatch(effGetChunk, 1, 0, &token, 0), 11);
    EXPECT_EQ(effect.last, "getChunk");
    EXPECT_EQ(effect.a, 1);
    EXPECT_EQ(effect.pointer, &token);
    EXPECT_EQ(dispatch(effSetChunk, 0, 345, &token, 0), 12);
    EXPECT_EQ(effect.last, "setChunk");
    EXPECT_EQ(effect.a, 0);
    EXPECT_EQ(effect.b, 345);

    EXPECT_EQ(dispatch(effGetProgramNameIndexed, 4, 9, text, 0), 1);
    EXPECT_EQ(effect.a, 9);  // value is the category
    EXPECT_EQ(effect.b, 4);  // index is the program
    EXPECT_EQ(effect.pointer, text);

    EXPECT_EQ(dispatch(effOfflineNotify, 1, 6, &token, 0), 0);
    EXPECT_EQ(effect.last, "offlineNotify");
    EXPECT_EQ(effect.a, 6);
    EXPECT_EQ(effect.b, 1);

    VstSpeakerArrangement in{}, out{};
    EXPECT_EQ(dispatch(effSetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&in), &out, 0), 1);
    EXPECT_EQ(effect.a, reinterpret_cast<VstIntPtr>(&in));
    EXPECT_EQ(effect.pointer, &out);

    EXPECT_EQ(dispatch(effSetBypass, 0, 2, nullptr, 0), 1);
    EXPECT_EQ(effect.a, 1);
    dispatch(effSetBypass, 0, 0, nullptr, 0);
    EXPECT_EQ(effect.a, 0);

    EXPECT_EQ(dispatch(effSetPanLaw, 0, 1, nullptr, 0.7071f), 1);
    EXPECT_EQ(effect.a, 1);
    EXPECT_EQ(effect.number, 0.7071f);

    EXPECT_EQ(dispatch(effVendorSpecific, 5, 6, &token, 0.5f), 99);
    EXPECT_EQ(effect.a, 5);
    EXPECT_EQ(effect.b, 6);
    EXPECT_EQ(effect.pointer, &token);
    EXPECT_EQ(effect.number, 0.5f);

    MidiProgramName name{};
    EXPECT_EQ(dispatch(effGetMidiProgramName, 3, 0, &name, 0), 1);
    EXPECT_EQ(effect.a, 3);  // index is the channel

    // canDo's -1 must reach the host as -1, not as a large positive number.
    effect.canDoAnswer = -1;
    EXPECT_EQ(dispatch(effCanDo, 0, 0, text, 0), -1);

    dispatch(effSetSampleRate, 0, 0, nullptr, 96000.0f);
    EXPECT_EQ(effect.last, "setSampleRate");
    EXPECT_EQ(effect.number, 96000.0f);
    dispatch(effMainsChanged, 0, 1, nullptr, 0);
    EXPECT_EQ(effect.last, "resume");
    dispatch(effMainsChanged, 0, 0, nullptr, 0);
    EXPECT_EQ(effect.last, "suspend");
}

TEST_F(BaseClassTest, SpeakerArrangementQueryAnswersNullArrangements) {
    PlainEffect effect(&HostRecorder::callback);
    int dummy = 0;
    auto* in = reinterpret_cast<VstSpeakerArrangement*>(&dummy);
    auto* out = in;
    EXPECT_EQ(effect.dispatcher(effGetSpeakerArrangement, 0, reinterpret_cast<VstIntPtr>(&in), &out,
                                0.0f),
              0);
    EXPECT_EQ(in, nullptr);
    EXPECT_EQ(out, nullptr);
}

TEST_F(BaseClassTest, BlockSizeAndSampleRateAreStored) {
    PlainEffect effect(&HostRecorder::callback);
    effect.dispatcher(effSetBlockSize, 0, 256, nullptr, 0.0f);
    effect.dispatcher(effSetSampleRate, 0, 0, nullptr, 88200.0f);
    EXPECT_EQ(effect.getBlockSize(), 256);
    EXPECT_EQ(effect.getSampleRate(), 88200.0f);
    effect.setBlockSizeAndSampleRate(64, 22050.0f);
    EXPECT_EQ(effect.getBlockSize(), 64);
    EXPECT_EQ(effect.getSampleRate(), 22050.0f);
}

TEST_F(BaseClassTest, CloseThroughTheRecordDestroysTheObject) {
    auto* effect = new SpyEffect(&HostRecorder::callback);
    AEffect* record = effect->getAeffect();
    const int before = SpyEffect::destroyed;
    EXPECT_EQ(record->dispatcher(record, effClose, 0, 0, nullptr, 0.0f), 1);
    EXPECT_EQ(SpyEffect::destroyed, before + 1);
    // The plug-in's close operation ran first, on the living object.
    EXPECT_EQ(SpyEffect::lastBeforeDestruction, "close");
}

TEST_F(BaseClassTest, ResumeAsksForMidiWhenTheEffectTakesIt) {
    class MidiEffect : public PlainEffect {
      public:
        using PlainEffect::PlainEffect;
        VstInt32 answer = 0;
        std::string asked;
        VstInt32 canDo(char* text) override {
            asked = text;
            return answer;
        }
    };
    MidiEffect effect(&HostRecorder::callback);
    effect.resume();
    EXPECT_EQ(effect.asked, "receiveVstMidiEvent");
    EXPECT_EQ(recorder.count(audioMasterWantMidi), 0);

    effect.answer = 1;
    effect.resume();
    ASSERT_EQ(recorder.count(audioMasterWantMidi), 1);
    EXPECT_EQ(recorder.calls.back().value, 1);

    effect.answer = -1;
    effect.isSynth(true);
    effect.resume();
    EXPECT_EQ(recorder.count(audioMasterWantMidi), 2);
}

TEST_F(BaseClassTest, SetParameterAutomatedStoresThenTellsTheHost) {
    class Recording : public PlainEffect {
      public:
        using PlainEffect::PlainEffect;
        std::size_t callsSeenAtStore = 99;
        HostRecorder* host = nullptr;
        void setParameter(VstInt32, float) override { callsSeenAtStore = host->calls.size(); }
    };
    Recording effect(&HostRecorder::callback);
    effect.host = &recorder;
    effect.setParameterAutomated(4, 0.625f);
    EXPECT_EQ(effect.callsSeenAtStore, 0u);
    ASSERT_EQ(recorder.calls.size(), 1u);
    EXPECT_EQ(recorder.calls[0].opcode, audioMasterAutomate);
    EXPECT_EQ(recorder.calls[0].index, 4);
    EXPECT_EQ(recorder.calls[0].opt, 0.625f);
    EXPECT_EQ(recorder.calls[0].effect, effect.getAeffect());
}

TEST_F(BaseClassTest, DeprecatedOperationsGiveTheirPlainResults) {
    PlainEffect effect(nullptr);
    EXPECT_EQ(effect.getVu(), 0.0f);
    EXPECT_EQ(effect.getNumCategories(), 1);
    EXPECT_FALSE(effect.copyProgram(1));
    EXPECT_EQ(effect.reportCurrentPosition(), 0);
    EXPECT_EQ(effect.reportDestinationBuffer(), nullptr);
    EXPECT_FALSE(effect.getErrorText(nullptr));
    EXPECT_EQ(effect.getIcon(), nullptr);
    EXPECT_FALSE(effect.setViewPosition(1, 2));
    EXPECT_EQ(effect.fxIdle(), 0);
    EXPECT_FALSE(effect.keysRequired());
    EXPECT_EQ(effect.offlineGetNumPasses(), 0);
    EXPECT_EQ(effect.offlineGetNumMetaPasses(), 0);
    EXPECT_EQ(effect.getNextShellPlugin(nullptr), 0);
    EXPECT_EQ(effect.setTotalSampleToProcess(-12), -12);
    EXPECT_EQ(effect.getVstVersion(), 2400);
}

}  // namespace
