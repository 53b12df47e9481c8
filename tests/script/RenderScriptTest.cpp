// A whole render whose template carries a main script: the script, loading a
// module of its folder, recolours the frame and adds a music track; the
// finished video shows both. A failing script leaves the template's own frame,
// and so does every hostile one, within bounded time and touching nothing.
// The renders fork; a process that already holds the GL context of the other
// tests of this program must not fork (the driver's threads stay behind), so
// they run in a fresh process of their own.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "script/ScriptManager.h"
#include "support/AudioGen.h"
#include "support/GLFixture.h"
#include "support/TestSupport.h"
#include "task/quorvane.h"

using QvTest::TempDir;

namespace {

const char* kTemplate = R"({"type":1,"fps":25,"main":"main",
    "assets":[{"key":"red","type":4,"name":"#FF0000","size":[64,48]}],
    "comps":[{"name":"main","size":[64,48],"bg":"#0000FF","duration":10,"layers":[
      {"type":1,"uuid":"s","ui_key":"hero","source":"red","range":[0,10],
       "transform":{"a":[0,0],"p":[0,0],"s":[1,1],"r":0,"t":1}}]}]})";

// Mean colour of the first decoded frame.
void meanColour(const std::string& file, double rgb[3]) {
    QvTest::ProgramResult decoded = QvTest::runProgram(
        {"ffmpeg", "-v", "error", "-i", file, "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
    ASSERT_EQ(0, decoded.exitCode);
    ASSERT_GE(decoded.out.size(), 3u);
    rgb[0] = rgb[1] = rgb[2] = 0;
    const size_t pixels = decoded.out.size() / 3;
    for (size_t i = 0; i < pixels * 3; ++i) rgb[i % 3] += static_cast<unsigned char>(decoded.out[i]);
    for (int c = 0; c < 3; ++c) rgb[c] /= pixels;
}

std::string render(const TempDir& dir, const std::string& mainScript, const std::string& data, int key) {
    const std::string folder = dir.file("tpl") + "/";
    ::mkdir(folder.c_str(), 0755);
    ::mkdir((folder + "lua").c_str(), 0755);
    ::mkdir((folder + "lua/fx").c_str(), 0755);
    QvTest::writeFile(folder + "config.json", kTemplate);
    QvTest::writeFile(folder + "lua/main.lua", mainScript);
    QvTest::writeFile(folder + "lua/fx/paint.lua",
                      "local M = {}\n"
                      "function M.fill(ctx, hex)\n"
                      "  local key = ctx:createSolidSource(Color.create(hex), 64, 48)\n"
                      "  ctx:getLayerByUIKey('hero'):setSourceID(key)\n"
                      "end\n"
                      "return M\n");
    const std::string output = dir.file("out" + std::to_string(key) + ".mp4");
    unsigned long handle = 0;
    EXPECT_EQ(0, zr_create_render_process(&handle, folder.c_str(), output.c_str(), key));
    zr_render_process_set_lua_main_file(&handle, folder + "lua/main.lua");
    zr_render_process_set_lua_dir(&handle, folder + "lua");
    zr_render_process_set_lua_data(&handle, data);
    EXPECT_EQ(0, zr_render_process_start(&handle, nullptr));
    EXPECT_STREQ("end", zr_render_process_status(&handle));
    zr_render_process_release(&handle);
    return output;
}

}  // namespace

TEST(RenderScriptChild, MainScriptRecoloursTheFrameAndAddsMusic) {
    if (!QvTest::GLFixture::isChild()) GTEST_SKIP() << "runs in a child process";
    TempDir dir("qvrenderscript");
    // A script's track is a file of the template.
    ::mkdir(dir.file("tpl").c_str(), 0755);
    const std::string tone = dir.file("tpl/tone.m4a");
    ASSERT_TRUE(QvTest::writeTones(tone, {QvTest::Tone{440.0, 0.3}}));
    const std::string output = render(dir,
                                      "local paint = require('fx.paint')\n"
                                      "function main(ctx, data)\n"
                                      "  paint.fill(ctx, data)\n"
                                      "  AudioManager.addTrack(ctx, '" +
                                          tone +
                                          "')\n"
                                          "end\n",
                                      "#00FF00", 41);
    double rgb[3];
    meanColour(output, rgb);
    EXPECT_NEAR(rgb[0], 0, 4);
    EXPECT_NEAR(rgb[1], 255, 4);
    EXPECT_NEAR(rgb[2], 0, 4);
    EXPECT_EQ("aac", QvTest::probe(output, "a:0", "codec_name"));
    const std::vector<float> samples = QvTest::decodeMono(output);
    ASSERT_GT(samples.size(), 4410u);
    EXPECT_GT(QvTest::toneLevel(samples, 0, 4410, 440.0), 0.1) << "the script's track is in the mix";
}

TEST(RenderScriptChild, FailingScriptLeavesTheTemplateAsItIs) {
    if (!QvTest::GLFixture::isChild()) GTEST_SKIP() << "runs in a child process";
    TempDir dir("qvrenderscript");
    const std::string output =
        render(dir, "function main(ctx, data) error('broken ' .. data) end\n", "x", 42);
    double rgb[3];
    meanColour(output, rgb);
    EXPECT_NEAR(rgb[0], 255, 4);
    EXPECT_NEAR(rgb[1], 0, 4);
    EXPECT_NEAR(rgb[2], 0, 4);
}

TEST(RenderScriptChild, HostileScriptsLeaveTheTemplateAndTouchNothing) {
    if (!QvTest::GLFixture::isChild()) GTEST_SKIP() << "runs in a child process";
    // Lowered from 30 s and 512 MB, so that the runaways end quickly; the
    // forked render children inherit them.
    Quorvane::Core::ScriptManager::setLimits(1.0, size_t(64) << 20);
    TempDir dir("qvrenderscript");
    TempDir elsewhere("qvelsewhere");
    // The data text: a path outside the output folder that no script may create.
    const std::string marker = elsewhere.file("marker");
    // Every door of the first script must stay shut (each attempt raises),
    // and its frame turns green only when it got through them all; the
    // others run away until a limit stops them, leaving the frame red.
    const char* doors = R"(
function main(c, m)
  local attempts = {
    function() os.execute('touch ' .. m) end,
    function() io.popen('touch ' .. m) end,
    function() io.open(m, 'w'):write('x') end,
    function() os.remove(m) end,
    function() os.rename(m, m .. '2') end,
    function() dofile(m) end,
    function() loadfile(m) end,
    function() require('io').open(m, 'w') end,
    function() os.exit(3) end,
    function() debug.setmetatable(Vec2.create(), getmetatable(Mat4.create())) end,
    function() debug.setuservalue(Vec2.create(), debug.getuservalue(c)) end,
    function() local f = string.dump(function() return 1 end)
               load(f:sub(1, 20) .. string.rep('\255', 64), 'x', 'b')() end,
    function() return string.rep('x', 1 << 40) end,
    function() local function f(n) return 1 + f(n + 1) end f(1) end,
    function() local function dive() coroutine.wrap(dive)() end dive() end,
    function() setmetatable({}, {__gc = function() while true do end end}) end,
    function() assert(c:createPreComp(64, 48, 1e9)) end,
  }
  for i, attempt in ipairs(attempts) do assert(not pcall(attempt), i) end
  -- A finaliser put on a class afterwards never runs.
  getmetatable(Vec2.create()).__gc = function() while true do end end
  for i = 1, 1e5 do Vec2.create() end
  collectgarbage()
  c:setCompDuration(1e9)
  c:getLayerByUIKey('hero'):setSourceID(c:createSolidSource(Color.create('#00FF00'), 64, 48))
end)";
    const char* scripts[] = {
        doors,
        "setmetatable(_G, {__index = function(_, k) error('no ' .. k) end})",
        "function main() local t = {} for i = 1, 1e9 do t[i] = Mat4.create() end end",
        "function main(c) local t = {} for i = 1, 1e9 do t[i] = RenderAVLayer.create(c) end end",
        "function main(c) for i = 1, 1e9 do "
        "RenderAVLayer.create(c):setPositionAtTime(Vec3.create(0, 0, 0), 1 << 20) end end",
        "function main() local all = {} while true do "
        "local co = coroutine.create(function() coroutine.yield() end) "
        "coroutine.resume(co); all[#all + 1] = co end end",
        "function main() while true do end end",
        "function main() while true do pcall(function() while true do end end) end end",
    };
    int key = 50;
    for (const char* script : scripts) {
        SCOPED_TRACE(script);
        const auto start = std::chrono::steady_clock::now();
        const std::string output = render(dir, script, marker, key++);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        EXPECT_LT(took.count(), 30.0);
        EXPECT_EQ("10", QvTest::probe(output, "v:0", "nb_read_frames"));
        double rgb[3];
        meanColour(output, rgb);
        const double green = script == doors ? 255 : 0;
        EXPECT_NEAR(rgb[0], 255 - green, 4);
        EXPECT_NEAR(rgb[1], green, 4);
        EXPECT_NEAR(rgb[2], 0, 4);
    }
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere.path()));
}

TEST(RenderScript, WholeRendersInAFreshProcess) {
    for (const char* name : {"RenderScriptChild.MainScriptRecoloursTheFrameAndAddsMusic",
                             "RenderScriptChild.FailingScriptLeavesTheTemplateAsItIs",
                             "RenderScriptChild.HostileScriptsLeaveTheTemplateAndTouchNothing"}) {
        std::string out;
        EXPECT_TRUE(QvTest::GLFixture::runInChild(name, &out)) << name << "\n" << out;
    }
}
