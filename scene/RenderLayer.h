// The base of every layer of a composition: identity and template keys, place
// in time, type bits, transforms (per-frame track plus a fixed local matrix),
// links to a parent layer and to the layer that shows its composition
// collapsed, and the effect chain with layer enlargement.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <rapidjson/document.h>

#include "core/Matrix.h"
#include "core/TimeUnit.h"
#include "core/Vector.h"
#include "render/CompositeRenderPass.h"
#include "render/RenderEffect.h"
#include "render/RenderPass.h"
#include "render/TransformManager.h"

namespace Quorvane {
namespace Core {

class DataFileCache;
class GLFrameBufferManager;
class LayerManager;
class RenderComp;
class RenderContext;

// Layer type bits (int64). The script interface publishes the same values.
enum LayerTypes : long long {
    kAVLayer = 0x1,
    kLightLayer = 0x2,
    kCameraLayer = 0x4,
    kTextLayer = 0x8,
    kShapeLayer = 0x10,
    kPlaceholderStillLayer = 0x20,
    kSolidLayer = 0x40,
    kStillLayer = 0x80,
    kGuideLayer = 0x100,
    kAdjustmentLayer = 0x200,
    kNullLayer = 0x400,
    kAudioLayer = 0x800,
    kPreCompLayer = 0x1000,
    kPlaceholderVideoLayer = 0x2000,
    kImageSequenceLayer = 0x4000,
    kVideoLayer = 0x8000,
    kThreeDLayer = 0x10000,
    kCollapseLayer = 0x20000,
};

enum CoordinateSystemMode : int32_t {
    kAfterEffectsSpaceMode = 0,
    kOpenGLSpaceMode = 1,
};

class RenderLayer : public RenderPass {
public:
    // The parent composition is handed over as the layer it is (RenderComp
    // derives from RenderAVLayer), so this file needs no definition of
    // RenderComp; a RenderComp* converts at the caller.
    RenderLayer(RenderLayer* parentComp, long long layerType, bool useNewDestination);
    RenderLayer(const RenderLayer& other);
    RenderLayer& operator=(const RenderLayer&) = delete;
    ~RenderLayer() override;

    // Effect chain overrides of RenderPass.
    void drawSelf(unsigned int texture) override;
    void contentLoaded() override;
    void unprepare() override;
    // Prepared for a frame since it was last unprepared (so at first too:
    // what a new layer holds is not known).
    bool prepared() const { return mPrepared; }
    void prepareForFrame(long long frame) override;
    void loadFromJson(const rapidjson::Value& value) override;
    unsigned int getOutputTexture() override;
    bool hasAnimation() override;

    virtual bool layerHasContent() const;
    virtual long long currentLocalTime();
    GLFrameBufferManager* frameBufferManager() override;
    virtual void setParentComp(RenderLayer* comp);
    virtual RenderContext* context();

    // What a layer needs of the composition that holds it and of the render
    // context at the root. RenderComp and RenderContext override these; the
    // defaults are those of a layer that is neither.
    //   The composition as a RenderComp (null for any other layer).
    virtual RenderComp* asComp() { return nullptr; }
    //   The layer list a composition holds (null for any other layer).
    virtual LayerManager* layerList() { return nullptr; }
    //   RenderComp records the flag; other layers have nothing to record.
    virtual void markContentDirty(bool) {}
    //   Asked up the parent chain; the render context answers its own setting.
    virtual bool enableAdvanceResample() const;
    virtual std::string dataFile(const std::string& name) const;
    //   The render's cache of read data files (null without a render context).
    virtual DataFileCache* dataFiles() const;

    // Identity and keys.
    std::string layerID() const { return mLayerID; }
    std::string uiKey() const { return mUIKey; }
    void setUIKey(const std::string& key) { mUIKey = key; }
    std::string extraData() const { return mExtraData; }
    bool enabled() const { return mEnabled; }
    void setEnabled(bool enabled);
    std::string linkedLayerID() const { return mLinkedLayerID; }
    void setLinkedLayerID(const std::string& id) { mLinkedLayerID = id; }
    std::string collapseCompLayerID() const { return mCollapseCompLayerID; }
    void setCollapseCompLayerID(const std::string& id) { mCollapseCompLayerID = id; }
    float frameRate() const { return mFrameRate; }
    void setFrameRate(float fps) { mFrameRate = fps; }

    // The composition holding the layer, as a RenderComp (null when there is
    // none, or when the holder is not a RenderComp) and as the layer it is.
    RenderComp* parentComp() const { return mParentComp ? mParentComp->asComp() : nullptr; }
    RenderLayer* parentCompLayer() const { return mParentComp; }
    // The layer list of the parent composition; null without one.
    LayerManager* parentCompLayers() const { return mParentComp ? mParentComp->layerList() : nullptr; }

    // Time.
    TimeUnit layerStartTime() const { return mStartTime; }
    void setLayerStartTime(const TimeUnit& t) { mStartTime = t; }
    TimeUnit layerInPoint() const { return mInPoint; }
    void setLayerInPoint(const TimeUnit& t) { mInPoint = t; }
    TimeUnit layerDuration() const { return mDuration; }
    void setLayerDuration(const TimeUnit& t) { mDuration = t; }
    TimeUnit layerOutPoint() const;
    void offsetLayerTime(const TimeUnit& delta);
    long long parentTimeToLocalTime(long long t);
    long long localTimeToParentTime(long long t);
    bool visibleAt(long long t);
    bool visibleAtCurrentTime();

    // Type bits.
    long long layerType() const { return mLayerType; }
    void setLayerType(long long bits, bool on);
    bool is3D() const { return (mLayerType & kThreeDLayer) != 0; }
    bool isCollapse() const { return (mLayerType & kCollapseLayer) != 0; }
    bool isAdjustmentLayer() const { return (mLayerType & kAdjustmentLayer) != 0; }

    LayerResampleMode resampleMode() const { return mResampleMode; }
    // Values outside 0..3 become 0: a generated program has no sampling
    // function for them and would fail to compile on every frame.
    void setResampleMode(LayerResampleMode mode);

    // Links.
    RenderLayer* linkedLayer() const;
    RenderLayer* collapseCompLayer() const;

    // Transform track.
    TransformManager* transformManager() { return &mTransformManager; }
    const Mat4& getLayerLocalTransform() const { return mLocalTransform; }
    const Mat4& getLayerLocalAETransform() const { return mLocalAETransform; }
    void setLayerLocalAETransform(const Mat4& m);
    LayerSizeExtendData* layerSizeExtendData() { return &mSizeExtendData; }

    Vec3 getAnchor(long long t);
    Vec3 getPosition(long long t);
    Vec3 getScale(long long t);
    Vec3 getRotation(long long t);
    void setAnchorAtTime(const Vec3& v, long long t);
    void setPositionAtTime(const Vec3& v, long long t);
    void setScaleAtTime(const Vec3& v, long long t);
    void setRotationAtTime(const Vec3& degrees, long long t);
    void setAlphaAtTime(float alpha, long long t);
    void setTransformAtTime(const Vec3& anchor, const Vec3& position, const Vec3& rotation, const Vec3& scale,
                            long long t);
    void applyNewTransform(const rapidjson::Value& value, bool append);

    Mat4 getTransform(long long t, bool withAnchorOffset);
    Mat4 getAETransform(long long t, bool withAnchorOffset);
    Mat4 getWorldTransform(long long t, bool withAnchorOffset);
    Mat4 getWorldAETransform(long long t, bool withAnchorOffset);
    Mat4 getCurrentTransform();
    Mat4 getCurrentAETransform();
    Mat4 getCurrentWorldTransform();
    Mat4 getCurrentWorldAETransform();
    // The frame the getCurrent* matrices read.
    long long currentMatrixFrame();
    // What reading the layer's matrices at frame t adds to the matrix caches
    // of the tracks read: the layer's, and with world those of every layer
    // its world matrix walks.
    size_t matrixCacheGrowth(long long t, bool world);
    float getAlpha(long long t);
    float getCurrentAlpha();

    Vec3 localPointToCompPoint(const Vec3& p, CoordinateSystemMode mode, long long t);
    Vec3 compPointToLocalPoint(const Vec3& p, CoordinateSystemMode mode, long long t);

    // Effect chain (the layer owns its effects).
    void addEffect(RenderEffect* effect);
    void insertEffectAt(RenderEffect* effect, unsigned int index);
    void removeEffect(RenderEffect* effect, bool deleteIt);
    unsigned int numEffects() const { return static_cast<unsigned int>(mEffects.size()); }
    RenderEffect* getEffectByIndex(unsigned int index) const;
    bool shouldCollapse() const;

protected:
    // Removes the shift of the last enlarged draw and resets the record.
    void undoEnlargement();
    // Marks the parent composition's content dirty when there is one.
    void markParentDirty();
    // The render context's frame rate: the rate of the composition at the root
    // of the parent chain.
    float contextFrameRate() const;
    // Camera layers convert their track with the camera conversion.
    void setCameraFlag(bool on) { mCameraFlag = on; }
    bool cameraFlag() const { return mCameraFlag; }
    // For a kind that prepares itself without RenderLayer::prepareForFrame.
    void markPrepared() { mPrepared = true; }

private:
    void loadRange(const rapidjson::Value& range);
    void loadEffects(const rapidjson::Value& effects);
    void shiftLocalAETransform(float dx, float dy);
    // The ancestor at the root of the parent chain (this layer when it has no
    // parent composition).
    const RenderLayer* rootLayer() const;

    std::string mLayerID;
    std::string mUIKey;
    std::string mExtraData;
    bool mEnabled = true;
    bool mPrepared = true;
    std::string mLinkedLayerID;
    std::string mCollapseCompLayerID;
    float mFrameRate = 0.0f;
    RenderLayer* mParentComp = nullptr;
    TimeUnit mStartTime;
    TimeUnit mInPoint;
    TimeUnit mDuration;
    long long mLayerType = 0;
    LayerResampleMode mResampleMode = kDefaultResampleMode;
    bool mCameraFlag = false;
    Mat4 mLocalTransform;
    Mat4 mLocalAETransform;
    LayerSizeExtendData mSizeExtendData;
    TransformManager mTransformManager;
    std::vector<RenderEffect*> mEffects;
};

}  // namespace Core
}  // namespace Quorvane
