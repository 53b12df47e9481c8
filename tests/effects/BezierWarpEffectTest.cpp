// The Bezier warp: its mesh against the patch evaluated here by de Casteljau
// subdivision, the warped pixels at the cells' diagonal crossings, record
// loading, the enlargement rules and a warped layer in a composition.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "CornerPinEffectPattern.h"
#include "EffectFixture.h"
#include "effects/BezierWarpEffect.h"
#include "scene/CompTestRoot.h"

using namespace Quorvane::Core;
using QvTest::Pixels;

namespace {

// Corners and control points in the record's order: tl, t0, t1, tr, t2, t3,
// br, t4, t5, bl, t6, t7.
struct Patch {
    Vec2 p[12];

    std::string json() const {
        std::string text = "{\"corner\":[";
        for (int i = 0; i < 12; ++i) {
            char pair[64];
            std::snprintf(pair, sizeof pair, "%s%.9g,%.9g", i ? "," : "", p[i].x, p[i].y);
            text += pair;
        }
        return text + "]}";
    }

    static Vec2 lerp(const Vec2& a, const Vec2& b, double t) {
        return Vec2(static_cast<float>(a.x + (b.x - a.x) * t), static_cast<float>(a.y + (b.y - a.y) * t));
    }
    static Vec2 casteljau(Vec2 a, Vec2 b, Vec2 c, Vec2 d, double t) {
        const Vec2 ab = lerp(a, b, t), bc = lerp(b, c, t), cd = lerp(c, d, t);
        return lerp(lerp(ab, bc, t), lerp(bc, cd, t), t);
    }
    // The point at v across (left to right) and u down: the left and right
    // edges at u joined by a cubic whose inner control points slide from the
    // top edge's to the bottom edge's.
    Vec2 at(double v, double u) const {
        const Vec2 left = casteljau(p[0], p[11], p[10], p[9], u);
        const Vec2 right = casteljau(p[3], p[4], p[5], p[6], u);
        const Vec2 c1 = lerp(p[1], p[8], u);
        const Vec2 c2 = lerp(p[2], p[7], u);
        return casteljau(left, c1, c2, right, v);
    }
};

// The layer's own rectangle, every edge a straight cubic with its control
// points at thirds.
Patch square(float w, float h) {
    return Patch{{Vec2(0, 0), Vec2(w / 3, 0), Vec2(2 * w / 3, 0), Vec2(w, 0), Vec2(w, h / 3),
                  Vec2(w, 2 * h / 3), Vec2(w, h), Vec2(2 * w / 3, h), Vec2(w / 3, h), Vec2(0, h),
                  Vec2(0, 2 * h / 3), Vec2(0, h / 3)}};
}

Vec2 crossing(const Vec2& a, const Vec2& b, const Vec2& c, const Vec2& d) {
    // Diagonals a-c and b-d.
    const double d1x = c.x - a.x, d1y = c.y - a.y, d2x = d.x - b.x, d2y = d.y - b.y;
    const double den = d1x * d2y - d1y * d2x;
    const double s = ((b.x - a.x) * d2y - (b.y - a.y) * d2x) / den;
    return Vec2(static_cast<float>(a.x + s * d1x), static_cast<float>(a.y + s * d1y));
}

// At the crossing of each cell's diagonals the projective mapping shows the
// middle of the cell's part of the image. Answers how many cells were seen.
int expectCellCentres(const Pixels& p, const Patch& patch, float offsetX, float offsetY, int srcW, int srcH,
                      double tolerance) {
    const int n = BezierWarpEffect::kCells;
    int seen = 0;
    for (int c = 0; c < n; ++c) {
        for (int r = 0; r < n; ++r) {
            const Vec2 centre = crossing(
                patch.at(double(c) / n, double(r) / n), patch.at(double(c + 1) / n, double(r) / n),
                patch.at(double(c + 1) / n, double(r + 1) / n), patch.at(double(c) / n, double(r + 1) / n));
            const int x = static_cast<int>(std::floor(centre.x + offsetX));
            const int y = static_cast<int>(std::floor(centre.y + offsetY));
            if (x < 1 || y < 1 || x >= p.width - 1 || y >= p.height - 1) continue;
            int sx, sy;
            if (!QvTest::sourceAt(p, x, y, sx, sy)) continue;  // on the outline's band
            EXPECT_NEAR(sx, (c + 0.5) * srcW / n, tolerance) << "cell " << c << "," << r;
            EXPECT_NEAR(sy, (r + 0.5) * srcH / n, tolerance) << "cell " << c << "," << r;
            ++seen;
        }
    }
    return seen;
}

class BezierWarpTest : public QvTest::EffectFixture {
protected:
    void TearDown() override {
        if (pattern) deleteTexture(pattern);
        EffectFixture::TearDown();
    }
    BezierWarpEffect* warp(const Patch& patch) {
        return create<BezierWarpEffect>("ZR_Bezier_Warp", patch.json());
    }
    GLuint pattern = 0;
};

}  // namespace

TEST(BezierWarpMath, BezierPointIsTheCubic) {
    EXPECT_FLOAT_EQ(bezierPoint(0, 1, 2, 3, 0.5f), 1.5f);
    EXPECT_FLOAT_EQ(bezierPoint(2, 2, 2, 2, 0.3f), 2.0f);
    // 0, 0, 1, 1 at t: 3t^2 - 2t^3.
    EXPECT_FLOAT_EQ(bezierPoint(0, 0, 1, 1, 0.25f), 3 * 0.0625f - 2 * 0.015625f);
    EXPECT_FLOAT_EQ(bezierPoint(5, -7, 9, 4, 1.0f), 4.0f);
}

TEST_F(BezierWarpTest, StraightWarpOfTheLayerIsItsOwnGrid) {
    setLayerSize(60, 60);
    auto* effect = warp(square(60, 60));
    ASSERT_EQ(effect->records().size(), 1u);
    effect->prepareForFrame(0);
    EXPECT_FALSE(effect->willExtendLayerSize(layer->layerSizeExtendData()));
    for (int i = 0; i <= 20; ++i)
        for (int j = 0; j <= 20; ++j) {
            EXPECT_NEAR(effect->grid()[i][j].x, 3.0f * i, 1e-4) << i << "," << j;
            EXPECT_NEAR(effect->grid()[i][j].y, 3.0f * j, 1e-4) << i << "," << j;
        }
    EXPECT_EQ(effect->bounds().x, 0.0f);
    EXPECT_EQ(effect->bounds().y, 0.0f);
    EXPECT_EQ(effect->bounds().width, 60.0f);
    EXPECT_EQ(effect->bounds().height, 60.0f);
    // 800 triangles; the 80 outline points run clockwise from the top left.
    EXPECT_EQ(effect->vertexData().size(), 800u * 3 * 6);
    ASSERT_EQ(effect->outline().size(), 80u);
    const std::pair<int, Vec2> checks[] = {{0, Vec2(0, 0)},    {5, Vec2(15, 0)},   {20, Vec2(60, 0)},
                                           {25, Vec2(60, 15)}, {40, Vec2(60, 60)}, {45, Vec2(45, 60)},
                                           {60, Vec2(0, 60)},  {79, Vec2(0, 3)}};
    for (const auto& [index, point] : checks) {
        EXPECT_NEAR(effect->outline()[index].x, point.x, 1e-4) << index;
        EXPECT_NEAR(effect->outline()[index].y, point.y, 1e-4) << index;
    }
    // A square cell's diagonals cross halfway: every q is 2.
    EXPECT_NEAR(effect->vertexData()[4], 2.0f, 1e-4);
    EXPECT_NEAR(effect->outlineTextureCoords()[40].z, 2.0f, 1e-4);
    EXPECT_NEAR(effect->outlineTextureCoords()[40].x, 2.0f, 1e-4);
}

TEST_F(BezierWarpTest, MovedCornerEnlargesToTheMeshExtent) {
    setLayerSize(60, 60);
    Patch patch = square(60, 60);
    patch.p[0] = Vec2(-10, -10);
    auto* effect = warp(patch);
    LayerSizeExtendData* rec = layer->layerSizeExtendData();
    rec->offset = Vec2(1, 2);
    effect->prepareForFrame(0);
    ASSERT_TRUE(effect->willExtendLayerSize(rec));
    float minX = 1e9f, minY = 1e9f, maxX = -1e9f, maxY = -1e9f;
    for (int i = 0; i <= 20; ++i)
        for (int j = 0; j <= 20; ++j) {
            const Vec2 q = patch.at(i / 20.0, j / 20.0);
            minX = std::min(minX, q.x);
            minY = std::min(minY, q.y);
            maxX = std::max(maxX, q.x);
            maxY = std::max(maxY, q.y);
        }
    EXPECT_EQ(minX, -10.0f);
    EXPECT_NEAR(rec->offset.x, 10.0f, 1e-4);
    EXPECT_NEAR(rec->offset.y, 10.0f, 1e-4);
    EXPECT_NEAR(rec->offsetDelta.x, 9.0f, 1e-4);
    EXPECT_NEAR(rec->offsetDelta.y, 8.0f, 1e-4);
    EXPECT_NEAR(rec->size.x, maxX - minX, 1e-3);
    EXPECT_NEAR(rec->size.y, maxY - minY, 1e-3);
    EXPECT_EQ(rec->size.x, effect->bounds().width);  // not rounded to whole pixels
}

TEST_F(BezierWarpTest, CurvedWarpShowsEachCellsMiddleAtItsDiagonalCrossing) {
    pattern = QvTest::uploadPositionPattern(kWidth, kHeight);
    // Without the anti-aliased band (see the corner pin tests).
    layer->setTransformAtTime(Vec3(0, 0, 0), Vec3(0, 0, 0), Vec3(0, 0, 0), Vec3(1000, 1000, 1), 0);
    // Corners at the layer's, edges bowed inwards: the box stays the layer's.
    Patch patch = square(kWidth, kHeight);
    patch.p[1] = Vec2(20, 10);
    patch.p[2] = Vec2(44, 6);
    patch.p[4] = Vec2(52, 10);
    patch.p[8] = Vec2(24, 26);
    patch.p[11] = Vec2(8, 12);
    auto* effect = warp(patch);
    const Pixels p = drawFrame(effect, pattern, 0);
    EXPECT_EQ(layer->layerSizeExtendData()->offset.x, 0.0f);
    EXPECT_GT(expectCellCentres(p, patch, 0, 0, kWidth, kHeight, 2.2), 380);
    // Pulled in from the top edge's middle: nothing is drawn there.
    EXPECT_EQ(p.at(32, 2)[3], 0);
}

TEST_F(BezierWarpTest, RecordsFromInlineDataAndDataFiles) {
    const std::string corners = square(64, 32).json();
    const std::string record = corners.substr(10, corners.size() - 11);  // the bare array
    for (const std::string& bad :
         {record, std::string("5"), std::string("{}"), std::string("{\"corner\":5}"),
          std::string("{\"corner\":[1,2,3]}"), "{\"corner\":[" + record.substr(1, record.size() - 2) + ",1]}",
          std::string("{\"corner\":\"missing.json\"}")}) {
        auto* effect = create<BezierWarpEffect>("ADBE BEZMESH", bad);
        EXPECT_TRUE(effect->records().empty()) << bad;
        effect->prepareForFrame(0);
        EXPECT_FALSE(effect->willExtendLayerSize(layer->layerSizeExtendData()));
    }

    Patch moved = square(64, 32);
    moved.p[0] = Vec2(-5, 0);
    const std::string movedRecord = moved.json().substr(10, moved.json().size() - 11);
    const std::string overflow = "[1e39" + record.substr(record.find(','));
    const std::string longer = record.substr(0, record.size() - 1) + ",1]";  // 25 numbers
    QvTest::writeFile(dir.file("warp.json"), "[" + record + ", 3, \"x\", [1,2], " + overflow + ", " + longer +
                                                 ", " + movedRecord + "]");
    auto* file = create<BezierWarpEffect>("ZR_Bezier_Warp", "{\"corner\":\"warp.json\"}");
    ASSERT_EQ(file->records().size(), 2u);
    EXPECT_TRUE(file->hasAnimation());
    file->prepareForFrame(1);
    EXPECT_EQ(file->currentData()->tl().x, -5.0f);
    file->prepareForFrame(-3);
    EXPECT_EQ(file->currentData()->tl().x, -5.0f);
    file->prepareForFrame(0);
    EXPECT_EQ(file->currentData()->tl().x, 0.0f);
    EXPECT_EQ(file->currentData()->tangents[7].y, 32.0f / 3);

    EXPECT_EQ(file->matchName(), "ZR_Bezier_Warp");
    std::unique_ptr<RenderEffect> copy(RenderEffectManager::cloneEffect(file, layer));
    auto* warpCopy = dynamic_cast<BezierWarpEffect*>(copy.get());
    ASSERT_NE(warpCopy, nullptr);
    EXPECT_EQ(warpCopy->records().size(), 2u);
    EXPECT_EQ(warpCopy->currentData(), nullptr);

    // One record from a JSON value: exactly 24 finite numbers, or no corners.
    for (const std::string& value : {movedRecord, record.substr(0, record.rfind(',')) + "]",
                                     record.substr(0, record.size() - 1) + ",1]", overflow, std::string("{}")}) {
        rapidjson::Document doc;
        doc.Parse(value.c_str());
        const BezierWarpEffect::BezierWarpData data(doc);
        EXPECT_EQ(data.hasCorners(), value == movedRecord) << value;
        if (data.hasCorners()) {
            EXPECT_EQ(data.tl().x, -5.0f);
            EXPECT_EQ(data.br().x, 64.0f);
            EXPECT_EQ(data.tangents[7].y, 32.0f / 3);
        }
    }
}

TEST_F(BezierWarpTest, CollapsedAndOverflowingPatchesDrawNoNaN) {
    pattern = QvTest::uploadPositionPattern(kWidth, kHeight);
    LayerSizeExtendData* rec = layer->layerSizeExtendData();
    Patch point;
    for (Vec2& v : point.p) v = Vec2(7, 7);
    auto* collapsed = warp(point);
    drawFrame(collapsed, pattern, 0);
    EXPECT_EQ(rec->size.x, 1.0f);  // not 0, which would take the composition's size
    for (float f : collapsed->vertexData()) ASSERT_TRUE(std::isfinite(f));

    // Finite numbers whose cubic overflows: no mesh, no enlargement.
    Patch huge = square(kWidth, kHeight);
    huge.p[1] = Vec2(3e38f, -3e38f);
    huge.p[2] = Vec2(-3e38f, 3e38f);
    auto* overflowing = warp(huge);
    ASSERT_EQ(overflowing->records().size(), 1u);
    *rec = LayerSizeExtendData{Vec2(kWidth, kHeight), Vec2(), Vec2(kWidth, kHeight), Vec2()};
    const Pixels p = drawFrame(overflowing, pattern, 0);
    EXPECT_EQ(rec->size.x, static_cast<float>(kWidth));
    EXPECT_TRUE(overflowing->vertexData().empty());
    EXPECT_EQ(p.at(10, 10)[3], 0);
}

TEST_F(BezierWarpTest, EnlargedWarpIsPlacedInTheComposition) {
    auto* root = new QvTest::CompTestRoot(64, 64, 25, 10);
    pattern = QvTest::uploadPositionPattern(16, 16);
    auto* av = new RenderAVLayer(root);
    av->setSourceID(root->createTextureSource(pattern, AVSource::kColorFormatRGBA, 16, 16, "pattern"), true);
    QvTest::CompTestRoot::place(av, Vec3(0, 0, 0), Vec3(20, 20, 0), 0);
    av->setLayerDuration(TimeUnit(10, 25));
    Patch patch = square(16, 16);
    patch.p[0] = Vec2(-6, -4);
    patch.p[3] = Vec2(22, -2);
    patch.p[4] = Vec2(20, 4);
    rapidjson::Document item;
    item.Parse(("{\"name\":\"ADBE BEZMESH\",\"data\":" + patch.json() + "}").c_str());
    RenderEffect* effect = RenderEffectManager::createEffect("ADBE BEZMESH", av);
    effect->loadFromJson(item);
    av->addEffect(effect);
    root->addLayer(av, false);
    root->contentLoaded();

    Pixels first;
    for (long long frame = 0; frame < 3; ++frame) {
        const Pixels p = root->drawFrame(frame);
        const LayerSizeExtendData* rec = av->layerSizeExtendData();
        EXPECT_NEAR(rec->offset.x, 6.0f, 1e-4);
        EXPECT_NEAR(rec->offset.y, 4.0f, 1e-4);
        EXPECT_NEAR(rec->offsetDelta.x, 6.0f, 1e-4);
        EXPECT_EQ(av->width(), static_cast<int>(rec->size.x));
        EXPECT_GT(expectCellCentres(p, patch, 20, 20, 16, 16, 2.5), 300) << "frame " << frame;
        if (frame == 0)
            first = p;
        else
            EXPECT_EQ(p.rgba, first.rgba) << "frame " << frame << " drifted";
    }
    delete root;
}
