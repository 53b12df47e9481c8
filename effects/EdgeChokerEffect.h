// Chokes the alpha edge: each pixel takes the smallest alpha found on a circle
// of the edge width around it (times its own alpha), and everything outside a
// clip rectangle becomes transparent. Driven only by its setters; a template
// item loads nothing.
#pragma once

#include <string>

#include "effects/EffectCommon.h"
#include "render/RenderEffect.h"

namespace Quorvane {
namespace Core {

class EdgeChokerEffect : public RenderEffect {
public:
    explicit EdgeChokerEffect(RenderLayer* layer);
    // Copies the edge width and the clip.
    EdgeChokerEffect(const EdgeChokerEffect& other);
    EdgeChokerEffect& operator=(const EdgeChokerEffect&) = delete;
    ~EdgeChokerEffect() override;

    void drawSelf(unsigned int texture) override;
    bool hasAnimation() override { return true; }
    std::string matchName() const override { return "ZR_EdgeChokerEffect"; }

    // Radius of the sampling circle in pixels.
    void setEdgeWidth(float width) { mEdgeWidth = width; }
    // Fractions of the texture (0..1) cut off at each side.
    void setClip(float top, float bottom, float left, float right);

    float edgeWidth() const { return mEdgeWidth; }
    float clipTop() const { return mClipTop; }
    float clipBottom() const { return mClipBottom; }
    float clipLeft() const { return mClipLeft; }
    float clipRight() const { return mClipRight; }
    GLShader* shader() const { return mShader; }

    static const char* const kFragmentShader;

private:
    GLShader* mShader;
    EffectQuad mQuad;
    float mEdgeWidth = 0.0f;
    float mClipTop = 0.0f;
    float mClipBottom = 0.0f;
    float mClipLeft = 0.0f;
    float mClipRight = 0.0f;
};

}  // namespace Core
}  // namespace Quorvane
