#include "script/Vec4Script.h"

#include "core/Float.h"
#include "core/Vector.h"
#include "script/ScriptBinding.h"
#include "script/Vec3Script.h"

namespace Quorvane {
namespace Core {

namespace {

using namespace ScriptBinding;
constexpr const char* kClass = Vec4Script::className;

Vec4& arg(lua_State* L, int index) {
    return checkValue<Vec4>(L, index, kClass);
}
Vec4& self(lua_State* L) {
    return arg(L, 1);
}
int pushVec4(lua_State* L, const Vec4& v) {
    pushValue(L, v, kClass);
    return 1;
}

template <Vec4& (Vec4::*ByVec)(const Vec4&), Vec4& (Vec4::*ByScalar)(float), bool Strict>
int inPlace(lua_State* L) {
    Vec4& v = self(L);
    if (lua_type(L, 2) == LUA_TNUMBER)
        (v.*ByScalar)(static_cast<float>(lua_tonumber(L, 2)));
    else if (Vec4* other = valueAt<Vec4>(L, 2, kClass))
        (v.*ByVec)(*other);
    else if (Strict)
        countError(L, "Vec4 error: do not match parm in add");
    return 0;
}

template <Arith Op>
int arithmetic(lua_State* L) {
    return pushVec4(L, arith<Op>(self(L), arg(L, 2)));
}

int create(lua_State* L) {
    const int n = lua_gettop(L);
    if (n != 0 && n != 1 && n != 2 && n != 4) countError(L, "Vec4 error: do not match %d parm");
    // Every argument is read before anything is allocated: an argument error
    // jumps out of this function, past any C++ clean-up.
    Vec4 value;
    if (n == 0)
        value = Vec4();
    else if (n == 1)
        value = Vec4(arg(L, 1));
    else if (n == 2)
        value = Vec4(checkValue<Vec3>(L, 1, Vec3Script::className), checkFloat(L, 2));
    else
        value = Vec4(checkFloat(L, 1), checkFloat(L, 2), checkFloat(L, 3), checkFloat(L, 4));
    pushValue(L, value, kClass);
    return 1;
}

int set(lua_State* L) {
    Vec4& v = self(L);
    if (lua_gettop(L) != 5) countError(L, "Vec4 error: do not match %d parm in set");
    v.set(checkFloat(L, 2), checkFloat(L, 3), checkFloat(L, 4), checkFloat(L, 5));
    return 0;
}

int equal(lua_State* L) {
    const Vec4& v = self(L);
    const int n = lua_gettop(L);
    if (n == 2) return pushBool(L, v.equal(arg(L, 2), Float::epsilon));
    if (n == 3) return pushBool(L, v.equal(arg(L, 2), checkFloat(L, 3)));
    countError(L, "Vec4 error: do not match %d parm in equal");
}

const luaL_Reg kStatics[] = {
    {"create", create},
    {"staticLerp",
     [](lua_State* L) { return pushVec4(L, Vec4::lerp(arg(L, 1), arg(L, 2), checkFloat(L, 3))); }},
    {nullptr, nullptr},
};

const luaL_Reg kMethods[] = {
    {"getX", [](lua_State* L) { return pushNumber(L, self(L).x); }},
    {"getY", [](lua_State* L) { return pushNumber(L, self(L).y); }},
    {"getZ", [](lua_State* L) { return pushNumber(L, self(L).z); }},
    {"getW", [](lua_State* L) { return pushNumber(L, self(L).w); }},
    {"setX", [](lua_State* L) { return self(L).x = checkFloat(L, 2), 0; }},
    {"setY", [](lua_State* L) { return self(L).y = checkFloat(L, 2), 0; }},
    {"setZ", [](lua_State* L) { return self(L).z = checkFloat(L, 2), 0; }},
    {"setW", [](lua_State* L) { return self(L).w = checkFloat(L, 2), 0; }},
    {"set", set},
    {"add", inPlace<&Vec4::add, &Vec4::add, true>},
    {"sub", inPlace<&Vec4::sub, &Vec4::sub, false>},
    {"mult", inPlace<&Vec4::mult, &Vec4::mult, false>},
    {"divide", inPlace<&Vec4::divide, &Vec4::divide, false>},
    {"equal", equal},
    {"isZero", [](lua_State* L) { return pushBool(L, self(L).isZero()); }},
    {"dot", [](lua_State* L) { return pushNumber(L, self(L).dot(arg(L, 2))); }},
    {"distance", [](lua_State* L) { return pushNumber(L, self(L).distance(arg(L, 2))); }},
    {"length", [](lua_State* L) { return pushNumber(L, self(L).length()); }},
    {"lengthSquare", [](lua_State* L) { return pushNumber(L, self(L).lengthSquare()); }},
    {"setLength", [](lua_State* L) { return self(L).setLength(checkFloat(L, 2)), 0; }},
    {"normalize", [](lua_State* L) { return self(L).normalize(), 0; }},
    {"negate", [](lua_State* L) { return pushVec4(L, self(L).negate()); }},
    {"invert", [](lua_State* L) { return pushVec4(L, self(L).invert()); }},
    {"getVec3",
     [](lua_State* L) {
         Vec3Script::newVec3(L, self(L).getVec3());
         return 1;
     }},
    {"__add", arithmetic<Arith::Add>},
    {"__sub", arithmetic<Arith::Sub>},
    {"__mul", arithmetic<Arith::Mul>},
    {"__div", arithmetic<Arith::Div>},
    {"__eq", [](lua_State* L) { return pushBool(L, self(L) == arg(L, 2)); }},
    {"__gc", [](lua_State* L) { return collectValue<Vec4>(L, kClass, "Vec4Script parm is invalid"); }},
    {nullptr, nullptr},
};

const ClassSpec kSpec = {kClass, nullptr, kMethods, kStatics};

}  // namespace

int Vec4Script::luaopenClass(lua_State* L) {
    return openClass(L, kSpec);
}

void Vec4Script::registerFunctions(lua_State* L) {
    requireClass(L, "Vec4", luaopenClass);
}

void Vec4Script::newVec4(lua_State* L, const Vec4& v) {
    pushValue(L, v, kClass);
}

}  // namespace Core
}  // namespace Quorvane
