// The level floor of the whole chain.
#pragma once

#include "dsp/target.h"

inline namespace ZELKO_TARGET_NAMESPACE {

// -90 dB: no divisor, no square-root argument, no gate scale and no input divisor of the chain
// goes below it, so that silence divides by this instead of by zero.
inline constexpr float floorMinus90dB = 3.1622778e-5f;

}  // namespace ZELKO_TARGET_NAMESPACE
