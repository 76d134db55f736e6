// The renderer's run of a command line: its batch of jobs planned, checked and rendered, one file
// or several side by side, with the plug-in hosted through its VSTPluginMain exactly as a host
// does.

#include "tools/render/batch_run.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tools/render/analysis/report_picture.h"
#include "tools/render/analysis/stereo_analysis.h"
#include "tools/render/audio_io.h"
#include "tools/render/cli.h"
#include "tools/render/demo_programme.h"
#include "tools/render/failure.h"
#include "tools/render/job_plan.h"
#include "tools/render/loudness_target.h"
#include "tools/render/measurement_thread.h"
#include "tools/render/mix_cancellation.h"
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
#ifndef ZELKO_RENDER_INSTALLED_PLUGIN
#define ZELKO_RENDER_INSTALLED_PLUGIN ""
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
// What a WAV, AIFF or AU file's header and metadata may take of its 4 GiB, when the writer
// guards a file whose length could not be told before the render.
constexpr std::uint64_t kHeaderRoom = 4 << 20;
// How much of a file is read before its render to see whether its channels cancel in the mix:
// enough for a wiring fault, which lasts the whole file, and little beside the render itself.
constexpr double kMixScanSeconds = 60.0;

bool exists(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0;
}

// The plug-in built with the renderer: copied beside it by the build; where cmake --install put
// it, found from the renderer's own folder (bin/) so that the installed tree may be moved; or
// where the build left it.
std::string defaultPluginPath() {
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string besideRenderer;
    if (length > 0) {
        self[length] = '\0';
        besideRenderer = directoryOf(self) + kDefaultPluginName;
        if (exists(besideRenderer)) return besideRenderer;
        const std::string installed = ZELKO_RENDER_INSTALLED_PLUGIN;
        if (!installed.empty()) {
            const std::string path =
                installed.front() == '/' ? installed : directoryOf(self) + installed;
            if (exists(path)) return path;
        }
    }
    const std::string built = ZELKO_RENDER_BUILT_PLUGIN;
    if (!built.empty() && exists(built)) return built;
    throw Failure(ExitStatus::kPlugin, "No plug-in was found beside zelko-render (" +
                                           inQuotes(besideRenderer) +
                                           ") or where it is installed; name one with --plugin "
                                           "PATH.");
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

// A warning on standard error, after whatever standard output holds so far.
void warn(const std::string& sentence) {
    std::cout.flush();
    std::cerr << "zelko-render: warning: " << sentence << std::endl;
}

// A line of --verbose, on standard error.
void note(const Options& options, const std::string& text) {
    if (!options.verbose) return;
    std::cout.flush();
    std::cerr << "zelko-render: " << text << std::endl;
}

// Where a job's summary lines, warnings and failure go: straight to their streams when jobs run
// one at a time, so that a warning given before a render comes before it; held, and printed in
// the order of the inputs, when jobs run side by side.
class JobMessages {
  public:
    JobMessages(std::ostream& summaries, bool held) : summaries_(&summaries), held_(held) {}
    void warn(const std::string& sentence) { add(false, "zelko-render: warning: " + sentence); }
    void fail(const std::string& sentence) { add(false, "zelko-render: " + sentence); }
    void summary(const std::string& line) { add(true, line); }
    // Prints what was held.
    void print() {
        for (const auto& [isSummary, line] : held_lines_) write(isSummary, line);
        held_lines_.clear();
    }

  private:
    void add(bool isSummary, std::string line) {
        if (held_) {
            held_lines_.emplace_back(isSummary, std::move(line));
        } else {
            write(isSummary, line);
        }
    }
    void write(bool isSummary, const std::string& line) {
        std::cout.flush();
        (isSummary ? *summaries_ : std::cerr) << line << std::endl;
    }

    std::ostream* summaries_;
    bool held_;
    std::vector<std::pair<bool, std::string>> held_lines_;
};

std::string describeFormat(FileFormat format) {
    return containerName(format.container) + " " + encodingName(format.encoding);
}

void applyParameters(PluginInstance& plugin, const std::vector<ResolvedParameter>& parameters) {
    for (const auto& parameter : parameters) {
        plugin.setParameter(parameter.index, parameter.normalised);
    }
}

// Hands the signal fed to the plug-in to the stereo analysis of --json and --report, on the
// measuring thread. The output reaches the analysis, or else the true-peak meter that the
// summary's warning needs, from the end of the sinks (FinalOutput), as it is written: after rate
// conversion and loudness gain.
class AnalysisTap : public RenderTap {
  public:
    explicit AnalysisTap(MeasurementThread& measurements) : measurements_(measurements) {}
    void input(const float* first, const float* second, int frames) override {
        measurements_.push(
            second ? MeasurementThread::Stream::kFeedPair : MeasurementThread::Stream::kFeed, first,
            second, frames);
    }
    void output(const float*, const float*, int) override {}

  private:
    MeasurementThread& measurements_;
};

// The last stage before the file: it sees the output exactly as it is written, for the summary's
// peak and length, and hands it to the measurements when there are any.
class FinalOutput : public FrameSink {
  public:
    FinalOutput(FrameSink& file, MeasurementThread* measurements)
        : file_(file), measurements_(measurements) {}
    void write(const float* left, const float* right, int frames) override {
        file_.write(left, right, frames);
        if (measurements_) {
            measurements_->push(MeasurementThread::Stream::kOutput, left, right, frames);
        }
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
    MeasurementThread* measurements_;
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

std::unique_ptr<TruePeakMeter> truePeakMeterFor(int sampleRate) {
    try {
        return std::make_unique<TruePeakMeter>(sampleRate);
    } catch (const std::invalid_argument&) {
        return nullptr;  // a rate the meter does not take goes without the check
    }
}

std::unique_ptr<StereoAnalyser> analyserFor(const Options& options, int sampleRate, int inputRate,
                                            int fileRate) {
    if (!options.json && options.report.empty()) return nullptr;
    try {
        return std::make_unique<StereoAnalyser>(sampleRate, inputRate, fileRate);
    } catch (const std::invalid_argument&) {
        throw Failure(ExitStatus::kUsage, "--json and --report cannot measure audio at " +
                                              std::to_string(sampleRate) + " Hz.");
    }
}

// The Broadcast Wave time reference counts samples since midnight to the first one. Aligned
// output starts where the input starts; raw output starts `latency` samples earlier, so its
// time reference is that much earlier and every cue point, which marks a place in the sound,
// that much later in the file. Cue points pushed past the output's end (`frames`, when known)
// have nothing left to mark.
Metadata metadataFor(const Metadata& input, std::int64_t shift, std::int64_t frames) {
    Metadata metadata = input;
    if (shift != 0) {
        std::vector<SF_CUE_POINT> cues;
        for (SF_CUE_POINT cue : metadata.cues) {
            const std::int64_t offset = static_cast<std::int64_t>(cue.sample_offset) + shift;
            if (frames >= 0 && offset >= frames) continue;
            cue.sample_offset = static_cast<std::uint32_t>(offset);
            cue.position = static_cast<std::uint32_t>(cue.position + shift);
            cues.push_back(cue);
        }
        metadata.cues = std::move(cues);
    }
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
    bool namesInputs = false;  // several inputs: each warning says which one it is about
    bool parallel = false;     // jobs run side by side (--jobs)
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

std::string inputLabel(const Job& job) {
    return job.input.empty()              ? "demo programme"
           : job.input == kStandardStream ? "standard input"
                                          : job.input;
}

// What one job reads: the demo programme, the reader that planning kept for a pipe, or its
// file; then, when the plug-in runs at another rate, the conversion to that rate.
struct JobInput {
    std::unique_ptr<MonoSource> owned;
    std::unique_ptr<ResampledSource> resampled;
    MonoSource* source = nullptr;     // what the render reads
    SoundFileReader* file = nullptr;  // the file's own reader, when there is a file
};

JobInput openInput(const Batch& batch, const Job& job, int processRate) {
    const Options& options = batch.options;
    JobInput input;
    if (job.input.empty()) {
        input.owned = std::make_unique<DemoProgramme>(
            options.demoSeconds > 0.0 ? options.demoSeconds : DemoProgramme::kDefaultSeconds);
        input.source = input.owned.get();
    } else if (const auto kept = batch.plan.streamInputs.find(job.input);
               kept != batch.plan.streamInputs.end()) {
        input.file = kept->second.get();
        input.source = input.file;
    } else {
        auto reader = std::make_unique<SoundFileReader>(job.input, options.channel,
                                                        options.blockSize, options.stereo);
        input.file = reader.get();
        input.source = input.file;
        input.owned = std::move(reader);
    }
    if (processRate != job.inputRate) {
        input.resampled =
            std::make_unique<ResampledSource>(*input.source, processRate, options.blockSize);
        input.source = input.resampled.get();
    }
    return input;
}

// Opens the plug-in at the plug-in's rate with the parameters set, unless --dry runs none.
void startPlugin(const Batch& batch, int processRate, std::optional<PluginInstance>& plugin) {
    if (batch.options.dry) return;
    plugin.emplace(*batch.module, processRate, batch.options.blockSize);
    applyParameters(*plugin, batch.parameters);
}

// The input's metadata moved by the latency left in the output (`shift`, at the plug-in's
// rate) and counted at the output's rate; `total` is the render's length at the plug-in's rate.
Metadata outputMetadata(const Job& job, const SoundFileReader* file, std::int64_t shift,
                        std::int64_t total, int processRate) {
    if (!file) return {};
    const std::int64_t inputTotal = total < 0 ? -1 : total * job.inputRate / processRate;
    return atRate(metadataFor(file->metadata(), shift * job.inputRate / processRate, inputTotal),
                  static_cast<double>(job.sampleRate) / job.inputRate);
}

// Whether the mix of a file's channels cancels (an anti-phase stereo file). A file is looked at
// before its render, so that the warning comes first; a stream only as it passes.
class MixWatch {
  public:
    MixWatch(const Options& options, const Job& job, const SoundFileReader* file)
        : fed_(file && options.channel == 0 && !options.stereo && file->channels() >= 2) {
        if (!fed_ || isStreamInput(job.input)) return;
        const MixCancellation start = scanMix(job.input, kMixScanSeconds);
        if (!start.cancels()) return;
        const bool whole =
            job.inputFrames >= 0 && job.inputFrames <= kMixScanSeconds * job.inputRate;
        early_ = start.warning(inQuotes(inputLabel(job)), whole ? 0.0 : kMixScanSeconds);
    }
    bool fed() const { return fed_; }
    // The warning to give before the render, or "".
    const std::string& earlyWarning() const { return early_; }
    void add(const float* frames, int count, int channels) {
        balance_.add(frames, count, channels);
    }
    bool cancelled() const { return fed_ && balance_.cancels(); }
    // The warning to give after the render, when none came before it, or "".
    std::string lateWarning(const std::string& label) const {
        return cancelled() && early_.empty() ? balance_.warning(inQuotes(label), 0.0) : "";
    }

  private:
    bool fed_;
    std::string early_;
    MixCancellation balance_;
};

// The stages between the plug-in and the file, built from the last to the first: the file; the
// final stage that sees what is written and hands it to the measurements; the loudness target; the
// conversion from the plug-in's rate to the output's.
class OutputChain {
  public:
    OutputChain(const Options& options, const Job& job, const Metadata& metadata, int processRate,
                MeasurementThread* measurements)
        : output_(job.target, options.force),
          writer_(output_.descriptor(), job.output, job.format, job.sampleRate, job.channels,
                  options.blockSize, options.dither ? Dither::kTriangular : Dither::kNone,
                  &metadata),
          final_(writer_, measurements) {
        if (job.target.kind == OutputTarget::Kind::kFile &&
            hasClassicSizeLimit(job.format.container)) {
            writer_.limitSampleBytes(options.classicFileLimit - kHeaderRoom);
        }
        first_ = &final_;
        if (options.loudnessTarget) {
            loudness_.emplace(*first_, job.sampleRate, job.channels, options.loudness,
                              options.truePeak, options.blockSize);
            first_ = &*loudness_;
        }
        if (processRate != job.sampleRate) {
            toOutputRate_.emplace(*first_, processRate, job.sampleRate, job.channels);
            first_ = &*toOutputRate_;
        }
    }
    FrameSink& first() { return *first_; }
    const FinalOutput& final() const { return final_; }
    const LoudnessOutcome* loudness() const { return loudness_ ? &loudness_->outcome() : nullptr; }
    // Once the stages have handed on what they hold: the file finished and put in place.
    void commit() {
        writer_.close();
        output_.commit();
    }

  private:
    OutputFile output_;
    SoundFileWriter writer_;
    FinalOutput final_;
    std::optional<LoudnessTarget> loudness_;
    std::optional<ResamplingSink> toOutputRate_;
    FrameSink* first_ = nullptr;
};

// Runs the source through the plug-in (or, with --dry, copies it) into the chain, and has the
// chain's stages hand on what they hold: the converter's last frames, the loudness pass.
RenderSummary renderInto(const Options& options, const Job& job, MonoSource& source,
                         std::optional<PluginInstance>& plugin, std::int64_t tailFrames,
                         OutputChain& chain, ProgressBar& progress, RenderTap* tap) {
    RenderSummary summary;
    if (!plugin) {
        summary = copySource(source, chain.first(), options.blockSize, progress, tap);
    } else {
        RenderSettings settings;
        settings.compensateLatency = options.latencyCompensation;
        settings.tailFrames = tailFrames;
        summary = renderThroughPlugin(source, *plugin, chain.first(), settings, progress, tap);
    }
    const auto finishing = std::chrono::steady_clock::now();
    chain.first().finish();
    summary.elapsedSeconds +=
        std::chrono::duration<double>(std::chrono::steady_clock::now() - finishing).count();
    summary.frames = chain.final().frames();
    summary.sampleRate = job.sampleRate;
    summary.peak = chain.final().peak();
    return summary;
}

// The warning for an input that held less than it promised, counted in the input's frames
// whatever the rates.
std::string cutShortWarning(const Options& options, const Job& job, const MonoSource& source,
                            const RenderSummary& summary) {
    const std::int64_t held =
        (summary.frames -
         (summary.ranPlugin ? std::llround(options.tailSeconds * job.sampleRate) : 0)) *
        job.inputRate / job.sampleRate;
    const std::int64_t promised = source.promisedFrames();
    const std::string reason = source.breakReason();
    std::string sentence =
        "The input " + inQuotes(inputLabel(job)) + " ends after " + std::to_string(held);
    if (promised > 0) {
        sentence += " of the " + std::to_string(promised) + " frames its header promises";
    } else {
        sentence += held == 1 ? " frame" : " frames";
        if (reason.empty()) sentence += ", short of the end its header promises";
    }
    if (!reason.empty()) sentence += ", where it could no longer be decoded (" + reason + ")";
    return sentence + "; " + inQuotes(job.output) + " holds what could be read.";
}

void drawReport(const Batch& batch, const Job& job, const StereoSummary& stereo,
                std::optional<PluginInstance>& plugin) {
    const Options& options = batch.options;
    if (reportNamesFolder(options.report)) ensureFolder(options.report);
    ReportHeading heading;
    heading.input = inputLabel(job);
    heading.plugin = plugin ? plugin->effectName() + " (" + baseNameOf(batch.module->path()) + ")"
                            : "no plug-in (--dry)";
    heading.settings = batch.settings;
    heading.date = batch.date;
    try {
        writeReportPicture(stereo, reportPathFor(options, job), heading);
    } catch (const std::runtime_error& error) {
        throw Failure(ExitStatus::kWriteFailed, error.what());
    }
}

std::string jsonLine(const Job& job, const StereoSummary& stereo, const RenderSummary& summary,
                     const LoudnessOutcome* loudness) {
    const double duration = summary.frames / summary.sampleRate;
    std::string json = summaryJson(stereo, duration > 0.0 ? summary.elapsedSeconds / duration : 0.0,
                                   job.input.empty() ? std::string() : job.input, job.output);
    if (loudness) json.insert(json.size() - 1, loudnessJson(*loudness));
    return json;
}

std::string summaryLine(const Job& job, const RenderSummary& summary,
                        const LoudnessOutcome* loudness) {
    char memory[48];
    std::snprintf(memory, sizeof memory, ", peak memory %.1f MB", peakMemoryMegabytes());
    return inputLabel(job) + " -> " + job.output + ": " + describe(summary) + memory +
           (loudness ? "; " + describeLoudness(*loudness) : "");
}

std::string truePeakWarning(double truePeakDbtp) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "The output's true peak reaches %+.2f dBTP, above full scale between the "
                  "samples: a converter or a lossy encoder may clip it. The plug-in's ceiling "
                  "holds sample peaks only.",
                  truePeakDbtp);
    return text;
}

// Renders one job; returns its exit status (0, or kInputTruncated when the input held less than
// it promised, after writing what it held).
int renderJob(Batch& batch, const Job& job, JobMessages& messages) {
    const Options& options = batch.options;
    const std::string label = inputLabel(job);
    const auto warnOfJob = [&](const std::string& sentence) {
        if (!sentence.empty())
            messages.warn(batch.namesInputs ? label + ": " + sentence : sentence);
    };
    // The plug-in runs at --process-rate when it is given; the input is converted to it.
    const int processRate = options.processRate > 0 ? options.processRate : job.inputRate;
    JobInput input = openInput(batch, job, processRate);
    MonoSource& source = *input.source;
    const auto tailFrames =
        static_cast<std::int64_t>(std::llround(options.tailSeconds * processRate));
    const std::int64_t total = source.frameCount() < 0 ? -1 : source.frameCount() + tailFrames;
    // Jobs side by side share one line of progress, drawn by the batch.
    ProgressBar progress(!options.quiet && !batch.parallel, label, total, source.sampleRate());
    std::optional<PluginInstance> plugin;
    startPlugin(batch, processRate, plugin);
    const std::int64_t shift = plugin && !options.latencyCompensation ? plugin->latency() : 0;
    const Metadata metadata = outputMetadata(job, input.file, shift, total, processRate);

    const auto analyser = analyserFor(options, job.sampleRate, processRate, job.inputRate);
    const auto truePeak = analyser ? nullptr : truePeakMeterFor(job.sampleRate);
    MixWatch mix(options, job, input.file);
    warnOfJob(mix.earlyWarning());
    MeasurementThread measurements([&](MeasurementThread::Stream stream, const float* first,
                                       const float* second, int frames, int channels) {
        const auto count = static_cast<std::size_t>(frames);
        switch (stream) {
            case MeasurementThread::Stream::kFeed:
                analyser->addInput(first, count);
                break;
            case MeasurementThread::Stream::kFeedPair:
                analyser->addInput(first, second, count);
                break;
            case MeasurementThread::Stream::kFile:
                // The file's own channels, for its loudness as it is rather than as it is fed,
                // and for the balance of its mix.
                if (analyser) analyser->addFileInput(first, count, channels);
                if (mix.fed()) mix.add(first, frames, channels);
                break;
            case MeasurementThread::Stream::kOutput:
                if (analyser) analyser->addOutput(first, second, count);
                if (truePeak) truePeak->add(first, second, count);
                break;
        }
    });
    AnalysisTap analysisTap(measurements);
    // The observer goes with the render, also when it fails: a pipe's reader outlives the job.
    struct ObserverRemoval {
        SoundFileReader* file;
        ~ObserverRemoval() {
            if (file) file->observeFrames(nullptr);
        }
    } observerRemoval{input.file};
    if (input.file && (analyser || mix.fed())) {
        input.file->observeFrames([&measurements](const float* frames, int count, int channels) {
            measurements.push(MeasurementThread::Stream::kFile, frames, nullptr, count, channels);
        });
    }

    OutputChain chain(options, job, metadata, processRate,
                      analyser || truePeak ? &measurements : nullptr);
    const RenderSummary summary = renderInto(options, job, source, plugin, tailFrames, chain,
                                             progress, analyser ? &analysisTap : nullptr);
    measurements.finish();
    std::vector<std::string> warnings = warningsAbout(summary);
    if (chain.loudness()) {
        for (auto& warning : loudnessWarnings(*chain.loudness())) warnings.push_back(warning);
    }
    chain.commit();
    progress.finish();

    const bool cutShort = source.cutShort();
    if (cutShort) warnOfJob(cutShortWarning(options, job, source, summary));
    warnOfJob(mix.lateWarning(label));
    double truePeakDbtp = truePeak ? truePeak->dbtp() : -INFINITY;
    if (analyser) {
        StereoSummary stereo = analyser->finish();
        stereo.nonFiniteInputSamples = summary.nonFiniteSamples;
        stereo.inputMixCancelled = mix.cancelled();
        stereo.inputCutShort = cutShort;
        truePeakDbtp = stereo.truePeakDbtp;
        if (!options.report.empty()) drawReport(batch, job, stereo, plugin);
        if (options.json) messages.summary(jsonLine(job, stereo, summary, chain.loudness()));
    }
    if (!options.quiet && !options.json) {
        messages.summary(summaryLine(job, summary, chain.loudness()));
    }
    // Warnings go to standard error, where they neither break the JSON nor mix with audio.
    for (const auto& warning : warnings) warnOfJob(warning);
    if (truePeakDbtp > 0.0) warnOfJob(truePeakWarning(truePeakDbtp));
    return cutShort ? static_cast<int>(ExitStatus::kInputTruncated) : 0;
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

// What became of one job: its status, or the failure or interruption that stopped it, and the
// messages it left.
struct JobOutcome {
    JobOutcome(std::ostream& summaries, bool held) : messages(summaries, held) {}
    JobMessages messages;
    int status = 0;
    bool interrupted = false;
    std::optional<std::string> failure;
    ExitStatus failureStatus = ExitStatus::kOk;
};

void renderCatching(Batch& batch, const Job& job, JobOutcome& outcome) {
    try {
        outcome.status = renderJob(batch, job, outcome.messages);
    } catch (const Interrupted&) {
        outcome.interrupted = true;
    } catch (const Failure& failure) {
        // A write blocked on a pipe returns with an error when the signal arrives.
        if (interruptRequested()) {
            outcome.interrupted = true;
        } else {
            outcome.failure = failure.what();
            outcome.failureStatus = failure.status();
        }
    }
}

int processorCount() {
    const unsigned count = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(count, 1u, static_cast<unsigned>(kMostParallelOutputs)));
}

// "[3 of 8 done] a.wav, b.wav": the one progress line of jobs side by side.
std::string batchProgressLine(std::size_t done, std::size_t total,
                              const std::vector<std::string>& running) {
    std::string line = "[" + std::to_string(done) + " of " + std::to_string(total) + " done]";
    for (std::size_t i = 0; i < running.size(); ++i) line += (i ? ", " : " ") + running[i];
    if (line.size() > 78) line = line.substr(0, 75) + "...";
    return line;
}

// Renders the batch's jobs on `workers` threads, each taking the next job not yet taken, and
// hands their outcomes to `take` in the order of the inputs. When `take` stops the batch (a
// failure without --keep-going, an interruption), no further job starts; those running finish,
// and their outcomes are taken too.
template <class Take>
void runSideBySide(Batch& batch, int workers, Take& take) {
    enum class State { kWaiting, kRunning, kDone };
    const std::size_t count = batch.plan.jobs.size();
    std::vector<std::unique_ptr<JobOutcome>> outcomes;
    for (std::size_t i = 0; i < count; ++i) {
        outcomes.push_back(std::make_unique<JobOutcome>(batch.summaries, true));
    }
    std::vector<State> states(count, State::kWaiting);
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t next = 0;
    bool stopping = false;
    const auto work = [&] {
        while (true) {
            std::size_t index = 0;
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (stopping || next >= count) return;
                index = next++;
                states[index] = State::kRunning;
            }
            renderCatching(batch, batch.plan.jobs[index], *outcomes[index]);
            {
                std::lock_guard<std::mutex> lock(mutex);
                states[index] = State::kDone;
                if (outcomes[index]->interrupted) stopping = true;
            }
            changed.notify_all();
        }
    };
    std::vector<std::thread> threads;
    for (int i = 0; i < workers; ++i) threads.emplace_back(work);

    const bool drawProgress = !batch.options.quiet && isatty(STDERR_FILENO);
    bool drawn = false;
    const auto clearProgress = [&] {
        if (drawn) std::cerr << "\r\033[K" << std::flush;
        drawn = false;
    };
    std::size_t taken = 0;
    for (; taken < count; ++taken) {
        std::unique_lock<std::mutex> lock(mutex);
        while (states[taken] != State::kDone && !(stopping && states[taken] == State::kWaiting)) {
            if (drawProgress) {
                std::vector<std::string> running;
                for (std::size_t i = 0; i < count; ++i) {
                    if (states[i] == State::kRunning)
                        running.push_back(inputLabel(batch.plan.jobs[i]));
                }
                std::cerr << "\r\033[K" << batchProgressLine(taken, count, running) << std::flush;
                drawn = true;
            }
            changed.wait_for(lock, std::chrono::milliseconds(250));
        }
        if (states[taken] != State::kDone) break;  // stopped before it started
        lock.unlock();
        clearProgress();
        if (!take(batch.plan.jobs[taken], *outcomes[taken])) {
            std::lock_guard<std::mutex> relock(mutex);
            stopping = true;
        }
    }
    for (auto& thread : threads) thread.join();
    clearProgress();
    // Jobs that were running when the batch stopped are taken as well, in order.
    for (; taken < count; ++taken) {
        if (states[taken] == State::kDone) take(batch.plan.jobs[taken], *outcomes[taken]);
    }
}

}  // namespace

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

    // Before planning: reading a pipe may spool it to a temporary file, which a signal must
    // not leave behind.
    installInterruptHandling();
    Plan plan = planJobs(options);
    std::optional<PluginModule> module;
    std::vector<ResolvedParameter> parameters;
    if (!options.dry) {
        module.emplace(options.plugin.empty() ? defaultPluginPath() : options.plugin);
        // Parameters are resolved once, before anything is written and before the inputs'
        // problems are told, so that a bad one stops the whole batch first.
        const double probeRate = options.processRate > 0 ? options.processRate
                                 : plan.jobs.empty()     ? kListingSampleRate
                                                         : plan.jobs.front().inputRate;
        PluginInstance probe(*module, probeRate, options.blockSize);
        note(options, "plug-in " + inQuotes(module->path()) + ": " + probe.effectName() + " by " +
                          probe.vendorName() + ", " + std::to_string(probe.inputCount()) +
                          " inputs, " + std::to_string(probe.outputCount()) + " outputs, latency " +
                          std::to_string(probe.latency()) + " samples");
        for (const auto& assignment : assignments) {
            parameters.push_back(resolveParameter(probe, assignment));
            char normalised[32];
            std::snprintf(normalised, sizeof normalised, "%.6f", parameters.back().normalised);
            note(options, "parameter " + std::to_string(parameters.back().index) + " " +
                              inQuotes(parameters.back().name) + " = " +
                              probe.parameterDisplay(parameters.back().index) + " " +
                              parameterUnit(probe, parameters.back().index) + " (normalised " +
                              normalised + ")");
        }
        if (options.stereo && probe.inputCount() < 2) {
            throw Failure(ExitStatus::kUsage, "The plug-in " + inQuotes(module->path()) +
                                                  " has one input, so --stereo cannot feed it "
                                                  "two channels.");
        }
        // Ours has two inputs, as hosts expect of an effect, but processes the first alone.
        if (options.stereo && isOwnPlugin(probe)) {
            warn(
                "This plug-in reads only its first input, so with --stereo the right channel "
                "is not heard: the output is that of --channel 1. Leave --stereo out to feed it "
                "the mix of both channels.");
        }
    } else if (!assignments.empty()) {
        throw Failure(ExitStatus::kUsage, "--dry runs no plug-in, so it takes no --param.");
    }

    const std::size_t inputCount = plan.jobs.size() + plan.problems.size();
    for (const auto& problem : plan.problems) {
        std::cout.flush();
        std::cerr << "zelko-render: " << problem.sentence << std::endl;
    }
    if (!plan.problems.empty() && (!options.keepGoing || plan.jobs.empty())) {
        if (inputCount > 1) {
            std::cerr << "zelko-render: " << plan.problems.size() << " of " << inputCount
                      << " inputs cannot be rendered, so none was"
                      << (plan.jobs.empty() ? std::string(".")
                                            : "; --keep-going renders the other " +
                                                  std::to_string(plan.jobs.size()) + ".")
                      << std::endl;
        }
        return static_cast<int>(plan.problems.front().status);
    }
    if (!options.outputDir.empty()) ensureFolder(options.outputDir);

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
                utcNow(),
                plan.jobs.size() + plan.problems.size() > 1};

    for (const auto& job : plan.jobs) {
        std::string from = "the demo programme";
        if (!job.input.empty()) {
            char length[32] = "unknown length";
            if (job.inputFrames >= 0) {
                std::snprintf(length, sizeof length, "%.3f s",
                              static_cast<double>(job.inputFrames) / job.inputRate);
            }
            from = inQuotes(job.input) + " (" + describeFormat(job.inputFormat) + ", " +
                   std::to_string(job.inputChannels) + " ch, " + std::to_string(job.inputRate) +
                   " Hz, " + length + ")";
        }
        note(options, from + " -> " + inQuotes(job.output) + " (" + describeFormat(job.format) +
                          ", " + std::to_string(job.channels) + " ch, " +
                          std::to_string(job.sampleRate) + " Hz)");
    }

    // The first failure's status is the run's; an input cut short (9) counts as rendered.
    int status = plan.problems.empty() ? 0 : static_cast<int>(plan.problems.front().status);
    std::vector<std::string> failed;
    for (const auto& problem : plan.problems) failed.push_back(problem.input);
    std::size_t rendered = 0;
    std::string stopped;  // the sentence of an interruption
    bool stoppedByFailure = false;
    // Takes in one job's outcome, in the order of the inputs; false when the batch stops there.
    const auto takeOutcome = [&](const Job& job, JobOutcome& outcome) {
        outcome.messages.print();
        if (outcome.interrupted) {
            if (stopped.empty()) stopped = interruptedSentence(job);
            return false;
        }
        if (!outcome.failure) {
            if (status == 0) status = outcome.status;
            ++rendered;
            return true;
        }
        std::cout.flush();
        std::cerr << "zelko-render: " << *outcome.failure << std::endl;
        if (status == 0 || status == static_cast<int>(ExitStatus::kInputTruncated)) {
            status = static_cast<int>(outcome.failureStatus);
        }
        failed.push_back(job.input);
        if (options.keepGoing) return true;
        stoppedByFailure = true;
        return false;
    };
    const int jobCount = static_cast<int>(plan.jobs.size());
    const int parallelJobs = std::min(jobCount, options.jobs > 0 ? options.jobs : processorCount());
    if (options.loudnessTarget) {
        const char* folder = std::getenv("TMPDIR");
        const std::string spoolFolder = folder && *folder ? folder : "/tmp";
        struct statvfs room {};
        if (statvfs(spoolFolder.c_str(), &room) == 0) {
            checkLoudnessSpoolRoom(plan.jobs, options, parallelJobs,
                                   static_cast<std::uint64_t>(room.f_bavail) * room.f_frsize,
                                   spoolFolder);
        }
    }
    if (parallelJobs > 1) {
        batch.parallel = true;
        runSideBySide(batch, parallelJobs, takeOutcome);
    } else {
        for (const auto& job : plan.jobs) {
            JobOutcome outcome(batch.summaries, false);
            renderCatching(batch, job, outcome);
            if (!takeOutcome(job, outcome)) break;
        }
    }
    // By now every progress line is cleared and every temporary file removed.
    if (!stopped.empty()) {
        std::cout.flush();
        std::cerr << "zelko-render: " << stopped << std::endl;
        endByInterrupt();
    }
    if (stoppedByFailure) {
        if (inputCount > 1) {
            std::cerr << "zelko-render: The batch stopped there: " << rendered << " of "
                      << inputCount << " inputs were rendered; "
                      << "--keep-going goes on past a failure." << std::endl;
        }
        return status;
    }
    if (!failed.empty()) {
        std::string names;
        for (const auto& input : failed) {
            names += (names.empty() ? "" : ", ") + inQuotes(input);
        }
        std::cout.flush();
        std::cerr << "zelko-render: " << rendered << " of " << inputCount
                  << " inputs rendered; not rendered: " << names << ", for the reasons above."
                  << std::endl;
    } else if (inputCount > 1 && !options.quiet && !options.json) {
        batch.summaries << rendered << " of " << inputCount << " inputs rendered." << std::endl;
    }
    return status;
}

}  // namespace render
