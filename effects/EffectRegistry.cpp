#include "effects/EffectRegistry.h"

#include "effects/ColorChannelAdjustment.h"
#include "effects/GaussianBlurEffect.h"

namespace Quorvane {
namespace Core {

namespace {

template <typename Helper>
constexpr EffectRegistryEntry entry(const char* name) {
    return {name, &Helper::creatObjFunc, &Helper::cloneObjFunc};
}

// The names a template's "effects" list may use. "ZR_" names are the
// engine's own; the others are those of the compositing application in which
// templates are authored. Classes that are not part of the engine yet are
// absent: an unknown name leaves the layer without that effect.
const std::vector<EffectRegistryEntry>& table() {
    static const std::vector<EffectRegistryEntry> entries = {
        entry<GaussianBlurEffectHelper>("ZR_Gaussian_Blur"),
        entry<FastBlurEffect>("ADBE Fast Blur"),
        entry<FastBoxBlurEffect>("ADBE Box Blur2"),
        entry<AEGaussianBlurEffect>("ADBE Gaussian Blur 2"),
        entry<AEGaussianBlurEffectOld>("ADBE Gaussian Blur"),
        entry<ColorChannelAdjustmentHelper>("ZR_Color_Channel_Adjustment"),
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
