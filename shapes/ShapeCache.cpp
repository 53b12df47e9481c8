#include "shapes/ShapeCache.h"

#include <algorithm>
#include <cmath>

#include "core/Float.h"
#include "shapes/DrawableShape.h"
#include "shapes/Shape.h"

namespace Quorvane {
namespace Core {

namespace {

// Miter limit of the fill's fringe joins.
constexpr float kFillMiterLimit = 2.4f;
// Largest stroke width drawn.
constexpr float kMaxStrokeWidth = 200.0f;

Vec2 Pos(const PathFlattenPoint& p) {
    return Vec2(p.x, p.y);
}

Vec2 Dm(const PathFlattenPoint& p) {
    return Vec2(p.dmx, p.dmy);
}

// Left normal of the direction leaving p.
Vec2 Norm(const PathFlattenPoint& p) {
    return Vec2(p.dy, -p.dx);
}

}  // namespace

float ShapeCache::mInitFringeWidth = 1.0f;

ShapeCache::ShapeCache(DrawableShape* owner) : mOwner(owner), mFlattener(new FlattenShape()) {}

ShapeCache::~ShapeCache() {
    if (mOwner) mOwner->vertexBuffer()->removeShaderVertices(&mVertexRange);
    delete mFlattener;
}

bool ShapeCache::cacheShape(bool) {
    return false;
}

const std::vector<ShapeBufferVertex>& ShapeCache::getCachedVertices() const {
    return mOwner->vertexBuffer()->vertices();
}

bool ShapeCache::beginCache(bool force) {
    mShape = mOwner->contentShape();
    if (!mShape) return false;
    mShape->commitShape();
    mFringeWidth = mInitFringeWidth * mOwner->inverseScale();
    if (mOwner->vertexBuffer()->vertexCount() > 0 && !force) return false;
    return true;
}

void ShapeCache::flattenShape() {
    mFlattener->clear();
    mFlattener->flatten(mShape, mOwner->inverseScale());
    calculateCachedPathLengths();
    mOwner->vertexBuffer()->removeShaderVertices(&mVertexRange);
}

void ShapeCache::allocate(int count) {
    mVertexRange = Range(0, std::max(0, count));
    mOwner->vertexBuffer()->allocShaderVertices(&mVertexRange);
    mAnyVertex = false;
}

void ShapeCache::vertex(int index, const Vec2& p, float u, float v) {
    if (index < 0 || index >= mVertexRange.size) return;
    ShapeBufferVertex* vertex = mOwner->vertexBuffer()->getShaderVertex(mVertexRange.start + index);
    ShapeBufferVertex::SetVertex(vertex, p.x, p.y, u, v);
    if (!mAnyVertex) {
        mMinX = mMaxX = p.x;
        mMinY = mMaxY = p.y;
        mAnyVertex = true;
    } else {
        mMinX = std::min(mMinX, p.x);
        mMaxX = std::max(mMaxX, p.x);
        mMinY = std::min(mMinY, p.y);
        mMaxY = std::max(mMaxY, p.y);
    }
}

void ShapeCache::closeBounds() {
    mBounds = mAnyVertex ? Rect(mMinX, mMinY, mMaxX - mMinX, mMaxY - mMinY) : Rect();
}

void ShapeCache::calculateCachedPathLengths() {
    std::vector<PathFlattenPoint>& points = getCachedPoints();
    Rect bounds(Float::max, Float::max, Float::min, Float::min);
    for (PathCache& path : getCachedPaths()) {
        if (path.count <= 0) continue;
        PathFlattenPoint* pts = &points.at(static_cast<size_t>(path.first));
        if (path.count > 1 && Vec2::equalWithTolerance(pts[path.count - 1].x, pts[path.count - 1].y, pts[0].x,
                                                       pts[0].y, Float::epsilon)) {
            path.closed = true;
            path.count--;
        }
        for (int i = 0; i < path.count; ++i) {
            PathFlattenPoint& p0 = pts[i];
            const PathFlattenPoint& p1 = pts[(i + 1) % path.count];
            p0.dx = p1.x - p0.x;
            p0.dy = p1.y - p0.y;
            p0.len = Vec2::normalize(&p0.dx, &p0.dy);
            bounds.include(Pos(p0));
        }
    }
    mBounds = bounds;
}

void ShapeCache::calculateJoins(std::vector<PathCache>& paths, std::vector<PathFlattenPoint>& points, float w,
                                DrawableShapeJoinStyle lineJoin, float miterLimit) {
    const float iw = w > 0 ? 1.0f / w : 0.0f;
    for (PathCache& path : paths) {
        if (path.count < 1) {
            path.convex = path.count == 0;
            continue;
        }
        PathFlattenPoint* pts = &points.at(static_cast<size_t>(path.first));
        path.bevelCount = 0;
        int left = 0;
        const PathFlattenPoint* p0 = &pts[path.count - 1];
        for (int j = 0; j < path.count; ++j) {
            PathFlattenPoint& p1 = pts[j];
            const float dlx0 = p0->dy, dly0 = -p0->dx, dlx1 = p1.dy, dly1 = -p1.dx;
            p1.dmx = (dlx0 + dlx1) * 0.5f;
            p1.dmy = (dly0 + dly1) * 0.5f;
            const float dmr2 = p1.dmx * p1.dmx + p1.dmy * p1.dmy;
            if (dmr2 > 0.000001f) {
                const float scale = std::min(1.0f / dmr2, 600.0f);
                p1.dmx *= scale;
                p1.dmy *= scale;
            }
            p1.flags &= PathFlattenPoint::kCorner;
            const float cross = p1.dx * p0->dy - p0->dx * p1.dy;
            if (cross > 0.0f) {
                left++;
                p1.flags |= PathFlattenPoint::kLeft;
            }
            const float limit = std::max(1.01f, std::min(p0->len, p1.len) * iw);
            if (dmr2 * limit * limit < 1.0f) p1.flags |= PathFlattenPoint::kInnerBevel;
            if (p1.flags & PathFlattenPoint::kCorner) {
                if (dmr2 * miterLimit * miterLimit < 1.0f || lineJoin < kJoinMiter)
                    p1.flags |= PathFlattenPoint::kBevel;
            }
            if (p1.flags & (PathFlattenPoint::kBevel | PathFlattenPoint::kInnerBevel)) path.bevelCount++;
            p0 = &p1;
        }
        path.convex = left == path.count;
    }
}

void ShapeCache::chooseBevel(bool innerBevel, const PathFlattenPoint& p0, const PathFlattenPoint& p1, float w,
                             Vec2* first, Vec2* second) {
    if (innerBevel) {
        *first = Vec2(p1.x + p0.dy * w, p1.y - p0.dx * w);
        *second = Vec2(p1.x + p1.dy * w, p1.y - p1.dx * w);
    } else {
        *first = Vec2(p1.x + p1.dmx * w, p1.y + p1.dmy * w);
        *second = *first;
    }
}

int ShapeCache::bevelJoins(int index, const PathFlattenPoint& p0, const PathFlattenPoint& p1, float lw,
                           float rw, float lu, float ru, float) {
    const Vec2 p = Pos(p1), n0 = Norm(p0), n1 = Norm(p1), dm = Dm(p1);
    const bool inner = (p1.flags & PathFlattenPoint::kInnerBevel) != 0;
    const bool bevel = (p1.flags & PathFlattenPoint::kBevel) != 0;
    if (p1.flags & PathFlattenPoint::kLeft) {
        Vec2 l0, l1;
        chooseBevel(inner, p0, p1, lw, &l0, &l1);
        vertex(index++, l0, lu, 1);
        vertex(index++, p - n0 * rw, ru, 1);
        if (bevel) {
            vertex(index++, l0, lu, 1);
            vertex(index++, p - n0 * rw, ru, 1);
            vertex(index++, l1, lu, 1);
            vertex(index++, p - n1 * rw, ru, 1);
        } else {
            vertex(index++, p, 0.5f, 1);
            vertex(index++, p - n0 * rw, ru, 1);
            vertex(index++, p - dm * rw, ru, 1);
            vertex(index++, p - dm * rw, ru, 1);
            vertex(index++, p, 0.5f, 1);
            vertex(index++, p - n1 * rw, ru, 1);
        }
        vertex(index++, l1, lu, 1);
        vertex(index++, p - n1 * rw, ru, 1);
    } else {
        Vec2 r0, r1;
        chooseBevel(inner, p0, p1, -rw, &r0, &r1);
        vertex(index++, p + n0 * lw, lu, 1);
        vertex(index++, r0, ru, 1);
        if (bevel) {
            vertex(index++, p + n0 * lw, lu, 1);
            vertex(index++, r0, ru, 1);
            vertex(index++, p + n1 * lw, lu, 1);
            vertex(index++, r1, ru, 1);
        } else {
            vertex(index++, p + n0 * lw, lu, 1);
            vertex(index++, p, 0.5f, 1);
            vertex(index++, p + dm * lw, lu, 1);
            vertex(index++, p + dm * lw, lu, 1);
            vertex(index++, p + n1 * lw, lu, 1);
            vertex(index++, p, 0.5f, 1);
        }
        vertex(index++, p + n1 * lw, lu, 1);
        vertex(index++, r1, ru, 1);
    }
    return index;
}

// ---- fill ------------------------------------------------------------------------------------

bool ShapeFillCache::cacheShape(bool force) {
    if (!beginCache(force)) return false;
    flattenShape();
    std::vector<PathCache>& paths = getCachedPaths();
    std::vector<PathFlattenPoint>& points = getCachedPoints();
    const bool aa = mOwner->antiAlias();
    calculateJoins(paths, points, aa ? mFringeWidth : 0.0f, kJoinMiter, kFillMiterLimit);

    int count = 0;
    for (const PathCache& path : paths) {
        count += path.count;
        if (aa) count += 2 * (path.count + 6 * path.bevelCount + 1);
    }
    const bool single = paths.size() == 1 && paths.front().convex;
    const bool cover = !single;
    if (cover) count += 6;
    allocate(count);

    const float woff = 0.5f * mFringeWidth;
    int index = 0;
    for (PathCache& path : paths) {
        PathFlattenPoint* pts = path.count > 0 ? &points.at(static_cast<size_t>(path.first)) : nullptr;
        path.fillOffset = index;
        if (aa) {
            const PathFlattenPoint* p0 = pts ? &pts[path.count - 1] : nullptr;
            for (int j = 0; j < path.count; ++j) {
                const PathFlattenPoint& p1 = pts[j];
                if (p1.flags & PathFlattenPoint::kBevel) {
                    if (p1.flags & PathFlattenPoint::kLeft) {
                        vertex(index++, Pos(p1) + Dm(p1) * woff, 0.5f, 1);
                    } else {
                        vertex(index++, Pos(p1) + Norm(*p0) * woff, 0.5f, 1);
                        vertex(index++, Pos(p1) + Norm(p1) * woff, 0.5f, 1);
                    }
                } else {
                    vertex(index++, Pos(p1) + Dm(p1) * woff, 0.5f, 1);
                }
                p0 = &p1;
            }
        } else {
            for (int j = 0; j < path.count; ++j) vertex(index++, Pos(pts[j]), 0.5f, 1);
        }
        path.fillCount = index - path.fillOffset;

        path.strokeOffset = index;
        path.strokeCount = 0;
        if (aa && path.count > 0) {
            const float rw = mFringeWidth - woff, ru = 1;
            float lw = mFringeWidth + woff, lu = 0;
            if (single) {
                lw = woff;
                lu = 0.5f;
            }
            const PathFlattenPoint* p0 = &pts[path.count - 1];
            for (int j = 0; j < path.count; ++j) {
                const PathFlattenPoint& p1 = pts[j];
                if (p1.flags & (PathFlattenPoint::kBevel | PathFlattenPoint::kInnerBevel)) {
                    index = bevelJoins(index, *p0, p1, lw, rw, lu, ru, 1.0f);
                } else {
                    vertex(index++, Pos(p1) + Dm(p1) * lw, lu, 1);
                    vertex(index++, Pos(p1) - Dm(p1) * rw, ru, 1);
                }
                p0 = &p1;
            }
            const std::vector<ShapeBufferVertex>& all = getCachedVertices();
            const size_t first = static_cast<size_t>(mVertexRange.start + path.strokeOffset);
            const ShapeBufferVertex v0 = all.at(first), v1 = all.at(first + 1);
            vertex(index++, Vec2(v0.x, v0.y), lu, 1);
            vertex(index++, Vec2(v1.x, v1.y), ru, 1);
            path.strokeCount = index - path.strokeOffset;
        }
    }
    closeBounds();

    if (cover) {
        const float left = mBounds.getLeft() - 1, right = mBounds.getRight() + 1;
        const float top = mBounds.getTop() - 1, bottom = mBounds.getBottom() + 1;
        vertex(index++, Vec2(left, bottom), 0.5f, 1.0f);
        vertex(index++, Vec2(right, bottom), 0.5f, 1.0f);
        vertex(index++, Vec2(right, top), 0.5f, 1.0f);
        vertex(index++, Vec2(left, bottom), 0.5f, 1.0f);
        vertex(index++, Vec2(right, top), 0.5f, 1.0f);
        vertex(index++, Vec2(left, top), 0.5f, 1.0f);
    }
    return true;
}

// ---- stroke ----------------------------------------------------------------------------------

int ShapeStrokeCache::hvCurveDivsS(float w, float arc, float tolerance) {
    const float da = std::acos(w / (w + tolerance)) * 2.0f;
    const float divs = std::ceil(arc / da);
    // A zero or non-finite angle step (zero width, huge radius) gets the
    // least number of divisions instead of an overflowing conversion.
    if (!std::isfinite(divs) || divs < 2) return 2;
    return divs > 1000.0f ? 1000 : static_cast<int>(divs);
}

int ShapeStrokeCache::roundJoinS(int index, const PathFlattenPoint& p0, const PathFlattenPoint& p1, float lw,
                                 float rw, float lu, float ru, int ncap) {
    const Vec2 p = Pos(p1), n0 = Norm(p0), n1 = Norm(p1);
    const bool inner = (p1.flags & PathFlattenPoint::kInnerBevel) != 0;
    auto steps = [ncap](float sweep) {
        const float k = std::ceil(sweep / Float::pi * static_cast<float>(ncap));
        if (!(k >= 2)) return 2;
        return std::min(ncap, static_cast<int>(k));
    };
    if (p1.flags & PathFlattenPoint::kLeft) {
        Vec2 l0, l1;
        chooseBevel(inner, p0, p1, lw, &l0, &l1);
        const float a0 = std::atan2(-n0.y, -n0.x);
        float a1 = std::atan2(-n1.y, -n1.x);
        if (a1 > a0) a1 -= Float::doublePi;
        vertex(index++, l0, lu, 1);
        vertex(index++, p - n0 * rw, ru, 1);
        const int k = steps(std::fabs(a1 - a0));
        for (int j = 0; j < k; ++j) {
            const float a = a0 + (a1 - a0) * static_cast<float>(j) / static_cast<float>(k - 1);
            vertex(index++, p, 0.5f, 1);
            vertex(index++, p + Vec2(std::cos(a), std::sin(a)) * rw, ru, 1);
        }
        vertex(index++, l1, lu, 1);
        vertex(index++, p - n1 * rw, ru, 1);
    } else {
        Vec2 r0, r1;
        chooseBevel(inner, p0, p1, -rw, &r0, &r1);
        const float a0 = std::atan2(n0.y, n0.x);
        float a1 = std::atan2(n1.y, n1.x);
        if (a1 < a0) a1 += Float::doublePi;
        vertex(index++, p + n0 * lw, lu, 1);
        vertex(index++, r0, ru, 1);
        const int k = steps(std::fabs(a1 - a0));
        for (int j = 0; j < k; ++j) {
            const float a = a0 + (a1 - a0) * static_cast<float>(j) / static_cast<float>(k - 1);
            vertex(index++, p + Vec2(std::cos(a), std::sin(a)) * lw, lu, 1);
            vertex(index++, p, 0.5f, 1);
        }
        vertex(index++, p + n1 * lw, lu, 1);
        vertex(index++, r1, ru, 1);
    }
    return index;
}

int ShapeStrokeCache::buttCapStartS(int index, const Vec2& p, const Vec2& dir, float w, float d, float aa) {
    const Vec2 n(dir.y, -dir.x);
    const Vec2 px = p - dir * d;
    vertex(index++, px + n * w - dir * aa, 0, 0);
    vertex(index++, px - n * w - dir * aa, 1, 0);
    vertex(index++, px + n * w, 0, 1);
    vertex(index++, px - n * w, 1, 1);
    return index;
}

int ShapeStrokeCache::buttCapEndS(int index, const Vec2& p, const Vec2& dir, float w, float d, float aa) {
    const Vec2 n(dir.y, -dir.x);
    const Vec2 px = p + dir * d;
    vertex(index++, px + n * w, 0, 1);
    vertex(index++, px - n * w, 1, 1);
    vertex(index++, px + n * w + dir * aa, 0, 0);
    vertex(index++, px - n * w + dir * aa, 1, 0);
    return index;
}

int ShapeStrokeCache::squareCapStartS(int index, const Vec2& p, const Vec2& dir, float w) {
    const Vec2 n(dir.y, -dir.x);
    vertex(index++, p - n * w, 0, 1);
    vertex(index++, p, 0.5f, 1);
    vertex(index++, p - n * w - dir * w, 0, 1);
    vertex(index++, p, 0.5f, 1);
    vertex(index++, p + n * w - dir * w, 0, 1);
    vertex(index++, p, 0.5f, 1);
    vertex(index++, p + n * w, 0, 1);
    vertex(index++, p - n * w, 1, 1);
    return index;
}

int ShapeStrokeCache::squareCapEndS(int index, const Vec2& p, const Vec2& dir, float w) {
    const Vec2 n(dir.y, -dir.x);
    vertex(index++, p + n * w, 0, 1);
    vertex(index++, p - n * w, 1, 1);
    vertex(index++, p, 0.5f, 1);
    vertex(index++, p - n * w, 0, 1);
    vertex(index++, p, 0.5f, 1);
    vertex(index++, p - n * w + dir * w, 0, 1);
    vertex(index++, p, 0.5f, 1);
    vertex(index++, p + n * w + dir * w, 0, 1);
    vertex(index++, p, 0.5f, 1);
    // Closes the cap's last quarter (p, p + n·w + dir·w, p + n·w), which the
    // strip would otherwise leave open.
    vertex(index++, p + n * w, 0, 1);
    return index;
}

int ShapeStrokeCache::roundCapStartS(int index, const Vec2& p, const Vec2& dir, float w, int ncap) {
    const Vec2 n(dir.y, -dir.x);
    for (int i = 0; i < ncap; ++i) {
        const float a = static_cast<float>(i) / static_cast<float>(ncap - 1) * Float::pi;
        vertex(index++, p - n * (w * std::cos(a)) - dir * (w * std::sin(a)), 0, 1);
        vertex(index++, p, 0.5f, 1);
    }
    vertex(index++, p + n * w, 0, 1);
    vertex(index++, p - n * w, 1, 1);
    return index;
}

int ShapeStrokeCache::roundCapEndS(int index, const Vec2& p, const Vec2& dir, float w, int ncap) {
    const Vec2 n(dir.y, -dir.x);
    vertex(index++, p + n * w, 0, 1);
    vertex(index++, p - n * w, 1, 1);
    for (int i = 0; i < ncap; ++i) {
        const float a = static_cast<float>(i) / static_cast<float>(ncap - 1) * Float::pi;
        vertex(index++, p, 0.5f, 1);
        vertex(index++, p - n * (w * std::cos(a)) + dir * (w * std::sin(a)), 0, 1);
    }
    return index;
}

bool ShapeStrokeCache::cacheShape(bool force) {
    float width = mOwner->strokeWidth();
    width = std::isnan(width) ? 0.0f : std::min(kMaxStrokeWidth, std::max(0.0f, width));
    mStrokeWidth = width;
    if (!beginCache(force)) return false;
    if (mFringeWidth > mStrokeWidth) mStrokeWidth = mFringeWidth;
    flattenShape();
    std::vector<PathCache>& paths = getCachedPaths();
    std::vector<PathFlattenPoint>& points = getCachedPoints();
    const bool aa = mOwner->antiAlias();
    float w = mStrokeWidth * 0.5f;
    if (aa) w += mFringeWidth * 0.5f;
    const int ncap = hvCurveDivsS(w, Float::pi, mOwner->inverseScale() * Float::pixelEpsilon);
    const DrawableShapeJoinStyle lineJoin = mOwner->lineJoin();
    const DrawableShapeCapStyle lineCap = mOwner->lineCap();
    calculateJoins(paths, points, w, lineJoin, mOwner->miterLimit());

    int count = 0;
    for (const PathCache& path : paths) {
        if (lineJoin == kJoinRound)
            count += (path.count + (ncap + 2) * path.bevelCount) * 2 + 2;
        else
            count += (path.count + 5 * path.bevelCount) * 2 + 2;
        if (!path.closed) count += lineCap == kCapRound ? 4 * ncap + 4 : 18;
    }
    allocate(count);

    int index = 0;
    for (PathCache& path : paths) {
        path.fillOffset = 0;
        path.fillCount = 0;
        path.strokeOffset = index;
        path.strokeCount = 0;
        // An open polygon of one point has no direction for its caps.
        if (path.count < 1 || (!path.closed && path.count < 2)) continue;
        PathFlattenPoint* pts = &points.at(static_cast<size_t>(path.first));
        const PathFlattenPoint* p0;
        int s, e;
        if (path.closed) {
            p0 = &pts[path.count - 1];
            s = 0;
            e = path.count;
        } else {
            p0 = &pts[0];
            s = 1;
            e = path.count - 1;
            Vec2 dir(pts[1].x - pts[0].x, pts[1].y - pts[0].y);
            Vec2::normalize(&dir.x, &dir.y);
            if (lineCap == kCapButt)
                index = buttCapStartS(index, Pos(pts[0]), dir, w, 0, mFringeWidth);
            else if (lineCap == kCapSquare)
                index = squareCapStartS(index, Pos(pts[0]), dir, w);
            else
                index = roundCapStartS(index, Pos(pts[0]), dir, w, ncap);
        }
        for (int j = s; j < e; ++j) {
            const PathFlattenPoint& p1 = pts[j];
            if (p1.flags & (PathFlattenPoint::kBevel | PathFlattenPoint::kInnerBevel)) {
                if (lineJoin == kJoinRound)
                    index = roundJoinS(index, *p0, p1, w, w, 0, 1, ncap);
                else
                    index = bevelJoins(index, *p0, p1, w, w, 0, 1, mFringeWidth);
            } else {
                vertex(index++, Pos(p1) + Dm(p1) * w, 0, 1);
                vertex(index++, Pos(p1) - Dm(p1) * w, 1, 1);
            }
            p0 = &p1;
        }
        if (path.closed) {
            const std::vector<ShapeBufferVertex>& all = getCachedVertices();
            const size_t first = static_cast<size_t>(mVertexRange.start + path.strokeOffset);
            const ShapeBufferVertex v0 = all.at(first), v1 = all.at(first + 1);
            vertex(index++, Vec2(v0.x, v0.y), 0, 1);
            vertex(index++, Vec2(v1.x, v1.y), 1, 1);
        } else {
            const PathFlattenPoint& a = pts[path.count - 2];
            const PathFlattenPoint& b = pts[path.count - 1];
            Vec2 dir(b.x - a.x, b.y - a.y);
            Vec2::normalize(&dir.x, &dir.y);
            if (lineCap == kCapButt)
                index = buttCapEndS(index, Pos(b), dir, w, 0, mFringeWidth);
            else if (lineCap == kCapSquare)
                index = squareCapEndS(index, Pos(b), dir, w);
            else
                index = roundCapEndS(index, Pos(b), dir, w, ncap);
        }
        path.strokeCount = index - path.strokeOffset;
    }
    closeBounds();
    return true;
}

}  // namespace Core
}  // namespace Quorvane
