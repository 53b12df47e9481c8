// Lua binding of the global `TimeUnit`.
#pragma once

#include <lua.hpp>

namespace Quorvane {
namespace Core {
class TimeUnit;

class TimeUnitScript {
public:
    static constexpr const char* className = "TimeUnitScript";
    static void registerFunctions(lua_State* L);
    static int luaopenClass(lua_State* L);
    static void newTimeUnit(lua_State* L, const TimeUnit& t);
};

}  // namespace Core
}  // namespace Quorvane
