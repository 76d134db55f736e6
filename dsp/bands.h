// The comb decorrelator and the twelve bands as one stage of the chain, behind the choice of how
// they run.
//
// The bands run as one BandEngine (dsp/band_engine.h) over a lane type: floats one band at a
// time, SSE2 four bands to a register, AVX2 eight or AVX-512 sixteen; the decorrelator's sections
// run over the same lane type. All four give the same output bit for bit; they differ in speed
// only. The processor picks the fastest one the machine has once, when it is created, and
// reaches it through this interface, so that the AVX2 and AVX-512 code lives in translation units
// of its own and the binaries still run on any x86-64 processor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "dsp/band_path.h"
#include "dsp/band_table.h"
#include "dsp/sample_rate.h"
#include "dsp/target.h"

struct StereoSum {
    float left = 0.0f;
    float right = 0.0f;
};

// One band's contribution of the last sample: mid goes to both sums, side to the left sum and
// negated to the right. A mono band has no side.
struct BandOutput {
    float mid = 0.0f;
    float side = 0.0f;
};

inline namespace ZELKO_TARGET_NAMESPACE {
// Position of a ladder offset in the gateScale ladder of the control-rate block: rung r holds
// offset 5 r (rung 0 is offset 0, rung 11 offset 55).
inline constexpr std::size_t gateRung(int ladderOffset) {
    return static_cast<std::size_t>(ladderOffset / 5);
}
}  // namespace ZELKO_TARGET_NAMESPACE

// The one interface shared by the engines of every instruction set (dsp/target.h): its
// constructor, destructor and with them its vtable are defined in the baseline unit bands.cpp,
// so that the AVX2 and AVX-512 engines, which derive from it, compile no copy of them.
class BandProcessor {
  public:
    BandProcessor();
    virtual ~BandProcessor();

    virtual void computeConstants(const SampleRate& rate) = 0;
    virtual void clear() = 0;

    // The block's autoEqFloor and gateScale ladder (12 rungs, indexed by gateRung); they hold
    // until the next call.
    virtual void setBlockControls(float autoEqFloor, const float* gateScale) = 0;

    // Most samples one call of `formCombPair` or `run` takes.
    static constexpr int maxRun = 32;

    // The comb pair of `count` (1 ... maxRun) samples of dnrOutput x, the first at
    // `firstRingIndex`: combSum = x + d and combDifference = x - d, with d = combDelayed.
    virtual void formCombPair(int count, const float* x, std::uint32_t firstRingIndex,
                              float* combSum, float* combDifference) = 0;

    // Runs the bands on `count` (1 ... maxRun) samples of combSum = x + d and
    // combDifference = x - d (x = dnrOutput, d = combDelayed), the first at `firstRingIndex`;
    // writes leftSum and rightSum of each sample, which add the band outputs in running order,
    // and each separated band's meter value after the last sample to `separation` (in running
    // order: band 12 first, band 3 last).
    virtual void run(int count, const float* combSum, const float* combDifference,
                     std::uint32_t firstRingIndex, float* leftSum, float* rightSum,
                     float (&separation)[separatedBandCount]) = 0;

    // One sample.
    StereoSum step(float combSum, float combDifference, std::uint32_t ringIndex,
                   float (&separation)[separatedBandCount]) {
        StereoSum sums;
        run(1, &combSum, &combDifference, ringIndex, &sums.left, &sums.right, separation);
        return sums;
    }

    // The last sample's output of the band at `position` in running order (0 is band 12).
    virtual BandOutput output(std::size_t position) const = 0;
};

// Whether this build and this processor can run `path`.
bool bandPathAvailable(BandPath path);
// The fastest available path; the processor is asked once per program run.
BandPath fastestBandPath();
// The bands on `path`, which must be available.
std::unique_ptr<BandProcessor> makeBandProcessor(BandPath path);
