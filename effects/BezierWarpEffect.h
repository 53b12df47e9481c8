// Bends the layer image into a patch bounded by four cubic Bezier edges,
// evaluated on a fixed 20 x 20 mesh whose cells are drawn with projective
// texture coordinates, the outline anti-aliased; enlarges the layer to the
// mesh's bounding box.
#pragma once

#include <string>
#include <vector>

#include "core/Rect.h"
#include "core/Vector.h"
#include "effects/EffectCommon.h"
#include "render/PolygonEdgeBuilder.h"
#include "render/RenderEffect.h"

namespace Quorvane {
namespace Core {

// One coordinate of the cubic Bezier with control values p0..p3 at t.
float bezierPoint(float p0, float p1, float p2, float p3, float t);

class BezierWarpEffect : public RenderEffect {
public:
    // One frame of the warp, in layer pixels (top-left origin, y down).
    struct BezierWarpData {
        // From 24 numbers in pairs: tl, tangent 0, tangent 1, tr, tangent 2,
        // tangent 3, br, tangent 4, tangent 5, bl, tangent 6, tangent 7.
        explicit BezierWarpData(const float* numbers);
        // From a JSON array of exactly 24 finite numbers; from anything else a
        // record without corners, which is never evaluated.
        explicit BezierWarpData(const rapidjson::Value& value);
        bool hasCorners() const { return corners.size() == 4; }

        const Vec2& tl() const { return corners[0]; }
        const Vec2& tr() const { return corners[1]; }
        const Vec2& br() const { return corners[2]; }
        const Vec2& bl() const { return corners[3]; }

        std::vector<Vec2> corners;  // tl, tr, br, bl
        // Absolute control points, clockwise: top edge near tl, near tr;
        // right edge near tr, near br; bottom edge near br, near bl; left
        // edge near bl, near tl.
        Vec2 tangents[8];
    };

    static constexpr int kCells = 20;

    explicit BezierWarpEffect(RenderLayer* layer);
    // Copies the records; new program, edge builder and mesh storage.
    BezierWarpEffect(const BezierWarpEffect& other);
    BezierWarpEffect& operator=(const BezierWarpEffect&) = delete;
    ~BezierWarpEffect() override;

    void drawSelf(unsigned int texture) override;
    void prepareForFrame(long long frame) override;
    void loadFromJson(const rapidjson::Value& item) override;
    bool hasAnimation() override { return mDataList.size() > 1; }
    std::string matchName() const override { return "ZR_Bezier_Warp"; }
    bool willExtendLayerSize(LayerSizeExtendData* data) override;

    // Rebuilds the mesh when there is a current record and it is stale.
    void updateBuffer();

    const std::vector<BezierWarpData>& records() const { return mDataList; }
    const BezierWarpData* currentData() const {
        return mCurrent < mDataList.size() && mDataList[mCurrent].hasCorners() ? &mDataList[mCurrent] : nullptr;
    }
    const Rect& bounds() const { return mBounds; }
    // [column][row], 21 x 21 points.
    const std::vector<std::vector<Vec2>>& grid() const { return mGrid; }
    const std::vector<float>& vertexData() const { return mVertexData; }
    const std::vector<Vec2>& outline() const { return mOutline; }
    const std::vector<Vec3>& outlineTextureCoords() const { return mOutlineTextureCoords; }

private:
    void allocateMesh();

    bool mNeedsUpdate = true;
    Rect mBounds;
    GLShader* mShader;
    uint32_t mVertexBuffer = 0;
    int32_t mColumns = kCells;
    int32_t mRows = kCells;
    size_t mCurrent = static_cast<size_t>(-1);
    std::vector<BezierWarpData> mDataList;
    PolygonEdgeBuilder mEdgeBuilder;
    std::vector<float> mVertexData;
    std::vector<std::vector<Vec2>> mGrid;
    std::vector<Vec2> mOutline;
    std::vector<Vec3> mOutlineTextureCoords;
};

}  // namespace Core
}  // namespace Quorvane
