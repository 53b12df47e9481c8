// Tessellation of a flattened shape into the vertex buffer of its drawable:
// per-point directions, extrusions and join flags (ShapeCache), the fill's
// triangle fans with their anti-aliasing fringe and cover quad
// (ShapeFillCache), and the stroke's triangle strips with joins and caps
// (ShapeStrokeCache).
#pragma once

#include <cstdint>
#include <vector>

#include "core/Rect.h"
#include "core/Vector.h"
#include "shapes/FlattenShape.h"
#include "shapes/ShapeVertexBuffer.h"

namespace Quorvane {
namespace Core {

class DrawableShape;
class Shape;

enum DrawableShapeJoinStyle : int32_t {
    kJoinRound = 0,
    kJoinBevel = 1,
    kJoinMiter = 2,
};

enum DrawableShapeCapStyle : int32_t {
    kCapRound = 0,
    kCapSquare = 1,
    kCapButt = 2,
};

class ShapeCache {
public:
    // Width of the anti-aliasing fringe in pixels at inverse scale 1.
    static float mInitFringeWidth;

    explicit ShapeCache(DrawableShape* owner);
    // Gives the vertex range back to the owner's buffer.
    virtual ~ShapeCache();
    ShapeCache(const ShapeCache&) = delete;
    ShapeCache& operator=(const ShapeCache&) = delete;

    // Rebuilds the owner's content shape into the owner's vertex buffer;
    // answers whether geometry was rebuilt.
    virtual bool cacheShape(bool force);

    void calculateCachedPathLengths();
    void calculateJoins(std::vector<PathCache>& paths, std::vector<PathFlattenPoint>& points, float w,
                        DrawableShapeJoinStyle lineJoin, float miterLimit);
    static void chooseBevel(bool innerBevel, const PathFlattenPoint& p0, const PathFlattenPoint& p1, float w,
                            Vec2* first, Vec2* second);
    // Writes the join's vertices from index on; returns the next free index.
    int bevelJoins(int index, const PathFlattenPoint& p0, const PathFlattenPoint& p1, float lw, float rw,
                   float lu, float ru, float fringe);

    std::vector<PathFlattenPoint>& getCachedPoints() { return mFlattener->getPoints(); }
    std::vector<PathCache>& getCachedPaths() { return mFlattener->getPaths(); }
    const std::vector<ShapeBufferVertex>& getCachedVertices() const;
    const Range& vertexRange() const { return mVertexRange; }
    Range* vertexRangePtr() { return &mVertexRange; }
    const Rect& bounds() const { return mBounds; }
    void setBounds(const Rect& r) { mBounds = r; }
    float fringeWidth() const { return mFringeWidth; }
    float strokeWidth() const { return mStrokeWidth; }
    Shape* shape() const { return mShape; }
    FlattenShape* flattener() const { return mFlattener; }

protected:
    // Shared first steps of both caches: takes the content shape, commits
    // it and sets the fringe. False when there is nothing to rebuild
    // (vertices exist and force is off, or no shape).
    bool beginCache(bool force);
    // Flattens the shape and frees the old vertex range.
    void flattenShape();
    // Allocates the range and starts a fresh vertex bound rectangle.
    void allocate(int count);
    // Writes vertex index of this cache's range (relative to its start);
    // nothing past the allocation.
    void vertex(int index, const Vec2& p, float u, float v);
    void closeBounds();

    Shape* mShape = nullptr;
    DrawableShape* mOwner;
    float mFringeWidth = 1.0f;
    float mStrokeWidth = 0.0f;
    FlattenShape* mFlattener;
    Range mVertexRange;
    Rect mBounds;

private:
    float mMinX = 0, mMinY = 0, mMaxX = 0, mMaxY = 0;
    bool mAnyVertex = false;
};

class ShapeFillCache : public ShapeCache {
public:
    using ShapeCache::ShapeCache;
    bool cacheShape(bool force) override;
};

class ShapeStrokeCache : public ShapeCache {
public:
    using ShapeCache::ShapeCache;
    bool cacheShape(bool force) override;

    // Segments a round cap or join of radius w takes per half circle.
    static int hvCurveDivsS(float w, float arc, float tolerance);

private:
    int roundJoinS(int index, const PathFlattenPoint& p0, const PathFlattenPoint& p1, float lw, float rw,
                   float lu, float ru, int ncap);
    int buttCapStartS(int index, const Vec2& p, const Vec2& dir, float w, float d, float aa);
    int buttCapEndS(int index, const Vec2& p, const Vec2& dir, float w, float d, float aa);
    int squareCapStartS(int index, const Vec2& p, const Vec2& dir, float w);
    int squareCapEndS(int index, const Vec2& p, const Vec2& dir, float w);
    int roundCapStartS(int index, const Vec2& p, const Vec2& dir, float w, int ncap);
    int roundCapEndS(int index, const Vec2& p, const Vec2& dir, float w, int ncap);
};

}  // namespace Core
}  // namespace Quorvane
