#include <gtest/gtest.h>

#include "render/GLFrameBufferManager.h"
#include "render/GLRenderDestination.h"
#include "render/PassTestLayer.h"
#include "render/RenderEffect.h"
#include "render/RenderPass.h"
#include "support/GLFixture.h"

using namespace Quorvane::Core;
using QvTest::boundFramebuffer;
using QvTest::GLFixture;
using QvTest::PassTestLayer;

namespace {

// Paints its target half-way: the left half opaque blue, leaving the rest as
// draw() cleared it; remembers what was bound and what it was given.
class PaintingPass : public RenderPass {
public:
    using RenderPass::RenderPass;
    void drawSelf(unsigned int texture) override {
        ++draws;
        seenTexture = texture;
        seenSource = getSourceTexture();
        // With an own destination this would detach the texture being drawn into.
        if (!useNewDestination()) seenOutput = getOutputTexture();
        seenFramebuffer = boundFramebuffer();
        glEnable(GL_SCISSOR_TEST);
        glScissor(0, 0, width() / 2, height());
        glClearColor(0, 0, 1, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glDisable(GL_SCISSOR_TEST);
    }
    int draws = 0;
    unsigned int seenTexture = 0, seenSource = 0, seenOutput = 0;
    GLuint seenFramebuffer = 0;
};

class TestEffect : public RenderEffect {
public:
    explicit TestEffect(RenderLayer* layer) : RenderEffect(layer) {}
    TestEffect(const TestEffect& other) : RenderEffect(other), tag(other.tag) {}
    std::string matchName() const override { return name; }
    std::string name = "QvTest_Effect";
    int tag = 0;
};

int gCreateGeneration = 0;
void* createFirst(RenderLayer* layer) {
    gCreateGeneration = 1;
    return static_cast<RenderEffect*>(new TestEffect(layer));
}
void* createSecond(RenderLayer* layer) {
    gCreateGeneration = 2;
    auto* effect = new TestEffect(layer);
    effect->tag = 2;
    return static_cast<RenderEffect*>(effect);
}
void* cloneTest(RenderEffect* effect, RenderLayer* layer) {
    auto* copy = new TestEffect(*static_cast<TestEffect*>(effect));
    copy->setParent(layer);
    return static_cast<RenderEffect*>(copy);
}

}  // namespace

TEST(RenderPassSize, InheritsTheFirstNonZeroValueUpTheChain) {
    PassTestLayer grandparent(nullptr, 1280, 0);
    PassTestLayer parent(grandparent.asLayer(), 0, 0);
    RenderPass pass(parent.asLayer(), false, 0, 0);
    EXPECT_EQ(pass.width(), 1280);
    EXPECT_EQ(pass.height(), 0) << "no height anywhere on the chain";
    parent.setHeight(720);
    EXPECT_EQ(pass.height(), 720);
    parent.setWidth(640);
    EXPECT_EQ(pass.width(), 640) << "the nearest ancestor wins";
    pass.setWidth(10);
    EXPECT_EQ(pass.width(), 10) << "an own value wins";
    RenderPass orphan(nullptr, false, 0, 0);
    EXPECT_EQ(orphan.width(), 0);
    EXPECT_EQ(orphan.height(), 0);

    // A copy keeps size, parent and flag, not the destination.
    RenderPass copy(pass);
    EXPECT_EQ(copy.width(), 10);
    EXPECT_EQ(copy.height(), 720);
    EXPECT_EQ(copy.parent(), parent.asLayer());
    EXPECT_FALSE(copy.useNewDestination());
    EXPECT_EQ(copy.getDestination(), nullptr);
}

using RenderPassDraw = GLFixture;

TEST_F(RenderPassDraw, OwnDestinationIsMadeOnceClearedAndPopped) {
    GLFrameBufferManager manager;
    PassTestLayer layer(nullptr, 8, 4, &manager);
    GLRenderDestination* below = manager.pushDestination(16, 16);
    PaintingPass pass(layer.asLayer(), true, 0, 0);
    EXPECT_EQ(pass.getOutputTexture(), 0u) << "nothing drawn yet";

    pass.draw(42);
    GLRenderDestination* first = pass.getDestination();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->width(), 8);
    EXPECT_EQ(first->height(), 4);
    EXPECT_EQ(pass.seenTexture, 42u);
    EXPECT_EQ(pass.seenSource, 42u);
    EXPECT_EQ(pass.seenFramebuffer, first->framebuffer());
    EXPECT_EQ(boundFramebuffer(), below->framebuffer()) << "the previous destination is bound again";
    EXPECT_EQ(manager.destinationCount(), 1u);
    EXPECT_EQ(pass.getSourceTexture(), 0u);

    // Left half painted, right half cleared to transparent black.
    const unsigned int output = pass.getOutputTexture();
    EXPECT_EQ(output, first->texture());
    EXPECT_FALSE(first->isAttached()) << "handed out detached, ready to be sampled";
    QvTest::Pixels px = GLFixture::readTexture(output, 8, 4);
    EXPECT_EQ(px.packed(1, 2), 0x0000FFFFu);
    EXPECT_EQ(px.packed(6, 2), 0x00000000u);

    // Dirty the target, draw again: same destination, cleared again.
    first->bindDestination();
    glClearColor(1, 1, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    below->bindDestination();
    pass.draw(43);
    EXPECT_EQ(pass.getDestination(), first);
    EXPECT_EQ(GLFixture::readTexture(pass.getOutputTexture(), 8, 4).packed(6, 2), 0x00000000u);

    // After unprepare the next draw makes a destination of the current size.
    layer.setWidth(6);
    pass.unprepare();
    EXPECT_EQ(pass.getDestination(), nullptr);
    pass.draw(44);
    ASSERT_NE(pass.getDestination(), nullptr);
    EXPECT_EQ(pass.getDestination()->width(), 6);
    EXPECT_EQ(pass.draws, 3);
    manager.popDestination(true);
}

TEST_F(RenderPassDraw, WithoutOwnDestinationDrawsIntoTheBoundTarget) {
    GLRenderDestination target(4, 4);
    target.bindDestination();
    PaintingPass pass(nullptr, false, 4, 4);
    pass.draw(7);
    EXPECT_EQ(pass.seenFramebuffer, target.framebuffer());
    EXPECT_EQ(pass.seenOutput, 7u) << "during draw the output is the source";
    EXPECT_EQ(pass.getOutputTexture(), 0u) << "after draw there is none";
    EXPECT_EQ(pass.getDestination(), nullptr);
    EXPECT_EQ(GLFixture::readFramebuffer(0, 0, 4, 4).packed(0, 0), 0x0000FFFFu);
}

TEST_F(RenderPassDraw, OwnDestinationWithoutManagerDrawsNothing) {
    GLRenderDestination target(4, 4);
    target.bindDestination();
    glClearColor(0, 1, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    PaintingPass orphan(nullptr, true, 4, 4);
    testing::internal::CaptureStderr();
    orphan.draw(5);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(orphan.draws, 0);
    EXPECT_EQ(orphan.getSourceTexture(), 0u);
    EXPECT_EQ(boundFramebuffer(), target.framebuffer());
    EXPECT_EQ(GLFixture::readFramebuffer(0, 0, 4, 4).packed(0, 0), 0x00FF00FFu)
        << "the bound target is untouched";
}

TEST_F(RenderPassDraw, EffectDropsItsDestinationWhenTheLayerSizeChanges) {
    GLFrameBufferManager manager;
    PassTestLayer layer(nullptr, 640, 360, &manager);
    TestEffect effect(layer.asLayer());
    EXPECT_TRUE(effect.useNewDestination());
    EXPECT_EQ(effect.width(), 640);
    LayerSizeExtendData data;
    EXPECT_FALSE(effect.willExtendLayerSize(&data)) << "no destination yet";
    effect.draw(1);
    GLRenderDestination* made = effect.getDestination();
    ASSERT_NE(made, nullptr);
    EXPECT_FALSE(effect.willExtendLayerSize(&data));
    EXPECT_EQ(effect.getDestination(), made) << "same size: kept";
    layer.setWidth(800);
    EXPECT_FALSE(effect.willExtendLayerSize(&data));
    EXPECT_EQ(effect.getDestination(), nullptr) << "grown layer: dropped";
    effect.draw(1);
    ASSERT_NE(effect.getDestination(), nullptr);
    EXPECT_EQ(effect.getDestination()->width(), 800);
    EXPECT_EQ(boundFramebuffer(), 0u);
}

TEST(RenderEffectRegistry, CreateCloneAndReplace) {
    PassTestLayer layer(nullptr, 10, 10);
    PassTestLayer other(nullptr, 20, 20);
    EXPECT_EQ(RenderEffectManager::createEffect("QvTest_Unregistered", layer.asLayer()), nullptr);

    RenderEffectManager::registerEffect("QvTest_Effect", createFirst, cloneTest);
    RenderEffect* first = RenderEffectManager::createEffect("QvTest_Effect", layer.asLayer());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(gCreateGeneration, 1);
    EXPECT_EQ(first->parent(), layer.asLayer());
    EXPECT_EQ(RenderEffectManager::createEffect("qvtest_effect", layer.asLayer()), nullptr) << "case matters";

    // A second registration replaces both functions.
    RenderEffectManager::registerEffect("QvTest_Effect", createSecond, cloneTest);
    RenderEffect* second = RenderEffectManager::createEffect("QvTest_Effect", layer.asLayer());
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(gCreateGeneration, 2);
    EXPECT_EQ(static_cast<TestEffect*>(second)->tag, 2);

    RenderEffect* copy = RenderEffectManager::cloneEffect(second, other.asLayer());
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, second);
    EXPECT_EQ(copy->parent(), other.asLayer());
    EXPECT_EQ(copy->width(), 20);
    EXPECT_EQ(static_cast<TestEffect*>(copy)->tag, 2);
    EXPECT_EQ(copy->matchName(), "QvTest_Effect");

    // An effect whose match name has no clone function cannot be copied.
    TestEffect stray(layer.asLayer());
    stray.name = "QvTest_NotRegistered";
    EXPECT_EQ(RenderEffectManager::cloneEffect(&stray, other.asLayer()), nullptr);
    EXPECT_EQ(RenderEffectManager::cloneEffect(nullptr, other.asLayer()), nullptr);
    // Null functions are treated as missing.
    RenderEffectManager::registerEffect("QvTest_Null", nullptr, nullptr);
    EXPECT_EQ(RenderEffectManager::createEffect("QvTest_Null", layer.asLayer()), nullptr);
    stray.name = "QvTest_Null";
    EXPECT_EQ(RenderEffectManager::cloneEffect(&stray, other.asLayer()), nullptr);
    EXPECT_EQ(RenderEffectManager::constructors().count("QvTest_Effect"), 1u);
    EXPECT_EQ(RenderEffectManager::copyConstructors().count("QvTest_Effect"), 1u);

    delete first;
    delete second;
    delete copy;
}
