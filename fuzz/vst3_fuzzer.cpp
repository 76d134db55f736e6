// libFuzzer harness of the VST 3 plug-in, reached only through GetPluginFactory and the
// interfaces the instance answers, with the compact test host's streams and parameter lists
// (tests/support/vst3_host.h).
//
// Every input is a script of host calls on one instance, in any order a careless host makes
// them: set-ups at any rate (0, negative, NaN, huge) and sample size, switching on and off and
// processing in any order, bus arrangements that must be refused, blocks of any length (negative
// and 0 included) with buses or channels missing, in place or not, of hostile audio, parameter
// points of any ID at any offset in any order with any value (NaN included), states saved and set
// back, truncated, oversized, damaged or random states to the component and the controller, texts
// to show and to parse, and the controller's conversions. After each block the harness checks what
// a host relies on: each output sample is written, finite and within the ceiling of -1 dB full
// scale while the bypass has not been engaged since the plug-in started over; nothing is written
// past the block; the input is left alone; meters come back at the block's last sample as
// normalised values; a state saved sets back into the same bytes, and a state the record refuses
// changes nothing.
//
// Input format (little endian; a read past the end yields zeros, which ends the script):
//
//   actions           one kind byte (taken modulo 11) and its arguments:
//     0 set-up        RATE, max block i32, sample size u8 (0: 32-bit, 1: 64-bit, else u8)
//     1 switch        u8 (bit 0 on)
//     2 processing    u8 (bit 0 on)
//     3 arrangements  input count u8 (mod 3), output count u8 (mod 3), then per bus ARRANGEMENT
//     4 block         frames i32 (u8 below 200 takes u16 mod 8193 instead), layout u8, SIGNAL,
//                     SIGNAL, POINTS, out u8
//     5 round trip    the state saved and set back
//     6 state         u8 (bit 0: to the controller), size u8 (mod 48), bytes as in the CLAP
//                     harness: an even size below 40 starts from the saved state, xor-ed
//     7 texts         ID, DOUBLE, then a text of u8 % 40 bytes to parse
//     8 conversions   ID, DOUBLE
//     9 controller    ID, DOUBLE set as the normalised value
//    10 terminate     terminate and initialise again
//
//   ARRANGEMENT u8: 0 mono, 1 stereo, 2 none, 3 three channels, else the next u64
//   layout  bits 0-1 input buses (0 ... 2), 2 no input channel array, 3-4 input channels (0 ... 3),
//           5 one output channel only, 6 no output bus, 7 the left output is the input buffer
//   POINTS  queues u8 (mod 9), per queue ID and points u8 (mod 9), per point offset (u8 below
//           128: that many samples; else i32) and DOUBLE; out bit 7: no input list, bit 6: no
//           output list
//   ID      u8 below 200: one of the plug-in's IDs by u8 % 18; else u32
//   DOUBLE  as in the CLAP harness
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "dsp/output_stage.h"
#include "dsp/saved_state.h"
#include "fuzz_support.h"
#include "tests/support/vst3_host.h"
#include "vst3/parameters.h"

extern "C" vst3::IPluginFactory* ZELKO_VST3_API GetPluginFactory();

namespace {

using namespace fuzzhost;
using namespace vst3host;

constexpr float kOutputCeiling = OutputStage::ceiling;
constexpr int kMaxBlock = 8192;
constexpr int kGuard = 16;
constexpr int kBufferLength = kMaxBlock + kGuard;
constexpr long kFrameBudget = 32768;
constexpr int kSetupBudget = 6;
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
                 "zelko-vst3-fuzzer: %llu host actions on %llu instances, %llu blocks, %llu "
                 "frames\n",
                 totals.actions, totals.instances, totals.blocks, totals.frames);
}

[[noreturn]] void fail(const char* what, long detail = 0) {
    std::fprintf(stderr, "*** zelko-vst3-fuzzer: %s (%ld)\n", what, detail);
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
    1.0000000001,
    -0.0000000001,
    0.49999999999,
    0.5,
    0.50000000001,
    1.0,
    0.0,
    0.3333333333333333,
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

ParamID anyId(Reader& in) {
    const std::uint8_t pick = in.u8();
    if (pick >= 200) return in.u32();
    return vst3glue::parameterAt(pick % vst3glue::kParameterCount)->id;
}

SpeakerArrangement anyArrangement(Reader& in) {
    switch (const std::uint8_t pick = in.u8()) {
        case 0:
            return kArrangementMono;
        case 1:
            return kArrangementStereo;
        case 2:
            return 0;
        case 3:
            return kArrangementStereo | (SpeakerArrangement{1} << 2);
        default:
            return pick < 8 ? SpeakerArrangement{pick} : in.u64();
    }
}

class FuzzHost {
  public:
    void run(const std::uint8_t* data, std::size_t size) {
        Reader in(data, size);
        Instance plugin(GetPluginFactory(), 48000.0, kMaxBlock);
        if (!plugin) fail("no instance");
        ++totals.instances;
        self = &plugin;

        for (int action = 0; action < kActionBudget && !in.done(); ++action) {
            ++totals.actions;
            switch (in.u8() % 11) {
                case 0: {
                    const double rate = in.anyRate();
                    const int32 most = in.i32();
                    const std::uint8_t sizePick = in.u8();
                    const int32 sampleSize = sizePick < 2 ? sizePick : sizePick * 1000;
                    if (setups++ >= kSetupBudget) break;
                    ProcessSetup setup{kRealtime, sampleSize, most, rate};
                    const tresult result = plugin.processor->setupProcessing(setup);
                    if ((result == kResultOk) != (sampleSize == kSample32)) {
                        fail("a set-up taken or refused wrongly", sampleSize);
                    }
                    if (result == kResultOk) dryPossible = bypassOn();
                    break;
                }
                case 1: {
                    const bool on = in.u8() & 1;
                    plugin.component->setActive(on);
                    // The crossfade comes to rest on the switch as the audio thread last set it,
                    // which a state still waiting for the next block has not yet changed.
                    if (on) dryPossible = bypassOn() || (pendingState && dryPossible);
                    break;
                }
                case 2:
                    plugin.processor->setProcessing(in.u8() & 1);
                    break;
                case 3:
                    arrangements(in);
                    break;
                case 4:
                    block(in);
                    break;
                case 5:
                    roundTrip();
                    break;
                case 6:
                    state(in);
                    break;
                case 7:
                    texts(in);
                    break;
                case 8:
                    conversions(in);
                    break;
                case 9: {
                    const ParamID id = anyId(in);
                    const double value = anyDouble(in);
                    plugin.controller->setParamNormalized(id, value);
                    const double now = plugin.controller->getParamNormalized(id);
                    if (!(now >= 0.0 && now <= 1.0)) fail("a normalised value outside 0 ... 1", id);
                    break;
                }
                default:
                    plugin.component->terminate();
                    plugin.component->initialize(nullptr);
                    break;
            }
        }
        self = nullptr;
    }

  private:
    std::vector<unsigned char> saved() {
        MemoryStream stream;
        if (self->component->getState(&stream) != kResultOk) fail("getState failed");
        return stream.bytes;
    }

    bool bypassOn() {
        const std::vector<unsigned char> bytes = saved();
        const auto state = decodeState(bytes);
        if (!state) fail("the plug-in's own state does not decode");
        return state->bypassed;
    }

    void arrangements(Reader& in) {
        const int32 ins = in.u8() % 3, outs = in.u8() % 3;
        SpeakerArrangement inputs[2] = {anyArrangement(in), anyArrangement(in)};
        SpeakerArrangement outputs[2] = {anyArrangement(in), anyArrangement(in)};
        const tresult result = self->processor->setBusArrangements(inputs, ins, outputs, outs);
        const bool valid = ins == 1 && outs == 1 &&
                           (inputs[0] == kArrangementMono || inputs[0] == kArrangementStereo) &&
                           outputs[0] == kArrangementStereo;
        if ((result == kResultTrue) != valid) fail("an arrangement taken or refused wrongly");
        SpeakerArrangement now = 0;
        if (self->processor->getBusArrangement(kInput, 0, now) != kResultOk ||
            (now != kArrangementMono && now != kArrangementStereo)) {
            fail("the input is neither mono nor stereo");
        }
    }

    void roundTrip() {
        const std::vector<unsigned char> bytes = saved();
        MemoryStream stream(bytes);
        if (self->component->setState(&stream) != kResultOk) fail("a saved state was refused");
        pendingState = true;
        stream.rewind();
        if (self->controller->setComponentState(&stream) != kResultOk) {
            fail("the controller refused a saved state");
        }
        if (saved() != bytes) fail("a state set back saves other bytes");
    }

    void state(Reader& in) {
        const bool toController = in.u8() & 1;
        const std::size_t length = in.u8() % 48;
        const std::vector<unsigned char> current = saved();
        std::vector<double> controller;
        for (int p = 0; p < vst3glue::kParameterCount; ++p) {
            controller.push_back(
                self->controller->getParamNormalized(vst3glue::parameterAt(p)->id));
        }
        const bool fromRecord = length < 40 && length % 2 == 0;
        std::vector<unsigned char> bytes;
        for (std::size_t i = 0; i < length; ++i) {
            const unsigned char byte = in.u8();
            bytes.push_back(fromRecord && i < current.size() ? current[i] ^ byte : byte);
        }
        const bool valid = decodeState(bytes).has_value();
        MemoryStream stream(bytes);
        const tresult result = toController ? self->controller->setComponentState(&stream)
                                            : self->component->setState(&stream);
        if ((result == kResultOk) != valid) fail("a state taken or refused wrongly", length);
        if (result == kResultOk) {
            if (!toController && bypassOn()) dryPossible = true;
            pendingState = pendingState || !toController;
            return;
        }
        if (saved() != current) fail("a refused state changed the component");
        for (int p = 0; p < vst3glue::kParameterCount; ++p) {
            const double now = self->controller->getParamNormalized(vst3glue::parameterAt(p)->id);
            if (std::memcmp(&now, &controller[static_cast<std::size_t>(p)], sizeof now) != 0) {
                fail("a refused state changed the controller", p);
            }
        }
    }

    void texts(Reader& in) {
        const ParamID id = anyId(in);
        const double value = anyDouble(in);
        String128 text;
        for (auto& c : text) c = 0x7f7f;
        if (self->controller->getParamStringByValue(id, value, text) == kResultOk) {
            bool ended = false;
            for (const auto c : text) ended = ended || c == 0;
            if (!ended || vst3glue::parameterWithId(id) == nullptr) fail("a text without its end");
            ParamValue parsed = -1.0;
            if (self->controller->getParamValueByString(id, text, parsed) != kResultOk ||
                !(parsed >= 0.0 && parsed <= 1.0)) {
                fail("a shown value does not read back", id);
            }
        }
        TChar typed[41];
        const std::size_t length = in.u8() % 40;
        for (std::size_t i = 0; i < length; ++i) typed[i] = static_cast<TChar>(in.u8() | 1);
        typed[length] = 0;
        ParamValue parsed = -1.0;
        if (self->controller->getParamValueByString(id, typed, parsed) == kResultOk &&
            !(parsed >= 0.0 && parsed <= 1.0)) {
            fail("a parsed text outside 0 ... 1", id);
        }
    }

    void conversions(Reader& in) {
        const ParamID id = anyId(in);
        const double value = anyDouble(in);
        const double plain = self->controller->normalizedParamToPlain(id, value);
        const double normalised = self->controller->plainParamToNormalized(id, value);
        if (!std::isfinite(plain) || !(normalised >= 0.0 && normalised <= 1.0)) {
            fail("a conversion gave no number in range", id);
        }
    }

    void points(Reader& in) {
        ParamChanges& changes = self->changes;
        changes.clear();
        const int queues = in.u8() % 9;
        for (int q = 0; q < queues; ++q) {
            const ParamID id = anyId(in);
            const int count = in.u8() % 9;
            for (int p = 0; p < count; ++p) {
                const std::uint8_t pick = in.u8();
                const int32 offset = pick < 128 ? pick : in.i32();
                const double value = anyDouble(in);
                changes.add(id, offset, value);
                // Anything that may read as engaging the bypass might; the harness does not guess.
                if (id == vst3glue::kBypassId) dryPossible = true;
            }
        }
    }

    void block(Reader& in) {
        const std::uint8_t pick = in.u8();
        int32 frames = pick < 200 ? in.u16() % (kMaxBlock + 1) : in.i32();
        if (frames > kMaxBlock) frames %= kMaxBlock + 1;
        const int32 budget = static_cast<int32>(kFrameBudget - framesUsed);
        if (frames > budget) frames = budget;
        const int used = frames > 0 ? frames : 0;
        framesUsed += used;
        ++totals.blocks;
        totals.frames += static_cast<unsigned long long>(used);

        const std::uint8_t layout = in.u8();
        const bool inPlace = layout & 0x80;
        const float sentinel = fromBits(kSentinelBits);
        for (auto& channel : output) std::fill(channel.begin(), channel.end(), sentinel);
        fillSignal(in, input[0].data(), used);
        fillSignal(in, input[1].data(), used);
        if (inPlace) std::copy(input[0].begin(), input[0].begin() + used, output[0].begin());
        for (int ch = 0; ch < 2; ++ch) inputCopy[ch] = input[ch];
        points(in);
        const std::uint8_t out = in.u8();

        float* inputChannels[3] = {inPlace ? output[0].data() : input[0].data(), input[1].data(),
                                   input[1].data()};
        float* outputChannels[2] = {output[0].data(), output[1].data()};
        AudioBusBuffers inputBuses[2] = {};
        for (auto& bus : inputBuses) {
            bus.numChannels = (layout >> 3) & 3;
            bus.channelBuffers32 = (layout & 4) ? nullptr : inputChannels;
        }
        AudioBusBuffers outputBus{};
        outputBus.numChannels = (layout & 0x20) ? 1 : 2;
        outputBus.channelBuffers32 = outputChannels;
        ProcessData data{};
        data.processMode = kRealtime;
        data.symbolicSampleSize = kSample32;
        data.numSamples = frames;
        data.numInputs = layout & 3;
        data.numOutputs = (layout & 0x40) ? 0 : 1;
        data.inputs = data.numInputs > 0 ? inputBuses : nullptr;
        data.outputs = data.numOutputs > 0 ? &outputBus : nullptr;
        data.inputParameterChanges = (out & 0x80) ? nullptr : &self->changes;
        data.outputParameterChanges = (out & 0x40) ? nullptr : &self->sent;
        self->sent.clear();

        if (self->processor->process(data) != kResultOk) fail("process refused a block");
        pendingState = false;
        self->changes.clear();

        const int outputs = data.numOutputs ? outputBus.numChannels : 0;
        const bool runs =
            data.numInputs > 0 && !(layout & 4) && ((layout >> 3) & 3) > 0 && outputs == 2;
        for (int ch = 0; ch < 2; ++ch) {
            const float* samples = output[ch].data();
            for (int i = 0; i < used; ++i) {
                if (ch >= outputs) {
                    if (!isSentinel(samples[i]) && !(inPlace && ch == 0)) {
                        fail("a channel the host did not give was written", i);
                    }
                    continue;
                }
                if (isSentinel(samples[i])) fail("output sample left unwritten", i);
                if (!runs && samples[i] != 0.0f) fail("a block that cannot run is not silent", i);
                if (runs && !dryPossible &&
                    (!std::isfinite(samples[i]) || std::fabs(samples[i]) > kOutputCeiling)) {
                    fail("output sample not finite or above the ceiling", i);
                }
            }
            for (int i = used; i < kBufferLength; ++i) {
                if (!isSentinel(samples[i])) fail("output written past the block", i);
            }
            if (std::memcmp(input[ch].data(), inputCopy[ch].data(),
                            kBufferLength * sizeof(float)) != 0) {
                fail("the host's input was written", ch);
            }
        }
        for (int32 q = 0; q < self->sent.used; ++q) {
            const ParamQueue& queue = self->sent.queues[q];
            const vst3glue::ParameterRow* row = vst3glue::parameterWithId(queue.id);
            if (row == nullptr || row->kind != vst3glue::ParameterKind::meter) {
                fail("a change sent back for no meter", queue.id);
            }
            for (const Point& point : queue.points) {
                if (point.offset != used - 1 || !(point.value >= 0.0 && point.value <= 1.0)) {
                    fail("a meter not at the last sample or outside 0 ... 1", queue.id);
                }
            }
        }
    }

    Instance* self = nullptr;
    int setups = 0;
    long framesUsed = 0;
    // Whether the output may hold the dry input: the bypass was engaged, or may have been, since
    // the plug-in last started over with it off.
    bool dryPossible = false;
    // A state set that the audio thread has not taken yet.
    bool pendingState = false;
    std::vector<float> input[2] = {std::vector<float>(kBufferLength),
                                   std::vector<float>(kBufferLength)};
    std::vector<float> inputCopy[2];
    std::vector<float> output[2] = {std::vector<float>(kBufferLength),
                                    std::vector<float>(kBufferLength)};
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::atexit(reportTotals);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzHost host;
    host.run(data, size);
    return 0;
}
