// Lua binding of the global `RenderCameraLayer`.
#pragma once

#include <lua.hpp>

namespace Quorvane {
namespace Core {
class RenderCameraLayer;

class RenderCameraLayerScript {
public:
    static constexpr const char* className = "RenderCameraLayerScript";
    static void registerFunctions(lua_State* L);
    static int luaopenClass(lua_State* L);
    static void createRenderCameraLayer(lua_State* L, RenderCameraLayer* layer);
};

}  // namespace Core
}  // namespace Quorvane
