#include <gtest/gtest.h>

#include <array>

#include <cmath>

#include "ValueTypeExpect.h"
#include "core/Matrix.h"

using namespace Quorvane::Core;
using QvTest::Near;

namespace {
Mat4 translation(const Vec3& v) {
    Mat4 m;
    m.setTranslate(v);
    return m;
}
Mat4 scaling(const Vec3& v) {
    Mat4 m;
    m.setScale(v);
    return m;
}
Mat4 rotation(const Quaternion& q) {
    Mat4 m;
    m.setWithQuaternion(q);
    return m;
}
// A well-conditioned matrix with every element in use.
Mat4 general() {
    return Mat4(2, 0.5f, -1, 3, 0.25f, 1.5f, 0.75f, -2, -0.5f, 1, 3, 1, 0.1f, 0.2f, 0.3f, 1, false);
}
}  // namespace

TEST(Mat4, ConstructorsReadRowsOrColumns) {
    const Mat4 rows(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, false);
    const Mat4 cols(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, true);
    EXPECT_EQ(rows.m[0], 1);
    EXPECT_EQ(rows.m[1], 5);
    EXPECT_EQ(rows.m[2], 9);
    EXPECT_EQ(rows.m[3], 13);
    EXPECT_EQ(rows.m[12], 4);  // the last entry of the first row is translation x
    for (int i = 0; i < 16; ++i) EXPECT_EQ(cols.m[i], float(i + 1));
    const Vec4 r0(1, 2, 3, 4), r1(5, 6, 7, 8), r2(9, 10, 11, 12), r3(13, 14, 15, 16);
    EXPECT_TRUE(Mat4(r0, r1, r2, r3, true) == rows);
    EXPECT_TRUE(Mat4(r0, r1, r2, r3, false) == cols);
    const float arr[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    EXPECT_TRUE(Mat4(arr, true) == cols);
    EXPECT_TRUE(Mat4(arr, false) == rows);
    Mat4 s(false);
    s.set(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
    EXPECT_TRUE(s == rows);
    EXPECT_TRUE(Near(rows.getRow(1), r1));
    EXPECT_TRUE(Near(cols.getColumn(2), r2));
    Mat4 t;
    rows.transpose(t);
    EXPECT_TRUE(t == cols);
    t.setTranspose();
    EXPECT_TRUE(t == rows);
    EXPECT_TRUE(Mat4(true) == Mat4::identity());
    for (float v : Mat4(false).m) EXPECT_EQ(v, 0.0f);
}

TEST(Mat4, CompositionPixelsToDrawingSpace) {
    const Mat4 conv = Mat4::getAEToGLConversionMatrix(1920, 1080);
    EXPECT_TRUE(Near(conv * Vec3(0, 0, 0), Vec3(-960, 540, 0)));
    EXPECT_TRUE(Near(conv * Vec3(1920, 1080, 0), Vec3(960, -540, 0)));
    EXPECT_TRUE(Near(conv * Vec3(960, 540, 0), Vec3(0, 0, 0)));
    EXPECT_TRUE(Near(conv * Vec3(100, 200, 30), Vec3(-860, 340, -30)));
    // Through the composition's orthographic projection the frame corners
    // land on the corners of clip space, top left at (-1, 1).
    Mat4 ortho;
    ortho.setOrtho(-960, 960, 540, -540, -1, 100);
    const Mat4 pixelToClip = ortho * conv;
    EXPECT_TRUE(Near(pixelToClip.multAndProject(Vec3(0, 0, 0)), Vec3(-1, 1, -0.980198f)));
    EXPECT_TRUE(Near(pixelToClip.multAndProject(Vec3(1920, 1080, 0)), Vec3(1, -1, -0.980198f)));
}

TEST(Mat4, ComposeDecomposeRoundTrips) {
    // The layer matrix: anchor to origin, scale, rotate, move to position.
    Mat4 layer;
    layer.compose(Vec3(50, 50, 0), Vec3(100, 100, 0), Quaternion(), Vec3(2, 2, 1));
    EXPECT_TRUE(Near(layer * Vec3(50, 50, 0), Vec3(100, 100, 0)));
    EXPECT_TRUE(Near(layer * Vec3(60, 50, 0), Vec3(120, 100, 0)));
    Vec3 pos, scale;
    Quaternion q(0.5f, 0.5f, 0.5f, 0.5f);
    layer.decompose(Vec3(50, 50, 0), pos, q, scale);
    EXPECT_TRUE(Near(pos, Vec3(100, 100, 0)));
    EXPECT_TRUE(Near(q, Quaternion()));
    EXPECT_TRUE(Near(scale, Vec3(2, 2, 1)));

    const Quaternion rot(Vec3(1, -2, 0.5f).normalize(), 1.1f);
    const Vec3 anchor(12, -7, 3), position(640, 360, -20);
    for (const Vec3& s : {Vec3(1, 1, 1), Vec3(0.5f, 2, 3), Vec3(-1.5f, 2, 1)}) {
        Mat4 m;
        m.compose(anchor, position, rot, s);
        const Mat4 expected =
            translation(position) * rotation(rot) * scaling(s) * translation(anchor.negate());
        EXPECT_TRUE(Near(m, expected, 1e-3f));
        Vec3 p2, s2;
        Quaternion q2;
        m.decompose(anchor, p2, q2, s2);
        EXPECT_TRUE(Near(p2, position, 1e-3f));
        EXPECT_TRUE(Near(s2, s, 1e-5f));
        // A mirrored x comes back as a negative x scale with the same rotation.
        EXPECT_TRUE(Near(q2, rot, 1e-5f) || Near(q2, Quaternion(-rot.x, -rot.y, -rot.z, -rot.w), 1e-5f));
        Mat4 again;
        again.compose(anchor, p2, q2, s2);
        EXPECT_TRUE(Near(again, m, 1e-3f));

        Mat4 plain;
        plain.compose(position, rot, s);
        EXPECT_TRUE(Near(plain, translation(position) * rotation(rot) * scaling(s), 1e-4f));
        plain.decompose(p2, q2, s2);
        EXPECT_TRUE(Near(p2, position, 1e-4f));
        EXPECT_TRUE(Near(s2, s, 1e-5f));
    }
    // An axis scaled to 0 loses its direction, not the turn of the others;
    // two lost axes leave no turn at all.
    struct Flat {
        Vec3 scale;
        Quaternion turn;
    };
    for (const Flat& f : {Flat{Vec3(0, 2, 3), rot}, Flat{Vec3(1.5f, 0, 2), rot}, Flat{Vec3(0, 0, 2), Quaternion()}}) {
        Mat4 m;
        m.compose(position, rot, f.scale);
        Vec3 p2, s2;
        Quaternion q2;
        m.decompose(p2, q2, s2);
        EXPECT_TRUE(Near(s2, f.scale, 1e-5f));
        EXPECT_TRUE(Near(q2, f.turn, 1e-5f) || Near(q2, Quaternion(-f.turn.x, -f.turn.y, -f.turn.z, -f.turn.w), 1e-5f));
    }
}

TEST(Mat4, InverseAndDeterminant) {
    const Mat4 g = general();
    Mat4 inv;
    ASSERT_TRUE(g.getInverse(inv));
    EXPECT_TRUE(Near(g * inv, Mat4::identity(), 1e-5f));
    EXPECT_TRUE(Near(inv * g, Mat4::identity(), 1e-5f));
    Mat4 self = g;
    ASSERT_TRUE(self.getInverse(self));  // in place
    EXPECT_TRUE(Near(self, inv, 1e-6f));

    Mat4 singular = general();
    singular.setColumn(1, Vec4(0, 0, 0, 0));
    Mat4 out = general();
    EXPECT_FALSE(singular.getInverse(out));
    EXPECT_TRUE(out == Mat4::identity());

    EXPECT_FLOAT_EQ(scaling(Vec3(2, 3, 4)).determinant(), 24.0f);
    EXPECT_FLOAT_EQ(scaling(Vec3(-2, 3, 4)).determinant(), -24.0f);
    EXPECT_NEAR(rotation(Quaternion(Vec3(0, 1, 0), 0.7f)).determinant(), 1.0f, 1e-6f);
    // det(AB) = det(A)·det(B) on a general matrix.
    EXPECT_NEAR((g * scaling(Vec3(2, 3, 4))).determinant(), g.determinant() * 24.0f, 1e-3f);
}

TEST(Mat4, ProductsAreInPlaceSafeAndPostMultiply) {
    const Mat4 g = general();
    const Mat4 t = translation(Vec3(1, 2, 3));
    Mat4 a = g;
    Mat4::mult(a, t, a);  // out aliases a
    Mat4 expected(false);
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            for (int k = 0; k < 4; ++k) expected.m[4 * c + r] += g.m[4 * k + r] * t.m[4 * c + k];
    EXPECT_TRUE(Near(a, expected));

    Mat4 tr = g;
    tr.translate(1, 2, 3);
    EXPECT_TRUE(Near(tr, expected));
    Mat4 sc = g;
    sc.scale(Vec3(2, -1, 0.5f));
    EXPECT_TRUE(Near(sc, g * scaling(Vec3(2, -1, 0.5f))));
    Mat4 ro = g;
    ro.rotate(0.4f, Vec3(0, 0, 2));
    Mat4 rz = g;
    rz.rotateZ(0.4f);
    EXPECT_TRUE(Near(ro, rz));
    EXPECT_TRUE(Near(rz, g * rotation(Quaternion(Vec3(0, 0, 1), 0.4f))));
    Mat4 rx = Mat4::identity(), ry = Mat4::identity();
    rx.rotateX(0.3f);
    ry.rotateY(0.3f);
    EXPECT_TRUE(Near(rx, rotation(Quaternion(Vec3(1, 0, 0), 0.3f))));
    EXPECT_TRUE(Near(ry, rotation(Quaternion(Vec3(0, 1, 0), 0.3f))));

    Mat4 m3(false), ident;
    m3.setRow(0, Vec4(3, 1, 0, 0));
    m3.setRow(1, Vec4(0, 3, 0, 0));
    m3.setRow(2, Vec4(0, 0, 3, 0));
    m3.setRow(3, Vec4(0, 0, 0, 3));
    m3.subtract(ident);
    EXPECT_TRUE(m3 == Mat4(Vec4(2, 1, 0, 0), Vec4(0, 2, 0, 0), Vec4(0, 0, 2, 0), Vec4(0, 0, 0, 2), true));
    EXPECT_TRUE(m3 + ident - ident == m3);
    EXPECT_TRUE(
        Near(ident * 4.0f, scaling(Vec3(4, 4, 4)) + Mat4(Vec4(), Vec4(), Vec4(), Vec4(0, 0, 0, 3), true)));

    const Mat4 moved = translation(Vec3(5, 6, 7)) * scaling(Vec3(2, 2, 2));
    EXPECT_TRUE(Near(moved.multWithoutTranslate(Vec3(1, 1, 1)), Vec3(2, 2, 2)));
    EXPECT_TRUE(Near(moved * Vec4(1, 1, 1, 0), Vec4(2, 2, 2, 0)));
    EXPECT_FLOAT_EQ(scaling(Vec3(1, -5, 3)).getMaxScaleOnAxis(), 5.0f);
    Mat4 p;
    p.position(Vec3(9, 8, 7));
    EXPECT_TRUE(Near(p * Vec3(), Vec3(9, 8, 7)));
}

TEST(Mat4, RotationsTurnCounterClockwise) {
    Mat4 r;
    r.setRotation(Float::pi / 2, 0, 0, 5);
    EXPECT_TRUE(Near(r * Vec3(1, 0, 0), Vec3(0, 1, 0)));
    r.setRotation(Float::pi / 2, Vec3(1, 0, 0));
    EXPECT_TRUE(Near(r * Vec3(0, 1, 0), Vec3(0, 0, 1)));
    r.setRotation(Float::pi / 2, Vec3(0, 0, 0));  // a zero axis means the x axis
    EXPECT_TRUE(Near(r * Vec3(0, 1, 0), Vec3(0, 0, 1)));
    const Vec3 axis = Vec3(1, 2, 3).normalize();
    r.setRotation(0.9f, axis);
    EXPECT_TRUE(Near(r, rotation(Quaternion(axis, 0.9f))));
    Mat4 y;
    y.setYRotation(Float::pi / 2);
    EXPECT_TRUE(Near(y * Vec3(0, 0, 1), Vec3(1, 0, 0)));
    Mat4 z;
    z.setZRotation(Float::pi / 2);
    EXPECT_TRUE(Near(z * Vec3(1, 0, 0), Vec3(0, 1, 0)));
    Mat4 x;
    x.setXRotation(Float::pi / 2);
    EXPECT_TRUE(Near(x * Vec3(0, 1, 0), Vec3(0, 0, 1)));
}

TEST(Mat4, ProjectionsMapTheViewVolumeToClipSpace) {
    Mat4 persp;
    persp.setPerspective(Float::pi / 2, 2.0f, 1.0f, 100.0f);
    EXPECT_TRUE(Near(persp.multAndProject(Vec3(2, 1, -1)), Vec3(1, 1, -1)));
    EXPECT_TRUE(Near(persp.multAndProject(Vec3(-200, -100, -100)), Vec3(-1, -1, 1), 1e-4f));
    Mat4 frustum;
    frustum.setFrustum(-2, 2, -1, 1, 1, 100);
    EXPECT_TRUE(Near(frustum, persp, 1e-5f));
    Mat4 off;
    off.setFrustum(0, 4, 0, 2, 1, 10);
    EXPECT_TRUE(Near(off.multAndProject(Vec3(0, 0, -1)), Vec3(-1, -1, -1)));
    EXPECT_TRUE(Near(off.multAndProject(Vec3(40, 20, -10)), Vec3(1, 1, 1), 1e-4f));
    Mat4 ortho;
    ortho.setOrtho(0, 100, 0, 50, 1, 11);  // top 0, bottom 50: y grows downwards
    EXPECT_TRUE(Near(ortho * Vec3(0, 0, -1), Vec3(-1, 1, -1)));
    EXPECT_TRUE(Near(ortho * Vec3(100, 50, -11), Vec3(1, -1, 1)));
    // A view volume of no width, height or depth holds nothing: the zero matrix.
    Mat4 zero;
    zero.setZero();
    for (const auto& flat : std::vector<std::array<float, 6>>{
             {0, 0, -1, 1, 1, 100}, {-2, 2, 1, 1, 1, 100}, {-2, 2, -1, 1, 5, 5}}) {
        Mat4 f;
        f.setFrustum(flat[0], flat[1], flat[2], flat[3], flat[4], flat[5]);
        EXPECT_TRUE(Near(f, zero));
    }
    for (const std::array<float, 4>& flat : {std::array<float, 4>{0, 2, 1, 100}, {1, 0, 1, 100}, {1, 2, 3, 3}}) {
        Mat4 p;
        p.setPerspective(flat[0], flat[1], flat[2], flat[3]);
        EXPECT_TRUE(Near(p, zero));
    }
}

TEST(Mat4, LookAtWritesAnOrthonormalRotationOnly) {
    Mat4 m = translation(Vec3(1, 2, 3));
    m.setLookAt(Vec3(0, 0, 5), Vec3(0, 0, 0), Vec3(0, 1, 0));
    EXPECT_TRUE(Near(m, translation(Vec3(1, 2, 3))));
    m.setLookAt(5, 0, 0, 0, 0, 0, 0, 1, 0);
    EXPECT_TRUE(Near(m.getColumn(0), Vec4(0, 0, -1, 0)));
    EXPECT_TRUE(Near(m.getColumn(1), Vec4(0, 1, 0, 0)));
    EXPECT_TRUE(Near(m.getColumn(2), Vec4(1, 0, 0, 0)));
    EXPECT_TRUE(Near(m.getColumn(3), Vec4(1, 2, 3, 1)));
    // Up along the view direction (and eye on the target) still give a rotation.
    for (const Vec3& eye : {Vec3(0, 5, 0), Vec3(5, 0, 0), Vec3(0, 0, 5), Vec3(0, 0, 0)}) {
        Mat4 d;
        d.setLookAt(eye, Vec3(0, 0, 0), eye.isZero() ? Vec3(0, 0, 1) : Vec3(eye).normalize());
        EXPECT_NEAR(d.determinant(), 1.0f, 1e-3f);
        for (float v : d.m) EXPECT_FALSE(std::isnan(v));
    }
}

TEST(Mat4, AffineConversion) {
    Affine a;
    a.set(Vec2(10, 20), Vec2(300, 400), Vec2(2, 0.5f), 30);
    Mat4 m;
    m.setWithAffine(a);
    const Vec2 p(7, -3);
    const Vec3 mp = m * Vec3(p, 0);
    EXPECT_TRUE(Near(Vec2(mp.x, mp.y), a.getTransform(p), 1e-4f));
    EXPECT_TRUE(Near(m.getAffine(), a));
}

TEST(Affine, ElementaryTransformsAndOrder) {
    Affine r;
    r.setRotate(90);
    r.translate(10, 0);  // acts before the rotation
    EXPECT_TRUE(Near(r.getTransform(Vec2(0, 0)), Vec2(0, 10), 1e-4f));

    Affine s;
    s.setScale(2, 3);
    Affine t;
    t.setTranslate(5, 0);
    Affine after = s, before = s;
    after.multiply(t);      // t after s
    before.premultiply(t);  // t before s
    EXPECT_TRUE(Near(after.getTransform(Vec2(1, 1)), Vec2(7, 3)));
    EXPECT_TRUE(Near(before.getTransform(Vec2(1, 1)), Vec2(12, 3)));

    Affine k;
    k.setSkewX(45);
    EXPECT_TRUE(Near(k.getTransform(Vec2(0, 1)), Vec2(1, 1)));
    k.setSkewY(45);
    EXPECT_TRUE(Near(k.getTransform(Vec2(1, 0)), Vec2(1, 1)));
    Affine chain;
    chain.scale(2, 2);
    chain.skewX(45);
    chain.rotate(90);
    chain.skewY(0);
    // Each step acts on the point before the previous ones: rotate, skew, scale.
    EXPECT_TRUE(Near(chain.getTransform(Vec2(1, 0)), Vec2(2, 2), 1e-4f));

    Affine layer;
    layer.set(Vec2(50, 50), Vec2(100, 100), Vec2(2, 2), 90);
    EXPECT_TRUE(Near(layer.getTransform(Vec2(50, 50)), Vec2(100, 100), 1e-4f));
    EXPECT_TRUE(Near(layer.getTransform(Vec2(60, 50)), Vec2(100, 120), 1e-4f));
    float x = 60, y = 50, ox = 0, oy = 0;
    layer.transform(x, y, &ox, &oy);
    layer.transform(x, y);
    EXPECT_NEAR(ox, 100, 1e-4f);
    EXPECT_NEAR(y, 120, 1e-4f);
    EXPECT_TRUE(Affine(false) == Affine(0, 0, 0, 0, 0, 0));
    EXPECT_TRUE(Affine(true) == Affine(1, 0, 0, 1, 0, 0));
    const Affine order(1, 2, 3, 4, 5, 6);  // given (a, b, c, d, tx, ty), stored row by row
    EXPECT_EQ(order.m[0], 1);
    EXPECT_EQ(order.m[1], 3);
    EXPECT_EQ(order.m[2], 5);
    EXPECT_EQ(order.m[3], 2);
    EXPECT_EQ(order.m[4], 4);
    EXPECT_EQ(order.m[5], 6);
}

TEST(Affine, InverseAndAverageScale) {
    Affine a;
    a.set(Vec2(3, 4), Vec2(-20, 15), Vec2(1.5f, -0.5f), 37);
    Affine inv;
    ASSERT_TRUE(a.inverse(inv));
    const Vec2 p(11, -8);
    EXPECT_TRUE(Near(inv.getTransform(a.getTransform(p)), p, 1e-3f));
    Affine id = a;
    id.premultiply(inv);
    EXPECT_TRUE(Near(id, Affine(true), 1e-5f));

    Affine tiny;
    tiny.setScale(0.0001f, 0.0001f);
    Affine untouched(1, 2, 3, 4, 5, 6);
    EXPECT_FALSE(tiny.inverse(untouched));
    EXPECT_TRUE(untouched == Affine(1, 2, 3, 4, 5, 6));
    EXPECT_TRUE(tiny.getInverse() == Affine(true));

    Affine sc;
    sc.setScale(2, 3);
    EXPECT_FLOAT_EQ(sc.averageScale(), 2.5f);
    Affine rot;
    rot.setRotate(30);
    EXPECT_FLOAT_EQ(rot.averageScale(), 1.0f);
    Affine odd;
    odd.setScale(1.23456f, 1.0f);
    EXPECT_FLOAT_EQ(odd.averageScale(), 1.1173f);
}
