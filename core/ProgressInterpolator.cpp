#include "core/ProgressInterpolator.h"

#include <cmath>

#include "core/Float.h"

namespace Quorvane {
namespace Core {

namespace {
constexpr float kHalfPi = Float::halfPi;
constexpr float kPi = Float::pi;

float backCurve(float f) {
    return powf(f, 3.0f) - f * sinf(f * kPi);
}
}  // namespace

float easeOutBounceHelper_(float t, float c, float a) {
    if (t == 1.0f) return c;
    if (t < 4.0f / 11.0f) return c * 7.5625f * t * t;
    if (t < 8.0f / 11.0f) {
        float u = t - 6.0f / 11.0f;
        return c - a * (1.0f - (7.5625f * u * u + 0.75f));
    }
    if (t < 10.0f / 11.0f) {
        float u = t - 9.0f / 11.0f;
        return c - a * (1.0f - (7.5625f * u * u + 0.9375f));
    }
    float u = t - 21.0f / 22.0f;
    return c - a * (1.0f - (7.5625f * u * u + 0.984375f));
}

float easeOutBounce(float t, float a) {
    return easeOutBounceHelper_(t, 1.0f, a);
}

float easeInBounce(float t, float a) {
    return 1.0f - easeOutBounceHelper_(1.0f - t, 1.0f, a);
}

float easeInOutBounce(float t, float a) {
    if (t < 0.5f) return easeInBounce(2.0f * t, a) / 2.0f;
    if (t == 1.0f) return 1.0f;
    return easeOutBounce(2.0f * t - 1.0f, a) / 2.0f + 0.5f;
}

float HoldInterpolator::interpolate(float t) {
    return t < 1.0f ? 0.0f : 1.0f;
}

float QuadraticEaseInInterpolator::interpolate(float t) {
    return t * t;
}
float QuadraticEaseOutInterpolator::interpolate(float t) {
    return -(t * (t - 2.0f));
}
float QuadraticEaseInOutInterpolator::interpolate(float t) {
    return t < 0.5f ? 2.0f * t * t : -2.0f * t * t + 4.0f * t - 1.0f;
}

float CubicInInterpolator::interpolate(float t) {
    return powf(t, 3.0f);
}
float CubicOutInterpolator::interpolate(float t) {
    float f = t - 1.0f;
    return powf(f, 3.0f) + 1.0f;
}
float CubicInOutInterpolator::interpolate(float t) {
    if (t < 0.5f) return 4.0f * powf(t, 3.0f);
    float f = 2.0f * t - 2.0f;
    return powf(f, 3.0f) / 2.0f + 1.0f;
}

float QuarticInInterpolator::interpolate(float t) {
    return powf(t, 4.0f);
}
float QuarticOutInterpolator::interpolate(float t) {
    float f = t - 1.0f;
    return powf(f, 3.0f) * (1.0f - t) + 1.0f;
}
float QuarticInOutInterpolator::interpolate(float t) {
    if (t < 0.5f) return 8.0f * powf(t, 4.0f);
    float f = t - 1.0f;
    return -8.0f * powf(f, 4.0f) + 1.0f;
}

float QuinticInInterpolator::interpolate(float t) {
    return powf(t, 5.0f);
}
float QuinticOutInterpolator::interpolate(float t) {
    return powf(t - 1.0f, 5.0f) + 1.0f;
}
float QuinticInOutInterpolator::interpolate(float t) {
    if (t < 0.5f) return 16.0f * powf(t, 5.0f);
    float f = 2.0f * t - 2.0f;
    return powf(f, 5.0f) / 2.0f + 1.0f;
}

float SineInInterpolator::interpolate(float t) {
    return sinf((t - 1.0f) * kHalfPi) + 1.0f;
}
float SineOutInterpolator::interpolate(float t) {
    return sinf(t * kHalfPi);
}
float SineInOutInterpolator::interpolate(float t) {
    return (1.0f - cosf(t * kPi)) / 2.0f;
}

float CircualInInterpolator::interpolate(float t) {
    return 1.0f - sqrtf(1.0f - t * t);
}
float CircualOutInterpolator::interpolate(float t) {
    return sqrtf((2.0f - t) * t);
}
float CircualInOutInterpolator::interpolate(float t) {
    if (t < 0.5f) return (1.0f - sqrtf(1.0f - 4.0f * t * t)) / 2.0f;
    return (sqrtf(-(2.0f * t - 3.0f) * (2.0f * t - 1.0f)) + 1.0f) / 2.0f;
}

float ExponentialInInterpolator::interpolate(float t) {
    return t == 0.0f ? t : powf(2.0f, 10.0f * (t - 1.0f));
}
float ExponentialOutInterpolator::interpolate(float t) {
    return t == 1.0f ? 1.0f : 1.0f - powf(2.0f, -10.0f * t);
}
float ExponentialInOutInterpolator::interpolate(float t) {
    if (t == 0.0f || t == 1.0f) return t;
    if (t < 0.5f) return powf(2.0f, 20.0f * t - 10.0f) / 2.0f;
    return 1.0f - powf(2.0f, -20.0f * t + 10.0f) / 2.0f;
}

float ElasticInInterpolator::interpolate(float t) {
    return sinf(13.0f * kHalfPi * t) * powf(2.0f, 10.0f * (t - 1.0f));
}
float ElasticOutInterpolator::interpolate(float t) {
    return sinf(-13.0f * kHalfPi * (t + 1.0f)) * powf(2.0f, -10.0f * t) + 1.0f;
}
float ElasticInOutInterpolator::interpolate(float t) {
    if (t < 0.5f) return sinf(13.0f * kHalfPi * 2.0f * t) * powf(2.0f, 10.0f * (2.0f * t - 1.0f)) / 2.0f;
    return (sinf(-13.0f * kHalfPi * 2.0f * t) * powf(2.0f, -10.0f * (2.0f * t - 1.0f)) + 2.0f) / 2.0f;
}

float BackEaseInInterpolator::interpolate(float t) {
    return backCurve(t);
}
float BackEaseOutInterpolator::interpolate(float t) {
    return 1.0f - backCurve(1.0f - t);
}
float BackEaseInOutInterpolator::interpolate(float t) {
    if (t < 0.5f) return backCurve(2.0f * t) / 2.0f;
    return (1.0f - backCurve(2.0f - 2.0f * t)) / 2.0f + 0.5f;
}

float BounceInInterpolator::interpolate(float t) {
    return easeInBounce(t, amplitude);
}
float BounceOutInterpolator::interpolate(float t) {
    return easeOutBounce(t, amplitude);
}
float BounceInOutInterpolator::interpolate(float t) {
    return easeInOutBounce(t, amplitude);
}

namespace {
template <typename T>
ProgressInterpolator* make() {
    return new T();
}
using Factory = ProgressInterpolator* (*)();
// Indexed by ProgressInterpolatorType.
constexpr Factory kFactories[] = {
    make<HoldInterpolator>,
    make<ProgressInterpolator>,
    make<QuadraticEaseInInterpolator>,
    make<QuadraticEaseOutInterpolator>,
    make<QuadraticEaseInOutInterpolator>,
    make<CubicInInterpolator>,
    make<CubicOutInterpolator>,
    make<CubicInOutInterpolator>,
    make<QuarticInInterpolator>,
    make<QuarticOutInterpolator>,
    make<QuarticInOutInterpolator>,
    make<QuinticInInterpolator>,
    make<QuinticOutInterpolator>,
    make<QuinticInOutInterpolator>,
    make<SineInInterpolator>,
    make<SineOutInterpolator>,
    make<SineInOutInterpolator>,
    make<CircualInInterpolator>,
    make<CircualOutInterpolator>,
    make<CircualInOutInterpolator>,
    make<ExponentialInInterpolator>,
    make<ExponentialOutInterpolator>,
    make<ExponentialInOutInterpolator>,
    make<ElasticInInterpolator>,
    make<ElasticOutInterpolator>,
    make<ElasticInOutInterpolator>,
    make<BackEaseInInterpolator>,
    make<BackEaseOutInterpolator>,
    make<BackEaseInOutInterpolator>,
    make<BounceInInterpolator>,
    make<BounceOutInterpolator>,
    make<BounceInOutInterpolator>,
};
static_assert(sizeof kFactories / sizeof kFactories[0] == 32, "one factory per curve type");
}  // namespace

ProgressInterpolator* ProgressInterpolator::create(ProgressInterpolatorType type) {
    if (type < 0 || static_cast<size_t>(type) >= sizeof kFactories / sizeof kFactories[0]) return nullptr;
    return kFactories[type]();
}

}  // namespace Core
}  // namespace Quorvane
