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

TEST_F(CompDrawTest, MovingLayersLeaveNoTrailsWhenOnlyChangedBoxesAreCopied) {
    // Bottom to top: a fixed red square; a green one moving right; a blue 3D
    // one (a layer drawn the full-frame way) in the composition plane; a white
    // one shown on frames 1 to 3 only, moving down. Each frame every pixel
    // away from an edge must show the topmost square over it, or the
    // background: a box copied too small would leave an earlier frame's or
    // layer's square behind.
    struct Square {
        RenderAVLayer* layer;
        Color color;
        int size;
        int x, y, dx, dy;
        long long in, out;
    };
    std::vector<Square> squares = {
        {nullptr, Color(1, 0, 0, 1), 12, 4, 4, 0, 0, 0, 99},
        {nullptr, Color(0, 1, 0, 1), 6, 2, 12, 3, 0, 0, 99},
        {nullptr, Color(0, 0, 1, 1), 6, 22, 2, 0, 0, 0, 99},
        {nullptr, Color(1, 1, 1, 1), 4, 24, 10, 0, 4, 1, 3},
    };
    for (size_t i = 0; i < squares.size(); ++i) {
        Square& q = squares[i];
        q.layer = root->addSolid(root, "square" + std::to_string(i), q.color, q.size, q.size, q.x, q.y, 0,
                                 q.in, q.out - q.in + 1);
        for (long long f = q.in; f <= std::min(q.out, 5LL); ++f)
            CompTestRoot::place(q.layer, Vec3(0, 0, 0), Vec3(q.x + q.dx * f, q.y + q.dy * f, 0), f);
    }
    squares[2].layer->setLayerType(kThreeDLayer, true);
    loaded();
    // In place where the context can fetch the target, then the ping-pong way.
    for (int way = 0; way < 2; ++way) {
        if (way == 1) root->manager.disableFramebufferFetch();
        for (long long frame = 0; frame < 6; ++frame) {
            Pixels p = root->drawFrame(frame);
            for (int y = 0; y < 32; ++y) {
                for (int x = 0; x < 32; ++x) {
                    const float cx = x + 0.5f, cy = y + 0.5f;
                    const Color* top = nullptr;
                    bool nearEdge = false;
                    for (const Square& q : squares) {
                        if (frame < q.in || frame > q.out) continue;
                        const float left = static_cast<float>(q.x + q.dx * frame);
                        const float upper = static_cast<float>(q.y + q.dy * frame);
                        const float right = left + q.size, lower = upper + q.size;
                        const bool inX = cx > left - 1.5f && cx < right + 1.5f;
                        const bool inY = cy > upper - 1.5f && cy < lower + 1.5f;
                        if ((inY && (std::abs(cx - left) < 1.5f || std::abs(cx - right) < 1.5f)) ||
                            (inX && (std::abs(cy - upper) < 1.5f || std::abs(cy - lower) < 1.5f)))
                            nearEdge = true;
                        if (cx > left && cx < right && cy > upper && cy < lower) top = &q.color;
                    }
                    if (nearEdge) continue;
                    const Color c = top ? *top : Color(0, 0, 0, 1);
                    ASSERT_TRUE(PixelIs(p, x, y, Channel(c.r), Channel(c.g), Channel(c.b)))
                        << "frame " << frame << ", way " << way;
                }
            }
        }
        // The 2D layers share one compositing program, the 3D layer has its own,
        // and every copy pass (the output pass's too) shares the copy program.
        if (way == 0) {
            EXPECT_EQ(root->manager.programCache().size(), 3u);
        }
    }
}

TEST_F(CompDrawTest, InPlaceCompositingGivesTheBytesOfThePingPong) {
    // Layers composite in the image itself where the context can read the
    // target under a fragment; every byte must equal the ping-pong way's:
    // blend modes over translucent pixels, opacity, rotation and scale (edge
    // strips at odd angles), a track matte, a 3D layer between 2D ones, and
    // sources narrower than their edge strip (quad and strip overlap).
    if (!root->manager.framebufferFetch()) GTEST_SKIP() << "the context cannot fetch the target";
    struct Case {
        Color color;
        int w, h;
        float x, y, angle, scale, alpha;
        BlendMode blend;
    };
    const std::vector<Case> cases = {
        {Color(0.8f, 0.2f, 0.1f, 0.7f), 20, 14, 3, 4, 0, 1, 1, BlendMode::Normal},
        {Color(0.1f, 0.9f, 0.4f, 0.6f), 12, 12, 10, 8, 33, 1.3f, 0.8f, BlendMode::Multiply},
        {Color(0.3f, 0.3f, 1.0f, 1.0f), 9, 17, 18, 2, -12, 0.9f, 0.55f, BlendMode::Screen},
        {Color(1.0f, 1.0f, 0.2f, 0.5f), 4, 4, 7, 21, 20, 0.3f, 1, BlendMode::Normal},
        {Color(0.9f, 0.5f, 0.9f, 0.5f), 30, 2, 1, 25, 7, 0.4f, 0.9f, BlendMode::Overlay},
        {Color(0.2f, 0.5f, 0.9f, 0.5f), 3, 20, 26, 8, 0, 0.3f, 1, BlendMode::Normal},
    };
    const long long frames = 3;
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        RenderAVLayer* layer = root->addSolid(root, "layer" + std::to_string(i), c.color, c.w, c.h, c.x, c.y);
        for (long long f = 0; f < frames; ++f)
            layer->setTransformAtTime(Vec3(c.w / 2.0f, c.h / 2.0f, 0), Vec3(c.x + f, c.y + 0.5f * f, 0),
                                      Vec3(0, 0, c.angle + 5.0f * f), Vec3(c.scale, c.scale, 1), f);
        layer->setAlphaAtTime(c.alpha, 0);
        layer->setBlendMode(c.blend);
    }
    RenderAVLayer* flat = root->addSolid(root, "flat", Color(0.2f, 0.7f, 0.7f, 0.5f), 10, 10, 14, 14);
    flat->setLayerType(kThreeDLayer, true);
    RenderAVLayer* matted = root->addSolid(root, "matted", Color(1, 0.4f, 0, 1), 24, 24, 4, 4);
    matted->setMatteType(kAlphaMatte);
    RenderAVLayer* matte = root->addSolid(root, "matte", Color(1, 1, 1, 0.6f), 10, 20, 9, 6);
    matte->setEnabled(false);
    loaded();
    std::vector<Pixels> inPlace;
    for (long long f = 0; f < frames; ++f) inPlace.push_back(root->drawFrame(f));
    root->manager.disableFramebufferFetch();
    for (long long f = 0; f < frames; ++f) {
        const Pixels pingPong = root->drawFrame(f);
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                ASSERT_EQ(inPlace[f].packed(x, y), pingPong.packed(x, y))
                    << "frame " << f << " at " << x << ", " << y;
    }
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

// Degenerate cameras see nothing: one scaled to nothing (its matrix has no
// inverse), one whose film has no height (a script's setFilmHeight(0)).
TEST_F(DepthTest, DegenerateCameraSeesNothing) {
    build(1.0f);
    RenderCameraLayer* camera = root->getDefaultCamera();
    camera->setScaleAtTime(Vec3(0, 0, 0), 0);
    Pixels p = root->drawFrame(0);
    for (int xy : {2, 20, 32, 45, 61}) EXPECT_TRUE(PixelIs(p, xy, xy, 0, 0, 0)) << xy;

    camera->setFilmHeight(0, true);
    EXPECT_EQ(0.0f, camera->getAspect());
    // The projection of a frustum of no width is the zero matrix.
    for (float v : camera->getProjectionMatrix().m) EXPECT_EQ(0.0f, v);
}
