// The LV2 plug-ins: a thin adapter that runs the processor on the host's port buffers, for the
// mono-input plug-in and its stereo-input form (lv2/port_table.h), which differ only in where
// their ports are.
//
// The host's control ports are copied into the processor's control fields once per run, held to
// their ranges, exactly where the VST shell writes its parameters; the processor then reads them
// at the start of its block as it always does. Its meters are copied out to the output ports
// after the block, the chain's latency is reported on its own port, and the host's enabled port
// drives a click-free bypass. The finished output is measured for the editor: levels and
// correlation go out on control ports, the goniometer points as an atom on an optional port.
#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "dsp/bypass.h"
#include "dsp/denormal_flush.h"
#include "dsp/mydsp.h"
#include "dsp/output_meter.h"
#include "dsp/output_readings.h"
#include "lv2/port_table.h"

namespace {

// The processor counts frames in an int; a longer run is processed in parts of this size.
constexpr std::uint32_t kLongestBlock = 1u << 30;

struct Instance {
    explicit Instance(const lv2glue::PortLayout& layout) : ports(layout) {}

    lv2glue::PortLayout ports;
    std::unique_ptr<mydsp> processor = std::make_unique<mydsp>();
    Bypass bypass;
    // The host's buffers, as connected; null until connected.
    std::array<const float*, controlCount> controlInputs{};
    std::array<float*, meterCount> meterOutputs{};
    const float* input = nullptr;
    float* left = nullptr;
    float* right = nullptr;
    float* latency = nullptr;
    const float* enabled = nullptr;
    std::array<float*, outputReadingCount> readingOutputs{};
    LV2_Atom_Sequence* goniometer = nullptr;
    // The meters as last measured, written to their ports by every run.
    MeterValues meters = MeterValues::lowest();
    // What the output sounds like, for the editor; it only reads the finished output.
    OutputMeter outputMeter;
    // The atom types the goniometer port is written with; 0 when the host offered no urid:map,
    // and then the port is left alone.
    LV2_URID sequenceType = 0;
    LV2_URID vectorType = 0;
    LV2_URID floatType = 0;
};

// The goniometer event: the vector's header and its floats, after the event's own header.
constexpr std::uint32_t kVectorBytes =
    sizeof(LV2_Atom_Vector_Body) + lv2glue::kGoniometerFloats * sizeof(float);
constexpr std::uint32_t kGoniometerEventBytes = sizeof(LV2_Atom_Event) + kVectorBytes;
static_assert(kGoniometerEventBytes % 8 == 0, "events in a sequence are 64-bit aligned");
static_assert(sizeof(LV2_Atom) + sizeof(LV2_Atom_Sequence_Body) + kGoniometerEventBytes <=
                  lv2glue::kGoniometerBufferBytes,
              "the buffer size the port asks of the host holds the sequence");

void mapTypes(Instance& self, const LV2_Feature* const* features) {
    for (const LV2_Feature* const* f = features; f != nullptr && *f != nullptr; ++f) {
        if (std::strcmp((*f)->URI, LV2_URID__map) != 0 || (*f)->data == nullptr) continue;
        const auto* map = static_cast<const LV2_URID_Map*>((*f)->data);
        self.sequenceType = map->map(map->handle, LV2_ATOM__Sequence);
        self.vectorType = map->map(map->handle, LV2_ATOM__Vector);
        self.floatType = map->map(map->handle, LV2_ATOM__Float);
    }
    if (self.sequenceType == 0 || self.vectorType == 0 || self.floatType == 0) {
        self.sequenceType = self.vectorType = self.floatType = 0;
    }
}

const lv2glue::PortLayout& layoutOf(const LV2_Descriptor* descriptor);

LV2_Handle instantiate(const LV2_Descriptor* descriptor, double sampleRate, const char*,
                       const LV2_Feature* const* features) {
    try {
        auto instance = std::make_unique<Instance>(layoutOf(descriptor));
        instance->processor->initialize(integerRate(sampleRate));
        instance->bypass.setRate(instance->processor->clampedRate());
        instance->outputMeter.reset(instance->processor->clampedRate().fs);
        mapTypes(*instance, features);
        return instance.release();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// The first input is the one the processor reads; a second one, the stereo plug-in's right input,
// is left unread.
void connectPort(LV2_Handle handle, std::uint32_t port, void* data) {
    Instance& self = *static_cast<Instance*>(handle);
    const lv2glue::PortLayout& ports = self.ports;
    if (port == 0) {
        self.input = static_cast<const float*>(data);
    } else if (port == ports.left()) {
        self.left = static_cast<float*>(data);
    } else if (port == ports.right()) {
        self.right = static_cast<float*>(data);
    } else if (port >= ports.firstControl() && port < ports.firstMeter()) {
        self.controlInputs[port - ports.firstControl()] = static_cast<const float*>(data);
    } else if (port >= ports.firstMeter() && port < ports.latency()) {
        self.meterOutputs[port - ports.firstMeter()] = static_cast<float*>(data);
    } else if (port == ports.latency()) {
        self.latency = static_cast<float*>(data);
    } else if (port == ports.enabled()) {
        self.enabled = static_cast<const float*>(data);
    } else if (port >= ports.firstReading() && port < ports.goniometer()) {
        self.readingOutputs[port - ports.firstReading()] = static_cast<float*>(data);
    } else if (port == ports.goniometer()) {
        self.goniometer = static_cast<LV2_Atom_Sequence*>(data);
    }
}

// Signal state back to exact silence; the rate's constants stay as they are.
void activate(LV2_Handle handle) {
    Instance& self = *static_cast<Instance*>(handle);
    self.processor->clearState();
    self.bypass.reset();
    self.meters = MeterValues::lowest();
    self.outputMeter.reset(self.processor->clampedRate().fs);
}

// The sequence on the goniometer port: empty, or with the points when the block was measured.
// The host set the atom's size to the room it gave; a buffer too small for the event gets the
// empty sequence, one too small even for that is left alone.
void writeGoniometer(Instance& self, bool measured) {
    LV2_Atom_Sequence* sequence = self.goniometer;
    if (sequence == nullptr || self.sequenceType == 0) return;
    const std::uint32_t room = sequence->atom.size;
    if (room < sizeof(LV2_Atom_Sequence_Body)) return;
    sequence->atom.type = self.sequenceType;
    sequence->atom.size = sizeof(LV2_Atom_Sequence_Body);
    sequence->body.unit = 0;
    sequence->body.pad = 0;
    if (!measured || room < sizeof(LV2_Atom_Sequence_Body) + kGoniometerEventBytes) return;
    auto* event = reinterpret_cast<LV2_Atom_Event*>(sequence + 1);
    event->time.frames = 0;
    event->body.type = self.vectorType;
    event->body.size = kVectorBytes;
    auto* vector = reinterpret_cast<LV2_Atom_Vector_Body*>(event + 1);
    vector->child_size = sizeof(float);
    vector->child_type = self.floatType;
    auto* values = reinterpret_cast<float*>(vector + 1);
    self.outputMeter.copyPoints([values](std::size_t i, GoniometerPoint point) {
        values[2 * i] = point.mid;
        values[2 * i + 1] = point.side;
    });
    sequence->atom.size += kGoniometerEventBytes;
}

void run(LV2_Handle handle, std::uint32_t frames) {
    Instance& self = *static_cast<Instance*>(handle);
    DenormalFlushGuard flushDenormals;

    ControlValues& controls = self.processor->controlValues();
    for (std::size_t c = 0; c < controlCount; ++c) {
        if (const float* value = self.controlInputs[c]) {
            controls.values[c] = controlRecords[c].range.held(*value);
        }
    }
    // Without the port the plug-in processes; NaN reads as processing too.
    self.bypass.set(self.enabled != nullptr && !(*self.enabled > 0.5f) &&
                    *self.enabled == *self.enabled);

    // The processor reads only its first input; both of its inputs get the one audio input.
    // The bypass reads each part of the input before the processor writes the outputs, so
    // buffers may be shared.
    float* in = const_cast<float*>(self.input);
    const bool connected = in != nullptr && self.left != nullptr && self.right != nullptr;
    if (frames == 0) {
        float* none[2] = {in, in};
        float* outputs[2] = {self.left, self.right};
        self.processor->process(0, none, outputs);
    } else if (connected) {
        for (std::uint32_t done = 0; done < frames;) {
            const std::uint32_t part = std::min(frames - done, kLongestBlock);
            self.bypass.run(
                in + done, self.left + done, self.right + done, static_cast<int>(part),
                [&](int offset, int count) {
                    float* inputs[2] = {in + done + offset, in + done + offset};
                    float* outputs[2] = {self.left + done + offset, self.right + done + offset};
                    self.processor->process(count, inputs, outputs);
                });
            // The finished output, read only: the audio is the same measured or not.
            self.outputMeter.step(self.left + done, self.right + done, static_cast<int>(part));
            done += part;
        }
        self.meters = self.processor->meterValues();
    }

    for (std::size_t m = 0; m < meterCount; ++m) {
        if (float* meter = self.meterOutputs[m])
            *meter = meterRecords[m].reach.held(self.meters.values[m]);
    }
    if (self.latency != nullptr) *self.latency = lv2glue::kChainLatency;
    const bool readingsWanted = std::any_of(self.readingOutputs.begin(), self.readingOutputs.end(),
                                            [](const float* port) { return port != nullptr; });
    if (readingsWanted) {
        const OutputLevels levels = self.outputMeter.levels();
        for (std::size_t r = 0; r < outputReadingCount; ++r) {
            if (float* reading = self.readingOutputs[r])
                *reading = readingOf(levels, static_cast<OutputReading>(r));
        }
    }
    writeGoniometer(self, frames > 0 && connected);
}

void deactivate(LV2_Handle) {}

void cleanup(LV2_Handle handle) {
    delete static_cast<Instance*>(handle);
}

const void* extensionData(const char*) {
    return nullptr;
}

const LV2_Descriptor kDescriptor = {
    lv2glue::kPluginUri, instantiate, connectPort,   activate, run,
    deactivate,          cleanup,     extensionData,
};

const LV2_Descriptor kStereoDescriptor = {
    lv2glue::kStereoPluginUri,
    instantiate,
    connectPort,
    activate,
    run,
    deactivate,
    cleanup,
    extensionData,
};

const lv2glue::PortLayout& layoutOf(const LV2_Descriptor* descriptor) {
    return descriptor == &kStereoDescriptor ? lv2glue::kStereoPorts : lv2glue::kMonoPorts;
}

}  // namespace

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(std::uint32_t index) {
    switch (index) {
        case 0:
            return &kDescriptor;
        case 1:
            return &kStereoDescriptor;
        default:
            return nullptr;
    }
}
