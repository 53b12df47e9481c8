#include "effects/EdgeChokerEffect.h"

#include "effects/ParameterBounds.h"
#include "render/GLShader.h"

namespace Quorvane {
namespace Core {

// 64 samples on the circle, at multiples of pi/32 up to a full turn; test
// points outside the texture are pulled onto its border.
const char* const EdgeChokerEffect::kFragmentShader =
    "#ifdef GL_ES\nprecision highp float;\n#endif\n"
    "varying vec2 textureCoords;\n"
    "uniform sampler2D texture;\n"
    "uniform vec2 iResolution;\n"
    "uniform float WIDTH;\n"
    "uniform float top;\n"
    "uniform float bottom;\n"
    "uniform float left;\n"
    "uniform float right;\n"
    "#define PI 3.14159265359\n"
    "#define SAMPLES 64\n"
    "void main() {\n"
    "    vec2 uv = textureCoords;\n"
    "    vec4 c = texture2D(texture, uv);\n"
    "    float m = c.a;\n"
    "    if (uv.x >= left && uv.x <= 1.0 - right && uv.y >= top && uv.y <= 1.0 - bottom) {\n"
    "        if (WIDTH > 0.0) {\n"
    "            float angle = 0.0;\n"
    "            for (int i = 0; i < SAMPLES; ++i) {\n"
    "                angle += 1.0 / (float(SAMPLES) / 2.0) * PI;\n"
    "                vec2 offset = vec2(WIDTH * cos(angle), WIDTH * sin(angle));\n"
    "                vec2 p = clamp((uv * iResolution + offset) / iResolution, 0.0, 1.0);\n"
    "                m = min(m, texture2D(texture, p).a);\n"
    "            }\n"
    "        }\n"
    "    } else {\n"
    "        m = 0.0;\n"
    "    }\n"
    "    gl_FragColor = vec4(c.rgb, c.a * m);\n"
    "}\n";

EdgeChokerEffect::EdgeChokerEffect(RenderLayer* layer)
    : RenderEffect(layer), mShader(newEffectShader(kEffectVertexShader, kFragmentShader)) {}

EdgeChokerEffect::EdgeChokerEffect(const EdgeChokerEffect& other)
    : RenderEffect(other),
      mShader(newEffectShader(kEffectVertexShader, kFragmentShader)),
      mEdgeWidth(other.mEdgeWidth),
      mClipTop(other.mClipTop),
      mClipBottom(other.mClipBottom),
      mClipLeft(other.mClipLeft),
      mClipRight(other.mClipRight) {}

EdgeChokerEffect::~EdgeChokerEffect() {
    delete mShader;
}

void EdgeChokerEffect::setClip(float top, float bottom, float left, float right) {
    mClipTop = top;
    mClipBottom = bottom;
    mClipLeft = left;
    mClipRight = right;
}

void EdgeChokerEffect::drawSelf(unsigned int texture) {
    mQuad.drawFullScreen(mShader, texture, [this](GLShader& shader) {
        using ParameterBounds::bounded;
        shader.setUniform2f("iResolution", static_cast<float>(width()), static_cast<float>(height()));
        shader.setUniform1f("WIDTH", bounded(mEdgeWidth, 0.0f));
        shader.setUniform1f("top", bounded(mClipTop, 0.0f));
        shader.setUniform1f("bottom", bounded(mClipBottom, 0.0f));
        shader.setUniform1f("left", bounded(mClipLeft, 0.0f));
        shader.setUniform1f("right", bounded(mClipRight, 0.0f));
    });
}

}  // namespace Core
}  // namespace Quorvane
