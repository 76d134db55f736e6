#include "dsp/metadata.h"

void metadataTable::declare(const char* key, const char* value) {
    if (key == nullptr) return;
    entries[key] = value ? value : "";
}

const char* metadataTable::find(const char* key) const {
    if (key == nullptr) return nullptr;
    auto entry = entries.find(key);
    return entry == entries.end() ? nullptr : entry->second;
}
