#include "controls/metadata.h"

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

TEST(LookupMetadata, AnswersDeclaredValuesOrTheFallback) {
    EXPECT_STREQ(lookupMetadata("name", "Effect Name goes here"), "Tavrel_ORB-VN52k8e-22k");
    EXPECT_STREQ(lookupMetadata("author", "Vendor String goes here"), "Velmara");
    static const char fallback[] = "0.0";
    EXPECT_EQ(lookupMetadata("version", fallback), fallback);
    EXPECT_STREQ(lookupMetadata("id", "ZELKO"), "ZELKO");
    EXPECT_STREQ(lookupMetadata("Author", "none"), "none");
    EXPECT_STREQ(lookupMetadata("misceffects_lib_name", ""), lookupMetadata("maths_lib_name", "x"));
}

TEST(LookupMetadata, RepeatedLookupsGiveTheSameText) {
    const char* first = lookupMetadata("author", "fallback");
    const char* second = lookupMetadata("author", "fallback");
    EXPECT_EQ(first, second);  // the processor's constant text, not a copy
    EXPECT_STREQ(second, "Velmara");
}

// A processor of another kind, to show that the lookup reads the given processor's metadata.
class IdProcessor : public dsp {
  public:
    explicit IdProcessor(int* constructed) : constructed(constructed) { ++*constructed; }
    int inputCount() override { return 1; }
    int outputCount() override { return 1; }
    void declareControls(UIReal<float>*) override {}
    int sampleRate() override { return 0; }
    void initialize(int) override {}
    void initializeInstance(int) override {}
    void computeConstants(int) override {}
    void resetControls() override {}
    void clearState() override {}
    dsp* duplicate() override { return new IdProcessor(constructed); }
    void declareMetadata(metadataTable* table) override { table->declare("id", "abc"); }
    void process(int, float**, float**) override {}
    void processAt(double, int, float**, float**) override {}

    int* constructed;
};

TEST(LookupMetadata, ThroughAPrototypeUsesADuplicateOfIt) {
    int constructed = 0;
    IdProcessor prototype(&constructed);
    EXPECT_STREQ(lookupMetadata(prototype, "id", "ZELKO"), "abc");
    EXPECT_STREQ(lookupMetadata(prototype, "name", "fallback"), "fallback");
    EXPECT_EQ(constructed, 3);  // the prototype and one temporary per lookup

    auto product = std::make_unique<mydsp>();
    EXPECT_STREQ(lookupMetadata(*product, "name", "x"), "Tavrel_ORB-VN52k8e-22k");
}

}  // namespace
