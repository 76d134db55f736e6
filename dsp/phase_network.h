// The coefficients of the 90-degree phase-difference network.
//
// Two chains of four second-order allpass sections (a - z^-2) / (1 - a z^-2) whose outputs stay
// in quadrature (90 +- 13.3 degrees) from 20 Hz to 22030 Hz at 44100 Hz. The band detectors use
// both chains for their analytic magnitudes; the comb decorrelator runs chain B fifteen times
// over, whose phase it scrambles with.
#pragma once

#include "dsp/target.h"

inline namespace ZELKO_TARGET_NAMESPACE {

inline constexpr float phaseNetworkChainA[4] = {0.6923878f, 0.93606544f, 0.9882295f, 0.99874884f};
inline constexpr float phaseNetworkChainB[4] = {0.40219212f, 0.8561711f, 0.97229093f, 0.9952885f};

}  // namespace ZELKO_TARGET_NAMESPACE
