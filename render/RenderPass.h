// Base of everything that draws: a size in pixels that may be inherited from
// the parent layer, an optional own render destination into which draw()
// renders, and the virtual drawSelf that subclasses implement.
#pragma once

#include <cstdint>

#include <rapidjson/document.h>

#include "render/GLBase.h"

namespace Quorvane {
namespace Core {

class GLFrameBufferManager;
class GLRenderDestination;
// scene/RenderLayer.h. A RenderLayer is a RenderPass (its only base), and its
// parent is the composition holding it, itself a layer.
class RenderLayer;

class RenderPass : public GLBase {
public:
    // width or height 0 inherits from the parent chain.
    RenderPass(RenderLayer* parent, bool useNewDestination, int width, int height);
    // Copies size, parent and the destination flag; the copy makes its own
    // destination when it first draws.
    RenderPass(const RenderPass& other);
    RenderPass& operator=(const RenderPass&) = delete;

    virtual void drawSelf(unsigned int texture);
    ~RenderPass() override;
    virtual void setParent(RenderLayer* parent);
    virtual void contentLoaded();
    // Drops the own destination; the next draw makes a new one of the then
    // current size.
    virtual void unprepare();
    virtual void prepareForFrame(long long frame);
    virtual void loadFromJson(const rapidjson::Value& value);
    // Without own destination the texture of the draw in progress (0 outside
    // draw); with it, 0 before the first draw, else the destination's texture,
    // detached from its framebuffer so that the next pass can sample it.
    virtual unsigned int getOutputTexture();
    virtual unsigned int getSourceTexture();
    // Stores the texture, brackets drawSelf with the own destination (pushed on
    // the frame-buffer manager and cleared to transparent black) when the pass
    // uses one, and sets the source texture back to 0.
    virtual void draw(unsigned int texture);
    virtual bool hasAnimation();
    // The manager of the render context this pass draws under. The base asks
    // its parent layer; RenderLayer overrides it with the walk to its render
    // context, which answers with its own manager. Null when the chain ends
    // without one.
    virtual GLFrameBufferManager* frameBufferManager();

    RenderLayer* parent() const { return mParent; }
    void setUseNewDestination(bool use) { mUseNewDestination = use; }
    bool useNewDestination() const { return mUseNewDestination; }
    GLRenderDestination* getDestination() const { return mDestination; }
    void setWidth(int width) { mWidth = width; }
    void setHeight(int height) { mHeight = height; }
    // The own value when non-zero, else the first non-zero stored value up the
    // parent chain, else 0.
    int width() const;
    int height() const;

protected:
    // The pass part of a layer (null for null).
    static RenderPass* passOf(RenderLayer* layer);
    // Deletes the own destination and forgets it.
    void dropDestination();

    int32_t mWidth;
    int32_t mHeight;
    RenderLayer* mParent;
    bool mUseNewDestination;
    uint32_t mSourceTexture = 0;
    GLRenderDestination* mDestination = nullptr;
};

}  // namespace Core
}  // namespace Quorvane
