#include "core/Rotation.h"

#include <algorithm>
#include <cmath>

#include "core/Matrix.h"

namespace Quorvane {
namespace Core {

// ---------------------------------------------------------------- Euler

void Euler::set(float nx, float ny, float nz, RotationOrder o) {
    x = nx;
    y = ny;
    z = nz;
    if (o != kRotationOrderNone) order = o;
}

void Euler::setWithMat4(const Mat4& mat, RotationOrder o) {
    if (o != kRotationOrderNone) order = o;
    // mRC: row R, column C (1-based) of the column-major storage.
    const float* e = mat.m;
    const float m11 = e[0], m12 = e[4], m13 = e[8];
    const float m21 = e[1], m22 = e[5], m23 = e[9];
    const float m31 = e[2], m32 = e[6], m33 = e[10];
    // Beyond this the middle axis is at a right angle (gimbal lock) and only
    // the sum or difference of the outer angles is defined.
    const float lock = 0.999999f;
    auto asinClamped = [](float v) { return std::asin(std::clamp(v, -1.0f, 1.0f)); };

    switch (order) {
        case kRotationOrderXyz:
            y = asinClamped(m13);
            if (std::fabs(m13) < lock) {
                x = std::atan2(-m23, m33);
                z = std::atan2(-m12, m11);
            } else {
                x = std::atan2(m32, m22);
                z = 0.0f;
            }
            break;
        case kRotationOrderYzx:
            z = asinClamped(m21);
            if (std::fabs(m21) < lock) {
                x = std::atan2(-m23, m22);
                y = std::atan2(-m31, m11);
            } else {
                x = 0.0f;
                y = std::atan2(m13, m33);
            }
            break;
        case kRotationOrderZxy:
            x = asinClamped(m32);
            if (std::fabs(m32) < lock) {
                y = std::atan2(-m31, m33);
                z = std::atan2(-m12, m22);
            } else {
                y = 0.0f;
                z = std::atan2(m21, m11);
            }
            break;
        case kRotationOrderXzy:
            z = asinClamped(-m12);
            if (std::fabs(m12) < lock) {
                x = std::atan2(m32, m22);
                y = std::atan2(m13, m11);
            } else {
                x = std::atan2(-m23, m33);
                y = 0.0f;
            }
            break;
        case kRotationOrderYxz:
            x = asinClamped(-m23);
            if (std::fabs(m23) < lock) {
                y = std::atan2(m13, m33);
                z = std::atan2(m21, m22);
            } else {
                y = std::atan2(-m31, m11);
                z = 0.0f;
            }
            break;
        case kRotationOrderZyx:
            y = asinClamped(-m31);
            if (std::fabs(m31) < lock) {
                x = std::atan2(m32, m33);
                z = std::atan2(m21, m11);
            } else {
                x = 0.0f;
                z = std::atan2(-m12, m22);
            }
            break;
        default:
            break;
    }
}

void Euler::setWithQuaternion(const Quaternion& q, RotationOrder o) {
    Mat4 m;
    m.setWithQuaternion(q);
    setWithMat4(m, o);
}

bool Euler::operator==(const Euler& e) const {
    return std::fabs(x - e.x) <= Float::epsilon && std::fabs(y - e.y) <= Float::epsilon &&
           std::fabs(z - e.z) <= Float::epsilon && order == e.order;
}
bool Euler::operator!=(const Euler& e) const {
    return !(*this == e);
}

// ---------------------------------------------------------------- Quaternion

Quaternion::Quaternion(const Vec3& axis, float angle) {
    const float s = std::sin(angle / 2.0f);
    x = axis.x * s;
    y = axis.y * s;
    z = axis.z * s;
    w = std::cos(angle / 2.0f);
}
Quaternion::Quaternion(const Vec3& from, const Vec3& to) {
    setWithDirection(from, to);
}

bool Quaternion::operator==(const Quaternion& q) const {
    return x == q.x && y == q.y && z == q.z && w == q.w;
}
bool Quaternion::operator!=(const Quaternion& q) const {
    return !(*this == q);
}

void Quaternion::set(float nx, float ny, float nz) {
    x = nx;
    y = ny;
    z = nz;
}
void Quaternion::set(float nx, float ny, float nz, float nw) {
    set(nx, ny, nz);
    w = nw;
}
void Quaternion::set(const Vec3& axis, float angle) {
    *this = Quaternion(Vec3(axis).normalize(), angle);
}

Quaternion& Quaternion::setWithMat4(const Mat4& mat) {
    const float* e = mat.m;
    const float m11 = e[0], m12 = e[4], m13 = e[8];
    const float m21 = e[1], m22 = e[5], m23 = e[9];
    const float m31 = e[2], m32 = e[6], m33 = e[10];
    const float trace = m11 + m22 + m33;
    if (trace > 0.0f) {
        const float s = 0.5f / std::sqrt(trace + 1.0f);
        w = 0.25f / s;
        x = (m32 - m23) * s;
        y = (m13 - m31) * s;
        z = (m21 - m12) * s;
    } else if (m11 > m22 && m11 > m33) {
        const float s = 2.0f * std::sqrt(1.0f + m11 - m22 - m33);
        w = (m32 - m23) / s;
        x = 0.25f * s;
        y = (m12 + m21) / s;
        z = (m13 + m31) / s;
    } else if (m22 > m33) {
        const float s = 2.0f * std::sqrt(1.0f + m22 - m11 - m33);
        w = (m13 - m31) / s;
        x = (m12 + m21) / s;
        y = 0.25f * s;
        z = (m23 + m32) / s;
    } else {
        const float s = 2.0f * std::sqrt(1.0f + m33 - m11 - m22);
        w = (m21 - m12) / s;
        x = (m13 + m31) / s;
        y = (m23 + m32) / s;
        z = 0.25f * s;
    }
    return *this;
}

Quaternion& Quaternion::setWithEuler(const Euler& e) {
    const float c1 = std::cos(e.x / 2.0f), c2 = std::cos(e.y / 2.0f), c3 = std::cos(e.z / 2.0f);
    const float s1 = std::sin(e.x / 2.0f), s2 = std::sin(e.y / 2.0f), s3 = std::sin(e.z / 2.0f);
    // The signs of the four terms for each order; index 0 is the "none" order.
    struct Signs {
        float x, y, z, w;
    };
    static constexpr Signs kSigns[7] = {
        {0, 0, 0, 0},    // none
        {1, -1, 1, -1},  // XYZ
        {1, 1, -1, -1},  // YZX
        {-1, 1, 1, -1},  // ZXY
        {-1, -1, 1, 1},  // XZY
        {1, -1, -1, 1},  // YXZ
        {-1, 1, -1, 1},  // ZYX
    };
    if (e.order > Euler::kRotationOrderZyx) return *this;
    if (e.order == Euler::kRotationOrderNone) {
        set(0.0f, 0.0f, 0.0f, 0.0f);
        return *this;
    }
    const Signs& k = kSigns[e.order];
    x = s1 * c2 * c3 + k.x * c1 * s2 * s3;
    y = c1 * s2 * c3 + k.y * s1 * c2 * s3;
    z = c1 * c2 * s3 + k.z * s1 * s2 * c3;
    w = c1 * c2 * c3 + k.w * s1 * s2 * s3;
    return *this;
}

void Quaternion::setWithArray(const float* a, int offset) {
    set(a[offset], a[offset + 1], a[offset + 2], a[offset + 3]);
}
void Quaternion::toArray(float* a, int offset) const {
    a[offset] = x;
    a[offset + 1] = y;
    a[offset + 2] = z;
    a[offset + 3] = w;
}

float Quaternion::getRotationAngle() const {
    return 2.0f * std::acos(w) * Float::radiansToDegreesFactor;
}
Vec3 Quaternion::getRotationAxis() const {
    const float k = 1.0f - w * w;
    if (k < Float::epsilon) return Vec3(0.0f, 0.0f, 1.0f);
    const float s = std::sqrt(k);
    return Vec3(x / s, y / s, z / s);
}

Quaternion& Quaternion::conjugate() {
    x = -x;
    y = -y;
    z = -z;
    return *this;
}
float Quaternion::dot(const Quaternion& q) const {
    return x * q.x + y * q.y + z * q.z + w * q.w;
}
float Quaternion::lengthSq() const {
    return dot(*this);
}
float Quaternion::length() const {
    return std::sqrt(lengthSq());
}
Quaternion& Quaternion::normalize() {
    const float l = length();
    if (l == 0.0f) {
        set(0.0f, 0.0f, 0.0f, 1.0f);
        return *this;
    }
    set(x / l, y / l, z / l, w / l);
    return *this;
}
Quaternion& Quaternion::setInverse() {
    return conjugate().normalize();
}

Quaternion& Quaternion::setWithDirection(const Vec3& from, const Vec3& to) {
    float r = from.dot(to) + 1.0f;
    Vec3 axis;
    if (r < Float::epsilon) {
        // Opposite vectors: any axis perpendicular to from will do.
        r = 0.0f;
        if (std::fabs(from.x) > std::fabs(from.z))
            axis.set(-from.y, from.x, 0.0f);
        else
            axis.set(0.0f, -from.z, from.y);
    } else {
        axis = from.cross(to);
    }
    set(axis.x, axis.y, axis.z, r);
    return normalize();
}

Vec3 Quaternion::quaternionMulVec3(const Quaternion& q, const Vec3& v) {
    const Vec3 u(q.x, q.y, q.z);
    const Vec3 t = u.cross(v);
    const Vec3 s = u.cross(t);
    return v + (t * q.w + s) * 2.0f;
}

Quaternion& Quaternion::multiplyQuaternions(const Quaternion& a, const Quaternion& b) {
    const float nx = a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y;
    const float ny = a.w * b.y + a.y * b.w + a.z * b.x - a.x * b.z;
    const float nz = a.w * b.z + a.z * b.w + a.x * b.y - a.y * b.x;
    const float nw = a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z;
    set(nx, ny, nz, nw);
    return *this;
}
Quaternion& Quaternion::multiply(const Quaternion& q) {
    return multiplyQuaternions(Quaternion(*this), q);
}
Quaternion& Quaternion::premultiply(const Quaternion& q) {
    return multiplyQuaternions(q, Quaternion(*this));
}

Quaternion& Quaternion::slerp(const Quaternion& q, float t) {
    if (t == 1.0f) {
        *this = q;
        return *this;
    }
    if (t == 0.0f) return *this;
    const Quaternion a(*this);
    float cosT = a.dot(q);
    if (cosT < 0.0f) {
        set(-q.x, -q.y, -q.z, -q.w);
        cosT = -cosT;
    } else {
        *this = q;
    }
    if (cosT >= 1.0f) {
        *this = a;
        return *this;
    }
    const float sinT = std::sqrt(1.0f - cosT * cosT);
    if (std::fabs(double(sinT)) < 0.001) {
        set((a.x + x) * 0.5f, (a.y + y) * 0.5f, (a.z + z) * 0.5f, (a.w + w) * 0.5f);
        return *this;
    }
    const float theta = std::atan2(sinT, cosT);
    const float ra = std::sin((1.0f - t) * theta) / sinT;
    const float rb = std::sin(t * theta) / sinT;
    set(a.x * ra + x * rb, a.y * ra + y * rb, a.z * ra + z * rb, a.w * ra + w * rb);
    return *this;
}

Quaternion Quaternion::lerp(const Quaternion& a, const Quaternion& b, float t) {
    Quaternion r(a);
    if (a == b) return r;
    return r.slerp(b, t);
}

}  // namespace Core
}  // namespace Quorvane
