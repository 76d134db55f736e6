// Conversions at the host boundary that every plug-in format shares: texts copied into the fixed
// fields of a host's records, and floats truncated to the integers hosts are given.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

// Copies at most `length` characters, pads the rest of the field with NULs and writes a NUL at
// position `length`: the host's field is `length` + 1 bytes, as the VST text limits define, and
// none of its bytes is left stale.
inline void copyBounded(char* destination, const char* source, std::size_t length) {
    std::size_t n = 0;
    for (; n < length && source[n] != '\0'; ++n) destination[n] = source[n];
    for (; n <= length; ++n) destination[n] = '\0';
}

// Truncation toward zero, defined for every float: NaN reads as 0 and values beyond the 32-bit
// range saturate.
inline std::int32_t truncateToInt32(float value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483648.0f) return std::numeric_limits<std::int32_t>::max();
    if (value <= -2147483648.0f) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}
