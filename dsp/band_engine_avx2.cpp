// The bands and the comb decorrelator in AVX2 lanes: sixteen band lanes in two registers, the
// second of which holds bands 4 to 1 in its lower half and, where the engine pairs its detectors,
// their second signal in the upper half.
//
// This file alone is compiled for AVX2 (without FMA, so that no multiply-add is fused); the
// processor runs it only on a machine that has AVX2. Every inline function, template and inline
// variable it compiles from the headers lies in the namespace `avx2` (dsp/target.h), so none of
// them has the name of a copy in baseline code, and the linker cannot put AVX2 code in place of
// baseline code, at any optimisation level. The one name baseline code calls is
// newAvx2BandProcessor; it returns a plain pointer, because std::unique_ptr<BandProcessor> would
// be a template over the shared interface, compiled here as well as in baseline units.
// tests/dsp/target_symbols.cmake checks the objects.
#include "dsp/band_engine.h"
#include "dsp/lanes_avx2.h"

template class BandEngine<Lanes8>;

BandProcessor* newAvx2BandProcessor() {
    return new BandEngine<Lanes8>();
}
