// A power-of-two delay line indexed by the processor's shared sample counter.
//
// No ring keeps an index of its own: every ring of the processor is written at the one counter
// `ringIndex` masked to its size and read k samples back at (ringIndex - k) masked. Because every
// size divides 2^32, the rings stay continuous when the counter wraps.
#pragma once

#include <cstddef>
#include <cstdint>

template <std::size_t N>
struct DelayRing {
    static_assert(N > 0 && (N & (N - 1)) == 0, "ring sizes are powers of two");
    static constexpr std::uint32_t mask = static_cast<std::uint32_t>(N - 1);

    float slots[N] = {};

    void write(std::uint32_t ringIndex, float v) { slots[ringIndex & mask] = v; }

    float read(std::uint32_t ringIndex, std::uint32_t samplesBack) const {
        return slots[(ringIndex - samplesBack) & mask];
    }

    void clear() {
        for (float& slot : slots) slot = 0.0f;
    }
};
