#include "shapes/Polygon.h"

#include <cmath>

#include "shapes/FlattenShape.h"
#include "shapes/Path.h"
#include "shapes/Shape.h"

namespace Quorvane {
namespace Core {

namespace {

// Miter limit and arc tolerance of the offsetter.
constexpr double kMiterLimit = 2.0;
constexpr double kArcTolerance = 0.25;
// The clipping library refuses coordinates beyond about 4.6e18 and its
// offsetter rounds sums of coordinates and offsets back to 64-bit integers:
// scaled values (and offsets) are kept far inside, and not-a-number becomes
// 0, so that no conversion overflows.
constexpr double kScaledLimit = 1.0e15;

ClipperLib::cInt Scaled(float v) {
    const double s = static_cast<double>(v) * Polygon::kScale;
    if (std::isnan(s)) return 0;
    if (s > kScaledLimit) return static_cast<ClipperLib::cInt>(kScaledLimit);
    if (s < -kScaledLimit) return static_cast<ClipperLib::cInt>(-kScaledLimit);
    return static_cast<ClipperLib::cInt>(s);
}

}  // namespace

Polygon::Polygon(const std::vector<Vec2>& points) {
    for (const Vec2& p : points) addPoint(p);
}

void Polygon::clear() {
    mPoints.clear();
    mScaledPoints.clear();
}

void Polygon::addPoint(const Vec2& p) {
    mPoints.push_back(p);
    mScaledPoints.emplace_back(Scaled(p.x), Scaled(p.y));
}

void Polygon::addPoint(float x, float y) {
    addPoint(Vec2(x, y));
}

float Polygon::getArea() const {
    if (mPoints.empty()) return 0;
    float sum = 0;
    const size_t n = mPoints.size();
    for (size_t i = 0; i < n; ++i) sum += mPoints[i].cross(mPoints[(i + 1) % n]);
    return std::fabs(sum) / 2;
}

bool Polygon::isPointInside(const Vec2& q) const {
    bool inside = false;
    const size_t n = mPoints.size();
    for (size_t i = 0, j = n - 1; i < n; j = i++) {
        const Vec2& a = mPoints[i];
        const Vec2& b = mPoints[j];
        if ((a.y >= q.y) != (b.y >= q.y) && (b.x - a.x) * (q.y - a.y) / (b.y - a.y) + a.x >= q.x)
            inside = !inside;
    }
    return inside;
}

Shape* Polygon::smoothToShape(float tolerance) const {
    Shape* shape = Shape::create();
    shape->smoothLineStrip(mPoints, false, tolerance);
    return shape;
}

void Polygon::flatFromShape(Shape* shape, float precision) {
    FlattenShape flattener;
    flattener.setFlattenPercision(precision);
    flattener.flatten(shape, 1.0f);
    clear();
    const std::vector<PathFlattenPoint>& points = flattener.getPoints();
    for (const PathCache& path : flattener.getPaths())
        for (int i = 0; i < path.count; ++i) {
            const PathFlattenPoint& p = points.at(static_cast<size_t>(path.first + i));
            addPoint(p.x, p.y);
        }
}

void Polygon::appendResults(const ClipperLib::Paths& paths, std::vector<Polygon*>& out) {
    for (const ClipperLib::Path& path : paths) {
        Polygon* polygon = new Polygon();
        for (const ClipperLib::IntPoint& p : path) {
            // Integer division truncates towards zero, as the copy was made.
            polygon->mPoints.emplace_back(static_cast<float>(p.X / kScale), static_cast<float>(p.Y / kScale));
            polygon->mScaledPoints.push_back(p);
        }
        out.push_back(polygon);
    }
}

void Polygon::expandPolygon(std::vector<Polygon*>& out, float delta) const {
    if (mScaledPoints.empty() || !(std::fabs(static_cast<double>(delta) * kScale) <= kScaledLimit)) return;
    ClipperLib::Paths solution;
    try {
        ClipperLib::ClipperOffset offset(kMiterLimit, kArcTolerance);
        offset.AddPath(mScaledPoints, ClipperLib::jtMiter, ClipperLib::etClosedPolygon);
        offset.Execute(solution, static_cast<double>(delta) * kScale);
    } catch (...) {
        // The library's own range errors: no result rather than an abort.
        return;
    }
    appendResults(solution, out);
}

void Polygon::splitOverlapPolygon(std::vector<Polygon*>& out) const {
    if (mScaledPoints.empty()) return;
    ClipperLib::Paths solution;
    try {
        ClipperLib::Clipper clipper;
        clipper.StrictlySimple(true);
        clipper.AddPath(mScaledPoints, ClipperLib::ptSubject, true);
        clipper.Execute(ClipperLib::ctUnion, solution, ClipperLib::pftNonZero, ClipperLib::pftNonZero);
    } catch (...) {
        return;
    }
    appendResults(solution, out);
}

}  // namespace Core
}  // namespace Quorvane
