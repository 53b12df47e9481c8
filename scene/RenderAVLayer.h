// The layer that shows media (an AVSource): per frame it brings its source to
// the layer's local time, runs its mask and effect chain and composites the
// result over what its composition has drawn so far, with blend mode,
// opacity, transform and a track matte taken from the layer above it.
// Collapsed solids and compositions with effects, and adjustment layers, take
// their own paths through drawSelf.
#pragma once

#include <string>

#include "core/Vector.h"
#include "render/BlendModes.h"
#include "render/CompositeRenderPass.h"
#include "scene/RenderLayer.h"

namespace Quorvane {
namespace Core {

class AVSource;
class FullScreenRenderPass;
class MaskRender;
class RenderCameraLayer;

class RenderAVLayer : public RenderLayer {
public:
    explicit RenderAVLayer(RenderComp* comp);
    // A copy with a source of its own: the render context duplicates the
    // copied layer's source and the copy shows the duplicate.
    RenderAVLayer(const RenderAVLayer& other);
    // A copy that shares the other layer's source (same source key).
    explicit RenderAVLayer(RenderAVLayer* other);
    RenderAVLayer& operator=(const RenderAVLayer&) = delete;
    // Unregisters from its source, then deletes its passes and mask.
    ~RenderAVLayer() override;

    void drawSelf(unsigned int texture) override;
    void contentLoaded() override;
    void unprepare() override;
    void prepareForFrame(long long frame) override;
    void loadFromJson(const rapidjson::Value& value) override;
    unsigned int getOutputTexture() override;
    unsigned int getSourceTexture() override;
    bool hasAnimation() override;
    bool layerHasContent() const override;
    void setParentComp(RenderLayer* comp) override;

    // Registers the layer with the source and takes its size, kind bits and
    // (when the layer has none) duration. A composition source that would make
    // a composition show itself, directly or through others, is refused: the
    // layer is left without a source and a line is logged.
    void setAVSource(AVSource* source);
    // With attach, looks the source up in the render context and attaches it
    // (none when the key is unknown).
    void setSourceID(const std::string& id, bool attach);
    std::string sourceID() const { return mSourceID; }
    AVSource* layerSource() const { return mSource; }
    // Whether the source shows the composition, directly or through any depth
    // of composition sources: a layer showing it must not go into that
    // composition.
    static bool showsComp(AVSource* source, const RenderComp* home);
    void removeSource();

    void setBlendMode(BlendMode mode);
    BlendMode blendMode() const { return mBlendMode; }
    void setMatteType(TrackMatteType type);
    TrackMatteType matteType() const { return mMatteType; }
    // The AV layer directly above this one when this layer has a matte type.
    RenderLayer* matteLayer() const;
    // True when this layer serves as the track matte of the layer below it.
    bool isMatteLayer() const;
    bool hasMask() const { return mMask != nullptr; }
    MaskRender* mask() const { return mMask; }

    // The source's texture without mask (the pass's source texture without a
    // source).
    unsigned int getPureSourceTexture();
    // The depth texture of the previous depth-peeling pass (0: none).
    void useOITLastDepthTexture(unsigned int texture);
    // Nearest (x) and farthest (y) distance of the layer's corners along the
    // camera's view direction; (largest float, -largest float) for a 2D layer
    // or without a camera.
    Vec2 getLimitDistanceToCamera();

    CompositeRenderPass* compositePass() const { return mCompositePass; }
    // The pass through which alone the next draw changes the composition's
    // target, when the layer takes the plain path: a 2D layer with a source
    // to show, neither an adjustment layer nor collapsed, nor a composition
    // drawing its own layers, drawn straight into that target. Null otherwise:
    // other paths clear, stencil, depth-test or copy whole targets.
    CompositeRenderPass* plainCompositePass();

protected:
    // The composition whose registry (sources, compositions) this layer uses:
    // itself for a composition, else its parent composition.
    RenderComp* registryComp() const;
    // The chain of a composition source shown by this layer leads back to
    // the composition the layer is in.
    bool wouldShowItself(AVSource* source) const;

private:
    void copyMaskFrom(const RenderAVLayer& other);
    void drawAdjustment(unsigned int texture, RenderComp* comp);
    void drawCollapsed(unsigned int texture, RenderComp* comp);
    void applyMatte(CompositeRenderPass* pass);
    void placeLayer(CompositeRenderPass* pass, RenderComp* comp);
    // The view of the camera's current place.
    static Mat4 cameraView(RenderCameraLayer* camera);

    AVSource* mSource = nullptr;
    std::string mSourceID;
    // The key of the attached source when it was attached, so the destructor
    // can ask the render context whether the source still exists.
    std::string mAttachedKey;
    BlendMode mBlendMode = BlendMode::Normal;
    TrackMatteType mMatteType = kNoTrackMatte;
    CompositeRenderPass* mCollapseCompositePass = nullptr;
    FullScreenRenderPass* mCopyPass = nullptr;
    // Copies the image below unchanged when the layer has nothing to show: the
    // composition cleared the target it draws into.
    FullScreenRenderPass* mKeepPass = nullptr;
    CompositeRenderPass* mCompositePass = nullptr;
    MaskRender* mMask = nullptr;

    // The matte found for the draw in progress.
    struct Matte {
        bool present = false;
        unsigned int texture = 0;
        Mat4 transform;
        Vec2 size;
    };
    Matte mMatte;
};

}  // namespace Core
}  // namespace Quorvane
