#include "clap/parameters.h"

#include <array>
#include <cstring>
#include <optional>
#include <string_view>

namespace clapglue {
namespace {

using namespace clapabi;

constexpr std::array<ParamRow, kParamCount> makeRows() {
    std::array<ParamRow, kParamCount> rows{};
    for (std::size_t c = 0; c < controlCount; ++c) {
        rows[c] = {static_cast<clap_id>(c), ParamKind::control, &controlRecords[c], c};
    }
    rows[controlCount] = {kBypassId, ParamKind::bypass, &bypassRecord, 0};
    for (std::size_t m = 0; m < meterCount; ++m) {
        rows[controlCount + 1 + m] = {kFirstMeterId + static_cast<clap_id>(m), ParamKind::meter,
                                      &meterRecords[m], m};
    }
    for (std::size_t r = 0; r < outputReadingCount; ++r) {
        rows[controlCount + 1 + meterCount + r] = {kFirstReadingId + static_cast<clap_id>(r),
                                                   ParamKind::reading, &outputReadingRecords[r], r};
    }
    return rows;
}

constexpr std::array<ParamRow, kParamCount> rows = makeRows();

void copyText(char* destination, std::size_t capacity, const char* source) {
    std::size_t n = 0;
    for (; n + 1 < capacity && source[n] != '\0'; ++n) destination[n] = source[n];
    for (; n < capacity; ++n) destination[n] = '\0';
}

}  // namespace

const ParamRow* paramAt(std::uint32_t index) {
    return index < kParamCount ? &rows[index] : nullptr;
}

const ParamRow* paramWithId(clap_id id) {
    for (const ParamRow& row : rows) {
        if (row.id == id) return &row;
    }
    return nullptr;
}

void describe(const ParamRow& row, clap_param_info_t& info) {
    std::memset(&info, 0, sizeof info);
    const ControlRecord& record = *row.record;
    info.id = row.id;
    copyText(info.name, sizeof info.name, record.name);
    const bool measured = row.kind == ParamKind::meter || row.kind == ParamKind::reading;
    copyText(info.module, sizeof info.module, measured ? "Meters" : "");
    info.min_value = record.reach.minimum;
    info.max_value = record.reach.maximum;
    info.default_value = record.reach.initial;
    switch (row.kind) {
        case ParamKind::meter:
        case ParamKind::reading:
            info.flags = CLAP_PARAM_IS_READONLY;
            return;
        case ParamKind::bypass:
            info.flags = CLAP_PARAM_IS_AUTOMATABLE | CLAP_PARAM_IS_BYPASS | CLAP_PARAM_IS_STEPPED;
            return;
        case ParamKind::control:
            info.flags = CLAP_PARAM_IS_AUTOMATABLE;
            if (record.isSwitch()) info.flags |= CLAP_PARAM_IS_STEPPED;
            return;
    }
}

float valueOf(const ControlRecord& record, double plain) {
    if (record.isSwitch()) return plain > 0.5 ? 1.0f : 0.0f;
    const ControlRange& reach = record.reach;
    const double minimum = reach.minimum, maximum = reach.maximum;
    // Held in double precision first: a double beyond the float range has no float to become.
    if (!(plain > minimum)) return reach.minimum;
    if (!(plain < maximum)) return reach.maximum;
    const float single = static_cast<float>(plain);
    if (static_cast<double>(single) == plain) return single;
    const double span = maximum - minimum;
    const float position = static_cast<float>((plain - minimum) / span);
    if (minimum + static_cast<double>(position) * span == plain) {
        return record.fromNormalised(position);
    }
    return reach.held(single);
}

bool valueToText(const ParamRow& row, double plain, char* text, std::uint32_t capacity) {
    if (text == nullptr || capacity == 0) return false;
    char buffer[controlTextCapacity];
    const std::size_t length = row.record->format(valueOf(*row.record, plain), buffer);
    if (length + 1 > capacity) {
        text[0] = '\0';
        return false;
    }
    std::memcpy(text, buffer, length + 1);
    return true;
}

bool textToValue(const ParamRow& row, const char* text, double& plain) {
    if (text == nullptr) return false;
    const std::optional<float> value = row.record->parse(std::string_view(text));
    if (!value) return false;
    plain = row.record->fromNormalised(row.record->normalisedFor(*value));
    return true;
}

}  // namespace clapglue
