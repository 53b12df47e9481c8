#include "shapes/FlattenShape.h"

#include <algorithm>
#include <cmath>

#include "core/Float.h"
#include "shapes/Shape.h"

namespace Quorvane {
namespace Core {

void FlattenShape::clear() {
    mPoints.clear();
    mPaths.clear();
}

void FlattenShape::addPath() {
    PathCache path;
    path.first = static_cast<int32_t>(mPoints.size());
    mPaths.push_back(path);
}

void FlattenShape::addPoint(const Vec2& p, int flags) {
    if (!mPaths.empty() && !mPoints.empty() && mPaths.back().count > 0) {
        PathFlattenPoint& last = mPoints.back();
        if (Vec2::equalWithTolerance(last.x, last.y, p.x, p.y, Float::epsilon)) {
            last.flags |= static_cast<uint32_t>(flags);
            return;
        }
    }
    PathFlattenPoint point;
    point.x = p.x;
    point.y = p.y;
    point.flags = static_cast<uint32_t>(flags);
    mPoints.push_back(point);
    if (!mPaths.empty()) mPaths.back().count++;
}

void FlattenShape::closePath() {
    if (!mPaths.empty()) mPaths.back().closed = true;
}

void FlattenShape::pathWinding(int winding) {
    if (!mPaths.empty()) mPaths.back().winding = winding;
}

void FlattenShape::tesselateBezierS(const Vec2& p1, const Vec2& p2, const Vec2& p3, const Vec2& p4, int level,
                                    int type) {
    if (level > kMaxLevel) return;
    const float dx = p4.x - p1.x, dy = p4.y - p1.y;
    const float d2 = std::fabs((p2.x - p4.x) * dy - (p2.y - p4.y) * dx);
    const float d3 = std::fabs((p3.x - p4.x) * dy - (p3.y - p4.y) * dx);
    const float lhs = (d2 + d3) * (d2 + d3), rhs = mScaledTolerance * (dx * dx + dy * dy);
    // Coordinates whose squares overflow (or that are not numbers) cannot be
    // measured: the piece is taken as flat instead of being split into a
    // thousand points.
    if (lhs < rhs || !std::isfinite(lhs) || !std::isfinite(rhs)) {
        addPoint(p4, type);
        return;
    }
    const Vec2 p12 = (p1 + p2) * 0.5f, p23 = (p2 + p3) * 0.5f, p34 = (p3 + p4) * 0.5f;
    const Vec2 p123 = (p12 + p23) * 0.5f, p234 = (p23 + p34) * 0.5f;
    const Vec2 p1234 = (p123 + p234) * 0.5f;
    tesselateBezierS(p1, p12, p123, p1234, level + 1, 0);
    tesselateBezierS(p1234, p234, p34, p4, level + 1, type);
}

void FlattenShape::tesselateBezierS(const Vec2& p0, const Vec2& p1, const Vec2& p2, int level, int type) {
    if (level > kMaxLevel) return;
    const float c = (p1.x - p2.x) * (p2.y - p0.y) - (p1.y - p2.y) * (p2.x - p0.x);
    const float dx = p2.x - p0.x, dy = p2.y - p0.y;
    const float lhs = c * c, rhs = mScaledTolerance * (dx * dx + dy * dy);
    if (lhs < rhs || !std::isfinite(lhs) || !std::isfinite(rhs)) {
        addPoint(p2, type);
        return;
    }
    const Vec2 p01 = (p0 + p1) * 0.5f, p12 = (p1 + p2) * 0.5f;
    const Vec2 p012 = (p01 + p12) * 0.5f;
    tesselateBezierS(p0, p01, p012, level + 1, 0);
    tesselateBezierS(p012, p12, p2, level + 1, type);
}

float FlattenShape::polyAreaS(int first, int count) const {
    if (count < 3) return 0;
    float area = 0;
    const PathFlattenPoint& a = mPoints.at(static_cast<size_t>(first));
    for (int i = 2; i < count; ++i) {
        const PathFlattenPoint& b = mPoints.at(static_cast<size_t>(first + i - 1));
        const PathFlattenPoint& c = mPoints.at(static_cast<size_t>(first + i));
        area += (c.x - a.x) * (b.y - a.y) - (c.y - a.y) * (b.x - a.x);
    }
    return area * 0.5f;
}

void FlattenShape::polyReverseS(int first, int count) {
    if (count < 2) return;
    auto begin = mPoints.begin() + first;
    if (first < 0 || static_cast<size_t>(first + count) > mPoints.size()) return;
    std::reverse(begin, begin + count);
}

void FlattenShape::flatten(Shape* shape, float scale) {
    if (!shape) return;
    mScaledTolerance = mTolerance * scale;
    for (Path* path : shape->paths()) {
        const std::list<Line*>& segments = path->segments();
        if (segments.empty()) continue;
        addPath();
        addPoint(segments.front()->startPoint(), PathFlattenPoint::kCorner);
        for (Line* segment : segments) {
            switch (segment->getOrder()) {
                case 1:
                    addPoint(segment->lastPoint(), PathFlattenPoint::kCorner);
                    break;
                case 2:
                    tesselateBezierS(segment->point(0), segment->point(1), segment->point(2), 0,
                                     PathFlattenPoint::kCorner);
                    break;
                case 3:
                    tesselateBezierS(segment->point(0), segment->point(1), segment->point(2),
                                     segment->point(3), 0, PathFlattenPoint::kCorner);
                    break;
                default:
                    break;
            }
        }
        pathWinding(path->direction());
        if (path->isClosed()) closePath();
    }
    for (PathCache& path : mPaths) {
        if (path.count > 1) {
            const PathFlattenPoint& first = mPoints[static_cast<size_t>(path.first)];
            const PathFlattenPoint& last = mPoints[static_cast<size_t>(path.first + path.count - 1)];
            if (Vec2::equalWithTolerance(first.x, first.y, last.x, last.y, Float::epsilon)) {
                path.closed = true;
                path.count--;
            }
        }
        if (path.count >= 3) {
            const float area = polyAreaS(path.first, path.count);
            if ((path.winding == 1 && area < 0) || (path.winding == 2 && area > 0))
                polyReverseS(path.first, path.count);
        }
    }
}

}  // namespace Core
}  // namespace Quorvane
