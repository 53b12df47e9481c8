// Recolours through a look-up image held by another layer of the same
// composition: blue picks one of 64 (type 1, 512 x 512) or 16 (type 2,
// 64 x 64) tiles, red and green the texel within it. "data" is an object:
// {"layer": index from the top or layer name, "type": 1 or 2,
//  "intensity": percent, or a data file of one percentage per frame}.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "effects/EffectCommon.h"
#include "render/RenderEffect.h"

namespace Quorvane {
namespace Core {

class LookUpImageEffect : public RenderEffect {
public:
    explicit LookUpImageEffect(RenderLayer* layer);
    // Takes the intensity records and the look-up layer's index, name and
    // type; the current intensity starts at 100 and the program is built at
    // the copy's first draw.
    LookUpImageEffect(const LookUpImageEffect& other);
    LookUpImageEffect& operator=(const LookUpImageEffect&) = delete;
    ~LookUpImageEffect() override;

    // Draws only with a texture, a type of 1 or 2 and a look-up layer whose
    // source texture exists; otherwise the output stays transparent.
    void drawSelf(unsigned int texture) override;
    void prepareForFrame(long long frame) override;
    void loadFromJson(const rapidjson::Value& item) override;
    // More than one intensity record, else whether the look-up layer animates.
    bool hasAnimation() override;
    std::string matchName() const override { return "ZR_Look_Up_Image"; }

    // By name (the composition's prefix followed by it) when one was loaded,
    // else by index counted from the top of the composition's list; null when
    // none is found.
    RenderLayer* getLayer() const;

    float intensity() const { return mIntensity; }
    int32_t lookUpType() const { return mType; }
    int32_t layerIndex() const { return mLayerIndex; }
    const std::string& layerName() const { return mLayerName; }
    GLShader* shader() const { return mShader; }

    // The fragment program of a type (1 or 2); empty for any other.
    static std::string fragmentShader(int32_t type);

private:
    GLShader* mShader = nullptr;
    EffectQuad mQuad;
    std::vector<float> mIntensityList;
    float mIntensity = 100.0f;
    int32_t mLayerIndex = -1;
    std::string mLayerName;
    int32_t mType = 1;
    bool mAskingLayer = false;  // hasAnimation is asking the look-up layer
};

}  // namespace Core
}  // namespace Quorvane
