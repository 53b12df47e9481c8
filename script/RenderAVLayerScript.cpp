#include "script/RenderAVLayerScript.h"

#include "media/AVSource.h"
#include "render/BlendModes.h"
#include "render/CompositeRenderPass.h"
#include "scene/RenderAVLayer.h"
#include "scene/RenderComp.h"
#include "scene/RenderContext.h"
#include "script/AVSourceScript.h"
#include "script/RenderCompScript.h"
#include "script/RenderLayerScript.h"
#include "script/ScriptBinding.h"

namespace Quorvane {
namespace Core {

namespace {

using namespace ScriptBinding;
constexpr const char* kClass = RenderAVLayerScript::className;
constexpr int U = LUA_TUSERDATA, N = LUA_TNUMBER, S = LUA_TSTRING;

RenderAVLayer* layerOf(lua_State* L, std::initializer_list<int> types) {
    return sceneObject<RenderAVLayer>(L, kClass, types);
}

int create(lua_State* L) {
    RenderComp* comp = sceneObject<RenderComp>(L, RenderCompScript::className, {U});
    if (!comp) return pushNil(L);
    charge(L, kLayerCost);
    auto* layer = new RenderAVLayer(comp);
    ScriptManager::adoptLayer(L, layer);
    pushScene(L, layer, kClass);
    return 1;
}

// The engine refuses a source that would make the layer's composition show
// itself, with a line of its own; the binding refuses it first, so that a
// script repeating the call fills only its own share of the log.
bool ringRefused(lua_State* L, RenderAVLayer* layer, AVSource* source) {
    if (!RenderAVLayer::showsComp(source, layer->parentComp())) return false;
    logLine(L, "layer %s: source %s would make composition %s show itself, refused", layer->layerID().c_str(),
            source->key().c_str(), layer->parentComp()->name().c_str());
    return true;
}

const luaL_Reg kStatics[] = {
    {"create", create},
    {nullptr, nullptr},
};

const luaL_Reg kMethods[] = {
    {"blendMode",
     [](lua_State* L) {
         RenderAVLayer* layer = layerOf(L, {U});
         return layer ? (lua_pushinteger(L, static_cast<lua_Integer>(layer->blendMode())), 1) : pushNil(L);
     }},
    {"matteType",
     [](lua_State* L) {
         RenderAVLayer* layer = layerOf(L, {U});
         return layer ? (lua_pushinteger(L, layer->matteType()), 1) : pushNil(L);
     }},
    {"setBlendMode",
     [](lua_State* L) {
         RenderAVLayer* layer = layerOf(L, {U, N});
         const lua_Integer mode = lua_tointeger(L, 2);
         // Only the modes the compositor has functions for.
         if (layer && mode >= 0 && mode < kBlendModeCount) layer->setBlendMode(static_cast<BlendMode>(mode));
         return 0;
     }},
    {"setMatteType",
     [](lua_State* L) {
         RenderAVLayer* layer = layerOf(L, {U, N});
         const lua_Integer type = lua_tointeger(L, 2);
         if (layer && type >= 0 && type < kTrackMatteTypeCount)
             layer->setMatteType(static_cast<TrackMatteType>(type));
         return 0;
     }},
    {"layerSource",
     [](lua_State* L) {
         RenderAVLayer* layer = layerOf(L, {U});
         if (!layer) return pushNil(L);
         AVSourceScript::createAVSource(L, layer->layerSource());
         return 1;
     }},
    {"setAVSource",
     [](lua_State* L) {
         RenderAVLayer* layer = layerOf(L, {U, U});
         AVSource* source = sceneAt<AVSource>(L, 2, AVSourceScript::className);
         if (layer && source && !ringRefused(L, layer, source)) layer->setAVSource(source);
         return 0;
     }},
    {"removeSource",
     [](lua_State* L) {
         if (RenderAVLayer* layer = layerOf(L, {U})) layer->removeSource();
         return 0;
     }},
    {"sourceID",
     [](lua_State* L) {
         RenderAVLayer* layer = layerOf(L, {U});
         if (!layer) return pushNil(L);
         const std::string id = layer->sourceID();
         lua_pushlstring(L, id.data(), id.size());
         return 1;
     }},
    {"setSourceID",
     [](lua_State* L) {
         if (RenderAVLayer* layer = layerOf(L, {U, S})) {
             RenderContext* context = layer->context();
             AVSource* source = context ? context->source(toString(L, 2)) : nullptr;
             if (source && ringRefused(L, layer, source)) return 0;
             const size_t kept = layer->sourceID().size();
             layer->setSourceID(storedText(L, 2, kept), true);
         }
         return 0;
     }},
    {"layerHasContent",
     [](lua_State* L) {
         RenderAVLayer* layer = layerOf(L, {U});
         return layer ? (lua_pushboolean(L, layer->layerHasContent()), 1) : pushNil(L);
     }},
    {"isMatteLayer",
     [](lua_State* L) {
         RenderAVLayer* layer = layerOf(L, {U});
         return layer ? (lua_pushboolean(L, layer->isMatteLayer()), 1) : pushNil(L);
     }},
    {"matteLayer",
     [](lua_State* L) {
         RenderAVLayer* layer = layerOf(L, {U});
         if (!layer) return pushNil(L);
         RenderAVLayerScript::createRenderAVLayer(L, dynamic_cast<RenderAVLayer*>(layer->matteLayer()));
         return 1;
     }},
    {nullptr, nullptr},
};

const ClassSpec kSpec = {kClass, RenderLayerScript::className, kMethods, kStatics};

}  // namespace

int RenderAVLayerScript::luaopenClass(lua_State* L) {
    return openClass(L, kSpec);
}

void RenderAVLayerScript::registerFunctions(lua_State* L) {
    setEnumGlobal(L, "TrackMatteType",
                  {{"kNoTrackMatte", 0},
                   {"kAlphaMatte", 1},
                   {"kInverseAlphaMatte", 2},
                   {"kLumaMatte", 3},
                   {"kInverseLumaMatte", 4}});
    static const char* const kBlendNames[] = {
        "Blend_Normal",       "Blend_Lighten",     "Blend_Darken",       "Blend_Multiply",
        "Blend_Average",      "Blend_Add",         "Blend_Subtract",     "Blend_Difference",
        "Blend_Negation",     "Blend_Exclusion",   "Blend_Screen",       "Blend_Overlay",
        "Blend_Soft_Light",   "Blend_Hard_Light",  "Blend_Color_Dodge",  "Blend_Color_Burn",
        "Blend_Linear_Dodge", "Blend_Linear_Burn", "Blend_Linear_Light", "Blend_Vivid_Light",
        "Blend_Pin_Light",    "Blend_Hard_Mix",    "Blend_Reflect",      "Blend_Glow",
        "Blend_Phoenix",      "Blend_Opacity",     "Blend_Hue",          "Blend_Saturation",
        "Blend_Color",        "Blend_Luminosity",
    };
    static_assert(sizeof kBlendNames / sizeof kBlendNames[0] == kBlendModeCount, "one name per blend mode");
    lua_createtable(L, 0, kBlendModeCount);
    for (int i = 0; i < kBlendModeCount; ++i) {
        lua_pushinteger(L, i);
        lua_setfield(L, -2, kBlendNames[i]);
    }
    lua_setglobal(L, "BlendMode");
    requireClass(L, "RenderAVLayer", luaopenClass);
}

void RenderAVLayerScript::createRenderAVLayer(lua_State* L, RenderAVLayer* layer) {
    pushScene(L, layer, kClass);
}

}  // namespace Core
}  // namespace Quorvane
