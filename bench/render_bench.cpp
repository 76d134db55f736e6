// zelko-render against a bare host, on the same input: how much the renderer's own work (the
// measurements of --json and the true-peak check, its sinks, metadata, progress) adds to the
// plug-in's. The bare host reads the file in blocks with libsndfile, runs the plug-in through the
// renderer's own hosting classes and writes a float WAV, and nothing else. Each iteration runs
// both, one after the other, so that a machine shared with other work slows both alike; the
// counters give their times and the ratio.
//
// A second benchmark renders a batch of eight files with --jobs 2 and with --jobs 1, alternately.
//
// The input is ZELKO_RENDER_BENCH_SECONDS long (default 600: ten minutes), 48 kHz mono float.
// Meaningful only in a Release build without sanitizers:
//   cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DZELKO_BUILD_BENCH=ON
//   cmake --build build/release --target render_bench && build/release/bench/render_bench
#include <benchmark/benchmark.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/render/plugin_module.h"

namespace {

namespace fs = std::filesystem;
constexpr int kRate = 48000;
constexpr int kBlock = 512;

double benchSeconds() {
    const char* text = std::getenv("ZELKO_RENDER_BENCH_SECONDS");
    return text && std::atof(text) > 0.0 ? std::atof(text) : 600.0;
}

const fs::path& workFolder() {
    static const fs::path folder = [] {
        const fs::path path =
            fs::temp_directory_path() / ("render_bench_" + std::to_string(getpid()));
        fs::create_directories(path);
        return path;
    }();
    return folder;
}

// A programme that is neither silent nor steady: a sweeping tone with noise and bursts.
void writeProgramme(const fs::path& path, double seconds, unsigned seed) {
    SF_INFO info{};
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    info.channels = 1;
    info.samplerate = kRate;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    std::vector<float> block(kRate);
    const auto frames = static_cast<long>(seconds * kRate);
    for (long done = 0; done < frames; done += kRate) {
        for (int i = 0; i < kRate; ++i) {
            const double t = static_cast<double>(done + i) / kRate;
            seed = seed * 1664525u + 1013904223u;
            const double noise = static_cast<double>(seed >> 8) / 16777216.0 - 0.5;
            const double burst = std::fmod(t, 2.0) < 0.3 ? 0.3 : 0.05;
            block[static_cast<std::size_t>(i)] = static_cast<float>(
                0.3 * std::sin(2.0 * M_PI * (200.0 + 50.0 * std::sin(0.1 * t)) * t) +
                burst * noise);
        }
        sf_writef_float(file, block.data(), std::min<long>(kRate, frames - done));
    }
    sf_close(file);
}

const fs::path& longInput() {
    static const fs::path path = [] {
        const fs::path input = workFolder() / "programme.wav";
        writeProgramme(input, benchSeconds(), 1);
        return input;
    }();
    return path;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The plug-in on the file's samples, block by block, into a float WAV: what any host does.
double runBareHost(const fs::path& input, const fs::path& output) {
    const auto start = std::chrono::steady_clock::now();
    render::PluginModule module(ZELKO_PLUGIN_PATH);
    SF_INFO inInfo{};
    SNDFILE* in = sf_open(input.c_str(), SFM_READ, &inInfo);
    render::PluginInstance plugin(module, inInfo.samplerate, kBlock);
    SF_INFO outInfo{};
    outInfo.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    outInfo.channels = 2;
    outInfo.samplerate = inInfo.samplerate;
    SNDFILE* out = sf_open(output.c_str(), SFM_WRITE, &outInfo);
    plugin.resume();
    std::vector<float> interleaved(2 * kBlock);
    for (sf_count_t got; (got = sf_readf_float(in, plugin.input(), kBlock)) > 0;) {
        plugin.process(static_cast<int>(got));
        for (sf_count_t i = 0; i < got; ++i) {
            interleaved[static_cast<std::size_t>(2 * i)] = plugin.left()[i];
            interleaved[static_cast<std::size_t>(2 * i + 1)] = plugin.right()[i];
        }
        sf_writef_float(out, interleaved.data(), got);
    }
    plugin.suspend();
    sf_close(out);
    sf_close(in);
    return secondsSince(start);
}

double runRenderer(std::vector<std::string> arguments) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        std::vector<char*> argv{const_cast<char*>(ZELKO_RENDER_PATH)};
        for (auto& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        if (!freopen("/dev/null", "w", stdout)) _exit(126);
        execv(ZELKO_RENDER_PATH, argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return secondsSince(start);
}

// range(0): 0 for the renderer's defaults, 1 with --json.
void RendererAgainstBareHost(benchmark::State& state) {
    const fs::path& input = longInput();
    const fs::path output = workFolder() / "out.wav";
    std::vector<std::string> arguments{input.string(), "-o", output.string(), "-f", "-q"};
    if (state.range(0) == 1) arguments.push_back("--json");
    double bare = 0.0, renderer = 0.0;
    for (auto _ : state) {
        bare += runBareHost(input, workFolder() / "bare.wav");
        const double seconds = runRenderer(arguments);
        renderer += seconds;
        state.SetIterationTime(seconds);
    }
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["bare_host_s"] = bare / iterations;
    state.counters["renderer_s"] = renderer / iterations;
    state.counters["ratio"] = renderer / bare;
    state.SetLabel(state.range(0) == 1 ? "--json" : "defaults");
}
BENCHMARK(RendererAgainstBareHost)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(2)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

// Eight files of a tenth of the long input's length each, rendered with --jobs 2 and --jobs 1.
void BatchOnTwoJobsAgainstOne(benchmark::State& state) {
    std::vector<std::string> inputs;
    for (int i = 0; i < 8; ++i) {
        const fs::path input = workFolder() / ("batch" + std::to_string(i) + ".wav");
        if (!fs::exists(input)) writeProgramme(input, benchSeconds() / 10.0, 10u + i);
        inputs.push_back(input.string());
    }
    const auto batch = [&](const char* jobs) {
        std::vector<std::string> arguments = inputs;
        for (const char* argument : {"-d", "", "-f", "-q", "--json", "--jobs", ""}) {
            arguments.emplace_back(argument);
        }
        arguments[inputs.size() + 1] = (workFolder() / "batch-out").string();
        arguments.back() = jobs;
        return runRenderer(arguments);
    };
    double one = 0.0, two = 0.0;
    for (auto _ : state) {
        one += batch("1");
        const double seconds = batch("2");
        two += seconds;
        state.SetIterationTime(seconds);
    }
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["jobs1_s"] = one / iterations;
    state.counters["jobs2_s"] = two / iterations;
    state.counters["ratio"] = two / one;
}
BENCHMARK(BatchOnTwoJobsAgainstOne)->Iterations(2)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    fs::remove_all(workFolder(), ignored);
    return 0;
}
