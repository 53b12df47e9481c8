// The corner pin: its projective coordinates, the pinned image against a
// homography solved here, record loading, the layer enlargement rules and a
// pinned layer placed in a composition.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "CornerPinEffectPattern.h"
#include "EffectFixture.h"
#include "effects/CornerPinEffect.h"
#include "effects/EffectRegistry.h"
#include "effects/MotionTileEffect.h"
#include "scene/CompTestRoot.h"

using namespace Quorvane::Core;
using QvTest::Pixels;

namespace {

using Data = CornerPinEffect::CornerPinData;

// Inline data [tl, tr, bl, br] as JSON text.
std::string pin(const Vec2& tl, const Vec2& tr, const Vec2& bl, const Vec2& br) {
    char text[256];
    std::snprintf(text, sizeof text, "[%g,%g,%g,%g,%g,%g,%g,%g]", tl.x, tl.y, tr.x, tr.y, bl.x, bl.y, br.x,
                  br.y);
    return text;
}

bool finiteCoords(const Data& d) {
    for (const Vec3& t : d.textureCoords)
        if (!std::isfinite(t.x) || !std::isfinite(t.y) || !std::isfinite(t.z)) return false;
    return true;
}

class CornerPinTest : public QvTest::EffectFixture {
protected:
    // At a world scale of 1000 the anti-aliased band is a thousandth of a
    // pixel: the image alone is seen, mapped by the projective coordinates.
    void withoutEdgeBand() {
        layer->setTransformAtTime(Vec3(0, 0, 0), Vec3(0, 0, 0), Vec3(0, 0, 0), Vec3(1000, 1000, 1), 0);
    }
    void TearDown() override {
        if (pattern) deleteTexture(pattern);
        EffectFixture::TearDown();
    }
    GLuint pattern = 0;
};

}  // namespace

TEST(CornerPinMath, ProjectiveCoordinatesFromTheDiagonals) {
    // The layer's own square: the diagonals cross halfway, every q is 2.
    Data square(Vec2(0, 100), Vec2(100, 100), Vec2(100, 0), Vec2(0, 0));
    const Vec3 want[4] = {Vec3(0, 0, 2), Vec3(2, 0, 2), Vec3(2, 2, 2), Vec3(0, 2, 2)};
    for (int i = 0; i < 4; ++i) {
        EXPECT_FLOAT_EQ(square.textureCoords[i].x, want[i].x) << i;
        EXPECT_FLOAT_EQ(square.textureCoords[i].y, want[i].y) << i;
        EXPECT_FLOAT_EQ(square.textureCoords[i].z, want[i].z) << i;
    }
    EXPECT_EQ(square.tl().x, 0.0f);
    EXPECT_EQ(square.br().y, 100.0f);

    // A trapezoid: q follows the crossing. Diagonals of tl (0,0), tr (40,0),
    // br (30,20), bl (10,20) cross at (20, 13.33): s = u = 2/3.
    Data trapezoid(Vec2(10, 20), Vec2(30, 20), Vec2(40, 0), Vec2(0, 0));
    EXPECT_NEAR(trapezoid.ttl().z, 3.0f, 1e-5);
    EXPECT_NEAR(trapezoid.tbr().z, 1.5f, 1e-5);
    EXPECT_NEAR(trapezoid.ttr().x, 3.0f, 1e-5);

    // Self-crossing, collapsed, collinear and NaN quads keep q = 1.
    const Vec2 nan(std::nanf(""), 0);
    const Data flat[] = {Data(Vec2(0, 100), Vec2(100, 0), Vec2(100, 100), Vec2(0, 0)),
                         Data(Vec2(5, 5), Vec2(5, 5), Vec2(5, 5), Vec2(5, 5)),
                         Data(Vec2(30, 0), Vec2(20, 0), Vec2(10, 0), Vec2(0, 0)),
                         Data(Vec2(0, 100), Vec2(100, 100), Vec2(100, 0), nan)};
    for (const Data& d : flat) {
        EXPECT_TRUE(finiteCoords(d));
        for (const Vec3& t : d.textureCoords) EXPECT_EQ(t.z, 1.0f);
    }
}

TEST(CornerPinMath, EdgeBandOfASpikeIsLeftOut) {
    // A pin collapsed onto a line runs straight back at its ends: no miter,
    // the band's vertices would be infinite.
    std::vector<Vec2> line = {Vec2(0, 0), Vec2(64, 0), Vec2(64, 0), Vec2(0, 0)};
    std::vector<Vec3> coords(4, Vec3(0, 0, 1));
    PolygonEdgeBuilder builder;
    CornerPinEffect::buildEdge(builder, &line, &coords);
    EXPECT_TRUE(builder.result()->empty());
    EXPECT_TRUE(builder.innerVertices()->empty());

    std::vector<Vec2> quad = {Vec2(0, 0), Vec2(64, 0), Vec2(64, 32), Vec2(0, 32)};
    CornerPinEffect::buildEdge(builder, &quad, &coords);
    ASSERT_EQ(builder.innerVertices()->size(), 4u);
    EXPECT_FLOAT_EQ((*builder.innerVertices())[0].x, 0.5f);
    EXPECT_FLOAT_EQ((*builder.innerVertices())[0].y, 0.5f);
    EXPECT_EQ(builder.result()->size(), 4u * 4 * 6);
}

TEST_F(CornerPinTest, PerspectiveQuadShowsTheTexelsOfTheHomography) {
    pattern = QvTest::uploadPositionPattern(kWidth, kHeight);
    withoutEdgeBand();
    // Its bounding box is the layer's own: nothing is enlarged.
    const Vec2 quad[4] = {Vec2(0, 4), Vec2(64, 0), Vec2(50, 32), Vec2(6, 27)};
    auto* effect = create<CornerPinEffect>("ADBE Corner Pin", pin(quad[0], quad[1], quad[3], quad[2]));
    ASSERT_NE(effect, nullptr);
    ASSERT_EQ(effect->records().size(), 1u);
    const Pixels p = drawFrame(effect, pattern, 0);
    EXPECT_EQ(layer->layerSizeExtendData()->offset.x, 0.0f);
    ASSERT_EQ(p.width, kWidth);
    EXPECT_GT(QvTest::expectHomography(p, quad, 0, 0, kWidth, kHeight), 900);
    // Outside the quad the destination stays transparent.
    EXPECT_EQ(p.at(1, 31)[3], 0);
    EXPECT_EQ(p.at(62, 30)[3], 0);
}

TEST_F(CornerPinTest, UpsideDownPinKeepsItsQuadInsideTheDestination) {
    // Turned half a turn: the top corners are below the bottom ones. The box
    // of the two corners of each side would be (100, 100) - (0, 0) and move
    // the image out of the destination; the box of all four is the layer.
    setLayerSize(100, 100);
    withoutEdgeBand();
    pattern = QvTest::uploadPositionPattern(100, 100);
    const Vec2 quad[4] = {Vec2(100, 100), Vec2(0, 100), Vec2(0, 0), Vec2(100, 0)};
    auto* effect = create<CornerPinEffect>("ZR_Corner_Pin", pin(quad[0], quad[1], quad[3], quad[2]));
    ASSERT_NE(effect, nullptr);
    effect->prepareForFrame(0);
    EXPECT_FALSE(effect->willExtendLayerSize(layer->layerSizeExtendData()));
    const Pixels p = drawFrame(effect, pattern, 0);
    int sx, sy;
    ASSERT_TRUE(QvTest::sourceAt(p, 20, 70, sx, sy));
    EXPECT_EQ(sx, 79);
    EXPECT_EQ(sy, 29);
    EXPECT_GT(QvTest::expectHomography(p, quad, 0, 0, 100, 100), 8000);
}

TEST_F(CornerPinTest, EnlargementFollowsTheCornerBox) {
    setLayerSize(100, 100);
    LayerSizeExtendData* rec = layer->layerSizeExtendData();
    auto* same = create<CornerPinEffect>("ZR_Corner_Pin", "[0, 0, 100, 0, 0, 100, 100, 100]");
    same->prepareForFrame(0);
    EXPECT_FALSE(same->willExtendLayerSize(rec));
    EXPECT_EQ(rec->size.x, 100.0f);

    auto* grown = create<CornerPinEffect>("ZR_Corner_Pin", "[-10, -20, 110, 0, 0, 100, 100, 100]");
    grown->prepareForFrame(0);
    rec->offset = Vec2(3, 4);  // left by an earlier enlarging effect
    EXPECT_TRUE(grown->willExtendLayerSize(rec));
    EXPECT_EQ(rec->offset.x, 10.0f);
    EXPECT_EQ(rec->offset.y, 20.0f);
    EXPECT_EQ(rec->offsetDelta.x, 7.0f);
    EXPECT_EQ(rec->offsetDelta.y, 16.0f);
    EXPECT_EQ(rec->size.x, 120.0f);
    EXPECT_EQ(rec->size.y, 120.0f);

    // Truncation toward zero: -0.7 is 0, so this pin is the layer's own box.
    rec->offset = Vec2();
    auto* near = create<CornerPinEffect>("ZR_Corner_Pin", "[-0.7, 0, 100, -0.2, 0, 100.9, 100.5, 100]");
    near->prepareForFrame(0);
    EXPECT_FALSE(near->willExtendLayerSize(rec));

    // A destination of the old size is dropped when the size changes.
    pattern = QvTest::uploadPositionPattern(100, 100);
    grown->draw(pattern);
    ASSERT_NE(grown->getDestination(), nullptr);
    EXPECT_TRUE(grown->willExtendLayerSize(rec));
    EXPECT_EQ(grown->getDestination(), nullptr);
}

TEST_F(CornerPinTest, CollapsedAndFarCornersStayUsable) {
    LayerSizeExtendData* rec = layer->layerSizeExtendData();
    pattern = QvTest::uploadPositionPattern(kWidth, kHeight);
    // All corners on one point: a one-pixel layer, not one of size 0 (which
    // would take the composition's size); drawing makes no NaN.
    auto* point = create<CornerPinEffect>("ZR_Corner_Pin", "[5, 5, 5, 5, 5, 5, 5, 5]");
    const Pixels p = drawFrame(point, pattern, 0);
    EXPECT_EQ(rec->size.x, 1.0f);
    EXPECT_EQ(rec->size.y, 1.0f);
    EXPECT_EQ(rec->offset.x, -5.0f);
    EXPECT_TRUE(finiteCoords(point->records()[0]));
    (void)p;

    // A line (two corners each on the same spot): the edge band has no miter there.
    auto* line = create<CornerPinEffect>("ZR_Corner_Pin", "[0, 0, 64, 0, 0, 0, 64, 0]");
    drawFrame(line, pattern, 0);
    EXPECT_EQ(rec->size.y, 1.0f);

    // Corners far beyond any texture size: the area is cut to what can reach
    // the 64 x 32 composition (four pixels around it included), and no
    // undefined float-to-int conversion.
    auto* far = create<CornerPinEffect>("ZR_Corner_Pin", "[-3e9, -1e30, 3e9, 0, 0, 1e30, 64, 32]");
    far->prepareForFrame(0);
    EXPECT_TRUE(far->willExtendLayerSize(rec));
    EXPECT_EQ(rec->size.x, 72.0f);
    EXPECT_EQ(rec->size.y, 40.0f);
    EXPECT_EQ(rec->offset.x, 4.0f);
    EXPECT_EQ(rec->offset.y, 4.0f);
    // The largest side: from the composition or the layer, whichever is
    // larger, and never past the GL limit.
    EXPECT_EQ(CornerPinEffect::largestSides(layer, 10, 100).y, 400.0f);
    EXPECT_EQ(CornerPinEffect::largestSides(layer, 10, 10000).y, float(CornerPinEffect::kLargestSide));
    EXPECT_EQ(CornerPinEffect::largestSides(nullptr, 10, 10).x, float(CornerPinEffect::kLargestSide));
}

TEST_F(CornerPinTest, RecordsFromInlineDataAndDataFiles) {
    for (const char* bad : {"[0,0,1,0,0,1,1]", "[0,0,1,0,0,1,1,1,1]", "5", "{}", "\"missing.json\"",
                            "[0,0,1,0,0,1,1,\"x\"]", "[0,0,1e39,0,0,1,1,1]"}) {
        auto* effect = create<CornerPinEffect>("CC Power Pin", bad);
        EXPECT_TRUE(effect->records().empty()) << bad;
        effect->prepareForFrame(0);
        EXPECT_EQ(effect->currentData(), nullptr);
        EXPECT_FALSE(effect->willExtendLayerSize(layer->layerSizeExtendData())) << bad;
    }

    // A string is skipped without taking a frame; so are short, non-number
    // and overflowing records; longer ones give their first eight numbers.
    QvTest::writeFile(
        dir.file("pin.json"),
        "[[0,0,64,0,0,32,64,32], \"x\", [1,0,64,0,0,32,64,32,99], [0,0,1], [0,0,1,0,0,1,1,null],"
        " [0,0,1,0,0,1,1,1e39], 7, [2,0,64,0,0,32,64,32]]");
    auto* file = create<CornerPinEffect>("ZR_Corner_Pin", "\"pin.json\"");
    ASSERT_EQ(file->records().size(), 3u);
    EXPECT_TRUE(file->hasAnimation());
    const float want[] = {0, 1, 2};
    for (long long frame = 0; frame < 3; ++frame) {
        file->prepareForFrame(frame);
        EXPECT_EQ(file->currentData()->tl().x, want[frame]);
    }
    file->prepareForFrame(-1);
    EXPECT_EQ(file->currentData()->tl().x, 2.0f);

    // The first element decides for the whole file.
    QvTest::writeFile(dir.file("short.json"), "[[0,0,64,0,0,32,64], [0,0,64,0,0,32,64,32]]");
    QvTest::writeFile(dir.file("long.json"), "[[0,0,64,0,0,32,64,32,1], [0,0,64,0,0,32,64,32]]");
    QvTest::writeFile(dir.file("object.json"), "{\"a\": [0,0,64,0,0,32,64,32]}");
    for (const char* name : {"\"short.json\"", "\"long.json\"", "\"object.json\""})
        EXPECT_TRUE(create<CornerPinEffect>("ZR_Corner_Pin", name)->records().empty()) << name;
}

TEST_F(CornerPinTest, EveryNameMakesAPinThatClonesThroughTheEngineName) {
    for (const char* name : {"ADBE Corner Pin", "CC Power Pin", "ZR_Corner_Pin"}) {
        auto* effect = create<CornerPinEffect>(name, "[1, 2, 64, 0, 0, 32, 64, 32]");
        ASSERT_NE(effect, nullptr);
        EXPECT_EQ(effect->matchName(), "ZR_Corner_Pin");
        std::unique_ptr<RenderEffect> copy(RenderEffectManager::cloneEffect(effect, layer));
        auto* pinCopy = dynamic_cast<CornerPinEffect*>(copy.get());
        ASSERT_NE(pinCopy, nullptr) << name;
        EXPECT_EQ(pinCopy->records().size(), 1u);
        EXPECT_EQ(pinCopy->currentData(), nullptr);
        pinCopy->prepareForFrame(0);
        EXPECT_EQ(pinCopy->currentData()->tl().y, 2.0f);
    }
}

// ---- through a real layer of a composition -----------------------------------------

namespace {

class CornerPinCompTest : public QvTest::GLFixture {
protected:
    void SetUp() override {
        GLFixture::SetUp();
        pattern = QvTest::uploadPositionPattern(16, 16);
        build();
    }
    // A 64 x 64 composition with the 16 x 16 pattern as a layer at (20, 20).
    void build() {
        delete root;
        root = new QvTest::CompTestRoot(64, 64, 25, 10);
        layer = new RenderAVLayer(root);
        layer->setSourceID(root->createTextureSource(pattern, AVSource::kColorFormatRGBA, 16, 16, "pattern"),
                           true);
        QvTest::CompTestRoot::place(layer, Vec3(0, 0, 0), Vec3(20, 20, 0), 0);
        layer->setLayerDuration(TimeUnit(10, 25));
        root->addLayer(layer, false);
    }
    void TearDown() override {
        delete root;
        deleteTexture(pattern);
        GLFixture::TearDown();
    }
    RenderEffect* addEffect(const std::string& name, const std::string& data) {
        rapidjson::Document item;
        item.Parse(("{\"name\":\"" + name + "\",\"data\":" + data + "}").c_str());
        RenderEffect* effect = RenderEffectManager::createEffect(name, layer);
        effect->loadFromJson(item);
        layer->addEffect(effect);
        return effect;
    }

    QvTest::CompTestRoot* root = nullptr;
    RenderAVLayer* layer = nullptr;
    GLuint pattern = 0;
};

// tl (-4, -8), tr (16, 0), bl (0, 16), br (16, 16): box (-4, -8) - (16, 16).
const Vec2 kQuad[4] = {Vec2(-4, -8), Vec2(16, 0), Vec2(16, 16), Vec2(0, 16)};
const char* const kQuadData = "[-4, -8, 16, 0, 0, 16, 16, 16]";

}  // namespace

TEST_F(CornerPinCompTest, EnlargedLayerIsDrawnWhereThePinPutsIt) {
    addEffect("ZR_Corner_Pin", kQuadData);
    root->contentLoaded();
    Pixels first;
    for (long long frame = 0; frame < 4; ++frame) {
        const Pixels p = root->drawFrame(frame);
        const LayerSizeExtendData* rec = layer->layerSizeExtendData();
        EXPECT_EQ(rec->size.x, 20.0f);
        EXPECT_EQ(rec->size.y, 24.0f);
        EXPECT_EQ(rec->offset.x, 4.0f);
        EXPECT_EQ(rec->offset.y, 8.0f);
        EXPECT_EQ(rec->offsetDelta.x, 4.0f);
        EXPECT_EQ(rec->offsetDelta.y, 8.0f);
        EXPECT_EQ(layer->width(), 20);
        EXPECT_EQ(layer->height(), 24);
        // The layer sits at (20, 20): the pinned image in composition pixels.
        EXPECT_GT(QvTest::expectHomography(p, kQuad, 20, 20, 16, 16, 2.2), 150) << "frame " << frame;
        if (frame == 0)
            first = p;
        else
            EXPECT_EQ(p.rgba, first.rgba) << "frame " << frame << " drifted";
    }
    // The image reaches up and left of the layer's own corner (20, 20).
    const Vec2 upLeft = QvTest::Homography::squareToQuad(kQuad).apply(0.1, 0.2);
    ASSERT_LT(upLeft.x, 0.0f);
    ASSERT_LT(upLeft.y, 0.0f);
    int sx, sy;
    ASSERT_TRUE(
        QvTest::sourceAt(first, static_cast<int>(20 + upLeft.x), static_cast<int>(20 + upLeft.y), sx, sy));
    EXPECT_NEAR(sx, 1.6, 2.2);
    EXPECT_NEAR(sy, 3.2, 2.2);
    EXPECT_EQ(first.at(17, 36)[2], 0);  // left of the bottom-left corner: background
}

TEST_F(CornerPinCompTest, LoadingContentAgainKeepsTheEnlargedLayerInPlace) {
    addEffect("ZR_Corner_Pin", kQuadData);
    root->contentLoaded();
    const Pixels before = root->drawFrame(0);
    root->drawFrame(1);
    // Reattaching the source restarts the enlargement record; the shift the
    // last draw applied must go with it.
    root->contentLoaded();
    for (long long frame = 0; frame < 3; ++frame) {
        EXPECT_EQ(root->drawFrame(frame).rgba, before.rgba) << "frame " << frame << " displaced";
    }
}

TEST_F(CornerPinCompTest, MotionTileAfterThePinKeepsThePinnedImageInPlace) {
    addEffect("ZR_Corner_Pin", kQuadData);
    root->contentLoaded();
    const Pixels pinned = root->drawFrame(0);

    build();
    addEffect("ZR_Corner_Pin", kQuadData);
    // 200 % output around the centre of the pinned area, (6, 4) in layer
    // pixels, with the tile at 100 %: the centre tile is the pinned image.
    addEffect("ADBE Tile", "[6, 4, 100, 100, 200, 200, 0, 0, 0]");
    root->contentLoaded();
    const Pixels tiled = root->drawFrame(0);
    const LayerSizeExtendData* rec = layer->layerSizeExtendData();
    EXPECT_EQ(rec->size.x, 40.0f);
    EXPECT_EQ(rec->size.y, 48.0f);
    // Half the growth, inside the pinned area: the layer's origin lies at
    // (14, 20) of the tiled area, the tile's centre (6, 4) from it.
    EXPECT_EQ(rec->offset.x, 10.0f);
    EXPECT_EQ(rec->offset.y, 12.0f);
    EXPECT_EQ(rec->offsetDelta.x, 6.0f);
    EXPECT_EQ(rec->offsetDelta.y, 4.0f);
    // The composition's own anti-aliased band lies along the outline of a
    // layer of another size now, so a texel may differ by one near it.
    int compared = 0, same = 0;
    for (int y = 13; y < 36; ++y)
        for (int x = 17; x < 36; ++x) {
            int sx, sy, tx, ty;
            // Pixels next to the outline are left out: the tiles' seam runs there.
            bool inside = true;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    inside = inside && QvTest::sourceAt(pinned, x + dx, y + dy, sx, sy);
            if (!inside || !QvTest::sourceAt(pinned, x, y, sx, sy)) continue;
            ASSERT_TRUE(QvTest::sourceAt(tiled, x, y, tx, ty)) << x << "," << y;
            ASSERT_LE(std::abs(tx - sx), 1) << x << "," << y;
            ASSERT_LE(std::abs(ty - sy), 1) << x << "," << y;
            ++compared;
            same += tx == sx && ty == sy;
        }
    EXPECT_GT(compared, 150);
    EXPECT_GT(same, compared * 7 / 10);
    // Tiles repeat beyond the pinned area: the area's width (20) to the right.
    int sx, sy, tx, ty;
    ASSERT_TRUE(QvTest::sourceAt(pinned, 24, 24, sx, sy));
    ASSERT_TRUE(QvTest::sourceAt(tiled, 44, 24, tx, ty));
    EXPECT_EQ(tx, sx);
    EXPECT_EQ(ty, sy);
}

// A 64 x 64 layer filling a 64 x 64 composition, pinned or Bezier-warped to k
// times its size about its centre. However far past the enlargement limit the
// image reaches, the composition shows at every pixel the texel that the
// scaling puts there: composition pixel centre c shows layer point
// 32 + (c - 32) / k.
TEST_F(CornerPinCompTest, ImageEnlargedPastTheLimitStillFillsTheComposition) {
    struct Row {
        const char* effect;
        double k;
    };
    const Row rows[] = {{"ZR_Corner_Pin", 3}, {"ZR_Corner_Pin", 9},  {"ZR_Corner_Pin", 20},
                        {"ZR_Bezier_Warp", 3}, {"ZR_Bezier_Warp", 9}, {"ZR_Bezier_Warp", 20}};
    const GLuint big = QvTest::uploadPositionPattern(64, 64);
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.effect) + " x" + std::to_string(static_cast<int>(row.k)));
        const double lo = 32 - 32 * row.k, hi = 32 + 32 * row.k, third = (hi - lo) / 3;
        char data[512];
        if (row.effect == std::string("ZR_Corner_Pin")) {
            std::snprintf(data, sizeof data, "[%g,%g,%g,%g,%g,%g,%g,%g]", lo, lo, hi, lo, lo, hi, hi, hi);
        } else {
            // Straight edges with their control points at thirds: the warp is the scaling.
            std::snprintf(data, sizeof data,
                          "{\"corner\":[%g,%g, %g,%g, %g,%g, %g,%g, %g,%g, %g,%g, %g,%g, %g,%g, %g,%g, %g,%g, "
                          "%g,%g, %g,%g]}",
                          lo, lo, lo + third, lo, hi - third, lo, hi, lo, hi, lo + third, hi, hi - third, hi, hi,
                          hi - third, hi, lo + third, hi, lo, hi, lo, hi - third, lo, lo + third);
        }
        delete root;
        root = new QvTest::CompTestRoot(64, 64, 25, 10);
        layer = new RenderAVLayer(root);
        layer->setSourceID(root->createTextureSource(big, AVSource::kColorFormatRGBA, 64, 64, "big"), true);
        QvTest::CompTestRoot::place(layer, Vec3(0, 0, 0), Vec3(0, 0, 0), 0);
        layer->setLayerDuration(TimeUnit(10, 25));
        root->addLayer(layer, false);
        addEffect(row.effect, data);
        root->contentLoaded();
        const Pixels p = root->drawFrame(0);
        EXPECT_LE(layer->layerSizeExtendData()->size.x, float(CornerPinEffect::kLargestSide));
        int wrong = 0;
        for (int y = 0; y < 64; ++y) {
            for (int x = 0; x < 64; ++x) {
                const double ex = 32 + (x + 0.5 - 32) / row.k, ey = 32 + (y + 0.5 - 32) / row.k;
                int sx = -1, sy = -1;
                const bool shown = QvTest::sourceAt(p, x, y, sx, sy);
                if (!shown || std::fabs(sx - ex) > 1.01 || std::fabs(sy - ey) > 1.01) {
                    if (++wrong <= 3)
                        ADD_FAILURE() << "at " << x << "," << y << " texel " << sx << "," << sy << " expected "
                                      << ex << "," << ey;
                }
            }
        }
        EXPECT_EQ(wrong, 0);
    }
    delete root;
    root = nullptr;
    deleteTexture(big);
    build();
}
