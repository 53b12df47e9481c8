// Scripts that reach a real render context built from a small template:
// layers moved, scaled, hidden and keyed, sources and layers made, watermarks
// and compositions added, checked on the drawn pixels and on the scene's state.
#include <gtest/gtest.h>

#include <memory>

#include "render/Config.h"
#include "scene/ContextTestSupport.h"
#include "scene/RenderAVLayer.h"
#include "scene/RenderCameraLayer.h"
#include "script/ScriptContext.h"
#include "script/ScriptTestSupport.h"
#include "support/MediaGen.h"

using namespace Quorvane::Core;
using namespace QvTest;

namespace {

// 320x240 at 25 fps, 10 frames, blue background; a red 160x120 solid at the
// top left (ui key "hero") and a green 40x40 solid at (200, 150) (ui key
// "side"); a composition "inner" of 40x40 showing white.
std::string sceneTemplate() {
    const std::string inner =
        "{\"name\":\"inner\",\"size\":[40,40],\"duration\":10,\"layers\":[" + avLayer("white", 0, 10) + "]}";
    return normalTemplate(320, 240, 10,
                          avLayer("red", 0, 10, 0, 0, ",\"uuid\":\"L1\",\"ui_key\":\"hero\"") + "," +
                              avLayer("green", 0, 10, 200, 150, ",\"uuid\":\"L2\",\"ui_key\":\"side\""),
                          solidAsset("red", "#FF0000", 160, 120) + "," +
                              solidAsset("green", "#00FF00", 40, 40) + "," +
                              solidAsset("white", "#FFFFFF", 40, 40) + "," + compAsset("innerSrc", "inner"),
                          inner);
}

class SceneBindingTest : public GLFixture {
protected:
    void SetUp() override {
        GLFixture::SetUp();
        folder.writeConfig(sceneTemplate());
        config.reset(new Config(folder.folder()));
        context.reset(new RenderContext(config.get(), nullptr, true, 0, -1));
        context->setGLContext(sharedContext());
        ASSERT_TRUE(context->isLoaded());
    }
    void TearDown() override {
        context.reset();
        config.reset();
        GLFixture::TearDown();
    }

    // Writes main.lua with the text and runs it over the context; the log.
    std::string runScript(const std::string& code, const std::string& data = std::string()) {
        const std::string path = folder.asset("main.lua");
        EXPECT_TRUE(writeFile(path, code));
        return captureLog([&] {
            ScriptContext script(context.get());
            script.runFile(path, folder.folder() + "assets", data);
        });
    }
    Pixels frame() {
        context->draw(0);
        return readContext(*context);
    }
    RenderLayer* layerWithKey(const std::string& uiKey) { return context->getLayerByUIKey(uiKey); }

    TemplateFolder folder;
    std::unique_ptr<Config> config;
    std::unique_ptr<RenderContext> context;
};

}  // namespace

TEST_F(SceneBindingTest, KeyframesAndLayerStateChangeTheDrawnFrame) {
    const std::string log = runScript(R"(
function main(ctx, data)
  local hero = ctx:getLayerByUIKey('hero')
  -- frame 0: the red solid halved and moved to (100, 60)
  hero:setTransformAtTime(Vec3.create(0, 0, 0), Vec3.create(100, 60, 0), Vec3.create(0, 0, 0),
                          Vec3.create(0.5, 0.5, 1), 0)
  -- frame 1: moved on, at half opacity
  hero:setPositionAtTime(Vec3.create(10, 10, 0), 1)
  hero:setAlphaAtTime(0.5, 1)
  -- wrong value kinds change nothing
  hero:setPositionAtTime(Mat4.create(), 1)
  hero:setAlphaAtTime('x', 1)
  ctx:getLayerByUIKey('side'):setEnabled(false)
  assert(data == 'payload')
end)",
                                      "payload");
    EXPECT_EQ(countOf(log, "ZRScriptError"), 0) << log;

    Pixels f0 = frame();
    EXPECT_EQ(pixelAt(f0, 20, 20), kBlue);
    EXPECT_EQ(pixelAt(f0, 110, 70), kRed);
    EXPECT_EQ(pixelAt(f0, 175, 115), kRed);
    EXPECT_EQ(pixelAt(f0, 185, 125), kBlue);
    EXPECT_EQ(pixelAt(f0, 220, 170), kBlue) << "the disabled layer is not drawn";

    ASSERT_TRUE(context->stepForward());
    Pixels f1 = frame();
    // Half red over blue; the scale of frame 1 is the appended copy of frame 0's.
    const uint8_t* mixed = f1.at(20, 20);
    EXPECT_NEAR(mixed[0], 128, 2);
    EXPECT_NEAR(mixed[2], 127, 2);
    EXPECT_EQ(pixelAt(f1, 100, 80), kBlue);

    RenderLayer* hero = layerWithKey("hero");
    ASSERT_NE(hero, nullptr);
    EXPECT_EQ(hero->getPosition(1).x, 10.0f);
    EXPECT_EQ(hero->getScale(1).x, 0.5f);
    EXPECT_FLOAT_EQ(hero->getAlpha(1), 0.5f);
}

TEST_F(SceneBindingTest, NewSourcesAndLayersAreDrawnAndOwnedByTheScene) {
    std::string code = R"(
function main(ctx)
  local key = ctx:createSolidSource(Color.create('#FFFF00'), 30, 20, 'yellow')
  assert(key == 'yellow')
  local generated = ctx:createSolidSource(Color.create(1, 0, 0, 1), 10, 10)
  assert(type(generated) == 'string' and #generated > 0 and generated ~= key)
  local layer = RenderAVLayer.create(ctx)
  layer:setAVSource(ctx:source('yellow'))
  layer:setLayerInPoint(TimeUnit.create(0, 25))
  layer:setLayerDuration(TimeUnit.create(10, 25))
  layer:setPositionAtTime(Vec3.create(250, 20, 0), 0)
  ctx:addLayer(layer)
  local all = ctx:layers()
  assert(#all == 3 and all[3]:layerSource():key() == 'yellow', 'the new layer is on top')
  -- one made and never inserted (the host deletes it at the end), one taken out
  RenderAVLayer.create(ctx)
  local side = ctx:getLayerByUIKey('side')
  assert(ctx:removeLayer(side) == true and ctx:removeLayer(side) == false)
  assert(side:uiKey() == 'side', 'a removed layer stays usable while the script runs')
  -- compositions are owned by the context and never become layers of a list
  local inner = ctx:comp('@INNER@')
  ctx:addLayer(inner)
  inner:addLayer(ctx)
  ctx:addLayer(ctx)
  ctx:insertLayerAt(ctx, 0)
  inner:insetLayerAbove(inner)
  assert(#inner:layers() == 1)
  -- inserting a layer already in the list moves it, once
  local hero = ctx:getLayerByUIKey('hero')
  ctx:insertLayerAt(hero, 5)
  ctx:insetLayerBelow(hero)
  assert(#ctx:layers() == 2 and ctx:layers()[1]:uiKey() == 'hero')
end)";
    code.replace(code.find("@INNER@"), 7, config->prefix() + "inner");
    const std::string log = runScript(code);
    EXPECT_EQ(countOf(log, "ZRScriptError"), 0) << log;
    ASSERT_EQ(context->layers().size(), 2u);
    EXPECT_EQ(context->layers()[0], layerWithKey("hero"));

    Pixels f0 = frame();
    EXPECT_EQ(pixelAt(f0, 255, 25), 0xFFFF00FF);
    EXPECT_EQ(pixelAt(f0, 285, 25), kBlue);
    EXPECT_EQ(pixelAt(f0, 20, 20), kRed);
    EXPECT_EQ(pixelAt(f0, 220, 170), kBlue) << "the removed layer is gone";
}

TEST_F(SceneBindingTest, CompositionsSourcesAndWatermarksThroughTheContext) {
    ASSERT_TRUE(makeImage(folder.asset("mark.png"), 20, 10, Rgb{255, 0, 255}));
    const std::string innerName = config->prefix() + "inner";
    std::string code = R"(
function main(ctx)
  local inner = ctx:comp(')" +
                       innerName + R"(')
  assert(inner and inner:name() == ')" +
                       innerName + R"(' and not inner:isMainComp() and ctx:isMainComp())
  assert(ctx:comp('missing') == nil and ctx:source('missing') == nil)
  assert(ctx:frameRate() == 25 and ctx:duration() == 10 and inner:duration() == 10)
  -- a composition answers layer and pass methods through its super chain
  assert(inner:width() == 40 and inner:blendMode() == BlendMode.Blend_Normal)
  inner:setBackgroundColor(Color.create(0, 0, 0, 1))
  local srcKey = ctx:createCompSource(inner, 'innerShown')
  local shown = RenderAVLayer.create(ctx)
  shown:setSourceID(srcKey)
  shown:setLayerInPoint(TimeUnit.create(0, 25))
  shown:setLayerDuration(TimeUnit.create(10, 25))
  shown:setPositionAtTime(Vec3.create(280, 200, 0), 0)
  ctx:addLayer(shown)
  assert(ctx:source(srcKey):sourceComp():name() == inner:name())
  -- a source may not make a composition show itself
  ctx:createCompSource(inner, 'ring')
  local extra = RenderAVLayer.create(inner)
  inner:addLayer(extra)
  extra:setAVSource(ctx:source('ring'))
  ctx:source('innerShown'):setSourceComp(ctx)
  assert(ctx:source('innerShown'):sourceComp():name() == inner:name())
  wm = ctx:addWatermark('@MARK@', 10, 200, 0, 0, 1, 1)
  local gone = ctx:addWatermark({'@MARK@'}, 0, 0)
  local wmLayer = ctx:layers()[#ctx:layers()]
  ctx:removeWatermark(gone)
  assert(wmLayer:uiKey() == nil, 'the userdata of a deleted watermark answers nothing')
  local pre = ctx:createPreComp(64, 32, 5, 'made')
  assert(pre == 'made' and ctx:comp('made'):width() == 64 and ctx:comp('made'):duration() == 5)
  ctx:comp('made'):setCompSize(Vec2.create(1280.7, 720.2))
  assert(ctx:comp('made'):width() == 1280 and ctx:comp('made'):height() == 720)
  ctx:comp('made'):setCompSize(100000, 10)
  assert(ctx:comp('made'):width() == 1280, 'absurd sizes are refused')
  local copy = ctx:duplicateComp(inner)
  assert(type(copy) == 'string' and ctx:comp(copy) ~= nil)
  assert(ctx:duplicateComp('missing') == '' and ctx:duplicateSource('missing') == '')
  assert(ctx:createSolidSource('red', 1, 1) == nil and ctx:createPreComp(1, 2) == nil)
end)";
    for (size_t at = code.find("@MARK@"); at != std::string::npos; at = code.find("@MARK@"))
        code.replace(at, 6, folder.asset("mark.png"));
    const std::string log = runScript(code);
    EXPECT_EQ(countOf(log, "ZRScriptError"), 0) << log;
    EXPECT_NE(log.find("would make composition"), std::string::npos) << log;
    EXPECT_NE(log.find("would show itself, refused"), std::string::npos) << log;
    EXPECT_EQ(
        countOf(log, "RenderCompScript:setCompSize: a size of 100000 by 10 is refused (1 to 8192 a side)"), 1)
        << log;

    Pixels f0 = frame();
    // The nested composition: white on its own black background at (280, 200).
    EXPECT_EQ(pixelAt(f0, 300, 220), kWhite);
    EXPECT_EQ(pixelAt(f0, 275, 220), kBlue);
    // The watermark at (10, 200), 20x10 magenta.
    EXPECT_EQ(pixelAt(f0, 15, 205), 0xFF00FFFF);
    EXPECT_EQ(pixelAt(f0, 35, 205), kBlue);
}

TEST_F(SceneBindingTest, CollectingUserdataNeverFreesTheScene) {
    const std::string log = runScript(R"(
function main(ctx)
  for round = 1, 200 do
    local layers = ctx:layers()
    for _, layer in ipairs(layers) do
      local m = layer:getCurrentTransform()
      local p = layer:getPosition(0)
      local src = layer:layerSource()
      local comp = src and src:sourceComp()
    end
    local cam = ctx:cameraLayer()
    local made = RenderAVLayer.create(ctx)
    layers = nil
    collectgarbage('collect')
  end
  -- a finaliser a script sets on a scene class runs on its own userdata only
  ctx.__index.__gc = function(self) self:setEnabled(false) end
  collectgarbage('collect')
end)");
    EXPECT_EQ(countOf(log, "ZRScriptError"), 0) << log;
    ASSERT_EQ(context->layers().size(), 2u);
    Pixels f0 = frame();
    EXPECT_EQ(pixelAt(f0, 20, 20), kRed);
    EXPECT_EQ(pixelAt(f0, 220, 170), kGreen);
    EXPECT_EQ(pixelAt(f0, 300, 20), kBlue);
}
