#include "clap/zelko_clap.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "dsp/denormal_flush.h"
#include "dsp/sample_rate.h"

namespace clapglue {
namespace {

using namespace clapabi;

// Exactly zero, compared by bits: the audio thread flushes denormals to zero, so a float
// comparison would call a denormal sample silent.
bool isSilent(const float* samples, std::uint32_t count) {
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t bits;
        std::memcpy(&bits, &samples[i], sizeof bits);
        if ((bits & 0x7FFFFFFFu) != 0) return false;
    }
    return true;
}

// Channel `channel` of the first buffer, or null when the host did not hand it over.
template <typename Buffer>
float* channelOf(Buffer* buffers, std::uint32_t count, std::uint32_t channel) {
    if (buffers == nullptr || count < 1) return nullptr;
    if (buffers[0].channel_count <= channel || buffers[0].data32 == nullptr) return nullptr;
    return buffers[0].data32[channel];
}

void copyName(char* destination, const char* source) {
    std::memset(destination, 0, CLAP_NAME_SIZE);
    std::strncpy(destination, source, CLAP_NAME_SIZE - 1);
}

}  // namespace

ZelkoClap& ZelkoClap::of(const clap_plugin_t* plugin) {
    return *static_cast<ZelkoClap*>(plugin->plugin_data);
}

ZelkoClap::ZelkoClap(const clap_host_t* owner) : host(owner), chain(std::make_unique<mydsp>()) {
    chain->initialize(startingRate);
    for (std::size_t c = 0; c < controlCount; ++c) {
        const float value = chain->controlValues().values[c];
        currentValues[c].store(value, std::memory_order_relaxed);
        handOverValues[c].store(value, std::memory_order_relaxed);
    }
    const MeterValues lowest = MeterValues::lowest();
    for (std::size_t m = 0; m < meterCount; ++m) {
        publishedMeters[m].store(lowest.values[m], std::memory_order_relaxed);
    }
    for (std::size_t r = 0; r < outputReadingCount; ++r) {
        publishedReadings[r].store(readingOf(OutputLevels{}, static_cast<OutputReading>(r)),
                                   std::memory_order_relaxed);
    }
    bypass.setRate(chain->clampedRate());
    outputMeter.reset(chain->clampedRate().fs);
    shownSnapshot.latencySamples = chainLatency;
    shownSnapshot.sampleRate = chain->clampedRate().fs;

    record.desc = &descriptor();
    record.plugin_data = this;
    record.init = [](const clap_plugin_t* plugin) { return of(plugin).init(); };
    record.destroy = [](const clap_plugin_t* plugin) { delete &of(plugin); };
    record.activate = [](const clap_plugin_t* plugin, double rate, std::uint32_t, std::uint32_t) {
        return of(plugin).activate(rate);
    };
    record.deactivate = [](const clap_plugin_t* plugin) { of(plugin).deactivate(); };
    record.start_processing = [](const clap_plugin_t* plugin) {
        return of(plugin).active.load(std::memory_order_acquire);
    };
    record.stop_processing = [](const clap_plugin_t*) {};
    record.reset = [](const clap_plugin_t* plugin) { of(plugin).reset(); };
    record.process = [](const clap_plugin_t* plugin, const clap_process_t* data) {
        return data != nullptr ? of(plugin).process(*data) : CLAP_PROCESS_ERROR;
    };
    record.get_extension = [](const clap_plugin_t* plugin, const char* id) {
        return id != nullptr ? of(plugin).extension(id) : nullptr;
    };
    record.on_main_thread = [](const clap_plugin_t*) {};
}

// A GUI still there goes first: it gives the host back its timer and descriptor.
ZelkoClap::~ZelkoClap() {
    destroyGui();
}

// The host's extensions are asked for here, where the host may be asked, not at creation.
bool ZelkoClap::init() {
    if (host == nullptr || host->get_extension == nullptr) return true;
    guiHost = GuiHost::of(host);
    threadCheck = static_cast<const clap_host_thread_check_t*>(
        host->get_extension(host, CLAP_EXT_THREAD_CHECK));
    if (threadCheck != nullptr &&
        (threadCheck->is_main_thread == nullptr || threadCheck->is_audio_thread == nullptr)) {
        threadCheck = nullptr;
    }
    hostParams = static_cast<const clap_host_params_t*>(host->get_extension(host, CLAP_EXT_PARAMS));
    if (hostParams != nullptr && hostParams->rescan == nullptr) hostParams = nullptr;
    return true;
}

bool ZelkoClap::onMainThread() const {
    return threadCheck == nullptr || threadCheck->is_main_thread(host);
}

// The rate as the VST 2.4 plug-in takes it: the processor starts over at the host's rate (held
// and mended as the processor does for rates outside its range), from silence, with the held
// control values put back.
bool ZelkoClap::activate(double sampleRate) {
    if (active.load(std::memory_order_acquire) || !onMainThread()) return false;
    chain->initialize(integerRate(sampleRate));
    for (std::size_t c = 0; c < controlCount; ++c) {
        chain->controlValues().values[c] = currentValues[c].load(std::memory_order_relaxed);
    }
    takenSequence = handOverSequence.load(std::memory_order_acquire) & ~1u;
    bypass.set(currentBypass.load(std::memory_order_relaxed));
    bypass.setRate(chain->clampedRate());
    chain->clearState();
    outputMeter.reset(chain->clampedRate().fs);
    shownSnapshot.sampleRate = chain->clampedRate().fs;
    metersSent = false;
    active.store(true, std::memory_order_release);
    return true;
}

void ZelkoClap::deactivate() {
    if (onMainThread()) active.store(false, std::memory_order_release);
}

// Back to exact silence: the processor's signal state, the bypass delay and the crossfade start
// over; the controls and the rate stay.
void ZelkoClap::reset() {
    if (!active.load(std::memory_order_acquire)) return;
    chain->clearState();
    bypass.reset();
    outputMeter.reset(chain->clampedRate().fs);
}

std::uint32_t ZelkoClap::tailSamples() const {
    return static_cast<std::uint32_t>(std::ceil(kTailSeconds * chain->clampedRate().fs));
}

// ---- parameters ------------------------------------------------------------------------------

void ZelkoClap::applyEvent(const clap_event_header_t* event) {
    if (event == nullptr || event->space_id != CLAP_CORE_EVENT_SPACE_ID ||
        event->type != CLAP_EVENT_PARAM_VALUE || event->size < sizeof(clap_event_param_value_t)) {
        return;
    }
    const auto* change = reinterpret_cast<const clap_event_param_value_t*>(event);
    const ParamRow* row = paramWithId(change->param_id);
    if (row == nullptr) return;
    const float value = valueOf(*row->record, change->value);
    switch (row->kind) {
        case ParamKind::control:
            chain->controlValues().values[row->index] = value;
            currentValues[row->index].store(value, std::memory_order_relaxed);
            return;
        case ParamKind::bypass:
            bypass.set(value > 0.5f);
            currentBypass.store(value > 0.5f, std::memory_order_relaxed);
            return;
        case ParamKind::meter:
        case ParamKind::reading:
            return;  // read-only
    }
}

bool ZelkoClap::paramValue(clap_id id, double& value) const {
    const ParamRow* row = paramWithId(id);
    if (row == nullptr) return false;
    switch (row->kind) {
        case ParamKind::control:
            value = currentValues[row->index].load(std::memory_order_relaxed);
            return true;
        case ParamKind::bypass:
            value = currentBypass.load(std::memory_order_relaxed) ? 1.0 : 0.0;
            return true;
        case ParamKind::meter:
            value = publishedMeters[row->index].load(std::memory_order_relaxed);
            return true;
        case ParamKind::reading:
            value = publishedReadings[row->index].load(std::memory_order_relaxed);
            return true;
    }
    return false;
}

// Changes outside processing. While active this is the audio thread, between blocks; otherwise no
// audio runs and activation puts the values in place.
void ZelkoClap::flush(const clap_input_events_t* in, const clap_output_events_t* out) {
    if (active.load(std::memory_order_acquire)) takeHandedOverState();
    takeEditorEdits(out, 0);
    if (in == nullptr || in->size == nullptr || in->get == nullptr) return;
    const std::uint32_t count = in->size(in);
    for (std::uint32_t e = 0; e < count; ++e) applyEvent(in->get(in, e));
}

// ---- state -----------------------------------------------------------------------------------

bool ZelkoClap::saveState(const clap_ostream_t* stream) const {
    PluginState state;
    for (std::size_t c = 0; c < controlCount; ++c) {
        state.controls.values[c] = currentValues[c].load(std::memory_order_relaxed);
    }
    state.bypassed = currentBypass.load(std::memory_order_relaxed);
    return writeState(stream, state);
}

bool ZelkoClap::loadState(const clap_istream_t* stream) {
    if (!onMainThread()) return false;
    const std::optional<PluginState> state = readState(stream);
    if (!state) return false;
    bool idle = false;
    if (!loading.compare_exchange_strong(idle, true, std::memory_order_acquire)) return false;
    const std::uint32_t sequence = handOverSequence.load(std::memory_order_relaxed);
    handOverSequence.store(sequence + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    for (std::size_t c = 0; c < controlCount; ++c) {
        handOverValues[c].store(state->controls.values[c], std::memory_order_relaxed);
        currentValues[c].store(state->controls.values[c], std::memory_order_relaxed);
    }
    handOverBypass.store(state->bypassed, std::memory_order_relaxed);
    currentBypass.store(state->bypassed, std::memory_order_relaxed);
    handOverSequence.store(sequence + 2, std::memory_order_release);
    loading.store(false, std::memory_order_release);
    if (hostParams != nullptr) hostParams->rescan(host, CLAP_PARAM_RESCAN_VALUES);
    return true;
}

void ZelkoClap::takeHandedOverState() {
    const std::uint32_t before = handOverSequence.load(std::memory_order_acquire);
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

// ---- processing ------------------------------------------------------------------------------

// Parameter events are applied at their sample offsets: the block is cut at every offset where an
// event falls, and each part runs with the values set before it, exactly where the VST 2.4 host
// would have called setParameter between two calls. Events come in time order; one before the
// part already rendered is applied where rendering stands, and one at or after the block's end
// after the block, so nothing is rendered twice or skipped.
clap_process_status ZelkoClap::process(const clap_process_t& data) {
    DenormalFlushGuard flushDenormals;
    const std::uint32_t frames = data.frames_count;
    const float* in = channelOf(data.audio_inputs, data.audio_inputs_count, 0);
    float* left = channelOf(data.audio_outputs, data.audio_outputs_count, 0);
    float* right = channelOf(data.audio_outputs, data.audio_outputs_count, 1);
    const bool ready = active.load(std::memory_order_acquire);
    // As in the VST 2.4 plug-in: without its input or either output nothing runs and no state
    // moves on; every output that is there is silenced, so the host never plays stale samples.
    const bool runs =
        ready && (frames == 0 || (in != nullptr && left != nullptr && right != nullptr));

    if (ready) {
        takeHandedOverState();
        takeEditorEdits(data.out_events, 0);
        std::uint32_t position = 0;
        const clap_input_events_t* events = data.in_events;
        if (events != nullptr && events->size != nullptr && events->get != nullptr) {
            const std::uint32_t count = events->size(events);
            for (std::uint32_t e = 0; e < count; ++e) {
                const clap_event_header_t* event = events->get(events, e);
                if (event == nullptr) continue;
                const std::uint32_t cut = std::clamp(event->time, position, frames);
                if (runs && cut > position) render(in, left, right, position, cut);
                position = cut;
                applyEvent(event);
            }
        }
        if (runs && frames > position) render(in, left, right, position, frames);
    }

    if (!runs) {
        for (std::uint32_t b = 0; b < data.audio_outputs_count && data.audio_outputs != nullptr;
             ++b) {
            clap_audio_buffer_t& bus = data.audio_outputs[b];
            if (bus.data32 == nullptr) continue;
            for (std::uint32_t ch = 0; ch < bus.channel_count; ++ch) {
                if (float* out = bus.data32[ch]) std::fill(out, out + frames, 0.0f);
            }
            bus.constant_mask = bus.channel_count >= 64
                                    ? ~std::uint64_t{0}
                                    : (std::uint64_t{1} << bus.channel_count) - 1;
        }
        return ready ? CLAP_PROCESS_CONTINUE : CLAP_PROCESS_ERROR;
    }
    if (frames > 0) {
        // Marked constant only where the output holds exact zeros: a host may skip such a buffer.
        data.audio_outputs[0].constant_mask =
            (isSilent(left, frames) ? 1u : 0u) | (isSilent(right, frames) ? 2u : 0u);
        // Read only: the output is the same whatever is measured.
        outputMeter.step(left, right, static_cast<int>(frames));
        sendMeters(data.out_events, frames - 1);
        if (editorOpen.load(std::memory_order_relaxed)) publishSnapshot();
    }
    return CLAP_PROCESS_CONTINUE;
}

// One part of a block, through the bypass, which reads the input before the processor writes.
void ZelkoClap::render(const float* in, float* left, float* right, std::uint32_t from,
                       std::uint32_t to) {
    bypass.run(
        in + from, left + from, right + from, static_cast<int>(to - from),
        [&](int offset, int count) {
            const std::size_t start = from + static_cast<std::uint32_t>(offset);
            float* inputs[2] = {const_cast<float*>(in) + start, const_cast<float*>(in) + start};
            float* outputs[2] = {left + start, right + start};
            chain->process(count, inputs, outputs);
        });
}

namespace {

bool pushValue(const clap_output_events_t* out, clap_id id, double value, std::uint32_t time) {
    if (out == nullptr || out->try_push == nullptr) return false;
    clap_event_param_value_t event{};
    event.header = {sizeof event, time, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
    event.param_id = id;
    event.note_id = -1;
    event.port_index = -1;
    event.channel = -1;
    event.key = -1;
    event.value = value;
    return out->try_push(out, &event.header);
}

bool pushGesture(const clap_output_events_t* out, std::uint16_t type, clap_id id,
                 std::uint32_t time) {
    if (out == nullptr || out->try_push == nullptr) return false;
    clap_event_param_gesture_t event{};
    event.header = {sizeof event, time, CLAP_CORE_EVENT_SPACE_ID, type, 0};
    event.param_id = id;
    return out->try_push(out, &event.header);
}

}  // namespace

// The meters as the block's last sample left them, and the output's readings after it: each one
// that moved since it was last sent goes out as a change of its read-only parameter, all of them
// after activation.
void ZelkoClap::sendMeters(const clap_output_events_t* out, std::uint32_t lastSample) {
    const MeterValues& meters = chain->meterValues();
    for (std::size_t m = 0; m < meterCount; ++m) {
        const float value = meterRecords[m].reach.held(meters.values[m]);
        publishedMeters[m].store(value, std::memory_order_relaxed);
        if (metersSent && value == sentMeters.values[m]) continue;
        if (pushValue(out, kFirstMeterId + static_cast<clap_id>(m), value, lastSample)) {
            sentMeters.values[m] = value;
        }
    }
    const OutputLevels levels = outputMeter.levels();
    for (std::size_t r = 0; r < outputReadingCount; ++r) {
        const float value = readingOf(levels, static_cast<OutputReading>(r));
        publishedReadings[r].store(value, std::memory_order_relaxed);
        if (metersSent && value == sentReadings[r]) continue;
        if (pushValue(out, kFirstReadingId + static_cast<clap_id>(r), value, lastSample)) {
            sentReadings[r] = value;
        }
    }
    metersSent = true;
}

// What the editor shows of this block: the output as measured, the meters and the controls as
// the block ended.
void ZelkoClap::publishSnapshot() {
    snapshots.writeSlot().takeBlock(*chain, currentBypass.load(std::memory_order_relaxed),
                                    outputMeter, chainLatency);
    snapshots.publish();
}

// The editor's values take effect where the block starts, before the host's events of the block,
// and go to the host in the order the user made them.
void ZelkoClap::takeEditorEdits(const clap_output_events_t* out, std::uint32_t time) {
    EditorEdit edit;
    while (editorEdits.pop(edit)) {
        if (edit.type != CLAP_EVENT_PARAM_VALUE) {
            pushGesture(out, edit.type, edit.id, time);
            continue;
        }
        const ParamRow* row = paramWithId(edit.id);
        if (row == nullptr || row->kind != ParamKind::control) continue;
        const float value = valueOf(*row->record, edit.value);
        chain->controlValues().values[row->index] = value;
        currentValues[row->index].store(value, std::memory_order_relaxed);
        pushValue(out, edit.id, value, time);
    }
}

// ---- the editor ------------------------------------------------------------------------------

bool ZelkoClap::guiSupported(const char* api, bool isFloating) const {
    return onMainThread() && guiHost.supports(api, isFloating);
}

bool ZelkoClap::createGui(const char* api, bool isFloating) {
    if (editorGui || !guiSupported(api, isFloating)) return false;
    try {
        editorGui = Gui::create(guiHost, *this);
    } catch (...) {
        editorGui.reset();
    }
    if (!editorGui) return false;
    editorOpen.store(true, std::memory_order_relaxed);
    return true;
}

void ZelkoClap::destroyGui() {
    if (!editorGui) return;
    editorOpen.store(false, std::memory_order_relaxed);
    editorGui.reset();
}

const Snapshot& ZelkoClap::latestSnapshot() {
    if (snapshots.take()) shownSnapshot = snapshots.read();
    return shownSnapshot;
}

ControlValues ZelkoClap::shownControls() {
    ControlValues values;
    for (std::size_t c = 0; c < controlCount; ++c) {
        values.values[c] = currentValues[c].load(std::memory_order_relaxed);
    }
    return values;
}

bool ZelkoClap::shownBypass() {
    return currentBypass.load(std::memory_order_relaxed);
}

void ZelkoClap::beginControlEdit(Control control) {
    sendEdit(CLAP_EVENT_PARAM_GESTURE_BEGIN, control, 0.0);
}

// The value shows at once, before the audio thread takes it.
void ZelkoClap::performControlEdit(Control control, double normalised) {
    const auto c = static_cast<std::size_t>(control);
    const float value = controlRecords[c].fromNormalised(normalised);
    currentValues[c].store(value, std::memory_order_relaxed);
    sendEdit(CLAP_EVENT_PARAM_VALUE, control, value);
}

void ZelkoClap::endControlEdit(Control control) {
    sendEdit(CLAP_EVENT_PARAM_GESTURE_END, control, 0.0);
}

// Queued for the audio thread; the host is asked to call `process` or `flush` soon, so that the
// edit reaches it even while no audio runs.
void ZelkoClap::sendEdit(std::uint16_t type, Control control, double value) {
    editorEdits.push({type, static_cast<clap_id>(control), value});
    if (hostParams != nullptr && hostParams->request_flush != nullptr) {
        hostParams->request_flush(host);
    }
}

// ---- extensions ------------------------------------------------------------------------------

bool ZelkoClap::portInfo(std::uint32_t index, bool isInput, clap_audio_port_info_t& info) const {
    if (index != 0) return false;
    std::memset(&info, 0, sizeof info);
    info.id = isInput ? kInputPortId : kOutputPortId;
    copyName(info.name, isInput ? "Input" : "Output");
    info.flags = CLAP_AUDIO_PORT_IS_MAIN;
    info.channel_count = isInput ? inputChannels() : 2;
    info.port_type = info.channel_count == 1 ? CLAP_PORT_MONO : CLAP_PORT_STEREO;
    info.in_place_pair = CLAP_INVALID_ID;
    return true;
}

bool ZelkoClap::configInfo(std::uint32_t index, clap_audio_ports_config_t& config) const {
    if (index > 1) return false;
    std::memset(&config, 0, sizeof config);
    config.id = index == 0 ? kMonoInConfig : kStereoInConfig;
    copyName(config.name, index == 0 ? "Mono in, stereo out" : "Stereo in (left read), stereo out");
    config.input_port_count = 1;
    config.output_port_count = 1;
    config.has_main_input = true;
    config.main_input_channel_count = index == 0 ? 1 : 2;
    config.main_input_port_type = index == 0 ? CLAP_PORT_MONO : CLAP_PORT_STEREO;
    config.has_main_output = true;
    config.main_output_channel_count = 2;
    config.main_output_port_type = CLAP_PORT_STEREO;
    return true;
}

// Only while inactive: an active plug-in's ports stay as the host found them.
bool ZelkoClap::selectConfig(clap_id id) {
    if (active.load(std::memory_order_acquire) || !onMainThread()) return false;
    if (id != kMonoInConfig && id != kStereoInConfig) return false;
    stereoInput = id == kStereoInConfig;
    return true;
}

const void* ZelkoClap::extension(const char* id) const {
    static const clap_plugin_audio_ports_t audioPorts = {
        [](const clap_plugin_t*, bool) -> std::uint32_t { return 1; },
        [](const clap_plugin_t* plugin, std::uint32_t index, bool isInput,
           clap_audio_port_info_t* info) {
            return info != nullptr && of(plugin).portInfo(index, isInput, *info);
        }};
    static const clap_plugin_audio_ports_config_t portsConfig = {
        [](const clap_plugin_t*) -> std::uint32_t { return 2; },
        [](const clap_plugin_t* plugin, std::uint32_t index, clap_audio_ports_config_t* config) {
            return config != nullptr && of(plugin).configInfo(index, *config);
        },
        [](const clap_plugin_t* plugin, clap_id config) {
            return of(plugin).selectConfig(config);
        }};
    static const clap_plugin_params_t params = {
        [](const clap_plugin_t*) { return kParamCount; },
        [](const clap_plugin_t*, std::uint32_t index, clap_param_info_t* info) {
            const ParamRow* row = paramAt(index);
            if (row == nullptr || info == nullptr) return false;
            describe(*row, *info);
            return true;
        },
        [](const clap_plugin_t* plugin, clap_id id, double* value) {
            return value != nullptr && of(plugin).paramValue(id, *value);
        },
        [](const clap_plugin_t*, clap_id id, double value, char* text, std::uint32_t capacity) {
            const ParamRow* row = paramWithId(id);
            return row != nullptr && valueToText(*row, value, text, capacity);
        },
        [](const clap_plugin_t*, clap_id id, const char* text, double* value) {
            const ParamRow* row = paramWithId(id);
            return row != nullptr && value != nullptr && textToValue(*row, text, *value);
        },
        [](const clap_plugin_t* plugin, const clap_input_events_t* in,
           const clap_output_events_t* out) { of(plugin).flush(in, out); }};
    static const clap_plugin_latency_t latency = {
        [](const clap_plugin_t*) -> std::uint32_t { return chainLatency; }};
    static const clap_plugin_tail_t tail = {
        [](const clap_plugin_t* plugin) { return of(plugin).tailSamples(); }};
    static const clap_plugin_state_t state = {
        [](const clap_plugin_t* plugin, const clap_ostream_t* stream) {
            return of(plugin).saveState(stream);
        },
        [](const clap_plugin_t* plugin, const clap_istream_t* stream) {
            return of(plugin).loadState(stream);
        }};
    // Offline rendering changes nothing: the processor is deterministic and always real-time safe.
    static const clap_plugin_render_t render = {
        [](const clap_plugin_t*) { return false; },
        [](const clap_plugin_t*, clap_plugin_render_mode mode) {
            return mode == CLAP_RENDER_REALTIME || mode == CLAP_RENDER_OFFLINE;
        }};

    // The editor, embedded only; its calls all belong to the main thread.
    static const clap_plugin_gui_t gui = {
        [](const clap_plugin_t* plugin, const char* api, bool isFloating) {
            return of(plugin).guiSupported(api, isFloating);
        },
        [](const clap_plugin_t*, const char** api, bool* isFloating) {
            if (api == nullptr || isFloating == nullptr) return false;
            *api = ourWindowApi();
            *isFloating = false;
            return true;
        },
        [](const clap_plugin_t* plugin, const char* api, bool isFloating) {
            return of(plugin).createGui(api, isFloating);
        },
        [](const clap_plugin_t* plugin) {
            if (of(plugin).onMainThread()) of(plugin).destroyGui();
        },
        [](const clap_plugin_t* plugin, double scale) {
            Gui* shown = of(plugin).guiOnMainThread();
            return shown != nullptr && shown->setScale(scale);
        },
        [](const clap_plugin_t* plugin, std::uint32_t* width, std::uint32_t* height) {
            Gui* shown = of(plugin).guiOnMainThread();
            if (shown == nullptr || width == nullptr || height == nullptr) return false;
            *width = static_cast<std::uint32_t>(shown->size().width);
            *height = static_cast<std::uint32_t>(shown->size().height);
            return true;
        },
        [](const clap_plugin_t*) { return true; },
        [](const clap_plugin_t*, clap_gui_resize_hints_t* hints) {
            if (hints == nullptr) return false;
            // 800 x 440: the picture keeps its proportions at every size.
            *hints = {true, true, true, 20, 11};
            return true;
        },
        [](const clap_plugin_t*, std::uint32_t* width, std::uint32_t* height) {
            if (width == nullptr || height == nullptr) return false;
            const auto fit = [](std::uint32_t v) {
                return static_cast<int>(std::min(v, 1u << 16));
            };
            const editor::PixelSize fitted = editor::sizeWithin(fit(*width), fit(*height));
            *width = static_cast<std::uint32_t>(fitted.width);
            *height = static_cast<std::uint32_t>(fitted.height);
            return true;
        },
        [](const clap_plugin_t* plugin, std::uint32_t width, std::uint32_t height) {
            Gui* shown = of(plugin).guiOnMainThread();
            if (shown == nullptr || width == 0 || height == 0 || width > (1u << 16) ||
                height > (1u << 16)) {
                return false;
            }
            shown->setSize({static_cast<int>(width), static_cast<int>(height)});
            return true;
        },
        [](const clap_plugin_t* plugin, const clap_window_t* window) {
            Gui* shown = of(plugin).guiOnMainThread();
            return shown != nullptr && shown->setParent(window);
        },
        [](const clap_plugin_t*, const clap_window_t*) { return false; },  // never floating
        [](const clap_plugin_t*, const char*) {},
        [](const clap_plugin_t* plugin) {
            Gui* shown = of(plugin).guiOnMainThread();
            if (shown != nullptr) shown->setVisible(true);
            return shown != nullptr;
        },
        [](const clap_plugin_t* plugin) {
            Gui* shown = of(plugin).guiOnMainThread();
            if (shown != nullptr) shown->setVisible(false);
            return shown != nullptr;
        }};
#if defined(__linux__)
    static const clap_plugin_timer_support_t timerSupport = {
        [](const clap_plugin_t* plugin, clap_id timer) {
            if (Gui* shown = of(plugin).guiOnMainThread()) shown->onTimer(timer);
        }};
    static const clap_plugin_posix_fd_support_t fdSupport = {
        [](const clap_plugin_t* plugin, int fd, clap_posix_fd_flags_t) {
            if (Gui* shown = of(plugin).guiOnMainThread()) shown->onFd(fd);
        }};
    if (std::strcmp(id, CLAP_EXT_TIMER_SUPPORT) == 0) return &timerSupport;
    if (std::strcmp(id, CLAP_EXT_POSIX_FD_SUPPORT) == 0) return &fdSupport;
#endif

    if (std::strcmp(id, CLAP_EXT_GUI) == 0) return &gui;
    if (std::strcmp(id, CLAP_EXT_AUDIO_PORTS) == 0) return &audioPorts;
    if (std::strcmp(id, CLAP_EXT_AUDIO_PORTS_CONFIG) == 0) return &portsConfig;
    if (std::strcmp(id, CLAP_EXT_PARAMS) == 0) return &params;
    if (std::strcmp(id, CLAP_EXT_LATENCY) == 0) return &latency;
    if (std::strcmp(id, CLAP_EXT_TAIL) == 0) return &tail;
    if (std::strcmp(id, CLAP_EXT_STATE) == 0) return &state;
    if (std::strcmp(id, CLAP_EXT_RENDER) == 0) return &render;
    return nullptr;
}

}  // namespace clapglue
