#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <vector>

#include "ValueTypeExpect.h"
#include "core/Float.h"
#include "core/Matrix.h"
#include "core/Rotation.h"
#include "core/Vector.h"

using namespace Quorvane::Core;
using QvTest::Near;

TEST(FloatConstants, ValuesMatchTheirDefinitions) {
    const float nearestHalfPi = static_cast<float>(M_PI / 2.0);
    EXPECT_EQ(Float::halfPi, std::nextafter(nearestHalfPi, 0.0f));
    EXPECT_EQ(Float::pi, static_cast<float>(M_PI));
    EXPECT_EQ(Float::doublePi, static_cast<float>(2.0 * M_PI));
    EXPECT_EQ(Float::e, static_cast<float>(M_E));
    EXPECT_EQ(Float::sqrt3, static_cast<float>(std::sqrt(3.0)));
    EXPECT_EQ(Float::log2e, static_cast<float>(M_LOG2E));
    EXPECT_EQ(Float::log10e, static_cast<float>(M_LOG10E));
    EXPECT_EQ(Float::max, FLT_MAX);
    EXPECT_EQ(Float::min, FLT_MIN);
    EXPECT_GT(Float::min, 0.0f);
    EXPECT_EQ(Float::degreesToRadiansFactor, static_cast<float>(M_PI / 180.0));
    EXPECT_EQ(Float::radiansToDegreesFactor, static_cast<float>(180.0 / M_PI));
    EXPECT_EQ(Float::epsilon, 1e-6f);
    EXPECT_EQ(Float::pixelEpsilon, 0.25f);
}

TEST(Range, Constructors) {
    const Range whole(true), none(false), from(7), span(3, 4);
    EXPECT_EQ(whole.start, 0);
    EXPECT_EQ(whole.size, 2147483647);
    EXPECT_EQ(none.start, 0);
    EXPECT_EQ(none.size, 0);
    EXPECT_EQ(from.start, 7);
    EXPECT_EQ(from.size, 0);
    Range copy(span);
    EXPECT_EQ(copy.start, 3);
    EXPECT_EQ(copy.size, 4);

    // End, moves and membership, saturating at the int32 limits.
    EXPECT_EQ(whole.end(), 2147483647);
    copy.offset(-5);
    copy.setEnd(1);
    EXPECT_EQ(copy.start, -2);
    EXPECT_EQ(copy.size, 3);
    EXPECT_TRUE(copy.contains(-2) && copy.contains(0));
    EXPECT_FALSE(copy.contains(1) || copy.contains(-3) || none.contains(0));
    copy.offset(INT32_MIN);
    EXPECT_EQ(copy.start, INT32_MIN);
    copy.setEnd(INT32_MAX);
    EXPECT_EQ(copy.size, INT32_MAX);
    EXPECT_EQ(copy.end(), -1);
}

TEST(Vec2, ArithmeticFamiliesInPlaceAndNew) {
    Vec2 a(1, 2);
    const Vec2 sum = a + Vec2(3, 4);
    EXPECT_TRUE(Near(a, Vec2(1, 2)));  // operators leave the operand alone
    EXPECT_TRUE(Near(sum, Vec2(4, 6)));
    EXPECT_TRUE(Near(a - 1.0f, Vec2(0, 1)));
    EXPECT_TRUE(Near(a * Vec2(2, 3), Vec2(2, 6)));
    EXPECT_TRUE(Near(a / 2.0f, Vec2(0.5f, 1)));
    a += 1.0f;
    a *= Vec2(2, 0.5f);
    a -= Vec2(1, 1);
    a /= 2.0f;
    EXPECT_TRUE(Near(a, Vec2(1.5f, 0.25f)));
    EXPECT_TRUE(Near(Vec2(7.5f, -7.5f) % Vec2(2, 2), Vec2(1.5f, -1.5f)));
    const float arr[4] = {9, 8, 7, 6};
    Vec2 f(1, 1);
    f.fromArray(arr, 2);
    EXPECT_TRUE(Near(f, Vec2(7, 6)));
    f.fromArray(nullptr, 0);
    EXPECT_TRUE(Near(f, Vec2(7, 6)));
}

TEST(Vec2, LengthNeverDividesByZero) {
    Vec2 z;
    z.normalize();
    EXPECT_EQ(z.x, 1.0f);
    EXPECT_EQ(z.y, 0.0f);
    Vec2 v(3, 4);
    v.setLength(10);
    EXPECT_TRUE(Near(v, Vec2(6, 8)));
    float x = 3, y = 4;
    EXPECT_FLOAT_EQ(Vec2::normalize(&x, &y), 5.0f);
    EXPECT_FLOAT_EQ(x, 0.6f);
    EXPECT_FLOAT_EQ(y, 0.8f);
    float tx = 1e-7f, ty = 0;
    EXPECT_FLOAT_EQ(Vec2::normalize(&tx, &ty), 1e-7f);
    EXPECT_EQ(tx, 1e-7f);  // too short to normalize: left alone
}

TEST(Vec2, ToleranceTestsDifferInStrictness) {
    EXPECT_TRUE(Vec2(3, 4).equal(Vec2(3, 4.000001f), Float::epsilon));
    EXPECT_TRUE(Vec2(3, 4) == Vec2(3, 4.000001f));
    EXPECT_TRUE(Vec2(0, 0).equal(Vec2(0.5f, 0.5f), 0.5f));                    // per component, inclusive
    EXPECT_FALSE(Vec2::equalWithTolerance(Vec2(0, 0), Vec2(0.5f, 0), 0.5f));  // strict
    EXPECT_TRUE(Vec2::equalWithTolerance(0, 0, 0.25f, 0, 0.5f));
    EXPECT_TRUE(Vec2::isDuplicate(Vec2(1, 1), Vec2(1.2f, 0.8f)));
    EXPECT_FALSE(Vec2::isDuplicate(Vec2(1, 1), Vec2(1.25f, 1)));
    EXPECT_TRUE(Vec2(1, 1).isOrthogonal(Vec2(1, -1)));
    EXPECT_FALSE(Vec2(1, 1).isOrthogonal(Vec2(1, 1)));
    EXPECT_TRUE(Vec2(1, 2).isCollinear(Vec2(-2, -4)));
    EXPECT_FALSE(Vec2(1, 2).isCollinear(Vec2(2, 1)));
    EXPECT_TRUE(Vec2().isCollinear(Vec2(2, 1)));
    EXPECT_TRUE(Vec2().isOrthogonal(Vec2(2, 1)));
    EXPECT_TRUE(Vec2(0, 0).isZero());
    EXPECT_FALSE(Vec2(0, 1e-30f).isZero());
    EXPECT_TRUE(Vec2(0, 1e-7f).negligible());
    EXPECT_TRUE(Vec2(0, 1e-6f).nonNegligible());
}

TEST(Vec2, AnglesAreInDegrees) {
    EXPECT_EQ(Vec2().getAngle(), 0.0f);
    EXPECT_FLOAT_EQ(Vec2(0, 1).getAngle(), 90.0f);
    EXPECT_FLOAT_EQ(Vec2(-1, 0).getAngle(), 180.0f);
    EXPECT_TRUE(Near(Vec2(1, 0).rotate(90), Vec2(0, 1)));
    EXPECT_TRUE(Near(Vec2(2, 1).rotateAround(180, Vec2(1, 1)), Vec2(0, 1)));
    const Vec2 p(2, 1);
    EXPECT_TRUE(Near(p.rotateRound(90, Vec2(1, 1)), Vec2(1, 2)));
    EXPECT_TRUE(Near(p, Vec2(2, 1)));
    Vec2 same(0.1f, 0.2f);
    same.rotate(0.0f);
    EXPECT_EQ(same.x, 0.1f);
    EXPECT_EQ(same.y, 0.2f);
    Vec2 s(3, 4);
    s.setAngle(90);
    EXPECT_TRUE(Near(s, Vec2(0, 5), 1e-5f));
    EXPECT_FLOAT_EQ(Vec2(1, 0).angleBetween(Vec2(0, 1)), 90.0f);
    EXPECT_FLOAT_EQ(Vec2(0, 1).angleBetween(Vec2(1, 0)), -90.0f);
    EXPECT_EQ(Vec2(0, 0).getQuadrant(), 1);
    EXPECT_EQ(Vec2(-1, 0).getQuadrant(), 2);
    EXPECT_EQ(Vec2(-1, -1).getQuadrant(), 3);
    EXPECT_EQ(Vec2(0, -1).getQuadrant(), 4);
}

TEST(Vec2, ProductsProjectionsAndSigns) {
    EXPECT_EQ(Vec2(1, 2).cross(Vec2(3, 4)), -2.0f);
    EXPECT_EQ(Vec2::cross(1, 2, 3, 4), -2.0f);
    EXPECT_TRUE(Near(Vec2(2, 3).project(Vec2(4, 0)), Vec2(2, 0)));
    EXPECT_TRUE(Near(Vec2(2, 3).project(Vec2()), Vec2()));
    EXPECT_TRUE(Near(Vec2(1, 2).normal(), Vec2(-2, 1)));
    EXPECT_TRUE(Near(Vec2(1, 2).perpindicularRight(), Vec2(2, -1)));
    Vec2 p(1, 2);
    p.prepen();
    EXPECT_TRUE(Near(p, Vec2(-2, 1)));
    Vec2 f(1, -2);
    f.followSigns(Vec2(-5, -5));
    EXPECT_TRUE(Near(f, Vec2(-1, -2)));
    EXPECT_FLOAT_EQ(Vec2(2, 6).slope(), 3.0f);
    EXPECT_FLOAT_EQ(Vec2::signedArea(Vec2(0, 0), Vec2(2, 0), Vec2(0, 2)), 4.0f);
    EXPECT_FLOAT_EQ(Vec2::signedArea(Vec2(0, 0), Vec2(0, 2), Vec2(2, 0)), -4.0f);
    EXPECT_TRUE(Vec2::intersecting(Vec2(0, 0), Vec2(2, 0), Vec2(1, 1), Vec2(1, -1)));
    EXPECT_FALSE(Vec2::intersecting(Vec2(0, 0), Vec2(2, 0), Vec2(1, 1), Vec2(3, 2)));
    EXPECT_TRUE(Near(Vec2::lerp(Vec2(0, 0), Vec2(10, -10), 0.25f), Vec2(2.5f, -2.5f)));
    Vec2 c(-5, 50);
    c.clamp(Vec2(0, 0), Vec2(10, 10));
    EXPECT_TRUE(Near(c, Vec2(0, 10)));
}

TEST(Vec2, OppositeQuadrantAndAnchors) {
    EXPECT_TRUE(Vec2::oppositeQuadrant(Vec2(1, 1), Vec2(-1, -1)));
    EXPECT_TRUE(Vec2::oppositeQuadrant(Vec2(0, 1), Vec2(0, -1)));
    EXPECT_TRUE(Vec2::oppositeQuadrant(Vec2(1, 0), Vec2(-1, 0)));
    EXPECT_FALSE(Vec2::oppositeQuadrant(Vec2(0, 0), Vec2(0, 0)));
    EXPECT_FALSE(Vec2::oppositeQuadrant(Vec2(1, 1), Vec2(-1, 1)));

    const Vec2 a(2, 0), b(0, 0);
    Vec2 d(-1, 0);  // points from a towards b
    EXPECT_TRUE(Vec2::anchorOutward(d, a, b, false));
    EXPECT_TRUE(Near(d, Vec2(1, 0)));
    EXPECT_FALSE(Vec2::anchorOutward(d, a, b, false));
    EXPECT_TRUE(Near(d, Vec2(1, 0)));
    EXPECT_TRUE(Vec2::anchorInward(d, a, b));
    EXPECT_TRUE(Near(d, Vec2(-1, 0)));
}

TEST(Vec2, LineIntersectionCodes) {
    Vec2 out;
    double ua = -7, ub = -7;
    EXPECT_EQ(Vec2::intersect(Vec2(0, 0), Vec2(2, 2), Vec2(0, 2), Vec2(2, 0), out, &ua, &ub), 1);
    EXPECT_TRUE(Near(out, Vec2(1, 1)));
    EXPECT_DOUBLE_EQ(ua, 0.5);
    EXPECT_DOUBLE_EQ(ub, 0.5);

    ua = ub = -7;
    EXPECT_EQ(Vec2::intersect(Vec2(0, 0), Vec2(4, 0), Vec2(2, 0), Vec2(6, 0), out, &ua, &ub), 2);
    EXPECT_TRUE(Near(out, Vec2(2, 0)));

    out.set(5, 5);
    EXPECT_EQ(Vec2::intersect(Vec2(0, 0), Vec2(4, 0), Vec2(0, 1), Vec2(4, 1), out, &ua, &ub), 0);
    EXPECT_TRUE(Near(out, Vec2(0, 0)));
    EXPECT_EQ(ua, -7.0);
    EXPECT_EQ(ub, -7.0);

    // The crossing lies beyond the first segment but within the second: only ub in range.
    EXPECT_EQ(Vec2::intersect(Vec2(0, 0), Vec2(1, 0), Vec2(3, -1), Vec2(3, 1), out, &ua, &ub), 3);
    EXPECT_TRUE(Near(out, Vec2(3, 0)));
    EXPECT_EQ(Vec2::intersect(Vec2(3, -1), Vec2(3, 1), Vec2(0, 0), Vec2(1, 0), out), 4);
    EXPECT_EQ(Vec2::intersect(Vec2(0, 0), Vec2(1, 0), Vec2(3, 5), Vec2(3, 6), out), 5);
}

TEST(Vec2, CompositionPointConventions) {
    const Vec2 size(1920, 1080);
    EXPECT_TRUE(Near(Vec2::topLeftToCenterPoint(Vec2(0, 0), size), Vec2(-960, 540)));
    EXPECT_TRUE(Near(Vec2::centerToTopLefetPoint(Vec2(0, 0), size), Vec2(960, 540)));
    const Vec2 p(123, 456);
    EXPECT_TRUE(Near(Vec2::centerToTopLefetPoint(Vec2::topLeftToCenterPoint(p, size), size), p));
}

TEST(Vec3, LengthComponentsAndTolerance) {
    Vec3 z;
    z.setLength(5);
    EXPECT_TRUE(Near(z, Vec3(5, 0, 0)));
    EXPECT_TRUE(Near(Vec3(0, 3, 4).normalize(), Vec3(0, 0.6f, 0.8f)));
    // Distance exactly equal to the tolerance: inclusive for Vec3, strict for Vec4.
    EXPECT_TRUE(Vec3(0, 0, 0).equal(Vec3(0.5f, 0, 0), 0.5f));
    EXPECT_FALSE(Vec4(0, 0, 0, 0).equal(Vec4(0.5f, 0, 0, 0), 0.5f));

    EXPECT_EQ(Vec3(3, 1, 1).largestAbsComponent(), 0);
    EXPECT_EQ(Vec3(-2, 2, 1).largestAbsComponent(), 1);
    EXPECT_EQ(Vec3(2, 1, -2).largestAbsComponent(), 2);
    EXPECT_EQ(Vec3(1, 1, 1).largestAbsComponent(), 2);
    EXPECT_EQ(Vec3(0, -4, 1).largestAbsComponent(), 1);

    Vec3 s;
    s.set(0, 1.0f);
    s.set(1, 2.0f);
    s.set(7, 3.0f);
    EXPECT_TRUE(Near(s, Vec3(1, 2, 3)));
    EXPECT_TRUE(Near(Vec3(2, 4, -8).invert(), Vec3(0.5f, 0.25f, -0.125f)));
    EXPECT_TRUE(Near(Vec3(1.5f, -1.5f, 2).floor(), Vec3(1, -2, 2)));
    EXPECT_TRUE(Near(Vec3(1, 0, 0).cross(Vec3(0, 1, 0)), Vec3(0, 0, 1)));
    Vec3 c(-1, 5, 0.5f);
    c.clamp(Vec3(0), Vec3(1));
    EXPECT_TRUE(Near(c, Vec3(0, 1, 0.5f)));
}

TEST(Vec3, AngleBetweenStaysDefinedForParallelVectors) {
    // For (1, 1, 1) the double cosine with itself rounds to just above 1.
    const Vec3 v(1, 1, 1);
    const float same = v.angleBetween(v);
    EXPECT_FALSE(std::isnan(same));
    EXPECT_EQ(same, 0.0f);
    const float opposite = v.angleBetween(v.negate());
    EXPECT_FALSE(std::isnan(opposite));
    EXPECT_FLOAT_EQ(opposite, Float::pi);
    EXPECT_FLOAT_EQ(Vec3(1, 0, 0).angleBetween(Vec3(0, 2, 0)), Float::pi / 2);
    for (const Vec3& w : {Vec3(0.1f, -2, -1), Vec3(0.1f, -0.94f, 0.42f), Vec3(3, 4, 5)}) {
        EXPECT_NEAR(w.angleBetween(w), 0.0f, 1e-6f);
        EXPECT_NEAR(w.angleBetween(w * 2.5f), 0.0f, 1e-6f);
    }
}

TEST(Vec3, OrthoAndDifferences) {
    for (const Vec3& v : {Vec3(1, 0, 0), Vec3(0, 3, 0), Vec3(0, 0, -2), Vec3(1, 2, 3), Vec3(-4, 1, 0.5f)}) {
        for (const Vec3& start : {Vec3(1, 0, 0), Vec3(0, 1, 0), Vec3(0, 0, 1), Vec3(2, -1, 1)}) {
            Vec3 o(start);
            o.ortho(v);
            EXPECT_NEAR(o.length(), 1.0f, 1e-5f);
            EXPECT_NEAR(o.dot(v), 0.0f, 1e-5f);
        }
    }
    EXPECT_TRUE(Near(Vec3(350, 0, 0).rotationalDifference(Vec3(10, 0, 0)), Vec3(340, 0, 0)));
    EXPECT_FLOAT_EQ(cyclicDifference(350, 10, 360), -20.0f);
    EXPECT_FLOAT_EQ(cyclicDifference(10, 350, 360), 20.0f);
    EXPECT_FLOAT_EQ(cyclicDifference(100, 10, 360), 90.0f);
}

TEST(Vec3, MatrixAndQuaternionTransforms) {
    Mat4 m;
    m.setTranslate(1, 2, 3);
    m.rotateZ(Float::pi / 2);
    Vec3 p(1, 0, 0);
    p.applyMatrix4(m);
    EXPECT_TRUE(Near(p, Vec3(1, 3, 3)));

    Vec3 d(1, 0, 0);
    d.transformDirection(m);  // no translation, normalized
    EXPECT_TRUE(Near(d, Vec3(0, 1, 0)));

    Mat4 proj;
    proj.setPerspective(Float::pi / 2, 1, 1, 100);
    Vec3 nearPoint(1, 1, -1), farPoint(0, 0, -100);
    nearPoint.applyProjection(proj);
    farPoint.applyProjection(proj);
    EXPECT_TRUE(Near(nearPoint, Vec3(1, 1, -1)));
    EXPECT_NEAR(farPoint.z, 1.0f, 1e-5f);

    const Quaternion q(Vec3(1, 2, 3).normalize(), 0.7f);
    Mat4 r;
    r.setWithQuaternion(q);
    Vec3 a(0.3f, -1.2f, 2.0f), b(a);
    a.applyQuaternion(q);
    b.applyMatrix4(r);
    EXPECT_TRUE(Near(a, b));
    EXPECT_TRUE(Near(a, Quaternion::quaternionMulVec3(q, Vec3(0.3f, -1.2f, 2.0f))));

    Vec3 col, pos;
    col.setFromMatrixColumn(m, 0);
    pos.setFromMatrixPosition(m);
    EXPECT_TRUE(Near(col, Vec3(0, 1, 0)));
    EXPECT_TRUE(Near(pos, Vec3(1, 2, 3)));
    float arr[5] = {0, 0, 0, 0, 0};
    pos.toArray(arr, 2);
    Vec3 back;
    back.fromArray(arr, 2);
    EXPECT_TRUE(Near(back, pos));
}

TEST(Vec4, SphericalLerp) {
    // The end points are returned as they are, not normalized.
    EXPECT_TRUE(Near(Vec4::lerp(Vec4(2, 0, 0, 0), Vec4(0, 3, 0, 0), 0), Vec4(2, 0, 0, 0)));
    EXPECT_TRUE(Near(Vec4::lerp(Vec4(2, 0, 0, 0), Vec4(0, 3, 0, 0), 1), Vec4(0, 3, 0, 0)));
    // Between those, longer vectors weigh more: (2·sin 45°, 3·sin 45°) normalized.
    EXPECT_TRUE(Near(Vec4::lerp(Vec4(2, 0, 0, 0), Vec4(0, 3, 0, 0), 0.5f), Vec4(2, 3, 0, 0).normalize()));
    const Vec4 a(1, 0, 0, 0), b(0, 1, 0, 0);
    const float h = std::sqrt(0.5f);
    EXPECT_TRUE(Near(Vec4::lerp(a, b, 0.5f), Vec4(h, h, 0, 0)));
    const Vec4 third = Vec4::lerp(a, b, 1.0f / 3.0f);
    EXPECT_TRUE(Near(third, Vec4(std::cos(Float::pi / 6), std::sin(Float::pi / 6), 0, 0)));
    // b = -a: interpolates towards -b = a and returns normalized a.
    const Vec4 c(1, 2, 3, 4);
    EXPECT_TRUE(Near(Vec4::lerp(c, c.negate(), 0.5f), Vec4(c).normalize()));
    // Nearly parallel: linear weights, then normalized.
    const Vec4 e(1, 0, 0, 0), f(1, 0.01f, 0, 0);
    EXPECT_TRUE(Near(Vec4::lerp(e, f, 0.5f), Vec4(1, 0.005f, 0, 0).normalize()));
    EXPECT_FLOAT_EQ(Vec4(1, -2, 3, -4).lengthManhattan(), 10.0f);
    Vec4 z;
    EXPECT_TRUE(Near(z.normalize(), Vec4(1, 0, 0, 0)));
    EXPECT_TRUE(Near(Vec4(Vec3(1, 2, 3), 4).getVec3(), Vec3(1, 2, 3)));
}

TEST(Box3, EmptyBoxAndExpansion) {
    Box3 box;
    EXPECT_TRUE(box.isEmpty());
    EXPECT_EQ(box.min.x, Float::max);
    box.expandByPoint(Vec3(-5, -6, -7));
    box.expandByPoint(Vec3(-1, -2, -3));
    // Points all below zero give their exact bounds.
    EXPECT_TRUE(Near(box.min, Vec3(-5, -6, -7)));
    EXPECT_TRUE(Near(box.max, Vec3(-1, -2, -3)));
    EXPECT_FALSE(box.isEmpty());
    EXPECT_TRUE(Box3(Vec3(), Vec3()).isEmpty());

    const Vec3 pts[3] = {Vec3(1, 2, 3), Vec3(-1, 5, 0), Vec3(0, 0, 9)};
    Box3 fromPoints;
    fromPoints.setFromPoints(pts, 3);
    EXPECT_TRUE(fromPoints == Box3(Vec3(-1, 0, 0), Vec3(1, 5, 9)));
    fromPoints.setFromPoints(nullptr, 3);
    EXPECT_TRUE(fromPoints.isEmpty());

    // A count that is not a multiple of 3 reads whole points only.
    const std::vector<float> arr = {1, 2, 3, -4};
    Box3 fromArray;
    fromArray.setFromArray(arr.data(), static_cast<int>(arr.size()));
    EXPECT_TRUE(fromArray == Box3(Vec3(1, 2, 3), Vec3(1, 2, 3)));
    fromArray.setFromArray(arr.data(), 0);
    EXPECT_TRUE(fromArray.isEmpty());

    Box3 c;
    c.setFromCenterAndSize(Vec3(1, 1, 1), Vec3(2, 4, 6));
    EXPECT_TRUE(Near(c.min, Vec3(0, -1, -2)));
    EXPECT_TRUE(Near(c.getCenter(), Vec3(1, 1, 1)));
    EXPECT_TRUE(Near(c.getSize(), Vec3(2, 4, 6)));
    c.expandByScalar(1);
    c.expandByVector(Vec3(1, 0, 0));
    c.translate(Vec3(0, 0, 10));
    EXPECT_TRUE(c == Box3(Vec3(-2, -2, 7), Vec3(4, 4, 15)));
}

TEST(Box3, Relations) {
    const Box3 a(Vec3(0, 0, 0), Vec3(1, 1, 1));
    const Box3 face(Vec3(1, 0, 0), Vec3(2, 1, 1));
    const Box3 far(Vec3(5, 5, 5), Vec3(6, 6, 6));
    EXPECT_TRUE(a.intersectsBox(face));
    EXPECT_FALSE(a.intersectsBox(far));
    Box3 i(a);
    i.intersects(far);
    EXPECT_TRUE(i.isEmpty());
    EXPECT_EQ(i.min.x, Float::max);
    Box3 o(Vec3(-1, -1, -1), Vec3(0.5f, 0.5f, 0.5f));
    o.intersects(a);
    EXPECT_TRUE(o == Box3(Vec3(0, 0, 0), Vec3(0.5f, 0.5f, 0.5f)));
    Box3 u(a);
    u.unionBox(far);
    EXPECT_TRUE(u == Box3(Vec3(0, 0, 0), Vec3(6, 6, 6)));
    EXPECT_TRUE(u.containsBox(a));
    EXPECT_FALSE(a.containsBox(u));
    EXPECT_TRUE(a.containsPoint(Vec3(1, 1, 1)));
    EXPECT_FALSE(a.containsPoint(Vec3(1, 1, 1.01f)));
    EXPECT_EQ(a.distanceToPoint(Vec3(0.5f, 0.5f, 0.5f)), 0.0f);
    EXPECT_FLOAT_EQ(a.distanceToPoint(Vec3(4, 5, 1)), 5.0f);
    EXPECT_TRUE(Near(far.getParameter(Vec3(5.25f, 6, 5)), Vec3(0.25f, 1, 0)));
}
