// Repeatable white noise for the tests: a xorshift32 sequence scaled to +-scale.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace testsignal {

inline std::vector<float> noise(int frames, std::uint32_t seed = 2463534242u, float scale = 0.5f) {
    std::vector<float> samples(static_cast<std::size_t>(frames));
    for (float& s : samples) {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        s = scale * static_cast<float>(static_cast<std::int32_t>(seed)) / 2147483648.0f;
    }
    return samples;
}

}  // namespace testsignal
