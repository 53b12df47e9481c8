#include "script/ScriptBinding.h"

#include <algorithm>
#include <cstdlib>

#include "core/Log.h"
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

void chargeResize(lua_State* L, lua_Integer oldWidth, lua_Integer oldHeight, lua_Integer width,
                  lua_Integer height) {
    const lua_Integer before = std::max<lua_Integer>(oldWidth, 0) * std::max<lua_Integer>(oldHeight, 0);
    const lua_Integer grown = width * height - before;
    if (grown > 0) charge(L, static_cast<size_t>(grown) * 4);
}

void countError(lua_State* L, const char* format) {
    QVPrint(format, lua_gettop(L));
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
    if (desc.methods) luaL_setfuncs(L, desc.methods, 0);
    lua_newtable(L);
    if (desc.statics) luaL_setfuncs(L, desc.statics, 0);
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
