#include "controls/metadata.h"

#include <gtest/gtest.h>

#include <memory>

#include "dsp/mydsp.h"

namespace {

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
