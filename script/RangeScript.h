// Lua binding of the global `Range`.
#pragma once

#include <lua.hpp>

namespace Quorvane {
namespace Core {

class RangeScript {
public:
    static constexpr const char* className = "RangeScript";
    static void registerFunctions(lua_State* L);
    static int luaopenClass(lua_State* L);
};

}  // namespace Core
}  // namespace Quorvane
