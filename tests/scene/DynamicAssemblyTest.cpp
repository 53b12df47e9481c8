// The timeline a render context assembles from a dynamic template and the
// user's files: which file each element shows on the rendered frames, the
// segment choice with its tail rule, offsets, styles and tiling, and the
// agreement with the hosts' duration estimate.
#include <gtest/gtest.h>

#include "DynamicTestSupport.h"
#include "task/ConfigUtils.h"

using namespace Quorvane::Core;
using namespace QvTest;

namespace {

class DynamicAssemblyTest : public DynamicFixture {
protected:
    // Entrance of one file and 50 frames; A: two files, 100 frames, offset -10;
    // B: one file, 60 frames; exit: one file, 40 frames.
    static DynamicTemplate workedExample() {
        DynamicTemplate t(64, 32);
        t.source("SE").source("SA1").source("SA2").source("SB").source("SX");
        t.entrance("E", 50, {"SE"}).segment("A", 100, {"SA1", "SA2"}).segment("B", 60, {"SB"});
        t.exit("X", 40, {"SX"}).offset("A", "-10");
        return t;
    }

    // The files shown left (x 16) and right (x 48) on a rendered frame: file
    // indices, -1 for the black background, -2 for the grey placeholder.
    std::pair<int, int> shown(long long frame) {
        const Pixels p = frameAt(frame);
        auto which = [&](int x) {
            const uint32_t c = pixelAt(p, x, 16);
            for (size_t i = 0; i < fileColors().size(); ++i)
                if (c == packed(fileColors()[i])) return static_cast<int>(i);
            if (c == 0x000000FF) return -1;
            if (c == 0x808080FF) return -2;
            ADD_FAILURE() << "frame " << frame << " x " << x << ": unexpected colour " << std::hex << c;
            return -3;
        };
        return {which(16), which(48)};
    }

    // The template segment a used segment was copied from, told by its count
    // and the files it shows.
    std::vector<int> filesOf(DynamicSegmentComp* segment, const std::vector<std::string>& paths) {
        std::vector<int> out;
        for (DynamicSourceComp* s : segment->sourceComps())
            for (size_t i = 0; i < paths.size(); ++i)
                if (s->sourceFile() == paths[i]) out.push_back(static_cast<int>(i));
        return out;
    }
};

}  // namespace

TEST_F(DynamicAssemblyTest, WorkedExampleRendersEachFileWhereItBelongs) {
    const std::vector<std::string> paths = files(6);
    RenderContext* ctx = build(workedExample().json(), paths);
    ASSERT_TRUE(ctx->isLoaded());
    EXPECT_EQ(ctx->duration(), 300u);
    EXPECT_EQ(ctx->width(), 64);

    // Entrance [0, 50), A [40, 140) above it, B [140, 200), B [200, 260), exit [260, 300).
    EXPECT_EQ(shown(0), std::make_pair(0, -1));
    EXPECT_EQ(shown(39), std::make_pair(0, -1));
    EXPECT_EQ(shown(40), std::make_pair(1, 2));
    EXPECT_EQ(shown(139), std::make_pair(1, 2));
    EXPECT_EQ(shown(140), std::make_pair(3, -1));
    EXPECT_EQ(shown(199), std::make_pair(3, -1));
    EXPECT_EQ(shown(200), std::make_pair(4, -1));
    EXPECT_EQ(shown(259), std::make_pair(4, -1));
    EXPECT_EQ(shown(260), std::make_pair(5, -1));
    EXPECT_EQ(shown(299), std::make_pair(5, -1));
    EXPECT_FALSE(ctx->stepForward());

    // Files to segments: entrance, A copy, A copy, B copy, another B copy, exit.
    ASSERT_NE(ctx->entranceComp(), nullptr);
    EXPECT_EQ(ctx->segmentThatUsesFileAt(0), ctx->entranceComp());
    DynamicSegmentComp* a = ctx->segmentThatUsesFileAt(1);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(ctx->segmentThatUsesFileAt(2), a);
    EXPECT_NE(a, ctx->comp(name("A")));
    EXPECT_EQ(filesOf(a, paths), (std::vector<int>{1, 2}));
    DynamicSegmentComp* b1 = ctx->segmentThatUsesFileAt(3);
    DynamicSegmentComp* b2 = ctx->segmentThatUsesFileAt(4);
    ASSERT_TRUE(b1 && b2);
    EXPECT_NE(b1, b2);
    EXPECT_EQ(filesOf(b2, paths), (std::vector<int>{4}));
    EXPECT_EQ(ctx->segmentThatUsesFileAt(5), ctx->exitComp());
    EXPECT_EQ(ctx->segmentThatUsesFileAt(6), nullptr);
    EXPECT_EQ(ctx->segmentThatUsesFileAt(-1), nullptr);
    EXPECT_EQ(ctx->segmentThatUsesFile(paths[3]), b1);
    EXPECT_EQ(ctx->sourceCompThatUsesFile(paths[3]), b1->sourceComps()[0]);
    EXPECT_EQ(ctx->segmentThatUsesFile(""), nullptr);
    // The template's own segments keep their placeholders.
    auto* templateA = dynamic_cast<DynamicSegmentComp*>(ctx->comp(name("A")));
    ASSERT_NE(templateA, nullptr);
    EXPECT_EQ(templateA->replaceableSourceCount(), 2u);
    EXPECT_TRUE(templateA->sourceComps()[0]->sourceFile().empty());
    EXPECT_NE(ctx->dynamicSourceComp(name("SB")), nullptr);
    EXPECT_EQ(ctx->dynamicSourceComp("SB"), nullptr);
}

TEST_F(DynamicAssemblyTest, DurationAgreesWithTheHostsEstimate) {
    const std::vector<std::string> paths = files(12);
    DynamicTemplate withOffsets = workedExample();
    withOffsets.offset("X", "{\"time\":5}").offset("B", "{\"time\":-3,\"style\":1}");
    DynamicTemplate threeAndOne(64, 32);
    threeAndOne.source("S1").source("S2").source("S3").source("S4");
    threeAndOne.segment("A", 30, {"S1", "S2", "S3"}).segment("B", 20, {"S4"}).exit("X", 10, {"S1"});
    DynamicTemplate noSegments(64, 32);
    noSegments.source("S1").entrance("E", 70, {"S1"}).exit("X", 10, {"S1"});

    for (const DynamicTemplate* t : {&withOffsets, &threeAndOne, &noSegments}) {
        for (int n = 1; n <= 12; ++n) {
            const std::vector<std::string> some(paths.begin(), paths.begin() + n);
            RenderContext* ctx = build(t->json(), some);
            ConfigUtils estimate(t->json());
            const float seconds = estimate.getDurationWithFilesNum(static_cast<unsigned>(n));
            EXPECT_EQ(static_cast<int64_t>(ctx->duration()), estimate.duration) << n << " files";
            EXPECT_FLOAT_EQ(seconds, ctx->duration() / 25.0f) << n << " files";
        }
    }
}

TEST_F(DynamicAssemblyTest, TailTakesAnExactSegmentOrOneFileSegments) {
    const std::vector<std::string> paths = files(8);
    {
        // A (3) and B (1), no entrance or exit, 5 files: A 0-2, B 3, then B 4.
        DynamicTemplate t(64, 32);
        t.source("S1").source("S2").source("S3").source("S4");
        t.segment("A", 10, {"S1", "S2", "S3"}).segment("B", 10, {"S4"});
        RenderContext* ctx = build(t.json(), {paths.begin(), paths.begin() + 5});
        EXPECT_EQ(filesOf(ctx->segmentThatUsesFileAt(0), paths), (std::vector<int>{0, 1, 2}));
        EXPECT_EQ(filesOf(ctx->segmentThatUsesFileAt(3), paths), (std::vector<int>{3}));
        EXPECT_EQ(filesOf(ctx->segmentThatUsesFileAt(4), paths), (std::vector<int>{4}));
        EXPECT_EQ(ctx->duration(), 30u);
    }
    {
        // A (4) and S (1), exit of 1, 8 files: A 0-3, S 4, S 5, S 6, exit 7.
        DynamicTemplate t(64, 32);
        t.source("S1").source("S2").source("S3").source("S4").source("S5").source("SX");
        t.segment("A", 10, {"S1", "S2", "S3", "S4"}).segment("S", 5, {"S5"}).exit("X", 7, {"SX"});
        RenderContext* ctx = build(t.json(), paths);
        EXPECT_EQ(filesOf(ctx->segmentThatUsesFileAt(0), paths), (std::vector<int>{0, 1, 2, 3}));
        for (int i : {4, 5, 6})
            EXPECT_EQ(filesOf(ctx->segmentThatUsesFileAt(i), paths), (std::vector<int>{i}));
        EXPECT_EQ(ctx->segmentThatUsesFileAt(7), ctx->exitComp());
        EXPECT_EQ(ctx->duration(), 10u + 3 * 5 + 7);
    }
    {
        // A (4) alone, 6 files: A 0-3, files 4 and 5 left out; still assembled.
        DynamicTemplate t(64, 32);
        t.source("S1").source("S2").source("S3").source("S4");
        t.segment("A", 10, {"S1", "S2", "S3", "S4"});
        RenderContext* ctx = build(t.json(), {paths.begin(), paths.begin() + 6});
        EXPECT_EQ(filesOf(ctx->segmentThatUsesFileAt(3), paths), (std::vector<int>{0, 1, 2, 3}));
        EXPECT_EQ(ctx->segmentThatUsesFileAt(4), nullptr);
        EXPECT_EQ(ctx->duration(), 10u);
        EXPECT_TRUE(ctx->constructDynamicCompWithFiles({paths.begin(), paths.begin() + 6}));
    }
}

TEST_F(DynamicAssemblyTest, WithoutSegmentsTheEntranceAloneMakesTheTimeline) {
    const std::vector<std::string> paths = files(3);
    for (bool zeroCountSegment : {false, true}) {
        DynamicTemplate t(64, 32);
        t.source("SE").source("SX").entrance("E", 70, {"SE"}).exit("X", 10, {"SX"});
        t.background("BG", 40, "#FFFFFF");
        if (zeroCountSegment) t.segment("Empty", 25, {});
        RenderContext* ctx = build(t.json(), paths);
        EXPECT_EQ(ctx->duration(), 70u);
        ASSERT_EQ(ctx->layers().size(), 1u) << "only the entrance is placed";
        EXPECT_EQ(shown(10), std::make_pair(0, -1));
        EXPECT_FALSE(ctx->constructDynamicCompWithFiles(paths));
    }
}

TEST_F(DynamicAssemblyTest, BackgroundAndForegroundTileTheTimeline) {
    const std::vector<std::string> paths = files(1);
    DynamicTemplate t(64, 32);
    t.source("S1").segment("A", 100, {"S1"});
    t.background("BG", 40, "#FFFFFF").foreground("FG", 30, "#FFFF00");
    RenderContext* ctx = build(t.json(), paths);
    ASSERT_EQ(ctx->duration(), 100u);
    // Bottom: background tiles (last placed lowest), the segment, then the foreground tiles.
    const auto& layers = ctx->layers();
    ASSERT_EQ(layers.size(), 3u + 1u + 4u);
    const int backgroundStarts[] = {80, 40, 0};
    for (int i = 0; i < 3; ++i) EXPECT_EQ(layers[i]->layerInPoint().frame(25), backgroundStarts[i]);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(layers[4 + i]->layerInPoint().frame(25), 30 * i);
    // The foreground covers the segment's file.
    EXPECT_EQ(pixelAt(frameAt(85), 16, 16), packed({255, 255, 0}));
}

TEST_F(DynamicAssemblyTest, BackgroundWithoutFramesIsNotTiled) {
    const std::vector<std::string> paths = files(1);
    DynamicTemplate t(64, 32);
    t.source("S1").segment("A", 100, {"S1"});
    t.background("BG", 0, "#FFFFFF").foreground("FG", 0, "#FFFF00");
    RenderContext* ctx = build(t.json(), paths);
    EXPECT_EQ(ctx->duration(), 100u);
    EXPECT_EQ(ctx->layers().size(), 1u);
    EXPECT_EQ(shown(50), std::make_pair(0, -1));
}

TEST_F(DynamicAssemblyTest, OffsetsAndStylesPlaceSegments) {
    const std::vector<std::string> paths = files(2);
    DynamicTemplate t(64, 32);
    t.source("S1").source("S2").segment("A", 50, {"S1"}).segment("B", 50, {"S2"});
    // B starts 10 frames before A ends and lies below it.
    t.offset("B", "{\"time\":-10,\"style\":1}");
    // Members naming no composition, or a composition that is not dynamic, change nothing.
    t.offset("nothing", "5").raw("\"others\":[" + DynamicTemplate::comp("plain", 32, 32, 10, "") + "]");
    t.offset("plain", "{\"time\":7}");
    RenderContext* ctx = build(t.json(), paths);
    EXPECT_EQ(ctx->duration(), 90u);
    ASSERT_EQ(ctx->layers().size(), 2u);
    EXPECT_EQ(ctx->layers()[0]->layerInPoint().frame(25), 40);
    EXPECT_EQ(ctx->layers()[1]->layerInPoint().frame(25), 0);
    EXPECT_EQ(shown(45), std::make_pair(0, -1));  // A above B where they overlap
    EXPECT_EQ(shown(55), std::make_pair(1, -1));
    auto* b = dynamic_cast<DynamicComp*>(ctx->comp(name("B")));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->entranceDuration(), -10);
    EXPECT_EQ(b->getDynamicStyle(), kDynamicStyleBelowTop);
    ASSERT_NE(ctx->comp(name("plain")), nullptr);
    EXPECT_FALSE(ctx->comp(name("plain"))->isDynamic());
}

TEST_F(DynamicAssemblyTest, BrokenTemplatesBuildNothing) {
    const std::vector<std::string> paths = files(2);
    // Entries without a string name or of the wrong shape are skipped; a
    // second composition of a taken name is dropped.
    DynamicTemplate t(64, 32);
    t.source("S1").segment("A", 10, {"S1"}).segment("A", 99, {"S1"});
    t.raw("\"others\":[1,{\"name\":3}],\"entrance\":[]");
    RenderContext* ctx = build(t.json(), paths);
    EXPECT_EQ(ctx->entranceComp(), nullptr);
    EXPECT_EQ(ctx->duration(), 20u);
    EXPECT_TRUE(ctx->constructDynamicCompWithFiles(paths));
}
