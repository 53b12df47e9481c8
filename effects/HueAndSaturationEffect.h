// Turns the hue (a rotation in the YIQ colour plane) and scales the saturation,
// from one record per frame: [hue in degrees, saturation factor].
#pragma once

#include <string>
#include <vector>

#include "effects/EffectCommon.h"
#include "render/RenderEffect.h"

namespace Quorvane {
namespace Core {

class HueAndSaturationEffect : public RenderEffect {
public:
    explicit HueAndSaturationEffect(RenderLayer* layer);
    // Takes the records; the current values start at the defaults.
    HueAndSaturationEffect(const HueAndSaturationEffect& other);
    HueAndSaturationEffect& operator=(const HueAndSaturationEffect&) = delete;
    ~HueAndSaturationEffect() override;

    void drawSelf(unsigned int texture) override;
    void prepareForFrame(long long frame) override;
    void loadFromJson(const rapidjson::Value& item) override;
    bool hasAnimation() override { return mHueList.size() > 1 || mSaturationList.size() > 1; }
    std::string matchName() const override { return "ZR_Hue_And_Saturation"; }

    float hue() const { return mHue; }
    float saturation() const { return mSaturation; }
    // The "hueAdjust" uniform: the hue reduced modulo 360 (keeping its sign),
    // in radians; 0 for a hue that is not finite.
    float hueAdjust() const;
    GLShader* shader() const { return mShader; }

    static const char* const kFragmentShader;

private:
    GLShader* mShader;
    EffectQuad mQuad;
    std::vector<float> mHueList;
    std::vector<float> mSaturationList;
    // Neutral until a record comes (a default of one degree would turn every
    // layer without hue record slightly).
    float mHue = 0.0f;
    float mSaturation = 1.0f;
};

}  // namespace Core
}  // namespace Quorvane
