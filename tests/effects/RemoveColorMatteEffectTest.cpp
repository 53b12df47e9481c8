// The colour matte removal against (c - (1 - a) * matte) / a.
#include <gtest/gtest.h>

#include "PixelEffectFixture.h"
#include "effects/RemoveColorMatteEffect.h"

using namespace Quorvane::Core;
using QvTest::Rgba;

namespace {

class RemoveColorMatteTest : public QvTest::PixelEffectFixture {
protected:
    void SetUp() override {
        PixelEffectFixture::SetUp();
        // Colours premultiplied by their alpha over a matte of (0.2, 0.6, 1.0);
        // transparent texels keep a colour of their own.
        image = QvTest::Image::make(kWidth, kHeight, [](int x, int y) -> Rgba {
            const float a = static_cast<float>((x + y) % 5) / 4.0f;
            const float fg[3] = {static_cast<float>(x % 9) / 8.0f, static_cast<float>(y % 7) / 6.0f, 0.5f};
            const float matte[3] = {0.2f, 0.6f, 1.0f};
            Rgba c{0, 0, 0, a};
            for (int i = 0; i < 3; ++i) c[i] = fg[i] * a + (1 - a) * matte[i];
            if (a == 0) c = {0.3f, 0.1f, 0.9f, 0};
            return c;
        });
        input = upload(image);
    }
    std::function<Rgba(int, int)> reference(const Rgba& matte) const {
        return [=](int x, int y) {
            Rgba c = image.at(x, y);
            if (c[3] > 0)
                for (int i = 0; i < 3; ++i) c[i] = (c[i] - (1 - c[3]) * matte[i]) / c[3];
            return c;
        };
    }
    QvTest::Image image;
    GLuint input = 0;
};

}  // namespace

TEST_F(RemoveColorMatteTest, DividesByAlphaAgainstTheMatte) {
    // Without records the matte is black: a plain division by alpha.
    auto* plain = create<RemoveColorMatteEffect>("ADBE Remove Color Matting", "0.5");
    ASSERT_NE(plain, nullptr);
    expectImage(drawFrame(plain, input, 0), reference({0, 0, 0, 1}), "black matte");

    auto* effect = create<RemoveColorMatteEffect>("ADBE Remove Color Matting", "[0.2, 0.6, 1.0, 1]");
    ASSERT_NE(effect, nullptr);
    EXPECT_FALSE(effect->hasAnimation());
    const QvTest::Pixels p = drawFrame(effect, input, 0);
    expectImage(p, reference({0.2f, 0.6f, 1.0f, 1}), "matching matte");
    // The foreground comes back exactly where alpha is not 0.
    expectImage(
        p,
        [](int x, int y) -> Rgba {
            const float a = static_cast<float>((x + y) % 5) / 4.0f;
            if (a == 0) return {0.3f, 0.1f, 0.9f, 0};
            return {static_cast<float>(x % 9) / 8.0f, static_cast<float>(y % 7) / 6.0f, 0.5f, a};
        },
        "foreground");
}

TEST_F(RemoveColorMatteTest, DataFileCopyAndExtremes) {
    QvTest::writeFile(dir.file("matte.json"),
                      R"([[0.2, 0.6, 1.0, 1], [1, 1, 1], 3, [1, 1, 1, 1, 7], [0, "a", 0, 1]])");
    auto* effect = create<RemoveColorMatteEffect>("ADBE Remove Color Matting", "\"matte.json\"");
    ASSERT_NE(effect, nullptr);
    ASSERT_EQ(effect->records().size(), 2u);
    EXPECT_TRUE(effect->hasAnimation());
    expectImage(drawFrame(effect, input, 1), reference({1, 1, 1, 1}), "frame 1");
    expectImage(drawFrame(effect, input, -3), reference({1, 1, 1, 1}), "negative frame");

    // The copy keeps the current matte as well.
    auto copy = expectRegistered<RemoveColorMatteEffect>("ADBE Remove Color Matting", effect);
    ASSERT_NE(copy, nullptr);
    copy->draw(input);
    expectImage(readDestination(copy->getDestination()), reference({1, 1, 1, 1}), "copy before prepare");

    for (const char* data : {"[1e300, -1e300, 1e300, 1]", "[-1e300, 0, 0, -1e300]"}) {
        auto* extreme = create<RemoveColorMatteEffect>("ADBE Remove Color Matting", data);
        ASSERT_NE(extreme, nullptr);
        expectNoNaN(extreme, input, 0, data);
    }
}
