#include "dsp/saved_state.h"

#include <cmath>
#include <cstring>

namespace {

constexpr unsigned char kMark[4] = {'Z', 'C', 'S', '3'};
constexpr std::size_t kStateV1Size = 8 + 4 * kStateV1Controls.size() + 4;
static_assert(kStateV1Size == 32 && kStateV1Size <= kLongestState);

void putWord(unsigned char* at, std::uint32_t word) {
    for (int b = 0; b < 4; ++b) at[b] = static_cast<unsigned char>(word >> (8 * b));
}

std::uint32_t getWord(const unsigned char* at) {
    std::uint32_t word = 0;
    for (int b = 3; b >= 0; --b) word = (word << 8) | at[b];
    return word;
}

bool acceptable(const ControlRecord& record, float value) {
    if (!std::isfinite(value)) return false;
    if (record.isSwitch()) return value == 0.0f || value == 1.0f;
    return value >= record.range.minimum && value <= record.range.maximum;
}

std::optional<PluginState> decodeVersion1(std::span<const unsigned char> bytes) {
    if (bytes.size() != kStateV1Size) return std::nullopt;
    PluginState values;
    const unsigned char* at = bytes.data() + 8;
    for (const Control control : kStateV1Controls) {
        const std::uint32_t word = getWord(at);
        at += 4;
        float value;
        std::memcpy(&value, &word, 4);
        if (!acceptable(recordOf(control), value)) return std::nullopt;
        values.controls[control] = value;
    }
    const std::uint32_t bypass = getWord(at);
    if (bypass > 1) return std::nullopt;
    values.bypassed = bypass == 1;
    return values;
}

}  // namespace

std::array<unsigned char, kStateSize> encodeState(const PluginState& values) {
    std::array<unsigned char, kStateSize> bytes{};
    std::memcpy(bytes.data(), kMark, 4);
    putWord(bytes.data() + 4, kStateVersion);
    unsigned char* at = bytes.data() + 8;
    for (const Control control : kStateV1Controls) {
        std::uint32_t word;
        const float value = values.controls[control];
        std::memcpy(&word, &value, 4);
        putWord(at, word);
        at += 4;
    }
    putWord(at, values.bypassed ? 1 : 0);
    return bytes;
}

std::optional<PluginState> decodeState(std::span<const unsigned char> bytes) {
    if (bytes.size() < 8 || std::memcmp(bytes.data(), kMark, 4) != 0) return std::nullopt;
    switch (getWord(bytes.data() + 4)) {
        case 1:
            return decodeVersion1(bytes);
        default:
            return std::nullopt;  // a later version, or none
    }
}
