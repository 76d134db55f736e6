// Ordering of constant texts by their characters, for tables keyed by the processor's texts.
#pragma once

#include <cstring>

// Keys match by text, not by address: two equal texts at different places are the same key.
struct TextLess {
    bool operator()(const char* a, const char* b) const { return std::strcmp(a, b) < 0; }
};
