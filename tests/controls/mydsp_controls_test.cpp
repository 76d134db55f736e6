// The processor's declaration sequence, its defaults and the table a collector builds from it.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "controls/Voice.h"
#include "controls/vstUI.h"
#include "dsp/mydsp.h"

namespace {

struct Call {
    Call(std::string name, std::string text, float* field = nullptr,
         std::vector<float> numbers = {}, std::string propertyText = "")
        : name(std::move(name)),
          text(std::move(text)),
          field(field),
          numbers(std::move(numbers)),
          propertyText(std::move(propertyText)) {}

    std::string name;
    std::string text;  // label, or the key of a property
    float* field;
    std::vector<float> numbers;
    std::string propertyText;
};

class RecordingReceiver : public UIReal<float> {
  public:
    std::vector<Call> calls;

    void openTabGroup(const char* label) override { calls.emplace_back("openTabGroup", label); }
    void openHorizontalGroup(const char* label) override {
        calls.emplace_back("openHorizontalGroup", label);
    }
    void openVerticalGroup(const char* label) override {
        calls.emplace_back("openVerticalGroup", label);
    }
    void closeGroup() override { calls.emplace_back("closeGroup", ""); }
    void addButtonControl(const char* label, float* value) override {
        calls.emplace_back("addButtonControl", label, value);
    }
    void addCheckButtonControl(const char* label, float* value) override {
        calls.emplace_back("addCheckButtonControl", label, value);
    }
    void addVerticalSliderControl(const char* label, float* value, float init, float min, float max,
                                  float step) override {
        calls.emplace_back("addVerticalSliderControl", label, value,
                           std::vector<float>{init, min, max, step});
    }
    void addHorizontalSliderControl(const char* label, float* value, float init, float min,
                                    float max, float step) override {
        calls.emplace_back("addHorizontalSliderControl", label, value,
                           std::vector<float>{init, min, max, step});
    }
    void addNumberEntryControl(const char* label, float* value, float init, float min, float max,
                               float step) override {
        calls.emplace_back("addNumberEntryControl", label, value,
                           std::vector<float>{init, min, max, step});
    }
    void addHorizontalMeter(const char* label, float* value, float min, float max) override {
        calls.emplace_back("addHorizontalMeter", label, value, std::vector<float>{min, max});
    }
    void addVerticalMeter(const char* label, float* value, float min, float max) override {
        calls.emplace_back("addVerticalMeter", label, value, std::vector<float>{min, max});
    }
    void addSoundFile(const char* label, const char*) override {
        calls.emplace_back("addSoundFile", label);
    }
    void declareProperty(float* value, const char* key, const char* text) override {
        calls.emplace_back("declareProperty", key, value, std::vector<float>{}, text);
    }
};

struct Expected {
    const char* name;
    const char* text;
    std::vector<float> numbers;
    const char* propertyText;
};

std::vector<Expected> expectedSequence() {
    std::vector<Expected> e = {
        {"openVerticalGroup", "Tavrel_ORB-VN52k8e-22k", {}, ""},
        {"openHorizontalGroup", "0x00", {}, ""},
        {"openVerticalGroup", "Comb Stereo Processor", {}, ""},
    };
    for (int band = 3; band <= 12; ++band) {
        e.push_back({"declareProperty", nullptr, {}, ""});
        e.push_back({"addHorizontalMeter", nullptr, {0, 1}, ""});
    }
    std::vector<Expected> rest = {
        {"closeGroup", "", {}, ""},
        {"closeGroup", "", {}, ""},
        {"addHorizontalSliderControl", "Lowpass Filter", {22000, 1000, 22000, 100}, ""},
        {"declareProperty", "controls", {}, "05"},
        {"addHorizontalSliderControl", "Auto-EQ Threshold", {-60, -90, 0, 1}, ""},
        {"declareProperty", "controls", {}, "10"},
        {"addHorizontalSliderControl", "Noisegate Gain dB", {55, 0, 70, 1}, ""},
        {"declareProperty", "controls", {}, "90"},
        {"addHorizontalSliderControl", "Output AGC Threshold", {-6, -12, 3, 1}, ""},
        {"declareProperty", "db", {}, ""},
        {"addHorizontalMeter", "DNR Bandwidth", {0, 20000}, ""},
        {"declareProperty", "dd", {}, ""},
        {"addHorizontalMeter", "DNR2 Bandwidth", {0, 20000}, ""},
        {"declareProperty", "sa", {}, ""},
        {"addCheckButtonControl", "DNR LPF Disable", {}, ""},
        {"closeGroup", "", {}, ""},
    };
    e.insert(e.end(), rest.begin(), rest.end());
    return e;
}

TEST(DeclareControls, MakesExactlyTheThirtyNineCallsInOrder) {
    auto processor = std::make_unique<mydsp>();
    RecordingReceiver receiver;
    processor->declareControls(&receiver);

    const std::vector<Expected> expected = expectedSequence();
    ASSERT_EQ(receiver.calls.size(), 39u);
    ASSERT_EQ(expected.size(), 39u);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("call " + std::to_string(i + 1));
        const Call& call = receiver.calls[i];
        EXPECT_EQ(call.name, expected[i].name);
        if (expected[i].text) {
            EXPECT_EQ(call.text, expected[i].text);
        }
        EXPECT_EQ(call.numbers, expected[i].numbers);
        EXPECT_EQ(call.propertyText, expected[i].propertyText);
    }
    // The band meters: keys "102" to "111" for "Band 3 Separation" to "Band 12 Separation".
    for (int band = 3; band <= 12; ++band) {
        const std::size_t at = 3 + 2 * static_cast<std::size_t>(band - 3);
        EXPECT_EQ(receiver.calls[at].text, std::to_string(99 + band));
        EXPECT_EQ(receiver.calls[at + 1].text, "Band " + std::to_string(band) + " Separation");
    }
}

TEST(DeclareControls, EveryPropertyNamesTheFieldOfTheControlRightAfterIt) {
    auto processor = std::make_unique<mydsp>();
    RecordingReceiver receiver;
    processor->declareControls(&receiver);

    const auto* begin = reinterpret_cast<const char*>(processor.get());
    const auto* end = begin + sizeof(mydsp);
    std::set<float*> controlFields;
    for (std::size_t i = 0; i < receiver.calls.size(); ++i) {
        const Call& call = receiver.calls[i];
        if (call.name == "declareProperty") {
            ASSERT_LT(i + 1, receiver.calls.size());
            EXPECT_EQ(call.field, receiver.calls[i + 1].field) << "property " << call.text;
        } else if (call.field != nullptr) {
            const auto* at = reinterpret_cast<const char*>(call.field);
            EXPECT_TRUE(at >= begin && at < end) << call.text << " is not a field of the processor";
            controlFields.insert(call.field);
        }
    }
    // Seventeen controls and meters, each with a field of its own.
    EXPECT_EQ(controlFields.size(), 17u);
    // "controls" = "05" belongs to "Auto-EQ Threshold", not to "Lowpass Filter" before it.
    EXPECT_EQ(receiver.calls[26].field, receiver.calls[27].field);
    EXPECT_NE(receiver.calls[26].field, receiver.calls[25].field);
}

TEST(ResetControls, WritesTheDefaultsAndLeavesTheMetersAlone) {
    auto processor = std::make_unique<mydsp>();
    RecordingReceiver receiver;
    processor->declareControls(&receiver);
    processor->initialize(44100);

    std::vector<float*> inputs, meters;
    for (const Call& call : receiver.calls) {
        if (call.name == "addHorizontalSliderControl" || call.name == "addCheckButtonControl") {
            inputs.push_back(call.field);
        } else if (call.name == "addHorizontalMeter") {
            meters.push_back(call.field);
        }
    }
    ASSERT_EQ(inputs.size(), 5u);
    ASSERT_EQ(meters.size(), 12u);
    for (float* field : inputs) *field = 12345.0f;
    for (float* meter : meters) *meter = 777.0f;
    processor->resetControls();

    const float defaults[] = {22000, -60, 55, -6, 0};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(*inputs[i], defaults[i]) << "control " << i;
    for (float* meter : meters) EXPECT_EQ(*meter, 777.0f);
}

TEST(ProductTable, HasFiveEntriesWithoutRolesAndKeepsEveryProperty) {
    auto processor = std::make_unique<mydsp>();
    vstUI ui;
    processor->declareControls(&ui);

    ASSERT_EQ(ui.size(), 5);
    const char* labels[] = {"Lowpass Filter", "Auto-EQ Threshold", "Noisegate Gain dB",
                            "Output AGC Threshold", "DNR LPF Disable"};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(ui.fUITable[i]->label, labels[i]);
    const float ranges[4][4] = {
        {22000, 1000, 22000, 100}, {-60, -90, 0, 1}, {55, 0, 70, 1}, {-6, -12, 3, 1}};
    for (int i = 0; i < 4; ++i) {
        auto* slider = dynamic_cast<vstSlider*>(ui.fUITable[i].get());
        ASSERT_NE(slider, nullptr);
        EXPECT_EQ(slider->initial, ranges[i][0]);
        EXPECT_EQ(slider->minimum, ranges[i][1]);
        EXPECT_EQ(slider->maximum, ranges[i][2]);
        EXPECT_EQ(slider->step, ranges[i][3]);
        EXPECT_EQ(slider->decimals, 0);
    }
    EXPECT_NE(dynamic_cast<vstCheckButton*>(ui.fUITable[4].get()), nullptr);
    EXPECT_EQ(ui.freqIndex, -1);
    EXPECT_EQ(ui.gainIndex, -1);
    EXPECT_EQ(ui.gateIndex, -1);
    EXPECT_EQ(ui.prevfreqIndex, -1);
    EXPECT_EQ(ui.pitchbendIndex, -1);
    // Ten band meters, "controls" on three sliders, "db", "dd" and "sa": sixteen fields.
    EXPECT_EQ(ui.controlProperties.size(), 16u);
    EXPECT_STREQ(ui.property(ui.fUITable[1]->target, "controls"), "05");
    EXPECT_STREQ(ui.property(ui.fUITable[2]->target, "controls"), "10");
    EXPECT_STREQ(ui.property(ui.fUITable[3]->target, "controls"), "90");
    EXPECT_STREQ(ui.property(ui.fUITable[4]->target, "sa"), "");
    EXPECT_EQ(ui.property(ui.fUITable[0]->target, "controls"), nullptr);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(ui.property(ui.fUITable[i]->target, "unit"), nullptr);
}

TEST(ProductTable, DefaultsReadBackAsTheDeclaredInitialValues) {
    auto processor = std::make_unique<mydsp>();
    vstUI ui;
    processor->declareControls(&ui);
    processor->initialize(44100);
    for (int i = 0; i < 4; ++i) {
        auto* slider = dynamic_cast<vstSlider*>(ui.fUITable[i].get());
        EXPECT_EQ(slider->getPlain(), slider->initial) << slider->label;
    }
    EXPECT_EQ(ui.fUITable[0]->getNormalized(), 1.0f);
    EXPECT_EQ(ui.fUITable[4]->getPlain(), 0.0f);
}

TEST(ProductVoice, BuildsItsOwnTableOverItsOwnProcessor) {
    auto main = std::make_unique<mydsp>();
    Voice voice(std::unique_ptr<dsp>(main->duplicate()), 44100);
    ASSERT_EQ(voice.size(), 5);
    EXPECT_EQ(voice.sampleWidth(), 4);
    // The voice's processor was initialised before its controls were collected.
    EXPECT_EQ(voice.processor->sampleRate(), 44100);
    EXPECT_EQ(voice.fUITable[0]->getPlain(), 22000.0f);
    const auto* begin = reinterpret_cast<const char*>(voice.processor.get());
    const auto* target = reinterpret_cast<const char*>(voice.fUITable[0]->target);
    EXPECT_TRUE(target >= begin && target < begin + sizeof(mydsp));
}

}  // namespace
