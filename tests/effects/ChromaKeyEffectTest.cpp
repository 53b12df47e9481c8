// The chroma key against the key distance, mask and spill computed here with
// bilinear reads at the shader's neighbour offsets.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "PixelEffectFixture.h"
#include "effects/ChromaKeyEffect.h"

using namespace Quorvane::Core;
using QvTest::Rgba;

namespace {

class ChromaKeyTest : public QvTest::PixelEffectFixture {
protected:
    void SetUp() override {
        PixelEffectFixture::SetUp();
        // Green screen with a reddish figure and a soft, spilled border.
        image = QvTest::Image::make(kWidth, kHeight, [](int x, int y) -> Rgba {
            const float dx = static_cast<float>(x - 30), dy = static_cast<float>(y - 16);
            const float r = std::sqrt(dx * dx + dy * dy);
            if (r < 7) return {0.8f, 0.3f, 0.2f, 1};
            if (r < 11) return {0.4f, 0.7f, 0.3f, 1};
            return {0.05f + 0.01f * static_cast<float>(x % 5), 0.9f, 0.1f, 1};
        });
        input = upload(image, true);
    }
    // Linear filtering with edges clamped, at texture coordinates.
    Rgba sample(double u, double v) const {
        const double fx = u * kWidth - 0.5, fy = v * kHeight - 0.5;
        const int x0 = static_cast<int>(std::floor(fx)), y0 = static_cast<int>(std::floor(fy));
        const double ax = fx - x0, ay = fy - y0;
        Rgba out{};
        for (int c = 0; c < 4; ++c)
            out[c] = static_cast<float>(
                (1 - ay) * ((1 - ax) * image.at(x0, y0)[c] + ax * image.at(x0 + 1, y0)[c]) +
                ay * ((1 - ax) * image.at(x0, y0 + 1)[c] + ax * image.at(x0 + 1, y0 + 1)[c]));
        return out;
    }
    static double keyDistance(const Rgba& c, const Vec2& key) {
        const double cb = -0.100644 * c[0] - 0.338572 * c[1] + 0.439216 * c[2] + 0.501961;
        const double cr = 0.439216 * c[0] - 0.398942 * c[1] - 0.040274 * c[2] + 0.501961;
        return std::hypot(cb - key.x, cr - key.y);
    }
    std::function<Rgba(int, int)> reference(const Vec2& key, double similarity, double smoothness,
                                            double spill) const {
        return [=](int x, int y) {
            const double u = (x + 0.5) / kWidth, v = (y + 0.5) / kHeight;
            const double px = 1.0 / kWidth, py = 1.0 / kHeight;
            const Rgba c = image.at(x, y);
            double d =
                keyDistance(sample(u - px, v - py / 2), key) + keyDistance(sample(u + px, v + py / 2), key) +
                keyDistance(sample(u - px / 2, v + py), key) + keyDistance(sample(u + px / 2, v - py), key);
            d = (d * 2 + keyDistance(c, key)) / 9;
            const double base = d - similarity / 1000;
            const double mask = std::pow(std::clamp(base / (smoothness / 1000), 0.0, 1.0), 1.5);
            const double spillValue = std::pow(std::clamp(base / (spill / 1000), 0.0, 1.0), 1.5);
            const double grey = std::clamp(0.2126 * c[0] + 0.7152 * c[1] + 0.0722 * c[2], 0.0, 1.0);
            Rgba out;
            for (int k = 0; k < 3; ++k)
                out[k] = static_cast<float>(grey * (1 - spillValue) + c[k] * spillValue);
            out[3] = static_cast<float>(c[3] * mask);
            return out;
        };
    }
    QvTest::Image image;
    GLuint input = 0;
};

}  // namespace

TEST_F(ChromaKeyTest, KeysOutGreenByDefault) {
    auto* effect = create<ChromaKeyEffect>("ZR_Chroma_Key", "[1, 2, 3]");
    ASSERT_NE(effect, nullptr);
    EXPECT_FALSE(effect->hasAnimation());
    // The key chroma of pure green, by the BT.709 limited-range rows.
    EXPECT_NEAR(effect->keyChroma().x, 0.501961f - 0.338572f, 1e-6f);
    EXPECT_NEAR(effect->keyChroma().y, 0.501961f - 0.398942f, 1e-6f);
    const QvTest::Pixels p = drawFrame(effect, input, 0);
    expectImage(p, reference(effect->keyChroma(), 150, 70, 300), "defaults");
    // The screen is gone, the figure stays opaque.
    EXPECT_EQ(p.at(2, 2)[3], 0);
    EXPECT_EQ(p.at(30, 16)[3], 255);
}

TEST_F(ChromaKeyTest, SettersClampAndTheCopyKeepsThem) {
    auto* effect = create<ChromaKeyEffect>("ZR_Chroma_Key", "null");
    ASSERT_NE(effect, nullptr);
    effect->setSimilarity(0);
    effect->setSpillReduce(5000);
    effect->setSmoothness(std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(effect->similarity(), 1.0f);
    EXPECT_EQ(effect->spillReduce(), 1000.0f);
    EXPECT_EQ(effect->smoothness(), 70.0f);

    const Color key(0.4f, 0.7f, 0.3f, 1);
    effect->setKeyColor(key);
    effect->setSimilarity(80);
    effect->setSmoothness(200);
    effect->setSpillReduce(120);
    EXPECT_NEAR(effect->keyChroma().x, ChromaKeyEffect::chromaOf(key).x, 1e-7f);
    expectImage(drawFrame(effect, input, 0), reference(effect->keyChroma(), 80, 200, 120), "border key");

    auto copy = expectRegistered<ChromaKeyEffect>("ZR_Chroma_Key", effect);
    auto* keyCopy = dynamic_cast<ChromaKeyEffect*>(copy.get());
    ASSERT_NE(keyCopy, nullptr);
    EXPECT_EQ(keyCopy->similarity(), 80.0f);
    EXPECT_EQ(keyCopy->smoothness(), 200.0f);
    EXPECT_EQ(keyCopy->spillReduce(), 120.0f);
    expectImage(drawFrame(keyCopy, input, 0), reference(effect->keyChroma(), 80, 200, 120), "copy");
}

TEST_F(ChromaKeyTest, ExtremeKeyColoursGiveNoNaN) {
    auto* effect = create<ChromaKeyEffect>("ZR_Chroma_Key", "null");
    ASSERT_NE(effect, nullptr);
    const float inf = std::numeric_limits<float>::infinity();
    for (const Color& key : {Color(inf, inf, inf, 1), Color(-inf, inf, -inf, 1), Color(NAN, NAN, NAN, NAN)}) {
        effect->setKeyColor(key);
        EXPECT_TRUE(std::isfinite(effect->keyChroma().x) && std::isfinite(effect->keyChroma().y));
        for (float limit : {1.0f, 1000.0f}) {
            effect->setSimilarity(limit);
            effect->setSmoothness(limit);
            effect->setSpillReduce(limit);
            expectNoNaN(effect, input, 0, "limit " + std::to_string(limit));
        }
    }
}
