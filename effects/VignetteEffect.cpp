#include "effects/VignetteEffect.h"

#include "effects/ParameterBounds.h"
#include "render/GLShader.h"

namespace Quorvane {
namespace Core {

// smoothstep is undefined in GLSL when the edges are equal (0 / 0 on most
// GPUs) or reversed: the ramp is written out, equal edges being a hard edge
// and reversed ones the mirrored ramp. Between proper edges it is smoothstep.
const char* const VignetteEffect::kFragmentShader =
    "#ifdef GL_ES\nprecision highp float;\n#endif\n"
    "varying vec2 textureCoords;\n"
    "uniform sampler2D texture;\n"
    "uniform float vignetteStart;\n"
    "uniform float vignetteEnd;\n"
    "uniform vec2 vignetteCenter;\n"
    "uniform vec3 vignetteColor;\n"
    "float ramp(float edge0, float edge1, float x) {\n"
    "    if (edge0 == edge1) return step(edge0, x);\n"
    "    float t = clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0);\n"
    "    return t * t * (3.0 - 2.0 * t);\n"
    "}\n"
    "void main() {\n"
    "    vec4 c = texture2D(texture, textureCoords);\n"
    "    float d = distance(textureCoords, vignetteCenter);\n"
    "    float percent = ramp(vignetteStart, vignetteEnd, d);\n"
    "    gl_FragColor = mix(c, vec4(vignetteColor, 1.0), percent);\n"
    "}\n";

VignetteEffect::VignetteEffect(RenderLayer* layer)
    : RenderEffect(layer), mShader(newEffectShader(kEffectVertexShader, kFragmentShader)) {}

VignetteEffect::VignetteEffect(const VignetteEffect& other)
    : RenderEffect(other),
      mShader(newEffectShader(kEffectVertexShader, kFragmentShader)),
      mDataList(other.mDataList) {}

VignetteEffect::~VignetteEffect() {
    delete mShader;
}

void VignetteEffect::loadFromJson(const rapidjson::Value& item) {
    EffectRecords::load(item, parent(), EffectRecords::arrayOf(8), [this](const float* v) {
        AnimationData data;
        data.center = Vec2(v[0], v[1]);
        data.color = Color(v[2], v[3], v[4], v[5]);
        data.start = v[6];
        data.end = v[7];
        mDataList.push_back(data);
    });
}

void VignetteEffect::prepareForFrame(long long frame) {
    EffectRecords::choose(mDataList, frame, mCurrent);
}

void VignetteEffect::drawSelf(unsigned int texture) {
    mQuad.drawFullScreen(mShader, texture, [this](GLShader& shader) {
        using ParameterBounds::bounded;
        const float w = static_cast<float>(width());
        const float h = static_cast<float>(height());
        const Vec2 center = bounded(mCurrent.center, 0.0f);
        const Color color = bounded(mCurrent.color, 1.0f);
        shader.setUniform1f("vignetteStart", bounded(mCurrent.start, kNoVignette) / 100.0f);
        shader.setUniform1f("vignetteEnd", bounded(mCurrent.end, kNoVignette) / 100.0f);
        shader.setUniform2f("vignetteCenter", w > 0 ? center.x / w : 0.0f, h > 0 ? center.y / h : 0.0f);
        shader.setUniform3f("vignetteColor", color.r, color.g, color.b);
    });
}

}  // namespace Core
}  // namespace Quorvane
