#include "controls/metadata.h"

#include <memory>

#include "dsp/mydsp.h"

namespace {

const char* lookupIn(dsp& temporary, const char* key, const char* fallback) {
    metadataTable table;
    temporary.declareMetadata(&table);
    const char* value = table.find(key);
    return value ? value : fallback;
}

}  // namespace

// The processor is several hundred kilobytes, too large for a host thread's stack.
const char* lookupMetadata(const char* key, const char* fallback) {
    auto temporary = std::make_unique<mydsp>();
    return lookupIn(*temporary, key, fallback);
}

const char* lookupMetadata(dsp& prototype, const char* key, const char* fallback) {
    std::unique_ptr<dsp> temporary(prototype.duplicate());
    if (!temporary) return fallback;
    return lookupIn(*temporary, key, fallback);
}
