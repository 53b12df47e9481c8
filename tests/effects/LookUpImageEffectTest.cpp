// The look-up image effect: a look-up layer found by index or name, and the
// colours looked up in its tiles against the tile arithmetic done here.
#include <gtest/gtest.h>

#include <cmath>

#include "PixelEffectFixture.h"
#include "effects/LookUpImageEffect.h"

using namespace Quorvane::Core;
using QvTest::Rgba;

namespace {

// A layer whose source texture is a given look-up image.
class LookUpSourceLayer : public RenderLayer {
public:
    LookUpSourceLayer(RenderLayer* comp, GLuint texture)
        : RenderLayer(comp, kAVLayer, false), texture(texture) {}
    unsigned int getSourceTexture() override { return texture; }
    bool hasAnimation() override { return animated; }
    GLuint texture;
    bool animated = false;
};

// The colour a look-up image holds for red i, green j (texel indices within a
// tile) and blue level k: every channel a different function, so that a swapped
// axis or tile shows.
Rgba lookUpColour(int i, int j, int k, int levels) {
    const float n = static_cast<float>(levels - 1);
    return {static_cast<float>(j) / n, std::pow(static_cast<float>(k) / n, 2.0f),
            1.0f - static_cast<float>(i) / n, 1.0f};
}

// Look-up image of `levels` blue levels in tiles of levels x levels texels,
// `perRow` tiles a row.
QvTest::Image lookUpImage(int levels, int perRow) {
    const int size = levels * perRow;
    return QvTest::Image::make(size, size, [=](int x, int y) {
        const int k = (y / levels) * perRow + x / levels;
        return lookUpColour(x % levels, y % levels, k, levels);
    });
}

class LookUpImageTest : public QvTest::PixelEffectFixture {
protected:
    // Input whose red and green fall on the tile grid of `levels`, blue anywhere.
    QvTest::Image gridInput(int levels) const {
        const float n = static_cast<float>(levels - 1);
        return QvTest::Image::make(kWidth, kHeight, [=](int x, int y) -> Rgba {
            return {static_cast<float>(x % levels) / n, static_cast<float>(y % levels) / n,
                    static_cast<float>((x * 5 + y * 3) % 31) / 30.0f, static_cast<float>(x % 3) / 2.0f};
        });
    }
    // Blend of the two tiles around the blue level, then the intensity.
    static std::function<Rgba(int, int)> reference(const QvTest::Image& in, int levels, float intensity) {
        return [=](int x, int y) {
            const Rgba c = in.at(x, y);
            const float n = static_cast<float>(levels - 1);
            const int i = static_cast<int>(std::lround(c[0] * n));
            const int j = static_cast<int>(std::lround(c[1] * n));
            const float blue = c[2] * n;
            const Rgba low = lookUpColour(i, j, static_cast<int>(std::floor(blue)), levels);
            const Rgba high = lookUpColour(i, j, static_cast<int>(std::ceil(blue)), levels);
            const float f = blue - std::floor(blue);
            Rgba out = c;
            for (int k = 0; k < 3; ++k) out[k] = mixf(c[k], mixf(low[k], high[k], f), intensity);
            return out;
        };
    }
    LookUpSourceLayer* addLookUpLayer(GLuint texture, const std::string& id = "") {
        auto* lut = new LookUpSourceLayer(&comp, texture);
        if (!id.empty()) {
            rapidjson::Document doc;
            doc.Parse(("{\"uuid\":\"" + id + "\"}").c_str());
            lut->loadFromJson(doc);
        }
        comp.addLayer(lut, false);
        return lut;
    }
    static void expectTransparent(const QvTest::Pixels& p, const std::string& what) {
        expectImage(
            p,
            [](int, int) {
                return Rgba{0, 0, 0, 0};
            },
            what, 0.0f);
    }
};

}  // namespace

TEST_F(LookUpImageTest, SixteenLevelImageOnTheTopLayer) {
    const QvTest::Image in = gridInput(16);
    const GLuint input = upload(in);
    addLookUpLayer(upload(lookUpImage(16, 4)));
    for (float intensity : {100.0f, 40.0f, 0.0f}) {
        auto* effect = create<LookUpImageEffect>(
            "ZR_Look_Up_Image",
            "{\"layer\": 0, \"type\": 2, \"intensity\": " + std::to_string(intensity) + "}");
        ASSERT_NE(effect, nullptr);
        EXPECT_EQ(effect->shader(), nullptr);
        expectImage(drawFrame(effect, input, 0), reference(in, 16, intensity / 100.0f),
                    "intensity " + std::to_string(intensity));
        ASSERT_NE(effect->shader(), nullptr);
        EXPECT_NE(effect->shader()->program(), 0u);
    }
}

TEST_F(LookUpImageTest, SixtyFourLevelImageByName) {
    const QvTest::Image in = gridInput(64);
    const GLuint input = upload(in);
    comp.setPrefix("pre_");
    addLookUpLayer(upload(lookUpImage(64, 8)), "pre_grade");
    // Another layer on top: the name, not the position, finds the image.
    addLookUpLayer(0);
    auto* effect = create<LookUpImageEffect>("ZR_Look_Up_Image", R"({"layer": "grade", "intensity": 100})");
    ASSERT_NE(effect, nullptr);
    EXPECT_EQ(effect->lookUpType(), 1);
    expectImage(drawFrame(effect, input, 0), reference(in, 64, 1.0f), "type 1 by name");

    // The copy keeps the name and finds the same layer; it starts at 100 percent
    // and builds its own program at its first draw.
    auto copy = expectRegistered<LookUpImageEffect>("ZR_Look_Up_Image", effect);
    auto* lookUpCopy = dynamic_cast<LookUpImageEffect*>(copy.get());
    ASSERT_NE(lookUpCopy, nullptr);
    EXPECT_EQ(lookUpCopy->getLayer(), effect->getLayer());
    EXPECT_EQ(lookUpCopy->shader(), nullptr);
    expectImage(drawFrame(lookUpCopy, input, 0), reference(in, 64, 1.0f), "copy");
}

TEST_F(LookUpImageTest, WithoutAUsableLookUpTheLayerVanishes) {
    const QvTest::Image in = gridInput(16);
    const GLuint input = upload(in);
    addLookUpLayer(upload(lookUpImage(16, 4)), "grade");
    addLookUpLayer(0, "blank");
    // Three layers: the effect's own, the image and a layer without texture.
    for (const char* data :
         {R"({"layer": 1, "type": 3})", R"({"layer": 5, "type": 2})", R"({"layer": -1, "type": 2})",
          R"({"layer": 1.0, "type": 2})", R"({"layer": "nothing", "type": 2})",
          R"({"layer": "blank", "type": 2})", R"({"layer": 0, "type": 2})", R"({"type": 2})", R"([1, 2])"}) {
        auto* effect = create<LookUpImageEffect>("ZR_Look_Up_Image", data);
        ASSERT_NE(effect, nullptr);
        expectTransparent(drawFrame(effect, input, 0), data);
    }
    auto* found =
        create<LookUpImageEffect>("ZR_Look_Up_Image", R"({"layer": 1, "type": 2, "intensity": 100})");
    expectImage(drawFrame(found, input, 0), reference(in, 16, 1.0f), "layer 1");
    expectTransparent(drawFrame(found, 0, 0), "texture 0");
}

TEST_F(LookUpImageTest, IntensityRecordsAndAnimation) {
    const QvTest::Image in = gridInput(16);
    const GLuint input = upload(in);
    LookUpSourceLayer* lut = addLookUpLayer(upload(lookUpImage(16, 4)));
    QvTest::writeFile(dir.file("intensity.json"), R"([100, "x", [50], 50, null, 0])");
    auto* effect = create<LookUpImageEffect>("ZR_Look_Up_Image",
                                             R"({"layer": 0, "type": 2, "intensity": "intensity.json"})");
    ASSERT_NE(effect, nullptr);
    EXPECT_TRUE(effect->hasAnimation());
    const float want[] = {100, 50, 0, 0};
    for (int frame = 0; frame < 4; ++frame) {
        effect->prepareForFrame(frame);
        EXPECT_EQ(effect->intensity(), want[frame]) << frame;
    }
    expectImage(drawFrame(effect, input, 1), reference(in, 16, 0.5f), "frame 1");

    // One inline intensity animates exactly when the look-up layer does.
    auto* still =
        create<LookUpImageEffect>("ZR_Look_Up_Image", R"({"layer": 0, "type": 2, "intensity": 30})");
    EXPECT_FALSE(still->hasAnimation());
    lut->animated = true;
    EXPECT_TRUE(still->hasAnimation());
    auto* none = create<LookUpImageEffect>("ZR_Look_Up_Image", R"({"layer": 7, "type": 2, "intensity": 30})");
    EXPECT_FALSE(none->hasAnimation());

    // Extreme intensities stay finite.
    for (const char* data : {R"({"layer": 0, "type": 2, "intensity": 1e300})",
                             R"({"layer": 0, "type": 2, "intensity": -1e300})"}) {
        auto* extreme = create<LookUpImageEffect>("ZR_Look_Up_Image", data);
        ASSERT_NE(extreme, nullptr);
        expectNoNaN(extreme, input, 0, data);
    }
}

TEST_F(LookUpImageTest, LookUpLayerThatLeadsBackAnswersAnimation) {
    // Layers from the top: other (0), the fixture's layer (1). Either the
    // layer looks itself up, or the two look each other up.
    auto* other = new RenderLayer(&comp, kAVLayer, false);
    comp.addLayer(other, false);
    auto lookUp = [&](RenderLayer* owner, int index, bool animated) {
        RenderEffect* effect = RenderEffectManager::createEffect("ZR_Look_Up_Image", owner);
        rapidjson::Document item;
        QvTest::writeFile(dir.file("ramp.json"), "[10, 20]");
        const std::string intensity = animated ? "\"ramp.json\"" : "30";
        item.Parse(("{\"data\":{\"layer\":" + std::to_string(index) + ",\"type\":2,\"intensity\":" + intensity +
                    "}}")
                       .c_str());
        effect->loadFromJson(item);
        owner->addEffect(effect);
        return effect;
    };
    RenderEffect* self = lookUp(layer, 1, false);
    EXPECT_FALSE(self->hasAnimation());
    EXPECT_FALSE(layer->hasAnimation());
    layer->removeEffect(self, true);

    RenderEffect* there = lookUp(layer, 0, false);
    RenderEffect* back = lookUp(other, 1, false);
    EXPECT_FALSE(there->hasAnimation());
    EXPECT_FALSE(other->hasAnimation());
    // An animated intensity anywhere on the ring is seen from both sides.
    lookUp(other, 1, true);
    EXPECT_TRUE(there->hasAnimation());
    EXPECT_TRUE(layer->hasAnimation());
    EXPECT_TRUE(back->hasAnimation());
}
