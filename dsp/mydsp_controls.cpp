// The processor's declared controls, their defaults and its metadata.
#include <iterator>

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
    const char* text;  // label, or the key of a property
    float mydsp::*field;
    ControlRange range;  // initial value, minimum, maximum, step
    const char* propertyText;
};

}  // namespace

// The band meters sit in their own group; the sliders, the DNR meters and the switch follow in
// the outer group. A property always comes right before the control it describes.
void mydsp::declareControls(UIReal<float>* receiver) {
    using enum Declaration;
    static constexpr DeclarationRow rows[] = {
        {openVerticalGroup, "Tavrel_ORB-VN52k8e-22k", nullptr, {}, nullptr},
        {openHorizontalGroup, "0x00", nullptr, {}, nullptr},
        {openVerticalGroup, "Comb Stereo Processor", nullptr, {}, nullptr},
        {property, "102", &mydsp::bandSeparation3, {}, ""},
        {horizontalMeter, "Band 3 Separation", &mydsp::bandSeparation3, {0, 0, 1, 0}, nullptr},
        {property, "103", &mydsp::bandSeparation4, {}, ""},
        {horizontalMeter, "Band 4 Separation", &mydsp::bandSeparation4, {0, 0, 1, 0}, nullptr},
        {property, "104", &mydsp::bandSeparation5, {}, ""},
        {horizontalMeter, "Band 5 Separation", &mydsp::bandSeparation5, {0, 0, 1, 0}, nullptr},
        {property, "105", &mydsp::bandSeparation6, {}, ""},
        {horizontalMeter, "Band 6 Separation", &mydsp::bandSeparation6, {0, 0, 1, 0}, nullptr},
        {property, "106", &mydsp::bandSeparation7, {}, ""},
        {horizontalMeter, "Band 7 Separation", &mydsp::bandSeparation7, {0, 0, 1, 0}, nullptr},
        {property, "107", &mydsp::bandSeparation8, {}, ""},
        {horizontalMeter, "Band 8 Separation", &mydsp::bandSeparation8, {0, 0, 1, 0}, nullptr},
        {property, "108", &mydsp::bandSeparation9, {}, ""},
        {horizontalMeter, "Band 9 Separation", &mydsp::bandSeparation9, {0, 0, 1, 0}, nullptr},
        {property, "109", &mydsp::bandSeparation10, {}, ""},
        {horizontalMeter, "Band 10 Separation", &mydsp::bandSeparation10, {0, 0, 1, 0}, nullptr},
        {property, "110", &mydsp::bandSeparation11, {}, ""},
        {horizontalMeter, "Band 11 Separation", &mydsp::bandSeparation11, {0, 0, 1, 0}, nullptr},
        {property, "111", &mydsp::bandSeparation12, {}, ""},
        {horizontalMeter, "Band 12 Separation", &mydsp::bandSeparation12, {0, 0, 1, 0}, nullptr},
        {closeGroup, nullptr, nullptr, {}, nullptr},
        {closeGroup, nullptr, nullptr, {}, nullptr},
        {horizontalSlider, "Lowpass Filter", &mydsp::lowpassCutoff, lowpassCutoffRange, nullptr},
        {property, "controls", &mydsp::autoEqThreshold, {}, "05"},
        {horizontalSlider, "Auto-EQ Threshold", &mydsp::autoEqThreshold, autoEqThresholdRange,
         nullptr},
        {property, "controls", &mydsp::noisegateGain, {}, "10"},
        {horizontalSlider, "Noisegate Gain dB", &mydsp::noisegateGain, noisegateGainRange, nullptr},
        {property, "controls", &mydsp::outputAgcThreshold, {}, "90"},
        {horizontalSlider, "Output AGC Threshold", &mydsp::outputAgcThreshold,
         outputAgcThresholdRange, nullptr},
        {property, "db", &mydsp::dnrBandwidth, {}, ""},
        {horizontalMeter, "DNR Bandwidth", &mydsp::dnrBandwidth, {0, 0, 20000, 0}, nullptr},
        {property, "dd", &mydsp::dnr2Bandwidth, {}, ""},
        {horizontalMeter, "DNR2 Bandwidth", &mydsp::dnr2Bandwidth, {0, 0, 20000, 0}, nullptr},
        {property, "sa", &mydsp::dnrLpfDisable, {}, ""},
        {checkButton, "DNR LPF Disable", &mydsp::dnrLpfDisable, dnrLpfDisableRange, nullptr},
        {closeGroup, nullptr, nullptr, {}, nullptr},
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
                receiver->addHorizontalMeter(row.text, &(this->*row.field), row.range.minimum,
                                             row.range.maximum);
                break;
            case horizontalSlider:
                receiver->addHorizontalSliderControl(row.text, &(this->*row.field),
                                                     row.range.initial, row.range.minimum,
                                                     row.range.maximum, row.range.step);
                break;
            case checkButton:
                receiver->addCheckButtonControl(row.text, &(this->*row.field));
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
