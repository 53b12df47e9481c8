// Levels per colour channel: the input range is stretched to 0..1, bent by the
// channel's middle (gamma) and mapped onto the output range. Driven only by
// its setters; a template item loads nothing and renders the identity.
#pragma once

#include <string>

#include "core/Vector.h"
#include "effects/EffectCommon.h"
#include "render/RenderEffect.h"

namespace Quorvane {
namespace Core {

class LevelAdjustment : public RenderEffect {
public:
    // A middle of 0, or of a smaller size, is drawn as this (with its sign):
    // 1 / middle stays a finite exponent, so large that every input below 1
    // goes to 0 (or, negative, to the largest value).
    static constexpr float kSmallestMiddle = 1.0e-30f;

    explicit LevelAdjustment(RenderLayer* layer);
    // Copies every value.
    LevelAdjustment(const LevelAdjustment& other);
    LevelAdjustment& operator=(const LevelAdjustment&) = delete;
    ~LevelAdjustment() override;

    void drawSelf(unsigned int texture) override;
    bool hasAnimation() override { return false; }
    std::string matchName() const override { return "ZR_Level_Adjustment"; }

    void setRed(float min, float mid, float max, float minOutput, float maxOutput);
    void setGreen(float min, float mid, float max, float minOutput, float maxOutput);
    void setBlue(float min, float mid, float max, float minOutput, float maxOutput);
    void setRed(float min, float mid, float max) { setRed(min, mid, max, 0.0f, 1.0f); }
    void setGreen(float min, float mid, float max) { setGreen(min, mid, max, 0.0f, 1.0f); }
    void setBlue(float min, float mid, float max) { setBlue(min, mid, max, 0.0f, 1.0f); }
    void set(float min, float mid, float max, float minOutput, float maxOutput);
    void set(float min, float mid, float max) { set(min, mid, max, 0.0f, 1.0f); }

    const Vec3& levelMinimum() const { return mMinimum; }
    const Vec3& levelMiddle() const { return mMiddle; }
    const Vec3& levelMaximum() const { return mMaximum; }
    const Vec3& minOutput() const { return mMinOutput; }
    const Vec3& maxOutput() const { return mMaxOutput; }
    GLShader* shader() const { return mShader; }

    static const char* const kFragmentShader;

private:
    // The channel's component (0 red, 1 green, 2 blue) of the five values.
    void setChannel(int channel, float min, float mid, float max, float minOutput, float maxOutput);

    GLShader* mShader;
    EffectQuad mQuad;
    Vec3 mMinimum{0.0f, 0.0f, 0.0f};
    Vec3 mMiddle{1.0f, 1.0f, 1.0f};
    Vec3 mMaximum{1.0f, 1.0f, 1.0f};
    Vec3 mMinOutput{0.0f, 0.0f, 0.0f};
    Vec3 mMaxOutput{1.0f, 1.0f, 1.0f};
};

}  // namespace Core
}  // namespace Quorvane
