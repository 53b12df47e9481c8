#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "ValueTypeExpect.h"
#include "core/Matrix.h"
#include "core/Rotation.h"

using namespace Quorvane::Core;
using QvTest::Near;

namespace {

struct OrderCase {
    Euler::RotationOrder order;
    const char* axes;  // the order in which the axis rotations compose: "XYZ" is Rx·Ry·Rz
};
const OrderCase kOrders[] = {
    {Euler::kRotationOrderXyz, "XYZ"}, {Euler::kRotationOrderYzx, "YZX"}, {Euler::kRotationOrderZxy, "ZXY"},
    {Euler::kRotationOrderXzy, "XZY"}, {Euler::kRotationOrderYxz, "YXZ"}, {Euler::kRotationOrderZyx, "ZYX"},
};

float angleOf(const Euler& e, char axis) {
    return axis == 'X' ? e.x : (axis == 'Y' ? e.y : e.z);
}

// Rotation built independently of the Euler tables: the product of the three
// single-axis matrices in the order's sequence.
Mat4 matrixOf(const Euler& e, const char* axes) {
    Mat4 m;
    for (int i = 0; i < 3; ++i) {
        const float a = angleOf(e, axes[i]);
        if (axes[i] == 'X') m.rotateX(a);
        if (axes[i] == 'Y') m.rotateY(a);
        if (axes[i] == 'Z') m.rotateZ(a);
    }
    return m;
}

Quaternion quaternionOf(const Euler& e, const char* axes) {
    Quaternion q;
    for (int i = 0; i < 3; ++i) {
        const Vec3 axis(axes[i] == 'X' ? 1.0f : 0.0f, axes[i] == 'Y' ? 1.0f : 0.0f,
                        axes[i] == 'Z' ? 1.0f : 0.0f);
        q.multiply(Quaternion(axis, angleOf(e, axes[i])));
    }
    return q;
}

// q and -q are the same rotation.
::testing::AssertionResult SameRotation(const Quaternion& a, const Quaternion& b, float tol = 1e-5f) {
    if (Near(a, b, tol)) return ::testing::AssertionSuccess();
    return Near(a, Quaternion(-b.x, -b.y, -b.z, -b.w), tol);
}

}  // namespace

TEST(Euler, QuaternionTablesMatchAxisProductsForAllOrders) {
    for (const OrderCase& c : kOrders) {
        const Euler e(0.3f, -0.4f, 0.5f, c.order);
        Quaternion q;
        q.setWithEuler(e);
        EXPECT_TRUE(Near(q, quaternionOf(e, c.axes))) << c.axes;
        Mat4 fromQ;
        fromQ.setWithQuaternion(q);
        EXPECT_TRUE(Near(fromQ, matrixOf(e, c.axes))) << c.axes;
    }
}

TEST(Euler, RoundTripsThroughQuaternionForAllOrders) {
    // (first, middle, last) angles of the sequence: outer ones anywhere in
    // (-pi, pi), the middle one away from the right angle.
    const float triples[][3] = {{0.3f, -0.4f, 0.5f}, {-2.5f, 1.2f, 3.0f}, {1.0f, -1.4f, -0.2f}, {0, 0, 0}};
    for (const OrderCase& c : kOrders) {
        for (const auto& t : triples) {
            Euler e(0, 0, 0, c.order);
            for (int i = 0; i < 3; ++i) {
                if (c.axes[i] == 'X') e.x = t[i];
                if (c.axes[i] == 'Y') e.y = t[i];
                if (c.axes[i] == 'Z') e.z = t[i];
            }
            Quaternion q;
            q.setWithEuler(e);
            Euler back;
            back.setWithQuaternion(q, c.order);
            EXPECT_EQ(back.order, c.order);
            EXPECT_NEAR(back.x, e.x, 2e-5f) << c.axes;
            EXPECT_NEAR(back.y, e.y, 2e-5f) << c.axes;
            EXPECT_NEAR(back.z, e.z, 2e-5f) << c.axes;
        }
        // The plain (0.3, -0.4, 0.5) comes back in every order.
        Quaternion q;
        q.setWithEuler(Euler(0.3f, -0.4f, 0.5f, c.order));
        Euler back;
        back.setWithQuaternion(q, c.order);
        EXPECT_TRUE(Near(Vec3(back.x, back.y, back.z), Vec3(0.3f, -0.4f, 0.5f), 2e-5f)) << c.axes;
    }
}

TEST(Euler, GimbalLockStillRebuildsTheSameRotation) {
    for (const OrderCase& c : kOrders) {
        for (float middle : {Float::pi / 2, -Float::pi / 2}) {
            Euler e(0.4f, 0.4f, 0.4f, c.order);
            // The middle axis of the sequence is locked at a right angle.
            const char mid = c.axes[1];
            if (mid == 'X') e.x = middle;
            if (mid == 'Y') e.y = middle;
            if (mid == 'Z') e.z = middle;
            if (c.axes[0] == 'X' || c.axes[2] == 'X') e.x = c.axes[0] == 'X' ? 0.4f : -0.7f;
            if (c.axes[0] == 'Y' || c.axes[2] == 'Y') e.y = c.axes[0] == 'Y' ? 0.4f : -0.7f;
            if (c.axes[0] == 'Z' || c.axes[2] == 'Z') e.z = c.axes[0] == 'Z' ? 0.4f : -0.7f;
            const Mat4 m = matrixOf(e, c.axes);
            Euler back(9, 9, 9, c.order);
            back.setWithMat4(m);
            EXPECT_NEAR(angleOf(back, mid), middle, 2e-3f) << c.axes;
            EXPECT_TRUE(Near(matrixOf(back, c.axes), m, 1e-4f)) << c.axes;
        }
    }
}

TEST(Euler, OrderZeroAndOutOfRange) {
    Quaternion q;
    q.setWithEuler(Euler(Float::pi / 2, 0, 0, Euler::kRotationOrderXyz));
    EXPECT_TRUE(Near(q, Quaternion(std::sin(Float::pi / 4), 0, 0, std::cos(Float::pi / 4))));
    q.setWithEuler(Euler(0.1f, 0.2f, 0.3f, Euler::kRotationOrderNone));
    EXPECT_EQ(q, Quaternion(0, 0, 0, 0));
    const Quaternion before(0.1f, 0.2f, 0.3f, 0.9f);
    q = before;
    q.setWithEuler(Euler(0.1f, 0.2f, 0.3f, static_cast<Euler::RotationOrder>(7)));
    EXPECT_EQ(q, before);

    for (const OrderCase& c : kOrders) {
        Euler e(1, 2, 3, c.order);
        e.setWithMat4(Mat4::identity(), Euler::kRotationOrderNone);
        EXPECT_EQ(e, Euler(0, 0, 0, c.order));
    }
    Euler e;
    EXPECT_EQ(e.order, Euler::kRotationOrderXyz);
    e.set(1, 2, 3);
    EXPECT_EQ(e.order, Euler::kRotationOrderXyz);
    e.set(1, 2, 3, Euler::kRotationOrderZyx);
    EXPECT_EQ(e.order, Euler::kRotationOrderZyx);
    Euler odd(1, 2, 3, static_cast<Euler::RotationOrder>(9));
    odd.setWithMat4(Mat4::identity());
    EXPECT_EQ(odd.x, 1.0f);  // unknown order: angles untouched
    EXPECT_NE(Euler(0, 0, 0, Euler::kRotationOrderXyz), Euler(0, 0, 0, Euler::kRotationOrderZyx));
}

TEST(Quaternion, AxisAngleAndIdentity) {
    const Quaternion id;
    EXPECT_TRUE(Near(id.getRotationAxis(), Vec3(0, 0, 1)));
    EXPECT_EQ(id.getRotationAngle(), 0.0f);
    const Quaternion y90(Vec3(0, 1, 0), Float::pi / 2);
    EXPECT_NEAR(y90.getRotationAngle(), 90.0f, 1e-4f);
    EXPECT_TRUE(Near(y90.getRotationAxis(), Vec3(0, 1, 0)));
    // The constructor uses the axis as given, set normalizes it.
    const Quaternion raw(Vec3(0, 2, 0), Float::pi / 2);
    EXPECT_NEAR(raw.y, 2 * std::sin(Float::pi / 4), 1e-6f);
    Quaternion normed;
    normed.set(Vec3(0, 2, 0), Float::pi / 2);
    EXPECT_TRUE(Near(normed, y90));

    Quaternion zero(0, 0, 0, 0);
    EXPECT_EQ(zero.normalize(), Quaternion());
    EXPECT_FALSE(Quaternion(0, 0, 0, 1) == Quaternion(0, 0, 0, 0.9999999f));
    EXPECT_EQ(Quaternion(1, 2, 3).w, 1.0f);
    Quaternion partial(1, 2, 3, 4);
    partial.set(5, 6, 7);
    EXPECT_EQ(partial, Quaternion(5, 6, 7, 4));

    float arr[6] = {0, 0, 0, 0, 0, 0};
    Quaternion(0.1f, 0.2f, 0.3f, 0.4f).toArray(arr, 2);
    Quaternion back;
    back.setWithArray(arr, 2);
    EXPECT_EQ(back, Quaternion(0.1f, 0.2f, 0.3f, 0.4f));
}

TEST(Quaternion, ProductsComposeRotations) {
    const Quaternion a(Vec3(1, 2, 2).normalize(), 0.8f), b(Vec3(-1, 0, 3).normalize(), -1.3f);
    Quaternion ab;
    ab.multiplyQuaternions(a, b);
    const Vec3 v(0.5f, -1, 2);
    // (a·b) rotates by b first, then by a.
    EXPECT_TRUE(Near(Quaternion::quaternionMulVec3(ab, v),
                     Quaternion::quaternionMulVec3(a, Quaternion::quaternionMulVec3(b, v))));
    EXPECT_TRUE(Near(Quaternion(a).multiply(b), ab));
    EXPECT_TRUE(Near(Quaternion(b).premultiply(a), ab));
    Quaternion inv(a);
    inv.setInverse();
    EXPECT_TRUE(Near(Quaternion(a).multiply(inv), Quaternion()));
    EXPECT_NEAR(a.dot(a), 1.0f, 1e-6f);
    EXPECT_NEAR(Quaternion(1, 2, 3, 4).lengthSq(), 30.0f, 1e-5f);
}

TEST(Quaternion, FromMatrixCoversEveryBranch) {
    const Quaternion rotations[] = {
        Quaternion(Vec3(1, 2, 3).normalize(), 0.9f),  // positive trace
        Quaternion(Vec3(1, 0, 0), Float::pi),         // m11 largest
        Quaternion(Vec3(0, 1, 0), Float::pi),         // m22 largest
        Quaternion(Vec3(0, 0, 1), Float::pi),         // m33 largest
        Quaternion(Vec3(1, 1, 0.2f).normalize(), 3.0f),
    };
    for (const Quaternion& q : rotations) {
        Mat4 m;
        m.setWithQuaternion(q);
        Quaternion back;
        back.setWithMat4(m);
        EXPECT_TRUE(SameRotation(back, q));
    }
}

TEST(Quaternion, ShortestRotationBetweenDirections) {
    const Quaternion half(Vec3(1, 0, 0), Vec3(-1, 0, 0));
    EXPECT_TRUE(Near(half, Quaternion(0, 1, 0, 0)));
    const Quaternion half2(Vec3(0, 0, 1), Vec3(0, 0, -1));
    EXPECT_TRUE(Near(Quaternion::quaternionMulVec3(half2, Vec3(0, 0, 1)), Vec3(0, 0, -1)));
    const Vec3 from = Vec3(1, 2, -1).normalize(), to = Vec3(-3, 0.5f, 2).normalize();
    const Quaternion q(from, to);
    EXPECT_TRUE(Near(Quaternion::quaternionMulVec3(q, from), to));
    EXPECT_NEAR(q.length(), 1.0f, 1e-6f);
}

TEST(Quaternion, Slerp) {
    const Quaternion z90(Vec3(0, 0, 1), Float::pi / 2);
    Quaternion s;
    s.slerp(z90, 0.5f);
    EXPECT_TRUE(Near(s, Quaternion(Vec3(0, 0, 1), Float::pi / 4)));
    Quaternion end;
    end.slerp(z90, 1.0f);
    EXPECT_EQ(end, z90);
    Quaternion start(z90);
    start.slerp(Quaternion(), 0.0f);
    EXPECT_EQ(start, z90);
    // Towards its own negation: the same rotation, nothing moves.
    const Quaternion q(Vec3(1, 2, 3).normalize(), 0.6f);
    Quaternion n(q);
    n.slerp(Quaternion(-q.x, -q.y, -q.z, -q.w), 0.5f);
    EXPECT_TRUE(Near(n, q, 1e-6f));
    // The shorter way round: slerping to -target equals slerping to target.
    const Quaternion target(Vec3(0, 1, 0), 2.0f);
    Quaternion viaNeg(q), viaPos(q);
    viaNeg.slerp(Quaternion(-target.x, -target.y, -target.z, -target.w), 0.3f);
    viaPos.slerp(target, 0.3f);
    EXPECT_TRUE(Near(viaNeg, viaPos));
    // Nearly equal quaternions are averaged.
    const Quaternion near1(Vec3(0, 0, 1), 1.2e-3f);
    Quaternion avg;
    avg.slerp(near1, 0.9f);
    EXPECT_TRUE(Near(avg, Quaternion((near1.x) / 2, (near1.y) / 2, (near1.z) / 2, (1 + near1.w) / 2), 1e-7f));

    EXPECT_EQ(Quaternion::lerp(q, q, 0.5f), q);
    EXPECT_TRUE(Near(Quaternion::lerp(Quaternion(), z90, 0.5f), Quaternion(Vec3(0, 0, 1), Float::pi / 4)));
}
