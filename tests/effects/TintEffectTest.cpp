// The tint against mix(c, mix(black, white, luminance), amount).
#include <gtest/gtest.h>

#include "PixelEffectFixture.h"
#include "effects/TintEffect.h"

using namespace Quorvane::Core;
using QvTest::Rgba;

namespace {

class TintTest : public QvTest::ColourImageFixture {
protected:
    std::function<Rgba(int, int)> reference(const Rgba& black, const Rgba& white, float factor) const {
        return [=](int x, int y) {
            Rgba c = image.at(x, y);
            const float l = luminance(c);
            for (int i = 0; i < 3; ++i) c[i] = mixf(c[i], mixf(black[i], white[i], l), factor);
            return c;
        };
    }
};

}  // namespace

TEST_F(TintTest, MapsLuminanceOntoTheRamp) {
    // Without records: grey-scale luminance.
    auto* grey = create<TintEffect>("ADBE Tint", "1");
    ASSERT_NE(grey, nullptr);
    expectImage(drawFrame(grey, input, 0), reference({0, 0, 0, 1}, {1, 1, 1, 1}, 1), "no records");

    for (float factor : {1.0f, 0.3f, 0.0f}) {
        auto* effect = create<TintEffect>(
            "ADBE Tint", "[0.1, 0, 0.4, 1, 1, 0.9, 0.2, 0.5, " + std::to_string(factor) + "]");
        ASSERT_NE(effect, nullptr);
        expectImage(drawFrame(effect, input, 0), reference({0.1f, 0, 0.4f, 1}, {1, 0.9f, 0.2f, 0.5f}, factor),
                    "factor " + std::to_string(factor));
    }
}

TEST_F(TintTest, DataFileCopyAndExtremes) {
    QvTest::writeFile(
        dir.file("tint.json"),
        R"([[0, 0, 0, 1, 1, 0, 0, 1, 1], [0, 0, 0, 1, 1, 0, 0, 1], [0, 0, 1, 1, 0, 1, 0, 1, 0.5]])");
    auto* effect = create<TintEffect>("ADBE Tint", "\"tint.json\"");
    ASSERT_NE(effect, nullptr);
    ASSERT_EQ(effect->records().size(), 2u);
    expectImage(drawFrame(effect, input, 0), reference({0, 0, 0, 1}, {1, 0, 0, 1}, 1), "frame 0");
    expectImage(drawFrame(effect, input, 1), reference({0, 0, 1, 1}, {0, 1, 0, 1}, 0.5f), "frame 1");

    // The copy keeps the current values.
    auto copy = expectRegistered<TintEffect>("ADBE Tint", effect);
    ASSERT_NE(copy, nullptr);
    copy->draw(input);
    expectImage(readDestination(copy->getDestination()), reference({0, 0, 1, 1}, {0, 1, 0, 1}, 0.5f), "copy");

    for (const char* data : {"[1e300, 1e300, 1e300, 1, -1e300, -1e300, -1e300, 1, 1e300]",
                             "[0, 0, 0, 1, 1, 1, 1, 1, -1e300]", "[1e300, 0, 0, 1, 1e300, 1, 1, 1, 0]"}) {
        auto* extreme = create<TintEffect>("ADBE Tint", data);
        ASSERT_NE(extreme, nullptr);
        expectNoNaN(extreme, input, 0, data);
    }
}
