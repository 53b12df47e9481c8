#include "core/Vector.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "core/Matrix.h"
#include "core/Rotation.h"

namespace Quorvane {
namespace Core {

// ---------------------------------------------------------------- Range

Range::Range(bool whole) : start(0), size(whole ? INT32_MAX : 0) {}

namespace {
int32_t saturated(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}
}  // namespace

void Range::setEnd(int end) {
    size = saturated(static_cast<int64_t>(end) - start);
}

void Range::offset(int delta) {
    start = saturated(static_cast<int64_t>(start) + delta);
}

// ---------------------------------------------------------------- Vec2

void Vec2::set(float nx, float ny) {
    x = nx;
    y = ny;
}
void Vec2::set(const Vec2& v) {
    *this = v;
}
void Vec2::fromArray(const float* a, int offset) {
    if (!a) return;
    x = a[offset];
    y = a[offset + 1];
}
void Vec2::setZero() {
    x = y = 0.0f;
}

Vec2& Vec2::add(const Vec2& v) {
    x += v.x;
    y += v.y;
    return *this;
}
Vec2& Vec2::add(float s) {
    x += s;
    y += s;
    return *this;
}
Vec2& Vec2::sub(const Vec2& v) {
    x -= v.x;
    y -= v.y;
    return *this;
}
Vec2& Vec2::sub(float s) {
    x -= s;
    y -= s;
    return *this;
}
Vec2& Vec2::mult(const Vec2& v) {
    x *= v.x;
    y *= v.y;
    return *this;
}
Vec2& Vec2::mult(float s) {
    x *= s;
    y *= s;
    return *this;
}
Vec2& Vec2::divide(const Vec2& v) {
    x /= v.x;
    y /= v.y;
    return *this;
}
Vec2& Vec2::divide(float s) {
    x /= s;
    y /= s;
    return *this;
}

Vec2 Vec2::operator+(const Vec2& v) const {
    return Vec2(*this).add(v);
}
Vec2 Vec2::operator+(float s) const {
    return Vec2(*this).add(s);
}
Vec2 Vec2::operator-(const Vec2& v) const {
    return Vec2(*this).sub(v);
}
Vec2 Vec2::operator-(float s) const {
    return Vec2(*this).sub(s);
}
Vec2 Vec2::operator*(const Vec2& v) const {
    return Vec2(*this).mult(v);
}
Vec2 Vec2::operator*(float s) const {
    return Vec2(*this).mult(s);
}
Vec2 Vec2::operator/(const Vec2& v) const {
    return Vec2(*this).divide(v);
}
Vec2 Vec2::operator/(float s) const {
    return Vec2(*this).divide(s);
}
Vec2& Vec2::operator+=(const Vec2& v) {
    return add(v);
}
Vec2& Vec2::operator+=(float s) {
    return add(s);
}
Vec2& Vec2::operator-=(const Vec2& v) {
    return sub(v);
}
Vec2& Vec2::operator-=(float s) {
    return sub(s);
}
Vec2& Vec2::operator*=(const Vec2& v) {
    return mult(v);
}
Vec2& Vec2::operator*=(float s) {
    return mult(s);
}
Vec2& Vec2::operator/=(const Vec2& v) {
    return divide(v);
}
Vec2& Vec2::operator/=(float s) {
    return divide(s);
}

Vec2 Vec2::negate() const {
    return Vec2(-x, -y);
}
float Vec2::dot(const Vec2& v) const {
    return x * v.x + y * v.y;
}
float Vec2::dotProduction(const Vec2& v) const {
    return dot(v);
}
float Vec2::lengthSquare() const {
    return x * x + y * y;
}
float Vec2::length() const {
    return std::sqrt(lengthSquare());
}
float Vec2::distance(const Vec2& v) const {
    return (*this - v).length();
}

Vec2& Vec2::setLength(float l) {
    if (isZero()) {
        x = l;
        return *this;
    }
    return mult(l / length());
}
Vec2& Vec2::normalize() {
    return setLength(1.0f);
}

bool Vec2::equal(const Vec2& v, float tol) const {
    return std::fabs(v.x - x) <= tol && std::fabs(v.y - y) <= tol;
}
bool Vec2::operator==(const Vec2& v) const {
    return equal(v, Float::epsilon);
}
bool Vec2::operator!=(const Vec2& v) const {
    return !equal(v, Float::epsilon);
}
bool Vec2::isZero() const {
    return x == 0.0f && y == 0.0f;
}

Vec2& Vec2::getMin(const Vec2& v) {
    x = std::min(x, v.x);
    y = std::min(y, v.y);
    return *this;
}
Vec2& Vec2::getMax(const Vec2& v) {
    x = std::max(x, v.x);
    y = std::max(y, v.y);
    return *this;
}
Vec2& Vec2::clamp(const Vec2& lo, const Vec2& hi) {
    x = x < lo.x ? lo.x : std::min(x, hi.x);
    y = y < lo.y ? lo.y : std::min(y, hi.y);
    return *this;
}
Vec2 Vec2::lerp(const Vec2& a, const Vec2& b, float t) {
    return a * (1.0f - t) + b * t;
}

Vec2 Vec2::modulo(const Vec2& v) const {
    return Vec2(std::fmod(x, v.x), std::fmod(y, v.y));
}
Vec2 Vec2::operator%(const Vec2& v) const {
    return modulo(v);
}

Vec2& Vec2::rotate(float deg) {
    if (deg == 0.0f) return *this;
    const float r = deg * Float::degreesToRadiansFactor;
    const float c = std::cos(r), s = std::sin(r);
    const float nx = x * c - y * s;
    const float ny = y * c + x * s;
    x = nx;
    y = ny;
    return *this;
}
Vec2& Vec2::rotateAround(float deg, const Vec2& centre) {
    if (deg == 0.0f) return *this;
    sub(centre);
    rotate(deg);
    return add(centre);
}
Vec2 Vec2::rotateRound(float deg, const Vec2& centre) const {
    return Vec2(*this).rotateAround(deg, centre);
}

float Vec2::cross(const Vec2& v) const {
    return x * v.y - y * v.x;
}
float Vec2::cross(float x1, float y1, float x2, float y2) {
    return x1 * y2 - y1 * x2;
}

Vec2 Vec2::project(const Vec2& v) const {
    if (v.isZero()) return Vec2();
    return v * (dot(v) / v.dot(v));
}
Vec2 Vec2::normal() const {
    return Vec2(-y, x);
}
Vec2 Vec2::perpindicularLeft() const {
    return Vec2(-y, x);
}
Vec2 Vec2::perpindicularRight() const {
    return Vec2(y, -x);
}
void Vec2::prepen() {
    set(-y, x);
}

float Vec2::getAngle() const {
    if (isZero()) return 0.0f;
    return std::atan2(y, x) * Float::radiansToDegreesFactor;
}
void Vec2::setAngle(float deg) {
    const float l = length();
    const float r = deg * Float::degreesToRadiansFactor;
    set(l * std::cos(r), l * std::sin(r));
}
float Vec2::angleBetween(const Vec2& v) const {
    return std::atan2(cross(v), dot(v)) * Float::radiansToDegreesFactor;
}
int Vec2::getQuadrant() const {
    if (x >= 0.0f) return y >= 0.0f ? 1 : 4;
    return y >= 0.0f ? 2 : 3;
}
bool Vec2::isCollinear(const Vec2& v) const {
    return std::fabs(x * v.y - y * v.x) <=
           Float::epsilon * std::sqrt((v.x * v.x + v.y * v.y) * (x * x + y * y));
}
bool Vec2::isOrthogonal(const Vec2& v) const {
    return std::fabs(x * v.x + y * v.y) <=
           Float::epsilon * std::sqrt((v.x * v.x + v.y * v.y) * (x * x + y * y));
}
float Vec2::slope() const {
    return y / x;
}
Vec2& Vec2::followSigns(const Vec2& v) {
    if ((x > 0.0f) != (v.x > 0.0f)) x = -x;
    if ((y > 0.0f) != (v.y > 0.0f)) y = -y;
    return *this;
}

bool Vec2::negligible(float s) {
    return -Float::epsilon < s && s < Float::epsilon;
}
bool Vec2::negligible() const {
    return negligible(x) && negligible(y);
}
bool Vec2::nonNegligible() const {
    return !negligible();
}

bool Vec2::equalWithTolerance(float x1, float y1, float x2, float y2, float tol) {
    const float dx = x2 - x1, dy = y2 - y1;
    return dx * dx + dy * dy < tol * tol;
}
bool Vec2::equalWithTolerance(const Vec2& a, const Vec2& b, float tol) {
    return equalWithTolerance(a.x, a.y, b.x, b.y, tol);
}
bool Vec2::isDuplicate(const Vec2& a, const Vec2& b) {
    return std::fabs(b.x - a.x) < Float::pixelEpsilon && std::fabs(b.y - a.y) < Float::pixelEpsilon;
}
float Vec2::distanceSquared(const Vec2& a, const Vec2& b) {
    return (b - a).lengthSquare();
}
float Vec2::signedArea(const Vec2& a, const Vec2& b, const Vec2& c) {
    return (c.y - a.y) * (b.x - a.x) - (b.y - a.y) * (c.x - a.x);
}
bool Vec2::intersecting(const Vec2& a, const Vec2& b, const Vec2& c, const Vec2& d) {
    return (signedArea(a, b, d) > 0.0f) != (signedArea(a, b, c) > 0.0f);
}

namespace {
int signOf(float v) {
    return v > 0.0f ? 1 : (v < 0.0f ? -1 : 0);
}
}  // namespace

bool Vec2::oppositeQuadrant(const Vec2& a, const Vec2& b) {
    const int ax = signOf(a.x), ay = signOf(a.y), bx = signOf(b.x), by = signOf(b.y);
    if (ax == 0 && ay == 0 && bx == 0 && by == 0) return false;
    const bool oppX = ax != bx || ax == 0;
    const bool oppY = ay != by || ay == 0;
    return oppX && oppY;
}

bool Vec2::anchorOutwardD(const Vec2& d, const Vec2& a, const Vec2& b) {
    return d.x * a.x - d.x * b.x + a.y * d.y - d.y * b.y > 0.0f;
}
bool Vec2::anchorOutward(Vec2& d, const Vec2& a, const Vec2& b, bool flag) {
    if (anchorOutwardD(d, a, b) == flag) {
        d = d.negate();
        return true;
    }
    return false;
}
bool Vec2::anchorInward(Vec2& d, const Vec2& a, const Vec2& b) {
    return anchorOutward(d, a, b, true);
}

int Vec2::intersect(const Vec2& a1, const Vec2& a2, const Vec2& b1, const Vec2& b2, Vec2& out, double* ua,
                    double* ub) {
    const float den = (b2.y - b1.y) * (a2.x - a1.x) - (b2.x - b1.x) * (a2.y - a1.y);
    const float na = (b2.x - b1.x) * (a1.y - b1.y) - (b2.y - b1.y) * (a1.x - b1.x);
    const float nb = (a2.x - a1.x) * (a1.y - b1.y) - (a2.y - a1.y) * (a1.x - b1.x);
    if (negligible(na) && negligible(nb) && negligible(den)) {
        out = (a1 + a2) * 0.5f;
        return 2;
    }
    if (negligible(den)) {
        out.setZero();
        return 0;
    }
    const float fa = na / den, fb = nb / den;
    if (ua) *ua = fa;
    if (ub) *ub = fb;
    out = a1 + (a2 - a1) * fa;
    const bool inA = fa >= 0.0f && fa <= 1.0f;
    const bool inB = fb >= 0.0f && fb <= 1.0f;
    if (inA && inB) return 1;
    if (inB) return 3;
    if (inA) return 4;
    return 5;
}

float Vec2::normalize(float* px, float* py) {
    const float len = std::sqrt(*px * *px + *py * *py);
    if (len > Float::epsilon) {
        *px /= len;
        *py /= len;
    }
    return len;
}

Vec2 Vec2::centerToTopLefetPoint(const Vec2& p, const Vec2& size) {
    return Vec2(p.x + size.x / 2.0f, size.y / 2.0f - p.y);
}
Vec2 Vec2::topLeftToCenterPoint(const Vec2& p, const Vec2& size) {
    return Vec2(p.x - size.x / 2.0f, size.y / 2.0f - p.y);
}

// ---------------------------------------------------------------- Vec3

void Vec3::set(float nx, float ny, float nz) {
    x = nx;
    y = ny;
    z = nz;
}
void Vec3::set(const Vec2& v, float nz) {
    set(v.x, v.y, nz);
}
void Vec3::set(int i, float v) {
    if (i == 0)
        x = v;
    else if (i == 1)
        y = v;
    else
        z = v;
}
void Vec3::setZero() {
    x = y = z = 0.0f;
}

Vec3& Vec3::add(const Vec3& v) {
    x += v.x;
    y += v.y;
    z += v.z;
    return *this;
}
Vec3& Vec3::add(float s) {
    x += s;
    y += s;
    z += s;
    return *this;
}
Vec3& Vec3::sub(const Vec3& v) {
    x -= v.x;
    y -= v.y;
    z -= v.z;
    return *this;
}
Vec3& Vec3::sub(float s) {
    x -= s;
    y -= s;
    z -= s;
    return *this;
}
Vec3& Vec3::mult(const Vec3& v) {
    x *= v.x;
    y *= v.y;
    z *= v.z;
    return *this;
}
Vec3& Vec3::mult(float s) {
    x *= s;
    y *= s;
    z *= s;
    return *this;
}
Vec3& Vec3::divide(const Vec3& v) {
    x /= v.x;
    y /= v.y;
    z /= v.z;
    return *this;
}
Vec3& Vec3::divide(float s) {
    x /= s;
    y /= s;
    z /= s;
    return *this;
}

Vec3 Vec3::operator+(const Vec3& v) const {
    return Vec3(*this).add(v);
}
Vec3 Vec3::operator+(float s) const {
    return Vec3(*this).add(s);
}
Vec3 Vec3::operator-(const Vec3& v) const {
    return Vec3(*this).sub(v);
}
Vec3 Vec3::operator-(float s) const {
    return Vec3(*this).sub(s);
}
Vec3 Vec3::operator*(const Vec3& v) const {
    return Vec3(*this).mult(v);
}
Vec3 Vec3::operator*(float s) const {
    return Vec3(*this).mult(s);
}
Vec3 Vec3::operator/(const Vec3& v) const {
    return Vec3(*this).divide(v);
}
Vec3 Vec3::operator/(float s) const {
    return Vec3(*this).divide(s);
}
Vec3& Vec3::operator+=(const Vec3& v) {
    return add(v);
}
Vec3& Vec3::operator+=(float s) {
    return add(s);
}
Vec3& Vec3::operator-=(const Vec3& v) {
    return sub(v);
}
Vec3& Vec3::operator-=(float s) {
    return sub(s);
}
Vec3& Vec3::operator*=(const Vec3& v) {
    return mult(v);
}
Vec3& Vec3::operator*=(float s) {
    return mult(s);
}
Vec3& Vec3::operator/=(const Vec3& v) {
    return divide(v);
}
Vec3& Vec3::operator/=(float s) {
    return divide(s);
}

Vec3 Vec3::negate() const {
    return Vec3(-x, -y, -z);
}
Vec3& Vec3::setNegate() {
    *this = negate();
    return *this;
}
Vec3 Vec3::invert() const {
    return Vec3(1.0f / x, 1.0f / y, 1.0f / z);
}
Vec3& Vec3::setInvert() {
    *this = invert();
    return *this;
}
float Vec3::dot(const Vec3& v) const {
    return x * v.x + y * v.y + z * v.z;
}
float Vec3::lengthSquare() const {
    return dot(*this);
}
float Vec3::length() const {
    return std::sqrt(lengthSquare());
}
float Vec3::distance(const Vec3& v) const {
    return std::sqrt(distanceSquare(v));
}
float Vec3::distanceSquare(const Vec3& v) const {
    return (*this - v).lengthSquare();
}
Vec3& Vec3::setLength(float l) {
    if (isZero()) {
        x = l;
        return *this;
    }
    return mult(l / length());
}
Vec3& Vec3::normalize() {
    return setLength(1.0f);
}

bool Vec3::equal(const Vec3& v, float tol) const {
    return distanceSquare(v) <= tol * tol;
}
bool Vec3::operator==(const Vec3& v) const {
    return equal(v, Float::epsilon);
}
bool Vec3::operator!=(const Vec3& v) const {
    return !equal(v, Float::epsilon);
}
bool Vec3::isZero() const {
    return x == 0.0f && y == 0.0f && z == 0.0f;
}

Vec3& Vec3::getMin(const Vec3& v) {
    x = std::min(x, v.x);
    y = std::min(y, v.y);
    z = std::min(z, v.z);
    return *this;
}
Vec3& Vec3::getMax(const Vec3& v) {
    x = std::max(x, v.x);
    y = std::max(y, v.y);
    z = std::max(z, v.z);
    return *this;
}
Vec3& Vec3::clamp(const Vec3& lo, const Vec3& hi) {
    x = x < lo.x ? lo.x : std::min(x, hi.x);
    y = y < lo.y ? lo.y : std::min(y, hi.y);
    z = z < lo.z ? lo.z : std::min(z, hi.z);
    return *this;
}
Vec3 Vec3::lerp(const Vec3& a, const Vec3& b, float t) {
    return a * (1.0f - t) + b * t;
}

int Vec3::largestAbsComponent() const {
    const float ax = std::fabs(x), ay = std::fabs(y), az = std::fabs(z);
    if (ax > ay && ax > az) return 0;
    return ay > az ? 1 : 2;
}
Vec3 Vec3::cross(const Vec3& v) const {
    return Vec3(y * v.z - z * v.y, z * v.x - x * v.z, x * v.y - y * v.x);
}
float Vec3::angleBetween(const Vec3& v) const {
    const double d = double(x) * v.x + double(y) * v.y + double(z) * v.z;
    const double la = std::sqrt(double(x) * x + double(y) * y + double(z) * z);
    const double lb = std::sqrt(double(v.x) * v.x + double(v.y) * v.y + double(v.z) * v.z);
    double c = d / (la * lb);
    // Rounding can push the cosine of (anti)parallel vectors just past ±1,
    // where acos gives NaN.
    if (c > 1.0) c = 1.0;
    if (c < -1.0) c = -1.0;
    return float(std::acos(c));
}
Vec3 Vec3::floor() const {
    return Vec3(std::floor(x), std::floor(y), std::floor(z));
}
Vec2 Vec3::getVec2() const {
    return Vec2(x, y);
}
Vec3& Vec3::ortho(const Vec3& v) {
    const int i = largestAbsComponent();
    // The axis follows this vector's largest component. When v runs along
    // that axis the cross product vanishes and the result would not be
    // perpendicular to v, so the next axes are tried in turn.
    int axisIndex = i == 0 ? 2 : i - 1;
    Vec3 c;
    for (int tries = 0; tries < 3; ++tries, axisIndex = (axisIndex + 1) % 3) {
        Vec3 axis;
        axis.set(axisIndex, 1.0f);
        c = v.cross(axis);
        if (!c.isZero()) break;
    }
    *this = c;
    return normalize();
}
Vec3 Vec3::rotationalDifference(const Vec3& v) const {
    return Vec3(cyclicDifference(x, v.x, 0.0f), cyclicDifference(y, v.y, 0.0f),
                cyclicDifference(z, v.z, 0.0f));
}

Vec3& Vec3::applyMatrix4(const Mat4& mat) {
    const float* m = mat.m;
    const float px = x, py = y, pz = z;
    x = m[0] * px + m[4] * py + m[8] * pz + m[12];
    y = m[1] * px + m[5] * py + m[9] * pz + m[13];
    z = m[2] * px + m[6] * py + m[10] * pz + m[14];
    return *this;
}
Vec3& Vec3::applyProjection(const Mat4& mat) {
    const float* m = mat.m;
    const float w = m[3] * x + m[7] * y + m[11] * z + m[15];
    applyMatrix4(mat);
    return divide(w);
}
Vec3& Vec3::transformDirection(const Mat4& mat) {
    const float* m = mat.m;
    const float px = x, py = y, pz = z;
    x = m[0] * px + m[4] * py + m[8] * pz;
    y = m[1] * px + m[5] * py + m[9] * pz;
    z = m[2] * px + m[6] * py + m[10] * pz;
    return normalize();
}
Vec3& Vec3::applyQuaternion(const Quaternion& q) {
    // q·(v, 0), then times the conjugate of q.
    const float ix = q.w * x + q.y * z - q.z * y;
    const float iy = q.w * y + q.z * x - q.x * z;
    const float iz = q.w * z + q.x * y - q.y * x;
    const float iw = -q.x * x - q.y * y - q.z * z;
    x = ix * q.w + iw * -q.x + iy * -q.z - iz * -q.y;
    y = iy * q.w + iw * -q.y + iz * -q.x - ix * -q.z;
    z = iz * q.w + iw * -q.z + ix * -q.y - iy * -q.x;
    return *this;
}

void Vec3::fromArray(const float* a, int offset) {
    set(a[offset], a[offset + 1], a[offset + 2]);
}
void Vec3::toArray(float* a, int offset) const {
    a[offset] = x;
    a[offset + 1] = y;
    a[offset + 2] = z;
}
void Vec3::setFromMatrixColumn(const Mat4& m, int i) {
    fromArray(m.m, 4 * i);
}
void Vec3::setFromMatrixPosition(const Mat4& m) {
    fromArray(m.m, 12);
}

float cyclicDifference(float a, float b, float period) {
    const float d = a - b;
    if (d > period / 2.0f) return d - period;
    if (d < -period / 2.0f) return d + period;
    return d;
}

// ---------------------------------------------------------------- Vec4

void Vec4::set(float nx, float ny, float nz, float nw) {
    x = nx;
    y = ny;
    z = nz;
    w = nw;
}
void Vec4::setZero() {
    x = y = z = w = 0.0f;
}

Vec4& Vec4::add(const Vec4& v) {
    x += v.x;
    y += v.y;
    z += v.z;
    w += v.w;
    return *this;
}
Vec4& Vec4::add(float s) {
    x += s;
    y += s;
    z += s;
    w += s;
    return *this;
}
Vec4& Vec4::sub(const Vec4& v) {
    x -= v.x;
    y -= v.y;
    z -= v.z;
    w -= v.w;
    return *this;
}
Vec4& Vec4::sub(float s) {
    x -= s;
    y -= s;
    z -= s;
    w -= s;
    return *this;
}
Vec4& Vec4::mult(const Vec4& v) {
    x *= v.x;
    y *= v.y;
    z *= v.z;
    w *= v.w;
    return *this;
}
Vec4& Vec4::mult(float s) {
    x *= s;
    y *= s;
    z *= s;
    w *= s;
    return *this;
}
Vec4& Vec4::divide(const Vec4& v) {
    x /= v.x;
    y /= v.y;
    z /= v.z;
    w /= v.w;
    return *this;
}
Vec4& Vec4::divide(float s) {
    x /= s;
    y /= s;
    z /= s;
    w /= s;
    return *this;
}

Vec4 Vec4::operator+(const Vec4& v) const {
    return Vec4(*this).add(v);
}
Vec4 Vec4::operator+(float s) const {
    return Vec4(*this).add(s);
}
Vec4 Vec4::operator-(const Vec4& v) const {
    return Vec4(*this).sub(v);
}
Vec4 Vec4::operator-(float s) const {
    return Vec4(*this).sub(s);
}
Vec4 Vec4::operator*(const Vec4& v) const {
    return Vec4(*this).mult(v);
}
Vec4 Vec4::operator*(float s) const {
    return Vec4(*this).mult(s);
}
Vec4 Vec4::operator/(const Vec4& v) const {
    return Vec4(*this).divide(v);
}
Vec4 Vec4::operator/(float s) const {
    return Vec4(*this).divide(s);
}
Vec4& Vec4::operator+=(const Vec4& v) {
    return add(v);
}
Vec4& Vec4::operator+=(float s) {
    return add(s);
}
Vec4& Vec4::operator-=(const Vec4& v) {
    return sub(v);
}
Vec4& Vec4::operator-=(float s) {
    return sub(s);
}
Vec4& Vec4::operator*=(const Vec4& v) {
    return mult(v);
}
Vec4& Vec4::operator*=(float s) {
    return mult(s);
}
Vec4& Vec4::operator/=(const Vec4& v) {
    return divide(v);
}
Vec4& Vec4::operator/=(float s) {
    return divide(s);
}

Vec4 Vec4::negate() const {
    return Vec4(-x, -y, -z, -w);
}
Vec4 Vec4::invert() const {
    return Vec4(1.0f / x, 1.0f / y, 1.0f / z, 1.0f / w);
}
float Vec4::dot(const Vec4& v) const {
    return x * v.x + y * v.y + z * v.z + w * v.w;
}
float Vec4::lengthSquare() const {
    return dot(*this);
}
float Vec4::length() const {
    return std::sqrt(lengthSquare());
}
float Vec4::lengthManhattan() const {
    return std::fabs(x) + std::fabs(y) + std::fabs(z) + std::fabs(w);
}
float Vec4::distance(const Vec4& v) const {
    return (*this - v).length();
}
Vec4& Vec4::setLength(float l) {
    if (isZero()) {
        x = l;
        return *this;
    }
    return mult(l / length());
}
Vec4& Vec4::normalize() {
    return setLength(1.0f);
}

bool Vec4::equal(const Vec4& v, float tol) const {
    return (*this - v).lengthSquare() < tol * tol;
}
bool Vec4::operator==(const Vec4& v) const {
    return equal(v, Float::epsilon);
}
bool Vec4::operator!=(const Vec4& v) const {
    return !equal(v, Float::epsilon);
}
bool Vec4::isZero() const {
    return x == 0.0f && y == 0.0f && z == 0.0f && w == 0.0f;
}

Vec4 Vec4::lerp(const Vec4& a, const Vec4& b, float t) {
    if (t == 0.0f) return a;
    if (t == 1.0f) return b;
    const float cosT = a.dot(b) / (a.length() * b.length());
    if (cosT < 0.0f) return lerp(a, b.negate(), t);
    float wa, wb;
    if (1.0 - double(cosT) < double(0.01f)) {
        wa = 1.0f - t;
        wb = t;
    } else {
        const float theta = std::acos(cosT);
        const float s = std::sin(theta);
        wa = std::sin((1.0f - t) * theta) / s;
        wb = std::sin(t * theta) / s;
    }
    return (a * wa + b * wb).normalize();
}
Vec3 Vec4::getVec3() const {
    return Vec3(x, y, z);
}

// ---------------------------------------------------------------- Box3

Box3::Box3() {
    makeEmpty();
}

void Box3::set(const Vec3& lo, const Vec3& hi) {
    min = lo;
    max = hi;
}
void Box3::setFromCenterAndSize(const Vec3& centre, const Vec3& size) {
    const Vec3 half = size / 2.0f;
    min = centre - half;
    max = centre + half;
}
void Box3::setFromArray(const float* a, int n) {
    makeEmpty();
    // Only whole points are read, so a count that is not a multiple of 3
    // never reads past the array.
    for (int i = 0; i + 2 < n; i += 3) expandByPoint(Vec3(a[i], a[i + 1], a[i + 2]));
}
void Box3::setFromPoints(const Vec3* points, int n) {
    makeEmpty();
    if (!points || n == 0) return;
    min = max = points[0];
    for (int i = 1; i < n; ++i) expandByPoint(points[i]);
}
void Box3::makeEmpty() {
    min = Vec3(Float::max);
    max = Vec3(-Float::max);
}
bool Box3::isEmpty() const {
    return min.x > max.x || min.y > max.y || min.z > max.z || (min.isZero() && max.isZero());
}

void Box3::expandByPoint(const Vec3& p) {
    min.getMin(p);
    max.getMax(p);
}
void Box3::expandByVector(const Vec3& v) {
    min -= v;
    max += v;
}
void Box3::expandByScalar(float s) {
    min -= s;
    max += s;
}
Vec3 Box3::getCenter() const {
    return (min + max) / 2.0f;
}
Vec3 Box3::getSize() const {
    return max - min;
}
bool Box3::containsPoint(const Vec3& p) const {
    return min.x <= p.x && p.x <= max.x && min.y <= p.y && p.y <= max.y && min.z <= p.z && p.z <= max.z;
}
bool Box3::containsBox(const Box3& b) const {
    return min.x <= b.min.x && b.max.x <= max.x && min.y <= b.min.y && b.max.y <= max.y && min.z <= b.min.z &&
           b.max.z <= max.z;
}
bool Box3::intersectsBox(const Box3& b) const {
    return !(min.x > b.max.x || b.min.x > max.x || min.y > b.max.y || b.min.y > max.y || min.z > b.max.z ||
             b.min.z > max.z);
}
Vec3 Box3::getParameter(const Vec3& p) const {
    return (p - min) / (max - min);
}
Vec3 Box3::clampPoint(const Vec3& p) const {
    return Vec3(p).clamp(min, max);
}
float Box3::distanceToPoint(const Vec3& p) const {
    return (clampPoint(p) - p).length();
}
void Box3::intersects(const Box3& b) {
    min.getMax(b.min);
    max.getMin(b.max);
    if (isEmpty()) makeEmpty();
}
void Box3::unionBox(const Box3& b) {
    min.getMin(b.min);
    max.getMax(b.max);
}
void Box3::translate(const Vec3& v) {
    min += v;
    max += v;
}
bool Box3::operator==(const Box3& b) const {
    return min == b.min && max == b.max;
}
bool Box3::operator!=(const Box3& b) const {
    return !(*this == b);
}

}  // namespace Core
}  // namespace Quorvane
