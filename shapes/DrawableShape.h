// The render pass that draws one shape with a fill brush and a stroke brush:
// it owns the geometry caches, the shared vertex buffer and one painter per
// brush, and rebuilds them only after something changed.
#pragma once

#include "core/Matrix.h"
#include "core/Rect.h"
#include "render/RenderPass.h"
#include "shapes/ShapeCache.h"
#include "shapes/ShapeVertexBuffer.h"

namespace Quorvane {
namespace Core {

class Brush;
class Shape;
class ShapePainter;

class DrawableShape : public RenderPass {
public:
    // Size 0: the parent layer's size.
    DrawableShape(RenderLayer* parent, bool useNewDestination);
    static DrawableShape* create(RenderLayer* parent, bool useNewDestination);
    ~DrawableShape() override;
    DrawableShape(const DrawableShape&) = delete;
    DrawableShape& operator=(const DrawableShape&) = delete;

    // Neither the shape nor the brushes are owned. Each setter marks the
    // drawable dirty only when the value changes.
    void setContentShape(Shape* shape);
    void setFillBrush(Brush* brush);
    void setStrokeBrush(Brush* brush);
    void setAntiAlias(bool antiAlias);
    void setLineCap(DrawableShapeCapStyle cap);
    void setLineJoin(DrawableShapeJoinStyle join);
    void setMiterLimit(float limit);
    void setStrokeWidth(float width);
    // Changes only by more than Float::epsilon.
    void setInverseScale(float scale);
    // After the content shape itself was edited.
    void markShapeDirty() { mDirty = true; }
    // Replaces the default centred orthographic projection for good.
    void setMVPTransform(const Mat4& m);
    Rect getBoundingBox();

    void setParent(RenderLayer* layer) override;
    // Makes the default projection once and rebuilds geometry and painters
    // when dirty; the time is not used.
    void prepareForFrame(long long time) override;
    // Fill, then stroke, with blending and depth testing off (left off).
    void drawSelf(unsigned int texture) override;

    Shape* contentShape() const { return mContentShape; }
    Brush* fillBrush() const { return mFillBrush; }
    Brush* strokeBrush() const { return mStrokeBrush; }
    bool antiAlias() const { return mAntiAlias; }
    float inverseScale() const { return mInverseScale; }
    float strokeWidth() const { return mStrokeWidth; }
    float miterLimit() const { return mMiterLimit; }
    DrawableShapeJoinStyle lineJoin() const { return mLineJoin; }
    DrawableShapeCapStyle lineCap() const { return mLineCap; }
    const Mat4* mvp() const { return mMvp; }
    ShapeFillCache* fillCache() const { return mFillCache; }
    ShapeStrokeCache* strokeCache() const { return mStrokeCache; }
    ShapePainter* fillPainter() const { return mFillPainter; }
    ShapePainter* strokePainter() const { return mStrokePainter; }
    ShapeVertexBuffer* vertexBuffer() { return &mVertexBuffer; }
    bool isDirty() const { return mDirty; }

private:
    Shape* mContentShape = nullptr;
    Brush* mStrokeBrush = nullptr;
    Brush* mFillBrush = nullptr;
    bool mAntiAlias = false;
    float mInverseScale = 1.0f;
    float mStrokeWidth = 3.0f;
    float mMiterLimit = 10.0f;
    Mat4* mMvp = nullptr;
    DrawableShapeJoinStyle mLineJoin = kJoinMiter;
    DrawableShapeCapStyle mLineCap = kCapButt;
    ShapeFillCache* mFillCache;
    ShapeStrokeCache* mStrokeCache;
    ShapePainter* mFillPainter = nullptr;
    ShapePainter* mStrokePainter = nullptr;
    bool mDirty = true;
    ShapeVertexBuffer mVertexBuffer;
};

}  // namespace Core
}  // namespace Quorvane
