// Maps the whole layer image onto a quadrilateral given by four corner points
// per frame, with perspective-correct texture coordinates and an anti-aliased
// outline, and enlarges the layer to the bounding box of the pinned quad.
// Also home of what the other layer-space warps share with it: the projective
// coordinates of a quad, the vertex text and the uniforms that place layer
// pixels into the (possibly enlarged) destination.
#pragma once

#include <string>
#include <vector>

#include "core/Matrix.h"
#include "core/Rect.h"
#include "core/Vector.h"
#include "effects/EffectCommon.h"
#include "render/PolygonEdgeBuilder.h"
#include "render/RenderEffect.h"

namespace Quorvane {
namespace Core {

class CornerPinEffect : public RenderEffect {
public:
    // One frame of the pin, in layer pixels (top-left origin, y down).
    struct CornerPinData {
        // Arguments bottom left, bottom right, top right, top left; stored in
        // the order tl, tr, br, bl with their projective texture coordinates.
        CornerPinData(const Vec2& bl, const Vec2& br, const Vec2& tr, const Vec2& tl);

        const Vec2& tl() const { return vertices[0]; }
        const Vec2& tr() const { return vertices[1]; }
        const Vec2& br() const { return vertices[2]; }
        const Vec2& bl() const { return vertices[3]; }
        const Vec3& ttl() const { return textureCoords[0]; }
        const Vec3& ttr() const { return textureCoords[1]; }
        const Vec3& tbr() const { return textureCoords[2]; }
        const Vec3& tbl() const { return textureCoords[3]; }

        std::vector<Vec2> vertices;
        std::vector<Vec3> textureCoords;  // (s·q, t·q, q)
    };

    // Layer-space vertices: (x, y, s·q, t·q, q, w) with w the edge alpha.
    static constexpr int kFloatsPerVertex = 6;
    // Each side of an enlarged layer is held to this many pixels (the largest
    // texture of the software renderer): a corner thousands of pixels away
    // must not ask for a destination no GL can make.
    static constexpr int kLargestSide = 16384;
    // How many composition (or own) sizes an enlarged layer may span on each axis.
    static constexpr int kCompositionReach = 4;

    explicit CornerPinEffect(RenderLayer* layer);
    // Copies the records; new program and edge builder, no buffer, no current record.
    CornerPinEffect(const CornerPinEffect& other);
    CornerPinEffect& operator=(const CornerPinEffect&) = delete;
    ~CornerPinEffect() override;

    void drawSelf(unsigned int texture) override;
    void unprepare() override;
    void prepareForFrame(long long frame) override;
    void loadFromJson(const rapidjson::Value& item) override;
    bool hasAnimation() override { return mDataList.size() > 1; }
    std::string matchName() const override { return "ZR_Corner_Pin"; }
    bool willExtendLayerSize(LayerSizeExtendData* data) override;

    // Projective coordinates from the crossing of the diagonals of the quad
    // p0..p3 (tl, tr, br, bl). A quad whose diagonals do not cross strictly
    // inside both leaves the outputs untouched.
    static void UpdateQuadPack(Vec2 p0, Vec2 p1, Vec2 p2, Vec2 p3, Vec3 t0, Vec3 t1, Vec3 t2, Vec3 t3,
                               Vec3& o0, Vec3& o1, Vec3& o2, Vec3& o3);
    void drawPass(unsigned int texture, std::vector<float>* scratch, CornerPinData* data, Mat4& world);

    const std::vector<CornerPinData>& records() const { return mDataList; }
    const CornerPinData* currentData() const {
        return mCurrent < mDataList.size() ? &mDataList[mCurrent] : nullptr;
    }

    // ---- shared with the other layer-space warps ----
    // position (layer pixels), inCoords (vec4) -> the enlarged destination.
    static const char* const kVertexShader;
    // "transform" (the layer's extend offset), "projection" and "viewPort"
    // from the layer's current size.
    static void setLayerSpaceUniforms(GLShader& shader, RenderLayer* layer);
    // One output pixel in layer units at the layer's current world scale; 0
    // when that scale is 0 or not finite (no edge band then).
    static float edgeWidthFor(RenderLayer* layer);
    // Builds the edge strip of the outline; empty when the outline is too
    // degenerate to give finite vertices.
    // The builder's own edge width applies.
    static void buildEdge(PolygonEdgeBuilder& builder, std::vector<Vec2>* outline, std::vector<Vec3>* coords);
    // Uploads (x, y, s·q, t·q, q, w) vertices into the bound array buffer and
    // draws them; nothing for fewer than one vertex.
    static void drawVertices(const std::vector<float>& vertices, GLenum mode);
    // A pixel coordinate truncated toward zero and held within +-kLargestSide·4.
    static int truncated(float v);
    // The largest sides a layer now width x height may be enlarged to: a few
    // times the larger of its composition's and its own (what lies farther out
    // hardly reaches the composition), at most kLargestSide.
    static Vec2 largestSides(const RenderLayer* layer, int width, int height);
    // A side of an enlarged layer: at least 1 (0 would make the layer inherit
    // its composition's size) and at most the largest.
    static float clampedSide(float side, float largest);
    // The part of an enlarged image to draw, in the layer's own pixels, given
    // its whole box. A box within largestSides is kept whole. A larger one is
    // cut to what can reach the composition: the composition (with a margin
    // for filtering and edge bands) taken back through the layer's placement,
    // `offset` being where the layer's origin lies in its current, possibly
    // already enlarged, area. Where no such cut is sound (a 3D or collapsed
    // layer, no composition) the box is kept up to kLargestSide; a layer
    // placed with no area at all keeps the capped box, of which nothing shows.
    static Rect keptArea(RenderLayer* layer, int width, int height, const Vec2& offset, const Rect& box);

private:
    GLShader* mShader;
    uint32_t mVertexBuffer = 0;
    size_t mCurrent = static_cast<size_t>(-1);
    std::vector<CornerPinData> mDataList;
    PolygonEdgeBuilder mEdgeBuilder;
};

}  // namespace Core
}  // namespace Quorvane
