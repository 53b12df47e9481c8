#include "script/QuaternionScript.h"

#include "core/Matrix.h"
#include "core/Rotation.h"
#include "script/ScriptBinding.h"
#include "script/Vec3Script.h"

namespace Quorvane {
namespace Core {

namespace {

using namespace ScriptBinding;
constexpr const char* kClass = QuaternionScript::className;

Quaternion& arg(lua_State* L, int index) {
    return checkValue<Quaternion>(L, index, kClass);
}
const Vec3& vec3(lua_State* L, int index) {
    return checkValue<Vec3>(L, index, Vec3Script::className);
}
int pushQuaternion(lua_State* L, const Quaternion& q) {
    pushValue(L, q, kClass);
    return 1;
}

int create(lua_State* L) {
    const int n = lua_gettop(L);
    if (n >= 5) countError(L, "Quaternion error: do not match %d parm");
    // Every argument is read before anything is allocated: an argument error
    // jumps out of this function, past any C++ clean-up.
    Quaternion value;
    if (n == 0) {
        value = Quaternion();
    } else if (n == 1) {
        value = Quaternion(arg(L, 1));
    } else if (n == 2 && lua_type(L, 2) == LUA_TUSERDATA) {
        value = Quaternion(vec3(L, 1), vec3(L, 2));
    } else if (n == 2) {
        value = Quaternion(vec3(L, 1), checkFloat(L, 2));
    } else if (n == 3) {
        value = Quaternion(checkFloat(L, 1), checkFloat(L, 2), checkFloat(L, 3));
    } else {
        value = Quaternion(checkFloat(L, 1), checkFloat(L, 2), checkFloat(L, 3), checkFloat(L, 4));
    }
    pushValue(L, value, kClass);
    return 1;
}

int set(lua_State* L) {
    Quaternion& q = arg(L, 1);
    const int n = lua_gettop(L);
    if (n == 3)
        q.set(vec3(L, 2), checkFloat(L, 3));
    else if (n == 4)
        q.set(checkFloat(L, 2), checkFloat(L, 3), checkFloat(L, 4));
    else if (n == 5)
        q.set(checkFloat(L, 2), checkFloat(L, 3), checkFloat(L, 4), checkFloat(L, 5));
    return 0;
}

int setWithArray(lua_State* L) {
    Quaternion& q = arg(L, 1);
    luaL_checktype(L, 2, LUA_TTABLE);
    if (lua_rawlen(L, 2) < 4) {
        logLine(L, "wrong table size");
        return luaL_error(L, "wrong table size");
    }
    float values[4];
    for (int i = 0; i < 4; ++i) {
        lua_rawgeti(L, 2, i + 1);
        values[i] = static_cast<float>(lua_tonumber(L, -1));
        lua_pop(L, 1);
    }
    q.setWithArray(values, 0);
    return 0;
}

const luaL_Reg kStatics[] = {
    {"create", create},
    {"lerp",
     [](lua_State* L) {
         return pushQuaternion(L, Quaternion::lerp(arg(L, 1), arg(L, 2), checkFloat(L, 3)));
     }},
    {"staticQuatMulVec3",
     [](lua_State* L) {
         Vec3Script::newVec3(L, Quaternion::quaternionMulVec3(arg(L, 1), vec3(L, 2)));
         return 1;
     }},
    {nullptr, nullptr},
};

const luaL_Reg kMethods[] = {
    {"set", set},
    {"setWithEuler",
     [](lua_State* L) { return arg(L, 1).setWithEuler(checkValue<Euler>(L, 2, "EulerScript")), 0; }},
    {"setWithMat4",
     [](lua_State* L) { return arg(L, 1).setWithMat4(checkValue<Mat4>(L, 2, "Mat4Script")), 0; }},
    {"setWithDirection", [](lua_State* L) { return arg(L, 1).setWithDirection(vec3(L, 2), vec3(L, 3)), 0; }},
    {"setWithArray", setWithArray},
    {"length", [](lua_State* L) { return pushNumber(L, arg(L, 1).length()); }},
    {"lengthSq", [](lua_State* L) { return pushNumber(L, arg(L, 1).lengthSq()); }},
    {"getRotationAngle", [](lua_State* L) { return pushNumber(L, arg(L, 1).getRotationAngle()); }},
    {"getRotationAxis",
     [](lua_State* L) {
         Vec3Script::newVec3(L, arg(L, 1).getRotationAxis());
         return 1;
     }},
    {"normalize", [](lua_State* L) { return arg(L, 1).normalize(), 0; }},
    {"setInverse", [](lua_State* L) { return arg(L, 1).setInverse(), 0; }},
    {"conjugate", [](lua_State* L) { return arg(L, 1).conjugate(), 0; }},
    {"multiply", [](lua_State* L) { return arg(L, 1).multiply(arg(L, 2)), 0; }},
    {"premultiply", [](lua_State* L) { return arg(L, 1).premultiply(arg(L, 2)), 0; }},
    {"multiplyQuaternions",
     [](lua_State* L) {
         // Copies first: the object may also be one of the factors.
         const Quaternion a = arg(L, 2), b = arg(L, 3);
         arg(L, 1).multiplyQuaternions(a, b);
         return 0;
     }},
    {"dot", [](lua_State* L) { return pushNumber(L, arg(L, 1).dot(arg(L, 2))); }},
    {"slerp", [](lua_State* L) { return arg(L, 1).slerp(arg(L, 2), checkFloat(L, 3)), 0; }},
    {"__eq",
     [](lua_State* L) {
         lua_pushboolean(L, arg(L, 1) == arg(L, 2));
         return 1;
     }},
    {"__gc",
     [](lua_State* L) { return collectValue<Quaternion>(L, kClass, "QuaternionScript parm is invalid"); }},
    {nullptr, nullptr},
};

const ClassSpec kSpec = {kClass, nullptr, kMethods, kStatics};

}  // namespace

int QuaternionScript::luaopenClass(lua_State* L) {
    return openClass(L, kSpec);
}

void QuaternionScript::registerFunctions(lua_State* L) {
    requireClass(L, "Quaternion", luaopenClass);
}

void QuaternionScript::newQuaternion(lua_State* L, const Quaternion& q) {
    pushValue(L, q, kClass);
}

}  // namespace Core
}  // namespace Quorvane
