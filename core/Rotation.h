// Rotation values: Euler angles with an axis order, and the unit quaternion
// from which layer matrices are built and into which they are taken apart.
// Angles are in radians unless a method says degrees.
#pragma once

#include <cstdint>

#include "core/Vector.h"

namespace Quorvane {
namespace Core {

class Mat4;
class Quaternion;

class Euler {
public:
    // The sequence in which the axes' rotations compose: XYZ is Rx·Ry·Rz.
    enum RotationOrder : uint32_t {
        kRotationOrderNone = 0,  // where an operation takes an order: keep the current one
        kRotationOrderXyz = 1,
        kRotationOrderYzx = 2,
        kRotationOrderZxy = 3,
        kRotationOrderXzy = 4,
        kRotationOrderYxz = 5,
        kRotationOrderZyx = 6,
    };
    static constexpr RotationOrder mDefaultOrder = kRotationOrderXyz;

    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    RotationOrder order = mDefaultOrder;

    Euler() = default;
    // The order is stored as given, 0 included.
    Euler(float x, float y, float z, RotationOrder order = mDefaultOrder) : x(x), y(y), z(z), order(order) {}
    Euler(const Euler&) = default;
    Euler& operator=(const Euler&) = default;

    void set(float x, float y, float z, RotationOrder order = kRotationOrderNone);
    // Angles of the rotation part of m (which must hold no scale).
    void setWithMat4(const Mat4& m, RotationOrder order = kRotationOrderNone);
    void setWithQuaternion(const Quaternion& q, RotationOrder order = kRotationOrderNone);

    // Angles within Float::epsilon and the same order.
    bool operator==(const Euler& e) const;
    bool operator!=(const Euler& e) const;
};

class Quaternion {
public:
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    float w = 1.0f;

    // The identity.
    Quaternion() = default;
    // w = 1, not normalized.
    Quaternion(float x, float y, float z) : x(x), y(y), z(z), w(1.0f) {}
    Quaternion(float x, float y, float z, float w) : x(x), y(y), z(z), w(w) {}
    // (axis·sin(angle/2), cos(angle/2)); the axis is used as given.
    Quaternion(const Vec3& axis, float angle);
    // The shortest rotation from one unit vector to another.
    Quaternion(const Vec3& from, const Vec3& to);
    Quaternion(const Quaternion&) = default;
    Quaternion& operator=(const Quaternion&) = default;

    // Exact comparison of all four components.
    bool operator==(const Quaternion& q) const;
    bool operator!=(const Quaternion& q) const;

    // w unchanged.
    void set(float x, float y, float z);
    void set(float x, float y, float z, float w);
    // Like the axis-angle constructor, but the axis is normalized first.
    void set(const Vec3& axis, float angle);
    // From the rotation part of m, which must hold no scale.
    Quaternion& setWithMat4(const Mat4& m);
    // Order 0 gives (0, 0, 0, 0); an order above 6 leaves this unchanged.
    Quaternion& setWithEuler(const Euler& e);
    void setWithArray(const float* a, int offset);
    void toArray(float* a, int offset) const;

    // In degrees.
    float getRotationAngle() const;
    Vec3 getRotationAxis() const;

    Quaternion& conjugate();
    float dot(const Quaternion& q) const;
    float lengthSq() const;
    float length() const;
    // A length of exactly 0 gives the identity.
    Quaternion& normalize();
    Quaternion& setInverse();
    Quaternion& setWithDirection(const Vec3& from, const Vec3& to);

    static Vec3 quaternionMulVec3(const Quaternion& q, const Vec3& v);
    // this = a·b
    Quaternion& multiplyQuaternions(const Quaternion& a, const Quaternion& b);
    // this = this·q
    Quaternion& multiply(const Quaternion& q);
    // this = q·this
    Quaternion& premultiply(const Quaternion& q);
    // Moves this towards q by t (not renormalized).
    Quaternion& slerp(const Quaternion& q, float t);
    static Quaternion lerp(const Quaternion& a, const Quaternion& b, float t);
};

}  // namespace Core
}  // namespace Quorvane
