#include "scene/RenderAdjustmentLayer.h"

#include "scene/RenderComp.h"

namespace Quorvane {
namespace Core {

RenderAdjustmentLayer::RenderAdjustmentLayer(RenderComp* comp) : RenderAVLayer(comp) {
    setLayerType(kAdjustmentLayer, true);
    compositePass()->setUseScreenTexture(true);
}

RenderAdjustmentLayer::RenderAdjustmentLayer(const RenderAdjustmentLayer& other) : RenderAVLayer(other) {
    setLayerType(kAdjustmentLayer, true);
    compositePass()->setUseScreenTexture(true);
}

RenderAdjustmentLayer::~RenderAdjustmentLayer() = default;

void RenderAdjustmentLayer::drawSelf(unsigned int texture) {
    RenderAVLayer::drawSelf(texture);
}

void RenderAdjustmentLayer::contentLoaded() {
    // A source attached earlier is let go through setAVSource, which also
    // unregisters the layer from it; forgetting the pointer alone would leave
    // the layer among that source's users after it is deleted.
    if (RenderLayer* comp = parentCompLayer()) {
        setWidth(comp->width());
        setHeight(comp->height());
    }
    RenderAVLayer::contentLoaded();
}

void RenderAdjustmentLayer::setParentComp(RenderLayer* comp) {
    RenderAVLayer::setParentComp(comp);
    if (comp) {
        setWidth(comp->width());
        setHeight(comp->height());
    }
}

}  // namespace Core
}  // namespace Quorvane
