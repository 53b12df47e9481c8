// Parameter values as the per-pixel effects hand them to their shaders.
// Records and host setters may carry any float: a template number beyond the
// float range arrives as an infinity, and in a shader an infinity times zero
// (a mix weight of 0 or 1, a colour difference of 0) is NaN, which then
// spreads over the image. Values are therefore held within +-kLargest, far
// beyond any meaningful setting and small enough that the shaders' sums and
// products stay finite; a NaN takes the parameter's neutral value.
#pragma once

#include <algorithm>
#include <cmath>

#include "core/Color.h"
#include "core/Vector.h"

namespace Quorvane {
namespace Core {
namespace ParameterBounds {

constexpr float kLargest = 1.0e6f;

inline float bounded(float value, float neutral) {
    if (std::isnan(value)) return neutral;
    return std::clamp(value, -kLargest, kLargest);
}

inline Vec2 bounded(const Vec2& v, float neutral) {
    return Vec2(bounded(v.x, neutral), bounded(v.y, neutral));
}

inline Vec3 bounded(const Vec3& v, float neutral) {
    return Vec3(bounded(v.x, neutral), bounded(v.y, neutral), bounded(v.z, neutral));
}

inline Color bounded(const Color& c, float neutral) {
    return Color(bounded(c.r, neutral), bounded(c.g, neutral), bounded(c.b, neutral), bounded(c.a, neutral));
}

}  // namespace ParameterBounds
}  // namespace Core
}  // namespace Quorvane
