// Polygon: area, containment, the fixed-point copy, offsetting and union
// through the clipping library, checked against values worked out here.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "shapes/Polygon.h"
#include "shapes/Shape.h"

using namespace Quorvane::Core;

namespace {

struct Owned {
    std::vector<Polygon*> list;
    ~Owned() {
        for (Polygon* p : list) delete p;
    }
};

Rect Bounds(const Polygon& p) {
    Rect r(p.points()[0], Vec2(0, 0));
    for (const Vec2& v : p.points()) r.include(v);
    return r;
}

}  // namespace

TEST(PolygonTest, AreaContainmentAndFixedPoint) {
    Polygon square({Vec2(0, 0), Vec2(10, 0), Vec2(10, 10), Vec2(0, 10)});
    Polygon reversed({Vec2(0, 10), Vec2(10, 10), Vec2(10, 0), Vec2(0, 0)});
    EXPECT_FLOAT_EQ(square.getArea(), 100);
    EXPECT_FLOAT_EQ(reversed.getArea(), 100);
    EXPECT_TRUE(square.isPointInside(Vec2(5, 5)));
    EXPECT_FALSE(square.isPointInside(Vec2(15, 5)));
    EXPECT_FALSE(square.isPointInside(Vec2(5, -1)));

    Polygon empty;
    EXPECT_FLOAT_EQ(empty.getArea(), 0);
    EXPECT_FALSE(empty.isPointInside(Vec2(0, 0)));

    Polygon one;
    one.addPoint(1.239f, -1.239f);
    ASSERT_EQ(one.privateScaledPoints().size(), 1u);
    EXPECT_EQ(one.privateScaledPoints()[0].X, 123);
    EXPECT_EQ(one.privateScaledPoints()[0].Y, -123);
    // Out-of-range and not-a-number coordinates are kept inside the
    // library's range instead of overflowing the conversion.
    one.addPoint(3e38f, NAN);
    EXPECT_GT(one.privateScaledPoints()[1].X, 0);
    EXPECT_EQ(one.privateScaledPoints()[1].Y, 0);
    one.clear();
    EXPECT_EQ(one.getPointCount(), 0u);
    EXPECT_TRUE(one.privateScaledPoints().empty());
}

TEST(PolygonTest, OffsettingGrowsAndShrinksWithMitredCorners) {
    Polygon square({Vec2(0, 0), Vec2(10, 0), Vec2(10, 10), Vec2(0, 10)});
    Owned grown;
    square.expandPolygon(grown.list, 1);
    ASSERT_EQ(grown.list.size(), 1u);
    EXPECT_EQ(grown.list[0]->getPointCount(), 4u);  // mitred: no extra corner points
    EXPECT_EQ(Bounds(*grown.list[0]), Rect(-1, -1, 12, 12));
    EXPECT_NEAR(grown.list[0]->getArea(), 144, 1e-3);

    Owned shrunk;
    square.expandPolygon(shrunk.list, -2);
    ASSERT_EQ(shrunk.list.size(), 1u);
    EXPECT_NEAR(shrunk.list[0]->getArea(), 36, 1e-3);
    Owned gone;
    square.expandPolygon(gone.list, -6);
    EXPECT_TRUE(gone.list.empty());

    Owned none;
    Polygon().expandPolygon(none.list, 3);
    square.expandPolygon(none.list, NAN);
    square.expandPolygon(none.list, 1e30f);
    EXPECT_TRUE(none.list.empty());
}

TEST(PolygonTest, SelfOverlappingPolygonsSplitIntoSimpleOnes) {
    // A figure eight: two triangles meeting at (5, 5).
    Polygon eight({Vec2(0, 0), Vec2(10, 10), Vec2(10, 0), Vec2(0, 10)});
    Owned parts;
    eight.splitOverlapPolygon(parts.list);
    ASSERT_EQ(parts.list.size(), 2u);
    float total = 0;
    for (Polygon* p : parts.list) {
        EXPECT_EQ(p->getPointCount(), 3u);
        total += p->getArea();
    }
    EXPECT_NEAR(total, 50, 1e-3);
    // Every point of the figure's two lobes is inside exactly one part.
    for (const Vec2& q : {Vec2(2, 5), Vec2(8, 5)}) {
        int inside = 0;
        for (Polygon* p : parts.list) inside += p->isPointInside(q);
        EXPECT_EQ(inside, 1);
    }
    Owned none;
    Polygon().splitOverlapPolygon(none.list);
    EXPECT_TRUE(none.list.empty());
}

TEST(PolygonTest, FromAndToShapes) {
    Polygon polygon({Vec2(100, 100), Vec2(200, 100)});
    std::unique_ptr<Shape> circle(Shape::createCircle(0, 0, 20));
    polygon.flatFromShape(circle.get(), 0.25f);
    ASSERT_GT(polygon.getPointCount(), 16u);
    EXPECT_EQ(polygon.privateScaledPoints().size(), polygon.getPointCount());
    for (const Vec2& p : polygon.points()) EXPECT_NEAR(p.length(), 20, 0.05);
    // The polygon inscribed in the circle: slightly less than its area.
    EXPECT_LT(polygon.getArea(), M_PI * 400);
    EXPECT_GT(polygon.getArea(), M_PI * 400 * 0.98);

    std::unique_ptr<Shape> smooth(polygon.smoothToShape(0.5f));
    ASSERT_EQ(smooth->pathCount(), 1u);
    EXPECT_FALSE(smooth->paths().front()->isClosed());
    for (Line* s : smooth->paths().front()->segments())
        for (int i = 0; i <= 8; ++i) EXPECT_NEAR(s->get(i / 8.0f).length(), 20, 1.0);
    std::unique_ptr<Shape> nothing(Polygon().smoothToShape(1));
    EXPECT_EQ(nothing->pathCount(), 0u);
}
