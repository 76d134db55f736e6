// The processor's declared controls, their defaults and its metadata.
#include <iterator>

#include "dsp/control_declarations.h"
#include "dsp/metadata.h"
#include "dsp/mydsp.h"

namespace {

enum class Declaration {
    openVerticalGroup,
    openHorizontalGroup,
    closeGroup,
    property,
    horizontalMeter,
    horizontalSlider,
    checkButton,
};

struct DeclarationRow {
    Declaration call;
    const char* text;  // a group's label, or the key of a property
    float mydsp::*field;
    const ControlDeclaration* control;  // label, range and step of a meter, slider or switch
    const char* propertyText;
};

constexpr const ControlDeclaration* parameter(int index) {
    return &parameterDeclarations[index];
}
constexpr const ControlDeclaration* meter(int index) {
    return &meterDeclarations[index];
}

}  // namespace

// The band meters sit in their own group; the sliders, the DNR meters and the switch follow in
// the outer group. A property always comes right before the control it describes.
void mydsp::declareControls(UIReal<float>* receiver) {
    using enum Declaration;
    static constexpr DeclarationRow rows[] = {
        {openVerticalGroup, "Tavrel_ORB-VN52k8e-22k", nullptr, nullptr, nullptr},
        {openHorizontalGroup, "0x00", nullptr, nullptr, nullptr},
        {openVerticalGroup, "Comb Stereo Processor", nullptr, nullptr, nullptr},
        {property, "102", &mydsp::bandSeparation3, nullptr, ""},
        {horizontalMeter, nullptr, &mydsp::bandSeparation3, meter(0), nullptr},
        {property, "103", &mydsp::bandSeparation4, nullptr, ""},
        {horizontalMeter, nullptr, &mydsp::bandSeparation4, meter(1), nullptr},
        {property, "104", &mydsp::bandSeparation5, nullptr, ""},
        {horizontalMeter, nullptr, &mydsp::bandSeparation5, meter(2), nullptr},
        {property, "105", &mydsp::bandSeparation6, nullptr, ""},
        {horizontalMeter, nullptr, &mydsp::bandSeparation6, meter(3), nullptr},
        {property, "106", &mydsp::bandSeparation7, nullptr, ""},
        {horizontalMeter, nullptr, &mydsp::bandSeparation7, meter(4), nullptr},
        {property, "107", &mydsp::bandSeparation8, nullptr, ""},
        {horizontalMeter, nullptr, &mydsp::bandSeparation8, meter(5), nullptr},
        {property, "108", &mydsp::bandSeparation9, nullptr, ""},
        {horizontalMeter, nullptr, &mydsp::bandSeparation9, meter(6), nullptr},
        {property, "109", &mydsp::bandSeparation10, nullptr, ""},
        {horizontalMeter, nullptr, &mydsp::bandSeparation10, meter(7), nullptr},
        {property, "110", &mydsp::bandSeparation11, nullptr, ""},
        {horizontalMeter, nullptr, &mydsp::bandSeparation11, meter(8), nullptr},
        {property, "111", &mydsp::bandSeparation12, nullptr, ""},
        {horizontalMeter, nullptr, &mydsp::bandSeparation12, meter(9), nullptr},
        {closeGroup, nullptr, nullptr, nullptr, nullptr},
        {closeGroup, nullptr, nullptr, nullptr, nullptr},
        {horizontalSlider, nullptr, &mydsp::lowpassCutoff, parameter(0), nullptr},
        {property, "controls", &mydsp::autoEqThreshold, nullptr, "05"},
        {horizontalSlider, nullptr, &mydsp::autoEqThreshold, parameter(1), nullptr},
        {property, "controls", &mydsp::noisegateGain, nullptr, "10"},
        {horizontalSlider, nullptr, &mydsp::noisegateGain, parameter(2), nullptr},
        {property, "controls", &mydsp::outputAgcThreshold, nullptr, "90"},
        {horizontalSlider, nullptr, &mydsp::outputAgcThreshold, parameter(3), nullptr},
        {property, "db", &mydsp::dnrBandwidth, nullptr, ""},
        {horizontalMeter, nullptr, &mydsp::dnrBandwidth, meter(10), nullptr},
        {property, "dd", &mydsp::dnr2Bandwidth, nullptr, ""},
        {horizontalMeter, nullptr, &mydsp::dnr2Bandwidth, meter(11), nullptr},
        {property, "sa", &mydsp::dnrLpfDisable, nullptr, ""},
        {checkButton, nullptr, &mydsp::dnrLpfDisable, parameter(4), nullptr},
        {closeGroup, nullptr, nullptr, nullptr, nullptr},
    };
    static_assert(std::size(rows) == 39);

    for (const DeclarationRow& row : rows) {
        switch (row.call) {
            case openVerticalGroup:
                receiver->openVerticalGroup(row.text);
                break;
            case openHorizontalGroup:
                receiver->openHorizontalGroup(row.text);
                break;
            case closeGroup:
                receiver->closeGroup();
                break;
            case property:
                receiver->declareProperty(&(this->*row.field), row.text, row.propertyText);
                break;
            case horizontalMeter:
                receiver->addHorizontalMeter(row.control->label, &(this->*row.field),
                                             row.control->range.minimum,
                                             row.control->range.maximum);
                break;
            case horizontalSlider:
                receiver->addHorizontalSliderControl(
                    row.control->label, &(this->*row.field), row.control->range.initial,
                    row.control->range.minimum, row.control->range.maximum,
                    row.control->range.step);
                break;
            case checkButton:
                receiver->addCheckButtonControl(row.control->label, &(this->*row.field));
                break;
        }
    }
}

void mydsp::resetControls() {
    dnrLpfDisable = dnrLpfDisableRange.initial;
    lowpassCutoff = lowpassCutoffRange.initial;
    autoEqThreshold = autoEqThresholdRange.initial;
    noisegateGain = noisegateGainRange.initial;
    outputAgcThreshold = outputAgcThresholdRange.initial;
}

void mydsp::declareMetadata(metadataTable* table) {
    static constexpr const char* pairs[][2] = {
        {"analyzers_lib_name", "Zelko Analyzer Library"},
        {"analyzers_lib_version", "0.0"},
        {"author", "Velmara"},
        {"basics_lib_name", "Zelko Basic Element Library"},
        {"basics_lib_version", "0.0"},
        {"compilation_options", "-single -scal -ftz 0 -I dsp -I controls -I host"},
        {"compile_options", "-std=c++20 -O2 -ffp-contract=off"},
        {"filename", "Tavrel_ORB-VN52k8e-22k"},
        {"filters_lib_name", "Zelko Filters Library"},
        {"filters_lib_version", "0.0"},
        {"library_path", "Tavrel_ORB-VN52k8e-22k"},
        {"maths_lib_author", "ORVID"},
        {"maths_lib_copyright", "ORVID"},
        {"maths_lib_license", "LGPL with exception"},
        {"maths_lib_name", "Zelko Math Library"},
        {"maths_lib_version", "2.1"},
        {"misceffects_lib_name", "Zelko Math Library"},
        {"misceffects_lib_version", "2.0"},
        {"name", "Tavrel_ORB-VN52k8e-22k"},
        {"noises_lib_name", "Zelko Noise Generator Library"},
        {"noises_lib_version", "0.0"},
        {"signals_lib_name", "Zelko Signal Routing Library"},
        {"signals_lib_version", "0.0"},
    };
    for (const auto& pair : pairs) table->declare(pair[0], pair[1]);
}
