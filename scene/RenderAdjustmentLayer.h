// An AV layer without media of its own whose effects work on the image
// composited below it, at its composition's size.
#pragma once

#include "scene/RenderAVLayer.h"

namespace Quorvane {
namespace Core {

class RenderAdjustmentLayer : public RenderAVLayer {
public:
    explicit RenderAdjustmentLayer(RenderComp* comp);
    RenderAdjustmentLayer(const RenderAdjustmentLayer& other);
    RenderAdjustmentLayer& operator=(const RenderAdjustmentLayer&) = delete;
    ~RenderAdjustmentLayer() override;

    void drawSelf(unsigned int texture) override;
    // Takes the composition's size, then attaches the source named by the
    // source id (usually none).
    void contentLoaded() override;
    void setParentComp(RenderLayer* comp) override;
};

}  // namespace Core
}  // namespace Quorvane
