// Cost of one block of the whole signal chain, as the plug-in runs it, with the bands on each
// path side by side: the path the processor picks on this machine (`dispatch`: AVX-512 where the
// processor has it), the AVX2 lanes (skipped where the processor has no AVX2), the SSE2 lanes and
// the scalar instantiation of the band engine.
//
// The processor is heap-allocated as the plug-in shell does (its rings are far too large for a
// stack), initialised at the benchmark's rate with default controls, and fed blocks of 512
// samples of white noise. Like the shell, the benchmark runs with flush-to-zero and
// denormals-are-zero set, so the long exponential decays cost what they cost in a host.
//
// Counters:
//   ns_per_sample  processing time per input sample (both outputs)
//   rtf            real-time factor: seconds of audio processed per second of processing
#include <benchmark/benchmark.h>
#include <xmmintrin.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "dsp/mydsp.h"

namespace {

constexpr int blockSize = 512;

std::vector<float> whiteNoise(std::size_t count) {
    std::vector<float> samples(count);
    std::uint32_t state = 2463534242u;
    for (float& s : samples) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        s = 0.5f * static_cast<float>(static_cast<std::int32_t>(state)) / 2147483648.0f;
    }
    return samples;
}

class FlushDenormals {
  public:
    FlushDenormals() : saved(_mm_getcsr()) { _mm_setcsr(saved | 0x8040u); }  // FTZ | DAZ
    ~FlushDenormals() { _mm_setcsr(saved); }
    FlushDenormals(const FlushDenormals&) = delete;
    FlushDenormals& operator=(const FlushDenormals&) = delete;

  private:
    unsigned saved;
};

// `path` empty: the processor's own choice.
void processNoise(benchmark::State& state, const char* path) {
    const int sampleRate = static_cast<int>(state.range(0));
    const std::string name = path;
    if (name == "avx2" && !bandPathAvailable(BandPath::avx2)) {
        state.SkipWithError("this processor has no AVX2");
        return;
    }
    auto processor = name == "scalar" ? std::make_unique<mydsp>(BandPath::scalar)
                     : name == "sse2" ? std::make_unique<mydsp>(BandPath::sse2)
                     : name == "avx2" ? std::make_unique<mydsp>(BandPath::avx2)
                                      : std::make_unique<mydsp>();
    processor->initialize(sampleRate);

    // Ten seconds of noise, cycled block by block, so the detectors see material that keeps
    // moving rather than one block over and over. process only reads its input.
    std::vector<float> noise = whiteNoise(static_cast<std::size_t>(sampleRate) * 10);
    const std::size_t blocks = noise.size() / blockSize;
    std::vector<float> silentInput(blockSize, 0.0f);
    std::vector<float> left(blockSize);
    std::vector<float> right(blockSize);
    float* inputs[2] = {noise.data(), silentInput.data()};
    float* outputs[2] = {left.data(), right.data()};
    std::size_t block = 0;
    auto runBlock = [&] {
        inputs[0] = noise.data() + block * blockSize;
        block = (block + 1) % blocks;
        processor->process(blockSize, inputs, outputs);
    };

    const FlushDenormals flush;
    // Past the chain's 2658-sample latency and its fade-in, so every stage does real work.
    for (int warm = 0; warm < 64; ++warm) runBlock();
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        runBlock();
        benchmark::DoNotOptimize(left.data());
        benchmark::DoNotOptimize(right.data());
        benchmark::ClobberMemory();
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    const double samples = static_cast<double>(state.iterations()) * blockSize;
    state.SetItemsProcessed(static_cast<std::int64_t>(samples));
    const double nsPerSample = seconds * 1e9 / samples;
    const double realTimeFactor = samples / sampleRate / seconds;
    state.counters["ns_per_sample"] = nsPerSample;
    state.counters["rtf"] = realTimeFactor;
    // The console shows counters with SI prefixes (1.5k); the label spells them out.
    char label[64];
    std::snprintf(label, sizeof label, "%.0f ns/sample, real-time factor %.1f", nsPerSample,
                  realTimeFactor);
    state.SetLabel(label);
}

BENCHMARK_CAPTURE(processNoise, dispatch, "")
    ->Arg(44100)
    ->Arg(48000)
    ->Arg(96000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(processNoise, avx2, "avx2")
    ->Arg(44100)
    ->Arg(48000)
    ->Arg(96000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(processNoise, sse2, "sse2")
    ->Arg(44100)
    ->Arg(48000)
    ->Arg(96000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(processNoise, scalar, "scalar")
    ->Arg(44100)
    ->Arg(48000)
    ->Arg(96000)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
