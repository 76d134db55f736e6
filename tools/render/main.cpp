// zelko-render: turns mono recordings into stereo files with a VST 2.4 plug-in, hosting it
// through its VSTPluginMain exactly as a host does.

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tools/render/audio_io.h"
#include "tools/render/cli.h"
#include "tools/render/demo_programme.h"
#include "tools/render/failure.h"
#include "tools/render/output_file.h"
#include "tools/render/parameters.h"
#include "tools/render/plugin_module.h"
#include "tools/render/progress.h"
#include "tools/render/render_loop.h"

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

// One file to produce.
struct Job {
    std::string input;  // empty for the demo
    std::string output;
    FileFormat format;
    int sampleRate = 0;
    int channels = 2;
};

bool exists(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0;
}

std::string directoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return "";
    return path.substr(0, slash + 1);
}

std::string baseNameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The name without its extension, and the extension with its dot.
std::pair<std::string, std::string> splitExtension(const std::string& name) {
    const auto dot = name.find_last_of('.');
    if (dot == std::string::npos || dot == 0) return {name, ""};
    return {name.substr(0, dot), name.substr(dot)};
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

FileFormat chooseFormat(const Options& options, const std::string& outputPath, FileFormat input,
                        int sampleRate, int channels) {
    FileFormat format = input;
    if (!options.format.empty()) {
        format.container = containerFromName(options.format);
    } else if (!options.output.empty() && containerFromExtension(outputPath)) {
        format.container = containerFromExtension(outputPath);
    }
    // Opus lives in Ogg; asking for the container by its own name asks for its encoding too.
    const bool opusByName =
        options.format == "opus" ||
        (options.format.empty() && splitExtension(outputPath).second == ".opus");
    if (!options.subtype.empty()) {
        format.encoding = encodingFromName(options.subtype, format.container);
        if (!canWrite(format, sampleRate, channels)) {
            throw Failure(ExitStatus::kUsage, "The " + containerName(format.container) +
                                                  " format cannot hold " + options.subtype +
                                                  " samples at " + std::to_string(sampleRate) +
                                                  " Hz; choose another --subtype or --format.");
        }
        return format;
    }
    if (opusByName) {
        format.encoding = SF_FORMAT_OPUS;
        if (!canWrite(format, sampleRate, channels)) {
            throw Failure(ExitStatus::kUsage,
                          "Opus runs only at 8000, 12000, 16000, 24000 or 48000 Hz, not at " +
                              std::to_string(sampleRate) + " Hz; choose another --format.");
        }
    }
    if (format.container == SF_FORMAT_WAV && format.encoding == SF_FORMAT_PCM_S8) {
        format.encoding = SF_FORMAT_PCM_U8;
    }
    if (!canWrite(format, sampleRate, channels)) {
        format.encoding = fallbackEncoding(format.container, format.encoding, sampleRate);
        if (!format.encoding) {
            throw Failure(ExitStatus::kUsage, "Nothing can be written in the " +
                                                  containerName(format.container) + " format at " +
                                                  std::to_string(sampleRate) + " Hz.");
        }
    }
    return format;
}

std::string outputPathFor(const Options& options, const std::string& input, int inputContainer) {
    if (!options.output.empty()) return options.output;
    auto [stem, extension] = splitExtension(baseNameOf(input));
    if (!options.format.empty()) {
        const int container = containerFromName(options.format);
        if (container != inputContainer || extension.empty()) {
            extension = options.format == "opus" ? ".opus" : containerExtension(container);
        }
    }
    if (!options.outputDir.empty()) {
        std::string folder = options.outputDir;
        if (folder.back() != '/') folder += '/';
        return folder + stem + extension;
    }
    return directoryOf(input) + stem + "-stereo" + extension;
}

std::vector<Job> planJobs(const Options& options) {
    std::vector<Job> jobs;
    if (options.demo) {
        Job job;
        const std::string fallbackName = options.dry ? "demo-mono.wav" : "demo-stereo.wav";
        job.output =
            !options.output.empty() ? options.output
            : !options.outputDir.empty()
                ? options.outputDir + (options.outputDir.back() == '/' ? "" : "/") + fallbackName
                : fallbackName;
        job.sampleRate = DemoProgramme::kSampleRate;
        job.channels = options.dry ? 1 : 2;
        job.format = chooseFormat(options, job.output, {SF_FORMAT_WAV, SF_FORMAT_PCM_24},
                                  job.sampleRate, job.channels);
        jobs.push_back(job);
    } else {
        for (const auto& input : options.inputs) {
            SoundFileReader reader(input, options.channel, 1);
            Job job;
            job.input = input;
            job.sampleRate = static_cast<int>(reader.sampleRate());
            job.output = outputPathFor(options, input, reader.format().container);
            job.format = chooseFormat(options, job.output, reader.format(), job.sampleRate, 2);
            jobs.push_back(job);
        }
    }

    std::set<std::string> targets;
    for (const auto& job : jobs) {
        checkOutputTarget(job.output, options.inputs, options.force);
        char resolved[PATH_MAX];
        const std::string key =
            realpath(directoryOf(job.output).empty() ? "." : directoryOf(job.output).c_str(),
                     resolved)
                ? std::string(resolved) + "/" + baseNameOf(job.output)
                : job.output;
        if (!targets.insert(key).second) {
            throw Failure(ExitStatus::kOutputRefused, "Two inputs would both be written to " +
                                                          inQuotes(job.output) +
                                                          "; render them into different folders.");
        }
    }
    return jobs;
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
        for (const auto& assignment : assignments) resolveParameter(plugin, assignment);
        std::cout << "plug-in: " << module.path() << '\n'
                  << "name: " << plugin.effectName() << '\n'
                  << "vendor: " << plugin.vendorName() << '\n'
                  << "inputs: " << plugin.inputCount() << ", outputs: " << plugin.outputCount()
                  << ", latency: " << plugin.latency() << " samples\n\n";
        listParameters(plugin, std::cout);
        return 0;
    }

    const std::vector<Job> jobs = planJobs(options);
    if (!options.outputDir.empty()) ensureFolder(options.outputDir);

    std::optional<PluginModule> module;
    std::vector<ResolvedParameter> parameters;
    if (!options.dry) {
        module.emplace(options.plugin.empty() ? defaultPluginPath() : options.plugin);
        // Parameters are resolved once, before anything is written, so that a bad one stops the
        // whole batch rather than leaving it half done.
        PluginInstance probe(*module, jobs.front().sampleRate, options.blockSize);
        for (const auto& assignment : assignments) {
            parameters.push_back(resolveParameter(probe, assignment));
        }
    } else if (!assignments.empty()) {
        throw Failure(ExitStatus::kUsage, "--dry runs no plug-in, so it takes no --param.");
    }

    installInterruptCleanup();
    for (const auto& job : jobs) {
        std::unique_ptr<MonoSource> source;
        if (job.input.empty()) {
            source = std::make_unique<DemoProgramme>(
                options.demoSeconds > 0.0 ? options.demoSeconds : DemoProgramme::kDefaultSeconds);
        } else {
            source =
                std::make_unique<SoundFileReader>(job.input, options.channel, options.blockSize);
        }
        const std::string label = job.input.empty() ? "demo programme" : job.input;
        ProgressBar progress(!options.quiet, label, source->frameCount(), source->sampleRate());

        OutputFile output(job.output, options.force);
        SoundFileWriter writer(output.temporaryPath(), job.format, job.sampleRate, job.channels,
                               options.blockSize);
        RenderSummary summary;
        if (options.dry) {
            summary = copySource(*source, writer, options.blockSize, progress);
        } else {
            PluginInstance plugin(*module, job.sampleRate, options.blockSize);
            applyParameters(plugin, parameters);
            summary =
                renderThroughPlugin(*source, plugin, writer, options.latencyCompensation, progress);
        }
        writer.close();
        output.commit();
        progress.finish();

        if (!options.quiet) {
            char memory[48];
            std::snprintf(memory, sizeof memory, ", peak memory %.1f MB", peakMemoryMegabytes());
            std::cout << (job.input.empty() ? std::string("demo programme") : job.input) << " -> "
                      << job.output << ": " << describe(summary) << memory << std::endl;
        }
    }
    return 0;
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
