#include "effects/TintEffect.h"

#include "effects/ParameterBounds.h"
#include "render/GLShader.h"

namespace Quorvane {
namespace Core {

// Luminance weights of HDTV (BT.709) primaries.
const char* const TintEffect::kFragmentShader =
    "#ifdef GL_ES\nprecision highp float;\n#endif\n"
    "varying vec2 textureCoords;\n"
    "uniform sampler2D texture;\n"
    "uniform vec4 black;\n"
    "uniform vec4 white;\n"
    "uniform float factor;\n"
    "const vec3 luminanceWeighting = vec3(0.2125, 0.7154, 0.0721);\n"
    "void main() {\n"
    "    vec4 c = texture2D(texture, textureCoords);\n"
    "    float luminance = dot(c.rgb, luminanceWeighting);\n"
    "    gl_FragColor = vec4(mix(c.rgb, mix(black.rgb, white.rgb, luminance), factor), c.a);\n"
    "}\n";

TintEffect::TintEffect(RenderLayer* layer)
    : RenderEffect(layer), mShader(newEffectShader(kEffectVertexShader, kFragmentShader)) {}

TintEffect::TintEffect(const TintEffect& other)
    : RenderEffect(other),
      mShader(newEffectShader(kEffectVertexShader, kFragmentShader)),
      mDataList(other.mDataList),
      mCurrent(other.mCurrent) {}

TintEffect::~TintEffect() {
    delete mShader;
}

void TintEffect::loadFromJson(const rapidjson::Value& item) {
    EffectRecords::load(item, parent(), EffectRecords::arrayOf(9), [this](const float* v) {
        DataPack pack;
        pack.black = Color(v[0], v[1], v[2], v[3]);
        pack.white = Color(v[4], v[5], v[6], v[7]);
        pack.factor = v[8];
        mDataList.push_back(pack);
    });
}

void TintEffect::prepareForFrame(long long frame) {
    EffectRecords::choose(mDataList, frame, mCurrent);
}

void TintEffect::drawSelf(unsigned int texture) {
    mQuad.drawFullScreen(mShader, texture, [this](GLShader& shader) {
        using ParameterBounds::bounded;
        shader.setUniform4f("black", bounded(mCurrent.black, 0.0f));
        shader.setUniform4f("white", bounded(mCurrent.white, 1.0f));
        shader.setUniform1f("factor", bounded(mCurrent.factor, 0.0f));
    });
}

}  // namespace Core
}  // namespace Quorvane
