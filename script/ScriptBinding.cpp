#include "script/ScriptBinding.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>

#include "core/TimeUnit.h"
#include "render/Config.h"
#include "scene/RenderLayer.h"

namespace Quorvane {
namespace Core {
namespace ScriptBinding {

namespace {
// Its address marks a scene userdata (as its user value).
const char kSceneMark = 0;
// Registry key of the weak-keyed table of every scene userdata made, with the
// object it lends.
const char kLentKey = 0;

void pushLentTable(lua_State* L) {
    if (lua_rawgetp(L, LUA_REGISTRYINDEX, &kLentKey) == LUA_TTABLE) return;
    lua_pop(L, 1);
    lua_newtable(L);
    lua_createtable(L, 0, 1);
    lua_pushliteral(L, "k");
    lua_setfield(L, -2, "__mode");
    lua_setmetatable(L, -2);
    lua_pushvalue(L, -1);
    lua_rawsetp(L, LUA_REGISTRYINDEX, &kLentKey);
}
}  // namespace

void** valueBlock(lua_State* L, int index, const char* className) {
    void** block = static_cast<void**>(ScriptManager::checkudata(L, index, className));
    if (!block) return nullptr;
    lua_getmetatable(L, index);
    luaL_getmetatable(L, className);
    const bool own = lua_rawequal(L, -1, -2);
    lua_pop(L, 2);
    return own ? block : nullptr;
}

GLBase* sceneBlock(lua_State* L, int index, const char* className) {
    void** block = static_cast<void**>(ScriptManager::checkudata(L, index, className));
    if (!block || !*block) return nullptr;
    lua_getuservalue(L, index);
    const bool marked = lua_touserdata(L, -1) == &kSceneMark;
    lua_pop(L, 1);
    return marked ? static_cast<GLBase*>(*block) : nullptr;
}

void charge(lua_State* L, size_t bytes) {
    if (!ScriptManager::chargeEngine(L, bytes)) {
        lua_pushliteral(L, "not enough memory");
        lua_error(L);
    }
}

void chargeText(lua_State* L, size_t bytes) {
    if (!ScriptManager::chargeScript(L, bytes)) {
        lua_pushliteral(L, "not enough memory");
        lua_error(L);
    }
}

size_t keptTextBytes(size_t length) {
    // The library keeps short texts inside the object; a longer one takes a
    // heap block with its terminator and the allocator's header.
    static const size_t inlineRoom = std::string().capacity();
    return sizeof(std::string) + (length > inlineRoom ? length + 1 + 2 * sizeof(void*) : 0);
}

size_t keptListBytes(const std::vector<std::string>& texts) {
    size_t bytes = 0;
    for (const std::string& text : texts) bytes += keptTextBytes(text.size());
    return bytes;
}

bool chargeTextArray(lua_State* L, int index, size_t extra) {
    const lua_Integer length = static_cast<lua_Integer>(lua_rawlen(L, index));
    size_t bytes = extra;
    for (lua_Integer i = 1; i <= length; ++i) {
        const bool isText = lua_rawgeti(L, index, i) == LUA_TSTRING;
        if (isText) bytes += keptTextBytes(lua_rawlen(L, -1));
        lua_pop(L, 1);
        if (!isText) return false;
    }
    chargeText(L, bytes);
    return true;
}

std::vector<std::string> textArray(lua_State* L, int index) {
    const lua_Integer length = static_cast<lua_Integer>(lua_rawlen(L, index));
    std::vector<std::string> texts;
    texts.reserve(static_cast<size_t>(length));
    for (lua_Integer i = 1; i <= length; ++i) {
        lua_rawgeti(L, index, i);
        texts.push_back(toString(L, -1));
        lua_pop(L, 1);
    }
    return texts;
}

std::string storedText(lua_State* L, int index, size_t kept) {
    size_t length = 0;
    lua_tolstring(L, index, &length);
    if (length > kept) chargeText(L, length - kept);
    return toString(L, index);
}

namespace {

// Every binding function runs through this: an exception of the engine (its
// allocations, a container's range check) becomes the script's error instead
// of unwinding through the interpreter, which cannot take it.
int guardedCall(lua_State* L) {
    const auto function = reinterpret_cast<lua_CFunction>(lua_touserdata(L, lua_upvalueindex(1)));
    char failure[160];
    try {
        return function(L);
    } catch (const std::bad_alloc&) {
        std::snprintf(failure, sizeof failure, "not enough memory");
    } catch (const std::exception& e) {
        std::snprintf(failure, sizeof failure, "engine error: %s", e.what());
    } catch (...) {
        std::snprintf(failure, sizeof failure, "engine error");
    }
    // Raised only here, after the handler has finished with the exception.
    return luaL_error(L, "%s", failure);
}

void setGuardedFunctions(lua_State* L, const luaL_Reg* functions) {
    for (; functions->name; ++functions) {
        lua_pushlightuserdata(L, reinterpret_cast<void*>(functions->func));
        lua_pushcclosure(L, guardedCall, 1);
        lua_setfield(L, -2, functions->name);
    }
}

}  // namespace

void chargeResize(lua_State* L, lua_Integer oldWidth, lua_Integer oldHeight, lua_Integer width,
                  lua_Integer height) {
    const lua_Integer before = std::max<lua_Integer>(oldWidth, 0) * std::max<lua_Integer>(oldHeight, 0);
    const lua_Integer grown = width * height - before;
    if (grown > 0) charge(L, static_cast<size_t>(grown) * 4);
}

size_t trackBytes(const TransformManager& track) {
    return track.listedFrames() * sizeof(void*) + track.recordCount() * kKeyframeCost;
}

void chargeOwnTrack(lua_State* L, RenderLayer& layer) {
    const TransformManager& track = *layer.transformManager();
    if (track.isShared()) charge(L, trackBytes(track));
}

void chargeMatrixRead(lua_State* L, RenderLayer& layer, long long t, bool world) {
    if (const size_t bytes = layer.matrixCacheGrowth(t, world)) charge(L, bytes);
}

void logLine(lua_State* L, const char* format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n > 0) ScriptManager::output(L, line, std::min(static_cast<size_t>(n), sizeof line - 1));
}

bool compSizeAccepted(lua_State* L, lua_Integer width, lua_Integer height, const char* what) {
    if (compSizeAllowed(width) && compSizeAllowed(height)) return true;
    logLine(L, "%s: a size of %lld by %lld is refused (1 to %lld a side)", what,
            static_cast<long long>(width), static_cast<long long>(height),
            static_cast<long long>(kMaxPixelSide));
    return false;
}

bool frameCountAccepted(lua_State* L, lua_Integer frames, const char* what) {
    if (frameCountAllowed(frames)) return true;
    logLine(L, "%s: a duration of %lld frames is refused (0 to %lld)", what, static_cast<long long>(frames),
            static_cast<long long>(kMaxFrames));
    return false;
}

bool rateAccepted(lua_State* L, double rate, const char* what) {
    if (rate >= 0 && rate <= kMaxTimeRate) return true;
    logLine(L, "%s: a rate of %g fps is refused (0 to %g)", what, rate, kMaxTimeRate);
    return false;
}

bool timeAccepted(lua_State* L, const TimeUnit& t, const char* what) {
    if (!rateAccepted(L, t.fps(), what)) return false;
    // In seconds; a time without length may count as many frames as a day
    // at the highest rate.
    const double rate = t.fps() > 0.0f ? t.fps() : kMaxTimeRate;
    if (std::fabs(static_cast<double>(t.frameCount())) <= Config::kMaxTimelineSeconds * rate) return true;
    logLine(L, "%s: %lld frames at %g fps lie more than %g s from 0, refused", what,
            static_cast<long long>(t.frameCount()), static_cast<double>(t.fps()),
            Config::kMaxTimelineSeconds);
    return false;
}

void noteZeroRate(lua_State* L, float from, float to, const char* what) {
    if (from == 0.0f)
        logLine(L, "%s: a time at 0 fps has no length, it converts to 0 frames", what);
    else if (to == 0.0f)
        logLine(L, "%s: a time converted to 0 fps gives 0 frames", what);
}

lua_Integer wholeNumber(double value) {
    if (std::isnan(value)) return 0;
    // 2^63, exactly representable; the largest integer below it is not.
    constexpr double kLimit = 9223372036854775808.0;
    if (value >= kLimit) return LUA_MAXINTEGER;
    if (value < -kLimit) return LUA_MININTEGER;
    return static_cast<lua_Integer>(value);
}

void countError(lua_State* L, const char* format) {
    logLine(L, format, lua_gettop(L));
    lua_error(L);
    // lua_error does not return; this keeps the compiler's flow analysis honest.
    std::abort();
}

void setClassMetatable(lua_State* L, const char* className) {
    luaL_getmetatable(L, className);
    const int metatable = lua_gettop(L);
    lua_pushliteral(L, "__gc");
    const bool finaliser = lua_rawget(L, metatable) != LUA_TNIL;
    // Out for the moment of setting, back after: a metatable without "__gc"
    // then does not mark the userdata, and a later "__gc" does not either.
    if (finaliser) {
        lua_pushliteral(L, "__gc");
        lua_pushnil(L);
        lua_rawset(L, metatable);
    }
    lua_pushvalue(L, metatable);
    lua_setmetatable(L, metatable - 1);
    if (finaliser) {
        lua_pushliteral(L, "__gc");
        lua_insert(L, -2);
        lua_rawset(L, metatable);
    }
    lua_settop(L, metatable - 1);
}

void pushScene(lua_State* L, GLBase* object, const char* className) {
    if (!object) {
        lua_pushnil(L);
        return;
    }
    void** block = static_cast<void**>(lua_newuserdata(L, sizeof(void*)));
    *block = object;
    setClassMetatable(L, className);
    lua_pushlightuserdata(L, const_cast<char*>(&kSceneMark));
    lua_setuservalue(L, -2);
    pushLentTable(L);
    lua_pushvalue(L, -2);
    lua_pushlightuserdata(L, object);
    lua_rawset(L, -3);
    lua_pop(L, 1);
}

void forgetScene(lua_State* L, GLBase* object) {
    if (!object) return;
    pushLentTable(L);
    lua_pushnil(L);
    while (lua_next(L, -2)) {
        if (lua_touserdata(L, -1) == object) *static_cast<void**>(lua_touserdata(L, -2)) = nullptr;
        lua_pop(L, 1);
    }
    lua_pop(L, 1);
    ScriptManager::forgetLayer(L, dynamic_cast<RenderLayer*>(object));
}

bool argsAre(lua_State* L, std::initializer_list<int> types) {
    if (lua_gettop(L) != static_cast<int>(types.size())) return false;
    int index = 1;
    for (int type : types)
        if (lua_type(L, index++) != type) return false;
    return true;
}

std::string toString(lua_State* L, int index) {
    size_t length = 0;
    const char* text = lua_tolstring(L, index, &length);
    return text ? std::string(text, length) : std::string();
}

int openClass(lua_State* L, const ClassSpec& desc) {
    luaL_newmetatable(L, desc.className);
    const int metatable = lua_gettop(L);
    if (desc.superName) {
        lua_createtable(L, 1, 0);
        lua_pushstring(L, desc.superName);
        lua_rawseti(L, -2, 1);
        lua_setfield(L, metatable, "super");
        lua_createtable(L, 0, 1);
        lua_pushcfunction(L, ScriptManager::findMethod);
        lua_setfield(L, -2, "__index");
        lua_setmetatable(L, metatable);
    }
    lua_pushvalue(L, metatable);
    lua_setfield(L, metatable, "__index");
    if (desc.methods) setGuardedFunctions(L, desc.methods);
    lua_newtable(L);
    if (desc.statics) setGuardedFunctions(L, desc.statics);
    return 1;
}

void requireClass(lua_State* L, const char* globalName, lua_CFunction open) {
    luaL_requiref(L, globalName, open, 1);
    lua_pop(L, 1);
}

void setEnumGlobal(lua_State* L, const char* name, std::initializer_list<EnumEntry> entries) {
    lua_createtable(L, 0, static_cast<int>(entries.size()));
    for (const EnumEntry& entry : entries) {
        lua_pushinteger(L, entry.value);
        lua_setfield(L, -2, entry.name);
    }
    lua_setglobal(L, name);
}

}  // namespace ScriptBinding
}  // namespace Core
}  // namespace Quorvane
