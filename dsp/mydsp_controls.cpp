// The processor's declared controls, their defaults and its metadata.
#include <iterator>

#include "dsp/control_record.h"
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

// A field of the processor: an input control or a meter, by its place in the control record.
struct Field {
    bool isMeter;
    std::size_t index;

    const ControlRecord& record() const {
        return isMeter ? meterRecords[index] : controlRecords[index];
    }
};

struct DeclarationRow {
    Declaration call;
    const char* text;  // a group's label, or the key of a property
    Field field;
    const char* propertyText;
};

constexpr Field field(Control control) {
    return {false, static_cast<std::size_t>(control)};
}
constexpr Field field(Meter meter) {
    return {true, static_cast<std::size_t>(meter)};
}

}  // namespace

// The band meters sit in their own group; the sliders, the DNR meters and the switch follow in
// the outer group. A property always comes right before the control it describes. Labels, ranges
// and steps come from the control record; only the grouping and the properties live here.
void mydsp::declareControls(UIReal<float>* receiver) {
    using enum Declaration;
    using enum Control;
    using enum Meter;
    static constexpr DeclarationRow rows[] = {
        {openVerticalGroup, "Tavrel_ORB-VN52k8e-22k", {}, nullptr},
        {openHorizontalGroup, "0x00", {}, nullptr},
        {openVerticalGroup, "Comb Stereo Processor", {}, nullptr},
        {property, "102", field(bandSeparation3), ""},
        {horizontalMeter, nullptr, field(bandSeparation3), nullptr},
        {property, "103", field(bandSeparation4), ""},
        {horizontalMeter, nullptr, field(bandSeparation4), nullptr},
        {property, "104", field(bandSeparation5), ""},
        {horizontalMeter, nullptr, field(bandSeparation5), nullptr},
        {property, "105", field(bandSeparation6), ""},
        {horizontalMeter, nullptr, field(bandSeparation6), nullptr},
        {property, "106", field(bandSeparation7), ""},
        {horizontalMeter, nullptr, field(bandSeparation7), nullptr},
        {property, "107", field(bandSeparation8), ""},
        {horizontalMeter, nullptr, field(bandSeparation8), nullptr},
        {property, "108", field(bandSeparation9), ""},
        {horizontalMeter, nullptr, field(bandSeparation9), nullptr},
        {property, "109", field(bandSeparation10), ""},
        {horizontalMeter, nullptr, field(bandSeparation10), nullptr},
        {property, "110", field(bandSeparation11), ""},
        {horizontalMeter, nullptr, field(bandSeparation11), nullptr},
        {property, "111", field(bandSeparation12), ""},
        {horizontalMeter, nullptr, field(bandSeparation12), nullptr},
        {closeGroup, nullptr, {}, nullptr},
        {closeGroup, nullptr, {}, nullptr},
        {horizontalSlider, nullptr, field(lowpassCutoff), nullptr},
        {property, "controls", field(autoEqThreshold), "05"},
        {horizontalSlider, nullptr, field(autoEqThreshold), nullptr},
        {property, "controls", field(noisegateGain), "10"},
        {horizontalSlider, nullptr, field(noisegateGain), nullptr},
        {property, "controls", field(outputAgcThreshold), "90"},
        {horizontalSlider, nullptr, field(outputAgcThreshold), nullptr},
        {property, "db", field(dnrBandwidth), ""},
        {horizontalMeter, nullptr, field(dnrBandwidth), nullptr},
        {property, "dd", field(dnr2Bandwidth), ""},
        {horizontalMeter, nullptr, field(dnr2Bandwidth), nullptr},
        {property, "sa", field(dnrLpfDisable), ""},
        {checkButton, nullptr, field(dnrLpfDisable), nullptr},
        {closeGroup, nullptr, {}, nullptr},
    };
    static_assert(std::size(rows) == 39);

    for (const DeclarationRow& row : rows) {
        float* value =
            row.field.isMeter ? &meters.values[row.field.index] : &controls.values[row.field.index];
        const ControlRecord& record = row.field.record();
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
                receiver->declareProperty(value, row.text, row.propertyText);
                break;
            case horizontalMeter:
                receiver->addHorizontalMeter(record.label, value, record.range.minimum,
                                             record.range.maximum);
                break;
            case horizontalSlider:
                receiver->addHorizontalSliderControl(record.label, value, record.range.initial,
                                                     record.range.minimum, record.range.maximum,
                                                     record.range.step);
                break;
            case checkButton:
                receiver->addCheckButtonControl(record.label, value);
                break;
        }
    }
}

void mydsp::resetControls() {
    controls = ControlValues::initial();
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
