#include "script/RenderPassScript.h"

#include "render/RenderPass.h"
#include "script/RenderLayerScript.h"
#include "script/ScriptBinding.h"

namespace Quorvane {
namespace Core {

namespace {

using namespace ScriptBinding;
constexpr const char* kClass = RenderPassScript::className;

RenderPass* getter(lua_State* L) {
    return sceneObject<RenderPass>(L, kClass, {LUA_TUSERDATA});
}
RenderPass* setter(lua_State* L) {
    return sceneObject<RenderPass>(L, kClass, {LUA_TUSERDATA, LUA_TNUMBER});
}

const luaL_Reg kMethods[] = {
    {"parent",
     [](lua_State* L) {
         RenderPass* pass = getter(L);
         if (!pass) return pushNil(L);
         RenderLayerScript::createRenderLayer(L, pass->parent());
         return 1;
     }},
    {"width",
     [](lua_State* L) {
         RenderPass* pass = getter(L);
         return pass ? (lua_pushinteger(L, pass->width()), 1) : pushNil(L);
     }},
    {"height",
     [](lua_State* L) {
         RenderPass* pass = getter(L);
         return pass ? (lua_pushinteger(L, pass->height()), 1) : pushNil(L);
     }},
    {"setWidth",
     [](lua_State* L) {
         RenderPass* pass = setter(L);
         const lua_Integer w = lua_tointeger(L, 2);
         if (!pass || !passSizeAllowed(w) || (w == 0 && !pass->parent())) return 0;
         chargeResize(L, pass->width(), pass->height(), w, pass->height());
         pass->setWidth(static_cast<int>(w));
         return 0;
     }},
    {"setHeight",
     [](lua_State* L) {
         RenderPass* pass = setter(L);
         const lua_Integer h = lua_tointeger(L, 2);
         if (!pass || !passSizeAllowed(h) || (h == 0 && !pass->parent())) return 0;
         chargeResize(L, pass->width(), pass->height(), pass->width(), h);
         pass->setHeight(static_cast<int>(h));
         return 0;
     }},
    {nullptr, nullptr},
};

const ClassSpec kSpec = {kClass, nullptr, kMethods, nullptr};

}  // namespace

int RenderPassScript::luaopenClass(lua_State* L) {
    return openClass(L, kSpec);
}

void RenderPassScript::registerFunctions(lua_State* L) {
    requireClass(L, "RenderPass", luaopenClass);
}

void RenderPassScript::createRenderPass(lua_State* L, RenderPass* pass) {
    pushScene(L, pass, kClass);
}

}  // namespace Core
}  // namespace Quorvane
