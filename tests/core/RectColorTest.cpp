#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "ValueTypeExpect.h"
#include "core/Color.h"
#include "core/Rect.h"

using namespace Quorvane::Core;
using QvTest::Near;

TEST(Rect, EdgesAndCentre) {
    Rect r(10, 20, 30, 40);
    EXPECT_EQ(r.getRight(), 40.0f);
    EXPECT_EQ(r.getBottom(), 60.0f);
    EXPECT_TRUE(Near(r.getCenter(), Vec2(25, 40)));
    EXPECT_TRUE(Near(r.getBottomRight(), Vec2(40, 60)));
    EXPECT_TRUE(Near(r.getTopRight(), Vec2(40, 20)));
    EXPECT_TRUE(Near(r.getBottomLeft(), Vec2(10, 60)));
    EXPECT_EQ(r.getArea(), 1200.0f);
    r.setLeft(0);  // moves, width stays
    EXPECT_EQ(r.width, 30.0f);
    r.setRight(50);  // width changes
    EXPECT_EQ(r.x, 0.0f);
    EXPECT_EQ(r.width, 50.0f);
    r.setBottom(100);
    EXPECT_EQ(r.height, 80.0f);
    r.setCenter(Vec2(0, 0));
    EXPECT_TRUE(r == Rect(-25, -40, 50, 80));
    EXPECT_TRUE(Rect(Vec2(1, 2), Vec2(3, 4)) == Rect(1, 2, 3, 4));
    EXPECT_TRUE(Rect(0, 0, 1, 1) != Rect(0, 0, 1, 1.00001f));
    EXPECT_FALSE(Rect(0, 0, 0, 5).isEmpty());
    EXPECT_TRUE(Rect(3, 4, 0, 0).isEmpty());
}

TEST(Rect, OverlapTouchAndUnion) {
    const Rect a(0, 0, 10, 10), b(10, 0, 5, 5);
    EXPECT_TRUE(a.touches(b));
    EXPECT_FALSE(a.intersects(b));
    EXPECT_TRUE(a.intersects(Rect(9, 9, 5, 5)));
    EXPECT_TRUE(a.containsPoint(Vec2(10, 10)));
    EXPECT_FALSE(a.containsPoint(Vec2(10, 10.01f)));
    EXPECT_TRUE(a.containsRect(Rect(2, 2, 8, 8)));
    EXPECT_FALSE(a.containsRect(Rect(2, 2, 9, 8)));
    EXPECT_TRUE(a.intersect(Rect(5, -5, 10, 10)) == Rect(5, 0, 5, 5));
    const Rect disjoint = a.intersect(Rect(20, 20, 5, 5));
    EXPECT_LT(disjoint.width, 0.0f);
    EXPECT_TRUE(a.unite(Rect(20, -5, 5, 5)) == Rect(0, -5, 25, 15));
    Rect g(0, 0, 1, 1);
    const Rect grown = g.getInclude(Vec2(-2, 5));
    EXPECT_TRUE(g == Rect(0, 0, 1, 1));
    g.include(Vec2(-2, 5));
    EXPECT_TRUE(g == grown);
    EXPECT_TRUE(g == Rect(-2, 0, 3, 5));
}

TEST(Rect, ExpandAndScaleKeepTheCentre) {
    EXPECT_TRUE(Rect(0, 0, 10, 10).expand(Vec2(1, 2)) == Rect(-1, -2, 12, 14));
    EXPECT_TRUE(Rect(0, 0, 10, 10).expand(3) == Rect(-3, -3, 16, 16));
    const Rect s = Rect(0, 0, 10, 10).scale(2, 2);
    EXPECT_TRUE(s == Rect(-10, -10, 30, 30));
    EXPECT_TRUE(Near(s.getCenter(), Vec2(5, 5)));
    EXPECT_TRUE(Rect(0, 0, 10, 20).scale(1, 1) == Rect(0, 0, 10, 20));
}

TEST(Color, ParsesHexTexts) {
    EXPECT_TRUE(Near(Color("#F00"), Color(1, 0, 0, 1)));
    EXPECT_TRUE(Near(Color("#F008"), Color(1, 0, 0, 8.0f / 15.0f)));
    EXPECT_TRUE(Near(Color("#80FF0000"), Color(1, 0, 0, 128.0f / 255.0f)));
    EXPECT_TRUE(Near(Color("#FF000080"), Color(0, 0, 128.0f / 255.0f, 1)));  // eight digits: alpha first
    EXPECT_TRUE(Near(Color("#336699"), Color(0.2f, 0.4f, 0.6f, 1)));
    EXPECT_TRUE(Near(Color("#ff8000"), Color(1, 128.0f / 255.0f, 0, 1)));
    // Reading stops at the first non-digit, but the branch follows the text length.
    EXPECT_TRUE(Near(Color("#12G"), Color(0, 1.0f / 15.0f, 2.0f / 15.0f, 1)));
}

TEST(Color, TextsWithoutAColourGiveWhite) {
    for (const char* text : {"FF0000", "", "#12345", "#1234567", "red", "#123456789"})
        EXPECT_TRUE(Near(Color(std::string(text)), Color(1, 1, 1, 1))) << text;
}

TEST(Color, UnreadableHexGivesNilWithoutThrowing) {
    for (const char* text : {"#zz", "#", "#zzzzzz", "#GG0000", "#-", "#ffffffffffffffffff", "#  "}) {
        Color c(1, 1, 1, 1);
        EXPECT_NO_THROW(c = Color(std::string(text))) << text;
        EXPECT_TRUE(c.isNil()) << text;
    }
}

TEST(Color, NilArithmeticAndLerp) {
    Color nil;
    nil.setNil();
    EXPECT_TRUE(Near(nil, Color(-1, -1, -1, -1)));
    const Color partNil(0.5f, -1, 0.2f, 1);
    EXPECT_TRUE(partNil.isNil());
    EXPECT_TRUE(partNil.equal(nil));  // both nil: equal whatever the other channels
    EXPECT_FALSE(Color(0, 0, 0, 1).equal(nil));
    EXPECT_TRUE(Color(0.1f, 0.2f, 0.3f, 0.4f).equal(Color(0.1f, 0.2f, 0.3f, 0.4000005f)));
    EXPECT_FALSE(Color(0.1f, 0.2f, 0.3f, 0.4f).equal(Color(0.1f, 0.2f, 0.3f, 0.41f)));

    const Color a(0.2f, 0.4f, 0.6f, 0.8f), b(1, 0, 0.5f, 0);
    EXPECT_TRUE(Near(Color::lerp(a, b, -3), a));
    EXPECT_TRUE(Near(Color::lerp(a, b, 7), b));
    EXPECT_TRUE(Near(Color::lerp(a, b, 0.5f), Color(0.6f, 0.2f, 0.55f, 0.4f)));
    // Unclamped arithmetic on all four channels.
    EXPECT_TRUE(Near(a + b, Color(1.2f, 0.4f, 1.1f, 0.8f)));
    EXPECT_TRUE(Near(b - a, Color(0.8f, -0.4f, -0.1f, -0.8f)));
    EXPECT_TRUE(Near(a * 2.0f, Color(0.4f, 0.8f, 1.2f, 1.6f)));
    EXPECT_TRUE(Near(a * b, Color(0.2f, 0, 0.3f, 0)));
    EXPECT_TRUE(Near(Color(), Color(1, 1, 1, 1)));
}

TEST(Barycentric, WeightsAndInterpolation) {
    const Vec2 p0(0, 0), p1(4, 0), p2(0, 4);
    const Barycentric atP0(p0, p1, p2, p0);
    EXPECT_NEAR(atP0.w0, 1, 1e-6f);
    EXPECT_NEAR(atP0.w1, 0, 1e-6f);
    EXPECT_NEAR(atP0.w2, 0, 1e-6f);
    const Vec2 centroid = (p0 + p1 + p2) / 3.0f;
    const Barycentric c(p0, p1, p2, centroid);
    EXPECT_NEAR(c.w0, 1.0f / 3, 1e-6f);
    EXPECT_NEAR(c.w1, 1.0f / 3, 1e-6f);
    EXPECT_NEAR(c.w2, 1.0f / 3, 1e-6f);
    EXPECT_TRUE(Barycentric(p0, p1, p2, Vec2(2, 0)).isInside());  // on an edge
    EXPECT_TRUE(Barycentric(p0, p1, p2, Vec2(2, 2)).isInside());  // on the hypotenuse
    EXPECT_FALSE(Barycentric(p0, p1, p2, Vec2(3, 3)).isInside());
    EXPECT_FALSE(Barycentric(p0, p1, p2, Vec2(-1, 1)).isInside());

    // The weights reproduce the point they came from, in every argument type.
    const Vec2 q(1, 2);
    EXPECT_TRUE(Near(Barycentric(p0, p1, p2, q).interpolate(p0, p1, p2), q));
    const Vec3 a(1, 0, 2), b(0, 3, 1), d(-2, 1, 0);
    const Vec3 q3 = a * 0.2f + b * 0.5f + d * 0.3f;
    const Barycentric w3(a, b, d, q3);
    EXPECT_NEAR(w3.w0, 0.2f, 1e-5f);
    EXPECT_NEAR(w3.w1, 0.5f, 1e-5f);
    EXPECT_TRUE(Near(w3.interpolate(a, b, d), q3));
    const Vec4 a4(1, 0, 0, 1), b4(0, 1, 0, 1), c4(0, 0, 1, 1);
    EXPECT_TRUE(Near(Barycentric(a4, b4, c4, Vec4(0.25f, 0.25f, 0.5f, 1)).interpolate(a4, b4, c4),
                     Vec4(0.25f, 0.25f, 0.5f, 1)));
    const Color red(1, 0, 0, 1), green(0, 1, 0, 1), blue(0, 0, 1, 1);
    const Color mix(0.6f, 0.3f, 0.1f, 1);
    const Barycentric wc(red, green, blue, mix);
    EXPECT_NEAR(wc.w0, 0.6f, 1e-5f);
    EXPECT_NEAR(wc.w2, 0.1f, 1e-5f);
    EXPECT_TRUE(Near(wc.interpolate(red, green, blue), mix, 1e-5f));
    EXPECT_TRUE(
        Near(Barycentric(0.5f, 0.25f, 0.25f).interpolate(Vec2(0, 0), Vec2(4, 0), Vec2(0, 4)), Vec2(1, 1)));
}
