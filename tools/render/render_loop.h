// The streaming render: source to plug-in to file, one block at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace render {

class MonoSource;
class PluginInstance;
class ProgressBar;
class FrameSink;

struct RenderSettings {
    // Drop the plug-in's latency from the start of its output, so that it lines up with the
    // input.
    bool compensateLatency = true;
    // Frames rendered after the input's end, with silence fed, to keep the plug-in's decay.
    std::int64_t tailFrames = 0;
};

// Sees the signals of a render as they pass: what is fed to the plug-in (the mono signal, with
// `second` null, or a stereo source's two channels) and the stereo output as it is written.
class RenderTap {
  public:
    virtual ~RenderTap() = default;
    virtual void input(const float* first, const float* second, int frames) = 0;
    virtual void output(const float* left, const float* right, int frames) = 0;
};

struct RenderSummary {
    std::int64_t frames = 0;
    double sampleRate = 0.0;
    double elapsedSeconds = 0.0;
    float peak = 0.0f;       // largest magnitude written, full scale 1
    float inputPeak = 0.0f;  // largest magnitude fed to the plug-in
    bool ranPlugin = false;
    // The plug-in's latency when it was not compensated: output shorter than it holds nothing
    // of the input.
    std::int64_t uncompensatedLatency = 0;
    // Input samples that were NaN or infinite, fed to the plug-in as silence, and the frame of
    // the first.
    std::int64_t nonFiniteSamples = 0;
    std::int64_t firstNonFinite = -1;
};

// Feeds the source through a resumed plug-in into the writer. The output has the source's
// length plus the tail. With latency compensation the plug-in's first `latency()` output samples
// are dropped and silence is fed after the source's end to bring out the rest, so that the
// output lines up with the input sample for sample. A stereo source feeds the plug-in's first
// two inputs. Throws Interrupted when a signal asks the render to stop.
RenderSummary renderThroughPlugin(MonoSource& source, PluginInstance& plugin, FrameSink& writer,
                                  const RenderSettings& settings, ProgressBar& progress,
                                  RenderTap* tap = nullptr);

// Writes the source itself, for the demo's dry programme.
RenderSummary copySource(MonoSource& source, FrameSink& writer, int blockSize,
                         ProgressBar& progress, RenderTap* tap = nullptr);

// "12.000 s at 48000 Hz, real-time factor 0.0120 (83x), peak -3.1 dBFS"
std::string describe(const RenderSummary& summary);

// Sentences about a render that went through but whose result may surprise: an output silent
// where the input was not, an input so loud that the output ducks after it.
std::vector<std::string> warningsAbout(const RenderSummary& summary);

}  // namespace render
