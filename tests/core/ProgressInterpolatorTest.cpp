// Easing curves: end points, values worked out by hand, and the symmetries that
// tie each ease-out and ease-in-out curve to its ease-in curve.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "core/ProgressInterpolator.h"

using namespace Quorvane::Core;

namespace {

std::unique_ptr<ProgressInterpolator> make(int type) {
    return std::unique_ptr<ProgressInterpolator>(
        ProgressInterpolator::create(static_cast<ProgressInterpolatorType>(type)));
}

float at(int type, float t) {
    return make(type)->interpolate(t);
}

TEST(ProgressInterpolatorTest, FactoryRange) {
    for (int type = 0; type < 32; ++type) EXPECT_NE(make(type), nullptr) << type;
    EXPECT_EQ(make(32), nullptr);
    EXPECT_EQ(make(1000), nullptr);
    EXPECT_EQ(make(-1), nullptr);
    for (float t : {-0.5f, 0.0f, 0.3f, 1.0f, 2.0f}) EXPECT_EQ(at(kInterpolatorLinear, t), t);
    auto bounce = make(kInterpolatorBounceOut);
    ASSERT_NE(dynamic_cast<BounceOutInterpolator*>(bounce.get()), nullptr);
    EXPECT_FLOAT_EQ(dynamic_cast<BounceOutInterpolator*>(bounce.get())->amplitude, 1.70158f);
}

TEST(ProgressInterpolatorTest, EndPoints) {
    for (int type = 1; type < 32; ++type) {
        EXPECT_NEAR(at(type, 0.0f), 0.0f, 1e-5f) << type;
        EXPECT_NEAR(at(type, 1.0f), 1.0f, 1e-5f) << type;
    }
    EXPECT_EQ(at(kInterpolatorExponentialIn, 0.0f), 0.0f);
    EXPECT_EQ(at(kInterpolatorExponentialOut, 1.0f), 1.0f);
    EXPECT_EQ(at(kInterpolatorHold, 0.999f), 0.0f);
    EXPECT_EQ(at(kInterpolatorHold, 1.0f), 1.0f);
    EXPECT_EQ(at(kInterpolatorHold, 1.5f), 1.0f);
}

TEST(ProgressInterpolatorTest, HandWorkedValues) {
    EXPECT_FLOAT_EQ(at(kInterpolatorQuadraticEaseInOut, 0.5f), 0.5f);  // second branch: -0.5 + 2 - 1
    EXPECT_FLOAT_EQ(at(kInterpolatorQuadraticEaseInOut, 0.25f), 0.125f);
    EXPECT_FLOAT_EQ(at(kInterpolatorCubicIn, 0.5f), 0.125f);
    EXPECT_FLOAT_EQ(at(kInterpolatorQuinticInOut, 0.25f), 16.0f / 1024.0f);
    EXPECT_NEAR(at(kInterpolatorBackEaseIn, 0.2f), 0.008 - 0.2 * std::sin(0.2 * M_PI), 1e-5);
    EXPECT_LT(at(kInterpolatorBackEaseIn, 0.2f), 0.0f);
    EXPECT_NEAR(at(kInterpolatorSineInOut, 0.5f), 0.5f, 1e-6f);
    EXPECT_NEAR(at(kInterpolatorCircualIn, 0.6f), 0.2f, 1e-6f);  // 1 - sqrt(1 - 0.36)
    EXPECT_NEAR(at(kInterpolatorExponentialIn, 0.9f), std::pow(2.0, -1.0), 1e-6);
    EXPECT_NEAR(at(kInterpolatorElasticIn, 0.5f), std::sin(6.5 * M_PI * 0.5) * std::pow(2.0, -5.0), 1e-5);

    // First bounce arc ignores the amplitude; later arcs dip by it.
    EXPECT_NEAR(at(kInterpolatorBounceOut, 0.2f), 0.3025f, 1e-6f);
    EXPECT_NEAR(at(kInterpolatorBounceOut, 6.0f / 11.0f), 1.0f - 1.70158f * 0.25f, 1e-5f);
    EXPECT_NEAR(easeOutBounce(6.0f / 11.0f, 1.0f), 0.75f, 1e-6f);
    EXPECT_NEAR(at(kInterpolatorBounceOut, 9.0f / 11.0f), 1.0f - 1.70158f * 0.0625f, 1e-5f);
    EXPECT_NEAR(at(kInterpolatorBounceOut, 21.0f / 22.0f), 1.0f - 1.70158f * 0.015625f, 1e-5f);
    EXPECT_FLOAT_EQ(at(kInterpolatorBounceInOut, 0.25f), easeInBounce(0.5f, 1.70158f) / 2.0f);
    EXPECT_FLOAT_EQ(at(kInterpolatorBounceInOut, 0.75f), easeOutBounce(0.5f, 1.70158f) / 2.0f + 0.5f);
}

// Out(t) = 1 - In(1 - t) and, below one half, InOut(t) = In(2t) / 2; above it
// InOut(t) = Out(2t - 1) / 2 + 1/2. Each family's three formulas are written
// independently, so a slip in one shows here.
TEST(ProgressInterpolatorTest, FamiliesAreMirrorImages) {
    struct Family {
        int in, out, inOut;
        float tol;
    } families[] = {
        {kInterpolatorQuadraticEaseIn, kInterpolatorQuadraticEaseOut, kInterpolatorQuadraticEaseInOut, 1e-5f},
        {kInterpolatorCubicIn, kInterpolatorCubicOut, kInterpolatorCubicInOut, 1e-5f},
        {kInterpolatorQuarticIn, kInterpolatorQuarticOut, kInterpolatorQuarticInOut, 1e-5f},
        {kInterpolatorQuinticIn, kInterpolatorQuinticOut, kInterpolatorQuinticInOut, 1e-5f},
        {kInterpolatorSineIn, kInterpolatorSineOut, kInterpolatorSineInOut, 1e-5f},
        {kInterpolatorCircualIn, kInterpolatorCircualOut, kInterpolatorCircualInOut, 1e-4f},
        {kInterpolatorExponentialIn, kInterpolatorExponentialOut, kInterpolatorExponentialInOut, 1e-5f},
        {kInterpolatorElasticIn, kInterpolatorElasticOut, kInterpolatorElasticInOut, 1e-4f},
        {kInterpolatorBackEaseIn, kInterpolatorBackEaseOut, kInterpolatorBackEaseInOut, 1e-5f},
        {kInterpolatorBounceIn, kInterpolatorBounceOut, kInterpolatorBounceInOut, 1e-5f},
    };
    for (const Family& f : families) {
        auto in = make(f.in), out = make(f.out), inOut = make(f.inOut);
        for (int i = 1; i < 50; ++i) {
            float t = i / 50.0f;
            EXPECT_NEAR(out->interpolate(t), 1.0f - in->interpolate(1.0f - t), f.tol) << f.out << " t=" << t;
            if (t < 0.5f) {
                EXPECT_NEAR(inOut->interpolate(t), in->interpolate(2 * t) / 2, f.tol)
                    << f.inOut << " t=" << t;
            } else {
                EXPECT_NEAR(inOut->interpolate(t), out->interpolate(2 * t - 1) / 2 + 0.5f, f.tol)
                    << f.inOut << " t=" << t;
            }
        }
    }
}

}  // namespace
