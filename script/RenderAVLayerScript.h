// Lua binding of the global `RenderAVLayer`.
#pragma once

#include <lua.hpp>

namespace Quorvane {
namespace Core {
class RenderAVLayer;

class RenderAVLayerScript {
public:
    static constexpr const char* className = "RenderAVLayerScript";
    static void registerFunctions(lua_State* L);
    static int luaopenClass(lua_State* L);
    static void createRenderAVLayer(lua_State* L, RenderAVLayer* layer);
};

}  // namespace Core
}  // namespace Quorvane
