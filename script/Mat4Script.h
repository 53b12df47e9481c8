// Lua binding of the global `Mat4`.
#pragma once

#include <lua.hpp>

namespace Quorvane {
namespace Core {
class Mat4;

class Mat4Script {
public:
    static constexpr const char* className = "Mat4Script";
    static void registerFunctions(lua_State* L);
    static int luaopenClass(lua_State* L);
    static void newMat4(lua_State* L, const Mat4& m);
};

}  // namespace Core
}  // namespace Quorvane
