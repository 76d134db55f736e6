#include "vst3/parameters.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "controls/vstUIObject.h"

namespace vst3glue {
namespace {

using vst3::ParameterInfo;

constexpr std::array<ParameterRow, kParameterCount> makeRows() {
    std::array<ParameterRow, kParameterCount> rows{};
    for (int c = 0; c < kControlCount; ++c) {
        rows[c] = {static_cast<vst3::ParamID>(c), ParameterKind::control, &parameterDeclarations[c],
                   c};
    }
    rows[kControlCount] = {kBypassId, ParameterKind::bypass, nullptr, 0};
    for (int m = 0; m < kMeterCount; ++m) {
        rows[kControlCount + 1 + m] = {kFirstMeterId + static_cast<vst3::ParamID>(m),
                                       ParameterKind::meter, &meterDeclarations[m], m};
    }
    return rows;
}

constexpr std::array<ParameterRow, kParameterCount> rows = makeRows();

bool isSwitch(const ParameterRow& row) {
    return row.kind == ParameterKind::bypass || row.declaration->isSwitch;
}

// The control object the VST 2.4 plug-in builds for this declaration, driving `value`.
template <typename Use>
auto withControlObject(const ControlDeclaration& declaration, float& value, Use use) {
    if (declaration.isSwitch) {
        vstCheckButton control("", &value);
        return use(static_cast<vstUIObject&>(control));
    }
    const ControlRange& range = declaration.range;
    vstSlider control("", &value, range.initial, range.minimum, range.maximum, range.step);
    return use(static_cast<vstUIObject&>(control));
}

double unitInterval(double x) {
    if (!(x > 0.0)) return 0.0;
    return x < 1.0 ? x : 1.0;
}

}  // namespace

const ParameterRow* parameterAt(int index) {
    return index >= 0 && index < kParameterCount ? &rows[index] : nullptr;
}

const ParameterRow* parameterWithId(vst3::ParamID id) {
    for (const ParameterRow& row : rows) {
        if (row.id == id) return &row;
    }
    return nullptr;
}

double normalizedToPlain(const ParameterRow& row, double normalized) {
    switch (row.kind) {
        case ParameterKind::bypass:
            return normalized > 0.5 ? 1.0 : 0.0;
        case ParameterKind::meter: {
            const ControlRange& range = row.declaration->range;
            return range.minimum + unitInterval(normalized) * (range.maximum - range.minimum);
        }
        case ParameterKind::control:
            break;
    }
    float value = 0.0f;
    withControlObject(*row.declaration, value, [&](vstUIObject& control) {
        control.setNormalized(normalized);
        return 0;
    });
    return value;
}

double plainToNormalized(const ParameterRow& row, double plain) {
    switch (row.kind) {
        case ParameterKind::bypass:
            return plain > 0.5 ? 1.0 : 0.0;
        case ParameterKind::meter: {
            const ControlRange& range = row.declaration->range;
            return unitInterval((plain - range.minimum) / (range.maximum - range.minimum));
        }
        case ParameterKind::control:
            break;
    }
    float value = 0.0f;
    return withControlObject(*row.declaration, value, [&](vstUIObject& control) {
        control.setPlain(plain);
        return static_cast<double>(control.getNormalized());
    });
}

double defaultNormalized(const ParameterRow& row) {
    if (row.kind != ParameterKind::control) return 0.0;
    return plainToNormalized(row, row.declaration->range.initial);
}

void describe(const ParameterRow& row, ParameterInfo& info) {
    std::memset(&info, 0, sizeof info);
    info.id = row.id;
    info.unitId = vst3::kRootUnitId;
    info.defaultNormalizedValue = defaultNormalized(row);
    if (row.kind == ParameterKind::bypass) {
        copyText(info.title, 128, "Bypass");
        copyText(info.shortTitle, 128, "bypass");
        info.stepCount = 1;
        info.flags = ParameterInfo::kCanAutomate | ParameterInfo::kIsBypass;
        return;
    }
    const ControlDeclaration& declaration = *row.declaration;
    copyText(info.title, 128, declaration.label);
    copyText(info.shortTitle, 128, declaration.symbol);
    copyText(info.units, 128, unitSymbol(declaration.unit));
    if (row.kind == ParameterKind::meter) {
        info.flags = ParameterInfo::kIsReadOnly;
        return;
    }
    info.flags = ParameterInfo::kCanAutomate;
    const ControlRange& range = declaration.range;
    if (declaration.isSwitch) {
        info.stepCount = 1;
    } else if (range.step > 0.0f) {
        info.stepCount =
            static_cast<vst3::int32>(std::lround((range.maximum - range.minimum) / range.step));
    }
}

void formatValue(const ParameterRow& row, double normalized, vst3::String128 text) {
    char buffer[64];
    const double plain = normalizedToPlain(row, normalized);
    if (isSwitch(row)) {
        std::snprintf(buffer, sizeof buffer, "%s", plain > 0.5 ? "On" : "Off");
    } else if (row.kind == ParameterKind::meter) {
        const char* unit = unitSymbol(row.declaration->unit);
        if (*unit != '\0') {
            std::snprintf(buffer, sizeof buffer, "%.0f %s", plain, unit);
        } else {
            std::snprintf(buffer, sizeof buffer, "%.2f", plain);
        }
    } else {
        float value = static_cast<float>(plain);
        char shown[kDisplayTextLength + 1];
        withControlObject(*row.declaration, value, [&](vstUIObject& control) {
            control.formatValue(shown);
            return 0;
        });
        const char* unit = unitSymbol(row.declaration->unit);
        std::snprintf(buffer, sizeof buffer, *unit != '\0' ? "%s %s" : "%s", shown, unit);
    }
    copyText(text, 128, buffer);
}

namespace {

bool sameWord(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        const char x = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a - 'A' + 'a') : *a;
        const char y = (*b >= 'A' && *b <= 'Z') ? static_cast<char>(*b - 'A' + 'a') : *b;
        if (x != y) return false;
    }
    return *a == *b;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

bool parseValue(const ParameterRow& row, const vst3::TChar* text, double& normalized) {
    if (text == nullptr) return false;
    // Only ASCII can name a value; the text is copied to narrow characters first.
    char narrow[128];
    std::size_t length = 0;
    for (; text[length] != 0; ++length) {
        if (length + 1 >= sizeof narrow || text[length] > 0x7E) return false;
        narrow[length] = static_cast<char>(text[length]);
    }
    narrow[length] = '\0';
    const char* begin = narrow;
    const char* end = narrow + length;
    while (begin < end && isSpace(*begin)) ++begin;
    while (end > begin && isSpace(end[-1])) --end;
    std::string_view word(begin, static_cast<std::size_t>(end - begin));
    if (word.empty()) return false;

    if (isSwitch(row)) {
        char lowered[8] = {};
        if (word.size() < sizeof lowered) {
            std::memcpy(lowered, word.data(), word.size());
            if (sameWord(lowered, "on")) {
                normalized = 1.0;
                return true;
            }
            if (sameWord(lowered, "off")) {
                normalized = 0.0;
                return true;
            }
        }
    }
    if (*begin == '+') ++begin;
    double value = 0.0;
    const std::from_chars_result number = std::from_chars(begin, end, value);
    if (number.ec != std::errc() || !std::isfinite(value)) return false;
    const char* rest = number.ptr;
    while (rest < end && isSpace(*rest)) ++rest;
    if (rest < end) {
        const char* unit = row.declaration != nullptr ? unitSymbol(row.declaration->unit) : "";
        const std::string_view suffix(rest, static_cast<std::size_t>(end - rest));
        char lowered[8] = {};
        if (*unit == '\0' || suffix.size() >= sizeof lowered) return false;
        std::memcpy(lowered, suffix.data(), suffix.size());
        if (!sameWord(lowered, unit)) return false;
    }
    normalized = plainToNormalized(row, value);
    return true;
}

void copyText(vst3::char16* destination, std::size_t capacity, const char* source) {
    std::size_t n = 0;
    for (; n + 1 < capacity && source[n] != '\0'; ++n) {
        destination[n] = static_cast<unsigned char>(source[n]);
    }
    for (; n < capacity; ++n) destination[n] = 0;
}

void copyText(char* destination, std::size_t capacity, const char* source) {
    std::size_t n = 0;
    for (; n + 1 < capacity && source[n] != '\0'; ++n) destination[n] = source[n];
    for (; n < capacity; ++n) destination[n] = '\0';
}

}  // namespace vst3glue
