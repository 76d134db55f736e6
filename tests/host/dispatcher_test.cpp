// The opcode dispatch as a host sees it: the answers of the built module to the opcodes of the
// VST 2.4 interface, unknown opcodes, and null pointers where a host should have passed one.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "tests/support/plugin_host.h"

namespace {

using testhost::HostRecorder;
using testhost::Plugin;

class DispatcherTest : public ::testing::Test {
  protected:
    void SetUp() override {
        plugin = std::make_unique<Plugin>(recorder);
        ASSERT_TRUE(*plugin);
        recorder.calls.clear();
    }
    void TearDown() override {
        plugin.reset();
        HostRecorder::current() = nullptr;
    }

    HostRecorder recorder;
    std::unique_ptr<Plugin> plugin;
};

TEST_F(DispatcherTest, FixedAnswers) {
    EXPECT_EQ(plugin->dispatch(effIdentify), fourCharCode('N', 'v', 'E', 'f'));
    EXPECT_EQ(plugin->dispatch(effIdentify), 0x4E764566);
    EXPECT_EQ(plugin->dispatch(effGetVstVersion), 2400);
    EXPECT_EQ(plugin->dispatch(effGetPlugCategory), kPlugCategUnknown);
    EXPECT_EQ(plugin->dispatch(effGetTailSize), 0);
    EXPECT_EQ(plugin->dispatch(effOpen), 0);
    EXPECT_EQ(plugin->dispatch(effSetSampleRate, 0, 0, nullptr, 48000.0f), 0);
    EXPECT_EQ(plugin->dispatch(effSetBlockSize, 0, 512), 0);
    EXPECT_EQ(plugin->dispatch(effSetTotalSampleToProcess, 0, 777), 777);
}

TEST_F(DispatcherTest, EveryParameterCanBeAutomated) {
    for (VstInt32 index : {0, 1, 4, 5, 1000, -1, INT_MIN, INT_MAX}) {
        EXPECT_EQ(plugin->dispatch(effCanBeAutomated, index), 1) << "index " << index;
    }
}

TEST_F(DispatcherTest, SetProgramStaysWithinTheOneProgram) {
    ASSERT_EQ(plugin->dispatch(effGetProgram), 0);
    for (VstIntPtr value : {VstIntPtr{1}, VstIntPtr{2}, VstIntPtr{1} << 40, VstIntPtr{-1},
                            VstIntPtr{INT_MIN}, -(VstIntPtr{1} << 40)}) {
        plugin->dispatch(effSetProgram, 0, value);
        EXPECT_EQ(plugin->dispatch(effGetProgram), 0) << "value " << value;
    }
    plugin->dispatch(effSetProgram, 0, 0);
    EXPECT_EQ(plugin->dispatch(effGetProgram), 0);
}

TEST_F(DispatcherTest, ResumeAsksForMidiAndSuspendDoesNot) {
    plugin->dispatch(effMainsChanged, 0, 0);
    EXPECT_EQ(recorder.count(audioMasterWantMidi), 0);
    char receive[] = "receiveVstMidiEvent";
    if (plugin->dispatch(effCanDo, 0, 0, receive) == 1) {
        plugin->dispatch(effMainsChanged, 0, 1);
        ASSERT_EQ(recorder.count(audioMasterWantMidi), 1);
        EXPECT_EQ(recorder.calls.back().value, 1);
        EXPECT_EQ(recorder.calls.back().effect, plugin->effect());
    }
}

// A snapshot of everything a dispatcher call could change that a host can see.
struct Observable {
    std::vector<unsigned char> record;
    std::vector<float> parameters;
    VstIntPtr program;

    static Observable of(Plugin& plugin) {
        Observable o;
        const auto* bytes = reinterpret_cast<const unsigned char*>(plugin.effect());
        o.record.assign(bytes, bytes + sizeof(AEffect));
        for (VstInt32 i = 0; i < plugin.effect()->numParams; ++i) {
            o.parameters.push_back(plugin.getParameter(i));
        }
        o.program = plugin.dispatch(effGetProgram);
        return o;
    }
    bool operator==(const Observable&) const = default;
};

TEST_F(DispatcherTest, UnknownAndRetiredOpcodesAnswerZeroAndChangeNothing) {
    std::vector<VstInt32> opcodes = {9,  16, 17, 18, 20, 21, 28, 30, 31,     32,      36,
                                     37, 43, 46, 53, 54, 55, 57, -1, 100000, INT_MAX, INT_MIN};
    for (VstInt32 opcode = 80; opcode < 160; ++opcode) opcodes.push_back(opcode);
    // Give the parameters values other than their defaults, so a reset would show.
    for (VstInt32 i = 0; i < plugin->effect()->numParams; ++i) plugin->setParameter(i, 0.375f);
    const Observable before = Observable::of(*plugin);
    recorder.calls.clear();
    for (VstInt32 opcode : opcodes) {
        std::vector<char> buffer(256, '\x5a');
        const std::vector<char> pristine = buffer;
        EXPECT_EQ(plugin->dispatch(opcode, 3, 7, buffer.data(), 0.25f), 0) << "opcode " << opcode;
        EXPECT_EQ(buffer, pristine) << "opcode " << opcode;
    }
    EXPECT_TRUE(recorder.calls.empty());
    EXPECT_TRUE(Observable::of(*plugin) == before);
}

TEST_F(DispatcherTest, NonFiniteSampleRatesAreIgnored) {
    for (VstInt32 i = 0; i < plugin->effect()->numParams; ++i) plugin->setParameter(i, 0.375f);
    const Observable before = Observable::of(*plugin);
    for (float rate : {NAN, INFINITY, -INFINITY}) {
        EXPECT_EQ(plugin->dispatch(effSetSampleRate, 0, 0, nullptr, rate), 0);
    }
    // A rejected rate re-initialises nothing: the parameter values are still the written ones.
    EXPECT_TRUE(Observable::of(*plugin) == before);
}

// Zero, negative and huge rates are numbers: the processors are re-initialised at the clamped
// rate with the parameters kept, and the plug-in keeps producing finite audio.
TEST_F(DispatcherTest, FiniteSampleRatesOutsideTheUsefulRangeStillReinitialise) {
    for (float rate : {0.0f, -44100.0f, 3.0e9f, -3.0e9f}) {
        plugin->setParameter(0, 0.375f);
        EXPECT_EQ(plugin->dispatch(effSetSampleRate, 0, 0, nullptr, rate), 0);
        EXPECT_EQ(plugin->getParameter(0), 0.375f) << "rate " << rate;
        std::vector<float> in(256, 0.5f), left(256), right(256);
        plugin->processReplacing(in.data(), left.data(), right.data(), 256);
        for (int i = 0; i < 256; ++i) {
            ASSERT_TRUE(std::isfinite(left[i]) && std::isfinite(right[i])) << "rate " << rate;
        }
    }
}

// Opcodes that hand the plug-in a text or a record through `ptr`: with a null pointer they answer
// their failure value and the plug-in touches nothing.
TEST_F(DispatcherTest, NullPointersFromTheHostAreRefused) {
    struct Case {
        VstInt32 opcode;
        VstIntPtr failure;
    };
    const Case cases[] = {
        {effSetProgramName, 0},
        {effGetProgramName, 0},
        {effGetParamLabel, 0},
        {effGetParamDisplay, 0},
        {effGetParamName, 0},
        {effEditGetRect, 0},
        {effGetChunk, 0},
        {effSetChunk, 0},
        {effProcessEvents, 0},
        {effString2Parameter, 0},
        {effGetProgramNameIndexed, 0},
        {effGetInputProperties, 0},
        {effGetOutputProperties, 0},
        {effOfflineNotify, 0},
        {effOfflinePrepare, 0},
        {effOfflineRun, 0},
        {effProcessVarIo, 0},
        {effSetSpeakerArrangement, 0},
        {effGetEffectName, 0},
        {effGetVendorString, 0},
        {effGetProductString, 0},
        {effCanDo, 0},
        {effGetParameterProperties, 0},
        {effGetMidiProgramName, 0},
        {effGetCurrentMidiProgram, -1},
        {effGetMidiProgramCategory, 0},
        {effGetMidiKeyName, 0},
        {effGetSpeakerArrangement, 0},
        {effShellGetNextPlugin, 0},
        {effBeginLoadBank, 0},
        {effBeginLoadProgram, 0},
    };
    const Observable before = Observable::of(*plugin);
    for (const Case& c : cases) {
        for (VstInt32 index : {0, 1}) {
            EXPECT_EQ(plugin->dispatch(c.opcode, index, 0, nullptr), c.failure)
                << "opcode " << c.opcode << " index " << index;
        }
    }
    EXPECT_TRUE(Observable::of(*plugin) == before);
    EXPECT_TRUE(recorder.calls.empty());
}

}  // namespace
