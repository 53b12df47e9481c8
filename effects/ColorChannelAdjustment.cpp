#include "effects/ColorChannelAdjustment.h"

#include "effects/ParameterBounds.h"
#include "render/GLShader.h"

namespace Quorvane {
namespace Core {

// Luminance weights of HDTV (BT.709) primaries.
const char* const ColorChannelAdjustment::kFragmentShader =
    "#ifdef GL_ES\nprecision highp float;\n#endif\n"
    "varying vec2 textureCoords;\n"
    "uniform sampler2D texture;\n"
    "uniform float saturation;\n"
    "uniform vec3 channel;\n"
    "const vec3 luminanceWeighting = vec3(0.2125, 0.7154, 0.0721);\n"
    "float push(float component, float k) {\n"
    "    float toward = step(0.0, k);\n"
    "    return mix(component, toward, abs(k));\n"
    "}\n"
    "void main() {\n"
    "    vec4 c = texture2D(texture, textureCoords);\n"
    "    c.r = push(c.r, channel.r);\n"
    "    c.g = push(c.g, channel.g);\n"
    "    c.b = push(c.b, channel.b);\n"
    "    float luminance = dot(c.rgb, luminanceWeighting);\n"
    "    gl_FragColor = vec4(mix(vec3(luminance), c.rgb, saturation), c.a);\n"
    "}\n";

ColorChannelAdjustment::ColorChannelAdjustment(RenderLayer* layer)
    : RenderEffect(layer), mShader(newEffectShader(kEffectVertexShader, kFragmentShader)) {}

ColorChannelAdjustment::ColorChannelAdjustment(const ColorChannelAdjustment& other)
    : RenderEffect(other),
      mShader(newEffectShader(kEffectVertexShader, kFragmentShader)),
      mChannelList(other.mChannelList),
      mSaturationList(other.mSaturationList) {}

ColorChannelAdjustment::~ColorChannelAdjustment() {
    delete mShader;
}

void ColorChannelAdjustment::loadFromJson(const rapidjson::Value& item) {
    EffectRecords::load(item, parent(), EffectRecords::arrayOf(4), [this](const float* v) {
        mChannelList.emplace_back(v[0], v[1], v[2]);
        mSaturationList.push_back(v[3]);
    });
}

void ColorChannelAdjustment::prepareForFrame(long long frame) {
    EffectRecords::choose(mChannelList, frame, mChannel);
    EffectRecords::choose(mSaturationList, frame, mSaturation);
}

bool ColorChannelAdjustment::hasAnimation() {
    return mChannelList.size() > 1 || mSaturationList.size() > 1;
}

void ColorChannelAdjustment::drawSelf(unsigned int texture) {
    mQuad.drawFullScreen(mShader, texture, [this](GLShader& shader) {
        shader.setUniform3f("channel", ParameterBounds::bounded(mChannel, 0.0f));
        shader.setUniform1f("saturation", ParameterBounds::bounded(mSaturation, 1.0f));
    });
}

}  // namespace Core
}  // namespace Quorvane
