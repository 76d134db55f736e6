// Helpers for the renderer's tests: run the built zelko-render as a subprocess, and make and
// read the sound files it works on.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace rendertest {

namespace fs = std::filesystem;

inline const std::string kRenderer = ZELKO_RENDER_PATH;
inline std::string fixturePlugin(int variant = 0) {
    return std::string(RENDER_FIXTURE_DIR) + "/render_fixture_" + std::to_string(variant) + ".so";
}
inline std::string dpfPlugin(const std::string& name) {
    return std::string(ZELKO_DPF_VST_DIR) + "/" + name + "-vst.so";
}
// The latency of the fixture plug-in, fixed in fixture_plugin.cpp.
constexpr int kFixtureLatency = 37;
// The rate of the recordings most tests write.
constexpr int kRate = 48000;

// Fields and chunks of hand-made RIFF files, little-endian.
inline std::string le16(std::uint16_t v) {
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8)};
}
inline std::string le32(std::uint32_t v) {
    return le16(static_cast<std::uint16_t>(v)) + le16(static_cast<std::uint16_t>(v >> 16));
}
inline std::string le64(std::uint64_t v) {
    return le32(static_cast<std::uint32_t>(v)) + le32(static_cast<std::uint32_t>(v >> 32));
}
// The format chunk of 16-bit mono PCM at 44.1 kHz.
inline std::string monoFormatChunk() {
    return "fmt " + le32(16) + le16(1) + le16(1) + le32(44100) + le32(88200) + le16(2) + le16(16);
}

struct RunResult {
    int status = -1;  // the exit status, or 128 + the signal that ended the process
    std::string out;
    std::string err;
};

inline std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// A process running the renderer; its standard output and error go to files in `workDir`.
class RendererProcess {
  public:
    // `input` is the file standard input reads; `unprivileged` runs the renderer as the user
    // nobody when the test runs as root, for whom every folder is writable.
    RendererProcess(const std::vector<std::string>& arguments, const std::string& workDir,
                    const std::map<std::string, std::string>& environment = {},
                    const std::string& input = "/dev/null", bool unprivileged = false,
                    const std::string& program = kRenderer)
        : outPath_(workDir + "/../stdout.txt"), errPath_(workDir + "/../stderr.txt") {
        pid_ = fork();
        if (pid_ == 0) {
            if (chdir(workDir.c_str()) != 0) _exit(126);
            const int out = open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
            const int err = open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
            const int in = open(input.c_str(), O_RDONLY);
            if (unprivileged && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
                _exit(125);
            }
            dup2(out, STDOUT_FILENO);
            dup2(err, STDERR_FILENO);
            dup2(in, STDIN_FILENO);
            for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(program.c_str()));
            for (const auto& argument : arguments)
                argv.push_back(const_cast<char*>(argument.c_str()));
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
    }

    pid_t pid() const { return pid_; }

    RunResult wait() {
        RunResult result;
        int status = 0;
        waitpid(pid_, &status, 0);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.out = readFile(outPath_);
        result.err = readFile(errPath_);
        return result;
    }

  private:
    std::string outPath_;
    std::string errPath_;
    pid_t pid_ = -1;
};

// A sound file's contents, interleaved.
struct Sound {
    SF_INFO info{};
    std::vector<float> samples;

    int channels() const { return info.channels; }
    long frames() const { return static_cast<long>(info.frames); }
    float at(long frame, int channel) const {
        return samples[static_cast<std::size_t>(frame * info.channels + channel)];
    }
    std::vector<float> channel(int index) const {
        std::vector<float> result(static_cast<std::size_t>(frames()));
        for (long i = 0; i < frames(); ++i) result[static_cast<std::size_t>(i)] = at(i, index);
        return result;
    }
};

inline void writeSound(const std::string& path, int format, int sampleRate, int channels,
                       const std::vector<float>& interleaved) {
    SF_INFO info{};
    info.format = format;
    info.samplerate = sampleRate;
    info.channels = channels;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    const sf_count_t frames = static_cast<sf_count_t>(interleaved.size()) / channels;
    EXPECT_EQ(sf_writef_float(file, interleaved.data(), frames), frames);
    sf_close(file);
}

inline Sound readSound(const std::string& path) {
    Sound sound;
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &sound.info);
    if (!file) {
        ADD_FAILURE() << "cannot read " << path << ": " << sf_strerror(nullptr);
        return sound;
    }
    sound.samples.resize(static_cast<std::size_t>(sound.info.frames * sound.info.channels));
    sf_readf_float(file, sound.samples.data(), sound.info.frames);
    sf_close(file);
    return sound;
}

inline double rms(const std::vector<float>& samples) {
    double energy = 0.0;
    for (float x : samples) energy += static_cast<double>(x) * x;
    return samples.empty() ? 0.0 : std::sqrt(energy / static_cast<double>(samples.size()));
}

inline long firstAbove(const std::vector<float>& samples, float threshold) {
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (std::fabs(samples[i]) > threshold) return static_cast<long>(i);
    }
    return -1;
}

// The cells of the --list-params row of one parameter: index, name, value, unit, range,
// normalised. Columns are separated by at least two spaces; a parameter without a unit shows "-".
inline std::vector<std::string> listingRow(const std::string& listing, int index) {
    std::istringstream lines(listing);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> cells;
        std::size_t position = 0;
        while (position < line.size()) {
            while (position < line.size() && line[position] == ' ') ++position;
            if (position >= line.size()) break;
            std::size_t end = line.find("  ", position);
            if (end == std::string::npos) end = line.size();
            cells.push_back(line.substr(position, end - position));
            position = end;
        }
        if (!cells.empty() && cells[0] == std::to_string(index)) return cells;
    }
    return {};
}

// A deterministic test signal: a sine with a little noise, so no two samples repeat.
inline std::vector<float> testSignal(long frames, double frequency, int sampleRate,
                                     float level = 0.5f, unsigned seed = 1) {
    std::vector<float> samples(static_cast<std::size_t>(frames));
    for (long i = 0; i < frames; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const float noise = static_cast<float>(seed >> 8) / 16777216.0f - 0.5f;
        samples[static_cast<std::size_t>(i)] = static_cast<float>(
            level * (0.9 * std::sin(2.0 * M_PI * frequency * i / sampleRate) + 0.1 * noise));
    }
    return samples;
}

// What a shell command prints on standard output (its standard error is left alone).
inline std::string commandOutput(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[65536];
        for (std::size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
            out.append(buffer, got);
        }
        pclose(pipe);
    }
    return out;
}

// Whether a program is on the PATH (sox, ffmpeg, flac: scripts/install-deps.sh installs them).
inline bool installed(const std::string& program) {
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

// The data of the first chunk with that id in a WAV or RF64 file, or "" when it has none.
inline std::string chunkData(const std::string& path, const char* id) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) return "";
    SF_CHUNK_INFO wanted{};
    std::snprintf(wanted.id, sizeof wanted.id, "%s", id);
    wanted.id_size = 4;
    std::string data;
    if (SF_CHUNK_ITERATOR* chunk = sf_get_chunk_iterator(file, &wanted)) {
        SF_CHUNK_INFO found{};
        if (sf_get_chunk_size(chunk, &found) == SF_ERR_NO_ERROR) {
            data.assign(found.datalen, '\0');
            found.data = data.data();
            if (sf_get_chunk_data(chunk, &found) != SF_ERR_NO_ERROR) data.clear();
        }
    }
    sf_close(file);
    return data;
}

// A number of a one-line JSON object, or NaN where the key is missing or its value is null.
inline double jsonNumber(const std::string& json, const std::string& key) {
    const auto at = json.find("\"" + key + "\":");
    if (at == std::string::npos) return NAN;
    const char* start = json.c_str() + at + key.size() + 3;
    char* end = nullptr;
    const double value = std::strtod(start, &end);
    return end == start ? NAN : value;
}

// Each test works in a folder of its own, created empty and removed afterwards.
class RendererTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/zelko-render-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        dir_ = root_ + "/work";
        fs::create_directory(dir_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    RunResult run(const std::vector<std::string>& arguments,
                  const std::map<std::string, std::string>& environment = {},
                  const std::string& input = "/dev/null") {
        return RendererProcess(arguments, dir_, environment, input).wait();
    }

    // Runs another build of the renderer (one with a smaller file-size limit, say).
    RunResult runProgram(const std::string& program, const std::vector<std::string>& arguments) {
        return RendererProcess(arguments, dir_, {}, "/dev/null", false, program).wait();
    }

    // The names in the work folder, hidden ones included, sorted.
    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string root_;
    std::string dir_;
};

}  // namespace rendertest
