// Every float input of the chain's exp, tan, 10^x and 2^x, scalar and SIMD forms (SSE2, AVX2 and,
// for exp and tan, AVX-512 where the processor has them), against the correctly rounded value.
//
// The referee is the C library's double function (error below one double ulp) rounded once to
// float. That rounding is the correct one unless the double lies within kRefereeWindow double
// ulps of a midpoint between two floats, or the result is not a normal float (zero, subnormal,
// overflow, NaN); those inputs go to MPFR, computed at float precision and exponent range with
// subnormal rounding, which is exact by construction. Two threads share the inputs. A mismatch is
// printed as a ready entry of the function's exception list ({input bits, correct result}).
#include <immintrin.h>
#include <mpfr.h>

#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dsp/math/correctly_rounded.h"
#include "dsp/math/correctly_rounded_avx2.h"
#include "dsp/math/correctly_rounded_sse2.h"

// In avx512_forms.cpp, compiled for AVX-512F: sixteen lanes of exp and tan (the only functions
// the AVX-512 band engine calls).
void avx512Exp(const float* in, float* out);
void avx512Tan(const float* in, float* out);

namespace {

enum Function { kExp, kTan, kExp10, kExp2, kFunctionCount };
const char* const kNames[kFunctionCount] = {"exp", "tan", "exp10", "exp2"};

constexpr std::uint64_t kRefereeWindow = 64;  // double ulps

bool doubleNearMidpoint(double d) {
    const std::uint64_t low = std::bit_cast<std::uint64_t>(d) & 0x1FFFFFFFu;
    const std::uint64_t distance = low > 0x10000000u ? low - 0x10000000u : 0x10000000u - low;
    return distance <= kRefereeWindow;
}

// MPFR's function for each Function, in its order.
constexpr int (*kMpfr[kFunctionCount])(mpfr_ptr, mpfr_srcptr, mpfr_rnd_t) = {mpfr_exp, mpfr_tan,
                                                                             mpfr_exp10, mpfr_exp2};

float mpfrReference(Function f, float x) {
    mpfr_t v;
    mpfr_init2(v, 24);
    mpfr_set_flt(v, x, MPFR_RNDN);  // exact: 24 bits
    const int inexact = kMpfr[f](v, v, MPFR_RNDN);
    mpfr_subnormalize(v, inexact, MPFR_RNDN);
    const float result = mpfr_get_flt(v, MPFR_RNDN);
    mpfr_clear(v);
    return result;
}

template <Function F>
double libraryDouble(double x) {
    if constexpr (F == kExp) return std::exp(x);
    if constexpr (F == kTan) return std::tan(x);
    if constexpr (F == kExp10) return ::exp10(x);
    if constexpr (F == kExp2) return std::exp2(x);
}

template <Function F>
float reference(float x, std::uint64_t& mpfrCalls) {
    const double d = libraryDouble<F>(static_cast<double>(x));
    const double magnitude = std::fabs(d);
    if (d != d) return static_cast<float>(d);
    if (magnitude >= 0x1.000001p128) return static_cast<float>(d);
    if (magnitude < 0x1p-126) {
        const double ulps = magnitude * 0x1p149;
        if (std::fabs(ulps - std::floor(ulps) - 0.5) > 0x1p-20) return static_cast<float>(d);
    } else if (magnitude < 0x1p128 && !doubleNearMidpoint(d)) {
        return static_cast<float>(d);
    }
    ++mpfrCalls;
    return mpfrReference(F, x);
}

bool same(float expected, float actual) {
    if (expected != expected) return actual != actual;
    return std::bit_cast<std::uint32_t>(expected) == std::bit_cast<std::uint32_t>(actual);
}

// The scalar function and the SSE2 form of each Function, in its order.
constexpr float (*kScalar[kFunctionCount])(float) = {crmath::exp, crmath::tan, crmath::exp10,
                                                     crmath::exp2};
constexpr __m128 (*kSse2[kFunctionCount])(__m128) = {crmath::exp, crmath::tan, crmath::exp10,
                                                     crmath::exp2};

template <Function F>
__attribute__((target("avx2"))) void avx2(const float* in, float* out) {
    const __m256 x = _mm256_loadu_ps(in);
    if constexpr (F == kExp) _mm256_storeu_ps(out, crmath::exp(x));
    if constexpr (F == kTan) _mm256_storeu_ps(out, crmath::tan(x));
    if constexpr (F == kExp10) _mm256_storeu_ps(out, crmath::exp10(x));
    if constexpr (F == kExp2) _mm256_storeu_ps(out, crmath::exp2(x));
}

struct Tally {
    std::uint64_t mpfrCalls = 0;
    std::uint64_t failures[kFunctionCount] = {};
    std::vector<std::string> report;
};

constexpr int kBlock = 256;

// One function on a block of inputs, every form.
template <Function F>
void check(const float* in, bool haveAvx2, bool haveAvx512, Tally& tally) {
    constexpr bool hasAvx512Form = F == kExp || F == kTan;
    const bool avx512Runs = hasAvx512Form && haveAvx512;
    float expected[kBlock], viaScalar[kBlock], viaSse2[kBlock], viaAvx2[kBlock],
        viaAvx512[kBlock] = {};
    for (int i = 0; i < kBlock; ++i) {
        expected[i] = reference<F>(in[i], tally.mpfrCalls);
        viaScalar[i] = kScalar[F](in[i]);
    }
    for (int i = 0; i < kBlock; i += 4) _mm_storeu_ps(viaSse2 + i, kSse2[F](_mm_loadu_ps(in + i)));
    if (haveAvx2) {
        for (int i = 0; i < kBlock; i += 8) avx2<F>(in + i, viaAvx2 + i);
    }
    if (avx512Runs) {
        for (int i = 0; i < kBlock; i += 16)
            (F == kExp ? avx512Exp : avx512Tan)(in + i, viaAvx512 + i);
    }
    for (int i = 0; i < kBlock; ++i) {
        const bool scalarRight = same(expected[i], viaScalar[i]);
        const bool sse2Right = same(expected[i], viaSse2[i]);
        const bool avx2Right = !haveAvx2 || same(expected[i], viaAvx2[i]);
        const bool avx512Right = !avx512Runs || same(expected[i], viaAvx512[i]);
        if (scalarRight && sse2Right && avx2Right && avx512Right) continue;
        if (++tally.failures[F] > 200) continue;
        char line[200];
        std::snprintf(
            line, sizeof line, "%s: {0x%08xu, %af},  // got %a scalar, %a sse2, %a avx2, %a avx512",
            kNames[F], std::bit_cast<std::uint32_t>(in[i]), static_cast<double>(expected[i]),
            static_cast<double>(viaScalar[i]), static_cast<double>(viaSse2[i]),
            static_cast<double>(viaAvx2[i]), static_cast<double>(viaAvx512[i]));
        tally.report.push_back(line);
    }
}

// Inputs [first, last), a multiple of kBlock apart, every function.
void sweep(std::uint64_t first, std::uint64_t last, bool haveAvx2, bool haveAvx512, Tally& tally) {
    mpfr_set_emin(-148);
    mpfr_set_emax(128);
    float in[kBlock];
    for (std::uint64_t base = first; base < last; base += kBlock) {
        for (int i = 0; i < kBlock; ++i)
            in[i] = std::bit_cast<float>(static_cast<std::uint32_t>(base + i));
        check<kExp>(in, haveAvx2, haveAvx512, tally);
        check<kTan>(in, haveAvx2, haveAvx512, tally);
        check<kExp10>(in, haveAvx2, haveAvx512, tally);
        check<kExp2>(in, haveAvx2, haveAvx512, tally);
    }
    mpfr_free_cache();
}

}  // namespace

// Optional arguments: first and last input bits (hexadecimal), for a partial sweep.
int main(int argc, char** argv) {
    std::uint64_t first = 0, last = std::uint64_t{1} << 32;
    if (argc == 3) {
        first = std::stoull(argv[1], nullptr, 16) & ~std::uint64_t{kBlock - 1};
        last = std::stoull(argv[2], nullptr, 16);
    }
    const bool haveAvx2 = __builtin_cpu_supports("avx2");
    const bool haveAvx512 = __builtin_cpu_supports("avx512f");
    constexpr int kThreads = 2;
    Tally tallies[kThreads];
    std::vector<std::thread> threads;
    // Interleaved slices of 2^20 inputs keep the two threads' work alike (large tan arguments
    // cost more than small ones).
    constexpr std::uint64_t kSlice = std::uint64_t{1} << 20;
    std::atomic<std::uint64_t> next{first};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (;;) {
                const std::uint64_t begin = next.fetch_add(kSlice);
                if (begin >= last) break;
                sweep(begin, std::min(begin + kSlice, last), haveAvx2, haveAvx512, tallies[t]);
            }
        });
    }
    for (auto& thread : threads) thread.join();

    std::uint64_t failures = 0, mpfrCalls = 0;
    for (const Tally& tally : tallies) {
        for (const std::string& line : tally.report) std::printf("%s\n", line.c_str());
        for (int f = 0; f < kFunctionCount; ++f) failures += tally.failures[f];
        mpfrCalls += tally.mpfrCalls;
    }
    std::printf("inputs 0x%llx ... 0x%llx, %s; %llu referee calls to MPFR; %llu wrong results\n",
                static_cast<unsigned long long>(first), static_cast<unsigned long long>(last),
                haveAvx512 ? "scalar, SSE2, AVX2 and (exp, tan) AVX-512 forms"
                : haveAvx2 ? "scalar, SSE2 and AVX2 forms (no AVX-512 here)"
                           : "scalar and SSE2 forms (no AVX2 here)",
                static_cast<unsigned long long>(mpfrCalls),
                static_cast<unsigned long long>(failures));
    return failures == 0 ? 0 : 1;
}
