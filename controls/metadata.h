// Reading a processor's metadata from outside it.
#pragma once

#include "dsp/dsp.h"
#include "dsp/metadata.h"

// Looks `key` up in the metadata of a freshly constructed processor of the product, or returns
// `fallback`. Builds and destroys a whole processor: never call it on the audio thread.
const char* lookupMetadata(const char* key, const char* fallback);

// The same, with the temporary processor made by `prototype.duplicate()`, so that a plug-in built
// around any processor reads that processor's metadata.
const char* lookupMetadata(dsp& prototype, const char* key, const char* fallback);
