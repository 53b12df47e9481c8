// The edge choker against the smallest alpha on the 64-sample circle and the
// clip rectangle, computed here with nearest reads and clamped test points.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "PixelEffectFixture.h"
#include "effects/EdgeChokerEffect.h"

using namespace Quorvane::Core;
using QvTest::Rgba;

namespace {

class EdgeChokerTest : public QvTest::PixelEffectFixture {
protected:
    void SetUp() override {
        PixelEffectFixture::SetUp();
        // An opaque rectangle with a half-transparent rim on a transparent ground.
        image = QvTest::Image::make(kWidth, kHeight, [](int x, int y) -> Rgba {
            const Rgba colour{static_cast<float>(x) / 63, static_cast<float>(y) / 31, 0.5f, 0};
            Rgba c = colour;
            if (x >= 12 && x < 50 && y >= 6 && y < 26) c[3] = 1;
            if ((x == 11 || x == 50) && y >= 6 && y < 26) c[3] = 0.5f;
            return c;
        });
        input = upload(image);
    }
    // With test points nudged by `nudge` pixels along both axes.
    Rgba choked(int x, int y, double width, const double clip[4], double nudge) const {
        const Rgba c = image.at(x, y);
        const double u = (x + 0.5) / kWidth, v = (y + 0.5) / kHeight;
        double m = c[3];
        const bool inside = u >= clip[2] && u <= 1 - clip[3] && v >= clip[0] && v <= 1 - clip[1];
        if (!inside) {
            m = 0;
        } else if (width > 0) {
            for (int k = 1; k <= 64; ++k) {
                const double angle = k * M_PI / 32;
                const double px =
                    std::clamp((u * kWidth + width * std::cos(angle) + nudge) / kWidth, 0.0, 1.0);
                const double py =
                    std::clamp((v * kHeight + width * std::sin(angle) + nudge) / kHeight, 0.0, 1.0);
                const int tx = std::min(static_cast<int>(std::floor(px * kWidth)), kWidth - 1);
                const int ty = std::min(static_cast<int>(std::floor(py * kHeight)), kHeight - 1);
                m = std::min(m, static_cast<double>(image.at(tx, ty)[3]));
            }
        }
        Rgba out = c;
        out[3] = static_cast<float>(c[3] * m);
        return out;
    }
    std::function<Rgba(int, int)> reference(double width, const double clip[4]) const {
        return [=](int x, int y) { return choked(x, y, width, clip, 0); };
    }
    // Pixels with a test point on a texel border may read either texel.
    std::function<bool(int, int)> ambiguous(double width, const double clip[4]) const {
        return
            [=](int x, int y) { return choked(x, y, width, clip, 1e-3) != choked(x, y, width, clip, -1e-3); };
    }
    QvTest::Image image;
    GLuint input = 0;
};

const double kNoClip[4] = {0, 0, 0, 0};

}  // namespace

TEST_F(EdgeChokerTest, ConstructorValuesSquareTheAlpha) {
    auto* effect = create<EdgeChokerEffect>("ZR_EdgeChokerEffect", "[3, 0.1]");
    ASSERT_NE(effect, nullptr);
    EXPECT_TRUE(effect->hasAnimation());
    EXPECT_EQ(effect->edgeWidth(), 0.0f);
    const QvTest::Pixels p = drawFrame(effect, input, 0);
    expectImage(p, reference(0, kNoClip), "width 0");
    EXPECT_NEAR(p.at(11, 10)[3], 0.25 * 255, 1);
    EXPECT_EQ(p.at(20, 10)[3], 255);
}

TEST_F(EdgeChokerTest, WidthChokesTheEdgeAndClipCutsTheSides) {
    auto* effect = create<EdgeChokerEffect>("ZR_EdgeChokerEffect", "null");
    ASSERT_NE(effect, nullptr);
    for (float width : {1.0f, 3.0f, 4.5f}) {
        effect->setEdgeWidth(width);
        const QvTest::Pixels p = drawFrame(effect, input, 0);
        expectImage(p, reference(width, kNoClip), "width " + std::to_string(width), 2.0f,
                    ambiguous(width, kNoClip));
    }
    // Width 3: the opaque area loses the pixels that see the transparent
    // ground, and those that see only the half-transparent rim keep half.
    effect->setEdgeWidth(3);
    const QvTest::Pixels p = drawFrame(effect, input, 0);
    EXPECT_EQ(p.at(13, 16)[3], 0);
    EXPECT_NEAR(p.at(14, 16)[3], 128, 1);
    EXPECT_EQ(p.at(15, 16)[3], 255);

    effect->setEdgeWidth(0);
    effect->setClip(0.1f, 0, 0, 0);
    const double top[4] = {0.1, 0, 0, 0};
    expectImage(drawFrame(effect, input, 0), reference(0, top), "clip top");
    effect->setEdgeWidth(2);
    effect->setClip(0.2f, 0.15f, 0.3f, 0.05f);
    const double all[4] = {0.2, 0.15, 0.3, 0.05};
    expectImage(drawFrame(effect, input, 0), reference(2, all), "clip all sides", 2.0f, ambiguous(2, all));

    // The copy keeps width and clip.
    auto copy = expectRegistered<EdgeChokerEffect>("ZR_EdgeChokerEffect", effect);
    auto* chokerCopy = dynamic_cast<EdgeChokerEffect*>(copy.get());
    ASSERT_NE(chokerCopy, nullptr);
    EXPECT_EQ(chokerCopy->edgeWidth(), 2.0f);
    EXPECT_EQ(chokerCopy->clipLeft(), 0.3f);
    expectImage(drawFrame(chokerCopy, input, 0), reference(2, all), "copy", 2.0f, ambiguous(2, all));
}

TEST_F(EdgeChokerTest, ExtremeWidthsAndClipsGiveNoNaN) {
    auto* effect = create<EdgeChokerEffect>("ZR_EdgeChokerEffect", "null");
    ASSERT_NE(effect, nullptr);
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (float width : {inf, -inf, nan, 1e30f, -3.0f}) {
        effect->setEdgeWidth(width);
        effect->setClip(nan, -inf, inf, nan);
        expectNoNaN(effect, input, 0, "width " + std::to_string(width));
    }
    // A huge width reads only the border texels, which are transparent here.
    effect->setEdgeWidth(1e30f);
    effect->setClip(0, 0, 0, 0);
    expectImage(
        drawFrame(effect, input, 0),
        [&](int x, int y) {
            Rgba c = image.at(x, y);
            c[3] = 0;
            return c;
        },
        "huge width", 2.0f);
}
