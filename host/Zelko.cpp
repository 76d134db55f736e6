#include "host/Zelko.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "controls/host_conversions.h"
#include "controls/metadata.h"
#include "dsp/mydsp.h"
#include "dsp/sample_rate.h"

namespace {

constexpr VstInt32 kDefaultIdentifier = fourCharCode('Z', 'E', 'L', 'K');

// A declared "id" gives the identifier from its first four characters, packed big-endian; the
// first reads as unsigned, the next three as signed 8-bit values, missing ones as 0.
VstInt32 identifierFromText(const char* text) {
    std::int64_t characters[4] = {static_cast<unsigned char>(text[0]), 0, 0, 0};
    for (int i = 1; i < 4 && text[i - 1] != '\0'; ++i) {
        characters[i] = static_cast<signed char>(text[i]);
    }
    const std::int64_t sum = characters[0] * (1 << 24) + characters[1] * (1 << 16) +
                             characters[2] * (1 << 8) + characters[3];
    return static_cast<VstInt32>(static_cast<std::uint32_t>(sum));
}

// Without an "id", the labels of the parameters tell plug-ins of this family apart.
VstInt32 identifierFromLabels(const vstUI& collector) {
    int sum = 0;
    for (const auto& control : collector.fUITable) sum += control->labelSum();
    return kDefaultIdentifier + sum % 128;
}

}  // namespace

Zelko::Zelko(audioMasterCallback audioMaster, std::unique_ptr<dsp> processor,
             std::unique_ptr<vstUI> collector)
    : AudioEffectX(audioMaster, 1, collector->size()),
      mainProcessor(std::move(processor)),
      mainCollector(std::move(collector)),
      instrumentMode(mainProcessor->inputCount() < 1),
      outputChannels(mainProcessor->outputCount()),
      parameters(*mainCollector, voices) {
    curProgram = 0;
    setNumInputs(mainProcessor->inputCount());
    setNumOutputs(outputChannels);
    canProcessReplacing(true);
    if (instrumentMode) {
        isSynth(true);
        if (outputChannels < 1) {
            std::fputs(
                "*** zelko: vsti: No signal inputs or outputs, and Zelko has no MIDI outputs!\n",
                stderr);
        }
    }
    // A host told no latency would misalign every track it compensates.
    setInitialDelay(static_cast<VstInt32>(chainLatency));

    const char* id = lookupMetadata(*mainProcessor, "id", "ZELKO");
    setUniqueID(id != nullptr && id[0] != '\0' ? identifierFromText(id)
                                               : identifierFromLabels(*mainCollector));

    const int rate = integerRate(sampleRate);
    freeVoices.reserve(kVoiceCount);
    playingVoices.reserve(kVoiceCount);
    releasedVoices.reserve(kVoiceCount);
    for (int v = 0; v < kVoiceCount; ++v) {
        voices[v] = std::make_unique<Voice>(std::unique_ptr<dsp>(mainProcessor->duplicate()), rate);
        freeVoices.push_back(v);
    }

    const int channels = outputChannels > 0 ? outputChannels : 0;
    scratchOutputs.resize(channels);
    scratchPointers.resize(channels);
    segmentOutputs.resize(channels);
    for (int ch = 0; ch < channels; ++ch) {
        scratchOutputs[ch].assign(static_cast<std::size_t>(scratchLength), 0.0f);
        scratchPointers[ch] = scratchOutputs[ch].data();
    }
    // Room for the events of a busy block, so that queueing rarely has to grow.
    if (instrumentMode) {
        noteQueue.reserve(512);
        velocityQueue.reserve(512);
        offsetQueue.reserve(512);
    }

    currentNote = 0;
    currentVelocity = 0;
    currentOffset = 0;
    initializeProcessors(rate);
}

Zelko::~Zelko() {
    scratchPointers.clear();
    segmentOutputs.clear();
    scratchOutputs.clear();
    for (auto& voice : voices) voice.reset();
    mainCollector.reset();
    mainProcessor.reset();
}

void Zelko::initializeProcessors(int rate) {
    mainProcessor->initialize(rate);
    for (auto& voice : voices) voice->processor->initializeInstance(rate);
}

// Every processor takes the constants of the new rate and returns to silence, but keeps its
// controls: hosts announce the rate again when their audio device restarts or the session rate
// changes, and they do not send the parameters again, so a reset would lose the user's settings
// while the host still shows them.
void Zelko::setSampleRate(float newSampleRate) {
    if (!std::isfinite(newSampleRate)) return;
    AudioEffectX::setSampleRate(newSampleRate);
    const std::vector<float> mainValues = mainCollector->controlValues();
    std::array<std::vector<float>, kVoiceCount> voiceValues;
    for (int v = 0; v < kVoiceCount; ++v) voiceValues[v] = voices[v]->controlValues();
    initializeProcessors(integerRate(newSampleRate));
    mainCollector->restoreControlValues(mainValues);
    for (int v = 0; v < kVoiceCount; ++v) voices[v]->restoreControlValues(voiceValues[v]);
}

void Zelko::setParameter(VstInt32 index, float value) {
    parameters.setParameter(index, value);
}

float Zelko::getParameter(VstInt32 index) {
    return parameters.getParameter(index);
}

void Zelko::getParameterLabel(VstInt32 index, char* label) {
    parameters.getParameterLabel(index, label);
}

void Zelko::getParameterDisplay(VstInt32 index, char* text) {
    parameters.getParameterDisplay(index, text);
}

void Zelko::getParameterName(VstInt32 index, char* text) {
    parameters.getParameterName(index, text);
}

// Fills the record for a valid index and answers true; false leaves the record untouched.
bool Zelko::getParameterProperties(VstInt32 index, VstParameterProperties* properties) {
    const std::optional<ParameterDescription> description = parameters.describe(index);
    if (properties == nullptr || !description) return false;
    if (description->isSwitch) properties->flags |= kVstParameterIsSwitch;
    // The record's label field has a fixed size; a longer label is cut there rather than
    // written past the record.
    copyBounded(properties->label, description->label, sizeof properties->label - 1);
    if (description->hasIntegerRange) {
        properties->minInteger = description->minInteger;
        properties->maxInteger = description->maxInteger;
        properties->stepInteger = description->stepInteger;
    }
    return true;
}

void Zelko::setProgram(VstInt32 program) {
    if (program == 0) {
        curProgram = 0;
        return;
    }
    std::fprintf(stderr, "*** Zelko vsti: setting program to %d is OUT OF RANGE\n",
                 static_cast<int>(program));
}

void Zelko::setProgramName(char* name) {
    if (name != nullptr) copyBounded(programName, name, kVstMaxProgNameLen);
}

void Zelko::getProgramName(char* name) {
    if (name != nullptr) copyBounded(name, programName, kVstMaxProgNameLen);
}

bool Zelko::getProgramNameIndexed(VstInt32, VstInt32 index, char* text) {
    if (index > 0 || text == nullptr) return false;
    getProgramName(text);
    return true;
}

bool Zelko::pinProperties(VstInt32 index, VstPinProperties* properties, int count,
                          const char* labelFormat, const char* shortLabelFormat) const {
    if (properties == nullptr || index < 0 || index >= count) return false;
    std::snprintf(properties->label, sizeof properties->label, labelFormat,
                  static_cast<int>(index));
    // The short label field holds 7 characters; a pin number of more digits is cut there.
    char shortLabel[32];
    std::snprintf(shortLabel, sizeof shortLabel, shortLabelFormat, static_cast<int>(index));
    copyBounded(properties->shortLabel, shortLabel, sizeof properties->shortLabel - 1);
    properties->flags = kVstPinIsActive | (count == 2 ? kVstPinIsStereo : 0);
    return true;
}

bool Zelko::getInputProperties(VstInt32 index, VstPinProperties* properties) {
    return pinProperties(index, properties, mainProcessor->inputCount(),
                         "Orvid Zelko DSP input: %d", "In %d");
}

bool Zelko::getOutputProperties(VstInt32 index, VstPinProperties* properties) {
    return pinProperties(index, properties, mainProcessor->outputCount(),
                         "Orvid Zelko DSP output: %d", "Out %d");
}

bool Zelko::getEffectName(char* name) {
    if (name == nullptr) return false;
    copyBounded(name, lookupMetadata(*mainProcessor, "name", "Effect Name goes here"),
                kVstMaxEffectNameLen);
    return true;
}

bool Zelko::getVendorString(char* text) {
    if (text == nullptr) return false;
    copyBounded(text, lookupMetadata(*mainProcessor, "author", "Vendor String goes here"),
                kVstMaxVendorStrLen);
    return true;
}

bool Zelko::getProductString(char* text) {
    if (text == nullptr) return false;
    copyBounded(text, lookupMetadata(*mainProcessor, "name", "Product String goes here"),
                kVstMaxProductStrLen);
    return true;
}

VstInt32 Zelko::getVendorVersion() {
    const double version = std::strtod(lookupMetadata(*mainProcessor, "version", "0.0"), nullptr);
    if (std::isnan(version)) return 0;
    if (version >= 2147483647.0) return std::numeric_limits<VstInt32>::max();
    if (version <= -2147483648.0) return std::numeric_limits<VstInt32>::min();
    return static_cast<VstInt32>(version);
}

VstInt32 Zelko::canDo(char* text) {
    if (text == nullptr) return -1;
    for (const char* known : {"receiveVstEvents", "receiveVstMidiEvent", "midiProgramNames"}) {
        if (std::strcmp(text, known) == 0) return 1;
    }
    return -1;
}

void Zelko::fillMidiProgramName(MidiProgramName* name) const {
    copyBounded(name->name, programName, kVstMaxProgNameLen);
    name->midiProgram = 0;
    name->midiBankMsb = -1;
    name->midiBankLsb = -1;
    name->reserved = 0;
    name->parentCategoryIndex = -1;
    name->flags = 0;
}

VstInt32 Zelko::getMidiProgramName(VstInt32, MidiProgramName* name) {
    if (name == nullptr || name->thisProgramIndex != 0) return 0;
    fillMidiProgramName(name);
    return 1;
}

VstInt32 Zelko::getCurrentMidiProgram(VstInt32 channel, MidiProgramName* current) {
    if (static_cast<std::uint32_t>(channel) > 15 || current == nullptr) return -1;
    current->thisProgramIndex = 0;
    fillMidiProgramName(current);
    return 0;
}

VstInt32 Zelko::getMidiProgramCategory(VstInt32, MidiProgramCategory* category) {
    if (category == nullptr) return 0;
    copyBounded(category->name, "Zelko Patch", kVstMaxProgNameLen);
    category->parentCategoryIndex = -1;
    category->flags = 0;
    return 1;
}
