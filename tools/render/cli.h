// The renderer's command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace render {

struct Options {
    std::vector<std::string> inputs;
    std::string output;                   // -o: one output file
    std::string outputDir;                // -d: a folder for the outputs of many inputs
    std::string plugin;                   // empty: the plug-in built with the renderer
    std::vector<std::string> parameters;  // "NAME=VALUE" as typed
    int channel = 0;                      // from 1; 0 takes the mono mix
    std::string format;                   // output container, empty to keep the input's
    std::string subtype;                  // output encoding, empty to keep the input's
    bool stereo = false;                  // feed a stereo file's two channels as they are
    bool dither = true;                   // TPDF dither on outputs of 16 bits or fewer
    double tailSeconds = 0.0;             // rendered after the input's end
    bool json = false;                    // one JSON object per file instead of the summary
    std::string report;                   // a picture of the stereo result (.png or .svg)
    int rate = 0;                         // --rate: the output's rate; 0 keeps the input's
    int processRate = 0;                  // --process-rate: the plug-in's rate; 0 the input's
    bool loudnessTarget = false;          // --loudness given
    double loudness = 0.0;                // its target, LUFS
    double truePeak = -1.0;               // the ceiling of the loudness gain, dBTP
    int blockSize = 512;
    bool latencyCompensation = true;
    bool listParameters = false;
    bool demo = false;
    double demoSeconds = 0.0;  // 0: the programme's own length
    bool dry = false;
    bool force = false;
    bool keepGoing = false;  // render the inputs that can be, when others cannot
    int jobs = 0;            // files rendered at once; 0: one per processor
    bool quiet = false;
    bool verbose = false;
    bool help = false;
    bool version = false;
    // The largest WAV, AIFF or AU file (kClassicFileLimit); a test build of the renderer lowers
    // it, so that the tests need not write 4 GiB.
    std::uint64_t classicFileLimit = 0xFFFFFFFFull + 8;
};

// Reads the arguments after the program name; fails with ExitStatus::kUsage.
Options parseCommandLine(const std::vector<std::string>& arguments);

// The text --help prints.
std::string usageText();

}  // namespace render
