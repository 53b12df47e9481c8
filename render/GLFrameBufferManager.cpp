#include "render/GLFrameBufferManager.h"

#include <algorithm>

namespace Quorvane {
namespace Core {

GLFrameBufferManager::~GLFrameBufferManager() {
    for (GLRenderDestination* destination : mStack) delete destination;
    mStack.clear();
    for (StencilBuffer* buffer : mStencilPool) delete buffer;
    mStencilPool.clear();
    if (mCopyFramebuffer != 0) glDeleteFramebuffers(1, &mCopyFramebuffer);
    if (mTexelSampler != 0) glDeleteSamplers(1, &mTexelSampler);
    delete mCopy;
}

bool GLFrameBufferManager::framebufferFetch() {
    if (mFetch < 0) mFetch = hasExtension("GL_EXT_shader_framebuffer_fetch") ? 1 : 0;
    return mFetch == 1;
}

uint32_t GLFrameBufferManager::copyOfBound() {
    GLRenderDestination* bound = topDestination();
    if (!bound) return 0;
    const int w = bound->width(), h = bound->height();
    if (!mCopy || mCopy->width() != w || mCopy->height() != h) {
        delete mCopy;
        mCopy = new GLRenderDestination(w, h);
    }
    GLint drawn = 0;
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &drawn);
    mCopy->bindDestination();
    glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(drawn));
    glBlitFramebuffer(0, 0, w, h, 0, 0, w, h, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    const uint32_t texture = mCopy->grabTextureForRead(true);
    bound->bindDestination();
    return texture;
}

uint32_t GLFrameBufferManager::texelSampler() {
    if (mTexelSampler == 0) {
        glGenSamplers(1, &mTexelSampler);
        glSamplerParameteri(mTexelSampler, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glSamplerParameteri(mTexelSampler, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glSamplerParameteri(mTexelSampler, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glSamplerParameteri(mTexelSampler, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    }
    return mTexelSampler;
}

void GLFrameBufferManager::copyTextureBox(uint32_t texture, const PixelBox& box) {
    if (texture == 0 || box.empty()) return;
    if (mCopyFramebuffer == 0) glGenFramebuffers(1, &mCopyFramebuffer);
    GLint read = 0;
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &read);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, mCopyFramebuffer);
    glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
    // Equal formats, equal boxes: the driver copies rows instead of drawing.
    glBlitFramebuffer(box.x0, box.y0, box.x1, box.y1, box.x0, box.y0, box.x1, box.y1, GL_COLOR_BUFFER_BIT,
                      GL_NEAREST);
    glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, 0, 0);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(read));
}

GLRenderDestination* GLFrameBufferManager::pushDestination(int width, int height) {
    auto* destination = new GLRenderDestination(width, height, -1, true, -1);
    destination->bindDestination();
    mStack.push_back(destination);
    return destination;
}

void GLFrameBufferManager::pushDestination(GLRenderDestination* destination) {
    if (!destination) return;
    destination->bindDestination();
    mStack.push_back(destination);
}

GLRenderDestination* GLFrameBufferManager::popDestination(bool deleteIt) {
    if (mStack.empty()) return nullptr;
    GLRenderDestination* removed = mStack.back();
    mStack.pop_back();
    if (removed && deleteIt) delete removed;
    if (mStack.empty()) {
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
    } else {
        mStack.back()->bindDestination();
    }
    return removed;
}

StencilBuffer* GLFrameBufferManager::getStencilBuffer(int width, int height) {
    for (auto it = mStencilPool.begin(); it != mStencilPool.end(); ++it) {
        if ((*it)->suitable(width, height)) {
            StencilBuffer* buffer = *it;
            mStencilPool.erase(it);
            return buffer;
        }
    }
    return new StencilBuffer(width, height);
}

void GLFrameBufferManager::releaseStencilBuffer(StencilBuffer* buffer) {
    if (!buffer) return;
    if (std::find(mStencilPool.begin(), mStencilPool.end(), buffer) != mStencilPool.end()) return;
    mStencilPool.push_back(buffer);
}

}  // namespace Core
}  // namespace Quorvane
