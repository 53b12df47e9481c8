// Lua binding of the global `Affine`.
#pragma once

#include <lua.hpp>

namespace Quorvane {
namespace Core {
class Affine;

class AffineScript {
public:
    static constexpr const char* className = "AffineScript";
    static void registerFunctions(lua_State* L);
    static int luaopenClass(lua_State* L);
    static void newAffine(lua_State* L, const Affine& a);
};

}  // namespace Core
}  // namespace Quorvane
