// Render targets: a framebuffer with an RGBA8 colour texture and optional
// extra attachments, and the pooled stencil renderbuffer that masks borrow.
#pragma once

#include <cstdint>
#include <map>

#include "render/GLBase.h"

namespace Quorvane {
namespace Core {

// Whole pixels of a render target in GL window coordinates (origin at the
// bottom left), half open: x0 <= x < x1 and y0 <= y < y1.
struct PixelBox {
    int x0 = 0;
    int y0 = 0;
    int x1 = 0;
    int y1 = 0;

    static PixelBox whole(int width, int height) { return {0, 0, width, height}; }
    bool empty() const { return x1 <= x0 || y1 <= y0; }
    bool operator==(const PixelBox& o) const { return x0 == o.x0 && y0 == o.y0 && x1 == o.x1 && y1 == o.y1; }
};

// One 8-bit stencil renderbuffer of a fixed size.
class StencilBuffer {
public:
    StencilBuffer(int width, int height);
    ~StencilBuffer();
    StencilBuffer(const StencilBuffer&) = delete;
    StencilBuffer& operator=(const StencilBuffer&) = delete;

    bool suitable(int width, int height) const { return width == mWidth && height == mHeight; }
    int32_t renderbuffer() const { return mRenderbuffer; }
    int width() const { return mWidth; }
    int height() const { return mHeight; }

private:
    int32_t mRenderbuffer = -1;
    int32_t mWidth;
    int32_t mHeight;
};

class GLRenderDestination : public GLBase {
public:
    // Extra attachment points, named by their GL enum values. Colour
    // attachment 0 is managed through the texture, not through this map.
    enum Attachment : uint32_t {
        kDepthAttachment = GL_DEPTH_ATTACHMENT,
        kStencilAttachment = GL_STENCIL_ATTACHMENT,
    };

    // texture -1 asks for a texture of its own, framebuffer -1 for a
    // framebuffer of its own. A given framebuffer (>= 0) is used as it is:
    // never created, never given the texture, never deleted; texture stays 0.
    GLRenderDestination(int width, int height, int texture = -1, bool ownsTexture = true,
                        int framebuffer = -1);
    ~GLRenderDestination() override;
    GLRenderDestination(const GLRenderDestination&) = delete;
    GLRenderDestination& operator=(const GLRenderDestination&) = delete;

    int width() const { return mWidth; }
    int height() const { return mHeight; }
    uint32_t framebuffer() const { return mFramebuffer; }
    uint32_t texture() const { return mTexture; }
    bool isAttached() const { return mAttached; }
    bool ownsTexture() const { return mOwnsTexture; }
    bool isForeignFramebuffer() const { return mForeignFramebuffer; }
    const std::map<Attachment, uint32_t>& attachments() const { return mAttachments; }

    // Binds the framebuffer (attaching the colour texture when it is not),
    // checks completeness and sets the viewport to the whole target.
    void bindDestination();
    // The colour texture; with detach, it is first taken off the framebuffer
    // so that it can be sampled while another target is bound.
    uint32_t grabTextureForRead(bool detach);
    void setTexture(int texture, bool owns);
    // Both act on the currently bound framebuffer: bind the destination first.
    void setAttachment(Attachment attachment, int id, bool isTexture);
    void removeAttachment(Attachment attachment);

private:
    uint32_t mFramebuffer = 0;
    uint32_t mTexture = 0;
    int32_t mWidth;
    int32_t mHeight;
    bool mAttached = false;
    bool mOwnsTexture;
    bool mForeignFramebuffer;
    std::map<Attachment, uint32_t> mAttachments;
};

}  // namespace Core
}  // namespace Quorvane
