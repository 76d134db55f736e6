// The five host parameters, read, written and displayed through the effect record of the built
// module.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/Zelko.h"
#include "support/noise.h"
#include "support/plugin_host.h"

namespace {

using testhost::Plugin;

// The module and this test are built from the same sources, so the object behind the record
// has the layout this test sees; reading it shows what reached the voices.
Zelko& objectOf(Plugin& plugin) {
    return *static_cast<Zelko*>(static_cast<AudioEffect*>(plugin.effect()->object));
}

struct Parameter {
    const char* name;
    const char* display;
    float normalized;
};

constexpr Parameter kDefaults[] = {
    {"Lowpass Filter", "22000", 1.0f},          {"Auto-EQ Threshold", "-60", 30.0f / 90.0f},
    {"Noisegate Gain dB", "55", 55.0f / 70.0f}, {"Output AGC Threshold", "-6", 6.0f / 15.0f},
    {"DNR LPF Disable", "OFF", 0.0f},
};

void expectDefaults(Plugin& plugin) {
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(kDefaults[i].name);
        EXPECT_EQ(plugin.text(effGetParamName, i), kDefaults[i].name);
        EXPECT_EQ(plugin.text(effGetParamDisplay, i), kDefaults[i].display);
        EXPECT_EQ(plugin.text(effGetParamLabel, i), "");
        EXPECT_EQ(plugin.getParameter(i), kDefaults[i].normalized);
    }
}

TEST(Parameters, NamesDisplaysAndValuesAtTheDefaults) {
    Plugin plugin;
    ASSERT_TRUE(plugin);
    expectDefaults(plugin);
    // The longest name is written whole with its NUL, beyond the recommended 8 characters.
    std::vector<char> text(64, '\x7f');
    plugin.dispatch(effGetParamName, 3, 0, text.data());
    EXPECT_EQ(text[20], '\0');
    EXPECT_EQ(text[21], '\x7f');
}

TEST(Parameters, AWriteReachesTheMainProcessorAndEveryVoice) {
    Plugin plugin;
    ASSERT_TRUE(plugin);
    plugin.setParameter(0, 0.5f);
    EXPECT_EQ(plugin.text(effGetParamDisplay, 0), "11500");
    EXPECT_EQ(plugin.getParameter(0), 0.5f);
    Zelko& zelko = objectOf(plugin);
    EXPECT_EQ(zelko.collector().fUITable[0]->getPlain(), 11500.0f);
    for (int v = 0; v < Zelko::kVoiceCount; ++v) {
        EXPECT_EQ(zelko.voice(v).fUITable[0]->getPlain(), 11500.0f) << "voice " << v;
    }
    // No rounding to the step of 100.
    plugin.setParameter(0, 0.25f);
    EXPECT_EQ(plugin.text(effGetParamDisplay, 0), "6250");
    EXPECT_EQ(zelko.voice(9).fUITable[0]->getPlain(), 6250.0f);
}

TEST(Parameters, OutOfRangeValuesAreHeldAtTheBounds) {
    Plugin plugin;
    ASSERT_TRUE(plugin);
    plugin.setParameter(1, 2.0f);
    EXPECT_EQ(plugin.text(effGetParamDisplay, 1), "0");
    EXPECT_EQ(plugin.getParameter(1), 1.0f);
    plugin.setParameter(1, -1.0f);
    EXPECT_EQ(plugin.text(effGetParamDisplay, 1), "-90");
    EXPECT_EQ(plugin.getParameter(1), 0.0f);
    plugin.setParameter(2, 0.9999f);
    EXPECT_EQ(plugin.text(effGetParamDisplay, 2), "69");  // 69.993, truncated
}

TEST(Parameters, TheSwitchTurnsOnAboveOneHalf) {
    Plugin plugin;
    ASSERT_TRUE(plugin);
    plugin.setParameter(4, 0.5f);
    EXPECT_EQ(plugin.text(effGetParamDisplay, 4), "OFF");
    EXPECT_EQ(plugin.getParameter(4), 0.0f);
    plugin.setParameter(4, 0.6f);
    EXPECT_EQ(plugin.text(effGetParamDisplay, 4), "ON");
    EXPECT_EQ(plugin.getParameter(4), 1.0f);
    EXPECT_EQ(objectOf(plugin).voice(4).fUITable[4]->getPlain(), 1.0f);
}

TEST(Parameters, IndicesOutsideTheTableGetFixedAnswers) {
    Plugin plugin;
    ASSERT_TRUE(plugin);
    for (int index : {-1, 5}) {
        SCOPED_TRACE(index);
        EXPECT_EQ(plugin.text(effGetParamName, index), "IndexOut");
        EXPECT_EQ(plugin.text(effGetParamDisplay, index), "IndexOut");
        EXPECT_EQ(plugin.text(effGetParamLabel, index), "");
        EXPECT_EQ(plugin.getParameter(index), 0.0f);
        plugin.setParameter(index, 0.3f);
        VstParameterProperties properties;
        std::memset(&properties, 0x55, sizeof properties);
        EXPECT_EQ(plugin.dispatch(effGetParameterProperties, index, 0, &properties), 0);
        EXPECT_EQ(properties.flags, 0x55555555);
        EXPECT_EQ(properties.label[0], 0x55);
    }
    expectDefaults(plugin);
}

TEST(Parameters, PropertiesOfASliderAndOfTheSwitch) {
    Plugin plugin;
    ASSERT_TRUE(plugin);
    VstParameterProperties properties;
    std::memset(&properties, 0, sizeof properties);
    properties.flags = kVstParameterCanRamp;
    properties.largeStepInteger = 77;
    EXPECT_EQ(plugin.dispatch(effGetParameterProperties, 0, 0, &properties), 1);
    EXPECT_EQ(properties.flags, kVstParameterCanRamp);  // no control holds the gate role
    EXPECT_STREQ(properties.label, "Lowpass Filter");
    EXPECT_EQ(properties.minInteger, 1000);
    EXPECT_EQ(properties.maxInteger, 22000);
    EXPECT_EQ(properties.stepInteger, 100);
    EXPECT_EQ(properties.largeStepInteger, 77);

    std::memset(&properties, 0x11, sizeof properties);
    EXPECT_EQ(plugin.dispatch(effGetParameterProperties, 4, 0, &properties), 1);
    EXPECT_STREQ(properties.label, "DNR LPF Disable");
    EXPECT_EQ(properties.flags, 0x11111111);
    EXPECT_EQ(properties.minInteger, 0x11111111);
    EXPECT_EQ(properties.maxInteger, 0x11111111);
    EXPECT_EQ(properties.stepInteger, 0x11111111);
}

// A host announces the rate again when its audio device restarts and does not send the
// parameters again, so the user's settings must survive the re-initialisation: every control
// keeps its value in the main processor and in the voices, and the state is cleared as for a
// new instance, so the output at the new rate is that of a fresh instance given the same values.
TEST(Parameters, ASampleRateChangeKeepsEveryValueAndClearsTheSignalState) {
    const float values[] = {0.1f, 0.9f, 0.2f, 0.7f, 1.0f};
    const std::vector<float> input = testsignal::noise(6000);
    auto render = [&](Plugin& plugin) {
        std::vector<float> left(input.size()), right(input.size());
        plugin.processReplacing(input.data(), left.data(), right.data(),
                                static_cast<int>(input.size()));
        left.insert(left.end(), right.begin(), right.end());
        return left;
    };

    Plugin changed;
    ASSERT_TRUE(changed);
    for (int i = 0; i < 5; ++i) changed.setParameter(i, values[i]);
    render(changed);  // leaves signal state behind that the rate change must clear
    changed.dispatch(effSetSampleRate, 0, 0, nullptr, 48000.0f);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(changed.getParameter(i), i == 4 ? 1.0f : values[i]) << "parameter " << i;
        for (int v = 0; v < Zelko::kVoiceCount; ++v) {
            EXPECT_EQ(objectOf(changed).voice(v).fUITable[i]->getPlain(),
                      objectOf(changed).collector().fUITable[i]->getPlain());
        }
    }
    EXPECT_EQ(changed.text(effGetParamDisplay, 4), "ON");

    Plugin fresh;
    fresh.dispatch(effSetSampleRate, 0, 0, nullptr, 48000.0f);
    for (int i = 0; i < 5; ++i) fresh.setParameter(i, values[i]);
    EXPECT_EQ(render(changed), render(fresh));
}

}  // namespace
