// A composition: an ordered list of layers drawn into a texture of its size,
// and at the same time an AV layer that can be placed in another composition.
// Drawing (in RenderCompDraw.cpp) ping-pongs between two destinations,
// expands collapsed compositions in place, draws consecutive 3D layers as
// batches sharing a depth buffer (or peels them by depth when
// order-independent transparency is on) and ends with the output copy pass.
//
// Sources and compositions live in the render context at the root of the
// composition tree. The registry operations below are what compositions and
// their layers ask of it: the render context overrides them; any other
// composition passes the question to its parent composition, and one without
// a parent answers nothing (null, empty string).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/Color.h"
#include "core/Matrix.h"
#include "media/AVSource.h"
#include "scene/LayerManager.h"
#include "scene/RenderAVLayer.h"

namespace Quorvane {
namespace Core {

class FullScreenRenderPass;
class GLRenderDestination;
class RenderCameraLayer;

enum CompType : int32_t {
    kCompTypeNormal = 0,
    kCompTypeMain = 1,  // its "bg" is read and is the output clear colour
    kCompTypeLoop = 2,  // its current frame wraps at its duration
};

class RenderComp : public RenderAVLayer, public LayerManager {
public:
    // The root composition of a render context: type 1, name "main", not
    // registered; size and duration are left to the caller.
    RenderComp(RenderComp* parent, bool flip, unsigned int texture, int framebuffer);
    // A template composition: type 0, registered with the context under name.
    RenderComp(RenderComp* parent, std::string name);
    // The root composition of a render context made from bare numbers.
    RenderComp(RenderComp* parent, bool flip, int width, int height, unsigned long duration, std::string name,
               unsigned int texture, int framebuffer);
    // A factory composition: type 0, registered, with size and duration.
    RenderComp(RenderComp* parent, int width, int height, int duration, std::string name);
    // A copy under a new unique name whose AV layers share the sources of the
    // other's layers.
    RenderComp(const RenderComp& other);
    // A copy whose layers show copies of the sources; sourceKeys maps a source
    // key of the copied tree to the key of its copy and is shared by every
    // composition duplicated in one call tree.
    RenderComp(RenderComp* other, std::map<std::string, std::string>& sourceKeys);
    RenderComp& operator=(const RenderComp&) = delete;
    ~RenderComp() override;

    // ---- layer overrides -------------------------------------------------------
    void drawSelf(unsigned int texture) override;
    void contentLoaded() override;
    void unprepare() override;
    void prepareForFrame(long long frame) override;
    void loadFromJson(const rapidjson::Value& value) override;
    unsigned int getOutputTexture() override;
    void draw(unsigned int texture) override;
    bool hasAnimation() override;
    long long currentLocalTime() override;
    RenderComp* asComp() override { return this; }
    LayerManager* layerList() override { return this; }
    void markContentDirty(bool dirty) override { mContentDirty = dirty; }

    // ---- layer list hooks --------------------------------------------------------
    void layerAdded(RenderLayer* layer) override;
    void layerRemoved(RenderLayer* layer) override;
    virtual bool isDynamic() const { return false; }

    // ---- registry of the render context -------------------------------------------
    virtual AVSource* source(const std::string& key);
    virtual RenderComp* comp(const std::string& name);
    virtual void addComp(RenderComp* comp);
    virtual std::string createTextureSource(unsigned int texture, AVSource::ColorFormat format, int width,
                                            int height, std::string key);
    virtual std::string createCompSource(RenderComp* comp, std::string key, std::string json);
    virtual std::string duplicateSource(const std::string& key);
    virtual std::string duplicateComp(const RenderComp& comp);
    virtual std::string duplicateCompWithReusedSource(RenderComp* comp,
                                                      std::map<std::string, std::string>& keys);

    // ---- data ------------------------------------------------------------------------
    const std::string& name() const { return mName; }
    // Frames at the render context's rate.
    unsigned long duration() const { return mDuration; }
    // frames counts at the composition's own frame rate and is converted to
    // the context's; a rate of 0 or below takes it unchanged.
    void setCompDuration(unsigned long frames);
    // False, changing nothing, for a negative frame, the current frame, a
    // frame at or past the duration, and any frame of a looping composition
    // whose duration is 0; a looping composition wraps other frames.
    bool setCurrentCompTime(long long frame);
    void setCompSize(int width, int height);
    const Mat4& compOrthoProjectionMatrix() const { return mOrthoProjection; }
    // The main composition also clears its output with it.
    void setBackgroundColor(const Color& color);
    const Color& backgroundColor() const { return mBackgroundColor; }
    void setCompType(CompType type) { mCompType = type; }
    CompType compType() const { return mCompType; }
    bool isMainComp() const { return mCompType == kCompTypeMain; }
    bool isContentDirty() const { return mContentDirty; }

    // ---- look-ups by UI key ------------------------------------------------------------
    RenderLayer* getLayerByUIKey(const std::string& key) const;
    // This composition, then the compositions its AV layers show, depth first.
    void digLayersByUIKey(const std::string& key, std::vector<RenderLayer*>& out) const;
    void getLayersWithUIKeyStartWith(const std::string& prefix, std::vector<RenderLayer*>& out) const;
    void digLayersWithUIKeyStartWith(const std::string& prefix, std::vector<RenderLayer*>& out) const;
    // The first layer above the given one that is enabled, has content and is
    // visible at the current frame.
    RenderLayer* nextDrawingLayer(RenderLayer* layer);

    // ---- drawing ---------------------------------------------------------------------------
    GLRenderDestination* readDestination() const { return mFrameDestinations[mReadIndex]; }
    GLRenderDestination* writeDestination() const { return mFrameDestinations[1 - mReadIndex]; }
    void swapReadAndWrite(bool clear);
    void swapOITReadAndWrite(bool clear);
    // Walks the layers of `walked` (this composition or a collapsed one shown
    // in place), filling and flushing the batch of 3D layers.
    void layersReserve(RenderComp* walked, std::vector<RenderLayer*>& batch);
    void drawLayers(std::vector<RenderLayer*>& batch, RenderLayer* single);
    void setOITBlend(bool on) { mOITEnabled = on; }
    bool oitBlend() const { return mOITEnabled; }
    RenderCameraLayer* cameraLayer();
    // The camera this composition made for itself (no camera layer of its
    // own): it owns it outside its layer list, so no list may take it.
    bool isDefaultCamera(const RenderLayer* layer) const;
    RenderCameraLayer* getDefaultCamera();
    const std::vector<RenderCameraLayer*>& cameras() const { return mCameras; }
    // Scratch destinations of the composition's size, pooled.
    GLRenderDestination* generateDestination();
    void restoreDestination(GLRenderDestination* destination);
    FullScreenRenderPass* flipVerticalPass() const { return mOutputPass; }
    // Passes of the last depth-peeling batch (0 before any).
    int lastPeelPassCount() const { return mLastPeelPasses; }

private:
    // The part every constructor shares.
    void initOutputPass(bool flip, unsigned int texture, int framebuffer);
    // Copy step 3 (and duplicate pass two): the layers of `other`, as copies.
    void copyLayersFrom(const RenderComp& other, std::map<std::string, std::string>* sourceKeys);
    void loadLayers(const rapidjson::Value& layers);
    void fitCamera(const std::vector<RenderLayer*>& batch);
    void drawBatch(const std::vector<RenderLayer*>& batch);
    void peelBatch(const std::vector<RenderLayer*>& batch);
    void drawSingle(RenderLayer* layer);
    // A plain layer composited into the read destination itself.
    void drawInPlace(RenderLayer* layer, CompositeRenderPass* pass);
    PixelBox wholeFrame() const { return PixelBox::whole(width(), height()); }
    void deleteOITObjects();
    void ensureDepthRenderbuffer();

    bool mContentDirty = true;
    // Set while the composition draws: reaching its draw again from inside
    // would mean it shows itself, which every placement refuses; this is the
    // backstop that keeps such a ring from recursing without end.
    bool mDrawing = false;
    CompType mCompType = kCompTypeNormal;
    int32_t mGLVersion = -1;  // read on the first draw
    std::string mName;
    Color mBackgroundColor;
    unsigned long mDuration = 0;
    long long mCurrentFrame = 0;
    Mat4 mOrthoProjection;
    std::vector<GLRenderDestination*> mDestinationsInUse;
    std::vector<GLRenderDestination*> mFreeDestinations;
    GLRenderDestination* mFrameDestinations[2] = {nullptr, nullptr};
    // Where each frame destination may differ from the image drawn so far
    // (the read destination's): a layer that draws through its plain
    // compositing pass has only that much copied into the write destination.
    PixelBox mStale[2];
    int32_t mReadIndex = 0;
    int32_t mDepthRenderbuffer = -1;
    bool mOITEnabled = false;
    std::vector<GLRenderDestination*> mOITDestinations;
    std::vector<uint32_t> mOITDepthTextures;
    uint32_t mOITQuery = 0;
    int32_t mOITReadIndex = 0;
    FullScreenRenderPass* mOITCopyPass = nullptr;
    FullScreenRenderPass* mOutputPass = nullptr;
    std::vector<RenderCameraLayer*> mCameras;
    RenderCameraLayer* mActiveCamera = nullptr;
    RenderCameraLayer* mDefaultCamera = nullptr;
    int mLastPeelPasses = 0;
};

}  // namespace Core
}  // namespace Quorvane
