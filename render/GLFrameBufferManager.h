// The stack of render destinations (the top one is bound) and the pool of
// stencil buffers reused by size; one per render context.
#pragma once

#include <cstddef>
#include <vector>

#include "render/GLBase.h"
#include "render/GLRenderDestination.h"

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

private:
    std::vector<GLRenderDestination*> mStack;
    std::vector<StencilBuffer*> mStencilPool;
};

}  // namespace Core
}  // namespace Quorvane
