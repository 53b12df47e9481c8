// Flattening of a shape into polygons: every sub-path becomes a list of
// points by adaptive subdivision of its curves, and each polygon's point
// order is fixed by its winding (solid or hole).
#pragma once

#include <cstdint>
#include <vector>

#include "core/Vector.h"

namespace Quorvane {
namespace Core {

class Shape;

struct PathFlattenPoint {
    enum Flags : uint32_t {
        kCorner = 1,
        kLeft = 2,
        kBevel = 4,
        kInnerBevel = 8,
    };
    float x = 0, y = 0;
    // Unit direction to the next point of the polygon and the distance to it.
    float dx = 0, dy = 0;
    float len = 0;
    // Extrusion: the averaged left normal, scaled to reach a miter.
    float dmx = 0, dmy = 0;
    uint32_t flags = 0;
};

struct PathCache {
    int32_t first = 0;
    int32_t count = 0;
    bool closed = false;
    int32_t bevelCount = 0;
    int32_t fillOffset = 0;
    int32_t fillCount = 0;
    int32_t strokeOffset = 0;
    int32_t strokeCount = 0;
    // Path2Direction of its sub-path.
    int32_t winding = 1;
    bool convex = false;
};

class FlattenShape {
public:
    FlattenShape() = default;
    virtual ~FlattenShape() = default;

    void setFlattenPercision(float tolerance) { mTolerance = tolerance; }
    float tolerance() const { return mTolerance; }
    // Appends the polygons of the shape (clear first); scale multiplies the
    // tolerance. A null shape adds nothing.
    void flatten(Shape* shape, float scale);
    void clear();

    std::vector<PathFlattenPoint>& getPoints() { return mPoints; }
    std::vector<PathCache>& getPaths() { return mPaths; }

    void addPath();
    void addPoint(const Vec2& p, int flags);
    void closePath();
    void pathWinding(int winding);
    void tesselateBezierS(const Vec2& p1, const Vec2& p2, const Vec2& p3, const Vec2& p4, int level,
                          int type);
    void tesselateBezierS(const Vec2& p0, const Vec2& p1, const Vec2& p2, int level, int type);
    float polyAreaS(int first, int count) const;
    void polyReverseS(int first, int count);

    // Deepest subdivision level; a piece below it adds nothing.
    static constexpr int kMaxLevel = 10;

private:
    float mTolerance = 0.25f;
    // tolerance x scale of the flatten in progress.
    float mScaledTolerance = 0.25f;
    std::vector<PathFlattenPoint> mPoints;
    std::vector<PathCache> mPaths;
};

}  // namespace Core
}  // namespace Quorvane
