#include "dsp/bands.h"

#include "dsp/band_engine.h"

template class BandEngine<float>;
#ifdef ZELKO_HAVE_SSE2
template class BandEngine<Lanes4>;
#endif

#ifdef ZELKO_HAVE_AVX2_PATH
// In dsp/band_engine_avx2.cpp, the translation unit compiled for AVX2: a new engine, owned by
// the caller.
BandProcessor* newAvx2BandProcessor();
// In dsp/band_engine_avx512.cpp, likewise for AVX-512.
BandProcessor* newAvx512BandProcessor();
#endif

BandProcessor::BandProcessor() = default;
BandProcessor::~BandProcessor() = default;

namespace {

// Whether the processor runs the AVX2 or the AVX-512 unit; this also asks whether the operating
// system saves those registers.
bool processorRuns(BandPath path) {
#if defined(ZELKO_HAVE_AVX2_PATH) && defined(__GNUC__)
    __builtin_cpu_init();
    return path == BandPath::avx512 ? __builtin_cpu_supports("avx512f")
                                    : __builtin_cpu_supports("avx2");
#else
    (void)path;
    return false;
#endif
}

}  // namespace

bool bandPathAvailable(BandPath path) {
    switch (path) {
        case BandPath::scalar:
            return true;
        case BandPath::sse2:
#ifdef ZELKO_HAVE_SSE2
            return true;
#else
            return false;
#endif
        case BandPath::avx2: {
            static const bool available = processorRuns(BandPath::avx2);
            return available;
        }
        case BandPath::avx512: {
            static const bool available = processorRuns(BandPath::avx512);
            return available;
        }
    }
    return false;
}

BandPath fastestBandPath() {
    if (bandPathAvailable(BandPath::avx512)) return BandPath::avx512;
    if (bandPathAvailable(BandPath::avx2)) return BandPath::avx2;
    if (bandPathAvailable(BandPath::sse2)) return BandPath::sse2;
    return BandPath::scalar;
}

std::unique_ptr<BandProcessor> makeBandProcessor(BandPath path) {
    switch (path) {
#ifdef ZELKO_HAVE_AVX2_PATH
        case BandPath::avx2:
            return std::unique_ptr<BandProcessor>(newAvx2BandProcessor());
        case BandPath::avx512:
            return std::unique_ptr<BandProcessor>(newAvx512BandProcessor());
#endif
#ifdef ZELKO_HAVE_SSE2
        case BandPath::sse2:
            return std::make_unique<BandEngine<Lanes4>>();
#endif
        default:
            return std::make_unique<BandEngine<float>>();
    }
}
