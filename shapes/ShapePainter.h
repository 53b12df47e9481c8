// The render pass that issues the GL calls of one brush of a drawable shape:
// a stencil-then-cover fill (even-odd rule) for any polygon set, a direct
// fill for one convex polygon, or a stroke strip. It draws into whatever
// destination is bound.
#pragma once

#include <cstdint>
#include <vector>

#include "core/Vector.h"
#include "render/RenderPass.h"
#include "shapes/FlattenShape.h"

namespace Quorvane {
namespace Core {

class Brush;
class BrushShader;
class DrawableShape;

class ShapePainter : public RenderPass {
public:
    enum Mode : int32_t {
        kStencilFill = 0,
        kConvexFill = 1,
        kStroke = 2,
    };

    // Reads the drawable's fill cache when isFill, else its stroke cache.
    ShapePainter(Brush* brush, DrawableShape* drawable, bool isFill);
    ~ShapePainter() override;
    ShapePainter(const ShapePainter&) = delete;
    ShapePainter& operator=(const ShapePainter&) = delete;

    void drawSelf(unsigned int texture) override;
    // Uniforms and geometry of the program.
    void submitShaderData(BrushShader* shader);

    Mode mode() const { return mMode; }
    bool skip() const { return mSkip; }
    float strokeMult() const { return mStrokeMult; }
    int coverOffset() const { return mCoverOffset; }
    BrushShader* brushShader() const { return mBrushShader; }
    BrushShader* stencilShader() const { return mStencilShader; }

private:
    void drawFill();
    void drawConvexFill();
    void drawStroke();
    void drawFans();
    void drawStrips();
    void disableAttributes(BrushShader* shader);

    DrawableShape* mDrawable;
    const std::vector<PathCache>* mPaths = nullptr;
    int32_t mCoverOffset = 0;
    int32_t mCoverCount = 0;
    const Range* mRangeStart = nullptr;
    Mode mMode = kStencilFill;
    bool mSkip = false;
    bool mAntiAlias = false;
    float mStrokeMult = 1.0f;
    Brush* mBrush;
    BrushShader* mBrushShader = nullptr;
    BrushShader* mStencilShader = nullptr;
    std::vector<float> mColorData;
    std::vector<float> mFragData;
};

}  // namespace Core
}  // namespace Quorvane
