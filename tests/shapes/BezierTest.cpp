// Curve segments against values computed here independently: Bernstein
// evaluation, dense numeric arc length, brute-force extrema, crossings and
// inflections, and the quadrature table's exactness on polynomials.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "shapes/Bezier.h"

using namespace Quorvane::Core;

namespace {

struct Cubic {
    double x[4], y[4];
    void at(double t, double& ox, double& oy) const {
        const double s = 1 - t;
        const double b[4] = {s * s * s, 3 * t * s * s, 3 * t * t * s, t * t * t};
        ox = oy = 0;
        for (int i = 0; i < 4; ++i) {
            ox += b[i] * x[i];
            oy += b[i] * y[i];
        }
    }
    double length() const {
        double sum = 0, px, py;
        at(0, px, py);
        for (int i = 1; i <= 20000; ++i) {
            double qx, qy;
            at(i / 20000.0, qx, qy);
            sum += std::hypot(qx - px, qy - py);
            px = qx;
            py = qy;
        }
        return sum;
    }
    Bezier* make() const {
        return new Bezier(float(x[0]), float(y[0]), float(x[1]), float(y[1]), float(x[2]), float(y[2]),
                          float(x[3]), float(y[3]));
    }
};

const Cubic kCurves[] = {
    {{0, 0, 10, 10}, {0, 10, 10, 0}},
    {{-50, -20, -80, -10}, {-5, -60, -40, -70}},
    {{0, 40, -20, 30}, {0, 30, 30, 0}},  // a loop-free S
    {{3, 3, 3, 3}, {1, 1, 1, 1}},        // a point
};

}  // namespace

TEST(BezierTest, QuadratureTableIntegratesPolynomialsExactly) {
    // Gauss-Legendre with 24 nodes is exact up to degree 47; in float the
    // sums agree to about 1e-6.
    double weights = 0;
    for (int i = 0; i < 24; ++i) weights += BezierUtil::mCvalues[i];
    EXPECT_NEAR(weights, 2.0, 1e-6);
    for (int k = 0; k <= 20; ++k) {
        double sum = 0;
        for (int i = 0; i < 24; ++i)
            sum += BezierUtil::mCvalues[i] * std::pow(double(BezierUtil::mTvalues[i]), k);
        const double exact = k % 2 ? 0.0 : 2.0 / (k + 1);
        EXPECT_NEAR(sum, exact, 2e-6) << "degree " << k;
    }
}

TEST(BezierTest, CubicPointsBoundsAndLengthMatchIndependentValues) {
    for (const Cubic& c : kCurves) {
        std::unique_ptr<Bezier> b(c.make());
        EXPECT_FALSE(b->isDirty());
        double minX = 1e30, minY = 1e30, maxX = -1e30, maxY = -1e30;
        for (int i = 0; i <= 1000; ++i) {
            double x, y;
            c.at(i / 1000.0, x, y);
            const Vec2 p = b->get(i / 1000.0f);
            EXPECT_NEAR(p.x, x, 1e-3);
            EXPECT_NEAR(p.y, y, 1e-3);
            minX = std::min(minX, x), maxX = std::max(maxX, x);
            minY = std::min(minY, y), maxY = std::max(maxY, y);
        }
        const Rect box = b->getBbox();
        EXPECT_NEAR(box.getLeft(), minX, 1e-3);
        EXPECT_NEAR(box.getTop(), minY, 1e-3);
        EXPECT_NEAR(box.getRight(), maxX, 1e-3);
        EXPECT_NEAR(box.getBottom(), maxY, 1e-3);
        EXPECT_NEAR(b->length(), c.length(), 1e-3 * std::max(1.0, c.length()));
    }
    std::unique_ptr<Bezier> arch(kCurves[0].make());
    EXPECT_EQ(arch->getBbox(), Rect(0, 0, 10, 7.5f));
}

TEST(BezierTest, QuadraticMatchesItsBernsteinForm) {
    Bezier q(0, 0, 10, 20, 20, 0);
    EXPECT_EQ(q.getOrder(), 2);
    for (float t : {0.1f, 0.5f, 0.9f}) {
        const Vec2 p = q.get(t);
        EXPECT_NEAR(p.x, 20 * t, 1e-4);
        EXPECT_NEAR(p.y, 2 * t * (1 - t) * 20, 1e-4);
    }
    EXPECT_EQ(q.getBbox(), Rect(0, 0, 20, 10));
    // Length of y = 40t(1-t) against x = 20t, by dense sampling.
    double sum = 0;
    for (int i = 0; i < 20000; ++i) {
        const double t0 = i / 20000.0, t1 = (i + 1) / 20000.0;
        sum += std::hypot(20 * (t1 - t0), 40 * (t1 * (1 - t1) - t0 * (1 - t0)));
    }
    EXPECT_NEAR(q.length(), sum, 1e-3);
    std::unique_ptr<Bezier> raised(q.raise());
    ASSERT_NE(raised, nullptr);
    EXPECT_EQ(raised->getOrder(), 3);
    for (float t : {0.2f, 0.7f}) EXPECT_TRUE(raised->get(t).equal(q.get(t), 1e-4f));
    std::unique_ptr<Bezier> cubic(kCurves[0].make());
    EXPECT_EQ(cubic->raise(), nullptr);
}

TEST(BezierTest, LineCacheFlagsAndMeasures) {
    Line line(0, 0, 10, 0);
    EXPECT_TRUE(line.isDirty());
    EXPECT_FLOAT_EQ(line.length(), 10);
    EXPECT_FALSE(line.isDirty());
    line.offset(Vec2(0, 0));
    line.rotate(Vec2(3, 3), 0);
    line.scale(1.0f);
    EXPECT_FALSE(line.isDirty());
    line.scale(2.0f);
    EXPECT_TRUE(line.isDirty());
    EXPECT_FLOAT_EQ(line.length(), 20);

    Line ramp(0, 0, 10, 0);
    EXPECT_FLOAT_EQ(ramp.getTForX(-1, 0), -1.0f);
    EXPECT_FLOAT_EQ(ramp.getTForX(11, 0), 2.0f);
    EXPECT_FLOAT_EQ(ramp.getTForX(5, 0), 0.5f);
    EXPECT_FLOAT_EQ(ramp.getTForX(2.5f, 0), 0.15625f);

    Line four(0, 0, 4, 0);
    std::unique_ptr<Line> piece(four.subline(0.25f, 0.75f));
    EXPECT_EQ(piece->startPoint(), Vec2(1, 0));
    EXPECT_EQ(piece->lastPoint(), Vec2(3, 0));
    EXPECT_FLOAT_EQ(piece->getT1(), 0.25f);
    EXPECT_FLOAT_EQ(piece->getT2(), 0.75f);

    float t = 0, distance = 0;
    EXPECT_EQ(ramp.project(Vec2(5, 5), &t, &distance), Vec2(5, 0));
    EXPECT_FLOAT_EQ(t, 0.5f);
    EXPECT_FLOAT_EQ(distance, 5);
    EXPECT_TRUE(ramp.on(Vec2(4, 0), &t, 0.01f));
    EXPECT_FLOAT_EQ(t, 0.4f);
    EXPECT_FALSE(ramp.on(Vec2(4, 1), nullptr, 0.01f));

    std::vector<Vec2> none;
    EXPECT_THROW(Line bad(&none), std::out_of_range);
    EXPECT_THROW(Bezier bad(&none), std::out_of_range);
    EXPECT_THROW(line.point(2), std::out_of_range);
}

TEST(BezierTest, SplittingProjectionAndClosestPoint) {
    std::unique_ptr<Bezier> b(kCurves[2].make());
    auto halves = b->split(0.3f);
    std::unique_ptr<Line> left(halves.first), right(halves.second);
    for (float u : {0.0f, 0.4f, 1.0f}) {
        EXPECT_TRUE(left->get(u).equal(b->get(0.3f * u), 1e-3f));
        EXPECT_TRUE(right->get(u).equal(b->get(0.3f + 0.7f * u), 1e-3f));
    }
    EXPECT_FLOAT_EQ(left->getT2(), 0.3f);
    EXPECT_FLOAT_EQ(right->getT1(), 0.3f);

    // The projection of a point near t = 0.62 comes back to that t.
    const Vec2 on = b->get(0.62f);
    const Vec2 off = on + b->normal(0.62f) * 2.0f;
    float t = 0, d = 0;
    b->project(off, &t, &d);
    EXPECT_NEAR(t, 0.62f, 2e-3);
    EXPECT_NEAR(d, 2.0f, 1e-2);

    float distance = 0;
    int index = 7;
    std::vector<Vec2> empty;
    BezierUtil::closest(&empty, Vec2(1, 1), &distance, &index);
    EXPECT_EQ(distance, 9223372036854775808.0f);
    EXPECT_EQ(index, 0);
}

TEST(BezierTest, CrossingsAndInflectionsAgreeWithBruteForce) {
    std::unique_ptr<Bezier> s(kCurves[2].make());
    // Crossings with the horizontal line y = 12: sign changes of y(t) - 12.
    std::vector<Vec2> found;
    Line across(-100, 12, 100, 12);
    across.intersects(s.get(), &found);
    int signChanges = 0;
    double px, py;
    kCurves[2].at(0, px, py);
    for (int i = 1; i <= 4000; ++i) {
        double x, y;
        kCurves[2].at(i / 4000.0, x, y);
        if ((py - 12) * (y - 12) < 0) ++signChanges;
        py = y;
    }
    ASSERT_EQ(static_cast<int>(found.size()), signChanges);
    for (const Vec2& r : found) EXPECT_NEAR(s->get(r.x).y, 12, 1e-2);

    // Inflections: where the cross product of first and second derivative
    // changes sign.
    std::vector<float> inflections;
    s->inflections(&inflections);
    std::vector<double> expected;
    auto cross = [](double t) {
        const Cubic& c = kCurves[2];
        const double s1 = 1 - t;
        double dx = 0, dy = 0, ddx = 0, ddy = 0;
        const double d[3] = {3 * s1 * s1, 6 * t * s1, 3 * t * t};
        for (int i = 0; i < 3; ++i) {
            dx += d[i] * (c.x[i + 1] - c.x[i]);
            dy += d[i] * (c.y[i + 1] - c.y[i]);
        }
        const double e[2] = {6 * s1, 6 * t};
        for (int i = 0; i < 2; ++i) {
            ddx += e[i] * (c.x[i + 2] - 2 * c.x[i + 1] + c.x[i]);
            ddy += e[i] * (c.y[i + 2] - 2 * c.y[i + 1] + c.y[i]);
        }
        return dx * ddy - dy * ddx;
    };
    for (int i = 0; i < 4000; ++i)
        if (cross(i / 4000.0) * cross((i + 1) / 4000.0) < 0) expected.push_back(i / 4000.0);
    ASSERT_EQ(inflections.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_NEAR(inflections[i], expected[i], 1e-3);

    // Two crossing curves: every reported pair meets at one point.
    Bezier a(0, 0, 30, 60, 60, -60, 90, 0);
    Bezier b(0, 10, 40, -40, 50, 50, 90, -10);
    std::vector<Vec2> pairs;
    a.intersects(&b, &pairs);
    ASSERT_FALSE(pairs.empty());
    for (const Vec2& pair : pairs) EXPECT_LT(a.get(pair.x).distance(b.get(pair.y)), 0.5f);
}

TEST(BezierTest, ReductionGivesSimpleContiguousPieces) {
    Bezier b(0, 0, 100, 80, -40, 90, 60, 0);
    std::vector<Bezier*> pieces;
    b.reduce(&pieces);
    ASSERT_GT(pieces.size(), 1u);
    float t = 0;
    for (Bezier* piece : pieces) {
        EXPECT_NEAR(piece->getT1(), t, 1e-3);
        EXPECT_TRUE(piece->simple());
        EXPECT_TRUE(piece->get(0.5f).equal(b.get((piece->getT1() + piece->getT2()) / 2), 0.5f));
        t = piece->getT2();
        delete piece;
    }
    EXPECT_NEAR(t, 1.0f, 1e-3);
}

TEST(BezierTest, RootHelpersAndHostileCurves) {
    std::vector<float> roots;
    std::vector<float> quadratic = {1, -1, 1};  // derivative coordinates with two roots
    BezierUtil::droots(&quadratic, &roots);
    ASSERT_EQ(roots.size(), 2u);
    for (float r : roots) {
        const float s = 1 - r;
        EXPECT_NEAR(s * s * 1 + 2 * r * s * -1 + r * r * 1, 0, 1e-5);
    }
    std::vector<float> line = {2, -2};
    BezierUtil::droots(&line, &roots);
    ASSERT_EQ(roots.size(), 1u);
    EXPECT_FLOAT_EQ(roots[0], 0.5f);

    // Non-finite and huge curves neither hang nor crash.
    Bezier wild(0, 0, NAN, 1, 1e30f, -1e30f, INFINITY, 3);
    wild.getBbox();
    wild.length();
    std::vector<Vec2> out;
    Bezier big(0, 0, 1e7f, 1e7f, -1e7f, 1e7f, 0, 0);
    Bezier big2(0, 0, 1e7f, 1e7f, -1e7f, 1e7f, 0, 0);
    big.intersects(&big2, &out);
    wild.intersects(&big, &out);
    wild.intersects(nullptr, &out);
}
