// What the host fuzzers share: a reader of the fuzzer's bytes, the special values and rates they
// pick from, and the signals a script describes (fuzz/host_fuzzer.cpp documents the encodings).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

namespace fuzzhost {

// Sentinel written into output buffers before a block; a quiet NaN with a payload no
// arithmetic produces, compared bitwise.
constexpr std::uint32_t kSentinelBits = 0x7fc0dead;

inline float fromBits(std::uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

inline std::uint32_t bitsOf(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

inline const float kSpecialValues[16] = {
    0.0f,
    -0.0f,
    1.0f,
    -1.0f,
    0.5f,
    std::numeric_limits<float>::quiet_NaN(),
    fromBits(0x7f800001),  // signalling NaN
    std::numeric_limits<float>::infinity(),
    -std::numeric_limits<float>::infinity(),
    std::numeric_limits<float>::max(),
    -std::numeric_limits<float>::max(),
    std::numeric_limits<float>::min(),
    std::numeric_limits<float>::denorm_min(),
    -std::numeric_limits<float>::denorm_min(),
    1.0e30f,
    fromBits(0xffc00000),  // negative NaN
};

inline const float kSpecialRates[16] = {
    0.0f,
    -1.0f,
    -44100.0f,
    1.0f,
    2.0f,
    8000.0f,
    22050.0f,
    44100.0f,
    48000.0f,
    88200.0f,
    96000.0f,
    192000.0f,
    384000.0f,
    3.0e9f,
    std::numeric_limits<float>::quiet_NaN(),
    std::numeric_limits<float>::infinity(),
};

class Reader {
  public:
    Reader(const std::uint8_t* data, std::size_t size) : data(data), size(size) {}
    bool done() const { return position >= size; }

    std::uint8_t u8() { return position < size ? data[position++] : 0; }
    std::uint16_t u16() {
        const std::uint16_t low = u8();  // two statements: the bytes must be read in order
        return static_cast<std::uint16_t>(low | (u8() << 8));
    }
    std::uint32_t u32() {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(u8()) << (8 * i);
        return value;
    }
    std::uint64_t u64() {
        const std::uint64_t low = u32();
        return low | (static_cast<std::uint64_t>(u32()) << 32);
    }
    std::int32_t i32() { return static_cast<std::int32_t>(u32()); }

    float anyFloat() {
        const std::uint8_t pick = u8();
        return pick < 16 ? kSpecialValues[pick] : fromBits(u32());
    }
    float anyRate() {
        const std::uint8_t pick = u8();
        return pick < 16 ? kSpecialRates[pick] : fromBits(u32());
    }

  private:
    const std::uint8_t* data;
    std::size_t size;
    std::size_t position = 0;
};

// Fills `out` with `frames` samples of the signal the script describes.
inline void fillSignal(Reader& in, float* out, int frames) {
    switch (in.u8() % 7) {
        case 0:
            std::fill(out, out + frames, 0.0f);
            break;
        case 1: {
            float pattern[256];
            const int length = in.u8() + 1;
            for (int i = 0; i < length; ++i) pattern[i] = fromBits(in.u32());
            for (int i = 0; i < frames; ++i) out[i] = pattern[i % length];
            break;
        }
        case 2: {
            float pattern[256];
            const int length = in.u8() + 1;
            for (int i = 0; i < length; ++i) pattern[i] = kSpecialValues[in.u8() % 16];
            for (int i = 0; i < frames; ++i) out[i] = pattern[i % length];
            break;
        }
        case 3: {
            std::uint32_t state = in.u32() | 1u;
            const float amplitude = in.anyFloat();
            for (int i = 0; i < frames; ++i) {
                state ^= state << 13;
                state ^= state >> 17;
                state ^= state << 5;
                const float unit = static_cast<float>(state) * 4.656613e-10f - 1.0f;
                out[i] = unit * amplitude;
            }
            break;
        }
        case 4: {
            const double frequency = in.u16();
            const float amplitude = in.anyFloat();
            for (int i = 0; i < frames; ++i) {
                out[i] = amplitude *
                         static_cast<float>(std::sin(6.283185307179586 * frequency * i / 44100.0));
            }
            break;
        }
        case 5:
            std::fill(out, out + frames, in.anyFloat());
            break;
        default: {
            const int period = in.u16() + 1;
            const float value = in.anyFloat();
            for (int i = 0; i < frames; ++i) out[i] = i % period == 0 ? value : 0.0f;
            break;
        }
    }
}

inline bool isSentinel(float value) {
    return bitsOf(value) == kSentinelBits;
}

}  // namespace fuzzhost
