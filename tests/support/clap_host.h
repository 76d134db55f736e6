// A compact CLAP host for the tests, on Linux and (cross-built) on Windows: loads a module, creates
// the plug-in through its factory and drives it through the records alone, as a host does. It
// offers the plug-in the thread-check, params and gui extensions, and on Linux the timers and the
// watch on descriptors a GUI runs on, served by `serveMainLoop` from the test's thread as a host
// serves them from its own. Its event lists reserve their room up front, so that a block run
// through it allocates nothing on the host's side either.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <poll.h>
#endif

#include "clap/clap_abi.h"
#include "dsp/control_record.h"
#include "tests/support/render_programme.h"

namespace claphost {

using namespace clapabi;

// The entry of a module file, initialised; the module stays loaded for the life of the process.
inline const clap_plugin_entry_t* loadEntry(const std::string& module) {
#if defined(_WIN32)
    HMODULE handle = LoadLibraryA(module.c_str());
    if (!handle) return nullptr;
    // GetProcAddress answers a function pointer even for data; through void* the cast says so.
    const auto* entry = static_cast<const clap_plugin_entry_t*>(
        reinterpret_cast<void*>(GetProcAddress(handle, "clap_entry")));
#else
    void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) return nullptr;
    const auto* entry = static_cast<const clap_plugin_entry_t*>(dlsym(handle, "clap_entry"));
#endif
    if (!entry || !clap_version_is_compatible(entry->clap_version) || !entry->init(module.c_str()))
        return nullptr;
    return entry;
}

inline const clap_plugin_factory_t* loadFactory(const std::string& module) {
    const clap_plugin_entry_t* entry = loadEntry(module);
    if (!entry) return nullptr;
    return static_cast<const clap_plugin_factory_t*>(entry->get_factory(CLAP_PLUGIN_FACTORY_ID));
}

// Events the host sends: parameter values, in the order added (which is time order when the
// caller adds them so).
class InputEvents {
  public:
    InputEvents() {
        events.reserve(4096);
        list.ctx = this;
        list.size = [](const clap_input_events_t* l) {
            return static_cast<std::uint32_t>(static_cast<InputEvents*>(l->ctx)->events.size());
        };
        list.get = [](const clap_input_events_t* l,
                      std::uint32_t index) -> const clap_event_header_t* {
            auto& events = static_cast<InputEvents*>(l->ctx)->events;
            return index < events.size() ? &events[index].header : nullptr;
        };
    }
    InputEvents(const InputEvents&) = delete;
    InputEvents& operator=(const InputEvents&) = delete;

    void add(clap_id id, std::uint32_t time, double value) {
        clap_event_param_value_t event{};
        event.header = {sizeof event, time, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
        event.param_id = id;
        event.note_id = -1;
        event.port_index = event.channel = event.key = -1;
        event.value = value;
        events.push_back(event);
    }

    std::vector<clap_event_param_value_t> events;
    clap_input_events_t list{};
};

// An event the plug-in sent: a value, or a gesture's begin or end (value 0).
struct SentEvent {
    std::uint16_t type;
    clap_id id;
    double value;
};

// Events the plug-in sends back: the values of the last call, and everything in order since the
// test last cleared `log`; kept up to a fixed number, and refused after that.
class OutputEvents {
  public:
    OutputEvents() {
        events.reserve(kCapacity);
        log.reserve(kLogCapacity);
        list.ctx = this;
        list.try_push = [](const clap_output_events_t* l, const clap_event_header_t* event) {
            auto& self = *static_cast<OutputEvents*>(l->ctx);
            SentEvent sent{event->type, 0, 0.0};
            if (event->type == CLAP_EVENT_PARAM_VALUE) {
                if (self.events.size() == kCapacity) return false;
                const auto& value = *reinterpret_cast<const clap_event_param_value_t*>(event);
                self.events.push_back(value);
                sent = {event->type, value.param_id, value.value};
            } else if (event->type == CLAP_EVENT_PARAM_GESTURE_BEGIN ||
                       event->type == CLAP_EVENT_PARAM_GESTURE_END) {
                sent.id = reinterpret_cast<const clap_event_param_gesture_t*>(event)->param_id;
            } else {
                return false;
            }
            if (self.log.size() < kLogCapacity) self.log.push_back(sent);
            return true;
        };
    }
    OutputEvents(const OutputEvents&) = delete;
    OutputEvents& operator=(const OutputEvents&) = delete;

    static constexpr std::size_t kCapacity = 256;
    static constexpr std::size_t kLogCapacity = 8192;  // then no more is logged
    std::vector<clap_event_param_value_t> events;
    std::vector<SentEvent> log;
    clap_output_events_t list{};
};

// The host record with the extensions a plug-in may ask for; the thread it reports, whether it
// offers a GUI its timers and descriptors, and what it was asked are the test's to set and read.
class Host {
  public:
    Host() {
        record.clap_version = CLAP_VERSION;
        record.host_data = this;
        record.name = "zelko-test-host";
        record.vendor = record.url = record.version = "";
        record.get_extension = [](const clap_host_t* host, const char* id) -> const void* {
            const auto& self = *static_cast<const Host*>(host->host_data);
            if (std::strcmp(id, CLAP_EXT_THREAD_CHECK) == 0) return &self.threadCheck;
            if (std::strcmp(id, CLAP_EXT_PARAMS) == 0) return &self.params;
            if (std::strcmp(id, CLAP_EXT_GUI) == 0) return &self.gui;
            if (self.offersMainLoop && std::strcmp(id, CLAP_EXT_TIMER_SUPPORT) == 0)
                return &self.timerSupport;
            if (self.offersMainLoop && std::strcmp(id, CLAP_EXT_POSIX_FD_SUPPORT) == 0)
                return &self.fdSupport;
            return nullptr;
        };
        record.request_restart = record.request_process =
            record.request_callback = [](const clap_host_t*) {};
        threadCheck.is_main_thread = [](const clap_host_t* host) {
            return static_cast<const Host*>(host->host_data)->onMainThread;
        };
        threadCheck.is_audio_thread = [](const clap_host_t* host) {
            return !static_cast<const Host*>(host->host_data)->onMainThread;
        };
        params.rescan = [](const clap_host_t* host, std::uint32_t) {
            ++static_cast<Host*>(host->host_data)->rescans;
        };
        params.clear = [](const clap_host_t*, clap_id, std::uint32_t) {};
        params.request_flush = [](const clap_host_t* host) {
            static_cast<Host*>(host->host_data)->flushRequested = true;
        };
        gui.resize_hints_changed = [](const clap_host_t*) {};
        gui.request_resize = [](const clap_host_t* host, std::uint32_t width,
                                std::uint32_t height) {
            static_cast<Host*>(host->host_data)->resizeRequests.push_back({width, height});
            return true;
        };
        gui.request_show = gui.request_hide = [](const clap_host_t*) { return false; };
        gui.closed = [](const clap_host_t*, bool) {};
        timerSupport.register_timer = [](const clap_host_t* host, std::uint32_t period,
                                         clap_id* id) {
            auto& self = *static_cast<Host*>(host->host_data);
            *id = self.nextTimer++;
            self.timers.push_back({*id, period});
            return true;
        };
        timerSupport.unregister_timer = [](const clap_host_t* host, clap_id id) {
            return std::erase_if(static_cast<Host*>(host->host_data)->timers,
                                 [&](const auto& t) { return t.first == id; }) == 1;
        };
        fdSupport.register_fd = [](const clap_host_t* host, int fd, clap_posix_fd_flags_t flags) {
            static_cast<Host*>(host->host_data)->fds.push_back({fd, flags});
            return true;
        };
        fdSupport.modify_fd = [](const clap_host_t*, int, clap_posix_fd_flags_t) { return false; };
        fdSupport.unregister_fd = [](const clap_host_t* host, int fd) {
            return std::erase_if(static_cast<Host*>(host->host_data)->fds,
                                 [&](const auto& f) { return f.first == fd; }) == 1;
        };
    }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

#if !defined(_WIN32)
    // One turn of the host's main loop: every watched descriptor with input, then every timer.
    void serveMainLoop(const clap_plugin_t* plugin) {
        const auto* onFd = static_cast<const clap_plugin_posix_fd_support_t*>(
            plugin->get_extension(plugin, CLAP_EXT_POSIX_FD_SUPPORT));
        const auto* onTimer = static_cast<const clap_plugin_timer_support_t*>(
            plugin->get_extension(plugin, CLAP_EXT_TIMER_SUPPORT));
        for (const auto& [fd, flags] : std::vector(fds)) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 0) > 0) onFd->on_fd(plugin, fd, CLAP_POSIX_FD_READ);
        }
        for (const auto& [id, period] : std::vector(timers)) onTimer->on_timer(plugin, id);
    }
#endif

    clap_host_t record{};
    clap_host_thread_check_t threadCheck{};
    clap_host_params_t params{};
    clap_host_gui_t gui{};
    clap_host_timer_support_t timerSupport{};
    clap_host_posix_fd_support_t fdSupport{};
    bool onMainThread = true;
    bool offersMainLoop = true;
    int rescans = 0;
    bool flushRequested = false;
    clap_id nextTimer = 7;
    std::vector<std::pair<clap_id, std::uint32_t>> timers;  // ID, period in milliseconds
    std::vector<std::pair<int, clap_posix_fd_flags_t>> fds;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> resizeRequests;
};

// A byte stream over a vector, read or written in pieces of at most `piece` bytes, as a host's
// file stream may hand them.
struct Stream {
    explicit Stream(std::vector<unsigned char> data = {}, std::uint64_t piece = 7)
        : bytes(std::move(data)), most(piece) {
        in.ctx = out.ctx = this;
        in.read = [](const clap_istream_t* s, void* buffer, std::uint64_t size) -> std::int64_t {
            auto& self = *static_cast<Stream*>(s->ctx);
            std::uint64_t n =
                std::min<std::uint64_t>({size, self.most, self.bytes.size() - self.at});
            if (n > 0) std::memcpy(buffer, self.bytes.data() + self.at, n);
            self.at += n;
            return static_cast<std::int64_t>(n);
        };
        out.write = [](const clap_ostream_t* s, const void* buffer,
                       std::uint64_t size) -> std::int64_t {
            auto& self = *static_cast<Stream*>(s->ctx);
            const std::uint64_t n = std::min(size, self.most);
            const auto* from = static_cast<const unsigned char*>(buffer);
            self.bytes.insert(self.bytes.end(), from, from + n);
            return static_cast<std::int64_t>(n);
        };
    }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    std::vector<unsigned char> bytes;
    std::uint64_t most;
    std::size_t at = 0;
    clap_istream_t in{};
    clap_ostream_t out{};
};

template <typename Extension>
const Extension* extensionOf(const clap_plugin_t* plugin, const char* id) {
    return static_cast<const Extension*>(plugin->get_extension(plugin, id));
}

// One plug-in instance, created, initialised, in the chosen port configuration, activated and
// processing.
class Instance {
  public:
    Instance(const clap_plugin_factory_t* factory, double rate, std::uint32_t maxBlock,
             bool stereoInput = false) {
        if (!factory) return;
        const clap_plugin_descriptor_t* described = factory->get_plugin_descriptor(factory, 0);
        if (!described) return;
        plugin = factory->create_plugin(factory, &host.record, described->id);
        if (!plugin || !plugin->init(plugin)) return;
        params = extensionOf<clap_plugin_params_t>(plugin, CLAP_EXT_PARAMS);
        state = extensionOf<clap_plugin_state_t>(plugin, CLAP_EXT_STATE);
        const auto* configs =
            extensionOf<clap_plugin_audio_ports_config_t>(plugin, CLAP_EXT_AUDIO_PORTS_CONFIG);
        if (stereoInput && configs) configs->select(plugin, 1);
        inputChannels = stereoInput ? 2 : 1;
        activate(rate, maxBlock);
    }
    ~Instance() {
        if (!plugin) return;
        deactivate();
        plugin->destroy(plugin);
    }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;
    explicit operator bool() const { return plugin && params && state && active; }

    void activate(double rate, std::uint32_t maxBlock) {
        active = plugin->activate(plugin, rate, 1, maxBlock) && plugin->start_processing(plugin);
    }
    void deactivate() {
        if (!active) return;
        plugin->stop_processing(plugin);
        plugin->deactivate(plugin);
        active = false;
    }

    // One block: `in` goes to every input channel (unless `second` is given), the outputs to left
    // and right; the events added since the last block go with it.
    clap_process_status process(const float* in, float* left, float* right, std::uint32_t frames,
                                const float* second = nullptr) {
        float* inputs[2] = {const_cast<float*>(in), const_cast<float*>(second ? second : in)};
        float* outputs[2] = {left, right};
        inputBuffer = {inputs, nullptr, static_cast<std::uint32_t>(inputChannels), 0, 0};
        outputBuffer = {outputs, nullptr, 2, 0, 0};
        clap_process_t data{};
        data.steady_time = -1;
        data.frames_count = frames;
        data.audio_inputs = &inputBuffer;
        data.audio_outputs = &outputBuffer;
        data.audio_inputs_count = data.audio_outputs_count = 1;
        data.in_events = &changes.list;
        data.out_events = &sent.list;
        sent.events.clear();
        const clap_process_status status = plugin->process(plugin, &data);
        changes.events.clear();
        return status;
    }

    // The events added since the last block, applied outside processing.
    void flush() {
        host.flushRequested = false;
        params->flush(plugin, &changes.list, &sent.list);
        changes.events.clear();
    }

    double value(clap_id id) const {
        double v = -1.0;
        params->get_value(plugin, id, &v);
        return v;
    }

    std::vector<unsigned char> save() const {
        Stream stream;
        return state->save(plugin, &stream.out) ? stream.bytes : std::vector<unsigned char>{};
    }
    bool load(std::vector<unsigned char> bytes) const {
        Stream stream(std::move(bytes));
        return state->load(plugin, &stream.in);
    }

    Host host;
    const clap_plugin_t* plugin = nullptr;
    const clap_plugin_params_t* params = nullptr;
    const clap_plugin_state_t* state = nullptr;
    InputEvents changes;  // to send with the next block
    OutputEvents sent;    // what the last block sent back
    clap_audio_buffer_t inputBuffer{};
    clap_audio_buffer_t outputBuffer{};
    int inputChannels = 1;
    bool active = false;
};

// The plain value of control `index` that a VST 2.4 host's normalised `position` sets.
inline double plainFor(std::size_t index, float position) {
    return controlRecords[index].fromNormalised(position);
}

// The shared test programme (tests/support/render_programme.h) through a CLAP instance: the same
// blocks, and the values of the same normalised positions at the same block starts, as the VST
// 2.4 render.
inline std::vector<float> renderProgramme(const clap_plugin_factory_t* factory) {
    using namespace programme;
    Instance plugin(factory, kSampleRate, kBlock);
    if (!plugin) return {};
    std::vector<float> first, second;
    makeInputs(first, second);
    std::vector<float> left(kBlock), right(kBlock), out;
    out.reserve(2 * kFrames);
    for (int start = 0; start < kFrames; start += kBlock) {
        if (start == kSegment) plugin.changes.add(4, 0, plainFor(4, 0.8f));
        if (start == 3 * kSegment) {
            for (clap_id p = 0; p < controlCount; ++p)
                plugin.changes.add(p, 0, plainFor(p, p % 2 == 0 ? 0.7f : 0.2f));
        }
        plugin.process(first.data() + start, left.data(), right.data(), kBlock);
        for (int i = 0; i < kBlock; ++i) {
            out.push_back(left[i]);
            out.push_back(right[i]);
        }
    }
    return out;
}

}  // namespace claphost
