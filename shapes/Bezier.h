// Curve segments of a path: the straight segment Line (order 1), the quadratic
// or cubic Bezier (a Line of higher order) and the static curve numerics of
// BezierUtil. Coordinates are in the caller's pixel space, t runs over [0, 1],
// rotate angles are in degrees.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "core/Matrix.h"
#include "core/Rect.h"
#include "core/Vector.h"
#include "shapes/CacheableObject.h"

namespace Quorvane {
namespace Core {

class Bezier;

class Line : public CacheableObject {
public:
    Line();
    Line(float x0, float y0, float x1, float y1);
    Line(const Vec2& a, const Vec2& b);
    // The first two points; fewer (or null) throw std::out_of_range.
    explicit Line(const std::vector<Vec2>* points);

    // Bounding box and arc length.
    void cache() override;
    virtual ~Line();
    virtual Rect getBbox();
    virtual Vec2 get(float t);
    // Throws std::out_of_range past the last point.
    virtual Vec2 point(int index) const;
    virtual Line* duplicate() const;
    virtual bool on(const Vec2& p, float* t, float tolerance);
    virtual Vec2 project(const Vec2& p, float* t, float* distance);
    virtual Vec2 normal(float t);
    virtual bool overlaps(Line* other);
    virtual float length();
    // Two new segments owned by the caller.
    virtual std::pair<Line*, Line*> split(float t);
    virtual void transform(const Affine& m);
    virtual void offset(const Vec2& d);
    virtual void rotate(const Vec2& centre, float degrees);
    virtual void scale(float factor);
    // A smoothstep of the position of x between the ends; -1 before the
    // segment's x range, 2 after it.
    virtual float getTForX(float x, int steps);
    // Crossing points with a line, or (t here, t there) pairs with a curve.
    virtual void intersects(Line* other, std::vector<Vec2>* out);

    // (0, 0) for a segment without points.
    Vec2 startPoint() const { return mPoints.empty() ? Vec2() : mPoints.front(); }
    Vec2 lastPoint() const { return mPoints.empty() ? Vec2() : mPoints.back(); }
    std::vector<Vec2>* getPoints() { return &mPoints; }
    int getOrder() const { return mOrder; }
    float getT1() const { return mT1; }
    void setT1(float t) { mT1 = t; }
    float getT2() const { return mT2; }
    void setT2(float t) { mT2 = t; }
    // The piece between the two parameters, owned by the caller.
    Line* subline(float from, float to);

protected:
    Line(const Line& other) = default;
    Line& operator=(const Line&) = delete;
    void transformed();

    std::vector<Vec2> mPoints;
    int32_t mOrder = 1;
    float mT1 = 0.0f;
    float mT2 = 1.0f;
    Rect mBbox;
    float mLength = 0.0f;
};

class Bezier : public Line {
public:
    // Quadratic.
    Bezier(float x0, float y0, float x1, float y1, float x2, float y2);
    Bezier(const Vec2& p0, const Vec2& p1, const Vec2& p2);
    // Cubic.
    Bezier(float x0, float y0, float x1, float y1, float x2, float y2, float x3, float y3);
    Bezier(const Vec2& p0, const Vec2& p1, const Vec2& p2, const Vec2& p3);
    // Three points make a quadratic, four or more a cubic of the first four;
    // fewer (or null) throw std::out_of_range.
    explicit Bezier(const std::vector<Vec2>* points);
    ~Bezier() override;

    // Derivative points, bounding box by extrema, arc length by quadrature.
    void cache() override;
    Rect getBbox() override;
    Vec2 get(float t) override;
    Vec2 point(int index) const override;
    Line* duplicate() const override;
    bool on(const Vec2& p, float* t, float tolerance) override;
    Vec2 project(const Vec2& p, float* t, float* distance) override;
    Vec2 normal(float t) override;
    bool overlaps(Line* other) override;
    float length() override;
    std::pair<Line*, Line*> split(float t) override;
    void transform(const Affine& m) override;
    void offset(const Vec2& d) override;
    void rotate(const Vec2& centre, float degrees) override;
    void scale(float factor) override;
    float getTForX(float x, int steps) override;
    void intersects(Line* other, std::vector<Vec2>* out) override;

    Vec2 compute(float t) const;
    Vec2 derivative(float t);
    static Vec2 derivative(float t, Bezier* curve);
    bool computeDirection() const;
    const std::vector<Vec2>& getLut(int steps);
    // The de Casteljau triangle at t, level by level.
    void hull(float t, std::vector<Vec2>* out) const;
    void extrema(std::vector<float> roots[2], std::vector<float>* values);
    void inflections(std::vector<float>* out);
    static void getABC(int n, const Vec2& start, const Vec2& through, const Vec2& end, Vec2* a, Vec2* b,
                       Vec2* c, float t);
    static Bezier* quadraticFromPoints(const Vec2& p1, const Vec2& p2, const Vec2& p3, float t);
    static Bezier* cubicFromPoints(const Vec2& s, const Vec2& b, const Vec2& e, float t);
    bool simple();
    // The same curve one order higher; null for a cubic (no quartic segments).
    Bezier* raise() const;
    // Pieces owned by the caller.
    void reduce(std::vector<Bezier*>* out);
    void lineCurveIntersects(const Vec2& a, const Vec2& b, std::vector<Vec2>* out);
    static void curveIntersects(std::vector<Bezier*>* c1, std::vector<Bezier*>* c2, std::vector<Vec2>* out);
    void selfIntersects(std::vector<Vec2>* out);

private:
    Bezier(const Bezier& other) = delete;
    void init(const std::vector<Vec2>& points);
    void freeDerivatives();

    // Level 0 the first derivative's control points, down to one point.
    std::vector<std::vector<Vec2>*> mDpoints;
    std::vector<Vec2> mLut;
};

class BezierUtil {
public:
    BezierUtil() = delete;
    using DerivativeFn = Vec2 (*)(float t, Bezier* curve);

    // 24-point Gauss-Legendre abscissae and weights on [-1, 1].
    static const float mTvalues[24];
    static const float mCvalues[24];

    static float arcfn(float t, DerivativeFn derivative, Bezier* curve);
    static float length(DerivativeFn derivative, Bezier* curve);
    static bool approximately(float a, float b, float precision);
    static bool between(float v, float min, float max);
    // Signed angle (radians) from origin->a to origin->b.
    static float angle(const Vec2& origin, const Vec2& a, const Vec2& b);
    static void closest(const std::vector<Vec2>* points, const Vec2& p, float* distance, int* index);
    static float abcratio(float t, int n);
    static float abcratio(int n) { return abcratio(0.5f, n); }
    static float projection_ratio(float t, int n);
    static float projection_ratio(int n) { return projection_ratio(0.5f, n); }
    static bool lli8(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4,
                     Vec2* out);
    static bool lli4(const Vec2& p1, const Vec2& p2, const Vec2& p3, const Vec2& p4, Vec2* out);
    static Bezier* makeline(const Vec2& p1, const Vec2& p2);
    static Rect find_bbox(const std::vector<Bezier*>* curves);
    static void align(const std::vector<Vec2>* points, const Vec2& p1, const Vec2& p2,
                      std::vector<Vec2>* out);
    static void inflection(const std::vector<Vec2>* points, std::vector<float>* out);
    // Recursion stops after kMaxPairDepth halvings (curves with huge or
    // non-finite coordinates never get small) and after kMaxPairVisits
    // pairs in all (overlapping curves meet everywhere, and the pairs to
    // visit double with every level).
    static void pair_iteration(Bezier* c1, Bezier* c2, std::vector<Vec2>* out);
    static constexpr int kMaxPairDepth = 24;
    static constexpr int kMaxPairVisits = 20000;
    static void droots(const std::vector<float>* values, std::vector<float>* out);
    static void roots(const std::vector<Vec2>* points, const Vec2& p1, const Vec2& p2,
                      std::vector<float>* out);
};

}  // namespace Core
}  // namespace Quorvane
