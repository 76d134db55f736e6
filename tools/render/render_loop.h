// The streaming render: source to plug-in to file, one block at a time.
#pragma once

#include <cstdint>
#include <string>

namespace render {

class MonoSource;
class PluginInstance;
class ProgressBar;
class SoundFileWriter;

struct RenderSummary {
    std::int64_t frames = 0;
    double sampleRate = 0.0;
    double elapsedSeconds = 0.0;
    float peak = 0.0f;  // largest magnitude written, full scale 1
};

// Feeds the source through a resumed plug-in into the writer. The output has exactly the
// source's length. With latency compensation the plug-in's first `latency()` output samples are
// dropped and silence is fed after the source's end to bring out the rest, so that the output
// lines up with the input sample for sample.
RenderSummary renderThroughPlugin(MonoSource& source, PluginInstance& plugin,
                                  SoundFileWriter& writer, bool compensateLatency,
                                  ProgressBar& progress);

// Writes the source itself, for the demo's dry programme.
RenderSummary copySource(MonoSource& source, SoundFileWriter& writer, int blockSize,
                         ProgressBar& progress);

// "12.000 s at 48000 Hz, real-time factor 0.0120 (83x), peak -3.1 dBFS"
std::string describe(const RenderSummary& summary);

}  // namespace render
