// The motion tile: every output pixel against the tile, mirror and phase
// arithmetic done here, the enlargement rules, and the records.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "CornerPinEffectPattern.h"
#include "EffectFixture.h"
#include "effects/CornerPinEffect.h"
#include "effects/MotionTileEffect.h"

using namespace Quorvane::Core;
using QvTest::Pixels;

namespace {

struct Tiling {
    Vec2 center;
    float tile = 1.0f;  // fraction, both axes
    bool mirror = false;
    float phase = 0.0f;
    bool horizontal = false;
};

double floorMod(double a, double b) {
    return a - b * std::floor(a / b);
}

// Compares every pixel at least a pixel away from a tile border with the
// texel the tiling puts there. `origin` is where the layer's own top left
// lies in the (possibly enlarged) output. Answers how many were compared.
int expectTiling(const Pixels& p, const Tiling& t, int srcW, int srcH, Vec2 origin = Vec2()) {
    const double size[2] = {double(srcW), double(srcH)};
    const double centre[2] = {t.center.x, t.center.y};
    int compared = 0;
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            const double pos[2] = {x + 0.5 - origin.x, y + 0.5 - origin.y};
            double src[2];
            long index[2];
            bool nearBorder = false;
            for (int a = 0; a < 2; ++a) {
                const double inTiles = (pos[a] - centre[a]) / (size[a] * t.tile) + 0.5;
                index[a] = static_cast<long>(std::floor(inTiles));
                const double within = (inTiles - std::floor(inTiles)) * size[a] * t.tile;
                nearBorder = nearBorder || within < 1.0 || within > size[a] * t.tile - 1.0;
                src[a] = size[a] / 2 + (pos[a] - centre[a]) / t.tile;
            }
            if (nearBorder) continue;
            const bool oddColumn = index[0] % 2 != 0, oddRow = index[1] % 2 != 0;
            if (t.phase > 0 && t.horizontal && oddRow) src[0] -= t.phase / 360.0 * size[0];
            if (t.phase > 0 && !t.horizontal && oddColumn) src[1] += t.phase / 360.0 * size[1];
            int texel[2];
            for (int a = 0; a < 2; ++a) texel[a] = static_cast<int>(std::floor(floorMod(src[a], size[a])));
            if (t.mirror && oddColumn) texel[0] = srcW - 1 - texel[0];
            if (t.mirror && oddRow) texel[1] = srcH - 1 - texel[1];
            int sx, sy;
            EXPECT_TRUE(QvTest::sourceAt(p, x, y, sx, sy)) << x << "," << y;
            if (!QvTest::sourceAt(p, x, y, sx, sy)) return compared;
            EXPECT_EQ(sx, texel[0]) << "at " << x << "," << y;
            EXPECT_EQ(sy, texel[1]) << "at " << x << "," << y;
            if (sx != texel[0] || sy != texel[1]) return compared;
            ++compared;
        }
    }
    return compared;
}

std::string record(const Tiling& t, float output = 100) {
    char text[200];
    std::snprintf(text, sizeof text, "[%g,%g,%g,%g,%g,%g,%d,%g,%d]", t.center.x, t.center.y, t.tile * 100,
                  t.tile * 100, output, output, t.mirror ? 1 : 0, t.phase, t.horizontal ? 1 : 0);
    return text;
}

class MotionTileTest : public QvTest::EffectFixture {
protected:
    void SetUp() override {
        EffectFixture::SetUp();
        pattern = QvTest::uploadPositionPattern(kWidth, kHeight);
    }
    void TearDown() override {
        deleteTexture(pattern);
        EffectFixture::TearDown();
    }
    // As the layer does it: the record of the frame, then the enlargement
    // asked from the layer's own size, the layer taking the new size, then the draw.
    Pixels drawAsLayer(MotionTileEffect* effect, int width, int height) {
        setLayerSize(width, height);
        LayerSizeExtendData* rec = layer->layerSizeExtendData();
        effect->prepareForFrame(0);
        if (effect->willExtendLayerSize(rec)) {
            layer->setWidth(static_cast<int>(rec->size.x));
            layer->setHeight(static_cast<int>(rec->size.y));
        }
        effect->draw(pattern);
        return readDestination(effect->getDestination());
    }
    // Centres a quarter pixel off the grid, so that no sample falls on a
    // texel border at a tile of 50 %.
    const Vec2 kCentre{32.25f, 16.25f};
    GLuint pattern = 0;
};

}  // namespace

TEST_F(MotionTileTest, TilesRepeatAroundTheCentre) {
    Tiling t{kCentre, 0.5f};
    auto* effect = create<MotionTileEffect>("ADBE Tile", record(t));
    const Pixels p = drawAsLayer(effect, kWidth, kHeight);
    EXPECT_EQ(p.width, kWidth);
    EXPECT_GT(expectTiling(p, t, kWidth, kHeight), 1200);
    // Off-centre: the image's middle sits at the centre given, in layer
    // pixels from the top left (y down, as the layer's top is texture row 0).
    t.center = Vec2(20.25f, 8.25f);
    auto* moved = create<MotionTileEffect>("ADBE Tile", record(t));
    const Pixels q = drawAsLayer(moved, kWidth, kHeight);
    EXPECT_GT(expectTiling(q, t, kWidth, kHeight), 1200);
    int sx, sy;
    ASSERT_TRUE(QvTest::sourceAt(q, 20, 8, sx, sy));
    EXPECT_EQ(sx, 32);
    EXPECT_EQ(sy, 16);
}

TEST_F(MotionTileTest, MirrorFlipsAlternateTiles) {
    const Tiling t{kCentre, 0.5f, true};
    auto* effect = create<MotionTileEffect>("ADBE Tile", record(t));
    const Pixels p = drawAsLayer(effect, kWidth, kHeight);
    EXPECT_GT(expectTiling(p, t, kWidth, kHeight), 1200);
    // The tile left of the centre one (index -1) runs right to left.
    int a, b, y;
    ASSERT_TRUE(QvTest::sourceAt(p, 2, 16, a, y));
    ASSERT_TRUE(QvTest::sourceAt(p, 10, 16, b, y));
    EXPECT_GT(a, b);
}

TEST_F(MotionTileTest, PositivePhaseShiftsAlternateRowsOrColumnsByThatPartOfATile) {
    // 180 degrees: half a tile, whatever the tile's size.
    const Tiling rows{kCentre, 0.5f, false, 180.0f, true};
    const Pixels p = drawAsLayer(create<MotionTileEffect>("ADBE Tile", record(rows)), kWidth, kHeight);
    EXPECT_GT(expectTiling(p, rows, kWidth, kHeight), 1000);
    const Tiling columns{kCentre, 0.5f, false, 90.0f, false};
    const Pixels q = drawAsLayer(create<MotionTileEffect>("ADBE Tile", record(columns)), kWidth, kHeight);
    EXPECT_GT(expectTiling(q, columns, kWidth, kHeight), 1000);
    // A negative phase shifts nothing.
    const Tiling negative{kCentre, 0.5f, false, -90.0f, true};
    const Pixels r = drawAsLayer(create<MotionTileEffect>("ADBE Tile", record(negative)), kWidth, kHeight);
    EXPECT_GT(expectTiling(r, Tiling{kCentre, 0.5f}, kWidth, kHeight), 1200);
}

TEST_F(MotionTileTest, OutputAreaEnlargesByHalfTheGrowth) {
    setLayerSize(101, 101);
    LayerSizeExtendData* rec = layer->layerSizeExtendData();
    auto* grown = create<MotionTileEffect>("ADBE Tile", "[50, 50, 100, 100, 150, 150, 0, 0, 0]");
    grown->prepareForFrame(0);
    rec->offset = Vec2(3, 3);
    ASSERT_TRUE(grown->willExtendLayerSize(rec));
    EXPECT_EQ(rec->size.x, 151.0f);
    EXPECT_EQ(rec->size.y, 151.0f);
    EXPECT_EQ(rec->offset.x, 25.0f);
    EXPECT_EQ(rec->offset.y, 25.0f);
    EXPECT_EQ(rec->offsetDelta.x, 22.0f);
    EXPECT_EQ(grown->sourceSize().x, 101.0f);

    auto* same = create<MotionTileEffect>("ADBE Tile", "[50, 50, 100, 100, 100, 100, 0, 0, 0]");
    same->prepareForFrame(0);
    EXPECT_FALSE(same->willExtendLayerSize(rec));

    // No output (or a negative one) is a one-pixel layer, never size 0.
    auto* none = create<MotionTileEffect>("ADBE Tile", "[50, 50, 100, 100, 0, -50, 0, 0, 0]");
    none->prepareForFrame(0);
    ASSERT_TRUE(none->willExtendLayerSize(rec));
    EXPECT_EQ(rec->size.x, 1.0f);
    EXPECT_EQ(rec->size.y, 1.0f);

    // A 10 x 10 layer asking for an enormous output in the 64 x 32
    // composition grows to a few composition sizes, not to the GL limit.
    setLayerSize(10, 10);
    auto* huge = create<MotionTileEffect>("ADBE Tile", "[5, 5, 1, 1, 1e9, 1e9, 0, 0, 0]");
    huge->prepareForFrame(0);
    ASSERT_TRUE(huge->willExtendLayerSize(rec));
    EXPECT_EQ(rec->size.x, 64.0f * CornerPinEffect::kCompositionReach);
    EXPECT_EQ(rec->size.y, 32.0f * CornerPinEffect::kCompositionReach);
}

TEST_F(MotionTileTest, EnlargedOutputTilesAroundTheLayer) {
    const Tiling t{kCentre, 1.0f, true};
    auto* effect = create<MotionTileEffect>("ADBE Tile", record(t, 200));
    const Pixels p = drawAsLayer(effect, kWidth, kHeight);
    ASSERT_EQ(p.width, 2 * kWidth);
    ASSERT_EQ(p.height, 2 * kHeight);
    EXPECT_EQ(layer->layerSizeExtendData()->offset.x, 32.0f);
    EXPECT_GT(expectTiling(p, t, kWidth, kHeight, Vec2(32, 16)), 7000);
}

TEST_F(MotionTileTest, WithoutRecordOrRecordedSizeTheImageStays) {
    // No record: the image passes unchanged.
    auto* bare = create<MotionTileEffect>("ADBE Tile", "\"missing.json\"");
    EXPECT_GT(expectTiling(drawAsLayer(bare, kWidth, kHeight), Tiling{Vec2(32, 16)}, kWidth, kHeight), 1700);

    // Drawn without being asked for its size first (as on an adjustment
    // layer): the layer's own size stands for the source's.
    const Tiling t{kCentre, 0.5f};
    auto* effect = create<MotionTileEffect>("ADBE Tile", record(t));
    effect->prepareForFrame(0);
    effect->draw(pattern);
    EXPECT_EQ(effect->sourceSize().x, 0.0f);
    EXPECT_GT(expectTiling(readDestination(effect->getDestination()), t, kWidth, kHeight), 1200);

    // A tile of 0 % draws pattern texels (no division by zero).
    auto* zero = create<MotionTileEffect>("ADBE Tile", "[32, 16, 0, 0, 100, 100, 0, 0, 0]");
    const Pixels z = drawAsLayer(zero, kWidth, kHeight);
    int sx, sy;
    for (int y = 0; y < z.height; y += 5)
        for (int x = 0; x < z.width; x += 5) ASSERT_TRUE(QvTest::sourceAt(z, x, y, sx, sy)) << x << "," << y;
}

TEST_F(MotionTileTest, RecordsFromInlineDataAndDataFiles) {
    QvTest::writeFile(dir.file("tile.json"),
                      "[[1,2,50,50,100,100,0,0,0], 4, [1,2,3,4,5,6,7,8], [1,2,50,50,100,100,0,1e39,0],"
                      " [5,6,25,40,150,120,1,45,1]]");
    auto* effect = create<MotionTileEffect>("ADBE Tile", "\"tile.json\"");
    ASSERT_EQ(effect->records().size(), 2u);
    EXPECT_TRUE(effect->hasAnimation());
    effect->prepareForFrame(1);
    const MotionTileEffect::DataPack& d = effect->current();
    EXPECT_EQ(d.center.x, 5.0f);
    EXPECT_FLOAT_EQ(d.tileWidth, 0.25f);
    EXPECT_FLOAT_EQ(d.tileHeight, 0.4f);
    EXPECT_FLOAT_EQ(d.outputWidth, 1.5f);
    EXPECT_FLOAT_EQ(d.outputHeight, 1.2f);
    EXPECT_TRUE(d.mirrorEdges);
    EXPECT_EQ(d.phase, 45.0f);
    EXPECT_TRUE(d.horizontalPhaseShift);

    for (const char* bad : {"[1,2,50,50,100,100,0,0]", "5", "{}", "[1,2,50,50,100,100,true,0,0]"})
        EXPECT_TRUE(create<MotionTileEffect>("ADBE Tile", bad)->records().empty()) << bad;

    std::unique_ptr<RenderEffect> copy(RenderEffectManager::cloneEffect(effect, layer));
    auto* tileCopy = dynamic_cast<MotionTileEffect*>(copy.get());
    ASSERT_NE(tileCopy, nullptr);
    EXPECT_EQ(tileCopy->records().size(), 2u);
    EXPECT_EQ(tileCopy->current().phase, 45.0f);  // the current parameters come along

    // One record from a JSON value: nine numbers fill it, anything else leaves it.
    MotionTileEffect::DataPack pack;
    for (const char* value : {"[7,8,20,30,110,120,1,-90,1]", "[1,2,3]", "{}", "[1,2,50,50,100,100,0,1e39,0]"}) {
        rapidjson::Document doc;
        doc.Parse(value);
        pack.loadFromJson(doc);
        EXPECT_EQ(pack.center.y, 8.0f) << value;
        EXPECT_FLOAT_EQ(pack.tileHeight, 0.3f) << value;
        EXPECT_FLOAT_EQ(pack.outputWidth, 1.1f) << value;
        EXPECT_EQ(pack.phase, -90.0f) << value;
        EXPECT_TRUE(pack.mirrorEdges && pack.horizontalPhaseShift) << value;
    }
}
