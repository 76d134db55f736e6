// Planning a run: which files to write, in which formats, and whether all of them can be written,
// decided before the first one is rendered so that a batch never stops half done for a reason
// that could have been seen at the start.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tools/render/audio_io.h"
#include "tools/render/cli.h"
#include "tools/render/failure.h"
#include "tools/render/output_file.h"

namespace render {

// The name "-" stands for standard input as an input and for standard output as an output.
inline constexpr const char* kStandardStream = "-";

// One file to produce.
struct Job {
    std::string input;  // empty for the demo
    std::string output;
    OutputTarget target;
    FileFormat format;
    int sampleRate = 0;  // of the output
    int inputRate = 0;   // of the input, or the demo programme
    int channels = 2;
    // What the input's header says, for --verbose.
    FileFormat inputFormat;
    int inputChannels = 1;
    std::int64_t inputFrames = -1;
};

// An input that cannot be rendered, and why.
struct Problem {
    std::string input;
    ExitStatus status;
    std::string sentence;
};

struct Plan {
    std::vector<Job> jobs;  // the inputs that can be rendered, in the order given
    std::vector<Problem> problems;
    // Standard input and pipes can be read only once, so the readers that planning opened on
    // them are kept for the render, by input name.
    std::map<std::string, std::unique_ptr<SoundFileReader>> streamInputs;
};

// Whether an input is read as a stream: "-", or a path that is a pipe, socket or device.
bool isStreamInput(const std::string& input);

std::string directoryOf(const std::string& path);  // with its trailing '/', or ""
std::string baseNameOf(const std::string& path);
// The name without its extension, and the extension with its dot.
std::pair<std::string, std::string> splitExtension(const std::string& name);

// The format of one output: the input's, unless --format, the output's extension or --subtype
// says otherwise; an encoding the container cannot hold falls back to the nearest that it can.
// Fails with ExitStatus::kUsage.
FileFormat chooseFormat(const Options& options, const std::string& outputPath, FileFormat input,
                        int sampleRate, int channels);

// The frames an output will hold, or -1 when the input's length cannot be told in advance.
std::int64_t expectedOutputFrames(const Job& job, const Options& options);

// Fails with ExitStatus::kWriteFailed when --loudness is asked and its spool files (the outputs
// as floats, `sideBySide` of the largest at once) would not fit in the `freeBytes` free in
// `folder` ($TMPDIR).
void checkLoudnessSpoolRoom(const std::vector<Job>& jobs, const Options& options, int sideBySide,
                            std::uint64_t freeBytes, const std::string& folder);

// The bytes an output's samples will take, with a margin for its header and metadata, or -1
// when the length of the input or the size of a sample cannot be told in advance.
std::int64_t expectedFileBytes(const Job& job, const Options& options);

// Makes a file output fit its container's 32-bit lengths: a WAV that may pass 4 GiB becomes
// RF64 (or, when its length cannot be told, RF64 that libsndfile rewrites as WAV if it ends
// small); an AIFF or AU that will pass them is refused with ExitStatus::kUsage.
void fitFormatToSize(Job& job, const Options& options);

// Where the output of `input` goes without -o.
std::string outputPathFor(const Options& options, const std::string& input, int inputContainer);

// The formats that can be written to a pipe, and read from one, for the help text and messages.
std::string streamedOutputNames();
std::string streamedInputNames();

// Fails with ExitStatus::kUsage when --format and the extension of -o name different formats.
void checkFormatAgreesWithName(const Options& options);

// Fails with ExitStatus::kWriteFailed when the folder a file would be created in does not exist
// (and `creatable` is false), is not a folder, or may not be written; a folder that --output-dir
// creates counts as writable when its nearest existing parent is.
void checkFolderWritable(const std::string& file, bool creatable);

// Reads every input's header, chooses each output and its format, and checks every output,
// before anything is written. What stops one input (it cannot be read, its output format cannot
// hold its rate, its output is taken ...) goes into the plan's problems, so that all of them
// are reported at once; what stops every input (the options themselves) fails with its status.
Plan planJobs(const Options& options);

}  // namespace render
