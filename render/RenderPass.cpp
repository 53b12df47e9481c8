#include "render/RenderPass.h"

#include "core/Log.h"
#include "render/GLFrameBufferManager.h"
#include "render/GLRenderDestination.h"

namespace Quorvane {
namespace Core {

RenderPass::RenderPass(RenderLayer* parent, bool useNewDestination, int width, int height)
    : mWidth(width), mHeight(height), mParent(parent), mUseNewDestination(useNewDestination) {}

RenderPass::RenderPass(const RenderPass& other)
    : GLBase(),
      mWidth(other.mWidth),
      mHeight(other.mHeight),
      mParent(other.mParent),
      mUseNewDestination(other.mUseNewDestination) {}

RenderPass::~RenderPass() {
    dropDestination();
}

RenderPass* RenderPass::passOf(RenderLayer* layer) {
    // RenderLayer derives from RenderPass alone, so a layer and its pass part
    // share their address. Converting here keeps the render core free of the
    // scene headers, which build on it.
    return reinterpret_cast<RenderPass*>(layer);
}

void RenderPass::dropDestination() {
    delete mDestination;
    mDestination = nullptr;
}

void RenderPass::drawSelf(unsigned int) {}

void RenderPass::setParent(RenderLayer* parent) {
    mParent = parent;
}

void RenderPass::contentLoaded() {}

void RenderPass::unprepare() {
    dropDestination();
}

void RenderPass::prepareForFrame(long long) {}

void RenderPass::loadFromJson(const rapidjson::Value&) {}

unsigned int RenderPass::getOutputTexture() {
    if (!mUseNewDestination) return mSourceTexture;
    if (!mDestination) return 0;
    return mDestination->grabTextureForRead(true);
}

unsigned int RenderPass::getSourceTexture() {
    return mSourceTexture;
}

bool RenderPass::hasAnimation() {
    return false;
}

GLFrameBufferManager* RenderPass::frameBufferManager() {
    RenderPass* parent = passOf(mParent);
    return parent ? parent->frameBufferManager() : nullptr;
}

int RenderPass::width() const {
    if (mWidth != 0) return mWidth;
    for (const RenderPass* p = passOf(mParent); p; p = passOf(p->mParent)) {
        if (p->mWidth != 0) return p->mWidth;
    }
    return 0;
}

int RenderPass::height() const {
    if (mHeight != 0) return mHeight;
    for (const RenderPass* p = passOf(mParent); p; p = passOf(p->mParent)) {
        if (p->mHeight != 0) return p->mHeight;
    }
    return 0;
}

void RenderPass::draw(unsigned int texture) {
    mSourceTexture = texture;
    GLFrameBufferManager* manager = nullptr;
    if (mUseNewDestination) {
        manager = frameBufferManager();
        if (!manager) {
            // Drawing on would paint over whatever target happens to be bound.
            QVPrint("render pass without frame buffer manager: nothing drawn");
            mSourceTexture = 0;
            return;
        }
        if (mDestination) {
            manager->pushDestination(mDestination);
        } else {
            mDestination = manager->pushDestination(width(), height());
        }
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    drawSelf(texture);
    if (mUseNewDestination) manager->popDestination(false);
    mSourceTexture = 0;
}

}  // namespace Core
}  // namespace Quorvane
