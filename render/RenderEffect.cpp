#include "render/RenderEffect.h"

#include "render/GLRenderDestination.h"

namespace Quorvane {
namespace Core {

RenderEffect::RenderEffect(RenderLayer* layer) : RenderPass(layer, true, 0, 0) {}

RenderEffect::RenderEffect(const RenderEffect& other) : RenderPass(other) {}

bool RenderEffect::willExtendLayerSize(LayerSizeExtendData*) {
    if (mDestination && (mDestination->width() != width() || mDestination->height() != height())) {
        dropDestination();
    }
    return false;
}

std::map<std::string, RenderEffectManager::CreateFunction>& RenderEffectManager::constructors() {
    // Built on first use: effect libraries register from their static
    // initialisers, whose order against this file's is unspecified.
    static auto* registry = new std::map<std::string, CreateFunction>();
    return *registry;
}

std::map<std::string, RenderEffectManager::CloneFunction>& RenderEffectManager::copyConstructors() {
    static auto* registry = new std::map<std::string, CloneFunction>();
    return *registry;
}

void RenderEffectManager::registerEffect(const std::string& name, CreateFunction create,
                                         CloneFunction clone) {
    constructors()[name] = create;
    copyConstructors()[name] = clone;
}

RenderEffect* RenderEffectManager::createEffect(const std::string& name, RenderLayer* layer) {
    auto it = constructors().find(name);
    if (it == constructors().end() || !it->second) return nullptr;
    return static_cast<RenderEffect*>(it->second(layer));
}

RenderEffect* RenderEffectManager::cloneEffect(RenderEffect* effect, RenderLayer* layer) {
    if (!effect) return nullptr;
    auto it = copyConstructors().find(effect->matchName());
    if (it == copyConstructors().end() || !it->second) return nullptr;
    return static_cast<RenderEffect*>(it->second(effect, layer));
}

}  // namespace Core
}  // namespace Quorvane
