#include "tools/render/render_loop.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "tools/render/audio_io.h"
#include "tools/render/failure.h"
#include "tools/render/output_file.h"
#include "tools/render/plugin_module.h"
#include "tools/render/progress.h"

namespace render {

namespace {

// Above this input peak (+12 dBFS) a plug-in that keeps its output level steady, as ours does,
// turns its gain down so far for the peak that the output stays near silence for seconds.
constexpr float kDuckingInputPeak = 3.98107f;

// Replaces NaN and infinite samples by silence, which keeps them out of the plug-in's filters
// and the measurements, and counts them.
void silenceNonFinite(float* samples, int frames, std::int64_t start, RenderSummary& summary) {
    for (int i = 0; i < frames; ++i) {
        if (std::isfinite(samples[i])) continue;
        samples[i] = 0.0f;
        if (summary.nonFiniteSamples++ == 0) summary.firstNonFinite = start + i;
    }
}

float peakOf(const float* samples, int frames, float peak) {
    for (int i = 0; i < frames; ++i) peak = std::max(peak, std::fabs(samples[i]));
    return peak;
}

std::string formatDuration(double seconds) {
    char text[64];
    if (seconds < 60.0) {
        std::snprintf(text, sizeof text, "%.3f s", seconds);
    } else {
        const auto whole = static_cast<long long>(seconds);
        const double fraction = seconds - static_cast<double>(whole);
        const long long hours = whole / 3600;
        const long long minutes = whole / 60 % 60;
        const double rest = static_cast<double>(whole % 60) + fraction;
        if (hours > 0) {
            std::snprintf(text, sizeof text, "%lld:%02lld:%06.3f", hours, minutes, rest);
        } else {
            std::snprintf(text, sizeof text, "%lld:%06.3f", minutes, rest);
        }
    }
    return text;
}

}  // namespace

RenderSummary renderThroughPlugin(MonoSource& source, PluginInstance& plugin, FrameSink& writer,
                                  const RenderSettings& settings, ProgressBar& progress,
                                  RenderTap* tap) {
    const auto start = std::chrono::steady_clock::now();
    const int block = plugin.blockSize();
    RenderSummary summary;
    summary.sampleRate = source.sampleRate();
    summary.ranPlugin = true;

    const bool stereo = source.isStereo();
    float* second = stereo ? plugin.feedSecond() : nullptr;

    plugin.resume();
    // Read after resuming: a plug-in may settle its latency only once it is switched on.
    std::int64_t toDiscard = settings.compensateLatency ? plugin.latency() : 0;
    if (!settings.compensateLatency) summary.uncompensatedLatency = plugin.latency();
    std::int64_t inputFrames = 0;
    bool inputEnded = false;
    std::int64_t written = 0;
    while (true) {
        if (interruptRequested()) throw Interrupted();
        float* input = plugin.input();
        int got = 0;
        if (!inputEnded) {
            got = stereo ? source.readPair(input, second, block) : source.read(input, block);
            silenceNonFinite(input, got, inputFrames, summary);
            if (second) silenceNonFinite(second, got, inputFrames, summary);
            inputFrames += got;
            inputEnded = got < block;
        }
        std::fill(input + got, input + block, 0.0f);
        if (second) std::fill(second + got, second + block, 0.0f);
        if (inputEnded && written >= inputFrames + settings.tailFrames) break;

        summary.inputPeak = peakOf(input, got, summary.inputPeak);
        if (second) summary.inputPeak = peakOf(second, got, summary.inputPeak);
        if (tap && got > 0) tap->input(input, second, got);

        // Every block has the announced size; after the end it carries silence.
        plugin.process(block);

        const int skip = static_cast<int>(std::min<std::int64_t>(toDiscard, block));
        toDiscard -= skip;
        const std::int64_t stillWanted = inputEnded ? inputFrames + settings.tailFrames - written
                                                    : std::numeric_limits<std::int64_t>::max();
        const int count = static_cast<int>(std::min<std::int64_t>(block - skip, stillWanted));
        if (count > 0) {
            writer.write(plugin.left() + skip, plugin.right() + skip, count);
            if (tap) tap->output(plugin.left() + skip, plugin.right() + skip, count);
            summary.peak = peakOf(plugin.left() + skip, count, summary.peak);
            summary.peak = peakOf(plugin.right() + skip, count, summary.peak);
            written += count;
        }
        progress.update(inputEnded ? written : inputFrames);
    }
    plugin.suspend();

    summary.frames = written;
    summary.elapsedSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return summary;
}

RenderSummary copySource(MonoSource& source, FrameSink& writer, int blockSize,
                         ProgressBar& progress, RenderTap* tap) {
    const auto start = std::chrono::steady_clock::now();
    std::vector<float> buffer(static_cast<std::size_t>(blockSize));
    RenderSummary summary;
    summary.sampleRate = source.sampleRate();
    while (true) {
        if (interruptRequested()) throw Interrupted();
        const int got = source.read(buffer.data(), blockSize);
        if (got <= 0) break;
        writer.write(buffer.data(), buffer.data(), got);
        if (tap) {
            tap->input(buffer.data(), nullptr, got);
            tap->output(buffer.data(), buffer.data(), got);
        }
        summary.peak = peakOf(buffer.data(), got, summary.peak);
        summary.inputPeak = summary.peak;
        summary.frames += got;
        progress.update(summary.frames);
        if (got < blockSize) break;
    }
    summary.elapsedSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return summary;
}

std::string describe(const RenderSummary& summary) {
    const double duration = summary.sampleRate > 0.0 ? summary.frames / summary.sampleRate : 0.0;
    char text[160];
    const double factor = duration > 0.0 ? summary.elapsedSeconds / duration : 0.0;
    const double speed = summary.elapsedSeconds > 0.0 ? duration / summary.elapsedSeconds : 0.0;
    char peak[32];
    if (summary.peak > 0.0f) {
        std::snprintf(peak, sizeof peak, "%.1f dBFS", 20.0 * std::log10(summary.peak));
    } else {
        std::snprintf(peak, sizeof peak, "-inf dBFS");
    }
    std::snprintf(text, sizeof text, "%s at %.0f Hz, real-time factor %.4f (%.0fx), peak %s",
                  formatDuration(duration).c_str(), summary.sampleRate, factor, speed, peak);
    return text;
}

std::vector<std::string> warningsAbout(const RenderSummary& summary) {
    std::vector<std::string> warnings;
    if (summary.nonFiniteSamples > 0) {
        char text[256];
        std::snprintf(text, sizeof text,
                      "The input holds %lld samples that are not numbers (NaN) or infinite, the "
                      "first at frame %lld (%.3f s); they were fed to the plug-in as silence.",
                      static_cast<long long>(summary.nonFiniteSamples),
                      static_cast<long long>(summary.firstNonFinite),
                      summary.sampleRate > 0.0 ? summary.firstNonFinite / summary.sampleRate : 0.0);
        warnings.push_back(text);
    }
    const bool inputHeldSomething = summary.inputPeak > 0.0f || summary.nonFiniteSamples > 0;
    if (summary.ranPlugin && summary.peak == 0.0f && inputHeldSomething) {
        if (summary.uncompensatedLatency > 0 && summary.frames <= summary.uncompensatedLatency) {
            warnings.push_back(
                "The output is silent because the input, " + std::to_string(summary.frames) +
                " frames long, is shorter than the plug-in's latency of " +
                std::to_string(summary.uncompensatedLatency) +
                " samples: without latency compensation the output ends with the input, before "
                "the plug-in's answer arrives. Leave out --no-latency-compensation, or add "
                "--tail.");
        } else if (summary.inputPeak > 0.0f) {
            warnings.push_back(
                "The output is silent although the input is not: the plug-in gave nothing back "
                "for what it was fed.");
        } else {
            warnings.push_back(
                "The output is silent because the input holds nothing but samples that are not "
                "numbers or infinite.");
        }
    }
    if (summary.inputPeak > kDuckingInputPeak) {
        char text[256];
        std::snprintf(text, sizeof text,
                      "The input peaks at %+.1f dBFS, far above full scale, so a plug-in that "
                      "keeps its output level steady turns its gain down for that peak and the "
                      "output ducks after it.",
                      20.0 * std::log10(summary.inputPeak));
        warnings.push_back(text);
    }
    return warnings;
}

}  // namespace render
