#include "core/Rect.h"

#include <algorithm>
#include <cmath>

namespace Quorvane {
namespace Core {

// ---------------------------------------------------------------- Rect

Vec2 Rect::getPoint() const {
    return Vec2(x, y);
}
void Rect::setPoint(const Vec2& p) {
    x = p.x;
    y = p.y;
}
Vec2 Rect::getSize() const {
    return Vec2(width, height);
}
void Rect::setSize(const Vec2& s) {
    width = s.x;
    height = s.y;
}

float Rect::getLeft() const {
    return x;
}
void Rect::setLeft(float v) {
    x = v;
}
float Rect::getTop() const {
    return y;
}
void Rect::setTop(float v) {
    y = v;
}
float Rect::getRight() const {
    return x + width;
}
void Rect::setRight(float v) {
    width = v - x;
}
float Rect::getBottom() const {
    return y + height;
}
void Rect::setBottom(float v) {
    height = v - y;
}
float Rect::getCenterX() const {
    return x + width / 2.0f;
}
void Rect::setCenterX(float v) {
    x = v - width / 2.0f;
}
float Rect::getCenterY() const {
    return y + height / 2.0f;
}
void Rect::setCenterY(float v) {
    y = v - height / 2.0f;
}
Vec2 Rect::getCenter() const {
    return Vec2(getCenterX(), getCenterY());
}
void Rect::setCenter(const Vec2& c) {
    setCenterX(c.x);
    setCenterY(c.y);
}

Vec2 Rect::getTopLeft() const {
    return Vec2(x, y);
}
Vec2 Rect::getTopRight() const {
    return Vec2(x + width, y);
}
Vec2 Rect::getBottomLeft() const {
    return Vec2(x, y + height);
}
Vec2 Rect::getBottomRight() const {
    return Vec2(x + width, y + height);
}
float Rect::getArea() const {
    return width * height;
}
bool Rect::isEmpty() const {
    return width == 0.0f && height == 0.0f;
}

bool Rect::operator==(const Rect& r) const {
    return std::fabs(x - r.x) <= Float::epsilon && std::fabs(y - r.y) <= Float::epsilon &&
           std::fabs(width - r.width) <= Float::epsilon && std::fabs(height - r.height) <= Float::epsilon;
}
bool Rect::operator!=(const Rect& r) const {
    return !(*this == r);
}

bool Rect::containsPoint(const Vec2& p) const {
    return x <= p.x && p.x <= x + width && y <= p.y && p.y <= y + height;
}
bool Rect::containsRect(const Rect& r) const {
    return r.x >= x && r.y >= y && r.x + r.width <= x + width && r.y + r.height <= y + height;
}
bool Rect::intersects(const Rect& r) const {
    return r.x + r.width > x && r.y + r.height > y && x + width > r.x && y + height > r.y;
}
bool Rect::touches(const Rect& r) const {
    return r.x + r.width >= x && r.y + r.height >= y && x + width >= r.x && y + height >= r.y;
}
Rect Rect::intersect(const Rect& r) const {
    const float left = std::max(x, r.x), top = std::max(y, r.y);
    const float right = std::min(x + width, r.x + r.width), bottom = std::min(y + height, r.y + r.height);
    return Rect(left, top, right - left, bottom - top);
}
Rect Rect::unite(const Rect& r) const {
    const float left = std::min(x, r.x), top = std::min(y, r.y);
    const float right = std::max(x + width, r.x + r.width), bottom = std::max(y + height, r.y + r.height);
    return Rect(left, top, right - left, bottom - top);
}
void Rect::include(const Vec2& p) {
    const float left = std::min(x, p.x), top = std::min(y, p.y);
    const float right = std::max(x + width, p.x), bottom = std::max(y + height, p.y);
    *this = Rect(left, top, right - left, bottom - top);
}
Rect Rect::getInclude(const Vec2& p) const {
    Rect r(*this);
    r.include(p);
    return r;
}
Rect Rect::expand(const Vec2& d) const {
    return Rect(x - d.x, y - d.y, width + 2.0f * d.x, height + 2.0f * d.y);
}
Rect Rect::expand(float d) const {
    return expand(Vec2(d, d));
}
Rect Rect::scale(float kx, float ky) const {
    return expand(Vec2(kx * width - width, ky * height - height));
}

// ---------------------------------------------------------------- Barycentric

namespace {
// The weights of q in the triangle p0, p1, p2 for any type with -, dot.
template <typename T, typename Dot>
void weights(const T& p0, const T& p1, const T& p2, const T& q, Dot dot, float& w0, float& w1, float& w2) {
    const T e0 = p1 - p2, e1 = p0 - p2, e2 = q - p2;
    const float d00 = dot(e0, e0), d11 = dot(e1, e1), d01 = dot(e0, e1);
    const float d02 = dot(e0, e2), d12 = dot(e1, e2);
    const float den = d00 * d11 - d01 * d01;
    w0 = (d00 * d12 - d01 * d02) / den;
    w1 = (d11 * d02 - d12 * d01) / den;
    w2 = 1.0f - w0 - w1;
}
template <typename T>
float dotOf(const T& a, const T& b) {
    return a.dot(b);
}
float dotColor(const Color& a, const Color& b) {
    return a.r * b.r + a.g * b.g + a.b * b.b + a.a * b.a;
}
}  // namespace

Barycentric::Barycentric(const Vec2& p0, const Vec2& p1, const Vec2& p2, const Vec2& q) {
    weights(p0, p1, p2, q, dotOf<Vec2>, w0, w1, w2);
}
Barycentric::Barycentric(const Vec3& p0, const Vec3& p1, const Vec3& p2, const Vec3& q) {
    weights(p0, p1, p2, q, dotOf<Vec3>, w0, w1, w2);
}
Barycentric::Barycentric(const Vec4& p0, const Vec4& p1, const Vec4& p2, const Vec4& q) {
    weights(p0, p1, p2, q, dotOf<Vec4>, w0, w1, w2);
}
Barycentric::Barycentric(const Color& p0, const Color& p1, const Color& p2, const Color& q) {
    weights(p0, p1, p2, q, dotColor, w0, w1, w2);
}

bool Barycentric::isInside() const {
    return w0 >= 0.0f && w0 <= 1.0f && w1 >= 0.0f && w1 <= 1.0f && w2 >= 0.0f;
}

Vec2 Barycentric::interpolate(const Vec2& a, const Vec2& b, const Vec2& c) const {
    return a * w0 + b * w1 + c * w2;
}
Vec3 Barycentric::interpolate(const Vec3& a, const Vec3& b, const Vec3& c) const {
    return a * w0 + b * w1 + c * w2;
}
Vec4 Barycentric::interpolate(const Vec4& a, const Vec4& b, const Vec4& c) const {
    return a * w0 + b * w1 + c * w2;
}
Color Barycentric::interpolate(const Color& a, const Color& b, const Color& c) const {
    return a * w0 + b * w1 + c * w2;
}

}  // namespace Core
}  // namespace Quorvane
