#include "script/AffineScript.h"

#include <cstdio>

#include "core/Matrix.h"
#include "core/Vector.h"
#include "script/ScriptBinding.h"
#include "script/Vec2Script.h"

namespace Quorvane {
namespace Core {

namespace {

using namespace ScriptBinding;
constexpr const char* kClass = AffineScript::className;

Affine& arg(lua_State* L, int index) {
    return checkValue<Affine>(L, index, kClass);
}
Vec2& vec2(lua_State* L, int index) {
    return checkValue<Vec2>(L, index, Vec2Script::className);
}
int pushAffine(lua_State* L, const Affine& a) {
    pushValue(L, a, kClass);
    return 1;
}

int create(lua_State* L) {
    const int n = lua_gettop(L);
    if (n == 1 && lua_type(L, 1) != LUA_TBOOLEAN && !valueAt<Affine>(L, 1, kClass))
        countError(L, "Affine error: do not match parm%d type");
    if (n != 0 && n != 1 && n != 6) countError(L, "Affine error: do not match %d parms");
    // Every argument is read before anything is allocated: an argument error
    // jumps out of this function, past any C++ clean-up.
    Affine value;
    if (n == 0)
        value = Affine(true);
    else if (n == 1 && lua_type(L, 1) == LUA_TBOOLEAN)
        value = Affine(lua_toboolean(L, 1) != 0);
    else if (n == 1)
        value = Affine(arg(L, 1));
    else
        value = Affine(checkFloat(L, 1), checkFloat(L, 2), checkFloat(L, 3), checkFloat(L, 4),
                       checkFloat(L, 5), checkFloat(L, 6));
    pushValue(L, value, kClass);
    return 1;
}

int set(lua_State* L) {
    Affine& a = arg(L, 1);
    const int n = lua_gettop(L);
    if (n == 7)
        a.set(checkFloat(L, 2), checkFloat(L, 3), checkFloat(L, 4), checkFloat(L, 5), checkFloat(L, 6),
              checkFloat(L, 7));
    else if (n == 5)
        a.set(vec2(L, 2), vec2(L, 3), vec2(L, 4), checkFloat(L, 5));
    return 0;
}

int toString(lua_State* L) {
    const Affine& a = arg(L, 1);
    // printf's %f (the interpreter's own %f formats differently); six huge
    // values fit the buffer only as far as snprintf lets them.
    char text[512];
    std::snprintf(text, sizeof text, "Affine A:%f, B:%f C:%f D:%f E:%f F:%f", a.m[0], a.m[1], a.m[2], a.m[3],
                  a.m[4], a.m[5]);
    lua_pushstring(L, text);
    return 1;
}

template <void (Affine::*Op)(float, float)>
int pair(lua_State* L) {
    (arg(L, 1).*Op)(checkFloat(L, 2), checkFloat(L, 3));
    return 0;
}

template <void (Affine::*Op)(float)>
int single(lua_State* L) {
    (arg(L, 1).*Op)(checkFloat(L, 2));
    return 0;
}

const luaL_Reg kStatics[] = {
    {"create", create},
    {"__eq", [](lua_State* L) { return lua_pushboolean(L, arg(L, 1) == arg(L, 2)), 1; }},
    {nullptr, nullptr},
};

const luaL_Reg kMethods[] = {
    {"set", set},
    {"setTranslate", pair<&Affine::setTranslate>},
    {"setScale", pair<&Affine::setScale>},
    {"setSkewX", single<&Affine::setSkewX>},
    {"setSkewY", single<&Affine::setSkewY>},
    {"setRotate", single<&Affine::setRotate>},
    {"translate", pair<&Affine::translate>},
    {"scale", pair<&Affine::scale>},
    {"skewX", single<&Affine::skewX>},
    {"skewY", single<&Affine::skewY>},
    {"rotate", single<&Affine::rotate>},
    {"multiply",
     [](lua_State* L) {
         const Affine other = arg(L, 2);
         arg(L, 1).multiply(other);
         return 0;
     }},
    {"premultiply",
     [](lua_State* L) {
         const Affine other = arg(L, 2);
         arg(L, 1).premultiply(other);
         return 0;
     }},
    {"inverse", [](lua_State* L) { return pushAffine(L, arg(L, 1).getInverse()); }},
    {"getInverse", [](lua_State* L) { return pushAffine(L, arg(L, 1).getInverse()); }},
    {"averageScale", [](lua_State* L) { return lua_pushnumber(L, arg(L, 1).averageScale()), 1; }},
    {"transform", [](lua_State* L) { return arg(L, 1).transform(vec2(L, 2)), 0; }},
    {"getTransform",
     [](lua_State* L) {
         const Vec2 p = arg(L, 1).getTransform(vec2(L, 2));
         Vec2Script::createVec2(L, p.x, p.y);
         return 1;
     }},
    {"__tostring", toString},
    {"__gc", [](lua_State* L) { return collectValue<Affine>(L, kClass, "AffineScript parm is invalid"); }},
    {nullptr, nullptr},
};

const ClassSpec kSpec = {kClass, nullptr, kMethods, kStatics};

}  // namespace

int AffineScript::luaopenClass(lua_State* L) {
    return openClass(L, kSpec);
}

void AffineScript::registerFunctions(lua_State* L) {
    requireClass(L, "Affine", luaopenClass);
}

void AffineScript::newAffine(lua_State* L, const Affine& a) {
    pushValue(L, a, kClass);
}

}  // namespace Core
}  // namespace Quorvane
