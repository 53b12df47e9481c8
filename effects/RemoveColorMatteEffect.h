// Un-premultiplies the image against a matte colour, from one record per
// frame: [r, g, b, a] of the matte.
#pragma once

#include <string>
#include <vector>

#include "core/Color.h"
#include "effects/EffectCommon.h"
#include "render/RenderEffect.h"

namespace Quorvane {
namespace Core {

class RemoveColorMatteEffect : public RenderEffect {
public:
    explicit RemoveColorMatteEffect(RenderLayer* layer);
    // Copies the records and the current matte colour.
    RemoveColorMatteEffect(const RemoveColorMatteEffect& other);
    RemoveColorMatteEffect& operator=(const RemoveColorMatteEffect&) = delete;
    ~RemoveColorMatteEffect() override;

    void drawSelf(unsigned int texture) override;
    void prepareForFrame(long long frame) override;
    void loadFromJson(const rapidjson::Value& item) override;
    bool hasAnimation() override { return mDataList.size() > 1; }
    std::string matchName() const override { return "ADBE Remove Color Matting"; }

    const Color& color() const { return mColor; }
    const std::vector<Color>& records() const { return mDataList; }
    GLShader* shader() const { return mShader; }

    static const char* const kFragmentShader;

private:
    GLShader* mShader;
    EffectQuad mQuad;
    std::vector<Color> mDataList;
    Color mColor{0.0f, 0.0f, 0.0f, 1.0f};
};

}  // namespace Core
}  // namespace Quorvane
