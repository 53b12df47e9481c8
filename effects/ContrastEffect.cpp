#include "effects/ContrastEffect.h"

#include "effects/ParameterBounds.h"
#include "render/GLShader.h"

namespace Quorvane {
namespace Core {

const char* const ContrastEffect::kFragmentShader =
    "#ifdef GL_ES\nprecision highp float;\n#endif\n"
    "varying vec2 textureCoords;\n"
    "uniform sampler2D texture;\n"
    "uniform float contrast;\n"
    "uniform float brightness;\n"
    "void main() {\n"
    "    vec4 c = texture2D(texture, textureCoords);\n"
    "    vec3 rgb = (c.rgb - 0.5) * contrast + 0.5;\n"
    "    gl_FragColor = vec4(rgb + brightness, c.a);\n"
    "}\n";

ContrastEffect::ContrastEffect(RenderLayer* layer)
    : RenderEffect(layer), mShader(newEffectShader(kEffectVertexShader, kFragmentShader)) {}

ContrastEffect::ContrastEffect(const ContrastEffect& other)
    : RenderEffect(other),
      mShader(newEffectShader(kEffectVertexShader, kFragmentShader)),
      mContrastList(other.mContrastList),
      mBrightnessList(other.mBrightnessList) {}

ContrastEffect::~ContrastEffect() {
    delete mShader;
}

void ContrastEffect::loadFromJson(const rapidjson::Value& item) {
    EffectRecords::load(item, parent(), EffectRecords::arrayOf(2), [this](const float* v) {
        mContrastList.push_back(v[0]);
        mBrightnessList.push_back(v[1]);
    });
}

void ContrastEffect::prepareForFrame(long long frame) {
    EffectRecords::choose(mContrastList, frame, mContrast);
    EffectRecords::choose(mBrightnessList, frame, mBrightness);
}

void ContrastEffect::drawSelf(unsigned int texture) {
    mQuad.drawFullScreen(mShader, texture, [this](GLShader& shader) {
        shader.setUniform1f("contrast", ParameterBounds::bounded(mContrast, 1.0f));
        shader.setUniform1f("brightness", ParameterBounds::bounded(mBrightness, 0.0f) / 100.0f);
    });
}

}  // namespace Core
}  // namespace Quorvane
