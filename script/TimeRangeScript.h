// Lua binding of the global `TimeRange`.
#pragma once

#include <lua.hpp>

namespace Quorvane {
namespace Core {
struct TimeRange;

class TimeRangeScript {
public:
    static constexpr const char* className = "TimeRangeScript";
    static void registerFunctions(lua_State* L);
    static int luaopenClass(lua_State* L);
    static void newTimeRange(lua_State* L, const TimeRange& r);
};

}  // namespace Core
}  // namespace Quorvane
