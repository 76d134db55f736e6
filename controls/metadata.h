// The processor's descriptive metadata: name, author and the libraries it was built with.
#pragma once

#include <map>

#include "controls/text_order.h"
#include "dsp/dsp.h"

// Keys and values are constant texts of the program; the table keeps references, not copies.
class metadataTable {
  public:
    // Stores `value` under `key`, replacing a value stored earlier under the same text.
    void declare(const char* key, const char* value);
    // The value stored under `key`, or null.
    const char* find(const char* key) const;
    int size() const { return static_cast<int>(entries.size()); }

  private:
    std::map<const char*, const char*, TextLess> entries;
};

// Looks `key` up in the metadata of a freshly constructed processor of the product, or returns
// `fallback`. Builds and destroys a whole processor: never call it on the audio thread.
const char* lookupMetadata(const char* key, const char* fallback);

// The same, with the temporary processor made by `prototype.duplicate()`, so that a plug-in built
// around any processor reads that processor's metadata.
const char* lookupMetadata(dsp& prototype, const char* key, const char* fallback);
