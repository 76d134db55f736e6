// Repeatable white noise for the tests, benchmarks and harnesses: one xorshift32 sequence.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace testsignal {

class Xorshift32 {
  public:
    explicit Xorshift32(std::uint32_t seed = 2463534242u) : state(seed != 0 ? seed : 1u) {}

    std::uint32_t next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    // Uniform in [-1, 1): the word read as a signed fraction.
    float bipolar() {
        return static_cast<float>(static_cast<std::int32_t>(next())) / 2147483648.0f;
    }
    // Uniform in [0, 1].
    float unit() { return static_cast<float>(next()) * 2.3283064e-10f; }

  private:
    std::uint32_t state;
};

inline std::vector<float> noise(int frames, std::uint32_t seed = 2463534242u, float scale = 0.5f) {
    Xorshift32 source(seed);
    std::vector<float> samples(static_cast<std::size_t>(frames));
    for (float& s : samples) s = scale * source.bipolar();
    return samples;
}

}  // namespace testsignal
