// Comb decorrelator: `combDelayed` d is `dnrOutput` x through 60 allpass sections and a
// 300-sample delay, the same magnitude spectrum with a scrambled phase. The bands form x + d and
// x - d from the pair, two complementary comb filterings of one signal.
//
//   y_0[n] = x[n]
//   y_j[n] = a_j (y_{j-1}[n] + y_j[n-2]) - y_{j-1}[n-2]      (a_j - z^-2) / (1 - a_j z^-2)
//   d[n]   = y_60[n - 300]
//
// a_j runs through the four coefficients below, fifteen times over. The last section's output
// goes into the 512-slot comb ring, which also serves as that section's own history.
#pragma once

#include <cstdint>

#include "dsp/delay_ring.h"

inline constexpr int decorrelatorSections = 60;
inline constexpr float decorrelatorCoefficients[4] = {0.40219212f, 0.8561711f, 0.97229093f,
                                                      0.9952885f};
inline constexpr std::uint32_t combDelay = 300;

struct CombDecorrelator {
    // Every section reads only the values of two samples back, so each signal of the chain (the
    // input x and the outputs of sections 1 to 59) needs one slot per parity of the sample
    // counter: slot [n & 1] holds the value of n - 2 until the value of n replaces it.
    float twoBack[2][decorrelatorSections] = {};
    DelayRing<512> combRing;

    void reset() { *this = {}; }

    // Runs x[n] through the chain and returns d[n].
    float step(float x, std::uint32_t ringIndex) {
        float* history = twoBack[ringIndex & 1u];
        float in = x;
        for (int j = 0; j < decorrelatorSections - 1; ++j) {
            const float out = decorrelatorCoefficients[j & 3] * (in + history[j + 1]) - history[j];
            history[j] = in;
            in = out;
        }
        const float last = decorrelatorCoefficients[(decorrelatorSections - 1) & 3] *
                               (in + combRing.read(ringIndex, 2)) -
                           history[decorrelatorSections - 1];
        history[decorrelatorSections - 1] = in;
        combRing.write(ringIndex, last);
        return combRing.read(ringIndex, combDelay);
    }
};
