// Raises every colour component to a power, from one record per frame: the
// exponent itself (2 darkens the mid-tones).
#pragma once

#include <string>
#include <vector>

#include "effects/EffectCommon.h"
#include "render/RenderEffect.h"

namespace Quorvane {
namespace Core {

class GammaEffect : public RenderEffect {
public:
    explicit GammaEffect(RenderLayer* layer);
    // Takes the records; the current gamma starts at 1.
    GammaEffect(const GammaEffect& other);
    GammaEffect& operator=(const GammaEffect&) = delete;
    ~GammaEffect() override;

    void drawSelf(unsigned int texture) override;
    void prepareForFrame(long long frame) override;
    void loadFromJson(const rapidjson::Value& item) override;
    bool hasAnimation() override { return mGammaList.size() > 1; }
    std::string matchName() const override { return "ZR_Gamma"; }

    float gamma() const { return mGamma; }
    GLShader* shader() const { return mShader; }

    static const char* const kFragmentShader;

private:
    GLShader* mShader;
    EffectQuad mQuad;
    std::vector<float> mGammaList;
    float mGamma = 1.0f;
};

}  // namespace Core
}  // namespace Quorvane
