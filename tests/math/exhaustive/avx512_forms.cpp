// The AVX-512 forms of the chain's exp and tan for the sweep: a unit of their own, compiled for
// AVX-512F like the band engine that uses them, and called only where the processor has it.
#include "dsp/math/correctly_rounded_avx512.h"

void avx512Exp(const float* in, float* out) {
    _mm512_storeu_ps(out, crmath::exp(_mm512_loadu_ps(in)));
}

void avx512Tan(const float* in, float* out) {
    _mm512_storeu_ps(out, crmath::tan(_mm512_loadu_ps(in)));
}
