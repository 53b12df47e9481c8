#include "script/TimeUnitScript.h"

#include "core/TimeUnit.h"
#include "script/ScriptBinding.h"

namespace Quorvane {
namespace Core {

namespace {

using namespace ScriptBinding;
constexpr const char* kClass = TimeUnitScript::className;

TimeUnit& arg(lua_State* L, int index) {
    return checkValue<TimeUnit>(L, index, kClass);
}

// Getters answer nil for an object that is not a userdata at all; a
// userdata of another class raises the argument error.
TimeUnit* getterObject(lua_State* L) {
    return lua_type(L, 1) == LUA_TUSERDATA ? &arg(L, 1) : nullptr;
}

// A time value a script may hold: a frame count within the frame limit at a
// rate that converts.
bool timeAllowed(const TimeUnit& t) {
    return frameInRange(t.frameCount()) && rateAllowed(t.fps());
}

int create(lua_State* L) {
    TimeUnit t;
    if (lua_gettop(L) == 2 && lua_type(L, 1) == LUA_TNUMBER && lua_type(L, 2) == LUA_TNUMBER)
        t = TimeUnit(lua_tointeger(L, 1), static_cast<float>(lua_tointeger(L, 2)));
    if (!timeAllowed(t)) return lua_pushnil(L), 1;
    pushValue(L, t, kClass);
    return 1;
}

// add and subtract: the result must stay a time value a script may hold.
template <TimeUnit& (TimeUnit::*Op)(const TimeUnit&)>
int combine(lua_State* L) {
    const TimeUnit other = arg(L, 2);
    TimeUnit& t = arg(L, 1);
    TimeUnit result = t;
    (result.*Op)(other);
    if (timeAllowed(result)) t = result;
    return 0;
}

int frame(lua_State* L) {
    TimeUnit* object = getterObject(L);
    if (!object) return lua_pushnil(L), 1;
    const TimeUnit& t = *object;
    if (lua_gettop(L) != 2 || lua_type(L, 2) != LUA_TNUMBER) return lua_pushnil(L), 1;
    lua_pushinteger(L, t.frame(static_cast<float>(lua_tointeger(L, 2))));
    return 1;
}

int frameCount(lua_State* L) {
    TimeUnit* object = getterObject(L);
    if (!object) return lua_pushnil(L), 1;
    const TimeUnit& t = *object;
    lua_pushinteger(L, t.frameCount());
    return 1;
}

int fps(lua_State* L) {
    TimeUnit* object = getterObject(L);
    if (!object) return lua_pushnil(L), 1;
    const TimeUnit& t = *object;
    lua_pushinteger(L, static_cast<lua_Integer>(t.fps()));
    return 1;
}

int isZero(lua_State* L) {
    TimeUnit* object = getterObject(L);
    if (!object) return lua_pushnil(L), 1;
    const TimeUnit& t = *object;
    lua_pushboolean(L, t.isZero());
    return 1;
}

const luaL_Reg kStatics[] = {
    {"create", create},
    {nullptr, nullptr},
};

const luaL_Reg kMethods[] = {
    {"frame", frame},
    {"frameCount", frameCount},
    {"fps", fps},
    {"isZero", isZero},
    {"setFrame",
     [](lua_State* L) {
         TimeUnit& t = arg(L, 1);
         const lua_Integer frame = lua_tointeger(L, 2);
         if (frameInRange(frame)) t.setFrame(frame);
         return 0;
     }},
    {"setFps",
     [](lua_State* L) {
         TimeUnit& t = arg(L, 1);
         const float rate = static_cast<float>(lua_tointeger(L, 2));
         if (rateAllowed(rate)) t.setFps(rate);
         return 0;
     }},
    {"add", combine<&TimeUnit::operator+=>},
    {"subtract", combine<&TimeUnit::operator-=>},
    {"__gc",
     [](lua_State* L) { return collectValue<TimeUnit>(L, kClass, "TimeUnitScript parm is invalid"); }},
    {nullptr, nullptr},
};

const ClassSpec kSpec = {kClass, nullptr, kMethods, kStatics};

}  // namespace

int TimeUnitScript::luaopenClass(lua_State* L) {
    return openClass(L, kSpec);
}

void TimeUnitScript::registerFunctions(lua_State* L) {
    requireClass(L, "TimeUnit", luaopenClass);
}

void TimeUnitScript::newTimeUnit(lua_State* L, const TimeUnit& t) {
    pushValue(L, t, kClass);
}

}  // namespace Core
}  // namespace Quorvane
