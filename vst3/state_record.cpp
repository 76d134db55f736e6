#include "vst3/state_record.h"

#include <cmath>
#include <cstring>

namespace vst3glue {
namespace {

constexpr unsigned char kMark[4] = {'Z', 'C', 'S', '3'};

void putWord(unsigned char* at, std::uint32_t word) {
    for (int b = 0; b < 4; ++b) at[b] = static_cast<unsigned char>(word >> (8 * b));
}

std::uint32_t getWord(const unsigned char* at) {
    std::uint32_t word = 0;
    for (int b = 3; b >= 0; --b) word = (word << 8) | at[b];
    return word;
}

bool acceptable(const ControlDeclaration& declaration, float value) {
    if (!std::isfinite(value)) return false;
    if (declaration.isSwitch) return value == 0.0f || value == 1.0f;
    return value >= declaration.range.minimum && value <= declaration.range.maximum;
}

}  // namespace

std::array<unsigned char, kStateSize> encodeState(const PluginState& values) {
    std::array<unsigned char, kStateSize> bytes{};
    std::memcpy(bytes.data(), kMark, 4);
    putWord(bytes.data() + 4, kStateVersion);
    for (int c = 0; c < kControlCount; ++c) {
        std::uint32_t word;
        std::memcpy(&word, &values.controls[c], 4);
        putWord(bytes.data() + 8 + 4 * c, word);
    }
    putWord(bytes.data() + 8 + 4 * kControlCount, values.bypassed ? 1 : 0);
    return bytes;
}

std::optional<PluginState> decodeState(const unsigned char* bytes, std::size_t size) {
    if (bytes == nullptr || size != kStateSize) return std::nullopt;
    if (std::memcmp(bytes, kMark, 4) != 0 || getWord(bytes + 4) != kStateVersion) {
        return std::nullopt;
    }
    PluginState values;
    for (int c = 0; c < kControlCount; ++c) {
        const std::uint32_t word = getWord(bytes + 8 + 4 * c);
        std::memcpy(&values.controls[c], &word, 4);
        if (!acceptable(parameterDeclarations[c], values.controls[c])) return std::nullopt;
    }
    const std::uint32_t bypass = getWord(bytes + 8 + 4 * kControlCount);
    if (bypass > 1) return std::nullopt;
    values.bypassed = bypass == 1;
    return values;
}

bool writeState(vst3::IBStream* stream, const PluginState& values) {
    if (stream == nullptr) return false;
    auto bytes = encodeState(values);
    vst3::int32 written = 0;
    return stream->write(bytes.data(), static_cast<vst3::int32>(bytes.size()), &written) ==
               vst3::kResultOk &&
           written == static_cast<vst3::int32>(bytes.size());
}

std::optional<PluginState> readState(vst3::IBStream* stream) {
    if (stream == nullptr) return std::nullopt;
    // One byte more than a record: a longer stream is not a record of this version.
    unsigned char bytes[kStateSize + 1];
    std::size_t size = 0;
    while (size < sizeof bytes) {
        vst3::int32 got = 0;
        const vst3::tresult result =
            stream->read(bytes + size, static_cast<vst3::int32>(sizeof bytes - size), &got);
        if (result != vst3::kResultOk || got <= 0) break;
        size += static_cast<std::size_t>(got);
    }
    return decodeState(bytes, size);
}

}  // namespace vst3glue
