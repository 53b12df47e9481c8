// Watermarks over a context: when they show, where their corner lands, what
// they are made of, and what removal takes away.
#include <gtest/gtest.h>

#include <cmath>

#include "scene/ContextTestSupport.h"
#include "scene/RenderAVLayer.h"
#include "scene/Watermark.h"
#include "support/MediaGen.h"

using namespace Quorvane::Core;
using namespace QvTest;

TEST(WatermarkSpan, RoundsUpAndFallsBackToTheWholeRender) {
    Watermark::Span s = Watermark::span(Vec2(1.5f, 2.0f), 25.0f, 100);
    EXPECT_EQ(s.inPoint, 38);
    EXPECT_EQ(s.duration, 50);
    s = Watermark::span(Vec2(-3.0f, 1.0f), 30.0f, 100);
    EXPECT_EQ(s.inPoint, 0);
    EXPECT_EQ(s.duration, 30);
    for (float d : {0.001f, 0.0f, -2.0f}) {
        s = Watermark::span(Vec2(5.0f, d), 25.0f, 123);
        EXPECT_EQ(s.inPoint, 0) << d;
        EXPECT_EQ(s.duration, 123) << d;
    }
    s = Watermark::span(Vec2(0.0f, 0.002f), 25.0f, 100);
    EXPECT_EQ(s.duration, 1);
    s = Watermark::span(Vec2(5.0f, 0.0011f), 25.0f, 100);
    EXPECT_EQ(s.inPoint, 125);
    EXPECT_EQ(s.duration, 1);
    // Hostile times give bounded spans instead of undefined conversions.
    s = Watermark::span(Vec2(NAN, NAN), 25.0f, 7);
    EXPECT_EQ(s.duration, 7);
    s = Watermark::span(Vec2(NAN, 1e30f), 25.0f, 7);
    EXPECT_EQ(s.inPoint, 0);
    EXPECT_GT(s.duration, 0);
}

namespace {

class WatermarkTest : public GLFixture {
protected:
    void SetUp() override {
        GLFixture::SetUp();
        ASSERT_TRUE(makeImage(dir.file("mark.png"), 20, 10, Rgb{255, 0, 0}));
    }
    TempDir dir{"qvwatermark"};
    RenderContext ctx{320, 240, 25.0f, 100, "images", true, 0, -1};
};

}  // namespace

TEST_F(WatermarkTest, ShowsOverItsSpanWithItsCornerAtThePosition) {
    const std::string key =
        ctx.addWatermark(dir.file("mark.png"), Vec2(100, 50), Vec2(1.5f, 2.0f), Vec2(1, 1));
    ASSERT_NE(key, "");
    ASSERT_EQ(ctx.layers().size(), 1u);
    auto* layer = dynamic_cast<RenderAVLayer*>(ctx.layers().back());
    ASSERT_NE(layer, nullptr);
    EXPECT_EQ(layer->sourceID(), key);
    EXPECT_EQ(layer->layerInPoint().frameCount(), 38);
    EXPECT_EQ(layer->layerDuration().frameCount(), 50);

    for (long long frame = 0; frame < 100; ++frame) {
        if (frame == 0 || frame == 37 || frame == 38 || frame == 60 || frame == 87 || frame == 88 ||
            frame == 99) {
            ctx.draw(0);
            Pixels p = readContext(ctx);
            const bool shown = frame >= 38 && frame <= 87;
            EXPECT_EQ(pixelAt(p, 110, 55), shown ? kRed : kWhite) << "frame " << frame;
            EXPECT_EQ(pixelAt(p, 101, 51), shown ? kRed : kWhite) << "frame " << frame;
            EXPECT_EQ(pixelAt(p, 118, 58), shown ? kRed : kWhite) << "frame " << frame;
            EXPECT_EQ(pixelAt(p, 98, 48), kWhite) << "frame " << frame;
            EXPECT_EQ(pixelAt(p, 121, 61), kWhite) << "frame " << frame;
        }
        EXPECT_EQ(ctx.stepForward(), frame < 99);
    }
}

TEST_F(WatermarkTest, ScaleGrowsTheImageFromItsCorner) {
    ASSERT_TRUE(makeImage(dir.file("big.png"), 40, 20, Rgb{255, 0, 0}));
    ASSERT_NE(ctx.addWatermark(dir.file("big.png"), Vec2(20, 30), Vec2(0, 0), Vec2(0.5f, 0.5f)), "");
    ctx.draw(0);
    Pixels p = readContext(ctx);
    EXPECT_EQ(pixelAt(p, 21, 31), kRed);
    EXPECT_EQ(pixelAt(p, 38, 38), kRed);
    EXPECT_EQ(pixelAt(p, 18, 28), kWhite);
    EXPECT_EQ(pixelAt(p, 42, 42), kWhite);
    EXPECT_EQ(pixelAt(p, 45, 35), kWhite);
}

TEST_F(WatermarkTest, PathsChooseTheSourceKindAndKeysNeverRepeat) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(ctx.addWatermark(std::vector<std::string>{}, Vec2(12.5f, 3), Vec2(0, 0), Vec2(1, 1)), "");
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find(" addWatermark(), 12.500000, 3.000000"), std::string::npos) << log;
    EXPECT_TRUE(ctx.layers().empty());

    const std::string one = ctx.addWatermark(dir.file("mark.png"), Vec2(0, 0), Vec2(0, 0), Vec2(1, 1));
    const std::string two =
        ctx.addWatermark(std::vector<std::string>{dir.file("mark.png"), dir.file("mark.png")}, Vec2(0, 0),
                         Vec2(0, 0), Vec2(1, 1));
    const std::string again = ctx.addWatermark(dir.file("mark.png"), Vec2(0, 0), Vec2(0, 0), Vec2(1, 1));
    EXPECT_NE(one, two);
    EXPECT_NE(one, again);
    EXPECT_EQ(ctx.source(one)->fileType(), AVSource::kFileTypeImage);
    EXPECT_EQ(ctx.source(two)->fileType(), AVSource::kFileTypeImageSequence);
    EXPECT_EQ(ctx.source(two)->imageSequenceFils().size(), 2u);
    // Later watermarks lie above earlier ones.
    ASSERT_EQ(ctx.layers().size(), 3u);
    EXPECT_EQ(static_cast<RenderAVLayer*>(ctx.layers()[2])->sourceID(), again);
}

TEST_F(WatermarkTest, RemovalTakesOnlyTheNamedWatermarkAndNeverOneWithoutKey) {
    // An AV layer without a source has an empty source key.
    auto* bare = new RenderAVLayer(&ctx);
    ctx.addLayer(bare, false);
    const std::string a = ctx.addWatermark(dir.file("mark.png"), Vec2(0, 0), Vec2(0, 0), Vec2(1, 1));
    const std::string b = ctx.addWatermark(dir.file("mark.png"), Vec2(30, 0), Vec2(0, 0), Vec2(1, 1));
    ASSERT_EQ(ctx.layers().size(), 3u);

    ctx.removeWatermark("");
    EXPECT_EQ(ctx.layers().size(), 3u);
    EXPECT_EQ(ctx.layers()[0], bare);
    ctx.removeWatermark("no such key");
    EXPECT_EQ(ctx.layers().size(), 3u);

    ctx.draw(0);
    ctx.removeWatermark(a);
    ASSERT_EQ(ctx.layers().size(), 2u);
    EXPECT_EQ(static_cast<RenderAVLayer*>(ctx.layers()[1])->sourceID(), b);
    // The source stays registered until the context goes.
    EXPECT_NE(ctx.source(a), nullptr);
    ctx.removeWatermark(a);
    EXPECT_EQ(ctx.layers().size(), 2u);
    ctx.draw(0);
    Pixels p = readContext(ctx);
    EXPECT_EQ(pixelAt(p, 5, 5), kWhite);
    EXPECT_EQ(pixelAt(p, 35, 5), kRed);
}

TEST_F(WatermarkTest, NotLoadedContextRegistersNothing) {
    RenderContext empty(32, 32, 25.0f, 0, "images", true, 0, -1);
    EXPECT_EQ(empty.addWatermark(dir.file("mark.png"), Vec2(0, 0), Vec2(0, 0), Vec2(1, 1)), "");
    EXPECT_TRUE(empty.sources().empty());
    empty.draw(0);
}
