#include "render/GLRenderDestination.h"

#include <algorithm>

#include "core/Log.h"

namespace Quorvane {
namespace Core {

namespace {

// Holds a side the template asked for (a layer, a mask, a text image, a layer
// enlarged by its effects) to what the driver takes: the software driver does
// not refuse a larger one cleanly, it overruns its own stack. The part past
// the limit is not drawn.
void holdToLimit(GLenum limit, const char* what, int& width, int& height) {
    GLint largest = 0;
    glGetIntegerv(limit, &largest);
    if (largest <= 0 || (width <= largest && height <= largest)) return;
    QVPrint("%s of %d x %d is held to the largest the driver takes, %d", what, width, height, largest);
    width = std::min(width, static_cast<int>(largest));
    height = std::min(height, static_cast<int>(largest));
}

}  // namespace

StencilBuffer::StencilBuffer(int width, int height) : mWidth(width), mHeight(height) {
    holdToLimit(GL_MAX_RENDERBUFFER_SIZE, "stencil buffer", mWidth, mHeight);
    width = mWidth;
    height = mHeight;
    GLuint id = 0;
    glGenRenderbuffers(1, &id);
    mRenderbuffer = static_cast<int32_t>(id);
    GLint saved = 0;
    glGetIntegerv(GL_RENDERBUFFER_BINDING, &saved);
    glBindRenderbuffer(GL_RENDERBUFFER, id);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_STENCIL_INDEX8, width, height);
    glBindRenderbuffer(GL_RENDERBUFFER, static_cast<GLuint>(saved));
}

StencilBuffer::~StencilBuffer() {
    if (mRenderbuffer >= 0) {
        GLuint id = static_cast<GLuint>(mRenderbuffer);
        glDeleteRenderbuffers(1, &id);
    }
}

GLRenderDestination::GLRenderDestination(int width, int height, int texture, bool ownsTexture,
                                         int framebuffer)
    : mWidth(width), mHeight(height), mOwnsTexture(ownsTexture), mForeignFramebuffer(framebuffer >= 0) {
    if (framebuffer >= 0) {
        mFramebuffer = static_cast<uint32_t>(framebuffer);
        return;
    }
    glGenFramebuffers(1, &mFramebuffer);
    if (texture == -1) {
        holdToLimit(GL_MAX_TEXTURE_SIZE, "render target", mWidth, mHeight);
        width = mWidth;
        height = mHeight;
        glGenTextures(1, &mTexture);
        glBindTexture(GL_TEXTURE_2D, mTexture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        glBindTexture(GL_TEXTURE_2D, 0);
    } else {
        mTexture = static_cast<uint32_t>(texture);
    }
}

GLRenderDestination::~GLRenderDestination() {
    if (mTexture != 0 && mOwnsTexture) glDeleteTextures(1, &mTexture);
    if (mFramebuffer != 0 && !mForeignFramebuffer) {
        GLint bound = 0;
        glGetIntegerv(GL_FRAMEBUFFER_BINDING, &bound);
        if (static_cast<uint32_t>(bound) == mFramebuffer) glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glDeleteFramebuffers(1, &mFramebuffer);
    }
    mAttachments.clear();
}

void GLRenderDestination::bindDestination() {
    glBindFramebuffer(GL_FRAMEBUFFER, mFramebuffer);
    if (!mAttached && !mForeignFramebuffer) {
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, mTexture, 0);
        mAttached = true;
    }
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        QVPrint("framebuffer incomplete:%d", static_cast<int>(mFramebuffer));
    }
    glViewport(0, 0, mWidth, mHeight);
}

uint32_t GLRenderDestination::grabTextureForRead(bool detach) {
    if (detach && mAttached && !mForeignFramebuffer) {
        GLint saved = 0;
        glGetIntegerv(GL_FRAMEBUFFER_BINDING, &saved);
        glBindFramebuffer(GL_FRAMEBUFFER, mFramebuffer);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, 0, 0);
        glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(saved));
        mAttached = false;
    }
    return mTexture;
}

void GLRenderDestination::setTexture(int texture, bool owns) {
    if (mTexture != 0 && mOwnsTexture) glDeleteTextures(1, &mTexture);
    mTexture = static_cast<uint32_t>(texture);
    mOwnsTexture = owns;
}

void GLRenderDestination::setAttachment(Attachment attachment, int id, bool isTexture) {
    removeAttachment(attachment);
    mAttachments[attachment] = static_cast<uint32_t>(id);
    if (isTexture) {
        glFramebufferTexture2D(GL_FRAMEBUFFER, attachment, GL_TEXTURE_2D, static_cast<GLuint>(id), 0);
    } else {
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, attachment, GL_RENDERBUFFER, static_cast<GLuint>(id));
    }
}

void GLRenderDestination::removeAttachment(Attachment attachment) {
    auto it = mAttachments.find(attachment);
    if (it == mAttachments.end()) return;
    mAttachments.erase(it);
    glFramebufferTexture2D(GL_FRAMEBUFFER, attachment, GL_TEXTURE_2D, 0, 0);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, attachment, GL_RENDERBUFFER, 0);
}

}  // namespace Core
}  // namespace Quorvane
