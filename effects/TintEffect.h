// Maps luminance onto a ramp from a black colour to a white colour, mixed in
// by an amount, from one record per frame: [black r, g, b, a,
// white r, g, b, a, amount 0..1].
#pragma once

#include <string>
#include <vector>

#include "core/Color.h"
#include "effects/EffectCommon.h"
#include "render/RenderEffect.h"

namespace Quorvane {
namespace Core {

class TintEffect : public RenderEffect {
public:
    struct DataPack {
        Color black{0.0f, 0.0f, 0.0f, 1.0f};
        Color white{1.0f, 1.0f, 1.0f, 1.0f};
        float factor = 1.0f;
    };

    explicit TintEffect(RenderLayer* layer);
    // Copies the records and the current values.
    TintEffect(const TintEffect& other);
    TintEffect& operator=(const TintEffect&) = delete;
    ~TintEffect() override;

    void drawSelf(unsigned int texture) override;
    void prepareForFrame(long long frame) override;
    void loadFromJson(const rapidjson::Value& item) override;
    bool hasAnimation() override { return mDataList.size() > 1; }
    std::string matchName() const override { return "ADBE Tint"; }

    const DataPack& current() const { return mCurrent; }
    const std::vector<DataPack>& records() const { return mDataList; }
    GLShader* shader() const { return mShader; }

    static const char* const kFragmentShader;

private:
    GLShader* mShader;
    EffectQuad mQuad;
    std::vector<DataPack> mDataList;
    DataPack mCurrent;
};

}  // namespace Core
}  // namespace Quorvane
