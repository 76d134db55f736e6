// The host wrappers: each calls the host callback with its own opcode and arguments and this
// effect's record, turns the answer into its result, and answers its fallback without calling
// when there is no callback.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "host/AudioEffectX.h"
#include "tests/support/plugin_host.h"

namespace {

using testhost::HostRecorder;

class WrapperEffect : public AudioEffectX {
  public:
    explicit WrapperEffect(audioMasterCallback host) : AudioEffectX(host, 1, 1) {}
    void processReplacing(float**, float**, VstInt32) override {}
};

int token;  // an address to pass as a pointer argument
char text[] = "text";

struct WrapperCase {
    const char* name;
    std::function<VstIntPtr(AudioEffectX&)> call;
    VstInt32 opcode;
    VstInt32 index;
    VstIntPtr value;
    void* ptr;
    float opt;
    VstIntPtr hostAnswer;
    VstIntPtr withHost;
    VstIntPtr withoutHost;
};

VstIntPtr address(const void* p) {
    return reinterpret_cast<VstIntPtr>(p);
}

const WrapperCase kCases[] = {
    {"getMasterVersion", [](AudioEffectX& e) { return e.getMasterVersion(); }, audioMasterVersion,
     0, 0, nullptr, 0, 2400, 2400, 1},
    {"getCurrentUniqueId", [](AudioEffectX& e) { return e.getCurrentUniqueId(); },
     audioMasterCurrentId, 0, 0, nullptr, 0, 77, 77, 0},
    {"isInputConnected", [](AudioEffectX& e) { return VstIntPtr{e.isInputConnected(3)}; },
     audioMasterPinConnected, 3, 0, nullptr, 0, 1, 0, 1},
    {"isOutputConnected", [](AudioEffectX& e) { return VstIntPtr{e.isOutputConnected(2)}; },
     audioMasterPinConnected, 2, 1, nullptr, 0, 0, 1, 1},
    {"beginEdit", [](AudioEffectX& e) { return VstIntPtr{e.beginEdit(4)}; }, audioMasterBeginEdit,
     4, 0, nullptr, 0, 5, 1, 0},
    {"endEdit", [](AudioEffectX& e) { return VstIntPtr{e.endEdit(4)}; }, audioMasterEndEdit, 4, 0,
     nullptr, 0, 1, 1, 0},
    {"ioChanged", [](AudioEffectX& e) { return VstIntPtr{e.ioChanged()}; }, audioMasterIOChanged, 0,
     0, nullptr, 0, 1, 1, 0},
    {"getInputLatency", [](AudioEffectX& e) { return VstIntPtr{e.getInputLatency()}; },
     audioMasterGetInputLatency, 0, 0, nullptr, 0, 64, 64, 0},
    {"getOutputLatency", [](AudioEffectX& e) { return VstIntPtr{e.getOutputLatency()}; },
     audioMasterGetOutputLatency, 0, 0, nullptr, 0, 32, 32, 0},
    {"getTimeInfo", [](AudioEffectX& e) { return address(e.getTimeInfo(0x202)); },
     audioMasterGetTime, 0, 0x202, nullptr, 0, address(&token), address(&token), 0},
    {"getCurrentProcessLevel",
     [](AudioEffectX& e) { return VstIntPtr{e.getCurrentProcessLevel()}; },
     audioMasterGetCurrentProcessLevel, 0, 0, nullptr, 0, 2, 2, 0},
    {"getAutomationState", [](AudioEffectX& e) { return VstIntPtr{e.getAutomationState()}; },
     audioMasterGetAutomationState, 0, 0, nullptr, 0, 3, 3, 0},
    {"getHostVendorString", [](AudioEffectX& e) { return VstIntPtr{e.getHostVendorString(text)}; },
     audioMasterGetVendorString, 0, 0, text, 0, 1, 1, 0},
    {"getHostProductString",
     [](AudioEffectX& e) { return VstIntPtr{e.getHostProductString(text)}; },
     audioMasterGetProductString, 0, 0, text, 0, 1, 1, 0},
    {"getHostVendorVersion", [](AudioEffectX& e) { return VstIntPtr{e.getHostVendorVersion()}; },
     audioMasterGetVendorVersion, 0, 0, nullptr, 0, 1200, 1200, 0},
    {"hostVendorSpecific", [](AudioEffectX& e) { return e.hostVendorSpecific(7, 8, &token, 0.5f); },
     audioMasterVendorSpecific, 7, 8, &token, 0.5f, 42, 42, 0},
    {"canHostDo", [](AudioEffectX& e) { return VstIntPtr{e.canHostDo(text)}; }, audioMasterCanDo, 0,
     0, text, 0, 1, 1, 0},
    {"getHostLanguage", [](AudioEffectX& e) { return VstIntPtr{e.getHostLanguage()}; },
     audioMasterGetLanguage, 0, 0, nullptr, 0, 2, 2, 0},
    {"getDirectory", [](AudioEffectX& e) { return address(e.getDirectory()); },
     audioMasterGetDirectory, 0, 0, nullptr, 0, address(&token), address(&token), 0},
    {"updateDisplay", [](AudioEffectX& e) { return VstIntPtr{e.updateDisplay()}; },
     audioMasterUpdateDisplay, 0, 0, nullptr, 0, 1, 1, 0},
    {"sizeWindow", [](AudioEffectX& e) { return VstIntPtr{e.sizeWindow(640, 480)}; },
     audioMasterSizeWindow, 640, 480, nullptr, 0, 1, 1, 0},
    {"openFileSelector",
     [](AudioEffectX& e) {
         return VstIntPtr{e.openFileSelector(reinterpret_cast<VstFileSelect*>(&token))};
     },
     audioMasterOpenFileSelector, 0, 0, &token, 0, 1, 1, 0},
    {"closeFileSelector",
     [](AudioEffectX& e) {
         return VstIntPtr{e.closeFileSelector(reinterpret_cast<VstFileSelect*>(&token))};
     },
     audioMasterCloseFileSelector, 0, 0, &token, 0, 1, 1, 0},
    {"offlineRead",
     [](AudioEffectX& e) {
         return VstIntPtr{e.offlineRead(reinterpret_cast<VstOfflineTask*>(&token), 5, true)};
     },
     audioMasterOfflineRead, 1, 5, &token, 0, 1, 1, 0},
    {"offlineWrite",
     [](AudioEffectX& e) {
         return VstIntPtr{e.offlineWrite(reinterpret_cast<VstOfflineTask*>(&token), 6)};
     },
     audioMasterOfflineWrite, 0, 6, &token, 0, 1, 1, 0},
    {"offlineStart",
     [](AudioEffectX& e) {
         return VstIntPtr{e.offlineStart(reinterpret_cast<VstAudioFile*>(&token), 3, 2)};
     },
     audioMasterOfflineStart, 2, 3, &token, 0, 1, 1, 0},
    {"offlineGetCurrentPass", [](AudioEffectX& e) { return VstIntPtr{e.offlineGetCurrentPass()}; },
     audioMasterOfflineGetCurrentPass, 0, 0, nullptr, 0, 5, 1, 0},
    {"offlineGetCurrentMetaPass",
     [](AudioEffectX& e) { return VstIntPtr{e.offlineGetCurrentMetaPass()}; },
     audioMasterOfflineGetCurrentMetaPass, 0, 0, nullptr, 0, 5, 1, 0},
    {"wantEvents",
     [](AudioEffectX& e) {
         e.wantEvents(1);
         return VstIntPtr{0};
     },
     audioMasterWantMidi, 0, 1, nullptr, 0, 1, 0, 0},
    {"tempoAt", [](AudioEffectX& e) { return VstIntPtr{e.tempoAt(4410)}; }, audioMasterTempoAt, 0,
     4410, nullptr, 0, 1200000, 1200000, 0},
    {"getNumAutomatableParameters",
     [](AudioEffectX& e) { return VstIntPtr{e.getNumAutomatableParameters()}; },
     audioMasterGetNumAutomatableParameters, 0, 0, nullptr, 0, 9, 9, 0},
    {"getParameterQuantization",
     [](AudioEffectX& e) { return VstIntPtr{e.getParameterQuantization()}; },
     audioMasterGetParameterQuantization, 0, 0, nullptr, 0, 9, 9, 0},
    {"needIdle", [](AudioEffectX& e) { return VstIntPtr{e.needIdle()}; }, audioMasterNeedIdle, 0, 0,
     nullptr, 0, 1, 1, 0},
    {"getPreviousPlug", [](AudioEffectX& e) { return address(e.getPreviousPlug(1)); },
     audioMasterGetPreviousPlug, 1, 0, nullptr, 0, address(&token), address(&token), 0},
    {"getNextPlug", [](AudioEffectX& e) { return address(e.getNextPlug(1)); },
     audioMasterGetNextPlug, 1, 0, nullptr, 0, address(&token), address(&token), 0},
    {"willProcessReplacing", [](AudioEffectX& e) { return VstIntPtr{e.willProcessReplacing()}; },
     audioMasterWillReplaceOrAccumulate, 0, 0, nullptr, 0, 1, 1, 0},
    {"setOutputSamplerate",
     [](AudioEffectX& e) { return VstIntPtr{e.setOutputSamplerate(48000.0f)}; },
     audioMasterSetOutputSampleRate, 0, 0, nullptr, 48000.0f, 1, 1, 0},
    {"getInputSpeakerArrangement",
     [](AudioEffectX& e) { return address(e.getInputSpeakerArrangement()); },
     audioMasterGetInputSpeakerArrangement, 0, 0, nullptr, 0, address(&token), address(&token), 0},
    {"getOutputSpeakerArrangement",
     [](AudioEffectX& e) { return address(e.getOutputSpeakerArrangement()); },
     audioMasterGetOutputSpeakerArrangement, 0, 0, nullptr, 0, address(&token), address(&token), 0},
    {"openWindow",
     [](AudioEffectX& e) { return address(e.openWindow(reinterpret_cast<VstWindow*>(&token))); },
     audioMasterOpenWindow, 0, 0, &token, 0, address(text), address(text), 0},
    {"closeWindow",
     [](AudioEffectX& e) { return VstIntPtr{e.closeWindow(reinterpret_cast<VstWindow*>(&token))}; },
     audioMasterCloseWindow, 0, 0, &token, 0, 1, 1, 0},
    {"getChunkFile", [](AudioEffectX& e) { return VstIntPtr{e.getChunkFile(&token)}; },
     audioMasterGetChunkFile, 0, 0, &token, 0, 1, 1, 0},
};

class HostWrapperTest : public ::testing::Test {
  protected:
    void SetUp() override { HostRecorder::current() = &recorder; }
    void TearDown() override { HostRecorder::current() = nullptr; }
    HostRecorder recorder;
};

TEST_F(HostWrapperTest, EachWrapperCallsItsOpcode) {
    for (const WrapperCase& c : kCases) {
        SCOPED_TRACE(c.name);
        WrapperEffect effect(&HostRecorder::callback);
        recorder.calls.clear();
        recorder.answers = {{c.opcode, c.hostAnswer}};
        if (c.opcode == audioMasterVersion) recorder.versionAnswer = c.hostAnswer;
        EXPECT_EQ(c.call(effect), c.withHost);
        ASSERT_EQ(recorder.calls.size(), 1u);
        const auto& call = recorder.calls[0];
        EXPECT_EQ(call.opcode, c.opcode);
        EXPECT_EQ(call.index, c.index);
        EXPECT_EQ(call.value, c.value);
        EXPECT_EQ(call.ptr, c.ptr);
        EXPECT_EQ(call.opt, c.opt);
        EXPECT_EQ(call.effect, effect.getAeffect());
    }
}

TEST_F(HostWrapperTest, WithoutHostEachWrapperAnswersItsFallback) {
    for (const WrapperCase& c : kCases) {
        SCOPED_TRACE(c.name);
        WrapperEffect effect(nullptr);
        EXPECT_EQ(c.call(effect), c.withoutHost);
    }
    EXPECT_TRUE(recorder.calls.empty());
}

TEST_F(HostWrapperTest, BooleanAnswersFollowTheHost) {
    WrapperEffect effect(&HostRecorder::callback);
    recorder.answers = {{audioMasterBeginEdit, 0}, {audioMasterPinConnected, 0}};
    EXPECT_FALSE(effect.beginEdit(0));
    EXPECT_TRUE(effect.isInputConnected(0));
    recorder.versionAnswer = 0;
    EXPECT_EQ(effect.getMasterVersion(), 1);
}

TEST_F(HostWrapperTest, NullPointersAreNotPassedOn) {
    WrapperEffect effect(&HostRecorder::callback);
    recorder.answers = {{audioMasterGetVendorString, 1}, {audioMasterOpenFileSelector, 1}};
    EXPECT_FALSE(effect.getHostVendorString(nullptr));
    EXPECT_FALSE(effect.getHostProductString(nullptr));
    EXPECT_FALSE(effect.canHostDo(nullptr));
    EXPECT_FALSE(effect.openFileSelector(nullptr));
    EXPECT_FALSE(effect.closeFileSelector(nullptr));
    EXPECT_FALSE(effect.getChunkFile(nullptr));
    EXPECT_TRUE(recorder.calls.empty());
}

TEST_F(HostWrapperTest, UpdateSampleRateAndBlockSizeTakeOnlyPositiveAnswers) {
    WrapperEffect effect(&HostRecorder::callback);
    recorder.answers = {{audioMasterGetSampleRate, 96000}, {audioMasterGetBlockSize, 128}};
    EXPECT_EQ(effect.updateSampleRate(), 96000.0);
    EXPECT_EQ(effect.updateBlockSize(), 128);
    recorder.answers = {{audioMasterGetSampleRate, 0}, {audioMasterGetBlockSize, -5}};
    EXPECT_EQ(effect.updateSampleRate(), 96000.0);
    EXPECT_EQ(effect.updateBlockSize(), 128);
    EXPECT_EQ(effect.getSampleRate(), 96000.0f);

    WrapperEffect alone(nullptr);
    EXPECT_EQ(alone.updateSampleRate(), 44100.0);
    EXPECT_EQ(alone.updateBlockSize(), 1024);
}

TEST_F(HostWrapperTest, MasterIdleCallsTheHost) {
    WrapperEffect effect(&HostRecorder::callback);
    effect.masterIdle();
    EXPECT_EQ(recorder.count(audioMasterIdle), 1);
    WrapperEffect alone(nullptr);
    alone.masterIdle();
    EXPECT_EQ(recorder.count(audioMasterIdle), 1);
}

}  // namespace
