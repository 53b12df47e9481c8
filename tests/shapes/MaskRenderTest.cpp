// Layer masks on real layers of real compositions: a template with masked
// solids is loaded into a render context and drawn frame by frame, and
// every composition pixel is judged against an independent even-odd test of
// the mask outline (inside the mask the layer shows, outside the image
// below). Also: a hole, an open path, a curved mask, per-frame masks with
// frames past the end taking the last, translucent layers, the adjustment
// layer's stencil mask, stencil buffers going back to the pool, copies and
// hostile mask JSON.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "ShapeTestSupport.h"
#include "render/Config.h"
#include "render/GLFrameBufferManager.h"
#include "render/RenderEffect.h"
#include "scene/CompTestRoot.h"
#include "scene/ContextTestSupport.h"
#include "scene/RenderAVLayer.h"
#include "scene/RenderAdjustmentLayer.h"
#include "scene/RenderContext.h"
#include "shapes/Brush.h"
#include "shapes/DrawableShape.h"
#include "shapes/MaskRender.h"
#include "shapes/Shape.h"
#include "support/TestComp.h"

using namespace Quorvane::Core;
using QvTest::Pixels;
using QvTest::Poly;

namespace {

class MaskRenderTest : public QvTest::ContextFixture {
protected:
    // The first AV layer of the main composition that has a mask.
    RenderAVLayer* maskedLayer() {
        for (RenderLayer* layer : context->layers()) {
            auto* av = dynamic_cast<RenderAVLayer*>(layer);
            if (av && av->hasMask()) return av;
        }
        return nullptr;
    }
};

// Layer 48 x 40 placed at (8, 4) of a 64 x 64 composition.
constexpr int kLayerX = 8, kLayerY = 4, kLayerW = 48, kLayerH = 40;

// Judges every composition pixel farther than 2 px from the mask outline and
// from the layer's edges: red where the pixel centre is inside the mask
// (even-odd) and inside the layer, the blue background elsewhere. `inside`
// overrides the polygon test (for curved masks). The mask's coverage ends
// within half a pixel of the outline; the layer composite samples its
// texture with a bleed of up to a fifth of a texel from a neighbour, so
// pixels next to a transition are judged with a tolerance.
template <typename Inside>
int ExpectMasked(const Pixels& p, const std::vector<Poly>& outline, Inside inside, const std::string& what) {
    int judged = 0, wrong = 0;
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) {
            const double lx = x + 0.5 - kLayerX, ly = y + 0.5 - kLayerY;
            const bool inLayer = lx > 0 && ly > 0 && lx < kLayerW && ly < kLayerH;
            const double edge = std::min(std::min(std::fabs(lx), std::fabs(ly)),
                                         std::min(std::fabs(lx - kLayerW), std::fabs(ly - kLayerH)));
            if (edge < 2) continue;
            if (!outline.empty() && QvTest::OutlineDistance(outline, lx, ly) < 2) continue;
            ++judged;
            const bool red = inLayer && inside(lx, ly);
            ::testing::AssertionResult ok = QvTest::PixelIs(p, x, y, red ? 255 : 0, 0, red ? 0 : 255, 8);
            if (!ok && ++wrong <= 5) ADD_FAILURE() << what << ": " << ok.message();
        }
    }
    return judged;
}

int ExpectMasked(const Pixels& p, const std::vector<Poly>& outline, const std::string& what) {
    return ExpectMasked(
        p, outline, [&](double x, double y) { return QvTest::InsideEvenOdd(outline, x, y); }, what);
}

std::string CircleJson(double cx, double cy, double r) {
    // Four cubic quarter arcs.
    const double k = 0.5522847498 * r;
    auto pt = [](double x, double y) { return "[" + std::to_string(x) + "," + std::to_string(y) + "]"; };
    return "{\"lines\":[[" + pt(cx + r, cy) + "," + pt(cx + r, cy + k) + "," + pt(cx + k, cy + r) + "," +
           pt(cx, cy + r) + "],[" + pt(cx, cy + r) + "," + pt(cx - k, cy + r) + "," + pt(cx - r, cy + k) +
           "," + pt(cx - r, cy) + "],[" + pt(cx - r, cy) + "," + pt(cx - r, cy - k) + "," +
           pt(cx - k, cy - r) + "," + pt(cx, cy - r) + "],[" + pt(cx, cy - r) + "," + pt(cx + k, cy - r) +
           "," + pt(cx + r, cy - k) + "," + pt(cx + r, cy) + "]]}";
}

// A solid that paints its whole target green: the adjustment layer's effect.
class PaintGreenEffect : public RenderEffect {
public:
    using RenderEffect::RenderEffect;
    std::string matchName() const override { return "QvTestPaintGreen"; }
    void drawSelf(unsigned int) override {
        glClearColor(0, 1, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
    }
};

}  // namespace

TEST_F(MaskRenderTest, PerFrameMasksCutTheLayerAndFramesPastTheEndTakeTheLast) {
    const Poly lShape = {{4, 4}, {40, 4}, {40, 14}, {16, 14}, {16, 34}, {4, 34}, {4, 4}};
    const Poly outer = {{4, 4}, {44, 4}, {44, 36}, {4, 36}, {4, 4}};
    const Poly inner = {{14, 12}, {14, 26}, {30, 26}, {30, 12}, {14, 12}};
    const Poly triangle = {{6, 6}, {40, 10}, {20, 34}};  // open: the closing edge stays implied
    const std::string mask = ",\"mask\":[[" + QvTest::MaskPathJson(lShape) + "],[" +
                             QvTest::MaskPathJson(outer) + "," + QvTest::MaskPathJson(inner, true) + "],[" +
                             QvTest::MaskPathJson(triangle, false, true) + "],[" + CircleJson(24, 20, 14) +
                             "]]";
    RenderContext* ctx =
        build(QvTest::normalTemplate(64, 64, 6, QvTest::avLayer("red", 0, 6, kLayerX, kLayerY, mask),
                                     QvTest::solidAsset("red", "#FF0000", kLayerW, kLayerH)));
    ASSERT_TRUE(ctx->isLoaded());
    RenderAVLayer* layer = maskedLayer();
    ASSERT_NE(layer, nullptr);
    EXPECT_EQ(layer->mask()->maskCount(), 4u);
    EXPECT_TRUE(layer->mask()->flip());
    // Times past the end and negative times take the last shape.
    EXPECT_EQ(layer->mask()->shapeForFrame(7), layer->mask()->shapes().back());
    EXPECT_EQ(layer->mask()->shapeForFrame(-1), layer->mask()->shapes().back());
    EXPECT_EQ(layer->mask()->shapeForFrame(2), layer->mask()->shapes()[2]);

    auto circle = [](double x, double y) { return std::hypot(x - 24, y - 20) < 14; };
    int frame = 0;
    do {
        ctx->draw(0);
        Pixels p = QvTest::readContext(*ctx);
        const std::string what = "frame " + std::to_string(frame);
        switch (frame) {
            case 0:
                EXPECT_GT(ExpectMasked(p, {lShape}, what), 2500);
                break;
            case 1:
                EXPECT_GT(ExpectMasked(p, {outer, inner}, what), 2000);
                EXPECT_EQ(p.packed(kLayerX + 22, kLayerY + 19), QvTest::kBlue);  // the hole
                break;
            case 2:
                EXPECT_GT(ExpectMasked(p, {triangle}, what), 2500);
                break;
            default: {
                // The circle's own outline is judged by distance.
                std::vector<Poly> none;
                int judged = 0;
                for (int y = 0; y < 64; ++y)
                    for (int x = 0; x < 64; ++x)
                        if (std::fabs(std::hypot(x + 0.5 - kLayerX - 24, y + 0.5 - kLayerY - 20) - 14) < 2)
                            ++judged;
                EXPECT_GT(judged, 100);
                auto away = [&](double x, double y) { return circle(x, y); };
                Pixels masked = p;
                for (int y = 0; y < 64; ++y)
                    for (int x = 0; x < 64; ++x)
                        if (std::fabs(std::hypot(x + 0.5 - kLayerX - 24, y + 0.5 - kLayerY - 20) - 14) < 2) {
                            uint8_t* v = &masked.rgba[4 * (static_cast<size_t>(y) * 64 + x)];
                            const uint32_t expect =
                                circle(x + 0.5 - kLayerX, y + 0.5 - kLayerY) ? QvTest::kRed : QvTest::kBlue;
                            v[0] = uint8_t(expect >> 24);
                            v[1] = uint8_t(expect >> 16);
                            v[2] = uint8_t(expect >> 8);
                            v[3] = uint8_t(expect);
                        }
                EXPECT_GT(ExpectMasked(masked, none, away, what), 3000);
                break;
            }
        }
        ++frame;
    } while (ctx->stepForward());
    EXPECT_EQ(frame, 6);
}

TEST_F(MaskRenderTest, TranslucentLayerLooksTheSameInsideItsMask) {
    // The same half-transparent solid twice: once masked by a rectangle
    // larger than itself, once without mask.
    const Poly all = {{-10, -10}, {30, -10}, {30, 30}, {-10, 30}, {-10, -10}};
    const std::string mask = ",\"mask\":[[" + QvTest::MaskPathJson(all) + "]]";
    RenderContext* ctx = build(QvTest::normalTemplate(
        64, 64, 2, QvTest::avLayer("glass", 0, 2, 4, 4, mask) + "," + QvTest::avLayer("glass", 0, 2, 36, 36),
        QvTest::solidAsset("glass", "#80FF8000", 20, 20)));
    ASSERT_TRUE(ctx->isLoaded());
    ctx->draw(0);
    Pixels p = QvTest::readContext(*ctx);
    const uint8_t* masked = p.at(14, 14);
    const uint8_t* plain = p.at(46, 46);
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(masked[c], plain[c], 2) << "channel " << c;
    // Half red over blue: neither channel is saturated.
    EXPECT_NEAR(plain[0], 128, 3);
    EXPECT_NEAR(plain[2], 127, 3);
}

TEST_F(MaskRenderTest, AdjustmentLayerActsOnlyInsideItsMask) {
    QvTest::CompTestRoot root(32, 32, 25, 4);
    root.addSolid(&root, "below", Color(1, 0, 0, 1), 32, 32, 0, 0);
    auto* adjustment = new RenderAdjustmentLayer(&root);
    adjustment->setLayerDuration(TimeUnit(4, 25));
    adjustment->addEffect(new PaintGreenEffect(adjustment));
    rapidjson::Document doc;
    const Poly box = {{8, 4}, {24, 4}, {24, 12}, {8, 12}, {8, 4}};
    // Frame 1 has an empty mask: the adjustment acts nowhere.
    const std::string json = "{\"mask\":[[" + QvTest::MaskPathJson(box) + "],[]]}";
    doc.Parse(json.c_str());
    adjustment->loadFromJson(doc);
    root.addLayer(adjustment, false);
    root.contentLoaded();
    ASSERT_TRUE(adjustment->hasMask());
    EXPECT_FALSE(adjustment->mask()->flip());

    Pixels p = root.drawFrame(0);
    int wrong = 0;
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            if (QvTest::OutlineDistance({box}, x + 0.5, y + 0.5) < 1.5) continue;
            const bool in = QvTest::InsideEvenOdd({box}, x + 0.5, y + 0.5);
            if (!QvTest::PixelIs(p, x, y, in ? 0 : 255, in ? 255 : 0, 0) && ++wrong <= 5)
                ADD_FAILURE() << QvTest::PixelIs(p, x, y, in ? 0 : 255, in ? 255 : 0, 0).message();
        }
    }
    EXPECT_EQ(wrong, 0);
    p = root.drawFrame(1);
    for (int y = 0; y < 32; y += 3)
        for (int x = 0; x < 32; x += 3) EXPECT_TRUE(QvTest::PixelIs(p, x, y, 255, 0, 0));
}

TEST_F(MaskRenderTest, StencilBuffersReturnToThePoolAndCopiesStartWithout) {
    const Poly box = {{2, 2}, {20, 2}, {20, 20}, {2, 20}, {2, 2}};
    const std::string mask = ",\"mask\":[[" + QvTest::MaskPathJson(box) + "]]";
    RenderContext* ctx = build(QvTest::normalTemplate(64, 64, 4, QvTest::avLayer("red", 0, 2, 0, 0, mask),
                                                      QvTest::solidAsset("red", "#FF0000", 24, 24)));
    ASSERT_TRUE(ctx->isLoaded());
    RenderAVLayer* layer = maskedLayer();
    ASSERT_NE(layer, nullptr);
    MaskRender* maskPass = layer->mask();
    EXPECT_EQ(maskPass->getStencilBuffer(), nullptr);
    ctx->draw(0);
    ASSERT_NE(maskPass->getStencilBuffer(), nullptr);
    EXPECT_EQ(maskPass->getStencilBuffer()->width(), 24);
    EXPECT_EQ(maskPass->getStencilBuffer()->height(), 24);
    const size_t pooled = ctx->frameBufferManager()->pooledStencilCount();
    // Past the layer's range the composition unprepares it.
    ctx->stepForward();
    ctx->stepForward();
    ctx->draw(0);
    EXPECT_EQ(maskPass->getStencilBuffer(), nullptr);
    EXPECT_EQ(ctx->frameBufferManager()->pooledStencilCount(), pooled + 1);

    MaskRender copy(*maskPass);
    EXPECT_EQ(copy.maskCount(), 1u);
    EXPECT_TRUE(copy.flip());
    EXPECT_EQ(copy.getStencilBuffer(), nullptr);
    ASSERT_NE(copy.shapes()[0], maskPass->shapes()[0]);
    EXPECT_EQ(copy.shapes()[0]->getBbox(), maskPass->shapes()[0]->getBbox());
    EXPECT_EQ(copy.getDrawableShape()->fillBrush(), copy.brush());
    EXPECT_TRUE(copy.getDrawableShape()->antiAlias());
}

TEST_F(MaskRenderTest, HostileMaskJsonNeverCrashesAndMalformedFramesShowNothing) {
    // Frame 0: elements of every wrong type; frame 1: not an array (an
    // empty shape); frame 2: segments of wrong sizes, malformed points,
    // coordinates beyond the float range; frame 3: a huge rectangle
    // covering the layer; frame 4: coordinates near the float limit.
    const std::string mask =
        ",\"mask\":["
        "[5, \"x\", null, {}, {\"lines\": 7}, {\"lines\": []}, {\"lines\": {}}, {\"hole\": 3, \"lines\": "
        "[1]}],"
        "{\"not\": \"a frame\"},"
        "[{\"hole\": \"yes\", \"open\": 1, \"lines\": [[[0,0],[1]], [[0,0],[\"a\",1]], [[1,2],[3,4],[5,6]],"
        " [[0,0]], [[0,0],[1e300,5]], 3, [[0,0],[-1e39,1e39]], [[0,0],[10,0],[10,10],[0,10],[5,5]]]}],"
        "[{\"lines\": [[[-1000000,-1000000],[1000000,-1000000]], [[0,0],[1000000,1000000]],"
        " [[0,0],[-1000000,1000000]]]}],"
        "[{\"lines\": [[[0,0],[3.4e38,1]], [[0,0],[1,3.4e38],[-3.4e38,-3.4e38],[5,5]], "
        "[[0,0],[-3.4e38,0]]]}]]";
    RenderContext* ctx = build(QvTest::normalTemplate(64, 64, 5, QvTest::avLayer("red", 0, 5, 0, 0, mask),
                                                      QvTest::solidAsset("red", "#FF0000", 32, 32)));
    ASSERT_TRUE(ctx->isLoaded());
    RenderAVLayer* layer = maskedLayer();
    ASSERT_NE(layer, nullptr);
    ASSERT_EQ(layer->mask()->maskCount(), 5u);
    EXPECT_EQ(layer->mask()->shapes()[0]->pathCount(), 0u);
    EXPECT_EQ(layer->mask()->shapes()[1]->pathCount(), 0u);
    int frame = 0;
    do {
        ctx->draw(0);
        Pixels p = QvTest::readContext(*ctx);
        if (frame <= 1) {
            EXPECT_EQ(p.packed(16, 16), QvTest::kBlue) << "frame " << frame;
        }
        if (frame == 3) {
            EXPECT_EQ(p.packed(16, 16), QvTest::kRed);
        }
        EXPECT_EQ(p.packed(48, 48), QvTest::kBlue) << "frame " << frame;
        ++frame;
    } while (ctx->stepForward());
    EXPECT_EQ(frame, 5);

    // A mask that is not an array makes no mask; a mask pass fed anything
    // but an array stays empty and draws nothing.
    MaskRender loose(layer, true);
    rapidjson::Document doc;
    doc.Parse("{\"mask\": 3}");
    loose.loadFromJson(doc);
    EXPECT_EQ(loose.maskCount(), 0u);
    loose.prepareForFrame(0);
    EXPECT_EQ(loose.getStencilBuffer(), nullptr);
    EXPECT_EQ(loose.shapeForFrame(0), nullptr);
}

TEST_F(MaskRenderTest, LayerThatChangesSizeGetsAStencilAndTargetOfItsNewSize) {
    QvTest::TestComp comp(64, 64, 25);
    GLFrameBufferManager manager;
    comp.manager = &manager;
    auto* layer = new RenderLayer(&comp, kAVLayer, false);
    comp.addLayer(layer, false);
    layer->setWidth(32);
    layer->setHeight(32);
    GLRenderDestination source(64, 64);
    manager.pushDestination(&source);
    glClearColor(1, 1, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    manager.popDestination(false);

    MaskRender mask(layer, true);
    rapidjson::Document doc;
    const Poly box = {{2, 2}, {60, 2}, {60, 30}, {2, 30}, {2, 2}};
    doc.Parse(("[[" + QvTest::MaskPathJson(box) + "]]").c_str());
    mask.loadFromJson(doc);
    for (int size : {32, 64}) {
        layer->setWidth(size);
        mask.prepareForFrame(0);
        mask.draw(source.grabTextureForRead(true));
        ASSERT_NE(mask.getStencilBuffer(), nullptr);
        EXPECT_EQ(mask.getStencilBuffer()->width(), size);
        EXPECT_EQ(mask.getDestination()->width(), size);
        Pixels p = readTexture(mask.getOutputTexture(), size, 32);
        // The box spans x 2..60 and y 2..30 of the layer at either size.
        EXPECT_EQ(p.packed(0, 16), 0u) << size;
        EXPECT_EQ(p.packed(4, 16), 0xFFFFFFFFu) << size;
        EXPECT_EQ(p.packed(size - 4, 16), size == 64 ? 0u : 0xFFFFFFFFu) << size;
        EXPECT_EQ(p.packed(size / 2, 31), 0u) << size;
    }
    mask.unprepare();
    EXPECT_EQ(manager.pooledStencilCount(), 2u);
}
