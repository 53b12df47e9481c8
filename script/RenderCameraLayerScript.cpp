#include "script/RenderCameraLayerScript.h"

#include "scene/RenderCameraLayer.h"
#include "scene/RenderComp.h"
#include "script/RenderCompScript.h"
#include "script/RenderLayerScript.h"
#include "script/ScriptBinding.h"

namespace Quorvane {
namespace Core {

namespace {

using namespace ScriptBinding;
constexpr const char* kClass = RenderCameraLayerScript::className;
constexpr int U = LUA_TUSERDATA, N = LUA_TNUMBER;

int create(lua_State* L) {
    RenderComp* comp = sceneObject<RenderComp>(L, RenderCompScript::className, {U});
    if (!comp) return pushNil(L);
    charge(L, kLayerCost);
    auto* camera = new RenderCameraLayer(comp);
    ScriptManager::adoptLayer(L, camera);
    pushScene(L, camera, kClass);
    return 1;
}

template <float (RenderCameraLayer::*Get)() const>
int get(lua_State* L) {
    RenderCameraLayer* camera = sceneObject<RenderCameraLayer>(L, kClass, {U});
    return camera ? (lua_pushnumber(L, (camera->*Get)()), 1) : pushNil(L);
}

// The engine setters with their update flag set.
template <void (RenderCameraLayer::*Set)(float, bool)>
int set(lua_State* L) {
    RenderCameraLayer* camera = sceneObject<RenderCameraLayer>(L, kClass, {U, N});
    if (camera) (camera->*Set)(static_cast<float>(lua_tonumber(L, 2)), true);
    return 0;
}

const luaL_Reg kStatics[] = {
    {"create", create},
    {nullptr, nullptr},
};

const luaL_Reg kMethods[] = {
    {"getFocalLength", get<&RenderCameraLayer::getFocalLength>},
    {"getFilmWidth", get<&RenderCameraLayer::getFilmWidth>},
    {"getFilmHeight", get<&RenderCameraLayer::getFilmHeight>},
    {"getAspect", get<&RenderCameraLayer::getAspect>},
    {"setFocalLength", set<&RenderCameraLayer::setFocalLength>},
    {"setFilmHeight", set<&RenderCameraLayer::setFilmHeight>},
    {"setAspect", set<&RenderCameraLayer::setAspect>},
    {"setFov", set<&RenderCameraLayer::setFov>},
    {"setFar", set<&RenderCameraLayer::setFar>},
    {"setNear", set<&RenderCameraLayer::setNear>},
    {"setFilmWidth",
     [](lua_State* L) {
         RenderCameraLayer* camera = sceneObject<RenderCameraLayer>(L, kClass, {U, N});
         if (camera) camera->setFilmWidth(static_cast<float>(lua_tonumber(L, 2)));
         return 0;
     }},
    {nullptr, nullptr},
};

const ClassSpec kSpec = {kClass, RenderLayerScript::className, kMethods, kStatics};

}  // namespace

int RenderCameraLayerScript::luaopenClass(lua_State* L) {
    return openClass(L, kSpec);
}

void RenderCameraLayerScript::registerFunctions(lua_State* L) {
    requireClass(L, "RenderCameraLayer", luaopenClass);
}

void RenderCameraLayerScript::createRenderCameraLayer(lua_State* L, RenderCameraLayer* layer) {
    pushScene(L, layer, kClass);
}

}  // namespace Core
}  // namespace Quorvane
