// Lua binding of the global `Vec2`.
#pragma once

#include <lua.hpp>

namespace Quorvane {
namespace Core {

class Vec2Script {
public:
    static constexpr const char* className = "Vec2Script";
    static void registerFunctions(lua_State* L);
    static int luaopenClass(lua_State* L);
    static void createVec2(lua_State* L, float x, float y);
};

}  // namespace Core
}  // namespace Quorvane
