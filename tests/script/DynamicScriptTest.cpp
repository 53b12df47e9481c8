// A script over an assembled dynamic template: it finds the entrance, exit,
// segments and source compositions by file and by index, and what it changes
// there shows in the drawn frame.
#include <gtest/gtest.h>

#include "scene/DynamicTestSupport.h"
#include "script/ScriptContext.h"
#include "script/ScriptTestSupport.h"

using namespace Quorvane::Core;
using namespace QvTest;

TEST_F(DynamicFixture, ScriptFindsTheDynamicCompositionsOfTheFiles) {
    DynamicTemplate t(64, 32);
    t.source("SE").source("SA1").source("SA2").source("SX");
    t.entrance("E", 50, {"SE"}).segment("A", 100, {"SA1", "SA2"}).exit("X", 40, {"SX"});
    const std::vector<std::string> paths = files(4);
    RenderContext* ctx = build(t.json(), paths);
    ASSERT_TRUE(ctx->isLoaded());

    std::string code = R"(
function main(ctx, data)
  local entrance, exit = ctx:entranceComp(), ctx:exitComp()
  assert(entrance and exit and entrance:isDynamic() and not ctx:isDynamic())
  assert(ctx:segmentThatUsesFileAt(0):name() == entrance:name())
  assert(ctx:segmentThatUsesFileAt(3):name() == exit:name())
  assert(ctx:segmentThatUsesFileAt(4) == nil and ctx:segmentThatUsesFileAt(-1) == nil)
  assert(ctx:segmentThatUsesFileAt(2 ^ 40) == nil and ctx:segmentThatUsesFileAt('1') == nil)
  local a = ctx:segmentThatUsesFile('@F1@')
  assert(a and a:name() == ctx:segmentThatUsesFileAt(2):name() and ctx:segmentThatUsesFile('') == nil)
  local source = ctx:sourceCompThatUsesFile('@F2@')
  assert(source and source:isDynamic() and ctx:dynamicSourceComp('@SB@') ~= nil)
  assert(ctx:dynamicSourceComp('nothing') == nil)
  -- the entrance's file, hidden: the background shows through
  ctx:sourceCompThatUsesFile('@F0@'):layers()[1]:setEnabled(false)
  -- the segment's second file taken out (the segment still knows the layer,
  -- so the script host must not delete it at the end)
  local segment = ctx:segmentThatUsesFile('@F2@')
  local taken = segment:layers()[2]
  assert(segment:removeLayer(taken))
  -- moved into the context with a key of its own, it is no watermark to
  -- delete: the segment still points at it
  ctx:addLayer(taken)
  taken:setSourceID(taken:sourceID() .. '')
  ctx:removeWatermark(taken:sourceID())
  assert(taken:sourceID() and ctx:removeLayer(taken))
end)";
    const std::pair<const char*, std::string> marks[] = {
        {"@F0@", paths[0]}, {"@F1@", paths[1]}, {"@F2@", paths[2]}, {"@SB@", name("SA1")}};
    for (const auto& mark : marks)
        for (size_t at = code.find(mark.first); at != std::string::npos; at = code.find(mark.first))
            code.replace(at, std::string(mark.first).size(), mark.second);
    const std::string main = folder.asset("main.lua");
    ASSERT_TRUE(writeFile(main, code));
    const std::string log = captureLog([&] { ScriptContext(ctx).runFile(main, folder.folder(), ""); });
    EXPECT_EQ(countOf(log, "ZRScriptError"), 0) << log;

    // Frame 0 shows the entrance; its file's layer is off, so the black
    // background shows where file 0 (red) would be.
    EXPECT_EQ(pixelAt(frameAt(0), 16, 16), 0x000000FFu);
    // The segment keeps its first file and lost its second.
    const Pixels segment = frameAt(60);
    EXPECT_EQ(pixelAt(segment, 16, 16), packed(fileColors()[1]));
    EXPECT_EQ(pixelAt(segment, 48, 16), 0x000000FFu);
    DynamicSegmentComp* used = ctx->segmentThatUsesFile(paths[2]);
    ASSERT_NE(used, nullptr);
    ASSERT_EQ(used->sourceLayers().size(), 2u);
    EXPECT_EQ(used->sourceLayers()[1]->layerSource()->sourceComp(), ctx->sourceCompThatUsesFile(paths[2]));
    // Nothing owns a layer out of every list (the segment only points at it);
    // given back, the context deletes it with the segment.
    used->addLayer(used->sourceLayers()[1], false);
}
