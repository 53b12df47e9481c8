#include "script/ColorScript.h"

#include <string>

#include "script/ScriptBinding.h"

namespace Quorvane {
namespace Core {

namespace {

using namespace ScriptBinding;
constexpr const char* kClass = ColorScript::className;

Color& arg(lua_State* L, int index) {
    return checkValue<Color>(L, index, kClass);
}
int pushColor(lua_State* L, const Color& c) {
    pushValue(L, c, kClass);
    return 1;
}

int create(lua_State* L) {
    const int n = lua_gettop(L);
    if (n != 0 && n != 1 && n != 4) countError(L, "Color error: do not match %d parm");
    if (n == 1 && lua_type(L, 1) == LUA_TSTRING) {
        // The text is parsed before the userdata exists: no Lua error can
        // then pass over the parsing's own objects.
        Color parsed(std::string(lua_tostring(L, 1)));
        return pushColor(L, parsed);
    }
    // Every argument is read before anything is allocated: an argument error
    // jumps out of this function, past any C++ clean-up.
    Color value;
    if (n == 0)
        value = Color();
    else if (n == 1)
        value = Color(arg(L, 1));
    else
        value = Color(checkFloat(L, 1), checkFloat(L, 2), checkFloat(L, 3), checkFloat(L, 4));
    pushValue(L, value, kClass);
    return 1;
}

const luaL_Reg kStatics[] = {
    {"create", create},
    {"staticLerp",
     [](lua_State* L) { return pushColor(L, Color::lerp(arg(L, 1), arg(L, 2), checkFloat(L, 3))); }},
    {nullptr, nullptr},
};

const luaL_Reg kMethods[] = {
    {"set",
     [](lua_State* L) {
         return arg(L, 1).set(checkFloat(L, 2), checkFloat(L, 3), checkFloat(L, 4), checkFloat(L, 5)), 0;
     }},
    {"isNil", [](lua_State* L) { return lua_pushboolean(L, arg(L, 1).isNil()), 1; }},
    {"setNil", [](lua_State* L) { return arg(L, 1).setNil(), 0; }},
    {"r", [](lua_State* L) { return lua_pushnumber(L, arg(L, 1).r), 1; }},
    {"g", [](lua_State* L) { return lua_pushnumber(L, arg(L, 1).g), 1; }},
    {"b", [](lua_State* L) { return lua_pushnumber(L, arg(L, 1).b), 1; }},
    {"a", [](lua_State* L) { return lua_pushnumber(L, arg(L, 1).a), 1; }},
    {"__add", [](lua_State* L) { return pushColor(L, arg(L, 1) + arg(L, 2)); }},
    {"__sub", [](lua_State* L) { return pushColor(L, arg(L, 1) - arg(L, 2)); }},
    {"__mul", [](lua_State* L) { return pushColor(L, arg(L, 1) * checkFloat(L, 2)); }},
    {"__eq", [](lua_State* L) { return lua_pushboolean(L, arg(L, 1).equal(arg(L, 2))), 1; }},
    {"__gc", [](lua_State* L) { return collectValue<Color>(L, kClass, "ColorScript parm is invalid"); }},
    {nullptr, nullptr},
};

const ClassSpec kSpec = {kClass, nullptr, kMethods, kStatics};

}  // namespace

int ColorScript::luaopenClass(lua_State* L) {
    return openClass(L, kSpec);
}

void ColorScript::registerFunctions(lua_State* L) {
    requireClass(L, "Color", luaopenClass);
}

void ColorScript::newColor(lua_State* L, Color color) {
    pushValue(L, color, kClass);
}

}  // namespace Core
}  // namespace Quorvane
