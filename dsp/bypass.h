// A click-free bypass for the format glue: the input delayed by the chain's latency, so that
// switching moves nothing in time, crossfaded with the processed signal over 10 ms either way.
//
//   dry[n]   = in[n - chainLatency]
//   out[n]   = wet[n] (1 - f[n]) + dry[n] f[n],   f = position / fadeLength
//   position moves one step a sample toward fadeLength when bypassed, toward 0 when not
//
// While fully processed the outputs are the processor's own, untouched; while fully bypassed they
// are the delayed input exactly. The processor keeps running either way, so that switching back
// finds its state warm.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "dsp/control_record.h"
#include "dsp/mydsp.h"
#include "dsp/sample_rate.h"

// The bypass switch as the formats show it: a toggle that starts off.
inline constexpr ControlRecord bypassRecord = control_rows::toggle("Bypass", "Bypass", "bypass");

class Bypass {
  public:
    static constexpr float fadeSeconds = 0.01f;
    // The dry signal is held for this many samples at a time.
    static constexpr int chunkLength = 256;

    void setRate(const SampleRate& rate) {
        fadeLength = std::max(1, static_cast<int>(std::lround(rate.fs * fadeSeconds)));
        reset();
    }

    // Back to silence in the delay, the crossfade at rest on the current setting.
    void reset() {
        ring.fill(0.0f);
        position = 0;
        fadePosition = bypassed ? fadeLength : 0;
    }

    void set(bool engaged) { bypassed = engaged; }
    bool engaged() const { return bypassed; }
    // 0 while processed only, 1 while fully bypassed, between while fading.
    float dryShare() const {
        return static_cast<float>(fadePosition) / static_cast<float>(fadeLength);
    }

    // Runs `process(offset, count)` over [0, count) of the buffers in chunks and mixes the delayed
    // input into what it wrote. Each chunk's input is read into the delay before `process` writes
    // anything, so an output may share the input's buffer.
    template <typename Process>
    void run(const float* in, float* left, float* right, int count, Process&& process) {
        for (int start = 0; start < count; start += chunkLength) {
            const int length = std::min(count - start, chunkLength);
            for (int i = 0; i < length; ++i) {
                dry[i] = ring[position];
                ring[position] = in[start + i];
                position = position + 1 == chainLatency ? 0 : position + 1;
            }
            process(start, length);
            mix(left + start, right + start, length);
        }
    }

  private:
    void mix(float* left, float* right, int count) {
        const int target = bypassed ? fadeLength : 0;
        if (fadePosition == 0 && target == 0) return;  // processed only, untouched
        const float step = 1.0f / static_cast<float>(fadeLength);
        for (int i = 0; i < count; ++i) {
            if (fadePosition < target) ++fadePosition;
            if (fadePosition > target) --fadePosition;
            if (fadePosition == fadeLength) {
                left[i] = dry[i];
                right[i] = dry[i];
                continue;
            }
            const float dryGain = static_cast<float>(fadePosition) * step;
            const float wetGain = 1.0f - dryGain;
            left[i] = left[i] * wetGain + dry[i] * dryGain;
            right[i] = right[i] * wetGain + dry[i] * dryGain;
        }
    }

    std::array<float, chainLatency> ring{};
    std::uint32_t position = 0;
    bool bypassed = false;
    int fadeLength = 1;
    int fadePosition = 0;
    std::array<float, chunkLength> dry{};
};
