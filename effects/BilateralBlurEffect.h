// Edge-preserving blur: a spatial Gaussian over a square window, each
// neighbour weighted by how close its colour is to the centre's. One record
// per frame: the window width in pixels.
#pragma once

#include <string>
#include <vector>

#include "effects/EffectCommon.h"
#include "render/RenderEffect.h"

namespace Quorvane {
namespace Core {

class BilateralBlurEffect : public RenderEffect {
public:
    // Entries of the shader's kernel array: window widths above it would
    // index past the array, so the width handed to the shader is held within
    // 0..kKernelSize (29 x 29 taps at most).
    static constexpr int kKernelSize = 30;

    explicit BilateralBlurEffect(RenderLayer* layer);
    // Copies the records; the current size starts at 0 (a plain copy).
    BilateralBlurEffect(const BilateralBlurEffect& other);
    BilateralBlurEffect& operator=(const BilateralBlurEffect&) = delete;
    ~BilateralBlurEffect() override;

    void drawSelf(unsigned int texture) override;
    void prepareForFrame(long long frame) override;
    void loadFromJson(const rapidjson::Value& item) override;
    bool hasAnimation() override { return mDataList.size() > 1; }
    std::string matchName() const override { return "ZR_Bilateral_Blur"; }

    // Stored as given; a later prepareForFrame with records overwrites it.
    void setBlurScale(float size) { mBlurSize = size; }
    float blurSize() const { return mBlurSize; }
    // The "blurSize" uniform: the size truncated toward zero and held within
    // 0..kKernelSize (a NaN gives 0).
    int windowSize() const;
    const std::vector<float>& records() const { return mDataList; }
    GLShader* shader() const { return mShader; }

    static const char* const kFragmentShader;

private:
    GLShader* mShader;
    EffectQuad mQuad;
    std::vector<float> mDataList;
    float mBlurSize = 0.0f;
};

}  // namespace Core
}  // namespace Quorvane
