#include "shapes/MaskRender.h"

#include "core/Matrix.h"
#include "render/GLFrameBufferManager.h"
#include "render/GLRenderDestination.h"
#include "shapes/Brush.h"
#include "shapes/DrawableShape.h"
#include "shapes/Shape.h"

namespace Quorvane {
namespace Core {

MaskRender::MaskRender(RenderLayer* layer, bool flip) : RenderPass(layer, true, 0, 0) {
    build(layer, flip);
}

MaskRender::MaskRender(MaskRender& other) : RenderPass(other.parent(), true, 0, 0) {
    build(other.parent(), other.flip());
    for (Shape* shape : other.mShapes) mShapes.push_back(shape->duplicate());
}

void MaskRender::build(RenderLayer* layer, bool flip) {
    mBrush = Brush::imagePattern(0, Vec2(0, 0), Rect(), 0, 1);
    mBrush->setShouldFlip(flip);
    mDrawableShape = DrawableShape::create(layer, false);
    mDrawableShape->setAntiAlias(true);
    mDrawableShape->setFillBrush(mBrush);
}

MaskRender::~MaskRender() {
    // A stencil buffer still held (the layer was deleted without being
    // unprepared) is freed here rather than leaked; it is not handed back,
    // since the frame-buffer manager may already be gone.
    delete mStencilBuffer;
    // The drawable goes first: its painters refer to the brush and shapes.
    delete mDrawableShape;
    delete mBrush;
    for (Shape* shape : mShapes) delete shape;
}

bool MaskRender::flip() const {
    return mBrush->shouldFlip();
}

void MaskRender::loadFromJson(const rapidjson::Value& value) {
    if (!value.IsArray()) return;
    for (const rapidjson::Value& frame : value.GetArray()) {
        Shape* shape = Shape::create();
        shape->addPathFromJson(frame);
        mShapes.push_back(shape);
    }
}

void MaskRender::setParent(RenderLayer* layer) {
    RenderPass::setParent(layer);
    mDrawableShape->setParent(layer);
}

Shape* MaskRender::shapeForFrame(long long time) const {
    if (mShapes.empty()) return nullptr;
    const unsigned long long index = static_cast<unsigned long long>(time);
    return index < mShapes.size() ? mShapes[static_cast<size_t>(index)] : mShapes.back();
}

void MaskRender::releaseStencil() {
    if (!mStencilBuffer) return;
    if (GLFrameBufferManager* manager = frameBufferManager())
        manager->releaseStencilBuffer(mStencilBuffer);
    else
        delete mStencilBuffer;
    mStencilBuffer = nullptr;
}

void MaskRender::prepareForFrame(long long time) {
    if (!mShapes.empty()) {
        const int w = width(), h = height();
        // A layer whose size changed since the last frame needs a stencil
        // buffer and a destination of the new size: attaching mismatched
        // buffers leaves the framebuffer incomplete.
        if (mStencilBuffer && !mStencilBuffer->suitable(w, h)) releaseStencil();
        if (mDestination && (mDestination->width() != w || mDestination->height() != h)) dropDestination();
        // The drawable makes its default projection once; a mask follows its
        // layer's size. (An adjustment layer sets its own matrix before
        // every draw.)
        if (w > 0 && h > 0 && (w != mProjectionWidth || h != mProjectionHeight)) {
            Mat4 ortho;
            ortho.setOrtho(-w / 2.0f, w / 2.0f, h / 2.0f, -h / 2.0f, -1.0f, 100.0f);
            mDrawableShape->setMVPTransform(ortho);
            mProjectionWidth = w;
            mProjectionHeight = h;
        }
        if (!mStencilBuffer && w > 0 && h > 0) {
            if (GLFrameBufferManager* manager = frameBufferManager())
                mStencilBuffer = manager->getStencilBuffer(w, h);
        }
        mDrawableShape->setContentShape(shapeForFrame(time));
    }
    mDrawableShape->prepareForFrame(time);
}

void MaskRender::drawSelf(unsigned int texture) {
    if (!mDrawableShape->contentShape() || !mStencilBuffer || !mDestination) return;
    mDestination->setAttachment(GLRenderDestination::kStencilAttachment, mStencilBuffer->renderbuffer(),
                                false);
    // A frame whose shape has no geometry draws nothing, and the pooled
    // buffer may hold another mask's coverage: start from an empty mask so
    // that an adjustment layer never acts through a stale stencil.
    glStencilMask(0xFF);
    glClearStencil(0);
    glClear(GL_STENCIL_BUFFER_BIT);
    mBrush->setImagePattern(static_cast<int>(texture),
                            Vec2(static_cast<float>(width()), static_cast<float>(height())), Rect(), 0, 1);
    mDrawableShape->draw(texture);
    mDestination->removeAttachment(GLRenderDestination::kStencilAttachment);
}

void MaskRender::unprepare() {
    releaseStencil();
}

void MaskRender::contentLoaded() {}

}  // namespace Core
}  // namespace Quorvane
