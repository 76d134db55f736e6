// The block the bands keep their rings in: all zeros each time, however often memory is written,
// handed back and taken again, and aligned for the widest lanes.
#include "dsp/zeroed_block.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>

namespace {

template <std::size_t N>
struct alignas(32) Floats {
    float values[N];
};

template <class T>
void expectZeroedEachTime() {
    for (int round = 0; round < 4; ++round) {
        ZeroedBlock<T> block;
        ASSERT_EQ(reinterpret_cast<std::uintptr_t>(&*block) % 32, 0u);
        for (const float v : block->values) ASSERT_EQ(std::bit_cast<std::uint32_t>(v), 0u);
        // Written all over before it goes back, so that memory handed out again unzeroed shows.
        std::fill(std::begin(block->values), std::end(block->values), -1.0f);
    }
}

TEST(ZeroedBlock, ReadsAsZerosAlignedEachTimeLargeOrSmall) {
    expectZeroedEachTime<Floats<3>>();
    expectZeroedEachTime<Floats<150000>>();  // 600 KB, the size of the bands' rings
}

}  // namespace
