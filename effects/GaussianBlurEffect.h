// Separable Gaussian blur whose GLSL program is generated for the blur amount:
// the weights and offsets are written into the texts as literals, and each
// linearly filtered read stands for two taps. Vertical pass into an
// intermediate destination, horizontal pass into the effect's own one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "effects/EffectCommon.h"
#include "render/RenderEffect.h"

namespace Quorvane {
namespace Core {

class GLRenderDestination;

class GaussianBlurEffect : public RenderEffect {
public:
    // Sample radius from 55 to 69 px, the peak of the radius formula; amounts
    // from 103 px up, where the formula has no real root, get it as well.
    static constexpr int64_t kLargestSampleRadius = 62;
    // Rounded amounts are held within +-1e6 px: beyond that all weights are
    // equal to float precision anyway, and an infinite sigma would turn the
    // normalised weights into NaN.
    static constexpr float kLargestAmount = 1.0e6f;

    explicit GaussianBlurEffect(RenderLayer* layer);
    // Copies the records and the amount; starts without program, buffer or
    // intermediate destination.
    GaussianBlurEffect(const GaussianBlurEffect& other);
    GaussianBlurEffect& operator=(const GaussianBlurEffect&) = delete;
    ~GaussianBlurEffect() override;

    void drawSelf(unsigned int texture) override;
    // Deletes the intermediate destination only; the own one stays.
    void unprepare() override;
    void prepareForFrame(long long frame) override;
    void loadFromJson(const rapidjson::Value& item) override;
    bool hasAnimation() override { return mDataList.size() > 1; }
    std::string matchName() const override { return "ZR_Gaussian_Blur"; }

    // Rounds the amount (halves away from zero); a rounded value equal to the
    // current one changes nothing, any other recomputes sigma and radius and
    // asks for a new program at the next draw.
    void setBlurScale(float pixels);
    void calculateSampleRadiusAndSigmaFromPixel(float pixels);
    std::string getVertexFunction() const;
    std::string getFragmentFunction() const;

    int64_t sampleRadius() const { return mSampleRadius; }
    float sigma() const { return mSigma; }
    float blurPixels() const { return mBlurPixels; }
    bool shaderDirty() const { return mShaderDirty; }
    const std::vector<float>& records() const { return mDataList; }
    GLRenderDestination* intermediateDestination() const { return mIntermediateDestination; }

private:
    // The passes' weights: w_0 and, per pair of taps, its weight and offset.
    struct Kernel {
        float centre = 0;
        std::vector<float> pairWeights;
        std::vector<float> pairOffsets;
        size_t varyingPairs = 0;  // pairs read through varyings, at most 7
    };
    Kernel kernel() const;
    void drawPass(GLShader& shader, unsigned int texture, float texelX, float texelY);

    GLShader* mShader = nullptr;
    EffectQuad mQuad;
    std::vector<float> mDataList;
    GLRenderDestination* mIntermediateDestination = nullptr;
    int64_t mSampleRadius = 4;
    float mSigma = 2.0f;
    float mBlurPixels = 2.0f;
    bool mShaderDirty = true;
};

}  // namespace Core
}  // namespace Quorvane
