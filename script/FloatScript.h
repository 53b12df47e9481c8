// Lua binding of the global `Float`.
#pragma once

#include <lua.hpp>

namespace Quorvane {
namespace Core {

class FloatScript {
public:
    static constexpr const char* className = "FloatScript";
    static void registerFunctions(lua_State* L);
    static int luaopenClass(lua_State* L);
};

}  // namespace Core
}  // namespace Quorvane
