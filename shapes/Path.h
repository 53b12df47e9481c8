// One sub-path of a shape: an ordered list of owned line and Bezier segments
// with a closed flag and a winding direction, with length-based sampling and
// splitting, transforms, ready-made outlines and a least-squares curve fit
// through a strip of points.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <utility>
#include <vector>

#include "core/Matrix.h"
#include "core/Rect.h"
#include "core/Vector.h"
#include "shapes/Bezier.h"
#include "shapes/CacheableObject.h"

namespace Quorvane {
namespace Core {

enum Path2Direction : int32_t {
    kPath2DirectionSolid = 1,
    kPath2DirectionHole = 2,
};

class Path : public CacheableObject {
public:
    Path();
    virtual ~Path();
    Path(const Path&) = delete;
    Path& operator=(const Path&) = delete;

    // Segment lengths, their shares of the total, total length and bounds.
    void cache() override;

    // Only on a clean path without segments: a path's start is fixed by its
    // first moveTo.
    void moveTo(const Vec2& p);
    void lineTo(const Vec2& p);
    void bezierTo(const Vec2& c1, const Vec2& c2, const Vec2& p);
    // Appended as the equivalent cubic.
    void quadTo(const Vec2& c, const Vec2& p);
    // The closing edge is implied; no segment is added.
    void closePath();
    void setDirection(Path2Direction direction) { mDirection = direction; }
    // Derived from the outline's signed area; no segments keep the direction.
    void setDirection();

    // New paths owned by the caller.
    static Path* line(const Vec2& a, const Vec2& b);
    static Path* bezier(const Vec2& p0, const Vec2& c1, const Vec2& c2, const Vec2& p1);
    static Path* rect(const Rect& r);
    static Path* segmentCircle(const Vec2& centre, float radius, int count);
    // Null for an empty list.
    static Path* lineStrip(const std::vector<Vec2>& points);
    // Null for an empty list.
    static Path* smoothLineStrip(const std::vector<Vec2>& points, bool closed, float error);

    const std::list<Line*>& segments() const { return mSegments; }
    size_t segmentCount() const { return mSegments.size(); }
    Vec2 getFirstPoint() const { return mFirstPoint; }
    Vec2 getLastPoint() const { return mLastPoint; }
    bool isClosed() const { return mClosed; }
    Path2Direction direction() const { return mDirection; }
    float getLength();
    Rect getBbox();
    // The point at a share t of the length; (0, 0) for a path without segments.
    Vec2 getPointAt(float t);
    bool getYForX(float x, float* y);
    void intersects(Path* other, std::vector<Vec2>* out);

    void transform(const Affine& m);
    void offset(const Vec2& d);
    void rotate(const Vec2& centre, float degrees);
    void scale(float factor);
    void markPathDirty();
    void markPathSegmentDirty(size_t index);
    void reversePath();
    Path* duplicate() const;
    // Two new paths owned by the caller.
    std::pair<Path*, Path*> split(float t);
    Path* split(float from, float to);

    // Curve fitting steps (a strip of points into cubic pieces).
    static void fitCubic(std::vector<Vec2>& points, std::vector<Vec2>& controls, float error, int first,
                         int last, Vec2 tHat1, Vec2 tHat2);
    static void chordLengthParameterize(std::vector<Vec2>& points, std::vector<float>& u, int first,
                                        int last);
    static void generateBezier(std::vector<Vec2>& points, std::vector<Vec2>& curve, int first, int last,
                               const std::vector<float>& u, Vec2 tHat1, Vec2 tHat2);
    static Vec2 evaluate(int degree, const std::vector<Vec2>& controlPoints, float t);
    // (largest squared distance, index of that point).
    static Vec2 findMaxError(std::vector<Vec2>& points, int first, int last, const std::vector<Vec2>& curve,
                             const std::vector<float>& u);
    static float findRoot(const std::vector<Vec2>& curve, const Vec2& point, float u);
    static bool reparameterize(std::vector<Vec2>& points, int first, int last, const std::vector<Vec2>& curve,
                               std::vector<float>& u);
    static void addCurve(std::vector<Vec2>& controls, const Vec2& b0, const Vec2& b1, const Vec2& b2,
                         const Vec2& b3);

private:
    void append(Line* segment);

    std::vector<float> mLengthRatios;
    bool mClosed = false;
    std::list<Line*> mSegments;
    Vec2 mLastPoint;
    Path2Direction mDirection = kPath2DirectionSolid;
    Vec2 mFirstPoint;
    std::vector<float> mSegmentLengths;
    float mLength = 0.0f;
    Rect mBounds;
};

}  // namespace Core
}  // namespace Quorvane
