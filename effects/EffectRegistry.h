// Registration of the effect classes with RenderEffectManager under their
// match names. Each registration class has only the two functions the
// registry stores; the table of names is filled when the library is loaded.
#pragma once

#include <string>
#include <vector>

#include "render/RenderEffect.h"

namespace Quorvane {
namespace Core {

class ColorChannelAdjustment;
class GaussianBlurEffect;
// Colour, matte and neighbourhood effects.
class ContrastEffect;
class GammaEffect;
class HueAndSaturationEffect;
class LookUpImageEffect;
class LevelAdjustment;
class ChromaKeyEffect;
class RemoveColorMatteEffect;
class VignetteEffect;
class EdgeChokerEffect;
class BilateralBlurEffect;
class TintEffect;
class TritoneEffect;
// Geometry and face effects.
class CornerPinEffect;
class BezierWarpEffect;
class MotionTileEffect;
class FaceLandmarkDisplay;
class FaceReshapeEffect;

template <typename Effect>
class EffectRegistration {
public:
    // A new effect of the class for the layer.
    static void* creatObjFunc(RenderLayer* layer) { return static_cast<RenderEffect*>(new Effect(layer)); }
    // A copy of the effect (taken as the class unchecked), moved to the layer.
    static void* cloneObjFunc(RenderEffect* effect, RenderLayer* layer) {
        auto* copy = new Effect(*static_cast<Effect*>(effect));
        copy->setParent(layer);
        return static_cast<RenderEffect*>(copy);
    }
};

// One registration class per match name.
class GaussianBlurEffectHelper : public EffectRegistration<GaussianBlurEffect> {};
class FastBlurEffect : public EffectRegistration<GaussianBlurEffect> {};
class FastBoxBlurEffect : public EffectRegistration<GaussianBlurEffect> {};
class AEGaussianBlurEffect : public EffectRegistration<GaussianBlurEffect> {};
class AEGaussianBlurEffectOld : public EffectRegistration<GaussianBlurEffect> {};
class ColorChannelAdjustmentHelper : public EffectRegistration<ColorChannelAdjustment> {};
// Colour, matte and neighbourhood effects.
class ContrastEffectHelper : public EffectRegistration<ContrastEffect> {};
class GammaEffectHelper : public EffectRegistration<GammaEffect> {};
class HueAndSaturationEffectHelper : public EffectRegistration<HueAndSaturationEffect> {};
class LookUpImageEffectHelper : public EffectRegistration<LookUpImageEffect> {};
class LevelAdjustmentHelper : public EffectRegistration<LevelAdjustment> {};
class ChromaKeyEffectHelper : public EffectRegistration<ChromaKeyEffect> {};
class RemoveColorMatteEffectHelper : public EffectRegistration<RemoveColorMatteEffect> {};
class VignetteEffectHelper : public EffectRegistration<VignetteEffect> {};
class EdgeChokerEffectHelper : public EffectRegistration<EdgeChokerEffect> {};
class BilateralBlurEffectHelper : public EffectRegistration<BilateralBlurEffect> {};
class TintEffectHelper : public EffectRegistration<TintEffect> {};
class TritoneEffectHelper : public EffectRegistration<TritoneEffect> {};
// Geometry and face effects.
class NormalCornerPinEffect : public EffectRegistration<CornerPinEffect> {};
class PowerPinEffect : public EffectRegistration<CornerPinEffect> {};
class AECornerPinEffect : public EffectRegistration<CornerPinEffect> {};
class NormalBezierWarpEffect : public EffectRegistration<BezierWarpEffect> {};
class BezierWarpEffectHelper : public EffectRegistration<BezierWarpEffect> {};
class MotionTileEffectHelper : public EffectRegistration<MotionTileEffect> {};
class FaceLandmarkDisplayHelper : public EffectRegistration<FaceLandmarkDisplay> {};
class FaceReshapeEffectHelper : public EffectRegistration<FaceReshapeEffect> {};

struct EffectRegistryEntry {
    const char* name;
    RenderEffectManager::CreateFunction create;
    RenderEffectManager::CloneFunction clone;
};

// The match names registered at load, in registration order.
const std::vector<EffectRegistryEntry>& effectRegistryTable();

}  // namespace Core
}  // namespace Quorvane
