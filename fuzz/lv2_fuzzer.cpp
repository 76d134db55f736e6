// libFuzzer harness of the LV2 plug-ins (mono and stereo input), reached only through
// lv2_descriptor and the descriptor's functions.
//
// Every input is a script of host calls on one instance, in any order a careless host makes
// them: instantiation at any rate (0, negative, NaN, huge), ports connected to anything or to
// nothing, in any order and again and again, ports that do not exist, control values of any
// float (NaN and infinities included), activation and deactivation in any order, runs of 0 to 8192
// frames of hostile audio with the input shared with an output or not, with urid:map offered or
// not. The goniometer's atom port is only ever given an atom buffer (with room for its points or
// too little) or nothing: a float there would be the host's fault. After each run the harness
// checks what a host relies on: with the audio ports connected every output sample is written,
// finite and within the ceiling of -1 dB full scale while the enabled switch has not bypassed the
// plug-in since it last started over; nothing is written past the run; the input is left alone;
// each meter and output reading lies within its declared range and the latency port reads 2658;
// the goniometer's buffer holds a sequence that fits its room, of no event or of one vector of
// the points (finite unless the bypass may have passed hostile input), or, without urid:map, is
// left as the host gave it.
//
// Input format (little endian; a read past the end yields zeros, which ends the script):
//
//   byte 0            the descriptor index (mod 3: 0 mono, 1 stereo, 2 none, which must be null);
//                     divided by 3, an odd number means no urid:map is offered
//   then RATE         the rate of instantiation
//   then actions      one kind byte (taken modulo 8) and its arguments:
//     0 connect       port u8 (beyond the ports too), target u8: 0 nothing, 1 the port's own
//                     buffer, 2 the input buffer, 3 another port's value
//     1 control       port u8, FLOAT written to that port's value
//     2 activate
//     3 deactivate
//     4 run           frames u16 (mod 8193), in place u8 (bit 0: the left output is the input
//                     buffer; bit 1: the goniometer's buffer has room for no event), SIGNAL,
//                     SIGNAL
//     5 connect all   every port to its own buffer, as a careful host does
//     6 instantiate   the instance is cleaned up and made again at RATE
//     7 extension     a URI of u8 % 32 bytes: the plug-ins offer none
#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/urid/urid.h>

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dsp/output_stage.h"
#include "fuzz_support.h"
#include "lv2/port_table.h"

extern "C" const LV2_Descriptor* lv2_descriptor(std::uint32_t index);

namespace {

using namespace fuzzhost;

constexpr float kOutputCeiling = OutputStage::ceiling;
constexpr int kMaxBlock = 8192;
constexpr int kGuard = 16;
constexpr int kBufferLength = kMaxBlock + kGuard;
constexpr long kFrameBudget = 32768;
constexpr int kInstanceBudget = 4;
constexpr int kActionBudget = 512;
constexpr std::uint32_t kMostPorts = lv2glue::kStereoPorts.count();
constexpr std::uint32_t kAtomBytes = lv2glue::kGoniometerBufferBytes;
// Room for the empty sequence but not for the points.
constexpr std::uint32_t kSmallAtomRoom = 64;

// The host's urid:map: URIs numbered from 1 in the order they are first asked for.
struct UridMap {
    static LV2_URID mapUri(LV2_URID_Map_Handle handle, const char* uri) {
        std::vector<std::string>& uris = static_cast<UridMap*>(handle)->uris;
        for (std::size_t i = 0; i < uris.size(); ++i) {
            if (uris[i] == uri) return static_cast<LV2_URID>(i + 1);
        }
        uris.emplace_back(uri);
        return static_cast<LV2_URID>(uris.size());
    }
    LV2_URID operator()(const char* uri) { return mapUri(this, uri); }

    std::vector<std::string> uris;
    LV2_URID_Map map{this, mapUri};
    LV2_Feature feature{LV2_URID__map, &map};
};

struct Totals {
    unsigned long long actions = 0;
    unsigned long long runs = 0;
    unsigned long long frames = 0;
    unsigned long long instances = 0;
};
Totals totals;

void reportTotals() {
    std::fprintf(stderr,
                 "zelko-lv2-fuzzer: %llu host actions on %llu instances, %llu runs, %llu frames\n",
                 totals.actions, totals.instances, totals.runs, totals.frames);
}

[[noreturn]] void fail(const char* what, long detail = 0) {
    std::fprintf(stderr, "*** zelko-lv2-fuzzer: %s (%ld)\n", what, detail);
    std::abort();
}

class FuzzHost {
  public:
    void run(const std::uint8_t* data, std::size_t size) {
        Reader in(data, size);
        const std::uint8_t first = in.u8();
        const std::uint32_t index = first % 3;
        offerMap = (first / 3) % 2 == 0;
        descriptor = lv2_descriptor(index);
        if (index == 2) {
            if (descriptor != nullptr) fail("a third descriptor");
            return;
        }
        if (descriptor == nullptr) fail("no descriptor", index);
        ports = index == 0 ? lv2glue::kMonoPorts : lv2glue::kStereoPorts;
        instantiate(in.anyRate());

        for (int action = 0; action < kActionBudget && !in.done(); ++action) {
            ++totals.actions;
            switch (in.u8() % 8) {
                case 0:
                    connect(in.u8(), in.u8() % 4);
                    break;
                case 1: {
                    const std::uint32_t port = in.u8() % kMostPorts;
                    values[port] = in.anyFloat();
                    break;
                }
                case 2:
                    descriptor->activate(handle);
                    // The bypass comes to rest on its last setting: engaged, it stays dry.
                    dryPossible = lastRunBypassed;
                    break;
                case 3:
                    descriptor->deactivate(handle);
                    break;
                case 4:
                    runOnce(in);
                    break;
                case 5:
                    for (std::uint32_t port = 0; port < ports.count(); ++port) connect(port, 1);
                    break;
                case 6: {
                    const float rate = in.anyRate();
                    if (instances < kInstanceBudget) {
                        descriptor->cleanup(handle);
                        instantiate(rate);
                    }
                    break;
                }
                default: {
                    char uri[33];
                    const std::size_t length = in.u8() % 32;
                    for (std::size_t i = 0; i < length; ++i)
                        uri[i] = static_cast<char>(in.u8() | 1);
                    uri[length] = '\0';
                    if (descriptor->extension_data(uri) != nullptr) fail("an extension offered");
                    break;
                }
            }
        }
        descriptor->cleanup(handle);
    }

  private:
    void instantiate(float rate) {
        const LV2_Feature* features[] = {&urids.feature, nullptr};
        handle = descriptor->instantiate(descriptor, rate, "/nonexistent/zelko.lv2/",
                                         offerMap ? features : nullptr);
        if (handle == nullptr) fail("no instance");
        ++instances;
        ++totals.instances;
        connected.fill(Target::nothing);
        dryPossible = false;
        lastRunBypassed = false;
    }

    enum class Target { nothing, own, input, other };

    bool isAudio(std::uint32_t port) const {
        return port < ports.inputCount || port == ports.left() || port == ports.right();
    }

    float* ownBuffer(std::uint32_t port) {
        if (port < ports.inputCount) return audio[port].data();
        if (port == ports.left()) return audio[2].data();
        if (port == ports.right()) return audio[3].data();
        return &values[port];
    }

    LV2_Atom_Sequence* sequence() { return reinterpret_cast<LV2_Atom_Sequence*>(atoms.data()); }

    void connect(std::uint32_t port, std::uint32_t target) {
        // A control port gets a value slot; an audio port a buffer; another port's value is a
        // buffer of one float, so only control ports are pointed at one. The goniometer gets its
        // atom buffer or nothing.
        void* where = nullptr;
        Target kind = Target::nothing;
        if (port == ports.goniometer()) {
            if (target % 2 == 1) {
                where = atoms.data();
                kind = Target::own;
            }
        } else if (target == 1 || (target == 3 && isAudio(port))) {
            where = port < kMostPorts ? ownBuffer(port) : &values[0];
            kind = Target::own;
        } else if (target == 2 && isAudio(port)) {
            where = audio[0].data();
            kind = Target::input;
        } else if (target == 3) {
            where = &values[(port + 1) % kMostPorts];
            kind = Target::other;
        } else if (target == 2) {
            where = &values[port % kMostPorts];
            kind = Target::own;
        }
        descriptor->connect_port(handle, port, where);
        if (port < kMostPorts) connected[port] = kind;
    }

    bool bypassEngaged() const {
        if (connected[ports.enabled()] == Target::nothing) return false;
        const float* enabled = connected[ports.enabled()] == Target::other
                                   ? &values[(ports.enabled() + 1) % kMostPorts]
                                   : &values[ports.enabled()];
        return !(*enabled > 0.5f) && *enabled == *enabled;
    }

    void runOnce(Reader& in) {
        int frames = in.u16() % (kMaxBlock + 1);
        const std::uint8_t inPlaceByte = in.u8();
        const bool inPlace = inPlaceByte & 1;
        frames = static_cast<int>(std::min<long>(frames, kFrameBudget - framesUsed));
        framesUsed += frames;
        ++totals.runs;
        totals.frames += static_cast<unsigned long long>(frames);

        const float sentinel = fromBits(kSentinelBits);
        for (int b = 0; b < 4; ++b) std::fill(audio[b].begin(), audio[b].end(), sentinel);
        fillSignal(in, audio[0].data(), frames);
        fillSignal(in, audio[1].data(), frames);
        if (inPlace) {
            descriptor->connect_port(handle, ports.left(), audio[0].data());
            connected[ports.left()] = Target::input;
        }
        const std::vector<float> before[2] = {audio[0], audio[1]};
        const bool bypassed = bypassEngaged();
        if (bypassed) dryPossible = true;
        lastRunBypassed = bypassed;
        // The room an output sequence has, as a host says it before each run.
        const std::uint32_t room =
            (inPlaceByte & 2) ? kSmallAtomRoom : kAtomBytes - sizeof(LV2_Atom);
        const LV2_URID chunk = urids(LV2_ATOM__Chunk);
        sequence()->atom = {room, chunk};

        descriptor->run(handle, static_cast<std::uint32_t>(frames));

        const auto own = [&](std::uint32_t port) { return connected[port] == Target::own; };
        // The module reads its first input and writes left and right: connected to the host's
        // own buffers (or the left one to the input), every sample of both is written.
        const bool audioConnected = own(0) && (own(ports.left()) || inPlace) && own(ports.right());
        const bool leftShared = connected[ports.left()] == Target::input;
        const bool rightShared = connected[ports.right()] == Target::input;
        const float* outputs[2] = {leftShared ? audio[0].data() : audio[2].data(),
                                   rightShared ? audio[0].data() : audio[3].data()};
        if (audioConnected) {
            for (int ch = 0; ch < 2; ++ch) {
                for (int i = 0; i < frames; ++i) {
                    const float sample = outputs[ch][i];
                    if (isSentinel(sample)) fail("output sample left unwritten", i);
                    if (!dryPossible &&
                        (!std::isfinite(sample) || std::fabs(sample) > kOutputCeiling)) {
                        fail("output sample not finite or above the ceiling", i);
                    }
                }
            }
        }
        for (int b = 0; b < 4; ++b) {
            for (int i = frames; i < kBufferLength; ++i) {
                if (!isSentinel(audio[b][i])) fail("a buffer written past the run", b);
            }
        }
        // The second input is never written, nor the first unless an output shares it.
        // Compared by bits: the sentinel is a NaN.
        const auto same = [](const std::vector<float>& a, const std::vector<float>& b) {
            return std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
        };
        if (!same(audio[1], before[1])) fail("the second input was written");
        if (!leftShared && !rightShared && !same(audio[0], before[0])) {
            fail("the input was written");
        }
        if (frames > 0 && own(0) && own(ports.left()) && own(ports.right())) {
            for (std::size_t m = 0; m < meterCount; ++m) {
                const std::uint32_t port = ports.firstMeter() + static_cast<std::uint32_t>(m);
                if (!own(port)) continue;
                const ControlRange& reach = meterRecords[m].reach;
                if (!(values[port] >= reach.minimum && values[port] <= reach.maximum)) {
                    fail("a meter outside its range", port);
                }
            }
        }
        if (own(ports.latency()) && values[ports.latency()] != static_cast<float>(chainLatency)) {
            fail("the latency port does not read the chain's latency");
        }
        for (std::size_t r = 0; r < outputReadingCount; ++r) {
            const std::uint32_t port = ports.firstReading() + static_cast<std::uint32_t>(r);
            const ControlRange& reach = outputReadingRecords[r].reach;
            if (own(port) && !(values[port] >= reach.minimum && values[port] <= reach.maximum)) {
                fail("an output reading outside its range", port);
            }
        }
        // The plug-in measures whatever it wrote, wherever its outputs were connected.
        const auto any = [&](std::uint32_t port) { return connected[port] != Target::nothing; };
        const bool processed = frames > 0 && any(0) && any(ports.left()) && any(ports.right());
        if (own(ports.goniometer())) checkGoniometer(room, chunk, processed);
    }

    // The sequence the run left in the goniometer's buffer.
    void checkGoniometer(std::uint32_t room, LV2_URID chunk, bool measured) {
        const LV2_Atom_Sequence* s = sequence();
        if (!offerMap) {
            if (s->atom.size != room || s->atom.type != chunk) fail("goniometer written unmapped");
            return;
        }
        if (s->atom.type != urids(LV2_ATOM__Sequence)) fail("goniometer not a sequence");
        if (s->atom.size > room || s->atom.size < sizeof(LV2_Atom_Sequence_Body)) {
            fail("goniometer sequence outside its room", s->atom.size);
        }
        int events = 0;
        LV2_ATOM_SEQUENCE_FOREACH(s, event) {
            ++events;
            const auto* vector = reinterpret_cast<const LV2_Atom_Vector*>(&event->body);
            if (vector->atom.type != urids(LV2_ATOM__Vector) ||
                vector->body.child_type != urids(LV2_ATOM__Float) ||
                vector->body.child_size != sizeof(float) ||
                vector->atom.size !=
                    sizeof vector->body + lv2glue::kGoniometerFloats * sizeof(float)) {
                fail("goniometer event not a vector of the points");
            }
            const auto* points = reinterpret_cast<const float*>(&vector->body + 1);
            for (std::uint32_t i = 0; i < lv2glue::kGoniometerFloats && !dryPossible; ++i) {
                if (!std::isfinite(points[i])) fail("goniometer point not finite", i);
            }
        }
        const bool roomy = room >= kAtomBytes - sizeof(LV2_Atom);
        if (events != (measured && roomy ? 1 : 0)) fail("goniometer events", events);
    }

    const LV2_Descriptor* descriptor = nullptr;
    LV2_Handle handle = nullptr;
    bool offerMap = true;
    UridMap urids;
    alignas(8) std::array<std::uint8_t, kAtomBytes> atoms{};
    lv2glue::PortLayout ports = lv2glue::kMonoPorts;
    int instances = 0;
    long framesUsed = 0;
    bool dryPossible = false;
    bool lastRunBypassed = false;
    std::array<Target, kMostPorts> connected{};
    std::array<float, kMostPorts> values{};
    // The inputs (two for the stereo plug-in), then left and right.
    std::vector<float> audio[4] = {
        std::vector<float>(kBufferLength), std::vector<float>(kBufferLength),
        std::vector<float>(kBufferLength), std::vector<float>(kBufferLength)};
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
