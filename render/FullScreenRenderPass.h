// Copies a texture over the whole bound target (or a caller's texture or
// framebuffer), optionally flipped vertically, after an optional clear, with
// blending. Also home of the copy program and strip the rotate pass shares.
#pragma once

#include <cstdint>
#include <memory>

#include "core/Color.h"
#include "render/RenderPass.h"

namespace Quorvane {
namespace Core {

class GLShader;

class FullScreenRenderPass : public RenderPass {
public:
    // outputTexture 0 and outputFramebuffer -1 mean none. Size 0 x 0: the pass
    // takes its parent's size.
    FullScreenRenderPass(RenderLayer* parent, bool flipY, unsigned int outputTexture = 0,
                         int outputFramebuffer = -1, bool premultiplied = false);
    ~FullScreenRenderPass() override;
    FullScreenRenderPass(const FullScreenRenderPass&) = delete;
    FullScreenRenderPass& operator=(const FullScreenRenderPass&) = delete;

    bool useCustomOutputDestination() const { return mOutputTexture != 0 || mOutputFramebuffer >= 0; }
    // With a custom output and no destination yet, wraps the caller's texture
    // (on a framebuffer of its own) or the caller's framebuffer.
    void prepareForFrame(long long frame) override;
    void drawSelf(unsigned int texture) override;
    void unprepare() override;

    // Rebuilds the program; the BGRA fragment text is an identity swizzle, so
    // both give the same pixels.
    void setOutputBGRA(bool bgra);
    void setBackgroundColor(const Color& color) { mBackgroundColor = color; }
    void shouldClearColorBuffer(bool clear) { mClearColorBuffer = clear; }
    void setPremultiply(bool premultiplied) { mPremultiplied = premultiplied; }

    // The copy program's texts (the Gaussian blur at amount 0 is this copy).
    static const char* const kCopyVertex;
    static const char* const kCopyFragment;
    // The shared copy program: "position" at 0, "inCoords" at 1, sampler "texture".
    static GLShader* newCopyShader(bool bgra);
    // Array buffer of the four strip vertices (1, 1), (1, -1), (-1, 1), (-1, -1)
    // with the given (u, v) pairs, in that order.
    static uint32_t newStripBuffer(const float uv[8]);
    // Draws the strip with texture on unit 0 and undoes the bindings after.
    static void drawStrip(GLShader* shader, uint32_t buffer, unsigned int texture);

private:
    Color mBackgroundColor{0.0f, 0.0f, 0.0f, 0.0f};
    GLShader* mShader = nullptr;
    // The render context's program of mShader's texts, when there is a
    // context: the copy passes of all its layers link one program.
    std::shared_ptr<GLShader> mSharedShader;
    uint32_t mVertexBuffer = 0;
    uint32_t mOutputTexture;
    int32_t mOutputFramebuffer;
    bool mFlipY;
    bool mClearColorBuffer = true;
    bool mPremultiplied;
};

}  // namespace Core
}  // namespace Quorvane
