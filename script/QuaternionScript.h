// Lua binding of the global `Quaternion`.
#pragma once

#include <lua.hpp>

namespace Quorvane {
namespace Core {
class Quaternion;

class QuaternionScript {
public:
    static constexpr const char* className = "QuaternionScript";
    static void registerFunctions(lua_State* L);
    static int luaopenClass(lua_State* L);
    static void newQuaternion(lua_State* L, const Quaternion& q);
};

}  // namespace Core
}  // namespace Quorvane
