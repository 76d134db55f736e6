// The bands and the comb decorrelator in AVX-512 lanes: all twelve band lanes in one register
// (four more lanes run band 1's constants and are never read), the two signals of each detector
// pair in two registers.
//
// This file alone is compiled for AVX-512F (without FMA, so that no multiply-add is fused); the
// processor runs it only on a machine that has it. As in dsp/band_engine_avx2.cpp, everything it
// compiles from the headers lies in a namespace of its own, here `avx512` (dsp/target.h), and the
// one name baseline code calls is newAvx512BandProcessor.
#include "dsp/band_engine.h"
#include "dsp/lanes_avx512.h"

template class BandEngine<Lanes16>;

BandProcessor* newAvx512BandProcessor() {
    return new BandEngine<Lanes16>();
}
