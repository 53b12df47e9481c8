// Fades the image toward a colour outside a circle around a centre, from one
// record per frame: [centre x, centre y (layer pixels), r, g, b, a,
// start, end (percent of the texture)].
#pragma once

#include <string>
#include <vector>

#include "core/Color.h"
#include "core/Vector.h"
#include "effects/EffectCommon.h"
#include "render/RenderEffect.h"

namespace Quorvane {
namespace Core {

class VignetteEffect : public RenderEffect {
public:
    // Start and end of an effect that has no record yet: a circle far beyond
    // every texel, so that it leaves the image unchanged.
    static constexpr float kNoVignette = 10000.0f;

    struct AnimationData {
        Vec2 center;
        Color color;
        float start = kNoVignette;
        float end = kNoVignette;
    };

    explicit VignetteEffect(RenderLayer* layer);
    // Copies the records; the current values start at the defaults.
    VignetteEffect(const VignetteEffect& other);
    VignetteEffect& operator=(const VignetteEffect&) = delete;
    ~VignetteEffect() override;

    void drawSelf(unsigned int texture) override;
    void prepareForFrame(long long frame) override;
    void loadFromJson(const rapidjson::Value& item) override;
    bool hasAnimation() override { return mDataList.size() > 1; }
    std::string matchName() const override { return "ZR_Vignette"; }

    const AnimationData& current() const { return mCurrent; }
    const std::vector<AnimationData>& records() const { return mDataList; }
    GLShader* shader() const { return mShader; }

    static const char* const kFragmentShader;

private:
    GLShader* mShader;
    EffectQuad mQuad;
    std::vector<AnimationData> mDataList;
    AnimationData mCurrent;
};

}  // namespace Core
}  // namespace Quorvane
