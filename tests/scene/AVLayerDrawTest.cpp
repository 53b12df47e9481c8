// Rendered pixels of AV and adjustment layers, compared with colours worked
// out here from the compositing formulas: each track matte type, a matte
// drawn through a scratch target, an adjustment layer over two colours at
// full and partial opacity, a collapsed solid with an effect, and a layer
// whose source has no size.
#include <gtest/gtest.h>

#include <cmath>

#include "CompTestRoot.h"
#include "render/FullScreenRenderPass.h"
#include "render/GLShader.h"
#include "scene/RenderAdjustmentLayer.h"
#include "support/GLFixture.h"

using namespace Quorvane::Core;
using QvTest::CompTestRoot;
using QvTest::PixelIs;
using QvTest::Pixels;

namespace {

// Inverts the colour of its input over the whole target, keeping alpha.
class InvertEffect : public RenderEffect {
public:
    using RenderEffect::RenderEffect;
    InvertEffect(const InvertEffect& other) : RenderEffect(other) {}
    ~InvertEffect() override {
        delete mShader;
        if (mBuffer) glDeleteBuffers(1, &mBuffer);
    }
    std::string matchName() const override { return "QvTestInvert"; }
    void drawSelf(unsigned int texture) override {
        if (!mShader) {
            mShader = new GLShader(
                "attribute vec2 position;\nattribute vec2 inCoords;\nvarying vec2 uv;\n"
                "void main(){gl_Position = vec4(position, 0.0, 1.0); uv = inCoords;}",
                "varying vec2 uv;\nuniform sampler2D texture;\n"
                "void main(){vec4 c = texture2D(texture, uv); gl_FragColor = vec4(1.0 - c.rgb, c.a);}");
            mShader->addAttributeBinding("position", 0);
            mShader->addAttributeBinding("inCoords", 1);
            const float uv[8] = {1, 1, 1, 0, 0, 1, 0, 0};
            mBuffer = FullScreenRenderPass::newStripBuffer(uv);
        }
        glDisable(GL_BLEND);
        FullScreenRenderPass::drawStrip(mShader, mBuffer, texture);
    }

private:
    GLShader* mShader = nullptr;
    GLuint mBuffer = 0;
};

int Channel(float v) {
    return static_cast<int>(std::lround(v * 255.0f));
}

class AVLayerDrawTest : public QvTest::CompRootFixture {
protected:
    AVLayerDrawTest() : CompRootFixture(32, 32, 25, 10) {}
};

}  // namespace

TEST_F(AVLayerDrawTest, EachTrackMatteType) {
    // Blue below, red above it matted by a half-transparent light blue solid
    // covering the left half. Inside the matte its colour is (0.2, 0.6, 1.0)
    // at alpha 0.5, so its luma is 0.299 * 0.2 + 0.587 * 0.6 + 0.114 = 0.526;
    // outside it the matte reads as transparent black.
    const float alpha = 0.5f;
    const float luma = 0.299f * 0.2f + 0.587f * 0.6f + 0.114f * 1.0f;
    struct Case {
        TrackMatteType type;
        float inside, outside;  // the red layer's resulting opacity
    };
    const Case cases[] = {
        {kAlphaMatte, alpha, 0.0f},
        {kInverseAlphaMatte, 1 - alpha, 1.0f},
        {kLumaMatte, luma * alpha, 0.0f},
        {kInverseLumaMatte, 1 - luma * alpha, 1.0f},
    };
    for (const Case& c : cases) {
        auto* comp = new CompTestRoot(32, 32, 25, 10);
        comp->addSolid(comp, "below", Color(0, 0, 1, 1), 32, 32, 0, 0);
        RenderAVLayer* red = comp->addSolid(comp, "red", Color(1, 0, 0, 1), 32, 32, 0, 0);
        RenderAVLayer* matte = comp->addSolid(comp, "matte", Color(0.2f, 0.6f, 1.0f, alpha), 16, 32, 0, 0);
        matte->setEnabled(false);  // a matte is not drawn itself
        red->setMatteType(c.type);
        comp->contentLoaded();
        Pixels p = comp->drawFrame(0);
        EXPECT_TRUE(PixelIs(p, 5, 16, Channel(c.inside), 0, Channel(1 - c.inside))) << "matte " << c.type;
        EXPECT_TRUE(PixelIs(p, 26, 16, Channel(c.outside), 0, Channel(1 - c.outside))) << "matte " << c.type;
        delete comp;
    }
}

TEST_F(AVLayerDrawTest, CompositionAndZeroScaleMattes) {
    // Red over blue, matted (alpha) by a layer above it: a composition whose
    // white solid covers the left half, shown plainly or collapsed (the same
    // picture), or that solid scaled to nothing on one axis (no matte at all).
    enum Kind { kPlainComp, kCollapsedComp, kZeroWidth, kZeroHeight };
    for (Kind kind : {kPlainComp, kCollapsedComp, kZeroWidth, kZeroHeight}) {
        auto* comp = new CompTestRoot(32, 32, 25, 10);
        comp->addSolid(comp, "below", Color(0, 0, 1, 1), 32, 32, 0, 0);
        RenderAVLayer* red = comp->addSolid(comp, "red", Color(1, 0, 0, 1), 32, 32, 0, 0);
        RenderAVLayer* matte = nullptr;
        if (kind == kPlainComp || kind == kCollapsedComp) {
            auto* inner = new RenderComp(comp, 32, 32, 10, "inner");
            comp->addSolid(inner, "white", Color(1, 1, 1, 1), 16, 32, 0, 0);
            comp->createCompSource(inner, "inner-source", "");
            matte = new RenderAVLayer(comp);
            matte->setSourceID("inner-source", false);
            matte->setLayerDuration(TimeUnit(10, 25));
            CompTestRoot::place(matte, Vec3(0, 0, 0), Vec3(0, 0, 0), 0);
            matte->setLayerType(kCollapseLayer, kind == kCollapsedComp);
            comp->addLayer(matte, false);
            inner->contentLoaded();
        } else {
            matte = comp->addSolid(comp, "matte", Color(1, 1, 1, 1), 16, 32, 0, 0);
            matte->setTransformAtTime(Vec3(0, 0, 0), Vec3(0, 0, 0), Vec3(0, 0, 0),
                                      kind == kZeroWidth ? Vec3(0, 1, 1) : Vec3(1, 0, 1), 0);
        }
        matte->setEnabled(false);
        red->setMatteType(kAlphaMatte);
        comp->contentLoaded();
        Pixels p = comp->drawFrame(0);
        const bool matted = kind == kPlainComp || kind == kCollapsedComp;
        EXPECT_TRUE(PixelIs(p, 5, 16, matted ? 255 : 0, 0, matted ? 0 : 255)) << "case " << kind;
        EXPECT_TRUE(PixelIs(p, 26, 16, 0, 0, 255)) << "case " << kind;
        delete comp;
    }
}

TEST_F(AVLayerDrawTest, ThreeDimensionalMatteIsDrawnThroughAScratchTarget) {
    // A 3D matte takes the other path: drawn into a target of the composition's
    // size and placed with the identity. Seen by the default camera in the
    // composition plane it covers the top half.
    root->addSolid(root, "below", Color(0, 0, 1, 1), 32, 32, 0, 0);
    RenderAVLayer* red = root->addSolid(root, "red", Color(1, 0, 0, 1), 32, 32, 0, 0);
    RenderAVLayer* matte = root->addSolid(root, "matte", Color(1, 1, 1, 1), 32, 16, 0, 0);
    matte->setLayerType(kThreeDLayer, true);
    matte->setEnabled(false);
    red->setMatteType(kAlphaMatte);
    root->contentLoaded();
    Pixels p = root->drawFrame(0);
    EXPECT_TRUE(PixelIs(p, 5, 5, 255, 0, 0));
    EXPECT_TRUE(PixelIs(p, 26, 10, 255, 0, 0));
    EXPECT_TRUE(PixelIs(p, 5, 22, 0, 0, 255));
    EXPECT_TRUE(PixelIs(p, 26, 28, 0, 0, 255));
}

TEST_F(AVLayerDrawTest, AdjustmentLayerWorksOnTheImageBelow) {
    root->addSolid(root, "top", Color(1, 0, 0, 1), 32, 16, 0, 0);
    root->addSolid(root, "bottom", Color(0, 0.4f, 0, 1), 32, 16, 0, 16);
    auto* adjustment = new RenderAdjustmentLayer(root);
    adjustment->setLayerDuration(TimeUnit(10, 25));
    adjustment->addEffect(new InvertEffect(adjustment));
    root->addLayer(adjustment, false);
    root->contentLoaded();
    EXPECT_EQ(adjustment->width(), 32);
    EXPECT_TRUE(adjustment->layerHasContent());

    Pixels p = root->drawFrame(0);
    EXPECT_TRUE(PixelIs(p, 5, 5, 0, 255, 255));
    EXPECT_TRUE(PixelIs(p, 26, 28, 255, Channel(0.6f), 255));

    // At opacity 0.25 the result is 0.75 of the image plus 0.25 of its inverse.
    adjustment->setAlphaAtTime(0.25f, 1);
    p = root->drawFrame(1);
    EXPECT_TRUE(PixelIs(p, 5, 5, Channel(0.75f), Channel(0.25f), Channel(0.25f)));
    EXPECT_TRUE(PixelIs(p, 26, 28, Channel(0.25f), Channel(0.75f * 0.4f + 0.25f * 0.6f), Channel(0.25f)));

    // Without effects it has no content and leaves the image alone.
    adjustment->removeEffect(adjustment->getEffectByIndex(0), true);
    EXPECT_FALSE(adjustment->layerHasContent());
    p = root->drawFrame(2);
    EXPECT_TRUE(PixelIs(p, 5, 5, 255, 0, 0));
}

TEST_F(AVLayerDrawTest, CollapsedSolidWithAnEffectRunsItAtTheCompositionSize) {
    root->addSolid(root, "below", Color(0, 0, 1, 1), 32, 32, 0, 0);
    RenderAVLayer* square = root->addSolid(root, "square", Color(1, 0, 0, 1), 8, 8, 4, 20);
    square->setLayerType(kCollapseLayer, true);
    square->addEffect(new InvertEffect(square));
    root->contentLoaded();
    ASSERT_TRUE(square->shouldCollapse());
    Pixels p = root->drawFrame(0);
    // The square (x 4..11, y 20..27) inverted to cyan; the transparent rest
    // of the collapsed image stays transparent, so blue shows there.
    EXPECT_TRUE(PixelIs(p, 6, 22, 0, 255, 255));
    EXPECT_TRUE(PixelIs(p, 10, 26, 0, 255, 255));
    EXPECT_TRUE(PixelIs(p, 6, 10, 0, 0, 255));
    EXPECT_TRUE(PixelIs(p, 20, 22, 0, 0, 255));
}

TEST_F(AVLayerDrawTest, LayerWhoseSourceHasNoSizeKeepsTheImageBelow) {
    root->addSolid(root, "below", Color(0, 1, 0, 1), 32, 32, 0, 0);
    auto* empty = new RenderAVLayer(root);
    empty->setSourceID(root->createTextureSource(0, AVSource::kColorFormatRGBA, 0, 0, "empty"), false);
    empty->setLayerDuration(TimeUnit(10, 25));
    root->addLayer(empty, false);
    root->addSolid(root, "top", Color(1, 0, 0, 1), 8, 8, 0, 0);
    root->contentLoaded();
    ASSERT_TRUE(empty->layerHasContent());
    Pixels p = root->drawFrame(0);
    EXPECT_TRUE(PixelIs(p, 20, 20, 0, 255, 0));
    EXPECT_TRUE(PixelIs(p, 3, 3, 255, 0, 0));
}
