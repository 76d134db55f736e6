// What the reliability tests share: test signals, a block runner with preallocated buffers that
// calls the effect record's replacing entry directly, and the check every output sample must
// pass.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "dsp/output_stage.h"
#include "support/noise.h"
#include "support/plugin_host.h"

namespace reliability {

// The output stage never lets a sample past -1 dB full scale.
inline constexpr float kOutputCeiling = OutputStage::ceiling;

// The sample rate the reliability tests play at.
inline constexpr int kRate = 44100;

using Noise = testsignal::Xorshift32;

inline std::vector<float> noise(std::size_t frames, std::uint32_t seed, float amplitude = 1.0f) {
    Noise source(seed);
    std::vector<float> signal(frames);
    for (float& sample : signal) sample = amplitude * source.bipolar();
    return signal;
}

// A few partials with a slow tremolo over soft noise: something with the spectrum of music.
inline std::vector<float> musicLike(std::size_t frames, double rate, std::uint32_t seed) {
    Noise source(seed);
    std::vector<float> signal(frames);
    const double partials[] = {110.0, 220.5, 331.0, 523.25, 1046.5, 2093.0};
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        double sum = 0.0;
        for (int p = 0; p < 6; ++p) sum += std::sin(6.283185307179586 * partials[p] * t) / (p + 1);
        const double tremolo = 0.6 + 0.4 * std::sin(6.283185307179586 * 3.0 * t);
        signal[i] = static_cast<float>(0.3 * tremolo * sum) + 0.02f * source.bipolar();
    }
    return signal;
}

// The first sample of a stereo block that a host could not play, or an empty text.
inline std::string outputFault(const float* left, const float* right, int frames) {
    for (int ch = 0; ch < 2; ++ch) {
        const float* out = ch == 0 ? left : right;
        for (int i = 0; i < frames; ++i) {
            const float sample = out[i];
            std::string what;
            if (!std::isfinite(sample)) {
                what = "non-finite";
            } else if (std::fabs(sample) > kOutputCeiling) {
                what = "above the ceiling";
            } else if (std::fpclassify(sample) == FP_SUBNORMAL) {
                what = "subnormal";
            }
            if (!what.empty()) {
                return what + " sample " + std::to_string(sample) + " on channel " +
                       std::to_string(ch) + " at frame " + std::to_string(i);
            }
        }
    }
    return {};
}

// Runs blocks through the replacing entry of one effect record. The buffers are allocated once,
// for the largest block, so that a block allocates nothing on the host side.
class BlockRunner {
  public:
    BlockRunner(AEffect* effect, int maxFrames)
        : effect(effect),
          input(static_cast<std::size_t>(maxFrames)),
          secondInput(static_cast<std::size_t>(maxFrames)),
          left(static_cast<std::size_t>(maxFrames)),
          right(static_cast<std::size_t>(maxFrames)) {}

    // Processes the first `frames` samples of `signal`; the second input carries the signal
    // reversed in sign, which the plug-in must ignore.
    void run(const float* signal, int frames) {
        std::copy(signal, signal + frames, input.begin());
        for (int i = 0; i < frames; ++i) secondInput[static_cast<std::size_t>(i)] = -signal[i];
        float* inputs[2] = {input.data(), secondInput.data()};
        float* outputs[2] = {left.data(), right.data()};
        effect->processReplacing(effect, inputs, outputs, frames);
    }

    std::string fault(int frames) const { return outputFault(left.data(), right.data(), frames); }

    AEffect* effect;
    std::vector<float> input;
    std::vector<float> secondInput;
    std::vector<float> left;
    std::vector<float> right;
};

// A whole signal processed in blocks of `blockSize`, up to the first faulty block if there is
// one.
struct Rendering {
    std::vector<float> left;
    std::vector<float> right;
    std::string fault;
};

inline Rendering render(AEffect* effect, const std::vector<float>& signal, int blockSize) {
    Rendering result;
    result.left.reserve(signal.size());
    result.right.reserve(signal.size());
    BlockRunner runner(effect, blockSize);
    for (std::size_t start = 0; start < signal.size();
         start += static_cast<std::size_t>(blockSize)) {
        const int frames = static_cast<int>(
            std::min<std::size_t>(static_cast<std::size_t>(blockSize), signal.size() - start));
        runner.run(signal.data() + start, frames);
        result.fault = runner.fault(frames);
        if (!result.fault.empty()) {
            result.fault += " of the block at " + std::to_string(start);
            return result;
        }
        result.left.insert(result.left.end(), runner.left.begin(), runner.left.begin() + frames);
        result.right.insert(result.right.end(), runner.right.begin(),
                            runner.right.begin() + frames);
    }
    return result;
}

inline float peak(const std::vector<float>& samples, std::size_t from = 0) {
    float largest = 0.0f;
    for (std::size_t i = from; i < samples.size(); ++i)
        largest = std::max(largest, std::fabs(samples[i]));
    return largest;
}

// Prepares a plug-in as a host does before playback.
inline void startPlayback(testhost::Plugin& plugin, float rate, int blockSize) {
    plugin.dispatch(effOpen);
    plugin.dispatch(effSetSampleRate, 0, 0, nullptr, rate);
    plugin.dispatch(effSetBlockSize, 0, blockSize);
    plugin.dispatch(effMainsChanged, 0, 1);
}

}  // namespace reliability
