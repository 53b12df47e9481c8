// Paths and shapes: building, lengths, sampling, splitting, directions,
// ready-made outlines, and the mask path format with its malformed inputs.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include <rapidjson/document.h>

#include "shapes/Path.h"
#include "shapes/Shape.h"

using namespace Quorvane::Core;

namespace {

std::vector<Vec2> Corners(Path* path) {
    std::vector<Vec2> out;
    for (Line* s : path->segments()) out.push_back(s->startPoint());
    if (!path->segments().empty()) out.push_back(path->segments().back()->lastPoint());
    return out;
}

std::unique_ptr<Shape> FromJson(const char* json) {
    rapidjson::Document doc;
    doc.Parse(json);
    EXPECT_FALSE(doc.HasParseError()) << json;
    std::unique_ptr<Shape> shape(Shape::create());
    shape->addPathFromJson(doc);
    return shape;
}

}  // namespace

TEST(PathTest, BuildingMeasuringAndSampling) {
    Path path;
    EXPECT_FALSE(path.isDirty());
    path.moveTo(Vec2(0, 0));
    path.lineTo(Vec2(10, 0));
    path.moveTo(Vec2(50, 50));  // ignored: the start is fixed
    path.lineTo(Vec2(10, 30));
    ASSERT_EQ(path.segmentCount(), 2u);
    EXPECT_EQ(path.segments().back()->startPoint(), Vec2(10, 0));
    EXPECT_FLOAT_EQ(path.getLength(), 40);
    // Lengths 10 and 30: the middle lies 10 into the second segment.
    EXPECT_TRUE(path.getPointAt(0.5f).equal(Vec2(10, 10), 1e-4f));
    EXPECT_TRUE(path.getPointAt(2.0f).equal(Vec2(10, 30), 1e-4f));
    EXPECT_EQ(path.getBbox(), Rect(0, 0, 10, 30));
    // Equal points: no length, and every sample is that point.
    Path point;
    point.moveTo(Vec2(3, 4));
    point.lineTo(Vec2(3, 4));
    point.lineTo(Vec2(3, 4));
    EXPECT_EQ(point.getLength(), 0.0f);
    for (float t : {0.0f, 0.5f, 1.0f}) EXPECT_TRUE(point.getPointAt(t).equal(Vec2(3, 4), 1e-6f)) << t;
    float at = -1;
    EXPECT_TRUE(point.segments().front()->project(Vec2(9, 9), &at, nullptr).equal(Vec2(3, 4), 1e-6f));
    EXPECT_EQ(at, 0.0f);
    EXPECT_EQ(point.segments().front()->normal(0.5f), Vec2());

    std::unique_ptr<Path> rect(Path::rect(Rect(0, 0, 10, 5)));
    EXPECT_EQ(rect->segmentCount(), 4u);
    EXPECT_TRUE(rect->isClosed());
    EXPECT_FLOAT_EQ(rect->getLength(), 30);
    EXPECT_EQ(rect->getBbox(), Rect(0, 0, 10, 5));

    std::unique_ptr<Path> few(Path::segmentCircle(Vec2(0, 0), 5, 2));
    std::unique_ptr<Path> many(Path::segmentCircle(Vec2(0, 0), 5, 500));
    std::unique_ptr<Path> seven(Path::segmentCircle(Vec2(1, 1), 5, 7));
    // n sides: n - 1 segments plus the implied closing edge.
    EXPECT_EQ(few->segmentCount(), 2u);
    EXPECT_EQ(many->segmentCount(), 99u);
    EXPECT_EQ(seven->segmentCount(), 6u);
    for (const Vec2& p : Corners(seven.get())) EXPECT_NEAR(p.distance(Vec2(1, 1)), 5, 1e-4);

    // A quadratic becomes the equivalent cubic.
    Path quad;
    quad.moveTo(Vec2(0, 0));
    quad.quadTo(Vec2(3, 3), Vec2(6, 0));
    const Line* c = quad.segments().front();
    ASSERT_EQ(c->getOrder(), 3);
    EXPECT_TRUE(c->point(1).equal(Vec2(2, 2), 1e-5f));
    EXPECT_TRUE(c->point(2).equal(Vec2(4, 2), 1e-5f));

    std::unique_ptr<Path> strip(Path::lineStrip({Vec2(0, 0), Vec2(3, 4), Vec2(3, 0)}));
    EXPECT_EQ(strip->segmentCount(), 2u);
    EXPECT_FLOAT_EQ(strip->getLength(), 9);
    EXPECT_EQ(strip->getFirstPoint(), Vec2(0, 0));
    float y = 0;
    EXPECT_TRUE(strip->getYForX(1.5f, &y));
    EXPECT_NEAR(y, 2, 0.05);
    EXPECT_FALSE(strip->getYForX(7, &y));
    EXPECT_EQ(Path::lineStrip({}), nullptr);

    Path empty;
    EXPECT_EQ(empty.getPointAt(0.5f), Vec2(0, 0));
    EXPECT_FLOAT_EQ(empty.getLength(), 0);
}

TEST(PathTest, SplittingAndDirection) {
    Path path;
    path.moveTo(Vec2(0, 0));
    path.lineTo(Vec2(10, 0));
    path.lineTo(Vec2(10, 30));
    auto zero = path.split(0.0f);
    EXPECT_EQ(zero.first->segmentCount(), 0u);
    EXPECT_EQ(zero.second->segmentCount(), 2u);
    auto one = path.split(1.0f);
    EXPECT_EQ(one.first->segmentCount(), 2u);
    EXPECT_EQ(one.second->segmentCount(), 0u);
    auto half = path.split(0.5f);
    EXPECT_EQ(half.first->segmentCount(), 2u);
    EXPECT_TRUE(half.first->getLastPoint().equal(Vec2(10, 10), 1e-4f));
    EXPECT_FLOAT_EQ(half.first->getLength(), 20);
    EXPECT_EQ(half.second->segmentCount(), 1u);
    EXPECT_FLOAT_EQ(half.second->getLength(), 20);
    EXPECT_TRUE(half.second->getFirstPoint().equal(Vec2(10, 10), 1e-4f));
    std::unique_ptr<Path> middle(path.split(0.25f, 0.75f));
    EXPECT_FLOAT_EQ(middle->getLength(), 20);
    for (auto* p : {zero.first, zero.second, one.first, one.second, half.first, half.second}) delete p;

    // A path of zero length has no shares to walk: all of it comes first.
    Path dot;
    dot.moveTo(Vec2(1, 1));
    dot.lineTo(Vec2(1, 1));
    auto parts = dot.split(0.5f);
    EXPECT_EQ(parts.first->segmentCount(), 1u);
    EXPECT_EQ(parts.second->segmentCount(), 0u);
    delete parts.first;
    delete parts.second;

    auto square = [](bool clockwise, bool closed) {
        std::vector<Vec2> p = {Vec2(0, 0), Vec2(10, 0), Vec2(10, 10), Vec2(0, 10)};
        if (!clockwise) std::reverse(p.begin(), p.end());
        Path* path = new Path();
        path->moveTo(p[0]);
        for (size_t i = 1; i < p.size(); ++i) path->lineTo(p[i]);
        if (closed) path->lineTo(p[0]);
        path->setDirection();
        return std::unique_ptr<Path>(path);
    };
    EXPECT_NE(square(true, true)->direction(), square(false, true)->direction());
    EXPECT_EQ(square(true, false)->direction(), square(true, true)->direction());
    EXPECT_EQ(square(false, false)->direction(), square(false, true)->direction());
}

TEST(ShapeTest, DrawingInterface) {
    std::unique_ptr<Shape> rect(Shape::createRect(0, 0, 10, 20));
    ASSERT_EQ(rect->pathCount(), 1u);
    Path* p = rect->paths().front();
    EXPECT_TRUE(p->isClosed());
    const std::vector<Vec2> expected = {Vec2(0, 0), Vec2(0, 20), Vec2(10, 20), Vec2(10, 0)};
    EXPECT_EQ(Corners(p), expected);

    // roundRect clamps the radius to half of each side.
    std::unique_ptr<Shape> round(Shape::createRoundRect(0, 0, 100, 50, 80, kRoundRectAll));
    EXPECT_EQ(round->getBbox(), Rect(0, 0, 100, 50));
    EXPECT_EQ(round->paths().front()->segments().front()->startPoint(), Vec2(50, 0));
    std::unique_ptr<Shape> square(Shape::createRoundRect(0, 0, 100, 50, 80, kRoundRectNone));
    std::unique_ptr<Shape> tiny(Shape::createRoundRect(0, 0, 100, 50, 0.05f, kRoundRectAll));
    EXPECT_EQ(Corners(square->paths().front()), Corners(tiny->paths().front()));

    auto pieces = [](float a1, int dir) {
        std::unique_ptr<Shape> s(Shape::createArc(0, 0, 10, 0, a1, dir));
        return s->paths().front()->segmentCount();
    };
    EXPECT_EQ(pieces(Float::doublePi, kArcIncreasing), 4u);
    EXPECT_EQ(pieces(0.1f, kArcDecreasing), 4u);
    EXPECT_EQ(pieces(0.1f, kArcIncreasing), 1u);
    // Every arc point lies on the circle.
    std::unique_ptr<Shape> arc(Shape::createArc(5, 5, 10, 0.3f, 2.5f, kArcIncreasing));
    Path* a = arc->paths().front();
    // One cubic spans this 126 degree sweep; its radial error stays below 0.3%.
    for (int i = 0; i <= 20; ++i) EXPECT_NEAR(a->getPointAt(i / 20.0f).distance(Vec2(5, 5)), 10, 0.03);
    std::unique_ptr<Shape> circle(Shape::createCircle(0, 0, 10));
    EXPECT_NEAR(circle->getLength(), 2 * M_PI * 10, 0.05);

    // arcTo to the current point draws a straight line; a corner gets an arc
    // tangent to both edges.
    Shape corner;
    corner.moveTo(0, 0);
    corner.arcTo(0, 0, 10, 10, 5);
    EXPECT_EQ(corner.paths().front()->segments().back()->getOrder(), 1);
    // Both turns: the arc of radius 5 inside the corner, a quarter circle
    // from the tangent point on the first edge to the one on the second.
    for (float turn : {20.0f, -20.0f}) {
        Shape c;
        c.moveTo(0, 0);
        c.arcTo(20, 0, 20, turn, 5);
        Path* path = c.paths().front();
        const float side = turn > 0 ? 5.0f : -5.0f;
        EXPECT_TRUE(path->segments().front()->lastPoint().equal(Vec2(15, 0), 1e-3f)) << turn;
        EXPECT_TRUE(path->getLastPoint().equal(Vec2(20, side), 1e-3f)) << turn;
        for (int i = 1; i <= 10; ++i) {
            const Vec2 q = path->segments().back()->get(i / 10.0f);
            EXPECT_NEAR(q.distance(Vec2(15, side)), 5, 0.01) << turn;
        }
    }

    Shape empty;
    EXPECT_EQ(empty.getBackPathDirection(), kPath2DirectionSolid);
    empty.lineTo(3, 3);  // no current path: ignored
    EXPECT_EQ(empty.pathCount(), 0u);
    empty.appendPath(nullptr);
    EXPECT_EQ(empty.pathCount(), 0u);
    EXPECT_FLOAT_EQ(DeDistPtSegS(5, 5, 0, 0, 10, 0), 25);
    EXPECT_FLOAT_EQ(DeDistPtSegS(-3, 4, 0, 0, 10, 0), 25);
    EXPECT_FLOAT_EQ(DeDistPtSegS(1, 1, 2, 2, 2, 2), 2);
}

TEST(ShapeTest, SplittingCopyingAndTransforming) {
    Shape two;
    two.moveTo(0, 0);
    two.lineTo(10, 0);
    two.moveTo(0, 5);
    two.lineTo(10, 5);
    auto halves = two.split(0.5f);
    EXPECT_EQ(halves.first->pathCount(), 1u);
    EXPECT_EQ(halves.second->pathCount(), 1u);
    EXPECT_FLOAT_EQ(halves.first->getLength(), 10);
    EXPECT_EQ(halves.second->getBbox(), Rect(0, 5, 10, 0));
    delete halves.first;
    delete halves.second;
    std::unique_ptr<Shape> quarter(two.split(0.25f, 0.75f));
    EXPECT_FLOAT_EQ(quarter->getLength(), 10);

    Shape three;
    three.rect(0, 0, 1, 1);
    three.circle(5, 5, 2);
    three.moveTo(20, 20);
    three.lineTo(30, 25);
    Shape copy;
    copy.copy(&three);
    EXPECT_EQ(copy.pathCount(), 3u);
    EXPECT_EQ(copy.getBbox(), three.getBbox());
    EXPECT_FLOAT_EQ(copy.getLength(), three.getLength());
    EXPECT_NE(copy.paths().front(), three.paths().front());

    copy.translate(5, -5);
    EXPECT_EQ(copy.getBbox(), Rect(5, -5, 30, 25));
    copy.scale(2, 2);
    EXPECT_EQ(copy.getBbox(), Rect(10, -10, 60, 50));
    copy.clear();
    EXPECT_EQ(copy.getBbox(), Rect());
    EXPECT_FLOAT_EQ(copy.getLength(), 0);

    // A shape without length splits into everything before the cut.
    Shape dot;
    dot.moveTo(1, 1);
    dot.lineTo(1, 1);
    auto parts = dot.split(0.5f);
    EXPECT_EQ(parts.first->pathCount(), 1u);
    EXPECT_EQ(parts.second->pathCount(), 0u);
    delete parts.first;
    delete parts.second;
}

TEST(ShapeTest, MaskPathFormat) {
    // The second segment's first point is not read; the path is closed.
    auto s = FromJson(R"([{"lines": [[[0,0],[10,0]], [[99,99],[10,10]]]}])");
    ASSERT_EQ(s->pathCount(), 1u);
    const std::vector<Vec2> polyline = {Vec2(0, 0), Vec2(10, 0), Vec2(10, 10)};
    EXPECT_EQ(Corners(s->paths().front()), polyline);
    EXPECT_TRUE(s->paths().front()->isClosed());
    EXPECT_EQ(s->paths().front()->direction(), kPath2DirectionSolid);

    auto cubic = FromJson(R"([{"hole": true, "open": true, "lines": [[[0,0],[0,10],[10,10],[10,0]]]}])");
    ASSERT_EQ(cubic->pathCount(), 1u);
    EXPECT_EQ(cubic->paths().front()->segments().front()->getOrder(), 3);
    EXPECT_FALSE(cubic->paths().front()->isClosed());
    EXPECT_EQ(cubic->paths().front()->direction(), kPath2DirectionHole);

    // Skipped path objects change nothing of earlier sub-paths.
    auto skipped = FromJson(R"([{"lines": [[[0,0],[5,0]]]}, {"lines": []}, {"open": true},
        {"lines": [[[0,0],[1,1],[2,2]], [[1,1]], 4, [[0,0],[1,"x"]], [[0,0],[1e300,1]]]},
        {"hole": "true", "open": 1, "lines": [[[1,1],[2,2]]]}])");
    ASSERT_EQ(skipped->pathCount(), 2u);
    EXPECT_TRUE(skipped->paths().front()->isClosed());
    EXPECT_EQ(skipped->paths().back()->direction(), kPath2DirectionSolid);
    EXPECT_TRUE(skipped->paths().back()->isClosed());

    auto ints = FromJson(R"([{"lines": [[[10,0],[20,5]], [[0,0],[4294967295,-3]]]}])");
    auto doubles = FromJson(R"([{"lines": [[[10.0,0.0],[20.0,5.0]], [[0,0],[4294967295.0,-3.0]]]}])");
    EXPECT_EQ(Corners(ints->paths().front()), Corners(doubles->paths().front()));

    for (const char* json : {"5", "\"x\"", "null", "{}", "[5, [], [[]], \"a\"]"}) {
        auto none = FromJson(json);
        EXPECT_EQ(none->pathCount(), 0u) << json;
    }
}
