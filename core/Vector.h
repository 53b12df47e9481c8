// The engine's smallest value types: the integer span Range, the float vectors
// Vec2, Vec3 and Vec4 and the axis-aligned box Box3. Plain copyable values: bad
// numbers give whatever float arithmetic gives, never an error.
#pragma once

#include <cstdint>

#include "core/Float.h"

namespace Quorvane {
namespace Core {

class Mat4;
class Quaternion;

// Integer span of indices.
struct Range {
    int32_t start = 0;
    int32_t size = 0;

    Range() = default;
    // The whole range (start 0, size INT32_MAX) when true, the empty one when false.
    explicit Range(bool whole);
    explicit Range(int start) : start(start), size(0) {}
    Range(int start, int size) : start(start), size(size) {}
    Range(const Range&) = default;
    Range& operator=(const Range&) = default;

    // One past the last index, without overflow.
    int64_t end() const { return static_cast<int64_t>(start) + size; }
    // The size that makes the range end there; int32 limits saturate.
    void setEnd(int end);
    // Moves the start by delta, keeping the size; int32 limits saturate.
    void offset(int delta);
    // start <= index < end: an empty or negative size holds nothing.
    bool contains(int index) const { return index >= start && index < end(); }
};

struct Vec2 {
    float x = 0.0f;
    float y = 0.0f;

    Vec2() = default;
    Vec2(float x, float y) : x(x), y(y) {}
    Vec2(const Vec2&) = default;
    Vec2& operator=(const Vec2&) = default;

    void set(float x, float y);
    void set(const Vec2& v);
    // Does nothing when a is null.
    void fromArray(const float* a, int offset);
    void setZero();

    Vec2& add(const Vec2& v);
    Vec2& add(float s);
    Vec2& sub(const Vec2& v);
    Vec2& sub(float s);
    Vec2& mult(const Vec2& v);
    Vec2& mult(float s);
    Vec2& divide(const Vec2& v);
    Vec2& divide(float s);

    Vec2 operator+(const Vec2& v) const;
    Vec2 operator+(float s) const;
    Vec2 operator-(const Vec2& v) const;
    Vec2 operator-(float s) const;
    Vec2 operator*(const Vec2& v) const;
    Vec2 operator*(float s) const;
    Vec2 operator/(const Vec2& v) const;
    Vec2 operator/(float s) const;
    Vec2& operator+=(const Vec2& v);
    Vec2& operator+=(float s);
    Vec2& operator-=(const Vec2& v);
    Vec2& operator-=(float s);
    Vec2& operator*=(const Vec2& v);
    Vec2& operator*=(float s);
    Vec2& operator/=(const Vec2& v);
    Vec2& operator/=(float s);

    Vec2 negate() const;
    float dot(const Vec2& v) const;
    float dotProduction(const Vec2& v) const;
    float lengthSquare() const;
    float length() const;
    float distance(const Vec2& v) const;
    // The exact zero vector becomes (l, 0).
    Vec2& setLength(float l);
    Vec2& normalize();

    // Each component within tol (inclusive).
    bool equal(const Vec2& v, float tol) const;
    bool operator==(const Vec2& v) const;
    bool operator!=(const Vec2& v) const;
    bool isZero() const;

    // Component-wise minimum / maximum with v, in place.
    Vec2& getMin(const Vec2& v);
    Vec2& getMax(const Vec2& v);
    Vec2& clamp(const Vec2& min, const Vec2& max);
    static Vec2 lerp(const Vec2& a, const Vec2& b, float t);

    Vec2 modulo(const Vec2& v) const;
    Vec2 operator%(const Vec2& v) const;

    // Angles in degrees; an angle of exactly 0 leaves the vector unchanged.
    Vec2& rotate(float deg);
    Vec2& rotateAround(float deg, const Vec2& centre);
    Vec2 rotateRound(float deg, const Vec2& centre) const;

    float cross(const Vec2& v) const;
    static float cross(float x1, float y1, float x2, float y2);
    // Projection of this onto v; (0, 0) when v is exactly zero.
    Vec2 project(const Vec2& v) const;
    Vec2 normal() const;
    Vec2 perpindicularLeft() const;
    Vec2 perpindicularRight() const;
    // This becomes (-y, x).
    void prepen();

    // atan2 in degrees; 0 for the zero vector.
    float getAngle() const;
    // Keeps the length, points the vector at deg degrees.
    void setAngle(float deg);
    // Signed angle from this to v in degrees.
    float angleBetween(const Vec2& v) const;
    int getQuadrant() const;
    bool isCollinear(const Vec2& v) const;
    bool isOrthogonal(const Vec2& v) const;
    float slope() const;
    // Negates each component whose sign (> 0) differs from v's.
    Vec2& followSigns(const Vec2& v);

    static bool negligible(float s);
    bool negligible() const;
    bool nonNegligible() const;

    // Squared distance strictly below tol².
    static bool equalWithTolerance(float x1, float y1, float x2, float y2, float tol);
    static bool equalWithTolerance(const Vec2& a, const Vec2& b, float tol);
    // Both coordinates closer than Float::pixelEpsilon.
    static bool isDuplicate(const Vec2& a, const Vec2& b);
    static float distanceSquared(const Vec2& a, const Vec2& b);
    // Twice the signed area of the triangle abc.
    static float signedArea(const Vec2& a, const Vec2& b, const Vec2& c);
    // c and d lie on different sides of the line ab.
    static bool intersecting(const Vec2& a, const Vec2& b, const Vec2& c, const Vec2& d);
    static bool oppositeQuadrant(const Vec2& a, const Vec2& b);
    static bool anchorOutwardD(const Vec2& d, const Vec2& a, const Vec2& b);
    static bool anchorOutward(Vec2& d, const Vec2& a, const Vec2& b, bool flag);
    static bool anchorInward(Vec2& d, const Vec2& a, const Vec2& b);
    // Intersects the line a1a2 with the line b1b2. Returns 0 parallel, 1 the
    // segments cross, 2 the lines coincide, 3 only ub in [0, 1], 4 only ua in
    // [0, 1], 5 neither. ua and ub may be null.
    static int intersect(const Vec2& a1, const Vec2& a2, const Vec2& b1, const Vec2& b2, Vec2& out,
                         double* ua = nullptr, double* ub = nullptr);
    // Divides both by their length when it exceeds Float::epsilon; returns the length.
    static float normalize(float* x, float* y);

    // Centred, y-up point to top-left origin, y-down, in a frame of the given size.
    static Vec2 centerToTopLefetPoint(const Vec2& p, const Vec2& size);
    static Vec2 topLeftToCenterPoint(const Vec2& p, const Vec2& size);
};

struct Vec3 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;

    Vec3() = default;
    explicit Vec3(float v) : x(v), y(v), z(v) {}
    Vec3(float x, float y, float z) : x(x), y(y), z(z) {}
    Vec3(const Vec2& v, float z) : x(v.x), y(v.y), z(z) {}
    Vec3(const Vec3&) = default;
    Vec3& operator=(const Vec3&) = default;

    void set(float x, float y, float z);
    void set(const Vec2& v, float z);
    // Index 0 sets x, 1 sets y, any other value sets z.
    void set(int i, float v);
    void setZero();

    Vec3& add(const Vec3& v);
    Vec3& add(float s);
    Vec3& sub(const Vec3& v);
    Vec3& sub(float s);
    Vec3& mult(const Vec3& v);
    Vec3& mult(float s);
    Vec3& divide(const Vec3& v);
    Vec3& divide(float s);

    Vec3 operator+(const Vec3& v) const;
    Vec3 operator+(float s) const;
    Vec3 operator-(const Vec3& v) const;
    Vec3 operator-(float s) const;
    Vec3 operator*(const Vec3& v) const;
    Vec3 operator*(float s) const;
    Vec3 operator/(const Vec3& v) const;
    Vec3 operator/(float s) const;
    Vec3& operator+=(const Vec3& v);
    Vec3& operator+=(float s);
    Vec3& operator-=(const Vec3& v);
    Vec3& operator-=(float s);
    Vec3& operator*=(const Vec3& v);
    Vec3& operator*=(float s);
    Vec3& operator/=(const Vec3& v);
    Vec3& operator/=(float s);

    Vec3 negate() const;
    Vec3& setNegate();
    // Component-wise reciprocal.
    Vec3 invert() const;
    Vec3& setInvert();
    float dot(const Vec3& v) const;
    float lengthSquare() const;
    float length() const;
    float distance(const Vec3& v) const;
    float distanceSquare(const Vec3& v) const;
    // The exact zero vector becomes (l, 0, 0).
    Vec3& setLength(float l);
    Vec3& normalize();

    // Squared distance at most tol².
    bool equal(const Vec3& v, float tol) const;
    bool operator==(const Vec3& v) const;
    bool operator!=(const Vec3& v) const;
    bool isZero() const;

    Vec3& getMin(const Vec3& v);
    Vec3& getMax(const Vec3& v);
    Vec3& clamp(const Vec3& min, const Vec3& max);
    static Vec3 lerp(const Vec3& a, const Vec3& b, float t);

    // Index of the component of largest magnitude; ties go to the later index.
    int largestAbsComponent() const;
    Vec3 cross(const Vec3& v) const;
    // Angle to v in radians. The cosine is clamped to [-1, 1], so parallel
    // vectors give 0 or pi rather than NaN from rounding.
    float angleBetween(const Vec3& v) const;
    Vec3 floor() const;
    Vec2 getVec2() const;
    // This becomes a unit vector perpendicular to v.
    Vec3& ortho(const Vec3& v);
    // Per-axis cyclicDifference with period 0, i.e. this - v.
    Vec3 rotationalDifference(const Vec3& v) const;

    // Point transform by a column-major matrix, no division by w.
    Vec3& applyMatrix4(const Mat4& m);
    // Point transform divided by the resulting w.
    Vec3& applyProjection(const Mat4& m);
    // Upper 3x3 only, then normalized.
    Vec3& transformDirection(const Mat4& m);
    Vec3& applyQuaternion(const Quaternion& q);

    void fromArray(const float* a, int offset);
    void toArray(float* a, int offset) const;
    void setFromMatrixColumn(const Mat4& m, int i);
    void setFromMatrixPosition(const Mat4& m);
};

// a - b brought into (-period/2, period/2] by one period; with period 0 the plain difference.
float cyclicDifference(float a, float b, float period);

struct Vec4 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    float w = 0.0f;

    Vec4() = default;
    Vec4(float x, float y, float z, float w) : x(x), y(y), z(z), w(w) {}
    Vec4(const Vec3& v, float w) : x(v.x), y(v.y), z(v.z), w(w) {}
    Vec4(const Vec4&) = default;
    Vec4& operator=(const Vec4&) = default;

    void set(float x, float y, float z, float w);
    void setZero();

    Vec4& add(const Vec4& v);
    Vec4& add(float s);
    Vec4& sub(const Vec4& v);
    Vec4& sub(float s);
    Vec4& mult(const Vec4& v);
    Vec4& mult(float s);
    Vec4& divide(const Vec4& v);
    Vec4& divide(float s);

    Vec4 operator+(const Vec4& v) const;
    Vec4 operator+(float s) const;
    Vec4 operator-(const Vec4& v) const;
    Vec4 operator-(float s) const;
    Vec4 operator*(const Vec4& v) const;
    Vec4 operator*(float s) const;
    Vec4 operator/(const Vec4& v) const;
    Vec4 operator/(float s) const;
    Vec4& operator+=(const Vec4& v);
    Vec4& operator+=(float s);
    Vec4& operator-=(const Vec4& v);
    Vec4& operator-=(float s);
    Vec4& operator*=(const Vec4& v);
    Vec4& operator*=(float s);
    Vec4& operator/=(const Vec4& v);
    Vec4& operator/=(float s);

    Vec4 negate() const;
    Vec4 invert() const;
    float dot(const Vec4& v) const;
    float lengthSquare() const;
    float length() const;
    float lengthManhattan() const;
    float distance(const Vec4& v) const;
    // The exact zero vector becomes (l, 0, 0, 0).
    Vec4& setLength(float l);
    Vec4& normalize();

    // Squared distance strictly below tol².
    bool equal(const Vec4& v, float tol) const;
    bool operator==(const Vec4& v) const;
    bool operator!=(const Vec4& v) const;
    bool isZero() const;

    // Spherical interpolation, result normalized.
    static Vec4 lerp(const Vec4& a, const Vec4& b, float t);
    Vec3 getVec3() const;
};

// Axis-aligned box. The empty box has min at Float::max and max at
// -Float::max on every axis, so expanding it by any point gives that point.
struct Box3 {
    Vec3 min;
    Vec3 max;

    Box3();
    Box3(const Vec3& min, const Vec3& max) : min(min), max(max) {}
    Box3(const Box3&) = default;
    Box3& operator=(const Box3&) = default;

    void set(const Vec3& min, const Vec3& max);
    void setFromCenterAndSize(const Vec3& centre, const Vec3& size);
    // Points taken three floats at a time while the index is below n.
    void setFromArray(const float* a, int n);
    void setFromPoints(const Vec3* points, int n);
    void makeEmpty();
    // min exceeds max on some axis, or both corners are exactly zero.
    bool isEmpty() const;

    void expandByPoint(const Vec3& p);
    void expandByVector(const Vec3& v);
    void expandByScalar(float s);
    Vec3 getCenter() const;
    Vec3 getSize() const;
    bool containsPoint(const Vec3& p) const;
    bool containsBox(const Box3& b) const;
    // Touching boxes intersect.
    bool intersectsBox(const Box3& b) const;
    Vec3 getParameter(const Vec3& p) const;
    Vec3 clampPoint(const Vec3& p) const;
    float distanceToPoint(const Vec3& p) const;
    // In place: becomes the overlap, or the empty box when there is none.
    void intersects(const Box3& b);
    void unionBox(const Box3& b);
    void translate(const Vec3& v);
    bool operator==(const Box3& b) const;
    bool operator!=(const Box3& b) const;
};

}  // namespace Core
}  // namespace Quorvane
