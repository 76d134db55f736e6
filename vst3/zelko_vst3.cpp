#include "vst3/zelko_vst3.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "dsp/denormal_flush.h"
#include "dsp/sample_rate.h"

namespace vst3glue {
namespace {

using namespace vst3;

// The input bus takes a mono or a stereo arrangement; the output is always stereo.
bool acceptedInput(SpeakerArrangement arrangement) {
    return arrangement == kArrangementMono || arrangement == kArrangementStereo;
}

int channelCount(SpeakerArrangement arrangement) {
    int count = 0;
    for (; arrangement != 0; arrangement &= arrangement - 1) ++count;
    return count;
}

// The channel `channel` of bus `bus`, or null when the host did not hand it over.
float* channelOf(AudioBusBuffers* buses, int32 busCount, int channel) {
    if (buses == nullptr || busCount < 1) return nullptr;
    const AudioBusBuffers& bus = buses[0];
    if (bus.numChannels <= channel || bus.channelBuffers32 == nullptr) return nullptr;
    return bus.channelBuffers32[channel];
}

// Exactly zero, compared by bits: the audio thread flushes denormals to zero, so a float
// comparison would call a denormal sample silent.
bool isSilent(const float* samples, int count) {
    for (int i = 0; i < count; ++i) {
        std::uint32_t bits;
        std::memcpy(&bits, &samples[i], sizeof bits);
        if ((bits & 0x7FFFFFFFu) != 0) return false;
    }
    return true;
}

}  // namespace

ZelkoVst3::ZelkoVst3() : chain(std::make_unique<mydsp>()) {
    chain->initialize(startingRate);
    for (std::size_t c = 0; c < controlCount; ++c) {
        const float value = chain->controlValues().values[c];
        currentValues[c].store(value, std::memory_order_relaxed);
        handOverValues[c].store(value, std::memory_order_relaxed);
    }
    for (int p = 0; p < kParameterCount; ++p) {
        const ControlRecord& record = *parameterAt(p)->record;
        controllerValues[p] = record.toNormalised(record.reach.initial);
    }
    bypass.setRate(chain->clampedRate());
    outputMeter.reset(chain->clampedRate().fs);
    shownSnapshot.latencySamples = chainLatency;
    shownSnapshot.sampleRate = chain->clampedRate().fs;
}

ZelkoVst3::~ZelkoVst3() = default;

// ---- FUnknown --------------------------------------------------------------------------------

tresult ZelkoVst3::queryInterface(const TUID iid, void** object) {
    if (object == nullptr) return kInvalidArgument;
    void* found = nullptr;
    if (sameUid(iid, FUnknown::iid) || sameUid(iid, IPluginBase::iid) ||
        sameUid(iid, IComponent::iid)) {
        found = static_cast<IComponent*>(this);
    } else if (sameUid(iid, IAudioProcessor::iid)) {
        found = static_cast<IAudioProcessor*>(this);
    } else if (sameUid(iid, IEditController::iid)) {
        found = static_cast<IEditController*>(this);
    } else if (sameUid(iid, IProcessContextRequirements::iid)) {
        found = static_cast<IProcessContextRequirements*>(this);
    }
    *object = found;
    if (found == nullptr) return kNoInterface;
    addRef();
    return kResultOk;
}

uint32 ZelkoVst3::addRef() {
    return references.fetch_add(1, std::memory_order_relaxed) + 1;
}

uint32 ZelkoVst3::release() {
    const uint32 left = references.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
}

// The host may initialise the component and the controller, which are this one object, each
// once; neither call needs anything from the host.
tresult ZelkoVst3::initialize(FUnknown*) {
    return kResultOk;
}

tresult ZelkoVst3::terminate() {
    componentHandler = nullptr;
    return kResultOk;
}

// ---- IComponent ------------------------------------------------------------------------------

// The controller is this object: there is no class of its own to name.
tresult ZelkoVst3::getControllerClassId(TUID) {
    return kNotImplemented;
}

tresult ZelkoVst3::setIoMode(IoMode) {
    return kResultOk;
}

int32 ZelkoVst3::getBusCount(MediaType type, BusDirection dir) {
    return type == kAudio && (dir == kInput || dir == kOutput) ? 1 : 0;
}

tresult ZelkoVst3::getBusInfo(MediaType type, BusDirection dir, int32 index, BusInfo& bus) {
    if (type != kAudio || index != 0 || (dir != kInput && dir != kOutput)) return kInvalidArgument;
    std::memset(&bus, 0, sizeof bus);
    bus.mediaType = kAudio;
    bus.direction = dir;
    bus.channelCount = dir == kInput ? channelCount(inputArrangement) : 2;
    copyText(bus.name, 128, dir == kInput ? "Input" : "Output");
    bus.busType = kMain;
    bus.flags = BusInfo::kDefaultActive;
    return kResultOk;
}

tresult ZelkoVst3::getRoutingInfo(RoutingInfo&, RoutingInfo&) {
    return kNotImplemented;
}

tresult ZelkoVst3::activateBus(MediaType type, BusDirection dir, int32 index, TBool) {
    if (type != kAudio || index != 0 || (dir != kInput && dir != kOutput)) return kInvalidArgument;
    return kResultOk;
}

// Switching on starts from exact silence: the processor's signal state, the bypass delay and
// the crossfade all start over; the controls and the rate stay.
tresult ZelkoVst3::setActive(TBool state) {
    if (state) resetSignalState();
    active = state != 0;
    return kResultOk;
}

void ZelkoVst3::resetSignalState() {
    chain->clearState();
    bypass.reset();
    outputMeter.reset(chain->clampedRate().fs);
}

tresult ZelkoVst3::setProcessorState(IBStream* state) {
    const std::optional<PluginState> values = readState(state);
    if (!values) return kResultFalse;
    // One writer at a time; the audio thread never waits here.
    bool expected = false;
    while (!handOverWriter.compare_exchange_weak(expected, true, std::memory_order_acquire)) {
        expected = false;
    }
    const uint32 sequence = handOverSequence.load(std::memory_order_relaxed);
    handOverSequence.store(sequence + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    for (std::size_t c = 0; c < controlCount; ++c) {
        handOverValues[c].store(values->controls.values[c], std::memory_order_relaxed);
        currentValues[c].store(values->controls.values[c], std::memory_order_relaxed);
    }
    handOverBypass.store(values->bypassed, std::memory_order_relaxed);
    currentBypass.store(values->bypassed, std::memory_order_relaxed);
    handOverSequence.store(sequence + 2, std::memory_order_release);
    handOverWriter.store(false, std::memory_order_release);
    return kResultOk;
}

tresult ZelkoVst3::getProcessorState(IBStream* state) {
    PluginState values;
    for (std::size_t c = 0; c < controlCount; ++c) {
        values.controls.values[c] = currentValues[c].load(std::memory_order_relaxed);
    }
    values.bypassed = currentBypass.load(std::memory_order_relaxed);
    return writeState(state, values) ? kResultOk : kResultFalse;
}

// ---- IAudioProcessor -------------------------------------------------------------------------

tresult ZelkoVst3::setBusArrangements(SpeakerArrangement* inputs, int32 numIns,
                                      SpeakerArrangement* outputs, int32 numOuts) {
    if (inputs == nullptr || outputs == nullptr || numIns != 1 || numOuts != 1 ||
        !acceptedInput(inputs[0]) || outputs[0] != kArrangementStereo) {
        return kResultFalse;
    }
    inputArrangement = inputs[0];
    return kResultTrue;
}

tresult ZelkoVst3::getBusArrangement(BusDirection dir, int32 index,
                                     SpeakerArrangement& arrangement) {
    if (index != 0 || (dir != kInput && dir != kOutput)) return kInvalidArgument;
    arrangement = dir == kInput ? inputArrangement : kArrangementStereo;
    return kResultOk;
}

tresult ZelkoVst3::canProcessSampleSize(int32 symbolicSampleSize) {
    return symbolicSampleSize == kSample32 ? kResultTrue : kResultFalse;
}

uint32 ZelkoVst3::getLatencySamples() {
    return chainLatency;
}

uint32 ZelkoVst3::getTailSamples() {
    const double samples = std::ceil(kTailSeconds * chain->clampedRate().fs);
    return static_cast<uint32>(samples);
}

// The rate as the VST 2.4 plug-in takes it: the processor starts over at the host's rate (held
// and mended as the processor does for rates outside its range), and the host's control values
// are then put back.
tresult ZelkoVst3::setupProcessing(ProcessSetup& setup) {
    if (setup.symbolicSampleSize != kSample32) return kResultFalse;
    chain->initialize(integerRate(setup.sampleRate));
    ControlValues values;
    for (std::size_t c = 0; c < controlCount; ++c) {
        values.values[c] = currentValues[c].load(std::memory_order_relaxed);
    }
    applyControlValues(values);
    bypass.set(currentBypass.load(std::memory_order_relaxed));
    bypass.setRate(chain->clampedRate());
    chain->clearState();
    outputMeter.reset(chain->clampedRate().fs);
    shownSnapshot.sampleRate = chain->clampedRate().fs;
    return kResultOk;
}

tresult ZelkoVst3::setProcessing(TBool) {
    return kResultOk;
}

// A saved or handed-over value is held to its control's range, as the VST 2.4 controls hold a
// plain value.
void ZelkoVst3::applyControlValues(const ControlValues& values) {
    for (std::size_t c = 0; c < controlCount; ++c) {
        const float value = controlRecords[c].reach.held(values.values[c]);
        chain->controlValues().values[c] = value;
        currentValues[c].store(value, std::memory_order_relaxed);
    }
}

void ZelkoVst3::takeHandedOverState() {
    const uint32 before = handOverSequence.load(std::memory_order_acquire);
    if ((before & 1u) != 0 || before == takenSequence) return;
    ControlValues values;
    for (std::size_t c = 0; c < controlCount; ++c) {
        values.values[c] = handOverValues[c].load(std::memory_order_relaxed);
    }
    const bool bypassed = handOverBypass.load(std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_acquire);
    if (handOverSequence.load(std::memory_order_relaxed) != before) return;  // next block
    takenSequence = before;
    for (std::size_t c = 0; c < controlCount; ++c) {
        chain->controlValues().values[c] = controlRecords[c].reach.held(values.values[c]);
    }
    bypass.set(bypassed);
}

// A control is set exactly as the VST 2.4 plug-in's setParameter sets it.
void ZelkoVst3::applyChange(int parameter, double normalized) {
    if (parameter < kControlCount) {
        const auto c = static_cast<std::size_t>(parameter);
        const float value = controlRecords[c].fromNormalised(normalized);
        chain->controlValues().values[c] = value;
        currentValues[c].store(value, std::memory_order_relaxed);
    } else {
        const bool engaged = bypassRecord.fromNormalised(normalized) > 0.5f;
        bypass.set(engaged);
        currentBypass.store(engaged, std::memory_order_relaxed);
    }
}

// Parameter changes are applied at their sample offsets: the block is cut at every offset where
// a change falls, and each part runs with the values set before it. Points of one parameter come
// in time order; a point before the part already rendered is applied where rendering stands, and
// a point at or after the block's end after the block, so nothing is rendered twice or skipped.
tresult ZelkoVst3::process(ProcessData& data) {
    if (data.symbolicSampleSize != kSample32) return kResultFalse;
    DenormalFlushGuard flushDenormals;
    takeHandedOverState();

    const int frames = std::max<int32>(data.numSamples, 0);
    const float* in = channelOf(data.inputs, data.numInputs, 0);
    float* left = channelOf(data.outputs, data.numOutputs, 0);
    float* right = channelOf(data.outputs, data.numOutputs, 1);
    // As in the VST 2.4 plug-in: without its input or either output nothing runs and no state
    // moves on; every output that is there is silenced, so the host never plays stale samples.
    const bool runs = frames == 0 || (in != nullptr && left != nullptr && right != nullptr);

    // The queues of the parameters this plug-in takes (controls and bypass), with a read cursor.
    struct Cursor {
        IParamValueQueue* queue;
        int parameter;
        int32 count;
        int32 next;
    };
    Cursor cursors[kControlCount + 1];
    int cursorCount = 0;
    if (IParameterChanges* changes = data.inputParameterChanges) {
        const int32 queues = changes->getParameterCount();
        for (int32 q = 0; q < queues && cursorCount < kControlCount + 1; ++q) {
            IParamValueQueue* queue = changes->getParameterData(q);
            if (queue == nullptr) continue;
            const ParameterRow* row = parameterWithId(queue->getParameterId());
            if (row == nullptr || row->kind == ParameterKind::meter) continue;
            const int parameter =
                row->kind == ParameterKind::control ? static_cast<int>(row->index) : kControlCount;
            cursors[cursorCount++] = {queue, parameter, queue->getPointCount(), 0};
        }
    }

    int position = 0;
    for (;;) {
        // The earliest pending point; its offset is where the next part ends.
        int32 cut = frames;
        bool pending = false;
        for (int c = 0; c < cursorCount; ++c) {
            Cursor& cursor = cursors[c];
            if (cursor.next >= cursor.count) continue;
            int32 offset = 0;
            ParamValue value = 0.0;
            if (cursor.queue->getPoint(cursor.next, offset, value) != kResultOk) {
                cursor.next = cursor.count;
                continue;
            }
            offset = std::clamp<int32>(offset, position, frames);
            if (!pending || offset < cut) cut = offset;
            pending = true;
        }
        if (runs && cut > position) render(in, left, right, position, cut);
        position = std::max(position, static_cast<int>(cut));
        if (!pending) break;
        // Every point due at the cut, in each queue's order.
        for (int c = 0; c < cursorCount; ++c) {
            Cursor& cursor = cursors[c];
            while (cursor.next < cursor.count) {
                int32 offset = 0;
                ParamValue value = 0.0;
                if (cursor.queue->getPoint(cursor.next, offset, value) != kResultOk) {
                    cursor.next = cursor.count;
                    break;
                }
                if (std::clamp<int32>(offset, position, frames) > cut) break;
                applyChange(cursor.parameter, value);
                ++cursor.next;
            }
        }
    }

    if (!runs) {
        for (int b = 0; b < data.numOutputs && data.outputs != nullptr; ++b) {
            AudioBusBuffers& bus = data.outputs[b];
            if (bus.channelBuffers32 == nullptr) continue;
            for (int ch = 0; ch < bus.numChannels; ++ch) {
                if (float* out = bus.channelBuffers32[ch]) std::fill(out, out + frames, 0.0f);
            }
            bus.silenceFlags =
                bus.numChannels >= 64 ? ~uint64{0} : (uint64{1} << bus.numChannels) - 1;
        }
        return kResultOk;
    }
    if (frames > 0) {
        // Flags only for outputs that hold exact zeros: a host may skip a flagged buffer.
        data.outputs[0].silenceFlags =
            (isSilent(left, frames) ? 1u : 0u) | (isSilent(right, frames) ? 2u : 0u);
        sendMeters(data.outputParameterChanges, frames - 1);
        if (openViews.load(std::memory_order_relaxed) > 0) publishSnapshot(left, right, frames);
    }
    return kResultOk;
}

// What the editor shows of this block: the output as written (read only, so the audio is the same
// with an editor or without), the meters and the controls as the block ended.
void ZelkoVst3::publishSnapshot(const float* left, const float* right, int frames) {
    outputMeter.step(left, right, frames);
    snapshots.writeSlot().takeBlock(*chain, currentBypass.load(std::memory_order_relaxed),
                                    outputMeter, chainLatency);
    snapshots.publish();
}

// One part of a block, through the bypass, which reads the input before the processor writes.
void ZelkoVst3::render(const float* in, float* left, float* right, int from, int to) {
    bypass.run(in + from, left + from, right + from, to - from, [&](int offset, int count) {
        const int start = from + offset;
        float* inputs[2] = {const_cast<float*>(in) + start, const_cast<float*>(in) + start};
        float* outputs[2] = {left + start, right + start};
        chain->process(count, inputs, outputs);
    });
}

// The meters as the block's last sample left them, once per block.
void ZelkoVst3::sendMeters(IParameterChanges* changes, int lastSample) {
    if (changes == nullptr) return;
    for (int m = 0; m < kMeterCount; ++m) {
        const ParameterRow& row = *parameterAt(kControlCount + 1 + m);
        int32 index = 0;
        IParamValueQueue* queue = changes->addParameterData(row.id, index);
        if (queue == nullptr) continue;
        int32 point = 0;
        queue->addPoint(lastSample,
                        row.record->toNormalised(chain->meterValues().values[row.index]), point);
    }
}

// ---- IEditController -------------------------------------------------------------------------

tresult ZelkoVst3::setComponentState(IBStream* state) {
    const std::optional<PluginState> values = readState(state);
    if (!values) return kResultFalse;
    for (std::size_t c = 0; c < controlCount; ++c) {
        controllerValues[c] = controlRecords[c].toNormalised(values->controls.values[c]);
    }
    controllerValues[kControlCount] = values->bypassed ? 1.0 : 0.0;
    return kResultOk;
}

// The controller keeps nothing of its own: everything is in the component's state.
tresult ZelkoVst3::setControllerState(IBStream*) {
    return kResultOk;
}

tresult ZelkoVst3::getControllerState(IBStream*) {
    return kResultOk;
}

int32 ZelkoVst3::getParameterCount() {
    return kParameterCount;
}

tresult ZelkoVst3::getParameterInfo(int32 paramIndex, ParameterInfo& info) {
    const ParameterRow* row = parameterAt(paramIndex);
    if (row == nullptr) return kInvalidArgument;
    describe(*row, info);
    return kResultOk;
}

tresult ZelkoVst3::getParamStringByValue(ParamID id, ParamValue valueNormalized, String128 string) {
    const ParameterRow* row = parameterWithId(id);
    if (row == nullptr || string == nullptr) return kInvalidArgument;
    formatValue(*row, valueNormalized, string);
    return kResultOk;
}

tresult ZelkoVst3::getParamValueByString(ParamID id, TChar* string, ParamValue& valueNormalized) {
    const ParameterRow* row = parameterWithId(id);
    if (row == nullptr) return kInvalidArgument;
    return parseValue(*row, string, valueNormalized) ? kResultOk : kResultFalse;
}

ParamValue ZelkoVst3::normalizedParamToPlain(ParamID id, ParamValue valueNormalized) {
    const ParameterRow* row = parameterWithId(id);
    return row != nullptr ? row->record->fromNormalised(valueNormalized) : 0.0;
}

ParamValue ZelkoVst3::plainParamToNormalized(ParamID id, ParamValue plainValue) {
    const ParameterRow* row = parameterWithId(id);
    return row != nullptr ? row->record->toNormalised(static_cast<float>(plainValue)) : 0.0;
}

ParamValue ZelkoVst3::getParamNormalized(ParamID id) {
    for (int p = 0; p < kParameterCount; ++p) {
        if (parameterAt(p)->id == id) return controllerValues[p];
    }
    return 0.0;
}

tresult ZelkoVst3::setParamNormalized(ParamID id, ParamValue value) {
    for (int p = 0; p < kParameterCount; ++p) {
        if (parameterAt(p)->id != id) continue;
        if (!std::isfinite(value)) return kInvalidArgument;
        controllerValues[p] = std::clamp(value, 0.0, 1.0);
        return kResultOk;
    }
    return kInvalidArgument;
}

tresult ZelkoVst3::setComponentHandler(IComponentHandler* handler) {
    componentHandler = handler;
    return kResultOk;
}

// The editor, where this build has one for the platform; hosts show their generic one elsewhere.
IPlugView* ZelkoVst3::createView(FIDString name) {
    if (name == nullptr || std::strcmp(name, kEditorViewName) != 0) return nullptr;
    return createPlugView(*this);
}

// ---- the editor's views ----------------------------------------------------------------------

void ZelkoVst3::viewOpened() {
    openViews.fetch_add(1, std::memory_order_relaxed);
}

void ZelkoVst3::viewClosed() {
    openViews.fetch_sub(1, std::memory_order_relaxed);
}

const Snapshot& ZelkoVst3::latestSnapshot() {
    if (snapshots.take()) shownSnapshot = snapshots.read();
    return shownSnapshot;
}

ControlValues ZelkoVst3::shownControls() {
    ControlValues values;
    for (std::size_t c = 0; c < controlCount; ++c) {
        values.values[c] = controlRecords[c].fromNormalised(controllerValues[c]);
    }
    return values;
}

bool ZelkoVst3::shownBypass() {
    return controllerValues[kControlCount] > 0.5;
}

void ZelkoVst3::beginControlEdit(Control control) {
    if (componentHandler != nullptr)
        componentHandler->beginEdit(parameterAt(static_cast<int>(control))->id);
}

// The controller takes the value first, so that the view shows it even before the host answers.
void ZelkoVst3::performControlEdit(Control control, double normalised) {
    const int p = static_cast<int>(control);
    controllerValues[p] = std::clamp(normalised, 0.0, 1.0);
    if (componentHandler != nullptr)
        componentHandler->performEdit(parameterAt(p)->id, controllerValues[p]);
}

void ZelkoVst3::endControlEdit(Control control) {
    if (componentHandler != nullptr)
        componentHandler->endEdit(parameterAt(static_cast<int>(control))->id);
}

}  // namespace vst3glue
