// Turns a closed polygon with per-vertex texture coordinates into a thin
// triangle strip straddling its outline, with an alpha ramp (w) from 1 on the
// inner side to 0 on the outer side, for anti-aliased edges.
#pragma once

#include <cstddef>
#include <vector>

#include "core/Vector.h"

namespace Quorvane {
namespace Core {

class PolygonEdgeBuilder {
public:
    PolygonEdgeBuilder() = default;

    // Full width of the strip, in the polygon's units; half lies on each side.
    void setEdgeWidth(float width) { mEdgeWidth = width; }
    float edgeWidth() const { return mEdgeWidth; }
    // Inputs are not owned and must outlive the next build.
    void setVertexBuffer(std::vector<Vec2>* vertices) { mVertices = vertices; }
    void setTextureCoordsBuffer3(std::vector<Vec3>* coords);
    size_t textureCoordSize() const { return mTextureCoords ? mTextureCoords->size() : 0; }

    // Empties the outputs, keeping their storage.
    void clear();
    // Outputs stay empty unless the width exceeds 2e-6, both inputs are set,
    // there are at least 3 vertices and as many texture coordinates.
    void build();

    // Triangle strip of 4 vertices per edge (outer i, inner i, outer j, inner j),
    // 6 floats each: x, y and the texture coordinate with w.
    std::vector<float>* result() { return &mResult; }
    std::vector<Vec2>* innerVertices() { return &mInnerVertices; }
    std::vector<Vec2>* outerVertices() { return &mOuterVertices; }
    const std::vector<Vec4>& innerCoords() const { return mInnerCoords; }
    const std::vector<Vec4>& outerCoords() const { return mOuterCoords; }

private:
    std::vector<Vec2>* mVertices = nullptr;
    std::vector<Vec3>* mTextureCoords = nullptr;
    std::vector<Vec2> mInnerVertices;
    std::vector<Vec2> mOuterVertices;
    std::vector<Vec4> mInnerCoords;
    std::vector<Vec4> mOuterCoords;
    std::vector<float> mResult;
    float mEdgeWidth = 1.0f;
};

}  // namespace Core
}  // namespace Quorvane
