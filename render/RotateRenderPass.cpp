#include "render/RotateRenderPass.h"

#include "render/FullScreenRenderPass.h"
#include "render/GLRenderDestination.h"
#include "render/GLShader.h"

namespace Quorvane {
namespace Core {

namespace {

// (u, v) of the strip vertices (1, 1), (1, -1), (-1, 1), (-1, -1) per rotation.
const float kRotationUV[4][8] = {
    {1, 1, 1, 0, 0, 1, 0, 0},
    {1, 0, 0, 0, 1, 1, 0, 1},
    {0, 0, 0, 1, 1, 0, 1, 1},
    {0, 1, 1, 1, 0, 0, 1, 0},
};

bool swapsSides(RotationType rotation) {
    return rotation == Rotation90 || rotation == Rotation270;
}

RotationType clampRotation(RotationType rotation) {
    return (rotation >= RotationNone && rotation <= Rotation270) ? rotation : RotationNone;
}

}  // namespace

RotationType RotateRenderPass::rotationForDegrees(int degrees) {
    const int d = ((degrees % 360) + 360) % 360;
    if (d >= 46 && d <= 135) return Rotation90;
    if (d >= 136 && d <= 225) return Rotation180;
    if (d >= 226 && d <= 315) return Rotation270;
    return RotationNone;
}

RotateRenderPass::RotateRenderPass(int width, int height, RotationType rotation)
    : RenderPass(nullptr, false, swapsSides(clampRotation(rotation)) ? height : width,
                 swapsSides(clampRotation(rotation)) ? width : height),
      mRotation(clampRotation(rotation)),
      mShader(FullScreenRenderPass::newCopyShader(false)) {}

RotateRenderPass::RotateRenderPass(int width, int height, int degrees)
    : RotateRenderPass(width, height, rotationForDegrees(degrees)) {}

RotateRenderPass::~RotateRenderPass() {
    delete mShader;
    delete mRotated;
    if (mVertexBuffer != 0) glDeleteBuffers(1, &mVertexBuffer);
}

void RotateRenderPass::prepareForFrame(long long) {
    if (!mRotated) mRotated = new GLRenderDestination(width(), height(), -1, true, -1);
}

void RotateRenderPass::unprepare() {
    RenderPass::unprepare();
    delete mRotated;
    mRotated = nullptr;
    if (mVertexBuffer != 0) {
        glDeleteBuffers(1, &mVertexBuffer);
        mVertexBuffer = 0;
    }
}

uint32_t RotateRenderPass::getRotatedTexture() {
    return mRotated ? mRotated->grabTextureForRead(false) : 0;
}

void RotateRenderPass::drawSelf(unsigned int texture) {
    if (texture == 0) return;
    // A draw without prepareForFrame gets its target here instead of
    // dereferencing a missing one.
    prepareForFrame(0);
    GLint saved = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &saved);
    mRotated->bindDestination();
    if (mVertexBuffer == 0) mVertexBuffer = FullScreenRenderPass::newStripBuffer(kRotationUV[mRotation]);
    glClearColor(1, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_BLEND);
    FullScreenRenderPass::drawStrip(mShader, mVertexBuffer, texture);
    glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(saved));
}

}  // namespace Core
}  // namespace Quorvane
