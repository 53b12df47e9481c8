#include "script/Vec2Script.h"

#include "core/Float.h"
#include "core/Vector.h"
#include "script/ScriptBinding.h"

namespace Quorvane {
namespace Core {

namespace {

using namespace ScriptBinding;
constexpr const char* kClass = Vec2Script::className;

Vec2& self(lua_State* L) {
    return checkValue<Vec2>(L, 1, kClass);
}
Vec2& arg(lua_State* L, int index, const char* message = "param is invalid") {
    return checkValue<Vec2>(L, index, kClass, message);
}
int pushVec2(lua_State* L, const Vec2& v) {
    pushValue(L, v, kClass);
    return 1;
}

// add, sub, mult, divide: a Vec2 or a number; anything else does nothing.
template <Vec2& (Vec2::*ByVec)(const Vec2&), Vec2& (Vec2::*ByScalar)(float)>
int inPlace(lua_State* L) {
    Vec2& v = self(L);
    if (lua_type(L, 2) == LUA_TNUMBER)
        (v.*ByScalar)(static_cast<float>(lua_tonumber(L, 2)));
    else if (Vec2* other = valueAt<Vec2>(L, 2, kClass))
        (v.*ByVec)(*other);
    return 0;
}

template <Arith Op>
int arithmetic(lua_State* L) {
    const Vec2& v = self(L);
    if (lua_type(L, 2) == LUA_TNUMBER)
        return pushVec2(L, arith<Op>(v, static_cast<float>(lua_tonumber(L, 2))));
    return pushVec2(L, arith<Op>(v, arg(L, 2)));
}

int create(lua_State* L) {
    const int n = lua_gettop(L);
    // Every argument is read before anything is allocated: an argument error
    // jumps out of this function, past any C++ clean-up.
    Vec2 value;
    if (n == 0)
        value = Vec2();
    else if (n == 1)
        value = Vec2(arg(L, 1));
    else
        value = Vec2(checkFloat(L, 1), checkFloat(L, 2));
    pushValue(L, value, kClass);
    return 1;
}

int equalWithTolerance(lua_State* L) {
    const int n = lua_gettop(L);
    if (n == 3) return pushBool(L, Vec2::equalWithTolerance(arg(L, 1), arg(L, 2), checkFloat(L, 3)));
    if (n == 5)
        return pushBool(L, Vec2::equalWithTolerance(checkFloat(L, 1), checkFloat(L, 2), checkFloat(L, 3),
                                                    checkFloat(L, 4), checkFloat(L, 5)));
    return n > 0 ? 1 : 0;
}

int equal(lua_State* L) {
    const int n = lua_gettop(L);
    if (n == 2) return pushBool(L, self(L).equal(arg(L, 2), Float::epsilon));
    if (n == 3) return pushBool(L, self(L).equal(arg(L, 2), checkFloat(L, 3)));
    return n > 0 ? 1 : 0;
}

const luaL_Reg kStatics[] = {
    {"create", create},
    {"equalWithTolerance", equalWithTolerance},
    {"cross",
     [](lua_State* L) {
         return pushNumber(
             L, Vec2::cross(checkFloat(L, 1), checkFloat(L, 2), checkFloat(L, 3), checkFloat(L, 4)));
     }},
    {"normalize",
     [](lua_State* L) {
         float x = checkFloat(L, 1), y = checkFloat(L, 2);
         const float length = Vec2::normalize(&x, &y);
         lua_pushnumber(L, x);
         lua_pushnumber(L, y);
         lua_pushnumber(L, length);
         return 3;
     }},
    {"lerp", [](lua_State* L) { return pushVec2(L, Vec2::lerp(arg(L, 1), arg(L, 2), checkFloat(L, 3))); }},
    {nullptr, nullptr},
};

const luaL_Reg kMethods[] = {
    {"getX", [](lua_State* L) { return pushNumber(L, self(L).x); }},
    {"getY", [](lua_State* L) { return pushNumber(L, self(L).y); }},
    {"setX", [](lua_State* L) { return self(L).x = checkFloat(L, 2), 0; }},
    {"setY", [](lua_State* L) { return self(L).y = checkFloat(L, 2), 0; }},
    {"set", [](lua_State* L) { return self(L).set(checkFloat(L, 2), checkFloat(L, 3)), 0; }},
    {"isZero",
     [](lua_State* L) {
         lua_pushinteger(L, self(L).isZero() ? 1 : 0);
         return 1;
     }},
    {"isCollinear", [](lua_State* L) { return pushBool(L, self(L).isCollinear(arg(L, 2))); }},
    {"isOrthogonal", [](lua_State* L) { return pushBool(L, self(L).isOrthogonal(arg(L, 2))); }},
    {"add", inPlace<&Vec2::add, &Vec2::add>},
    {"sub", inPlace<&Vec2::sub, &Vec2::sub>},
    {"mult", inPlace<&Vec2::mult, &Vec2::mult>},
    {"divide", inPlace<&Vec2::divide, &Vec2::divide>},
    {"modulo", [](lua_State* L) { return pushVec2(L, self(L).modulo(arg(L, 2))); }},
    {"equal", equal},
    {"min", [](lua_State* L) { return self(L).getMin(arg(L, 2, "other is invalid")), 0; }},
    {"max", [](lua_State* L) { return self(L).getMax(arg(L, 2, "other is invalid")), 0; }},
    {"clamp",
     [](lua_State* L) {
         return self(L).clamp(arg(L, 2, "other is invalid"), arg(L, 3, "other is invalid")), 0;
     }},
    {"negate", [](lua_State* L) { return pushVec2(L, self(L).negate()); }},
    {"normal", [](lua_State* L) { return pushVec2(L, self(L).normal()); }},
    {"perpindicularLeft", [](lua_State* L) { return pushVec2(L, self(L).perpindicularLeft()); }},
    {"perpindicularRight", [](lua_State* L) { return pushVec2(L, self(L).perpindicularRight()); }},
    {"rotate", [](lua_State* L) { return self(L).rotate(checkFloat(L, 2)), 0; }},
    {"rotateRound",
     [](lua_State* L) { return pushVec2(L, self(L).rotateRound(checkFloat(L, 2), arg(L, 3))); }},
    {"rotateAround", [](lua_State* L) { return self(L).rotateAround(checkFloat(L, 2), arg(L, 3)), 0; }},
    {"dot", [](lua_State* L) { return pushNumber(L, self(L).dot(arg(L, 2))); }},
    {"cross", [](lua_State* L) { return pushNumber(L, self(L).cross(arg(L, 2))); }},
    {"distance", [](lua_State* L) { return pushNumber(L, self(L).distance(arg(L, 2))); }},
    {"angleBetween", [](lua_State* L) { return pushNumber(L, self(L).angleBetween(arg(L, 2))); }},
    {"project", [](lua_State* L) { return pushVec2(L, self(L).project(arg(L, 2))); }},
    {"length", [](lua_State* L) { return pushNumber(L, self(L).length()); }},
    {"lengthSquare", [](lua_State* L) { return pushNumber(L, self(L).lengthSquare()); }},
    {"getAngle", [](lua_State* L) { return pushNumber(L, self(L).getAngle()); }},
    {"setLength", [](lua_State* L) { return self(L).setLength(checkFloat(L, 2)), 0; }},
    {"setAngle", [](lua_State* L) { return self(L).setAngle(checkFloat(L, 2)), 0; }},
    {"normalize", [](lua_State* L) { return self(L).normalize(), 0; }},
    {"getQuadrant",
     [](lua_State* L) {
         lua_pushinteger(L, self(L).getQuadrant());
         return 1;
     }},
    {"__add", arithmetic<Arith::Add>},
    {"__sub", arithmetic<Arith::Sub>},
    {"__mul", arithmetic<Arith::Mul>},
    {"__div", arithmetic<Arith::Div>},
    {"__mod", [](lua_State* L) { return pushVec2(L, self(L) % arg(L, 2)); }},
    {"__eq", [](lua_State* L) { return pushBool(L, self(L) == arg(L, 2)); }},
    {"__gc", [](lua_State* L) { return collectValue<Vec2>(L, kClass, nullptr); }},
    {nullptr, nullptr},
};

const ClassSpec kSpec = {kClass, nullptr, kMethods, kStatics};

}  // namespace

int Vec2Script::luaopenClass(lua_State* L) {
    return openClass(L, kSpec);
}

void Vec2Script::registerFunctions(lua_State* L) {
    requireClass(L, "Vec2", luaopenClass);
}

void Vec2Script::createVec2(lua_State* L, float x, float y) {
    pushValue(L, Vec2(x, y), kClass);
}

}  // namespace Core
}  // namespace Quorvane
