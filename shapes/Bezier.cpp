#include "shapes/Bezier.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace Quorvane {
namespace Core {

namespace {

const std::vector<Vec2>& CheckedPoints(const std::vector<Vec2>* points, size_t needed) {
    if (!points || points->size() < needed) throw std::out_of_range("too few points for a curve segment");
    return *points;
}

bool Contains(const std::vector<float>& list, float v) {
    return std::find(list.begin(), list.end(), v) != list.end();
}

// The t list of a bounding-box or reduction scan: the extrema with 0 in front
// and 1 at the end.
void AddEnds(std::vector<float>& list) {
    if (!Contains(list, 0.0f)) list.insert(list.begin(), 0.0f);
    if (!Contains(list, 1.0f)) list.push_back(1.0f);
}

// Cube root keeping the sign.
float Crt(float v) {
    return v < 0 ? -std::pow(-v, 1.0f / 3.0f) : std::pow(v, 1.0f / 3.0f);
}

}  // namespace

// ---- Line ------------------------------------------------------------------------------

Line::Line() = default;

Line::Line(float x0, float y0, float x1, float y1) : mPoints{Vec2(x0, y0), Vec2(x1, y1)} {}

Line::Line(const Vec2& a, const Vec2& b) : mPoints{a, b} {}

Line::Line(const std::vector<Vec2>* points) {
    const std::vector<Vec2>& p = CheckedPoints(points, 2);
    mPoints = {p.at(0), p.at(1)};
}

Line::~Line() = default;

void Line::cache() {
    if (mPoints.size() < 2) {
        mBbox = Rect();
        mLength = 0;
        return;
    }
    const Vec2 a = mPoints.front(), b = mPoints.back();
    mBbox = Rect(std::min(a.x, b.x), std::min(a.y, b.y), std::fabs(b.x - a.x), std::fabs(b.y - a.y));
    mLength = a.distance(b);
}

Rect Line::getBbox() {
    updateCache();
    return mBbox;
}

float Line::length() {
    updateCache();
    return mLength;
}

Vec2 Line::get(float t) {
    if (t == 0.0f) return mPoints.at(0);
    if (t == 1.0f) return mPoints.at(mOrder);
    return mPoints.at(0) * (1 - t) + mPoints.at(1) * t;
}

Vec2 Line::point(int index) const {
    return mPoints.at(static_cast<size_t>(index));
}

Line* Line::duplicate() const {
    return new Line(*this);
}

bool Line::on(const Vec2& p, float* t, float tolerance) {
    const float d1 = p.distance(startPoint()), d2 = p.distance(lastPoint());
    const float l = length();
    const bool result = std::sqrt(tolerance) > std::fabs(d1 + d2 - l);
    if (result && t) *t = l > 0.0f ? d1 / l : 0.0f;
    return result;
}

Vec2 Line::project(const Vec2& p, float* t, float* distance) {
    const Vec2 first = startPoint();
    const Vec2 d = lastPoint() - first, v = p - first;
    // A line of no length projects everything onto its one point.
    const float dd = d.dot(d);
    const float s = dd > 0.0f ? d.dot(v) / dd : 0.0f;
    if (t) *t = s;
    if (distance) *distance = (v - d * s).length();
    return first + d * s;
}

Vec2 Line::normal(float) {
    const Vec2 d = lastPoint() - startPoint();
    const float l = d.length();
    // No direction, no normal: the zero vector rather than NaN.
    if (!(l > 0.0f)) return Vec2();
    return Vec2(-d.y / l, d.x / l);
}

bool Line::overlaps(Line* other) {
    const Rect a = getBbox(), b = other->getBbox();
    return a.getLeft() < b.getRight() && b.getLeft() < a.getRight() && a.getTop() < b.getBottom() &&
           b.getTop() < a.getBottom();
}

std::pair<Line*, Line*> Line::split(float t) {
    const Vec2 p = get(t);
    const float r = mT2 - mT1;
    Line* first = new Line(startPoint(), p);
    Line* second = new Line(p, lastPoint());
    first->mT1 = mT1;
    first->mT2 = mT1 + t * r;
    second->mT1 = mT1 + t * r;
    second->mT2 = mT1 + r;
    return {first, second};
}

Line* Line::subline(float from, float to) {
    std::pair<Line*, Line*> ab = split(from);
    std::pair<Line*, Line*> cd = ab.second->split((to - from) / (1 - from));
    delete ab.first;
    delete ab.second;
    delete cd.second;
    return cd.first;
}

void Line::transformed() {
    markDirty();
}

void Line::transform(const Affine& m) {
    for (Vec2& p : mPoints) m.transform(p);
    transformed();
}

void Line::offset(const Vec2& d) {
    if (d.x == 0.0f && d.y == 0.0f) return;
    for (Vec2& p : mPoints) p.add(d);
    transformed();
}

void Line::rotate(const Vec2& centre, float degrees) {
    if (degrees == 0.0f) return;
    for (Vec2& p : mPoints) p.rotateAround(degrees, centre);
    transformed();
}

void Line::scale(float factor) {
    if (factor == 1.0f) return;
    for (Vec2& p : mPoints) p.mult(factor);
    transformed();
}

float Line::getTForX(float x, int) {
    const float a = startPoint().x, b = lastPoint().x;
    if (a <= b) {
        if (x < a) return -1.0f;
        if (x > b) return 2.0f;
        float u = b > a ? (x - a) / (b - a) : 0.0f;
        u = std::min(1.0f, std::max(0.0f, u));
        return u * u * (3 - 2 * u);
    }
    if (x < b) return -1.0f;
    if (x > a) return 2.0f;
    const float u = (x - b) / (a - b);
    if (u < 0) return 1.0f;
    if (u > 1) return 0.0f;
    return 1 - u * u * (3 - 2 * u);
}

void Line::intersects(Line* other, std::vector<Vec2>* out) {
    if (!other || !out) return;
    if (other->getOrder() == 1) {
        Vec2 p;
        if (BezierUtil::lli4(startPoint(), lastPoint(), other->startPoint(), other->lastPoint(), &p))
            out->push_back(p);
        return;
    }
    static_cast<Bezier*>(other)->lineCurveIntersects(startPoint(), lastPoint(), out);
}

// ---- Bezier --------------------------------------------------------------------------

Bezier::Bezier(float x0, float y0, float x1, float y1, float x2, float y2) {
    init({Vec2(x0, y0), Vec2(x1, y1), Vec2(x2, y2)});
}

Bezier::Bezier(const Vec2& p0, const Vec2& p1, const Vec2& p2) {
    init({p0, p1, p2});
}

Bezier::Bezier(float x0, float y0, float x1, float y1, float x2, float y2, float x3, float y3) {
    init({Vec2(x0, y0), Vec2(x1, y1), Vec2(x2, y2), Vec2(x3, y3)});
}

Bezier::Bezier(const Vec2& p0, const Vec2& p1, const Vec2& p2, const Vec2& p3) {
    init({p0, p1, p2, p3});
}

Bezier::Bezier(const std::vector<Vec2>* points) {
    const std::vector<Vec2>& p = CheckedPoints(points, 3);
    if (p.size() == 3)
        init({p.at(0), p.at(1), p.at(2)});
    else
        init({p.at(0), p.at(1), p.at(2), p.at(3)});
}

Bezier::~Bezier() {
    freeDerivatives();
}

void Bezier::init(const std::vector<Vec2>& points) {
    mPoints = points;
    mOrder = static_cast<int32_t>(points.size()) - 1;
    markDirty();
    updateCache();
}

void Bezier::freeDerivatives() {
    for (std::vector<Vec2>* level : mDpoints) delete level;
    mDpoints.clear();
}

void Bezier::cache() {
    freeDerivatives();
    std::vector<Vec2> previous = mPoints;
    for (int c = mOrder; c > 0; --c) {
        auto* level = new std::vector<Vec2>();
        for (int j = 0; j < c; ++j) level->push_back((previous[j + 1] - previous[j]) * static_cast<float>(c));
        mDpoints.push_back(level);
        previous = *level;
    }

    std::vector<float> roots[2];
    extrema(roots, nullptr);
    float lo[2] = {Float::max, Float::max}, hi[2] = {-Float::max, -Float::max};
    for (int axis = 0; axis < 2; ++axis) {
        AddEnds(roots[axis]);
        for (float t : roots[axis]) {
            const Vec2 p = get(t);
            const float v = axis == 0 ? p.x : p.y;
            lo[axis] = std::min(lo[axis], v);
            hi[axis] = std::max(hi[axis], v);
        }
    }
    mBbox = Rect(lo[0], lo[1], hi[0] - lo[0], hi[1] - lo[1]);
    mLength = BezierUtil::length(&Bezier::derivative, this);
}

Rect Bezier::getBbox() {
    updateCache();
    return mBbox;
}

float Bezier::length() {
    updateCache();
    return mLength;
}

Vec2 Bezier::get(float t) {
    return compute(t);
}

Vec2 Bezier::point(int index) const {
    return mPoints.at(static_cast<size_t>(index));
}

Line* Bezier::duplicate() const {
    return new Bezier(&mPoints);
}

Vec2 Bezier::compute(float t) const {
    if (t == 0.0f) return mPoints.at(0);
    if (t == 1.0f) return mPoints.at(mOrder);
    const float mt = 1 - t;
    if (mOrder == 2) {
        return mPoints[0] * (mt * mt) + mPoints[1] * (2 * t * mt) + mPoints[2] * (t * t);
    }
    if (mOrder == 3) {
        return mPoints[0] * (mt * mt * mt) + mPoints[1] * (3 * t * mt * mt) + mPoints[2] * (3 * t * t * mt) +
               mPoints[3] * (t * t * t);
    }
    return Vec2();
}

Vec2 Bezier::derivative(float t) {
    updateCache();
    const std::vector<Vec2>& d = *mDpoints.at(0);
    const float mt = 1 - t;
    if (mOrder == 2) return d[0] * mt + d[1] * t;
    return d[0] * (mt * mt) + d[1] * (2 * t * mt) + d[2] * (t * t);
}

Vec2 Bezier::derivative(float t, Bezier* curve) {
    // Called from cache() itself, so the derivative points are read directly.
    const std::vector<Vec2>& d = *curve->mDpoints.at(0);
    const float mt = 1 - t;
    if (curve->mOrder == 2) return d[0] * mt + d[1] * t;
    return d[0] * (mt * mt) + d[1] * (2 * t * mt) + d[2] * (t * t);
}

Vec2 Bezier::normal(float t) {
    const Vec2 d = derivative(t);
    const float l = d.length();
    // No direction, no normal: the zero vector rather than NaN.
    if (!(l > 0.0f)) return Vec2();
    return Vec2(-d.y / l, d.x / l);
}

bool Bezier::overlaps(Line* other) {
    return Line::overlaps(other);
}

bool Bezier::computeDirection() const {
    return BezierUtil::angle(mPoints[0], mPoints[mOrder], mPoints[1]) > 0;
}

const std::vector<Vec2>& Bezier::getLut(int steps) {
    mLut.clear();
    if (steps < 1) steps = 1;
    for (int i = 0; i <= steps; ++i) mLut.push_back(compute(static_cast<float>(i) / steps));
    return mLut;
}

Vec2 Bezier::project(const Vec2& p, float* t, float* distance) {
    const int steps = 150;
    getLut(steps);
    float d = 0;
    int i = 0;
    BezierUtil::closest(&mLut, p, &d, &i);
    float best = static_cast<float>(i) / steps;
    float bestDistance = d;
    if (i != 0 && i != steps) {
        const float step = 0.1f / steps;
        bestDistance = d + 1.0f;
        for (float u = static_cast<float>(i - 1) / steps; u < static_cast<float>(i + 1) / steps + step;
             u += step) {
            const float dist = compute(u).distance(p);
            if (dist < bestDistance) {
                bestDistance = dist;
                best = u;
            }
        }
    }
    if (t) *t = best;
    if (distance) *distance = bestDistance;
    return compute(best);
}

bool Bezier::on(const Vec2& p, float* t, float tolerance) {
    const std::vector<Vec2>& lut = getLut(150);
    int hits = 0;
    float sum = 0;
    for (size_t i = 0; i < lut.size(); ++i) {
        if (lut[i].distance(p) < tolerance) {
            ++hits;
            sum += static_cast<float>(i) / 151.0f;
        }
    }
    if (hits == 0) return false;
    if (t) *t = sum / hits;
    return true;
}

void Bezier::hull(float t, std::vector<Vec2>* out) const {
    if (!out) return;
    std::vector<Vec2> level = mPoints;
    out->insert(out->end(), level.begin(), level.end());
    while (level.size() > 1) {
        std::vector<Vec2> next;
        for (size_t i = 0; i + 1 < level.size(); ++i) next.push_back(Vec2::lerp(level[i], level[i + 1], t));
        out->insert(out->end(), next.begin(), next.end());
        level = next;
    }
}

std::pair<Line*, Line*> Bezier::split(float t) {
    std::vector<Vec2> q;
    hull(t, &q);
    Bezier* first;
    Bezier* second;
    if (mOrder == 2) {
        first = new Bezier(q[0], q[3], q[5]);
        second = new Bezier(q[5], q[4], q[2]);
    } else {
        first = new Bezier(q[0], q[4], q[7], q[9]);
        second = new Bezier(q[9], q[8], q[6], q[3]);
    }
    const float r = mT2 - mT1;
    first->mT1 = mT1;
    first->mT2 = mT1 + t * r;
    second->mT1 = mT1 + t * r;
    second->mT2 = mT1 + r;
    return {first, second};
}

void Bezier::transform(const Affine& m) {
    Line::transform(m);
}

void Bezier::offset(const Vec2& d) {
    Line::offset(d);
}

void Bezier::rotate(const Vec2& centre, float degrees) {
    Line::rotate(centre, degrees);
}

void Bezier::scale(float factor) {
    Line::scale(factor);
}

void Bezier::extrema(std::vector<float> roots[2], std::vector<float>* values) {
    // cache() calls this with fresh derivative points; outside it they may
    // be stale.
    if (isDirty() && mDpoints.empty()) updateCache();
    std::vector<float> all;
    for (int axis = 0; axis < 2; ++axis) {
        roots[axis].clear();
        for (size_t level = 0; level < mDpoints.size() && level < (mOrder == 3 ? 2u : 1u); ++level) {
            std::vector<float> coords, found;
            for (const Vec2& p : *mDpoints[level]) coords.push_back(axis == 0 ? p.x : p.y);
            BezierUtil::droots(&coords, &found);
            for (float t : found)
                if (t >= 0 && t <= 1) roots[axis].push_back(t);
        }
        all.insert(all.end(), roots[axis].begin(), roots[axis].end());
    }
    if (values) {
        std::sort(all.begin(), all.end());
        *values = all;
    }
}

void Bezier::inflections(std::vector<float>* out) {
    BezierUtil::inflection(&mPoints, out);
}

void Bezier::getABC(int n, const Vec2& start, const Vec2& through, const Vec2& end, Vec2* a, Vec2* b, Vec2* c,
                    float t) {
    const float u = BezierUtil::projection_ratio(t, n);
    const Vec2 cc = start * (1 - u) + end * u;
    const Vec2 bb = through;
    const Vec2 aa = bb + (bb - cc) / BezierUtil::abcratio(t, n);
    if (a) *a = aa;
    if (b) *b = bb;
    if (c) *c = cc;
}

Bezier* Bezier::quadraticFromPoints(const Vec2& p1, const Vec2& p2, const Vec2& p3, float t) {
    if (t == 0.0f) return new Bezier(p2, p2, p3);
    if (t == 1.0f) return new Bezier(p1, p2, p2);
    Vec2 a;
    getABC(2, p1, p2, p3, &a, nullptr, nullptr, t);
    return new Bezier(p1, a, p3);
}

Bezier* Bezier::cubicFromPoints(const Vec2& s, const Vec2& b, const Vec2& e, float t) {
    Vec2 a, bb, c;
    getABC(3, s, b, e, &a, &bb, &c, t);
    const float d1 = (bb - c).length();
    const float d2 = d1 * (1 - t) / t;
    Vec2 l = e - s;
    l = l / l.length();
    const Vec2 f1 = bb - l * d1, f2 = bb + l * d2;
    const Vec2 g1 = a + (f1 - a) / (1 - t), g2 = a + (f2 - a) / t;
    return new Bezier(s, s + (g1 - s) / t, e + (g2 - e) / (1 - t), e);
}

bool Bezier::simple() {
    if (mOrder == 3) {
        const float a1 = BezierUtil::angle(mPoints[0], mPoints[3], mPoints[1]);
        const float a2 = BezierUtil::angle(mPoints[0], mPoints[3], mPoints[2]);
        if ((a1 > 0 && a2 < 0) || (a1 < 0 && a2 > 0)) return false;
    }
    const Vec2 n1 = normal(0), n2 = normal(1);
    return std::fabs(std::acos(n1.dot(n2))) < Float::pi / 3;
}

Bezier* Bezier::raise() const {
    if (mOrder != 2) return nullptr;
    const int k = static_cast<int>(mPoints.size());
    std::vector<Vec2> np{mPoints[0]};
    for (int i = 1; i < k; ++i) {
        np.push_back(mPoints[i] * (static_cast<float>(k - i) / k) +
                     mPoints[i - 1] * (static_cast<float>(i) / k));
    }
    np.push_back(mPoints[k - 1]);
    return new Bezier(&np);
}

void Bezier::reduce(std::vector<Bezier*>* out) {
    if (!out) return;
    std::vector<float> split;
    std::vector<float> roots[2];
    extrema(roots, &split);
    AddEnds(split);

    std::vector<Bezier*> first;
    for (size_t i = 0; i + 1 < split.size(); ++i) {
        auto* piece = static_cast<Bezier*>(subline(split[i], split[i + 1]));
        piece->mT1 = split[i];
        piece->mT2 = split[i + 1];
        first.push_back(piece);
    }

    const float step = 0.01f;
    bool stopped = false;
    for (Bezier* piece : first) {
        float u1 = 0, u2 = 0;
        do {
            bool cut = false;
            for (u2 = u1 + step; u2 <= 1.0f + step; u2 += step) {
                Line* trial = piece->subline(u1, u2);
                const bool ok = static_cast<Bezier*>(trial)->simple();
                delete trial;
                if (ok) continue;
                u2 -= step;
                // The u values are whole steps apart; half a step tells "no
                // progress" from float rounding of the sums.
                if (std::fabs(u1 - u2) < step * 0.5f) {
                    stopped = true;
                } else {
                    auto* part = static_cast<Bezier*>(piece->subline(u1, u2));
                    part->mT1 = piece->mT1 + (piece->mT2 - piece->mT1) * u1;
                    part->mT2 = piece->mT1 + (piece->mT2 - piece->mT1) * u2;
                    out->push_back(part);
                    u1 = u2;
                    cut = true;
                }
                break;
            }
            if (stopped || !cut) break;
        } while (u2 < 1.0f);
        if (stopped) break;
        if (u1 < 1.0f) {
            auto* part = static_cast<Bezier*>(piece->subline(u1, 1.0f));
            part->mT1 = piece->mT1 + (piece->mT2 - piece->mT1) * u1;
            part->mT2 = piece->mT2;
            out->push_back(part);
        }
    }
    for (Bezier* piece : first) delete piece;
}

void Bezier::lineCurveIntersects(const Vec2& a, const Vec2& b, std::vector<Vec2>* out) {
    if (!out) return;
    const float minX = std::min(a.x, b.x), maxX = std::max(a.x, b.x);
    const float minY = std::min(a.y, b.y), maxY = std::max(a.y, b.y);
    std::vector<float> found;
    BezierUtil::roots(&mPoints, a, b, &found);
    const float ab = (a - b).length();
    for (float t : found) {
        const Vec2 p = get(t);
        if (BezierUtil::between(p.x, minX, maxX) && BezierUtil::between(p.y, minY, maxY))
            out->push_back(Vec2(t, (p - a).length() / ab));
    }
}

void Bezier::curveIntersects(std::vector<Bezier*>* c1, std::vector<Bezier*>* c2, std::vector<Vec2>* out) {
    if (!c1 || !c2 || !out) return;
    std::vector<std::pair<Bezier*, Bezier*>> pairs;
    for (Bezier* l : *c1)
        for (Bezier* r : *c2)
            if (l->overlaps(r)) pairs.emplace_back(l, r);
    for (auto& pair : pairs) {
        std::vector<Vec2> result;
        BezierUtil::pair_iteration(pair.first, pair.second, &result);
        out->insert(out->end(), result.begin(), result.end());
    }
}

void Bezier::selfIntersects(std::vector<Vec2>* out) {
    std::vector<Bezier*> pieces;
    reduce(&pieces);
    if (pieces.size() >= 3) {
        for (size_t i = 0; i + 2 < pieces.size(); ++i) {
            std::vector<Bezier*> left{pieces[i]};
            std::vector<Bezier*> right(pieces.begin() + static_cast<long>(i) + 2, pieces.end());
            curveIntersects(&left, &right, out);
        }
    }
    for (Bezier* piece : pieces) delete piece;
}

void Bezier::intersects(Line* other, std::vector<Vec2>* out) {
    if (!out) return;
    if (!other) {
        selfIntersects(out);
        return;
    }
    if (other->getOrder() == 1) {
        lineCurveIntersects(other->point(0), other->point(1), out);
        return;
    }
    std::vector<Bezier*> mine, theirs;
    reduce(&mine);
    static_cast<Bezier*>(other)->reduce(&theirs);
    curveIntersects(&mine, &theirs, out);
    for (Bezier* b : mine) delete b;
    for (Bezier* b : theirs) delete b;
}

float Bezier::getTForX(float x, int steps) {
    const std::vector<Vec2> lut = getLut(steps);
    if (lut.size() < 2) return 2.0f;
    const float n = static_cast<float>(lut.size() - 1);
    for (size_t i = 1; i < lut.size(); ++i) {
        const float a = lut[i - 1].x, b = lut[i].x;
        if ((x >= a && x <= b) || (x >= b && x <= a)) {
            // The position inside the bracket, measured as a line measures
            // it, added to the table parameter of the bracket's start.
            Line bracket(lut[i - 1], lut[i]);
            return (static_cast<float>(i - 1) + bracket.getTForX(x, 200)) / n;
        }
    }
    // Outside the table's x range: -1 on the side of its start, 2 past its
    // end, as a line answers.
    const bool rising = lut.back().x >= lut.front().x;
    const bool beforeStart = rising ? x < lut.front().x : x > lut.front().x;
    return beforeStart ? -1.0f : 2.0f;
}

// ---- BezierUtil ----------------------------------------------------------------------

const float BezierUtil::mTvalues[24] = {
    -0.0640568928626056f, 0.0640568928626056f, -0.1911188674736163f, 0.1911188674736163f,
    -0.3150426796961634f, 0.3150426796961634f, -0.4337935076260451f, 0.4337935076260451f,
    -0.5454214713888396f, 0.5454214713888396f, -0.6480936519369755f, 0.6480936519369755f,
    -0.7401241915785544f, 0.7401241915785544f, -0.8200019859739029f, 0.8200019859739029f,
    -0.8864155270044011f, 0.8864155270044011f, -0.9382745520027328f, 0.9382745520027328f,
    -0.9747285559713095f, 0.9747285559713095f, -0.9951872199970214f, 0.9951872199970214f,
};

const float BezierUtil::mCvalues[24] = {
    0.1279381953467522f, 0.1279381953467522f, 0.1258374563468283f, 0.1258374563468283f, 0.1216704729278034f,
    0.1216704729278034f, 0.1155056680537256f, 0.1155056680537256f, 0.1074442701159656f, 0.1074442701159656f,
    0.0976186521041139f, 0.0976186521041139f, 0.0861901615319533f, 0.0861901615319533f, 0.0733464814110803f,
    0.0733464814110803f, 0.0592985849154368f, 0.0592985849154368f, 0.0442774388174198f, 0.0442774388174198f,
    0.0285313886289337f, 0.0285313886289337f, 0.0123412297999872f, 0.0123412297999872f,
};

float BezierUtil::arcfn(float t, DerivativeFn derivative, Bezier* curve) {
    return derivative(t, curve).length();
}

float BezierUtil::length(DerivativeFn derivative, Bezier* curve) {
    const float z = 0.5f;
    float sum = 0;
    for (int i = 0; i < 24; ++i) sum += mCvalues[i] * arcfn(z * mTvalues[i] + z, derivative, curve);
    return z * sum;
}

bool BezierUtil::approximately(float a, float b, float precision) {
    return std::fabs(a - b) <= precision;
}

bool BezierUtil::between(float v, float min, float max) {
    return (min <= v && v <= max) || approximately(v, min, Float::epsilon) ||
           approximately(v, max, Float::epsilon);
}

float BezierUtil::angle(const Vec2& origin, const Vec2& a, const Vec2& b) {
    const Vec2 d1 = a - origin, d2 = b - origin;
    return std::atan2(d1.cross(d2), d1.dot(d2));
}

void BezierUtil::closest(const std::vector<Vec2>* points, const Vec2& p, float* distance, int* index) {
    float best = 9223372036854775808.0f;
    int at = 0;
    if (points) {
        for (size_t i = 0; i < points->size(); ++i) {
            const float d = (*points)[i].distance(p);
            if (d < best) {
                best = d;
                at = static_cast<int>(i);
            }
        }
    }
    if (distance) *distance = best;
    if (index) *index = at;
}

float BezierUtil::abcratio(float t, int n) {
    if (t == 0.0f || t == 1.0f) return t;
    const float bottom = std::pow(t, static_cast<float>(n)) + std::pow(1 - t, static_cast<float>(n));
    return std::fabs((bottom - 1) / bottom);
}

float BezierUtil::projection_ratio(float t, int n) {
    if (t == 0.0f || t == 1.0f) return t;
    const float top = std::pow(1 - t, static_cast<float>(n));
    const float bottom = std::pow(t, static_cast<float>(n)) + top;
    return top / bottom;
}

bool BezierUtil::lli8(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4,
                      Vec2* out) {
    const float nx = (x1 * y2 - y1 * x2) * (x3 - x4) - (x1 - x2) * (x3 * y4 - y3 * x4);
    const float ny = (x1 * y2 - y1 * x2) * (y3 - y4) - (y1 - y2) * (x3 * y4 - y3 * x4);
    const float d = (x1 - x2) * (y3 - y4) - (y1 - y2) * (x3 - x4);
    if (d == 0) return false;
    if (out) *out = Vec2(nx / d, ny / d);
    return true;
}

bool BezierUtil::lli4(const Vec2& p1, const Vec2& p2, const Vec2& p3, const Vec2& p4, Vec2* out) {
    const Vec2 r = p2 - p1, s = p4 - p3;
    const float denominator = r.cross(s);
    if (denominator == 0) return false;
    const Vec2 qp = p3 - p1;
    const float t = qp.cross(s) / denominator;
    const float u = qp.cross(r) / denominator;
    if (t < 0 || t > 1 || u < 0 || u > 1) return false;
    if (out) *out = p1 + r * t;
    return true;
}

Bezier* BezierUtil::makeline(const Vec2& p1, const Vec2& p2) {
    const Vec2 d = p2 - p1;
    return new Bezier(p1, p1 + d / 3.0f, p1 + d * (2.0f / 3.0f), p2);
}

Rect BezierUtil::find_bbox(const std::vector<Bezier*>* curves) {
    float minX = 1e8f, minY = 1e8f, maxX = -1e8f, maxY = -1e8f;
    if (curves) {
        for (Bezier* c : *curves) {
            const Rect b = c->getBbox();
            minX = std::min(minX, b.getLeft());
            minY = std::min(minY, b.getTop());
            maxX = std::max(maxX, b.getRight());
            maxY = std::max(maxY, b.getBottom());
        }
    }
    return Rect(minX, minY, maxX - minX, maxY - minY);
}

void BezierUtil::align(const std::vector<Vec2>* points, const Vec2& p1, const Vec2& p2,
                       std::vector<Vec2>* out) {
    if (!points || !out) return;
    const float a = -std::atan2(p2.y - p1.y, p2.x - p1.x);
    const float c = std::cos(a), s = std::sin(a);
    out->clear();
    for (const Vec2& p : *points) {
        const Vec2 d = p - p1;
        out->push_back(Vec2(d.x * c - d.y * s, d.x * s + d.y * c));
    }
}

void BezierUtil::inflection(const std::vector<Vec2>* points, std::vector<float>* out) {
    if (!points || !out || points->size() < 4) return;
    std::vector<Vec2> p;
    align(points, points->front(), (*points)[3], &p);
    const float a = p[2].x * p[1].y, b = p[3].x * p[1].y, c = p[1].x * p[2].y, d = p[3].x * p[2].y;
    const float k2 = 18 * (-3 * a + 2 * b + 3 * c - d);
    const float k1 = 18 * (3 * a - b - 3 * c);
    const float k0 = 18 * (c - a);
    auto add = [out](float t) {
        if (t >= 0 && t <= 1) out->push_back(t);
    };
    if (approximately(k2, 0, Float::epsilon)) {
        if (!approximately(k1, 0, Float::epsilon)) add(-k0 / k1);
        return;
    }
    const float q = std::sqrt(k1 * k1 - 4 * k2 * k0);
    const float e = 2 * k2;
    if (approximately(e, 0, Float::epsilon)) return;
    add((q - k1) / e);
    add(-(k1 + q) / e);
}

namespace {

void PairIteration(Bezier* c1, Bezier* c2, std::vector<Vec2>* out, int depth, int& visits) {
    if (++visits > BezierUtil::kMaxPairVisits) return;
    const Rect b1 = c1->getBbox(), b2 = c2->getBbox();
    const float r = 100000.0f;
    if (b1.width + b1.height < 0.5f && b2.width + b2.height < 0.5f) {
        auto mid = [r](Line* c) {
            const float m = (c->getT1() + c->getT2()) * r * 0.5f;
            return m >= 1 ? m / r : 0.0f;
        };
        const Vec2 result(mid(c1), mid(c2));
        for (const Vec2& v : *out)
            if (v.equal(result, Float::epsilon)) return;
        out->push_back(result);
        return;
    }
    if (depth >= BezierUtil::kMaxPairDepth) return;
    std::pair<Line*, Line*> a = c1->split(0.5f), b = c2->split(0.5f);
    Line* left[2] = {a.first, a.second};
    Line* right[2] = {b.first, b.second};
    for (Line* l : left)
        for (Line* rr : right)
            if (l->getBbox().intersects(rr->getBbox()))
                PairIteration(static_cast<Bezier*>(l), static_cast<Bezier*>(rr), out, depth + 1, visits);
    for (Line* l : left) delete l;
    for (Line* rr : right) delete rr;
}

}  // namespace

void BezierUtil::pair_iteration(Bezier* c1, Bezier* c2, std::vector<Vec2>* out) {
    if (!c1 || !c2 || !out) return;
    int visits = 0;
    PairIteration(c1, c2, out, 0, visits);
}

void BezierUtil::droots(const std::vector<float>* values, std::vector<float>* out) {
    if (!out) return;
    out->clear();
    if (!values) return;
    const std::vector<float>& p = *values;
    if (p.size() == 3) {
        const float a = p[0], b = p[1], c = p[2];
        const float d = a - 2 * b + c;
        if (d != 0) {
            const float r = std::sqrt(b * b - a * c);
            out->push_back((-(b - a) + r) / d);
            out->push_back((-(b - a) - r) / d);
        } else if (b != c) {
            out->push_back((2 * b - c) / (2 * (b - c)));
        }
    } else if (p.size() == 2) {
        if (p[0] != p[1]) out->push_back(p[0] / (p[0] - p[1]));
    }
}

void BezierUtil::roots(const std::vector<Vec2>* points, const Vec2& p1, const Vec2& p2,
                       std::vector<float>* out) {
    if (!points || !out) return;
    std::vector<Vec2> aligned;
    align(points, p1, p2, &aligned);
    auto keep = [out](float t) {
        if (t >= 0 && t <= 1) out->push_back(t);
    };
    if (aligned.size() == 3) {
        const float a = aligned[0].y, b = aligned[1].y, c = aligned[2].y;
        const float d = a - 2 * b + c;
        if (d != 0) {
            const float m1 = -std::sqrt(b * b - a * c), m2 = -a + b;
            keep(-(m1 + m2) / d);
            keep(-(-m1 + m2) / d);
        } else if (b != c) {
            keep((2 * b - c) / (2 * b - 2 * c));
        }
        return;
    }
    if (aligned.size() != 4) return;
    const float pa = aligned[0].y, pb = aligned[1].y, pc = aligned[2].y, pd = aligned[3].y;
    const float d = -pa + 3 * pb - 3 * pc + pd;
    if (d == 0) {
        // Not a cubic in t: solve the quadratic (or linear) remainder.
        const float qa = 3 * pa - 6 * pb + 3 * pc, qb = -3 * pa + 3 * pb, qc = pa;
        if (qa == 0) {
            if (qb != 0) keep(-qc / qb);
            return;
        }
        const float disc = qb * qb - 4 * qa * qc;
        if (disc < 0) return;
        const float s = std::sqrt(disc);
        keep((-qb + s) / (2 * qa));
        if (s != 0) keep((-qb - s) / (2 * qa));
        return;
    }
    const float a = (3 * pa - 6 * pb + 3 * pc) / d;
    const float b = (-3 * pa + 3 * pb) / d;
    const float c = pa / d;
    const float p = (3 * b - a * a) / 3;
    const float q = (2 * a * a * a - 9 * a * b + 27 * c) / 27;
    const float q2 = q / 2;
    const float discriminant = q2 * q2 + p * p * p / 27;
    if (discriminant < 0) {
        const float mp3 = -p / 3;
        const float r = std::sqrt(mp3 * mp3 * mp3);
        const float t = -q / (2 * r);
        const float phi = std::acos(std::min(1.0f, std::max(-1.0f, t)));
        const float k = 2 * Crt(r);
        keep(k * std::cos(phi / 3) - a / 3);
        keep(k * std::cos((phi + 2 * Float::pi) / 3) - a / 3);
        keep(k * std::cos((phi + 4 * Float::pi) / 3) - a / 3);
    } else if (discriminant == 0) {
        const float u = Crt(-q2);
        keep(2 * u - a / 3);
        keep(-u - a / 3);
    } else {
        const float s = std::sqrt(discriminant);
        keep(Crt(-q2 + s) - Crt(q2 + s) - a / 3);
    }
}

}  // namespace Core
}  // namespace Quorvane
