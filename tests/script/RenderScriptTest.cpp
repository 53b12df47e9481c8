// A whole render whose template carries a main script: the script, loading a
// module of its folder, recolours the frame and adds a music track; the
// finished video shows both. A failing script leaves the template's own frame,
// and so does every hostile one: each is stopped by a limit (its log line
// shows which) or refused, touches nothing and keeps the log within its cap.
// The renders fork; a process that already holds the GL context of the other
// tests of this program must not fork (the driver's threads stay behind), so
// they run in a fresh process of their own.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "script/ScriptManager.h"
#include "support/AudioGen.h"
#include "support/MediaGen.h"
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

// The template with a dozen more red layers in its main composition, all
// taking their transform track from "datas/move.json".
std::string sharedTrackTemplate() {
    std::string layers;
    for (int i = 0; i < 12; ++i) {
        layers += R"(,{"type":1,"uuid":"t)" + std::to_string(i) +
                  R"(","ui_key":"track","source":"red","range":[0,10],"transform":"move.json"})";
    }
    std::string config = kTemplate;
    config.insert(config.find("]}]}"), layers);
    return config;
}

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

// With a track, the template is sharedTrackTemplate() and the track its data file.
std::string render(const TempDir& dir, const std::string& mainScript, const std::string& data, int key,
                   std::string* status = nullptr, const std::string* track = nullptr) {
    const std::string folder = dir.file("tpl") + "/";
    ::mkdir(folder.c_str(), 0755);
    ::mkdir((folder + "lua").c_str(), 0755);
    ::mkdir((folder + "lua/fx").c_str(), 0755);
    QvTest::writeFile(folder + "config.json", track ? sharedTrackTemplate() : kTemplate);
    if (track) {
        ::mkdir((folder + "datas").c_str(), 0755);
        QvTest::writeFile(folder + "datas/move.json", *track);
    }
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
    if (status)
        *status = zr_render_process_status(&handle);
    else
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

    // A track started past its own end leaves no sound: the video renders
    // without it instead of failing on an empty mix.
    const std::string silent = render(dir,
                                      "function main(ctx)\n"
                                      "  local k = AudioManager.addTrack(ctx, '" +
                                          tone +
                                          "')\n"
                                          "  AudioManager.setStartTime(ctx, k, 1048576)\n"
                                          "end\n",
                                      "", 43);
    EXPECT_EQ("10", QvTest::probe(silent, "v:0", "nb_read_frames"));
    EXPECT_EQ("", QvTest::probe(silent, "a:0", "codec_name"));
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
    using Quorvane::Core::ScriptManager;
    TempDir dir("qvrenderscript");
    TempDir elsewhere("qvelsewhere");
    // The data text: a path outside the output folder that no script may create.
    const std::string marker = elsewhere.file("marker");
    // Every door of the first script must stay shut (each attempt raises),
    // and its frame turns green only when it got through them all; the
    // others run away until a limit stops them, or are refused, leaving the
    // frame red.
    const char* doors = R"(
function main(c, m)
  local attempts = {
    function() os.execute('touch ' .. m) end,
    function() io.popen('touch ' .. m) end,
    function() io.open(m, 'w'):write('x') end,
    function() os.remove(m) end,
    function() os.rename(m, m .. '2') end,
    function() dofile(m) end,
    function() assert(loadfile(m)) end,
    function() assert(io.open(m)) end,
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
    function() assert(table.unpack({}, 1, 1 << 40)) end,
  }
  for i, attempt in ipairs(attempts) do assert(not pcall(attempt), i) end
  -- The template's own files and the script folder's are readable.
  local scripts = package.path:match(';([^;]*)/%?%.lua$')
  assert(assert(io.open(scripts .. '/../config.json')):read('a'):find('"main"'))
  assert(loadfile(scripts .. '/fx/paint.lua'))
  -- A finaliser put on a class afterwards never runs.
  getmetatable(Vec2.create()).__gc = function() while true do end end
  for i = 1, 1e5 do Vec2.create() end
  collectgarbage()
  assert(string.rep('', 1 << 40) == '' and string.rep('', 1 << 40, '') == '')
  c:setCompDuration(1e9)
  c:getLayerByUIKey('hero'):setSourceID(c:createSolidSource(Color.create('#00FF00'), 64, 48))
end)";
    // The long row counts: what a template could declare, a script may make.
    const char* precomps = R"(
function main(c)
  for i = 1, 100 do assert(c:createPreComp(1920, 1080, 10) ~= '') end
  c:getLayerByUIKey('hero'):setSourceID(c:createSolidSource(Color.create('#00FF00'), 64, 48))
end)";
    // Runaways meet the lowered clock; the rest end by memory or on their own
    // and get room on the clock, however loaded the machine is. Lean rows
    // spend their memory in many small charges: a smaller budget lets them
    // reach its end well within the clock on a slow sanitizer build.
    enum Limits { Short, Roomy, Lean, Default };
    const char* stopped = "Script stopped";
    const char* memory = "not enough memory";
    const struct {
        const char* script;
        const char* logged;  // a line the row leaves in the log, or null
        bool green;
        Limits limits;
        bool sharedTrack = false;  // the template of sharedTrackTemplate(), with the track below
    } rows[] = {
        {doors, nullptr, true, Roomy},
        {precomps, nullptr, true, Default},
        {"setmetatable(_G, {__index = function(_, k) error('no ' .. k) end})", "ZRScriptError", false, Roomy},
        {"function main() local t = {} for i = 1, 1e9 do t[i] = Mat4.create() end end", memory, false, Roomy},
        {"function main(c) local t = {} for i = 1, 1e9 do t[i] = RenderAVLayer.create(c) end end", memory,
         false, Roomy},
        {"function main(c) for i = 1, 1e9 do "
         "RenderAVLayer.create(c):setPositionAtTime(Vec3.create(0, 0, 0), 1 << 20) end end",
         memory, false, Roomy},
        {"function main() local all = {} while true do "
         "local co = coroutine.create(function() coroutine.yield() end) "
         "coroutine.resume(co); all[#all + 1] = co end end",
         "ZRScriptError", false, Roomy},
        {"function main() while true do end end", stopped, false, Short},
        {"function main() while true do pcall(function() while true do end end) end end", stopped, false,
         Short},
        // The main composition made to show itself: directly, and through a
        // composition that main shows.
        {R"(function main(c)
              local other = c:comp(c:createPreComp(64, 48, 10))
              local deep = c:comp(c:createPreComp(64, 48, 10))
              local shown = RenderAVLayer.create(c)
              shown:setSourceID(c:createCompSource(other))
              c:addLayer(shown, true)
              local back = RenderAVLayer.create(deep)
              back:setSourceID(c:createCompSource(c))
              other:insertLayerAt(back, 0)
              other:addLayer(back)
              c:insetLayerAbove(back, shown)
              -- Each refusal logs a line; repeated, they stop at the log's cap.
              while true do c:addLayer(back) end
            end)",
         "show itself", false, Short},
        {"function main(c) c:setWidth(0) c:setHeight(0) c:getLayerByUIKey('hero'):setWidth(0) end", nullptr,
         false, Roomy},
        {R"(function main(c)
              local l = c:getLayerByUIKey('hero')
              assert(TimeUnit.create(math.mininteger, 1) == nil and TimeUnit.create(86401, 1) == nil, 'a day')
              assert(TimeUnit.create(3, -1) == nil and TimeUnit.create(3, 0/0):fps() == 0, 'rates')
              l:setLayerStartTime(TimeUnit.create(5, 0))
              l:setLayerDuration(TimeUnit.create(-5, 25))
              assert(l:layerStartTime():fps() == 0 and l:layerDuration():frameCount() == -5, 'as given')
              -- shown again, starting at a time without length: at 0
              l:setLayerDuration(TimeUnit.create(10, 25))
              local d = TimeUnit.create(1, 25)
              for i = 1, 100 do d:add(d) end
              assert(d:frameCount() == 1 << 21, 'held')
              d:setFrame(math.mininteger)
              assert(d:frameCount() == 1 << 21, 'setter held')
              d:setFps(0)
              assert(d:fps() == 0 and d:frame(25) == 0, 'no length')
              assert(l:localTimeToParentTime(math.maxinteger) == nil, 'frames')
              print('times held')
            end)",
         "times held", false, Roomy},
        // A list of names is an array of texts, each far larger than its
        // bytes: 60 lists of a million empty names would take 2 GB uncounted.
        {"function main(c) local t = {} for i = 1, 1 << 20 do t[i] = '' end "
         "for i = 1, 60 do c:createImageSequenceSource(t) end end",
         memory, false, Roomy},
        // Every copy of a source keeps a copy of its list.
        {"function main(c) local t = {} for i = 1, 1 << 20 do t[i] = '' end "
         "local k = c:createImageSequenceSource(t) t = nil collectgarbage() "
         "for i = 1, 60 do c:duplicateSource(k) end end",
         memory, false, Roomy},
        // And every copy of a composition a copy of each keyframe record.
        {"function main(c) local p = c:comp(c:createPreComp(64, 48, 10)) "
         "local l = RenderAVLayer.create(p) p:addLayer(l) "
         "for i = 0, 200000 do l:setPositionAtTime(Vec3.create(i, 0, 0), i) end "
         "for i = 1, 60 do c:duplicateComp(p) end end",
         memory, false, Roomy},
        // A track shared by a dozen layers becomes a layer's own copy when the
        // script changes it: the copy is charged before it is made, and
        // copying a composition copies none.
        {"function main(c) for _, l in ipairs(c:getLayersWithUIKeyStartWith('track')) do "
         "l:setPositionAtTime(Vec3.create(1, 1, 0), 2) end end",
         memory, false, Roomy, true},
        {"function main(c) assert(#c:getLayersWithUIKeyStartWith('track') == 12) "
         "while true do c:duplicateComp(c) end end",
         memory, false, Roomy, true},
        // Reading a shared track's matrices caches a copy of each record read
        // for the layer: each getter charges the copies before they are made.
        // Every getter gets its turn once the memory is spent, when one left
        // uncharged would copy the rest of the dozen tracks.
        {"function main(c) local ls = c:getLayersWithUIKeyStartWith('track') local p = Vec3.create(1, 2, 0) "
         "local reads = {function(l, i) return l:getTransform(i) end, "
         "function(l, i) return l:getWorldTransform(i) end, function(l, i) return l:getWorldAETransform(i) end, "
         "function(l, i) return l:localPointToCompPoint(p, 1, i) end, "
         "function(l, i) return l:compPointToLocalPoint(p, 0, i) end} "
         "for _, read in ipairs(reads) do pcall(function() for _, l in ipairs(ls) do "
         "for i = 0, 1 << 21 do read(l, i) end end end) end "
         "for _, l in ipairs(ls) do for i = 0, 1 << 21 do l:getAETransform(i) end end end",
         memory, false, Lean, true},
        // A copy of a composition takes those caches along, charged.
        {"function main(c) for _, l in ipairs(c:getLayersWithUIKeyStartWith('track')) do "
         "for i = 0, 800 do l:getTransform(i) end end "
         "while true do c:duplicateComp(c) end end",
         memory, false, Roomy, true},
        {"function main(c) local s = string.rep('k', 64 << 20) for i = 1, 24 do "
         "local l = RenderAVLayer.create(c); l:setUIKey(s); l:setLinkedLayerID(s) end end",
         memory, false, Default},
        {"function main() table.move({1}, 1, 1 << 40, 2) end", stopped, false, Short},
        {"function main() table.insert(setmetatable({}, {__len = function() return 1 << 62 end}), 1, 0) end",
         stopped, false, Short},
        {"function main() table.remove(setmetatable({}, {__len = function() return 1 << 62 end}), 1) end",
         stopped, false, Short},
        {"function main() table.sort(setmetatable({}, {__len = function() return 1 << 30 end, "
         "__index = tostring})) end",
         memory, false, Roomy},
        {"function main() table.concat(setmetatable({}, {__len = function() return 1 << 62 end, "
         "__index = rawlen}), '') end",
         stopped, false, Short},
        {"function main() error(string.rep('e', 32 << 20)) end", "ZRScriptError", false, Roomy},
        {"function main() local s = string.rep('p', 1000) while true do print(s) io.write(s, '\\n') "
         "io.stdout:write(s) end end",
         "Script output past", false, Short},
        // A composition's own camera is owned outside every layer list.
        {"function main(c) c:addLayer(c:cameraLayer()) end", "default camera", false, Roomy},
        // The interpreter runs a message handler with its hooks off.
        {"function main() xpcall(error, function() while true do end end) end", stopped, false, Short},
        // Every copy of a source fills a texture of its own.
        {"function main(c) local k = c:createSolidSource(Color.create('#FF0000'), 4096, 4096) "
         "for i = 1, 1000 do c:duplicateSource(k) end end",
         memory, false, Roomy},
        // The engine's lines about a script's calls share the script's part of the log.
        {"function main(c) local p = '/nonexistent/' .. string.rep('p', 900) .. '.png' "
         "for i = 1, 1e6 do c:createAVFileSource(p) end end",
         "Script output past", false, Roomy},
    };
    // Each record of the track a copy takes far more memory than its five
    // bytes: copied for each layer uncharged, the track took the render
    // past the bound below.
    const std::string track = QvTest::largeTrack(size_t(6) << 20, true);
    int key = 50;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.script);
        // Lowered from 30 s and 512 MB, so that the runaways end quickly; the
        // forked render children inherit them.
        if (row.limits == Default)
            ScriptManager::setLimits(ScriptManager::kTimeBudget, ScriptManager::kMemoryLimit);
        else
            ScriptManager::setLimits(row.limits == Short ? 1.0 : 10.0,
                                     size_t(row.limits == Lean ? 16 : 64) << 20);
        std::string status, output;
        ::testing::internal::CaptureStderr();
        output = render(dir, row.script, marker, key++, &status, row.sharedTrack ? &track : nullptr);
        const std::string log = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ("end", status);
        if (row.logged) {
            EXPECT_NE(log.find(row.logged), std::string::npos) << log.substr(0, 4000);
        }
        // The script's output stops at its cap; the engine adds a few lines.
        EXPECT_LT(log.size(), (size_t(1) << 20) + (64 << 10));
        EXPECT_EQ("10", QvTest::probe(output, "v:0", "nb_read_frames"));
        double rgb[3];
        meanColour(output, rgb);
        const double green = row.green ? 255 : 0;
        EXPECT_NEAR(rgb[0], 255 - green, 4);
        EXPECT_NEAR(rgb[1], green, 4);
        EXPECT_NEAR(rgb[2], 0, 4);
    }
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere.path()));
    // No render grew past the script's 512 MB and a margin for the engine and
    // the GL driver (the text row alone would take 3 GB uncounted).
    struct rusage children;
    ASSERT_EQ(0, ::getrusage(RUSAGE_CHILDREN, &children));
    EXPECT_LT(children.ru_maxrss, 1536L << 10) << "kB at the peak";
}

TEST(RenderScript, WholeRendersInAFreshProcess) {
    for (const char* name : {"RenderScriptChild.MainScriptRecoloursTheFrameAndAddsMusic",
                             "RenderScriptChild.FailingScriptLeavesTheTemplateAsItIs",
                             "RenderScriptChild.HostileScriptsLeaveTheTemplateAndTouchNothing"}) {
        std::string out;
        EXPECT_TRUE(QvTest::GLFixture::runInChild(name, &out)) << name << "\n" << out;
    }
}
