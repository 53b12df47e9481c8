#include "script/ScriptManager.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>
#include <vector>

#include <sys/stat.h>

#include "core/FileCodec.h"
#include "core/FileManager.h"
#include "core/Log.h"
#include "scene/FilterManager.h"
#include "scene/RenderCameraLayer.h"
#include "scene/RenderComp.h"
#include "scene/RenderContext.h"
#include "scene/RenderLayer.h"
#include "script/AVSourceScript.h"
#include "script/AffineScript.h"
#include "script/AudioManagerScript.h"
#include "script/Box3Script.h"
#include "script/ColorScript.h"
#include "script/EulerScript.h"
#include "script/FloatScript.h"
#include "script/Mat4Script.h"
#include "script/QuaternionScript.h"
#include "script/RangeScript.h"
#include "script/RenderAVLayerScript.h"
#include "script/RenderCameraLayerScript.h"
#include "script/RenderCompScript.h"
#include "script/RenderContextScript.h"
#include "script/RenderLayerScript.h"
#include "script/RenderPassScript.h"
#include "script/ScriptLibrary.h"
#include "script/TimeRangeScript.h"
#include "script/TimeUnitScript.h"
#include "script/Vec2Script.h"
#include "script/Vec3Script.h"
#include "script/Vec4Script.h"

namespace Quorvane {
namespace Core {

namespace {

// A template script is small; a state (with the texts it handed the engine)
// growing past this is a runaway script. The allocator then fails the
// allocation, which the interpreter turns into a "not enough memory" error
// inside the script instead of exhausting the render process.
size_t gMemoryLimit = ScriptManager::kMemoryLimit;

// Deep enough for any class tree the bindings register; a script that rewires
// "super" into a ring stops here instead of recursing without end.
constexpr int kMaxSuperDepth = 32;

// The interpreter's description size is 60 (59 characters); messages keep 119.
constexpr size_t kWideIdSize = 120;

// Wall-clock time one script run may take. Real template scripts finish in
// milliseconds; this only ends a runaway loop.
double gTimeBudget = ScriptManager::kTimeBudget;
// How often (in virtual-machine instructions) the clock is read.
constexpr int kHookInstructions = 10000;

// Log lines a script run may cause (its output and the engine lines of its
// calls); past it one line says the rest went.
constexpr size_t kLogLimit = size_t(1) << 20;
constexpr const char* kLogDropped = "Script output past 1048576 bytes dropped";

// The allocator's user data: what the state takes, what the engine objects
// the script made take, the run's deadline and the log output so far.
struct Budget {
    size_t used = 0;
    size_t limit = 0;
    size_t engineUsed = 0;
    size_t engineLimit = 0;
    std::chrono::steady_clock::time_point deadline;
    double seconds = 0;
    bool expired = false;
    LogShare log{kLogLimit, kLogDropped};
};

Budget* budgetOf(lua_State* L) {
    void* ud = nullptr;
    lua_getallocf(L, &ud);
    return static_cast<Budget*>(ud);
}

void* limitedAlloc(void* ud, void* ptr, size_t osize, size_t nsize) {
    auto* state = static_cast<Budget*>(ud);
    const size_t old = ptr ? osize : 0;
    if (nsize == 0) {
        std::free(ptr);
        state->used -= old;
        return nullptr;
    }
    if (nsize > old && (state->used > state->limit || nsize - old > state->limit - state->used)) return nullptr;
    void* grown = std::realloc(ptr, nsize);
    if (!grown) return nullptr;
    state->used = state->used - old + nsize;
    return grown;
}

void budgetHook(lua_State* L, lua_Debug*);

// Raises the time error once the deadline has passed.
void checkDeadline(lua_State* L) {
    Budget* budget = budgetOf(L);
    if (!budget->expired) {
        if (std::chrono::steady_clock::now() < budget->deadline) return;
        budget->expired = true;
        QVPrint("Script stopped: it ran longer than %g s\n", budget->seconds);
    }
    // From now on every instruction of this thread raises, so that no pcall
    // of the script can keep it going; each coroutine gets here on its own
    // next check.
    lua_sethook(L, budgetHook, LUA_MASKCOUNT, 1);
    char message[96];
    std::snprintf(message, sizeof message, "script stopped: it ran longer than %g s", budget->seconds);
    luaL_error(L, "%s", message);
}

void budgetHook(lua_State* L, lua_Debug*) {
    checkDeadline(L);
}

// The interpreter's description of a chunk in a buffer of the given size
// (the same rules as its own, which uses 60).
std::string chunkId(const char* source, size_t size) {
    const size_t length = std::strlen(source);
    std::string out;
    if (*source == '=') {
        out.assign(source + 1, std::min(length - 1, size - 1));
    } else if (*source == '@') {
        if (length <= size) {
            out.assign(source + 1, length - 1);
        } else {
            const size_t keep = size - 1 - 3;
            out = "..." + std::string(source + 1 + length - 1 - keep, keep);
        }
    } else {
        const char* newline = std::strchr(source, '\n');
        const size_t room = size - (9 + 3 + 2) - 1;
        out = "[string \"";
        if (length < room && !newline) {
            out.append(source, length);
        } else {
            size_t keep = newline ? static_cast<size_t>(newline - source) : length;
            if (keep > room) keep = room;
            out.append(source, keep);
            out += "...";
        }
        out += "\"]";
    }
    return out;
}

}  // namespace

std::string widenChunkNames(const std::string& message, const char* source) {
    if (!source) return message;
    const std::string narrow = chunkId(source, LUA_IDSIZE);
    const std::string wide = chunkId(source, kWideIdSize);
    if (narrow == wide) return message;
    std::string out;
    size_t from = 0;
    for (size_t at = message.find(narrow); at != std::string::npos; at = message.find(narrow, from)) {
        out.append(message, from, at - from);
        out += wide;
        from = at + narrow.size();
    }
    out.append(message, from, std::string::npos);
    return out;
}

int pcall_callback_err_fun(lua_State* L) {
    // An error text can be as long as the script's memory allows; the log
    // keeps a line of it. The texts built here are gone before anything is
    // pushed, and an allocation failing here leaves the error as it was.
    constexpr size_t kShown = 4096;
    char shown[kShown + 512];
    size_t length = 0;
    try {
        std::string message;
        if (lua_type(L, -1) == LUA_TSTRING || lua_type(L, -1) == LUA_TNUMBER) {
            size_t size = 0;
            const char* text = lua_tolstring(L, -1, &size);
            message.assign(text, std::min(size, kShown));
        } else {
            message = std::string("(error object is a ") + luaL_typename(L, -1) + " value)";
        }
        lua_Debug ar;
        for (int level = 1; level < 8 && lua_getstack(L, level, &ar); ++level) {
            if (lua_getinfo(L, "S", &ar)) message = widenChunkNames(message, ar.source);
        }
        if (lua_getstack(L, 2, &ar) && lua_getinfo(L, "Sln", &ar) && ar.name) {
            message += std::string(" (") + (ar.namewhat ? ar.namewhat : "") + " " + ar.name + ")";
        }
        length = std::min(message.size(), sizeof shown);
        std::memcpy(shown, message.data(), length);
    } catch (const std::exception&) {
        return 1;  // the error value itself
    }
    lua_pop(L, 1);
    lua_pushlstring(L, shown, length);
    return 1;
}

void skipBOM(const char*& data, int& length) {
    if (length >= 3 && static_cast<unsigned char>(data[0]) == 0xEF &&
        static_cast<unsigned char>(data[1]) == 0xBB && static_cast<unsigned char>(data[2]) == 0xBF) {
        data += 3;
        length -= 3;
    }
}

int luaLoadBuffer(lua_State* L, const char* data, int length, const char* chunkName) {
    skipBOM(data, length);
    const int status = luaL_loadbufferx(L, data, static_cast<size_t>(length), chunkName, nullptr);
    if (status != LUA_OK && chunkName && lua_type(L, -1) == LUA_TSTRING) {
        // Compile messages are short; pushing the wider one happens after the
        // text is gone.
        char wide[1024];
        size_t length = 0;
        try {
            const std::string widened = widenChunkNames(lua_tostring(L, -1), chunkName);
            length = std::min(widened.size(), sizeof wide);
            std::memcpy(wide, widened.data(), length);
        } catch (const std::exception&) {
            return status;
        }
        lua_pop(L, 1);
        lua_pushlstring(L, wide, length);
    }
    return status;
}

// ---- the state ---------------------------------------------------------------------------------

namespace {

int setUp(lua_State* L) {
    luaL_openlibs(L);
    ScriptManager::registerLoader(L, ScriptManager::luaLoader);
    ScriptLibrary::install(L);
    ScriptManager::registerLibs(L);
    return 0;
}

}  // namespace

ScriptManager::ScriptManager() {
    auto* budget = new Budget();
    budget->seconds = gTimeBudget;
    budget->limit = gMemoryLimit;
    budget->engineLimit = gMemoryLimit * kEngineShare;
    budget->deadline = std::chrono::steady_clock::now() +
                       std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                           std::chrono::duration<double>(gTimeBudget));
    mState = lua_newstate(limitedAlloc, budget);
    if (!mState) {
        delete budget;
        return;
    }
    *static_cast<ScriptManager**>(lua_getextraspace(mState)) = this;
    lua_atpanic(mState, panic);
    lua_pushcfunction(mState, setUp);
    if (lua_pcall(mState, 0, 0, 0) != LUA_OK) {
        QVPrint("ZRScriptError: the script host could not start: %s\n", lua_tostring(mState, -1));
        lua_close(mState);
        delete budget;
        mState = nullptr;
        return;
    }
    lua_sethook(mState, budgetHook, LUA_MASKCOUNT, kHookInstructions);
}

ScriptManager::~ScriptManager() {
    // Closing only frees: it is safe also after a panic, when nothing else
    // may use the state.
    if (mState) {
        Budget* budget = budgetOf(mState);
        lua_close(mState);
        delete budget;
    }
    releaseLooseLayers();
}

int ScriptManager::panic(lua_State* L) {
    const char* message = lua_type(L, -1) == LUA_TSTRING ? lua_tostring(L, -1) : nullptr;
    QVPrint("ZRScriptError: unprotected error: %s\n", message ? message : "(not a text)");
    ScriptManager* manager = fromState(L);
    if (manager && manager->mRecovery) std::longjmp(*manager->mRecovery, 1);
    return 0;
}

bool ScriptManager::guarded(const std::function<void()>& body) {
    if (!mState || mFailed) return false;
    std::jmp_buf recovery;
    std::jmp_buf* const outer = mRecovery;
    mRecovery = &recovery;
    if (setjmp(recovery) != 0) {
        mRecovery = outer;
        mFailed = true;
        return false;
    }
    body();
    mRecovery = outer;
    return true;
}

bool ScriptManager::chargeEngine(lua_State* L, size_t bytes) {
    Budget* budget = budgetOf(L);
    if (budget->engineUsed > budget->engineLimit || bytes > budget->engineLimit - budget->engineUsed)
        return false;
    budget->engineUsed += bytes;
    return true;
}

bool ScriptManager::chargeScript(lua_State* L, size_t bytes) {
    Budget* budget = budgetOf(L);
    if (budget->used > budget->limit || bytes > budget->limit - budget->used) return false;
    budget->used += bytes;
    return true;
}

void ScriptManager::checkClock(lua_State* L) {
    checkDeadline(L);
}

bool ScriptManager::timeIsUp(lua_State* L) {
    const Budget* budget = budgetOf(L);
    return budget && budget->expired;
}

void ScriptManager::output(lua_State*, const char* text, size_t length) {
    // The log ends each entry with its own line break. The run's log share
    // (ScriptContext) holds what all of it may take.
    if (length > 0 && text[length - 1] == '\n') --length;
    QVPrint("%.*s", static_cast<int>(std::min<size_t>(length, INT_MAX)), text);
}

LogShare* ScriptManager::logShare() {
    return mState ? &budgetOf(mState)->log : nullptr;
}

void ScriptManager::setLimits(double seconds, size_t bytes) {
    gTimeBudget = seconds;
    gMemoryLimit = bytes;
}

std::string scriptReadablePath(const std::string& path, const std::vector<std::string>& roots,
                               long long maxBytes) {
    std::string resolved = FileManager::resolvedPath(path);
    if (resolved.empty()) return std::string();
    struct stat st;
    if (::stat(resolved.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > maxBytes)
        return std::string();
    for (const std::string& root : roots) {
        if (FileManager::liesWithin(resolved, root)) return resolved;
    }
    return std::string();
}

bool ScriptManager::trustedModule(const std::string& path) const {
    return !scriptReadablePath(path, mModuleRoots, kMaxChunkBytes).empty();
}

std::string ScriptManager::readablePath(lua_State* L, const std::string& path, bool code) {
    const ScriptManager* manager = fromState(L);
    return manager ? scriptReadablePath(path, manager->mReadRoots, code ? kMaxChunkBytes : LLONG_MAX)
                   : std::string();
}

void ScriptManager::addReadableFolder(const std::string& folder) {
    std::string resolved = FileManager::resolvedPath(folder);
    if (!resolved.empty()) mReadRoots.push_back(std::move(resolved));
}

ScriptManager* ScriptManager::fromState(lua_State* L) {
    return *static_cast<ScriptManager**>(lua_getextraspace(L));
}

namespace {

void remember(std::vector<RenderLayer*>& list, RenderLayer* layer) {
    if (layer && std::find(list.begin(), list.end(), layer) == list.end()) list.push_back(layer);
}

void drop(std::vector<RenderLayer*>& list, RenderLayer* layer) {
    list.erase(std::remove(list.begin(), list.end(), layer), list.end());
}

bool heldByComposition(RenderLayer* layer) {
    RenderComp* comp = layer->parentComp();
    if (!comp) return false;
    const auto& layers = comp->layers();
    return std::find(layers.begin(), layers.end(), layer) != layers.end();
}

// Whether an engine part other than a layer list may still point at a layer
// taken out of its composition.
bool engineMayPointAt(RenderLayer* layer) {
    if (dynamic_cast<RenderCameraLayer*>(layer)) return true;
    RenderContext* context = layer->context();
    if (!context) return true;
    // Filters keep compositions of their own whose layers a script may hold.
    if (context->filterManager() && context->filterManager()->filterCount() > 0) return true;
    return context->layerInUse(layer);
}

}  // namespace

void ScriptManager::adoptLayer(lua_State* L, RenderLayer* layer) {
    if (ScriptManager* manager = fromState(L)) remember(manager->mLooseLayers, layer);
}

void ScriptManager::keepRemovedLayer(lua_State* L, RenderLayer* layer) {
    ScriptManager* manager = fromState(L);
    if (!manager) return;
    // A layer the script made is already on the first list.
    if (std::find(manager->mLooseLayers.begin(), manager->mLooseLayers.end(), layer) ==
        manager->mLooseLayers.end())
        remember(manager->mRemovedLayers, layer);
}

void ScriptManager::forgetLayer(lua_State* L, RenderLayer* layer) {
    if (ScriptManager* manager = fromState(L)) {
        drop(manager->mLooseLayers, layer);
        drop(manager->mRemovedLayers, layer);
    }
}

void ScriptManager::releaseLooseLayers() {
    std::vector<RenderLayer*> made, removed;
    made.swap(mLooseLayers);
    removed.swap(mRemovedLayers);
    for (RenderLayer* layer : made)
        if (!heldByComposition(layer)) delete layer;
    for (RenderLayer* layer : removed)
        if (!heldByComposition(layer) && !engineMayPointAt(layer)) delete layer;
}

void ScriptManager::registerLoader(lua_State* L, lua_CFunction searcher) {
    if (!searcher) return;
    const int top = lua_gettop(L);
    if (lua_getglobal(L, "package") == LUA_TTABLE && lua_getfield(L, -1, "searchers") == LUA_TTABLE) {
        const lua_Integer n = static_cast<lua_Integer>(lua_rawlen(L, -1));
        for (lua_Integer i = n; i >= 2; --i) {
            lua_rawgeti(L, -1, i);
            lua_rawseti(L, -2, i + 1);
        }
        lua_pushcfunction(L, searcher);
        lua_rawseti(L, -2, 2);
        lua_setfield(L, -2, "searchers");
    }
    lua_settop(L, top);
}

void ScriptManager::registerLibs(lua_State* L) {
    RenderPassScript::registerFunctions(L);
    RenderLayerScript::registerFunctions(L);
    RenderAVLayerScript::registerFunctions(L);
    AVSourceScript::registerFunctions(L);
    RenderCameraLayerScript::registerFunctions(L);
    RenderCompScript::registerFunctions(L);
    RenderContextScript::registerFunctions(L);
    TimeUnitScript::registerFunctions(L);
    TimeRangeScript::registerFunctions(L);
    AffineScript::registerFunctions(L);
    ColorScript::registerFunctions(L);
    EulerScript::registerFunctions(L);
    FloatScript::registerFunctions(L);
    Mat4Script::registerFunctions(L);
    QuaternionScript::registerFunctions(L);
    RangeScript::registerFunctions(L);
    Box3Script::registerFunctions(L);
    Vec2Script::registerFunctions(L);
    Vec3Script::registerFunctions(L);
    Vec4Script::registerFunctions(L);
    AudioManagerScript::registerFunctions(L);
}

void ScriptManager::luaAddSearchPath(lua_State* L, const char* folder) {
    const int top = lua_gettop(L);
    if (lua_getglobal(L, "package") == LUA_TTABLE) {
        lua_getfield(L, -1, "path");
        const char* old = lua_tostring(L, -1);
        lua_pushfstring(L, "%s;%s/?.lua", old ? old : "", folder ? folder : "");
        lua_setfield(L, -3, "path");
    }
    lua_settop(L, top);
}

void ScriptManager::addSearchPath(const char* folder) {
    luaAddSearchPath(mState, folder);
    // The only place modules load from; scripts may read its files too.
    const std::string resolved = FileManager::resolvedPath(folder ? folder : "");
    if (!resolved.empty()) {
        mModuleRoots.push_back(resolved);
        mReadRoots.push_back(resolved);
    }
}

// ---- module loading ----------------------------------------------------------------------------

int ScriptManager::luaLoader(lua_State* L) {
    // The texts built below may fail to allocate: the exception must not
    // unwind through the interpreter.
    try {
        return findModule(L);
    } catch (const std::exception&) {
    }
    return luaL_error(L, "not enough memory");
}

int ScriptManager::findModule(lua_State* L) {
    // Everything that may raise a Lua error comes first: the error would jump
    // over the destructors of the C++ texts built below. The path is read
    // without metamethods for the same reason.
    const char* requested = luaL_checkstring(L, 1);
    const char* searchPath = nullptr;
    if (lua_getglobal(L, "package") == LUA_TTABLE) {
        lua_pushliteral(L, "path");
        lua_rawget(L, -2);
        searchPath = lua_tostring(L, -1);  // stays on the stack while used
    }
    const std::string path = searchPath ? searchPath : "";
    const ScriptManager* manager = fromState(L);
    std::string name = requested;
    const size_t compiled = name.rfind(".luac");
    if (compiled != std::string::npos)
        name.erase(compiled);
    else if (name.size() >= 4 && name.compare(name.size() - 4, 4, ".lua") == 0)
        name.erase(name.size() - 4);
    for (char& c : name)
        if (c == '.') c = '/';

    std::string found;
    size_t begin = 0;
    while (found.empty() && begin <= path.size()) {
        size_t end = path.find(';', begin);
        if (end == std::string::npos) end = path.size();
        std::string element = path.substr(begin, end - begin);
        begin = end + 1;
        if (element.compare(0, 2, "./") == 0) element.erase(0, 2);
        const size_t mark = element.find("?.lua");
        const std::string prefix = mark == std::string::npos ? element : element.substr(0, mark);
        for (const char* ext : {".luac", ".lua"}) {
            const std::string candidate = prefix + name + ext;
            // A folder of that name is no module (reading it gives an empty
            // chunk); nor is a file outside the template's module folders.
            if (FileManager::exist(candidate) && manager && manager->trustedModule(candidate)) {
                found = candidate;
                break;
            }
        }
    }
    if (found.empty()) {
        lua_pushnil(L);
        return 1;
    }
    // The chunk, or the compile error's message, which require reports.
    const int top = lua_gettop(L);
    if (luaLoadFile(L, found.c_str(), name.c_str())) return 1;
    if (lua_gettop(L) > top && lua_type(L, -1) == LUA_TSTRING) return 1;
    // Unreadable (a folder of that name, say): as if not found.
    lua_settop(L, top);
    lua_pushnil(L);
    return 1;
}

bool ScriptManager::luaLoadFile(lua_State* L, const char* path, const char* chunkName) {
    if (!path) return false;
    FileCodec codec(FileCodec::getFileCodecVersion(path));
    if (!codec.decodePack(path)) return false;
    const uint64_t size = std::min<uint64_t>(codec.size, codec.content.size());
    // The interpreter's loader takes an int length.
    if (size > static_cast<uint64_t>(INT_MAX)) return false;
    std::string name = chunkName ? std::string(chunkName) : FileManager::getFileName(path, true);
    return luaLoadBuffer(L, codec.content.data(), static_cast<int>(size), name.c_str()) == LUA_OK;
}

bool ScriptManager::loadFile(const char* path, const char* chunkName) {
    return luaLoadFile(mState, path, chunkName);
}

bool ScriptManager::executeFile(const char* path) {
    const int top = lua_gettop(mState);
    if (!loadFile(path, nullptr)) {
        lua_settop(mState, top);
        return false;
    }
    const bool ok = lua_pcall(mState, 0, LUA_MULTRET, 0) == LUA_OK;
    lua_settop(mState, top);
    return ok;
}

// ---- global functions --------------------------------------------------------------------------

bool ScriptManager::testFunctionExists(lua_State* L, const char* name) {
    const bool exists = lua_getglobal(L, name) == LUA_TFUNCTION;
    lua_pop(L, 1);
    return exists;
}

bool ScriptManager::testFunctionExists(const char* name) {
    return testFunctionExists(mState, name);
}

namespace {

// One call of a global function, made from inside a protected call so that
// looking the global up (an "__index" on _G may raise) and pushing the
// arguments (may run out of memory) fail like the call itself.
struct GlobalCall {
    const char* name;
    const ScriptManager::ArgumentPusher* pusher;
    int count;
    int results;
};

int callGlobal(lua_State* L) {
    const auto* call = static_cast<const GlobalCall*>(lua_touserdata(L, 1));
    lua_settop(L, 0);
    // Without a pusher nothing is pushed, so the call takes no arguments.
    const int count = *call->pusher ? call->count : 0;
    luaL_checkstack(L, std::max(count, call->results) + 1, "too many arguments or results");
    lua_getglobal(L, call->name);
    if (count >= 1) (*call->pusher)(L, count);
    lua_call(L, count, call->results);
    return call->results;
}

// The protected form of the runners: the handler's text is logged with the
// prefix on failure. The results (or nils after a failure) are left above top.
void callGlobalProtected(lua_State* L, const GlobalCall& call, const char* prefix) {
    lua_pushcfunction(L, pcall_callback_err_fun);
    const int handler = lua_gettop(L);
    lua_pushcfunction(L, callGlobal);
    lua_pushlightuserdata(L, const_cast<GlobalCall*>(&call));
    if (lua_pcall(L, 1, call.results, handler) != LUA_OK) {
        // The verdict is the line a user needs most: no share drops it.
        LogShare verdict(SIZE_MAX, "");
        LogShareScope unshared(verdict);
        QVPrint("%s%s\n", prefix, lua_tostring(L, -1));
        lua_pop(L, 1);
        for (int i = 0; i < call.results; ++i) lua_pushnil(L);
    }
}

}  // namespace

void ScriptManager::runGlobalLuaFunctionWithArgumentsGetResult(lua_State* L, const char* name,
                                                               const ArgumentPusher& pusher, int count,
                                                               const ResultReader& reader, int resultCount,
                                                               bool unprotected) {
    const int top = lua_gettop(L);
    if (count < 0) count = 0;
    if (resultCount < LUA_MULTRET) resultCount = 0;
    if (unprotected) {
        if (lua_getglobal(L, name) != LUA_TFUNCTION) {
            lua_settop(L, top);
            return;
        }
        if (!pusher) count = 0;
        luaL_checkstack(L, std::max(count, resultCount) + 1, "too many arguments or results");
        if (count >= 1) pusher(L, count);
        lua_call(L, count, resultCount);
        if (reader) reader(L, resultCount);
        lua_settop(L, top);
        return;
    }
    const GlobalCall call{name, &pusher, count, reader ? resultCount + 1 : 1};
    callGlobalProtected(L, call, "ZRScriptError: ");
    if (reader) reader(L, resultCount);
    lua_settop(L, top);
}

void ScriptManager::runGlobalLuaFunctionWithArguments(lua_State* L, const char* name,
                                                      const ArgumentPusher& pusher, int count,
                                                      bool unprotected) {
    runGlobalLuaFunctionWithArgumentsGetResult(L, name, pusher, count, nullptr, 0, unprotected);
}

void ScriptManager::runGlobalLuaFunction(lua_State* L, const char* name, bool unprotected) {
    const int top = lua_gettop(L);
    if (unprotected) {
        if (lua_getglobal(L, name) == LUA_TFUNCTION) lua_call(L, 0, 0);
        lua_settop(L, top);
        return;
    }
    const ArgumentPusher none;
    callGlobalProtected(L, GlobalCall{name, &none, 0, 1}, "Error: ");
    lua_settop(L, top);
}

void ScriptManager::runGlobalLuaFunction(const char* name, bool unprotected) {
    runGlobalLuaFunction(mState, name, unprotected);
}

void ScriptManager::runGlobalLuaFunctionWithArguments(const char* name, const ArgumentPusher& pusher,
                                                      int count, bool unprotected) {
    runGlobalLuaFunctionWithArguments(mState, name, pusher, count, unprotected);
}

void ScriptManager::runGlobalLuaFunctionWithArgumentsGetResult(const char* name, const ArgumentPusher& pusher,
                                                               int count, const ResultReader& reader,
                                                               int resultCount, bool unprotected) {
    runGlobalLuaFunctionWithArgumentsGetResult(mState, name, pusher, count, reader, resultCount, unprotected);
}

// ---- class registry ----------------------------------------------------------------------------

namespace {

bool superNames(lua_State* L, const char* className, int depth) {
    // Each level holds three more stack slots; a C function is only promised 20.
    if (depth > kMaxSuperDepth || !lua_checkstack(L, 4)) return false;
    const int top = lua_gettop(L);
    const int metatable = top;
    lua_pushliteral(L, "super");
    lua_rawget(L, metatable);
    bool found = false;
    if (lua_istable(L, -1)) {
        const int supers = lua_gettop(L);
        const lua_Integer n = static_cast<lua_Integer>(lua_rawlen(L, supers));
        for (lua_Integer i = 1; i <= n && !found; ++i) {
            lua_rawgeti(L, supers, i);
            const char* name = lua_type(L, -1) == LUA_TSTRING ? lua_tostring(L, -1) : nullptr;
            if (name && luaL_getmetatable(L, name) == LUA_TTABLE) {
                found = std::strcmp(name, className) == 0 || superNames(L, className, depth + 1);
            }
            lua_settop(L, supers);
        }
    }
    lua_settop(L, top);
    return found;
}

}  // namespace

bool ScriptManager::checkSuperClass(lua_State* L, const char* className) {
    return superNames(L, className, 0);
}

void* ScriptManager::checkudata(lua_State* L, int index, const char* className) {
    index = lua_absindex(L, index);
    if (lua_type(L, index) != LUA_TUSERDATA) return nullptr;
    // Every binding block holds one pointer; anything smaller is not ours.
    if (lua_rawlen(L, index) < sizeof(void*)) return nullptr;
    const int top = lua_gettop(L);
    if (!lua_getmetatable(L, index)) return nullptr;
    luaL_getmetatable(L, className);
    bool match = lua_rawequal(L, -1, -2);
    lua_pop(L, 1);
    if (!match) match = checkSuperClass(L, className);
    lua_settop(L, top);
    return match ? lua_touserdata(L, index) : nullptr;
}

int ScriptManager::findMethod(lua_State* L) {
    const int top = lua_gettop(L);
    const int keyType = lua_type(L, 2);
    if (!lua_istable(L, 1) || (keyType != LUA_TSTRING && keyType != LUA_TNUMBER)) {
        lua_pushnil(L);
        return 1;
    }
    lua_pushliteral(L, "super");
    lua_rawget(L, 1);
    if (lua_istable(L, -1)) {
        const int supers = lua_gettop(L);
        const lua_Integer n = static_cast<lua_Integer>(lua_rawlen(L, supers));
        for (lua_Integer i = 1; i <= n; ++i) {
            lua_rawgeti(L, supers, i);
            const char* name = lua_type(L, -1) == LUA_TSTRING ? lua_tostring(L, -1) : nullptr;
            if (name && luaL_getmetatable(L, name) == LUA_TTABLE) {
                lua_pushvalue(L, 2);
                lua_gettable(L, -2);
                if (!lua_isnil(L, -1)) {
                    if (!lua_iscfunction(L, -1)) lua_pushnil(L);
                    lua_copy(L, -1, top + 1);
                    lua_settop(L, top + 1);
                    return 1;
                }
            }
            lua_settop(L, supers);
        }
    }
    lua_settop(L, top);
    lua_pushnil(L);
    return 1;
}

}  // namespace Core
}  // namespace Quorvane
