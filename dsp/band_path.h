// The instruction set the processor runs on: chosen once, for the bands, and followed by every
// other stage that has a vector form, so that one choice decides what the processor executes.
#pragma once

enum class BandPath { scalar, sse2, avx2, avx512 };

// Whether a path runs where AVX2 may be used: the AVX2 path and the AVX-512 one, whose
// processors all have AVX2.
constexpr bool usesAvx2(BandPath path) {
    return path == BandPath::avx2 || path == BandPath::avx512;
}
