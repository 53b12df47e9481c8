// The vector figure the renderer fills and strokes: an ordered list of owned
// sub-paths with a 2D-canvas style drawing interface and a cached summary
// (per-path lengths, their shares, total length, bounds). The layer mask
// builds one per frame from its JSON with addPathFromJson.
#pragma once

#include <cstdint>
#include <list>
#include <utility>
#include <vector>

#include <rapidjson/document.h>

#include "core/Matrix.h"
#include "core/Rect.h"
#include "core/Vector.h"
#include "shapes/CacheableObject.h"
#include "shapes/Path.h"

namespace Quorvane {
namespace Core {

// Bits of the rounded corners of roundRect; a clear bit leaves that corner square.
enum RoundRectType : int32_t {
    kRoundRectNone = 0,
    kRoundRectTopLeft = 1,      // corner (x, y)
    kRoundRectTopRight = 2,     // corner (x + w, y)
    kRoundRectBottomLeft = 4,   // corner (x, y + h)
    kRoundRectBottomRight = 8,  // corner (x + w, y + h)
    kRoundRectAll = 15,
};

// Arc direction of arc and createArc: 2 sweeps towards increasing angle, 1
// towards decreasing angle.
enum : int {
    kArcDecreasing = 1,
    kArcIncreasing = 2,
};

// Squared distance from point p to the segment q-r.
float DeDistPtSegS(float px, float py, float qx, float qy, float rx, float ry);

class Shape : public CacheableObject {
public:
    Shape();
    virtual ~Shape();
    Shape(const Shape&) = delete;
    Shape& operator=(const Shape&) = delete;
    static Shape* create();

    void cache() override;

    void clear();
    // New shape owned by the caller.
    Shape* duplicate();
    void copy(Shape* other);

    // Drawing. Line, curve and arc calls without a current path are ignored.
    void moveTo(const Vec2& p);
    void moveTo(float x, float y);
    void lineTo(float x, float y);
    void lineTo(const Vec2& p);
    void bezierTo(float c1x, float c1y, float c2x, float c2y, float x, float y);
    void bezierTo(const Vec2& c1, const Vec2& c2, const Vec2& p);
    void quadTo(float cx, float cy, float x, float y);
    void quadTo(const Vec2& c, const Vec2& p);
    // Closes the current path and ends it.
    void closePath();
    // Angles in radians.
    void arc(float cx, float cy, float r, float a0, float a1, int dir);
    void arcTo(float x1, float y1, float x2, float y2, float radius);
    void rect(float x, float y, float w, float h);
    void rect(const Rect& r);
    void roundRect(float x, float y, float w, float h, float r, RoundRectType corners);
    void roundRect(const Rect& r, float radius, RoundRectType corners);
    void ellipse(float cx, float cy, float rx, float ry);
    void ellipse(const Vec2& c, float rx, float ry);
    void circle(float cx, float cy, float r);
    void circle(const Vec2& c, float r);
    void segmentCircle(const Vec2& center, float radius, int count);
    // Takes ownership; null is logged and ignored.
    void appendPath(Path* path);
    void lineStrip(const std::vector<Vec2>& points);
    void smoothLineStrip(const std::vector<Vec2>& points, bool closed, float tolerance);
    // One frame of the layer mask format: an array of path objects with
    // "hole", "open" and "lines". Anything malformed is skipped.
    void addPathFromJson(const rapidjson::Value& frame);

    Path2Direction getBackPathDirection() const;
    void setBackPathDirection();
    void setBackPathDirection(Path2Direction direction);
    void setPathDirection(Path2Direction direction, unsigned index);

    void applyMatrix(const Mat4* m);
    void rotate(float degrees);
    void translate(float tx, float ty);
    void scale(float kx, float ky);
    void transform(const Affine& a);

    Rect getBbox();
    float getLength();
    void commitShape() { updateCache(); }
    void markShapeDirty();
    void markShapePathDirty(unsigned long index);
    // A new list of the shape's own paths (still owned by the shape).
    std::list<Path*> getPaths() const { return mPaths; }
    const std::list<Path*>& paths() const { return mPaths; }
    size_t pathCount() const { return mPaths.size(); }
    // New shapes owned by the caller.
    std::pair<Shape*, Shape*> split(float t);
    Shape* split(float t1, float t2);

    static Shape* createRect(const Rect& r);
    static Shape* createRect(float x, float y, float w, float h);
    static Shape* createRoundRect(float x, float y, float w, float h, float r, RoundRectType corners);
    static Shape* createArc(float cx, float cy, float r, float a0, float a1, int dir);
    static Shape* createCircle(const Vec2& c, float r);
    static Shape* createCircle(float cx, float cy, float r);
    static Shape* createEllipse(const Vec2& c, float rx, float ry);
    static Shape* createEllipse(float cx, float cy, float rx, float ry);
    static Shape* createSegmentCircle(const Vec2& center, float radius, int count);
    static Shape* createLine(const Vec2& a, const Vec2& b);
    static Shape* createLine(float x0, float y0, float x1, float y1);

private:
    void applyToPaths(const Affine& a);
    Path* backPath() const;
    void fillFrom(Shape* other);

    std::list<Path*> mPaths;
    std::vector<float> mPathLengths;
    std::vector<float> mLengthRatios;
    float mTotalLength = 0.0f;
    Rect mBounds;
    Path* mCurrentPath = nullptr;
};

}  // namespace Core
}  // namespace Quorvane
