// Rectangles in composition pixels and barycentric weights in a triangle.
#pragma once

#include "core/Color.h"
#include "core/Vector.h"

namespace Quorvane {
namespace Core {

// Origin at the top left, y growing downwards: the right edge is x + width,
// the bottom edge y + height. Nothing keeps the size non-negative.
struct Rect {
    float x = 0.0f;
    float y = 0.0f;
    float width = 0.0f;
    float height = 0.0f;

    Rect() = default;
    Rect(float x, float y, float width, float height) : x(x), y(y), width(width), height(height) {}
    Rect(const Vec2& point, const Vec2& size) : x(point.x), y(point.y), width(size.x), height(size.y) {}
    Rect(const Rect&) = default;
    Rect& operator=(const Rect&) = default;

    Vec2 getPoint() const;
    void setPoint(const Vec2& p);
    Vec2 getSize() const;
    void setSize(const Vec2& s);

    float getLeft() const;
    // Moves the rect; the width stays.
    void setLeft(float v);
    float getTop() const;
    void setTop(float v);
    float getRight() const;
    // Changes the width.
    void setRight(float v);
    float getBottom() const;
    void setBottom(float v);
    float getCenterX() const;
    void setCenterX(float v);
    float getCenterY() const;
    void setCenterY(float v);
    Vec2 getCenter() const;
    void setCenter(const Vec2& c);

    Vec2 getTopLeft() const;
    Vec2 getTopRight() const;
    Vec2 getBottomLeft() const;
    Vec2 getBottomRight() const;
    float getArea() const;
    // Width and height both exactly 0.
    bool isEmpty() const;

    bool operator==(const Rect& r) const;
    bool operator!=(const Rect& r) const;

    // Edges included.
    bool containsPoint(const Vec2& p) const;
    bool containsRect(const Rect& r) const;
    // Overlap with positive area; a shared edge is not enough.
    bool intersects(const Rect& r) const;
    // Like intersects, but shared edges count.
    bool touches(const Rect& r) const;
    // The overlap; for disjoint rects width or height come out negative.
    Rect intersect(const Rect& r) const;
    Rect unite(const Rect& r) const;
    // Grows this rect in place so that it holds p.
    void include(const Vec2& p);
    Rect getInclude(const Vec2& p) const;
    Rect expand(const Vec2& d) const;
    Rect expand(float d) const;
    // Each side moves out by (k - 1) times the size, so the width becomes
    // (2·kx - 1)·width.
    Rect scale(float kx, float ky) const;
};

// Weights of a point relative to the three vertices of a triangle. A
// degenerate triangle gives infinite or NaN weights.
struct Barycentric {
    float w0 = 0.0f;
    float w1 = 0.0f;
    float w2 = 0.0f;

    Barycentric(float w0, float w1, float w2) : w0(w0), w1(w1), w2(w2) {}
    Barycentric(const Vec2& p0, const Vec2& p1, const Vec2& p2, const Vec2& q);
    Barycentric(const Vec3& p0, const Vec3& p1, const Vec3& p2, const Vec3& q);
    Barycentric(const Vec4& p0, const Vec4& p1, const Vec4& p2, const Vec4& q);
    Barycentric(const Color& p0, const Color& p1, const Color& p2, const Color& q);

    bool isInside() const;

    Vec2 interpolate(const Vec2& a, const Vec2& b, const Vec2& c) const;
    Vec3 interpolate(const Vec3& a, const Vec3& b, const Vec3& c) const;
    Vec4 interpolate(const Vec4& a, const Vec4& b, const Vec4& c) const;
    Color interpolate(const Color& a, const Color& b, const Color& c) const;
};

}  // namespace Core
}  // namespace Quorvane
