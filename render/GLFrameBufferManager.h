// The stack of render destinations (the top one is bound), the pool of
// stencil buffers reused by size and the programs shared by the passes; one
// per render context.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "render/GLBase.h"
#include "render/GLRenderDestination.h"
#include "render/GLShader.h"

namespace Quorvane {
namespace Core {

class GLFrameBufferManager : public GLBase {
public:
    GLFrameBufferManager() = default;
    // Deletes the destinations still on the stack and the pooled stencil buffers.
    ~GLFrameBufferManager() override;
    GLFrameBufferManager(const GLFrameBufferManager&) = delete;
    GLFrameBufferManager& operator=(const GLFrameBufferManager&) = delete;

    // A new destination with its own texture and framebuffer, bound and pushed;
    // it belongs to whoever pops it with deletion asked.
    GLRenderDestination* pushDestination(int width, int height);
    // Binds and pushes a destination that stays its owner's; null is ignored.
    void pushDestination(GLRenderDestination* destination);
    // Removes the top (deleting it when asked) and binds the new top, or
    // framebuffer 0 when none is left. Null when the stack was empty.
    GLRenderDestination* popDestination(bool deleteIt);
    GLRenderDestination* topDestination() const { return mStack.empty() ? nullptr : mStack.back(); }
    size_t destinationCount() const { return mStack.size(); }

    // A pooled buffer of exactly this size, or a new one; the borrower owns
    // it until it hands it back.
    StencilBuffer* getStencilBuffer(int width, int height);
    void releaseStencilBuffer(StencilBuffer* buffer);
    size_t pooledStencilCount() const { return mStencilPool.size(); }

    // Copies a box of an RGBA texture into the same box of the bound
    // destination, pixel for pixel, without a draw.
    void copyTextureBox(uint32_t texture, const PixelBox& box);

    // Whether passes can read the pixel under a fragment straight from the
    // bound target (GL_EXT_shader_framebuffer_fetch, asked of the context
    // once). Layers then composite in place: no second image to keep up to
    // date, and no wait for the rasteriser between one layer and the next,
    // which a texture written and then read costs.
    bool framebufferFetch();
    // Composites the ping-pong way from now on, as on a context without it.
    void disableFramebufferFetch() { mFetch = 0; }
    // A texture holding a copy of the bound destination's image, for a pass
    // that has to read the target as it was before it draws. Valid until the
    // next call.
    uint32_t copyOfBound();

    GLProgramCache& programCache() { return mPrograms; }
    // A sampler object that reads the nearest texel: a texture sampled at the
    // centres of its own texels reads the same through it as through linear
    // filtering, for less work.
    uint32_t texelSampler();

private:
    std::vector<GLRenderDestination*> mStack;
    std::vector<StencilBuffer*> mStencilPool;
    GLProgramCache mPrograms;
    uint32_t mCopyFramebuffer = 0;  // reads the texture of copyTextureBox
    uint32_t mTexelSampler = 0;
    int mFetch = -1;  // not asked yet
    GLRenderDestination* mCopy = nullptr;  // of copyOfBound
};

}  // namespace Core
}  // namespace Quorvane
