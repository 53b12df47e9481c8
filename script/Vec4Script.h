// Lua binding of the global `Vec4`.
#pragma once

#include <lua.hpp>

namespace Quorvane {
namespace Core {
struct Vec4;

class Vec4Script {
public:
    static constexpr const char* className = "Vec4Script";
    static void registerFunctions(lua_State* L);
    static int luaopenClass(lua_State* L);
    static void newVec4(lua_State* L, const Vec4& v);
};

}  // namespace Core
}  // namespace Quorvane
