// The bands in AVX2 lanes: sixteen lanes in two registers, twelve of them bands. Eight lanes and
// four would need a second engine layout; four idle lanes cost less than that.
//
// This file alone is compiled for AVX2 (without FMA, so that no multiply-add is fused); the
// processor runs it only on a machine that has AVX2. Nothing else of the chain is instantiated
// here, so no inline function compiled for AVX2 can stand in for one of the baseline code.
#include <memory>

#include "dsp/band_engine.h"
#include "dsp/lanes_avx2.h"

template class BandEngine<Lanes8>;

std::unique_ptr<BandProcessor> makeAvx2BandProcessor() {
    return std::make_unique<BandEngine<Lanes8>>();
}
