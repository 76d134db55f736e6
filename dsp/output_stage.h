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

        const float outgoing = larger(std::fabs(delayedRight), std::fabs(delayedLeft));
        const float incoming = larger(std::fabs(filteredRight), std::fabs(filteredLeft));
        float peak = larger(outgoing, incoming);
        if (smoothedTarget > peak) peak = smoothedTarget;
        const float held = peakWindow.step(peak);

        // Compared after the release step so that the envelope is never below this sample's
        // peak, even where the release rounds down.
        envelope = release.p * envelope + release.complement * held;
        if (held > envelope) envelope = held;

        return {delayedLeft / envelope * ceiling, delayedRight / envelope * ceiling};
    }

  private:
    static float larger(float a, float b) { return a < b ? b : a; }

    Pole<> release;  // 50 ms

    float previousLeftSum = 0.0f;
    float previousRightSum = 0.0f;
    DelayRing<256> leftRing;  // output lowpass results; slot n-1 is also the lowpass history
    DelayRing<256> rightRing;
    float smoothedTarget = 0.0f;
    SlidingWindowMaximum<> peakWindow;
    float envelope = 0.0f;
};
