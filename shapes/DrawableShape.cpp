#include "shapes/DrawableShape.h"

#include <cmath>

#include "core/Float.h"
#include "shapes/Brush.h"
#include "shapes/Shape.h"
#include "shapes/ShapePainter.h"

namespace Quorvane {
namespace Core {

namespace {

// Depth range of the default projection.
constexpr float kNear = -1.0f;
constexpr float kFar = 100.0f;

template <typename T>
void Change(T& field, const T& value, bool& dirty) {
    if (field == value) return;
    field = value;
    dirty = true;
}

}  // namespace

DrawableShape::DrawableShape(RenderLayer* parent, bool useNewDestination)
    : RenderPass(parent, useNewDestination, 0, 0),
      mFillCache(new ShapeFillCache(this)),
      mStrokeCache(new ShapeStrokeCache(this)) {}

DrawableShape* DrawableShape::create(RenderLayer* parent, bool useNewDestination) {
    return new DrawableShape(parent, useNewDestination);
}

DrawableShape::~DrawableShape() {
    delete mFillCache;
    delete mStrokeCache;
    delete mMvp;
    delete mFillPainter;
    delete mStrokePainter;
}

void DrawableShape::setContentShape(Shape* shape) {
    Change(mContentShape, shape, mDirty);
}

void DrawableShape::setFillBrush(Brush* brush) {
    Change(mFillBrush, brush, mDirty);
}

void DrawableShape::setStrokeBrush(Brush* brush) {
    Change(mStrokeBrush, brush, mDirty);
}

void DrawableShape::setAntiAlias(bool antiAlias) {
    Change(mAntiAlias, antiAlias, mDirty);
}

void DrawableShape::setLineCap(DrawableShapeCapStyle cap) {
    Change(mLineCap, cap, mDirty);
}

void DrawableShape::setLineJoin(DrawableShapeJoinStyle join) {
    Change(mLineJoin, join, mDirty);
}

void DrawableShape::setMiterLimit(float limit) {
    Change(mMiterLimit, limit, mDirty);
}

void DrawableShape::setStrokeWidth(float width) {
    Change(mStrokeWidth, width, mDirty);
}

void DrawableShape::setInverseScale(float scale) {
    if (!(std::fabs(scale - mInverseScale) > Float::epsilon)) return;
    mInverseScale = scale;
    mDirty = true;
}

void DrawableShape::setMVPTransform(const Mat4& m) {
    if (!mMvp) mMvp = new Mat4();
    *mMvp = m;
}

Rect DrawableShape::getBoundingBox() {
    if (!mFillBrush && !mStrokeBrush) return Rect();
    ShapeCache* cache = mStrokeBrush ? static_cast<ShapeCache*>(mStrokeCache) : mFillCache;
    if (cache->bounds() == Rect() && mContentShape) cache->setBounds(mContentShape->getBbox());
    return cache->bounds();
}

void DrawableShape::setParent(RenderLayer* layer) {
    RenderPass::setParent(layer);
}

void DrawableShape::prepareForFrame(long long) {
    if (!mMvp) {
        const float w = static_cast<float>(width()), h = static_cast<float>(height());
        mMvp = new Mat4();
        mMvp->setOrtho(-w / 2, w / 2, h / 2, -h / 2, kNear, kFar);
    }
    if (!mDirty) return;
    if (mContentShape) {
        if (mFillBrush) {
            mFillCache->cacheShape(true);
            delete mFillPainter;
            mFillPainter = new ShapePainter(mFillBrush, this, true);
        }
        if (mStrokeBrush) {
            mStrokeCache->cacheShape(true);
            delete mStrokePainter;
            mStrokePainter = new ShapePainter(mStrokeBrush, this, false);
        }
    }
    // A painter whose brush (or shape) is gone would still draw the old
    // geometry with a brush the caller may have deleted.
    if (!mContentShape || !mFillBrush) {
        delete mFillPainter;
        mFillPainter = nullptr;
    }
    if (!mContentShape || !mStrokeBrush) {
        delete mStrokePainter;
        mStrokePainter = nullptr;
    }
    mDirty = false;
}

void DrawableShape::drawSelf(unsigned int texture) {
    glDisable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    if (mFillPainter) mFillPainter->draw(texture);
    if (mStrokePainter) mStrokePainter->draw(texture);
}

}  // namespace Core
}  // namespace Quorvane
