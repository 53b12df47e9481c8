#include "script/RenderLayerScript.h"

#include "core/Matrix.h"
#include "core/TimeUnit.h"
#include "core/Vector.h"
#include "render/CompositeRenderPass.h"
#include "scene/RenderLayer.h"
#include "script/Mat4Script.h"
#include "script/RenderAVLayerScript.h"
#include "script/RenderCameraLayerScript.h"
#include "script/RenderPassScript.h"
#include "script/ScriptBinding.h"
#include "script/TimeUnitScript.h"
#include "script/Vec3Script.h"

namespace Quorvane {
namespace Core {

namespace {

using namespace ScriptBinding;
constexpr const char* kClass = RenderLayerScript::className;
constexpr int U = LUA_TUSERDATA, N = LUA_TNUMBER, S = LUA_TSTRING, B = LUA_TBOOLEAN;

RenderLayer* layerOf(lua_State* L, std::initializer_list<int> types) {
    return sceneObject<RenderLayer>(L, kClass, types);
}

const Vec3* vec3At(lua_State* L, int index) {
    return valueAt<Vec3>(L, index, Vec3Script::className);
}

int pushMat4(lua_State* L, const Mat4& m) {
    Mat4Script::newMat4(L, m);
    return 1;
}
int pushVec3(lua_State* L, const Vec3& v) {
    Vec3Script::newVec3(L, v);
    return 1;
}
int pushTime(lua_State* L, const TimeUnit& t) {
    TimeUnitScript::newTimeUnit(L, t);
    return 1;
}
int pushText(lua_State* L, const std::string& text) {
    lua_pushlstring(L, text.data(), text.size());
    return 1;
}

// Getters of the object alone.
template <std::string (RenderLayer::*Get)() const>
int text(lua_State* L) {
    RenderLayer* layer = layerOf(L, {U});
    return layer ? pushText(L, (layer->*Get)()) : pushNil(L);
}

template <TimeUnit (RenderLayer::*Get)() const>
int time(lua_State* L) {
    RenderLayer* layer = layerOf(L, {U});
    return layer ? pushTime(L, (layer->*Get)()) : pushNil(L);
}

// Any time a script may hold is assigned as given: one at 0 fps converts to
// 0 frames, and a layer whose duration is negative never shows.
template <void (RenderLayer::*Set)(const TimeUnit&)>
int setTime(lua_State* L, const char* what) {
    RenderLayer* layer = layerOf(L, {U, U});
    const TimeUnit* t = valueAt<TimeUnit>(L, 2, TimeUnitScript::className);
    if (layer && t && timeAccepted(L, *t, what)) (layer->*Set)(*t);
    return 0;
}

// Both times it moves must stay within the limits.
int offsetLayerTime(lua_State* L) {
    constexpr const char* what = "RenderLayer:offsetLayerTime";
    RenderLayer* layer = layerOf(L, {U, U});
    const TimeUnit* delta = valueAt<TimeUnit>(L, 2, TimeUnitScript::className);
    if (!layer || !delta || !timeAccepted(L, *delta, what)) return 0;
    TimeUnit start = layer->layerStartTime(), in = layer->layerInPoint();
    start += *delta;
    in += *delta;
    if (timeAccepted(L, start, what) && timeAccepted(L, in, what))
        layer->offsetLayerTime(*delta);
    return 0;
}

// Matrix getters: a world one reads the layers its world matrix walks.
template <Mat4 (RenderLayer::*Get)(), bool World>
int currentMatrix(lua_State* L) {
    RenderLayer* layer = layerOf(L, {U});
    if (!layer) return pushNil(L);
    chargeMatrixRead(L, *layer, layer->currentMatrixFrame(), World);
    return pushMat4(L, (layer->*Get)());
}

template <const Mat4& (RenderLayer::*Get)() const>
int localMatrix(lua_State* L) {
    RenderLayer* layer = layerOf(L, {U});
    return layer ? pushMat4(L, (layer->*Get)()) : pushNil(L);
}

// Getters at a frame.
template <Vec3 (RenderLayer::*Get)(long long)>
int vecAt(lua_State* L) {
    RenderLayer* layer = layerOf(L, {U, N});
    return layer ? pushVec3(L, (layer->*Get)(lua_tointeger(L, 2))) : pushNil(L);
}

template <Mat4 (RenderLayer::*Get)(long long, bool), bool World>
int matrixAt(lua_State* L) {
    RenderLayer* layer = layerOf(L, {U, N});
    if (!layer) return pushNil(L);
    const lua_Integer frame = lua_tointeger(L, 2);
    chargeMatrixRead(L, *layer, frame, World);
    return pushMat4(L, (layer->*Get)(frame, false));
}

template <long long (RenderLayer::*Convert)(long long)>
int frameOf(lua_State* L) {
    RenderLayer* layer = layerOf(L, {U, N});
    const lua_Integer frame = lua_tointeger(L, 2);
    if (!layer) return pushNil(L);
    if (!frameInRange(frame)) {
        logLine(L, "RenderLayer: frame %lld is past %lld frames either side of 0, refused",
                static_cast<long long>(frame), static_cast<long long>(kMaxFrames));
        return pushNil(L);
    }
    lua_pushinteger(L, (layer->*Convert)(frame));
    return 1;
}

// Whether a keyframe may be written at the frame; the records the write adds
// to the track (a copy of a shared one included) are charged first.
bool keyframeAffordable(lua_State* L, RenderLayer* layer, lua_Integer frame) {
    if (!keyframeAllowed(frame)) {
        logLine(L, "layer %s: a keyframe at frame %lld is past frame %lld, refused", layer->layerID().c_str(),
                static_cast<long long>(frame), static_cast<long long>(kMaxFrames));
        return false;
    }
    // A negative frame changes nothing, so it copies nothing either.
    if (frame < 0) return true;
    chargeOwnTrack(L, *layer);
    const auto records = static_cast<lua_Integer>(layer->transformManager()->listedFrames());
    if (frame >= records) charge(L, static_cast<size_t>(frame + 1 - records) * kKeyframeCost);
    return true;
}

// Keyframe writers: (Vec3, frame).
template <void (RenderLayer::*Set)(const Vec3&, long long)>
int setVecAt(lua_State* L) {
    RenderLayer* layer = layerOf(L, {U, U, N});
    const Vec3* v = vec3At(L, 2);
    const lua_Integer frame = lua_tointeger(L, 3);
    if (layer && v && keyframeAffordable(L, layer, frame)) (layer->*Set)(*v, frame);
    return 0;
}

template <Vec3 (RenderLayer::*Convert)(const Vec3&, CoordinateSystemMode, long long)>
int convertPoint(lua_State* L) {
    RenderLayer* layer = layerOf(L, {U, U, N, N});
    const Vec3* point = vec3At(L, 2);
    const lua_Integer mode = lua_tointeger(L, 3);
    if (!layer || !point || (mode != kAfterEffectsSpaceMode && mode != kOpenGLSpaceMode)) return pushNil(L);
    const lua_Integer frame = lua_tointeger(L, 4);
    chargeMatrixRead(L, *layer, frame, true);
    return pushVec3(L, (layer->*Convert)(*point, static_cast<CoordinateSystemMode>(mode), frame));
}

const luaL_Reg kMethods[] = {
    {"uiKey", text<&RenderLayer::uiKey>},
    {"extraData", text<&RenderLayer::extraData>},
    {"layerID", text<&RenderLayer::layerID>},
    {"linkedLayerID", text<&RenderLayer::linkedLayerID>},
    {"setUIKey",
     [](lua_State* L) {
         if (RenderLayer* layer = layerOf(L, {U, S})) {
             const size_t kept = layer->uiKey().size();
             layer->setUIKey(storedText(L, 2, kept));
         }
         return 0;
     }},
    {"setLinkedLayerID",
     [](lua_State* L) {
         if (RenderLayer* layer = layerOf(L, {U, S})) {
             const size_t kept = layer->linkedLayerID().size();
             layer->setLinkedLayerID(storedText(L, 2, kept));
         }
         return 0;
     }},
    {"linkedLayer",
     [](lua_State* L) {
         RenderLayer* layer = layerOf(L, {U});
         if (!layer) return pushNil(L);
         RenderLayerScript::createRenderLayer(L, layer->linkedLayer());
         return 1;
     }},
    {"is3D",
     [](lua_State* L) {
         RenderLayer* layer = layerOf(L, {U});
         return layer ? (lua_pushboolean(L, layer->is3D()), 1) : pushNil(L);
     }},
    {"enabled",
     [](lua_State* L) {
         RenderLayer* layer = layerOf(L, {U});
         return layer ? (lua_pushboolean(L, layer->enabled()), 1) : pushNil(L);
     }},
    {"setEnabled",
     [](lua_State* L) {
         if (RenderLayer* layer = layerOf(L, {U, B})) layer->setEnabled(lua_toboolean(L, 2) != 0);
         return 0;
     }},
    {"layerType",
     [](lua_State* L) {
         RenderLayer* layer = layerOf(L, {U});
         return layer ? (lua_pushinteger(L, layer->layerType()), 1) : pushNil(L);
     }},
    {"resampleMode",
     [](lua_State* L) {
         RenderLayer* layer = layerOf(L, {U});
         return layer ? (lua_pushinteger(L, layer->resampleMode()), 1) : pushNil(L);
     }},
    {"setResampleMode",
     [](lua_State* L) {
         RenderLayer* layer = layerOf(L, {U, N});
         const lua_Integer mode = lua_tointeger(L, 2);
         // Only the modes the compositor has programs for.
         if (layer && mode >= 0 && mode < kLayerResampleModeCount)
             layer->setResampleMode(static_cast<LayerResampleMode>(mode));
         return 0;
     }},
    {"currentLocalTime",
     [](lua_State* L) {
         RenderLayer* layer = layerOf(L, {U});
         return layer ? (lua_pushinteger(L, layer->currentLocalTime()), 1) : pushNil(L);
     }},
    {"layerStartTime", time<&RenderLayer::layerStartTime>},
    {"layerInPoint", time<&RenderLayer::layerInPoint>},
    {"layerOutPoint", time<&RenderLayer::layerOutPoint>},
    {"layerDuration", time<&RenderLayer::layerDuration>},
    {"setLayerStartTime",
     [](lua_State* L) {
         return setTime<&RenderLayer::setLayerStartTime>(L, "RenderLayer:setLayerStartTime");
     }},
    {"setLayerInPoint",
     [](lua_State* L) { return setTime<&RenderLayer::setLayerInPoint>(L, "RenderLayer:setLayerInPoint"); }},
    {"setLayerDuration",
     [](lua_State* L) {
         return setTime<&RenderLayer::setLayerDuration>(L, "RenderLayer:setLayerDuration");
     }},
    {"offsetLayerTime", offsetLayerTime},
    {"localTimeToParentTime", frameOf<&RenderLayer::localTimeToParentTime>},
    {"parentTimeToLocalTime", frameOf<&RenderLayer::parentTimeToLocalTime>},
    {"getLayerLocalTransform", localMatrix<&RenderLayer::getLayerLocalTransform>},
    {"getLayerLocalAETransform", localMatrix<&RenderLayer::getLayerLocalAETransform>},
    {"setLayerLocalAETransform",
     [](lua_State* L) {
         RenderLayer* layer = layerOf(L, {U, U});
         const Mat4* m = valueAt<Mat4>(L, 2, Mat4Script::className);
         if (layer && m) layer->setLayerLocalAETransform(*m);
         return 0;
     }},
    {"getAnchor", vecAt<&RenderLayer::getAnchor>},
    {"getPosition", vecAt<&RenderLayer::getPosition>},
    {"getScale", vecAt<&RenderLayer::getScale>},
    {"getRotation", vecAt<&RenderLayer::getRotation>},
    {"getAlpha",
     [](lua_State* L) {
         RenderLayer* layer = layerOf(L, {U, N});
         return layer ? (lua_pushnumber(L, layer->getAlpha(lua_tointeger(L, 2))), 1) : pushNil(L);
     }},
    {"getTransform", matrixAt<&RenderLayer::getTransform, false>},
    {"getWorldTransform", matrixAt<&RenderLayer::getWorldTransform, true>},
    {"getAETransform", matrixAt<&RenderLayer::getAETransform, false>},
    {"getWorldAETransform", matrixAt<&RenderLayer::getWorldAETransform, true>},
    {"getCurrentAlpha",
     [](lua_State* L) {
         RenderLayer* layer = layerOf(L, {U});
         return layer ? (lua_pushnumber(L, layer->getCurrentAlpha()), 1) : pushNil(L);
     }},
    {"getCurrentTransform", currentMatrix<&RenderLayer::getCurrentTransform, false>},
    {"getCurrentWorldTransform", currentMatrix<&RenderLayer::getCurrentWorldTransform, true>},
    {"getCurrentAETransform", currentMatrix<&RenderLayer::getCurrentAETransform, false>},
    {"getCurrentWorldAETransform", currentMatrix<&RenderLayer::getCurrentWorldAETransform, true>},
    {"setAnchorAtTime", setVecAt<&RenderLayer::setAnchorAtTime>},
    {"setPositionAtTime", setVecAt<&RenderLayer::setPositionAtTime>},
    {"setScaleAtTime", setVecAt<&RenderLayer::setScaleAtTime>},
    {"setRotationAtTime", setVecAt<&RenderLayer::setRotationAtTime>},
    {"setAlphaAtTime",
     [](lua_State* L) {
         RenderLayer* layer = layerOf(L, {U, N, N});
         const lua_Integer frame = lua_tointeger(L, 3);
         if (layer && keyframeAffordable(L, layer, frame))
             layer->setAlphaAtTime(static_cast<float>(lua_tonumber(L, 2)), frame);
         return 0;
     }},
    {"setTransformAtTime",
     [](lua_State* L) {
         RenderLayer* layer = layerOf(L, {U, U, U, U, U, N});
         const Vec3 *anchor = vec3At(L, 2), *position = vec3At(L, 3), *rotation = vec3At(L, 4),
                    *scale = vec3At(L, 5);
         const lua_Integer frame = lua_tointeger(L, 6);
         if (layer && anchor && position && rotation && scale && keyframeAffordable(L, layer, frame))
             layer->setTransformAtTime(*anchor, *position, *rotation, *scale, frame);
         return 0;
     }},
    {"localPointToCompPoint", convertPoint<&RenderLayer::localPointToCompPoint>},
    {"compPointToLocalPoint", convertPoint<&RenderLayer::compPointToLocalPoint>},
    {"visibleAt",
     [](lua_State* L) {
         RenderLayer* layer = layerOf(L, {U, N});
         return layer ? (lua_pushboolean(L, layer->visibleAt(lua_tointeger(L, 2))), 1) : pushNil(L);
     }},
    {"visibleAtCurrentTime",
     [](lua_State* L) {
         RenderLayer* layer = layerOf(L, {U});
         return layer ? (lua_pushboolean(L, layer->visibleAtCurrentTime()), 1) : pushNil(L);
     }},
    {"numEffects",
     [](lua_State* L) {
         RenderLayer* layer = layerOf(L, {U});
         lua_pushinteger(L, layer ? layer->numEffects() : 0);
         return 1;
     }},
    {"removeEffectByIndex",
     [](lua_State* L) {
         RenderLayer* layer = layerOf(L, {U, N});
         const lua_Integer index = lua_tointeger(L, 2);
         const bool inRange = layer && index >= 0 && index < static_cast<lua_Integer>(layer->numEffects());
         if (inRange) layer->removeEffect(layer->getEffectByIndex(static_cast<unsigned int>(index)), true);
         lua_pushboolean(L, inRange);
         return 1;
     }},
    {nullptr, nullptr},
};

const ClassSpec kSpec = {kClass, RenderPassScript::className, kMethods, nullptr};

}  // namespace

int RenderLayerScript::luaopenClass(lua_State* L) {
    return openClass(L, kSpec);
}

void RenderLayerScript::registerFunctions(lua_State* L) {
    setEnumGlobal(L, "CoordinateSystemMode", {{"kAfterEffectsSpaceMode", 0}, {"kOpenGLSpaceMode", 1}});
    setEnumGlobal(L, "LayerResampleMode",
                  {{"kDefaultResampleMode", 0},
                   {"kBiCubicLinearResampleMode", 1},
                   {"kBiCubicTriangluarResampleMode", 2},
                   {"kBiCubicBellShapedResampleMode", 3}});
    setEnumGlobal(L, "LayerTypes",
                  {{"kAVLayer", kAVLayer},
                   {"kLightLayer", kLightLayer},
                   {"kCameraLayer", kCameraLayer},
                   {"kTextLayer", kTextLayer},
                   {"kShapeLayer", kShapeLayer},
                   {"kPlaceholderStillLayer", kPlaceholderStillLayer},
                   {"kSolidLayer", kSolidLayer},
                   {"kStillLayer", kStillLayer},
                   {"kGuideLayer", kGuideLayer},
                   {"kAdjustmentLayer", kAdjustmentLayer},
                   {"kNullLayer", kNullLayer},
                   {"kAudioLayer", kAudioLayer},
                   {"kPreCompLayer", kPreCompLayer},
                   {"kPlaceholderVideoLayer", kPlaceholderVideoLayer},
                   {"kImageSequenceLayer", kImageSequenceLayer},
                   {"kVideoLayer", kVideoLayer},
                   {"kThreeDLayer", kThreeDLayer},
                   {"kCollapseLayer", kCollapseLayer}});
    requireClass(L, "RenderLayer", luaopenClass);
}

void RenderLayerScript::createRenderLayer(lua_State* L, RenderLayer* layer) {
    if (!layer) {
        lua_pushnil(L);
        return;
    }
    const long long type = layer->layerType();
    const char* className = (type & kAVLayer)       ? RenderAVLayerScript::className
                            : (type & kCameraLayer) ? RenderCameraLayerScript::className
                                                    : kClass;
    pushScene(L, layer, className);
}

}  // namespace Core
}  // namespace Quorvane
