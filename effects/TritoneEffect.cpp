#include "effects/TritoneEffect.h"

#include "effects/ParameterBounds.h"
#include "render/GLShader.h"

namespace Quorvane {
namespace Core {

// Luminance weights of HDTV (BT.709) primaries; the lower ramp below 0.5, the
// upper one from 0.5 up.
const char* const TritoneEffect::kFragmentShader =
    "#ifdef GL_ES\nprecision highp float;\n#endif\n"
    "varying vec2 textureCoords;\n"
    "uniform sampler2D texture;\n"
    "uniform vec4 black;\n"
    "uniform vec4 middleColor;\n"
    "uniform vec4 white;\n"
    "uniform float factor;\n"
    "const vec3 luminanceWeighting = vec3(0.2125, 0.7154, 0.0721);\n"
    "void main() {\n"
    "    vec4 c = texture2D(texture, textureCoords);\n"
    "    float luminance = dot(c.rgb, luminanceWeighting);\n"
    "    vec3 lower = mix(black.rgb, middleColor.rgb, luminance / 0.5);\n"
    "    vec3 upper = mix(middleColor.rgb, white.rgb, (luminance - 0.5) / 0.5);\n"
    "    vec3 tint = mix(lower, upper, step(0.5, luminance));\n"
    "    gl_FragColor = vec4(mix(tint, c.rgb, factor), c.a);\n"
    "}\n";

TritoneEffect::TritoneEffect(RenderLayer* layer)
    : RenderEffect(layer), mShader(newEffectShader(kEffectVertexShader, kFragmentShader)) {}

TritoneEffect::TritoneEffect(const TritoneEffect& other)
    : RenderEffect(other),
      mShader(newEffectShader(kEffectVertexShader, kFragmentShader)),
      mDataList(other.mDataList),
      mCurrent(other.mCurrent) {}

TritoneEffect::~TritoneEffect() {
    delete mShader;
}

void TritoneEffect::loadFromJson(const rapidjson::Value& item) {
    EffectRecords::load(item, parent(), EffectRecords::arrayOf(13), [this](const float* v) {
        DataPack pack;
        pack.black = Color(v[0], v[1], v[2], v[3]);
        pack.middle = Color(v[4], v[5], v[6], v[7]);
        pack.white = Color(v[8], v[9], v[10], v[11]);
        pack.factor = v[12];
        mDataList.push_back(pack);
    });
}

void TritoneEffect::prepareForFrame(long long frame) {
    EffectRecords::choose(mDataList, frame, mCurrent);
}

void TritoneEffect::drawSelf(unsigned int texture) {
    mQuad.drawFullScreen(mShader, texture, [this](GLShader& shader) {
        using ParameterBounds::bounded;
        shader.setUniform4f("black", bounded(mCurrent.black, 0.0f));
        shader.setUniform4f("middleColor", bounded(mCurrent.middle, 0.5f));
        shader.setUniform4f("white", bounded(mCurrent.white, 1.0f));
        shader.setUniform1f("factor", bounded(mCurrent.factor, 1.0f));
    });
}

}  // namespace Core
}  // namespace Quorvane
