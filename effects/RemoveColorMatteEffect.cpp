#include "effects/RemoveColorMatteEffect.h"

#include "effects/ParameterBounds.h"
#include "render/GLShader.h"

namespace Quorvane {
namespace Core {

const char* const RemoveColorMatteEffect::kFragmentShader =
    "#ifdef GL_ES\nprecision highp float;\n#endif\n"
    "varying vec2 textureCoords;\n"
    "uniform sampler2D texture;\n"
    "uniform vec4 color;\n"
    "void main() {\n"
    "    vec4 c = texture2D(texture, textureCoords);\n"
    "    if (c.a > 0.0) c.rgb = (c.rgb - (1.0 - c.a) * color.rgb) / c.a;\n"
    "    gl_FragColor = c;\n"
    "}\n";

RemoveColorMatteEffect::RemoveColorMatteEffect(RenderLayer* layer)
    : RenderEffect(layer), mShader(newEffectShader(kEffectVertexShader, kFragmentShader)) {}

RemoveColorMatteEffect::RemoveColorMatteEffect(const RemoveColorMatteEffect& other)
    : RenderEffect(other),
      mShader(newEffectShader(kEffectVertexShader, kFragmentShader)),
      mDataList(other.mDataList),
      mColor(other.mColor) {}

RemoveColorMatteEffect::~RemoveColorMatteEffect() {
    delete mShader;
}

void RemoveColorMatteEffect::loadFromJson(const rapidjson::Value& item) {
    EffectRecords::load(item, parent(), EffectRecords::arrayOf(4),
                        [this](const float* v) { mDataList.emplace_back(v[0], v[1], v[2], v[3]); });
}

void RemoveColorMatteEffect::prepareForFrame(long long frame) {
    EffectRecords::choose(mDataList, frame, mColor);
}

void RemoveColorMatteEffect::drawSelf(unsigned int texture) {
    mQuad.drawFullScreen(mShader, texture, [this](GLShader& shader) {
        shader.setUniform4f("color", ParameterBounds::bounded(mColor, 0.0f));
    });
}

}  // namespace Core
}  // namespace Quorvane
