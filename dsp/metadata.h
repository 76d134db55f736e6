// The processor's descriptive metadata: name, author and the libraries it was built with. The
// processor declares it into this table; the plug-in formats read it back.
#pragma once

#include <map>

#include "dsp/text_order.h"

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
