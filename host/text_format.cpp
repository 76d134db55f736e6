// The text formatters of AudioEffect. Every one writes at most maxLen characters and a NUL; a
// result that does not fit is replaced by an empty text rather than cut, since a cut number
// reads as a different number.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "host/AudioEffect.h"

namespace {

// At most this many digits after the point: a float carries about seven significant digits.
constexpr int kMaxFractionDigits = 6;
constexpr float kLargestFormatted = 99999999.0f;
constexpr float kSmallestFormatted = -9999999.0f;

void writeBounded(const char* source, std::size_t length, char* text, VstInt32 maxLen) {
    if (!text || maxLen < 0) return;
    if (length > static_cast<std::size_t>(maxLen)) length = 0;
    std::memcpy(text, source, length);
    text[length] = '\0';
}

// Appends the decimal digits of `number`, at least `minimumDigits` of them, and returns the new
// length.
std::size_t appendDigits(char* buffer, std::size_t length, std::uint64_t number,
                         int minimumDigits) {
    char reversed[24];
    int count = 0;
    do {
        reversed[count++] = static_cast<char>('0' + number % 10);
        number /= 10;
    } while (number != 0 || count < minimumDigits);
    while (count > 0) buffer[length++] = reversed[--count];
    return length;
}

}  // namespace

void AudioEffect::float2string(float value, char* text, VstInt32 maxLen) {
    if (!text || maxLen < 0) return;
    // NaN fails both comparisons and so gets the empty text of an out-of-range value.
    if (!(value <= kLargestFormatted && value >= kSmallestFormatted)) {
        writeBounded("", 0, text, maxLen);
        return;
    }
    const bool negative = value < 0.0f;
    const double magnitude = std::fabs(static_cast<double>(value));
    // As many fractional digits as fit into maxLen, up to kMaxFractionDigits; rounding can add an
    // integer digit, so the width is checked after formatting.
    std::uint64_t scale = 1000000;
    for (int fractionDigits = kMaxFractionDigits; fractionDigits >= 0; --fractionDigits) {
        const auto scaled = static_cast<std::uint64_t>(std::llround(magnitude * scale));
        char buffer[40];
        std::size_t length = 0;
        if (negative && scaled != 0) buffer[length++] = '-';
        length = appendDigits(buffer, length, scaled / scale, 1);
        if (fractionDigits > 0) {
            buffer[length++] = '.';
            length = appendDigits(buffer, length, scaled % scale, fractionDigits);
        }
        if (length <= static_cast<std::size_t>(maxLen)) {
            writeBounded(buffer, length, text, maxLen);
            return;
        }
        scale /= 10;
    }
    writeBounded("", 0, text, maxLen);
}

void AudioEffect::int2string(VstInt32 value, char* text, VstInt32 maxLen) {
    if (value > 99999999) {
        writeBounded("Huge!", 5, text, maxLen);
        return;
    }
    char buffer[16];
    std::size_t length = 0;
    std::int64_t number = value;
    if (number < 0) {
        buffer[length++] = '-';
        number = -number;
    }
    length = appendDigits(buffer, length, static_cast<std::uint64_t>(number), 1);
    writeBounded(buffer, length, text, maxLen);
}

void AudioEffect::dB2string(float value, char* text, VstInt32 maxLen) {
    if (value <= 0.0f) {
        writeBounded("-oo", 3, text, maxLen);
        return;
    }
    float2string(20.0f * std::log10(value), text, maxLen);
}

void AudioEffect::Hz2string(float samples, char* text, VstInt32 maxLen) {
    if (samples == 0.0f) {
        writeBounded("", 0, text, maxLen);
        return;
    }
    float2string(sampleRate / samples, text, maxLen);
}

void AudioEffect::ms2string(float samples, char* text, VstInt32 maxLen) {
    float2string(samples * 1000.0f / sampleRate, text, maxLen);
}
