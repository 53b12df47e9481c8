// The contrast effect against (c - 0.5) * contrast + 0.5 + brightness / 100.
#include <gtest/gtest.h>

#include "PixelEffectFixture.h"
#include "effects/ContrastEffect.h"

using namespace Quorvane::Core;
using QvTest::Rgba;

namespace {

class ContrastTest : public QvTest::ColourImageFixture {
protected:
    std::function<Rgba(int, int)> reference(float contrast, float brightness) const {
        return [=](int x, int y) {
            Rgba c = image.at(x, y);
            for (int i = 0; i < 3; ++i) c[i] = (c[i] - 0.5f) * contrast + 0.5f + brightness / 100.0f;
            return c;
        };
    }
};

}  // namespace

TEST_F(ContrastTest, InlineRecordsScaleAroundGreyAndLift) {
    for (auto [contrast, brightness] : {std::pair<float, float>{2, 0}, {1, 50}, {0.5f, -20}, {0, 0}}) {
        auto* effect = create<ContrastEffect>(
            "ZR_Contrast", "[" + std::to_string(contrast) + "," + std::to_string(brightness) + "]");
        ASSERT_NE(effect, nullptr);
        EXPECT_FALSE(effect->hasAnimation());
        expectImage(drawFrame(effect, input, 7), reference(contrast, brightness),
                    "contrast " + std::to_string(contrast) + " brightness " + std::to_string(brightness));
    }
}

TEST_F(ContrastTest, WithoutRecordsTheImageIsUnchanged) {
    // A brightness default of 100 percent would turn the whole layer white.
    auto* effect = create<ContrastEffect>("ZR_Contrast", "2");
    ASSERT_NE(effect, nullptr);
    EXPECT_EQ(effect->brightness(), 0.0f);
    EXPECT_EQ(effect->contrast(), 1.0f);
    expectImage(drawFrame(effect, input, 0), reference(1, 0), "no records");
}

TEST_F(ContrastTest, DataFileRecordsPerFrameSkippingBrokenOnes) {
    QvTest::writeFile(dir.file("contrast.json"),
                      R"([[2, 0], [3], "x", [1, 50, 9], [1, "a"], 4, [0.5, -50]])");
    auto* effect = create<ContrastEffect>("ZR_Contrast", "\"contrast.json\"");
    ASSERT_NE(effect, nullptr);
    EXPECT_TRUE(effect->hasAnimation());
    const std::pair<float, float> want[] = {{2, 0}, {1, 50}, {0.5f, -50}, {0.5f, -50}};
    for (int frame = 0; frame < 4; ++frame) {
        effect->prepareForFrame(frame);
        EXPECT_EQ(effect->contrast(), want[frame].first) << frame;
        EXPECT_EQ(effect->brightness(), want[frame].second) << frame;
    }
    expectImage(drawFrame(effect, input, 1), reference(1, 50), "frame 1");
    expectImage(drawFrame(effect, input, -1), reference(0.5f, -50), "negative frame");

    // The copy takes the records but draws with the defaults until prepared.
    auto copy = expectRegistered<ContrastEffect>("ZR_Contrast", effect);
    ASSERT_NE(copy, nullptr);
    copy->draw(input);
    expectImage(readDestination(copy->getDestination()), reference(1, 0), "copy before prepare");
    expectImage(drawFrame(copy.get(), input, 0), reference(2, 0), "copy prepared");
}

TEST_F(ContrastTest, ExtremeValuesGiveNoNaN) {
    for (const char* data :
         {"[1e300, 0]", "[1e300, -1e300]", "[-1e300, 1e300]", "[0, 1e300]", "[1e-30, -1e-30]"}) {
        auto* effect = create<ContrastEffect>("ZR_Contrast", data);
        ASSERT_NE(effect, nullptr);
        expectNoNaN(effect, input, 0, data);
    }
    // An infinite contrast keeps mid-grey and drives everything else to 0 or 1.
    auto* effect = create<ContrastEffect>("ZR_Contrast", "[1e300, 0]");
    expectImage(
        drawFrame(effect, input, 0),
        [&](int x, int y) {
            Rgba c = image.at(x, y);
            for (int i = 0; i < 3; ++i) c[i] = c[i] == 0.5f ? 0.5f : (c[i] > 0.5f ? 1.0f : 0.0f);
            return c;
        },
        "infinite contrast");
}
