// A layer's mask pass: one vector shape per frame, read from the layer's
// "mask" JSON, filled through a drawable shape with an image-pattern brush
// whose image is the layer texture. After a draw the pass's own destination
// holds the texture cut to the shape and its stencil buffer holds the
// shape's coverage (even-odd rule, plus the one-pixel fringe) as non-zero
// values.
#pragma once

#include <cstddef>
#include <vector>

#include <rapidjson/document.h>

#include "render/RenderPass.h"

namespace Quorvane {
namespace Core {

class Brush;
class DrawableShape;
class Shape;
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
    // Does not give the stencil buffer back (unprepare does); one still
    // held is freed.
    ~MaskRender() override;

    // Each element of an array becomes the shape of one frame; any other
    // value is ignored.
    void loadFromJson(const rapidjson::Value& value) override;
    void setParent(RenderLayer* layer) override;
    // Takes a stencil buffer of the pass size on the first frame with
    // shapes and makes the frame's shape (the last one past the end or for
    // a negative time) the drawable's content.
    void prepareForFrame(long long time) override;
    // Fills the frame's shape with the texture through the stencil.
    void drawSelf(unsigned int texture) override;
    // Gives the stencil buffer back; the own destination is kept.
    void unprepare() override;
    void contentLoaded() override;

    // Null before the first prepared frame with a shape.
    StencilBuffer* getStencilBuffer() const { return mStencilBuffer; }
    DrawableShape* getDrawableShape() const { return mDrawableShape; }

    bool flip() const;
    Brush* brush() const { return mBrush; }
    // Number of per-frame mask shapes held.
    size_t maskCount() const { return mShapes.size(); }
    const std::vector<Shape*>& shapes() const { return mShapes; }
    // The shape of a frame as prepareForFrame chooses it; null without shapes.
    Shape* shapeForFrame(long long time) const;

private:
    void build(RenderLayer* layer, bool flip);
    void releaseStencil();

    Brush* mBrush = nullptr;
    StencilBuffer* mStencilBuffer = nullptr;
    DrawableShape* mDrawableShape = nullptr;
    std::vector<Shape*> mShapes;
    // Layer size of the drawable's current default projection.
    int mProjectionWidth = 0;
    int mProjectionHeight = 0;
};

}  // namespace Core
}  // namespace Quorvane
