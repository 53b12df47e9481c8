#include "scene/RenderNullLayer.h"

#include "scene/RenderComp.h"

namespace Quorvane {
namespace Core {

RenderNullLayer::RenderNullLayer(RenderComp* comp) : RenderLayer(comp, kNullLayer, false) {
    setLayerType(kNullLayer, true);
}

RenderNullLayer::RenderNullLayer(const RenderNullLayer& other) : RenderLayer(other) {
    setLayerType(kNullLayer, true);
}

RenderNullLayer::~RenderNullLayer() = default;

void RenderNullLayer::drawSelf(unsigned int) {}

void RenderNullLayer::draw(unsigned int) {}

}  // namespace Core
}  // namespace Quorvane
