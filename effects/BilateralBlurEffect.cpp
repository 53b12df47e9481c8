#include "effects/BilateralBlurEffect.h"

#include <cmath>

#include "render/GLShader.h"

namespace Quorvane {
namespace Core {

// SIGMA is the spatial deviation in pixels, BSIGMA the colour distance at
// which a neighbour's weight has fallen to exp(-1/2). bZ makes a neighbour of
// exactly the centre's colour weigh 1 in the colour term.
const char* const BilateralBlurEffect::kFragmentShader =
    "#ifdef GL_ES\nprecision highp float;\n#endif\n"
    "varying vec2 textureCoords;\n"
    "uniform sampler2D texture;\n"
    "uniform int blurSize;\n"
    "uniform vec2 viewSize;\n"
    "#define SIGMA 10.0\n"
    "#define BSIGMA 0.1\n"
    "#define MSIZE 30\n"
    "float normpdf(float x, float sigma) {\n"
    "    return 0.39894 * exp(-0.5 * x * x / (sigma * sigma)) / sigma;\n"
    "}\n"
    "float normpdf3(vec3 v, float sigma) {\n"
    "    return 0.39894 * exp(-0.5 * dot(v, v) / (sigma * sigma)) / sigma;\n"
    "}\n"
    "void main() {\n"
    "    vec4 c = texture2D(texture, textureCoords);\n"
    "    if (blurSize <= 0) {\n"
    "        gl_FragColor = c;\n"
    "        return;\n"
    "    }\n"
    "    int kSize = (blurSize - 1) / 2;\n"
    "    float kernel[MSIZE];\n"
    "    for (int j = 0; j <= kSize; ++j) {\n"
    "        kernel[kSize + j] = normpdf(float(j), SIGMA);\n"
    "        kernel[kSize - j] = kernel[kSize + j];\n"
    "    }\n"
    "    float bZ = 1.0 / normpdf(0.0, BSIGMA);\n"
    "    vec3 sum = vec3(0.0);\n"
    "    float Z = 0.0;\n"
    "    for (int i = -kSize; i <= kSize; ++i) {\n"
    "        for (int j = -kSize; j <= kSize; ++j) {\n"
    "            vec3 cc = texture2D(texture, (gl_FragCoord.xy + vec2(float(i), float(j))) / viewSize).rgb;\n"
    "            float w = normpdf3(cc - c.rgb, BSIGMA) * bZ * kernel[kSize + j] * kernel[kSize + i];\n"
    "            Z += w;\n"
    "            sum += w * cc;\n"
    "        }\n"
    "    }\n"
    "    gl_FragColor = vec4(sum / Z, c.a);\n"
    "}\n";

BilateralBlurEffect::BilateralBlurEffect(RenderLayer* layer)
    : RenderEffect(layer), mShader(newEffectShader(kEffectVertexShader, kFragmentShader)) {}

BilateralBlurEffect::BilateralBlurEffect(const BilateralBlurEffect& other)
    : RenderEffect(other),
      mShader(newEffectShader(kEffectVertexShader, kFragmentShader)),
      mDataList(other.mDataList) {}

BilateralBlurEffect::~BilateralBlurEffect() {
    delete mShader;
}

void BilateralBlurEffect::loadFromJson(const rapidjson::Value& item) {
    EffectRecords::load(item, parent(), EffectRecords::kNumber,
                        [this](const float* v) { mDataList.push_back(v[0]); });
}

void BilateralBlurEffect::prepareForFrame(long long frame) {
    EffectRecords::choose(mDataList, frame, mBlurSize);
}

int BilateralBlurEffect::windowSize() const {
    // Compared as a float first: converting a NaN or a float beyond the int
    // range is undefined behaviour.
    if (!(mBlurSize >= 1.0f)) return 0;
    if (mBlurSize >= static_cast<float>(kKernelSize)) return kKernelSize;
    return static_cast<int>(mBlurSize);
}

void BilateralBlurEffect::drawSelf(unsigned int texture) {
    mQuad.drawFullScreen(mShader, texture, [this](GLShader& shader) {
        shader.setUniform1i("blurSize", windowSize());
        shader.setUniform2f("viewSize", static_cast<float>(width()), static_cast<float>(height()));
    });
}

}  // namespace Core
}  // namespace Quorvane
