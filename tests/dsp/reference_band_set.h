// The twelve band blocks run one after the other, each as its own object: the plain reading of the
// band set, kept as the reference that BandLanes must match bit for bit.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "dsp/band_lanes.h"
#include "dsp/band_table.h"
#include "dsp/sample_rate.h"
#include "tests/dsp/reference_band_block.h"

class ReferenceBandSet {
  public:
    void computeConstants(const SampleRate& rate) {
        shared = BandSharedConstants::at(rate);
        for (std::size_t i = 0; i < bandCount; ++i)
            constants[i] = BandConstants::at(rate, bandTable[i]);
    }

    void clear() {
        for (SeparatedBand& band : separated) band.reset();
        for (MonoBand& band : mono) band.reset();
    }

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
