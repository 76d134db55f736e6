// Comb decorrelator: `combDelayed` d is `dnrOutput` x through 60 allpass sections and a
// 300-sample delay, the same magnitude spectrum with a scrambled phase. The bands form x + d and
// x - d from the pair, two complementary comb filterings of one signal.
//
//   y_0[n] = x[n]
//   y_j[n] = a_j (y_{j-1}[n] + y_j[n-2]) - y_{j-1}[n-2]      (a_j - z^-2) / (1 - a_j z^-2)
//   d[n]   = y_60[n - 300]
//
// a_j runs through the four coefficients of the phase network's chain B, fifteen times over. The
// last section's output goes into the 512-slot comb ring.
//
// Run one sample at a time, the chain is one long dependency: sixty add-multiply-subtract steps,
// each waiting for the one before. But nothing reads the chain's output before it is 300 samples
// old, so the chain runs up to a chunk of 16 samples behind the input: x is gathered for the
// chunk, then the sections run over the whole chunk, four at a time. Each section only reaches
// two samples back, so within a chunk the steps of different samples and sections overlap
// instead of waiting for each other. Every value is computed with the same operations in the
// same order as sample by sample, so the output is the same bit for bit.
#pragma once

#include <cstdint>

#include "dsp/delay_ring.h"
#include "dsp/phase_network.h"

inline constexpr int decorrelatorSections = 60;
inline constexpr std::uint32_t combDelay = 300;

struct CombDecorrelator {
    // Samples per chunk; a power of two that divides 2^32, so chunks follow the shared counter
    // across its wrap, and far less than the 300 samples of delay.
    static constexpr std::uint32_t chunk = 16;

    // x of the current chunk, gathered until the chunk is complete.
    float pending[chunk] = {};
    // The last two values (n - 2, n - 1, before the current chunk) of every signal of the chain:
    // index 0 is x, index j the output of section j.
    float history[decorrelatorSections + 1][2] = {};
    DelayRing<512> combRing;

    void reset() { *this = {}; }

    // Takes x[n] and returns d[n].
    float step(float x, std::uint32_t ringIndex) {
        const std::uint32_t slot = ringIndex & (chunk - 1);
        pending[slot] = x;
        if (slot == chunk - 1) runChunk(ringIndex - slot);
        return combRing.read(ringIndex, combDelay);
    }

  private:
    void runChunk(std::uint32_t first) {
        // Each signal of a chunk with its two older values in front: signal[i + 2] is sample
        // first + i, signal[0] and signal[1] are first - 2 and first - 1. The sections run four at
        // a time, one group per period of the coefficients: in a group's loop the four
        // recursions of a sample are independent of the previous sample's, so they overlap.
        float signals[5][chunk + 2];
        signals[0][0] = history[0][0];
        signals[0][1] = history[0][1];
        for (std::uint32_t i = 0; i < chunk; ++i) signals[0][i + 2] = pending[i];
        history[0][0] = signals[0][chunk];
        history[0][1] = signals[0][chunk + 1];

        const float a1 = phaseNetworkChainB[0];
        const float a2 = phaseNetworkChainB[1];
        const float a3 = phaseNetworkChainB[2];
        const float a4 = phaseNetworkChainB[3];
        for (int group = 0; group < decorrelatorSections / 4; ++group) {
            float* const x = signals[0];
            float* const y1 = signals[1];
            float* const y2 = signals[2];
            float* const y3 = signals[3];
            float* const y4 = signals[4];
            float(*const h)[2] = &history[4 * group];
            for (int s = 1; s <= 4; ++s) {
                signals[s][0] = h[s][0];
                signals[s][1] = h[s][1];
            }
            for (std::uint32_t i = 2; i < chunk + 2; ++i) {
                y1[i] = a1 * (x[i] + y1[i - 2]) - x[i - 2];
                y2[i] = a2 * (y1[i] + y2[i - 2]) - y1[i - 2];
                y3[i] = a3 * (y2[i] + y3[i - 2]) - y2[i - 2];
                y4[i] = a4 * (y3[i] + y4[i - 2]) - y3[i - 2];
            }
            for (int s = 1; s <= 4; ++s) {
                h[s][0] = signals[s][chunk];
                h[s][1] = signals[s][chunk + 1];
            }
            for (std::uint32_t i = 0; i < chunk + 2; ++i) x[i] = y4[i];
        }
        for (std::uint32_t i = 0; i < chunk; ++i) combRing.write(first + i, signals[0][i + 2]);
    }
};
