// The bands and the comb decorrelator in AVX2 lanes: sixteen band lanes in two registers, the
// second of which holds bands 4 to 1 in its lower half and, where the engine pairs its detectors,
// their second signal in the upper half.
//
// This file alone is compiled for AVX2 (without FMA, so that no multiply-add is fused); the
// processor runs it only on a machine that has AVX2. Nothing but the eight-lane
// instantiations is compiled here, so no inline function compiled for AVX2 can stand in for one of
// the baseline code.
#include <memory>

#include "dsp/band_engine.h"
#include "dsp/lanes_avx2.h"

template class BandEngine<Lanes8>;

std::unique_ptr<BandProcessor> makeAvx2BandProcessor() {
    return std::make_unique<BandEngine<Lanes8>>();
}
