#include "script/EulerScript.h"

#include "core/Matrix.h"
#include "core/Rotation.h"
#include "script/ScriptBinding.h"

namespace Quorvane {
namespace Core {

namespace {

using namespace ScriptBinding;
constexpr const char* kClass = EulerScript::className;

Euler& arg(lua_State* L, int index) {
    return checkValue<Euler>(L, index, kClass);
}

// An order outside the engine's table keeps the current one, as order 0 does.
Euler::RotationOrder order(lua_State* L, int index) {
    if (lua_gettop(L) < index) return Euler::kRotationOrderNone;
    const lua_Integer value = luaL_checkinteger(L, index);
    if (value < Euler::kRotationOrderNone || value > Euler::kRotationOrderZyx)
        return Euler::kRotationOrderNone;
    return static_cast<Euler::RotationOrder>(value);
}

int create(lua_State* L) {
    const int n = lua_gettop(L);
    if (n != 0 && n != 1 && n != 3) countError(L, "Euler error: do not match %d parm");
    // Every argument is read before anything is allocated: an argument error
    // jumps out of this function, past any C++ clean-up.
    Euler value;
    if (n == 0)
        value = Euler();
    else if (n == 1)
        value = Euler(arg(L, 1));
    else
        value = Euler(checkFloat(L, 1), checkFloat(L, 2), checkFloat(L, 3), Euler::kRotationOrderXyz);
    pushValue(L, value, kClass);
    return 1;
}

int set(lua_State* L) {
    Euler& e = arg(L, 1);
    const int n = lua_gettop(L);
    if (n == 4 || n == 5) e.set(checkFloat(L, 2), checkFloat(L, 3), checkFloat(L, 4), order(L, 5));
    return 0;
}

const luaL_Reg kStatics[] = {
    {"create", create},
    {"__eq",
     [](lua_State* L) {
         lua_pushboolean(L, arg(L, 1) == arg(L, 2));
         return 1;
     }},
    {nullptr, nullptr},
};

const luaL_Reg kMethods[] = {
    {"getX", [](lua_State* L) { return lua_pushnumber(L, arg(L, 1).x), 1; }},
    {"getY", [](lua_State* L) { return lua_pushnumber(L, arg(L, 1).y), 1; }},
    {"getZ", [](lua_State* L) { return lua_pushnumber(L, arg(L, 1).z), 1; }},
    {"set", set},
    {"setWithMat4",
     [](lua_State* L) {
         return arg(L, 1).setWithMat4(checkValue<Mat4>(L, 2, "Mat4Script"), order(L, 3)), 0;
     }},
    {"setWithQuaternion",
     [](lua_State* L) {
         return arg(L, 1).setWithQuaternion(checkValue<Quaternion>(L, 2, "QuaternionScript"), order(L, 3)), 0;
     }},
    {"__gc", [](lua_State* L) { return collectValue<Euler>(L, kClass, "EulerScript parm is invalid"); }},
    {nullptr, nullptr},
};

const ClassSpec kSpec = {kClass, nullptr, kMethods, kStatics};

}  // namespace

int EulerScript::luaopenClass(lua_State* L) {
    return openClass(L, kSpec);
}

void EulerScript::registerFunctions(lua_State* L) {
    setEnumGlobal(L, "RotationOrder",
                  {{"kRotationOrderNone", 0},
                   {"kRotationOrderXyz", 1},
                   {"kRotationOrderYzx", 2},
                   {"kRotationOrderZxy", 3},
                   {"kRotationOrderXzy", 4},
                   {"kRotationOrderYxz", 5},
                   {"kRotationOrderZyx", 6}});
    requireClass(L, "Euler", luaopenClass);
}

}  // namespace Core
}  // namespace Quorvane
