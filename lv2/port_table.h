// The LV2 plug-in's identity and ports, read from the control record.
//
// The plug-in module and the build-time program that writes the Turtle description both use
// these, so the description and the module cannot disagree about a port. The indices and symbols
// are what saved sessions hold: ports are only ever appended.
#pragma once

#include <cstdint>

#include "dsp/control_record.h"
#include "dsp/mydsp.h"
#include "dsp/output_readings.h"

namespace lv2glue {

// The plug-in's identity. The URI is the project's own name for the plug-in and never changes
// while its ports stay compatible.
inline constexpr const char* kPluginUri = "urn:zelko:comb-stereo-processor";
inline constexpr const char* kPluginName = "Comb Stereo Processor";
inline constexpr const char* kBinaryName = "zelko.so";

// The chain's latency as the host's latency port carries it; the VST shell reports the same
// figure as its initial delay.
inline constexpr float kChainLatency = static_cast<float>(chainLatency);

// One input and the left and right outputs, the controls in record order, the meters in record
// order, the latency, the host's bypass switch (lv2:enabled: 1 processes, 0 bypasses), then what
// the editor shows of the output: its levels and correlation in reading order, and the goniometer
// points on an atom port.
inline constexpr std::uint32_t kInputPort = 0;
inline constexpr std::uint32_t kLeftPort = 1;
inline constexpr std::uint32_t kRightPort = 2;
inline constexpr std::uint32_t kFirstControlPort = 3;
inline constexpr std::uint32_t kFirstMeterPort = kFirstControlPort + controlCount;
inline constexpr std::uint32_t kLatencyPort = kFirstMeterPort + meterCount;
inline constexpr std::uint32_t kEnabledPort = kLatencyPort + 1;
inline constexpr std::uint32_t kFirstReadingPort = kEnabledPort + 1;
inline constexpr std::uint32_t kGoniometerPort = kFirstReadingPort + outputReadingCount;
inline constexpr std::uint32_t kPortCount = kGoniometerPort + 1;
static_assert(kLatencyPort == 20 && kEnabledPort == 21,
              "saved sessions know the ports by index: append, never insert");

// The goniometer port carries, once per run, one event: an atom:Vector of atom:Float holding the
// output meter's points oldest first as (mid, side) pairs. A host gives the port a buffer of at
// least kGoniometerBufferBytes (rsz:minimumSize), which holds the sequence with that event.
inline constexpr std::uint32_t kGoniometerFloats = 2 * OutputMeter::pointCount;
inline constexpr std::uint32_t kGoniometerBufferBytes = 4096;

// The same plug-in with a stereo input, for hosts that give an effect as many inputs as outputs
// (GStreamer's LV2 elements, a stereo track in Audacity): the two inputs and the two outputs each a
// stereo port group. The processor reads the first (left) input, as the VST 2.4 effect reads its
// first input; the right input is connected and never read. Its ports are the mono plug-in's with
// the second input inserted after the first: a plug-in of its own, so the mono plug-in's indices
// stay as sessions saved them.
inline constexpr const char* kStereoPluginUri = "urn:zelko:comb-stereo-processor-stereo";
inline constexpr const char* kStereoPluginName = "Comb Stereo Processor (stereo input)";

// Where each port of a plug-in is: the inputs first, then the plug-in's fixed order.
struct PortLayout {
    std::uint32_t inputCount;

    constexpr std::uint32_t left() const { return inputCount; }
    constexpr std::uint32_t right() const { return inputCount + 1; }
    constexpr std::uint32_t firstControl() const { return inputCount + 2; }
    constexpr std::uint32_t firstMeter() const { return firstControl() + controlCount; }
    constexpr std::uint32_t latency() const { return firstMeter() + meterCount; }
    constexpr std::uint32_t enabled() const { return latency() + 1; }
    constexpr std::uint32_t firstReading() const { return enabled() + 1; }
    constexpr std::uint32_t goniometer() const { return firstReading() + outputReadingCount; }
    constexpr std::uint32_t count() const { return goniometer() + 1; }
};
inline constexpr PortLayout kMonoPorts{1};
inline constexpr PortLayout kStereoPorts{2};
static_assert(kStereoPorts.enabled() == 22, "the stereo plug-in's sessions hold its indices too");
static_assert(kMonoPorts.left() == kLeftPort && kMonoPorts.right() == kRightPort &&
              kMonoPorts.firstControl() == kFirstControlPort &&
              kMonoPorts.firstMeter() == kFirstMeterPort && kMonoPorts.latency() == kLatencyPort &&
              kMonoPorts.enabled() == kEnabledPort &&
              kMonoPorts.firstReading() == kFirstReadingPort &&
              kMonoPorts.goniometer() == kGoniometerPort && kMonoPorts.count() == kPortCount);

// The editor, a UI binary of its own beside the plug-in's.
inline constexpr const char* kUiUri = "urn:zelko:comb-stereo-processor#ui";
inline constexpr const char* kUiBinaryName = "zelko_ui.so";

}  // namespace lv2glue
