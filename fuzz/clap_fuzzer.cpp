// libFuzzer harness of the CLAP plug-in, reached only through clap_entry and the records it gives.
//
// Every input is a script of host actions on one instance, in any order a careless host makes
// them: activation at any rate (0, negative, NaN, huge) and block bounds, processing before or
// after activation, start and stop and reset anywhere, blocks of 0 to 8192 frames with buffers or
// channels missing, in place or not, of hostile audio, parameter events of any ID at any offset in
// any order with any value (NaN and infinities included), flushes, states saved and loaded back,
// truncated, oversized, damaged or random states, any port configuration, any text to parse, and
// calls from what the host calls another thread. After each block the harness checks what a host
// relies on: each output sample is written, finite and within the ceiling of -1 dB full scale
// while the bypass has not been engaged since the plug-in started over; nothing is written past
// the block; the input is left alone; meters go out at the block's last sample within their
// ranges; a block that cannot run is silent. A saved state loads back into the same bytes, and a
// state the record refuses changes nothing.
//
// Input format (little endian; a read past the end yields zeros, which ends the script):
//
//   byte 0            bit 0: the host offers thread checks; bit 1: the host offers params
//   then actions      one kind byte (taken modulo 12) and its arguments:
//     0 activate      RATE, min frames u32, max frames u32
//     1 deactivate
//     2 start processing
//     3 stop processing
//     4 reset
//     5 block         frames u16 (mod 8193), layout u8, SIGNAL, SIGNAL, EVENTS, out u8
//     6 flush         EVENTS
//     7 save and load the saved bytes back
//     8 load          size u8 (mod 48), then that many bytes; bytes below 40 of an even size
//                     start from the saved record, with each following byte xor-ed in
//     9 port config   id u32 (mod 4)
//    10 texts         ID, DOUBLE, capacity u8, then a text of u8 % 40 bytes to parse
//    11 threads       u8: bit 0 is whether the host calls from its main thread
//
//   layout  bit 0 no input buffer, 1 no output buffer, 2 input without channel array, 3 output
//           without channel array, 4-5 input channels (0 ... 3), 6 one output channel only,
//           7 the left output is the input buffer (in place)
//   EVENTS  count u8 (mod 33), then per event: kind u8 (below 200 a parameter value, below 220
//           another core event, else another event space), ID, time u8 (below 128: that many
//           samples; else u32), DOUBLE; and every event a header size that is right or short
//   ID      u8 below 200: one of the plug-in's IDs (control, bypass, meter) by u8 % 18; else u32
//   DOUBLE  u8 below 16 picks a special value (fuzz_support.h), 16 ... 31 a double special
//           (NaN, infinities, huge, the ranges' edges and beyond), else the next 8 bytes' bits
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "clap/clap_abi.h"
#include "clap/parameters.h"
#include "dsp/control_record.h"
#include "dsp/output_stage.h"
#include "dsp/saved_state.h"
#include "fuzz_support.h"

extern "C" const clapabi::clap_plugin_entry_t clap_entry;

namespace {

using namespace clapabi;
using namespace fuzzhost;

constexpr float kOutputCeiling = OutputStage::ceiling;
constexpr int kMaxBlock = 8192;
constexpr int kGuard = 16;
constexpr int kBufferLength = kMaxBlock + kGuard;
constexpr int kMaxEvents = 32;
// Per input, so that one execution stays well under a second with the sanitizers.
constexpr long kFrameBudget = 32768;
constexpr int kActivationBudget = 6;
constexpr int kActionBudget = 512;

struct Totals {
    unsigned long long actions = 0;
    unsigned long long blocks = 0;
    unsigned long long frames = 0;
    unsigned long long instances = 0;
};
Totals totals;

void reportTotals() {
    std::fprintf(stderr,
                 "zelko-clap-fuzzer: %llu host actions on %llu instances, %llu blocks, %llu "
                 "frames\n",
                 totals.actions, totals.instances, totals.blocks, totals.frames);
}

[[noreturn]] void fail(const char* what, long detail = 0) {
    std::fprintf(stderr, "*** zelko-clap-fuzzer: %s (%ld)\n", what, detail);
    std::abort();
}

const double kSpecialDoubles[16] = {
    std::numeric_limits<double>::quiet_NaN(),
    std::numeric_limits<double>::infinity(),
    -std::numeric_limits<double>::infinity(),
    std::numeric_limits<double>::max(),
    -std::numeric_limits<double>::max(),
    1e300,
    -1e300,
    std::numeric_limits<double>::denorm_min(),
    3.5e38,  // beyond the float range
    22000.0,
    22000.000000001,
    999.99999999,
    -90.0,
    70.0,
    0.5,
    0.5000000001,
};

double anyDouble(Reader& in) {
    const std::uint8_t pick = in.u8();
    if (pick < 16) return kSpecialValues[pick];
    if (pick < 32) return kSpecialDoubles[pick - 16];
    const std::uint64_t bits = in.u64();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

clap_id anyId(Reader& in) {
    const std::uint8_t pick = in.u8();
    if (pick >= 200) return in.u32();
    return clapglue::paramAt(pick % clapglue::kParamCount)->id;
}

// Events of a block or a flush, kept in the order written (which need not be time order).
class Events {
  public:
    Events() {
        list.ctx = this;
        list.size = [](const clap_input_events_t* l) {
            return static_cast<Events*>(l->ctx)->count;
        };
        list.get = [](const clap_input_events_t* l, std::uint32_t index) {
            auto& self = *static_cast<Events*>(l->ctx);
            return index < self.count ? &self.events[index].header
                                      : static_cast<const clap_event_header_t*>(nullptr);
        };
    }
    Events(const Events&) = delete;
    Events& operator=(const Events&) = delete;

    // Reads the events; answers whether one may engage the bypass.
    bool read(Reader& in) {
        count = in.u8() % (kMaxEvents + 1);
        bool bypassing = false;
        for (std::uint32_t e = 0; e < count; ++e) {
            clap_event_param_value_t& event = events[e];
            event = clap_event_param_value_t{};
            const std::uint8_t kind = in.u8();
            event.param_id = anyId(in);
            const std::uint8_t time = in.u8();
            event.header.time = time < 128 ? time : in.u32();
            event.value = anyDouble(in);
            event.header.space_id = kind < 220 ? CLAP_CORE_EVENT_SPACE_ID : kind;
            event.header.type = kind < 200 ? CLAP_EVENT_PARAM_VALUE : kind % 13;
            event.header.size = (kind & 1) && kind >= 100 ? sizeof(clap_event_header_t)
                                                          : sizeof(clap_event_param_value_t);
            event.note_id = -1;
            event.port_index = event.channel = event.key = -1;
            // Anything that reads as a bypass change might be one; the harness does not guess.
            if (event.param_id == clapglue::kBypassId) bypassing = true;
        }
        return bypassing;
    }
    void clear() { count = 0; }

    clap_event_param_value_t events[kMaxEvents];
    std::uint32_t count = 0;
    clap_input_events_t list{};
};

// What the plug-in sends back, up to a capacity.
class Sent {
  public:
    Sent() {
        list.ctx = this;
        list.try_push = [](const clap_output_events_t* l, const clap_event_header_t* event) {
            auto& self = *static_cast<Sent*>(l->ctx);
            if (event == nullptr || event->size < sizeof(clap_event_param_value_t) ||
                event->type != CLAP_EVENT_PARAM_VALUE) {
                fail("an output event that is no parameter value");
            }
            if (self.count == self.capacity) return false;
            self.events[self.count++] = *reinterpret_cast<const clap_event_param_value_t*>(event);
            return true;
        };
    }
    clap_event_param_value_t events[64];
    std::uint32_t count = 0;
    std::uint32_t capacity = 64;
    clap_output_events_t list{};
};

struct Stream {
    const unsigned char* bytes = nullptr;
    std::size_t size = 0;
    std::size_t at = 0;
    std::vector<unsigned char> written;
    std::uint64_t piece = 1;
    clap_istream_t in{
        this, [](const clap_istream_t* s, void* buffer, std::uint64_t want) -> std::int64_t {
            auto& self = *static_cast<Stream*>(s->ctx);
            const std::uint64_t n =
                std::min<std::uint64_t>({want, self.piece, self.size - self.at});
            if (n > 0) std::memcpy(buffer, self.bytes + self.at, n);
            self.at += n;
            return static_cast<std::int64_t>(n);
        }};
    clap_ostream_t out{
        this, [](const clap_ostream_t* s, const void* buffer, std::uint64_t want) -> std::int64_t {
            auto& self = *static_cast<Stream*>(s->ctx);
            const std::uint64_t n = std::min(want, self.piece);
            const auto* from = static_cast<const unsigned char*>(buffer);
            self.written.insert(self.written.end(), from, from + n);
            return static_cast<std::int64_t>(n);
        }};
};

class FuzzHost {
  public:
    void run(const std::uint8_t* data, std::size_t size) {
        Reader in(data, size);
        const std::uint8_t offers = in.u8();
        offerThreadCheck = offers & 1;
        offerParams = offers & 2;
        host.host_data = this;
        const auto* factory = static_cast<const clap_plugin_factory_t*>(
            clap_entry.get_factory(CLAP_PLUGIN_FACTORY_ID));
        if (factory == nullptr || factory->get_plugin_count(factory) != 1) fail("no factory");
        plugin =
            factory->create_plugin(factory, &host, factory->get_plugin_descriptor(factory, 0)->id);
        if (plugin == nullptr || !plugin->init(plugin)) fail("no plug-in");
        ++totals.instances;
        params = extension<clap_plugin_params_t>(CLAP_EXT_PARAMS);
        state = extension<clap_plugin_state_t>(CLAP_EXT_STATE);
        ports = extension<clap_plugin_audio_ports_t>(CLAP_EXT_AUDIO_PORTS);
        configs = extension<clap_plugin_audio_ports_config_t>(CLAP_EXT_AUDIO_PORTS_CONFIG);

        for (int action = 0; action < kActionBudget && !in.done(); ++action) {
            ++totals.actions;
            switch (in.u8() % 12) {
                case 0: {
                    const double rate = in.anyRate();
                    const std::uint32_t least = in.u32(), most = in.u32();
                    if (activations++ >= kActivationBudget) break;
                    const bool was = active;
                    const bool ok = plugin->activate(plugin, rate, least, most);
                    if (ok && (was || !mainThread()))
                        fail("activated twice or off the main thread");
                    if (ok) {
                        active = true;
                        pendingState = false;
                        dryPossible = bypassOn();
                    }
                    break;
                }
                case 1:
                    plugin->deactivate(plugin);
                    if (mainThread()) active = false;
                    break;
                case 2:
                    if (plugin->start_processing(plugin) != active) {
                        fail("start_processing answered other than the activation");
                    }
                    break;
                case 3:
                    plugin->stop_processing(plugin);
                    break;
                case 4:
                    plugin->reset(plugin);
                    // The crossfade comes to rest on the switch as the audio thread last set it,
                    // which a state still waiting for the next block has not yet changed.
                    if (active) dryPossible = bypassOn() || (pendingState && dryPossible);
                    break;
                case 5:
                    block(in);
                    break;
                case 6: {
                    if (events.read(in)) dryPossible = true;
                    params->flush(plugin, &events.list, &sent.list);
                    if (active) pendingState = false;
                    events.clear();
                    checkValues();
                    break;
                }
                case 7:
                    roundTrip();
                    break;
                case 8:
                    load(in);
                    break;
                case 9:
                    selectConfig(in.u32() % 4);
                    break;
                case 10:
                    texts(in);
                    break;
                default:
                    onMainThread = in.u8() & 1;
                    break;
            }
        }
        plugin->deactivate(plugin);
        plugin->destroy(plugin);
    }

  private:
    template <typename Extension>
    const Extension* extension(const char* id) {
        const auto* found = static_cast<const Extension*>(plugin->get_extension(plugin, id));
        if (found == nullptr) fail("an extension is missing");
        return found;
    }

    bool mainThread() const { return !offerThreadCheck || onMainThread; }

    bool bypassOn() const {
        double value = 0.0;
        params->get_value(plugin, clapglue::kBypassId, &value);
        return value != 0.0;
    }

    std::vector<unsigned char> save() {
        Stream stream;
        stream.piece = 5;
        if (!state->save(plugin, &stream.out)) fail("state save failed");
        return stream.written;
    }

    // Every control and the bypass answer a value inside their range.
    void checkValues() {
        for (std::uint32_t p = 0; p < clapglue::kParamCount; ++p) {
            clap_param_info_t info;
            if (!params->get_info(plugin, p, &info)) fail("no parameter info", p);
            double value = std::nan("");
            if (!params->get_value(plugin, info.id, &value)) fail("no parameter value", info.id);
            if (!(value >= info.min_value && value <= info.max_value)) {
                fail("a parameter value outside its range", info.id);
            }
        }
    }

    void roundTrip() {
        const std::vector<unsigned char> bytes = save();
        Stream stream;
        stream.bytes = bytes.data();
        stream.size = bytes.size();
        stream.piece = 3;
        const bool loaded = state->load(plugin, &stream.in);
        if (loaded != mainThread()) fail("a saved state did not load back on the main thread");
        pendingState = pendingState || loaded;
        if (save() != bytes) fail("a state loaded back saves other bytes");
    }

    void load(Reader& in) {
        const std::size_t length = in.u8() % 48;
        std::vector<unsigned char> bytes;
        const std::vector<unsigned char> current = save();
        const bool fromRecord = length < 40 && length % 2 == 0;
        for (std::size_t i = 0; i < length; ++i) {
            const unsigned char byte = in.u8();
            bytes.push_back(fromRecord && i < current.size() ? current[i] ^ byte : byte);
        }
        Stream stream;
        stream.bytes = bytes.data();
        stream.size = bytes.size();
        stream.piece = 1 + length % 7;
        const bool valid = decodeState(bytes).has_value();
        const bool loaded = state->load(plugin, &stream.in);
        if (loaded != (valid && mainThread())) fail("a state was taken or refused wrongly", length);
        if (!loaded && save() != current) fail("a refused state changed the plug-in");
        if (loaded && bypassOn()) dryPossible = true;
        pendingState = pendingState || loaded;
        checkValues();
    }

    void selectConfig(clap_id id) {
        const bool selected = configs->select(plugin, id);
        if (selected && (active || id > 1 || !mainThread())) fail("a configuration was taken", id);
        clap_audio_port_info_t info;
        if (ports->count(plugin, true) != 1 || !ports->get(plugin, 0, true, &info) ||
            (info.channel_count != 1 && info.channel_count != 2)) {
            fail("the input port is neither mono nor stereo");
        }
    }

    void texts(Reader& in) {
        const clap_id id = anyId(in);
        const double value = anyDouble(in);
        const std::uint32_t capacity = in.u8();
        char text[256];
        std::memset(text, 0x7f, sizeof text);
        const bool known = clapglue::paramWithId(id) != nullptr;
        if (params->value_to_text(plugin, id, value, text, capacity)) {
            if (!known || std::memchr(text, 0, capacity) == nullptr) {
                fail("a text without its end, or for no parameter", id);
            }
            double parsed = 0.0;
            char again[256];
            if (!params->text_to_value(plugin, id, text, &parsed) ||
                !params->value_to_text(plugin, id, parsed, again, sizeof again) ||
                std::strcmp(text, again) != 0) {
                fail("a shown value does not read back as itself", id);
            }
        }
        for (std::size_t i = capacity; i < sizeof text; ++i) {
            if (text[i] != 0x7f) fail("a text written past its capacity", id);
        }
        char typed[41];
        const std::size_t length = in.u8() % 40;
        for (std::size_t i = 0; i < length; ++i) typed[i] = static_cast<char>(in.u8() | 1);
        typed[length] = '\0';
        double parsed = std::nan("");
        if (params->text_to_value(plugin, id, typed, &parsed)) {
            clap_param_info_t info{};
            for (std::uint32_t p = 0; p < clapglue::kParamCount; ++p) {
                params->get_info(plugin, p, &info);
                if (info.id == id) break;
            }
            if (!known || !(parsed >= info.min_value && parsed <= info.max_value)) {
                fail("a parsed text outside the range", id);
            }
        }
    }

    void block(Reader& in) {
        int frames = in.u16() % (kMaxBlock + 1);
        const std::uint8_t layout = in.u8();
        frames = static_cast<int>(std::min<long>(frames, kFrameBudget - framesUsed));
        framesUsed += frames;
        ++totals.blocks;
        totals.frames += static_cast<unsigned long long>(frames);

        const bool inPlace = layout & 0x80;
        const float sentinel = fromBits(kSentinelBits);
        for (auto& channel : output) std::fill(channel.begin(), channel.end(), sentinel);
        fillSignal(in, input[0].data(), frames);
        fillSignal(in, input[1].data(), frames);
        if (inPlace) std::copy(input[0].begin(), input[0].begin() + frames, output[0].begin());
        for (int ch = 0; ch < 2; ++ch) inputCopy[ch] = input[ch];
        if (events.read(in)) dryPossible = true;
        const std::uint8_t out = in.u8();
        sent.count = 0;
        sent.capacity = out % 65;

        float* inputChannels[3] = {input[0].data(), input[1].data(), input[1].data()};
        float* outputChannels[3] = {output[0].data(), output[1].data(), output[1].data()};
        if (inPlace) inputChannels[0] = output[0].data();
        clap_audio_buffer_t inputBuffer{(layout & 4) ? nullptr : inputChannels, nullptr,
                                        static_cast<std::uint32_t>((layout >> 4) & 3), 0, 0};
        clap_audio_buffer_t outputBuffer{(layout & 8) ? nullptr : outputChannels, nullptr,
                                         (layout & 0x40) ? 1u : 2u, 0, 0};
        clap_process_t data{};
        data.steady_time = -1;
        data.frames_count = static_cast<std::uint32_t>(frames);
        data.audio_inputs = (layout & 1) ? nullptr : &inputBuffer;
        data.audio_inputs_count = (layout & 1) ? 0 : 1;
        data.audio_outputs = (layout & 2) ? nullptr : &outputBuffer;
        data.audio_outputs_count = (layout & 2) ? 0 : 1;
        data.in_events = (out & 0x80) ? nullptr : &events.list;
        data.out_events = (out & 0x40) ? nullptr : &sent.list;

        const clap_process_status status = plugin->process(plugin, &data);
        events.clear();
        if (active) pendingState = false;

        const bool haveOutputs = !(layout & 2) && !(layout & 8);
        const bool runs = active && haveOutputs && !(layout & 0x40) && !(layout & 1) &&
                          !(layout & 4) && ((layout >> 4) & 3) > 0;
        if (status != (active ? CLAP_PROCESS_CONTINUE : CLAP_PROCESS_ERROR)) {
            fail("process answered a wrong status", status);
        }
        const int written = haveOutputs ? ((layout & 0x40) ? 1 : 2) : 0;
        for (int ch = 0; ch < 2; ++ch) {
            const float* samples = output[ch].data();
            for (int i = 0; i < frames && ch < written; ++i) {
                if (isSentinel(samples[i])) fail("output sample left unwritten", i);
                if (!runs) {
                    if (samples[i] != 0.0f) fail("a block that cannot run is not silent", i);
                    continue;
                }
                if (!dryPossible &&
                    (!std::isfinite(samples[i]) || std::fabs(samples[i]) > kOutputCeiling)) {
                    fail("output sample not finite or above the ceiling", i);
                }
            }
            if (ch >= written) {
                for (int i = 0; i < frames; ++i) {
                    if (!isSentinel(samples[i]) && !(inPlace && ch == 0)) {
                        fail("a buffer the host did not give was written", i);
                    }
                }
            }
            for (int i = frames; i < kBufferLength; ++i) {
                if (!isSentinel(samples[i])) fail("output written past the block", i);
            }
            if (!(inPlace && ch == 0) && std::memcmp(input[ch].data(), inputCopy[ch].data(),
                                                     kBufferLength * sizeof(float)) != 0) {
                fail("the host's input was written", ch);
            }
        }
        for (std::uint32_t e = 0; e < sent.count; ++e) {
            const clap_event_param_value_t& event = sent.events[e];
            const clapglue::ParamRow* row = clapglue::paramWithId(event.param_id);
            if (row == nullptr || (row->kind != clapglue::ParamKind::meter &&
                                   row->kind != clapglue::ParamKind::reading)) {
                fail("an event for no meter", event.param_id);
            }
            if (event.header.time != static_cast<std::uint32_t>(frames - 1)) {
                fail("a meter not at the block's last sample", event.header.time);
            }
            if (!(event.value >= row->record->reach.minimum &&
                  event.value <= row->record->reach.maximum)) {
                fail("a meter outside its range", event.param_id);
            }
        }
        checkValues();
    }

    clap_host_t host{CLAP_VERSION,
                     nullptr,
                     "zelko-clap-fuzzer",
                     "",
                     "",
                     "",
                     [](const clap_host_t* h, const char* id) -> const void* {
                         const auto& self = *static_cast<const FuzzHost*>(h->host_data);
                         if (self.offerThreadCheck && std::strcmp(id, CLAP_EXT_THREAD_CHECK) == 0)
                             return &self.threadCheck;
                         if (self.offerParams && std::strcmp(id, CLAP_EXT_PARAMS) == 0)
                             return &self.hostParams;
                         return nullptr;
                     },
                     [](const clap_host_t*) {},
                     [](const clap_host_t*) {},
                     [](const clap_host_t*) {}};
    clap_host_thread_check_t threadCheck{
        [](const clap_host_t* h) {
            return static_cast<const FuzzHost*>(h->host_data)->onMainThread;
        },
        [](const clap_host_t* h) {
            return !static_cast<const FuzzHost*>(h->host_data)->onMainThread;
        }};
    clap_host_params_t hostParams{[](const clap_host_t*, std::uint32_t) {},
                                  [](const clap_host_t*, clap_id, std::uint32_t) {},
                                  [](const clap_host_t*) {}};
    bool offerThreadCheck = false;
    bool offerParams = false;
    bool onMainThread = true;

    const clap_plugin_t* plugin = nullptr;
    const clap_plugin_params_t* params = nullptr;
    const clap_plugin_state_t* state = nullptr;
    const clap_plugin_audio_ports_t* ports = nullptr;
    const clap_plugin_audio_ports_config_t* configs = nullptr;
    bool active = false;
    // Whether the output may hold the dry input: the bypass was engaged, or may have been, since
    // the plug-in last started over with it off.
    bool dryPossible = false;
    // A state loaded that the audio thread has not taken yet.
    bool pendingState = false;
    long framesUsed = 0;
    int activations = 0;

    Events events;
    Sent sent;
    std::vector<float> input[2] = {std::vector<float>(kBufferLength),
                                   std::vector<float>(kBufferLength)};
    std::vector<float> inputCopy[2];
    std::vector<float> output[2] = {std::vector<float>(kBufferLength),
                                    std::vector<float>(kBufferLength)};
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::atexit(reportTotals);
    if (!clap_entry.init("zelko-clap-fuzzer")) fail("the entry does not initialise");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzHost host;
    host.run(data, size);
    return 0;
}
