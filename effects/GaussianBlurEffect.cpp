#include "effects/GaussianBlurEffect.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "core/Float.h"
#include "render/FullScreenRenderPass.h"
#include "render/GLFrameBufferManager.h"
#include "render/GLRenderDestination.h"
#include "render/GLShader.h"

namespace Quorvane {
namespace Core {

namespace {

// At most this many pairs of taps travel from the vertex shader as varyings.
constexpr size_t kMaxVaryingPairs = 7;

// roundf, with NaN taken as 0 and the result held within the largest amount.
float roundedAmount(float pixels) {
    if (std::isnan(pixels)) return 0.0f;
    return std::clamp(std::round(pixels), -GaussianBlurEffect::kLargestAmount,
                      GaussianBlurEffect::kLargestAmount);
}

// Floats go into the texts widened to double through a default stream: six
// significant digits in the general notation.
double lit(float f) {
    return static_cast<double>(f);
}

}  // namespace

GaussianBlurEffect::GaussianBlurEffect(RenderLayer* layer) : RenderEffect(layer) {}

GaussianBlurEffect::GaussianBlurEffect(const GaussianBlurEffect& other)
    : RenderEffect(other),
      mDataList(other.mDataList),
      mSampleRadius(other.mSampleRadius),
      mSigma(other.mSigma),
      mBlurPixels(other.mBlurPixels),
      mShaderDirty(true) {
    if (mBlurPixels != 2.0f) calculateSampleRadiusAndSigmaFromPixel(mBlurPixels);
}

GaussianBlurEffect::~GaussianBlurEffect() {
    delete mShader;
    delete mIntermediateDestination;
}

void GaussianBlurEffect::unprepare() {
    delete mIntermediateDestination;
    mIntermediateDestination = nullptr;
}

void GaussianBlurEffect::loadFromJson(const rapidjson::Value& item) {
    EffectRecords::load(item, parent(), EffectRecords::kNumber,
                        [this](const float* v) { mDataList.push_back(v[0]); });
}

void GaussianBlurEffect::prepareForFrame(long long frame) {
    if (mDataList.empty()) return;
    float amount = mBlurPixels;
    EffectRecords::choose(mDataList, frame, amount);
    setBlurScale(amount);
}

void GaussianBlurEffect::setBlurScale(float pixels) {
    if (roundedAmount(pixels) == mBlurPixels) return;
    calculateSampleRadiusAndSigmaFromPixel(pixels);
    mShaderDirty = true;
}

void GaussianBlurEffect::calculateSampleRadiusAndSigmaFromPixel(float pixels) {
    const float r = roundedAmount(pixels);
    mBlurPixels = r;
    mSigma = r;
    if (!(r >= 1.0f)) {
        mSampleRadius = 0;
        return;
    }
    // The radius where the unnormalised density falls to 1/256.
    const float a = std::sqrt(2.0f * Float::pi * r * r) * 0.00390625f;
    const float b = -2.0f * r * r * std::log(a);
    if (!(b > 0.0f)) {
        // From 103 px up the density never falls that far: sqrt of a negative.
        mSampleRadius = kLargestSampleRadius;
        return;
    }
    const auto n = static_cast<int32_t>(std::floor(std::sqrt(b)));
    mSampleRadius = n + (n % 2);
}

GaussianBlurEffect::Kernel GaussianBlurEffect::kernel() const {
    Kernel k;
    const int64_t radius = mSampleRadius;
    // Two taps past the radius stay 0, so an odd radius pairs its last tap
    // with nothing.
    std::vector<float> w(static_cast<size_t>(radius) + 2, 0.0f);
    const float norm = 1.0f / std::sqrt(2.0f * Float::pi * mSigma * mSigma);
    float total = 0.0f;
    for (int64_t i = 0; i <= radius; ++i) {
        const float fi = static_cast<float>(i);
        w[i] = std::exp(-(fi * fi) / (2.0f * mSigma * mSigma)) * norm;
        total += i == 0 ? w[i] : 2.0f * w[i];
    }
    for (float& weight : w) weight /= total;
    k.centre = w[0];
    const int64_t pairs = radius / 2 + radius % 2;
    for (int64_t j = 0; j < pairs; ++j) {
        const float w1 = w[2 * j + 1];
        const float w2 = w[2 * j + 2];
        const float weight = w1 + w2;
        k.pairWeights.push_back(weight);
        k.pairOffsets.push_back((static_cast<float>(2 * j + 1) * w1 + static_cast<float>(2 * j + 2) * w2) /
                                weight);
    }
    k.varyingPairs = std::min(k.pairWeights.size(), kMaxVaryingPairs);
    return k;
}

std::string GaussianBlurEffect::getVertexFunction() const {
    if (mSampleRadius < 1) return FullScreenRenderPass::kCopyVertex;
    const Kernel k = kernel();
    std::ostringstream os;
    os << "attribute vec2 position;\n attribute vec2 inCoords;\n varying vec2 textureCoords;\n uniform vec2 "
          "texelOffset;\nuniform vec2 viewSize;\n";
    os << "varying vec2 blurCoordinates[" << 2 * k.varyingPairs + 1 << "];\n";
    os << "void main(){\n    vec2 singleStepOffset = vec2(texelOffset.x / viewSize.x, texelOffset.y / "
          "viewSize.y);\n    blurCoordinates[0] = inCoords.xy;\n";
    for (size_t j = 0; j < k.varyingPairs; ++j) {
        os << "    blurCoordinates[" << 2 * j + 1 << "] = inCoords.xy + singleStepOffset * "
           << lit(k.pairOffsets[j]) << ";\n";
        os << "    blurCoordinates[" << 2 * j + 2 << "] = inCoords.xy - singleStepOffset * "
           << lit(k.pairOffsets[j]) << ";\n";
    }
    os << "textureCoords = inCoords; gl_Position = vec4(position, 0.0, 1.0); }";
    return os.str();
}

std::string GaussianBlurEffect::getFragmentFunction() const {
    if (mSampleRadius < 1) return FullScreenRenderPass::kCopyFragment;
    const Kernel k = kernel();
    std::ostringstream os;
    os << "#ifdef GL_ES\nprecision highp float;\n#endif\n varying vec2 textureCoords;\n uniform sampler2D "
          "texture;\nuniform vec2 texelOffset;\nuniform vec2 viewSize;\n";
    os << "varying vec2 blurCoordinates[" << 2 * k.varyingPairs + 1 << "];\n";
    os << "void main() {\n    lowp vec4 sum = vec4(0.0);\n";
    os << "    sum += texture2D(texture, blurCoordinates[0]) * " << lit(k.centre) << ";\n";
    for (size_t j = 0; j < k.varyingPairs; ++j) {
        os << "    sum += texture2D(texture, blurCoordinates[" << 2 * j + 1 << "]) * "
           << lit(k.pairWeights[j]) << ";\n";
        os << "    sum += texture2D(texture, blurCoordinates[" << 2 * j + 2 << "]) * "
           << lit(k.pairWeights[j]) << ";\n";
    }
    if (k.pairWeights.size() > k.varyingPairs) {
        os << "    vec2 singlStepOffset = vec2(texelOffset.x / viewSize.x, texelOffset.y / viewSize.y);\n";
        for (size_t j = k.varyingPairs; j < k.pairWeights.size(); ++j) {
            os << "    sum += texture2D(texture, blurCoordinates[0] + singlStepOffset *"
               << lit(k.pairOffsets[j]) << ") * " << lit(k.pairWeights[j]) << ";\n";
            os << "    sum += texture2D(texture, blurCoordinates[0] - singlStepOffset *"
               << lit(k.pairOffsets[j]) << ") * " << lit(k.pairWeights[j]) << ";\n";
        }
    }
    os << "    gl_FragColor = sum;\n}\n";
    return os.str();
}

void GaussianBlurEffect::drawPass(GLShader& shader, unsigned int texture, float texelX, float texelY) {
    shader.setUniform2f("texelOffset", texelX, texelY);
    shader.setUniformTexture("texture", GL_TEXTURE_2D, static_cast<int>(texture), 0);
    mQuad.drawStrip();
}

void GaussianBlurEffect::drawSelf(unsigned int texture) {
    if (texture == 0) return;
    mQuad.ensureBuffer();
    if (mShaderDirty || !mShader) {
        delete mShader;
        mShader = newEffectShader(getVertexFunction(), getFragmentFunction());
        mShaderDirty = false;
    }
    glDisable(GL_BLEND);

    if (mSampleRadius < 1) {
        mShader->useProgram();
        mQuad.bindAttributes();
        mShader->setUniformTexture("texture", GL_TEXTURE_2D, static_cast<int>(texture), 0);
        mQuad.drawStrip();
        mQuad.unbindAttributes();
        return;
    }

    GLFrameBufferManager* manager = frameBufferManager();
    if (!manager) return;
    const int w = width();
    const int h = height();
    if (mIntermediateDestination && mIntermediateDestination->width() == w &&
        mIntermediateDestination->height() == h) {
        manager->pushDestination(mIntermediateDestination);
    } else {
        delete mIntermediateDestination;
        mIntermediateDestination = manager->pushDestination(w, h);
    }

    mShader->useProgram();
    mQuad.bindAttributes();
    mShader->setUniform2f("viewSize", static_cast<float>(w), static_cast<float>(h));
    drawPass(*mShader, texture, 0.0f, 1.0f);

    // Back on the own destination, which the pass's draw has bound.
    manager->popDestination(false);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    drawPass(*mShader, mIntermediateDestination->grabTextureForRead(true), 1.0f, 0.0f);
    mQuad.unbindAttributes();
}

}  // namespace Core
}  // namespace Quorvane
