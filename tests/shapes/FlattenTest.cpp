// Flattening and the geometry caches, without GL: flattening tolerance
// against the exact curve, polygon orientation, point merging, join flags
// from the corner angles, vertex budgets and the stroke width limits.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "ShapeTestSupport.h"
#include "shapes/Bezier.h"
#include "shapes/DrawableShape.h"
#include "shapes/FlattenShape.h"
#include "shapes/Shape.h"
#include "shapes/ShapeCache.h"

using namespace Quorvane::Core;

namespace {

std::unique_ptr<Shape> Polygon(const std::vector<Vec2>& points, bool hole = false) {
    std::unique_ptr<Shape> shape(Shape::create());
    shape->moveTo(points[0]);
    for (size_t i = 1; i < points.size(); ++i) shape->lineTo(points[i]);
    if (hole) shape->setBackPathDirection(kPath2DirectionHole);
    shape->closePath();
    return shape;
}

std::vector<Vec2> Points(FlattenShape& f, const PathCache& path) {
    std::vector<Vec2> out;
    for (int i = 0; i < path.count; ++i) {
        const PathFlattenPoint& p = f.getPoints()[path.first + i];
        out.push_back(Vec2(p.x, p.y));
    }
    return out;
}

}  // namespace

TEST(FlattenTest, CurvesAreFlattenedWithinTheTolerance) {
    // The subdivision stops when the control points lie within
    // sqrt(tolerance x scale) of the chord together, which keeps the curve
    // within three quarters of that from the polyline.
    const double cx[4] = {0, 10, 90, 100}, cy[4] = {0, 120, -60, 40};
    for (float scale : {1.0f, 4.0f}) {
        std::unique_ptr<Shape> shape(Shape::create());
        shape->moveTo(0, 0);
        shape->bezierTo(10, 120, 90, -60, 100, 40);
        FlattenShape f;
        f.flatten(shape.get(), scale);
        ASSERT_EQ(f.getPaths().size(), 1u);
        QvTest::Poly line;
        for (const Vec2& p : Points(f, f.getPaths()[0])) line.push_back({p.x, p.y});
        const double bound = 0.75 * std::sqrt(0.25 * scale) + 1e-3;
        double worst = 0;
        for (int i = 0; i <= 2000; ++i) {
            const double t = i / 2000.0, s = 1 - t;
            const double b[4] = {s * s * s, 3 * t * s * s, 3 * t * t * s, t * t * t};
            double x = 0, y = 0;
            for (int k = 0; k < 4; ++k) x += b[k] * cx[k], y += b[k] * cy[k];
            double d = 1e300;
            for (size_t k = 0; k + 1 < line.size(); ++k)
                d = std::min(d, QvTest::SegmentDistance({x, y}, line[k], line[k + 1]));
            worst = std::max(worst, d);
        }
        EXPECT_LT(worst, bound) << "scale " << scale;
        // The end point is a corner, points inside the curve are not.
        const auto& pts = f.getPoints();
        EXPECT_TRUE(pts.front().flags & PathFlattenPoint::kCorner);
        EXPECT_TRUE(pts.back().flags & PathFlattenPoint::kCorner);
        EXPECT_FALSE(pts[1].flags & PathFlattenPoint::kCorner);
    }
    // A straight cubic adds only its end point.
    std::unique_ptr<Shape> straight(Shape::create());
    straight->moveTo(0, 0);
    straight->bezierTo(10, 0, 20, 0, 30, 0);
    FlattenShape f;
    f.flatten(straight.get(), 1);
    EXPECT_EQ(f.getPaths()[0].count, 2);

    // Coordinates whose squares overflow are not subdivided to the deepest
    // level (a thousand points per curve) but taken as flat.
    std::unique_ptr<Shape> huge(Shape::create());
    huge->moveTo(0, 0);
    huge->bezierTo(1e30f, 0, 0, 1e30f, 3e38f, -3e38f);
    huge->quadTo(NAN, 1, 5, 5);
    FlattenShape g;
    g.flatten(huge.get(), 1);
    EXPECT_LE(g.getPaths()[0].count, 3);
}

TEST(FlattenTest, PolygonOrientationFollowsTheWinding) {
    const std::vector<Vec2> negative = {Vec2(0, 0), Vec2(10, 0), Vec2(10, 10), Vec2(0, 10)};
    const std::vector<Vec2> positive = {Vec2(0, 10), Vec2(10, 10), Vec2(10, 0), Vec2(0, 0)};
    struct Case {
        std::vector<Vec2> points;
        bool hole;
        bool reversed;
    };
    for (const Case& c : {Case{negative, false, true}, Case{negative, true, false},
                          Case{positive, false, false}, Case{positive, true, true}}) {
        auto shape = Polygon(c.points, c.hole);
        FlattenShape f;
        f.flatten(shape.get(), 1);
        std::vector<Vec2> expected = c.points;
        if (c.reversed) std::reverse(expected.begin(), expected.end());
        EXPECT_EQ(Points(f, f.getPaths()[0]), expected);
        EXPECT_EQ(f.getPaths()[0].winding, c.hole ? 2 : 1);
    }
    // Closing explicitly on the first point still gives four points.
    auto closed = Polygon({Vec2(0, 0), Vec2(10, 0), Vec2(10, 10), Vec2(0, 10), Vec2(0, 0)});
    FlattenShape f;
    f.flatten(closed.get(), 1);
    EXPECT_EQ(f.getPaths()[0].count, 4);
    EXPECT_TRUE(f.getPaths()[0].closed);
}

TEST(FlattenTest, CloseNeighboursMergeWithinAPolygonOnly) {
    FlattenShape f;
    f.addPath();
    f.addPoint(Vec2(1, 1), PathFlattenPoint::kCorner);
    f.addPoint(Vec2(5, 5), 0);
    f.addPoint(Vec2(5, 5.0000001f), PathFlattenPoint::kCorner);
    ASSERT_EQ(f.getPaths()[0].count, 2);
    EXPECT_EQ(f.getPoints().back().flags, uint32_t(PathFlattenPoint::kCorner));
    // A second sub-path starting where the first ended keeps its start.
    std::unique_ptr<Shape> shape(Shape::create());
    shape->moveTo(0, 0);
    shape->lineTo(10, 0);
    shape->moveTo(10, 0);
    shape->lineTo(10, 10);
    FlattenShape g;
    g.flatten(shape.get(), 1);
    ASSERT_EQ(g.getPaths().size(), 2u);
    EXPECT_EQ(g.getPaths()[1].count, 2);
}

TEST(FlattenTest, FillCacheBudgetsJoinsAndCoverQuad) {
    DrawableShape owner(nullptr, false);
    auto square = Polygon({Vec2(0, 0), Vec2(0, 10), Vec2(10, 10), Vec2(10, 0)});
    owner.setContentShape(square.get());
    owner.setAntiAlias(true);
    ShapeFillCache* fill = owner.fillCache();
    ASSERT_TRUE(fill->cacheShape(true));
    ASSERT_EQ(fill->getCachedPaths().size(), 1u);
    const PathCache& path = fill->getCachedPaths()[0];
    EXPECT_TRUE(path.convex);
    // Right angles stay mitred with limit 2.4 (0.5 x 2.4^2 >= 1).
    EXPECT_EQ(path.bevelCount, 0);
    EXPECT_EQ(fill->vertexRange().size, 4 + 2 * (4 + 1));  // no cover quad
    EXPECT_EQ(path.fillCount, 4);
    EXPECT_EQ(path.strokeCount, 2 * 4 + 2);
    // Fan inset, fringe outset: the vertex bounds reach half a pixel out.
    EXPECT_EQ(fill->bounds(), Rect(-0.5f, -0.5f, 11, 11));
    EXPECT_FALSE(fill->cacheShape(false));  // vertices exist: reused

    // Without anti-aliasing: the points themselves, no fringe.
    owner.setAntiAlias(false);
    ASSERT_TRUE(fill->cacheShape(true));
    EXPECT_EQ(fill->getCachedPaths()[0].fillCount, 4);
    EXPECT_EQ(fill->getCachedPaths()[0].strokeCount, 0);
    EXPECT_EQ(fill->vertexRange().size, 4);

    // Two polygons get the cover quad over the grown bounds.
    std::unique_ptr<Shape> two(Shape::create());
    two->rect(0, 0, 4, 4);
    two->rect(10, 10, 4, 4);
    owner.setContentShape(two.get());
    ASSERT_TRUE(fill->cacheShape(true));
    EXPECT_EQ(fill->vertexRange().size, 4 + 4 + 6);
    const auto& v = fill->getCachedVertices();
    const ShapeBufferVertex& last = v[static_cast<size_t>(fill->vertexRange().start + 13)];
    EXPECT_FLOAT_EQ(last.x, -1);  // (left, top) of bounds (0, 0, 14, 14) grown by 1
    EXPECT_FLOAT_EQ(last.y, -1);

    // A corner sharper than about 49 degrees needs a bevel.
    auto sharp = Polygon({Vec2(0, 0), Vec2(40, 5), Vec2(0, 10)});
    owner.setContentShape(sharp.get());
    owner.setAntiAlias(true);
    ASSERT_TRUE(fill->cacheShape(true));
    const PathCache& tri = fill->getCachedPaths()[0];
    int bevels = 0;
    for (int i = 0; i < tri.count; ++i)
        if (fill->getCachedPoints()[tri.first + i].flags & PathFlattenPoint::kBevel) ++bevels;
    EXPECT_EQ(bevels, 1);
    EXPECT_EQ(tri.bevelCount, 1);
}

TEST(FlattenTest, StrokeWidthIsClampedAndNeverThinnerThanTheFringe) {
    DrawableShape owner(nullptr, false);
    std::unique_ptr<Shape> line(Shape::createLine(0, 0, 10, 0));
    owner.setContentShape(line.get());
    owner.setStrokeWidth(300);
    ShapeStrokeCache* stroke = owner.strokeCache();
    ASSERT_TRUE(stroke->cacheShape(true));
    EXPECT_FLOAT_EQ(stroke->strokeWidth(), 200);
    owner.setStrokeWidth(0.5f);
    ASSERT_TRUE(stroke->cacheShape(true));
    EXPECT_FLOAT_EQ(stroke->strokeWidth(), 1.0f);
    owner.setStrokeWidth(NAN);
    ASSERT_TRUE(stroke->cacheShape(true));
    EXPECT_FLOAT_EQ(stroke->strokeWidth(), 1.0f);

    // An open two-point line with butt caps: two cap vertices on each end
    // and one pair per inner point; the budget holds them.
    owner.setStrokeWidth(4);
    owner.setLineCap(kCapSquare);
    ASSERT_TRUE(stroke->cacheShape(true));
    const PathCache& path = stroke->getCachedPaths()[0];
    EXPECT_EQ(path.strokeCount, 8 + 10);
    EXPECT_LE(path.strokeCount, stroke->vertexRange().size);
    EXPECT_EQ(ShapeStrokeCache::hvCurveDivsS(0, Float::pi, 0.25f), 2);
    EXPECT_EQ(ShapeStrokeCache::hvCurveDivsS(10, Float::pi, 0.25f),
              static_cast<int>(std::ceil(M_PI / (2 * std::acos(10 / 10.25)))));
}
