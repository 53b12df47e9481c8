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

// Rates are read as integers: a rate with a fraction reads as 0.
float rateAt(lua_State* L, int index) {
    return static_cast<float>(lua_tointeger(L, index));
}

int create(lua_State* L) {
    TimeUnit t;
    if (lua_gettop(L) == 2 && lua_type(L, 1) == LUA_TNUMBER && lua_type(L, 2) == LUA_TNUMBER)
        t = TimeUnit(lua_tointeger(L, 1), rateAt(L, 2));
    if (!timeAccepted(L, t, "TimeUnit.create")) return lua_pushnil(L), 1;
    pushValue(L, t, kClass);
    return 1;
}

// add and subtract: the argument converted to the object's rate; a rate of 0
// on either side adds nothing, and the result must stay a time a script may
// hold.
template <TimeUnit& (TimeUnit::*Op)(const TimeUnit&)>
int combine(lua_State* L, const char* what) {
    const TimeUnit other = arg(L, 2);
    TimeUnit& t = arg(L, 1);
    if (t.fps() == 0.0f || other.fps() == 0.0f) {
        noteZeroRate(L, other.fps(), t.fps(), what);
        return 0;
    }
    TimeUnit result = t;
    (result.*Op)(other);
    if (timeAccepted(L, result, what)) t = result;
    return 0;
}

int frame(lua_State* L) {
    TimeUnit* object = getterObject(L);
    if (!object) return lua_pushnil(L), 1;
    const TimeUnit& t = *object;
    if (lua_gettop(L) != 2 || lua_type(L, 2) != LUA_TNUMBER) return lua_pushnil(L), 1;
    // Any rate converts: the conversion saturates, and a negative rate
    // counts the time backwards.
    const float rate = rateAt(L, 2);
    noteZeroRate(L, t.fps(), rate, "TimeUnit:frame");
    lua_pushinteger(L, t.frame(rate));
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
    // Times from the engine may carry any rate a template gave.
    lua_pushinteger(L, wholeNumber(object->fps()));
    return 1;
}

int isZero(lua_State* L) {
    TimeUnit* object = getterObject(L);
    if (!object) return lua_pushnil(L), 1;
    const TimeUnit& t = *object;
    lua_pushboolean(L, t.isZero());
    return 1;
}

int64_t frameAt(lua_State* L, int index) {
    return lua_tointeger(L, index);
}

// setFrame and setFps change a copy first: the time must stay one a script
// may hold.
template <class V, void (TimeUnit::*Set)(V), V (*Read)(lua_State*, int)>
int setField(lua_State* L, const char* what) {
    TimeUnit& t = arg(L, 1);
    TimeUnit changed = t;
    (changed.*Set)(Read(L, 2));
    if (timeAccepted(L, changed, what)) t = changed;
    return 0;
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
     [](lua_State* L) { return setField<int64_t, &TimeUnit::setFrame, frameAt>(L, "TimeUnit:setFrame"); }},
    {"setFps", [](lua_State* L) { return setField<float, &TimeUnit::setFps, rateAt>(L, "TimeUnit:setFps"); }},
    {"add", [](lua_State* L) { return combine < &TimeUnit::operator+=>(L, "TimeUnit:add"); }},
    {"subtract", [](lua_State* L) { return combine < &TimeUnit::operator-=>(L, "TimeUnit:subtract"); }},
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
