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

struct EffectRegistryEntry {
    const char* name;
    RenderEffectManager::CreateFunction create;
    RenderEffectManager::CloneFunction clone;
};

// The match names registered at load, in registration order.
const std::vector<EffectRegistryEntry>& effectRegistryTable();

}  // namespace Core
}  // namespace Quorvane
