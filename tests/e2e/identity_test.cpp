// Identity, configuration, programs, pins and capabilities, read through the effect record of
// the built module as a host reads them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "support/plugin_host.h"
#include "test_processors.h"

namespace {

using testhost::HostRecorder;
using testhost::Plugin;

TEST(Identity, RecordAnnouncesTheEffect) {
    Plugin plugin;
    ASSERT_TRUE(plugin);
    const AEffect* e = plugin.effect();
    EXPECT_EQ(e->magic, kEffectMagic);
    EXPECT_EQ(e->numInputs, 2);
    EXPECT_EQ(e->numOutputs, 2);
    EXPECT_EQ(e->flags, 16);
    EXPECT_EQ(e->numPrograms, 1);
    EXPECT_EQ(e->numParams, 5);
    EXPECT_EQ(e->uniqueID, 0x5A454C4B);  // Z, E, L, K
    EXPECT_EQ(e->uniqueID, fourCharCode('Z', 'E', 'L', 'K'));
    EXPECT_EQ(e->version, 1);
    EXPECT_EQ(e->ioRatio, 1.0f);
    // The chain's delay, so that hosts line the track up with the others.
    EXPECT_EQ(e->initialDelay, 2658);
    EXPECT_EQ(plugin.dispatch(effGetPlugCategory), kPlugCategUnknown);
    EXPECT_EQ(plugin.dispatch(effGetNumMidiInputChannels), 1);
    EXPECT_EQ(plugin.dispatch(effGetNumMidiOutputChannels), 0);
}

TEST(Identity, NamesComeFromTheMetadata) {
    Plugin plugin;
    ASSERT_TRUE(plugin);
    std::vector<char> text(100, '\x7f');
    EXPECT_EQ(plugin.dispatch(effGetEffectName, 0, 0, text.data()), 1);
    EXPECT_STREQ(text.data(), "Tavrel_ORB-VN52k8e-22k");
    // The rest of the 33-byte field is cleared, nothing beyond it touched.
    for (int i = 22; i <= 32; ++i) EXPECT_EQ(text[i], '\0') << i;
    EXPECT_EQ(text[33], '\x7f');

    EXPECT_EQ(plugin.text(effGetProductString), "Tavrel_ORB-VN52k8e-22k");
    EXPECT_EQ(plugin.text(effGetVendorString), "Velmara");
    EXPECT_EQ(plugin.dispatch(effGetVendorVersion), 0);
}

TEST(Identity, CanDoAnswers) {
    Plugin plugin;
    ASSERT_TRUE(plugin);
    auto canDo = [&](const char* what) {
        std::string text = what;
        return plugin.dispatch(effCanDo, 0, 0, text.data());
    };
    EXPECT_EQ(canDo("receiveVstEvents"), 1);
    EXPECT_EQ(canDo("receiveVstMidiEvent"), 1);
    EXPECT_EQ(canDo("midiProgramNames"), 1);
    EXPECT_EQ(canDo("sendVstMidiEvent"), -1);
    EXPECT_EQ(canDo("bypass"), -1);
    EXPECT_EQ(canDo("receiveVstEvents "), -1);
    EXPECT_EQ(canDo(""), -1);
}

TEST(Identity, ResumeAsksTheHostForMidi) {
    HostRecorder recorder;
    Plugin plugin(recorder);
    ASSERT_TRUE(plugin);
    plugin.dispatch(effMainsChanged, 0, 1);
    ASSERT_EQ(recorder.count(audioMasterWantMidi), 1);
    for (const auto& call : recorder.calls) {
        if (call.opcode == audioMasterWantMidi) {
            EXPECT_EQ(call.value, 1);
        }
    }
}

TEST(Identity, PinProperties) {
    Plugin plugin;
    ASSERT_TRUE(plugin);
    for (VstInt32 opcode : {effGetInputProperties, effGetOutputProperties}) {
        const bool input = opcode == effGetInputProperties;
        for (int index : {0, 1}) {
            VstPinProperties pin;
            std::memset(&pin, 0x7f, sizeof pin);
            pin.arrangementType = 1234;
            EXPECT_EQ(plugin.dispatch(opcode, index, 0, &pin), 1);
            const std::string n = std::to_string(index);
            EXPECT_STREQ(
                pin.label,
                ((input ? "Orvid Zelko DSP input: " : "Orvid Zelko DSP output: ") + n).c_str());
            EXPECT_STREQ(pin.shortLabel, ((input ? "In " : "Out ") + n).c_str());
            EXPECT_EQ(pin.flags, kVstPinIsActive | kVstPinIsStereo);
            EXPECT_EQ(pin.arrangementType, 1234);
        }
        for (int index : {2, -1}) {
            VstPinProperties pin;
            std::memset(&pin, 0x55, sizeof pin);
            EXPECT_EQ(plugin.dispatch(opcode, index, 0, &pin), 0);
            EXPECT_EQ(pin.flags, 0x55555555);
            EXPECT_EQ(pin.label[0], 0x55);
        }
    }
}

TEST(Identity, ProgramNamesAreLimitedToTwentyFourCharacters) {
    Plugin plugin;
    ASSERT_TRUE(plugin);
    EXPECT_EQ(plugin.text(effGetProgramName), "Default");
    EXPECT_EQ(plugin.dispatch(effGetProgram), 0);

    std::vector<char> text(64, '\x7f');
    EXPECT_EQ(plugin.dispatch(effGetProgramNameIndexed, 0, 0, text.data()), 1);
    EXPECT_STREQ(text.data(), "Default");
    std::strcpy(text.data(), "unchanged");
    EXPECT_EQ(plugin.dispatch(effGetProgramNameIndexed, 1, 0, text.data()), 0);
    EXPECT_STREQ(text.data(), "unchanged");

    std::string name = "A thirty character long name!!";
    ASSERT_EQ(name.size(), 30u);
    plugin.dispatch(effSetProgramName, 0, 0, name.data());
    std::fill(text.begin(), text.end(), '\x7f');
    plugin.dispatch(effGetProgramName, 0, 0, text.data());
    EXPECT_EQ(std::string(text.data()), name.substr(0, 24));
    EXPECT_EQ(text[24], '\0');
    EXPECT_EQ(text[25], '\x7f');
}

TEST(Identity, OnlyProgramZeroExists) {
    Plugin plugin;
    ASSERT_TRUE(plugin);
    testing::internal::CaptureStderr();
    plugin.dispatch(effSetProgram, 0, 1);  // the dispatcher keeps values of 1 and more away
    plugin.dispatch(effSetProgram, 0, -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "*** Zelko vsti: setting program to -1 is OUT OF RANGE\n");
    EXPECT_EQ(plugin.dispatch(effGetProgram), 0);
    plugin.dispatch(effSetProgram, 0, 0);
    EXPECT_EQ(plugin.dispatch(effGetProgram), 0);
}

TEST(Identity, MidiProgramRecords) {
    Plugin plugin;
    ASSERT_TRUE(plugin);
    MidiProgramName name;
    std::memset(&name, 0x7f, sizeof name);
    name.thisProgramIndex = 0;
    EXPECT_EQ(plugin.dispatch(effGetMidiProgramName, 5, 0, &name), 1);
    EXPECT_STREQ(name.name, "Default");
    for (int i = 7; i <= 24; ++i) EXPECT_EQ(name.name[i], '\0') << i;
    EXPECT_EQ(name.midiProgram, 0);
    EXPECT_EQ(name.midiBankMsb, -1);
    EXPECT_EQ(name.midiBankLsb, -1);
    EXPECT_EQ(name.reserved, 0);
    EXPECT_EQ(name.parentCategoryIndex, -1);
    EXPECT_EQ(name.flags, 0);

    std::memset(&name, 0x7f, sizeof name);
    name.thisProgramIndex = 1;
    EXPECT_EQ(plugin.dispatch(effGetMidiProgramName, 0, 0, &name), 0);
    EXPECT_EQ(name.name[0], '\x7f');

    std::memset(&name, 0x7f, sizeof name);
    EXPECT_EQ(plugin.dispatch(effGetCurrentMidiProgram, 3, 0, &name), 0);
    EXPECT_EQ(name.thisProgramIndex, 0);
    EXPECT_STREQ(name.name, "Default");
    EXPECT_EQ(plugin.dispatch(effGetCurrentMidiProgram, 16, 0, &name), -1);
    EXPECT_EQ(plugin.dispatch(effGetCurrentMidiProgram, -1, 0, &name), -1);
    EXPECT_EQ(plugin.dispatch(effGetCurrentMidiProgram, 0, 0, nullptr), -1);

    MidiProgramCategory category;
    std::memset(&category, 0x7f, sizeof category);
    category.thisCategoryIndex = 42;
    EXPECT_EQ(plugin.dispatch(effGetMidiProgramCategory, 9, 0, &category), 1);
    EXPECT_STREQ(category.name, "Zelko Patch");
    for (int i = 11; i < 25; ++i) EXPECT_EQ(category.name[i], '\0') << i;
    EXPECT_EQ(category.parentCategoryIndex, -1);
    EXPECT_EQ(category.flags, 0);
    EXPECT_EQ(category.thisCategoryIndex, 42);
}

// Unique identifiers of plug-ins built around other processors.

VstInt32 uniqueIdOf(const char* id, std::vector<const char*> labels = {"a"}) {
    testproc::ZelkoPtr zelko =
        testproc::build(new testproc::IdentityProcessor(id, std::move(labels)));
    return zelko->getAeffect()->uniqueID;
}

TEST(UniqueIdentifier, ADeclaredIdGivesItsFirstFourCharacters) {
    EXPECT_EQ(uniqueIdOf("abc"), fourCharCode('a', 'b', 'c', '\0'));
    EXPECT_EQ(uniqueIdOf("WXYZ and more"), fourCharCode('W', 'X', 'Y', 'Z'));
    EXPECT_EQ(uniqueIdOf("Q"), fourCharCode('Q', '\0', '\0', '\0'));
    // The first character reads as unsigned, the other three as signed 8-bit values.
    const std::int64_t expected = 0xC1LL * (1 << 24) - 23LL * (1 << 16) + 'x' * (1 << 8) - 2;
    EXPECT_EQ(uniqueIdOf("\xC1\xE9x\xFE"),
              static_cast<VstInt32>(static_cast<std::uint32_t>(expected)));
}

TEST(UniqueIdentifier, WithoutAnIdTheLabelsTellPluginsApart) {
    constexpr VstInt32 zelk = 0x5A454C4B;
    // "ab" and "cd": 97 + 98 + 99 + 100 = 394; 394 remainder 128 = 10.
    EXPECT_EQ(uniqueIdOf("", {"ab", "cd"}), zelk + 10);
    // No "id" at all reads the fallback "ZELKO".
    EXPECT_EQ(uniqueIdOf(nullptr, {"ab", "cd"}), zelk);
    // A negative sum keeps its sign: -23 - 23 - 100 = -146, remainder -18.
    EXPECT_EQ(uniqueIdOf("", {"\xE9\xE9", "\x9C"}), zelk - 18);
    EXPECT_EQ(uniqueIdOf("", {}), zelk);
}

TEST(UniqueIdentifier, VendorVersionIsTheDeclaredVersionTruncated) {
    testproc::ZelkoPtr zelko = testproc::build(new testproc::IdentityProcessor("abc", {"a"}));
    EXPECT_EQ(zelko->getVendorVersion(), 3);
    char name[kVstMaxProductStrLen + 1];
    EXPECT_TRUE(zelko->getEffectName(name));
    EXPECT_STREQ(name, "Effect Name goes here");
    EXPECT_TRUE(zelko->getProductString(name));
    EXPECT_STREQ(name, "Product String goes here");
    EXPECT_TRUE(zelko->getVendorString(name));
    EXPECT_STREQ(name, "Vendor String goes here");
    EXPECT_EQ(zelko->canDo(nullptr), -1);
    EXPECT_FALSE(zelko->getEffectName(nullptr));
}

TEST(SampleRate, ReinitialisesEveryProcessorAtTheTruncatedRate) {
    auto* processor = new testproc::IdentityProcessor("abc", {"a"});
    testproc::ZelkoPtr zelko = testproc::build(processor);
    EXPECT_EQ(processor->rate, 44100);
    zelko->setSampleRate(48000.9f);
    EXPECT_EQ(zelko->getSampleRate(), 48000.9f);
    EXPECT_EQ(processor->rate, 48000);
    for (int v = 0; v < Zelko::kVoiceCount; ++v) {
        EXPECT_EQ(zelko->voice(v).processor->sampleRate(), 48000);
    }
}

TEST(SampleRate, RatesOutsideTheIntegerRangeSaturateAndNonFiniteRatesAreIgnored) {
    auto* processor = new testproc::IdentityProcessor("abc", {"a"});
    testproc::ZelkoPtr zelko = testproc::build(processor);
    zelko->setSampleRate(1e12f);
    EXPECT_EQ(processor->rate, std::numeric_limits<int>::max());
    zelko->setSampleRate(-1e12f);
    EXPECT_EQ(processor->rate, std::numeric_limits<int>::min());
    zelko->setSampleRate(96000.0f);
    for (float broken :
         {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
          -std::numeric_limits<float>::infinity()}) {
        processor->rate = -7;
        zelko->setSampleRate(broken);
        EXPECT_EQ(processor->rate, -7);
        EXPECT_EQ(zelko->getSampleRate(), 96000.0f);
    }
}

TEST(Construction, AProcessorWithoutInputsOrOutputsIsReportedAndStillBuilt) {
    class Silent : public testproc::IdentityProcessor {
      public:
        Silent() : IdentityProcessor(nullptr, {}) {}
        int inputCount() override { return 0; }
        int outputCount() override { return 0; }
        dsp* duplicate() override { return new Silent; }
    };
    testing::internal::CaptureStderr();
    testproc::ZelkoPtr zelko = testproc::build(new Silent);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "*** zelko: vsti: No signal inputs or outputs, and Zelko has no MIDI outputs!\n");
    ASSERT_TRUE(zelko);
    EXPECT_EQ(zelko->getAeffect()->flags, effFlagsCanReplacing | effFlagsIsSynth);
    zelko->processReplacing(nullptr, nullptr, 32);  // nothing to render into, nothing happens
}

TEST(Identity, ALabelLongerThanThePropertiesFieldIsCutInsideIt) {
    static const char longLabel[] =
        "a label of seventy characters, longer than the record's label field!!";
    testproc::ZelkoPtr zelko = testproc::build(new testproc::IdentityProcessor("abc", {longLabel}));
    VstParameterProperties properties;
    std::memset(&properties, 0x33, sizeof properties);
    ASSERT_TRUE(zelko->getParameterProperties(0, &properties));
    EXPECT_EQ(std::string(properties.label), std::string(longLabel, 63));
    EXPECT_EQ(properties.flags, 0x33333333);  // the field after the label is untouched
}

}  // namespace
