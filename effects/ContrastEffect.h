// Scales every colour around mid-grey and adds a brightness, from one record
// per frame: [contrast factor, brightness in percent].
#pragma once

#include <string>
#include <vector>

#include "effects/EffectCommon.h"
#include "render/RenderEffect.h"

namespace Quorvane {
namespace Core {

class ContrastEffect : public RenderEffect {
public:
    explicit ContrastEffect(RenderLayer* layer);
    // Takes the records; the current values start at the defaults.
    ContrastEffect(const ContrastEffect& other);
    ContrastEffect& operator=(const ContrastEffect&) = delete;
    ~ContrastEffect() override;

    void drawSelf(unsigned int texture) override;
    void prepareForFrame(long long frame) override;
    void loadFromJson(const rapidjson::Value& item) override;
    bool hasAnimation() override { return mContrastList.size() > 1 || mBrightnessList.size() > 1; }
    std::string matchName() const override { return "ZR_Contrast"; }

    float contrast() const { return mContrast; }
    float brightness() const { return mBrightness; }
    GLShader* shader() const { return mShader; }

    static const char* const kFragmentShader;

private:
    GLShader* mShader;
    EffectQuad mQuad;
    std::vector<float> mContrastList;
    std::vector<float> mBrightnessList;
    float mContrast = 1.0f;
    // Neutral until a record comes: a default of 100 percent would lift every
    // component by 1.0 and turn a layer without brightness record white.
    float mBrightness = 0.0f;
};

}  // namespace Core
}  // namespace Quorvane
