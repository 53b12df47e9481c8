// The scene family's mechanics over a real context: userdata kinds chosen by
// layer type, methods inherited along the super chain, mismatches answered
// with nil or nothing, sources and cameras, and the audio track list.
#include <gtest/gtest.h>

#include <memory>

#include "media/AVSource.h"
#include "render/Config.h"
#include "scene/ContextTestSupport.h"
#include "scene/RenderAVLayer.h"
#include "scene/RenderCameraLayer.h"
#include "script/ScriptContext.h"
#include "script/ScriptTestSupport.h"
#include "support/AudioGen.h"
#include "support/MediaGen.h"

using namespace Quorvane::Core;
using namespace QvTest;

namespace {

class SceneFamilyTest : public GLFixture {
protected:
    void SetUp() override {
        GLFixture::SetUp();
        ASSERT_TRUE(makeImageSequence(folder.folder() + "assets", "seq", 3, "png").size() == 3);
        const std::string layers =
            avLayer("red", 0, 10, 0, 0, ",\"uuid\":\"L1\",\"ui_key\":\"hero\",\"parent\":\"N1\"") +
            ",{\"type\":1024,\"uuid\":\"N1\",\"ui_key\":\"nul\",\"range\":[0,10],"
            "\"transform\":{\"a\":[0,0,0],\"p\":[30,40,0],\"s\":[1,1,1],\"r\":0,\"t\":1}}";
        folder.writeConfig(normalTemplate(320, 240, 10, layers, solidAsset("red", "#FF0000", 16, 16)));
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
    std::string runScript(const std::string& code) {
        const std::string path = folder.asset("main.lua");
        EXPECT_TRUE(writeFile(path, code));
        return captureLog(
            [&] { ScriptContext(context.get()).runFile(path, folder.folder() + "assets", ""); });
    }

    TemplateFolder folder;
    std::unique_ptr<Config> config;
    std::unique_ptr<RenderContext> context;
};

}  // namespace

TEST_F(SceneFamilyTest, LayerKindsInheritanceAndMismatches) {
    const std::string log = runScript(R"(
function main(ctx)
  local hero = ctx:getLayerByUIKey('hero')
  local nul = ctx:getLayerByUIKey('nul')
  assert(getmetatable(hero) == hero.__index and hero.__name == 'RenderAVLayerScript')
  assert(nul.__name == 'RenderLayerScript' and nul.blendMode == nil and nul.width ~= nil)
  assert(hero:linkedLayer():uiKey() == 'nul' and hero:linkedLayerID() == nul:layerID())
  -- the context answers composition, AV layer, layer and pass methods
  assert(ctx:width() == 320 and ctx:blendMode() == 0 and ctx:layerType() & LayerTypes.kAVLayer ~= 0)
  assert(ctx:layer(hero:layerID()):uiKey() == 'hero' and ctx:layer('none') == nil)
  -- mismatches: nil from getters, nothing from setters, no error
  assert(hero:getPosition() == nil and hero:getPosition('0') == nil and hero:uiKey(1) == nil)
  assert(hero.uiKey(Vec3.create()) == nil and hero.uiKey(nul) == '' or true)
  assert(hero.blendMode(nul) == nil, 'a null layer is no AV layer')
  assert(hero:numEffects() == 0 and hero.numEffects(5) == 0)
  assert(hero:removeEffectByIndex(-1) == false and hero:removeEffectByIndex(0) == false)
  hero:setPositionAtTime(Mat4.create(), 5)
  hero:setBlendMode(99); hero:setMatteType(-1); hero:setResampleMode(7)
  assert(hero:blendMode() == 0 and hero:matteType() == 0 and hero:resampleMode() == 0)
  hero:setBlendMode(BlendMode.Blend_Screen)
  hero:setUIKey('renamed')
  -- keyframes beyond any video are refused rather than filled
  hero:setPositionAtTime(Vec3.create(1, 2, 3), 1e12)
  hero:setAlphaAtTime(0.5, math.maxinteger)
  -- a key that is neither a string nor a number finds nothing
  assert(hero[{}] == nil and hero[true] == nil)
  -- points through the layer's world transform (its parent is the null at (30, 40))
  local p = hero:localPointToCompPoint(Vec3.create(1, 2, 0), CoordinateSystemMode.kAfterEffectsSpaceMode, 0)
  pointX, pointY = p:getX(), p:getY()
  assert(hero:localPointToCompPoint(Vec3.create(), 2, 0) == nil)
  local back = hero:compPointToLocalPoint(p, 0, 0)
  assert(math.abs(back:getX() - 1) < 1e-4 and math.abs(back:getY() - 2) < 1e-4)
  local t = hero:layerDuration()
  assert(t:frameCount() == 10 and hero:visibleAt(9) and not hero:visibleAt(10))
  hero:offsetLayerTime(TimeUnit.create(2, 25))
  assert(hero:layerInPoint():frameCount() == 2 and hero:localTimeToParentTime(0) == 2)
  assert(RenderAVLayer.create(hero) == nil and RenderCameraLayer.create(nul) == nil)
  -- times past three minutes hold: 200 s at 6000 fps, moved on by 200 s at 25
  hero:setLayerStartTime(TimeUnit.create(200 * 6000, 6000))
  hero:offsetLayerTime(TimeUnit.create(200 * 25, 25))
  -- a time without length and a negative duration are taken as given; a
  -- move by a time without length moves nothing; a day and a second is refused
  hero:setLayerInPoint(TimeUnit.create(5, 0))
  hero:setLayerDuration(TimeUnit.create(-1, 25))
  hero:offsetLayerTime(TimeUnit.create(3, 0))
  local inPoint, duration = hero:layerInPoint(), hero:layerDuration()
  assert(inPoint:frameCount() == 5 and inPoint:fps() == 0 and not hero:visibleAt(0))
  assert(duration:frameCount() == -1 and duration:fps() == 25)
  hero:offsetLayerTime(TimeUnit.create(86201, 1))
end)");
    EXPECT_EQ(countOf(log, "ZRScriptError"), 0) << log;
    // The one refusal of a layer time: 2400000 + 86201 * 6000, through a 32-bit float.
    EXPECT_EQ(countOf(log, "RenderLayer:"), 1) << log;
    EXPECT_EQ(countOf(log, "RenderLayer:offsetLayerTime: 519606016 frames at 6000 fps lie more than 86400 s "
                           "from 0, refused"),
              1)
        << log;
    EXPECT_EQ(countOf(log, "a keyframe at frame"), 2) << log;
    RenderLayer* hero = context->getLayerByUIKey("renamed");
    ASSERT_NE(hero, nullptr);
    auto* av = dynamic_cast<RenderAVLayer*>(hero);
    ASSERT_NE(av, nullptr);
    EXPECT_EQ(av->blendMode(), BlendMode::Screen);
    EXPECT_EQ(hero->transformManager()->transforms().size(), 1u) << "no record was appended";
    EXPECT_EQ(hero->layerStartTime().frameCount(), 2400000);
    EXPECT_EQ(hero->layerStartTime().fps(), 6000.0f);
    EXPECT_EQ(hero->localTimeToParentTime(0), 10000) << "400 s at 25 fps";
    EXPECT_EQ(hero->layerInPoint().frameCount(), 5);
    EXPECT_EQ(hero->layerInPoint().fps(), 0.0f);
    EXPECT_EQ(hero->layerDuration().frameCount(), -1);
    EXPECT_EQ(hero->layerDuration().fps(), 25.0f);
    // Drawn where it would stand: nothing of it shows, and nothing divides by its rate of 0.
    context->draw(0);
    EXPECT_EQ(pixelAt(readContext(*context), 38, 48), kBlue);
    const Vec3 expected = hero->localPointToCompPoint(Vec3(1, 2, 0), kAfterEffectsSpaceMode, 0);
    EXPECT_EQ(expected.x, 31.0f);
    EXPECT_EQ(expected.y, 42.0f);
}

TEST_F(SceneFamilyTest, CamerasAndSources) {
    const std::string seq0 = folder.folder() + "assets/seq_";
    std::string code = R"(
function main(ctx)
  local cam = ctx:cameraLayer()
  assert(cam.__name == 'RenderCameraLayerScript' and ctx:cameraLayer() ~= nil)
  assert(math.abs(cam:getFilmWidth() - 320) < 1e-3)
  cam:setFocalLength(500)
  focal = cam:getFocalLength()
  local made = RenderCameraLayer.create(ctx)
  made:setFilmHeight(100); made:setFilmWidth(50)
  aspect = made:getAspect()
  local src = ctx:source(ctx:getLayerByUIKey('hero'):sourceID())
  assert(src:sourceType() == AVSourceType.kSolidColor and src:width() == 16 and src:pixelAspectRatio() == 1)
  local c = src:sourceColor()
  assert(c:r() == 1 and c:g() == 0 and c:a() == 1 and src:sourceDuration():frameCount() == 1)
  local files = {}
  for i = 0, 2 do files[#files + 1] = '@SEQ@' .. i .. '.png' end
  local key = ctx:createImageSequenceSource(files, 'seqKey')
  local seq = ctx:source(key)
  assert(seq:fileType() == AVFileType.kImageSequence and #seq:sourceImageSequenceFile() == 3)
  assert(seq:sourceFile() == files[1])
  seq:setImageSequenceFiles({files[3], files[2]})
  assert(#seq:sourceImageSequenceFile() == 2 and seq:sourceFile() == files[3])
  seq:setImageSequenceFiles({files[1], 5})
  assert(#seq:sourceImageSequenceFile() == 2, 'a list with a non-text changes nothing')
  assert(ctx:createImageSequenceSource({'a', {}}) == nil and ctx:createAVFileSource(3) == nil)
  assert(seq.key(ctx) == nil, 'a composition is no source')
  dup = ctx:duplicateSource(key)
end)";
    for (size_t at = code.find("@SEQ@"); at != std::string::npos; at = code.find("@SEQ@"))
        code.replace(at, 5, seq0);
    const std::string log = runScript(code);
    EXPECT_EQ(countOf(log, "ZRScriptError"), 0) << log;
    RenderCameraLayer* camera = context->cameraLayer();
    ASSERT_NE(camera, nullptr);
    EXPECT_NEAR(camera->getFocalLength(), 500.0f, 1e-2);
    ASSERT_NE(context->source("seqKey"), nullptr);
    EXPECT_EQ(context->source("seqKey")->imageSequenceFils().size(), 2u);
}

TEST_F(SceneFamilyTest, AudioTracksAreAddedFoundChangedAndRemoved) {
    const std::string tone = folder.asset("tone.m4a");
    ASSERT_TRUE(writeTones(tone, {Tone{440.0, 1.5}}));
    ASSERT_TRUE(makeImage(folder.asset("still.png"), 8, 8, Rgb{1, 2, 3}));
    config->audioTracks().clear();
    std::string code = R"(
function main(ctx)
  local key = AudioManager.addTrack(ctx, '@TONE@')
  assert(type(key) == 'string' and AudioManager.numTracks(ctx) == 1)
  assert(AudioManager.addTrack(ctx, '@STILL@') == nil and AudioManager.numTracks(ctx) == 1)
  assert(math.abs(AudioManager.duration(ctx, key) - 1.5) < 0.05 and AudioManager.volume(ctx, key) == 1)
  assert(AudioManager.setVolume(ctx, key, 0.5) == 0.5 and AudioManager.volume(ctx, key) == 0.5)
  assert(AudioManager.setVolume(ctx, 'unknown', 0.5) == nil and AudioManager.volume(ctx, 'unknown') == nil)
  AudioManager.setStartTime(ctx, key, 2); AudioManager.setFadeOutDuration(ctx, key, 0.25)
  assert(AudioManager.duration(ctx, key, 1) == nil)
  second = AudioManager.addTrack(ctx, '@TONE@')
  ok, err = pcall(AudioManager.numTracks, Vec2.create())
  ok2, err2 = pcall(AudioManager.volume, ctx)
  trackKey = key
end)";
    code.replace(code.find("@STILL@"), 7, folder.asset("still.png"));
    for (size_t at = code.find("@TONE@"); at != std::string::npos; at = code.find("@TONE@"))
        code.replace(at, 6, tone);
    std::string log = runScript(code);
    EXPECT_EQ(countOf(log, "ZRScriptError"), 0) << log;
    auto& tracks = config->audioTracks();
    ASSERT_EQ(tracks.size(), 2u);
    EXPECT_EQ(tracks[0].filePath, tone);
    EXPECT_FLOAT_EQ(tracks[0].volume, 0.5f);
    EXPECT_FLOAT_EQ(tracks[0].startTime, 2.0f);
    EXPECT_FLOAT_EQ(tracks[0].fadeOutDuration, 0.25f);
    EXPECT_FLOAT_EQ(tracks[0].inPoint, 0.0f);
    // A new track plays whole: its out point is its end.
    EXPECT_NEAR(tracks[0].outPoint, 1.5f, 0.05f);
    EXPECT_FLOAT_EQ(tracks[0].outPoint, tracks[0].duration);
    EXPECT_NE(tracks[0].key, tracks[1].key);

    // Two records sharing a key: only the first goes, the key is logged once.
    tracks[1].key = tracks[0].key;
    tracks[1].volume = 0.75f;
    code = "function main(ctx) AudioManager.removeTrack(ctx, '" + tracks[0].key + "') " +
           "n = AudioManager.numTracks(ctx) assert(n == 1) " +
           "local ok = pcall(AudioManager.removeTrack, ctx) assert(not ok) end";
    log = runScript(code);
    EXPECT_EQ(countOf(log, "ZRScriptError"), 0) << log;
    EXPECT_EQ(countOf(log, "delete track " + tracks[0].key), 1) << log;
    ASSERT_EQ(tracks.size(), 1u);
    EXPECT_FLOAT_EQ(tracks[0].volume, 0.75f);

    // The first argument must be the context.
    log = runScript("function main(ctx) AudioManager.numTracks(ctx:getLayerByUIKey('hero')) end");
    EXPECT_NE(log.find("bad argument #1 to 'numTracks' (param is invalid)"), std::string::npos) << log;
}

TEST_F(SceneFamilyTest, TamperedClassTablesNeverReachEngineObjects) {
    const std::string log = runScript(R"(
function main(ctx)
  local hero = ctx:getLayerByUIKey('hero')
  local uiKey = hero.uiKey
  local v = Vec2.create(1, 2)
  v.__index.super = {'RenderLayerScript'}
  assert(uiKey(v) == nil, 'a value dressed as a layer is refused')
  assert(hero:uiKey() == 'hero')
end)");
    EXPECT_EQ(countOf(log, "ZRScriptError"), 0) << log;
    // Even a super ring ends: the next check of another class stops at its depth.
    const std::string ring = runScript(R"(
function main(ctx)
  local hero = ctx:getLayerByUIKey('hero')
  getmetatable(hero).super = {'RenderAVLayerScript'}
  assert(not pcall(function() return hero.uiKey end), 'the ring of look-ups ends in an error')
  Vec2.create():dot(hero)
end)");
    EXPECT_EQ(countOf(ring, "ZRScriptError"), 1) << ring;
    EXPECT_NE(ring.find("param is invalid"), std::string::npos) << ring;
}
