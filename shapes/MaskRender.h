// A layer's mask pass: per-frame mask shapes read from the layer's "mask"
// JSON, drawn into the pass's own destination through a stencil buffer.
//
// Until the vector-shape subsystem lands, the pass keeps the loaded shapes
// but has no drawable shape: it takes no stencil buffer and draws nothing, so
// its output is transparent and getStencilBuffer() stays null.
#pragma once

#include <cstddef>

#include <rapidjson/document.h>

#include "render/RenderPass.h"

namespace Quorvane {
namespace Core {

class DrawableShape;
class StencilBuffer;

class MaskRender : public RenderPass {
public:
    // flip: the vertical flip of the image-pattern brush (AV layers pass
    // true, adjustment layers false).
    MaskRender(RenderLayer* layer, bool flip);
    // A deep copy of every per-frame shape, still on the other mask's layer;
    // the caller moves it with setParent.
    MaskRender(MaskRender& other);
    MaskRender& operator=(const MaskRender&) = delete;
    ~MaskRender() override;

    // An array appends one mask shape per element (one per frame); any other
    // value is ignored.
    void loadFromJson(const rapidjson::Value& value) override;
    void setParent(RenderLayer* layer) override;
    void prepareForFrame(long long frame) override;
    void drawSelf(unsigned int texture) override;
    // Gives the stencil buffer back to the frame-buffer manager.
    void unprepare() override;
    void contentLoaded() override;

    // Null before the first prepared frame with a shape.
    StencilBuffer* getStencilBuffer() const { return mStencilBuffer; }
    // The shape that draws the mask; null while no shape subsystem exists.
    DrawableShape* getDrawableShape() const { return mShape; }

    bool flip() const { return mFlip; }
    // Number of per-frame mask shapes held.
    size_t maskCount() const { return mMasks.IsArray() ? mMasks.Size() : 0; }
    // The shape of a frame (the last one for frames past the end); null when
    // there is none.
    const rapidjson::Value* maskForFrame(long long frame) const;

private:
    bool mFlip;
    // One element per frame, each a list of paths in the shape library's form.
    rapidjson::Document mMasks;
    DrawableShape* mShape = nullptr;
    StencilBuffer* mStencilBuffer = nullptr;
    long long mFrame = 0;
};

}  // namespace Core
}  // namespace Quorvane
