// The bilateral blur against the spatial and colour weights summed here over
// the same window, with the texture's edge clamping.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "PixelEffectFixture.h"
#include "effects/BilateralBlurEffect.h"

using namespace Quorvane::Core;
using QvTest::Rgba;

namespace {

constexpr int kW = 24;
constexpr int kH = 16;

class BilateralBlurTest : public QvTest::PixelEffectFixture {
protected:
    void SetUp() override {
        PixelEffectFixture::SetUp();
        setLayerSize(kW, kH);
        // Two noisy flat regions with a hard edge between them; 8-bit values.
        image = QvTest::Image::make(kW, kH, [](int x, int y) -> Rgba {
            const int noise = (x * 7 + y * 13) % 11;
            const int base = x < 11 ? 50 : 200;
            return {static_cast<float>(base + noise) / 255, static_cast<float>(base - noise) / 255,
                    static_cast<float>(120 + 2 * noise) / 255, static_cast<float>(155 + 10 * (y % 3)) / 255};
        });
        input = upload(image);
    }
    static double normpdf(double x, double sigma) {
        return 0.39894 * std::exp(-0.5 * x * x / (sigma * sigma)) / sigma;
    }
    std::function<Rgba(int, int)> reference(int size) const {
        return [=](int x, int y) {
            const Rgba c = image.at(x, y);
            if (size == 0) return c;
            const int k = (size - 1) / 2;
            const double bZ = 1 / normpdf(0, 0.1);
            double sum[3] = {0, 0, 0}, z = 0;
            for (int i = -k; i <= k; ++i)
                for (int j = -k; j <= k; ++j) {
                    const Rgba cc = image.at(x + i, y + j);
                    double dot = 0;
                    for (int n = 0; n < 3; ++n) dot += (cc[n] - c[n]) * (cc[n] - c[n]);
                    const double w =
                        0.39894 * std::exp(-0.5 * dot / 0.01) / 0.1 * bZ * normpdf(j, 10) * normpdf(i, 10);
                    z += w;
                    for (int n = 0; n < 3; ++n) sum[n] += w * cc[n];
                }
            return Rgba{static_cast<float>(sum[0] / z), static_cast<float>(sum[1] / z),
                        static_cast<float>(sum[2] / z), c[3]};
        };
    }
    QvTest::Image image;
    GLuint input = 0;
};

}  // namespace

TEST_F(BilateralBlurTest, SmallSizesCopyTheInput) {
    auto* effect = create<BilateralBlurEffect>("ZR_Bilateral_Blur", "[3]");
    ASSERT_NE(effect, nullptr);
    EXPECT_TRUE(effect->records().empty());
    expectImage(drawFrame(effect, input, 0), reference(0), "no records", 0.5f);
    for (float size : {0.9f, -0.9f, 1.0f, 2.7f}) {
        effect->setBlurScale(size);
        expectImage(drawFrame(effect, input, 0), reference(0), "size " + std::to_string(size), 1.0f);
    }
}

TEST_F(BilateralBlurTest, WindowsAverageWithinRegionsAndKeepTheEdge) {
    for (int size : {3, 5, 10, 29}) {
        auto* effect = create<BilateralBlurEffect>("ZR_Bilateral_Blur", std::to_string(size));
        ASSERT_NE(effect, nullptr);
        const QvTest::Pixels p = drawFrame(effect, input, 0);
        expectImage(p, reference(size), "size " + std::to_string(size));
        // The edge stays sharp: across it the colours differ by far more than 0.1.
        EXPECT_LT(p.at(10, 8)[0], 70) << size;
        EXPECT_GT(p.at(11, 8)[0], 190) << size;
    }
    // The noise within a region is smoothed.
    auto* effect = create<BilateralBlurEffect>("ZR_Bilateral_Blur", "5");
    const QvTest::Pixels p = drawFrame(effect, input, 0);
    int spread = 0;
    for (int x = 2; x < 9; ++x) spread = std::max(spread, std::abs(p.at(x, 8)[0] - p.at(x + 1, 8)[0]));
    EXPECT_LT(spread, 4);
}

TEST_F(BilateralBlurTest, DataFileRecordsAndCopy) {
    QvTest::writeFile(dir.file("bilateral.json"), R"([3, "x", [4], 5])");
    auto* effect = create<BilateralBlurEffect>("ZR_Bilateral_Blur", "\"bilateral.json\"");
    ASSERT_NE(effect, nullptr);
    EXPECT_EQ(effect->records(), (std::vector<float>{3, 5}));
    EXPECT_TRUE(effect->hasAnimation());
    effect->setBlurScale(9);
    expectImage(drawFrame(effect, input, 1), reference(5), "frame 1");
    expectImage(drawFrame(effect, input, -1), reference(5), "negative frame");

    // The copy takes the records and starts as a plain copy of its input.
    auto copy = expectRegistered<BilateralBlurEffect>("ZR_Bilateral_Blur", effect);
    auto* blurCopy = dynamic_cast<BilateralBlurEffect*>(copy.get());
    ASSERT_NE(blurCopy, nullptr);
    EXPECT_EQ(blurCopy->records(), effect->records());
    EXPECT_EQ(blurCopy->blurSize(), 0.0f);
    expectImage(drawFrame(blurCopy, input, 0), reference(3), "copy frame 0");
}

TEST_F(BilateralBlurTest, SizesBeyondTheKernelStayWithinIt) {
    auto* effect = create<BilateralBlurEffect>("ZR_Bilateral_Blur", "null");
    ASSERT_NE(effect, nullptr);
    const float inf = std::numeric_limits<float>::infinity();
    const std::pair<float, int> cases[] = {{30, 30}, {31, 30},  {1000, 30},         {3e9f, 30}, {inf, 30},
                                           {-5, 0},  {-inf, 0}, {std::nanf(""), 0}, {29.9f, 29}};
    for (auto [size, window] : cases) {
        effect->setBlurScale(size);
        EXPECT_EQ(effect->windowSize(), window) << size;
        expectNoNaN(effect, input, 0, "size " + std::to_string(size));
    }
    // 31 draws the largest window, as 29 and 30 do.
    effect->setBlurScale(31);
    expectImage(drawFrame(effect, input, 0), reference(29), "size 31");
}
