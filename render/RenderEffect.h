// Base of the layer effects and the registry that creates and copies them by
// match name.
#pragma once

#include <map>
#include <string>

#include "core/Vector.h"
#include "render/RenderPass.h"

namespace Quorvane {
namespace Core {

// Where a layer collects an effect's enlargement.
struct LayerSizeExtendData {
    Vec2 size;         // the layer's current render size; an enlarging effect writes the new one
    Vec2 offset;       // where the layer's own origin lies inside the enlarged area
    Vec2 baseSize;     // the layer's size before effects
    Vec2 offsetDelta;  // new offset minus the offset found, written by the latest enlarging effect
};

// An effect always draws into its own destination of its layer's size.
class RenderEffect : public RenderPass {
public:
    explicit RenderEffect(RenderLayer* layer);
    RenderEffect(const RenderEffect& other);

    // The name under which the effect class was registered.
    virtual std::string matchName() const = 0;
    // Called before each draw. The base drops its destination when that no
    // longer has the pass size and never enlarges the layer (false). Effects
    // that enlarge their layer override it and call this one.
    virtual bool willExtendLayerSize(LayerSizeExtendData* data);
};

class RenderEffectManager {
public:
    // The functions hand the new effect back as a RenderEffect* turned into
    // void* (for single-inheritance effect classes the derived pointer is the same).
    using CreateFunction = void* (*)(RenderLayer*);
    using CloneFunction = void* (*)(RenderEffect*, RenderLayer*);

    // A later registration of the same name replaces both functions.
    static void registerEffect(const std::string& name, CreateFunction create, CloneFunction clone);
    // Null for an unregistered name (or a null function).
    static RenderEffect* createEffect(const std::string& name, RenderLayer* layer);
    // Null when the effect's match name has no clone function (or effect is null).
    static RenderEffect* cloneEffect(RenderEffect* effect, RenderLayer* layer);

    static std::map<std::string, CreateFunction>& constructors();
    static std::map<std::string, CloneFunction>& copyConstructors();

    RenderEffectManager() = delete;
};

}  // namespace Core
}  // namespace Quorvane
