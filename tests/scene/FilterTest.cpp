// Filter templates over a context: placement and stretching, visibility
// boundaries, looping of the filter composition, and removal without leftovers.
#include <gtest/gtest.h>

#include <set>

#include "scene/ContextTestSupport.h"
#include "scene/FilterManager.h"
#include "scene/RenderAVLayer.h"
#include "support/MediaGen.h"

using namespace Quorvane::Core;
using namespace QvTest;

namespace {

std::string filterTemplate(int width, int height, int duration, const std::string& layers = std::string(),
                           const std::string& assets = std::string(), int type = 4) {
    return "{\"type\":" + std::to_string(type) + ",\"main\":\"f\",\"fps\":25,\"assets\":[" + assets +
           "],\"comps\":[{\"name\":\"f\",\"size\":[" + std::to_string(width) + "," + std::to_string(height) +
           "],\"duration\":" + std::to_string(duration) + ",\"layers\":[" + layers + "]}]}";
}

void expectVec3(const Vec3& v, float x, float y, float z) {
    EXPECT_NEAR(v.x, x, 1e-4);
    EXPECT_NEAR(v.y, y, 1e-4);
    EXPECT_NEAR(v.z, z, 1e-4);
}

struct Registry {
    std::set<std::string> sources;
    std::set<std::string> comps;
    std::vector<RenderLayer*> layers;
    explicit Registry(const RenderContext& ctx) : layers(ctx.layers()) {
        for (const auto& e : ctx.sources()) sources.insert(e.first);
        for (const auto& e : ctx.comps()) comps.insert(e.first);
    }
    bool operator==(const Registry& o) const {
        return sources == o.sources && comps == o.comps && layers == o.layers;
    }
};

class FilterTest : public GLFixture {
protected:
    TemplateFolder folder;
};

}  // namespace

TEST_F(FilterTest, FilterIsStretchedOverTheContextAxisByAxis) {
    RenderContext ctx(1080, 1920, 25.0f, 10, "images", true, 0, -1);
    FilterManager* filters = ctx.filterManager();
    Config portrait(filterTemplate(720, 1280, 10), folder.folder());
    const std::string name = filters->addFilter(&portrait, 0, 0);
    ASSERT_EQ(name, portrait.mainCompName());
    RenderAVLayer* layer = filters->filterLayer(name);
    ASSERT_NE(layer, nullptr);
    EXPECT_EQ(ctx.layers().back(), layer);
    expectVec3(layer->getScale(0), 1.5f, 1.5f, 1.0f);
    expectVec3(layer->getAnchor(0), 360, 640, 0);
    expectVec3(layer->getPosition(0), 540, 960, 0);
    EXPECT_EQ(layer->layerType() & FilterManager::kFilterLayerType, FilterManager::kFilterLayerType);
    EXPECT_EQ(layer->layerInPoint().frameCount(), 0);
    EXPECT_EQ(layer->layerDuration().frameCount(), 10);

    Config square(filterTemplate(1000, 1000, 10), folder.folder());
    RenderAVLayer* squareLayer = filters->filterLayer(filters->addFilter(&square, 10, -20));
    ASSERT_NE(squareLayer, nullptr);
    expectVec3(squareLayer->getScale(0), 1.08f, 1.92f, 1.0f);
    expectVec3(squareLayer->getPosition(0), 550, 940, 0);
    EXPECT_EQ(filters->filterCount(), 2u);
}

TEST_F(FilterTest, RefusedConfigurationsAddNothing) {
    RenderContext ctx(100, 100, 25.0f, 10, "images", true, 0, -1);
    const Registry before(ctx);
    Config normal(filterTemplate(50, 50, 10, "", "", 1), folder.folder());
    EXPECT_EQ(ctx.filterManager()->addFilter(&normal, 0, 0), "");
    EXPECT_EQ(ctx.filterManager()->addFilter(nullptr, 0, 0), "");
    Config flat(filterTemplate(50, 0, 10), folder.folder());
    testing::internal::CaptureStderr();
    EXPECT_EQ(ctx.filterManager()->addFilter(&flat, 0, 0), "");
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("has size 50x0, refused"), std::string::npos) << log;
    EXPECT_TRUE(Registry(ctx) == before);
    EXPECT_EQ(ctx.filterManager()->filterCount(), 0u);
}

TEST_F(FilterTest, VisibilityFollowsThePositionAgainstTheInnerRectangle) {
    RenderContext ctx(100, 100, 25.0f, 10, "images", true, 0, -1);
    FilterManager* filters = ctx.filterManager();
    EXPECT_FALSE(filters->hasVisibleFilter());
    Config cfg(filterTemplate(50, 50, 10), folder.folder());
    const std::string name = filters->addFilter(&cfg, 0, 0);
    EXPECT_TRUE(filters->hasVisibleFilter());
    filters->translateFilter(name, -98.0f, 0.0f);  // centre (-48, 50)
    expectVec3(filters->filterLayer(name)->getPosition(0), -48, 50, 0);
    EXPECT_TRUE(filters->hasVisibleFilter());
    filters->translateFilter(name, -99.0f, 0.0f);  // centre (-49, 50): ends where the inner rectangle begins
    EXPECT_FALSE(filters->hasVisibleFilter());
    filters->translateFilter(name, 0.0f, 98.0f);  // centre (50, 148)
    EXPECT_TRUE(filters->hasVisibleFilter());
    filters->translateFilter(name, 0.0f, 99.0f);
    EXPECT_FALSE(filters->hasVisibleFilter());

    filters->translateFilter(name, 0.0f, 0.0f);
    filters->setFilterEnable(name, false);
    EXPECT_FALSE(filters->hasVisibleFilter());
    filters->setFilterEnable(name, true);
    EXPECT_TRUE(filters->hasVisibleFilter());
    filters->translateFilter("unknown", 500.0f, 0.0f);
    filters->setFilterEnable("unknown", false);
    EXPECT_TRUE(filters->hasVisibleFilter());
}

TEST_F(FilterTest, TranslationAlongOneAxis) {
    RenderContext ctx(1080, 1920, 25.0f, 10, "images", true, 0, -1);
    FilterManager* filters = ctx.filterManager();
    Config cfg(filterTemplate(720, 1280, 10), folder.folder());
    const std::string name = filters->addFilter(&cfg, 0, 0);
    RenderAVLayer* layer = filters->filterLayer(name);
    filters->translateFilter(name, kFilterTranslateHorizontal, -1.0f);
    expectVec3(layer->getPosition(0), -540, 960, 0);
    EXPECT_FALSE(filters->hasVisibleFilter());
    filters->translateFilter(name, kFilterTranslateHorizontal, -0.5f);
    expectVec3(layer->getPosition(0), 0, 960, 0);
    EXPECT_TRUE(filters->hasVisibleFilter());
    filters->translateFilter(name, kFilterTranslateVertical, 0.25f);
    expectVec3(layer->getPosition(0), 540, 1440, 0);
    filters->translateFilter(name, static_cast<FilterTranslateDirection>(2), 3.0f);
    expectVec3(layer->getPosition(0), 540, 1440, 0);
    expectVec3(layer->getScale(0), 1.5f, 1.5f, 1.0f);
}

TEST_F(FilterTest, AddingAgainReplacesAndPutsItBackOnTop) {
    RenderContext ctx(100, 100, 25.0f, 10, "images", true, 0, -1);
    FilterManager* filters = ctx.filterManager();
    Config cfg(filterTemplate(50, 50, 10), folder.folder());
    const std::string name = filters->addFilter(&cfg, 0, 0);
    RenderAVLayer* layer = filters->filterLayer(name);
    ctx.addWatermark(folder.asset("none.png"), Vec2(0, 0), Vec2(0, 0), Vec2(1, 1));
    ASSERT_EQ(ctx.layers().size(), 2u);
    const size_t comps = ctx.comps().size();
    EXPECT_EQ(filters->addFilter(&cfg, 10, 0), name);
    EXPECT_EQ(filters->filterLayer(name), layer);
    EXPECT_EQ(ctx.layers().size(), 2u);
    EXPECT_EQ(ctx.layers().back(), layer);
    EXPECT_EQ(ctx.comps().size(), comps);
    expectVec3(layer->getPosition(0), 60, 50, 0);
}

TEST_F(FilterTest, RemovalLeavesNoLayerCompositionOrSourceBehind) {
    RenderContext ctx(64, 64, 25.0f, 10, "images", true, 0, -1);
    FilterManager* filters = ctx.filterManager();
    const Registry before(ctx);
    const std::string nested =
        "{\"name\":\"inner\",\"size\":[8,8],\"duration\":10,\"layers\":[" + avLayer("green", 0, 10) + "]}";
    std::string json =
        filterTemplate(32, 32, 10, avLayer("green", 0, 10) + "," + avLayer("innerSrc", 0, 10, 4, 4),
                       solidAsset("green", "#00FF00", 8, 8) + "," + compAsset("innerSrc", "inner"));
    // The second "inner" is never registered, so it is not the filter's to remove.
    json.insert(json.size() - 2, "," + nested + "," + nested);
    Config cfg(json, folder.folder());
    const std::string name = filters->addFilter(&cfg, 0, 0);
    ASSERT_NE(name, "");
    EXPECT_EQ(ctx.comps().size(), before.comps.size() + 2);
    EXPECT_NE(ctx.source(name), nullptr);
    for (int i = 0; i < 3; ++i) {
        ctx.draw(0);
        ctx.stepForward();
    }
    filters->removeFilter(name);
    EXPECT_TRUE(Registry(ctx) == before);
    EXPECT_EQ(filters->filterCount(), 0u);
    filters->removeFilter(name);
    ctx.draw(0);
    Pixels p = readContext(ctx);
    EXPECT_EQ(pixelAt(p, 10, 10), kWhite);
}

TEST_F(FilterTest, ShortFilterLoopsUnderALongerVideo) {
    ASSERT_TRUE(makeVideo(folder.asset("long.mp4"), VideoSpec{64, 64, 25, 1, 100, 100}));
    ASSERT_TRUE(makeVideo(folder.asset("short.mp4"), VideoSpec{16, 32, 25, 1, 30, 0}));
    folder.writeConfig(normalTemplate(64, 64, 100, avLayer("long", 0, 100), fileAsset("long", "long.mp4")));
    Config config(folder.folder());
    RenderContext ctx(&config, nullptr, true, 0, -1);
    ctx.setGLContext(sharedContext());
    ASSERT_TRUE(ctx.isLoaded());

    TemplateFolder filterFolder;
    ASSERT_TRUE(makeVideo(filterFolder.asset("short.mp4"), VideoSpec{16, 32, 25, 1, 30, 0}));
    filterFolder.writeConfig(
        filterTemplate(32, 32, 30, avLayer("short", 0, 30), fileAsset("short", "short.mp4")));
    Config filter(filterFolder.folder());
    ASSERT_NE(ctx.filterManager()->addFilter(&filter, 0, 0), "");

    int frame = 0;
    do {
        ctx.draw(0);
        Pixels p = readContext(ctx);
        const uint8_t* left = p.at(16, 32);
        const uint8_t* right = p.at(48, 32);
        // The filter's 32 x 32 composition is stretched to 64 x 64: its
        // 16-pixel video covers the left half, the render's video the right.
        EXPECT_EQ(indexFromColor(left[0], left[1], left[2]), frame % 30) << "frame " << frame;
        EXPECT_EQ(indexFromColor(right[0], right[1], right[2]), 100 + frame) << "frame " << frame;
        ++frame;
    } while (ctx.stepForward());
    EXPECT_EQ(frame, 100);
}
