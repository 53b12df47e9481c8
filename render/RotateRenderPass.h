// Turns a texture by a quarter, half or three-quarter turn into a texture of
// its own (videos whose metadata asks for a rotation).
#pragma once

#include <cstdint>

#include "render/RenderPass.h"

namespace Quorvane {
namespace Core {

class GLShader;
class GLRenderDestination;

enum RotationType : int32_t {
    RotationNone = 0,
    Rotation90 = 1,
    Rotation180 = 2,
    Rotation270 = 3,
};

class RotateRenderPass : public RenderPass {
public:
    // The pass has the output size: width and height swap for 90 and 270.
    RotateRenderPass(int width, int height, RotationType rotation);
    // Degrees are reduced to 0..359 and taken to the nearest quarter turn
    // (46..135 -> 90, 136..225 -> 180, 226..315 -> 270, else none).
    RotateRenderPass(int width, int height, int degrees);
    ~RotateRenderPass() override;
    RotateRenderPass(const RotateRenderPass&) = delete;
    RotateRenderPass& operator=(const RotateRenderPass&) = delete;

    static RotationType rotationForDegrees(int degrees);
    RotationType rotation() const { return mRotation; }

    void prepareForFrame(long long frame) override;
    // Draws into the rotated destination and binds the previously bound
    // framebuffer again (the viewport is left at the pass size).
    void drawSelf(unsigned int texture) override;
    void unprepare() override;
    // 0 before prepareForFrame; the texture stays attached.
    uint32_t getRotatedTexture();

private:
    RotationType mRotation;
    uint32_t mVertexBuffer = 0;
    GLShader* mShader;
    GLRenderDestination* mRotated = nullptr;
};

}  // namespace Core
}  // namespace Quorvane
