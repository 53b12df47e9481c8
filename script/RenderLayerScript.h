// Lua binding of the global `RenderLayer`.
#pragma once

#include <lua.hpp>

namespace Quorvane {
namespace Core {
class RenderLayer;

class RenderLayerScript {
public:
    static constexpr const char* className = "RenderLayerScript";
    static void registerFunctions(lua_State* L);
    static int luaopenClass(lua_State* L);
    static void createRenderLayer(lua_State* L, RenderLayer* layer);
};

}  // namespace Core
}  // namespace Quorvane
