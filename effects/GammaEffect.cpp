#include "effects/GammaEffect.h"

#include "effects/ParameterBounds.h"
#include "render/GLShader.h"

namespace Quorvane {
namespace Core {

// GLSL leaves pow undefined for a base below 0, and for a base of 0 with an
// exponent of 0 or less (GPUs answer NaN there). Components at or below 0 take
// the limit instead: 0 for a positive exponent, 1 otherwise (0^0 = 1, and a
// negative exponent's infinity is written as 1 anyway).
const char* const GammaEffect::kFragmentShader =
    "#ifdef GL_ES\nprecision highp float;\n#endif\n"
    "varying vec2 textureCoords;\n"
    "uniform sampler2D texture;\n"
    "uniform float gamma;\n"
    "float power(float x) {\n"
    "    if (x <= 0.0) return gamma > 0.0 ? 0.0 : 1.0;\n"
    ""
    "    return pow(x, gamma);\n"
    "}\n"
    "void main() {\n"
    "    vec4 c = texture2D(texture, textureCoords);\n"
    "    gl_FragColor = vec4(power(c.r), power(c.g), power(c.b), c.a);\n"
    "}\n";

GammaEffect::GammaEffect(RenderLayer* layer)
    : RenderEffect(layer), mShader(newEffectShader(kEffectVertexShader, kFragmentShader)) {}

GammaEffect::GammaEffect(const GammaEffect& other)
    : RenderEffect(other),
      mShader(newEffectShader(kEffectVertexShader, kFragmentShader)),
      mGammaList(other.mGammaList) {}

GammaEffect::~GammaEffect() {
    delete mShader;
}

void GammaEffect::loadFromJson(const rapidjson::Value& item) {
    EffectRecords::load(item, parent(), EffectRecords::kNumber,
                        [this](const float* v) { mGammaList.push_back(v[0]); });
}

void GammaEffect::prepareForFrame(long long frame) {
    EffectRecords::choose(mGammaList, frame, mGamma);
}

void GammaEffect::drawSelf(unsigned int texture) {
    mQuad.drawFullScreen(mShader, texture, [this](GLShader& shader) {
        shader.setUniform1f("gamma", ParameterBounds::bounded(mGamma, 1.0f));
    });
}

}  // namespace Core
}  // namespace Quorvane
