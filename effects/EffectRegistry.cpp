#include "effects/EffectRegistry.h"

#include "effects/ColorChannelAdjustment.h"
#include "effects/GaussianBlurEffect.h"
// Colour, matte and neighbourhood effects.
#include "effects/BilateralBlurEffect.h"
#include "effects/ChromaKeyEffect.h"
#include "effects/ContrastEffect.h"
#include "effects/EdgeChokerEffect.h"
#include "effects/GammaEffect.h"
#include "effects/HueAndSaturationEffect.h"
#include "effects/LevelAdjustment.h"
#include "effects/LookUpImageEffect.h"
#include "effects/RemoveColorMatteEffect.h"
#include "effects/TintEffect.h"
#include "effects/TritoneEffect.h"
#include "effects/VignetteEffect.h"
// Geometry and face effects.
#include "effects/BezierWarpEffect.h"
#include "effects/CornerPinEffect.h"
#include "effects/FaceLandmarkDisplay.h"
#include "effects/FaceReshapeEffect.h"
#include "effects/MotionTileEffect.h"

namespace Quorvane {
namespace Core {

namespace {

template <typename Helper>
constexpr EffectRegistryEntry entry(const char* name) {
    return {name, &Helper::creatObjFunc, &Helper::cloneObjFunc};
}

// The names a template's "effects" list may use. "ZR_" names are the
// engine's own; the others are those of the compositing application in which
// templates are authored. An unknown name leaves the layer without that
// effect.
const std::vector<EffectRegistryEntry>& table() {
    static const std::vector<EffectRegistryEntry> entries = {
        entry<GaussianBlurEffectHelper>("ZR_Gaussian_Blur"),
        entry<FastBlurEffect>("ADBE Fast Blur"),
        entry<FastBoxBlurEffect>("ADBE Box Blur2"),
        entry<AEGaussianBlurEffect>("ADBE Gaussian Blur 2"),
        entry<AEGaussianBlurEffectOld>("ADBE Gaussian Blur"),
        entry<ColorChannelAdjustmentHelper>("ZR_Color_Channel_Adjustment"),
        // Colour, matte and neighbourhood effects.
        entry<ContrastEffectHelper>("ZR_Contrast"),
        entry<GammaEffectHelper>("ZR_Gamma"),
        entry<HueAndSaturationEffectHelper>("ZR_Hue_And_Saturation"),
        entry<LookUpImageEffectHelper>("ZR_Look_Up_Image"),
        entry<LevelAdjustmentHelper>("ZR_Level_Adjustment"),
        entry<ChromaKeyEffectHelper>("ZR_Chroma_Key"),
        entry<RemoveColorMatteEffectHelper>("ADBE Remove Color Matting"),
        entry<VignetteEffectHelper>("ZR_Vignette"),
        entry<EdgeChokerEffectHelper>("ZR_EdgeChokerEffect"),
        entry<BilateralBlurEffectHelper>("ZR_Bilateral_Blur"),
        entry<TintEffectHelper>("ADBE Tint"),
        entry<TritoneEffectHelper>("ADBE Tritone"),
        // Geometry and face effects.
        entry<NormalCornerPinEffect>("ADBE Corner Pin"),
        entry<PowerPinEffect>("CC Power Pin"),
        entry<AECornerPinEffect>("ZR_Corner_Pin"),
        entry<NormalBezierWarpEffect>("ADBE BEZMESH"),
        entry<BezierWarpEffectHelper>("ZR_Bezier_Warp"),
        entry<FaceLandmarkDisplayHelper>("ZR_Face_Landmark_Display"),
        entry<FaceReshapeEffectHelper>("ZR_Face_ReShape"),
        entry<MotionTileEffectHelper>("ADBE Tile"),
    };
    return entries;
}

// Runs when the library is loaded, before any entry function.
const bool kRegistered = [] {
    for (const EffectRegistryEntry& e : table())
        RenderEffectManager::registerEffect(e.name, e.create, e.clone);
    return true;
}();

}  // namespace

const std::vector<EffectRegistryEntry>& effectRegistryTable() {
    return table();
}

}  // namespace Core
}  // namespace Quorvane
