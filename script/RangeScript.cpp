#include "script/RangeScript.h"

#include "core/Log.h"
#include "core/Vector.h"
#include "script/ScriptBinding.h"

namespace Quorvane {
namespace Core {

namespace {

using namespace ScriptBinding;
constexpr const char* kClass = RangeScript::className;

Range& self(lua_State* L) {
    return checkValue<Range>(L, 1, kClass);
}

// Numbers arrive through lua_tonumber (a non-number reads 0) and become
// 32-bit integers; values beyond that range saturate instead of overflowing.
int32_t toInt32(lua_State* L, int index) {
    const lua_Number n = lua_tonumber(L, index);
    if (!(n == n)) return 0;
    if (n >= 2147483647.0) return INT32_MAX;
    if (n <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(n);
}

int create(lua_State* L) {
    const int n = lua_gettop(L);
    if (n >= 3) countError(L, "Range error: do not match %d parms");
    // Every argument is read before anything is allocated: an argument error
    // jumps out of this function, past any C++ clean-up.
    Range value;
    if (n == 0)
        value = Range();
    else if (n == 1 && lua_type(L, 1) == LUA_TUSERDATA)
        value = Range(checkValue<Range>(L, 1, kClass));
    else if (n == 1)
        value = Range(toInt32(L, 1));
    else
        value = Range(toInt32(L, 1), toInt32(L, 2));
    pushValue(L, value, kClass);
    return 1;
}

const luaL_Reg kStatics[] = {
    {"create", create},
    {nullptr, nullptr},
};

const luaL_Reg kMethods[] = {
    {"getStart", [](lua_State* L) { return lua_pushnumber(L, self(L).start), 1; }},
    {"getSize", [](lua_State* L) { return lua_pushnumber(L, self(L).size), 1; }},
    {"getEnd", [](lua_State* L) { return lua_pushnumber(L, static_cast<lua_Number>(self(L).end())), 1; }},
    {"setStart", [](lua_State* L) { return self(L).start = toInt32(L, 2), 0; }},
    {"setSize", [](lua_State* L) { return self(L).size = toInt32(L, 2), 0; }},
    {"setEnd", [](lua_State* L) { return self(L).setEnd(toInt32(L, 2)), 0; }},
    {"offset", [](lua_State* L) { return self(L).offset(toInt32(L, 2)), 0; }},
    {"contains", [](lua_State* L) { return lua_pushboolean(L, self(L).contains(toInt32(L, 2))), 1; }},
    {"__gc", [](lua_State* L) { return collectValue<Range>(L, kClass, "RangeScript parm is invalid"); }},
    {nullptr, nullptr},
};

const ClassSpec kSpec = {kClass, nullptr, kMethods, kStatics};

}  // namespace

int RangeScript::luaopenClass(lua_State* L) {
    return openClass(L, kSpec);
}

void RangeScript::registerFunctions(lua_State* L) {
    requireClass(L, "Range", luaopenClass);
}

}  // namespace Core
}  // namespace Quorvane
