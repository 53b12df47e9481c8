// The Lua host: one Lua 5.3 state with the standard libraries, a module
// searcher that reads scripts through the template pack reader, and every
// binding class registered; and the class-registry checks the bindings share.
#pragma once

#include <csetjmp>
#include <functional>
#include <string>
#include <vector>

#include <lua.hpp>

#include "core/Log.h"

namespace Quorvane {
namespace Core {

class RenderLayer;

class ScriptManager {
public:
    using ArgumentPusher = std::function<void(lua_State*, int)>;
    using ResultReader = std::function<void(lua_State*, int)>;

    ScriptManager();
    virtual ~ScriptManager();
    ScriptManager(const ScriptManager&) = delete;
    ScriptManager& operator=(const ScriptManager&) = delete;

    lua_State* getLuaState() const { return mState; }

    void addSearchPath(const char* folder);
    bool loadFile(const char* path, const char* chunkName);
    bool executeFile(const char* path);

    bool testFunctionExists(const char* name);
    void runGlobalLuaFunction(const char* name, bool unprotected);
    void runGlobalLuaFunctionWithArguments(const char* name, const ArgumentPusher& pusher, int count,
                                           bool unprotected);
    void runGlobalLuaFunctionWithArgumentsGetResult(const char* name, const ArgumentPusher& pusher, int count,
                                                    const ResultReader& reader, int resultCount,
                                                    bool unprotected);

    static void registerLoader(lua_State* L, lua_CFunction searcher);
    static void registerLibs(lua_State* L);
    static void luaAddSearchPath(lua_State* L, const char* folder);
    static int luaLoader(lua_State* L);
    static bool luaLoadFile(lua_State* L, const char* path, const char* chunkName);

    static bool testFunctionExists(lua_State* L, const char* name);
    static void runGlobalLuaFunction(lua_State* L, const char* name, bool unprotected);
    static void runGlobalLuaFunctionWithArguments(lua_State* L, const char* name,
                                                  const ArgumentPusher& pusher, int count, bool unprotected);
    static void runGlobalLuaFunctionWithArgumentsGetResult(lua_State* L, const char* name,
                                                           const ArgumentPusher& pusher, int count,
                                                           const ResultReader& reader, int resultCount,
                                                           bool unprotected);

    // Engine objects a script makes (layers, keyframe records, compositions,
    // sources) live outside the interpreter's allocator; each is accounted
    // for with an estimate of its size against a budget of their own, the
    // interpreter's cap times kEngineShare: what a template may declare
    // without a script (a hundred full-HD compositions) fits in it.
    // False (nothing counted) when the budget would be passed.
    static bool chargeEngine(lua_State* L, size_t bytes);
    // Texts and buffers the script hands the engine to keep: counted against
    // the interpreter's own cap, as if they had stayed in the state.
    static bool chargeScript(lua_State* L, size_t bytes);
    // The wall-clock time a script run may take before it is stopped
    // (counted from the manager's creation: one manager serves one run), and
    // the memory cap; tests lower them. Apply to managers made afterwards.
    static constexpr double kTimeBudget = 30.0;
    static constexpr size_t kMemoryLimit = size_t(512) << 20;
    static constexpr size_t kEngineShare = 4;
    static void setLimits(double seconds, size_t bytes);
    // Raises the script's time error once its time is up: for loops in
    // native code, which the interpreter's instruction hook never sees.
    static void checkClock(lua_State* L);
    // The run's time is up (every further instruction raises).
    static bool timeIsUp(lua_State* L);
    // Script output (print, io.write) into the log, up to a cap per run.
    static void output(lua_State* L, const char* text, size_t length);
    // The share of the log a run of this script may take (null without a state).
    LogShare* logShare();

    static void* checkudata(lua_State* L, int index, const char* className);
    static bool checkSuperClass(lua_State* L, const char* className);
    static int findMethod(lua_State* L);

    // Layers that the script made (RenderAVLayer.create and its sisters): the
    // script host deletes at its end the ones that no composition holds then,
    // which nothing else would ever free.
    static void adoptLayer(lua_State* L, RenderLayer* layer);
    // A layer the script took out of a composition: deleted at the end too
    // unless a composition took it back or an engine part still points at it
    // (a camera list, a dynamic template's source layers, the filters).
    static void keepRemovedLayer(lua_State* L, RenderLayer* layer);
    // The engine deleted the layer: nothing may touch it at the end.
    static void forgetLayer(lua_State* L, RenderLayer* layer);

    // Runs the callable inside a recovery point for the interpreter's panic
    // (an error that no protected call catches): the panic is logged, the
    // state is abandoned and false returned, instead of the process aborting.
    bool guarded(const std::function<void()>& body);
    bool failed() const { return mFailed; }

    // Whether the file may be loaded as a module: a regular file of bounded
    // size inside one of the folders given to addSearchPath.
    bool trustedModule(const std::string& path) const;
    // A folder whose regular files scripts may read (the template's); the
    // module folders given to addSearchPath are readable too.
    void addReadableFolder(const std::string& folder);
    // The one answer to "may a script read this path": the resolved path of
    // a regular file inside a readable folder, or empty. Code (modules,
    // dofile, loadfile) is read whole outside the interpreter's allocator, so
    // it is held to kMaxChunkBytes: template scripts are a few kilobytes, a
    // bigger file is no script.
    static constexpr long long kMaxChunkBytes = 16LL << 20;
    static std::string readablePath(lua_State* L, const std::string& path, bool code);

private:
    static ScriptManager* fromState(lua_State* L);
    static int findModule(lua_State* L);
    static int panic(lua_State* L);
    void releaseLooseLayers();

    lua_State* mState = nullptr;
    bool mFailed = false;
    std::jmp_buf* mRecovery = nullptr;
    std::vector<std::string> mModuleRoots;
    std::vector<std::string> mReadRoots;
    std::vector<RenderLayer*> mLooseLayers;
    std::vector<RenderLayer*> mRemovedLayers;
};

int pcall_callback_err_fun(lua_State* L);
void skipBOM(const char*& data, int& length);
int luaLoadBuffer(lua_State* L, const char* data, int length, const char* chunkName);

// The resolved path when it names a regular file of at most maxBytes inside
// one of the (resolved) roots, else empty.
std::string scriptReadablePath(const std::string& path, const std::vector<std::string>& roots,
                               long long maxBytes);

// The interpreter describes a chunk in messages in at most 59 characters;
// this widens every such description of the given source in the message to
// the description the interpreter would give with room for 119.
std::string widenChunkNames(const std::string& message, const char* source);

}  // namespace Core
}  // namespace Quorvane
