#include <gtest/gtest.h>

#include "render/GLFrameBufferManager.h"
#include "render/GLRenderDestination.h"
#include "support/GLFixture.h"

using namespace Quorvane::Core;
using QvTest::boundFramebuffer;
using QvTest::GLFixture;

namespace {

std::pair<int, int> viewportSize() {
    GLint v[4];
    glGetIntegerv(GL_VIEWPORT, v);
    return {v[2], v[3]};
}

GLuint attachedObject(GLenum attachment) {
    GLint name = 0;
    glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, attachment, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME,
                                          &name);
    return static_cast<GLuint>(name);
}

}  // namespace

using GLRenderTarget = GLFixture;

TEST_F(GLRenderTarget, OwnTextureIsAttachedOnBindAndDetachedForRead) {
    GLRenderDestination dest(20, 10);
    ASSERT_NE(dest.texture(), 0u);
    ASSERT_NE(dest.framebuffer(), 0u);
    EXPECT_FALSE(dest.isAttached());
    GLint w = 0, h = 0;
    glBindTexture(GL_TEXTURE_2D, dest.texture());
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &h);
    glBindTexture(GL_TEXTURE_2D, 0);
    EXPECT_EQ(w, 20);
    EXPECT_EQ(h, 10);

    dest.bindDestination();
    EXPECT_TRUE(dest.isAttached());
    EXPECT_EQ(boundFramebuffer(), dest.framebuffer());
    EXPECT_EQ(viewportSize(), std::make_pair(20, 10));
    EXPECT_EQ(attachedObject(GL_COLOR_ATTACHMENT0), dest.texture());
    glClearColor(1, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);

    EXPECT_EQ(dest.grabTextureForRead(false), dest.texture());
    EXPECT_TRUE(dest.isAttached());

    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    EXPECT_EQ(dest.grabTextureForRead(true), dest.texture());
    EXPECT_FALSE(dest.isAttached());
    EXPECT_EQ(boundFramebuffer(), 0u) << "the binding is restored";
    glBindFramebuffer(GL_FRAMEBUFFER, dest.framebuffer());
    EXPECT_EQ(attachedObject(GL_COLOR_ATTACHMENT0), 0u);
    // The texture kept its content and the next bind attaches it again.
    QvTest::Pixels px = GLFixture::readTexture(dest.texture(), 20, 10);
    EXPECT_EQ(px.packed(19, 9), 0xFF0000FFu);
    dest.bindDestination();
    EXPECT_TRUE(dest.isAttached());
    EXPECT_EQ(attachedObject(GL_COLOR_ATTACHMENT0), dest.texture());

    // A side past the driver's limit is held to it, never handed over.
    GLint largest = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
    GLRenderDestination wide(100000000, 4);
    EXPECT_EQ(wide.width(), largest);
    EXPECT_EQ(wide.height(), 4);
    StencilBuffer stencil(4, 2147483647);
    EXPECT_EQ(stencil.width(), 4);
    EXPECT_LE(stencil.height(), largest);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(GLRenderTarget, NeverBoundDestinationGrabsWithoutTouchingGL) {
    GLRenderDestination dest(4, 4);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    EXPECT_EQ(dest.grabTextureForRead(true), dest.texture());
    EXPECT_FALSE(dest.isAttached());
    EXPECT_EQ(boundFramebuffer(), 0u);
}

TEST_F(GLRenderTarget, GivenFramebufferIsNeverAttachedOrDeleted) {
    GLuint fb = 0;
    glGenFramebuffers(1, &fb);
    GLuint tex = GLFixture::uploadTexture(2, 2, std::vector<uint8_t>(16, 200));
    glBindFramebuffer(GL_FRAMEBUFFER, fb);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, tex, 0);
    {
        GLRenderDestination dest(2, 2, -1, true, static_cast<int>(fb));
        EXPECT_EQ(dest.texture(), 0u);
        EXPECT_TRUE(dest.isForeignFramebuffer());
        dest.bindDestination();
        EXPECT_FALSE(dest.isAttached());
        EXPECT_EQ(attachedObject(GL_COLOR_ATTACHMENT0), tex) << "the caller's attachment is left alone";
        EXPECT_EQ(dest.grabTextureForRead(true), 0u);
        EXPECT_EQ(attachedObject(GL_COLOR_ATTACHMENT0), tex);
    }
    EXPECT_TRUE(glIsFramebuffer(fb));
    EXPECT_TRUE(glIsTexture(tex));
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteFramebuffers(1, &fb);
    GLFixture::deleteTexture(tex);
}

TEST_F(GLRenderTarget, TextureOwnershipDecidesDeletion) {
    GLuint given = GLFixture::uploadTexture(2, 2, std::vector<uint8_t>(16, 0));
    GLuint own = 0;
    {
        GLRenderDestination dest(2, 2);
        own = dest.texture();
        dest.setTexture(static_cast<int>(given), false);  // the owned one goes
        EXPECT_FALSE(glIsTexture(own));
        EXPECT_EQ(dest.texture(), given);
        dest.bindDestination();  // first bind attaches the given texture
        EXPECT_EQ(attachedObject(GL_COLOR_ATTACHMENT0), given);
        EXPECT_EQ(boundFramebuffer(), dest.framebuffer());
    }
    EXPECT_EQ(boundFramebuffer(), 0u) << "deleting the bound destination binds framebuffer 0";
    EXPECT_TRUE(glIsTexture(given)) << "a texture not owned survives";
    GLFixture::deleteTexture(given);
}

TEST_F(GLRenderTarget, StencilAttachmentComesAndGoes) {
    GLRenderDestination dest(8, 8);
    StencilBuffer stencil(8, 8);
    EXPECT_GE(stencil.renderbuffer(), 0);
    EXPECT_TRUE(stencil.suitable(8, 8));
    EXPECT_FALSE(stencil.suitable(8, 9));
    dest.bindDestination();
    dest.setAttachment(GLRenderDestination::kStencilAttachment, stencil.renderbuffer(), false);
    EXPECT_EQ(attachedObject(GL_STENCIL_ATTACHMENT), static_cast<GLuint>(stencil.renderbuffer()));
    EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
    EXPECT_EQ(dest.attachments().size(), 1u);

    // The stencil really masks drawing: mark the left half, clear through it.
    glClearColor(0, 0, 0, 0);
    glClearStencil(0);
    glClear(GL_COLOR_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 0, 4, 8);
    glClearStencil(1);
    glClear(GL_STENCIL_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
    glEnable(GL_STENCIL_TEST);
    glStencilFunc(GL_NOTEQUAL, 0, 0xFF);
    glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
    // Fill the whole target with the fixed pipeline of the compatibility profile.
    glUseProgram(0);
    glColor4f(1, 1, 1, 1);
    glBegin(GL_TRIANGLE_STRIP);
    glVertex2f(-1, -1);
    glVertex2f(1, -1);
    glVertex2f(-1, 1);
    glVertex2f(1, 1);
    glEnd();
    glDisable(GL_STENCIL_TEST);
    QvTest::Pixels px = GLFixture::readFramebuffer(0, 0, 8, 8);
    EXPECT_EQ(px.packed(1, 4), 0xFFFFFFFFu);
    EXPECT_EQ(px.packed(6, 4), 0x00000000u);

    dest.removeAttachment(GLRenderDestination::kStencilAttachment);
    EXPECT_EQ(attachedObject(GL_STENCIL_ATTACHMENT), 0u);
    EXPECT_TRUE(dest.attachments().empty());
    dest.removeAttachment(GLRenderDestination::kDepthAttachment);  // never recorded: nothing happens
}

TEST_F(GLRenderTarget, PushPopRebindsThePreviousDestination) {
    GLFrameBufferManager manager;
    EXPECT_EQ(manager.popDestination(false), nullptr) << "empty stack";
    GLRenderDestination* a = manager.pushDestination(30, 20);
    EXPECT_EQ(boundFramebuffer(), a->framebuffer());
    GLRenderDestination b(12, 6);
    manager.pushDestination(&b);
    EXPECT_EQ(boundFramebuffer(), b.framebuffer());
    EXPECT_EQ(viewportSize(), std::make_pair(12, 6));
    EXPECT_EQ(manager.destinationCount(), 2u);

    // Sampling b while a is bound detaches it; popping b rebinds a with a's
    // viewport and attaches a's texture again.
    a->grabTextureForRead(true);
    EXPECT_EQ(manager.popDestination(false), &b);
    EXPECT_EQ(boundFramebuffer(), a->framebuffer());
    EXPECT_EQ(viewportSize(), std::make_pair(30, 20));
    EXPECT_TRUE(a->isAttached());

    EXPECT_EQ(manager.popDestination(false), a);
    EXPECT_EQ(boundFramebuffer(), 0u);
    EXPECT_EQ(manager.destinationCount(), 0u);
    delete a;

    // What is still on the stack goes with the manager.
    {
        GLFrameBufferManager other;
        other.pushDestination(4, 4);
        other.pushDestination(nullptr);  // ignored
        EXPECT_EQ(other.destinationCount(), 1u);
    }
}

TEST_F(GLRenderTarget, StencilPoolReusesBySize) {
    GLFrameBufferManager manager;
    StencilBuffer* small = manager.getStencilBuffer(640, 360);
    StencilBuffer* large = manager.getStencilBuffer(1280, 720);
    ASSERT_NE(small, large);
    manager.releaseStencilBuffer(small);
    manager.releaseStencilBuffer(large);
    EXPECT_EQ(manager.pooledStencilCount(), 2u);

    EXPECT_EQ(manager.getStencilBuffer(640, 360), small);
    EXPECT_EQ(manager.pooledStencilCount(), 1u);
    StencilBuffer* fresh = manager.getStencilBuffer(640, 360);
    EXPECT_NE(fresh, small);
    EXPECT_EQ(manager.pooledStencilCount(), 1u) << "a new buffer is not pooled until released";
    EXPECT_EQ(manager.getStencilBuffer(1280, 720), large);
    EXPECT_EQ(manager.pooledStencilCount(), 0u);

    manager.releaseStencilBuffer(small);
    manager.releaseStencilBuffer(small);
    manager.releaseStencilBuffer(nullptr);
    EXPECT_EQ(manager.pooledStencilCount(), 1u);
    manager.releaseStencilBuffer(fresh);
    manager.releaseStencilBuffer(large);
    EXPECT_EQ(manager.pooledStencilCount(), 3u);  // the manager deletes all three
}
