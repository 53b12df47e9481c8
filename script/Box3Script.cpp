#include "script/Box3Script.h"

#include <vector>

#include "core/Vector.h"
#include "script/ScriptBinding.h"
#include "script/Vec3Script.h"

namespace Quorvane {
namespace Core {

namespace {

using namespace ScriptBinding;
constexpr const char* kClass = Box3Script::className;

Box3& arg(lua_State* L, int index) {
    return checkValue<Box3>(L, index, kClass);
}
const Vec3& vec3(lua_State* L, int index) {
    return checkValue<Vec3>(L, index, Vec3Script::className);
}
int pushVec3(lua_State* L, const Vec3& v) {
    Vec3Script::newVec3(L, v);
    return 1;
}

int create(lua_State* L) {
    const int n = lua_gettop(L);
    if (n >= 3) countError(L, "Box3 error: do not match %d parm");
    // Every argument is read before anything is allocated: an argument error
    // jumps out of this function, past any C++ clean-up.
    Box3 value;
    if (n == 0)
        value = Box3();
    else if (n == 1)
        value = Box3(arg(L, 1));
    else
        value = Box3(vec3(L, 1), vec3(L, 2));
    pushValue(L, value, kClass);
    return 1;
}

// Every element and the count are checked before anything is allocated (a
// Lua error skips C++ destructors); the engine then reads no more points than
// the table holds.
int setFromPoints(lua_State* L) {
    Box3& box = arg(L, 1);
    luaL_checktype(L, 2, LUA_TTABLE);
    lua_Integer count = luaL_checkinteger(L, 3);
    const lua_Integer length = static_cast<lua_Integer>(lua_rawlen(L, 2));
    for (lua_Integer i = 1; i <= length; ++i) {
        lua_rawgeti(L, 2, i);
        if (!valueAt<Vec3>(L, -1, Vec3Script::className)) luaL_argerror(L, 2, "param is invalid");
        lua_pop(L, 1);
    }
    if (count > length) count = length;
    if (count < 0) count = 0;
    std::vector<Vec3> points;
    points.reserve(static_cast<size_t>(length));
    for (lua_Integer i = 1; i <= length; ++i) {
        lua_rawgeti(L, 2, i);
        points.push_back(*valueAt<Vec3>(L, -1, Vec3Script::className));
        lua_pop(L, 1);
    }
    box.setFromPoints(points.data(), static_cast<int>(count));
    return 0;
}

int equal(lua_State* L) {
    Box3* a = valueAt<Box3>(L, 1, kClass);
    Box3* b = valueAt<Box3>(L, 2, kClass);
    return pushBool(L, a && b && *a == *b);
}

const luaL_Reg kStatics[] = {
    {"create", create},
    {nullptr, nullptr},
};

const luaL_Reg kMethods[] = {
    {"set", [](lua_State* L) { return arg(L, 1).set(vec3(L, 2), vec3(L, 3)), 0; }},
    {"setCenterAndSize",
     [](lua_State* L) { return arg(L, 1).setFromCenterAndSize(vec3(L, 2), vec3(L, 3)), 0; }},
    {"setFromPoints", setFromPoints},
    {"getMin", [](lua_State* L) { return pushVec3(L, arg(L, 1).min); }},
    {"getMax", [](lua_State* L) { return pushVec3(L, arg(L, 1).max); }},
    {"getCenter", [](lua_State* L) { return pushVec3(L, arg(L, 1).getCenter()); }},
    {"getSize", [](lua_State* L) { return pushVec3(L, arg(L, 1).getSize()); }},
    {"makeEmpty", [](lua_State* L) { return arg(L, 1).makeEmpty(), 0; }},
    {"isEmpty", [](lua_State* L) { return pushBool(L, arg(L, 1).isEmpty()); }},
    {"expandByPoint", [](lua_State* L) { return arg(L, 1).expandByPoint(vec3(L, 2)), 0; }},
    {"translate", [](lua_State* L) { return arg(L, 1).translate(vec3(L, 2)), 0; }},
    {"containsPoint", [](lua_State* L) { return pushBool(L, arg(L, 1).containsPoint(vec3(L, 2))); }},
    {"containsBox", [](lua_State* L) { return pushBool(L, arg(L, 1).containsBox(arg(L, 2))); }},
    {"intersectsBox", [](lua_State* L) { return pushBool(L, arg(L, 1).intersectsBox(arg(L, 2))); }},
    {"distanceToPoint",
     [](lua_State* L) { return lua_pushnumber(L, arg(L, 1).distanceToPoint(vec3(L, 2))), 1; }},
    {"intersect",
     [](lua_State* L) {
         const Box3 other = arg(L, 2);
         arg(L, 1).intersects(other);
         return 0;
     }},
    {"unionBox",
     [](lua_State* L) {
         const Box3 other = arg(L, 2);
         arg(L, 1).unionBox(other);
         return 0;
     }},
    {"__eq", equal},
    {"__gc", [](lua_State* L) { return collectValue<Box3>(L, kClass, "Box3Script parm is invalid"); }},
    {nullptr, nullptr},
};

const ClassSpec kSpec = {kClass, nullptr, kMethods, kStatics};

}  // namespace

int Box3Script::luaopenClass(lua_State* L) {
    return openClass(L, kSpec);
}

void Box3Script::registerFunctions(lua_State* L) {
    requireClass(L, "Box3", luaopenClass);
}

}  // namespace Core
}  // namespace Quorvane
