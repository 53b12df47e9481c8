// The hue and saturation effect against the YIQ rotation computed here.
#include <gtest/gtest.h>

#include <cmath>

#include "PixelEffectFixture.h"
#include "effects/HueAndSaturationEffect.h"

using namespace Quorvane::Core;
using QvTest::Rgba;

namespace {

class HueAndSaturationTest : public QvTest::ColourImageFixture {
protected:
    // Hue in degrees as the record holds it.
    std::function<Rgba(int, int)> reference(double hueDegrees, double saturation) const {
        return [=](int x, int y) {
            const Rgba c = image.at(x, y);
            const double r = c[0], g = c[1], b = c[2];
            const double luma = 0.299 * r + 0.587 * g + 0.114 * b;
            double i = 0.595716 * r - 0.274453 * g - 0.321263 * b;
            double q = 0.211456 * r - 0.522591 * g + 0.31135 * b;
            const double chroma = std::hypot(i, q);
            if (chroma > 0) {
                const double hue = std::atan2(q, i) - std::fmod(hueDegrees, 360.0) * M_PI / 180.0;
                i = chroma * std::cos(hue);
                q = chroma * std::sin(hue);
            }
            const double rgb[3] = {luma + 0.9563 * i + 0.6210 * q, luma - 0.2721 * i - 0.6474 * q,
                                   luma - 1.1070 * i + 1.7046 * q};
            const double l = 0.2125 * rgb[0] + 0.7154 * rgb[1] + 0.0721 * rgb[2];
            Rgba out = c;
            for (int k = 0; k < 3; ++k) out[k] = static_cast<float>(l + (rgb[k] - l) * saturation);
            return out;
        };
    }
};

}  // namespace

TEST_F(HueAndSaturationTest, RotatesTheHueBackwardsAndScalesSaturation) {
    for (auto [hue, saturation] :
         {std::pair<double, double>{90, 1}, {-90, 1}, {270, 1}, {360, 1}, {30, 1.5}, {725, 0.5}, {0, 0}}) {
        auto* effect = create<HueAndSaturationEffect>(
            "ZR_Hue_And_Saturation", "[" + std::to_string(hue) + "," + std::to_string(saturation) + "]");
        ASSERT_NE(effect, nullptr);
        expectImage(drawFrame(effect, input, 0), reference(hue, saturation),
                    "hue " + std::to_string(hue) + " saturation " + std::to_string(saturation));
    }
    // -90 keeps its sign through the modulo: the same turn as 270.
    auto* minus = create<HueAndSaturationEffect>("ZR_Hue_And_Saturation", "[-90, 1]");
    EXPECT_NEAR(minus->hueAdjust(), 0.0f, 1e-6f);
    minus->prepareForFrame(0);
    EXPECT_NEAR(minus->hueAdjust(), -90.0f * static_cast<float>(M_PI) / 180.0f, 1e-6f);
    // Any two records a whole number of turns apart draw the same image.
    auto* turns = create<HueAndSaturationEffect>("ZR_Hue_And_Saturation", "[-630, 1]");
    expectImage(drawFrame(turns, input, 0), reference(90, 1), "-630 degrees");
}

TEST_F(HueAndSaturationTest, WithoutRecordsOnlyTheRoundTripRemains) {
    // A default hue of one degree would turn every layer without hue record.
    auto* effect = create<HueAndSaturationEffect>("ZR_Hue_And_Saturation", "[1]");
    ASSERT_NE(effect, nullptr);
    EXPECT_EQ(effect->hue(), 0.0f);
    expectImage(drawFrame(effect, input, 0), reference(0, 1), "no records");
    expectImage(
        drawFrame(effect, input, 0), [&](int x, int y) { return image.at(x, y); }, "identity", 2.0f);
}

TEST_F(HueAndSaturationTest, DataFileAndCopy) {
    QvTest::writeFile(dir.file("hue.json"), R"([[0, 1], [180], [180, 1], {"h": 1}, [45, 0.25]])");
    auto* effect = create<HueAndSaturationEffect>("ZR_Hue_And_Saturation", "\"hue.json\"");
    ASSERT_NE(effect, nullptr);
    EXPECT_TRUE(effect->hasAnimation());
    expectImage(drawFrame(effect, input, 1), reference(180, 1), "frame 1");
    expectImage(drawFrame(effect, input, 9), reference(45, 0.25), "past the end");
    auto copy = expectRegistered<HueAndSaturationEffect>("ZR_Hue_And_Saturation", effect);
    ASSERT_NE(copy, nullptr);
    copy->draw(input);
    expectImage(readDestination(copy->getDestination()), reference(0, 1), "copy before prepare");
    expectImage(drawFrame(copy.get(), input, 1), reference(180, 1), "copy frame 1");
}

TEST_F(HueAndSaturationTest, InfiniteValuesAndGreysGiveNoNaN) {
    // An infinite hue has no remainder modulo 360 and counts as no turn.
    auto* effect = create<HueAndSaturationEffect>("ZR_Hue_And_Saturation", "[1e300, 1]");
    ASSERT_NE(effect, nullptr);
    effect->prepareForFrame(0);
    EXPECT_EQ(effect->hueAdjust(), 0.0f);
    expectNoNaN(effect, input, 0, "infinite hue");
    expectImage(drawFrame(effect, input, 0), reference(0, 1), "infinite hue");
    for (const char* data : {"[-1e300, 1e300]", "[1e30, -1e300]", "[12345678, 0]"}) {
        auto* e = create<HueAndSaturationEffect>("ZR_Hue_And_Saturation", data);
        ASSERT_NE(e, nullptr);
        expectNoNaN(e, input, 0, data);
    }
    // Huge finite hues reduce exactly.
    auto* big = create<HueAndSaturationEffect>("ZR_Hue_And_Saturation", "[36090, 1]");
    expectImage(drawFrame(big, input, 0), reference(90, 1), "36090 degrees");
}
