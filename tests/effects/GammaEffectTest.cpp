// The gamma effect against pow(c, gamma), with the limits at 0.
#include <gtest/gtest.h>

#include <cmath>

#include "PixelEffectFixture.h"
#include "effects/GammaEffect.h"

using namespace Quorvane::Core;
using QvTest::Rgba;

namespace {

class GammaTest : public QvTest::ColourImageFixture {
protected:
    std::function<Rgba(int, int)> reference(float gamma) const {
        return [=](int x, int y) {
            Rgba c = image.at(x, y);
            for (int i = 0; i < 3; ++i) c[i] = c[i] > 0 ? std::pow(c[i], gamma) : (gamma > 0 ? 0.0f : 1.0f);
            return c;
        };
    }
};

}  // namespace

TEST_F(GammaTest, ExponentIsTheGammaItself) {
    for (float gamma : {2.0f, 0.5f, 1.0f, 3.7f}) {
        auto* effect = create<GammaEffect>("ZR_Gamma", std::to_string(gamma));
        ASSERT_NE(effect, nullptr);
        expectImage(drawFrame(effect, input, 0), reference(gamma), "gamma " + std::to_string(gamma));
    }
    // Mid-grey 0.5 becomes 0.25 with a gamma of 2.
    EXPECT_NEAR(reference(2)(3, 4)[0], 0.25f, 1e-6f);
    // An inline array is no record for the gamma.
    auto* array = create<GammaEffect>("ZR_Gamma", "[2]");
    ASSERT_NE(array, nullptr);
    array->prepareForFrame(0);
    EXPECT_EQ(array->gamma(), 1.0f);
    expectImage(drawFrame(array, input, 0), reference(1), "array");
}

TEST_F(GammaTest, DataFileNumbersPerFrame) {
    QvTest::writeFile(dir.file("gamma.json"), R"([2, "x", [3], 0.5, null, 3])");
    auto* effect = create<GammaEffect>("ZR_Gamma", "\"gamma.json\"");
    ASSERT_NE(effect, nullptr);
    EXPECT_TRUE(effect->hasAnimation());
    const float want[] = {2, 0.5f, 3, 3};
    for (int frame = 0; frame < 4; ++frame) {
        effect->prepareForFrame(frame);
        EXPECT_EQ(effect->gamma(), want[frame]) << frame;
    }
    expectImage(drawFrame(effect, input, 1), reference(0.5f), "frame 1");
    auto copy = expectRegistered<GammaEffect>("ZR_Gamma", effect);
    ASSERT_NE(copy, nullptr);
    expectImage(drawFrame(copy.get(), input, 0), reference(2), "copy");
}

TEST_F(GammaTest, ZeroNegativeAndHugeExponentsGiveNoNaN) {
    for (const char* data : {"0", "-1", "-1e300", "1e300", "1e-30"}) {
        auto* effect = create<GammaEffect>("ZR_Gamma", data);
        ASSERT_NE(effect, nullptr);
        expectNoNaN(effect, input, 0, data);
    }
    // 0^0 is 1: a gamma of 0 turns every component white, black ones too.
    auto* zero = create<GammaEffect>("ZR_Gamma", "0");
    expectImage(drawFrame(zero, input, 0), reference(0), "gamma 0");
    auto* huge = create<GammaEffect>("ZR_Gamma", "1e300");
    expectImage(
        drawFrame(huge, input, 0),
        [&](int x, int y) {
            Rgba c = image.at(x, y);
            for (int i = 0; i < 3; ++i) c[i] = c[i] >= 1.0f ? 1.0f : 0.0f;
            return c;
        },
        "huge gamma");
}
