// Lanes8: eight bands in one AVX2 register, with the same per-lane rounding as float (see
// dsp/lanes.h), and its transcendental functions. Included only by the translation unit compiled
// for AVX2, which the processor runs only after checking that the machine has it.
#pragma once

#include <immintrin.h>

#include <cstddef>

#include "dsp/lanes.h"
#include "dsp/math/correctly_rounded_avx2.h"
#include "dsp/target.h"

#ifndef __AVX2__
#error "dsp/lanes_avx2.h belongs to a translation unit compiled with -mavx2"
#endif

inline namespace ZELKO_TARGET_NAMESPACE {

using Lanes8 = Lanes<8>;

// Inline in the followers' loops; its rare general path stays out of line.
__attribute__((always_inline)) inline Lanes8 exponential(Lanes8 x) {
    return crmath::exp(x.v);
}
inline Lanes8 tangent(Lanes8 x) {
    return crmath::tan(x.v);
}

}  // namespace ZELKO_TARGET_NAMESPACE
