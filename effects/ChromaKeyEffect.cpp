#include "effects/ChromaKeyEffect.h"

#include <algorithm>
#include <cmath>

#include "effects/ParameterBounds.h"
#include "render/GLShader.h"

namespace Quorvane {
namespace Core {

namespace {

// Rows of the ITU-R BT.709 limited-range RGB to YCbCr matrix (r, g, b, offset).
const float kCb[4] = {-0.100644f, -0.338572f, 0.439216f, 0.501961f};
const float kCr[4] = {0.439216f, -0.398942f, -0.040274f, 0.501961f};

float thousandths(float value, float current) {
    if (std::isnan(value)) return current;
    return std::clamp(value, 1.0f, 1000.0f);
}

}  // namespace

// The distance to the key is averaged over the pixel (weight 1) and four
// neighbours between texels (weight 2 each), read with the layer's filtering.
const char* const ChromaKeyEffect::kFragmentShader =
    "#ifdef GL_ES\nprecision highp float;\n#endif\n"
    "varying vec2 textureCoords;\n"
    "uniform sampler2D texture;\n"
    "uniform vec2 chroma_key;\n"
    "uniform vec2 pixel_size;\n"
    "uniform float similarity;\n"
    "uniform float smoothness;\n"
    "uniform float spill;\n"
    "const mat4 yuv = mat4(0.182586, -0.100644, 0.439216, 0.0,\n"
    "                      0.614231, -0.338572, -0.398942, 0.0,\n"
    "                      0.062007, 0.439216, -0.040274, 0.0,\n"
    "                      0.062745, 0.501961, 0.501961, 1.0);\n"
    "float keyDistance(vec4 colour) {\n"
    "    vec4 ycbcr = yuv * vec4(colour.rgb, 1.0);\n"
    "    return distance(chroma_key, ycbcr.yz);\n"
    "}\n"
    "void main() {\n"
    "    vec2 uv = textureCoords;\n"
    "    vec4 c = texture2D(texture, uv);\n"
    "    vec2 h = pixel_size / 2.0;\n"
    "    vec2 p0 = vec2(pixel_size.x, h.y);\n"
    "    vec2 p1 = vec2(h.x, -pixel_size.y);\n"
    "    float d = keyDistance(texture2D(texture, uv - p0)) + keyDistance(texture2D(texture, uv + p0))\n"
    "        + keyDistance(texture2D(texture, uv - p1)) + keyDistance(texture2D(texture, uv + p1));\n"
    "    d = (d * 2.0 + keyDistance(c)) / 9.0;\n"
    "    float base = d - similarity;\n"
    "    float mask = pow(clamp(base / smoothness, 0.0, 1.0), 1.5);\n"
    "    float spillValue = pow(clamp(base / spill, 0.0, 1.0), 1.5);\n"
    "    float desaturated = clamp(dot(c.rgb, vec3(0.2126, 0.7152, 0.0722)), 0.0, 1.0);\n"
    "    vec3 rgb = vec3(desaturated) * (1.0 - spillValue) + c.rgb * spillValue;\n"
    "    gl_FragColor = vec4(rgb, c.a * mask);\n"
    "}\n";

ChromaKeyEffect::ChromaKeyEffect(RenderLayer* layer)
    : RenderEffect(layer), mShader(newEffectShader(kEffectVertexShader, kFragmentShader)) {
    setKeyColor(Color(0.0f, 1.0f, 0.0f, 1.0f));
}

ChromaKeyEffect::ChromaKeyEffect(const ChromaKeyEffect& other)
    : RenderEffect(other),
      mShader(newEffectShader(kEffectVertexShader, kFragmentShader)),
      mKeyChroma(other.mKeyChroma),
      mKeyColor(other.mKeyColor),
      mSimilarity(other.mSimilarity),
      mSmoothness(other.mSmoothness),
      mSpillReduce(other.mSpillReduce) {}

ChromaKeyEffect::~ChromaKeyEffect() {
    delete mShader;
}

Vec2 ChromaKeyEffect::chromaOf(const Color& c) {
    return Vec2(kCb[0] * c.r + kCb[1] * c.g + kCb[2] * c.b + kCb[3],
                kCr[0] * c.r + kCr[1] * c.g + kCr[2] * c.b + kCr[3]);
}

void ChromaKeyEffect::setKeyColor(const Color& color) {
    mKeyColor = ParameterBounds::bounded(color, 0.0f);
    mKeyChroma = chromaOf(mKeyColor);
}

void ChromaKeyEffect::setSimilarity(float similarity) {
    mSimilarity = thousandths(similarity, mSimilarity);
}

void ChromaKeyEffect::setSmoothness(float smoothness) {
    mSmoothness = thousandths(smoothness, mSmoothness);
}

void ChromaKeyEffect::setSpillReduce(float spill) {
    mSpillReduce = thousandths(spill, mSpillReduce);
}

void ChromaKeyEffect::drawSelf(unsigned int texture) {
    mQuad.drawFullScreen(mShader, texture, [this](GLShader& shader) {
        const int w = width();
        const int h = height();
        shader.setUniform2f("chroma_key", mKeyChroma);
        shader.setUniform2f("pixel_size", w > 0 ? 1.0f / static_cast<float>(w) : 0.0f,
                            h > 0 ? 1.0f / static_cast<float>(h) : 0.0f);
        shader.setUniform1f("similarity", mSimilarity / 1000.0f);
        shader.setUniform1f("smoothness", mSmoothness / 1000.0f);
        shader.setUniform1f("spill", mSpillReduce / 1000.0f);
    });
}

}  // namespace Core
}  // namespace Quorvane
