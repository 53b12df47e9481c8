// A plain polygon of float points with a fixed-point copy (two decimal
// places) for the polygon clipping library: area, point containment,
// offsetting, splitting into simple polygons, and conversion from and to
// shapes.
#pragma once

#include <cstddef>
#include <vector>

#include <polyclipping/clipper.hpp>

#include "core/Vector.h"

namespace Quorvane {
namespace Core {

class Shape;

class Polygon {
public:
    // Fixed-point scale of the clipping library's copy.
    static constexpr int kScale = 100;

    Polygon() = default;
    explicit Polygon(const std::vector<Vec2>& points);
    virtual ~Polygon() = default;

    const std::vector<Vec2>& points() const { return mPoints; }
    const ClipperLib::Path& privateScaledPoints() const { return mScaledPoints; }
    size_t getPointCount() const { return mPoints.size(); }

    void clear();
    void addPoint(const Vec2& p);
    void addPoint(float x, float y);

    // Unsigned area; 0 without points.
    float getArea() const;
    // Even-odd crossing test.
    bool isPointInside(const Vec2& q) const;
    // New shape owned by the caller: a curve fit through the points.
    Shape* smoothToShape(float tolerance) const;
    // Replaces the points with the flattened points of every sub-path.
    void flatFromShape(Shape* shape, float precision);
    // Offsets by delta (positive grows) with mitred corners; new polygons
    // owned by the caller are appended.
    void expandPolygon(std::vector<Polygon*>& out, float delta) const;
    // Union with the non-zero rule into simple polygons, appended to out.
    void splitOverlapPolygon(std::vector<Polygon*>& out) const;

private:
    static void appendResults(const ClipperLib::Paths& paths, std::vector<Polygon*>& out);

    std::vector<Vec2> mPoints;
    ClipperLib::Path mScaledPoints;
};

}  // namespace Core
}  // namespace Quorvane
