#include "vst3/parameters.h"

#include <array>
#include <cmath>
#include <cstring>
#include <string_view>

namespace vst3glue {
namespace {

using vst3::ParameterInfo;

constexpr std::array<ParameterRow, kParameterCount> makeRows() {
    std::array<ParameterRow, kParameterCount> rows{};
    for (std::size_t c = 0; c < controlCount; ++c) {
        rows[c] = {static_cast<vst3::ParamID>(c), ParameterKind::control, &controlRecords[c], c};
    }
    rows[controlCount] = {kBypassId, ParameterKind::bypass, &bypassRecord, 0};
    for (std::size_t m = 0; m < meterCount; ++m) {
        rows[controlCount + 1 + m] = {kFirstMeterId + static_cast<vst3::ParamID>(m),
                                      ParameterKind::meter, &meterRecords[m], m};
    }
    return rows;
}

constexpr std::array<ParameterRow, kParameterCount> rows = makeRows();

}  // namespace

const ParameterRow* parameterAt(int index) {
    return index >= 0 && index < kParameterCount ? &rows[static_cast<std::size_t>(index)] : nullptr;
}

const ParameterRow* parameterWithId(vst3::ParamID id) {
    for (const ParameterRow& row : rows) {
        if (row.id == id) return &row;
    }
    return nullptr;
}

void describe(const ParameterRow& row, ParameterInfo& info) {
    std::memset(&info, 0, sizeof info);
    const ControlRecord& record = *row.record;
    info.id = row.id;
    info.unitId = vst3::kRootUnitId;
    info.defaultNormalizedValue = record.toNormalised(record.reach.initial);
    copyText(info.title, 128, record.name);
    copyText(info.shortTitle, 128, record.symbol);
    copyText(info.units, 128, unitSymbol(record.unit));
    switch (row.kind) {
        case ParameterKind::meter:
            info.flags = ParameterInfo::kIsReadOnly;
            return;
        case ParameterKind::bypass:
            info.flags = ParameterInfo::kCanAutomate | ParameterInfo::kIsBypass;
            break;
        case ParameterKind::control:
            info.flags = ParameterInfo::kCanAutomate;
            break;
    }
    const ControlRange& range = record.range;
    if (record.isSwitch()) {
        info.stepCount = 1;
    } else if (range.step > 0.0f) {
        info.stepCount =
            static_cast<vst3::int32>(std::lround((range.maximum - range.minimum) / range.step));
    }
}

void formatValue(const ParameterRow& row, double normalized, vst3::String128 text) {
    char buffer[controlTextCapacity];
    row.record->format(row.record->fromNormalised(normalized), buffer);
    copyText(text, 128, buffer);
}

bool parseValue(const ParameterRow& row, const vst3::TChar* text, double& normalized) {
    if (text == nullptr) return false;
    // Only ASCII can name a value; the text is copied to narrow characters first.
    char narrow[128];
    std::size_t length = 0;
    for (; text[length] != 0; ++length) {
        if (length + 1 >= sizeof narrow || text[length] > 0x7E) return false;
        narrow[length] = static_cast<char>(text[length]);
    }
    const std::optional<float> value = row.record->parse(std::string_view(narrow, length));
    if (!value) return false;
    normalized = row.record->normalisedFor(*value);
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
