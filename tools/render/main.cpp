// zelko-render: turns mono recordings into stereo files with a VST 2.4 plug-in, hosting it
// through its VSTPluginMain exactly as a host does.

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/render/analysis/report_picture.h"
#include "tools/render/analysis/stereo_analysis.h"
#include "tools/render/audio_io.h"
#include "tools/render/cli.h"
#include "tools/render/demo_programme.h"
#include "tools/render/failure.h"
#include "tools/render/job_plan.h"
#include "tools/render/loudness_target.h"
#include "tools/render/output_file.h"
#include "tools/render/parameters.h"
#include "tools/render/plugin_module.h"
#include "tools/render/progress.h"
#include "tools/render/render_loop.h"
#include "tools/render/report_target.h"
#include "tools/render/resampler.h"

#ifndef ZELKO_RENDER_BUILT_PLUGIN
#define ZELKO_RENDER_BUILT_PLUGIN ""
#endif
#ifndef ZELKO_RENDER_VERSION
#define ZELKO_RENDER_VERSION "unknown"
#endif

namespace render {
namespace {

constexpr const char* kDefaultPluginName = "zelko.so";
// --list-params opens the plug-in at a common rate; the rate matters only to plug-ins whose
// ranges depend on it.
constexpr double kListingSampleRate = 48000.0;

bool exists(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0;
}

// The plug-in built with the renderer: copied beside it by the build, or where the build left it.
std::string defaultPluginPath() {
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string besideRenderer;
    if (length > 0) {
        self[length] = '\0';
        besideRenderer = directoryOf(self) + kDefaultPluginName;
        if (exists(besideRenderer)) return besideRenderer;
    }
    const std::string built = ZELKO_RENDER_BUILT_PLUGIN;
    if (!built.empty() && exists(built)) return built;
    throw Failure(ExitStatus::kPlugin, "No plug-in was found beside zelko-render (" +
                                           inQuotes(besideRenderer) +
                                           "); name one with --plugin PATH.");
}

double peakMemoryMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

void ensureFolder(const std::string& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        throw Failure(
            ExitStatus::kWriteFailed,
            "Cannot create the output folder " + inQuotes(folder) + " (" + error.message() + ").");
    }
}

void applyParameters(PluginInstance& plugin, const std::vector<ResolvedParameter>& parameters) {
    for (const auto& parameter : parameters) {
        plugin.setParameter(parameter.index, parameter.normalised);
    }
}

// Hands the signal fed to the plug-in to the stereo analysis of --json and --report; the output
// reaches it from the end of the sinks (FinalOutput), after rate conversion and loudness gain.
class AnalysisTap : public RenderTap {
  public:
    explicit AnalysisTap(StereoAnalyser& analyser) : analyser_(analyser) {}
    void input(const float* first, const float* second, int frames) override {
        const auto count = static_cast<std::size_t>(frames);
        if (second) {
            analyser_.addInput(first, second, count);
        } else {
            analyser_.addInput(first, count);
        }
    }
    void output(const float*, const float*, int) override {}

  private:
    StereoAnalyser& analyser_;
};

// The last stage before the file: it sees the output exactly as it is written, for the summary's
// peak and length and for the analysis.
class FinalOutput : public FrameSink {
  public:
    FinalOutput(FrameSink& file, StereoAnalyser* analyser) : file_(file), analyser_(analyser) {}
    void write(const float* left, const float* right, int frames) override {
        file_.write(left, right, frames);
        if (analyser_) analyser_->addOutput(left, right, static_cast<std::size_t>(frames));
        for (int i = 0; i < frames; ++i) {
            peak_ = std::max({peak_, std::fabs(left[i]), std::fabs(right[i])});
        }
        frames_ += frames;
    }
    void finish() override { file_.finish(); }
    float peak() const { return peak_; }
    std::int64_t frames() const { return frames_; }

  private:
    FrameSink& file_;
    StereoAnalyser* analyser_;
    float peak_ = 0.0f;
    std::int64_t frames_ = 0;
};

// Positions in the metadata (the bext time reference, cue points) counted at the output's rate.
Metadata atRate(Metadata metadata, double ratio) {
    if (ratio == 1.0) return metadata;
    const auto scale = [ratio](std::uint64_t position) {
        return static_cast<std::uint64_t>(std::llround(static_cast<double>(position) * ratio));
    };
    if (metadata.hasBroadcast) {
        auto& info = metadata.broadcast;
        const std::uint64_t reference = scale(
            static_cast<std::uint64_t>(info.time_reference_high) << 32 | info.time_reference_low);
        info.time_reference_low = static_cast<std::uint32_t>(reference & 0xffffffff);
        info.time_reference_high = static_cast<std::uint32_t>(reference >> 32);
    }
    for (auto& cue : metadata.cues) {
        cue.position = static_cast<std::uint32_t>(scale(cue.position));
        cue.sample_offset = static_cast<std::uint32_t>(scale(cue.sample_offset));
    }
    return metadata;
}

std::unique_ptr<StereoAnalyser> analyserFor(const Options& options, int sampleRate, int inputRate) {
    if (!options.json && options.report.empty()) return nullptr;
    try {
        return std::make_unique<StereoAnalyser>(sampleRate, inputRate);
    } catch (const std::invalid_argument&) {
        throw Failure(ExitStatus::kUsage, "--json and --report cannot measure audio at " +
                                              std::to_string(sampleRate) + " Hz.");
    }
}

// The Broadcast Wave time reference counts samples since midnight to the first one. Aligned
// output starts where the input starts; raw output starts `latency` samples earlier.
Metadata metadataFor(const Metadata& input, std::int64_t shift) {
    Metadata metadata = input;
    if (metadata.hasBroadcast && shift != 0) {
        auto& info = metadata.broadcast;
        std::int64_t reference =
            (static_cast<std::int64_t>(info.time_reference_high) << 32) | info.time_reference_low;
        reference = std::max<std::int64_t>(0, reference - shift);
        info.time_reference_low = static_cast<std::uint32_t>(reference & 0xffffffff);
        info.time_reference_high = static_cast<std::uint32_t>(reference >> 32);
    }
    return metadata;
}

struct Batch {
    const Options& options;
    Plan& plan;
    const PluginModule* module;
    const std::vector<ResolvedParameter>& parameters;
    std::ostream& summaries;
    std::string settings;  // for the report's title
    std::string date;
};

// The settings a report's title states: the parameters and the options that change the sound,
// as they were given.
std::string settingsText(const Options& options) {
    std::string text;
    const auto add = [&text](const std::string& item) {
        if (!text.empty()) text += ", ";
        text += item;
    };
    for (const auto& parameter : options.parameters) add(parameter);
    if (options.stereo) add("--stereo");
    if (options.channel > 0) add("--channel " + std::to_string(options.channel));
    if (options.processRate > 0) add("--process-rate " + std::to_string(options.processRate));
    if (options.rate > 0) add("--rate " + std::to_string(options.rate));
    if (options.loudnessTarget) {
        char level[64];
        std::snprintf(level, sizeof level, "--loudness %g --true-peak %g", options.loudness,
                      options.truePeak);
        add(level);
    }
    if (!options.latencyCompensation) add("--no-latency-compensation");
    if (options.tailSeconds > 0.0) add("--tail " + std::to_string(options.tailSeconds));
    return text.empty() ? "default settings" : text;
}

std::string utcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", &parts);
    return text;
}

// Renders one job; returns its exit status (0, or kInputTruncated when the input held less than
// it promised, after writing what it held).
int renderJob(Batch& batch, const Job& job) {
    const Options& options = batch.options;
    std::unique_ptr<MonoSource> owned;
    MonoSource* source = nullptr;
    const SoundFileReader* file = nullptr;
    if (job.input.empty()) {
        owned = std::make_unique<DemoProgramme>(
            options.demoSeconds > 0.0 ? options.demoSeconds : DemoProgramme::kDefaultSeconds);
        source = owned.get();
    } else if (job.input == kStandardStream) {
        source = batch.plan.standardInput.get();
        file = batch.plan.standardInput.get();
    } else {
        auto reader = std::make_unique<SoundFileReader>(job.input, options.channel,
                                                        options.blockSize, options.stereo);
        source = reader.get();
        file = reader.get();
        owned = std::move(reader);
    }
    const std::string label = job.input.empty()              ? "demo programme"
                              : job.input == kStandardStream ? "standard input"
                                                             : job.input;
    // The plug-in runs at --process-rate when it is given; the input is converted to it.
    const int processRate = options.processRate > 0 ? options.processRate : job.inputRate;
    std::unique_ptr<ResampledSource> resampled;
    if (processRate != job.inputRate) {
        resampled = std::make_unique<ResampledSource>(*source, processRate, options.blockSize);
        source = resampled.get();
    }
    const auto tailFrames =
        static_cast<std::int64_t>(std::llround(options.tailSeconds * processRate));
    const std::int64_t total = source->frameCount() < 0 ? -1 : source->frameCount() + tailFrames;
    ProgressBar progress(!options.quiet, label, total, source->sampleRate());

    std::optional<PluginInstance> plugin;
    if (!options.dry) {
        plugin.emplace(*batch.module, processRate, options.blockSize);
        applyParameters(*plugin, batch.parameters);
    }
    const std::int64_t shift = plugin && !options.latencyCompensation ? plugin->latency() : 0;
    const Metadata metadata =
        file ? atRate(metadataFor(file->metadata(), shift * job.inputRate / processRate),
                      static_cast<double>(job.sampleRate) / job.inputRate)
             : Metadata{};
    const auto analyser = analyserFor(options, job.sampleRate, processRate);
    std::optional<AnalysisTap> analysisTap;
    if (analyser) analysisTap.emplace(*analyser);
    RenderTap* tap = analysisTap ? &*analysisTap : nullptr;

    OutputFile output(job.target, options.force);
    SoundFileWriter writer(output.descriptor(), job.output, job.format, job.sampleRate,
                           job.channels, options.blockSize,
                           options.dither ? Dither::kTriangular : Dither::kNone, &metadata);
    // The sinks, from the last to the first: the file; the loudness target; the conversion from
    // the plug-in's rate to the output's.
    FinalOutput final(writer, analyser.get());
    FrameSink* sink = &final;
    std::optional<LoudnessTarget> loudness;
    if (options.loudnessTarget) {
        loudness.emplace(*sink, job.sampleRate, job.channels, options.loudness, options.truePeak,
                         options.blockSize);
        sink = &*loudness;
    }
    std::optional<ResamplingSink> toOutputRate;
    if (processRate != job.sampleRate) {
        toOutputRate.emplace(*sink, processRate, job.sampleRate, job.channels);
        sink = &*toOutputRate;
    }
    RenderSummary summary;
    if (options.dry) {
        summary = copySource(*source, *sink, options.blockSize, progress, tap);
    } else {
        RenderSettings settings;
        settings.compensateLatency = options.latencyCompensation;
        settings.tailFrames = tailFrames;
        summary = renderThroughPlugin(*source, *plugin, *sink, settings, progress, tap);
    }
    // The sinks hand on what they hold: the converter's last frames, the loudness pass.
    const auto finishing = std::chrono::steady_clock::now();
    sink->finish();
    summary.elapsedSeconds +=
        std::chrono::duration<double>(std::chrono::steady_clock::now() - finishing).count();
    summary.frames = final.frames();
    summary.sampleRate = job.sampleRate;
    summary.peak = final.peak();
    std::vector<std::string> warnings = warningsAbout(summary);
    if (loudness) {
        for (auto& warning : loudnessWarnings(loudness->outcome())) warnings.push_back(warning);
    }
    writer.close();
    output.commit();
    progress.finish();

    int status = 0;
    if (const std::int64_t promised = source->promisedFrames(); promised > 0) {
        std::cout.flush();
        std::cerr << "zelko-render: The input " << inQuotes(label) << " ends after "
                  << (summary.frames - (summary.ranPlugin
                                            ? std::llround(options.tailSeconds * job.sampleRate)
                                            : 0)) *
                         job.inputRate / job.sampleRate
                  << " of the " << promised << " frames its header promises; "
                  << inQuotes(job.output) << " holds what could be read." << std::endl;
        status = static_cast<int>(ExitStatus::kInputTruncated);
    }
    if (analyser) {
        const StereoSummary stereo = analyser->finish();
        if (!options.report.empty()) {
            if (reportNamesFolder(options.report)) ensureFolder(options.report);
            ReportHeading heading;
            heading.input = label;
            heading.plugin =
                plugin ? plugin->effectName() + " (" + baseNameOf(batch.module->path()) + ")"
                       : "no plug-in (--dry)";
            heading.settings = batch.settings;
            heading.date = batch.date;
            try {
                writeReportPicture(stereo, reportPathFor(options, job), heading);
            } catch (const std::runtime_error& error) {
                throw Failure(ExitStatus::kWriteFailed, error.what());
            }
        }
        if (options.json) {
            const double duration = summary.frames / summary.sampleRate;
            std::string json =
                summaryJson(stereo, duration > 0.0 ? summary.elapsedSeconds / duration : 0.0,
                            job.input.empty() ? std::string() : job.input, job.output);
            if (loudness) json.insert(json.size() - 1, loudnessJson(loudness->outcome()));
            batch.summaries << json << std::endl;
            // The warnings go beside the JSON, where they do not break it.
            for (const auto& warning : warnings) {
                std::cerr << "zelko-render: warning: " << warning << std::endl;
            }
            return status;
        }
    }
    if (!options.quiet) {
        char memory[48];
        std::snprintf(memory, sizeof memory, ", peak memory %.1f MB", peakMemoryMegabytes());
        batch.summaries << label << " -> " << job.output << ": " << describe(summary) << memory
                        << (loudness ? "; " + describeLoudness(loudness->outcome()) : "") << '\n';
        for (const auto& warning : warnings) {
            batch.summaries << "  warning: " << warning << '\n';
        }
        batch.summaries.flush();
    }
    return status;
}

// The one sentence that says what an interruption stopped and what became of its output.
std::string interruptedSentence(const Job& job) {
    const std::string what = "Interrupted while rendering " +
                             (job.input.empty()              ? std::string("the demo programme")
                              : job.input == kStandardStream ? std::string("standard input")
                                                             : inQuotes(job.input));
    switch (job.target.kind) {
        case OutputTarget::Kind::kStandardOutput:
            return what + "; standard output got the part rendered so far.";
        case OutputTarget::Kind::kStream:
            return what + "; " + inQuotes(job.output) + " got the part rendered so far.";
        case OutputTarget::Kind::kFile:
            break;
    }
    return what + (job.target.exists ? "; the old " + inQuotes(job.output) + " is untouched."
                                     : "; nothing was written to " + inQuotes(job.output) + ".");
}

int run(const Options& options) {
    if (options.help) {
        std::cout << usageText();
        return 0;
    }
    if (options.version) {
        std::cout << "zelko-render " << ZELKO_RENDER_VERSION << '\n';
        return 0;
    }

    std::vector<ParameterAssignment> assignments;
    for (const auto& text : options.parameters) assignments.push_back(parseAssignment(text));

    if (options.listParameters) {
        PluginModule module(options.plugin.empty() ? defaultPluginPath() : options.plugin);
        PluginInstance plugin(module, kListingSampleRate, options.blockSize);
        std::vector<ResolvedParameter> set;
        for (const auto& assignment : assignments) {
            set.push_back(resolveParameter(plugin, assignment));
        }
        std::cout << "plug-in: " << module.path() << '\n'
                  << "name: " << plugin.effectName() << '\n'
                  << "vendor: " << plugin.vendorName() << '\n'
                  << "inputs: " << plugin.inputCount() << ", outputs: " << plugin.outputCount()
                  << ", latency: " << plugin.latency() << " samples\n\n";
        listParameters(plugin, std::cout, set);
        return 0;
    }

    Plan plan = planJobs(options);
    if (!options.outputDir.empty()) ensureFolder(options.outputDir);

    std::optional<PluginModule> module;
    std::vector<ResolvedParameter> parameters;
    if (!options.dry) {
        module.emplace(options.plugin.empty() ? defaultPluginPath() : options.plugin);
        // Parameters are resolved once, before anything is written, so that a bad one stops the
        // whole batch rather than leaving it half done.
        PluginInstance probe(
            *module, options.processRate > 0 ? options.processRate : plan.jobs.front().inputRate,
            options.blockSize);
        for (const auto& assignment : assignments) {
            parameters.push_back(resolveParameter(probe, assignment));
        }
        if (options.stereo && probe.inputCount() < 2) {
            throw Failure(ExitStatus::kUsage, "The plug-in " + inQuotes(module->path()) +
                                                  " has one input, so --stereo cannot feed it "
                                                  "two channels.");
        }
    } else if (!assignments.empty()) {
        throw Failure(ExitStatus::kUsage, "--dry runs no plug-in, so it takes no --param.");
    }

    // Audio on standard output leaves only standard error for the summaries.
    const bool audioOnStandardOutput = std::any_of(
        plan.jobs.begin(), plan.jobs.end(),
        [](const Job& job) { return job.target.kind == OutputTarget::Kind::kStandardOutput; });
    Batch batch{options,
                plan,
                module ? &*module : nullptr,
                parameters,
                audioOnStandardOutput ? std::cerr : std::cout,
                settingsText(options),
                utcNow()};

    installInterruptHandling();
    int status = 0;
    for (const auto& job : plan.jobs) {
        std::string stopped;
        try {
            status = std::max(status, renderJob(batch, job));
        } catch (const Interrupted&) {
            stopped = interruptedSentence(job);
        } catch (const Failure&) {
            // A write blocked on a pipe returns with an error when the signal arrives.
            if (!interruptRequested()) throw;
            stopped = interruptedSentence(job);
        }
        // By now the progress line is cleared and the temporary file removed.
        if (!stopped.empty()) {
            std::cout.flush();
            std::cerr << "zelko-render: " << stopped << std::endl;
            endByInterrupt();
        }
    }
    return status;
}

}  // namespace
}  // namespace render

int main(int argc, char** argv) {
    using render::ExitStatus;
    try {
        const std::vector<std::string> arguments(argv + 1, argv + argc);
        return render::run(render::parseCommandLine(arguments));
    } catch (const render::Failure& failure) {
        std::cout.flush();
        std::cerr << "zelko-render: " << failure.what() << std::endl;
        return static_cast<int>(failure.status());
    } catch (const std::exception& error) {
        std::cerr << "zelko-render: " << error.what() << std::endl;
        return 1;
    }
}
