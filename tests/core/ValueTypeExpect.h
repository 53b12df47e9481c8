// Component-wise comparisons of the core value types for the tests of tests/core.
#pragma once

#include <gtest/gtest.h>

#include "core/Color.h"
#include "core/Matrix.h"
#include "core/Rotation.h"
#include "core/Vector.h"

namespace QvTest {

inline ::testing::AssertionResult near(const char* what, const float* a, const float* b, int n, float tol) {
    for (int i = 0; i < n; ++i) {
        if (!(std::fabs(a[i] - b[i]) <= tol)) {
            ::testing::Message msg;
            msg << what << " differs at component " << i << ": " << a[i] << " vs " << b[i] << " (tol " << tol
                << ")";
            return ::testing::AssertionFailure() << msg;
        }
    }
    return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult Near(const Quorvane::Core::Vec2& a, const Quorvane::Core::Vec2& b,
                                       float tol = 1e-5f) {
    const float x[2] = {a.x, a.y}, y[2] = {b.x, b.y};
    return near("Vec2", x, y, 2, tol);
}
inline ::testing::AssertionResult Near(const Quorvane::Core::Vec3& a, const Quorvane::Core::Vec3& b,
                                       float tol = 1e-5f) {
    const float x[3] = {a.x, a.y, a.z}, y[3] = {b.x, b.y, b.z};
    return near("Vec3", x, y, 3, tol);
}
inline ::testing::AssertionResult Near(const Quorvane::Core::Vec4& a, const Quorvane::Core::Vec4& b,
                                       float tol = 1e-5f) {
    const float x[4] = {a.x, a.y, a.z, a.w}, y[4] = {b.x, b.y, b.z, b.w};
    return near("Vec4", x, y, 4, tol);
}
inline ::testing::AssertionResult Near(const Quorvane::Core::Quaternion& a,
                                       const Quorvane::Core::Quaternion& b, float tol = 1e-5f) {
    const float x[4] = {a.x, a.y, a.z, a.w}, y[4] = {b.x, b.y, b.z, b.w};
    return near("Quaternion", x, y, 4, tol);
}
inline ::testing::AssertionResult Near(const Quorvane::Core::Color& a, const Quorvane::Core::Color& b,
                                       float tol = 1e-6f) {
    const float x[4] = {a.r, a.g, a.b, a.a}, y[4] = {b.r, b.g, b.b, b.a};
    return near("Color", x, y, 4, tol);
}
inline ::testing::AssertionResult Near(const Quorvane::Core::Mat4& a, const Quorvane::Core::Mat4& b,
                                       float tol = 1e-5f) {
    return near("Mat4", a.m, b.m, 16, tol);
}
inline ::testing::AssertionResult Near(const Quorvane::Core::Affine& a, const Quorvane::Core::Affine& b,
                                       float tol = 1e-5f) {
    return near("Affine", a.m, b.m, 6, tol);
}

}  // namespace QvTest
