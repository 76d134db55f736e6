// The LV2 plug-in: a thin adapter that runs the processor on the host's port buffers.
//
// The host's control ports are copied into the processor's control fields once per run, clamped
// to their declared ranges, exactly where the VST shell writes its parameters; the processor then
// reads them at the start of its block as it always does. Its meters are copied out to the
// output ports after the block, and the chain's latency is reported on its own port.
#include <lv2/core/lv2.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "dsp/control_block.h"
#include "dsp/denormal_flush.h"
#include "dsp/mydsp.h"
#include "lv2/port_table.h"

namespace {

using lv2glue::PortCollector;

// The processor counts frames in an int; a longer run is processed in parts of this size.
constexpr std::uint32_t kLongestBlock = 1u << 30;

struct Instance {
    std::unique_ptr<mydsp> processor;
    PortCollector ports;
    // The host's buffers, as connected; null until connected.
    std::vector<const float*> controlInputs;
    std::vector<float*> meterOutputs;
    const float* input = nullptr;
    float* left = nullptr;
    float* right = nullptr;
    float* latency = nullptr;
    // The meters as last measured, written to their ports by every run.
    std::vector<float> meterValues;

    void resetMeters() {
        for (std::size_t m = 0; m < meterValues.size(); ++m) {
            meterValues[m] = ports.meters[m].minimum;
        }
    }
};

LV2_Handle instantiate(const LV2_Descriptor*, double sampleRate, const char*,
                       const LV2_Feature* const*) {
    try {
        auto instance = std::make_unique<Instance>();
        instance->processor = std::make_unique<mydsp>();
        instance->processor->declareControls(&instance->ports);
        instance->controlInputs.assign(instance->ports.controls.size(), nullptr);
        instance->meterOutputs.assign(instance->ports.meters.size(), nullptr);
        instance->meterValues.resize(instance->ports.meters.size());
        instance->resetMeters();
        instance->processor->initialize(integerRate(sampleRate));
        return instance.release();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void connectPort(LV2_Handle handle, std::uint32_t port, void* data) {
    Instance& self = *static_cast<Instance*>(handle);
    const PortCollector& ports = self.ports;
    if (port == lv2glue::kInputPort) {
        self.input = static_cast<const float*>(data);
    } else if (port == lv2glue::kLeftPort) {
        self.left = static_cast<float*>(data);
    } else if (port == lv2glue::kRightPort) {
        self.right = static_cast<float*>(data);
    } else if (port < ports.meterPort(0)) {
        self.controlInputs[port - lv2glue::kFirstControlPort] = static_cast<const float*>(data);
    } else if (port < ports.latencyPort()) {
        self.meterOutputs[port - ports.meterPort(0)] = static_cast<float*>(data);
    } else if (port == ports.latencyPort()) {
        self.latency = static_cast<float*>(data);
    }
}

// Signal state back to exact silence; the rate's constants stay as they are.
void activate(LV2_Handle handle) {
    Instance& self = *static_cast<Instance*>(handle);
    self.processor->clearState();
    self.resetMeters();
}

void run(LV2_Handle handle, std::uint32_t frames) {
    Instance& self = *static_cast<Instance*>(handle);
    DenormalFlushGuard flushDenormals;

    for (std::size_t c = 0; c < self.controlInputs.size(); ++c) {
        const lv2glue::ControlPort& control = self.ports.controls[c];
        if (const float* value = self.controlInputs[c]) {
            *control.zone = heldToRange(*value, control.minimum, control.maximum);
        }
    }

    // The processor reads only its first input; both of its inputs get the one audio input.
    // Sample i of the input is read before output i is written, so buffers may be shared.
    float* in = const_cast<float*>(self.input);
    const bool connected = in != nullptr && self.left != nullptr && self.right != nullptr;
    if (frames == 0 || connected) {
        std::uint32_t done = 0;
        do {
            const std::uint32_t part = std::min(frames - done, kLongestBlock);
            float* inputs[2] = {in ? in + done : nullptr, in ? in + done : nullptr};
            float* outputs[2] = {self.left ? self.left + done : nullptr,
                                 self.right ? self.right + done : nullptr};
            self.processor->process(static_cast<int>(part), inputs, outputs);
            done += part;
        } while (done < frames);
    }
    if (frames > 0 && connected) {
        for (std::size_t m = 0; m < self.meterValues.size(); ++m) {
            self.meterValues[m] = *self.ports.meters[m].zone;
        }
    }

    for (std::size_t m = 0; m < self.meterOutputs.size(); ++m) {
        if (float* meter = self.meterOutputs[m]) *meter = self.meterValues[m];
    }
    if (self.latency != nullptr) *self.latency = lv2glue::kChainLatency;
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

}  // namespace

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(std::uint32_t index) {
    return index == 0 ? &kDescriptor : nullptr;
}
