#include "script/FloatScript.h"

#include <algorithm>
#include <cmath>

#include "core/Float.h"
#include "script/ScriptBinding.h"

namespace Quorvane {
namespace Core {

namespace {

using ScriptBinding::checkFloat;

int push(lua_State* L, float value) {
    lua_pushnumber(L, value);
    return 1;
}

template <float (*F)(float)>
int unary(lua_State* L) {
    return push(L, F(checkFloat(L, 1)));
}

template <float (*F)(float, float)>
int binary(lua_State* L) {
    return push(L, F(checkFloat(L, 1), checkFloat(L, 2)));
}

float fClamp(float x, float lo, float hi) {
    return std::min(std::max(x, lo), hi);
}

const luaL_Reg kStatics[] = {
    {"getPi", [](lua_State* L) { return push(L, Float::pi); }},
    {"getDoublePi", [](lua_State* L) { return push(L, Float::doublePi); }},
    {"getE", [](lua_State* L) { return push(L, Float::e); }},
    {"getMinFloat", [](lua_State* L) { return push(L, Float::min); }},
    {"getMaxFloat", [](lua_State* L) { return push(L, Float::max); }},
    {"getEpsilon", [](lua_State* L) { return push(L, Float::epsilon); }},
    {"getPixelEpsilon", [](lua_State* L) { return push(L, Float::pixelEpsilon); }},
    {"getDegreesToRadiansFactor", [](lua_State* L) { return push(L, Float::degreesToRadiansFactor); }},
    {"getRadiansToDegreesFactor", [](lua_State* L) { return push(L, Float::radiansToDegreesFactor); }},
    {"degreesToRadians",
     [](lua_State* L) { return push(L, checkFloat(L, 1) * Float::degreesToRadiansFactor); }},
    {"radiansToDegrees",
     [](lua_State* L) { return push(L, checkFloat(L, 1) * Float::radiansToDegreesFactor); }},
    {"getMin", [](lua_State* L) { return push(L, std::min(checkFloat(L, 1), checkFloat(L, 2))); }},
    {"getMax", [](lua_State* L) { return push(L, std::max(checkFloat(L, 1), checkFloat(L, 2))); }},
    {"mix",
     [](lua_State* L) {
         const float a = checkFloat(L, 1), b = checkFloat(L, 2), t = checkFloat(L, 3);
         return push(L, t * b + (1.0f - t) * a);
     }},
    {"clamp",
     [](lua_State* L) { return push(L, fClamp(checkFloat(L, 1), checkFloat(L, 2), checkFloat(L, 3))); }},
    {"smoothstep",
     [](lua_State* L) {
         const float e0 = checkFloat(L, 1), e1 = checkFloat(L, 2), x = checkFloat(L, 3);
         const float t = fClamp((x - e0) / (e1 - e0), 0.0f, 1.0f);
         return push(L, t * t * (3.0f - 2.0f * t));
     }},
    {"map",
     [](lua_State* L) {
         const float x = checkFloat(L, 1), inMin = checkFloat(L, 2), inMax = checkFloat(L, 3);
         const float outMin = checkFloat(L, 4), outMax = checkFloat(L, 5);
         return push(L, outMin + (outMax - outMin) * (x - inMin) / (inMax - inMin));
     }},
    {"sign", [](lua_State* L) { return push(L, checkFloat(L, 1) >= 0.0f ? 1.0f : -1.0f); }},
    {"abs", unary<std::fabs>},
    {"log", unary<std::log>},
    {"round", unary<std::round>},
    {"floor", unary<std::floor>},
    {"tan", unary<std::tan>},
    {"cos", unary<std::cos>},
    {"sin", unary<std::sin>},
    {"asin", unary<std::asin>},
    {"acos", unary<std::acos>},
    {"atan", unary<std::atan>},
    {"sqrt", unary<std::sqrt>},
    {"exp", unary<std::exp>},
    {"crt", unary<std::cbrt>},
    {"mod", binary<std::fmod>},
    {"atan2", binary<std::atan2>},
    {"pow", binary<std::pow>},
    {nullptr, nullptr},
};

const ScriptBinding::ClassSpec kSpec = {FloatScript::className, nullptr, nullptr, kStatics};

}  // namespace

int FloatScript::luaopenClass(lua_State* L) {
    return ScriptBinding::openClass(L, kSpec);
}

void FloatScript::registerFunctions(lua_State* L) {
    ScriptBinding::requireClass(L, "Float", luaopenClass);
}

}  // namespace Core
}  // namespace Quorvane
