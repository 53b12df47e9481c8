// The script host: module loading through the template's own searcher (plain,
// packed, precompiled, with a byte-order mark), the order of the searchers,
// the doors to native code kept shut, main's arguments, and how errors of
// every kind end up as one log line without harming the process.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <new>
#include <stdexcept>
#include <string>

#include "core/FileCodec.h"
#include "script/ScriptContext.h"
#include "script/ScriptTestSupport.h"

using namespace Quorvane::Core;
using namespace QvTest;

namespace {

class ScriptHostTest : public ::testing::Test {
protected:
    std::string write(const std::string& name, const std::string& text) {
        const std::string path = dir.file(name);
        for (size_t at = name.find('/'); at != std::string::npos; at = name.find('/', at + 1))
            ::mkdir(dir.file(name.substr(0, at)).c_str(), 0755);
        EXPECT_TRUE(writeFile(path, text));
        return path;
    }
    // Runs main.lua of the folder with the folder as module folder; the log.
    std::string runMain(const std::string& data = std::string()) {
        return captureLog([&] {
            ScriptContext script(nullptr);
            script.runFile(dir.file("main.lua"), dir.path(), data);
        });
    }

    TempDir dir{"qvscript"};
};

}  // namespace

TEST_F(ScriptHostTest, ModulesLoadFromTheFolderCompiledBeforeTextInEveryNamingForm) {
    write("a/b.lua", "return { kind = 'text' }");
    LuaHost host;
    host.manager.addSearchPath(dir.path().c_str());
    EXPECT_EQ(host.run("m1 = require('a.b').kind"), "");
    EXPECT_EQ(host.text("m1"), "text");

    // A precompiled chunk next to it wins; the loader tells binary from text.
    LuaHost compiler;
    ASSERT_EQ(compiler.run("code = string.dump(load(\"return { kind = 'compiled' }\"))"), "");
    write("a/b.luac", compiler.text("code"));
    LuaHost second;
    second.manager.addSearchPath(dir.path().c_str());
    for (const char* name : {"a.b", "a.b.lua", "a.b.luac"}) {
        SCOPED_TRACE(name);
        // Each name is a different module for require; all find the same file.
        EXPECT_EQ(second.run(std::string("m = require('") + name + "').kind"), "");
        EXPECT_EQ(second.text("m"), "compiled");
    }
}

TEST_F(ScriptHostTest, ByteOrderMarkAndPackedModulesLoadLikePlainText) {
    const std::string bom = "\xEF\xBB\xBF";
    write("bommed.lua", bom + "return 41 + 1");
    write("plain/packed.lua", "return 'unpacked'");
    FileCodec packer(FileCodecVersion1);
    ASSERT_TRUE(packer.createPack(dir.file("plain"), "packed.lua", dir.file("packed.lua")));
    write("main.lua", bom + "function main(ctx, data) result = require('bommed') .. require('packed') end");

    LuaHost host;
    host.manager.addSearchPath(dir.path().c_str());
    EXPECT_EQ(host.run("v = require('bommed'); p = require('packed')"), "");
    EXPECT_EQ(host.number("v"), 42);
    EXPECT_EQ(host.text("p"), "unpacked");
    EXPECT_TRUE(host.manager.executeFile(dir.file("main.lua").c_str()));
    EXPECT_TRUE(host.manager.testFunctionExists("main"));
}

TEST_F(ScriptHostTest, AFolderNamedLikeAModuleIsNotAModule) {
    write("dir.lua/inside.lua", "return 1");
    write("dir.luac/inside.lua", "return 1");
    LuaHost host;
    host.manager.addSearchPath(dir.path().c_str());
    EXPECT_EQ(host.run("ok, err = pcall(require, 'dir')"), "");
    EXPECT_FALSE(host.boolean("ok"));
    EXPECT_NE(host.text("err").find("module 'dir' not found"), std::string::npos) << host.text("err");
}

TEST_F(ScriptHostTest, SearcherSitsSecondAndPreloadStillWins) {
    write("mod.lua", "return 'file'");
    LuaHost host;
    host.manager.addSearchPath(dir.path().c_str());
    EXPECT_EQ(host.run("n = #package.searchers; "
                       "package.preload.mod = function() return 'preloaded' end; v = require('mod')"),
              "");
    EXPECT_EQ(host.number("n"), 5);
    EXPECT_EQ(host.text("v"), "preloaded");
    // The path gained exactly the folder's element at its end.
    const std::string path = host.run("p = package.path").empty() ? host.text("p") : "";
    const std::string tail = ";" + dir.path() + "/?.lua";
    ASSERT_GE(path.size(), tail.size());
    EXPECT_EQ(path.substr(path.size() - tail.size()), tail);
}

TEST_F(ScriptHostTest, RelativePathElementsFindModulesOnlyInsideTheModuleFolder) {
    write("x/rel.lua", "return 'relative'");
    char old[4096];
    ASSERT_NE(::getcwd(old, sizeof old), nullptr);
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    LuaHost host;
    host.manager.addSearchPath(dir.path().c_str());
    const std::string error = host.run("package.path = './x/?.lua'; v = require('rel')");
    // Only the module folder is searched: without it nothing loads.
    LuaHost stranger;
    EXPECT_EQ(stranger.run("package.path = './x/?.lua'; ok = pcall(require, 'rel')"), "");
    ASSERT_EQ(::chdir(old), 0);
    EXPECT_EQ(error, "");
    EXPECT_EQ(host.text("v"), "relative");
    EXPECT_FALSE(stranger.boolean("ok"));
}

TEST_F(ScriptHostTest, ScriptsReadTheirFoldersAndEveryClosedFunctionSaysSo) {
    // A real shared object on the native search path is not loaded.
    write("libdemo.so", "");
    write("data/words.txt", "alpha\nbeta\n");
    write("data/chunk.lua", "return 6 * 7, ...");
    // Code is read whole outside the script's memory: past 16 MB it is no script.
    write("big.lua", "return 1 --" + std::string(17 << 20, 'x'));
    TempDir outside("qvoutside");
    const std::string secret = outside.file("secret.lua");
    ASSERT_TRUE(writeFile(secret, "return 'secret'"));
    ASSERT_EQ(::symlink(secret.c_str(), dir.file("link.lua").c_str()), 0);
    LuaHost host;
    host.manager.addSearchPath(dir.path().c_str());
    EXPECT_EQ(host.run("package.cpath = '" + dir.path() +
                       "/lib?.so;/usr/lib/x86_64-linux-gnu/lua/5.3/?.so'; "
                       "ok, err = pcall(require, 'demo'); ok2 = pcall(require, 'lpeg')"),
              "");
    EXPECT_FALSE(host.boolean("ok"));
    EXPECT_FALSE(host.boolean("ok2"));
    EXPECT_NE(host.text("err").find("module 'demo' not found"), std::string::npos);

    // Every closed door raises an error naming it; the name shown is the one
    // the script used where it is a library function.
    const struct {
        const char* call;
        const char* named;
    } closed[] = {
        {"os.execute('true')", "os.execute"},
        {"os.remove(d .. '/data/words.txt')", "os.remove"},
        {"os.rename(d .. '/data/words.txt', d .. '/x')", "os.rename"},
        {"os.exit(3)", "os.exit"},
        {"os.tmpname()", "os.tmpname"},
        {"os.setlocale('C')", "os.setlocale"},
        {"io.popen('true')", "io.popen"},
        {"io.open(d .. '/data/new.txt', 'w')", "io.open for writing"},
        {"io.open(d .. '/data/words.txt', 'r+')", "io.open for writing"},
        {"io.open(d .. '/data/words.txt', 'a')", "io.open for writing"},
        {"io.tmpfile()", "io.tmpfile"},
        {"io.read()", "io.read"},
        {"io.output(d .. '/x')", "io.output"},
        {"io.input(d .. '/data/words.txt')", "io.input"},
        {"io.lines()", "io.lines of standard input"},
        {"dofile()", "dofile of standard input"},
        {"package.loadlib(d .. '/libdemo.so', 'f')", "package.loadlib"},
        {"package.searchpath('x', d)", "package.searchpath"},
        {"debug.getinfo(1)", "debug.getinfo"},
        {"debug.sethook()", "debug.sethook"},
        {"require('debug').setmetatable(1, {})", "debug.setmetatable"},
        {"package.loaded.io.popen('true')", "io.popen"},
    };
    for (const auto& row : closed) {
        SCOPED_TRACE(row.call);
        const std::string call = std::string("pcall(function() return ") + row.call + " end)";
        EXPECT_EQ(host.run("d = '" + dir.path() + "'; ok, why = " + call), "");
        EXPECT_FALSE(host.boolean("ok"));
        EXPECT_NE(host.text("why").find(std::string(row.named) + " is not available to template scripts"),
                  std::string::npos)
            << host.text("why");
    }
    EXPECT_TRUE(fileExists(dir.file("data/words.txt")));
    EXPECT_FALSE(fileExists(dir.file("data/new.txt")));

    // Given back: reading the folder's files, text chunks from them, the log
    // for standard output, no environment.
    std::string log = captureLog([&] {
        EXPECT_EQ(host.run("d = '" + dir.path() + "'\n"
                           "local f = assert(io.open(d .. '/data/words.txt'))\n"
                           "first = f:read('l'); rest = f:read('a'); f:close()\n"
                           "count = 0; for line in io.lines(d .. '/data/words.txt') do count = count + 1 end\n"
                           "n, echoed = dofile(d .. '/data/chunk.lua')\n"
                           "m, arg = loadfile(d .. '/data/chunk.lua', 'bt', {})('given')\n"
                           "home = os.getenv('HOME')\n"
                           "io.write('written ', 1, '\\n'); io.stdout:write('to the log\\n')\n"
                           "outsideOpen, outsideWhy = io.open('" +
                           secret +
                           "')\n"
                           "linked = io.open(d .. '/link.lua')\n"
                           "noFolder = io.open(d .. '/data')\n"
                           "bigChunk = loadfile(d .. '/big.lua')\n"
                           "loadedOutside = loadfile('" +
                           secret + "')\n"),
                  "");
    });
    EXPECT_EQ(host.text("first"), "alpha");
    EXPECT_EQ(host.text("rest"), "beta\n");
    EXPECT_EQ(host.number("count"), 2);
    EXPECT_EQ(host.number("n"), 42);
    EXPECT_EQ(host.type("echoed"), LUA_TNIL);
    EXPECT_EQ(host.number("m"), 42);
    EXPECT_EQ(host.text("arg"), "given");
    EXPECT_EQ(host.type("home"), LUA_TNIL);
    EXPECT_NE(log.find("] written 1\n"), std::string::npos) << log;
    EXPECT_NE(log.find("] to the log\n"), std::string::npos) << log;
    for (const char* refused : {"outsideOpen", "linked", "noFolder", "loadedOutside", "bigChunk"})
        EXPECT_EQ(host.type(refused), LUA_TNIL) << refused;
    EXPECT_NE(host.text("outsideWhy").find("not a readable file of the template"), std::string::npos);
    // A compiled chunk does not load through loadfile or dofile.
    LuaHost compiler;
    ASSERT_EQ(compiler.run("code = string.dump(load('return 1'))"), "");
    write("bin.luac", compiler.text("code"));
    EXPECT_EQ(host.run("b, why = loadfile(d .. '/bin.luac')"), "");
    EXPECT_EQ(host.type("b"), LUA_TNIL);
    EXPECT_NE(host.text("why").find("binary"), std::string::npos) << host.text("why");

    EXPECT_EQ(host.run("v = os.time() + os.clock() + #os.date('%Y') + #debug.traceback('x')"), "");
    EXPECT_GT(host.number("v"), 0);
    // Text chunks load; a binary one does not, whatever mode is asked for.
    EXPECT_EQ(host.run("f = load('return 7', 'c', 'bt', {}); seven = f(); "
                       "b, why = load(string.dump(f), 'c', 'b')"),
              "");
    EXPECT_EQ(host.number("seven"), 7);
    EXPECT_EQ(host.type("b"), LUA_TNIL);
    EXPECT_NE(host.text("why").find("binary"), std::string::npos) << host.text("why");
    // print goes to the log.
    EXPECT_NE(captureLog([&] { host.run("print('to', 'log', 1)"); }).find("to\tlog\t1\n"), std::string::npos);
    // An error outside every protected call is logged instead of aborting.
    bool reached = false;
    log = captureLog([&] {
        EXPECT_FALSE(host.manager.guarded([&] {
            lua_pushliteral(host.L, "unprotected");
            reached = true;
            lua_error(host.L);
        }));
    });
    EXPECT_TRUE(reached);
    EXPECT_NE(log.find("ZRScriptError: unprotected error: unprotected"), std::string::npos) << log;
}

TEST_F(ScriptHostTest, MainGetsTheContextAndTheDataAndErrorsAreLoggedOnce) {
    write("main.lua",
          "function fill() error('no layer') end\n"
          "function main(ctx, data)\n"
          "  assert(select('#', ctx, data) == 2 and ctx == nil and data == 'hello', 'arguments')\n"
          "  fill()\n"
          "end\n");
    std::string log = runMain("hello");
    EXPECT_EQ(countOf(log, "ZRScriptError: "), 1) << log;
    EXPECT_NE(log.find("main.lua\"]:1: no layer (global fill)"), std::string::npos) << log;

    // A runtime error in the function's own body names its caller, which has no name.
    write("main.lua", "function fill() local t = nil; return t.x end\nfunction main() fill() end\n");
    log = runMain();
    EXPECT_NE(log.find("attempt to index a nil value"), std::string::npos) << log;
    EXPECT_EQ(log.find("(global"), std::string::npos) << log;

    // No main at all, and a top level that fails: one line each, and main still runs.
    write("main.lua", "x = 1\n");
    log = runMain();
    EXPECT_EQ(countOf(log, "ZRScriptError: "), 1) << log;
    EXPECT_NE(log.find("attempt to call a nil value"), std::string::npos) << log;
    write("main.lua", "function main() print_marker = true; error({}) end\nerror('top')\n");
    log = runMain();
    EXPECT_EQ(countOf(log, "ZRScriptError: "), 1) << log;
    EXPECT_NE(log.find("error object is a table value"), std::string::npos) << log;

    // A missing main file, or a folder in its place, does nothing at all.
    EXPECT_EQ(captureLog([&] { ScriptContext(nullptr).runFile(dir.file("none.lua"), dir.path(), ""); }), "");
    EXPECT_EQ(captureLog([&] { ScriptContext(nullptr).runFile(dir.path(), dir.path(), ""); }), "");
}

TEST_F(ScriptHostTest, ErrorsInModulesKeepLongChunkNames) {
    const std::string name(90, 'n');
    // A module that does not compile fails require (the interpreter's own
    // searcher then reports the file).
    write(name + ".lua", "return +");
    LuaHost host;
    host.manager.addSearchPath(dir.path().c_str());
    EXPECT_EQ(host.run("ok, err = pcall(require, '" + name + "')"), "");
    EXPECT_FALSE(host.boolean("ok"));
    EXPECT_NE(host.text("err").find("unexpected symbol"), std::string::npos) << host.text("err");

    // Runtime errors in such a module show the whole name, where the
    // interpreter alone would cut it at 45 characters.
    write(name + ".lua", "local M = {}\nfunction M.f() error('deep') end\nreturn M");
    write("main.lua", "function main() require('" + name + "').f() end");
    const std::string log = runMain();
    EXPECT_NE(log.find("[string \"" + name + "\"]:2: deep"), std::string::npos) << log;
}

TEST_F(ScriptHostTest, HostileScriptsFailCleanly) {
    const char* scripts[] = {
        "function main() local function f(n) return f(n + 1) + 1 end f(1) end",
        "function main() local s = 'x' while true do s = s .. s end end",
        "function main() local t = {} for i = 1, 1e12 do t[i] = i end end",
        "function main() return string.rep('x', 1 << 40) end",
        "function main() Vec2.create('x') end",
        "function main() Mat4.create(1, 2, 3) end",
        "function main() local v = Vec3.create(1, 2, 3); v.__gc(v); return v:length() end",
        "function main() local v = Vec2.create(1, 2); v.__index.super = {'Vec3Script'}; "
        "Vec3.create(v):length() end",
        "function main() getmetatable(Vec2.create()).__index.super = {'RenderLayerScript'}; "
        "RenderLayer.uiKey(Vec2.create()) end",
        "function main() coroutine.wrap(function() error('in a coroutine') end)() end",
    };
    for (const char* script : scripts) {
        SCOPED_TRACE(script);
        write("main.lua", script);
        const std::string log = runMain();
        EXPECT_EQ(countOf(log, "ZRScriptError: "), 1) << log;
    }
    // No script function ever runs as a finaliser (they run with the hooks off).
    write("main.lua", "function main() setmetatable({}, {__gc = function() error('late') end}) end");
    EXPECT_NE(runMain().find("may not set __gc"), std::string::npos);
    // A value whose copy a script collected by hand answers with the argument error.
    write("main.lua", "function main() local v = Vec3.create(1, 2, 3); v.__gc(v); v:setX(1) end");
    EXPECT_NE(runMain().find("param is invalid"), std::string::npos);
    // A plain search is linear (the interpreter's own took the product of the
    // lengths: hours for this one) and answers as the interpreter's does.
    LuaHost finder;
    EXPECT_EQ(finder.run(R"(
        local function both(x, y, a, b) assert(a == x and b == y, tostring(a) .. ',' .. tostring(b)) end
        both(3, 3, string.find('hello', 'l'))
        both(4, 4, string.find('hello', 'l', -2))
        both(6, 5, string.find('hello', '', 6))
        both(1, 0, string.find('hello', '', -100))
        both(2, 2, string.find('a.b', '.', 1, true))
        both(1, 1, string.find('a.b', '.'))
        both(2, 2, string.find('abc', 'b', 0))
        both(2, 3, ('a\0b'):find('\0b'))
        both(1, 0, string.find('', ''))
        assert(string.find('hello', '', 10) == nil and string.find('abc', 'c', 4) == nil)
        assert(not string.find(string.rep('a', 16 << 20), string.rep('a', 8 << 20) .. 'b', 1, true))
    )"),
              "");
    // An exception of the engine inside a binding is the script's error; it
    // never unwinds through the interpreter.
    static const luaL_Reg throwing[] = {
        {"alloc", [](lua_State*) -> int { throw std::bad_alloc(); }},
        {"range", [](lua_State*) -> int { throw std::out_of_range("no such index"); }},
        {nullptr, nullptr},
    };
    LuaHost host;
    ScriptBinding::openClass(host.L, ScriptBinding::ClassSpec{"ThrowingScript", nullptr, nullptr, throwing});
    lua_setglobal(host.L, "Throwing");
    lua_pop(host.L, 1);
    EXPECT_EQ(host.run("ok, why = pcall(Throwing.alloc); ok2, why2 = pcall(Throwing.range)"), "");
    EXPECT_FALSE(host.boolean("ok"));
    EXPECT_NE(host.text("why").find("not enough memory"), std::string::npos) << host.text("why");
    EXPECT_FALSE(host.boolean("ok2"));
    EXPECT_NE(host.text("why2").find("engine error: no such index"), std::string::npos) << host.text("why2");
}

TEST_F(ScriptHostTest, RunnersForHostsPassArgumentsAndResults) {
    LuaHost host;
    ASSERT_EQ(host.run("function add(a, b) return a + b end function boom() error('x') end"), "");
    double sum = 0;
    host.manager.runGlobalLuaFunctionWithArgumentsGetResult(
        "add",
        [](lua_State* L, int) {
            lua_pushinteger(L, 2);
            lua_pushinteger(L, 40);
        },
        // The protected form asks for one result more than the reader's count.
        2, [&](lua_State* L, int) { sum = lua_tonumber(L, -2); }, 1, false);
    EXPECT_EQ(sum, 42);
    const int top = lua_gettop(host.L);
    EXPECT_NE(captureLog([&] { host.manager.runGlobalLuaFunction("boom", false); }).find("Error: "),
              std::string::npos);
    EXPECT_EQ(lua_gettop(host.L), top);
    EXPECT_FALSE(host.manager.testFunctionExists("missing"));
    EXPECT_EQ(lua_gettop(host.L), top);
}
