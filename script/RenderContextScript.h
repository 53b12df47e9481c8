// Lua binding of the global `RenderContextScript`.
#pragma once

#include <lua.hpp>

namespace Quorvane {
namespace Core {
class RenderContext;

class RenderContextScript {
public:
    static constexpr const char* className = "RenderContextScript";
    static void registerFunctions(lua_State* L);
    static int luaopenClass(lua_State* L);
    static void createRenderContext(lua_State* L, RenderContext* context);
};

}  // namespace Core
}  // namespace Quorvane
