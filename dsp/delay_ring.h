// A power-of-two delay line indexed by the processor's shared sample counter.
//
// No ring keeps an index of its own: every ring of the processor is written at the one counter
// `ringIndex` masked to its size and read k samples back at (ringIndex - k) masked. Because every
// size divides 2^32, the rings stay continuous when the counter wraps. A slot holds one value of
// type T: a float, a lane type, or the lanes of every band side by side.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dsp/target.h"

inline namespace ZELKO_TARGET_NAMESPACE {

template <std::size_t N, class T = float>
struct DelayRing {
    static_assert(N > 0 && (N & (N - 1)) == 0, "ring sizes are powers of two");
    static constexpr std::uint32_t mask = static_cast<std::uint32_t>(N - 1);

    T slots[N] = {};

    void write(std::uint32_t ringIndex, const T& v) { slots[ringIndex & mask] = v; }

    const T& read(std::uint32_t ringIndex, std::uint32_t samplesBack) const {
        return slots[(ringIndex - samplesBack) & mask];
    }

    void clear() {
        for (T& slot : slots) slot = T{};
    }
};

}  // namespace ZELKO_TARGET_NAMESPACE
