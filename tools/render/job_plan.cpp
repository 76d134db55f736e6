#include "tools/render/job_plan.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>

#include "tools/render/demo_programme.h"
#include "tools/render/failure.h"
#include "tools/render/report_target.h"

namespace render {

std::string directoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return "";
    return path.substr(0, slash + 1);
}

std::string baseNameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::pair<std::string, std::string> splitExtension(const std::string& name) {
    const auto dot = name.find_last_of('.');
    if (dot == std::string::npos || dot == 0) return {name, ""};
    return {name.substr(0, dot), name.substr(dot)};
}

std::string streamedOutputNames() {
    return "wav, aiff, flac, au, ogg, opus, mp3";
}

std::string streamedInputNames() {
    // The last three libsndfile reads only from a file, so a pipe of them is copied to one.
    return "wav, aiff, au, ogg, opus, mp3, w64, flac, caf, rf64";
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
    // Eight-bit samples are unsigned in the RIFF family and signed everywhere else: libsndfile
    // would write unsigned ones into an AIFF as an AIFC with "raw " compression, which few
    // programs open.
    const bool riff = format.container == SF_FORMAT_WAV || format.container == SF_FORMAT_WAVEX ||
                      format.container == SF_FORMAT_W64 || format.container == SF_FORMAT_RF64;
    if (riff && format.encoding == SF_FORMAT_PCM_S8) format.encoding = SF_FORMAT_PCM_U8;
    if (!riff && format.encoding == SF_FORMAT_PCM_U8) format.encoding = SF_FORMAT_PCM_S8;
    if (!canWrite(format, sampleRate, channels)) {
        format.encoding = fallbackEncoding(format.container, format.encoding, sampleRate);
        if (!format.encoding && format.container == SF_FORMAT_MPEG) {
            throw Failure(ExitStatus::kUsage,
                          "MP3 holds only rates of 8000 to 48000 Hz (8000, 11025, 12000, 16000, "
                          "22050, 24000, 32000, 44100 or 48000), not " +
                              std::to_string(sampleRate) + " Hz; choose another --format.");
        }
        if (!format.encoding) {
            throw Failure(ExitStatus::kUsage, "Nothing can be written in the " +
                                                  containerName(format.container) + " format at " +
                                                  std::to_string(sampleRate) + " Hz.");
        }
    }
    return format;
}

bool isStreamInput(const std::string& input) {
    if (input == kStandardStream) return true;
    struct stat status {};
    return stat(input.c_str(), &status) == 0 &&
           (S_ISFIFO(status.st_mode) || S_ISCHR(status.st_mode) || S_ISSOCK(status.st_mode));
}

std::string outputPathFor(const Options& options, const std::string& input, int inputContainer) {
    if (!options.output.empty()) return options.output;
    auto [stem, extension] = splitExtension(baseNameOf(input));
    // A pipe's name (/dev/fd/63) says nothing of its format.
    if (extension.empty()) extension = containerExtension(inputContainer);
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

void checkFormatAgreesWithName(const Options& options) {
    if (options.format.empty() || options.output.empty() || options.output == kStandardStream) {
        return;
    }
    const int named = containerFromExtension(options.output);
    const int asked = containerFromName(options.format);
    // RF64 is WAV grown past 4 GiB, and its files normally keep the .wav name.
    if (named == SF_FORMAT_WAV && asked == SF_FORMAT_RF64) return;
    if (named && named != asked) {
        throw Failure(ExitStatus::kUsage, "--format " + options.format +
                                              " disagrees with the name " +
                                              inQuotes(options.output) + ", which says " +
                                              containerName(named) + "; change one of them.");
    }
}

void checkFolderWritable(const std::string& file, bool creatable) {
    std::string folder = directoryOf(file);
    if (folder.empty()) folder = ".";
    if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    // A folder that --output-dir will create is as writable as its nearest existing parent.
    struct stat status {};
    while (creatable && stat(folder.c_str(), &status) != 0 && errno == ENOENT) {
        const std::string parent = directoryOf(folder);
        folder = parent.empty()      ? "."
                 : parent.size() > 1 ? parent.substr(0, parent.size() - 1)
                                     : parent;
    }
    const std::string why = "Cannot create " + inQuotes(file) + ": ";
    if (stat(folder.c_str(), &status) != 0) {
        throw Failure(ExitStatus::kWriteFailed,
                      why + "the folder " + inQuotes(folder) + " does not exist.");
    }
    if (!S_ISDIR(status.st_mode)) {
        throw Failure(ExitStatus::kWriteFailed, why + inQuotes(folder) + " is not a folder.");
    }
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
        throw Failure(ExitStatus::kWriteFailed, why + "the folder " + inQuotes(folder) +
                                                    " may not be written (" + std::strerror(errno) +
                                                    ").");
    }
}

std::int64_t expectedOutputFrames(const Job& job, const Options& options) {
    if (job.inputFrames < 0 || job.inputRate <= 0) return -1;
    return static_cast<std::int64_t>(
        std::ceil(static_cast<double>(job.inputFrames) * job.sampleRate / job.inputRate) +
        std::ceil(options.tailSeconds * job.sampleRate));
}

std::int64_t expectedFileBytes(const Job& job, const Options& options) {
    // Room for the header, the text tags, bext, and the iXML and label chunks (each at most
    // 1 MiB, as they are copied).
    constexpr std::int64_t kMetadataMargin = 4 << 20;
    const int sampleBytes = bytesPerSample(job.format.encoding);
    const std::int64_t frames = expectedOutputFrames(job, options);
    if (frames < 0 || sampleBytes == 0) return -1;
    return frames * job.channels * sampleBytes + kMetadataMargin;
}

void checkLoudnessSpoolRoom(const std::vector<Job>& jobs, const Options& options, int sideBySide,
                            std::uint64_t freeBytes, const std::string& folder) {
    if (!options.loudnessTarget) return;
    // The spool holds the output as floats; jobs side by side spool at once, so the largest
    // of them together must fit.
    std::vector<std::int64_t> spools;
    for (const auto& job : jobs) {
        const std::int64_t frames = expectedOutputFrames(job, options);
        if (frames >= 0) spools.push_back(frames * job.channels * 4);
    }
    std::sort(spools.rbegin(), spools.rend());
    std::int64_t needed = 0;
    for (std::size_t i = 0; i < spools.size() && i < static_cast<std::size_t>(sideBySide); ++i) {
        needed += spools[i];
    }
    if (static_cast<std::uint64_t>(needed) <= freeBytes) return;
    char figures[96];
    std::snprintf(figures, sizeof figures, "needs %.1f GB there, and %.1f GB are free",
                  static_cast<double>(needed) / 1e9, static_cast<double>(freeBytes) / 1e9);
    throw Failure(ExitStatus::kWriteFailed,
                  "The loudness pass spools each output to " + inQuotes(folder) + " and " +
                      figures + "; point TMPDIR at a folder with room" +
                      (sideBySide > 1 ? std::string(", or give fewer --jobs") : std::string()) +
                      ".");
}

void fitFormatToSize(Job& job, const Options& options) {
    if (job.target.kind != OutputTarget::Kind::kFile) return;  // streams say "length unknown"
    if (!hasClassicSizeLimit(job.format.container)) return;
    const std::int64_t bytes = expectedFileBytes(job, options);
    const auto limit = static_cast<std::int64_t>(options.classicFileLimit);
    if (job.format.container == SF_FORMAT_WAV || job.format.container == SF_FORMAT_WAVEX) {
        if (bytes < 0) {
            job.format.container = SF_FORMAT_RF64;
            job.format.rf64UnlessSmall = true;
        } else if (bytes > limit) {
            job.format.container = SF_FORMAT_RF64;
        }
        return;
    }
    if (bytes > limit) {
        char size[32];
        std::snprintf(size, sizeof size, "%.1f GB", static_cast<double>(bytes) / 1e9);
        throw Failure(ExitStatus::kUsage,
                      "The output " + inQuotes(job.output) + " would take about " + size +
                          ", more than the 4 GiB an " + containerName(job.format.container) +
                          " file can hold; choose --format rf64, w64, caf or flac.");
    }
}

namespace {

void checkStreamable(const Job& job) {
    if (!job.target.pipe || canStream(job.format.container)) return;
    throw Failure(ExitStatus::kUsage,
                  "The " + containerName(job.format.container) +
                      " format needs to go back to its header, which a pipe cannot; choose "
                      "--format " +
                      streamedOutputNames() + " for " +
                      (job.output == kStandardStream ? std::string("standard output")
                                                     : inQuotes(job.output)) +
                      ".");
}

}  // namespace

Plan planJobs(const Options& options) {
    checkFormatAgreesWithName(options);
    Plan plan;
    if (options.output == kStandardStream && options.format.empty()) {
        throw Failure(ExitStatus::kUsage,
                      "Standard output has no name to take a format from; give --format.");
    }
    if (options.demo) {
        Job job;
        const std::string fallbackName = options.dry ? "demo-mono.wav" : "demo-stereo.wav";
        job.output =
            !options.output.empty() ? options.output
            : !options.outputDir.empty()
                ? options.outputDir + (options.outputDir.back() == '/' ? "" : "/") + fallbackName
                : fallbackName;
        job.inputRate = DemoProgramme::kSampleRate;
        // Its length is known, so that its output's size is too (a WAV stays plain WAV).
        job.inputFrames = DemoProgramme(options.demoSeconds > 0.0 ? options.demoSeconds
                                                                  : DemoProgramme::kDefaultSeconds)
                              .frameCount();
        job.sampleRate = options.rate > 0 ? options.rate : job.inputRate;
        job.channels = options.dry ? 1 : 2;
        job.format = chooseFormat(options, job.output, {SF_FORMAT_WAV, SF_FORMAT_PCM_24},
                                  job.sampleRate, job.channels);
        plan.jobs.push_back(job);
    } else {
        const auto standardInputs =
            std::count(options.inputs.begin(), options.inputs.end(), std::string(kStandardStream));
        if (standardInputs > 1) {
            throw Failure(ExitStatus::kUsage, "Standard input (-) can be read only once.");
        }
        if (standardInputs == 1 && options.output.empty()) {
            throw Failure(ExitStatus::kUsage,
                          "Standard input (-) has no name to derive an output from; give -o "
                          "FILE, or -o - for standard output.");
        }
        for (const auto& input : options.inputs) {
            try {
                std::unique_ptr<SoundFileReader> opened;
                SoundFileReader* reader = nullptr;
                if (isStreamInput(input)) {
                    if (plan.streamInputs.count(input)) {
                        throw Failure(ExitStatus::kUsage,
                                      "The pipe " + inQuotes(input) + " can be read only once.");
                    }
                    if (input != kStandardStream && options.output.empty() &&
                        options.outputDir.empty()) {
                        throw Failure(ExitStatus::kUsage,
                                      "The input " + inQuotes(input) +
                                          " is a pipe, with no folder to write beside; give -o "
                                          "FILE or --output-dir DIR.");
                    }
                    // A pipe can be read only once, so the reader opened here renders it.
                    auto& kept = plan.streamInputs[input];
                    kept = std::make_unique<SoundFileReader>(input, options.channel,
                                                             options.blockSize, options.stereo);
                    reader = kept.get();
                } else {
                    opened = std::make_unique<SoundFileReader>(input, options.channel, 1,
                                                               options.stereo);
                    reader = opened.get();
                }
                Job job;
                job.input = input;
                job.inputRate = static_cast<int>(reader->sampleRate());
                job.sampleRate = options.rate > 0 ? options.rate : job.inputRate;
                job.inputFormat = reader->format();
                job.inputChannels = reader->channels();
                job.inputFrames = reader->frameCount();
                job.output = outputPathFor(options, input, reader->format().container);
                job.format = chooseFormat(options, job.output, reader->format(), job.sampleRate, 2);
                plan.jobs.push_back(job);
            } catch (const Failure& failure) {
                plan.problems.push_back({input, failure.status(), failure.what()});
            }
        }
    }

    checkReportTargets(options, plan.jobs);

    std::set<std::string> targets;
    std::vector<Job> checked;
    for (auto& job : plan.jobs) {
        try {
            job.target = examineOutputTarget(job.output, options.inputs, options.force);
            checkStreamable(job);
            fitFormatToSize(job, options);
            if (job.target.kind == OutputTarget::Kind::kFile) {
                checkFolderWritable(job.target.path, !options.outputDir.empty());
                const std::string folder = directoryOf(job.target.path);
                char resolved[PATH_MAX];
                const std::string key =
                    realpath(folder.empty() ? "." : folder.c_str(), resolved)
                        ? std::string(resolved) + "/" + baseNameOf(job.target.path)
                        : job.target.path;
                if (!targets.insert(key).second) {
                    throw Failure(ExitStatus::kOutputRefused,
                                  "Two inputs would both be written to " + inQuotes(job.output) +
                                      "; render them into different folders.");
                }
            }
            checked.push_back(std::move(job));
        } catch (const Failure& failure) {
            if (options.demo) throw;
            plan.problems.push_back({job.input, failure.status(), failure.what()});
        }
    }
    plan.jobs = std::move(checked);
    // Reported in the order of the inputs.
    std::stable_sort(plan.problems.begin(), plan.problems.end(),
                     [&](const Problem& a, const Problem& b) {
                         const auto position = [&](const std::string& input) {
                             return std::find(options.inputs.begin(), options.inputs.end(), input) -
                                    options.inputs.begin();
                         };
                         return position(a.input) < position(b.input);
                     });
    return plan;
}

}  // namespace render
