// The vignette against smoothstep(start, end, distance to the centre) in
// texture space, mixing all four channels toward the colour.
#include <gtest/gtest.h>

#include <cmath>

#include "PixelEffectFixture.h"
#include "effects/VignetteEffect.h"

using namespace Quorvane::Core;
using QvTest::Rgba;

namespace {

class VignetteTest : public QvTest::ColourImageFixture {
protected:
    static double smooth(double e0, double e1, double x) {
        if (e0 == e1) return x >= e0 ? 1 : 0;
        const double t = std::clamp((x - e0) / (e1 - e0), 0.0, 1.0);
        return t * t * (3 - 2 * t);
    }
    // Centre in layer pixels, start and end in percent.
    std::function<Rgba(int, int)> reference(double cx, double cy, const Rgba& colour, double start,
                                            double end) const {
        return [=](int x, int y) {
            const double u = (x + 0.5) / kWidth, v = (y + 0.5) / kHeight;
            const double d = std::hypot(u - cx / kWidth, v - cy / kHeight);
            const double p = smooth(start / 100, end / 100, d);
            const Rgba c = image.at(x, y);
            const float target[4] = {colour[0], colour[1], colour[2], 1.0f};
            Rgba out;
            for (int k = 0; k < 4; ++k) out[k] = static_cast<float>(c[k] + (target[k] - c[k]) * p);
            return out;
        };
    }
    // Pixels whose distance lies right at an edge may round either way.
    std::function<bool(int, int)> nearEdges(double cx, double cy, double start, double end) const {
        return [=](int x, int y) {
            const double d = std::hypot((x + 0.5) / kWidth - cx / kWidth, (y + 0.5) / kHeight - cy / kHeight);
            return std::fabs(d - start / 100) < 1e-4 || std::fabs(d - end / 100) < 1e-4;
        };
    }
};

}  // namespace

TEST_F(VignetteTest, FadesOutsideTheCircleTowardTheColour) {
    auto* effect = create<VignetteEffect>("ZR_Vignette", "[16, 8, 0.1, 0.2, 0.9, 0.5, 50, 70]");
    ASSERT_NE(effect, nullptr);
    EXPECT_FALSE(effect->hasAnimation());
    const QvTest::Pixels p = drawFrame(effect, input, 0);
    expectImage(p, reference(16, 8, {0.1f, 0.2f, 0.9f, 0.5f}, 50, 70), "50..70");
    // Within 0.5 of the centre the image is unchanged, beyond 0.7 it is the
    // colour with alpha 1 (the colour's own alpha is not read).
    EXPECT_EQ(p.at(16, 8)[0], static_cast<uint8_t>(std::lround(image.at(16, 8)[0] * 255)));
    EXPECT_EQ(p.at(63, 31)[3], 255);
    EXPECT_NEAR(p.at(63, 31)[2], 0.9 * 255, 1);

    // Reversed edges mirror the ramp; equal edges are a hard edge.
    for (auto [start, end] : {std::pair<double, double>{70, 30}, {40, 40}, {0, 0}}) {
        auto* e = create<VignetteEffect>(
            "ZR_Vignette", "[40, 20, 1, 0, 0, 1, " + std::to_string(start) + "," + std::to_string(end) + "]");
        ASSERT_NE(e, nullptr);
        expectNoNaN(e, input, 0, "edges");
        expectImage(drawFrame(e, input, 0), reference(40, 20, {1, 0, 0, 1}, start, end),
                    "edges " + std::to_string(start) + " " + std::to_string(end), 2.0f,
                    nearEdges(40, 20, start, end));
    }
}

TEST_F(VignetteTest, WithoutRecordsTheImageIsUnchanged) {
    auto* effect = create<VignetteEffect>("ZR_Vignette", "[16, 8, 0.1, 0.2, 0.9, 0.5, 50]");
    ASSERT_NE(effect, nullptr);
    EXPECT_TRUE(effect->records().empty());
    expectImage(
        drawFrame(effect, input, 0), [&](int x, int y) { return image.at(x, y); }, "no records");
}

TEST_F(VignetteTest, DataFileCopyAndExtremes) {
    QvTest::writeFile(dir.file("vignette.json"),
                      R"([[0, 0, 1, 1, 1, 1, 10, 20], [1, 2, 3], [64, 32, 0, 0, 0, 1, 30, 90], "x"])");
    auto* effect = create<VignetteEffect>("ZR_Vignette", "\"vignette.json\"");
    ASSERT_NE(effect, nullptr);
    EXPECT_EQ(effect->records().size(), 2u);
    EXPECT_TRUE(effect->hasAnimation());
    expectImage(drawFrame(effect, input, 0), reference(0, 0, {1, 1, 1, 1}, 10, 20), "frame 0", 2.0f,
                nearEdges(0, 0, 10, 20));
    expectImage(drawFrame(effect, input, 5), reference(64, 32, {0, 0, 0, 1}, 30, 90), "past the end");

    // The copy starts from the constructor's values: no vignette until prepared.
    auto copy = expectRegistered<VignetteEffect>("ZR_Vignette", effect);
    ASSERT_NE(copy, nullptr);
    copy->draw(input);
    expectImage(
        readDestination(copy->getDestination()), [&](int x, int y) { return image.at(x, y); },
        "copy before prepare");

    for (const char* data :
         {"[1e300, -1e300, 1e300, 1e300, -1e300, 1, 1e300, 1e300]", "[0, 0, 1, 1, 1, 1, -1e300, 1e300]",
          "[0, 0, 1, 1, 1, 1, 1e300, -1e300]", "[1e30, 1e30, 1, 1, 1, 1, 1e30, 1e30]"}) {
        auto* extreme = create<VignetteEffect>("ZR_Vignette", data);
        ASSERT_NE(extreme, nullptr);
        expectNoNaN(extreme, input, 0, data);
    }
}
