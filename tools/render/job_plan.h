// Planning a run: which files to write, in which formats, and whether all of them can be written,
// decided before the first one is rendered so that a batch never stops half done for a reason
// that could have been seen at the start.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tools/render/audio_io.h"
#include "tools/render/cli.h"
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
};

struct Plan {
    std::vector<Job> jobs;
    // Standard input can be opened only once, so the reader that planning opened on it is kept
    // for the render.
    std::unique_ptr<SoundFileReader> standardInput;
};

std::string directoryOf(const std::string& path);  // with its trailing '/', or ""
std::string baseNameOf(const std::string& path);
// The name without its extension, and the extension with its dot.
std::pair<std::string, std::string> splitExtension(const std::string& name);

// The format of one output: the input's, unless --format, the output's extension or --subtype
// says otherwise; an encoding the container cannot hold falls back to the nearest that it can.
// Fails with ExitStatus::kUsage.
FileFormat chooseFormat(const Options& options, const std::string& outputPath, FileFormat input,
                        int sampleRate, int channels);

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

// Reads every input's header, chooses each output and its format, and checks every output.
// Fails with the status of the first problem found, before anything is written.
Plan planJobs(const Options& options);

}  // namespace render
