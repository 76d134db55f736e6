#include "clap/state.h"

#include <cstddef>
#include <cstdint>
#include <span>

#include "dsp/saved_state.h"

namespace clapglue {

bool writeState(const clapabi::clap_ostream_t* stream, const PluginState& state) {
    if (stream == nullptr || stream->write == nullptr) return false;
    const auto bytes = encodeState(state);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::int64_t wrote = stream->write(stream, bytes.data() + done, bytes.size() - done);
        if (wrote <= 0 || static_cast<std::uint64_t>(wrote) > bytes.size() - done) return false;
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

std::optional<PluginState> readState(const clapabi::clap_istream_t* stream) {
    if (stream == nullptr || stream->read == nullptr) return std::nullopt;
    // One byte more than the longest record this build reads: a longer stream is no record.
    unsigned char bytes[kLongestState + 1];
    std::size_t size = 0;
    while (size < sizeof bytes) {
        const std::int64_t got = stream->read(stream, bytes + size, sizeof bytes - size);
        // A stream that claims more than it was asked for is not to be trusted with the rest.
        if (got < 0 || static_cast<std::uint64_t>(got) > sizeof bytes - size) return std::nullopt;
        if (got == 0) break;
        size += static_cast<std::size_t>(got);
    }
    return decodeState(std::span<const unsigned char>(bytes, size));
}

}  // namespace clapglue
