#include "script/RenderCompScript.h"

#include <algorithm>
#include <string>
#include <vector>

#include "core/Color.h"
#include "core/Vector.h"
#include "scene/RenderAVLayer.h"
#include "scene/RenderCameraLayer.h"
#include "scene/RenderComp.h"
#include "script/ColorScript.h"
#include "script/RenderAVLayerScript.h"
#include "script/RenderCameraLayerScript.h"
#include "script/RenderLayerScript.h"
#include "script/ScriptBinding.h"
#include "script/Vec2Script.h"

namespace Quorvane {
namespace Core {

namespace {

using namespace ScriptBinding;
constexpr const char* kClass = RenderCompScript::className;
constexpr int U = LUA_TUSERDATA, N = LUA_TNUMBER, S = LUA_TSTRING, B = LUA_TBOOLEAN;

RenderComp* compOf(lua_State* L, std::initializer_list<int> types) {
    return sceneObject<RenderComp>(L, kClass, types);
}

RenderLayer* layerAt(lua_State* L, int index) {
    return sceneAt<RenderLayer>(L, index, RenderLayerScript::className);
}

int pushLayers(lua_State* L, const std::vector<RenderLayer*>& layers) {
    lua_createtable(L, static_cast<int>(layers.size()), 0);
    for (size_t i = 0; i < layers.size(); ++i) {
        RenderLayerScript::createRenderLayer(L, layers[i]);
        lua_rawseti(L, -2, static_cast<lua_Integer>(i + 1));
    }
    return 1;
}

bool listHolds(const LayerManager* list, const RenderLayer* layer) {
    if (!list) return false;
    const auto& layers = list->layers();
    return std::find(layers.begin(), layers.end(), layer) != layers.end();
}

// A layer may go into a composition's list only when the list would be its
// one owner: a composition is owned by the context's registry (and a list
// holding it would delete it a second time), and a layer already held is
// first taken out of its list (a list holding it twice would delete it twice).
// Nor may a layer go where its source would make the composition show itself.
bool takeForInsertion(lua_State* L, RenderComp* comp, RenderLayer* layer) {
    if (!comp || !layer || layer->asComp()) return false;
    if (RenderComp* home = layer->parentComp(); home && home->isDefaultCamera(layer)) {
        logLine(L, "layer %s: the default camera of composition %s, not placed", layer->layerID().c_str(),
                home->name().c_str());
        return false;
    }
    auto* av = dynamic_cast<RenderAVLayer*>(layer);
    if (av && RenderAVLayer::showsComp(av->layerSource(), comp)) {
        logLine(L, "layer %s: its source would make composition %s show itself, not placed",
                layer->layerID().c_str(), comp->name().c_str());
        return false;
    }
    LayerManager* old = layer->parentCompLayers();
    if (listHolds(old, layer)) old->removeLayer(layer);
    return true;
}

// The layer joins the composition (its parent and the redraw), as addLayer
// does; the other insertions of the list leave that to the caller.
void joined(RenderComp* comp, RenderLayer* layer) {
    comp->layerAdded(layer);
}

template <void (RenderComp::*Collect)(const std::string&, std::vector<RenderLayer*>&) const>
int collect(lua_State* L) {
    RenderComp* comp = compOf(L, {U, S});
    if (!comp) return pushNil(L);
    std::vector<RenderLayer*> found;
    (comp->*Collect)(toString(L, 2), found);
    return pushLayers(L, found);
}

int addLayer(lua_State* L) {
    const int n = lua_gettop(L);
    if (n != 2 && n != 3) return 0;
    RenderComp* comp = sceneAt<RenderComp>(L, 1, kClass);
    RenderLayer* layer = layerAt(L, 2);
    if (!takeForInsertion(L, comp, layer)) return 0;
    const bool atBottom = n == 3 && lua_type(L, 3) == B && lua_toboolean(L, 3);
    comp->addLayer(layer, atBottom);
    joined(comp, layer);
    return 0;
}

int insertLayerAt(lua_State* L) {
    if (!argsAre(L, {U, U, N})) return 0;
    RenderComp* comp = sceneAt<RenderComp>(L, 1, kClass);
    RenderLayer* layer = layerAt(L, 2);
    if (!takeForInsertion(L, comp, layer)) return 0;
    const lua_Integer index = lua_tointeger(L, 3);
    comp->insertLayerAt(layer,
                        index < 0 ? 0u : static_cast<unsigned int>(std::min<lua_Integer>(index, UINT32_MAX)));
    joined(comp, layer);
    return 0;
}

template <void (LayerManager::*Insert)(RenderLayer*, RenderLayer*)>
int insetLayer(lua_State* L) {
    const int n = lua_gettop(L);
    if (n != 2 && n != 3) return 0;
    RenderComp* comp = sceneAt<RenderComp>(L, 1, kClass);
    RenderLayer* layer = layerAt(L, 2);
    RenderLayer* reference = n == 3 ? layerAt(L, 3) : nullptr;
    if (n == 3 && !reference) return 0;
    if (reference == layer || !takeForInsertion(L, comp, layer)) return 0;
    (comp->*Insert)(layer, reference);
    joined(comp, layer);
    return 0;
}

int removeLayer(lua_State* L) {
    RenderComp* comp = compOf(L, {U, U});
    RenderLayer* layer = comp ? layerAt(L, 2) : nullptr;
    // Nothing owns the layer now: the script host keeps it (the script may
    // still use it or insert it again) and decides at the end.
    const bool removed = layer && comp->removeLayer(layer);
    if (removed) ScriptManager::keepRemovedLayer(L, layer);
    lua_pushboolean(L, removed);
    return 1;
}

int setCompSize(lua_State* L) {
    RenderComp* comp = nullptr;
    lua_Integer width = 0, height = 0;
    if ((comp = compOf(L, {U, U}))) {
        const Vec2* size = valueAt<Vec2>(L, 2, Vec2Script::className);
        if (!size) return 0;
        // Truncated to whole pixels.
        width = wholeNumber(size->x);
        height = wholeNumber(size->y);
    } else if ((comp = compOf(L, {U, N, N}))) {
        width = lua_tointeger(L, 2);
        height = lua_tointeger(L, 3);
    }
    if (!comp || !compSizeAccepted(L, width, height, "RenderCompScript:setCompSize")) return 0;
    chargeResize(L, comp->width(), comp->height(), width, height);
    comp->setCompSize(static_cast<int>(width), static_cast<int>(height));
    return 0;
}

const luaL_Reg kMethods[] = {
    {"isMainComp",
     [](lua_State* L) {
         RenderComp* comp = compOf(L, {U});
         return comp ? (lua_pushboolean(L, comp->isMainComp()), 1) : pushNil(L);
     }},
    {"isDynamic",
     [](lua_State* L) {
         RenderComp* comp = compOf(L, {U});
         return comp ? (lua_pushboolean(L, comp->isDynamic()), 1) : pushNil(L);
     }},
    {"name",
     [](lua_State* L) {
         RenderComp* comp = compOf(L, {U});
         return comp ? (lua_pushlstring(L, comp->name().data(), comp->name().size()), 1) : pushNil(L);
     }},
    {"duration",
     [](lua_State* L) {
         RenderComp* comp = compOf(L, {U});
         return comp ? (lua_pushinteger(L, static_cast<lua_Integer>(comp->duration())), 1) : pushNil(L);
     }},
    {"currentLocalTime",
     [](lua_State* L) {
         RenderComp* comp = compOf(L, {U});
         return comp ? (lua_pushinteger(L, comp->currentLocalTime()), 1) : pushNil(L);
     }},
    {"setCurrentCompTime",
     [](lua_State* L) {
         if (RenderComp* comp = compOf(L, {U, N})) comp->setCurrentCompTime(lua_tointeger(L, 2));
         return 0;
     }},
    {"setCompDuration",
     [](lua_State* L) {
         RenderComp* comp = compOf(L, {U, N});
         const lua_Integer frames = lua_tointeger(L, 2);
         if (!comp || !frameCountAccepted(L, frames, "RenderCompScript:setCompDuration")) return 0;
         comp->setCompDuration(static_cast<unsigned long>(frames));
         return 0;
     }},
    {"setCompSize", setCompSize},
    {"setBackgroundColor",
     [](lua_State* L) {
         RenderComp* comp = compOf(L, {U, U});
         const Color* color = valueAt<Color>(L, 2, ColorScript::className);
         if (comp && color) comp->setBackgroundColor(*color);
         return 0;
     }},
    {"cameraLayer",
     [](lua_State* L) {
         RenderComp* comp = compOf(L, {U});
         if (!comp) return pushNil(L);
         RenderCameraLayerScript::createRenderCameraLayer(L, comp->cameraLayer());
         return 1;
     }},
    {"layer",
     [](lua_State* L) {
         RenderComp* comp = compOf(L, {U, S});
         if (!comp) return pushNil(L);
         RenderLayerScript::createRenderLayer(L, comp->LayerManager::layer(toString(L, 2)));
         return 1;
     }},
    {"getLayerByUIKey",
     [](lua_State* L) {
         RenderComp* comp = compOf(L, {U, S});
         if (!comp) return pushNil(L);
         RenderLayerScript::createRenderLayer(L, comp->getLayerByUIKey(toString(L, 2)));
         return 1;
     }},
    {"layers",
     [](lua_State* L) {
         RenderComp* comp = compOf(L, {U});
         return comp ? pushLayers(L, comp->layers()) : pushNil(L);
     }},
    {"getLayersWithUIKeyStartWith", collect<&RenderComp::getLayersWithUIKeyStartWith>},
    {"digLayersWithUIKeyStartWith", collect<&RenderComp::digLayersWithUIKeyStartWith>},
    {"digLayersByUIKey", collect<&RenderComp::digLayersByUIKey>},
    {"addLayer", addLayer},
    {"insertLayerAt", insertLayerAt},
    {"insetLayerAbove", insetLayer<&LayerManager::insetLayerAbove>},
    {"insetLayerBelow", insetLayer<&LayerManager::insetLayerBelow>},
    {"removeLayer", removeLayer},
    {nullptr, nullptr},
};

const ClassSpec kSpec = {kClass, RenderAVLayerScript::className, kMethods, nullptr};

}  // namespace

int RenderCompScript::luaopenClass(lua_State* L) {
    return openClass(L, kSpec);
}

void RenderCompScript::registerFunctions(lua_State* L) {
    requireClass(L, "RenderCompScript", luaopenClass);
}

void RenderCompScript::createRenderComp(lua_State* L, RenderComp* comp) {
    pushScene(L, comp, kClass);
}

}  // namespace Core
}  // namespace Quorvane
