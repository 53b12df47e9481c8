// Curve fitting through point strips: the fitted path is sampled densely
// and every input point must lie within the error bound (squared distance)
// of it, measured here without the engine's code.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "shapes/Path.h"

using namespace Quorvane::Core;

namespace {

// Largest squared distance from any point to the path (sampled densely).
double WorstSquaredDistance(Path* path, const std::vector<Vec2>& points) {
    std::vector<Vec2> samples;
    for (Line* s : path->segments())
        for (int i = 0; i <= 400; ++i) samples.push_back(s->get(i / 400.0f));
    double worst = 0;
    for (const Vec2& p : points) {
        double best = 1e300;
        for (const Vec2& q : samples) {
            const double dx = double(p.x) - q.x, dy = double(p.y) - q.y;
            best = std::min(best, dx * dx + dy * dy);
        }
        worst = std::max(worst, best);
    }
    return worst;
}

}  // namespace

TEST(PathFitTest, FittedCurvesStayWithinTheErrorOfTheirPoints) {
    std::vector<Vec2> wave;
    for (int i = 0; i <= 60; ++i) wave.push_back(Vec2(i * 2.0f, 20 * std::sin(i * 0.2f)));
    for (float error : {4.0f, 0.5f}) {
        std::unique_ptr<Path> path(Path::smoothLineStrip(wave, false, error));
        ASSERT_NE(path, nullptr);
        EXPECT_GT(path->segmentCount(), 0u);
        EXPECT_LT(path->segmentCount(), wave.size() / 2);
        EXPECT_LT(WorstSquaredDistance(path.get(), wave), error + 0.05) << error;
        EXPECT_TRUE(path->getFirstPoint().equal(wave.front(), 1e-4f));
        EXPECT_TRUE(path->segments().back()->lastPoint().equal(wave.back(), 1e-4f));
    }
    // A finer bound needs at least as many pieces.
    std::unique_ptr<Path> coarse(Path::smoothLineStrip(wave, false, 4.0f));
    std::unique_ptr<Path> fine(Path::smoothLineStrip(wave, false, 0.05f));
    EXPECT_GE(fine->segmentCount(), coarse->segmentCount());
}

TEST(PathFitTest, SmallStrips) {
    // Two points: one cubic with its control points on the chord at thirds.
    std::unique_ptr<Path> two(Path::smoothLineStrip({Vec2(0, 0), Vec2(9, 0)}, false, 1));
    ASSERT_EQ(two->segmentCount(), 1u);
    const Line* c = two->segments().front();
    EXPECT_TRUE(c->point(1).equal(Vec2(3, 0), 1e-5f));
    EXPECT_TRUE(c->point(2).equal(Vec2(6, 0), 1e-5f));

    // Three collinear, evenly spaced points: one cubic through all three.
    std::vector<Vec2> three = {Vec2(0, 0), Vec2(5, 5), Vec2(10, 10)};
    std::unique_ptr<Path> line(Path::smoothLineStrip(three, false, 0.1f));
    ASSERT_EQ(line->segmentCount(), 1u);
    EXPECT_LT(WorstSquaredDistance(line.get(), three), 1e-4);

    // Repeated points give the same path.
    std::vector<Vec2> repeated = {Vec2(0, 0), Vec2(0, 0), Vec2(5, 5), Vec2(5, 5), Vec2(5, 5), Vec2(10, 10)};
    std::unique_ptr<Path> same(Path::smoothLineStrip(repeated, false, 0.1f));
    ASSERT_EQ(same->segmentCount(), line->segmentCount());
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(same->segments().front()->point(k), line->segments().front()->point(k));

    EXPECT_EQ(Path::smoothLineStrip({}, false, 1), nullptr);
    std::unique_ptr<Path> lone(Path::smoothLineStrip({Vec2(3, 3)}, false, 1));
    EXPECT_EQ(lone->segmentCount(), 0u);
    // A closed strip of one distinct point has nothing to close.
    std::unique_ptr<Path> loneClosed(Path::smoothLineStrip({Vec2(3, 3), Vec2(3, 3)}, true, 1));
    EXPECT_EQ(loneClosed->segmentCount(), 0u);
    EXPECT_TRUE(loneClosed->isClosed());
}

TEST(PathFitTest, ClosedStripsAndDegenerateBoundsTerminate) {
    std::vector<Vec2> ring;
    for (int i = 0; i < 24; ++i)
        ring.push_back(Vec2(50 + 30 * std::cos(i * 0.2618f), 50 + 30 * std::sin(i * 0.2618f)));
    std::unique_ptr<Path> closed(Path::smoothLineStrip(ring, true, 1.0f));
    EXPECT_TRUE(closed->isClosed());
    EXPECT_GT(closed->segmentCount(), 0u);
    for (Line* s : closed->segments())
        for (int i = 0; i <= 10; ++i) EXPECT_NEAR(s->get(i / 10.0f).distance(Vec2(50, 50)), 30, 1.5);

    // An error bound of 0, a negative or not-a-number one, and non-finite
    // points end with a path (splitting stops at two-point ranges).
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (float error : {0.0f, -1.0f, nan}) {
        std::unique_ptr<Path> p(Path::smoothLineStrip(ring, false, error));
        EXPECT_EQ(p->segmentCount(), ring.size() - 1) << error;
    }
    std::vector<Vec2> wild = {Vec2(0, 0), Vec2(nan, 1), Vec2(3e38f, -3e38f), Vec2(5, 5), Vec2(1e30f, 0)};
    std::unique_ptr<Path> p(Path::smoothLineStrip(wild, true, 1.0f));
    EXPECT_NE(p, nullptr);
}
