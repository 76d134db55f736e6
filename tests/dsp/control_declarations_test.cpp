// The rows every plug-in format reads: usable symbols, sane ranges, and a lookup that finds each
// row by its label and nothing else.
#include "dsp/control_declarations.h"

#include <gtest/gtest.h>

#include <set>
#include <span>
#include <string>

namespace {

const std::span<const ControlDeclaration> allRows[] = {parameterDeclarations, meterDeclarations};

// An LV2 port symbol (and a C identifier): a letter or underscore, then letters, digits and
// underscores, all ASCII.
bool isPortSymbol(const std::string& symbol) {
    if (symbol.empty() || (symbol[0] >= '0' && symbol[0] <= '9')) return false;
    for (char c : symbol) {
        const bool ok =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        if (!ok) return false;
    }
    return true;
}

TEST(ControlDeclarations, SymbolsAreUniquePortSymbolsAndRangesHoldTheirDefaults) {
    std::set<std::string> symbols = {"in", "out_left", "out_right", "latency"};  // audio ports
    for (std::span<const ControlDeclaration> rows : allRows) {
        for (const ControlDeclaration& row : rows) {
            SCOPED_TRACE(row.label);
            EXPECT_TRUE(isPortSymbol(row.symbol));
            EXPECT_TRUE(symbols.insert(row.symbol).second) << "shared symbol " << row.symbol;
            EXPECT_LT(row.range.minimum, row.range.maximum);
            EXPECT_GE(row.range.initial, row.range.minimum);
            EXPECT_LE(row.range.initial, row.range.maximum);
            if (row.isSwitch) {
                EXPECT_EQ(row.range.minimum, 0.0f);
                EXPECT_EQ(row.range.maximum, 1.0f);
                EXPECT_EQ(row.unit, ControlUnit::none);
            }
        }
    }
}

TEST(ControlDeclarations, LookupFindsEveryRowByItsExactLabelOnly) {
    for (std::span<const ControlDeclaration> rows : allRows) {
        for (const ControlDeclaration& row : rows) {
            EXPECT_EQ(findControlDeclaration(row.label), &row);
        }
    }
    EXPECT_EQ(findControlDeclaration("lowpass filter"), nullptr);
    EXPECT_EQ(findControlDeclaration("Lowpass Filter "), nullptr);
    EXPECT_EQ(findControlDeclaration(""), nullptr);
    EXPECT_STREQ(unitSymbol(findControlDeclaration("Lowpass Filter")->unit), "Hz");
    EXPECT_STREQ(unitSymbol(findControlDeclaration("Output AGC Threshold")->unit), "dB");
    EXPECT_STREQ(unitSymbol(findControlDeclaration("DNR LPF Disable")->unit), "");
}

}  // namespace
