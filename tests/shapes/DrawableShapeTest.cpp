// Fill and stroke tessellation drawn on the headless GL device: every pixel
// of the result is compared with an independent even-odd containment or
// distance test in double precision (pixels within a band around the
// outline, where rasterisation rules and the fringe decide, are not
// judged).
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "ShapeTestSupport.h"
#include "render/GLRenderDestination.h"
#include "shapes/Brush.h"
#include "shapes/BrushShader.h"
#include "shapes/DrawableShape.h"
#include "shapes/Shape.h"
#include "shapes/ShapePainter.h"
#include "support/GLFixture.h"

using namespace Quorvane::Core;
using QvTest::Pixels;
using QvTest::Poly;

namespace {

constexpr int kSize = 64;

class DrawableShapeTest : public QvTest::GLFixture {
protected:
    void SetUp() override {
        GLFixture::SetUp();
        drawable.reset(DrawableShape::create(nullptr, false));
        drawable->setWidth(kSize);
        drawable->setHeight(kSize);
    }
    void TearDown() override {
        drawable.reset();
        GLFixture::TearDown();
    }

    // Draws into a fresh target with a stencil buffer, cleared to
    // transparent black. Row y of the result is shape y (the brushes flip).
    Pixels render(GLubyte* stencilOut = nullptr) {
        GLRenderDestination target(kSize, kSize);
        StencilBuffer stencil(kSize, kSize);
        target.bindDestination();
        target.setAttachment(GLRenderDestination::kStencilAttachment, stencil.renderbuffer(), false);
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT);
        drawable->prepareForFrame(0);
        drawable->draw(0);
        if (stencilOut) glReadPixels(0, 0, kSize, kSize, GL_STENCIL_INDEX, GL_UNSIGNED_BYTE, stencilOut);
        Pixels pixels = readDestination(&target);
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        return pixels;
    }

    // Polygons from index firstHole on are marked as holes.
    static Shape* shapeOf(const std::vector<Poly>& polys, size_t firstHole = 1000) {
        Shape* shape = Shape::create();
        for (size_t k = 0; k < polys.size(); ++k) {
            const Poly& poly = polys[k];
            shape->moveTo(static_cast<float>(poly[0].x), static_cast<float>(poly[0].y));
            for (size_t i = 1; i < poly.size(); ++i)
                shape->lineTo(static_cast<float>(poly[i].x), static_cast<float>(poly[i].y));
            if (k >= firstHole) shape->setBackPathDirection(kPath2DirectionHole);
            shape->closePath();
        }
        return shape;
    }

    // Every pixel farther than margin from the outline: opaque red inside,
    // transparent outside. Returns the number of pixels judged.
    static int expectCoverage(const Pixels& p, const std::vector<Poly>& polys, double margin) {
        int judged = 0, wrong = 0;
        for (int y = 0; y < kSize; ++y) {
            for (int x = 0; x < kSize; ++x) {
                const double cx = x + 0.5, cy = y + 0.5;
                if (QvTest::OutlineDistance(polys, cx, cy) < margin) continue;
                ++judged;
                const bool inside = QvTest::InsideEvenOdd(polys, cx, cy);
                const uint8_t* v = p.at(x, y);
                const bool ok = inside ? (v[0] == 255 && v[3] == 255) : v[3] == 0;
                if (!ok && ++wrong <= 5)
                    ADD_FAILURE() << "pixel (" << x << ", " << y << ") " << (inside ? "inside" : "outside")
                                  << " is (" << int(v[0]) << ", " << int(v[1]) << ", " << int(v[2]) << ", "
                                  << int(v[3]) << ")";
            }
        }
        return judged;
    }

    std::unique_ptr<DrawableShape> drawable;
};

// A pentagram (its centre is covered twice: a hole under the even-odd
// rule) and a square ring.
const std::vector<Poly> kStarAndRing = {
    {{20, 4}, {30, 34}, {4, 15}, {36, 15}, {10, 34}},
    {{40, 36}, {62, 36}, {62, 62}, {40, 62}},
    {{46, 42}, {56, 42}, {56, 56}, {46, 56}},
};

}  // namespace

TEST_F(DrawableShapeTest, StencilFillFollowsTheEvenOddRuleWithAndWithoutAntiAliasing) {
    // The ring's inner square is marked as a hole, so that its fringe lies
    // on the hole's side of the outline like every other fringe.
    std::unique_ptr<Shape> shape(shapeOf(kStarAndRing, 2));
    std::unique_ptr<Brush> red(Brush::solidColor(Color(1, 0, 0, 1)));
    drawable->setContentShape(shape.get());
    drawable->setFillBrush(red.get());
    for (bool aa : {false, true}) {
        drawable->setAntiAlias(aa);
        GLubyte stencil[kSize * kSize];
        Pixels p = render(stencil);
        ASSERT_NE(drawable->fillPainter(), nullptr);
        EXPECT_EQ(drawable->fillPainter()->mode(), ShapePainter::kStencilFill);
        // The fringe reaches half a pixel beyond the outline and is then
        // covered by the opaque cover pass.
        EXPECT_GT(expectCoverage(p, kStarAndRing, aa ? 1.5 : 1.0), 3000) << "anti-aliasing " << aa;
        // The stencil keeps the coverage: non-zero inside, zero far outside.
        EXPECT_NE(stencil[50 * kSize + 41], 0);  // ring body
        EXPECT_EQ(stencil[50 * kSize + 50], 0);  // ring hole
        EXPECT_EQ(stencil[20 * kSize + 20], 0);  // star centre, covered twice
        EXPECT_NE(stencil[12 * kSize + 20], 0);  // star point
    }
}

TEST_F(DrawableShapeTest, SingleConvexPolygonIsFilledDirectlyWithASoftEdge) {
    const std::vector<Poly> hexagon = {{{32, 6}, {54, 19}, {54, 45}, {32, 58}, {10, 45}, {10, 19}}};
    std::unique_ptr<Shape> shape(shapeOf(hexagon));
    std::unique_ptr<Brush> red(Brush::solidColor(Color(1, 0, 0, 1)));
    drawable->setContentShape(shape.get());
    drawable->setFillBrush(red.get());
    drawable->setAntiAlias(true);
    GLubyte stencil[kSize * kSize];
    Pixels p = render(stencil);
    ASSERT_NE(drawable->fillPainter(), nullptr);
    EXPECT_EQ(drawable->fillPainter()->mode(), ShapePainter::kConvexFill);
    EXPECT_GT(expectCoverage(p, hexagon, 1.5), 3000);
    EXPECT_NE(stencil[32 * kSize + 32], 0);
    // On the slanted edges the alpha ramps: some pixels are partly covered.
    int partial = 0;
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x)
            if (p.at(x, y)[3] > 20 && p.at(x, y)[3] < 235) ++partial;
    EXPECT_GT(partial, 20);
}

TEST_F(DrawableShapeTest, CurvedOutlineIsFlattenedWithinTolerance) {
    // A circle of radius 24 from four cubic quarter arcs; the cubic
    // approximation deviates by under 0.03% of the radius.
    std::unique_ptr<Shape> shape(Shape::createCircle(32, 32, 24));
    std::unique_ptr<Brush> red(Brush::solidColor(Color(1, 0, 0, 1)));
    drawable->setContentShape(shape.get());
    drawable->setFillBrush(red.get());
    Pixels p = render();
    int wrong = 0;
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            const double d = std::hypot(x + 0.5 - 32, y + 0.5 - 32);
            if (std::fabs(d - 24) < 1.0) continue;
            const bool covered = p.at(x, y)[3] == 255;
            if (covered != (d < 24)) ++wrong;
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST_F(DrawableShapeTest, StrokeCoversItsWidthWithEachCap) {
    struct Case {
        DrawableShapeCapStyle cap;
        double extension;  // how far the cap reaches past each end
        bool round;
    };
    const Case cases[] = {{kCapButt, 0, false}, {kCapSquare, 4, false}, {kCapRound, 4, true}};
    std::unique_ptr<Shape> shape(Shape::createLine(16, 32, 48, 32));
    std::unique_ptr<Brush> green(Brush::solidColor(Color(0, 1, 0, 1)));
    drawable->setContentShape(shape.get());
    drawable->setStrokeBrush(green.get());
    drawable->setStrokeWidth(8);
    for (const Case& c : cases) {
        drawable->setLineCap(c.cap);
        Pixels p = render();
        ASSERT_NE(drawable->strokePainter(), nullptr);
        EXPECT_EQ(drawable->strokePainter()->mode(), ShapePainter::kStroke);
        int wrong = 0, judged = 0;
        for (int y = 0; y < kSize; ++y) {
            for (int x = 0; x < kSize; ++x) {
                const double cx = x + 0.5, cy = y + 0.5;
                double d;  // distance outside the stroke's outline (negative inside)
                if (c.round) {
                    d = QvTest::SegmentDistance(QvTest::Pt{cx, cy}, {16, 32}, {48, 32}) - 4;
                } else {
                    const double ex = std::max(16 - c.extension - cx, cx - 48 - c.extension);
                    d = std::max(std::fabs(cy - 32) - 4, ex);
                }
                if (std::fabs(d) < 1.0) continue;
                ++judged;
                const bool covered = p.at(x, y)[1] == 255 && p.at(x, y)[3] == 255;
                if (covered != (d < 0) && ++wrong < 5)
                    ADD_FAILURE() << x << "," << y << " d " << d << " " << int(p.at(x, y)[1]) << " "
                                  << int(p.at(x, y)[3]);
            }
        }
        EXPECT_EQ(wrong, 0) << "cap " << c.cap;
        EXPECT_GT(judged, 3500);
    }
}

TEST_F(DrawableShapeTest, ClosedStrokeWithRoundJoinsFollowsTheOutline) {
    const std::vector<Poly> square = {{{14, 14}, {50, 14}, {50, 50}, {14, 50}}};
    std::unique_ptr<Shape> shape(shapeOf(square));
    std::unique_ptr<Brush> green(Brush::solidColor(Color(0, 1, 0, 1)));
    drawable->setContentShape(shape.get());
    drawable->setStrokeBrush(green.get());
    drawable->setStrokeWidth(6);
    drawable->setLineJoin(kJoinRound);
    Pixels p = render();
    int wrong = 0;
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            const double d = QvTest::OutlineDistance(square, x + 0.5, y + 0.5) - 3;
            if (std::fabs(d) < 1.0) continue;
            if ((p.at(x, y)[3] == 255) != (d < 0)) ++wrong;
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST_F(DrawableShapeTest, LinearGradientMatchesItsSmoothstepRamp) {
    std::unique_ptr<Shape> shape(Shape::createRect(0, 0, kSize, kSize));
    std::unique_ptr<Brush> ramp(Brush::linearGradient(0, 0, 64, 0, Color(1, 0, 0, 1), Color(0, 0, 1, 1)));
    drawable->setContentShape(shape.get());
    drawable->setFillBrush(ramp.get());
    Pixels p = render();
    for (int x : {2, 16, 32, 48, 61}) {
        const double u = (x + 0.5) / 64.0, s = u * u * (3 - 2 * u);
        EXPECT_NEAR(p.at(x, 30)[0], 255 * (1 - s), 2.0) << x;
        EXPECT_NEAR(p.at(x, 30)[2], 255 * s, 2.0) << x;
    }
}

TEST_F(DrawableShapeTest, TranslucentColourKeepsItsAlphaWithAndWithoutAntiAliasing) {
    std::unique_ptr<Shape> shape(Shape::createRect(8, 8, 40, 40));
    std::unique_ptr<Brush> glass(Brush::solidColor(Color(0, 0, 1, 0.5f)));
    drawable->setContentShape(shape.get());
    drawable->setFillBrush(glass.get());
    for (bool aa : {false, true}) {
        drawable->setAntiAlias(aa);
        Pixels p = render();
        EXPECT_NEAR(p.at(20, 20)[3], 128, 1) << "anti-aliasing " << aa;
        EXPECT_EQ(p.at(20, 20)[2], 255);
        EXPECT_EQ(p.at(60, 60)[3], 0);
    }
}

TEST_F(DrawableShapeTest, EveryBrushProgramBuilds) {
    std::vector<std::unique_ptr<Brush>> brushes;
    brushes.emplace_back(Brush::solidColor(Color(1, 0, 0, 1)));
    brushes.emplace_back(Brush::linearGradient(0, 0, 1, 1, Color(1, 0, 0, 1), Color(0, 0, 1, 1)));
    brushes.emplace_back(Brush::radialGradient(0, 0, 5, Color(1, 0, 0, 1), Color(0, 0, 1, 1)));
    brushes.emplace_back(Brush::sweepGradient(0, 0, Color(1, 0, 0, 1), Color(0, 0, 1, 1)));
    brushes.emplace_back(Brush::complexLinearGradient(0, 0, 1, 1));
    brushes.emplace_back(Brush::complexRadialGradient(0, 0, 1, 1, 5));
    brushes.emplace_back(Brush::complexSweepGradient(0, 0));
    brushes.emplace_back(Brush::imagePattern(0, Vec2(4, 4), Rect(), 0, 1));
    for (auto& brush : brushes) {
        for (bool aa : {false, true}) {
            std::unique_ptr<BrushShader> shader(
                BrushShader::create(BrushShader::getBrushShaderFeatures(brush.get(), aa)));
            shader->useProgram();
            EXPECT_NE(shader->program(), 0u) << "style " << brush->getStyle() << " aa " << aa;
            shader->unuseProgram();
        }
    }
    std::unique_ptr<BrushShader> stencil(BrushShader::create(BrushShader::kStencil | BrushShader::kFlip));
    stencil->useProgram();
    EXPECT_NE(stencil->program(), 0u);
    stencil->unuseProgram();
}

TEST_F(DrawableShapeTest, RebuildsOnlyAfterChangesAndDropsPaintersOfRemovedBrushes) {
    std::unique_ptr<Shape> shape(Shape::createRect(8, 8, 20, 20));
    std::unique_ptr<Brush> red(Brush::solidColor(Color(1, 0, 0, 1)));
    drawable->setContentShape(shape.get());
    drawable->setFillBrush(red.get());
    drawable->prepareForFrame(0);
    EXPECT_FALSE(drawable->isDirty());
    ShapePainter* painter = drawable->fillPainter();
    ASSERT_NE(painter, nullptr);
    drawable->setFillBrush(red.get());
    drawable->setInverseScale(1.0000001f);
    EXPECT_FALSE(drawable->isDirty());
    drawable->setStrokeWidth(3.0001f);
    EXPECT_TRUE(drawable->isDirty());

    // A stroke painter's edge factor: (3 / 2 + fringe 1) / inverse scale 1.
    std::unique_ptr<Brush> green(Brush::solidColor(Color(0, 1, 0, 1)));
    drawable->setStrokeWidth(3);
    drawable->setStrokeBrush(green.get());
    drawable->prepareForFrame(0);
    ASSERT_NE(drawable->strokePainter(), nullptr);
    EXPECT_FLOAT_EQ(drawable->strokePainter()->strokeMult(), 2.5f);

    // Removing a brush removes its painter; nothing of it is drawn.
    drawable->setStrokeBrush(nullptr);
    green.reset();
    Pixels p = render();
    EXPECT_EQ(drawable->strokePainter(), nullptr);
    EXPECT_EQ(p.at(8, 3)[3], 0);
    EXPECT_EQ(p.at(15, 15)[0], 255);
}

TEST_F(DrawableShapeTest, ShapesWithoutGeometryOrWithHostileCoordinatesDrawNothingOrStayFinite) {
    std::unique_ptr<Brush> red(Brush::solidColor(Color(1, 0, 0, 1)));
    drawable->setFillBrush(red.get());
    std::unique_ptr<Brush> green(Brush::solidColor(Color(0, 1, 0, 1)));
    drawable->setStrokeBrush(green.get());

    // Nothing set, an empty shape, a lone point, a zero-length line.
    Pixels p = render();
    EXPECT_EQ(p.at(32, 32)[3], 0);
    std::unique_ptr<Shape> empty(Shape::create());
    drawable->setContentShape(empty.get());
    p = render();
    EXPECT_EQ(p.at(32, 32)[3], 0);
    std::unique_ptr<Shape> point(Shape::create());
    point->moveTo(5, 5);
    drawable->setContentShape(point.get());
    p = render();
    std::unique_ptr<Shape> zero(Shape::createLine(9, 9, 9, 9));
    drawable->setContentShape(zero.get());
    p = render();

    // Huge and non-finite coordinates: drawn without crashing; a rectangle
    // far larger than the target covers it.
    std::unique_ptr<Shape> huge(Shape::createRect(-1e6f, -1e6f, 2e6f, 2e6f));
    drawable->setStrokeBrush(nullptr);
    drawable->setContentShape(huge.get());
    p = render();
    EXPECT_EQ(p.at(32, 32)[0], 255);
    std::unique_ptr<Shape> hostile(Shape::create());
    hostile->moveTo(0, 0);
    hostile->lineTo(3e38f, 1);
    hostile->bezierTo(NAN, 1, INFINITY, -INFINITY, 10, 10);
    hostile->lineTo(-3e38f, -3e38f);
    hostile->closePath();
    drawable->setContentShape(hostile.get());
    drawable->setStrokeBrush(green.get());
    p = render();
}
