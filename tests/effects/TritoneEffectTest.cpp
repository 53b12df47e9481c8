// The tritone against the two ramps split at luminance 0.5, blended with the
// input by its share.
#include <gtest/gtest.h>

#include "PixelEffectFixture.h"
#include "effects/TritoneEffect.h"

using namespace Quorvane::Core;
using QvTest::Rgba;

namespace {

class TritoneTest : public QvTest::ColourImageFixture {
protected:
    std::function<Rgba(int, int)> reference(const Rgba& black, const Rgba& middle, const Rgba& white,
                                            float factor) const {
        return [=](int x, int y) {
            Rgba c = image.at(x, y);
            const float l = luminance(c);
            for (int i = 0; i < 3; ++i) {
                const float tint = l < 0.5f ? mixf(black[i], middle[i], l / 0.5f)
                                            : mixf(middle[i], white[i], (l - 0.5f) / 0.5f);
                c[i] = mixf(tint, c[i], factor);
            }
            return c;
        };
    }
    // Luminances within float rounding of 0.5 may take either ramp.
    std::function<bool(int, int)> atHalf() const {
        return [this](int x, int y) { return std::fabs(luminance(image.at(x, y)) - 0.5f) < 1e-4f; };
    }
};

}  // namespace

TEST_F(TritoneTest, ThreeColourRampBlendedWithTheInput) {
    // Without records the input's share is 1: unchanged.
    auto* plain = create<TritoneEffect>("ADBE Tritone", "[0, 0, 0, 1]");
    ASSERT_NE(plain, nullptr);
    expectImage(
        drawFrame(plain, input, 0), [&](int x, int y) { return image.at(x, y); }, "no records");

    const Rgba black{0.1f, 0, 0.3f, 1}, middle{0.9f, 0.4f, 0.1f, 1}, white{1, 1, 0.8f, 1};
    for (float factor : {0.0f, 0.25f, 1.0f}) {
        auto* effect =
            create<TritoneEffect>("ADBE Tritone", "[0.1, 0, 0.3, 1, 0.9, 0.4, 0.1, 1, 1, 1, 0.8, 1, " +
                                                      std::to_string(factor) + "]");
        ASSERT_NE(effect, nullptr);
        expectImage(drawFrame(effect, input, 0), reference(black, middle, white, factor),
                    "factor " + std::to_string(factor), 2.0f, atHalf());
    }
}

TEST_F(TritoneTest, BlackMiddleAndWhiteLandOnTheirColours) {
    const QvTest::Image greys = QvTest::Image::make(kWidth, kHeight, [](int x, int) -> Rgba {
        const float v = x < 20 ? 0.0f : x < 40 ? 0.5f : 1.0f;
        return {v, v, v, 1};
    });
    auto* effect =
        create<TritoneEffect>("ADBE Tritone", "[0.1, 0.2, 0.3, 1, 0.6, 0.5, 0.4, 1, 0.9, 0.8, 0.7, 1, 0]");
    ASSERT_NE(effect, nullptr);
    const QvTest::Pixels p = drawFrame(effect, upload(greys), 0);
    // Mid-grey's luminance is 0.5 up to the weights' rounding: the upper ramp
    // at its start, the middle colour, either way.
    expectImage(
        p,
        [](int x, int) -> Rgba {
            if (x < 20) return {0.1f, 0.2f, 0.3f, 1};
            if (x < 40) return {0.6f, 0.5f, 0.4f, 1};
            return {0.9f, 0.8f, 0.7f, 1};
        },
        "black, middle, white");
}

TEST_F(TritoneTest, DataFileCopyAndExtremes) {
    QvTest::writeFile(dir.file("tritone.json"), R"([[0, 0, 0, 1, 0.5, 0.5, 0.5, 1, 1, 1, 1, 1], 5,
        [0, 0, 0, 1, 0.5, 0.5, 0.5, 1, 1, 1, 1, 1, 0], [1, 0, 0, 1, 0, 1, 0, 1, 0, 0, 1, 1, 0.5]])");
    auto* effect = create<TritoneEffect>("ADBE Tritone", "\"tritone.json\"");
    ASSERT_NE(effect, nullptr);
    ASSERT_EQ(effect->records().size(), 2u);
    EXPECT_TRUE(effect->hasAnimation());
    expectImage(drawFrame(effect, input, 1), reference({1, 0, 0, 1}, {0, 1, 0, 1}, {0, 0, 1, 1}, 0.5f),
                "frame 1", 2.0f, atHalf());
    auto copy = expectRegistered<TritoneEffect>("ADBE Tritone", effect);
    ASSERT_NE(copy, nullptr);
    copy->draw(input);
    expectImage(readDestination(copy->getDestination()),
                reference({1, 0, 0, 1}, {0, 1, 0, 1}, {0, 0, 1, 1}, 0.5f), "copy keeps the current values",
                2.0f, atHalf());

    for (const char* data : {"[1e300, 1e300, 1e300, 1, -1e300, -1e300, -1e300, 1, 1e300, 1e300, 1e300, 1, 0]",
                             "[0, 0, 0, 1, 1e300, 1e300, 1e300, 1, 1, 1, 1, 1, 1e300]"}) {
        auto* extreme = create<TritoneEffect>("ADBE Tritone", data);
        ASSERT_NE(extreme, nullptr);
        expectNoNaN(extreme, input, 0, data);
    }
}
