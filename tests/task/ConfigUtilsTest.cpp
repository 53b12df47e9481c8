#include "task/ConfigUtils.h"

#include <gtest/gtest.h>

using Quorvane::Core::ConfigUtils;

namespace {

const char* kNormal = R"({"type":1,"main":"main","fps":25,"version":"2.1","description":"d",
  "comps":[{"name":"other","size":[1,1],"duration":3},
           {"name":"main","size":[1280,720],"duration":150}]})";

// Entrance 1 file/50 frames; segment A 2 files/100 frames offset -10;
// B 1 file/60 frames; exit 1 file/40 frames.
std::string dynamicTemplate(bool withSegments = true, bool withExit = true) {
    std::string segments = withSegments ? R"("segments":[
        {"name":"A","duration":100,"layers":[{"type":1,"source":"s1"},{"type":1,"source":"s2"}]},
        {"name":"B","duration":60,"layers":[{"type":1,"source":"s3"}]}],)"
                                        : "";
    std::string exitComp =
        withExit ? R"("exit":{"name":"X","duration":40,"layers":[{"type":1,"source":"s4"}]},)" : "";
    return std::string(R"({"type":2,"fps":25,"size":[1920,1080],
      "offsets":{"A":-10,"B":{"style":2}},
      "assets":[{"type":3,"key":"s1","name":"srcA"},{"type":3,"key":"s2","name":"srcB"},
                {"type":3,"key":"s3","name":"srcC"},{"type":3,"key":"s4","name":"srcD"},
                {"type":3,"key":"s5","name":"srcE"},{"type":1,"key":"x","name":"ignored"}],
      "sources":[{"name":"srcA"},{"name":"srcB"},{"name":"srcC"},{"name":"srcD"},{"name":"srcE"}],
      "entrance":{"name":"E","duration":50,"layers":[{"type":1,"source":"s5"}]},)") +
           exitComp + segments + R"("version":"3"})";
}

}  // namespace

TEST(ConfigUtils, NormalTemplateReadsMainCompositionOnly) {
    ConfigUtils cu(kNormal);
    ASSERT_TRUE(cu.loaded);
    EXPECT_EQ(cu.width, 1280);
    EXPECT_EQ(cu.height, 720);
    EXPECT_EQ(cu.duration, 150);
    EXPECT_EQ(cu.version, "2.1");
    EXPECT_EQ(cu.description, "d");
    for (unsigned n : {0u, 1u, 7u, 100u}) EXPECT_FLOAT_EQ(cu.getDurationWithFilesNum(n), 6.0f);
}

TEST(ConfigUtils, UnparsableOrNonObjectKeepsDefaults) {
    for (const char* text : {"", "{", "[1,2]", "42", "{\"type\":2,"}) {
        ConfigUtils cu(text);
        EXPECT_FALSE(cu.loaded) << text;
        EXPECT_EQ(cu.type, 1);
        EXPECT_EQ(cu.version, "1.0.0");
    }
}

TEST(ConfigUtils, WrongTypesAreIgnoredAndFractionalDurationSkipped) {
    ConfigUtils cu(R"({"type":1,"main":"m","fps":29.97,"version":3,
      "comps":[{"name":"m","size":["a",720.5],"duration":12.5}]})");
    ASSERT_TRUE(cu.loaded);
    EXPECT_FLOAT_EQ(cu.frameRate, 29.97f);
    EXPECT_EQ(cu.version, "1.0.0");
    EXPECT_EQ(cu.width, 0);
    EXPECT_EQ(cu.height, 0);
    EXPECT_EQ(cu.duration, 0);
}

TEST(ConfigUtils, DynamicWorkedExampleGivesThreeHundredFrames) {
    ConfigUtils cu(dynamicTemplate());
    ASSERT_TRUE(cu.loaded);
    ASSERT_NE(cu.entrance, nullptr);
    ASSERT_NE(cu.exit, nullptr);
    ASSERT_EQ(cu.segments.size(), 2u);
    EXPECT_EQ(cu.entrance->files, 1u);
    EXPECT_EQ(cu.segments[0]->files, 2u);
    EXPECT_EQ(cu.segments[0]->offset, -10);
    EXPECT_EQ(cu.segments[1]->files, 1u);
    EXPECT_EQ(cu.segments[1]->style, 2);
    EXPECT_EQ(cu.exit->files, 1u);
    EXPECT_FLOAT_EQ(cu.getDurationWithFilesNum(6), 300.0f / 25.0f);
    EXPECT_EQ(cu.duration, 300);
    EXPECT_EQ(cu.width, 1920);
}

TEST(ConfigUtils, FewFilesGiveEntranceAndExitOnly) {
    ConfigUtils cu(dynamicTemplate());
    for (unsigned n : {0u, 1u, 2u}) {
        cu.getDurationWithFilesNum(n);
        EXPECT_EQ(cu.duration, 50 + 40) << n;
    }
    cu.getDurationWithFilesNum(3);  // one file left for segments: A needs two, B takes one
    EXPECT_EQ(cu.duration, 50 + 60 + 40);
    cu.getDurationWithFilesNum(4);  // A exactly
    EXPECT_EQ(cu.duration, 50 + 90 + 40);
}

TEST(ConfigUtils, WithoutSegmentsOnlyTheEntranceCounts) {
    ConfigUtils cu(dynamicTemplate(false, true));
    EXPECT_FLOAT_EQ(cu.getDurationWithFilesNum(6), 50.0f / 25.0f);
    EXPECT_EQ(cu.duration, 50);
}

TEST(ConfigUtils, SourceUsedTwiceCountsOnceAndCyclesTerminate) {
    ConfigUtils cu(R"({"type":2,"fps":30,
      "assets":[{"type":3,"key":"a","name":"src"},{"type":3,"key":"o1","name":"O1"},
                {"type":3,"key":"o2","name":"O2"}],
      "sources":[{"name":"src"}],
      "others":[{"name":"O1","layers":[{"type":1,"source":"a"},{"type":1,"source":"o2"}]},
                {"name":"O2","layers":[{"type":1,"source":"o1"},{"type":1,"source":"a"}]}],
      "entrance":{"name":"E","duration":10,"layers":[{"type":1,"source":"a"},{"type":1,"source":"o1"},
                                                 {"type":4,"source":"a"}]}})");
    ASSERT_TRUE(cu.loaded);
    ASSERT_NE(cu.entrance, nullptr);
    EXPECT_EQ(cu.entrance->files, 1u);
}
