// Keys out a colour by its chroma (BT.709 Cb, Cr): pixels near the key colour
// become transparent, with a soft edge and spill reduction toward grey. Driven
// only by its setters; a template item loads nothing and keys out green.
#pragma once

#include <string>

#include "core/Color.h"
#include "core/Vector.h"
#include "effects/EffectCommon.h"
#include "render/RenderEffect.h"

namespace Quorvane {
namespace Core {

class ChromaKeyEffect : public RenderEffect {
public:
    explicit ChromaKeyEffect(RenderLayer* layer);
    // Copies every value.
    ChromaKeyEffect(const ChromaKeyEffect& other);
    ChromaKeyEffect& operator=(const ChromaKeyEffect&) = delete;
    ~ChromaKeyEffect() override;

    void drawSelf(unsigned int texture) override;
    bool hasAnimation() override { return false; }
    std::string matchName() const override { return "ZR_Chroma_Key"; }

    // Stores the colour and its chroma. Components that are not finite numbers
    // are held as ParameterBounds does (a NaN becomes 0).
    void setKeyColor(const Color& color);
    // In thousandths, clamped to 1..1000; a NaN changes nothing.
    void setSimilarity(float similarity);
    void setSmoothness(float smoothness);
    void setSpillReduce(float spill);

    // (Cb, Cr) of a colour, limited range.
    static Vec2 chromaOf(const Color& color);

    const Color& keyColor() const { return mKeyColor; }
    const Vec2& keyChroma() const { return mKeyChroma; }
    float similarity() const { return mSimilarity; }
    float smoothness() const { return mSmoothness; }
    float spillReduce() const { return mSpillReduce; }
    GLShader* shader() const { return mShader; }

    static const char* const kFragmentShader;

private:
    GLShader* mShader;
    EffectQuad mQuad;
    Vec2 mKeyChroma;
    Color mKeyColor;
    float mSimilarity = 150.0f;
    float mSmoothness = 70.0f;
    float mSpillReduce = 300.0f;
};

}  // namespace Core
}  // namespace Quorvane
