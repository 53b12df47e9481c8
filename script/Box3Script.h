// Lua binding of the global `Box3`.
#pragma once

#include <lua.hpp>

namespace Quorvane {
namespace Core {

class Box3Script {
public:
    static constexpr const char* className = "Box3Script";
    static void registerFunctions(lua_State* L);
    static int luaopenClass(lua_State* L);
};

}  // namespace Core
}  // namespace Quorvane
