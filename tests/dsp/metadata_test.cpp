// The metadata table and the product's declared metadata.
#include "dsp/metadata.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "dsp/mydsp.h"

namespace {

TEST(MetadataTable, MatchesKeysByTextAndReplacesValues) {
    metadataTable table;
    EXPECT_EQ(table.find("name"), nullptr);
    table.declare("name", "first");
    const std::string sameKey = "name";
    table.declare(sameKey.c_str(), "second");
    EXPECT_EQ(table.size(), 1);
    EXPECT_STREQ(table.find("name"), "second");
    EXPECT_EQ(table.find("Name"), nullptr);
}

TEST(MetadataTable, StoresReferencesNotCopies) {
    static const char value[] = "constant text";
    metadataTable table;
    table.declare("key", value);
    EXPECT_EQ(table.find("key"), value);
}

TEST(ProductMetadata, DeclaresTheTwentyThreePairs) {
    auto processor = std::make_unique<mydsp>();  // never initialised: declaring reads no state
    metadataTable table;
    processor->declareMetadata(&table);
    EXPECT_EQ(table.size(), 23);

    const char* fixed[][2] = {
        {"analyzers_lib_name", "Zelko Analyzer Library"},
        {"analyzers_lib_version", "0.0"},
        {"author", "Velmara"},
        {"basics_lib_name", "Zelko Basic Element Library"},
        {"basics_lib_version", "0.0"},
        {"filename", "Tavrel_ORB-VN52k8e-22k"},
        {"filters_lib_name", "Zelko Filters Library"},
        {"filters_lib_version", "0.0"},
        {"library_path", "Tavrel_ORB-VN52k8e-22k"},
        {"maths_lib_author", "ORVID"},
        {"maths_lib_copyright", "ORVID"},
        {"maths_lib_license", "LGPL with exception"},
        {"maths_lib_name", "Zelko Math Library"},
        {"maths_lib_version", "2.1"},
        {"misceffects_lib_name", "Zelko Math Library"},
        {"misceffects_lib_version", "2.0"},
        {"name", "Tavrel_ORB-VN52k8e-22k"},
        {"noises_lib_name", "Zelko Noise Generator Library"},
        {"noises_lib_version", "0.0"},
        {"signals_lib_name", "Zelko Signal Routing Library"},
        {"signals_lib_version", "0.0"},
    };
    for (const auto& pair : fixed) {
        ASSERT_NE(table.find(pair[0]), nullptr) << pair[0];
        EXPECT_STREQ(table.find(pair[0]), pair[1]) << pair[0];
    }
    // The two build descriptions are opaque, but present and not empty.
    ASSERT_NE(table.find("compilation_options"), nullptr);
    ASSERT_NE(table.find("compile_options"), nullptr);
    EXPECT_GT(std::strlen(table.find("compilation_options")), 0u);
    EXPECT_GT(std::strlen(table.find("compile_options")), 0u);
    EXPECT_EQ(table.find("version"), nullptr);
    EXPECT_EQ(table.find("id"), nullptr);
}

}  // namespace
