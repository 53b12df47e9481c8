// Lua binding of the global `RenderCompScript`.
#pragma once

#include <lua.hpp>

namespace Quorvane {
namespace Core {
class RenderComp;

class RenderCompScript {
public:
    static constexpr const char* className = "RenderCompScript";
    static void registerFunctions(lua_State* L);
    static int luaopenClass(lua_State* L);
    static void createRenderComp(lua_State* L, RenderComp* comp);
};

}  // namespace Core
}  // namespace Quorvane
