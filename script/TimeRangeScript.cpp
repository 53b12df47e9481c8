#include "script/TimeRangeScript.h"

#include "core/TimeUnit.h"
#include "script/ScriptBinding.h"
#include "script/TimeUnitScript.h"

namespace Quorvane {
namespace Core {

namespace {

using namespace ScriptBinding;
constexpr const char* kClass = TimeRangeScript::className;

int create(lua_State* L) {
    TimeRange range;
    TimeUnit* start = valueAt<TimeUnit>(L, 1, TimeUnitScript::className);
    TimeUnit* duration = valueAt<TimeUnit>(L, 2, TimeUnitScript::className);
    if (lua_gettop(L) == 2 && start && duration) range = TimeRange(*start, *duration);
    pushValue(L, range, kClass);
    return 1;
}

template <TimeUnit (*Get)(const TimeRange&)>
int part(lua_State* L) {
    if (lua_type(L, 1) != LUA_TUSERDATA) return lua_pushnil(L), 1;
    TimeUnitScript::newTimeUnit(L, Get(checkValue<TimeRange>(L, 1, kClass)));
    return 1;
}

TimeUnit startOf(const TimeRange& r) {
    return r.start;
}
TimeUnit durationOf(const TimeRange& r) {
    return r.duration;
}
TimeUnit outPointOf(const TimeRange& r) {
    return r.outPoint();
}

const luaL_Reg kStatics[] = {
    {"create", create},
    {nullptr, nullptr},
};

const luaL_Reg kMethods[] = {
    {"start", part<startOf>},
    {"duration", part<durationOf>},
    {"outPoint", part<outPointOf>},
    {"__gc",
     [](lua_State* L) { return collectValue<TimeRange>(L, kClass, "TimeRangeScript parm is invalid"); }},
    {nullptr, nullptr},
};

const ClassSpec kSpec = {kClass, nullptr, kMethods, kStatics};

}  // namespace

int TimeRangeScript::luaopenClass(lua_State* L) {
    return openClass(L, kSpec);
}

void TimeRangeScript::registerFunctions(lua_State* L) {
    requireClass(L, "TimeRange", luaopenClass);
}

void TimeRangeScript::newTimeRange(lua_State* L, const TimeRange& r) {
    pushValue(L, r, kClass);
}

}  // namespace Core
}  // namespace Quorvane
