#include "core/Matrix.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace Quorvane {
namespace Core {

// ---------------------------------------------------------------- Affine

namespace {
// Storage indices of the six values.
enum { kA = 0, kC = 1, kTx = 2, kB = 3, kD = 4, kTy = 5 };

// l·r as 3x3 matrices whose last row is (0 0 1).
Affine product(const Affine& l, const Affine& r) {
    const float* L = l.m;
    const float* R = r.m;
    return Affine(L[kA] * R[kA] + L[kC] * R[kB],              // a
                  L[kB] * R[kA] + L[kD] * R[kB],              // b
                  L[kA] * R[kC] + L[kC] * R[kD],              // c
                  L[kB] * R[kC] + L[kD] * R[kD],              // d
                  L[kA] * R[kTx] + L[kC] * R[kTy] + L[kTx],   // tx
                  L[kB] * R[kTx] + L[kD] * R[kTy] + L[kTy]);  // ty
}

float tanDeg(float deg) {
    return std::tan(deg * Float::degreesToRadiansFactor);
}
}  // namespace

Affine::Affine(bool identity) {
    std::fill(m, m + 6, 0.0f);
    if (identity) m[kA] = m[kD] = 1.0f;
}
Affine::Affine(float a, float b, float c, float d, float tx, float ty) {
    set(a, b, c, d, tx, ty);
}

void Affine::set(float a, float b, float c, float d, float tx, float ty) {
    m[kA] = a;
    m[kB] = b;
    m[kC] = c;
    m[kD] = d;
    m[kTx] = tx;
    m[kTy] = ty;
}
void Affine::set(const Vec2& anchor, const Vec2& position, const Vec2& scale, float deg) {
    const float r = deg * Float::degreesToRadiansFactor;
    const float c = std::cos(r), s = std::sin(r);
    set(c * scale.x, s * scale.x, -s * scale.y, c * scale.y, position.x, position.y);
    translate(-anchor.x, -anchor.y);
}

void Affine::setTranslate(float tx, float ty) {
    set(1, 0, 0, 1, tx, ty);
}
void Affine::setScale(float kx, float ky) {
    set(kx, 0, 0, ky, 0, 0);
}
void Affine::setSkewX(float deg) {
    set(1, 0, tanDeg(deg), 1, 0, 0);
}
void Affine::setSkewY(float deg) {
    set(1, tanDeg(deg), 0, 1, 0, 0);
}
void Affine::setRotate(float deg) {
    const float r = deg * Float::degreesToRadiansFactor;
    const float c = std::cos(r), s = std::sin(r);
    set(c, s, -s, c, 0, 0);
}

void Affine::multiply(const Affine& o) {
    *this = product(o, *this);
}
void Affine::premultiply(const Affine& o) {
    *this = product(*this, o);
}
void Affine::translate(float tx, float ty) {
    Affine t;
    t.setTranslate(tx, ty);
    premultiply(t);
}
void Affine::scale(float kx, float ky) {
    Affine t;
    t.setScale(kx, ky);
    premultiply(t);
}
void Affine::skewX(float deg) {
    Affine t;
    t.setSkewX(deg);
    premultiply(t);
}
void Affine::skewY(float deg) {
    Affine t;
    t.setSkewY(deg);
    premultiply(t);
}
void Affine::rotate(float deg) {
    Affine t;
    t.setRotate(deg);
    premultiply(t);
}

bool Affine::inverse(Affine& out) const {
    const double a = m[kA], b = m[kB], c = m[kC], d = m[kD], tx = m[kTx], ty = m[kTy];
    const double det = a * d - b * c;
    if (det > -1e-6 && det < 1e-6) return false;
    const double k = 1.0 / det;
    out.set(float(d * k), float(-b * k), float(-c * k), float(a * k), float((c * ty - d * tx) * k),
            float((tx * b - a * ty) * k));
    return true;
}
Affine Affine::getInverse() const {
    Affine r(true);
    inverse(r);
    return r;
}
float Affine::averageScale() const {
    const float row0 = std::sqrt(m[kA] * m[kA] + m[kC] * m[kC]);
    const float row1 = std::sqrt(m[kB] * m[kB] + m[kD] * m[kD]);
    return std::round((row0 + row1) / 2.0f * 10000.0f) / 10000.0f;
}

void Affine::transform(Vec2& p) const {
    transform(p.x, p.y);
}
void Affine::transform(float& x, float& y) const {
    transform(x, y, &x, &y);
}
void Affine::transform(float x, float y, float* ox, float* oy) const {
    const float nx = m[kA] * x + m[kC] * y + m[kTx];
    const float ny = m[kB] * x + m[kD] * y + m[kTy];
    if (ox) *ox = nx;
    if (oy) *oy = ny;
}
Vec2 Affine::getTransform(const Vec2& p) const {
    Vec2 r(p);
    transform(r);
    return r;
}

bool Affine::operator==(const Affine& o) const {
    for (int i = 0; i < 6; ++i)
        if (std::fabs(m[i] - o.m[i]) > Float::epsilon) return false;
    return true;
}
bool Affine::operator!=(const Affine& o) const {
    return !(*this == o);
}

// ---------------------------------------------------------------- Mat4

Mat4::Mat4(bool identity) {
    if (identity)
        setIdentity();
    else
        setZero();
}
Mat4::Mat4(float m0, float m1, float m2, float m3, float m4, float m5, float m6, float m7, float m8, float m9,
           float m10, float m11, float m12, float m13, float m14, float m15, bool storageOrder) {
    const float v[16] = {m0, m1, m2, m3, m4, m5, m6, m7, m8, m9, m10, m11, m12, m13, m14, m15};
    *this = Mat4(v, storageOrder);
}
Mat4::Mat4(const float* array, bool storageOrder) {
    if (storageOrder) {
        std::memcpy(m, array, sizeof(m));
        return;
    }
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) m[4 * c + r] = array[4 * r + c];
}
Mat4::Mat4(const Vec4& v0, const Vec4& v1, const Vec4& v2, const Vec4& v3, bool rows) {
    const Vec4* v[4] = {&v0, &v1, &v2, &v3};
    for (int i = 0; i < 4; ++i) {
        if (rows)
            setRow(i, *v[i]);
        else
            setColumn(i, *v[i]);
    }
}

void Mat4::set(float m00, float m01, float m02, float m03, float m10, float m11, float m12, float m13,
               float m20, float m21, float m22, float m23, float m30, float m31, float m32, float m33) {
    *this = Mat4(m00, m01, m02, m03, m10, m11, m12, m13, m20, m21, m22, m23, m30, m31, m32, m33, false);
}

void Mat4::setIdentity() {
    setZero();
    m[0] = m[5] = m[10] = m[15] = 1.0f;
}
Mat4 Mat4::identity() {
    return Mat4(true);
}
void Mat4::setZero() {
    std::fill(m, m + 16, 0.0f);
}
void Mat4::setTranslate(float x, float y, float z) {
    setIdentity();
    m[12] = x;
    m[13] = y;
    m[14] = z;
}
void Mat4::setTranslate(const Vec3& v) {
    setTranslate(v.x, v.y, v.z);
}
void Mat4::setScale(float x, float y, float z) {
    setIdentity();
    m[0] = x;
    m[5] = y;
    m[10] = z;
}
void Mat4::setScale(const Vec3& v) {
    setScale(v.x, v.y, v.z);
}

void Mat4::setRotation(float angle, float ax, float ay, float az) {
    Vec3 axis(ax, ay, az);
    axis.normalize();
    const float x = axis.x, y = axis.y, z = axis.z;
    const float c = std::cos(angle), s = std::sin(angle), t = 1.0f - c;
    m[0] = t * x * x + c;
    m[4] = t * x * y - s * z;
    m[8] = t * x * z + s * y;
    m[1] = t * x * y + s * z;
    m[5] = t * y * y + c;
    m[9] = t * y * z - s * x;
    m[2] = t * x * z - s * y;
    m[6] = t * y * z + s * x;
    m[10] = t * z * z + c;
    m[3] = m[7] = m[11] = m[12] = m[13] = m[14] = 0.0f;
    m[15] = 1.0f;
}
void Mat4::setRotation(float angle, const Vec3& axis) {
    setRotation(angle, axis.x, axis.y, axis.z);
}
void Mat4::setXRotation(float angle) {
    const float c = std::cos(angle), s = std::sin(angle);
    setIdentity();
    m[5] = c;
    m[6] = s;
    m[9] = -s;
    m[10] = c;
}
void Mat4::setYRotation(float angle) {
    const float c = std::cos(angle), s = std::sin(angle);
    setIdentity();
    m[0] = c;
    m[2] = -s;
    m[8] = s;
    m[10] = c;
}
void Mat4::setZRotation(float angle) {
    const float c = std::cos(angle), s = std::sin(angle);
    setIdentity();
    m[0] = c;
    m[1] = s;
    m[4] = -s;
    m[5] = c;
}

void Mat4::setWithQuaternion(const Quaternion& q) {
    const float x = q.x, y = q.y, z = q.z, w = q.w;
    setIdentity();
    m[0] = 1.0f - 2.0f * (y * y + z * z);
    m[4] = 2.0f * (x * y - z * w);
    m[8] = 2.0f * (x * z + y * w);
    m[1] = 2.0f * (x * y + z * w);
    m[5] = 1.0f - 2.0f * (x * x + z * z);
    m[9] = 2.0f * (y * z - x * w);
    m[2] = 2.0f * (x * z - y * w);
    m[6] = 2.0f * (y * z + x * w);
    m[10] = 1.0f - 2.0f * (x * x + y * y);
}

void Mat4::setPerspective(float fovY, float aspect, float n, float f) {
    const float tangent = std::tan(fovY / 2.0f);
    setZero();
    // No field of view, no aspect or no depth: nothing lies inside, and the
    // zero matrix draws nothing.
    if (tangent == 0.0f || aspect == 0.0f || n == f) return;
    const float k = 1.0f / tangent;
    m[0] = k / aspect;
    m[5] = k;
    m[10] = (f + n) / (n - f);
    m[11] = -1.0f;
    m[14] = 2.0f * n * f / (n - f);
}
void Mat4::setFrustum(float l, float r, float b, float t, float n, float f) {
    setZero();
    // A frustum without width, height or depth (a camera of no field of view,
    // or with its near plane on its far one) holds nothing: the zero matrix
    // sends every vertex to w = 0, which clipping removes.
    if (r == l || t == b || f == n) return;
    m[0] = 2.0f * n / (r - l);
    m[5] = 2.0f * n / (t - b);
    m[8] = (r + l) / (r - l);
    m[9] = (t + b) / (t - b);
    m[10] = -(f + n) / (f - n);
    m[11] = -1.0f;
    m[14] = -2.0f * f * n / (f - n);
}
void Mat4::setOrtho(float l, float r, float t, float b, float n, float f) {
    // A box without width, height or depth (a layer or mask of no size) has
    // no projection: the identity, rather than a matrix of infinities.
    if (r == l || t == b || f == n) {
        setIdentity();
        return;
    }
    setZero();
    m[0] = 2.0f / (r - l);
    m[5] = 2.0f / (t - b);
    m[10] = -2.0f / (f - n);
    m[12] = -(r + l) / (r - l);
    m[13] = -(t + b) / (t - b);
    m[14] = -(f + n) / (f - n);
    m[15] = 1.0f;
}

void Mat4::setLookAt(const Vec3& eye, const Vec3& target, const Vec3& up) {
    Vec3 z = eye - target;
    // Normalizing turns a zero vector into the x axis, so the degenerate
    // cases are caught before normalizing.
    if (z.lengthSquare() == 0.0f) z.z = 1.0f;
    z.normalize();
    Vec3 x = up.cross(z);
    if (x.lengthSquare() == 0.0f) {
        // The up vector runs along the view direction: tilt the view a little.
        z.z += 0.0001f;
        x = up.cross(z);
    }
    x.normalize();
    const Vec3 y = z.cross(x);
    m[0] = x.x;
    m[1] = x.y;
    m[2] = x.z;
    m[4] = y.x;
    m[5] = y.y;
    m[6] = y.z;
    m[8] = z.x;
    m[9] = z.y;
    m[10] = z.z;
}
void Mat4::setLookAt(float eyeX, float eyeY, float eyeZ, float targetX, float targetY, float targetZ,
                     float upX, float upY, float upZ) {
    setLookAt(Vec3(eyeX, eyeY, eyeZ), Vec3(targetX, targetY, targetZ), Vec3(upX, upY, upZ));
}

void Mat4::setRow(int i, const Vec4& v) {
    m[i] = v.x;
    m[i + 4] = v.y;
    m[i + 8] = v.z;
    m[i + 12] = v.w;
}
Vec4 Mat4::getRow(int i) const {
    return Vec4(m[i], m[i + 4], m[i + 8], m[i + 12]);
}
void Mat4::setColumn(int i, const Vec4& v) {
    m[4 * i] = v.x;
    m[4 * i + 1] = v.y;
    m[4 * i + 2] = v.z;
    m[4 * i + 3] = v.w;
}
Vec4 Mat4::getColumn(int i) const {
    return Vec4(m[4 * i], m[4 * i + 1], m[4 * i + 2], m[4 * i + 3]);
}
void Mat4::setTranspose() {
    Mat4 t(false);
    transpose(t);
    *this = t;
}
void Mat4::transpose(Mat4& out) const {
    const Mat4 src(*this);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) out.m[4 * c + r] = src.m[4 * r + c];
}

namespace {
// Adjugate (transposed cofactors) of a 4x4 matrix; the layout is symmetric
// under transposition, so it serves column-major storage as it stands.
void adjugate(const float* a, float* inv) {
    inv[0] = a[5] * a[10] * a[15] - a[5] * a[11] * a[14] - a[9] * a[6] * a[15] + a[9] * a[7] * a[14] +
             a[13] * a[6] * a[11] - a[13] * a[7] * a[10];
    inv[4] = -a[4] * a[10] * a[15] + a[4] * a[11] * a[14] + a[8] * a[6] * a[15] - a[8] * a[7] * a[14] -
             a[12] * a[6] * a[11] + a[12] * a[7] * a[10];
    inv[8] = a[4] * a[9] * a[15] - a[4] * a[11] * a[13] - a[8] * a[5] * a[15] + a[8] * a[7] * a[13] +
             a[12] * a[5] * a[11] - a[12] * a[7] * a[9];
    inv[12] = -a[4] * a[9] * a[14] + a[4] * a[10] * a[13] + a[8] * a[5] * a[14] - a[8] * a[6] * a[13] -
              a[12] * a[5] * a[10] + a[12] * a[6] * a[9];
    inv[1] = -a[1] * a[10] * a[15] + a[1] * a[11] * a[14] + a[9] * a[2] * a[15] - a[9] * a[3] * a[14] -
             a[13] * a[2] * a[11] + a[13] * a[3] * a[10];
    inv[5] = a[0] * a[10] * a[15] - a[0] * a[11] * a[14] - a[8] * a[2] * a[15] + a[8] * a[3] * a[14] +
             a[12] * a[2] * a[11] - a[12] * a[3] * a[10];
    inv[9] = -a[0] * a[9] * a[15] + a[0] * a[11] * a[13] + a[8] * a[1] * a[15] - a[8] * a[3] * a[13] -
             a[12] * a[1] * a[11] + a[12] * a[3] * a[9];
    inv[13] = a[0] * a[9] * a[14] - a[0] * a[10] * a[13] - a[8] * a[1] * a[14] + a[8] * a[2] * a[13] +
              a[12] * a[1] * a[10] - a[12] * a[2] * a[9];
    inv[2] = a[1] * a[6] * a[15] - a[1] * a[7] * a[14] - a[5] * a[2] * a[15] + a[5] * a[3] * a[14] +
             a[13] * a[2] * a[7] - a[13] * a[3] * a[6];
    inv[6] = -a[0] * a[6] * a[15] + a[0] * a[7] * a[14] + a[4] * a[2] * a[15] - a[4] * a[3] * a[14] -
             a[12] * a[2] * a[7] + a[12] * a[3] * a[6];
    inv[10] = a[0] * a[5] * a[15] - a[0] * a[7] * a[13] - a[4] * a[1] * a[15] + a[4] * a[3] * a[13] +
              a[12] * a[1] * a[7] - a[12] * a[3] * a[5];
    inv[14] = -a[0] * a[5] * a[14] + a[0] * a[6] * a[13] + a[4] * a[1] * a[14] - a[4] * a[2] * a[13] -
              a[12] * a[1] * a[6] + a[12] * a[2] * a[5];
    inv[3] = -a[1] * a[6] * a[11] + a[1] * a[7] * a[10] + a[5] * a[2] * a[11] - a[5] * a[3] * a[10] -
             a[9] * a[2] * a[7] + a[9] * a[3] * a[6];
    inv[7] = a[0] * a[6] * a[11] - a[0] * a[7] * a[10] - a[4] * a[2] * a[11] + a[4] * a[3] * a[10] +
             a[8] * a[2] * a[7] - a[8] * a[3] * a[6];
    inv[11] = -a[0] * a[5] * a[11] + a[0] * a[7] * a[9] + a[4] * a[1] * a[11] - a[4] * a[3] * a[9] -
              a[8] * a[1] * a[7] + a[8] * a[3] * a[5];
    inv[15] = a[0] * a[5] * a[10] - a[0] * a[6] * a[9] - a[4] * a[1] * a[10] + a[4] * a[2] * a[9] +
              a[8] * a[1] * a[6] - a[8] * a[2] * a[5];
}
}  // namespace

float Mat4::determinant() const {
    float inv[16];
    adjugate(m, inv);
    return m[0] * inv[0] + m[1] * inv[4] + m[2] * inv[8] + m[3] * inv[12];
}
bool Mat4::getInverse(Mat4& out) const {
    float inv[16];
    adjugate(m, inv);
    const float det = m[0] * inv[0] + m[1] * inv[4] + m[2] * inv[8] + m[3] * inv[12];
    if (det == 0.0f) {
        out.setIdentity();
        return false;
    }
    const float k = 1.0f / det;
    for (int i = 0; i < 16; ++i) out.m[i] = inv[i] * k;
    return true;
}

void Mat4::position(const Vec3& v) {
    m[12] = v.x;
    m[13] = v.y;
    m[14] = v.z;
}
void Mat4::translate(float x, float y, float z) {
    for (int r = 0; r < 4; ++r) m[12 + r] = m[r] * x + m[4 + r] * y + m[8 + r] * z + m[12 + r];
}
void Mat4::translate(const Vec3& v) {
    translate(v.x, v.y, v.z);
}
void Mat4::translate(const Vec4& v) {
    translate(v.x, v.y, v.z);
}
void Mat4::scale(float x, float y, float z) {
    for (int r = 0; r < 4; ++r) {
        m[r] *= x;
        m[4 + r] *= y;
        m[8 + r] *= z;
    }
}
void Mat4::scale(const Vec3& v) {
    scale(v.x, v.y, v.z);
}
void Mat4::scale(const Vec4& v) {
    scale(v.x, v.y, v.z);
}
void Mat4::rotate(float angle, float x, float y, float z) {
    Mat4 r;
    r.setRotation(angle, x, y, z);
    mult(r);
}
void Mat4::rotate(float angle, const Vec3& axis) {
    rotate(angle, axis.x, axis.y, axis.z);
}
void Mat4::rotate(float angle, const Vec4& axis) {
    rotate(angle, axis.x, axis.y, axis.z);
}
void Mat4::rotateX(float angle) {
    Mat4 r;
    r.setXRotation(angle);
    mult(r);
}
void Mat4::rotateY(float angle) {
    Mat4 r;
    r.setYRotation(angle);
    mult(r);
}
void Mat4::rotateZ(float angle) {
    Mat4 r;
    r.setZRotation(angle);
    mult(r);
}

void Mat4::mult(const Mat4& a, const Mat4& b, Mat4& out) {
    float t[16];
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            t[4 * c + r] = a.m[r] * b.m[4 * c] + a.m[4 + r] * b.m[4 * c + 1] + a.m[8 + r] * b.m[4 * c + 2] +
                           a.m[12 + r] * b.m[4 * c + 3];
    std::memcpy(out.m, t, sizeof(t));
}
Mat4& Mat4::mult(const Mat4& o) {
    mult(*this, o, *this);
    return *this;
}
Mat4 Mat4::operator*(const Mat4& o) const {
    Mat4 r(false);
    mult(*this, o, r);
    return r;
}
Vec4 Mat4::mult(const Vec4& v) const {
    return Vec4(m[0] * v.x + m[4] * v.y + m[8] * v.z + m[12] * v.w,
                m[1] * v.x + m[5] * v.y + m[9] * v.z + m[13] * v.w,
                m[2] * v.x + m[6] * v.y + m[10] * v.z + m[14] * v.w,
                m[3] * v.x + m[7] * v.y + m[11] * v.z + m[15] * v.w);
}
Vec4 Mat4::operator*(const Vec4& v) const {
    return mult(v);
}
Vec3 Mat4::mult(const Vec3& v) const {
    return mult(Vec4(v, 1.0f)).getVec3();
}
Vec3 Mat4::operator*(const Vec3& v) const {
    return mult(v);
}
Vec3 Mat4::multWithoutTranslate(const Vec3& v) const {
    return mult(Vec4(v, 0.0f)).getVec3();
}
Vec3 Mat4::multAndProject(const Vec3& v) const {
    const Vec4 r = mult(Vec4(v, 1.0f));
    return r.getVec3() / r.w;
}

Mat4& Mat4::add(const Mat4& o) {
    add(*this, o, *this);
    return *this;
}
Mat4& Mat4::subtract(const Mat4& o) {
    subtract(*this, o, *this);
    return *this;
}
void Mat4::add(const Mat4& a, const Mat4& b, Mat4& out) {
    for (int i = 0; i < 16; ++i) out.m[i] = a.m[i] + b.m[i];
}
void Mat4::subtract(const Mat4& a, const Mat4& b, Mat4& out) {
    for (int i = 0; i < 16; ++i) out.m[i] = a.m[i] - b.m[i];
}
Mat4 Mat4::operator+(const Mat4& o) const {
    Mat4 r(false);
    add(*this, o, r);
    return r;
}
Mat4 Mat4::operator-(const Mat4& o) const {
    Mat4 r(false);
    subtract(*this, o, r);
    return r;
}
Mat4 Mat4::operator*(float s) const {
    Mat4 r(*this);
    for (float& v : r.m) v *= s;
    return r;
}
bool Mat4::operator==(const Mat4& o) const {
    for (int i = 0; i < 16; ++i)
        if (std::fabs(m[i] - o.m[i]) > Float::epsilon) return false;
    return true;
}
bool Mat4::operator!=(const Mat4& o) const {
    return !(*this == o);
}

float Mat4::getMaxScaleOnAxis() const {
    const float sx = m[0] * m[0] + m[1] * m[1] + m[2] * m[2];
    const float sy = m[4] * m[4] + m[5] * m[5] + m[6] * m[6];
    const float sz = m[8] * m[8] + m[9] * m[9] + m[10] * m[10];
    return std::sqrt(std::max(sx, std::max(sy, sz)));
}
void Mat4::setWithAffine(const Affine& a) {
    setIdentity();
    m[0] = a.a();
    m[1] = a.b();
    m[4] = a.c();
    m[5] = a.d();
    m[12] = a.tx();
    m[13] = a.ty();
}
Affine Mat4::getAffine() const {
    return Affine(m[0], m[1], m[4], m[5], m[12], m[13]);
}

void Mat4::compose(const Vec3& position, const Quaternion& q, const Vec3& scale) {
    setWithQuaternion(q);
    this->scale(scale);
    this->position(position);
}
void Mat4::compose(const Vec3& anchor, const Vec3& position, const Quaternion& q, const Vec3& scale) {
    setWithQuaternion(q);
    this->position(position - multWithoutTranslate(anchor * scale));
    // A factor of exactly 1 leaves its column as it is.
    if (scale.x != 1.0f) this->scale(scale.x, 1.0f, 1.0f);
    if (scale.y != 1.0f) this->scale(1.0f, scale.y, 1.0f);
    if (scale.z != 1.0f) this->scale(1.0f, 1.0f, scale.z);
}
void Mat4::decompose(Vec3& position, Quaternion& q, Vec3& scale) const {
    float kx = Vec3(m[0], m[1], m[2]).length();
    const float ky = Vec3(m[4], m[5], m[6]).length();
    const float kz = Vec3(m[8], m[9], m[10]).length();
    if (determinant() < 0.0f) kx = -kx;
    position.set(m[12], m[13], m[14]);
    Mat4 rot(*this);
    const float k[3] = {kx, ky, kz};
    int flat = 0;
    for (int c = 0; c < 3; ++c) {
        if (k[c] == 0.0f) {
            ++flat;
            continue;
        }
        for (int r = 0; r < 4; ++r) rot.m[4 * c + r] /= k[c];
    }
    // An axis scaled to 0 keeps no direction: with one such axis the other
    // two still give the turn (the lost one completes them); with more the
    // turn is the identity's.
    if (flat == 1) {
        for (int c = 0; c < 3; ++c) {
            if (k[c] != 0.0f) continue;
            const int a = 4 * ((c + 1) % 3), b = 4 * ((c + 2) % 3);
            const Vec3 lost = Vec3(rot.m[a], rot.m[a + 1], rot.m[a + 2]).cross(Vec3(rot.m[b], rot.m[b + 1], rot.m[b + 2]));
            rot.m[4 * c] = lost.x;
            rot.m[4 * c + 1] = lost.y;
            rot.m[4 * c + 2] = lost.z;
        }
    }
    if (flat > 1) {
        q = Quaternion();
    } else {
        q.setWithMat4(rot);
    }
    scale.set(kx, ky, kz);
}
void Mat4::decompose(const Vec3& anchor, Vec3& position, Quaternion& q, Vec3& scale) const {
    decompose(position, q, scale);
    position += multWithoutTranslate(anchor);
}

Mat4 Mat4::getAEToGLConversionMatrix(float width, float height) {
    return Mat4(1.0f, 0.0f, 0.0f, -width / 2.0f,   //
                0.0f, -1.0f, 0.0f, height / 2.0f,  //
                0.0f, 0.0f, -1.0f, 0.0f,           //
                0.0f, 0.0f, 0.0f, 1.0f, false);
}

}  // namespace Core
}  // namespace Quorvane
