#include "render/PolygonEdgeBuilder.h"

#include <limits>

#include "core/Float.h"

namespace Quorvane {
namespace Core {

namespace {
constexpr size_t kFloatsPerVertex = 6;
constexpr size_t kVerticesPerEdge = 4;

void appendVertex(std::vector<float>& out, const Vec2& p, const Vec4& c) {
    out.insert(out.end(), {p.x, p.y, c.x, c.y, c.z, c.w});
}
}  // namespace

void PolygonEdgeBuilder::setTextureCoordsBuffer3(std::vector<Vec3>* coords) {
    mTextureCoords = coords;
    mInnerCoords.clear();
    mOuterCoords.clear();
}

void PolygonEdgeBuilder::clear() {
    mInnerVertices.clear();
    mOuterVertices.clear();
    mInnerCoords.clear();
    mOuterCoords.clear();
    mResult.clear();
}

void PolygonEdgeBuilder::build() {
    clear();
    if (!(mEdgeWidth > 2.0f * Float::epsilon) || !mVertices || !mTextureCoords) return;
    const size_t n = mVertices->size();
    if (mTextureCoords->size() == 0 || mTextureCoords->size() != n || n < 3) return;

    mInnerVertices.reserve(n);
    mOuterVertices.reserve(n);
    mInnerCoords.reserve(n);
    mOuterCoords.reserve(n);
    const float half = 0.5f * mEdgeWidth;
    const std::vector<Vec2>& v = *mVertices;
    for (size_t i = 0; i < n; ++i) {
        const Vec2& cur = v[i];
        const Vec2& prev = v[i == 0 ? n - 1 : i - 1];
        const Vec2& next = v[i == n - 1 ? 0 : i + 1];
        Vec2 d1 = cur - prev;
        d1.normalize();
        Vec2 d2 = next - cur;
        d2.normalize();
        Vec2 na(-d1.y, d1.x);
        Vec2 nb(-d2.y, d2.x);
        Vec2 miter = na + nb;
        miter.normalize();
        // A turn straight back (a spike) has its miter across the edge: the
        // band reaches infinitely far there, and the caller leaves it out.
        const float across = miter.dot(nb);
        const float len = across != 0.0f ? half / across : std::numeric_limits<float>::infinity();
        mInnerVertices.push_back(cur + miter * len);
        mOuterVertices.push_back(cur - miter * len);
        const Vec3& tc = (*mTextureCoords)[i];
        mInnerCoords.emplace_back(tc.x, tc.y, tc.z, 1.0f);
        mOuterCoords.emplace_back(tc.x, tc.y, tc.z, 0.0f);
    }

    mResult.reserve(kFloatsPerVertex * kVerticesPerEdge * n);
    for (size_t i = 0; i < n; ++i) {
        const size_t j = (i + 1) % n;
        appendVertex(mResult, mOuterVertices[i], mOuterCoords[i]);
        appendVertex(mResult, mInnerVertices[i], mInnerCoords[i]);
        appendVertex(mResult, mOuterVertices[j], mOuterCoords[j]);
        appendVertex(mResult, mInnerVertices[j], mInnerCoords[j]);
    }
}

}  // namespace Core
}  // namespace Quorvane
