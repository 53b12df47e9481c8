// Lua binding of the global `Vec3`.
#pragma once

#include <lua.hpp>

namespace Quorvane {
namespace Core {
struct Vec3;

class Vec3Script {
public:
    static constexpr const char* className = "Vec3Script";
    static void registerFunctions(lua_State* L);
    static int luaopenClass(lua_State* L);
    static void newVec3(lua_State* L, const Vec3& v);
};

}  // namespace Core
}  // namespace Quorvane
