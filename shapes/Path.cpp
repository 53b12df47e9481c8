#include "shapes/Path.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace Quorvane {
namespace Core {

namespace {

// The float nearest to 2/3: the control-point share of a quadratic raised to
// a cubic.
constexpr float kQuadToCubic = 0.6666667f;

float Clamp01(float t) {
    return std::min(1.0f, std::max(0.0f, t));
}

}  // namespace

Path::Path() {
    markDirty(false);
}

Path::~Path() {
    for (Line* segment : mSegments) delete segment;
}

void Path::append(Line* segment) {
    mSegments.push_back(segment);
    mLastPoint = segment->lastPoint();
    markDirty();
}

void Path::moveTo(const Vec2& p) {
    if (isDirty() || !mSegments.empty()) return;
    mFirstPoint = p;
    mLastPoint = p;
    markDirty();
}

void Path::lineTo(const Vec2& p) {
    append(new Line(mLastPoint, p));
}

void Path::bezierTo(const Vec2& c1, const Vec2& c2, const Vec2& p) {
    append(new Bezier(mLastPoint, c1, c2, p));
}

void Path::quadTo(const Vec2& c, const Vec2& p) {
    const Vec2 from = mLastPoint;
    append(new Bezier(from, from + (c - from) * kQuadToCubic, p + (c - p) * kQuadToCubic, p));
}

void Path::closePath() {
    mClosed = true;
    markDirty();
}

void Path::setDirection() {
    if (mSegments.empty()) return;
    float s = 0;
    for (Line* segment : mSegments) {
        const Vec2 a = segment->startPoint(), b = segment->lastPoint();
        s += (b.y + a.y) * (b.x - a.x);
    }
    const Vec2 start = mSegments.front()->startPoint(), end = mSegments.back()->lastPoint();
    if (!start.equal(end, Float::epsilon)) s += (start.y + end.y) * (start.x - end.x);
    mDirection = s > 0 ? kPath2DirectionSolid : kPath2DirectionHole;
}

void Path::cache() {
    const size_t count = mSegments.size();
    if (mSegmentLengths.size() < count) mSegmentLengths.resize(count);
    if (mLengthRatios.size() < count) mLengthRatios.resize(count);
    mLength = 0;
    if (count == 0) return;
    mBounds = mSegments.front()->getBbox();
    size_t i = 0;
    for (Line* segment : mSegments) {
        mSegmentLengths[i] = segment->length();
        mLength += mSegmentLengths[i];
        if (i > 0) mBounds = mBounds.unite(segment->getBbox());
        ++i;
    }
    // A path of equal points has no length to share out: every segment gets
    // no share (getPointAt and split read that as "all at the start").
    const bool measurable = mLength > 0.0f && std::isfinite(mLength);
    for (i = 0; i < count; ++i) mLengthRatios[i] = measurable ? mSegmentLengths[i] / mLength : 0.0f;
}

Path* Path::line(const Vec2& a, const Vec2& b) {
    Path* path = new Path();
    path->moveTo(a);
    path->lineTo(b);
    return path;
}

Path* Path::bezier(const Vec2& p0, const Vec2& c1, const Vec2& c2, const Vec2& p1) {
    Path* path = new Path();
    path->moveTo(p0);
    path->bezierTo(c1, c2, p1);
    return path;
}

Path* Path::rect(const Rect& r) {
    Path* path = new Path();
    path->moveTo(Vec2(r.getLeft(), r.getTop()));
    path->lineTo(Vec2(r.getRight(), r.getTop()));
    path->lineTo(Vec2(r.getRight(), r.getBottom()));
    path->lineTo(Vec2(r.getLeft(), r.getBottom()));
    path->lineTo(Vec2(r.getLeft(), r.getTop()));
    path->closePath();
    return path;
}

Path* Path::segmentCircle(const Vec2& centre, float radius, int count) {
    count = std::min(100, std::max(3, count));
    const float step = 360.0f / static_cast<float>(count);
    const Vec2 start = centre + Vec2(0, -radius);
    Path* path = new Path();
    path->moveTo(start);
    // Counted in whole steps: a summed angle can land a hair below 360 and
    // add a point on top of the start.
    for (int i = 1; i < count; ++i) {
        Vec2 p = start;
        p.rotateAround(step * static_cast<float>(i), centre);
        path->lineTo(p);
    }
    path->closePath();
    return path;
}

Path* Path::lineStrip(const std::vector<Vec2>& points) {
    if (points.empty()) return nullptr;
    Path* path = new Path();
    for (size_t i = 1; i < points.size(); ++i) path->mSegments.push_back(new Line(points[i - 1], points[i]));
    path->mLastPoint = points.back();
    path->markDirty();
    return path;
}

float Path::getLength() {
    updateCache();
    return mLength;
}

Rect Path::getBbox() {
    updateCache();
    return mBounds;
}

Vec2 Path::getPointAt(float t) {
    updateCache();
    if (mSegments.empty()) return Vec2();
    t = Clamp01(t);
    float sum = 0;
    size_t i = 0;
    for (Line* segment : mSegments) {
        const float before = sum;
        const float share = mLengthRatios[i++];
        sum += share;
        if (sum >= t) return segment->get(share > 0.0f ? (t - before) / share : 0.0f);
    }
    return mSegments.back()->get(1.0f);
}

bool Path::getYForX(float x, float* y) {
    updateCache();
    for (Line* segment : mSegments) {
        const float t = segment->getTForX(x, 200);
        if (t >= 0 && t <= 1) {
            if (y) *y = segment->get(t).y;
            return true;
        }
    }
    return false;
}

void Path::intersects(Path* other, std::vector<Vec2>* out) {
    updateCache();
    if (!other || !out) return;
    for (Line* mine : mSegments)
        for (Line* theirs : other->mSegments) mine->intersects(theirs, out);
}

void Path::transform(const Affine& m) {
    for (Line* segment : mSegments) segment->transform(m);
    m.transform(mFirstPoint);
    m.transform(mLastPoint);
    markDirty();
}

void Path::offset(const Vec2& d) {
    mFirstPoint.add(d);
    for (Line* segment : mSegments) segment->offset(d);
    mLastPoint.add(d);
    markDirty();
}

void Path::rotate(const Vec2& centre, float degrees) {
    mFirstPoint.rotateAround(degrees, centre);
    for (Line* segment : mSegments) segment->rotate(centre, degrees);
    mLastPoint.rotateAround(degrees, centre);
    markDirty();
}

void Path::scale(float factor) {
    mFirstPoint.mult(factor);
    for (Line* segment : mSegments) segment->scale(factor);
    mLastPoint.mult(factor);
    markDirty();
}

void Path::markPathDirty() {
    for (Line* segment : mSegments) segment->markDirty();
    markDirty();
}

void Path::markPathSegmentDirty(size_t index) {
    if (index < mSegments.size()) (*std::next(mSegments.begin(), static_cast<long>(index)))->markDirty();
    markDirty();
}

void Path::reversePath() {
    mSegments.reverse();
    markPathDirty();
}

Path* Path::duplicate() const {
    Path* copy = new Path();
    for (Line* segment : mSegments) copy->mSegments.push_back(segment->duplicate());
    copy->mLengthRatios = mLengthRatios;
    copy->mSegmentLengths = mSegmentLengths;
    copy->mFirstPoint = mFirstPoint;
    copy->mLastPoint = mLastPoint;
    copy->mLength = mLength;
    copy->mClosed = mClosed;
    copy->mDirection = mDirection;
    copy->mBounds = mBounds;
    copy->markDirty(isDirty());
    return copy;
}

std::pair<Path*, Path*> Path::split(float t) {
    updateCache();
    t = Clamp01(t);
    if (t <= Float::epsilon) return {new Path(), duplicate()};
    if (1 - t <= Float::epsilon) return {duplicate(), new Path()};

    // The segment whose running share first reaches t.
    size_t k = 0;
    float before = 0, sum = 0;
    bool found = false;
    for (size_t i = 0; i < mSegments.size(); ++i) {
        before = sum;
        sum += mLengthRatios[i];
        if (sum >= t) {
            k = i;
            found = true;
            break;
        }
    }
    // A path of zero (or non-finite) length reaches no share: all of it
    // goes before the cut.
    if (!found) return {duplicate(), new Path()};
    const float u = (t - before) / mLengthRatios[k];

    Path* first = new Path();
    Path* second = new Path();
    first->mDirection = mDirection;
    second->mDirection = mDirection;
    first->mFirstPoint = mFirstPoint;
    auto it = mSegments.begin();
    for (size_t i = 0; i < k; ++i, ++it) first->mSegments.push_back((*it)->duplicate());
    Line* segment = *it;
    const bool last = k + 1 == mSegments.size();
    if (!last && u >= 1) {
        Line* copy = segment->duplicate();
        first->mSegments.push_back(copy);
        first->mLastPoint = copy->point(copy->getOrder());
        second->mFirstPoint = first->mLastPoint;
    } else {
        std::pair<Line*, Line*> pieces = segment->split(u);
        first->mSegments.push_back(pieces.first);
        second->mSegments.push_back(pieces.second);
        first->mLastPoint = pieces.first->point(pieces.first->getOrder());
        second->mFirstPoint = last ? first->mLastPoint : pieces.second->point(0);
    }
    for (++it; it != mSegments.end(); ++it) second->mSegments.push_back((*it)->duplicate());
    if (!second->mSegments.empty()) {
        Line* end = second->mSegments.back();
        second->mLastPoint = end->point(end->getOrder());
    }
    first->markDirty();
    second->markDirty();
    first->updateCache();
    second->updateCache();
    return {first, second};
}

Path* Path::split(float from, float to) {
    if (from == to) return new Path();
    std::pair<Path*, Path*> ab = split(from);
    std::pair<Path*, Path*> cd = ab.second->split((to - from) / (1 - from));
    delete ab.first;
    delete ab.second;
    delete cd.second;
    return cd.first;
}

}  // namespace Core
}  // namespace Quorvane
