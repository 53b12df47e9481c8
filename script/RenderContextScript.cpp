#include "script/RenderContextScript.h"

#include <memory>
#include <string>
#include <vector>

#include "core/Color.h"
#include "core/FileCodec.h"
#include "core/Unique.h"
#include "core/Vector.h"
#include "scene/DynamicComp.h"
#include "scene/RenderAVLayer.h"
#include "scene/RenderContext.h"
#include "script/AVSourceScript.h"
#include "script/ColorScript.h"
#include "script/RenderCompScript.h"
#include "script/ScriptBinding.h"

namespace Quorvane {
namespace Core {

namespace {

using namespace ScriptBinding;
constexpr const char* kClass = RenderContextScript::className;
constexpr int U = LUA_TUSERDATA, N = LUA_TNUMBER, S = LUA_TSTRING, T = LUA_TTABLE;

RenderContext* contextAt(lua_State* L) {
    return sceneAt<RenderContext>(L, 1, kClass);
}

RenderContext* contextOf(lua_State* L, std::initializer_list<int> types) {
    return sceneObject<RenderContext>(L, kClass, types);
}

int pushText(lua_State* L, const std::string& text) {
    lua_pushlstring(L, text.data(), text.size());
    return 1;
}

// The optional last key argument: the string at the index, else a new key.
std::string keyArgument(lua_State* L, int index) {
    return lua_gettop(L) >= index && lua_type(L, index) == S ? toString(L, index) : Unique::GenerateID();
}

// Whether the arguments from the index on are at most one optional key. The
// new object and the context's registry each keep a copy of the key: both are
// counted here, before the binding makes any C++ text a memory error would
// jump over.
bool optionalKey(lua_State* L, int index) {
    const int n = lua_gettop(L);
    if (n == index && lua_type(L, index) == S) chargeText(L, 2 * keptTextBytes(lua_rawlen(L, index)));
    return n == index - 1 || (n == index && lua_type(L, index) == S);
}

// An image sequence keeps its list of names and a copy of the first as its
// main file: charged, with the check that every element is a text.
bool chargeSequence(lua_State* L, int index) {
    size_t first = 0;
    if (lua_rawgeti(L, index, 1) == S) first = keptTextBytes(lua_rawlen(L, -1));
    lua_pop(L, 1);
    return chargeTextArray(L, index, first);
}

// What the engine keeps of a copy of the source: its texts (names of files,
// the configuration text) and its pixels.
void chargeSourceCopy(lua_State* L, const AVSource* original) {
    if (!original) {
        charge(L, kObjectCost);
        return;
    }
    charge(L, pixelCost(original->width(), original->height()));
    chargeText(L, keptListBytes(original->imageSequenceFils()) + keptTextBytes(original->mainFile().size()) +
                      keptTextBytes(original->getConfigJson().size()));
}

int pushComp(lua_State* L, RenderComp* comp) {
    RenderCompScript::createRenderComp(L, comp);
    return 1;
}

// A look-up of the dynamic template by a text argument.
template <class C, C* (RenderContext::*Find)(const std::string&) const>
int byText(lua_State* L) {
    RenderContext* context = contextOf(L, {U, S});
    return context ? pushComp(L, (context->*Find)(toString(L, 2))) : pushNil(L);
}

int createAVFileSource(lua_State* L) {
    RenderContext* context = contextAt(L);
    if (!context || lua_type(L, 2) != S || !optionalKey(L, 3)) return pushNil(L);
    charge(L, kObjectCost);
    chargeText(L, keptTextBytes(lua_rawlen(L, 2)));
    return pushText(L, context->createAVFileSource(toString(L, 2), keyArgument(L, 3), 0.0f, std::string()));
}

int createSolidSource(lua_State* L) {
    RenderContext* context = contextAt(L);
    const Color* color = valueAt<Color>(L, 2, ColorScript::className);
    if (!context || !color || lua_type(L, 3) != N || lua_type(L, 4) != N || !optionalKey(L, 5))
        return pushNil(L);
    const lua_Integer width = lua_tointeger(L, 3), height = lua_tointeger(L, 4);
    if (!compSizeAccepted(L, width, height, "RenderContextScript:createSolidSource")) return pushNil(L);
    charge(L, pixelCost(width, height));
    return pushText(L, context->createSolidSource(*color, static_cast<int>(width), static_cast<int>(height),
                                                  keyArgument(L, 5), std::string()));
}

int createImageSequenceSource(lua_State* L) {
    RenderContext* context = contextAt(L);
    if (!context || lua_type(L, 2) != T || !optionalKey(L, 3)) return pushNil(L);
    charge(L, kObjectCost);
    if (!chargeSequence(L, 2)) return pushNil(L);
    return pushText(
        L, context->createImageSequenceSource(textArray(L, 2), keyArgument(L, 3), 0.0f, std::string()));
}

int createCompSource(lua_State* L) {
    RenderContext* context = contextAt(L);
    RenderComp* comp = sceneAt<RenderComp>(L, 2, RenderCompScript::className);
    if (!context || !comp || !optionalKey(L, 3)) return pushNil(L);
    charge(L, kObjectCost);
    return pushText(L, context->createCompSource(comp, keyArgument(L, 3), std::string()));
}

int createPreComp(lua_State* L) {
    RenderContext* context = contextAt(L);
    if (!context || lua_type(L, 2) != N || lua_type(L, 3) != N || lua_type(L, 4) != N || !optionalKey(L, 5))
        return pushNil(L);
    const lua_Integer width = lua_tointeger(L, 2), height = lua_tointeger(L, 3),
                      duration = lua_tointeger(L, 4);
    if (!compSizeAccepted(L, width, height, "RenderContextScript:createPreComp") ||
        !frameCountAccepted(L, duration, "RenderContextScript:createPreComp"))
        return pushNil(L);
    charge(L, pixelCost(width, height));
    return pushText(L, context->createPreComp(static_cast<int>(width), static_cast<int>(height),
                                              static_cast<int>(duration), keyArgument(L, 5)));
}

// The texts a copy of the layer keeps (a script may have set them long).
size_t layerTextBytes(const RenderLayer& layer) {
    size_t bytes = keptTextBytes(layer.layerID().size()) + keptTextBytes(layer.uiKey().size()) +
                   keptTextBytes(layer.extraData().size()) + keptTextBytes(layer.linkedLayerID().size()) +
                   keptTextBytes(layer.collapseCompLayerID().size());
    if (auto* av = dynamic_cast<const RenderAVLayer*>(&layer)) bytes += keptTextBytes(av->sourceID().size());
    return bytes;
}

// A copy of a layer copies the records of a track of its own; a shared
// track stays shared in the copy, which takes along the matrix caches read.
size_t trackCopyBytes(RenderLayer& layer) {
    const TransformManager& track = *layer.transformManager();
    return (track.isShared() ? 0 : trackBytes(track)) + track.cachedBytes();
}

// A copy of a composition costs its pixels, and for each of its layers a
// layer's share, its transform track and its texts; the composition itself
// is copied as a layer, with a copy of the source it shows, if any.
void chargeCopy(lua_State* L, RenderComp* comp) {
    if (!comp) return;
    size_t engine = pixelCost(comp->width(), comp->height()) + trackCopyBytes(*comp);
    size_t texts = layerTextBytes(*comp);
    for (RenderLayer* layer : comp->layers()) {
        engine += kLayerCost + trackCopyBytes(*layer);
        texts += layerTextBytes(*layer);
    }
    charge(L, engine);
    chargeText(L, texts);
    if (comp->layerSource()) chargeSourceCopy(L, comp->layerSource());
}

int duplicateComp(lua_State* L) {
    RenderContext* context = contextOf(L, {U, S});
    if (context) {
        RenderComp* named = context->comp(toString(L, 2));
        chargeCopy(L, named);
        return pushText(L, context->duplicateComp(toString(L, 2)));
    }
    context = contextOf(L, {U, U});
    RenderComp* comp = context ? sceneAt<RenderComp>(L, 2, RenderCompScript::className) : nullptr;
    if (!comp) return pushNil(L);
    chargeCopy(L, comp);
    return pushText(L, context->duplicateComp(*comp));
}

int addWatermark(lua_State* L) {
    RenderContext* context = contextAt(L);
    if (!context) return pushNil(L);
    charge(L, kLayerCost + kObjectCost);
    const bool single = lua_type(L, 2) == S;
    if (single)
        chargeText(L, keptTextBytes(lua_rawlen(L, 2)));
    else if (lua_type(L, 2) != T || !chargeSequence(L, 2))
        return pushNil(L);
    const std::vector<std::string> paths =
        single ? std::vector<std::string>{toString(L, 2)} : textArray(L, 2);
    Vec2 pairs[3] = {Vec2(0, 0), Vec2(0, 0), Vec2(1, 1)};
    for (int i = 0; i < 3; ++i) {
        const int x = 3 + 2 * i;
        if (lua_type(L, x) == N && lua_type(L, x + 1) == N)
            pairs[i] =
                Vec2(static_cast<float>(lua_tonumber(L, x)), static_cast<float>(lua_tonumber(L, x + 1)));
    }
    return pushText(L, context->addWatermark(paths, pairs[0], pairs[1], pairs[2]));
}

int removeWatermark(lua_State* L) {
    RenderContext* context = contextOf(L, {U, S});
    if (!context) return 0;
    const std::string key = toString(L, 2);
    // The engine deletes the first AV layer of the context's own list that
    // shows this key; a userdata of it must not reach the freed layer.
    if (!key.empty()) {
        for (RenderLayer* layer : context->layers()) {
            auto* av = (layer->layerType() & kAVLayer) ? dynamic_cast<RenderAVLayer*>(layer) : nullptr;
            if (av && av->sourceID() == key) {
                if (!context->layerInUse(av)) forgetScene(L, av);
                break;
            }
        }
    }
    context->removeWatermark(key);
    return 0;
}

struct Bytes {
    const char* data;
    size_t size;
};

int pushBytes(lua_State* L) {
    const auto* bytes = static_cast<const Bytes*>(lua_touserdata(L, 1));
    lua_pushlstring(L, bytes->data, bytes->size);
    return 1;
}

int loadDataFile(lua_State* L) {
    RenderContext* context = contextOf(L, {U, S});
    if (!context) return pushNil(L);
    // The text is made inside a protected call: a memory error there must
    // not jump over the file's buffer, which is freed first.
    if (!lua_checkstack(L, 3)) return luaL_error(L, "not enough memory");
    std::unique_ptr<FileCodec> codec(context->loadDataFile(toString(L, 2)));
    // A data file that does not exist reads as nil.
    if (!codec) return pushNil(L);
    Bytes bytes{codec->content.data(),
                static_cast<size_t>(std::min<uint64_t>(codec->size, codec->content.size()))};
    lua_pushcfunction(L, pushBytes);
    lua_pushlightuserdata(L, &bytes);
    const int status = lua_pcall(L, 1, 1, 0);
    codec.reset();
    return status == LUA_OK ? 1 : lua_error(L);
}

const luaL_Reg kMethods[] = {
    {"frameRate",
     [](lua_State* L) {
         RenderContext* context = contextOf(L, {U});
         return context ? (lua_pushinteger(L, static_cast<lua_Integer>(context->frameRate())), 1)
                        : pushNil(L);
     }},
    {"source",
     [](lua_State* L) {
         RenderContext* context = contextOf(L, {U, S});
         if (!context) return pushNil(L);
         AVSourceScript::createAVSource(L, context->source(toString(L, 2)));
         return 1;
     }},
    {"comp",
     [](lua_State* L) {
         RenderContext* context = contextOf(L, {U, S});
         if (!context) return pushNil(L);
         RenderCompScript::createRenderComp(L, context->comp(toString(L, 2)));
         return 1;
     }},
    {"entranceComp",
     [](lua_State* L) {
         RenderContext* context = contextOf(L, {U});
         return context ? pushComp(L, context->entranceComp()) : pushNil(L);
     }},
    {"exitComp",
     [](lua_State* L) {
         RenderContext* context = contextOf(L, {U});
         return context ? pushComp(L, context->exitComp()) : pushNil(L);
     }},
    {"dynamicSourceComp", byText<DynamicSourceComp, &RenderContext::dynamicSourceComp>},
    {"segmentThatUsesFile", byText<DynamicSegmentComp, &RenderContext::segmentThatUsesFile>},
    {"sourceCompThatUsesFile", byText<DynamicSourceComp, &RenderContext::sourceCompThatUsesFile>},
    {"segmentThatUsesFileAt",
     [](lua_State* L) {
         RenderContext* context = contextOf(L, {U, N});
         if (!context) return pushNil(L);
         const lua_Integer index = lua_tointeger(L, 2);
         // The engine takes an int; anything beyond is no file's index.
         if (index < INT32_MIN || index > INT32_MAX) return pushNil(L);
         return pushComp(L, context->segmentThatUsesFileAt(static_cast<int>(index)));
     }},
    {"getCompForUIKey",
     [](lua_State* L) {
         RenderContext* context = contextOf(L, {U, S});
         if (!context) return pushNil(L);
         std::vector<RenderComp*> comps;
         context->getCompForUIKey(toString(L, 2), comps);
         lua_createtable(L, static_cast<int>(comps.size()), 0);
         for (size_t i = 0; i < comps.size(); ++i) {
             RenderCompScript::createRenderComp(L, comps[i]);
             lua_rawseti(L, -2, static_cast<lua_Integer>(i + 1));
         }
         return 1;
     }},
    {"loadDataFile", loadDataFile},
    {"duplicateSource",
     [](lua_State* L) {
         RenderContext* context = contextOf(L, {U, S});
         if (!context) return pushNil(L);
         // The copy fills a texture of its own, as large as the original's,
         // and keeps copies of its texts. (No text of ours may be alive when
         // the charge raises.)
         const AVSource* original = context->source(toString(L, 2));
         chargeSourceCopy(L, original);
         return pushText(L, context->duplicateSource(toString(L, 2)));
     }},
    {"duplicateComp", duplicateComp},
    {"createAVFileSource", createAVFileSource},
    {"createSolidSource", createSolidSource},
    {"createImageSequenceSource", createImageSequenceSource},
    {"createCompSource", createCompSource},
    {"createPreComp", createPreComp},
    {"addWatermark", addWatermark},
    {"removeWatermark", removeWatermark},
    {nullptr, nullptr},
};

const ClassSpec kSpec = {kClass, RenderCompScript::className, kMethods, nullptr};

}  // namespace

int RenderContextScript::luaopenClass(lua_State* L) {
    return openClass(L, kSpec);
}

void RenderContextScript::registerFunctions(lua_State* L) {
    requireClass(L, "RenderContextScript", luaopenClass);
}

void RenderContextScript::createRenderContext(lua_State* L, RenderContext* context) {
    pushScene(L, context, kClass);
}

}  // namespace Core
}  // namespace Quorvane
