// The twelve band blocks run on the same pair of comb signals and summed into the two sides.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "dsp/band_block.h"
#include "dsp/band_table.h"
#include "dsp/sample_rate.h"

struct StereoSum {
    float left;
    float right;
};

// Position of a ladder offset in the gateScale ladder of the control-rate block: rung r holds
// offset 5 r (rung 0 is offset 0, rung 11 offset 55).
inline constexpr std::size_t gateRung(int ladderOffset) {
    return static_cast<std::size_t>(ladderOffset / 5);
}

class BandSet {
  public:
    void computeConstants(const SampleRate& rate);
    void clear();

    // Runs the bands in table order (12 down to 1) on x = dnrOutput and d = combDelayed, with the
    // block's autoEqFloor and gateScale ladder (12 rungs, indexed by gateRung), stores each
    // separated band's meter value in `separation` (in running order: band 12 first, band 3
    // last) and returns leftSum and rightSum.
    StereoSum step(float x, float d, std::uint32_t ringIndex, float autoEqFloor,
                   const float* gateScale, float (&separation)[separatedBandCount]) {
        const float combSum = x + d;
        const float combDifference = x - d;
        float leftSum = 0.0f;
        float rightSum = 0.0f;
        for (std::size_t i = 0; i < separatedBandCount; ++i) {
            const SeparatedBand::Output out = separated[i].step(
                combSum, combDifference, ringIndex, autoEqFloor,
                gateScale[gateRung(bandTable[i].ladderOffset)], constants[i], shared);
            separation[i] = out.meter;
            leftSum = leftSum + (out.mid + out.side);
            rightSum = rightSum + (out.mid - out.side);
        }
        for (std::size_t i = separatedBandCount; i < bandCount; ++i) {
            const float out = mono[i - separatedBandCount].step(
                combSum, combDifference, ringIndex, autoEqFloor,
                gateScale[gateRung(bandTable[i].ladderOffset)], constants[i], shared);
            leftSum = leftSum + out;
            rightSum = rightSum + out;
        }
        return {leftSum, rightSum};
    }

  private:
    BandSharedConstants shared;
    std::array<BandConstants, bandCount> constants;  // in table order
    std::array<SeparatedBand, separatedBandCount> separated;
    std::array<MonoBand, bandCount - separatedBandCount> mono;
};
