// Lua binding of the global `Color`.
#pragma once

#include <lua.hpp>
#include "core/Color.h"

namespace Quorvane {
namespace Core {

class ColorScript {
public:
    static constexpr const char* className = "ColorScript";
    static void registerFunctions(lua_State* L);
    static int luaopenClass(lua_State* L);
    static void newColor(lua_State* L, Color color);
};

}  // namespace Core
}  // namespace Quorvane
