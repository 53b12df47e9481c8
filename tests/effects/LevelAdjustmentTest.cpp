// The levels effect against the input range, middle and output range per
// channel, computed here.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "PixelEffectFixture.h"
#include "effects/LevelAdjustment.h"

using namespace Quorvane::Core;
using QvTest::Rgba;

namespace {

struct Levels {
    float min, mid, max, outMin, outMax;
};

class LevelAdjustmentTest : public QvTest::ColourImageFixture {
protected:
    // The levels formula in double precision: x = clamp((c - min) / (max -
    // min)), x = x^(1 / middle), out = mix(outMin, outMax, x). An infinite x
    // (0 under a negative middle) gives an infinite result of the output
    // range's sign, which the 8-bit output clamps; a middle of 0 is 1 / 0 =
    // infinity as the exponent, its limit from above.
    // a / b as IEEE 754 gives it, spelled out so that a build trapping float
    // division by zero can run this test too.
    static double divide(double a, double b) {
        if (b != 0) return a / b;
        if (a == 0 || std::isnan(a)) return std::numeric_limits<double>::quiet_NaN();
        return std::copysign(std::numeric_limits<double>::infinity(), a) * std::copysign(1.0, b);
    }
    static float level(float c, const Levels& l) {
        const double x = std::pow(std::min(divide(std::max(double(c) - l.min, 0.0), double(l.max) - l.min), 1.0),
                                  divide(1.0, double(l.mid)));
        if (l.outMax == l.outMin) return l.outMin;
        return static_cast<float>(l.outMin + (double(l.outMax) - l.outMin) * x);
    }
    std::function<Rgba(int, int)> reference(const Levels& r, const Levels& g, const Levels& b) const {
        return [=](int x, int y) {
            const Rgba c = image.at(x, y);
            return Rgba{level(c[0], r), level(c[1], g), level(c[2], b), c[3]};
        };
    }
};

}  // namespace

TEST_F(LevelAdjustmentTest, SettersPerChannelAndForAll) {
    auto* effect = create<LevelAdjustment>("ZR_Level_Adjustment", "[0.2, 1, 0.8, 0, 1]");
    ASSERT_NE(effect, nullptr);
    EXPECT_FALSE(effect->hasAnimation());
    // Nothing loads from "data": the identity.
    const Levels identity{0, 1, 1, 0, 1};
    expectImage(drawFrame(effect, input, 0), reference(identity, identity, identity), "constructor values");

    // 0.2..0.8 with middle 1 maps 0.5 to 0.5, 0.1 to 0 and 0.9 to 1.
    const Levels stretch{0.2f, 1, 0.8f, 0, 1};
    EXPECT_NEAR(level(0.5f, stretch), 0.5f, 1e-6f);
    EXPECT_EQ(level(0.1f, stretch), 0.0f);
    EXPECT_EQ(level(0.9f, stretch), 1.0f);
    effect->set(0.2f, 1, 0.8f);
    expectImage(drawFrame(effect, input, 0), reference(stretch, stretch, stretch), "stretch");
    effect->set(0.2f, 1, 0.8f, 0, 0.5f);
    const Levels half{0.2f, 1, 0.8f, 0, 0.5f};
    expectImage(drawFrame(effect, input, 0), reference(half, half, half), "output halved");

    const Levels red{0.1f, 2.0f, 0.9f, 0.2f, 0.9f}, green{0, 0.5f, 0.6f, 1, 0},
        blue{0.3f, 1.3f, 1, 0.1f, 0.7f};
    effect->setRed(red.min, red.mid, red.max, red.outMin, red.outMax);
    effect->setGreen(green.min, green.mid, green.max, green.outMin, green.outMax);
    effect->setBlue(blue.min, blue.mid, blue.max, blue.outMin, blue.outMax);
    expectImage(drawFrame(effect, input, 0), reference(red, green, blue), "per channel");
    effect->setGreen(0.25f, 1.5f, 0.75f);
    const Levels green2{0.25f, 1.5f, 0.75f, 0, 1};
    expectImage(drawFrame(effect, input, 0), reference(red, green2, blue), "green without output");

    // The copy keeps every value.
    auto copy = expectRegistered<LevelAdjustment>("ZR_Level_Adjustment", effect);
    ASSERT_NE(copy, nullptr);
    expectImage(drawFrame(copy.get(), input, 0), reference(red, green2, blue), "copy");
}

TEST_F(LevelAdjustmentTest, EmptyInvertedRangesAndZeroMiddleGiveNoNaN) {
    auto* effect = create<LevelAdjustment>("ZR_Level_Adjustment", "null");
    ASSERT_NE(effect, nullptr);
    // An empty input range is a threshold at its minimum.
    effect->set(0.5f, 1, 0.5f);
    expectNoNaN(effect, input, 0, "empty range");
    auto threshold = [&](int x, int y) {
        Rgba c = image.at(x, y);
        for (int i = 0; i < 3; ++i) c[i] = c[i] > 0.5f ? 1.0f : 0.0f;
        return c;
    };
    expectImage(drawFrame(effect, input, 0), threshold, "empty range");
    effect->set(0.5f, 1, 0.2f);
    expectNoNaN(effect, input, 0, "inverted range");
    expectImage(drawFrame(effect, input, 0), threshold, "inverted range");

    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (const Levels& l : {Levels{0, 0, 1, 0, 1}, Levels{0, -2, 1, 0, 1}, Levels{0, inf, 1, 0, 1},
                            Levels{-inf, 1, inf, -inf, inf}, Levels{nan, nan, nan, nan, nan},
                            Levels{0, 1e-30f, 1, inf, -inf}}) {
        effect->set(l.min, l.mid, l.max, l.outMin, l.outMax);
        expectNoNaN(
            effect, input, 0,
            "levels " + std::to_string(l.min) + " " + std::to_string(l.mid) + " " + std::to_string(l.max));
    }
    // Any finite middle follows the formula, a negative one too; a middle of
    // 0 acts as its limit from above: everything below the range's maximum
    // goes to the output minimum.
    for (const Levels& l : {Levels{0, -2, 1, 0, 0.25f}, Levels{0, 2000, 1, 0, 1}, Levels{0.1f, 1e-4f, 0.9f, 0, 1},
                            Levels{0, LevelAdjustment::kSmallestMiddle, 1, 0, 1}}) {
        effect->set(l.min, l.mid, l.max, l.outMin, l.outMax);
        expectImage(drawFrame(effect, input, 0), reference(l, l, l), "middle " + std::to_string(l.mid));
    }
    effect->set(0, 0, 1);
    const Levels zero{0, 0, 1, 0, 1};
    expectImage(drawFrame(effect, input, 0), reference(zero, zero, zero), "middle 0");
}
