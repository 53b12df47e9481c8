// Lua binding of the global `RenderPass`.
#pragma once

#include <lua.hpp>

namespace Quorvane {
namespace Core {
class RenderPass;

class RenderPassScript {
public:
    static constexpr const char* className = "RenderPassScript";
    static void registerFunctions(lua_State* L);
    static int luaopenClass(lua_State* L);
    static void createRenderPass(lua_State* L, RenderPass* pass);
};

}  // namespace Core
}  // namespace Quorvane
