#include "shapes/Shape.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "core/Json.h"
#include "core/Log.h"

namespace Quorvane {
namespace Core {

namespace {

// Cubic control-point share of a quarter circle.
constexpr float kEllipseK = 0.5522848f;
// Share of the radius between a rounded corner and its control point (1 - K).
constexpr float kRoundCorner = 0.44771522f;

// A mask point: an array whose first two elements are numbers giving finite
// floats. Anything else (and coordinates beyond the float range) is refused.
bool ReadPoint(const rapidjson::Value& v, Vec2& out) {
    if (!v.IsArray() || v.Size() < 2 || !v[0].IsNumber() || !v[1].IsNumber()) return false;
    const float x = Json::toFloat(v[0].GetDouble()), y = Json::toFloat(v[1].GetDouble());
    if (!std::isfinite(x) || !std::isfinite(y)) return false;
    out.set(x, y);
    return true;
}

bool IsTrue(const rapidjson::Value& object, const char* key) {
    bool flag = false;
    return Json::read(object, key, flag, Json::getBool) && flag;
}

}  // namespace

float DeDistPtSegS(float px, float py, float qx, float qy, float rx, float ry) {
    const float dx = rx - qx, dy = ry - qy;
    const float d = dx * dx + dy * dy;
    float s = dx * (px - qx) + dy * (py - qy);
    if (d > 0) s /= d;
    s = std::min(1.0f, std::max(0.0f, s));
    const float ex = qx + s * dx - px, ey = qy + s * dy - py;
    return ex * ex + ey * ey;
}

Shape::Shape() = default;

Shape::~Shape() {
    clear();
}

Shape* Shape::create() {
    return new Shape();
}

void Shape::clear() {
    for (Path* path : mPaths) delete path;
    mPaths.clear();
    mCurrentPath = nullptr;
    markDirty();
}

void Shape::cache() {
    const size_t count = mPaths.size();
    mPathLengths.assign(count, 0.0f);
    mLengthRatios.assign(count, 0.0f);
    mTotalLength = 0;
    // An emptied shape drops the summary of the paths it had: the old length
    // shares would lead split() to paths that no longer exist, and the old
    // bounds would size its drawing.
    if (count == 0) {
        mBounds = Rect();
        return;
    }
    mBounds = mPaths.front()->getBbox();
    size_t i = 0;
    for (Path* path : mPaths) {
        mPathLengths[i] = path->getLength();
        mTotalLength += mPathLengths[i];
        if (i > 0) mBounds = mBounds.unite(path->getBbox());
        ++i;
    }
    // Paths of equal points only: no length to share out, and no path
    // reaches any share (split keeps everything before the cut).
    const bool measurable = mTotalLength > 0.0f && std::isfinite(mTotalLength);
    for (i = 0; i < count; ++i) mLengthRatios[i] = measurable ? mPathLengths[i] / mTotalLength : 0.0f;
}

void Shape::fillFrom(Shape* other) {
    for (Path* path : other->mPaths) mPaths.push_back(path->duplicate());
    mPathLengths = other->mPathLengths;
    mLengthRatios = other->mLengthRatios;
    mTotalLength = other->mTotalLength;
    mBounds = other->mBounds;
    mCurrentPath = other->mCurrentPath && !mPaths.empty() ? mPaths.back() : nullptr;
    markDirty(false);
}

Shape* Shape::duplicate() {
    updateCache();
    Shape* copy = new Shape();
    copy->fillFrom(this);
    return copy;
}

void Shape::copy(Shape* other) {
    if (other == this) return;
    clear();
    if (!other) return;
    if (other->isDirty()) other->updateCache();
    fillFrom(other);
}

// ---- drawing ---------------------------------------------------------------------------

void Shape::moveTo(const Vec2& p) {
    mCurrentPath = new Path();
    mPaths.push_back(mCurrentPath);
    mCurrentPath->moveTo(p);
    markDirty();
}

void Shape::moveTo(float x, float y) {
    moveTo(Vec2(x, y));
}

void Shape::lineTo(const Vec2& p) {
    if (!mCurrentPath) return;
    mCurrentPath->lineTo(p);
    markDirty();
}

void Shape::lineTo(float x, float y) {
    lineTo(Vec2(x, y));
}

void Shape::bezierTo(const Vec2& c1, const Vec2& c2, const Vec2& p) {
    if (!mCurrentPath) return;
    mCurrentPath->bezierTo(c1, c2, p);
    markDirty();
}

void Shape::bezierTo(float c1x, float c1y, float c2x, float c2y, float x, float y) {
    bezierTo(Vec2(c1x, c1y), Vec2(c2x, c2y), Vec2(x, y));
}

void Shape::quadTo(const Vec2& c, const Vec2& p) {
    if (!mCurrentPath) return;
    mCurrentPath->quadTo(c, p);
    markDirty();
}

void Shape::quadTo(float cx, float cy, float x, float y) {
    quadTo(Vec2(cx, cy), Vec2(x, y));
}

void Shape::closePath() {
    if (!mCurrentPath) return;
    mCurrentPath->closePath();
    mCurrentPath = nullptr;
}

void Shape::arc(float cx, float cy, float r, float a0, float a1, int dir) {
    float da = a1 - a0;
    if (dir == kArcIncreasing) {
        if (std::fabs(da) >= Float::doublePi) {
            da = Float::doublePi;
        } else {
            while (da < 0) da += Float::doublePi;
        }
    } else {
        if (std::fabs(da) >= Float::doublePi) {
            da = -Float::doublePi;
        } else {
            while (da > 0) da -= Float::doublePi;
        }
    }
    // Not-a-number angles or radius would never leave the loops above only
    // for infinities, which the first test catches; NaN skips them.
    if (!std::isfinite(da)) return;
    const int n = std::min(5, std::max(1, static_cast<int>(std::fabs(da) / Float::halfPi + 0.5f)));
    const float h = da / static_cast<float>(n) / 2.0f;
    float k = std::fabs(4.0f / 3.0f * (1.0f - std::cos(h)) / std::sin(h));
    if (dir == kArcDecreasing) k = -k;
    float px = 0, py = 0, ptx = 0, pty = 0;
    for (int i = 0; i <= n; ++i) {
        const float a = a0 + da * static_cast<float>(i) / static_cast<float>(n);
        const float dx = std::cos(a), dy = std::sin(a);
        const float x = cx + dx * r, y = cy + dy * r;
        const float tx = -dy * r * k, ty = dx * r * k;
        if (i == 0) {
            if (mCurrentPath)
                lineTo(x, y);
            else
                moveTo(x, y);
        } else {
            bezierTo(px + ptx, py + pty, x - tx, y - ty, x, y);
        }
        px = x;
        py = y;
        ptx = tx;
        pty = ty;
    }
}

void Shape::arcTo(float x1, float y1, float x2, float y2, float radius) {
    if (!mCurrentPath) return;
    const Vec2 p0 = mCurrentPath->getLastPoint(), p1(x1, y1), p2(x2, y2);
    const float eps = Float::epsilon;
    if (Vec2::equalWithTolerance(p0, p1, eps) || Vec2::equalWithTolerance(p1, p2, eps) ||
        DeDistPtSegS(x1, y1, p0.x, p0.y, x2, y2) < eps * eps || radius < eps) {
        lineTo(x1, y1);
        return;
    }
    float d0x = p0.x - x1, d0y = p0.y - y1, d1x = x2 - x1, d1y = y2 - y1;
    Vec2::normalize(&d0x, &d0y);
    Vec2::normalize(&d1x, &d1y);
    const float a = std::acos(d0x * d1x + d0y * d1y);
    const float d = radius / std::tan(a / 2.0f);
    if (d > 10000.0f) {
        lineTo(x1, y1);
        return;
    }
    float cx, cy, a0, a1;
    int dir;
    // The turn is measured from the outgoing to the incoming direction
    // (d1 x d0): with d0 x d1 the centre lands outside the corner and the
    // arc sweeps three quarters of a turn the wrong way round.
    if (Vec2::cross(d1x, d1y, d0x, d0y) > 0) {
        cx = x1 + d0x * d + d0y * radius;
        cy = y1 + d0y * d - d0x * radius;
        a0 = std::atan2(d0x, -d0y);
        a1 = std::atan2(-d1x, d1y);
        dir = kArcIncreasing;
    } else {
        cx = x1 + d0x * d - d0y * radius;
        cy = y1 + d0y * d + d0x * radius;
        a0 = std::atan2(-d0x, d0y);
        a1 = std::atan2(d1x, -d1y);
        dir = kArcDecreasing;
    }
    arc(cx, cy, radius, a0, a1, dir);
}

void Shape::rect(float x, float y, float w, float h) {
    moveTo(x, y);
    lineTo(x, y + h);
    lineTo(x + w, y + h);
    lineTo(x + w, y);
    closePath();
}

void Shape::rect(const Rect& r) {
    rect(r.x, r.y, r.width, r.height);
}

void Shape::roundRect(float x, float y, float w, float h, float r, RoundRectType corners) {
    if (r < 0.1f) {
        rect(x, y, w, h);
        return;
    }
    const float sw = w < 0 ? -1.0f : 1.0f, sh = h < 0 ? -1.0f : 1.0f;
    const float rx = sw * std::min(r, std::fabs(w) * 0.5f), ry = sh * std::min(r, std::fabs(h) * 0.5f);
    const float c = kRoundCorner;
    if (corners & kRoundRectTopLeft) {
        moveTo(x + rx, y);
        bezierTo(x + rx * c, y, x, y + ry * c, x, y + ry);
    } else {
        moveTo(x, y);
    }
    if (corners & kRoundRectBottomLeft) {
        lineTo(x, y + h - ry);
        bezierTo(x, y + h - ry * c, x + rx * c, y + h, x + rx, y + h);
    } else {
        lineTo(x, y + h);
    }
    if (corners & kRoundRectBottomRight) {
        lineTo(x + w - rx, y + h);
        bezierTo(x + w - rx * c, y + h, x + w, y + h - ry * c, x + w, y + h - ry);
    } else {
        lineTo(x + w, y + h);
    }
    if (corners & kRoundRectTopRight) {
        lineTo(x + w, y + ry);
        bezierTo(x + w, y + ry * c, x + w - rx * c, y, x + w - rx, y);
    } else {
        lineTo(x + w, y);
    }
    closePath();
}

void Shape::roundRect(const Rect& r, float radius, RoundRectType corners) {
    roundRect(r.x, r.y, r.width, r.height, radius, corners);
}

void Shape::ellipse(float cx, float cy, float rx, float ry) {
    const float k = kEllipseK;
    moveTo(cx - rx, cy);
    bezierTo(cx - rx, cy + ry * k, cx - rx * k, cy + ry, cx, cy + ry);
    bezierTo(cx + rx * k, cy + ry, cx + rx, cy + ry * k, cx + rx, cy);
    bezierTo(cx + rx, cy - ry * k, cx + rx * k, cy - ry, cx, cy - ry);
    bezierTo(cx - rx * k, cy - ry, cx - rx, cy - ry * k, cx - rx, cy);
    closePath();
}

void Shape::ellipse(const Vec2& c, float rx, float ry) {
    ellipse(c.x, c.y, rx, ry);
}

void Shape::circle(float cx, float cy, float r) {
    ellipse(cx, cy, r, r);
}

void Shape::circle(const Vec2& c, float r) {
    ellipse(c.x, c.y, r, r);
}

void Shape::segmentCircle(const Vec2& center, float radius, int count) {
    mCurrentPath = nullptr;
    appendPath(Path::segmentCircle(center, radius, count));
}

void Shape::appendPath(Path* path) {
    mCurrentPath = nullptr;
    if (!path) {
        QVPrint("path is nullptr");
        return;
    }
    mPaths.push_back(path);
    markDirty();
}

void Shape::lineStrip(const std::vector<Vec2>& points) {
    appendPath(Path::lineStrip(points));
}

void Shape::smoothLineStrip(const std::vector<Vec2>& points, bool closed, float tolerance) {
    appendPath(Path::smoothLineStrip(points, closed, tolerance));
}

void Shape::addPathFromJson(const rapidjson::Value& frame) {
    if (!frame.IsArray()) return;
    for (const rapidjson::Value& object : frame.GetArray()) {
        const rapidjson::Value* lines = Json::findArray(object, "lines");
        if (!lines || !lines->IsArray() || lines->Empty()) continue;
        bool started = false;
        for (const rapidjson::Value& segment : lines->GetArray()) {
            if (!segment.IsArray()) continue;
            const rapidjson::SizeType size = segment.Size();
            if (size != 2 && size != 4) continue;
            // Every point the segment contributes must be readable, or the
            // segment is skipped whole (the first point only counts for the
            // segment that starts the sub-path).
            Vec2 p[4];
            bool ok = true;
            for (rapidjson::SizeType i = started ? 1 : 0; i < size && ok; ++i)
                ok = ReadPoint(segment[i], p[i]);
            if (!ok) continue;
            if (!started) {
                moveTo(p[0]);
                started = true;
            }
            if (size == 2)
                lineTo(p[1]);
            else
                bezierTo(p[1], p[2], p[3]);
        }
        if (!started) continue;
        if (IsTrue(object, "hole")) setBackPathDirection(kPath2DirectionHole);
        if (!IsTrue(object, "open")) closePath();
    }
}

// ---- directions and transforms -----------------------------------------------------------

Path* Shape::backPath() const {
    if (mCurrentPath) return mCurrentPath;
    return mPaths.empty() ? nullptr : mPaths.back();
}

Path2Direction Shape::getBackPathDirection() const {
    Path* path = backPath();
    return path ? path->direction() : kPath2DirectionSolid;
}

void Shape::setBackPathDirection() {
    if (Path* path = backPath()) path->setDirection();
}

void Shape::setBackPathDirection(Path2Direction direction) {
    if (Path* path = backPath()) path->setDirection(direction);
}

void Shape::setPathDirection(Path2Direction direction, unsigned index) {
    if (index >= mPaths.size()) return;
    (*std::next(mPaths.begin(), index))->setDirection(direction);
}

void Shape::applyToPaths(const Affine& a) {
    for (Path* path : mPaths) {
        path->transform(a);
        path->markPathDirty();
    }
    markDirty();
}

void Shape::applyMatrix(const Mat4* m) {
    if (!m) return;
    applyToPaths(m->getAffine());
}

void Shape::rotate(float degrees) {
    Affine a(true);
    a.setRotate(degrees);
    applyToPaths(a);
}

void Shape::translate(float tx, float ty) {
    Affine a(true);
    a.setTranslate(tx, ty);
    applyToPaths(a);
}

void Shape::scale(float kx, float ky) {
    Affine a(true);
    a.scale(kx, ky);
    applyToPaths(a);
}

void Shape::transform(const Affine& a) {
    for (Path* path : mPaths) path->transform(a);
    markDirty();
    updateCache();
}

Rect Shape::getBbox() {
    updateCache();
    return mBounds;
}

float Shape::getLength() {
    updateCache();
    return mTotalLength;
}

void Shape::markShapeDirty() {
    for (Path* path : mPaths) path->markPathDirty();
    markDirty();
}

void Shape::markShapePathDirty(unsigned long index) {
    if (index < mPaths.size()) (*std::next(mPaths.begin(), static_cast<long>(index)))->markPathDirty();
    markDirty();
}

// ---- splitting ----------------------------------------------------------------------------

std::pair<Shape*, Shape*> Shape::split(float t) {
    updateCache();
    t = std::min(1.0f, std::max(0.0f, t));
    if (t <= Float::epsilon) return {new Shape(), duplicate()};
    if (1 - t <= Float::epsilon) return {duplicate(), new Shape()};

    Shape* before = new Shape();
    Shape* after = new Shape();
    size_t index = mPaths.size();
    float sum = 0, previous = 0;
    for (size_t i = 0; i < mLengthRatios.size(); ++i) {
        previous = sum;
        sum += mLengthRatios[i];
        if (sum >= t) {
            index = i;
            break;
        }
    }
    auto it = mPaths.begin();
    if (index == mPaths.size()) {
        // No path reaches t (a zero total length gives non-finite shares).
        for (Path* path : mPaths) before->mPaths.push_back(path->duplicate());
    } else {
        for (size_t i = 0; i < index; ++i, ++it) before->mPaths.push_back((*it)->duplicate());
        const float u = (t - previous) / mLengthRatios[index];
        const bool last = index + 1 == mPaths.size();
        if (!last && u >= 1) {
            before->mPaths.push_back((*it)->duplicate());
        } else if (last || u > 0) {
            std::pair<Path*, Path*> parts = (*it)->split(u);
            before->mPaths.push_back(parts.first);
            after->mPaths.push_back(parts.second);
        } else {
            after->mPaths.push_back((*it)->duplicate());
        }
        for (++it; it != mPaths.end(); ++it) after->mPaths.push_back((*it)->duplicate());
    }
    before->markDirty();
    after->markDirty();
    before->updateCache();
    after->updateCache();
    return {before, after};
}

Shape* Shape::split(float t1, float t2) {
    if (t1 == t2) return new Shape();
    std::pair<Shape*, Shape*> first = split(t1);
    std::pair<Shape*, Shape*> second = first.second->split((t2 - t1) / (1 - t1));
    delete first.first;
    delete first.second;
    delete second.second;
    return second.first;
}

// ---- factories ------------------------------------------------------------------------------

Shape* Shape::createRect(const Rect& r) {
    Shape* s = new Shape();
    s->rect(r);
    return s;
}

Shape* Shape::createRect(float x, float y, float w, float h) {
    Shape* s = new Shape();
    s->rect(x, y, w, h);
    return s;
}

Shape* Shape::createRoundRect(float x, float y, float w, float h, float r, RoundRectType corners) {
    Shape* s = new Shape();
    s->roundRect(x, y, w, h, r, corners);
    return s;
}

Shape* Shape::createArc(float cx, float cy, float r, float a0, float a1, int dir) {
    Shape* s = new Shape();
    s->arc(cx, cy, r, a0, a1, dir);
    return s;
}

Shape* Shape::createCircle(const Vec2& c, float r) {
    Shape* s = new Shape();
    s->circle(c, r);
    return s;
}

Shape* Shape::createCircle(float cx, float cy, float r) {
    Shape* s = new Shape();
    s->circle(cx, cy, r);
    return s;
}

Shape* Shape::createEllipse(const Vec2& c, float rx, float ry) {
    Shape* s = new Shape();
    s->ellipse(c, rx, ry);
    return s;
}

Shape* Shape::createEllipse(float cx, float cy, float rx, float ry) {
    Shape* s = new Shape();
    s->ellipse(cx, cy, rx, ry);
    return s;
}

Shape* Shape::createSegmentCircle(const Vec2& center, float radius, int count) {
    Shape* s = new Shape();
    s->segmentCircle(center, radius, count);
    return s;
}

Shape* Shape::createLine(const Vec2& a, const Vec2& b) {
    Shape* s = new Shape();
    s->moveTo(a);
    s->lineTo(b);
    return s;
}

Shape* Shape::createLine(float x0, float y0, float x1, float y1) {
    return createLine(Vec2(x0, y0), Vec2(x1, y1));
}

}  // namespace Core
}  // namespace Quorvane
