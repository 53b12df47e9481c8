// The effect chain as a layer draws it: sizes the effects draw at, and the
// shift of the local transform when an effect enlarges the layer.
#include <gtest/gtest.h>

#include <vector>

#include "render/GLFrameBufferManager.h"
#include "support/GLFixture.h"
#include "support/TestComp.h"

using namespace Quorvane::Core;
using QvTest::TestComp;

namespace {

// Grows its layer from whatever size it has to 300 x 150, with the layer's own
// origin at (100, 50) inside the enlarged area, as a tile effect would.
class EnlargeEffect : public RenderEffect {
public:
    using RenderEffect::RenderEffect;
    std::string matchName() const override { return "QvTestEnlarge"; }
    bool willExtendLayerSize(LayerSizeExtendData* data) override {
        RenderEffect::willExtendLayerSize(data);
        if (data->size.x == 300 && data->size.y == 150) return false;
        data->offsetDelta = Vec2(100 - data->offset.x, 50 - data->offset.y);
        data->offset = Vec2(100, 50);
        data->size = Vec2(300, 150);
        return true;
    }
    void drawSelf(unsigned int texture) override {
        GLint viewport[4];
        glGetIntegerv(GL_VIEWPORT, viewport);
        sizes.push_back({viewport[2], viewport[3]});
        inputs.push_back(texture);
    }
    std::vector<std::pair<int, int>> sizes;
    std::vector<unsigned int> inputs;
};

class LayerDrawTest : public QvTest::GLFixture {
protected:
    void SetUp() override {
        QvTest::GLFixture::SetUp();
        comp.manager = &manager;
        layer = new RenderLayer(&comp, kAVLayer, false);
        comp.addLayer(layer, false);
        LayerSizeExtendData* rec = layer->layerSizeExtendData();
        rec->size = rec->baseSize = Vec2(100, 50);
        layer->setWidth(100);
        layer->setHeight(50);
    }

    GLFrameBufferManager manager;
    TestComp comp{640, 360, 25};
    RenderLayer* layer = nullptr;
};

Mat4 Translation(float x, float y) {
    Mat4 m;
    m.setTranslate(x, y, 0);
    return m;
}

}  // namespace

TEST_F(LayerDrawTest, EnlargementShiftsWithoutDrift) {
    auto* effect = new EnlargeEffect(layer);
    layer->addEffect(effect);
    for (int frame = 0; frame < 4; ++frame) {
        layer->prepareForFrame(frame);
        layer->draw(0);
        EXPECT_EQ(layer->getLayerLocalAETransform(), Translation(-100, -50)) << "frame " << frame;
        EXPECT_EQ(layer->width(), 300);
        EXPECT_EQ(layer->height(), 150);
    }
    ASSERT_EQ(effect->sizes.size(), 4u);
    for (auto size : effect->sizes) EXPECT_EQ(size, std::make_pair(300, 150));
    // The drawing-space form follows: y up, so the shift is (-100, +50).
    Vec3 origin = layer->getLayerLocalTransform() * Vec3(0, 0, 0);
    EXPECT_FLOAT_EQ(origin.x, -100);
    EXPECT_FLOAT_EQ(origin.y, 50);
    EXPECT_NE(layer->getOutputTexture(), 0u);

    // Removing the last effect restores the layer's own placement and size.
    layer->removeEffect(effect, true);
    EXPECT_EQ(layer->getLayerLocalAETransform(), Mat4());
    EXPECT_EQ(layer->getLayerLocalTransform(), Mat4());
    EXPECT_EQ(layer->layerSizeExtendData()->size.x, 100);
    EXPECT_EQ(layer->layerSizeExtendData()->offset.x, 0);
}

TEST_F(LayerDrawTest, EnlargementKeepsTheTemplatesLocalMatrix) {
    Mat4 local = Translation(5, 6);
    layer->setLayerLocalAETransform(local);
    layer->addEffect(new EnlargeEffect(layer));
    layer->draw(0);
    layer->draw(0);
    EXPECT_EQ(layer->getLayerLocalAETransform(), Translation(-95, -44));
    // A second effect after the enlarging one draws at the enlarged size from
    // its predecessor's output.
    auto* second = new EnlargeEffect(layer);
    layer->addEffect(second);
    layer->draw(0);
    EXPECT_EQ(layer->getLayerLocalAETransform(), Translation(-95, -44));
    ASSERT_EQ(second->sizes.size(), 1u);
    EXPECT_EQ(second->sizes[0], std::make_pair(300, 150));
    EXPECT_EQ(second->inputs[0], layer->getEffectByIndex(0)->getOutputTexture());
}

TEST_F(LayerDrawTest, AdjustmentLayerRunsItsChainAtTheCompositionSize) {
    layer->setLayerType(kAdjustmentLayer, true);
    layer->setWidth(50);
    layer->setHeight(40);
    auto* first = new EnlargeEffect(layer);
    auto* second = new EnlargeEffect(layer);
    layer->addEffect(first);
    layer->addEffect(second);
    layer->draw(77);
    ASSERT_EQ(first->sizes.size(), 1u);
    EXPECT_EQ(first->sizes[0], std::make_pair(640, 360));
    EXPECT_EQ(second->sizes[0], std::make_pair(640, 360));
    EXPECT_EQ(first->inputs[0], 77u);
    EXPECT_EQ(second->inputs[0], first->getOutputTexture());
    // No enlargement for an adjustment layer, and its own size is back.
    EXPECT_EQ(layer->getLayerLocalAETransform(), Mat4());
    EXPECT_EQ(layer->width(), 50);
    EXPECT_EQ(layer->height(), 40);
}

TEST_F(LayerDrawTest, PrepareSetsTheBaseSizeOnlyWithEffects) {
    layer->setWidth(7);
    layer->prepareForFrame(0);
    EXPECT_EQ(layer->width(), 7);
    layer->addEffect(new EnlargeEffect(layer));
    layer->prepareForFrame(0);
    EXPECT_EQ(layer->width(), 100);
    EXPECT_EQ(layer->height(), 50);
    EXPECT_EQ(layer->getOutputTexture(), 0u);  // nothing drawn yet
}
