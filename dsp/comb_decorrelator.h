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
// old, so the sections run as a pipeline: section j + 1 sits in lane j of the lane type V, and
// each step every section takes the sample its predecessor finished in the step before. Section
// j + 1 therefore works on the sample j steps behind the input, and the output of section 60
// reaches the ring 59 samples late, long before it is read. Within a step no section waits for
// another, so one step is a handful of vector operations instead of a chain of sixty. Every
// section still computes its own recursion with the same operations in the same order, so d is
// the same bit for bit on every lane type. At a reset every section holds silence, and the
// sections not yet reached by the first sample keep computing exact zeros until it arrives.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "dsp/delay_ring.h"
#include "dsp/lanes.h"
#include "dsp/phase_network.h"
#include "dsp/target.h"

inline namespace ZELKO_TARGET_NAMESPACE {

inline constexpr int decorrelatorSections = 60;
inline constexpr std::uint32_t combDelay = 300;

template <class V = float>
struct CombDecorrelator {
    static constexpr std::size_t width = LaneTraits<V>::width;
    static constexpr std::size_t vectors = (decorrelatorSections + width - 1) / width;
    // Lanes past the sixtieth run as further sections whose output nobody reads.
    static constexpr std::size_t lastSection = decorrelatorSections - 1;  // its lane

    // Each section's input and output, two steps back, kept by the parity of the ring counter:
    // slot [n & 1] holds those of step n - 2 until step n replaces them, and slot [(n - 1) & 1]
    // those of step n - 1.
    V inputs[2][vectors] = {};
    V outputs[2][vectors] = {};
    std::array<V, vectors> coefficients = laneCoefficients();
    DelayRing<512> combRing;

    void reset() { *this = CombDecorrelator(); }

    // Takes x[n] and returns d[n].
    float step(float x, std::uint32_t ringIndex) {
        advance(x, ringIndex);
        return combRing.read(ringIndex, combDelay);
    }

  private:
    static std::array<V, vectors> laneCoefficients() {
        float perLane[vectors * width];
        for (std::size_t i = 0; i < vectors * width; ++i) perLane[i] = phaseNetworkChainB[i % 4];
        std::array<V, vectors> c;
        for (std::size_t v = 0; v < vectors; ++v) c[v] = LaneTraits<V>::load(perLane + v * width);
        return c;
    }

    void advance(float x, std::uint32_t ringIndex) {
        V(&now)[vectors] = outputs[ringIndex & 1u];
        V(&twoBack)[vectors] = inputs[ringIndex & 1u];
        const V(&lastStep)[vectors] = outputs[(ringIndex & 1u) ^ 1u];
        // Every lane takes what the lane below it produced in the last step; lane 0 of the first
        // vector takes x, lane 0 of the others the top lane of the vector before.
        V carry(x);
        for (std::size_t v = 0; v < vectors; ++v) {
            const V moved = rotatedUp(lastStep[v]);
            const V in = withFirstLaneOf(moved, carry);
            carry = moved;
            now[v] = coefficients[v] * (in + now[v]) - twoBack[v];
            twoBack[v] = in;
        }
        alignas(32) float lanes[width];
        LaneTraits<V>::store(lanes, now[lastSection / width]);
        combRing.write(ringIndex - static_cast<std::uint32_t>(lastSection),
                       lanes[lastSection % width]);
    }
};

}  // namespace ZELKO_TARGET_NAMESPACE
