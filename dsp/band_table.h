// The twelve bands of the stereo processor, as data.
//
// Rows are in running order: band 12 (the highest) first, band 1 last. The ten upper bands
// separate; the two lowest stay mono so that the bass reaches both sides equally. The highEdge
// of each band is the lowEdge of the band above it, so neighbouring bands cross over with
// matching Linkwitz-Riley slopes. Gate releases are 2^(b-1) + 1 per second for band b >= 2 (high
// bands release fast, low bands slowly) and 2 per second for band 1. The gate ladder offset
// falls by 5 per band from 55 down to 0; the polarity alternates from band to band.
#pragma once

#include <array>
#include <cstddef>

#include "dsp/target.h"

inline namespace ZELKO_TARGET_NAMESPACE {

struct BandRow {
    int bandNumber;
    float lowEdge;      // Hz, edge of the two highpass sections
    float highEdge;     // Hz, edge of the two lowpass sections
    float bandGain;     // fixed linear output gain
    float gateRelease;  // k (1/s) of the gate's release pole exp(-k / fs)
    int ladderOffset;   // which rung of the gateScale ladder the band's gate uses
    float polarity;     // +1 or -1
    bool separated;     // measures its separation and drives "Band N Separation"
};

inline constexpr std::size_t bandCount = 12;
inline constexpr std::size_t separatedBandCount = 10;

// Band 11 sits 19 to 20 dB below its neighbours: its gain is 0.005118864, not 0.05118864.
inline constexpr std::array<BandRow, bandCount> bandTable = {{
    {12, 7688.0f, 22000.0f, 0.04879458f, 2049.0f, 55, +1.0f, true},
    {11, 5125.0f, 7688.0f, 0.005118864f, 1025.0f, 50, -1.0f, true},
    {10, 3417.0f, 5125.0f, 0.045095734f, 513.0f, 45, +1.0f, true},
    {9, 2278.0f, 3417.0f, 0.047095735f, 257.0f, 40, -1.0f, true},
    {8, 1518.0f, 2278.0f, 0.049095735f, 129.0f, 35, +1.0f, true},
    {7, 1012.0f, 1518.0f, 0.044234134f, 65.0f, 30, -1.0f, true},
    {6, 675.0f, 1012.0f, 0.04623413f, 33.0f, 25, +1.0f, true},
    {5, 450.0f, 675.0f, 0.04823413f, 17.0f, 20, -1.0f, true},
    {4, 300.0f, 450.0f, 0.05023413f, 9.0f, 15, +1.0f, true},
    {3, 200.0f, 300.0f, 0.04066836f, 5.0f, 10, -1.0f, true},
    {2, 80.0f, 200.0f, 0.061095733f, 3.0f, 5, +1.0f, false},
    {1, 20.0f, 80.0f, 0.0891251f, 2.0f, 0, -1.0f, false},
}};

// The separated bands come first in running order, so the band set can keep the two kinds in
// two plain arrays and still run the rows in table order.
constexpr bool separatedBandsLeadTheTable() {
    for (std::size_t i = 0; i < bandCount; ++i) {
        if (bandTable[i].separated != (i < separatedBandCount)) return false;
    }
    return true;
}
static_assert(separatedBandsLeadTheTable());

}  // namespace ZELKO_TARGET_NAMESPACE
