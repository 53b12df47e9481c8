// Least-squares fitting of cubic pieces through a strip of points, with
// Newton-Raphson reparameterisation and recursive splitting at the worst
// point (the classic Schneider scheme).
#include <algorithm>
#include <cmath>

#include "core/Log.h"
#include "shapes/Path.h"

namespace Quorvane {
namespace Core {

namespace {

Vec2 Scaled(Vec2 v, float length) {
    v.setLength(length);
    return v;
}

}  // namespace

Path* Path::smoothLineStrip(const std::vector<Vec2>& input, bool closed, float error) {
    if (input.empty()) return nullptr;
    Path* path = new Path();
    if (closed) path->mClosed = true;

    std::vector<Vec2> points;
    for (const Vec2& p : input)
        if (points.empty() || !(p == points.back())) points.push_back(p);
    // A closed strip of one distinct point has nothing to close: it stays a
    // single point (and gives no curve).
    if (closed && points.size() >= 2) {
        if (points.front() == points.back()) points.pop_back();
        if (points.size() >= 2) {
            const Vec2 last = points.back();
            points.insert(points.begin(), last);
            points.push_back(points[1]);
        }
    }

    std::vector<Vec2> controls{points.front()};
    const int n = static_cast<int>(points.size());
    if (n >= 2)
        fitCubic(points, controls, error, 0, n - 1, points[1] - points[0], points[n - 2] - points[n - 1]);

    if (controls.size() >= 4) {
        path->mFirstPoint = controls[0];
        path->mLastPoint = controls[0];
        for (size_t i = 1; i + 2 < controls.size(); i += 3)
            path->bezierTo(controls[i], controls[i + 1], controls[i + 2]);
    }
    if (closed && path->mSegments.size() > 2) {
        delete path->mSegments.back();
        path->mSegments.pop_back();
        path->mLastPoint = path->mSegments.back()->lastPoint();
        path->markDirty();
    }
    QVPrint("C++ CODE: smoothLineStrip优化比例:%f",
            static_cast<double>(static_cast<float>(input.size()) - static_cast<float>(controls.size())) /
                static_cast<double>(input.size()));
    return path;
}

void Path::fitCubic(std::vector<Vec2>& points, std::vector<Vec2>& controls, float error, int first, int last,
                    Vec2 tHat1, Vec2 tHat2) {
    if (last - first <= 1) {
        const float d = points[last].distance(points[first]) / 3.0f;
        addCurve(controls, points[first], points[first] + Scaled(tHat1, d), points[last] + Scaled(tHat2, d),
                 points[last]);
        return;
    }
    std::vector<float> u;
    chordLengthParameterize(points, u, first, last);
    float iterationError = std::max(error, error * error);
    bool reparameterised = true;
    std::vector<Vec2> curve;
    int split = first + (last - first) / 2;
    for (int round = 0; round < 5; ++round) {
        generateBezier(points, curve, first, last, u, tHat1, tHat2);
        const Vec2 worst = findMaxError(points, first, last, curve, u);
        split = static_cast<int>(worst.y);
        if (worst.x < error && reparameterised) {
            addCurve(controls, curve[0], curve[1], curve[2], curve[3]);
            return;
        }
        if (!(worst.x < iterationError)) break;
        reparameterised = reparameterize(points, first, last, curve, u);
        iterationError = worst.x;
    }
    // The split point must be an inner point, or the recursion would not
    // shrink (a zero or not-a-number error bound, or non-finite points).
    split = std::min(last - 1, std::max(first + 1, split));
    const Vec2 tCenter = points[split - 1] - points[split + 1];
    fitCubic(points, controls, error, first, split, tHat1, tCenter);
    fitCubic(points, controls, error, split, last, tCenter.negate(), tHat2);
}

void Path::chordLengthParameterize(std::vector<Vec2>& points, std::vector<float>& u, int first, int last) {
    u.assign(static_cast<size_t>(last - first + 1), 0.0f);
    for (int i = 1; i <= last - first; ++i)
        u[i] = u[i - 1] + points[first + i].distance(points[first + i - 1]);
    if (last > first) {
        const float total = u.back();
        for (float& v : u) v /= total;
    }
}

void Path::generateBezier(std::vector<Vec2>& points, std::vector<Vec2>& curve, int first, int last,
                          const std::vector<float>& u, Vec2 tHat1, Vec2 tHat2) {
    const Vec2 p0 = points[first], p3 = points[last];
    float c11 = 0, c12 = 0, c22 = 0, x1 = 0, x2 = 0;
    for (int i = 0; i <= last - first; ++i) {
        const float t = u[i], s = 1 - t;
        const float b0 = s * s * s, b1 = 3 * t * s * s, b2 = 3 * t * t * s, b3 = t * t * t;
        const Vec2 a1 = Scaled(tHat1, b1), a2 = Scaled(tHat2, b2);
        const Vec2 tmp = points[first + i] - p0 * (b0 + b1) - p3 * (b2 + b3);
        c11 += a1.dot(a1);
        c12 += a1.dot(a2);
        c22 += a2.dot(a2);
        x1 += a1.dot(tmp);
        x2 += a2.dot(tmp);
    }
    const float det = c11 * c22 - c12 * c12;
    float alphaL = 0, alphaR = 0;
    if (std::fabs(det) > Float::epsilon) {
        alphaL = (c22 * x1 - c12 * x2) / det;
        alphaR = (c11 * x2 - c12 * x1) / det;
    } else {
        float c = c11 + c12;
        if (std::fabs(c) > Float::epsilon) {
            alphaL = alphaR = x1 / c;
        } else {
            c = c22 + c12;
            if (std::fabs(c) > Float::epsilon) alphaL = alphaR = x2 / c;
        }
    }
    const float segLength = p3.distance(p0);
    const float eps = Float::epsilon * segLength;
    Vec2 offset1, offset2;
    if (alphaL < eps || alphaR < eps) {
        offset1 = Scaled(tHat1, segLength / 3);
        offset2 = Scaled(tHat2, segLength / 3);
    } else {
        offset1 = Scaled(tHat1, alphaL);
        offset2 = Scaled(tHat2, alphaR);
        const Vec2 chord = p3 - p0;
        if (offset1.dot(chord) - offset2.dot(chord) > segLength * segLength) {
            offset1 = Scaled(tHat1, segLength / 3);
            offset2 = Scaled(tHat2, segLength / 3);
        }
    }
    curve = {p0, p0 + offset1, p3 + offset2, p3};
}

Vec2 Path::evaluate(int degree, const std::vector<Vec2>& controlPoints, float t) {
    if (degree < 0 || controlPoints.size() < static_cast<size_t>(degree) + 1) return Vec2();
    std::vector<Vec2> tmp(controlPoints.begin(), controlPoints.begin() + degree + 1);
    for (int i = 1; i <= degree; ++i)
        for (int j = 0; j <= degree - i; ++j) tmp[j] = tmp[j] * (1 - t) + tmp[j + 1] * t;
    return tmp[0];
}

Vec2 Path::findMaxError(std::vector<Vec2>& points, int first, int last, const std::vector<Vec2>& curve,
                        const std::vector<float>& u) {
    float maxDistance = 0;
    float split = std::floor(static_cast<float>(last - first + 1) / 2.0f);
    for (int i = first + 1; i < last; ++i) {
        const Vec2 p = evaluate(3, curve, u[i - first]);
        const float d = (p - points[i]).lengthSquare();
        if (d >= maxDistance) {
            maxDistance = d;
            split = static_cast<float>(i);
        }
    }
    return Vec2(maxDistance, split);
}

float Path::findRoot(const std::vector<Vec2>& curve, const Vec2& point, float u) {
    std::vector<Vec2> q1(3), q2(2);
    for (int i = 0; i < 3; ++i) q1[i] = (curve[i + 1] - curve[i]) * 3.0f;
    for (int i = 0; i < 2; ++i) q2[i] = (q1[i + 1] - q1[i]) * 2.0f;
    const Vec2 q = evaluate(3, curve, u), d1 = evaluate(2, q1, u), d2 = evaluate(1, q2, u);
    const Vec2 diff = q - point;
    const float numerator = diff.dot(d1);
    const float denominator = d1.dot(d1) + diff.dot(d2);
    if (std::fabs(denominator) < Float::epsilon) return u;
    return u - numerator / denominator;
}

bool Path::reparameterize(std::vector<Vec2>& points, int first, int last, const std::vector<Vec2>& curve,
                          std::vector<float>& u) {
    for (int i = first; i <= last; ++i) u[i - first] = findRoot(curve, points[i], u[i - first]);
    for (size_t i = 1; i < u.size(); ++i)
        if (!(u[i] > u[i - 1])) return false;
    return true;
}

void Path::addCurve(std::vector<Vec2>& controls, const Vec2&, const Vec2& b1, const Vec2& b2,
                    const Vec2& b3) {
    controls.push_back(b1);
    controls.push_back(b2);
    controls.push_back(b3);
}

}  // namespace Core
}  // namespace Quorvane
