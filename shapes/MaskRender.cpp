#include "shapes/MaskRender.h"

#include "render/GLFrameBufferManager.h"
#include "render/GLRenderDestination.h"

namespace Quorvane {
namespace Core {

// The image-pattern brush and the drawable shape come with the vector-shape
// subsystem; until then mShape stays null, so no frame has shape content and
// prepareForFrame takes no stencil buffer.

MaskRender::MaskRender(RenderLayer* layer, bool flip) : RenderPass(layer, true, 0, 0), mFlip(flip) {
    mMasks.SetArray();
}

MaskRender::MaskRender(MaskRender& other) : RenderPass(other.parent(), true, 0, 0), mFlip(other.mFlip) {
    mMasks.CopyFrom(other.mMasks, mMasks.GetAllocator());
}

MaskRender::~MaskRender() {
    unprepare();
}

void MaskRender::loadFromJson(const rapidjson::Value& value) {
    if (!value.IsArray()) return;
    for (const rapidjson::Value& frame : value.GetArray()) {
        rapidjson::Value copy(frame, mMasks.GetAllocator());
        mMasks.PushBack(copy, mMasks.GetAllocator());
    }
}

void MaskRender::setParent(RenderLayer* layer) {
    RenderPass::setParent(layer);
}

const rapidjson::Value* MaskRender::maskForFrame(long long frame) const {
    const size_t count = maskCount();
    if (count == 0) return nullptr;
    size_t index = frame < 0 ? 0 : static_cast<size_t>(frame);
    if (index >= count) index = count - 1;
    return &mMasks[static_cast<rapidjson::SizeType>(index)];
}

void MaskRender::prepareForFrame(long long frame) {
    mFrame = frame;
    if (!mShape || maskCount() == 0) return;
    if (!mStencilBuffer) {
        if (GLFrameBufferManager* manager = frameBufferManager())
            mStencilBuffer = manager->getStencilBuffer(width(), height());
    }
}

void MaskRender::drawSelf(unsigned int) {
    // Without a drawable shape there is nothing to cut: the destination stays
    // as RenderPass::draw cleared it.
}

void MaskRender::unprepare() {
    if (mStencilBuffer) {
        if (GLFrameBufferManager* manager = frameBufferManager())
            manager->releaseStencilBuffer(mStencilBuffer);
        else
            delete mStencilBuffer;
        mStencilBuffer = nullptr;
    }
    RenderPass::unprepare();
}

void MaskRender::contentLoaded() {}

}  // namespace Core
}  // namespace Quorvane
