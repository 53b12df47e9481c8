// Pushes each colour channel toward 1 or 0 and scales the saturation, from one
// record per frame: [red push, green push, blue push, saturation].
#pragma once

#include <string>
#include <vector>

#include "core/Vector.h"
#include "effects/EffectCommon.h"
#include "render/RenderEffect.h"

namespace Quorvane {
namespace Core {

class ColorChannelAdjustment : public RenderEffect {
public:
    explicit ColorChannelAdjustment(RenderLayer* layer);
    // Takes the records; the current values start at the defaults and a new
    // shader object is made.
    ColorChannelAdjustment(const ColorChannelAdjustment& other);
    ColorChannelAdjustment& operator=(const ColorChannelAdjustment&) = delete;
    ~ColorChannelAdjustment() override;

    void drawSelf(unsigned int texture) override;
    void prepareForFrame(long long frame) override;
    void loadFromJson(const rapidjson::Value& item) override;
    bool hasAnimation() override;
    std::string matchName() const override { return "ZR_Color_Channel_Adjustment"; }

    // Current values only; the next prepareForFrame of an effect with records
    // overwrites them.
    void setChannel(const Vec3& channel) { mChannel = channel; }
    void setSaturation(float saturation) { mSaturation = saturation; }
    const Vec3& channel() const { return mChannel; }
    float saturation() const { return mSaturation; }

    static const char* const kFragmentShader;

private:
    GLShader* mShader;
    EffectQuad mQuad;
    std::vector<Vec3> mChannelList;
    std::vector<float> mSaturationList;
    Vec3 mChannel{0, 0, 0};
    float mSaturation = 1.0f;
};

}  // namespace Core
}  // namespace Quorvane
