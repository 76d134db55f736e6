// The output stage: the second half of the noise reduction and a look-ahead automatic gain
// control with a -1 dB ceiling.
//
// Both band sums are lowpassed at the DNR2 cutoff and delayed by 132 samples. Every sample the
// AGC takes the peak of the newest filtered samples and of the samples now leaving the delay,
// never less than the smoothed target level, holds it for 44 samples and releases it with 50 ms;
// the delayed samples are divided by that envelope and scaled to the ceiling. A peak therefore
// lowers the gain 132 samples before it is heard, and since each output sample is part of the
// envelope it is divided by, no output exceeds the ceiling.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "dsp/bands.h"
#include "dsp/delay_ring.h"
#include "dsp/detectors.h"
#include "dsp/sample_rate.h"

class OutputStage {
  public:
    static constexpr std::uint32_t lookAhead = 132;
    static constexpr float ceiling = 0.8912509f;  // -1 dB full scale
    static constexpr float targetSmoothing = 0.999f;

    void computeConstants(const SampleRate& rate);
    void clear();

    // `count` samples, the first at `ringIndex`, with the noise reduction's k2 and k2 + 1 of
    // each sample. An output may be a band sum's own buffer.
    void run(int count, const float* leftSum, const float* rightSum, const float* k2,
             const float* k2PlusOne, float agcTarget, std::uint32_t ringIndex, float* left,
             float* right) {
        for (int i = 0; i < count; ++i) {
            const StereoSum out = step(leftSum[i], rightSum[i], k2[i], k2PlusOne[i], agcTarget,
                                       ringIndex + static_cast<std::uint32_t>(i));
            left[i] = out.left;
            right[i] = out.right;
        }
    }

    // k2 = 1 / tan(pi f2 / fs) of the DNR2 cutoff f2, and k2 + 1; agcTarget is the block's
    // 0.001 * 10^(threshold / 20), which the smoother accumulates to 10^(threshold / 20).
    StereoSum step(float leftSum, float rightSum, float k2, float k2PlusOne, float agcTarget,
                   std::uint32_t ringIndex) {
        const float oneMinusK2 = 1.0f - k2;
        const float filteredLeft =
            ((leftSum + previousLeftSum) - oneMinusK2 * leftRing.read(ringIndex, 1)) / k2PlusOne;
        leftRing.write(ringIndex, filteredLeft);
        const float filteredRight =
            ((rightSum + previousRightSum) - oneMinusK2 * rightRing.read(ringIndex, 1)) / k2PlusOne;
        rightRing.write(ringIndex, filteredRight);
        previousLeftSum = leftSum;
        previousRightSum = rightSum;

        const float delayedLeft = leftRing.read(ringIndex, lookAhead);
        const float delayedRight = rightRing.read(ringIndex, lookAhead);

        // The target bounds the envelope from below from the first sample on, so the division
        // below is always defined and quiet material is raised at most to the target level.
        smoothedTarget = targetSmoothing * smoothedTarget + agcTarget;

        // std::max keeps its first operand unless the second is greater, so the operand order
        // decides which NaN survives; it is part of the output and stays as it is.
        const float outgoing = std::max(std::fabs(delayedRight), std::fabs(delayedLeft));
        const float incoming = std::max(std::fabs(filteredRight), std::fabs(filteredLeft));
        float peak = std::max(outgoing, incoming);
        if (smoothedTarget > peak) peak = smoothedTarget;
        const float held = peakWindow.step(peak);

        // Compared after the release step so that the envelope is never below this sample's
        // peak, even where the release rounds down.
        envelope = release.p * envelope + release.complement * held;
        if (held > envelope) envelope = held;

        return {delayedLeft / envelope * ceiling, delayedRight / envelope * ceiling};
    }

  private:
    Pole<> release;  // 50 ms

    float previousLeftSum = 0.0f;
    float previousRightSum = 0.0f;
    DelayRing<256> leftRing;  // output lowpass results; slot n-1 is also the lowpass history
    DelayRing<256> rightRing;
    float smoothedTarget = 0.0f;
    SlidingWindowMaximum<> peakWindow;
    float envelope = 0.0f;
};
