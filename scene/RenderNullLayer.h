// A layer without content: it carries a transform that other layers follow
// through their "parent" link, and never draws, whatever effects it has.
#pragma once

#include "scene/RenderLayer.h"

namespace Quorvane {
namespace Core {

class RenderNullLayer : public RenderLayer {
public:
    explicit RenderNullLayer(RenderComp* comp);
    RenderNullLayer(const RenderNullLayer& other);
    RenderNullLayer& operator=(const RenderNullLayer&) = delete;
    ~RenderNullLayer() override;

    void drawSelf(unsigned int texture) override;
    void draw(unsigned int texture) override;
};

}  // namespace Core
}  // namespace Quorvane
