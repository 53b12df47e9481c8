#include "effects/HueAndSaturationEffect.h"

#include <cmath>

#include "core/Float.h"
#include "effects/ParameterBounds.h"
#include "render/GLShader.h"

namespace Quorvane {
namespace Core {

// RGB to YIQ (NTSC) and back; HDTV (BT.709) luminance weights for the
// saturation. GLSL leaves atan(0, 0) undefined (NaN on some GPUs): a colour
// without chroma (every grey) has no hue to turn and is left as it is.
const char* const HueAndSaturationEffect::kFragmentShader =
    "#ifdef GL_ES\nprecision highp float;\n#endif\n"
    "varying vec2 textureCoords;\n"
    "uniform sampler2D texture;\n"
    "uniform float hueAdjust;\n"
    "uniform float saturation;\n"
    "const vec4 kRGBToYPrime = vec4(0.299, 0.587, 0.114, 0.0);\n"
    "const vec4 kRGBToI = vec4(0.595716, -0.274453, -0.321263, 0.0);\n"
    "const vec4 kRGBToQ = vec4(0.211456, -0.522591, 0.31135, 0.0);\n"
    "const vec4 kYIQToR = vec4(1.0, 0.9563, 0.6210, 0.0);\n"
    "const vec4 kYIQToG = vec4(1.0, -0.2721, -0.6474, 0.0);\n"
    "const vec4 kYIQToB = vec4(1.0, -1.1070, 1.7046, 0.0);\n"
    "const vec3 luminanceWeighting = vec3(0.2125, 0.7154, 0.0721);\n"
    "void main() {\n"
    "    vec4 c = texture2D(texture, textureCoords);\n"
    "    float y = dot(c, kRGBToYPrime);\n"
    "    float i = dot(c, kRGBToI);\n"
    "    float q = dot(c, kRGBToQ);\n"
    "    float chroma = sqrt(i * i + q * q);\n"
    "    if (chroma > 0.0) {\n"
    "        float hue = atan(q, i) - hueAdjust;\n"
    "        i = chroma * cos(hue);\n"
    "        q = chroma * sin(hue);\n"
    "    }\n"
    "    vec4 yiq = vec4(y, i, q, 0.0);\n"
    "    vec3 rgb = vec3(dot(yiq, kYIQToR), dot(yiq, kYIQToG), dot(yiq, kYIQToB));\n"
    "    float luminance = dot(rgb, luminanceWeighting);\n"
    "    gl_FragColor = vec4(mix(vec3(luminance), rgb, saturation), c.a);\n"
    "}\n";

HueAndSaturationEffect::HueAndSaturationEffect(RenderLayer* layer)
    : RenderEffect(layer), mShader(newEffectShader(kEffectVertexShader, kFragmentShader)) {}

HueAndSaturationEffect::HueAndSaturationEffect(const HueAndSaturationEffect& other)
    : RenderEffect(other),
      mShader(newEffectShader(kEffectVertexShader, kFragmentShader)),
      mHueList(other.mHueList),
      mSaturationList(other.mSaturationList) {}

HueAndSaturationEffect::~HueAndSaturationEffect() {
    delete mShader;
}

void HueAndSaturationEffect::loadFromJson(const rapidjson::Value& item) {
    EffectRecords::load(item, parent(), EffectRecords::arrayOf(2), [this](const float* v) {
        mHueList.push_back(v[0]);
        mSaturationList.push_back(v[1]);
    });
}

void HueAndSaturationEffect::prepareForFrame(long long frame) {
    EffectRecords::choose(mHueList, frame, mHue);
    EffectRecords::choose(mSaturationList, frame, mSaturation);
}

float HueAndSaturationEffect::hueAdjust() const {
    // fmodf of an infinity is NaN; every finite hue reduces exactly.
    if (!std::isfinite(mHue)) return 0.0f;
    return std::fmod(mHue, 360.0f) * Float::degreesToRadiansFactor;
}

void HueAndSaturationEffect::drawSelf(unsigned int texture) {
    mQuad.drawFullScreen(mShader, texture, [this](GLShader& shader) {
        shader.setUniform1f("hueAdjust", hueAdjust());
        shader.setUniform1f("saturation", ParameterBounds::bounded(mSaturation, 1.0f));
    });
}

}  // namespace Core
}  // namespace Quorvane
