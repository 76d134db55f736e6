#include "controls/vstUI.h"

#include <gtest/gtest.h>

#include <string>

#include "controls/Voice.h"

namespace {

TEST(Collector, StartsEmptyWithoutRoles) {
    vstUI ui;
    EXPECT_EQ(ui.size(), 0);
    EXPECT_TRUE(ui.controlProperties.empty());
    EXPECT_EQ(ui.freqIndex, -1);
    EXPECT_EQ(ui.gainIndex, -1);
    EXPECT_EQ(ui.gateIndex, -1);
    EXPECT_EQ(ui.prevfreqIndex, -1);
    EXPECT_EQ(ui.pitchbendIndex, -1);
    EXPECT_EQ(ui.sampleWidth(), 4);
}

TEST(Collector, CollectsControlsInOrderAndSkipsMetersAndGroups) {
    float a = 0, b = 0, c = 0, d = 0, e = 0, f = 0;
    vstUI ui;
    ui.openVerticalGroup("outer");
    ui.addHorizontalMeter("meter", &a, 0, 1);
    ui.addVerticalSliderControl("v", &b, 1, 0, 2, 1);
    ui.openTabGroup("tab");
    ui.addVerticalMeter("meter 2", &a, 0, 1);
    ui.addHorizontalSliderControl("h", &c, 1, 0, 2, 1);
    ui.addNumberEntryControl("n", &d, 1, 0, 2, 0.5f);
    ui.addSoundFile("sound", "file.wav");
    ui.addButtonControl("button", &e);
    ui.closeGroup();
    ui.addCheckButtonControl("check", &f);
    ui.closeGroup();

    ASSERT_EQ(ui.size(), 5);
    const char* labels[] = {"v", "h", "n", "button", "check"};
    float* fields[] = {&b, &c, &d, &e, &f};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(ui.fUITable[i]->label, labels[i]);
        EXPECT_EQ(ui.fUITable[i]->target, fields[i]);
    }
    EXPECT_NE(dynamic_cast<vstSlider*>(ui.fUITable[2].get()), nullptr);
    EXPECT_EQ(dynamic_cast<vstSlider*>(ui.fUITable[2].get())->decimals, 1);
    EXPECT_NE(dynamic_cast<vstButton*>(ui.fUITable[3].get()), nullptr);
    EXPECT_NE(dynamic_cast<vstCheckButton*>(ui.fUITable[4].get()), nullptr);
}

TEST(Collector, AddingAControlLeavesItsFieldAlone) {
    float field = 123.0f;
    vstUI ui;
    ui.addHorizontalSliderControl("s", &field, 5, 0, 10, 1);
    ui.addCheckButtonControl("c", &field);
    EXPECT_EQ(field, 123.0f);
}

TEST(Collector, SlidersTakeEveryRoleByExactLabel) {
    float f[6] = {};
    vstUI ui;
    ui.addHorizontalSliderControl("x", &f[0], 0, 0, 1, 1);
    ui.addHorizontalSliderControl("freq", &f[1], 0, 0, 1, 1);
    ui.addVerticalSliderControl("gain", &f[2], 0, 0, 1, 1);
    ui.addNumberEntryControl("gate", &f[3], 0, 0, 1, 1);
    ui.addHorizontalSliderControl("prevfreq", &f[4], 0, 0, 1, 1);
    ui.addHorizontalSliderControl("pitchbend", &f[5], 0, 0, 1, 1);
    EXPECT_EQ(ui.freqIndex, 1);
    EXPECT_EQ(ui.gainIndex, 2);
    EXPECT_EQ(ui.gateIndex, 3);
    EXPECT_EQ(ui.prevfreqIndex, 4);
    EXPECT_EQ(ui.pitchbendIndex, 5);
}

TEST(Collector, RoleLabelsMatchWholeAndCaseSensitive) {
    float f = 0;
    vstUI ui;
    ui.addHorizontalSliderControl("Gain", &f, 0, 0, 1, 1);
    ui.addHorizontalSliderControl("gain ", &f, 0, 0, 1, 1);
    ui.addHorizontalSliderControl("gai", &f, 0, 0, 1, 1);
    ui.addHorizontalSliderControl("FREQ", &f, 0, 0, 1, 1);
    EXPECT_EQ(ui.gainIndex, -1);
    EXPECT_EQ(ui.freqIndex, -1);
}

TEST(Collector, ButtonsOnlyTakeTheGateRoleAndCheckButtonsNone) {
    float f = 0;
    vstUI ui;
    ui.addButtonControl("gain", &f);
    ui.addButtonControl("freq", &f);
    ui.addCheckButtonControl("gate", &f);
    EXPECT_EQ(ui.gainIndex, -1);
    EXPECT_EQ(ui.freqIndex, -1);
    EXPECT_EQ(ui.gateIndex, -1);
    ui.addButtonControl("gate", &f);
    EXPECT_EQ(ui.gateIndex, 3);
}

TEST(Collector, TheLastControlWithARoleLabelHoldsTheRole) {
    float f = 0;
    vstUI ui;
    ui.addHorizontalSliderControl("gate", &f, 0, 0, 1, 1);
    ui.addButtonControl("gate", &f);
    EXPECT_EQ(ui.gateIndex, 1);
    ui.addHorizontalSliderControl("gate", &f, 0, 0, 1, 1);
    EXPECT_EQ(ui.gateIndex, 2);
}

TEST(Collector, PropertiesAreKeptPerFieldAndKeyAndReplaced) {
    float a = 0, b = 0, meter = 0;
    vstUI ui;
    ui.declareProperty(&a, "unit", "Hz");
    ui.declareProperty(&a, "controls", "05");
    ui.declareProperty(&b, "unit", "dB");
    ui.declareProperty(&meter, "db", "");  // meters keep their properties too
    // The key is matched by its text, not by where the text lives.
    const std::string sameKey = "unit";
    ui.declareProperty(&a, sameKey.c_str(), "kHz");

    EXPECT_STREQ(ui.property(&a, "unit"), "kHz");
    EXPECT_STREQ(ui.property(&a, "controls"), "05");
    EXPECT_STREQ(ui.property(&b, "unit"), "dB");
    EXPECT_STREQ(ui.property(&meter, "db"), "");
    EXPECT_EQ(ui.property(&b, "controls"), nullptr);
    EXPECT_EQ(ui.property(&b, "Unit"), nullptr);
    EXPECT_EQ(ui.controlProperties.size(), 3u);
    EXPECT_EQ(ui.controlProperties[&a].size(), 2u);
}

// A processor whose controls are given by a short script, for the voice tests.
class TwoControlProcessor : public dsp {
  public:
    int inputCount() override { return 0; }
    int outputCount() override { return 1; }
    void declareControls(UIReal<float>* receiver) override {
        ++declarations;
        declaredAfterInitialisation = initialisations > 0;
        receiver->addHorizontalSliderControl("freq", &freq, 440, 20, 20000, 1);
        receiver->addButtonControl("gate", &gate);
    }
    int sampleRate() override { return rate; }
    void initialize(int r) override { initializeInstance(r); }
    void initializeInstance(int r) override {
        ++initialisations;
        rate = r;
        freq = 440;
        gate = 0;
    }
    void computeConstants(int) override {}
    void resetControls() override {}
    void clearState() override {}
    dsp* duplicate() override { return new TwoControlProcessor; }
    void declareMetadata(metadataTable*) override {}
    void process(int, float**, float**) override {}
    void processAt(double, int, float**, float**) override {}

    int rate = 0;
    int declarations = 0;
    int initialisations = 0;
    bool declaredAfterInitialisation = false;
    float freq = -1;
    float gate = -1;
};

TEST(VoiceTest, InitialisesItsProcessorAndDrivesOnlyThatProcessor) {
    auto owned = std::make_unique<TwoControlProcessor>();
    TwoControlProcessor* processor = owned.get();
    Voice voice(std::move(owned), 48000);
    EXPECT_EQ(processor->initialisations, 1);
    EXPECT_EQ(processor->declarations, 1);
    EXPECT_TRUE(processor->declaredAfterInitialisation);
    EXPECT_EQ(processor->rate, 48000);
    ASSERT_EQ(voice.size(), 2);
    EXPECT_EQ(voice.freqIndex, 0);
    EXPECT_EQ(voice.gateIndex, 1);

    voice.fUITable[voice.freqIndex]->setPlain(1000.0);
    voice.fUITable[voice.gateIndex]->setPlain(1.0);
    EXPECT_EQ(processor->freq, 1000.0f);
    EXPECT_EQ(processor->gate, 1.0f);
}

}  // namespace
