// Rendered pixels of hand-built compositions, read back from the root
// composition's finished image and compared with colours worked out here:
// nested compositions in time (late start, freeze, loop), a collapsed
// composition, a null parent, and 3D batches with and without depth peeling.
#include <gtest/gtest.h>

#include "CompTestRoot.h"
#include "scene/RenderCameraLayer.h"
#include "scene/RenderNullLayer.h"
#include "support/GLFixture.h"

using namespace Quorvane::Core;
using QvTest::CompTestRoot;
using QvTest::PixelIs;
using QvTest::Pixels;

namespace {

class CompDrawTest : public QvTest::CompRootFixture {
protected:
    CompDrawTest() : CompRootFixture(32, 32, 25, 200) {}
    // A registered 32 x 32 composition of `frames` frames whose frame i shows
    // a full-size solid of colour colors[i].
    RenderComp* frameComp(const std::string& name, const std::vector<Color>& colors) {
        auto* comp = new RenderComp(root, 32, 32, static_cast<int>(colors.size()), name);
        for (size_t i = 0; i < colors.size(); ++i)
            root->addSolid(comp, name + std::to_string(i), colors[i], 32, 32, 0, 0, 0,
                           static_cast<long long>(i), 1);
        root->createCompSource(comp, name + "-source", "");
        return comp;
    }
    RenderAVLayer* showComp(const std::string& key, long long in, long long duration) {
        auto* layer = new RenderAVLayer(root);
        layer->setSourceID(key, false);
        const float fps = root->frameRate();
        layer->setLayerStartTime(TimeUnit(in, fps));
        layer->setLayerInPoint(TimeUnit(in, fps));
        layer->setLayerDuration(TimeUnit(duration, fps));
        root->addLayer(layer, false);
        return layer;
    }
    void loaded() {
        for (auto& entry : root->comps) entry.second->contentLoaded();
        root->contentLoaded();
    }
};

int Channel(float v) {
    return static_cast<int>(v * 255.0f + 0.5f);
}

}  // namespace

TEST_F(CompDrawTest, NestedCompositionStartsLateAndFreezesOnItsLastFrame) {
    const std::vector<Color> colors = {Color(1, 0, 0, 1), Color(0, 1, 0, 1), Color(0, 0, 1, 1),
                                       Color(1, 1, 0, 1)};
    frameComp("inner", colors);
    showComp("inner-source", 5, 20);
    loaded();
    for (long long frame = 0; frame < 12; ++frame) {
        Pixels p = root->drawFrame(frame);
        if (frame < 5) {
            EXPECT_TRUE(PixelIs(p, 16, 16, 0, 0, 0)) << "frame " << frame;  // background only
            continue;
        }
        const Color& c = colors[std::min<long long>(frame - 5, 3)];
        EXPECT_TRUE(PixelIs(p, 16, 16, Channel(c.r), Channel(c.g), Channel(c.b))) << "frame " << frame;
    }
}

TEST_F(CompDrawTest, LoopingCompositionWraps) {
    std::vector<Color> colors;
    for (int i = 0; i < 10; ++i) colors.push_back(Color(i / 10.0f, 0.5f, 1 - i / 10.0f, 1));
    RenderComp* inner = frameComp("loop", colors);
    inner->setCompType(kCompTypeLoop);
    showComp("loop-source", 0, 100);
    loaded();
    Pixels p = root->drawFrame(23);
    EXPECT_EQ(inner->currentLocalTime(), 3);
    EXPECT_TRUE(PixelIs(p, 16, 16, Channel(0.3f), Channel(0.5f), Channel(0.7f)));
    p = root->drawFrame(39);
    EXPECT_TRUE(PixelIs(p, 16, 16, Channel(0.9f), Channel(0.5f), Channel(0.1f)));
}

TEST_F(CompDrawTest, CollapsedCompositionIsDrawnInPlaceWithItsLayerTransform) {
    auto* inner = new RenderComp(root, 16, 16, 50, "collapsed");
    root->addSolid(inner, "square", Color(1, 0, 0, 1), 8, 8, 2, 2);
    root->createCompSource(inner, "collapsed-source", "");
    RenderAVLayer* holder = showComp("collapsed-source", 0, 50);
    holder->setLayerType(kCollapseLayer, true);
    CompTestRoot::place(holder, Vec3(0, 0, 0), Vec3(10, 6, 0), 0);
    loaded();
    EXPECT_EQ(inner->width(), 32);  // takes the size of the composition it is shown in
    Pixels p = root->drawFrame(0);
    // The square lands at (2, 2) + (10, 6): x 12..19, y 8..15.
    EXPECT_TRUE(PixelIs(p, 13, 9, 255, 0, 0));
    EXPECT_TRUE(PixelIs(p, 18, 14, 255, 0, 0));
    EXPECT_TRUE(PixelIs(p, 10, 12, 0, 0, 0));
    EXPECT_TRUE(PixelIs(p, 15, 6, 0, 0, 0));
    EXPECT_TRUE(PixelIs(p, 21, 12, 0, 0, 0));
    EXPECT_TRUE(PixelIs(p, 15, 17, 0, 0, 0));
}

TEST_F(CompDrawTest, NullParentMovesItsChild) {
    auto* null = new RenderNullLayer(root);
    null->setLayerDuration(TimeUnit(100, 25));
    CompTestRoot::place(null, Vec3(0, 0, 0), Vec3(8, 4, 0), 0);
    CompTestRoot::place(null, Vec3(0, 0, 0), Vec3(16, 12, 0), 1);
    root->addLayer(null, false);
    RenderAVLayer* child = root->addSolid(root, "child", Color(0, 1, 0, 1), 8, 8, 2, 2);
    child->setLinkedLayerID(null->layerID());
    loaded();

    Pixels p = root->drawFrame(0);  // (2, 2) + (8, 4): x 10..17, y 6..13
    EXPECT_TRUE(PixelIs(p, 11, 7, 0, 255, 0));
    EXPECT_TRUE(PixelIs(p, 16, 12, 0, 255, 0));
    EXPECT_TRUE(PixelIs(p, 11, 4, 0, 0, 0));
    EXPECT_TRUE(PixelIs(p, 11, 15, 0, 0, 0));
    EXPECT_TRUE(PixelIs(p, 8, 10, 0, 0, 0));
    p = root->drawFrame(1);  // (2, 2) + (16, 12): x 18..25, y 14..21
    EXPECT_TRUE(PixelIs(p, 19, 15, 0, 255, 0));
    EXPECT_TRUE(PixelIs(p, 24, 20, 0, 255, 0));
    EXPECT_TRUE(PixelIs(p, 11, 7, 0, 0, 0));
    EXPECT_TRUE(PixelIs(p, 19, 12, 0, 0, 0));
}

namespace {

// Three centred solids seen by the default camera of a 64 x 64 composition:
// green 16 x 16 nearest (z -20), red 32 x 32 in the composition plane, blue
// 100 x 100 farthest (z = focal length, so it appears at half size). The list
// puts the nearest at the bottom and the farthest on top, so only a depth
// test can show the near ones.
class DepthTest : public QvTest::CompRootFixture {
protected:
    DepthTest() : CompRootFixture(64, 64, 25, 10) {}
    float focal = 0;
    void SetUp() override {
        CompRootFixture::SetUp();
        focal = root->getDefaultCamera()->getFocalLength();
    }
    void build(float nearAlpha) {
        add("near", Color(0, 1, 0, nearAlpha), 16, -20);
        add("mid", Color(1, 0, 0, 1), 32, 0);
        add("far", Color(0, 0, 1, 1), 100, focal);
        root->contentLoaded();
    }
    void add(const std::string& id, const Color& c, int size, float z) {
        RenderAVLayer* layer = root->addSolid(root, id, c, size, size, 0, 0);
        CompTestRoot::place(layer, Vec3(size / 2.0f, size / 2.0f, 0), Vec3(32, 32, z), 0);
        layer->setLayerType(kThreeDLayer, true);
    }
};

}  // namespace

TEST_F(DepthTest, DefaultCameraSeesTheCompositionPlaneAtItsSize) {
    // focal = 32 / tan(19.8 degrees): a 39.6 degree horizontal view.
    EXPECT_NEAR(focal, 32.0 / std::tan(19.8 * M_PI / 180.0), 1e-3);
}

TEST_F(DepthTest, SharedDepthBufferShowsTheNearestLayer) {
    build(1.0f);
    Pixels p = root->drawFrame(0);
    // Projected half sizes: near 8 * f / (f - 20) = 10.3, mid 16, far 25.
    EXPECT_TRUE(PixelIs(p, 32, 32, 0, 255, 0));
    EXPECT_TRUE(PixelIs(p, 32 + 13, 32, 255, 0, 0));
    EXPECT_TRUE(PixelIs(p, 32, 32 - 13, 255, 0, 0));
    EXPECT_TRUE(PixelIs(p, 32 - 21, 32, 0, 0, 255));
    EXPECT_TRUE(PixelIs(p, 32, 32 + 21, 0, 0, 255));
    EXPECT_TRUE(PixelIs(p, 2, 2, 0, 0, 0));
    EXPECT_TRUE(PixelIs(p, 61, 61, 0, 0, 0));
}

TEST_F(DepthTest, DepthPeelingGivesTheSameOpaqueImage) {
    build(1.0f);
    root->setOITBlend(true);
    Pixels p = root->drawFrame(0);
    EXPECT_TRUE(PixelIs(p, 32, 32, 0, 255, 0));
    EXPECT_TRUE(PixelIs(p, 32 + 13, 32, 255, 0, 0));
    EXPECT_TRUE(PixelIs(p, 32 - 21, 32, 0, 0, 255));
    EXPECT_TRUE(PixelIs(p, 2, 2, 0, 0, 0));
    // Three layers deep at the centre: three passes add something, the
    // fourth adds nothing and ends the peeling.
    EXPECT_EQ(root->lastPeelPassCount(), 4);
}

TEST_F(DepthTest, TransparencyBlendsBackToFrontOnlyWithDepthPeeling) {
    build(0.5f);
    // Without peeling the half-transparent nearest layer is drawn first and
    // hides what lies behind it: half green over the black background.
    Pixels p = root->drawFrame(0);
    EXPECT_TRUE(PixelIs(p, 32, 32, 0, 128, 0));

    root->setOITBlend(true);
    p = root->drawFrame(1);
    // Peeled back to front: blue, red over it, half green over red.
    EXPECT_TRUE(PixelIs(p, 32, 32, 128, 128, 0));
    EXPECT_TRUE(PixelIs(p, 32 + 13, 32, 255, 0, 0));
}
