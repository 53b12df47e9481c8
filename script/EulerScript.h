// Lua binding of the global `Euler`.
#pragma once

#include <lua.hpp>

namespace Quorvane {
namespace Core {

class EulerScript {
public:
    static constexpr const char* className = "EulerScript";
    static void registerFunctions(lua_State* L);
    static int luaopenClass(lua_State* L);
};

}  // namespace Core
}  // namespace Quorvane
