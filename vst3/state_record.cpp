#include "vst3/state_record.h"

namespace vst3glue {

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
    // One byte more than the longest record this build reads: a longer stream is no record.
    unsigned char bytes[kLongestState + 1];
    std::size_t size = 0;
    while (size < sizeof bytes) {
        vst3::int32 got = 0;
        const vst3::tresult result =
            stream->read(bytes + size, static_cast<vst3::int32>(sizeof bytes - size), &got);
        if (result != vst3::kResultOk || got <= 0) break;
        size += static_cast<std::size_t>(got);
    }
    return decodeState(std::span<const unsigned char>(bytes, size));
}

}  // namespace vst3glue
