// Pixels of the colour channel effect, against values computed here from the
// channel push and the saturation mix.
#include <gtest/gtest.h>

#include <cmath>

#include "EffectFixture.h"
#include "effects/ColorChannelAdjustment.h"

using namespace Quorvane::Core;

namespace {

class ColorChannelTest : public QvTest::EffectFixture {
protected:
    void SetUp() override {
        EffectFixture::SetUp();
        std::vector<float> rgba;
        for (int i = 0; i < kWidth * kHeight; ++i) rgba.insert(rgba.end(), {0.2f, 0.4f, 0.6f, 1.0f});
        input = uploadFloatTexture(kWidth, kHeight, rgba);
    }
    void TearDown() override {
        deleteTexture(input);
        EffectFixture::TearDown();
    }
    // Every pixel equals the expected colour (0..1) within 2/255.
    static void expectColour(const QvTest::Pixels& p, float r, float g, float b, const char* what) {
        const float want[4] = {r, g, b, 1.0f};
        for (int y = 0; y < p.height; y += 7)
            for (int x = 0; x < p.width; x += 7)
                for (int c = 0; c < 4; ++c)
                    ASSERT_NEAR(p.at(x, y)[c], want[c] * 255.0f, 2.0f) << what << " at " << x << "," << y;
    }
    GLuint input = 0;
};

float luminance(float r, float g, float b) {
    return 0.2125f * r + 0.7154f * g + 0.0721f * b;
}

}  // namespace

TEST_F(ColorChannelTest, InlineRecordPushesChannels) {
    auto* effect = create<ColorChannelAdjustment>("ZR_Color_Channel_Adjustment", "[0.5, 0, -1, 1]");
    ASSERT_NE(effect, nullptr);
    const QvTest::Pixels p = drawFrame(effect, input, 0);
    EXPECT_EQ(p.width, kWidth);
    EXPECT_EQ(p.height, kHeight);
    // Red halfway to 1 (0.6), green unchanged, blue all the way to 0.
    expectColour(p, 153 / 255.0f, 102 / 255.0f, 0.0f, "inline");
    EXPECT_NEAR(p.at(0, 0)[0], 153, 2);
}

TEST_F(ColorChannelTest, DataFileAnimatesSaturation) {
    QvTest::writeFile(dir.file("cca.json"), "[[0,0,0,1],[0,0,0,0],[0,0,0,0.5]]");
    auto* effect = create<ColorChannelAdjustment>("ZR_Color_Channel_Adjustment", "\"cca.json\"");
    ASSERT_NE(effect, nullptr);
    EXPECT_TRUE(effect->hasAnimation());
    const float l = luminance(0.2f, 0.4f, 0.6f);
    expectColour(drawFrame(effect, input, 0), 0.2f, 0.4f, 0.6f, "frame 0");
    expectColour(drawFrame(effect, input, 1), l, l, l, "frame 1");
    for (long long frame : {2LL, 3LL, 50LL, -1LL}) {
        expectColour(drawFrame(effect, input, frame), (l + 0.2f) / 2, (l + 0.4f) / 2, (l + 0.6f) / 2, "half");
    }
}

TEST_F(ColorChannelTest, NoRecordsLeavesTheImageAndTextureZeroDrawsNothing) {
    auto* effect = create<ColorChannelAdjustment>("ZR_Color_Channel_Adjustment", "{\"a\":1}");
    ASSERT_NE(effect, nullptr);
    expectColour(drawFrame(effect, input, 0), 0.2f, 0.4f, 0.6f, "no records");
    // Setters drive an effect without records; saturation above 1 is not clamped.
    effect->setChannel(Vec3(0, 0, 0));
    effect->setSaturation(2.0f);
    const float l = luminance(0.2f, 0.4f, 0.6f);
    expectColour(drawFrame(effect, input, 0), 2 * 0.2f - l, 2 * 0.4f - l, std::min(1.0f, 2 * 0.6f - l),
                 "sat 2");

    const QvTest::Pixels empty = drawFrame(effect, 0, 0);
    for (int c = 0; c < 4; ++c) EXPECT_EQ(empty.at(3, 3)[c], 0);

    // Records beyond float range are held finite, not turned into NaN: red
    // pushed far up, green far down, and the saturation spreads them further.
    auto* wild = create<ColorChannelAdjustment>("ZR_Color_Channel_Adjustment", "[1e39, -1e39, 0, 1e39]");
    ASSERT_NE(wild, nullptr);
    expectColour(drawFrame(wild, input, 0), 1, 0, 1, "beyond float range");
}

TEST_F(ColorChannelTest, ClonedEffectDrawsWithDefaultsUntilPrepared) {
    auto* effect = create<ColorChannelAdjustment>("ZR_Color_Channel_Adjustment", "[0,0,0,0]");
    ASSERT_NE(effect, nullptr);
    drawFrame(effect, input, 0);
    std::unique_ptr<RenderEffect> copy(RenderEffectManager::cloneEffect(effect, layer));
    ASSERT_NE(copy, nullptr);
    copy->draw(input);
    expectColour(readDestination(copy->getDestination()), 0.2f, 0.4f, 0.6f, "copy before prepare");
    const float l = luminance(0.2f, 0.4f, 0.6f);
    copy->prepareForFrame(0);
    copy->draw(input);
    expectColour(readDestination(copy->getDestination()), l, l, l, "copy prepared");
}
