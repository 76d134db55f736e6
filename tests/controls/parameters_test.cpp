// Parameter requests over hand-built tables; the product's own table is covered end to end
// through the effect record.
#include "controls/parameters.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

namespace {

class ToyProcessor : public dsp {
  public:
    int inputCount() override { return 0; }
    int outputCount() override { return 1; }
    void declareControls(UIReal<float>* receiver) override {
        receiver->declareProperty(&level, "unit", "decibels full scale");
        receiver->addHorizontalSliderControl("level", &level, 0, -80.5f, 6.9f, 0.5f);
        receiver->addButtonControl("gate", &gate);
        receiver->addHorizontalSliderControl(kLongLabel, &other, 0, 0, 1, 1);
    }
    int sampleRate() override { return 0; }
    void initialize(int) override {}
    void initializeInstance(int) override { level = gate = other = 0; }
    void computeConstants(int) override {}
    void resetControls() override {}
    void clearState() override {}
    dsp* duplicate() override { return new ToyProcessor; }
    void declareMetadata(metadataTable*) override {}
    void process(int, float**, float**) override {}
    void processAt(double, int, float**, float**) override {}

    static constexpr const char* kLongLabel =
        "a label of seventy characters, longer than the record's label field!!";
    float level = 0, gate = 0, other = 0;
};

struct ToyPlugin {
    ToyProcessor main;
    vstUI mainCollector;
    std::array<std::unique_ptr<Voice>, 3> voices;
    ParameterMap map;

    ToyPlugin() : map((main.declareControls(&mainCollector), mainCollector), voices) {
        for (auto& voice : voices)
            voice = std::make_unique<Voice>(std::make_unique<ToyProcessor>(), 1);
    }
    ToyProcessor& voice(int i) { return static_cast<ToyProcessor&>(*voices[i]->processor); }
};

TEST(ParameterMap, WritesReachTheMainProcessorAndEveryVoice) {
    ToyPlugin plugin;
    ASSERT_EQ(plugin.map.count(), 3);
    plugin.map.setParameter(1, 0.9f);
    EXPECT_EQ(plugin.main.gate, 1.0f);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(plugin.voice(i).gate, 1.0f);
    plugin.map.setParameter(0, 1.0f);
    EXPECT_EQ(plugin.main.level, 6.9f);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(plugin.voice(i).level, 6.9f);
    // Reads come from the main table only.
    plugin.voice(0).level = -80.5f;
    EXPECT_EQ(plugin.map.getParameter(0), 1.0f);
}

TEST(ParameterMap, InvalidIndicesChangeNothingAndGetFixedAnswers) {
    ToyPlugin plugin;
    for (int index : {-1, 3, 1 << 30}) {
        plugin.map.setParameter(index, 1.0f);
        EXPECT_EQ(plugin.map.getParameter(index), 0.0f);
        char text[32] = "untouched";
        plugin.map.getParameterName(index, text);
        EXPECT_STREQ(text, "IndexOut");
        std::strcpy(text, "untouched");
        plugin.map.getParameterDisplay(index, text);
        EXPECT_STREQ(text, "IndexOut");
        std::strcpy(text, "untouched");
        plugin.map.getParameterLabel(index, text);
        EXPECT_STREQ(text, "");
        EXPECT_FALSE(plugin.map.describe(index).has_value());
    }
    EXPECT_EQ(plugin.main.level, 0.0f);
    EXPECT_EQ(plugin.main.gate, 0.0f);
    EXPECT_EQ(plugin.main.other, 0.0f);
}

TEST(ParameterMap, UnitLabelsAreCutToEightCharacters) {
    ToyPlugin plugin;
    char text[32];
    std::memset(text, 0x7f, sizeof text);
    plugin.map.getParameterLabel(0, text);
    EXPECT_STREQ(text, "decibels");
    plugin.map.getParameterLabel(1, text);
    EXPECT_STREQ(text, "");
}

TEST(ParameterMap, DisplaysFollowTheControl) {
    ToyPlugin plugin;
    plugin.map.setParameter(0, 0.0f);
    char text[32];
    plugin.map.getParameterDisplay(0, text);
    EXPECT_STREQ(text, "-80.5");
    plugin.map.getParameterDisplay(1, text);
    EXPECT_STREQ(text, "OFF");
}

TEST(ParameterMap, DescriptionsMarkTheGateAsASwitchAndTruncateSliderRanges) {
    ToyPlugin plugin;
    const auto gate = plugin.map.describe(1);
    ASSERT_TRUE(gate.has_value());
    EXPECT_TRUE(gate->isSwitch);
    EXPECT_STREQ(gate->label, "gate");
    EXPECT_FALSE(gate->hasIntegerRange);

    const auto level = plugin.map.describe(0);
    ASSERT_TRUE(level.has_value());
    EXPECT_FALSE(level->isSwitch);
    EXPECT_STREQ(level->label, "level");
    ASSERT_TRUE(level->hasIntegerRange);
    EXPECT_EQ(level->minInteger, -80);  // toward zero
    EXPECT_EQ(level->maxInteger, 6);
    EXPECT_EQ(level->stepInteger, 0);

    // The description carries the whole label; cutting it to a record field is the format's job.
    EXPECT_STREQ(plugin.map.describe(2)->label, ToyProcessor::kLongLabel);
}

}  // namespace
