// Easing curves: each maps a progress t (nominally 0 to 1) to an eased
// progress. No curve clamps t.
#pragma once

#include <cstdint>

namespace Quorvane {
namespace Core {

enum ProgressInterpolatorType : int32_t {
    kInterpolatorHold = 0,
    kInterpolatorLinear = 1,
    kInterpolatorQuadraticEaseIn = 2,
    kInterpolatorQuadraticEaseOut = 3,
    kInterpolatorQuadraticEaseInOut = 4,
    kInterpolatorCubicIn = 5,
    kInterpolatorCubicOut = 6,
    kInterpolatorCubicInOut = 7,
    kInterpolatorQuarticIn = 8,
    kInterpolatorQuarticOut = 9,
    kInterpolatorQuarticInOut = 10,
    kInterpolatorQuinticIn = 11,
    kInterpolatorQuinticOut = 12,
    kInterpolatorQuinticInOut = 13,
    kInterpolatorSineIn = 14,
    kInterpolatorSineOut = 15,
    kInterpolatorSineInOut = 16,
    kInterpolatorCircualIn = 17,
    kInterpolatorCircualOut = 18,
    kInterpolatorCircualInOut = 19,
    kInterpolatorExponentialIn = 20,
    kInterpolatorExponentialOut = 21,
    kInterpolatorExponentialInOut = 22,
    kInterpolatorElasticIn = 23,
    kInterpolatorElasticOut = 24,
    kInterpolatorElasticInOut = 25,
    kInterpolatorBackEaseIn = 26,
    kInterpolatorBackEaseOut = 27,
    kInterpolatorBackEaseInOut = 28,
    kInterpolatorBounceIn = 29,
    kInterpolatorBounceOut = 30,
    kInterpolatorBounceInOut = 31,
};

// The base is the linear curve.
class ProgressInterpolator {
public:
    virtual ~ProgressInterpolator() {}
    virtual float interpolate(float t) { return t; }

    // A new curve of the given type, owned by the caller; null for a type
    // outside 0 to 31.
    static ProgressInterpolator* create(ProgressInterpolatorType type);
};

// Amplitude of the later arcs of the bounce curves as create() sets it.
constexpr float kBounceAmplitude = 1.70158f;

float easeOutBounceHelper_(float t, float c, float a);
float easeOutBounce(float t, float a);
float easeInBounce(float t, float a);
float easeInOutBounce(float t, float a);

class HoldInterpolator : public ProgressInterpolator {
public:
    float interpolate(float t) override;
};

class QuadraticEaseInInterpolator : public ProgressInterpolator {
public:
    float interpolate(float t) override;
};

class QuadraticEaseOutInterpolator : public ProgressInterpolator {
public:
    float interpolate(float t) override;
};

class QuadraticEaseInOutInterpolator : public ProgressInterpolator {
public:
    float interpolate(float t) override;
};

class CubicInInterpolator : public ProgressInterpolator {
public:
    float interpolate(float t) override;
};

class CubicOutInterpolator : public ProgressInterpolator {
public:
    float interpolate(float t) override;
};

class CubicInOutInterpolator : public ProgressInterpolator {
public:
    float interpolate(float t) override;
};

class QuarticInInterpolator : public ProgressInterpolator {
public:
    float interpolate(float t) override;
};

class QuarticOutInterpolator : public ProgressInterpolator {
public:
    float interpolate(float t) override;
};

class QuarticInOutInterpolator : public ProgressInterpolator {
public:
    float interpolate(float t) override;
};

class QuinticInInterpolator : public ProgressInterpolator {
public:
    float interpolate(float t) override;
};

class QuinticOutInterpolator : public ProgressInterpolator {
public:
    float interpolate(float t) override;
};

class QuinticInOutInterpolator : public ProgressInterpolator {
public:
    float interpolate(float t) override;
};

class SineInInterpolator : public ProgressInterpolator {
public:
    float interpolate(float t) override;
};

class SineOutInterpolator : public ProgressInterpolator {
public:
    float interpolate(float t) override;
};

class SineInOutInterpolator : public ProgressInterpolator {
public:
    float interpolate(float t) override;
};

class CircualInInterpolator : public ProgressInterpolator {
public:
    float interpolate(float t) override;
};

class CircualOutInterpolator : public ProgressInterpolator {
public:
    float interpolate(float t) override;
};

class CircualInOutInterpolator : public ProgressInterpolator {
public:
    float interpolate(float t) override;
};

class ExponentialInInterpolator : public ProgressInterpolator {
public:
    float interpolate(float t) override;
};

class ExponentialOutInterpolator : public ProgressInterpolator {
public:
    float interpolate(float t) override;
};

class ExponentialInOutInterpolator : public ProgressInterpolator {
public:
    float interpolate(float t) override;
};

class ElasticInInterpolator : public ProgressInterpolator {
public:
    float interpolate(float t) override;
};

class ElasticOutInterpolator : public ProgressInterpolator {
public:
    float interpolate(float t) override;
};

class ElasticInOutInterpolator : public ProgressInterpolator {
public:
    float interpolate(float t) override;
};

class BackEaseInInterpolator : public ProgressInterpolator {
public:
    float interpolate(float t) override;
};

class BackEaseOutInterpolator : public ProgressInterpolator {
public:
    float interpolate(float t) override;
};

class BackEaseInOutInterpolator : public ProgressInterpolator {
public:
    float interpolate(float t) override;
};

class BounceInInterpolator : public ProgressInterpolator {
public:
    explicit BounceInInterpolator(float amplitude = kBounceAmplitude) : amplitude(amplitude) {}
    float interpolate(float t) override;
    float amplitude;
};

class BounceOutInterpolator : public ProgressInterpolator {
public:
    explicit BounceOutInterpolator(float amplitude = kBounceAmplitude) : amplitude(amplitude) {}
    float interpolate(float t) override;
    float amplitude;
};

class BounceInOutInterpolator : public ProgressInterpolator {
public:
    explicit BounceInOutInterpolator(float amplitude = kBounceAmplitude) : amplitude(amplitude) {}
    float interpolate(float t) override;
    float amplitude;
};

}  // namespace Core
}  // namespace Quorvane
