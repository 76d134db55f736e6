#include "tools/render/cli.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tools/render/audio_io.h"
#include "tools/render/failure.h"
#include "tools/render/job_plan.h"
#include "tools/render/report_target.h"

namespace render {

namespace {

constexpr int kLargestBlock = 65536;
constexpr double kLongestDemoSeconds = 24.0 * 3600.0;
constexpr double kLongestTailSeconds = 3600.0;
// The rates --rate and --process-rate take: every rate in use, from telephone to 768 kHz.
constexpr long kLowestRate = 1000;
constexpr long kHighestRate = 768000;

// A length in seconds from above 0 (or from 0 when `zeroAllowed`) up to `longest`.
double parseSeconds(const std::string& option, const std::string& text, double longest,
                    bool zeroAllowed, const std::string& limit) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value) || value < 0.0 ||
        (value == 0.0 && !zeroAllowed) || value > longest) {
        throw Failure(ExitStatus::kUsage, option + " needs a length in seconds, up to " + limit +
                                              ", not " + inQuotes(text) + ".");
    }
    return value;
}

// A level such as -16 or -16.5, with or without its unit, from `low` to `high`.
double parseLevel(const std::string& option, const std::string& text, double low, double high,
                  const std::string& unit) {
    std::string number = text;
    const auto unitAt = number.find(unit);
    if (unitAt != std::string::npos && unitAt + unit.size() == number.size()) {
        number.resize(unitAt);
        while (!number.empty() && number.back() == ' ') number.pop_back();
    }
    char* end = nullptr;
    const double value = std::strtod(number.c_str(), &end);
    if (number.empty() || *end != '\0' || !std::isfinite(value) || value < low || value > high) {
        char range[64];
        std::snprintf(range, sizeof range, "%g to %g %s", low, high, unit.c_str());
        throw Failure(ExitStatus::kUsage,
                      option + " needs a level from " + range + ", not " + inQuotes(text) + ".");
    }
    return value;
}

long parseInteger(const std::string& option, const std::string& text, long low, long high) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < low || value > high) {
        throw Failure(ExitStatus::kUsage, option + " needs a whole number from " +
                                              std::to_string(low) + " to " + std::to_string(high) +
                                              ", not " + inQuotes(text) + ".");
    }
    return value;
}

// A comma-separated list broken into lines that continue under the option's description.
std::string wrapList(const std::string& list, std::size_t firstWidth) {
    constexpr std::size_t kWidth = 54;
    const std::string indent(26, ' ');
    std::string text;
    std::size_t lineLength = firstWidth;
    std::size_t position = 0;
    while (position < list.size()) {
        std::size_t end = list.find(", ", position);
        const bool last = end == std::string::npos;
        const std::string word =
            list.substr(position, last ? std::string::npos : end + 1 - position);
        if (lineLength + word.size() > kWidth && lineLength > 0) {
            text += "\n" + indent;
            lineLength = 0;
        } else if (!text.empty()) {
            text += ' ';
            ++lineLength;
        }
        text += word;
        lineLength += word.size();
        position = last ? list.size() : end + 2;
    }
    return text;
}

// The long options, for suggestions when one is mistyped.
const std::vector<std::string> kLongOptions = {
    "--output",      "--output-dir",   "--plugin",       "--param",
    "--channel",     "--format",       "--subtype",      "--block",
    "--list-params", "--demo",         "--demo-seconds", "--tail",
    "--json",        "--report",       "--stereo",       "--dither",
    "--dry",         "--force",        "--keep-going",   "--quiet",
    "--verbose",     "--help",         "--version",      "--no-latency-compensation",
    "--rate",        "--process-rate", "--loudness",     "--true-peak",
    "--jobs"};

// Names other programs use for our options, which no spelling distance would lead to.
struct OtherName {
    const char* name;
    const char* ours;
};
constexpr OtherName kOtherNames[] = {
    {"--overwrite", "--force"},  {"--yes", "--force"},
    {"--clobber", "--force"},    {"--silent", "--quiet"},
    {"--out", "--output"},       {"--outdir", "--output-dir"},
    {"--encoding", "--subtype"}, {"--bits", "--subtype"},
    {"--type", "--format"},      {"--params", "--param"},
    {"--set", "--param"},        {"--continue", "--keep-going"},
    {"--no-dither", "--dither"}, {"--list-parameters", "--list-params"}};

std::string suggestOption(const std::string& typed) {
    for (const auto& other : kOtherNames) {
        if (typed == other.name) return std::string(" Did you mean ") + inQuotes(other.ours) + "?";
    }
    return didYouMean(typed, kLongOptions);
}

// Short options may be bundled, as "-fq" for "-f -q"; the last of a bundle may take a value,
// from the rest of the word ("-oout.wav") or from the next argument ("-qo out.wav").
std::vector<std::string> unbundle(const std::vector<std::string>& arguments) {
    static const std::vector<std::string> kTakingValues = {
        "-o",          "--output",  "-d",       "--output-dir", "--plugin",       "-p",
        "--param",     "--channel", "--format", "--subtype",    "--block",        "--demo-seconds",
        "--tail",      "--report",  "--dither", "--rate",       "--process-rate", "--loudness",
        "--true-peak", "-j",        "--jobs"};
    std::vector<std::string> result;
    bool onlyInputsFollow = false;
    for (const auto& argument : arguments) {
        // A value is never taken apart, even when it starts with '-' ("--tail -1" is refused as
        // a length, not as options "-1").
        const bool isValue = !result.empty() &&
                             std::find(kTakingValues.begin(), kTakingValues.end(), result.back()) !=
                                 kTakingValues.end();
        if (onlyInputsFollow || isValue || argument.size() <= 2 || argument[0] != '-' ||
            argument[1] == '-') {
            onlyInputsFollow = onlyInputsFollow || argument == "--";
            result.push_back(argument);
            continue;
        }
        for (std::size_t i = 1; i < argument.size(); ++i) {
            const char letter = argument[i];
            result.push_back(std::string("-") + letter);
            if (letter == 'o' || letter == 'd' || letter == 'p' || letter == 'j') {
                if (i + 1 < argument.size()) result.push_back(argument.substr(i + 1));
                break;
            }
        }
    }
    return result;
}

}  // namespace

Options parseCommandLine(const std::vector<std::string>& typedArguments) {
    Options options;
    const std::vector<std::string> arguments = unbundle(typedArguments);
    bool onlyInputsFollow = false;
    bool truePeakGiven = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string argument = arguments[i];
        if (onlyInputsFollow || argument == "-" || argument.empty() || argument[0] != '-') {
            options.inputs.push_back(argument);
            continue;
        }
        if (argument == "--") {
            onlyInputsFollow = true;
            continue;
        }
        // "--name=value" is the same as "--name value".
        std::string attached;
        bool hasAttached = false;
        if (argument.rfind("--", 0) == 0) {
            const auto equals = argument.find('=');
            if (equals != std::string::npos) {
                attached = argument.substr(equals + 1);
                argument.resize(equals);
                hasAttached = true;
            }
        }
        auto value = [&]() -> std::string {
            if (hasAttached) return attached;
            if (i + 1 >= arguments.size()) {
                throw Failure(ExitStatus::kUsage, argument + " needs a value.");
            }
            return arguments[++i];
        };
        auto flag = [&](bool& target) {
            if (hasAttached) {
                throw Failure(ExitStatus::kUsage, argument + " takes no value.");
            }
            target = true;
        };

        if (argument == "-o" || argument == "--output") {
            options.output = value();
        } else if (argument == "-d" || argument == "--output-dir") {
            options.outputDir = value();
        } else if (argument == "--plugin") {
            options.plugin = value();
        } else if (argument == "-p" || argument == "--param") {
            options.parameters.push_back(value());
        } else if (argument == "-j" || argument == "--jobs") {
            options.jobs =
                static_cast<int>(parseInteger(argument, value(), 1, kMostParallelOutputs));
        } else if (argument == "--channel") {
            options.channel = static_cast<int>(parseInteger(argument, value(), 1, 1024));
        } else if (argument == "--format") {
            options.format = value();
            if (!containerFromName(options.format)) {
                throw Failure(ExitStatus::kUsage, "Unknown output format " +
                                                      inQuotes(options.format) + "; known are " +
                                                      containerNames() + ".");
            }
        } else if (argument == "--subtype") {
            options.subtype = value();
            if (!encodingFromName(options.subtype, 0)) {
                throw Failure(ExitStatus::kUsage, "Unknown sample format " +
                                                      inQuotes(options.subtype) + "; known are " +
                                                      encodingNames() + ".");
            }
        } else if (argument == "--block") {
            options.blockSize = static_cast<int>(parseInteger(argument, value(), 1, kLargestBlock));
        } else if (argument == "--no-latency-compensation") {
            bool raw = false;
            flag(raw);
            options.latencyCompensation = !raw;
        } else if (argument == "--list-params") {
            flag(options.listParameters);
        } else if (argument == "--demo") {
            flag(options.demo);
        } else if (argument == "--demo-seconds") {
            options.demoSeconds =
                parseSeconds(argument, value(), kLongestDemoSeconds, false, "a day");
        } else if (argument == "--tail") {
            options.tailSeconds =
                parseSeconds(argument, value(), kLongestTailSeconds, true, "an hour");
        } else if (argument == "--json") {
            flag(options.json);
        } else if (argument == "--report") {
            options.report = value();
            if (reportNamesFolder(options.report)) continue;
            const auto dot = options.report.find_last_of('.');
            std::string extension = dot == std::string::npos ? "" : options.report.substr(dot);
            for (char& c : extension)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (extension != ".png" && extension != ".svg") {
                throw Failure(ExitStatus::kUsage,
                              "--report writes a .png or an .svg picture, or a picture per file "
                              "into a folder ending in /, not " +
                                  inQuotes(options.report) + ".");
            }
        } else if (argument == "--rate" || argument == "--process-rate") {
            const int rate =
                static_cast<int>(parseInteger(argument, value(), kLowestRate, kHighestRate));
            (argument == "--rate" ? options.rate : options.processRate) = rate;
        } else if (argument == "--loudness") {
            options.loudnessTarget = true;
            options.loudness = parseLevel(argument, value(), -70.0, 0.0, "LUFS");
        } else if (argument == "--true-peak") {
            truePeakGiven = true;
            options.truePeak = parseLevel(argument, value(), -20.0, 0.0, "dBTP");
        } else if (argument == "--stereo") {
            flag(options.stereo);
        } else if (argument == "--dither") {
            const std::string kind = value();
            if (kind != "tpdf" && kind != "none") {
                throw Failure(ExitStatus::kUsage,
                              "--dither is tpdf or none, not " + inQuotes(kind) + ".");
            }
            options.dither = kind == "tpdf";
        } else if (argument == "--dry") {
            flag(options.dry);
        } else if (argument == "-f" || argument == "--force") {
            flag(options.force);
        } else if (argument == "-q" || argument == "--quiet") {
            flag(options.quiet);
        } else if (argument == "-v" || argument == "--verbose") {
            flag(options.verbose);
        } else if (argument == "--keep-going") {
            flag(options.keepGoing);
        } else if (argument == "-h" || argument == "--help") {
            flag(options.help);
        } else if (argument == "--version") {
            flag(options.version);
        } else {
            throw Failure(ExitStatus::kUsage, "Unknown option " + inQuotes(argument) +
                                                  "; --help lists the options." +
                                                  suggestOption(argument));
        }
    }

    if (options.help || options.version) return options;
    if (options.quiet && options.verbose) {
        throw Failure(ExitStatus::kUsage, "Give either --quiet or --verbose, not both.");
    }
    if (options.listParameters) {
        if (!options.inputs.empty() || options.demo) {
            throw Failure(ExitStatus::kUsage, "--list-params takes no input and no --demo.");
        }
        return options;
    }
    if (options.demo && !options.inputs.empty()) {
        throw Failure(ExitStatus::kUsage, "--demo renders its own programme and takes no input.");
    }
    if (!options.demo && (options.dry || options.demoSeconds > 0.0)) {
        throw Failure(ExitStatus::kUsage, "--dry and --demo-seconds go with --demo.");
    }
    if (!options.demo && options.inputs.empty()) {
        throw Failure(ExitStatus::kUsage,
                      "No input given; name one or more audio files, or use --demo.");
    }
    if (!options.output.empty() && !options.outputDir.empty()) {
        throw Failure(ExitStatus::kUsage, "Give either --output or --output-dir, not both.");
    }
    if (truePeakGiven && !options.loudnessTarget) {
        throw Failure(ExitStatus::kUsage, "--true-peak caps the gain of --loudness; give both.");
    }
    if (options.dry && options.processRate > 0) {
        throw Failure(ExitStatus::kUsage, "--dry runs no plug-in, so it takes no --process-rate.");
    }
    if (options.stereo && options.demo) {
        throw Failure(ExitStatus::kUsage, "The demo programme is mono, so it takes no --stereo.");
    }
    if (options.stereo && options.channel > 0) {
        throw Failure(ExitStatus::kUsage, "Give either --stereo or --channel, not both.");
    }
    if (options.dry && (options.stereo || options.tailSeconds > 0.0)) {
        throw Failure(ExitStatus::kUsage,
                      "--dry runs no plug-in, so it takes no --stereo or --tail.");
    }
    if (!options.report.empty() && options.inputs.size() > 1 &&
        !reportNamesFolder(options.report)) {
        throw Failure(ExitStatus::kUsage,
                      "--report names one picture; for several inputs name a folder (DIR/), "
                      "which gets a picture per file.");
    }
    if (!options.output.empty() && options.inputs.size() > 1) {
        throw Failure(ExitStatus::kUsage,
                      "--output names one file; for several inputs give --output-dir.");
    }
    return options;
}

std::string usageText() {
    return "Usage: zelko-render [options] INPUT...\n"
           "       zelko-render --demo [options]\n"
           "       zelko-render --list-params [--plugin PATH] [--param NAME=VALUE]...\n"
           "\n"
           "Turns mono recordings into stereo with a VST 2.4 plug-in: the Zelko Comb Stereo\n"
           "Processor unless --plugin names another. A mono input is fed as it is, an input\n"
           "with more channels as its mono mix, to every input of the plug-in. The output is\n"
           "stereo at the input's rate, in the input's format, with the input's length, lined\n"
           "up with it sample for sample. An INPUT of - reads standard input in any of\n"
           "these formats: " +
           streamedInputNames() +
           "\n"
           "(the last three through a temporary copy in $TMPDIR).\n"
           "\n"
           "Outputs:\n"
           "  -o, --output FILE       the output file (one input, or --demo); its extension\n"
           "                          picks the format when it names one. - is standard\n"
           "                          output, in the --format given, which must be one\n"
           "                          that streams: " +
           streamedOutputNames() +
           "\n"
           "  -d, --output-dir DIR    a folder for the outputs; each keeps its input's name\n"
           "                          (without either, INPUT-stereo.EXT beside each input)\n"
           "      --format NAME       output format: " +
           wrapList(containerNames(), 15) +
           "\n"
           "      --subtype NAME      sample format: " +
           wrapList(encodingNames(), 15) +
           "\n"
           "      --dither KIND       tpdf (default) or none: the dither of outputs of 16\n"
           "                          bits or fewer\n"
           "      --rate HZ           convert the output to HZ (libsoxr, very high quality)\n"
           "      --loudness LUFS     bring each output to LUFS integrated loudness by gain\n"
           "                          alone, measured in a second pass\n"
           "      --true-peak DBTP    the ceiling that caps that gain (default -1 dBTP)\n"
           "  -f, --force             replace outputs that already exist\n"
           "  -j, --jobs N            render N files of a batch at once (default: one per\n"
           "                          processor); outputs and summaries are those of -j 1\n"
           "      --keep-going        render the inputs that can be when others cannot\n"
           "                          (every input is checked before the first render)\n"
           "\n"
           "Processing:\n"
           "      --plugin PATH       the VST 2.4 module to run\n"
           "  -p, --param NAME=VALUE  set a parameter, by name or by index (repeatable).\n"
           "                          VALUE is a number in the plug-in's units (15000, -5.6,\n"
           "                          -6dB, 8 kHz), on/off (also true/false, yes/no, and 1/0\n"
           "                          for a switch), a text the parameter shows, or a\n"
           "                          normalised value with an n suffix (0.4n)\n"
           "      --list-params       print the parameters, after any --param, and exit\n"
           "      --channel N         feed channel N (counted from 1) instead of the mix\n"
           "      --stereo            feed a stereo input's two channels, as they are, to\n"
           "                          the plug-in's first two inputs\n"
           "      --tail SECONDS      go on rendering the plug-in's decay for SECONDS after\n"
           "                          the input's end\n"
           "      --block N           frames per processing block (default 512)\n"
           "      --process-rate HZ   run the plug-in at HZ, converting the input to it and\n"
           "                          the output back (libsoxr, very high quality)\n"
           "      --no-latency-compensation\n"
           "                          write the plug-in's output as it comes, delayed by\n"
           "                          its latency, instead of lining it up with the input\n"
           "\n"
           "Demo:\n"
           "      --demo              render a built-in programme of tones, a melody, noise\n"
           "                          and clicks (default output demo-stereo.wav)\n"
           "      --demo-seconds S    make the programme S seconds long (it repeats)\n"
           "      --dry               write the programme itself, mono, without the plug-in\n"
           "\n"
           "Analysis:\n"
           "      --json              instead of the summary line, one JSON object per file\n"
           "                          on standard output: duration, rate, real-time factor,\n"
           "                          peak, true peak (dBTP), loudness of output and input\n"
           "                          (LUFS), L/R correlation, side-to-mid level (dB) and\n"
           "                          mono compatibility (the mono sum against the\n"
           "                          stereo output) with the level change apart\n"
           "      --report FILE       a picture of the stereo result, .png or .svg: L/R\n"
           "                          correlation and side/mid level per third-octave band\n"
           "                          and over time, the mono sum's spectrum against the\n"
           "                          input's, a goniometer and the mono compatibility\n"
           "      --report DIR/       a PNG per output into DIR, named after it\n"
           "\n"
           "  -q, --quiet             no progress bar and no summary lines (warnings and\n"
           "                          errors still go to standard error)\n"
           "  -v, --verbose           also say, on standard error, which plug-in runs with\n"
           "                          which settings, and each input's and output's format\n"
           "  -h, --help              this text\n"
           "      --version           the renderer's version\n"
           "Short options bundle: -qfo OUT is -q -f -o OUT.\n"
           "\n"
           "Exit status: 0 done, 2 usage error, 3 input missing or unreadable, 4 plug-in not\n"
           "loadable or not a VST 2.4 effect, 5 unknown parameter, 6 parameter value not a\n"
           "number, in the wrong unit or out of range, 7 output exists (without --force),\n"
           "would replace an input, or is not a file (or is a terminal), 8 output could not\n"
           "be written, 9 an input held less than its header promised (what it held was\n"
           "written), 130 interrupted. A batch reports every input it cannot render and ends\n"
           "with the first problem's status.\n";
}

}  // namespace render
