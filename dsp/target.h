// The namespace of the instruction set a translation unit is compiled for.
//
// Two translation units, dsp/band_engine_avx2.cpp and dsp/band_engine_avx512.cpp, are compiled
// for AVX2 and AVX-512; every other one is baseline x86-64. A unit emits its own copy of every
// inline function, template instantiation and inline variable it uses, as a weak symbol, and the
// linker keeps one copy of each name, chosen by link order. Were the AVX2 unit's copy of, say,
// crmath::exp(float) the one kept, baseline code would run AVX instructions on a processor without
// them and die of an illegal instruction. Optimisation does not prevent it: at -O0 nothing is
// inlined and every such copy is emitted.
//
// So every header whose code those units compile puts its inline functions, templates and
// inline variables into an inline namespace named after the instruction set the unit is compiled
// for: `avx512` or `avx2` where the compiler targets those, `baseline` elsewhere. Source code names
// them as before; their symbols differ by target, and no copy can stand in for another. Standard
// headers are included outside it. Shared by both remain only the band processor interface and its
// factory (dsp/bands.h, whose functions are defined out of line in a baseline unit), SampleRate,
// which crosses that interface and whose functions are always inlined, and functions defined out
// of line in baseline units, which code of any target may call. tests/dsp/target_symbols.cmake
// checks the objects for any other shared symbol.
#pragma once

#if defined(__AVX512F__)
#define ZELKO_TARGET_NAMESPACE avx512
#elif defined(__AVX2__)
#define ZELKO_TARGET_NAMESPACE avx2
#else
#define ZELKO_TARGET_NAMESPACE baseline
#endif
