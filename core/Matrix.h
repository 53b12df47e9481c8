// Transform values: Affine, the 2D transform of layer geometry in the plane
// (degrees), and Mat4, the 4x4 matrix of every layer, camera and projection
// (OpenGL conventions: column-major storage, column vectors, radians).
#pragma once

#include "core/Rotation.h"
#include "core/Vector.h"

namespace Quorvane {
namespace Core {

// The 2x3 matrix [a c tx; b d ty]: x' = a·x + c·y + tx, y' = b·x + d·y + ty.
// Stored row by row (a, c, tx, b, d, ty); constructors and set take the values
// in the order (a, b, c, d, tx, ty).
class Affine {
public:
    float m[6];

    // The identity when true, all zeros when false.
    explicit Affine(bool identity = true);
    Affine(float a, float b, float c, float d, float tx, float ty);
    Affine(const Affine&) = default;
    Affine& operator=(const Affine&) = default;

    float a() const { return m[0]; }
    float c() const { return m[1]; }
    float tx() const { return m[2]; }
    float b() const { return m[3]; }
    float d() const { return m[4]; }
    float ty() const { return m[5]; }

    void set(float a, float b, float c, float d, float tx, float ty);
    // T(position)·R(deg)·S(scale)·T(-anchor).
    void set(const Vec2& anchor, const Vec2& position, const Vec2& scale, float deg);

    // Replace the whole matrix.
    void setTranslate(float tx, float ty);
    void setScale(float kx, float ky);
    void setSkewX(float deg);
    void setSkewY(float deg);
    void setRotate(float deg);

    // this = o·this (o applied after this).
    void multiply(const Affine& o);
    // this = this·o (o applied before this).
    void premultiply(const Affine& o);
    // this = this·X: the elementary transform acts on a point first.
    void translate(float tx, float ty);
    void scale(float kx, float ky);
    void skewX(float deg);
    void skewY(float deg);
    void rotate(float deg);

    // False, with out untouched, when |determinant| < 1e-6.
    bool inverse(Affine& out) const;
    // The identity when the matrix is singular.
    Affine getInverse() const;
    // Mean length of the two rows of the 2x2 part, rounded to 4 decimals.
    float averageScale() const;

    void transform(Vec2& p) const;
    void transform(float& x, float& y) const;
    void transform(float x, float y, float* ox, float* oy) const;
    Vec2 getTransform(const Vec2& p) const;

    bool operator==(const Affine& o) const;
    bool operator!=(const Affine& o) const;
};

// m[4·c + r] is row r, column c; the translation is m[12..14].
class Mat4 {
public:
    float m[16];

    // The identity when true, all zeros when false.
    explicit Mat4(bool identity = true);
    // The floats in storage order (column by column) when the flag is true,
    // row by row when it is false.
    Mat4(float m0, float m1, float m2, float m3, float m4, float m5, float m6, float m7, float m8, float m9,
         float m10, float m11, float m12, float m13, float m14, float m15, bool storageOrder);
    Mat4(const float* array, bool storageOrder);
    // Note the opposite sense: true makes each vector a row, false a column.
    Mat4(const Vec4& v0, const Vec4& v1, const Vec4& v2, const Vec4& v3, bool rows);
    Mat4(const Mat4&) = default;
    Mat4& operator=(const Mat4&) = default;

    // The sixteen floats given row by row.
    void set(float m00, float m01, float m02, float m03, float m10, float m11, float m12, float m13,
             float m20, float m21, float m22, float m23, float m30, float m31, float m32, float m33);

    void setIdentity();
    static Mat4 identity();
    void setZero();
    void setTranslate(float x, float y, float z);
    void setTranslate(const Vec3& v);
    void setScale(float x, float y, float z);
    void setScale(const Vec3& v);
    // Rotation by angle (radians) about the normalized axis.
    void setRotation(float angle, float x, float y, float z);
    void setRotation(float angle, const Vec3& axis);
    void setXRotation(float angle);
    void setYRotation(float angle);
    void setZRotation(float angle);
    // q is used as given, not normalized.
    void setWithQuaternion(const Quaternion& q);
    void setPerspective(float fovY, float aspect, float near, float far);
    void setFrustum(float left, float right, float bottom, float top, float near, float far);
    // Top before bottom, the reverse of setFrustum.
    void setOrtho(float left, float right, float top, float bottom, float near, float far);
    // Writes only the rotation part (columns 0 to 2, rows 0 to 2).
    void setLookAt(const Vec3& eye, const Vec3& target, const Vec3& up);
    void setLookAt(float eyeX, float eyeY, float eyeZ, float targetX, float targetY, float targetZ, float upX,
                   float upY, float upZ);

    void setRow(int i, const Vec4& v);
    Vec4 getRow(int i) const;
    void setColumn(int i, const Vec4& v);
    Vec4 getColumn(int i) const;
    void setTranspose();
    void transpose(Mat4& out) const;
    float determinant() const;
    // out may be this matrix. When the determinant is exactly 0, out becomes
    // the identity and false is returned.
    bool getInverse(Mat4& out) const;

    // Sets the translation only.
    void position(const Vec3& v);
    // this = this·T, this·S, this·R.
    void translate(float x, float y, float z);
    void translate(const Vec3& v);
    void translate(const Vec4& v);
    void scale(float x, float y, float z);
    void scale(const Vec3& v);
    void scale(const Vec4& v);
    void rotate(float angle, float x, float y, float z);
    void rotate(float angle, const Vec3& axis);
    void rotate(float angle, const Vec4& axis);
    void rotateX(float angle);
    void rotateY(float angle);
    void rotateZ(float angle);

    // out = a·b; out may be a or b.
    static void mult(const Mat4& a, const Mat4& b, Mat4& out);
    // this = this·o
    Mat4& mult(const Mat4& o);
    Mat4 operator*(const Mat4& o) const;
    Vec4 mult(const Vec4& v) const;
    Vec4 operator*(const Vec4& v) const;
    // xyz of M·(v, 1), no division by w.
    Vec3 mult(const Vec3& v) const;
    Vec3 operator*(const Vec3& v) const;
    // xyz of M·(v, 0).
    Vec3 multWithoutTranslate(const Vec3& v) const;
    // xyz of M·(v, 1) divided by its w.
    Vec3 multAndProject(const Vec3& v) const;

    Mat4& add(const Mat4& o);
    Mat4& subtract(const Mat4& o);
    static void add(const Mat4& a, const Mat4& b, Mat4& out);
    static void subtract(const Mat4& a, const Mat4& b, Mat4& out);
    Mat4 operator+(const Mat4& o) const;
    Mat4 operator-(const Mat4& o) const;
    Mat4 operator*(float s) const;
    bool operator==(const Mat4& o) const;
    bool operator!=(const Mat4& o) const;

    float getMaxScaleOnAxis() const;
    void setWithAffine(const Affine& a);
    Affine getAffine() const;

    // T(position)·R(q)·S(scale).
    void compose(const Vec3& position, const Quaternion& q, const Vec3& scale);
    // The layer matrix T(position)·R(q)·S(scale)·T(-anchor).
    void compose(const Vec3& anchor, const Vec3& position, const Quaternion& q, const Vec3& scale);
    void decompose(Vec3& position, Quaternion& q, Vec3& scale) const;
    // Undoes the anchor term of the layer compose.
    void decompose(const Vec3& anchor, Vec3& position, Quaternion& q, Vec3& scale) const;

    // Composition pixels (top-left origin, y down) to the centred, y-up,
    // z-flipped drawing space of a width x height frame.
    static Mat4 getAEToGLConversionMatrix(float width, float height);
};

}  // namespace Core
}  // namespace Quorvane
