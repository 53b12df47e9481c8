// Drawing one frame of a composition: preparing the visible layers, walking
// them bottom up with collapsed compositions expanded in place, 3D batches
// with a shared depth buffer or depth peeling, the ping-pong between the two
// frame destinations and the output copy pass.
#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "core/Float.h"
#include "core/Log.h"
#include "render/FullScreenRenderPass.h"
#include "render/GLFrameBufferManager.h"
#include "render/GLRenderDestination.h"
#include "scene/RenderCameraLayer.h"
#include "scene/RenderComp.h"

namespace Quorvane {
namespace Core {

namespace {

// Depth peeling stops at the first pass that adds nothing, and after this
// many passes at the latest.
constexpr int kMaxPeelPasses = 20;
// Polling interval of the occlusion query, in microseconds.
constexpr useconds_t kQueryPollMicroseconds = 1000;
// The horizontal angle of view of the default camera, in degrees.
constexpr double kDefaultCameraAngle = 39.6;
// The OIT destinations start each batch with their depth at the far end; GL
// clamps the value to 1.
constexpr double kOITClearDepth = 99999.0;

void LogIncompleteFramebuffer(const char* what, const std::string& comp) {
    const GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
    if (status != GL_FRAMEBUFFER_COMPLETE)
        QVPrint("composition %s: %s framebuffer incomplete (0x%x)", comp.c_str(), what,
                static_cast<unsigned>(status));
}

void ResetDepthTexture(RenderLayer* layer) {
    if (auto* av = dynamic_cast<RenderAVLayer*>(layer)) av->useOITLastDepthTexture(0);
}

}  // namespace

// ---- one frame -------------------------------------------------------------------------

void RenderComp::draw(unsigned int texture) {
    if (mDrawing) {
        QVPrint("composition %s shows itself: the inner copy is not drawn", mName.c_str());
        return;
    }
    struct Drawing {
        bool& flag;
        explicit Drawing(bool& f) : flag(f) { flag = true; }
        ~Drawing() { flag = false; }
    } drawing(mDrawing);
    prepareForFrame(currentLocalTime());
    RenderPass::draw(texture);
    GLRenderDestination* read = readDestination();
    if (!read) return;
    if (mOutputPass->useCustomOutputDestination()) {
        mOutputPass->draw(read->grabTextureForRead(true));
        return;
    }
    GLFrameBufferManager* manager = frameBufferManager();
    if (!manager) return;
    manager->pushDestination(writeDestination());
    mOutputPass->draw(getOutputTexture());
    manager->popDestination(false);
    swapReadAndWrite(false);
}

void RenderComp::prepareForFrame(long long frame) {
    markPrepared();
    for (auto it = mCameras.rbegin(); it != mCameras.rend(); ++it) {
        RenderCameraLayer* camera = *it;
        if (camera && camera->enabled() && camera->visibleAt(frame)) {
            mActiveCamera = camera;
            break;
        }
    }
    // A hidden layer lets go of what it holds once, when it stops showing:
    // unpreparing every hidden layer on every frame made a frame's work grow
    // with the whole timeline.
    for (RenderLayer* layer : layers()) {
        if (layer->visibleAt(frame))
            layer->prepareForFrame(frame);
        else if (layer->prepared())
            layer->unprepare();
    }
    const int w = width(), h = height();
    if (w > 0 && h > 0) {
        for (GLRenderDestination*& destination : mFrameDestinations)
            if (!destination) destination = new GLRenderDestination(w, h);
    }
    mOutputPass->prepareForFrame(frame);
    ensureDepthRenderbuffer();
}

void RenderComp::ensureDepthRenderbuffer() {
    const int w = width(), h = height();
    if (mDepthRenderbuffer >= 0 || w <= 0 || h <= 0) return;
    GLint previous = 0;
    glGetIntegerv(GL_RENDERBUFFER_BINDING, &previous);
    GLuint name = 0;
    glGenRenderbuffers(1, &name);
    glBindRenderbuffer(GL_RENDERBUFFER, name);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, w, h);
    glBindRenderbuffer(GL_RENDERBUFFER, static_cast<GLuint>(previous));
    mDepthRenderbuffer = static_cast<int32_t>(name);
}

void RenderComp::drawSelf(unsigned int texture) {
    if (mGLVersion < 0) mGLVersion = GLBase::getOpenGLVersion();
    // Depth peeling needs occlusion queries and float depth textures.
    if (mOITEnabled && mGLVersion < 3) mOITEnabled = false;
    if (!readDestination() || !writeDestination() || !frameBufferManager()) {
        QVPrint("composition %s is not prepared for drawing: nothing drawn", mName.c_str());
        return;
    }
    swapReadAndWrite(true);
    std::vector<RenderLayer*> batch;
    layersReserve(this, batch);
    drawLayers(batch, nullptr);
    if (texture != 0) RenderAVLayer::drawSelf(texture);
}

void RenderComp::unprepare() {
    RenderAVLayer::unprepare();
    mOutputPass->unprepare();
    if (mDepthRenderbuffer >= 0) {
        GLuint name = static_cast<GLuint>(mDepthRenderbuffer);
        glDeleteRenderbuffers(1, &name);
        mDepthRenderbuffer = -1;
    }
    for (RenderLayer* layer : layers()) layer->unprepare();
    deleteOITObjects();
}

void RenderComp::deleteOITObjects() {
    for (GLRenderDestination* destination : mOITDestinations) delete destination;
    if (!mOITDepthTextures.empty())
        glDeleteTextures(static_cast<GLsizei>(mOITDepthTextures.size()), mOITDepthTextures.data());
    mOITDestinations.clear();
    mOITDepthTextures.clear();
}

unsigned int RenderComp::getOutputTexture() {
    if (mOutputPass->useCustomOutputDestination()) return mOutputPass->getOutputTexture();
    if (!readDestination()) {
        QVPrint("合成%s无法获取输出纹理！请勿重用塌陷合成！", mName.c_str());
        return 0;
    }
    return readDestination()->grabTextureForRead(true);
}

// ---- destinations --------------------------------------------------------------------------

void RenderComp::swapReadAndWrite(bool clear) {
    mReadIndex = 1 - mReadIndex;
    // Unless a caller knows better (drawSingle), the destination that held
    // the image before may differ from it anywhere.
    mStale[mReadIndex] = PixelBox();
    mStale[1 - mReadIndex] = clear ? PixelBox() : wholeFrame();
    if (AVSource* own = layerSource(); own && readDestination())
        own->setMainTexture(readDestination()->grabTextureForRead(true));
    if (!clear) return;
    GLFrameBufferManager* manager = frameBufferManager();
    if (!manager) {
        mStale[1 - mReadIndex] = wholeFrame();
        return;
    }
    // Where plain layers composite in place, every draw into the write
    // destination clears it first: only the image needs clearing.
    const bool inPlace = manager->framebufferFetch();
    if (inPlace) mStale[1 - mReadIndex] = wholeFrame();
    for (GLRenderDestination* destination : mFrameDestinations) {
        if (!destination || (inPlace && destination != readDestination())) continue;
        manager->pushDestination(destination);
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT);
        manager->popDestination(false);
    }
}

void RenderComp::swapOITReadAndWrite(bool clear) {
    GLFrameBufferManager* manager = frameBufferManager();
    const int w = width(), h = height();
    if (mOITDestinations.empty() && manager) {
        for (int i = 0; i < 2; ++i) {
            GLuint depth = 0;
            glActiveTexture(GL_TEXTURE0);
            glGenTextures(1, &depth);
            glBindTexture(GL_TEXTURE_2D, depth);
            glTexImage2D(GL_TEXTURE_2D, 0, GL_DEPTH_COMPONENT32F, w, h, 0, GL_DEPTH_COMPONENT, GL_FLOAT,
                         nullptr);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
            glBindTexture(GL_TEXTURE_2D, 0);
            auto* destination = new GLRenderDestination(w, h);
            manager->pushDestination(destination);
            destination->setAttachment(GLRenderDestination::kDepthAttachment, static_cast<int>(depth), true);
            LogIncompleteFramebuffer("depth-peeling", mName);
            manager->popDestination(false);
            mOITDestinations.push_back(destination);
            mOITDepthTextures.push_back(depth);
        }
    }
    if (!mOITCopyPass) mOITCopyPass = new FullScreenRenderPass(this, false, 0, -1);
    if (mOITQuery == 0) glGenQueries(1, &mOITQuery);
    mOITReadIndex = 1 - mOITReadIndex;
    if (!clear || !manager) return;
    for (GLRenderDestination* destination : mOITDestinations) {
        manager->pushDestination(destination);
        glDepthMask(GL_TRUE);
        glEnable(GL_DEPTH_TEST);
        glClearColor(0, 0, 0, 0);
        glClearDepth(kOITClearDepth);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        manager->popDestination(false);
    }
}

GLRenderDestination* RenderComp::generateDestination() {
    GLRenderDestination* destination = nullptr;
    if (!mFreeDestinations.empty()) {
        destination = mFreeDestinations.front();
        mFreeDestinations.erase(mFreeDestinations.begin());
    } else {
        destination = new GLRenderDestination(width(), height());
    }
    mDestinationsInUse.push_back(destination);
    return destination;
}

void RenderComp::restoreDestination(GLRenderDestination* destination) {
    auto it = std::find(mDestinationsInUse.begin(), mDestinationsInUse.end(), destination);
    if (it == mDestinationsInUse.end()) return;
    mDestinationsInUse.erase(it);
    mFreeDestinations.push_back(destination);
}

// ---- layers ------------------------------------------------------------------------------------

void RenderComp::layersReserve(RenderComp* walked, std::vector<RenderLayer*>& batch) {
    for (RenderLayer* layer : walked->layers()) {
        if (!layer->enabled() || !layer->layerHasContent() || !layer->visibleAtCurrentTime()) continue;
        const long long type = layer->layerType();
        auto* av = dynamic_cast<RenderAVLayer*>(layer);
        AVSource* shown = av ? av->layerSource() : nullptr;
        RenderComp* inner = shown ? shown->sourceComp() : nullptr;
        if ((type & kPreCompLayer) && (type & kAVLayer) && layer->isCollapse() && layer->numEffects() == 0 &&
            av && !av->hasMask() && inner && !inner->mDrawing) {
            inner->prepareForFrame(inner->currentLocalTime());
            inner->mDrawing = true;
            layersReserve(inner, batch);
            inner->mDrawing = false;
            continue;
        }
        if (layer->is3D() && !layer->isAdjustmentLayer()) {
            batch.push_back(layer);
            continue;
        }
        drawLayers(batch, layer);
        batch.clear();
    }
}

void RenderComp::drawLayers(std::vector<RenderLayer*>& batch, RenderLayer* single) {
    if (batch.size() >= 2 && mOITEnabled)
        peelBatch(batch);
    else if (!batch.empty())
        drawBatch(batch);
    if (single) drawSingle(single);
}

void RenderComp::fitCamera(const std::vector<RenderLayer*>& batch) {
    RenderCameraLayer* camera = cameraLayer();
    if (!camera) return;
    float nearest = Float::max;
    float farthest = camera->getFar();
    for (RenderLayer* layer : batch) {
        auto* av = dynamic_cast<RenderAVLayer*>(layer);
        if (!av) continue;
        const Vec2 range = av->getLimitDistanceToCamera();
        nearest = std::min(nearest, range.x);
        farthest = std::max(farthest, range.y);
    }
    if (nearest != Float::max) camera->setNear(std::max(1.0f, nearest - 1.0f), true);
    if (farthest != camera->getFar()) camera->setFar(farthest + 1.0f, true);
}

void RenderComp::drawBatch(const std::vector<RenderLayer*>& batch) {
    GLFrameBufferManager* manager = frameBufferManager();
    fitCamera(batch);
    bool first = true;
    for (RenderLayer* layer : batch) {
        GLRenderDestination* target = writeDestination();
        manager->pushDestination(target);
        // Mesa refuses a separate depth and stencil renderbuffer on one
        // framebuffer, so the depth buffer is attached for this layer only.
        target->setAttachment(GLRenderDestination::kDepthAttachment, mDepthRenderbuffer, false);
        LogIncompleteFramebuffer("3D layer", mName);
        glClearColor(0, 0, 0, 0);
        if (first) {
            glDepthMask(GL_TRUE);
            glEnable(GL_DEPTH_TEST);
            glDepthFunc(GL_LESS);
            glClearDepth(1.0);
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
            first = false;
        } else {
            glClear(GL_COLOR_BUFFER_BIT);
        }
        ResetDepthTexture(layer);
        layer->draw(readDestination()->grabTextureForRead(true));
        target->removeAttachment(GLRenderDestination::kDepthAttachment);
        manager->popDestination(false);
        swapReadAndWrite(false);
    }
    glDepthMask(GL_FALSE);
    glDisable(GL_DEPTH_TEST);
}

void RenderComp::peelBatch(const std::vector<RenderLayer*>& batch) {
    GLFrameBufferManager* manager = frameBufferManager();
    fitCamera(batch);
    swapOITReadAndWrite(true);
    if (mOITDestinations.size() != 2) return;
    int passes = 0;
    for (bool first = true; passes < kMaxPeelPasses; first = false) {
        manager->pushDestination(mOITDestinations[1 - mOITReadIndex]);
        const unsigned int previous = first ? readDestination()->grabTextureForRead(true)
                                            : mOITDestinations[mOITReadIndex]->grabTextureForRead(false);
        glDepthMask(GL_FALSE);
        glDisable(GL_DEPTH_TEST);
        mOITCopyPass->draw(previous);
        glDepthMask(GL_TRUE);
        glEnable(GL_DEPTH_TEST);
        glClearDepth(0.0);
        glClear(GL_DEPTH_BUFFER_BIT);
        glBeginQuery(GL_ANY_SAMPLES_PASSED, mOITQuery);
        for (RenderLayer* layer : batch) {
            if (auto* av = dynamic_cast<RenderAVLayer*>(layer))
                av->useOITLastDepthTexture(mOITDepthTextures[mOITReadIndex]);
            layer->drawSelf(previous);
        }
        glEndQuery(GL_ANY_SAMPLES_PASSED);
        manager->popDestination(false);
        swapOITReadAndWrite(false);
        ++passes;

        GLuint available = 0;
        glGetQueryObjectuiv(mOITQuery, GL_QUERY_RESULT_AVAILABLE, &available);
        while (!available) {
            usleep(kQueryPollMicroseconds);
            glGetQueryObjectuiv(mOITQuery, GL_QUERY_RESULT_AVAILABLE, &available);
        }
        GLuint samples = 0;
        glGetQueryObjectuiv(mOITQuery, GL_QUERY_RESULT, &samples);
        if (samples == 0) break;
    }
    mLastPeelPasses = passes;
    for (RenderLayer* layer : batch) ResetDepthTexture(layer);
    glDepthMask(GL_FALSE);
    glDisable(GL_DEPTH_TEST);
    manager->pushDestination(readDestination());
    mOITCopyPass->draw(mOITDestinations[mOITReadIndex]->grabTextureForRead(false));
    manager->popDestination(false);
    mStale[1 - mReadIndex] = wholeFrame();
}

void RenderComp::drawSingle(RenderLayer* layer) {
    GLFrameBufferManager* manager = frameBufferManager();
    glDisable(GL_DEPTH_TEST);
    const int write = 1 - mReadIndex;
    auto* av = dynamic_cast<RenderAVLayer*>(layer);
    CompositeRenderPass* plain = av ? av->plainCompositePass() : nullptr;
    if (plain && manager->framebufferFetch()) {
        drawInPlace(layer, plain);
        return;
    }
    manager->pushDestination(writeDestination());
    if (plain) {
        // Outside its stale box the write destination holds the image drawn
        // so far already.
        manager->copyTextureBox(readDestination()->grabTextureForRead(true), mStale[write]);
        plain->setTargetHoldsPrevious();
    } else {
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    ResetDepthTexture(layer);
    layer->draw(readDestination()->grabTextureForRead(true));
    const PixelBox* drawn = plain ? plain->drawnBox() : nullptr;
    const PixelBox changed = drawn ? *drawn : wholeFrame();
    manager->popDestination(false);
    swapReadAndWrite(false);
    mStale[1 - mReadIndex] = changed;
}

void RenderComp::drawInPlace(RenderLayer* layer, CompositeRenderPass* pass) {
    GLFrameBufferManager* manager = frameBufferManager();
    GLRenderDestination* image = readDestination();
    manager->pushDestination(image);
    // Stays attached: the pass reads it through the target, not as a texture.
    const unsigned int texture = image->grabTextureForRead(false);
    pass->setTargetIsPrevious();
    ResetDepthTexture(layer);
    layer->draw(texture);
    manager->popDestination(false);
    // The write destination is not kept up to date on this path.
    mStale[1 - mReadIndex] = wholeFrame();
}

// ---- cameras ---------------------------------------------------------------------------------------

bool RenderComp::isDefaultCamera(const RenderLayer* layer) const {
    return layer && mDefaultCamera && layer == mDefaultCamera;
}

RenderCameraLayer* RenderComp::cameraLayer() {
    RenderComp* comp = this;
    while (comp->isCollapse() && comp->parentComp() && comp->parentComp() != comp) comp = comp->parentComp();
    return comp->mActiveCamera ? comp->mActiveCamera : comp->getDefaultCamera();
}

RenderCameraLayer* RenderComp::getDefaultCamera() {
    if (mDefaultCamera) return mDefaultCamera;
    const float w = static_cast<float>(width()), h = static_cast<float>(height());
    mDefaultCamera = new RenderCameraLayer(this);
    mDefaultCamera->setFilmWidth(w);
    mDefaultCamera->setFilmHeight(h, false);
    const double half = 0.5 * static_cast<double>(Float::degreesToRadiansFactor) * kDefaultCameraAngle;
    const float focal = static_cast<float>(w * 0.5 / std::tan(half));
    mDefaultCamera->setFocalLength(focal, true);
    mDefaultCamera->setTransformAtTime(Vec3(0, 0, 0), Vec3(w * 0.5f, h * 0.5f, -focal), Vec3(0, 0, 0),
                                       Vec3(1, 1, 1), 0);
    return mDefaultCamera;
}

}  // namespace Core
}  // namespace Quorvane
