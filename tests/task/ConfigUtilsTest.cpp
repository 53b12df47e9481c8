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

TEST(ConfigUtils, SharedOthersAreWalkedOnce) {
    // Each "others" composition uses the next one through two layers: walked
    // path by path, fifty levels would take 2^50 visits.
    std::string assets = R"({"type":3,"key":"a","name":"src"})";
    std::string others;
    const int levels = 50;
    for (int i = 0; i < levels; ++i) {
        std::string name = "O" + std::to_string(i);
        assets += R"(,{"type":3,"key":"k)" + name + R"(","name":")" + name + "\"}";
        std::string next = i + 1 < levels ? "kO" + std::to_string(i + 1) : "a";
        others += std::string(i ? "," : "") + R"({"name":")" + name + R"(","layers":[{"type":1,"source":")" +
                  next + R"("},{"type":3,"source":")" + next + R"("}]})";
    }
    ConfigUtils cu(R"({"type":2,"fps":25,"assets":[)" + assets +
                   R"(],"sources":[{"name":"src"}],"others":[)" + others +
                   R"(],"entrance":{"name":"E","layers":[{"type":1,"source":"kO0"}]}})");
    ASSERT_NE(cu.entrance, nullptr);
    EXPECT_EQ(cu.entrance->files, 1u);
}

// The segment choice written out step by step, one file at a time.
int64_t referenceFrames(const ConfigUtils& cu, unsigned n) {
    int32_t used = cu.entrance ? static_cast<int32_t>(cu.entrance->files) : 0;
    int32_t target = static_cast<int32_t>(n) - (cu.exit ? static_cast<int32_t>(cu.exit->files) : 0);
    int64_t frames = cu.entrance ? cu.entrance->duration : 0;
    for (size_t i = 0; used < target; ++i) {
        const ConfigUtils::CompData* s = cu.segments[i % cu.segments.size()];
        if (target - used >= static_cast<int32_t>(s->files)) {
            used += static_cast<int32_t>(s->files);
            frames += s->offset + s->duration;
            continue;
        }
        bool exact = false;
        for (const ConfigUtils::CompData* e : cu.segments) {
            if (static_cast<int32_t>(e->files) == target - used) {
                frames += e->offset + e->duration;
                exact = true;
                break;
            }
        }
        if (!exact) {
            std::vector<const ConfigUtils::CompData*> ones;
            for (const ConfigUtils::CompData* e : cu.segments)
                if (e->files == 1) ones.push_back(e);
            for (int32_t k = 0; k < target - used && !ones.empty(); ++k)
                frames += ones[k % ones.size()]->offset + ones[k % ones.size()]->duration;
        }
        break;
    }
    if (cu.exit) frames += cu.exit->offset + cu.exit->duration;
    return frames;
}

TEST(ConfigUtils, DurationMatchesStepwiseChoiceForSmallAndHugeCounts) {
    ConfigUtils cu(dynamicTemplate());
    for (unsigned n = 0; n <= 40; ++n) {
        cu.getDurationWithFilesNum(n);
        EXPECT_EQ(cu.duration, referenceFrames(cu, n)) << n;
    }
    // Two thousand million files: rounds of A and B (3 files, 150 frames)
    // are counted at once, so this returns at once.
    const unsigned huge = 2000000000u;
    cu.getDurationWithFilesNum(huge);
    const int64_t rounds = (huge - 2) / 3;  // one file each to entrance and exit
    const int64_t left = (huge - 2) - rounds * 3;
    const int64_t leftFrames = left == 0 ? 0 : left == 1 ? 60 : 90;  // B exactly, or A exactly
    EXPECT_EQ(cu.duration, 50 + rounds * 150 + leftFrames + 40);
}

TEST(ConfigUtils, HostileTextsAreRefusedOrBounded) {
    EXPECT_FALSE(ConfigUtils(std::string(200000, '[')).loaded);  // nesting bounded, no stack overflow
    ConfigUtils bom("\xEF\xBB\xBF{\"type\":1,\"fps\":30}");
    EXPECT_TRUE(bom.loaded);
    EXPECT_FLOAT_EQ(bom.frameRate, 30.0f);
    // An offset beyond 32 bits is no offset; durations near the 64-bit limit saturate.
    ConfigUtils cu(R"({"type":2,"fps":1,"offsets":{"B":3000000000},
      "assets":[{"type":3,"key":"s","name":"src"}],"sources":[{"name":"src"}],
      "segments":[{"name":"B","duration":9223372036854775000,"layers":[{"type":1,"source":"s"}]}]})");
    ASSERT_EQ(cu.segments.size(), 1u);
    EXPECT_EQ(cu.segments[0]->offset, 0);
    cu.getDurationWithFilesNum(5);
    EXPECT_EQ(cu.duration, INT64_MAX);
}

TEST(ConfigUtils, SecondLoadReplacesTheFirst) {
    ConfigUtils cu(dynamicTemplate());
    ASSERT_EQ(cu.segments.size(), 2u);
    EXPECT_TRUE(cu.load(kNormal));
    EXPECT_EQ(cu.type, 1);
    EXPECT_TRUE(cu.segments.empty());
    EXPECT_EQ(cu.entrance, nullptr);
    EXPECT_EQ(cu.width, 1280);
    EXPECT_FLOAT_EQ(cu.getDurationWithFilesNum(3), 6.0f);
    EXPECT_FALSE(cu.load("nope"));
    EXPECT_EQ(cu.width, 0);
    EXPECT_EQ(cu.version, "1.0.0");
}
