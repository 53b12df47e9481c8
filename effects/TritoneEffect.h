// Maps luminance onto a three-colour ramp (black, middle, white) and blends
// the input back in, from one record per frame: [black r, g, b, a,
// middle r, g, b, a, white r, g, b, a, share of the input 0..1].
#pragma once

#include <string>
#include <vector>

#include "core/Color.h"
#include "effects/EffectCommon.h"
#include "render/RenderEffect.h"

namespace Quorvane {
namespace Core {

class TritoneEffect : public RenderEffect {
public:
    struct DataPack {
        Color black{0.0f, 0.0f, 0.0f, 1.0f};
        Color middle{0.5f, 0.5f, 0.5f, 1.0f};
        Color white{1.0f, 1.0f, 1.0f, 1.0f};
        float factor = 1.0f;
    };

    explicit TritoneEffect(RenderLayer* layer);
    // Copies the records and the current values.
    TritoneEffect(const TritoneEffect& other);
    TritoneEffect& operator=(const TritoneEffect&) = delete;
    ~TritoneEffect() override;

    void drawSelf(unsigned int texture) override;
    void prepareForFrame(long long frame) override;
    void loadFromJson(const rapidjson::Value& item) override;
    bool hasAnimation() override { return mDataList.size() > 1; }
    std::string matchName() const override { return "ADBE Tritone"; }

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
